// The console title format and the console monitor, against the real X server of the
// test runner (Xvfb + openbox).
#include "tests/support/XTestWindows.h"
#include "toolbar/ProcessWindowMonitor.ConsoleMonitor.h"

#include <gtest/gtest.h>

#include <unistd.h>

using lvplatform::SW_SHOWMAXIMIZED;
using lvplatform::SW_SHOWMINIMIZED;
using lvplatform::SW_SHOWNORMAL;
using lvtest::WaitFor;

// ---- title formatting -------------------------------------------------------------

struct FormatRow {
    const char* fault; // what a wrong implementation would do
    const char* format;
    std::int32_t value;
    const char* expected;
};

void PrintTo(const FormatRow& row, std::ostream* os) {
    *os << row.fault;
}

class FormatWithIntegerOk : public testing::TestWithParam<FormatRow> {};

TEST_P(FormatWithIntegerOk, FillsTheOneConversion) {
    const FormatRow& row = GetParam();
    EXPECT_EQ(FormatWithInteger(row.format, row.value), row.expected) << row.fault;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FormatWithIntegerOk,
    testing::Values(FormatRow{"plain_decimal", "Console %d", 7, "Console 7"},
                    FormatRow{"i_is_decimal_too", "Console %i", 42, "Console 42"},
                    FormatRow{"unsigned", "C%u", 500, "C500"},
                    FormatRow{"hex_lower", "[%x]", 255, "[ff]"},
                    FormatRow{"hex_upper", "[%X]", 255, "[FF]"}, FormatRow{"octal", "%o", 8, "10"},
                    FormatRow{"width_pads_left", "[%5d]", 7, "[    7]"},
                    FormatRow{"minus_pads_right", "[%-3d]", 7, "[7  ]"},
                    FormatRow{"zero_flag_pads_zeros", "T%05d", 42, "T00042"},
                    FormatRow{"precision", "%.3d", 5, "005"},
                    FormatRow{"percent_percent_is_literal", "100%% of %d", 3, "100% of 3"},
                    FormatRow{"percent_before_conversion", "%%%d", 3, "%3"},
                    FormatRow{"long_modifier_accepted", "%ld/", 9, "9/"},
                    FormatRow{"short_unsigned_modifier_accepted", "%hu", 65535, "65535"},
                    FormatRow{"no_conversion_same_for_every_id", "Terminal", 99, "Terminal"},
                    FormatRow{"utf8_text_kept", "Konsole \xC3\xBC %d", 1, "Konsole \xC3\xBC 1"},
                    FormatRow{"empty_format", "", 1, ""}),
    [](const testing::TestParamInfo<FormatRow>& row) { return std::string(row.param.fault); });

TEST(FormatWithInteger, FormatsThatCannotTakeOneIntegerRaise) {
    const char* bad[] = {
        "Console %s", // string conversion would read a missing pointer
        "%d of %d",   // second conversion has no argument
        "trailing %", // conversion cut off
        "%f",         // floating point
        "%n",         // writes through an argument
        "%c",         // character
        "%p",         // pointer
        "%*d",        // width from a missing argument
        "%.*d",       // precision from a missing argument
        "%5",         // no conversion letter
        "%99999d",    // absurd width
        "%Ld",        // long double modifier with an integer
    };
    for (const char* format : bad)
        EXPECT_THROW(FormatWithInteger(format, 1), EFormatError) << format;
}

class TitleFormatTest : public testing::Test {
protected:
    void TearDown() override { SetProcessWindowTextFormat(""); }
};

TEST_F(TitleFormatTest, UnsetFormatIsAnAssertionNamingTheModule) {
    SetProcessWindowTextFormat("");
    EXPECT_FALSE(IsProcessWindowTextFormatSet());
    try {
        ProcessWindowText(1);
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find("ProcessWindowTextFormat not set prior to calling"),
                  std::string::npos)
            << message;
        EXPECT_NE(message.find("ProcessWindowMonitor"), std::string::npos) << message;
    }
    EXPECT_THROW(GetProcessWindowTextFormat(), EAssertionFailed);
}

