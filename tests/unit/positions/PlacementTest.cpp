// Saving and restoring a window's placement over described displays: which display a
// window is on, whether a saved place still fits, the shrink rule, and the hooks.
#include "positions/ScreenPositionTracker.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace lvpositions;

namespace {

// A window described by plain numbers; it logs every change the tracker makes.
class TestWindow : public IPlacementWindow {
public:
    TestWindow(int left, int top, int width, int height, int frameX = 10, int frameY = 30)
        : left_(left), top_(top), width_(width), height_(height), frameX_(frameX), frameY_(frameY) {
    }

    std::string ComponentName() const override { return "LumivaneViewerForm"; }
    int Left() const override { return left_; }
    int Top() const override { return top_; }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    int ClientWidth() const override { return width_ - frameX_; }
    int ClientHeight() const override { return height_ - frameY_; }
    TWindowState WindowState() const override { return state_; }
    bool FullScreen() const override { return fullScreen_; }
    void SetDesignedPosition() override { log.push_back("designed"); }
    void SetPosition(int l, int t) override {
        left_ = l;
        top_ = t;
        log.push_back("position");
    }
    void SetSize(int w, int h) override {
        width_ = w;
        height_ = h;
        log.push_back("size");
    }
    void SetWindowState(TWindowState s) override {
        state_ = s;
        log.push_back("state");
    }
    void SetFullScreen(bool f) override {
        fullScreen_ = f;
        log.push_back("fullscreen");
    }

    std::vector<std::string> log;
    int left_, top_, width_, height_, frameX_, frameY_;
    TWindowState state_ = wsNormal;
    bool fullScreen_ = false;
};

// Two 1920x1080 displays side by side, each with a 40-high task bar at the bottom.
TPlacementDisplay Display(int left) {
    return {{left, 0, 1920, 1040}, {left, 0, 1920, 1080}};
}

class Placement : public ::testing::Test {
protected:
    TPlacementEnvironment Env(int displays, TPlacementRect mainWindow = {100, 0, 600, 28}) {
        TPlacementEnvironment env;
        for (int i = 0; i < displays; ++i)
            env.Displays.push_back(Display(1920 * i));
        env.MainWindow = mainWindow;
        env.DataFolder = tmp.Root();
        env.Title = "Lumivane";
        return env;
    }
    fs::path File(const std::string& target = "conn") {
        return TPositionTracker::Create(target)->FileName(tmp.Root(), "Lumivane",
                                                          "LumivaneViewerForm");
    }
    // A saved record as a previous run would have left it.
    void Saved(int monitor, float count, TPointF position, TPointF size,
               TWindowState mode = wsNormal) {
        auto r = TPositionTracker::Create("conn");
        r->SetMonitor(monitor);
        r->SetMonitorCount(count);
        r->SetPosition(position);
        r->SetFormSize(size);
        r->SetScreenMode(mode);
        r->SaveToFile(File());
    }

    TempFolder tmp;
};

struct Hooks {
    int defaults = 0;
    int customs = 0;
    IPositionTrackerPtr defaultRecord;
    TPositionTrackerEvent onDefault = [this](const IPositionTrackerPtr& t) {
        ++defaults;
        defaultRecord = t;
    };
    TPositionTrackerEvent onCustom;
};

} // namespace

