// The view controller against real shared-memory blocks, with its clock driven by the test
// so the heartbeat rules are checked exactly and without waiting.
#include "app/Orlenza.CustomController.h"
#include "controlfile/ImageViewer.ControlFile.h"
#include "images/Orlenza.Types.h"
#include "platform/SharedMemory.h"
#include "tests/support/HostBlock.h"
#include "viewcontrol/Orlenza.ViewController.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

// A block as a host creates it, with an image information record.
struct HostBlock : lvtest::HostBlock {
    explicit HostBlock(const char* tag,
                       const std::string& json = R"({"Source":"/src","Pattern":"ABC..."})")
        : lvtest::HostBlock(std::string("vc-") + tag) {
        PutText(lvcontrol::kImageInformation, json);
    }
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
    block.At(lvcontrol::kCommandHeartBeat) = 77;
    controller->SetControllerFileID(block.Name());
    EXPECT_EQ(block.At(lvcontrol::kViewState), vsOpening);
    EXPECT_EQ(block.At(lvcontrol::kViewerHeartBeat), 1);
    // The first poll within 200 ms of opening writes no heartbeat but acknowledges.
    block.At(lvcontrol::kCommandState) = vcUnknown;
    EXPECT_EQ(Tick(150ms), vcUnknown);
    EXPECT_EQ(block.At(lvcontrol::kViewerHeartBeat), 1);
    EXPECT_EQ(block.At(lvcontrol::kCommandState), vcHandled);
    EXPECT_EQ(Tick(50ms), vcHandled);
    EXPECT_EQ(block.At(lvcontrol::kViewerHeartBeat), 2);
}

TEST_F(ViewControllerTest, HeartbeatRunsOneTo254ThenWrapsToZeroNever255) {
    HostBlock block("wrap");
    controller->SetControllerFileID(block.Name());
    std::uint8_t hostBeat = 0;
    std::vector<int> seen;
    for (int i = 0; i < 256; ++i) {
        block.At(lvcontrol::kCommandHeartBeat) = ++hostBeat; // a live host
        Tick(200ms);
        seen.push_back(block.At(lvcontrol::kViewerHeartBeat));
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
        controller->SetControllerFileID(block.Name());
        TImageViewerCommand result = vcUnknown;
        for (int beat = 1; beat <= 25; ++beat) {
            if (beat <= c.changeUntil)
                block.At(lvcontrol::kCommandHeartBeat) = static_cast<std::uint8_t>(beat);
            if (beat == 25)
                block.At(lvcontrol::kCommandState) = c.pendingAt25;
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
    controller->SetControllerFileID("lvtest-vc-missing-" + std::to_string(getpid()));
    ASSERT_NE(controller->ControlFile(), nullptr);
    EXPECT_FALSE(controller->ControlFile()->CanRead());
    for (int beat = 1; beat < 25; ++beat)
        ASSERT_EQ(Tick(), vcUnknown);
    EXPECT_EQ(Tick(), vcClose);
}

// A host may truncate its block and grow it back (re-creating it with O_TRUNC does both).
// The ticks go on without faulting; a block that stays short reads a standing host
// heartbeat, so the viewer ends by the heartbeat rule; one that is whole again in time
// keeps the viewer, which shows its state and heartbeat there again.
TEST_F(ViewControllerTest, StateTicksGoOnThroughAShrunkBlock) {
    struct Case {
        const char* name;
        int shortTicks; // ticks while the block has 0 bytes; then it is whole again
        bool closes;
    };
    const Case cases[] = {
        {"a block that stays short ends the viewer by the heartbeat rule", 60, true},
        {"a block whole again within a few ticks keeps the viewer", 5, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HostBlock block("shrink");
        controller->SetControllerFileID(block.Name());
        toolbar.closed = 0;
        auto tick = controller->StateEvent();
        std::uint8_t hostBeat = 0;
        for (int i = 0; i < 10; ++i) {
            block.At(lvcontrol::kCommandHeartBeat) = ++hostBeat;
            now += 300ms;
            tick(nullptr);
        }
        ASSERT_EQ(toolbar.closed, 0);
        const int fd = shm_open(block.Name().c_str(), O_RDWR, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 0), 0);
        int ticksToClose = 0;
        for (int i = 1; i <= c.shortTicks && toolbar.closed == 0; ++i) {
            now += 300ms;
            tick(nullptr);
            ticksToClose = i;
        }
        if (c.closes) {
            EXPECT_EQ(toolbar.closed, 1);
            EXPECT_LE(ticksToClose, 26) << "the host counts as gone at the next check";
            close(fd);
            continue;
        }
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(lvcontrol::kBlockSize)), 0);
        close(fd);
        for (int i = 0; i < 40; ++i) {
            block.At(lvcontrol::kCommandHeartBeat) = ++hostBeat;
            now += 300ms;
            tick(nullptr);
        }
        EXPECT_EQ(toolbar.closed, 0);
        EXPECT_EQ(block.At(lvcontrol::kViewState), vsOpening) << "the last state is shown again";
        EXPECT_NE(block.At(lvcontrol::kViewerHeartBeat), 0) << "the viewer beats in it again";
        EXPECT_EQ(block.At(lvcontrol::kCommandState), vcHandled);
    }
}