TEST_F(TitleFormatTest, SetFormatGivesEachIdItsTitle) {
    SetProcessWindowTextFormat("Lumivane Console %d");
    EXPECT_TRUE(IsProcessWindowTextFormatSet());
    EXPECT_EQ(GetProcessWindowTextFormat(), "Lumivane Console %d");
    EXPECT_EQ(ProcessWindowText(12), "Lumivane Console 12");
    EXPECT_EQ(ProcessWindowText(65535), "Lumivane Console 65535"); // 16-bit id, not negative
}

TEST(TitleCase, WholeTitleComparedWithoutCase) {
    EXPECT_TRUE(lvplatform::TitlesEqualIgnoringCase("Console 7", "CONSOLE 7"));
    EXPECT_TRUE(lvplatform::TitlesEqualIgnoringCase("\xC3\x84rger", "\xC3\xA4RGER")); // Ä / ä
    EXPECT_TRUE(lvplatform::TitlesEqualIgnoringCase("\xD0\x9A", "\xD0\xBA"));         // К / к
    EXPECT_TRUE(lvplatform::TitlesEqualIgnoringCase("\xC5\xB8", "\xC3\xBF"));         // Ÿ / ÿ
    EXPECT_FALSE(lvplatform::TitlesEqualIgnoringCase("\xC5\xB8", "\xC5\xB9"));        // Ÿ / Ź
    EXPECT_FALSE(lvplatform::TitlesEqualIgnoringCase("Console 7", "Console 70"));
    EXPECT_FALSE(lvplatform::TitlesEqualIgnoringCase("Console 7", "Console 7 "));
    EXPECT_FALSE(lvplatform::TitlesEqualIgnoringCase("\xC3\x97", "\xC3\xB7")); // × is no letter
}

// ---- the monitor on a real X server ------------------------------------------------

class ConsoleMonitorTest : public testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY") || !desktop.Ok())
            GTEST_SKIP() << "needs the runner's X server (scripts/with-x)";
        // Titles unique to this process: tests of other processes share the server.
        prefix = "LvMonitorTest " + std::to_string(::getpid()) + " " +
                 testing::UnitTest::GetInstance()->current_test_info()->name() + " console ";
        SetProcessWindowTextFormat(prefix + "%d");
        windows = lvplatform::CreateWindowSystem();
    }
    void TearDown() override {
        desktop.CloseAll();
        SetProcessWindowTextFormat("");
    }

    xcb_window_t OpenConsole(const std::string& title, int x = 100, int y = 200) {
        const xcb_window_t w = desktop.Open(title, x, y, 400, 300);
        EXPECT_TRUE(desktop.WaitManaged(w)) << "window manager never listed " << title;
        // The backend learns of the window from its own connection's events, which may
        // arrive after the test's connection saw it managed; a scan before that misses it.
        EXPECT_TRUE(WaitFor([&] { return windows->FindWindow(title) != 0; }))
            << "window system never saw " << title;
        return w;
    }

    std::unique_ptr<TConsoleMonitor> Monitor(std::int32_t low = 1, std::int32_t high = 1) {
        return std::make_unique<TConsoleMonitor>(
            [this](const WINDOWPLACEMENT& p) {
                ++reports;
                last = p;
            },
            low, high, windows);
    }

    // Asks for id's placement until `condition` holds on the report count.
    bool ReportsEventually(TConsoleMonitor& monitor, std::uint16_t id, bool expectReport) {
        return WaitFor([&] {
            const int before = reports;
            monitor.GetConsoleInfo(id);
            return (reports > before) == expectReport;
        });
    }

    // Asks for console 1's placement until it reports AShowCmd.
    bool ShowsEventually(TConsoleMonitor& monitor, std::uint32_t AShowCmd) {
        return WaitFor([&] {
            monitor.GetConsoleInfo(1);
            return last.showCmd == AShowCmd;
        });
    }

    lvtest::XDesktop desktop;
    std::shared_ptr<lvplatform::IWindowSystem> windows;
    std::string prefix;
    int reports = 0;
    WINDOWPLACEMENT last{};
};

