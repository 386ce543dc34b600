// The view controller against real shared-memory blocks, with its clock driven by the test
// so the heartbeat rules are checked exactly and without waiting.
#include "app/CommandLine.h"
#include "app/Orlenza.CustomController.h"
#include "controlfile/ImageViewer.ControlFile.h"
#include "images/Orlenza.Types.h"
#include "platform/SharedMemory.h"
#include "viewcontrol/Orlenza.ViewController.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>

using namespace std::chrono_literals;

namespace {

std::string UniqueName(const char* tag) {
    static std::atomic<int> counter{0};
    return std::string("lvtest-vc-") + tag + "-" + std::to_string(getpid()) + "-" +
           std::to_string(counter++);
}

// A block as a host creates it.
struct HostBlock {
    explicit HostBlock(const char* tag,
                       const std::string& json = R"({"Source":"/src","Pattern":"ABC..."})")
        : name(UniqueName(tag)), view(lvplatform::CreateSharedMemory(name, lvcontrol::kBlockSize)) {
        std::memcpy(bytes() + lvcontrol::kImageInformation, json.c_str(), json.size() + 1);
    }
    ~HostBlock() { lvplatform::RemoveSharedMemory(name); }
    std::uint8_t* bytes() const { return view->Data(); }
    std::uint8_t& at(std::size_t offset) const { return bytes()[offset]; }
    std::string name;
    std::unique_ptr<lvplatform::ISharedMemoryView> view;
};

// Records what the controller asks of a window.
struct RecordingForm : IOrlenzaForm {
    std::vector<std::string> searchTexts, newImages;
    int shown = 0, closed = 0;
    void SetSearchText(const std::string& t) override { searchTexts.push_back(t); }
    void NewImage(const std::string& t) override { newImages.push_back(t); }
    void ShowForm() override { ++shown; }
    void CloseForm() override { ++closed; }
};

class ViewControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        now = std::chrono::steady_clock::time_point{} + 1h;
        controller = std::make_shared<TOrlenzaViewController>([this] { return now; });
        LvTerminalToolBarForm = &toolbar;
        LumivaneViewerForm = &viewer;
    }
    void TearDown() override {
        TOrlenzaCustomerController::ReleaseSharedControlFile();
        LvTerminalToolBarForm = nullptr;
        LumivaneViewerForm = nullptr;
    }
    // One poll 300 ms after the previous one, as the state timer does.
    TImageViewerCommand Tick(std::chrono::milliseconds step = 300ms) {
        now += step;
        return controller->NewCommand();
    }

    std::chrono::steady_clock::time_point now;
    std::shared_ptr<TOrlenzaViewController> controller;
    RecordingForm toolbar, viewer;
};

TEST_F(ViewControllerTest, OpeningWritesOpeningStateAndFirstHeartbeat) {
    HostBlock block("open");
    block.at(lvcontrol::kCommandHeartBeat) = 77;
    controller->SetControllerFileID(block.name);
    EXPECT_EQ(block.at(lvcontrol::kViewState), vsOpening);
    EXPECT_EQ(block.at(lvcontrol::kViewerHeartBeat), 1);
    // The first poll within 200 ms of opening writes no heartbeat but acknowledges.
    block.at(lvcontrol::kCommandState) = vcUnknown;
    EXPECT_EQ(Tick(150ms), vcUnknown);
    EXPECT_EQ(block.at(lvcontrol::kViewerHeartBeat), 1);
    EXPECT_EQ(block.at(lvcontrol::kCommandState), vcHandled);
    EXPECT_EQ(Tick(50ms), vcHandled);
    EXPECT_EQ(block.at(lvcontrol::kViewerHeartBeat), 2);
}

TEST_F(ViewControllerTest, HeartbeatRunsOneTo254ThenWrapsToZeroNever255) {
    HostBlock block("wrap");
    controller->SetControllerFileID(block.name);
    std::uint8_t hostBeat = 0;
    std::vector<int> seen;
    for (int i = 0; i < 256; ++i) {
        block.at(lvcontrol::kCommandHeartBeat) = ++hostBeat; // a live host
        Tick(200ms);
        seen.push_back(block.at(lvcontrol::kViewerHeartBeat));
    }
    EXPECT_EQ(seen[252], 254) << "253 heartbeats after the initial 1";
    EXPECT_EQ(seen[253], 0);
    EXPECT_EQ(seen[254], 1);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 255), 0);
}

