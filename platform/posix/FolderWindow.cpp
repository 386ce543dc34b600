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
    pid_t pid = 0;
    // posix_spawnp reports a program missing from the PATH as its own error.
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0)
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
