// The image record, the reasons a container file may be unreadable, and the folder
// search that turns a search text into the image files that belong to it.
#pragma once

#include "platform/Assertion.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

enum TLumivaneCantOpenReason : std::uint8_t {
    corNone = 0,    // no problem was met
    corLocked = 1,  // the file stayed locked by another process through all attempts
    corSecured = 2, // access was refused, or a link leads out of the sources: never open it
    corUnknown = 3, // reading failed for any other reason
};

// The only list of supported extensions in the system.
inline constexpr const char* SupportedImageExtensions = "*.tif;*.png;*.jpg;*.lva";
// Files a user opens without a host (a desktop passes them for the MIME types TIFF, PNG
// and JPEG) may also carry the long spellings; decoding goes by content, not by name.
inline constexpr const char* OpenedImageExtensions = "*.tif;*.tiff;*.png;*.jpg;*.jpeg;*.lva";

// The most a container file is read: a container names one image file, so 64 KiB is
// generous. A larger file is unreadable (corUnknown) and is never read whole.
inline constexpr std::size_t MaxContainerBytes = std::size_t{64} * 1024;

// One image file found by a search; a plain value.
class TLumivaneImage {
public:
    std::string Source; // the folder that was listed, ending with a path delimiter
    std::string Name;   // the file's name with its extension
    std::int32_t PageCount = 0;
    double TimeStamp = 0; // local last-write time as a day count since 1899-12-30
    std::string Path;     // Source combined with Name
    std::string Alias;    // a container file's content as UTF-8 text, once read

    // Resets the record to the empty image.
    void New();
    // An empty record stands for "no image" everywhere.
    bool IsEmpty() const { return Path.empty(); }
    // The part of Name before its first "~"; empty when Name holds no "~".
    std::string DisplayName() const;
    // Source combined with Name (a delimiter added only when Source lacks one; a rooted
    // Name wins).
    std::string FullFileName() const;
    // TimeStamp formatted with the user's month and day names. Format letters as the
    // host's tools write them: d dd ddd dddd, m mm mmm mmmm (minutes after h), yy yyyy,
    // h hh, n nn, s ss, z zzz, am/pm, a/p, text in quotes kept as it is.
    std::string FormattedTimeStamp(const std::string& AFormat) const;

    TLumivaneCantOpenReason CantOpenReason() const { return FCantOpenReason; }
    void SetCantOpenReason(TLumivaneCantOpenReason AValue) { FCantOpenReason = AValue; }

    // True for a container file (extension ".lva" in any case).
    bool IsContainer() const;
    // The search does not read containers: a locked one costs up to 600 ms of retries,
    // and a listing must never wait for that. True for a container whose text has not
    // been read yet; Alias is empty and the reason corNone until SetContainerText gives
    // the outcome of a read (ReadAliasText on a worker thread, or TContainerRead stepped
    // from an event loop, both on FullFileName()).
    bool ContainerPending() const { return IsContainer() && !FContainerRead; }
    // Alias and the reason from a finished container read; the record is no longer pending.
    void SetContainerText(TLumivaneCantOpenReason AReason, std::string AText);

private:
    TLumivaneCantOpenReason FCantOpenReason = corNone;
    bool FContainerRead = false;
};

// An ordered list of image records. The list returned by a search belongs to its caller.
class TLumivaneImageList {
public:
    virtual ~TLumivaneImageList() = default;

    int Count() const { return static_cast<int>(FItems.size()); }
    int Add(const TLumivaneImage& AItem);
    void Clear() { FItems.clear(); }
    const TLumivaneImage& operator[](int AIndex) const {
        return FItems.at(static_cast<std::size_t>(AIndex));
    }
    const std::vector<TLumivaneImage>& Items() const { return FItems; }
    // Moves the records out, leaving the list empty: hands a search's result on without
    // copying every record.
    std::vector<TLumivaneImage> TakeItems() { return std::exchange(FItems, {}); }

private:
    std::vector<TLumivaneImage> FItems;
};