TEST(GetFormMonitor, PicksTheFirstWorkAreaHoldingTheCentre) {
    const std::vector<TPlacementDisplay> two = {Display(0), Display(1920)};
    struct Row {
        const char* fault;
        TPlacementRect window;
        int expected;
    };
    const Row rows[] = {
        {"centre_on_display_0", {100, 100, 800, 600}, 0},
        {"centre_on_display_1", {2000, 100, 800, 600}, 1},
        {"centre_on_shared_edge_counts_for_display_0", {1820, 100, 200, 200}, 0},
        {"centre_on_far_right_edge_included", {3740, 100, 200, 200}, 1},
        {"centre_on_bottom_edge_of_work_area_included", {0, 940, 200, 200}, 0},
        {"centre_over_task_bar_is_no_display", {0, 1000, 200, 100}, -1},
        {"centre_left_of_everything", {-500, 100, 200, 200}, -1},
        {"odd_width_half_pixel_centre", {1819, 0, 201, 100}, 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(GetFormMonitor(row.window, two), row.expected) << row.fault;
    EXPECT_EQ(GetFormMonitor({0, 0, 10, 10}, {}), -1) << "no displays at all";
}

TEST(RoundHalfEven, Table) {
    const std::pair<double, long long> rows[] = {{1906.5, 1906}, {1015.5, 1016}, {2.5, 2},
                                                 {3.5, 4},       {-0.5, 0},      {-1.5, -2},
                                                 {2.4, 2},       {2.6, 3}};
    for (auto [in, out] : rows)
        EXPECT_EQ(RoundHalfEven(in), out) << in;
}

TEST_F(Placement, SaveCapturesWindowDisplaysAndHook) {
    TestWindow w(2000, 100, 800, 600);
    w.state_ = wsMaximized;
    TPositionTracker::SaveFormPosition(w, "conn", Env(2, {2500, 0, 600, 28}),
                                       [](const IPositionTrackerPtr& t) {
                                           t->SetZoom(0.75f);
                                           t->SetFitToWidth(true);
                                       });
    auto r = TPositionTracker::LoadFromFile(File(), "");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Position(), (TPointF{2000, 100}));
    EXPECT_EQ(r->FormSize(), (TPointF{800, 600}));
    EXPECT_EQ(r->ScreenMode(), wsMaximized);
    EXPECT_EQ(r->Monitor(), 1);
    EXPECT_EQ(r->MainformMonitor(), 1);
    EXPECT_EQ(r->MonitorCount(), 2.0f);
    EXPECT_EQ(r->DesktopSize(), (TPointF{1920, 1080}));
    EXPECT_EQ(r->Zoom(), 0.75f);
    EXPECT_TRUE(r->FitToWidth());
    EXPECT_EQ(r->TargetName(), "conn");
    EXPECT_TRUE(w.log.empty()) << "saving must not touch the window";
}

TEST_F(Placement, SaveOverTaskBarStillWritesWithoutDisplay) {
    TestWindow w(0, 1000, 200, 100);
    w.state_ = wsMinimized;
    TPositionTracker::SaveFormPosition(w, "conn", Env(1, {-900, -900, 10, 10}), nullptr);
    auto r = TPositionTracker::LoadFromFile(File(), "");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Monitor(), -1);
    EXPECT_EQ(r->MainformMonitor(), -1);
    EXPECT_EQ(r->DesktopSize(), (TPointF{0, 0}));
    EXPECT_EQ(r->ScreenMode(), wsNormal) << "a minimised window is saved as normal";
}

TEST_F(Placement, SaveFailureIsSilent) {
    // The placement folder's place is taken by a file: the write fails, Save returns.
    std::ofstream(tmp.Root() / "Lumivane") << "x";
    TestWindow w(0, 0, 200, 100);
    EXPECT_NO_THROW(TPositionTracker::SaveFormPosition(w, "conn", Env(1), nullptr));
}

// One row per load case: what was saved, the displays now, the window as designed, and
// where it must end up (or that the default hook placed it instead).
struct LoadRow {
    const char* fault;
    int savedMonitor;
    float savedCount;
    TPointF savedPosition;
    TPointF savedSize;
    int displaysNow;
    TPlacementRect designed;
    int frameX, frameY;
    TPlacementRect mainWindow;
    bool restored;
    TPlacementRect expected; // the window afterwards
};

class LoadCase : public Placement, public ::testing::WithParamInterface<LoadRow> {};

