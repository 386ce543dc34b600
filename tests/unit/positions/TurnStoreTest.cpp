// The per-connection store of quarter turns, against real image files and store files:
// what comes back after a restart, what a replaced file or another connection sees, what
// a damaged store does, and the bounds on its size.
#include "positions/TurnStore.h"
#include "positions/ScreenPositionTracker.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

class TurnStoreTest : public testing::Test {
protected:
    void SetUp() override {
        folder = lvpositions::PlacementFolder(tmp.Root() / "data", "Lumivane");
        scans = tmp.Root() / "scans";
        WriteAll(scans / "12345678~1.tif", "first page");
        WriteAll(scans / "12345678~2.tif", "second page");
    }
    fs::path Scan(int n) const { return scans / ("12345678~" + std::to_string(n) + ".tif"); }
    static TFileIdentity Identity(std::size_t n, std::size_t pathLength = 0) {
        std::string path = "/archive/" + std::to_string(n);
        if (path.size() < pathLength)
            path += std::string(pathLength - path.size(), 'p');
        return {path, 1000 + n, static_cast<std::int64_t>(n) * 1000};
    }

    TempFolder tmp;
    fs::path folder;
    fs::path scans;
};

} // namespace

TEST_F(TurnStoreTest, TurnsComeBackForTheSameConnectionOnly) {
    const std::string imageBefore = ReadAll(Scan(2));
    const auto modifiedBefore = fs::last_write_time(Scan(2));
    {
        TTurnStore store(folder, "conn1");
        EXPECT_EQ(store.QuarterTurns(Scan(2)), 0);
        EXPECT_TRUE(store.SetQuarterTurns(Scan(2), 1));
        EXPECT_EQ(store.QuarterTurns(Scan(2)), 1);
    }
    // As after a restart: a new store reads the file.
    TTurnStore again(folder, "conn1");
    EXPECT_EQ(again.QuarterTurns(Scan(2)), 1);
    EXPECT_EQ(again.QuarterTurns(Scan(1)), 0);
    EXPECT_EQ(again.FileName(), folder / "conn1.turns");

    TTurnStore other(folder, "conn2");
    EXPECT_EQ(other.QuarterTurns(Scan(2)), 0);
    // An empty connection name has the default's file, as for placements; a connection
    // named like the default has a file of its own.
    TTurnStore unnamed(folder, "");
    EXPECT_TRUE(unnamed.SetQuarterTurns(Scan(1), 2));
    EXPECT_EQ(TTurnStore(folder, "").QuarterTurns(Scan(1)), 2);
    EXPECT_EQ(unnamed.FileName(), folder / "TrackedForms.turns");
    EXPECT_EQ(TTurnStore(folder, "TrackedForms").QuarterTurns(Scan(1)), 0);
    EXPECT_EQ(TTurnStore(folder, "conn1").QuarterTurns(Scan(1)), 0);

    // The image file is only looked at.
    EXPECT_EQ(ReadAll(Scan(2)), imageBefore);
    EXPECT_EQ(fs::last_write_time(Scan(2)), modifiedBefore);
}

TEST_F(TurnStoreTest, ReplacedOrRemovedFileStartsUpright) {
    TTurnStore store(folder, "conn");
    ASSERT_TRUE(store.SetQuarterTurns(Scan(1), 1));
    ASSERT_TRUE(store.SetQuarterTurns(Scan(2), 3));

    // A new scan under the same name, the same size, a different time.
    WriteAll(Scan(1), "FIRST PAGE");
    fs::last_write_time(Scan(1), fs::last_write_time(Scan(1)) + std::chrono::seconds(5));
    // A new scan of another size, its time set back to the old one's.
    const auto modified = fs::last_write_time(Scan(2));
    WriteAll(Scan(2), "a longer second page");
    fs::last_write_time(Scan(2), modified);

    TTurnStore fresh(folder, "conn"); // as after a restart
    for (TTurnStore* s : {&store, &fresh}) {
        EXPECT_EQ(s->QuarterTurns(Scan(1)), 0) << "same size, new time";
        EXPECT_EQ(s->QuarterTurns(Scan(2)), 0) << "same time, new size";
    }
    fs::remove(Scan(1));
    EXPECT_EQ(store.QuarterTurns(Scan(1)), 0);
    EXPECT_FALSE(store.SetQuarterTurns(Scan(1), 1)) << "a missing file cannot be turned";
}