// The search over the source folders' sub-folders.
//
// Links: a file is readable only when its real path (every link resolved) lies inside
// one of the sources' folders. A file or sub-folder link that leaves them is still
// listed, as corSecured, and must never be opened; links that stay inside work. Links
// that dangle or loop are not listed.
class TLumivaneImageListFolder : public TLumivaneImageList {
public:
    // For each source in order: its directory part combined with the sub-folder name the
    // pattern picks from ASearchString is searched for names beginning with
    // ASearchString. Records come grouped by source, then in natural order of the names;
    // nothing is de-duplicated. Containers are listed unread (ContainerPending). ASources
    // must not be null ("Sources not defined"). Throws std::invalid_argument for an unsafe
    // search text or sub-folder name (a path delimiter, a NUL character, "." or ".."), a
    // NUL in a source, a path too long, or an invalid mask; nothing is returned then.
    static std::unique_ptr<TLumivaneImageListFolder>
    GetList(const std::vector<std::string>* ASources, const std::string& ASearchString,
            const std::string& APattern, const std::string& ASupportedExtensions);

    // Appends the files of AFolderPath whose names begin with ASearchFilter (a mask) and
    // whose extension is one of ASupportedExtensions; returns Count afterwards, or 0 when
    // the folder does not exist. The link rule takes the sources of GetList; on a list
    // made otherwise, AFolderPath itself is the source.
    int SearchForFiles(const std::string& AFolderPath, const std::string& ASearchFilter,
                       bool AReset, const std::string& ASupportedExtensions);

private:
    std::vector<std::string> FSourceRoots; // real paths of the sources' folders
    bool FHasSources = false;
};

// The characters of ASearchText at the positions where APattern holds "*" (positions
// counted in UTF-16 code units); empty when APattern is longer than ASearchText.
std::string FolderNameFromPattern(const std::string& APattern, const std::string& ASearchText);

// A file time (100-ns ticks since 1601-01-01 UTC) as a local day count; 0 when the
// conversion fails.
double FileTimeToLocalDateTime(std::int64_t AFileTime);

// How ReadAliasText waits between tries; tests may pass their own.
struct TAliasReadPauses {
    std::function<void(int AMilliseconds)> Sleep; // empty: the real sleep
    std::function<int(int AMaxMilliseconds)>
        Random; // a whole number from 1 to the max; empty: random
};

// One container read, made a try at a time so that an event loop can wait between
// tries without blocking: open under an exclusive lock, read at most MaxContainerBytes,
// decode as UTF-8 (malformed bytes become U+FFFD). A file locked by another process is
// tried four times, with pauses of 1 to 100, 200 and 300 ms between the tries, then
// given up as corLocked; refused access is corSecured at once; any other failure, and a
// file larger than MaxContainerBytes, is corUnknown at once. Usable on any thread.
class TContainerRead {
public:
    explicit TContainerRead(std::string AFileName);

    // Makes the next try and returns 0 when the read has ended (Reason and Text hold
    // its outcome), otherwise the pause in milliseconds to wait before the next call.
    // ARandom picks the pause (a whole number from 1 to its argument); empty: random.
    int Try(const std::function<int(int AMaxMilliseconds)>& ARandom = {});

    bool Ended() const { return FEnded; }
    TLumivaneCantOpenReason Reason() const { return FReason; }
    const std::string& Text() const { return FText; }
    std::string TakeText() { return std::exchange(FText, {}); }

private:
    std::string FFileName;
    TLumivaneCantOpenReason FReason = corNone;
    std::string FText;
    int FWaited = 0;
    bool FEnded = false;
};

// Makes a whole TContainerRead, sleeping through its pauses: for a worker thread only.
// Failures never escape: AReason says what went wrong and AText stays empty.
void ReadAliasText(const std::string& AFileName, TLumivaneCantOpenReason& AReason,
                   std::string& AText, const TAliasReadPauses& APauses = {});

// True when the failure message holds the system's text for a file locked by another
// process / for refused access (plain, case-sensitive substring tests).
bool IsLockedError(const std::string& AMessage);
bool IsSecuredError(const std::string& AMessage);
