// The console monitor's rules on a desktop held in memory (no X server): which ids a scan
// finds, when the list is rebuilt, what is reported and what a report costs.
#include "FakeWindowSystem.h"
#include "toolbar/ProcessWindowMonitor.ConsoleMonitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

using lvplatform::WINDOWPLACEMENT;

namespace {

class ConsoleMonitorRules : public testing::Test {
protected:
    void SetUp() override { SetProcessWindowTextFormat("Console %d"); }
    void TearDown() override { SetProcessWindowTextFormat(""); }

    std::unique_ptr<TConsoleMonitor> Monitor(std::int32_t low = 1, std::int32_t high = 1) {
        return std::make_unique<TConsoleMonitor>(
            [this](const WINDOWPLACEMENT& p) { reports.push_back(p); }, low, high, desktop);
    }

    std::shared_ptr<TFakeWindowSystem> desktop = std::make_shared<TFakeWindowSystem>();
    std::vector<WINDOWPLACEMENT> reports;
};

} // namespace

TEST_F(ConsoleMonitorRules, ScanFindsTheIdsOneToFiveHundredWithAWindowAscending) {
    for (const char* title : {"Console 9", "Console 3", "CONSOLE 7", "Console 0", "Console 501",
                              "Console 8 (2)", "Console 3", "Console 65535"})
        desktop->Open(title);
    auto monitor = Monitor();
    EXPECT_EQ(desktop->Lookups, 500) << "a scan is one lookup per id";
    const std::vector<std::uint16_t> found = {3, 7, 9};
    for (std::uint16_t id : std::vector<std::uint16_t>{0, 1, 3, 7, 8, 9, 500, 501, 65535})
        EXPECT_EQ(monitor->ConsoleRunning(id),
                  std::find(found.begin(), found.end(), id) != found.end())
            << id;
    EXPECT_EQ(monitor->ConsoleInstances(), found) << "ascending, each id once";
}

TEST_F(ConsoleMonitorRules, IdsOutsideTheRangeAreNeverReported) {
    desktop->Open("Console 0");
    desktop->Open("Console 501");
    auto monitor = Monitor(0, 501);
    const int before = desktop->Lookups;
    monitor->GetConsoleInfo(0);
    monitor->GetConsoleInfo(501);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(desktop->Lookups, before) << "an id the scan did not find is not looked up";
}

TEST_F(ConsoleMonitorRules, WindowsOpenedLaterAreSeenOnlyAfterARescan) {
    auto monitor = Monitor();
    desktop->Open("Console 7");
    monitor->GetConsoleInfo(7);
    EXPECT_TRUE(reports.empty());
    EXPECT_FALSE(monitor->ConsoleRunning(7));
    EXPECT_EQ(monitor->ConsoleInstances(), std::vector<std::uint16_t>{7});
    monitor->GetConsoleInfo(7);
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(ConsoleMonitorRules, ReportsFollowTheWindowWhileItComesAndGoes) {
    const auto window = desktop->Open("Console 5", TFakeWindowSystem::Normal(10, 20, 300, 200));
    auto monitor = Monitor();
    monitor->GetConsoleInfo(5);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].length, 44u);
    EXPECT_EQ(reports[0].rcNormalPosition.left, 10);
    EXPECT_EQ(reports[0].rcNormalPosition.bottom, 220);

    // Each report reads the window afresh.
    WINDOWPLACEMENT minimised = TFakeWindowSystem::Normal(50, 60, 300, 200);
    minimised.showCmd = lvplatform::SW_SHOWMINIMIZED;
    desktop->SetPlacement(window, minimised);
    monitor->GetConsoleInfo(5);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].showCmd, lvplatform::SW_SHOWMINIMIZED);
    EXPECT_EQ(reports[1].rcNormalPosition.left, 50);

    // Closed: nothing is reported, though the id stays listed until the next scan.
    desktop->Close(window);
    monitor->GetConsoleInfo(5);
    EXPECT_EQ(reports.size(), 2u);
    EXPECT_TRUE(monitor->ConsoleRunning(5));

    // Retitled or reopened under the same title: found by title again.
    const auto again = desktop->Open("console 5", TFakeWindowSystem::Normal(70, 80, 300, 200));
    monitor->GetConsoleInfo(5);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[2].rcNormalPosition.left, 70);
    desktop->SetTitle(again, "Console 5 (busy)");
    monitor->GetConsoleInfo(5);
    EXPECT_EQ(reports.size(), 3u);
}

TEST_F(ConsoleMonitorRules, AReportCostsOneLookupAndAnEmptyCallbackStillLooks) {
    desktop->Open("Console 2");
    auto monitor = Monitor();
    const int lookups = desktop->Lookups;
    monitor->GetConsoleInfo(2);
    EXPECT_EQ(desktop->Lookups, lookups + 1);
    EXPECT_EQ(reports.size(), 1u);

    monitor->SetOnInstanceFound(nullptr);
    EXPECT_FALSE(monitor->OnInstanceFound());
    const int reads = desktop->PlacementReads;
    monitor->GetConsoleInfo(2);
    EXPECT_EQ(desktop->Lookups, lookups + 2);
    EXPECT_EQ(desktop->PlacementReads, reads + 1);
    EXPECT_EQ(reports.size(), 1u);

    int other = 0;
    monitor->SetOnInstanceFound([&](const WINDOWPLACEMENT&) { ++other; });
    monitor->GetConsoleInfo(2);
    EXPECT_EQ(other, 1);
}

TEST_F(ConsoleMonitorRules, FormatWithoutConversionListsEveryId) {
    SetProcessWindowTextFormat("Terminal");
    desktop->Open("terminal");
    auto monitor = Monitor();
    const auto ids = monitor->ConsoleInstances();
    ASSERT_EQ(ids.size(), 500u);
    EXPECT_EQ(ids.front(), 1);
    EXPECT_EQ(ids.back(), 500);
}

TEST_F(ConsoleMonitorRules, BoundsAreKeptButNeverNarrowTheScan) {
    desktop->Open("Console 3");
    desktop->Open("Console 400");
    auto monitor = Monitor(7, 7);
    EXPECT_EQ(monitor->LowBound(), 7);
    EXPECT_EQ(monitor->HighBound(), 7);
    monitor->SetLowBound(-5);
    monitor->SetHighBound(2);
    EXPECT_EQ(monitor->LowBound(), -5);
    EXPECT_EQ(monitor->HighBound(), 2);
    EXPECT_EQ(monitor->ConsoleInstances(), (std::vector<std::uint16_t>{3, 400}));
}

TEST_F(ConsoleMonitorRules, FormatErrorsLeaveConstruction) {
    SetProcessWindowTextFormat("Console %s");
    EXPECT_THROW(Monitor(), EFormatError);
    SetProcessWindowTextFormat("");
    EXPECT_THROW(Monitor(), EAssertionFailed);
    EXPECT_EQ(desktop->Lookups, 0) << "nothing is looked up with a title that cannot be made";
}