// A host in another process stores each command as soon as it sees the previous one
// acknowledged, as fast as it can. Counted at both ends, every command is taken exactly
// once and in order: none overwritten unseen, none taken twice.
TEST_F(ViewControllerTest, TenThousandCommandsFromAnotherProcessAreEachTakenOnce) {
    constexpr int kCommands = 10000;
    const std::uint8_t cycle[] = {vcOpen, vcHide, vcConnected, 7, 100, 255};
    HostBlock block("storm");
    block.At(lvcontrol::kCommandState) = vcHandled;
    controller->SetControllerFileID(block.Name());
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t host = fork();
    ASSERT_GE(host, 0);
    if (host == 0) {
        // The host: its own mapping of the block, plain loads and stores as a host makes.
        close(pipeFds[0]);
        auto view = lvplatform::OpenSharedMemory(block.Name(), lvcontrol::kBlockSize);
        std::atomic_ref<std::uint8_t> slot(view->Data()[lvcontrol::kCommandState]);
        const auto deadline = std::chrono::steady_clock::now() + 120s;
        int stored = 0;
        for (int i = 0; i < kCommands; ++i) {
            while (slot.load() != vcHandled) {
                if (std::chrono::steady_clock::now() > deadline)
                    _exit(2);
                std::this_thread::yield();
            }
            slot.store(cycle[i % std::size(cycle)]);
            ++stored;
        }
        if (write(pipeFds[1], &stored, sizeof stored) != sizeof stored)
            _exit(3);
        _exit(0);
    }
    close(pipeFds[1]);
    // The viewer: polls as fast as it can; the clock stands, so no heartbeat interferes.
    std::vector<std::uint8_t> taken;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (taken.size() < std::size_t(kCommands) && std::chrono::steady_clock::now() < deadline) {
        const TImageViewerCommand c = controller->NewCommand();
        if (c != vcHandled && c != vcUnknown)
            taken.push_back(c);
        else
            std::this_thread::yield();
    }
    int stored = -1;
    EXPECT_EQ(read(pipeFds[0], &stored, sizeof stored), ssize_t(sizeof stored));
    close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(host, &status, 0), host);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "host status " << status;
    EXPECT_EQ(stored, kCommands) << "commands the host stored";
    ASSERT_EQ(taken.size(), std::size_t(kCommands)) << "commands the viewer took";
    for (int i = 0; i < kCommands; ++i)
        ASSERT_EQ(taken[std::size_t(i)], cycle[i % std::size(cycle)]) << "command " << i;
    EXPECT_EQ(controller->NewCommand(), vcHandled) << "nothing is left over";
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
        controller->SetControllerFileID(block.Name());
        toolbar.closed = 0;
        block.At(lvcontrol::kViewState) = c.stateBefore;
        block.At(lvcontrol::kCommandState) = c.command;
        EXPECT_EQ(Tick(), c.command);
        EXPECT_EQ(block.At(lvcontrol::kCommandState), vcHandled);
        EXPECT_EQ(block.At(lvcontrol::kViewState), c.stateAfter);
        EXPECT_EQ(toolbar.closed, c.closes);
    }
}

