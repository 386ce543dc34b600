// The per-connection print options, against real store files: every choice comes back,
// per connection; what a damaged or foreign file gives.
#include "positions/PrintOptionsStore.h"
#include "positions/ScreenPositionTracker.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

void WriteAll(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

class PrintOptionsStoreTest : public testing::Test {
protected:
    fs::path Folder() const { return lvpositions::PlacementFolder(tmp.Root(), "Lumivane"); }
    TempFolder tmp;
};

} // namespace

TEST_F(PrintOptionsStoreTest, EveryChoiceComesBackForTheSameConnection) {
    const TPrintOptions rows[] = {
        {},
        {"Office Laser", ppFilePages, psFitPage, false, poPrinter, {}},
        {"PDF", ppListFiles, psActualSize, true, poAutomatic, {}},
        {"", ppShownPage, psFitWidth, true, poAutomatic, "/home/u/Gescannt \xC3\xBC"},
        {"Drucker \xC3\xBC \"2\" \\ /", ppShownPage, psFitWidth, false, poAutomatic, {}},
    };
    for (const TPrintOptions& options : rows) {
        SCOPED_TRACE(options.PrinterName);
        ASSERT_TRUE(TPrintOptionsStore(Folder(), "conn1").Save(options));
        const auto back = TPrintOptionsStore(Folder(), "conn1").Load();
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, options);
    }
    EXPECT_EQ(TPrintOptionsStore(Folder(), "conn1").FileName(), Folder() / "conn1.print");
    EXPECT_FALSE(TPrintOptionsStore(Folder(), "conn2").Load()) << "another connection";
    ASSERT_TRUE(
        TPrintOptionsStore(Folder(), "").Save({"X", ppFilePages, psFitPage, true, poPrinter, {}}));
    const auto unnamed = TPrintOptionsStore(Folder(), "").Load();
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(unnamed->PrinterName, "X");
    EXPECT_EQ(TPrintOptionsStore(Folder(), "").FileName(), Folder() / "TrackedForms.print");
    EXPECT_FALSE(TPrintOptionsStore(Folder(), "TrackedForms").Load())
        << "a connection named like the default has its own file";
}

TEST_F(PrintOptionsStoreTest, WhatAFileHoldsDecidesMemberByMember) {
    struct Row {
        const char* fault;
        std::string text;
        std::optional<TPrintOptions> expected;
    };
    const TPrintOptions defaults;
    const std::vector<Row> rows = {
        {"missing_members_keep_defaults", R"({"printer":"P"})",
         TPrintOptions{"P", ppShownPage, psFitWidth, true, poAutomatic, {}}},
        {"unknown_values_keep_defaults",
         R"({"printer":"P","pages":"everything","size":3,"asShown":"no","orientation":"up"})",
         TPrintOptions{"P", ppShownPage, psFitWidth, true, poAutomatic, {}}},
        {"pdf_folder_read", R"({"pdfFolder":"/tmp/out"})",
         TPrintOptions{"", ppShownPage, psFitWidth, true, poAutomatic, "/tmp/out"}},
        {"pdf_folder_not_text_ignored", R"({"pdfFolder":7})",
         TPrintOptions{"", ppShownPage, psFitWidth, true, poAutomatic, {}}},
        {"unknown_members_ignored", R"({"size":"fitPage","copies":3})",
         TPrintOptions{"", ppShownPage, psFitPage, true, poAutomatic, {}}},
        {"not_json", "printer=P", std::nullopt},
        {"not_an_object", R"(["P"])", std::nullopt},
        {"empty", "", std::nullopt},
        {"nested_too_deep", R"({"x":)" + std::string(50, '[') + std::string(50, ']') + "}",
         std::nullopt},
        {"longer_than_the_bound",
         R"({"printer":")" + std::string(TPrintOptionsStore::MaxFileSize, 'p') + R"("})",
         std::nullopt},
    };
    const TPrintOptionsStore store(Folder(), "conn");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        WriteAll(store.FileName(), row.text);
        EXPECT_EQ(store.Load(), row.expected);
    }
}

TEST_F(PrintOptionsStoreTest, WriteFailureIsReportedAndLeavesTheOldFile) {
    const TPrintOptionsStore store(Folder(), "conn");
    ASSERT_TRUE(store.Save({"First", ppFilePages, psFitPage, true, poPrinter, {}}));
    // A printer name that is no UTF-8 is still saved.
    EXPECT_TRUE(store.Save({"Bad \xFF name", ppShownPage, psFitWidth, true, poAutomatic, {}}));
    ASSERT_TRUE(store.Load());
    EXPECT_EQ(store.Load()->Pages, ppShownPage);

    WriteAll(tmp.Root() / "blocker", "a file, not a folder");
    const TPrintOptionsStore blocked(tmp.Root() / "blocker" / "screen", "conn");
    EXPECT_FALSE(blocked.Save({}));
    EXPECT_EQ(store.Load()->PrinterName.substr(0, 4), "Bad ");
}
