// Probes for tests on real folders: a second process that holds file locks, the files a
// listing opens (inotify), the peak memory of a piece of work, and running as a user
// that access rules apply to.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

// A second process that holds an exclusive lock on files until released.
class LockHolder {
public:
    explicit LockHolder(const std::filesystem::path& file)
        : LockHolder(std::vector<std::filesystem::path>{file}) {}
    explicit LockHolder(const std::vector<std::filesystem::path>& files) {
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            throw std::runtime_error("pipe failed");
        FPid = ::fork();
        if (FPid == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            char ok = '1';
            for (const std::filesystem::path& file : files) {
                const int fd = ::open(file.c_str(), O_RDONLY);
                if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
                    ok = '0';
            }
            (void)!::write(ready[1], &ok, 1);
            char c;
            (void)!::read(release[0], &c, 1); // returns when the parent closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        FRelease = release[1];
        char ok = '0';
        (void)!::read(ready[0], &ok, 1);
        ::close(ready[0]);
        if (ok != '1')
            throw std::runtime_error("the second process could not lock the file");
    }
    ~LockHolder() { Release(); }

    void Release() {
        if (FPid <= 0)
            return;
        ::close(FRelease);
        ::waitpid(FPid, nullptr, 0); // the lock is gone once the process has ended
        FPid = -1;
    }

private:
    pid_t FPid = -1;
    int FRelease = -1;
};

// The IN_OPEN events inotify reports for the files of one folder.
class OpenWatch {
public:
    explicit OpenWatch(const std::filesystem::path& folder) {
        FFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (FFd < 0 || ::inotify_add_watch(FFd, folder.c_str(), IN_OPEN) < 0)
            throw std::runtime_error("inotify failed");
    }
    ~OpenWatch() { ::close(FFd); }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;

    // Names of the files (not the folder itself) opened since the last call.
    std::vector<std::string> OpenedFiles() {
        std::vector<std::string> names;
        alignas(inotify_event) char buffer[65536];
        ssize_t n;
        while ((n = ::read(FFd, buffer, sizeof buffer)) > 0) {
            for (char* at = buffer; at < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if (event->len > 0 && !(event->mask & IN_ISDIR))
                    names.emplace_back(event->name);
                at += sizeof(inotify_event) + event->len;
            }
        }
        return names;
    }

private:
    int FFd = -1;
};

// Peak memory of this process while `body` runs, in KiB above what it held before.
inline long PeakGrowthKiB(const std::function<void()>& body) {
    auto field = [](const char* name) {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind(name, 0) == 0)
                return std::stol(line.substr(std::strlen(name)));
        return -1L;
    };
    {
        std::ofstream reset("/proc/self/clear_refs"); // "5": the peak starts again from now
        reset << "5";
    }
    const long before = field("VmRSS:");
    body();
    return field("VmHWM:") - before;
}

// Runs `body` as an unprivileged user when the tests run as root (root is never
// refused), returning what it printed.
inline std::string RunAsUnprivileged(const std::function<std::string()>& body) {
    if (::geteuid() != 0)
        return body();
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        std::string result = "could not drop privileges";
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0)
            result = body();
        (void)!::write(out[1], result.data(), result.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string result;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    return result;
}
