// Which file a connection's placement goes to: distinct names never share a file (two
// hosts would overwrite each other's placement), every file stays inside the placement
// folder, and no part of a path is longer than a file name may be.
#include "controlfile/ImageViewer.ControlFile.h"
#include "platform/Utf8.h"
#include "positions/PrintOptionsStore.h"
#include "positions/ScreenPositionTracker.h"
#include "positions/TurnStore.h"
#include "tests/support/HostBlock.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path Data = "/data";
const fs::path Folder = Data / "Lumivane" / "screen";

fs::path FileOf(const std::string& name) {
    return TPositionTracker::Create(name)->FileName(Data, "Lumivane", "LumivaneViewerForm");
}

// The file's path below the placement folder, as text.
std::string Below(const fs::path& file) {
    return file.lexically_relative(Folder).generic_string();
}

// Names built to hit the faults a mapping like this has: escapes that look like
// characters, lengths around the cut, long names that share their start, and names made of
// another name's file name.
std::vector<std::string> GeneratedNames(std::size_t count, std::uint32_t seed) {
    std::mt19937 rng(seed);
    const std::vector<std::string> atoms = {
        "a",
        "B",
        "0",
        "9",
        "F",
        "%",
        "%2",
        "%25",
        "%2F",
        "~",
        ".",
        "..",
        "/",
        "\\",
        ":",
        "*",
        "?",
        "\"",
        "<",
        "|",
        " ",
        "\n",
        "\x7F",
        "\x01",
        "\xC3\xA9",         // é
        "\xE2\x82\xAC",     // €
        "\xF0\x9F\x98\x80", // an astral character
        "\x80",
        "\xFF",
        "\xC3",         // bytes that are no UTF-8
        "\xFC",         // Latin-1 ü
        "\xF6",         // Latin-1 ö
        "\xEF\xBF\xBD", // U+FFFD itself, what a decoder makes of the two above
        "\xED\xA0\x80", // an encoded surrogate
        "\xC0\xAF",     // an overlong '/'
        "TrackedForms",
    };
    std::uniform_int_distribution<std::size_t> atom(0, atoms.size() - 1);
    // Every other name holds only characters a file name keeps as they are, as most real
    // connection names do.
    std::uniform_int_distribution<std::size_t> plainAtom(0, 4);
    const std::vector<std::string> plainAtoms = {"a", "B", "0", "~", "."};
    // Most names near the lengths where one file name ends and the next piece begins.
    const std::vector<std::size_t> lengths = {0,   1,   2,   60,  150, 166, 167, 168, 178, 179, 180,
                                              181, 182, 183, 200, 255, 256, 359, 360, 361, 400};
    std::uniform_int_distribution<std::size_t> length(0, lengths.size() - 1);
    std::vector<std::string> names;
    while (names.size() < count) {
        std::string name;
        const std::size_t wanted = lengths[length(rng)];
        const bool plain = names.size() % 4 < 2;
        while (name.size() < wanted)
            name += plain ? plainAtoms[plainAtom(rng)] : atoms[atom(rng)];
        names.push_back(name);
        // A twin that differs in one late byte, so only the end of a long name tells them
        // apart.
        if (!name.empty()) {
            std::string twin = name;
            twin.back() = twin.back() == 'a' ? 'b' : 'a';
            names.push_back(twin);
        }
    }
    return names;
}

} // namespace

TEST(PlacementFileName, DistinctNamesGiveDistinctFiles) {
    std::vector<std::string> names = GeneratedNames(20000, 20261210);
    names.insert(names.end(), {"", "TrackedForms", "%54rackedForms", "B\xFCro", "B%FCro",
                               // the viewer opened on files, and names that spell its file
                               TPositionTracker::OpenedFilesTargetName(), "opened-files",
                               "%00opened-files", "%2500opened-files"});
    // Each long name's file name, taken as a name of its own: a long-name form that plain
    // names can also spell gives two hosts one file.
    const std::size_t generated = names.size();
    for (std::size_t i = 0; i < generated; ++i) {
        const std::string below = Below(FileOf(names[i]));
        const std::string suffix = ".LumivaneViewerForm.json";
        if (below.size() > 170 && below.ends_with(suffix))
            names.push_back(below.substr(0, below.size() - suffix.size()));
    }

    std::map<fs::path, std::string> owner;
    std::set<fs::path> folders; // every folder a file lies in, below the placement folder
    for (const std::string& name : names) {
        const fs::path file = FileOf(name);
        const auto [it, fresh] = owner.emplace(file, name);
        ASSERT_TRUE(fresh || it->second == name)
            << "'" << it->second << "' and '" << name << "' share " << file;

        // Inside the placement folder, every component a valid file name.
        const fs::path below = file.lexically_relative(Folder);
        ASSERT_FALSE(below.empty()) << file;
        for (const fs::path& part : below) {
            ASSERT_NE(part, "..") << file;
            ASSERT_NE(part, ".") << file;
            ASSERT_LE(part.string().size(), 255u) << file;
            // Text every system takes as a file name, so none decodes two names alike.
            ASSERT_EQ(lvutf8::Sanitize(part.string()), part.string()) << file;
        }
        for (fs::path p = file.parent_path(); p != Folder && p.has_relative_path();
             p = p.parent_path())
            folders.insert(p);
    }
    // No file stands where another name needs a folder.
    for (const auto& [file, name] : owner)
        EXPECT_EQ(folders.count(file), 0u) << name << " takes the place of a folder: " << file;
}

