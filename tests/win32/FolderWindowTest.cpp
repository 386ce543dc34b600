// Opening a folder after a capture: the shell's "explore" verb opens a file manager window
// on it; what is not a folder opens nothing.
#include "platform/FolderWindow.h"

#include "Win32TestSupport.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <string>

namespace {

namespace fs = std::filesystem;

// Visible top-level windows whose title contains ATitlePart.
std::vector<HWND> WindowsTitled(const std::wstring& ATitlePart) {
    struct Search {
        std::wstring Part;
        std::vector<HWND> Found;
    } search{ATitlePart, {}};
    EnumWindows(
        [](HWND AWindow, LPARAM AData) -> BOOL {
            auto* s = reinterpret_cast<Search*>(AData);
            wchar_t title[512] = {};
            GetWindowTextW(AWindow, title, 512);
            if (IsWindowVisible(AWindow) && std::wstring(title).find(s->Part) != std::wstring::npos)
                s->Found.push_back(AWindow);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

TEST(FolderWindow, AFolderOpensInTheShellsWindow) {
    // The shell expects COM on the calling thread, as the toolbar's GUI thread has it.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    win32test::TTempFolder tmp;
    const std::string leaf = "Captures " + std::to_string(GetCurrentProcessId());
    const fs::path folder = tmp.Root() / lvplatform::win32::Wide(leaf);
    fs::create_directories(folder);
    ASSERT_TRUE(lvplatform::ExploreFolder(folder));
    std::vector<HWND> shown;
    EXPECT_TRUE(win32test::WaitFor(
        [&] { return !(shown = WindowsTitled(lvplatform::win32::Wide(leaf))).empty(); },
        std::chrono::seconds(60)));
    for (HWND window : shown)
        PostMessageW(window, WM_CLOSE, 0, 0);
    if (SUCCEEDED(com))
        CoUninitialize();
}

TEST(FolderWindow, WhatIsNotAFolderOpensNothing) {
    win32test::TTempFolder tmp;
    const fs::path file = tmp.File("capture.txt");
    for (const fs::path& target : {tmp.Root() / L"missing", file, fs::path()})
        EXPECT_FALSE(lvplatform::ExploreFolder(target)) << target.string();
}

} // namespace