TEST_F(ViewControllerTest, StateTickShowsHidesAndClosesThroughTheWindows) {
    HostBlock block("tick");
    std::memcpy(block.Data() + lvcontrol::kSearchText, "ABC123", 7);
    controller->SetControllerFileID(block.Name());
    int hidden = 0;
    controller->SetOnCloseImageAndHide([&](void*) { ++hidden; });
    auto tick = controller->StateEvent();

    block.At(lvcontrol::kCommandState) = vcOpen;
    now += 300ms;
    tick(nullptr);
    EXPECT_EQ(viewer.shown, 1);
    EXPECT_EQ(toolbar.searchTexts, (std::vector<std::string>{"ABC123", "ABC123"}));

    block.At(lvcontrol::kCommandState) = vcHide;
    now += 300ms;
    tick(nullptr);
    EXPECT_EQ(hidden, 1);
    EXPECT_EQ(toolbar.closed, 0);

    block.At(lvcontrol::kCommandState) = vcClose;
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
        controller->SetControllerFileID(block.Name());
        EXPECT_EQ(controller->SearchTextIsValidForSearch(c.text), c.valid);
    }
}

TEST_F(ViewControllerTest, SourcesAreSourceThenAlternatesAndEmptyWithoutSource) {
    {
        HostBlock block("src", R"({"Source":"/a","AlternateSources":["/b","/a"],"Pattern":"X"})");
        controller->SetControllerFileID(block.Name());
        EXPECT_EQ(controller->Sources(), (std::vector<std::string>{"/a", "/b", "/a"}));
    }
    auto other = std::make_shared<TOrlenzaViewController>();
    HostBlock block("nosrc", R"({"Source":"","AlternateSources":["/b"],"Pattern":"X"})");
    other->SetControllerFileID(block.Name());
    EXPECT_TRUE(other->Sources().empty());
}

TEST_F(ViewControllerTest, WithoutBlockEverythingDegrades) {
    EXPECT_EQ(controller->NewCommand(), vcUnknown);
    EXPECT_FALSE(controller->SearchTextIsValidForSearch("12345"));
    const TPreparedImageSearch search = controller->PrepareImageSearch("12345");
    EXPECT_TRUE(search.Folders.empty());
    ASSERT_TRUE(search.Run);
    EXPECT_TRUE(search.Run().empty());
    EXPECT_EQ(controller->SearchText(), "");
    controller->ChangeViewState(vsOpen); // must not crash
}

TEST(ControlFileSlot, ReplacingDestroysThePreviousObjectExactlyOnce) {
    HostBlock first("slot1"), second("slot2");
    TOrlenzaViewController a, b;
    a.SetControlFile(std::make_unique<TMemoryMappedControlFile>(first.Name()));
    EXPECT_EQ(b.ControlFile(), a.ControlFile()) << "every controller sees the one shared object";
    EXPECT_EQ(first.At(lvcontrol::kViewState), vsOpening);

    b.SetControlFile(std::make_unique<TMemoryMappedControlFile>(second.Name()));
    EXPECT_EQ(first.At(lvcontrol::kViewState), vsClosed);
    first.At(lvcontrol::kViewState) = 99; // a second destruction would overwrite this
    a.SetControlFile(nullptr);
    EXPECT_EQ(a.ControlFile(), nullptr);
    EXPECT_EQ(second.At(lvcontrol::kViewState), vsClosed);
    EXPECT_EQ(first.At(lvcontrol::kViewState), 99);
    TOrlenzaCustomerController::ReleaseSharedControlFile();
    EXPECT_EQ(first.At(lvcontrol::kViewState), 99);
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

} // namespace
