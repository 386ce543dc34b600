// Window lookup on real Win32 windows of our own: found by title whatever the letter
// case, and their minimised / normal / maximised placement read back.
// The interface's show states share their names with windows.h's macros (and their
// values): it is included first, and the macros stand for both afterwards.
#include "platform/WindowSystem.h"

#include "Win32TestSupport.h"

#include <gtest/gtest.h>

#include <windows.h>
#undef FindWindow

namespace {

using win32test::WaitFor;

class OwnWindow {
public:
    explicit OwnWindow(const std::wstring& title) {
        FWindow = CreateWindowExW(0, L"STATIC", title.c_str(), WS_OVERLAPPEDWINDOW, 40, 60, 420,
                                  260, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~OwnWindow() {
        if (FWindow)
            DestroyWindow(FWindow);
    }
    OwnWindow(const OwnWindow&) = delete;
    OwnWindow& operator=(const OwnWindow&) = delete;
    HWND Handle() const { return FWindow; }

    // The window manager answers asynchronously: keep the message queue moving.
    static void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

private:
    HWND FWindow = nullptr;
};

lvplatform::WINDOWPLACEMENT Placement(lvplatform::IWindowSystem& system, HWND window) {
    lvplatform::WINDOWPLACEMENT p{};
    p.length = sizeof p;
    EXPECT_TRUE(system.GetWindowPlacement(reinterpret_cast<lvplatform::TWindowHandle>(window), p));
    return p;
}

TEST(WindowLookup, FindsAWindowByItsTitleWithoutRegardToCase) {
    OwnWindow console(L"Terminal Konsole \u00c4rger 4711");
    ASSERT_NE(console.Handle(), nullptr);
    auto system = lvplatform::CreateWindowSystem();
    const auto expected = reinterpret_cast<lvplatform::TWindowHandle>(console.Handle());
    struct Row {
        const char* why;
        std::string title;
        bool found;
    } rows[] = {
        {"the title as it is", "Terminal Konsole \xC3\x84rger 4711", true},
        {"upper case, also the umlaut", "TERMINAL KONSOLE \xC3\x84RGER 4711", true},
        {"lower case, also the umlaut", "terminal konsole \xC3\xA4rger 4711", true},
        {"part of the title only", "Terminal Konsole", false},
        {"a NUL inside", std::string("Terminal\0Konsole", 16), false},
    };
    for (const Row& r : rows)
        EXPECT_EQ(system->FindWindow(r.title) == expected, r.found) << r.why;
    EXPECT_EQ(system->FindWindow("no such window title 0815"), 0u);
}

TEST(WindowLookup, ReadsMinimisedNormalAndMaximisedPlacement) {
    OwnWindow console(L"lumivane placement window");
    ASSERT_NE(console.Handle(), nullptr);
    auto system = lvplatform::CreateWindowSystem();

    // A window that was never shown reads as hidden.
    EXPECT_EQ(Placement(*system, console.Handle()).showCmd, SW_HIDE);

    ShowWindow(console.Handle(), SW_SHOWNORMAL);
    ASSERT_TRUE(WaitFor([&] {
        OwnWindow::Pump();
        return Placement(*system, console.Handle()).showCmd == SW_SHOWNORMAL;
    }));
    // The normal position of a window of our own is where we put it.
    ::WINDOWPLACEMENT own{};
    own.length = sizeof own;
    own.showCmd = SW_SHOWNORMAL;
    own.rcNormalPosition = {120, 90, 620, 450};
    ASSERT_TRUE(SetWindowPlacement(console.Handle(), &own));
    ASSERT_TRUE(WaitFor([&] {
        OwnWindow::Pump();
        const auto p = Placement(*system, console.Handle());
        return p.rcNormalPosition.left == 120 && p.rcNormalPosition.top == 90 &&
               p.rcNormalPosition.right == 620 && p.rcNormalPosition.bottom == 450;
    }));

    ShowWindow(console.Handle(), SW_SHOWMAXIMIZED);
    EXPECT_TRUE(WaitFor([&] {
        OwnWindow::Pump();
        return Placement(*system, console.Handle()).showCmd == SW_SHOWMAXIMIZED;
    }));
    // The normal position outlives the maximised state. (Maximised before minimised: a
    // window manager need not take a minimised window straight to maximised.)
    EXPECT_EQ(Placement(*system, console.Handle()).rcNormalPosition.left, 120);

    ShowWindow(console.Handle(), SW_SHOWMINIMIZED);
    EXPECT_TRUE(WaitFor([&] {
        OwnWindow::Pump();
        return Placement(*system, console.Handle()).showCmd == SW_SHOWMINIMIZED;
    }));

    const HWND gone = console.Handle();
    DestroyWindow(gone);
    lvplatform::WINDOWPLACEMENT p{};
    p.length = sizeof p;
    EXPECT_FALSE(system->GetWindowPlacement(reinterpret_cast<lvplatform::TWindowHandle>(gone), p));
}

TEST(WindowLookup, FrameWidthIsTheSystemMetric) {
    EXPECT_EQ(lvplatform::CreateWindowSystem()->FrameWidth(), GetSystemMetrics(SM_CXFRAME));
    EXPECT_GT(lvplatform::SystemFrameWidth(), 0);
}

} // namespace
