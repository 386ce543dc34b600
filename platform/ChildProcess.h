// Starting another program and following it until it ends (the reference host starts the
// viewer this way). One backend per operating system (posix/, win32/).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lvplatform {

class IChildProcess {
public:
    virtual ~IChildProcess() = default;
    virtual long Id() const = 0;
    // How it ended ("status 0", "signal 15"), once it has; empty while it runs. Never waits.
    virtual std::optional<std::string> Ended() = 0;
    // Waits until it ends and says how.
    virtual std::string Wait() = 0;
    // Ends it from outside (POSIX: SIGTERM; Win32: TerminateProcess).
    virtual void Stop() = 0;
};

// Starts argv[0] (looked up on the PATH) with the rest as its arguments. Throws when it
// cannot be started.
std::unique_ptr<IChildProcess> StartChildProcess(const std::vector<std::string>& argv);

// The program's own arguments as UTF-8, argv[0] first (Win32: from the UTF-16 command
// line, since argv there is in the ANSI code page).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Requests to hold or resume a host's heartbeat from outside (POSIX: SIGUSR1 holds,
// SIGUSR2 resumes; Win32 has no such signals and never reports one). Call Watch once;
// Take returns the last request since the previous call: true = hold, false = resume.
void WatchPauseRequests();
std::optional<bool> TakePauseRequest();

} // namespace lvplatform
