#include "platform/FolderWindow.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <thread>

extern char** environ;

namespace lvplatform {

bool ExploreFolder(const std::filesystem::path& AFolder) {
    std::error_code ec;
    if (AFolder.empty() || !std::filesystem::is_directory(AFolder, ec))
        return false;
    std::string program = "xdg-open";
    std::string folder = AFolder.string();
    char* argv[] = {program.data(), folder.data(), nullptr};
    // The file manager outlives us: it gets none of our descriptors (the X connection, the
    // block, pipes), whatever their close-on-exec flag says.
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = 0;
    // posix_spawnp reports a program missing from the PATH as its own error.
    const int spawned = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    // xdg-open may stay until the file manager closes: reaped on the side, never waited for.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

} // namespace lvplatform