TEST_P(LoadCase, Restores) {
    const LoadRow& row = GetParam();
    Saved(row.savedMonitor, row.savedCount, row.savedPosition, row.savedSize, wsMaximized);
    TestWindow w(row.designed.Left, row.designed.Top, row.designed.Width, row.designed.Height,
                 row.frameX, row.frameY);
    Hooks h;
    h.onCustom = [&h](const IPositionTrackerPtr&) { ++h.customs; };
    TPositionTracker::LoadFormPosition(w, "conn", Env(row.displaysNow, row.mainWindow), h.onDefault,
                                       h.onCustom);
    EXPECT_EQ(h.defaults, row.restored ? 0 : 1);
    EXPECT_EQ(h.customs, row.restored ? 1 : 0);
    EXPECT_EQ((TPlacementRect{w.Left(), w.Top(), w.Width(), w.Height()}), row.expected);
    if (row.restored) {
        EXPECT_EQ(w.state_, wsMaximized);
    } else {
        EXPECT_TRUE(w.log.empty()) << "the default path leaves the window to the hook";
        ASSERT_TRUE(h.defaultRecord);
        EXPECT_EQ(h.defaultRecord->Position(), row.savedPosition) << "the hook sees what was read";
    }
}

const TPlacementRect Designed{0, 0, 600, 568};
const TPlacementRect MainOn0{100, 0, 600, 28};
const TPlacementRect MainOn1{2100, 0, 600, 28};
const TPlacementRect MainNowhere{-5000, 0, 600, 28};

INSTANTIATE_TEST_SUITE_P(
    Table, LoadCase,
    ::testing::Values(
        LoadRow{"same_displays_back_on_display_1",
                1,
                2,
                {2000, 100},
                {800, 600},
                2,
                Designed,
                10,
                30,
                MainOn0,
                true,
                {2000, 100, 800, 600}},
        LoadRow{"one_display_fewer_place_on_removed_display_fails",
                1,
                2,
                {2000, 100},
                {800, 600},
                1,
                Designed,
                10,
                30,
                MainOn0,
                false,
                Designed},
        LoadRow{"one_display_fewer_place_still_on_remaining_display",
                1,
                2,
                {100, 100},
                {800, 600},
                1,
                Designed,
                10,
                30,
                MainOn0,
                true,
                {100, 100, 800, 600}},
        LoadRow{"more_displays_than_saved_tests_designed_display",
                1,
                1,
                {2000, 100},
                {800, 600},
                2,
                Designed,
                10,
                30,
                MainOn0,
                false,
                Designed},
        LoadRow{"designed_width_past_right_edge_fails_though_saved_width_fits",
                0,
                1,
                {1500, 100},
                {300, 300},
                1,
                Designed,
                10,
                30,
                MainOn0,
                false,
                Designed},
        LoadRow{"designed_height_past_bottom_fails",
                0,
                1,
                {0, 500},
                {300, 300},
                1,
                Designed,
                10,
                30,
                MainOn0,
                false,
                Designed},
        LoadRow{"place_left_of_work_area_fails",
                0,
                1,
                {-1, 0},
                {300, 300},
                1,
                Designed,
                10,
                30,
                MainOn0,
                false,
                Designed},
        LoadRow{"exact_fit_to_right_and_bottom_edges_passes",
                0,
                1,
                {1320, 472},
                {600, 568},
                1,
                Designed,
                10,
                30,
                MainOn0,
                true,
                {1320, 472, 600, 568}},
        LoadRow{"saved_index_too_large_uses_designed_display",
                5,
                2,
                {100, 100},
                {800, 600},
                2,
                Designed,
                10,
                30,
                MainOn0,
                true,
                {100, 100, 800, 600}},
        LoadRow{"designed_centre_on_no_display_uses_default",
                1,
                2,
                {100, 100},
                {800, 600},
                1,
                {5000, 0, 600, 568},
                10,
                30,
                MainOn0,
                false,
                {5000, 0, 600, 568}},
        LoadRow{"form_size_10_keeps_designed_size",
                0,
                1,
                {50, 60},
                {10, 500},
                1,
                Designed,
                10,
                30,
                MainOn0,
                true,
                {50, 60, 600, 568}},
        LoadRow{"form_size_height_10_keeps_designed_size",
                0,
                1,
                {50, 60},
                {500, 10},
                1,
                Designed,
                10,
                30,
                MainOn0,
                true,
                {50, 60, 600, 568}},
        LoadRow{"form_size_11_is_applied",
                0,
                1,
                {50, 60},
                {11, 11},
                1,
                Designed,
                10,
                30,
                MainOn0,
                true,
                {50, 60, 11, 11}},
        LoadRow{"fractional_values_truncated",
                0,
                1,
                {50.9f, 60.9f},
                {400.9f, 300.9f},
                1,
                Designed,
                10,
                30,
                MainOn0,
                true,
                {50, 60, 400, 300}},
        // 3840 - 1930 - 5/2 - 1 = 1906.5 -> 1906; 1040 - 10 - 27/2 - 1 = 1015.5 -> 1016.
        LoadRow{"wider_and_taller_than_work_area_shrink_halves_to_even",
                1,
                2,
                {1930, 10},
                {2000, 1100},
                2,
                {1920, 0, 600, 568},
                5,
                27,
                MainOn0,
                true,
                {1930, 10, 1906, 1016}},
        LoadRow{"reaching_past_edge_but_not_wider_is_left_alone",
                0,
                1,
                {1000, 10},
                {1500, 500},
                1,
                Designed,
                10,
                30,
                MainOn0,
                true,
                {1000, 10, 1500, 500}},
        LoadRow{"negative_monitor_fits_into_main_window_display",
                -1,
                2,
                {2000, 100},
                {2000, 500},
                2,
                {1920, 0, 600, 568},
                5,
                30,
                MainOn1,
                true,
                {2000, 100, 1836, 500}},
        LoadRow{"negative_monitor_main_window_nowhere_fits_tested_display",
                -1,
                2,
                {2000, 100},
                {2000, 500},
                2,
                {1920, 0, 600, 568},
                5,
                30,
                MainNowhere,
                true,
                {2000, 100, 1836, 500}},
        LoadRow{"saved_display_gone_fits_tested_display",
                1,
                2,
                {100, 100},
                {2500, 500},
                1,
                Designed,
                10,
                30,
                MainOn0,
                true,
                {100, 100, 1814, 500}}),
    [](const ::testing::TestParamInfo<LoadRow>& row) { return std::string(row.param.fault); });