TEST_F(TurnStoreTest, TurnsAreQuarterTurnsModuloFour) {
    TTurnStore store(folder, "conn");
    const std::pair<int, int> rows[] = {{1, 1}, {2, 2}, {3, 3}, {4, 0}, {5, 1}, {-1, 3}, {-6, 2}};
    for (auto [given, kept] : rows) {
        ASSERT_TRUE(store.SetQuarterTurns(Scan(1), given));
        EXPECT_EQ(TTurnStore(folder, "conn").QuarterTurns(Scan(1)), kept) << given;
    }
    // Upright again: the file is forgotten, not stored as 0.
    ASSERT_TRUE(store.SetQuarterTurns(Scan(1), 0));
    EXPECT_EQ(ReadAll(store.FileName()).find(Scan(1).string()), std::string::npos);
}

TEST_F(TurnStoreTest, PathsWithSeparatorCharactersRoundTrip) {
    TTurnStore store(folder, "conn");
    const std::vector<std::string> paths = {
        "/a\tb", "/a\nb", "/a\\nb", "/a\\", "/a\rb", "/\xC3\xA9t\xC3\xA9", "/a\\\tb"};
    for (std::size_t i = 0; i < paths.size(); ++i)
        ASSERT_TRUE(
            store.SetQuarterTurns(TFileIdentity{paths[i], i, 7}, static_cast<int>(i % 3) + 1));
    TTurnStore back(folder, "conn");
    for (std::size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(back.QuarterTurns(TFileIdentity{paths[i], i, 7}), static_cast<int>(i % 3) + 1)
            << paths[i];
    EXPECT_EQ(back.QuarterTurns(TFileIdentity{"/a", 0, 7}), 0);
}

TEST_F(TurnStoreTest, DamagedStoreCountsAsEmptyAndIsReplacedOnTheNextTurn) {
    TTurnStore good(folder, "conn");
    ASSERT_TRUE(good.SetQuarterTurns(Scan(1), 1));
    const std::string valid = ReadAll(good.FileName());
    const std::string line = valid.substr(valid.find('\n') + 1);
    struct Row {
        const char* fault;
        std::string text;
    };
    const std::vector<Row> rows = {
        {"empty", ""},
        {"other_header", "lumivane-turns 2\n" + line},
        {"no_header", line},
        {"binary", std::string("\x00\xFF\x7F garbage", 11)},
        {"cut_off_line", valid.substr(0, valid.size() - 3)},
        {"turn_out_of_range", "lumivane-turns 1\n7\t10\t0\t" + Scan(1).string() + "\n"},
        {"size_not_a_number", "lumivane-turns 1\n1\tten\t0\t" + Scan(1).string() + "\n"},
        {"bad_escape", "lumivane-turns 1\n1\t10\t0\t/a\\qb\n"},
        {"longer_than_the_bound", valid + std::string(TTurnStore::MaxFileSize, '#')},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        WriteAll(good.FileName(), row.text);
        TTurnStore store(folder, "conn");
        EXPECT_EQ(store.QuarterTurns(Scan(1)), 0);
        EXPECT_TRUE(store.SetQuarterTurns(Scan(2), 2));
        TTurnStore back(folder, "conn");
        EXPECT_EQ(back.QuarterTurns(Scan(2)), 2);
    }
    // A folder where the store's file should be: nothing to read, the write fails, the
    // turn is still kept for this run.
    fs::remove(good.FileName());
    fs::create_directories(good.FileName() / "x");
    TTurnStore blocked(folder, "conn");
    EXPECT_EQ(blocked.QuarterTurns(Scan(1)), 0);
    EXPECT_FALSE(blocked.SetQuarterTurns(Scan(1), 3));
    EXPECT_EQ(blocked.QuarterTurns(Scan(1)), 3);
}

TEST_F(TurnStoreTest, KeepsTheMostRecentlyTurnedTenThousandFiles) {
    // A full store as a long use leaves it, oldest first: ten thousand turns written one by
    // one would take minutes of file writes.
    const fs::path file = TTurnStore(folder, "conn").FileName();
    std::string text = "lumivane-turns 1\n";
    for (std::size_t i = 0; i < TTurnStore::MaxFiles; ++i) {
        const TFileIdentity id = Identity(i);
        text += "1\t" + std::to_string(id.Size) + "\t" + std::to_string(id.ModifiedNanoseconds) +
                "\t" + id.Path + "\n";
    }
    WriteAll(file, text);
    {
        TTurnStore store(folder, "conn");
        EXPECT_EQ(store.QuarterTurns(Identity(0)), 1);
        EXPECT_EQ(store.QuarterTurns(Identity(TTurnStore::MaxFiles - 1)), 1);
        // The 10,001st file drops the oldest.
        ASSERT_TRUE(store.SetQuarterTurns(Identity(TTurnStore::MaxFiles), 2));
        EXPECT_EQ(store.QuarterTurns(Identity(0)), 0);
        // Turning an old file again makes it the most recent one.
        ASSERT_TRUE(store.SetQuarterTurns(Identity(1), 3));
        ASSERT_TRUE(store.SetQuarterTurns(Identity(TTurnStore::MaxFiles + 1), 1));
    }
    TTurnStore back(folder, "conn");
    EXPECT_EQ(back.QuarterTurns(Identity(0)), 0);
    EXPECT_EQ(back.QuarterTurns(Identity(1)), 3);
    EXPECT_EQ(back.QuarterTurns(Identity(2)), 0) << "dropped once 1 was turned again";
    EXPECT_EQ(back.QuarterTurns(Identity(3)), 1);
    EXPECT_EQ(back.QuarterTurns(Identity(TTurnStore::MaxFiles)), 2);
    EXPECT_EQ(back.QuarterTurns(Identity(TTurnStore::MaxFiles + 1)), 1);

    // A file holding more than the bound (written by hand) keeps its newest lines.
    text += "2\t5\t6\t/extra\n";
    WriteAll(file, text);
    TTurnStore over(folder, "conn");
    EXPECT_EQ(over.QuarterTurns(TFileIdentity{"/extra", 5, 6}), 2);
    EXPECT_EQ(over.QuarterTurns(Identity(0)), 0);
    EXPECT_EQ(over.QuarterTurns(Identity(1)), 1);
}

TEST_F(TurnStoreTest, LongPathsKeepTheFileWithinItsBound) {
    // 150 names of 40,000 bytes would take 6 MB: the oldest give way.
    constexpr std::size_t Count = 150;
    constexpr std::size_t Length = 40000;
    {
        TTurnStore store(folder, "conn");
        for (std::size_t i = 0; i < Count; ++i)
            ASSERT_TRUE(store.SetQuarterTurns(Identity(i, Length), 1));
    }
    EXPECT_LE(fs::file_size(TTurnStore(folder, "conn").FileName()), TTurnStore::MaxFileSize);
    TTurnStore back(folder, "conn");
    EXPECT_EQ(back.QuarterTurns(Identity(Count - 1, Length)), 1);
    EXPECT_EQ(back.QuarterTurns(Identity(Count / 2, Length)), 1);
    EXPECT_EQ(back.QuarterTurns(Identity(0, Length)), 0);
}