TEST_F(ConsoleMonitorTest, ScanFindsExactlyTheIdsWithWindowsInOneToFiveHundred) {
    OpenConsole(prefix + "3");
    OpenConsole(prefix + "7");
    OpenConsole(prefix + "0");       // below the range
    OpenConsole(prefix + "501");     // above the range
    OpenConsole(prefix + "8 extra"); // only part of the title matches
    auto upper = prefix + "9";
    for (auto& ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    OpenConsole(upper); // letter case ignored

    auto monitor = Monitor(7, 7);
    EXPECT_TRUE(monitor->ConsoleRunning(3));
    EXPECT_TRUE(monitor->ConsoleRunning(7));
    EXPECT_TRUE(monitor->ConsoleRunning(9));
    EXPECT_FALSE(monitor->ConsoleRunning(0));
    EXPECT_FALSE(monitor->ConsoleRunning(501));
    EXPECT_FALSE(monitor->ConsoleRunning(8));
    EXPECT_EQ(monitor->ConsoleInstances(), (std::vector<std::uint16_t>{3, 7, 9}));

    monitor->GetConsoleInfo(0);
    monitor->GetConsoleInfo(501);
    EXPECT_EQ(reports, 0);
    monitor->GetConsoleInfo(3);
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(last.length, 44u);
}

TEST_F(ConsoleMonitorTest, BoundsAreStoredButNeverNarrowTheScan) {
    OpenConsole(prefix + "3");
    auto monitor = Monitor(7, 7);
    EXPECT_EQ(monitor->LowBound(), 7);
    EXPECT_EQ(monitor->HighBound(), 7);
    monitor->SetLowBound(-5);
    monitor->SetHighBound(1000);
    EXPECT_EQ(monitor->LowBound(), -5);
    EXPECT_EQ(monitor->HighBound(), 1000);
    monitor->SetHighBound(2);
    EXPECT_EQ(monitor->ConsoleInstances(), (std::vector<std::uint16_t>{3}));
}

TEST_F(ConsoleMonitorTest, FormatWithoutConversionListsAllFiveHundredIds) {
    SetProcessWindowTextFormat(prefix + "shared");
    OpenConsole(prefix + "shared");
    auto monitor = Monitor();
    const auto ids = monitor->ConsoleInstances();
    ASSERT_EQ(ids.size(), 500u);
    EXPECT_EQ(ids.front(), 1);
    EXPECT_EQ(ids.back(), 500);
}

TEST_F(ConsoleMonitorTest, ConsoleHiddenAtTheScanIsFoundAndReportedHidden) {
    // Hidden windows are found by their titles, as minimised ones are, though the window
    // manager no longer lists them.
    const xcb_window_t w = OpenConsole(prefix + "6");
    desktop.Hide(w);
    ASSERT_TRUE(WaitFor([&] { return !desktop.Managed(w); }));
    auto monitor = Monitor();
    EXPECT_TRUE(monitor->ConsoleRunning(6));
    EXPECT_TRUE(WaitFor([&] {
        monitor->GetConsoleInfo(6);
        return reports > 0 && last.showCmd == lvplatform::SW_HIDE;
    })) << "reports "
        << reports << " showCmd " << last.showCmd;
    desktop.Restore(w);
    EXPECT_TRUE(WaitFor([&] {
        monitor->GetConsoleInfo(6);
        return last.showCmd == SW_SHOWNORMAL;
    })) << "showCmd "
        << last.showCmd;
}

TEST_F(ConsoleMonitorTest, WindowOpenedAfterTheScanIsOnlySeenAfterARescan) {
    auto monitor = Monitor();
    OpenConsole(prefix + "7");
    monitor->GetConsoleInfo(7);
    EXPECT_EQ(reports, 0);
    EXPECT_FALSE(monitor->ConsoleRunning(7));
    EXPECT_EQ(monitor->ConsoleInstances(), (std::vector<std::uint16_t>{7}));
    EXPECT_TRUE(ReportsEventually(*monitor, 7, true));
}

TEST_F(ConsoleMonitorTest, ClosedConsoleStopsBeingReportedAndAReturningOneIsReportedAgain) {
    xcb_window_t w = OpenConsole(prefix + "5", 120, 220);
    auto monitor = Monitor();
    monitor->GetConsoleInfo(5);
    ASSERT_EQ(reports, 1);

    desktop.Close(w);
    EXPECT_TRUE(ReportsEventually(*monitor, 5, false));
    EXPECT_TRUE(monitor->ConsoleRunning(5)); // the id list is only rebuilt by a scan

    w = OpenConsole(prefix + "5", 300, 250);
    EXPECT_TRUE(ReportsEventually(*monitor, 5, true));
    EXPECT_TRUE(WaitFor([&] {
        monitor->GetConsoleInfo(5);
        return last.rcNormalPosition.left == 300 && last.rcNormalPosition.top == 250;
    })) << "reported "
        << last.rcNormalPosition.left << "," << last.rcNormalPosition.top;
}

TEST_F(ConsoleMonitorTest, RetitledWindowIsFoundByItsNewTitle) {
    const xcb_window_t w = OpenConsole(prefix + "4");
    auto monitor = Monitor();
    monitor->GetConsoleInfo(4);
    ASSERT_EQ(reports, 1);
    desktop.SetTitle(w, prefix + "4 (busy)");
    EXPECT_TRUE(ReportsEventually(*monitor, 4, false));
    desktop.SetTitle(w, prefix + "4");
    EXPECT_TRUE(ReportsEventually(*monitor, 4, true));
}

TEST_F(ConsoleMonitorTest, EmptyCallbackReportsNothingAndReplacingItTakesEffect) {
    OpenConsole(prefix + "2");
    auto monitor = Monitor();
    monitor->SetOnInstanceFound(nullptr);
    EXPECT_FALSE(monitor->OnInstanceFound());
    monitor->GetConsoleInfo(2);
    EXPECT_EQ(reports, 0);
    int other = 0;
    monitor->SetOnInstanceFound([&](const WINDOWPLACEMENT&) { ++other; });
    monitor->GetConsoleInfo(2);
    EXPECT_EQ(other, 1);
}

TEST_F(ConsoleMonitorTest, PlacementIsTheOuterFrameAndFollowsMovesMinimiseAndMaximise) {
    const xcb_window_t w = OpenConsole(prefix + "1", 100, 200);
    auto monitor = Monitor();
    ASSERT_TRUE(WaitFor([&] {
        monitor->GetConsoleInfo(1);
        return reports > 0 && desktop.FrameExtents(w)[2] > 0;
    }));
    const auto ext = desktop.FrameExtents(w); // left, right, top, bottom
    // The backend may first report the window as created but not yet mapped and framed
    // (hidden, client size); wait until its events have caught up with the frame.
    const auto width = static_cast<std::int32_t>(400 + ext[0] + ext[1]);
    const auto height = static_cast<std::int32_t>(300 + ext[2] + ext[3]);
    EXPECT_TRUE(WaitFor([&] {
        monitor->GetConsoleInfo(1);
        const auto& r = last.rcNormalPosition;
        return last.showCmd == SW_SHOWNORMAL && r.left == 100 && r.top == 200 &&
               r.right - r.left == width && r.bottom - r.top == height;
    })) << "showCmd "
        << last.showCmd << " at " << last.rcNormalPosition.left << "," << last.rcNormalPosition.top
        << " size " << last.rcNormalPosition.right - last.rcNormalPosition.left << "x"
        << last.rcNormalPosition.bottom - last.rcNormalPosition.top;
    EXPECT_EQ(last.flags, 0u);

    desktop.Move(w, 350, 260);
    EXPECT_TRUE(WaitFor([&] {
        monitor->GetConsoleInfo(1);
        return last.rcNormalPosition.left == 350 + static_cast<std::int32_t>(ext[0]) ||
               last.rcNormalPosition.left == 350;
    })) << "console move not followed: left "
        << last.rcNormalPosition.left;

    desktop.Minimise(w);
    EXPECT_TRUE(ShowsEventually(*monitor, SW_SHOWMINIMIZED)) << "showCmd " << last.showCmd;
    desktop.Restore(w);
    EXPECT_TRUE(ShowsEventually(*monitor, SW_SHOWNORMAL)) << "showCmd " << last.showCmd;

    // Hidden is not gone: the window manager drops a hidden window from its list, but
    // its placement still says it is hidden, so the toolbar can hide with it.
    desktop.Hide(w);
    EXPECT_TRUE(ShowsEventually(*monitor, lvplatform::SW_HIDE)) << "showCmd " << last.showCmd;
    desktop.Restore(w);
    EXPECT_TRUE(ShowsEventually(*monitor, SW_SHOWNORMAL)) << "showCmd " << last.showCmd;

    desktop.Maximise(w, true);
    EXPECT_TRUE(ShowsEventually(*monitor, SW_SHOWMAXIMIZED)) << "showCmd " << last.showCmd;
    EXPECT_EQ(last.flags & lvplatform::WPF_RESTORETOMAXIMIZED, lvplatform::WPF_RESTORETOMAXIMIZED);
    EXPECT_EQ(last.ptMaxPosition.x, last.rcNormalPosition.left);
    EXPECT_EQ(last.ptMaxPosition.y, last.rcNormalPosition.top);
}

TEST_F(ConsoleMonitorTest, OwnedWindowBelongsToTheConsoleFoundEvenAfterTheToolkitDropsIt) {
    const xcb_window_t console = OpenConsole(prefix + "1");
    const xcb_window_t strip = desktop.Open(prefix + "strip", 100, 170, 400, 28);
    ASSERT_TRUE(desktop.WaitManaged(strip));
    auto monitor = Monitor();
    monitor->GetConsoleInfo(1);
    EXPECT_EQ(desktop.TransientFor(strip), 0u) << "no window was given to the monitor";
    monitor->SetOwnedWindow(strip);
    monitor->GetConsoleInfo(1);
    // Written on the backend's own connection: seen on ours a moment later.
    EXPECT_TRUE(WaitFor([&] { return desktop.TransientFor(strip) == console; }));
    // A toolkit showing the window again deletes the property; a tick after the backend
    // has seen the change restores it (ticks in between send nothing to the server).
    xcb_delete_property(desktop.Connection(), strip, XCB_ATOM_WM_TRANSIENT_FOR);
    desktop.Sync();
    ASSERT_EQ(desktop.TransientFor(strip), 0u);
    EXPECT_TRUE(WaitFor([&] {
        monitor->GetConsoleInfo(1);
        return desktop.TransientFor(strip) == console;
    }));
    // Another owner written by someone else is replaced the same way.
    const xcb_window_t other = desktop.Open(prefix + "other", 600, 170, 100, 28);
    xcb_change_property(desktop.Connection(), XCB_PROP_MODE_REPLACE, strip,
                        XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, 1, &other);
    desktop.Sync();
    ASSERT_EQ(desktop.TransientFor(strip), other);
    EXPECT_TRUE(WaitFor([&] {
        monitor->GetConsoleInfo(1);
        return desktop.TransientFor(strip) == console;
    }));
    // Gone windows are refused, also once their owner was known.
    EXPECT_FALSE(windows->SetTransientFor(strip, 0));
    EXPECT_FALSE(windows->SetTransientFor(0, console));
    desktop.Close(strip);
    EXPECT_TRUE(WaitFor([&] { return !windows->SetTransientFor(strip, console); }));
}

TEST_F(ConsoleMonitorTest, BadFormatRaisesOutOfConstruction) {
    SetProcessWindowTextFormat(prefix + "%s");
    EXPECT_THROW(Monitor(), EFormatError);
    SetProcessWindowTextFormat("");
    EXPECT_THROW(Monitor(), EAssertionFailed);
}

TEST(WindowSystem, UnreachableDisplayFindsNothing) {
    auto windows = lvplatform::CreateWindowSystem(":4321");
    EXPECT_EQ(windows->FindWindow("anything"), 0u);
    WINDOWPLACEMENT p{};
    EXPECT_FALSE(windows->GetWindowPlacement(1, p));
    EXPECT_EQ(windows->FrameWidth(), 0);
    EXPECT_FALSE(windows->SetTransientFor(1, 2));
}