TEST(PlacementFileName, ExistingPlainNamesKeepTheirFiles) {
    // Files written before by earlier runs must still be found.
    struct Row {
        const char* name;
        const char* below;
    };
    const Row rows[] = {
        {"conn1", "conn1.LumivaneViewerForm.json"},   {"", "TrackedForms.LumivaneViewerForm.json"},
        {"host~2", "host~2.LumivaneViewerForm.json"}, {"a/b", "a%2Fb.LumivaneViewerForm.json"},
        {"50%", "50%25.LumivaneViewerForm.json"},     {"..", "%2E%2E.LumivaneViewerForm.json"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Below(FileOf(row.name)), row.below) << row.name;
    // The viewer opened on files: a name with a NUL, which no block's name can hold.
    EXPECT_EQ(Below(FileOf(TPositionTracker::OpenedFilesTargetName())),
              "%00opened-files.LumivaneViewerForm.json");
    const std::string longest(180, 'x');
    EXPECT_EQ(Below(FileOf(longest)), longest + ".LumivaneViewerForm.json");
}

TEST(PlacementFileName, LongNamesAreWrittenAndReadBack) {
    TempFolder tmp;
    const std::vector<std::string> names = {std::string(200, 'x'), std::string(181, '/'),
                                            std::string(300, 'x') + "1",
                                            std::string(300, 'x') + "2"};
    for (const std::string& name : names) {
        auto record = TPositionTracker::Create(name);
        record->SetMonitor(7);
        const fs::path file = record->FileName(tmp.Root(), "Lumivane", "LumivaneViewerForm");
        record->SaveToFile(file);
        const auto back = TPositionTracker::LoadFromFile(file, "");
        ASSERT_TRUE(back) << file;
        EXPECT_EQ(back->StoredTargetName(), name);
    }
    // Each name still has its own file.
    for (std::size_t i = 0; i < names.size(); ++i)
        for (std::size_t j = i + 1; j < names.size(); ++j)
            EXPECT_NE(FileOf(names[i]), FileOf(names[j]));
}

// Names as hosts write them into the block, read back and turned into the three files a
// connection has. Hosts that write Latin-1 differ only in bytes that are no UTF-8; read as
// text those all become U+FFFD and met in one file.
TEST(PlacementFileName, BlockNamesKeepTheirBytesInEveryFile) {
    struct Row {
        std::string name; // as the host writes it
        std::string stem; // the files' name before their suffix
    };
    const std::vector<Row> rows = {
        {"B\xFCro", "B%FCro"},
        {"B\xF6ro", "B%F6ro"},
        {"B\xEF\xBF\xBDro", "B\xEF\xBF\xBDro"}, // real U+FFFD is text and stays
        {"B%FCro", "B%25FCro"},
        {"Konsole \xC3\x84 1", "Konsole \xC3\x84 1"},
        {"\xC3", "%C3"}, // a character cut short
        {"TrackedForms", "%54rackedForms"},
        {"", "TrackedForms"}, // no name: the default's files
    };
    TempFolder tmp;
    const fs::path folder = lvpositions::PlacementFolder(tmp.Root(), "Lumivane");
    const fs::path scan = tmp.File("scan.tif");
    std::set<fs::path> written;
    std::int32_t index = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(lvutf8::Sanitize(row.stem));
        lvtest::HostBlock host("names");
        host.PutText(lvcontrol::kConnectionName, row.name);
        const TMemoryMappedControlFile block(host.Name());
        const std::string name = block.ConnectionNameBytes();
        EXPECT_EQ(name, row.name);

        auto record = TPositionTracker::Create(name);
        record->SetMonitor(++index);
        const fs::path placement = record->FileName(tmp.Root(), "Lumivane", "LumivaneViewerForm");
        record->SaveToFile(placement);
        TTurnStore turns(folder, name);
        ASSERT_TRUE(turns.SetQuarterTurns(scan, 1));
        TPrintOptionsStore print(folder, name);
        ASSERT_TRUE(print.Save({}));

        EXPECT_EQ(placement, folder / (row.stem + ".LumivaneViewerForm.json"));
        EXPECT_EQ(turns.FileName(), folder / (row.stem + ".turns"));
        EXPECT_EQ(print.FileName(), folder / (row.stem + ".print"));
        for (const fs::path& file : {placement, turns.FileName(), print.FileName()}) {
            EXPECT_TRUE(fs::is_regular_file(file)) << file;
            EXPECT_TRUE(written.insert(file).second) << file << " taken by an earlier name";
        }
        const auto back = TPositionTracker::LoadFromFile(placement, "");
        ASSERT_TRUE(back);
        EXPECT_EQ(back->Monitor(), index) << "overwritten by a later name";
    }
    // Nothing else was written: every file above is one of its own.
    std::size_t onDisk = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        onDisk += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(onDisk, written.size());
}