TEST_F(Placement, ApplyOrderAndHookBeforeState) {
    Saved(0, 1, {50, 60}, {700, 500}, wsMaximized);
    TestWindow w(0, 0, 600, 568);
    std::vector<std::string>* log = &w.log;
    TPositionTracker::LoadFormPosition(
        w, "conn", Env(1), nullptr,
        [log](const IPositionTrackerPtr&) { log->push_back("custom"); });
    EXPECT_EQ(w.log, (std::vector<std::string>{"designed", "position", "size", "custom", "state",
                                               "fullscreen"}));
}

TEST_F(Placement, MinimisedWindowComesBackNormal) {
    TestWindow saved(100, 100, 600, 568);
    saved.state_ = wsMinimized;
    saved.fullScreen_ = true;
    TPositionTracker::SaveFormPosition(saved, "conn", Env(1), nullptr);
    TestWindow w(0, 0, 600, 568);
    w.state_ = wsMinimized;
    TPositionTracker::LoadFormPosition(w, "conn", Env(1), nullptr, nullptr);
    EXPECT_EQ(w.state_, wsNormal);
    EXPECT_TRUE(w.fullScreen_);
    EXPECT_EQ(w.Left(), 100);

    // A file that says minimised (written by hand or by another program) must not bring
    // the window back minimised: it would stay out of sight when it is shown.
    std::ofstream(File(), std::ios::binary | std::ios::trunc)
        << R"({"monitor":0,"monitorCount":1,"position":[[100,100],100,100],)"
        << R"("screenMode":"wsMinimized"})";
    TestWindow fromFile(0, 0, 600, 568);
    TPositionTracker::LoadFormPosition(fromFile, "conn", Env(1), nullptr, nullptr);
    EXPECT_EQ(fromFile.Left(), 100);
    EXPECT_EQ(fromFile.state_, wsNormal);
}

