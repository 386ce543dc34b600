// lumivane-host serve: what a terminal host does for one console window. Creates the
// block, writes the host's fields, keeps the host heartbeat moving and optionally starts
// the viewer; the heartbeat can be paused so tests can play a host that has gone away.
#include "HostBlock.h"
#include "HostCommand.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace lvhost {
namespace {

volatile sig_atomic_t gStop = 0;
volatile sig_atomic_t gPaused = 0;

extern "C" void OnSignal(int signal) {
    if (signal == SIGUSR1)
        gPaused = 1;
    else if (signal == SIGUSR2)
        gPaused = 0;
    else
        gStop = 1;
}

void InstallHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2})
        sigaction(s, &sa, nullptr);
}

const char* kUsage =
    "usage: lumivane-host serve NAME [options] [--viewer PATH [ARGS...]]\n"
    "\n"
    "Creates the control block NAME (4096 bytes, /dev/shm/NAME), writes the given fields,\n"
    "then advances the host heartbeat (offset 4) every 100 ms until SIGINT or SIGTERM, and\n"
    "removes the block on exit. Prints 'ready NAME' once the block is written.\n"
    "\n"
    "options:\n"
    "%s"
    "  --interval MS          heartbeat period (default 100)\n"
    "  --pause-file PATH      the heartbeat stands still while PATH exists\n"
    "  --keep                 leave the block in place on exit\n"
    "  --exit-with-viewer     stop serving when the started viewer ends\n"
    "  --viewer PATH [ARGS]   start PATH NAME [ARGS...] (the rest of the line); on exit an\n"
    "                         still running viewer gets vcTerminate, then SIGTERM\n"
    "\n"
    "signals: SIGUSR1 pauses the heartbeat, SIGUSR2 resumes it.\n";

pid_t StartViewer(const std::vector<std::string>& command, const std::string& name) {
    std::vector<std::string> argv{command[0], name};
    argv.insert(argv.end(), command.begin() + 1, command.end());
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("cannot start the viewer");
    if (pid == 0) {
        std::vector<char*> raw;
        for (auto& a : argv)
            raw.push_back(a.data());
        raw.push_back(nullptr);
        execvp(raw[0], raw.data());
        std::fprintf(stderr, "lumivane-host serve: cannot run %s\n", raw[0]);
        _exit(127);
    }
    return pid;
}

std::string ExitText(int status) {
    if (WIFEXITED(status))
        return "status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "raw status " + std::to_string(status);
}

// Asks a still running viewer to end the way a host does, then insists.
void EndViewer(HostBlock& block, pid_t pid) {
    block.SetCommand(vcTerminate);
    int status = 0;
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::printf("viewer exited with %s\n", ExitText(status).c_str());
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGTERM);
    waitpid(pid, &status, 0);
    std::printf("viewer stopped with %s\n", ExitText(status).c_str());
}

int RunServe(const Args& args) {
    if (WantsHelp(args)) {
        std::printf(kUsage, kHostFieldHelp);
        return 0;
    }
    std::string name;
    HostFieldOptions fields;
    long intervalMs = 100;
    std::string pauseFile;
    bool keep = false;
    bool exitWithViewer = false;
    std::vector<std::string> viewer;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (TakeHostFieldOption(args, i, fields))
            continue;
        if (auto v = OptionValue(args, i, "--interval"))
            intervalMs = ParseNumber(*v, 1, 60000, "--interval");
        else if (auto p = OptionValue(args, i, "--pause-file"))
            pauseFile = *p;
        else if (args[i] == "--keep")
            keep = true;
        else if (args[i] == "--exit-with-viewer")
            exitWithViewer = true;
        else if (args[i] == "--viewer") {
            viewer.assign(args.begin() + static_cast<long>(i) + 1, args.end());
            if (viewer.empty())
                throw std::runtime_error("--viewer needs a program");
            break;
        } else if (!args[i].empty() && args[i][0] == '-')
            throw std::runtime_error("unknown option '" + args[i] + "'");
        else if (name.empty())
            name = args[i];
        else
            throw std::runtime_error("unexpected argument '" + args[i] + "'");
    }
    if (name.empty()) {
        std::fprintf(stderr, kUsage, kHostFieldHelp);
        return 2;
    }

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    InstallHandlers();
    HostBlock block = HostBlock::Create(name);
    // A block left behind by an earlier host must not leak its state into this one.
    block.Clear();
    try {
        ApplyHostFields(block, fields);
    } catch (...) {
        if (!keep)
            lvplatform::RemoveSharedMemory(name);
        throw;
    }
    std::printf("ready %s\n", name.c_str());

    pid_t viewerPid = viewer.empty() ? -1 : StartViewer(viewer, name);
    if (viewerPid > 0)
        std::printf("viewer started, pid %d\n", static_cast<int>(viewerPid));

    bool paused = false;
    while (!gStop) {
        bool pause = gPaused || (!pauseFile.empty() && std::filesystem::exists(pauseFile));
        if (pause != paused) {
            paused = pause;
            if (paused)
                std::printf("heartbeat paused at %u\n", block.Byte(lvcontrol::kCommandHeartBeat));
            else
                std::printf("heartbeat resumed\n");
        }
        // Another process may shrink or replace the block; the beat goes on in whatever
        // the name stands for, and is dropped while the block is short.
        const auto refreshed = block.Refresh();
        const std::string change = ChangeText(refreshed, block.IsWhole());
        if (!change.empty())
            std::printf("%s\n", change.c_str());
        if (!paused)
            block.AdvanceHeartBeat();
        if (viewerPid > 0) {
            int status = 0;
            if (waitpid(viewerPid, &status, WNOHANG) == viewerPid) {
                std::printf("viewer exited with %s\n", ExitText(status).c_str());
                viewerPid = -1;
                if (exitWithViewer)
                    break;
            }
        }
        // A signal cuts the sleep short, so stopping and pausing take effect at once.
        struct timespec ts {
            intervalMs / 1000, (intervalMs % 1000) * 1000000L
        };
        nanosleep(&ts, nullptr);
    }
    if (viewerPid > 0)
        EndViewer(block, viewerPid);
    if (!keep) {
        lvplatform::RemoveSharedMemory(name);
        std::printf("removed %s\n", name.c_str());
    }
    return 0;
}

HostCommandRegistrar registrar{
    {"serve", "create a block, write its host fields and beat its heartbeat", &RunServe}};

} // namespace
} // namespace lvhost
