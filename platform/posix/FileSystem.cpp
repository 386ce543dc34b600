// POSIX backend of the file-system services.
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <locale.h>
#include <numeric>
#include <wctype.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lvplatform {

namespace {

// 100-ns ticks between 1601-01-01 and 1970-01-01.
constexpr std::int64_t UnixEpochTicks = 116444736000000000LL;
constexpr std::int64_t TicksPerSecond = 10000000LL;

// Case tables do not depend on the user's locale: C.UTF-8 has the full Unicode mapping
// and is always present on glibc systems.
locale_t CaseLocale() {
    static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return loc;
}

// Error texts are shown in the user's language, like the rest of the messages.
locale_t MessageLocale() {
    static const locale_t loc = [] {
        locale_t l = newlocale(LC_MESSAGES_MASK, "", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_MESSAGES_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return loc;
}

std::string ErrorText(int code) {
    if (locale_t loc = MessageLocale())
        return strerror_l(code, loc);
    return std::strerror(code);
}

std::int64_t ToTicks(const struct timespec& ts) {
    return UnixEpochTicks + static_cast<std::int64_t>(ts.tv_sec) * TicksPerSecond +
           ts.tv_nsec / 100;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

} // namespace

char32_t UpperCase(char32_t c) {
    if (c < 0x80)
        return (c >= U'a' && c <= U'z') ? c - 32 : c;
    if (c >= 0xD800 && c <= 0xDFFF)
        return c; // escaped bytes and surrogates have no case
    if (locale_t loc = CaseLocale())
        return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), loc));
    return c;
}

std::size_t LastDirectoryDelimiter(std::string_view path) {
    return path.rfind(PathDelimiter);
}

std::size_t MaxPathLength() {
    return PATH_MAX - 1; // PATH_MAX counts the terminating zero
}

bool DirectoryExists(const std::filesystem::path& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<TFileEntry> ListFiles(const std::filesystem::path& folder, const TFileMask& mask) {
    std::vector<TFileEntry> found;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return found;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        // The prefix test comes first: in a folder of many identifiers nearly every
        // entry fails it, and nothing else is spent on those.
        if (!mask.MatchesPrefix(entry->d_name))
            continue;
        const std::string_view name(entry->d_name);
        if (entry->d_type == DT_DIR || name == "." || name == "..")
            continue;
        if (!mask.Matches(name))
            continue;
        bool isLink = entry->d_type == DT_LNK;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat own {};
            isLink = ::fstatat(dirFd, entry->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 &&
                     S_ISLNK(own.st_mode);
        }
        struct stat st {};
        // Links are followed; an entry that vanished, dangles or loops is not a file to show.
        if (::fstatat(dirFd, entry->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        found.push_back({std::string(name), TFileTime{ToTicks(st.st_mtim)}, isLink});
    }
    ::closedir(dir);

    SortListing(found);
    return found;
}

std::optional<std::string> RealPath(const std::filesystem::path& path) {
    if (path.empty())
        return std::nullopt;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::nullopt;
    std::string result(resolved);
    std::free(resolved);
    return result;
}

TExclusiveRead ReadFileExclusive(const std::filesystem::path& path, std::size_t maxBytes) {
    TExclusiveRead result;
    auto fail = [&](TExclusiveRead::TStage stage, int code) {
        result.Stage = stage;
        result.ErrorCode = code;
        result.Message = ErrorText(code);
        result.Bytes.clear();
        return result;
    };
    // O_NONBLOCK: opening a FIFO that happens to carry the extension must not hang.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return fail(TExclusiveRead::rsOpenFailed, errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(TExclusiveRead::rsOpenFailed, code);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(TExclusiveRead::rsReadFailed, code);
    }
    if (!S_ISREG(st.st_mode)) {
        // A FIFO or device carrying the name: it has no content to read as a file's.
        ::close(fd);
        return fail(TExclusiveRead::rsReadFailed, EINVAL);
    }
    if (st.st_size > 0 && static_cast<std::uintmax_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return fail(TExclusiveRead::rsTooLarge, EFBIG);
    }
    // The size may change while reading: never keep more than maxBytes, and read one byte
    // past it only to learn that the file is longer.
    result.Bytes.reserve(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)));
    char buffer[16384];
    for (;;) {
        const std::size_t room = maxBytes + 1 - result.Bytes.size();
        const ssize_t n = ::read(fd, buffer, std::min(room, sizeof buffer));
        if (n > 0) {
            result.Bytes.append(buffer, static_cast<std::size_t>(n));
            if (result.Bytes.size() > maxBytes) {
                ::close(fd);
                return fail(TExclusiveRead::rsTooLarge, EFBIG);
            }
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            const int code = errno;
            ::close(fd);
            return fail(TExclusiveRead::rsReadFailed, code);
        }
    }
    ::close(fd); // also releases the lock
    return result;
}

std::vector<std::string> LockedErrorTexts() {
    return {ErrorText(EWOULDBLOCK), ErrorText(EAGAIN)};
}

std::vector<std::string> SecuredErrorTexts() {
    return {ErrorText(EACCES), ErrorText(EPERM)};
}

bool ReplaceFileAtomically(const std::filesystem::path& source, const std::filesystem::path& target,
                           std::error_code& error) {
    if (::rename(source.c_str(), target.c_str()) != 0) {
        error.assign(errno, std::generic_category());
        return false;
    }
    error.clear();
    return true;
}

std::optional<double> FileTimeToLocalDayCount(TFileTime time) {
    const std::int64_t sinceEpoch = time.Ticks - UnixEpochTicks;
    std::int64_t seconds = sinceEpoch / TicksPerSecond;
    std::int64_t rest = sinceEpoch % TicksPerSecond;
    if (rest < 0) {
        rest += TicksPerSecond;
        --seconds;
    }
    const auto t = static_cast<std::time_t>(seconds);
    if (static_cast<std::int64_t>(t) != seconds)
        return std::nullopt;
    struct tm local {};
    if (!::localtime_r(&t, &local))
        return std::nullopt;
    const std::int64_t days = DaysFromCivil(static_cast<std::int64_t>(local.tm_year) + 1900,
                                            static_cast<unsigned>(local.tm_mon + 1),
                                            static_cast<unsigned>(local.tm_mday)) -
                              DaysFromCivil(1899, 12, 30);
    const std::int64_t wholeMilliseconds = rest / 10000; // the record keeps whole ms
    const double milliseconds = static_cast<double>(wholeMilliseconds);
    const double dayFraction =
        (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + milliseconds / 1000.0) /
        86400.0;
    // Before 1899-12-30 the day count is negative while the fraction still counts forward.
    return days >= 0 ? static_cast<double>(days) + dayFraction
                     : static_cast<double>(days) - dayFraction;
}

} // namespace lvplatform
