// File-system services the image search needs: directory existence, a non-recursive
// listing filtered by a case-insensitive mask, the exclusive whole-file read of a
// container file, and file times as local day counts. One backend per operating system
// (posix/, win32/); callers only see this interface.
#pragma once

#include "platform/FileMask.h"
#include "platform/Path.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace lvplatform {

// A file's time as the operating system keeps it: 100-nanosecond intervals since
// 1 January 1601 UTC (the Win32 FILETIME scale, so both backends share one type).
struct TFileTime {
    std::int64_t Ticks = 0;
};

// The platform's path delimiter, put between a folder and a name.
inline constexpr char PathDelimiter = '/';

// Position of the last character that ends the directory part of `path` (on POSIX the
// last "/"; on Windows also ":"), or std::string::npos when there is none.
std::size_t LastDirectoryDelimiter(std::string_view path);

// Longest path the platform accepts, in bytes of the native encoding.
std::size_t MaxPathLength();

// True when a directory exists at `path`; a link to a directory counts (it is followed).
bool DirectoryExists(const std::filesystem::path& path);

struct TFileEntry {
    std::string Name; // as the file system reports it
    TFileTime LastWriteTime;
    bool IsLink = false; // the entry itself is a symbolic link (to a regular file)
};

// The regular files directly inside `folder` (links followed; directories, special files
// and links that dangle or loop left out) whose names match `mask`, in natural order
// (ListingOrderLess). The mask's literal prefix is checked first on every entry; only
// entries that pass it are mask-matched, examined and sorted, so a large folder costs
// little more than reading it. A folder that cannot be listed yields no entries.
std::vector<TFileEntry> ListFiles(const std::filesystem::path& folder, const TFileMask& mask);

// Puts a listing in natural order (ListingOrderLess); names that tie differ only in case
// and are ordered by their bytes, so the folder's own order never shows through.
void SortListing(std::vector<TFileEntry>& entries);

// The path with every link, "." and ".." resolved, as an absolute path without a
// trailing delimiter; empty when it does not exist or cannot be resolved (a loop).
std::optional<std::string> RealPath(const std::filesystem::path& path);

// The result of reading a file under an exclusive open.
struct TExclusiveRead {
    enum TStage { rsDone, rsOpenFailed, rsReadFailed, rsTooLarge };
    TStage Stage = rsDone;
    std::string Bytes;   // the content when Stage is rsDone
    int ErrorCode = 0;   // the operating system's code for the failure
    std::string Message; // the operating system's text for ErrorCode, in the user's language
};

// Opens `path` for reading with no sharing allowed (on POSIX: open plus a non-blocking
// exclusive flock, so it fails while another process holds a lock on the file), reads
// it and closes it. At most maxBytes are kept: a longer file (or one that is not a
// regular file) ends as rsTooLarge (rsReadFailed) after reading no more than
// maxBytes + 1 bytes. Never throws for I/O failures; they are reported in the result.
TExclusiveRead ReadFileExclusive(const std::filesystem::path& path, std::size_t maxBytes);

// The operating system's texts, in the user's language, for the failures that mean
// "another process holds the file" and "access was refused", two each (POSIX:
// EWOULDBLOCK/EAGAIN and EACCES/EPERM; Win32: codes 32/33 and 5/65).
std::vector<std::string> LockedErrorTexts();
std::vector<std::string> SecuredErrorTexts();

// Puts `source` in the place of `target` in one step, so a reader sees the old file or the
// new one, never a part (POSIX: rename; Win32: MoveFileExW replacing and writing through).
// Both must be on one volume. Returns false with `error` set when it could not.
bool ReplaceFileAtomically(const std::filesystem::path& source, const std::filesystem::path& target,
                           std::error_code& error);

// A file time converted to local time and then to the day count (whole days since
// 30 December 1899, the fraction the time of day); empty when a conversion fails.
std::optional<double> FileTimeToLocalDayCount(TFileTime time);

} // namespace lvplatform