TEST_F(ViewControllerTest, HostHeartbeatIsCheckedOnEvery25thViewerHeartbeat) {
    struct Case {
        const char* name;
        int changeUntil; // the host byte changes at heartbeats 1..changeUntil, then stays
        TImageViewerCommand pendingAt25;
        bool closes;
    };
    const Case cases[] = {
        {"live host is never taken as stopped", 1000, vcUnknown, false},
        {"byte equal at 24th and 25th heartbeat stops", 24, vcUnknown, true},
        {"byte changed at the 25th heartbeat is alive", 25, vcUnknown, false},
        {"a pending command skips the check", 0, vcHide, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HostBlock block("beat");
        controller->SetControllerFileID(block.name);
        TImageViewerCommand result = vcUnknown;
        for (int beat = 1; beat <= 25; ++beat) {
            if (beat <= c.changeUntil)
                block.at(lvcontrol::kCommandHeartBeat) = static_cast<std::uint8_t>(beat);
            if (beat == 25)
                block.at(lvcontrol::kCommandState) = c.pendingAt25;
            result = Tick();
            if (beat < 25) {
                ASSERT_NE(result, vcClose) << "closed early at heartbeat " << beat;
            }
        }
        EXPECT_EQ(result == vcClose, c.closes);
        if (c.pendingAt25 != vcUnknown) {
            EXPECT_EQ(result, c.pendingAt25);
            // The next heartbeat clears the flag again: the missed check is not repeated.
            EXPECT_EQ(Tick(), vcHandled);
        }
    }
}

TEST_F(ViewControllerTest, BlockWithoutHostClosesAfter25Heartbeats) {
    controller->SetControllerFileID(UniqueName("missing"));
    ASSERT_NE(controller->ControlFile(), nullptr);
    EXPECT_FALSE(controller->ControlFile()->CanRead());
    for (int beat = 1; beat < 25; ++beat)
        ASSERT_EQ(Tick(), vcUnknown);
    EXPECT_EQ(Tick(), vcClose);
}

TEST_F(ViewControllerTest, CommandsAreAcknowledgedAndActedOn) {
    struct Case {
        const char* name;
        std::uint8_t command;
        TImageViewerState stateBefore;
        TImageViewerState stateAfter;
        int closes;
    };
    const Case cases[] = {
        {"connected lifts unknown to idle", vcConnected, vsUnknown, vsIdle, 0},
        {"connected leaves open alone", vcConnected, vsOpen, vsOpen, 0},
        {"connected leaves closed alone", vcConnected, vsClosed, vsClosed, 0},
        {"terminate closes the main window", vcTerminate, vsOpen, vsOpen, 1},
        {"unknown byte 7 has no effect", 7, vsOpen, vsOpen, 0},
        {"unknown byte 200 has no effect", 200, vsIdle, vsIdle, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HostBlock block("cmd");
        controller->SetControllerFileID(block.name);
        toolbar.closed = 0;
        block.at(lvcontrol::kViewState) = c.stateBefore;
        block.at(lvcontrol::kCommandState) = c.command;
        EXPECT_EQ(Tick(), c.command);
        EXPECT_EQ(block.at(lvcontrol::kCommandState), vcHandled);
        EXPECT_EQ(block.at(lvcontrol::kViewState), c.stateAfter);
        EXPECT_EQ(toolbar.closed, c.closes);
    }
}

TEST_F(ViewControllerTest, StateTickShowsHidesAndClosesThroughTheWindows) {
    HostBlock block("tick");
    std::memcpy(block.bytes() + lvcontrol::kSearchText, "ABC123", 7);
    controller->SetControllerFileID(block.name);
    int hidden = 0;
    controller->SetOnCloseImageAndHide([&](void*) { ++hidden; });
    auto tick = controller->StateEvent();

    block.at(lvcontrol::kCommandState) = vcOpen;
    now += 300ms;
    tick(nullptr);
    EXPECT_EQ(viewer.shown, 1);
    EXPECT_EQ(toolbar.searchTexts, (std::vector<std::string>{"ABC123", "ABC123"}));

    block.at(lvcontrol::kCommandState) = vcHide;
    now += 300ms;
    tick(nullptr);
    EXPECT_EQ(hidden, 1);
    EXPECT_EQ(toolbar.closed, 0);

    block.at(lvcontrol::kCommandState) = vcClose;
    now += 300ms;
    tick(nullptr);
    EXPECT_EQ(toolbar.closed, 1);
}

TEST_F(ViewControllerTest, SearchTextLengthIsCheckedAgainstPatternWithoutTrailingDots) {
    struct Case {
        const char* pattern;
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"ABC...", "abc", true},
        {"ABC...", "ab", false},
        {"...", "anything", false},
        {"", "anything", false},
        {"A.B.", "xyz", true}, // only trailing dots go
        {"A.B.", "xy", false},
        {"ABCD", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", true}, // 4 UTF-16 units in 8 bytes
        {"ABCD", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80", true}, // two surrogate pairs
        {"ABCDE", "\xF0\x9F\x98\x80\xF0\x9F\x98\x80", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " / " + c.text);
        HostBlock block("len", std::string(R"({"Source":"/s","Pattern":")") + c.pattern + "\"}");
        controller->SetControllerFileID(block.name);
        EXPECT_EQ(controller->SearchTextIsValidForSearch(c.text), c.valid);
    }
}

TEST_F(ViewControllerTest, SourcesAreSourceThenAlternatesAndEmptyWithoutSource) {
    {
        HostBlock block("src", R"({"Source":"/a","AlternateSources":["/b","/a"],"Pattern":"X"})");
        controller->SetControllerFileID(block.name);
        EXPECT_EQ(controller->Sources(), (std::vector<std::string>{"/a", "/b", "/a"}));
    }
    auto other = std::make_shared<TOrlenzaViewController>();
    HostBlock block("nosrc", R"({"Source":"","AlternateSources":["/b"],"Pattern":"X"})");
    other->SetControllerFileID(block.name);
    EXPECT_TRUE(other->Sources().empty());
}

TEST_F(ViewControllerTest, WithoutBlockEverythingDegrades) {
    EXPECT_EQ(controller->NewCommand(), vcUnknown);
    EXPECT_FALSE(controller->SearchTextIsValidForSearch("12345"));
    EXPECT_TRUE(controller->ImagesFor("12345").empty());
    EXPECT_EQ(controller->SearchText(), "");
    controller->ChangeViewState(vsOpen); // must not crash
}

TEST(ControlFileSlot, ReplacingDestroysThePreviousObjectExactlyOnce) {
    HostBlock first("slot1"), second("slot2");
    TOrlenzaViewController a, b;
    a.SetControlFile(std::make_unique<TMemoryMappedControlFile>(first.name));
    EXPECT_EQ(b.ControlFile(), a.ControlFile()) << "every controller sees the one shared object";
    EXPECT_EQ(first.at(lvcontrol::kViewState), vsOpening);

    b.SetControlFile(std::make_unique<TMemoryMappedControlFile>(second.name));
    EXPECT_EQ(first.at(lvcontrol::kViewState), vsClosed);
    first.at(lvcontrol::kViewState) = 99; // a second destruction would overwrite this
    a.SetControlFile(nullptr);
    EXPECT_EQ(a.ControlFile(), nullptr);
    EXPECT_EQ(second.at(lvcontrol::kViewState), vsClosed);
    EXPECT_EQ(first.at(lvcontrol::kViewState), 99);
    TOrlenzaCustomerController::ReleaseSharedControlFile();
    EXPECT_EQ(first.at(lvcontrol::kViewState), 99);
}

TEST(ShowNewImage, DoesNothingBeforeTheViewerWindowExists) {
    LumivaneViewerForm = nullptr;
    TOrlenzaViewController controller;
    controller.ShowNewImage("12345");
    RecordingForm viewer;
    LumivaneViewerForm = &viewer;
    controller.ShowNewImage("12345");
    EXPECT_EQ(viewer.newImages, std::vector<std::string>{"12345"});
    LumivaneViewerForm = nullptr;
}

TEST(CommandLine, ArgumentTable) {
    struct Case {
        std::vector<std::string> args;
        std::string search;
        bool maximized;
    };
    const Case cases[] = {
        {{"12345"}, "12345", false},
        {{"12345", "Screen", "max"}, "12345", true},
        {{"12345", "screen", "MAX"}, "12345", false},
        {{"12345", "fullscreen", "max"}, "12345", true},
        {{"SCREEN", "max"}, "", false},
        {{"screen", "screen", "max"}, "", false},
        {{}, "", false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{"lumivane-viewer", "block"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const TCommandLine parsed = ParseCommandLine(argv);
        EXPECT_EQ(parsed.StartupSearchText, c.search) << ::testing::PrintToString(c.args);
        EXPECT_EQ(parsed.StartMaximized, c.maximized) << ::testing::PrintToString(c.args);
    }
}

} // namespace
