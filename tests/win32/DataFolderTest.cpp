// The placement files under the user's local application data folder: written by
// replacing the whole file with MoveFileExW and read back.
// Our headers before windows.h, whose macros rename ReplaceFile.
#include "platform/DataFolder.h"
#include "platform/ChildProcess.h"
#include "positions/FileStore.h"
#include "positions/ScreenPositionTracker.h"

#include "Win32TestSupport.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>
// windows.h maps ReplaceFile to ReplaceFileA/W; the one meant here is ours.
#undef ReplaceFile

namespace {

namespace fs = std::filesystem;
using win32test::WaitFor;

TEST(DataFolder, IsTheShellsLocalApplicationDataFolder) {
    wchar_t expected[MAX_PATH] = {};
    ASSERT_TRUE(SUCCEEDED(
        SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, expected)));
    EXPECT_EQ(lvplatform::LocalDataFolder().wstring(), std::wstring(expected));
    EXPECT_TRUE(fs::is_directory(lvplatform::LocalDataFolder()));
}

TEST(DataFolder, APlacementFileIsWrittenWholeAndReadBack) {
    const std::string title = "Lumivane Win32 test " + std::to_string(GetCurrentProcessId());
    const fs::path folder = lvpositions::PlacementFolder(lvplatform::LocalDataFolder(), title);
    // A connection name with letters outside ASCII lands in a file of that name.
    auto record = TPositionTracker::Create("Konsole \xC3\x84 1");
    const fs::path file = record->FileName(lvplatform::LocalDataFolder(), title, "viewer");
    EXPECT_EQ(file.parent_path(), folder);
    record->SaveToFile(file);
    ASSERT_TRUE(fs::is_regular_file(file));

    auto back = TPositionTracker::LoadFromFile(file, "Konsole \xC3\x84 1");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->ToJSON(), record->ToJSON());

    // Saved again over the old file: one file, under the name given, no temporary left
    // beside it.
    record->SaveToFile(file);
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().wstring());
    EXPECT_EQ(names, std::vector<std::wstring>{L"Konsole \u00C4 1.viewer.json"});
    std::error_code ec;
    fs::remove_all(lvplatform::LocalDataFolder() / lvplatform::win32::Wide(title), ec);
}

TEST(DataFolder, AFailedReplaceLeavesTheOldFileAsItWas) {
    win32test::TTempFolder tmp;
    const fs::path file = tmp.File("placement.json", "old");
    // Another process keeps the file open without sharing: it cannot be replaced now.
    const fs::path ready = tmp.Root() / L"held";
    auto holder = lvplatform::StartChildProcess({win32test::OwnExe(), "--hold",
                                                 lvplatform::win32::Narrow(file.wstring()),
                                                 lvplatform::win32::Narrow(ready.wstring())});
    ASSERT_TRUE(WaitFor([&] { return fs::exists(ready) || holder->Ended(); }));
    ASSERT_FALSE(holder->Ended());
    EXPECT_THROW(lvpositions::ReplaceFile(file, "new"), std::exception);
    holder->Stop();
    holder->Wait();
    EXPECT_EQ(lvpositions::ReadBoundedFile(file, 100), std::optional<std::string>("old"));
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(tmp.Root()))
        files += entry.path().extension() == L".tmp";
    EXPECT_EQ(files, 0u) << "the temporary file is removed after a failed replace";
    lvpositions::ReplaceFile(file, "new");
    EXPECT_EQ(lvpositions::ReadBoundedFile(file, 100), std::optional<std::string>("new"));
}

} // namespace
