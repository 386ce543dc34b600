// Win32 backend of the file-system services: FindFirstFileW for listings, CreateFileW
// with no sharing for the exclusive read, FILETIME for file times. Paths cross the API
// as UTF-16; names come back as UTF-8.
#include "platform/FileSystem.h"
#include "platform/win32/WideText.h"

#include <windows.h>

#include <algorithm>
#include <numeric>

namespace lvplatform {

using win32::Narrow;
using win32::SystemErrorText;

namespace {

std::int64_t Ticks(const FILETIME& t) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                     t.dwLowDateTime);
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

struct THandle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~THandle() {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};

} // namespace

char32_t UpperCase(char32_t c) {
    if (c < 0x80)
        return (c >= U'a' && c <= U'z') ? c - 32 : c;
    if (c >= 0xD800 && c <= 0xDFFF)
        return c;
    // The system's own case table, as the file system compares names.
    wchar_t units[2];
    int count = 1;
    if (c >= 0x10000) {
        const char32_t v = c - 0x10000;
        units[0] = static_cast<wchar_t>(0xD800 + (v >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + (v & 0x3FF));
        count = 2;
    } else {
        units[0] = static_cast<wchar_t>(c);
    }
    wchar_t upper[2] = {};
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, units, count, upper, 2, nullptr,
                      nullptr, 0) != count)
        return c;
    if (count == 2)
        return 0x10000 + ((static_cast<char32_t>(upper[0]) - 0xD800) << 10) +
               (static_cast<char32_t>(upper[1]) - 0xDC00);
    return upper[0];
}

std::size_t LastDirectoryDelimiter(std::string_view path) {
    return path.find_last_of("\\/:");
}

std::size_t MaxPathLength() {
    return MAX_PATH - 1;
}

bool DirectoryExists(const std::filesystem::path& path) {
    if (path.empty())
        return false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<TFileEntry> ListFiles(const std::filesystem::path& folder, const TFileMask& mask) {
    std::vector<TFileEntry> found;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileExW((folder / L"*").c_str(), FindExInfoBasic, &data,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE)
        return found;
    do {
        if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
            continue;
        const std::string name = Narrow(data.cFileName);
        if (!mask.MatchesPrefix(name) || !mask.Matches(name))
            continue;
        const bool isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        found.push_back({name, TFileTime{Ticks(data.ftLastWriteTime)}, isLink});
    } while (FindNextFileW(find, &data));
    FindClose(find);

    SortListing(found);
    return found;
}

std::optional<std::string> RealPath(const std::filesystem::path& path) {
    if (path.empty())
        return std::nullopt;
    THandle file;
    file.h = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file.h == INVALID_HANDLE_VALUE)
        return std::nullopt;
    wchar_t buffer[32768];
    const DWORD n = GetFinalPathNameByHandleW(file.h, buffer, 32768, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= 32768)
        return std::nullopt;
    std::wstring result(buffer, n);
    // The long-path prefix is the system's, not part of the path the user knows.
    if (result.rfind(L"\\\\?\\UNC\\", 0) == 0)
        result = L"\\\\" + result.substr(8);
    else if (result.rfind(L"\\\\?\\", 0) == 0)
        result = result.substr(4);
    while (result.size() > 3 && (result.back() == L'\\' || result.back() == L'/'))
        result.pop_back();
    return Narrow(result);
}

TExclusiveRead ReadFileExclusive(const std::filesystem::path& path, std::size_t maxBytes) {
    TExclusiveRead result;
    auto fail = [&](TExclusiveRead::TStage stage, DWORD code) {
        result.Stage = stage;
        result.ErrorCode = static_cast<int>(code);
        result.Message = SystemErrorText(code);
        result.Bytes.clear();
        return result;
    };
    // No sharing: a file another process holds open fails with a sharing violation (32).
    THandle file;
    file.h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.h == INVALID_HANDLE_VALUE)
        return fail(TExclusiveRead::rsOpenFailed, GetLastError());
    if (GetFileType(file.h) != FILE_TYPE_DISK)
        return fail(TExclusiveRead::rsReadFailed, ERROR_INVALID_FUNCTION);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.h, &size))
        return fail(TExclusiveRead::rsReadFailed, GetLastError());
    if (static_cast<std::uint64_t>(size.QuadPart) > maxBytes)
        return fail(TExclusiveRead::rsTooLarge, ERROR_FILE_TOO_LARGE);
    result.Bytes.reserve(static_cast<std::size_t>(size.QuadPart));
    char buffer[16384];
    for (;;) {
        const std::size_t room = maxBytes + 1 - result.Bytes.size();
        DWORD n = 0;
        if (!ReadFile(file.h, buffer, static_cast<DWORD>(std::min(room, sizeof buffer)), &n,
                      nullptr))
            return fail(TExclusiveRead::rsReadFailed, GetLastError());
        if (n == 0)
            break;
        result.Bytes.append(buffer, n);
        if (result.Bytes.size() > maxBytes)
            return fail(TExclusiveRead::rsTooLarge, ERROR_FILE_TOO_LARGE);
    }
    return result;
}

std::vector<std::string> LockedErrorTexts() {
    return {SystemErrorText(ERROR_SHARING_VIOLATION), SystemErrorText(ERROR_LOCK_VIOLATION)};
}

std::vector<std::string> SecuredErrorTexts() {
    return {SystemErrorText(ERROR_ACCESS_DENIED), SystemErrorText(ERROR_NETWORK_ACCESS_DENIED)};
}

bool ReplaceFileAtomically(const std::filesystem::path& source, const std::filesystem::path& target,
                           std::error_code& error) {
    // Written through: the placement survives a power cut right after the save.
    if (!MoveFileExW(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error.assign(static_cast<int>(GetLastError()), std::system_category());
        return false;
    }
    error.clear();
    return true;
}

std::optional<double> FileTimeToLocalDayCount(TFileTime time) {
    if (time.Ticks < 0)
        return std::nullopt;
    FILETIME utc{};
    utc.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(time.Ticks) & 0xFFFFFFFFu);
    utc.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(time.Ticks) >> 32);
    SYSTEMTIME universal{}, local{};
    if (!FileTimeToSystemTime(&utc, &universal) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return std::nullopt;
    const std::int64_t days =
        DaysFromCivil(local.wYear, local.wMonth, local.wDay) - DaysFromCivil(1899, 12, 30);
    const double dayFraction = (local.wHour * 3600.0 + local.wMinute * 60.0 + local.wSecond +
                                local.wMilliseconds / 1000.0) /
                               86400.0;
    return days >= 0 ? static_cast<double>(days) + dayFraction
                     : static_cast<double>(days) - dayFraction;
}

} // namespace lvplatform
