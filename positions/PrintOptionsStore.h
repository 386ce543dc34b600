// The last printer and print options chosen, remembered per host connection in one small
// file beside the placement files, so the print dialog opens as the user left it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// Which pages a job prints.
enum TPrintPages : std::uint8_t {
    ppShownPage = 0, // the page shown
    ppFilePages = 1, // every page of the file shown
    ppListFiles = 2, // every page of every file of the list, in list order
};

// How big a page comes out.
enum TPrintSize : std::uint8_t {
    psFitWidth = 0,   // the printable width, proportions kept
    psFitPage = 1,    // the whole printable area, proportions kept
    psActualSize = 2, // the scan's own resolution
};

// Which way the sheet is turned.
enum TPrintOrientation : std::uint8_t {
    poAutomatic = 0, // landscape for a page wider than tall after turning
    poPrinter = 1,   // as the printer settings say
};

struct TPrintOptions {
    std::string PrinterName; // empty: the system's default printer
    TPrintPages Pages = ppShownPage;
    TPrintSize Size = psFitWidth;
    bool AsShown = true; // turned as on screen, else as stored
    TPrintOrientation Orientation = poAutomatic;
    std::string PdfFolder; // where the last PDF was saved; empty: none yet
    friend bool operator==(const TPrintOptions&, const TPrintOptions&) = default;
};

class TPrintOptionsStore {
public:
    static constexpr std::size_t MaxFileSize = std::size_t{64} * 1024;

    // AFolder is the placement folder (lvpositions::PlacementFolder); the file is named as
    // lvpositions::ConnectionFile names it (the empty name has "TrackedForms").
    TPrintOptionsStore(const std::filesystem::path& AFolder, const std::string& AConnectionName);

    // The options last saved for the connection; empty when none were or the file cannot
    // be read as ours. Members missing or of an unknown value keep their defaults.
    std::optional<TPrintOptions> Load() const;
    // Replaces the file as a whole; false when it cannot be written.
    bool Save(const TPrintOptions& AOptions) const;

    const std::filesystem::path& FileName() const { return FFileName; }

private:
    std::filesystem::path FFileName;
};
