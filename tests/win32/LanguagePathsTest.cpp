// Folder names, file names and connection names in any language on Windows: the core's
// UTF-8 text must reach the system as the same UTF-16 name (a std::string turned into a
// path directly is read in the ANSI code page, and "Ü" names another file). Each row runs
// the search, the container read, the exclusive read against a second process and the
// files of one connection, whose exact names are listed with FindFirstFileW.
// Our headers before windows.h, whose macros rename ReplaceFile.
#include "images/Orlenza.ImageListController.h"
#include "images/Orlenza.Types.h"
#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "positions/PrintOptionsStore.h"
#include "positions/ScreenPositionTracker.h"
#include "positions/TurnStore.h"

#include "Win32TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using lvplatform::win32::Narrow;
using lvplatform::win32::Wide;
using win32test::TTempFolder;
using win32test::WaitFor;

struct TLanguageRow {
    const char* what;
    std::string text; // UTF-8
};

const std::vector<TLanguageRow>& Rows() {
    static const std::vector<TLanguageRow> rows = {
        {"A umlaut", "\xC3\x84"},
        {"U umlaut", "\xC3\x9C"
                     "bersicht"},
        {"CJK", "\xE6\x96\x87\xE6\xA1\xA3"}, // two CJK ideographs
        {"outside the BMP", "\xF0\x9F\x93\x84"
                            "scan"}, // an emoji: a surrogate pair
        {"mixed", "Gr\xC3\xBC\xC3\x9F"
                  "e \xE6\x96\x87 \xF0\x9F\x98\x80"},
    };
    return rows;
}

// The names in a folder, as the system lists them.
std::set<std::wstring> Listed(const fs::path& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW((folder.wstring() + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            names.insert(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

std::string Utf8(const fs::path& path) {
    return Narrow(path.wstring());
}

TEST(LanguagePaths, TheSearchListsAndReadsFilesInFoldersOfAnyLanguage) {
    for (const TLanguageRow& row : Rows()) {
        SCOPED_TRACE(row.what);
        TTempFolder tmp;
        // The source folder, the image file and a container, each named in the language.
        tmp.File("lv-enc-" + row.text + "/1234/12345678~1.tif");
        tmp.File("lv-enc-" + row.text + "/1234/12345678" + row.text + ".png");
        tmp.File("lv-enc-" + row.text + "/1234/12345678~3" + row.text + ".lva",
                 "12345678" + row.text + ".png");
        const std::string source = Utf8(tmp.Root()) + "\\lv-enc-" + row.text + "\\";
        EXPECT_TRUE(lvplatform::DirectoryExists(lvplatform::Utf8Path(source)));

        const auto images = TImageListController::ImagesFor({source}, "12345678", "****");
        std::vector<std::string> names;
        for (const auto& image : images) {
            names.push_back(image.Name);
            // The path the viewer will open names the very file.
            EXPECT_TRUE(fs::is_regular_file(lvplatform::Utf8Path(image.FullFileName())))
                << image.FullFileName();
        }
        // Their order is FolderOrder's matter; here every file is found once.
        std::vector<std::string> expected = {"12345678~1.tif", "12345678~3" + row.text + ".lva",
                                             "12345678" + row.text + ".png"};
        std::sort(names.begin(), names.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected);

        // The container read opens the container by its UTF-8 name.
        TLumivaneCantOpenReason reason = corNone;
        std::string text;
        ReadAliasText(source + "1234\\12345678~3" + row.text + ".lva", reason, text);
        EXPECT_EQ(reason, corNone);
        EXPECT_EQ(text, "12345678" + row.text + ".png");
    }
}

TEST(LanguagePaths, AFileHeldByAnotherProcessReadsAsLockedWhateverItsName) {
    for (const TLanguageRow& row : Rows()) {
        SCOPED_TRACE(row.what);
        TTempFolder tmp;
        const fs::path container =
            tmp.File("lv-enc-" + row.text + "/12345678~1" + row.text + ".lva", "x");
        const fs::path ready = tmp.Root() / Wide("held " + row.text);
        // The names reach the second process through its UTF-16 command line.
        auto holder = lvplatform::StartChildProcess(
            {win32test::OwnExe(), "--hold", Utf8(container), Utf8(ready)});
        ASSERT_TRUE(WaitFor([&] { return fs::exists(ready) || holder->Ended(); }));
        ASSERT_FALSE(holder->Ended()) << "the holder could not open the file";

        const auto read = lvplatform::ReadFileExclusive(lvplatform::Utf8Path(Utf8(container)), 100);
        EXPECT_EQ(read.Stage, lvplatform::TExclusiveRead::rsOpenFailed);
        EXPECT_EQ(read.ErrorCode, ERROR_SHARING_VIOLATION) << read.Message;
        TLumivaneCantOpenReason reason = corNone;
        std::string text;
        ReadAliasText(Utf8(container), reason, text, {[](int) {}, [](int max) { return max; }});
        EXPECT_EQ(reason, corLocked);
        holder->Stop();
        holder->Wait();
    }
}

TEST(LanguagePaths, AConnectionsFilesCarryItsNameExactly) {
    for (const TLanguageRow& row : Rows()) {
        SCOPED_TRACE(row.what);
        TTempFolder tmp;
        const std::string connection = "Konsole " + row.text + " 1";
        const std::string title = "Lumivane " + row.text;
        auto record = TPositionTracker::Create(connection);
        record->SetMonitor(3);
        const fs::path file = record->FileName(tmp.Root(), title, "viewer");
        record->SaveToFile(file);
        // Saved twice: the temporary file of each save is gone after it.
        record->SaveToFile(file);
        const fs::path folder = lvpositions::PlacementFolder(tmp.Root(), title);
        const fs::path scan = tmp.File("scan " + row.text + ".tif");
        TTurnStore turns(folder, connection);
        ASSERT_TRUE(turns.SetQuarterTurns(scan, 1));
        ASSERT_TRUE(TPrintOptionsStore(folder, connection).Save({}));

        EXPECT_EQ(Listed(tmp.Root()),
                  (std::set<std::wstring>{Wide(title), Wide("scan " + row.text + ".tif")}));
        EXPECT_EQ(Listed(folder), (std::set<std::wstring>{Wide(connection + ".viewer.json"),
                                                          Wide(connection + ".turns"),
                                                          Wide(connection + ".print")}));
        const auto back = TPositionTracker::LoadFromFile(file, connection);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->Monitor(), 3);
        EXPECT_EQ(TTurnStore(folder, connection).QuarterTurns(scan), 1);
    }
    // Bytes that are no UTF-8 (a host writing Latin-1) are escaped, never decoded.
    TTempFolder tmp;
    const fs::path file = TPositionTracker::Create("B\xFCro")->FileName(tmp.Root(), "L", "viewer");
    TPositionTracker::Create("B\xFCro")->SaveToFile(file);
    EXPECT_EQ(Listed(file.parent_path()), std::set<std::wstring>{L"B%FCro.viewer.json"});
}

TEST(LanguagePaths, TextAndPathsConvertBothWays) {
    for (const TLanguageRow& row : Rows()) {
        SCOPED_TRACE(row.what);
        const fs::path path = lvplatform::Utf8Path("C:\\" + row.text + "\\x");
        EXPECT_EQ(path.wstring(), L"C:\\" + Wide(row.text) + L"\\x");
        EXPECT_EQ(lvplatform::PathUtf8(path), "C:\\" + row.text + "\\x");
    }
}

} // namespace