TEST_F(Placement, CustomPropertiesSurviveSaveAndLoad) {
    TestWindow saved(300, 200, 640, 480);
    TPositionTracker::SaveFormPosition(saved, "conn", Env(2), [](const IPositionTrackerPtr& t) {
        t->SetZoom(0.75f);
        t->SetFitToWidth(true);
    });
    TestWindow w(0, 0, 600, 568);
    float zoom = -1;
    bool fit = false;
    TPositionTracker::LoadFormPosition(w, "conn", Env(2), nullptr,
                                       [&](const IPositionTrackerPtr& t) {
                                           zoom = t->Zoom();
                                           fit = t->FitToWidth();
                                       });
    EXPECT_EQ(zoom, 0.75f);
    EXPECT_TRUE(fit);
    EXPECT_EQ((TPlacementRect{w.Left(), w.Top(), w.Width(), w.Height()}),
              (TPlacementRect{300, 200, 640, 480}));
}

TEST_F(Placement, NoFileGivesDefaultHookARecordWithOnlyTheTargetName) {
    TestWindow w(0, 0, 600, 568);
    Hooks h;
    int customs = 0;
    TPositionTracker::LoadFormPosition(w, "conn", Env(2), h.onDefault,
                                       [&](const IPositionTrackerPtr&) { ++customs; });
    ASSERT_EQ(h.defaults, 1);
    EXPECT_EQ(customs, 0);
    EXPECT_TRUE(w.log.empty());
    const auto& r = *h.defaultRecord;
    EXPECT_EQ(r.TargetName(), "conn");
    EXPECT_EQ(r.Monitor(), 0);
    EXPECT_EQ(r.MonitorCount(), 0.0f);
    EXPECT_EQ(r.Position(), (TPointF{0, 0}));
    EXPECT_EQ(r.FormSize(), (TPointF{0, 0}));
    EXPECT_EQ(r.Zoom(), 0.0f);
    EXPECT_FALSE(r.FitToWidth());
    EXPECT_EQ(r.ScreenMode(), wsNormal);
    // Unassigned hooks are skipped without error.
    EXPECT_NO_THROW(TPositionTracker::LoadFormPosition(w, "conn", Env(2), nullptr, nullptr));
}

TEST_F(Placement, UnusableFileCountsAsNoPlacement) {
    for (const std::string text : {"", "garbage", "[1]", "null", "\xEF\xBB\xBF", "{\"monitor\":"}) {
        SCOPED_TRACE(text);
        fs::create_directories(File().parent_path());
        std::ofstream(File(), std::ios::binary | std::ios::trunc) << text;
        TestWindow w(0, 0, 600, 568);
        Hooks h;
        TPositionTracker::LoadFormPosition(w, "conn", Env(1), h.onDefault, nullptr);
        EXPECT_EQ(h.defaults, 1);
        ASSERT_TRUE(h.defaultRecord);
        EXPECT_EQ(h.defaultRecord->TargetName(), "conn");
        EXPECT_TRUE(w.log.empty());
    }
}

TEST_F(Placement, EmptyTargetNameUsesTrackedFormsFile) {
    TestWindow saved(300, 200, 640, 480);
    TPositionTracker::SaveFormPosition(saved, "", Env(1), nullptr);
    EXPECT_TRUE(fs::is_regular_file(tmp.Root() / "Lumivane" / "screen" /
                                    "TrackedForms.LumivaneViewerForm.json"));
    TestWindow w(0, 0, 600, 568);
    TPositionTracker::LoadFormPosition(w, "", Env(1), nullptr, nullptr);
    EXPECT_EQ(w.Left(), 300);
}
