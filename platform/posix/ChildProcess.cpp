#include "platform/ChildProcess.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>

namespace lvplatform {
namespace {

std::string ExitText(int status) {
    if (WIFEXITED(status))
        return "status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "raw status " + std::to_string(status);
}

class PosixChild final : public IChildProcess {
public:
    explicit PosixChild(pid_t pid) : FPid(pid) {}
    long Id() const override { return FPid; }
    std::optional<std::string> Ended() override {
        if (FEnded)
            return FEnded;
        int status = 0;
        if (waitpid(FPid, &status, WNOHANG) == FPid)
            FEnded = ExitText(status);
        return FEnded;
    }
    std::string Wait() override {
        if (FEnded)
            return *FEnded;
        int status = 0;
        while (waitpid(FPid, &status, 0) != FPid) {
        }
        FEnded = ExitText(status);
        return *FEnded;
    }
    void Stop() override {
        if (!FEnded)
            kill(FPid, SIGTERM);
    }

private:
    pid_t FPid;
    std::optional<std::string> FEnded;
};

std::atomic<int> gPauseRequest{0}; // 0 none, 1 hold, 2 resume

extern "C" void OnPauseSignal(int signal) {
    gPauseRequest.store(signal == SIGUSR1 ? 1 : 2);
}

} // namespace

std::unique_ptr<IChildProcess> StartChildProcess(const std::vector<std::string>& argv) {
    if (argv.empty())
        throw std::invalid_argument("no program to start");
    std::vector<std::string> copy = argv;
    std::vector<char*> raw;
    raw.reserve(copy.size() + 1);
    for (auto& a : copy)
        raw.push_back(a.data());
    raw.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("cannot start " + argv[0]);
    if (pid == 0) {
        execvp(raw[0], raw.data());
        std::fprintf(stderr, "cannot run %s\n", raw[0]);
        _exit(127);
    }
    return std::make_unique<PosixChild>(pid);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void WatchPauseRequests() {
    struct sigaction sa {};
    sa.sa_handler = OnPauseSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGUSR1, &sa, nullptr);
    sigaction(SIGUSR2, &sa, nullptr);
}

std::optional<bool> TakePauseRequest() {
    const int request = gPauseRequest.exchange(0);
    if (request == 0)
        return std::nullopt;
    return request == 1;
}

} // namespace lvplatform
