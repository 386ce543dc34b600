// The quarter turns the user gave to files, remembered per host connection in one small
// file beside the placement files, so a page comes back turned the same way when its file
// is shown again, also after a restart. A file is known by its path, size and
// modification time: a scan replaced under the same name starts upright. The image files
// themselves are never written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

// A file as the store knows it.
struct TFileIdentity {
    std::string Path;
    std::uintmax_t Size = 0;
    std::int64_t ModifiedNanoseconds = 0; // modification time, nanoseconds of the file clock
    friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

class TTurnStore {
public:
    // Only the most recently turned files are kept.
    static constexpr std::size_t MaxFiles = 10000;
    // The store's file is written below this size (oldest entries dropped) and a longer
    // one is not read.
    static constexpr std::size_t MaxFileSize = std::size_t{4} * 1024 * 1024;

    // AFolder is the placement folder (lvpositions::PlacementFolder); the file is named as
    // lvpositions::ConnectionFile names it (the empty name has "TrackedForms").
    TTurnStore(const std::filesystem::path& AFolder, const std::string& AConnectionName);

    // The identity of the file at APath as it is now; empty when it cannot be examined.
    static std::optional<TFileIdentity> IdentityOf(const std::filesystem::path& APath);

    // Quarter turns to the right, 0 to 3, remembered for the file; 0 when none is, when the
    // file changed since, or when the store cannot be read.
    int QuarterTurns(const std::filesystem::path& APath);
    int QuarterTurns(const TFileIdentity& AFile);

    // Remembers ATurns (taken modulo 4, so -1 is 3) for the file as it is now and writes
    // the store; 0 forgets the file. Returns false when the file cannot be examined or the
    // store cannot be written (the turn is then still remembered by this object).
    bool SetQuarterTurns(const std::filesystem::path& APath, int ATurns);
    bool SetQuarterTurns(const TFileIdentity& AFile, int ATurns);

    const std::filesystem::path& FileName() const { return FFileName; }

private:
    struct TEntry {
        TFileIdentity File;
        int Turns = 0;
        std::string Line; // the entry as the file holds it, so a write only joins lines
    };
    using TEntries = std::list<TEntry>; // oldest first

    void EnsureLoaded();
    void Load();
    bool Write() const;

    std::filesystem::path FFileName;
    std::mutex FLock;
    bool FLoaded = false;
    TEntries FEntries;
    std::unordered_map<std::string, TEntries::iterator> FByPath; // one entry per path
};
