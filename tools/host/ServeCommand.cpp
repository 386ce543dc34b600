// lumivane-host serve: what a terminal host does for one console window. Creates the
// block, writes the host's fields, keeps the host heartbeat moving and optionally starts
// the viewer; the heartbeat can be paused so tests can play a host that has gone away.
#include "HostBlock.h"
#include "HostCommand.h"

#include "platform/ChildProcess.h"
#include "platform/EndRequests.h"
#include "platform/Path.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>

namespace lvhost {
namespace {

// What stands for the block, ends the host and pauses its heartbeat differs by system.
#ifdef _WIN32
const char* kBlockText = "the named file mapping NAME on the paging file";
const char* kEndText = "Ctrl+C, Ctrl+Break or the console's closing";
const char* kRemoveText = "drops its handle on exit (Windows removes the mapping with the\n"
                          "last handle)";
const char* kStopText = "then ends the process";
const char* kKeepText = "no effect: the mapping goes with its last handle";
const char* kPauseText = "Windows has no pause signals: use --pause-file.\n";
#else
const char* kBlockText = "/dev/shm/NAME";
const char* kEndText = "SIGINT or SIGTERM";
const char* kRemoveText = "removes the block on exit";
const char* kStopText = "then SIGTERM";
const char* kKeepText = "leave the block in place on exit";
const char* kPauseText = "signals: SIGUSR1 pauses the heartbeat, SIGUSR2 resumes it.\n";
#endif

void PrintUsage(FILE* AOut) {
    std::fprintf(
        AOut,
        "usage: lumivane-host serve NAME [options] [--viewer PATH [ARGS...]]\n"
        "\n"
        "Creates the control block NAME (4096 bytes, %s),\n"
        "writes the given fields, then advances the host heartbeat (offset 4) every 100 ms\n"
        "until %s, and %s.\n"
        "Prints 'ready NAME' once the block is written.\n"
        "\n"
        "options:\n"
        "%s"
        "  --interval MS          heartbeat period (default 100)\n"
        "  --pause-file PATH      the heartbeat stands still while PATH exists\n"
        "  --keep                 %s\n"
        "  --exit-with-viewer     stop serving when the started viewer ends\n"
        "  --viewer PATH [ARGS]   start PATH NAME [ARGS...] (the rest of the line); on exit an\n"
        "                         still running viewer gets vcTerminate, %s\n"
        "\n"
        "%s",
        kBlockText, kEndText, kRemoveText, kHostFieldHelp, kKeepText, kStopText, kPauseText);
}

std::unique_ptr<lvplatform::IChildProcess> StartViewer(const std::vector<std::string>& command,
                                                       const std::string& name) {
    std::vector<std::string> argv{command[0], name};
    argv.insert(argv.end(), command.begin() + 1, command.end());
    return lvplatform::StartChildProcess(argv);
}

// Asks a still running viewer to end the way a host does, then insists.
void EndViewer(HostBlock& block, lvplatform::IChildProcess& viewer) {
    block.SetCommand(vcTerminate);
    for (int i = 0; i < 50; ++i) {
        if (auto ended = viewer.Ended()) {
            std::printf("viewer exited with %s\n", ended->c_str());
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    viewer.Stop();
    std::printf("viewer stopped with %s\n", viewer.Wait().c_str());
}

// Sleeps up to AMs, cut short by an end request (true then) or a pause request.
bool SleepUnlessEnded(long AMs, bool& APaused) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMs);
    for (;;) {
        if (lvplatform::TakeEndRequest() != 0)
            return true;
        if (auto pause = lvplatform::TakePauseRequest()) {
            APaused = *pause;
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
            return false;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - now, std::chrono::milliseconds(5)));
    }
}

int RunServe(const Args& args) {
    if (WantsHelp(args)) {
        PrintUsage(stdout);
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
        PrintUsage(stderr);
        return 2;
    }

    // Unbuffered: each line reaches a pipe at once (Windows' C runtime has no line buffering).
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    lvplatform::WatchEndRequests();
    lvplatform::WatchPauseRequests();
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

    std::unique_ptr<lvplatform::IChildProcess> viewerProcess;
    if (!viewer.empty()) {
        viewerProcess = StartViewer(viewer, name);
        std::printf("viewer started, pid %ld\n", viewerProcess->Id());
    }

    bool paused = false;
    bool pausedBySignal = false;
    for (;;) {
        bool pause = pausedBySignal || (!pauseFile.empty() &&
                                        std::filesystem::exists(lvplatform::Utf8Path(pauseFile)));
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
        if (viewerProcess) {
            if (auto ended = viewerProcess->Ended()) {
                std::printf("viewer exited with %s\n", ended->c_str());
                viewerProcess.reset();
                if (exitWithViewer)
                    break;
            }
        }
        // An end or pause request cuts the sleep short, so it takes effect at once.
        if (SleepUnlessEnded(intervalMs, pausedBySignal))
            break;
    }
    if (viewerProcess)
        EndViewer(block, *viewerProcess);
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
