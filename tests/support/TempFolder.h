// A real folder tree for one test, made under the system's temporary folder and
// removed with its contents afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

// Seconds since 1970 of a local wall-clock time, so expected stamps hold in any time zone.
inline long long LocalUnixSeconds(int year, int month, int day, int hour, int minute) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_isdst = -1;
    return static_cast<long long>(::mktime(&t));
}

class TempFolder {
public:
    TempFolder() {
        std::string templ = (std::filesystem::temp_directory_path() / "lv-test-XXXXXX").string();
        if (!::mkdtemp(templ.data()))
            throw std::runtime_error("mkdtemp failed");
        // Readable by everyone: one test reads as an unprivileged user.
        std::filesystem::permissions(templ, std::filesystem::perms(0755));
        FRoot = templ;
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(FRoot, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Root() const { return FRoot; }
    // Root as a source string, with the trailing delimiter the host normally writes.
    std::string Source(const std::string& sub = "") const {
        return (FRoot / sub).string() + (sub.empty() ? "" : "/");
    }

    std::filesystem::path Dir(const std::string& rel) const {
        std::filesystem::create_directories(FRoot / rel);
        std::filesystem::permissions(FRoot / rel, std::filesystem::perms(0755));
        return FRoot / rel;
    }

    // Writes a file; with unixSeconds >= 0 also sets its last-write time.
    std::filesystem::path File(const std::string& rel, const std::string& content = "x",
                               long long unixSeconds = -1) const {
        const std::filesystem::path p = FRoot / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        if (unixSeconds >= 0) {
            struct timespec times[2] = {{static_cast<time_t>(unixSeconds), 0},
                                        {static_cast<time_t>(unixSeconds), 0}};
            ::utimensat(AT_FDCWD, p.c_str(), times, 0);
        }
        return p;
    }

private:
    std::filesystem::path FRoot;
};
