// The toolbar controller against real control blocks (shared memory created here the
// way the host creates it) and, for the console, the runner's real X server.
#include "tests/support/XTestWindows.h"
#include "toolbar/Orlenza.ToolBarController.h"

#include "controlfile/ImageViewer.ControlFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace {

using lvcontrol::kBlockSize;

class ToolbarControllerTest : public testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        name = "lv-toolbar-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        host = lvplatform::CreateSharedMemory(name, kBlockSize);
        ASSERT_TRUE(host && host->IsMapped());
        block = host->Data();
        std::memset(block, 0, kBlockSize);
        SetProcessWindowTextFormat("");
        controller = std::make_shared<TLvToolbarController>(lvplatform::CreateWindowSystem());
    }
    void TearDown() override {
        if (controller)
            controller->SetControlFile(nullptr);
        controller.reset();
        host.reset();
        lvplatform::RemoveSharedMemory(name);
        SetProcessWindowTextFormat("");
    }

    // The viewer side opens the block, as the view controller does at start-up.
    void Open() { controller->SetControlFile(std::make_unique<TMemoryMappedControlFile>(name)); }

    void HostString(std::size_t offset, const std::string& value) {
        lvcontrol::WriteSlotString(block, offset, value, lvcontrol::kStringLimit);
    }
    std::string BlockString(std::size_t offset) const {
        return lvcontrol::ReadSlotString(block + offset, lvcontrol::kStringSlot);
    }
    std::vector<std::uint8_t> Snapshot() const { return {block, block + kBlockSize}; }

    std::string name;
    std::unique_ptr<lvplatform::ISharedMemoryView> host;
    std::uint8_t* block = nullptr;
    std::shared_ptr<TLvToolbarController> controller;
};

// ---- terminal commands -------------------------------------------------------------

TEST_F(ToolbarControllerTest, KeySetWritesTheLowByteAndTheCommand) {
    Open();
    controller->ChangeKeySet(258);
    EXPECT_EQ(block[lvcontrol::kKeyIndex], 2);
    EXPECT_EQ(block[lvcontrol::kTerminalCommandState], tcChangeKeySet);
    controller->ChangeKeySet(1);
    EXPECT_EQ(block[lvcontrol::kKeyIndex], 1);
}

TEST_F(ToolbarControllerTest, SecondPrinterChoiceReplacesTheFirstWithoutWaitingForTheHost) {
    Open();
    controller->ChangePassThroughPrinter("Front Desk Laser");
    controller->ChangePassThroughPrinter("Back");
    EXPECT_EQ(BlockString(lvcontrol::kPassThroughPrinterName), "Back");
    EXPECT_EQ(block[lvcontrol::kTerminalCommandState], tcChangePrinterName);
}

TEST_F(ToolbarControllerTest, StartCapturingWritesNameStateAndCommandAndCountsAsCapturing) {
    Open();
    EXPECT_FALSE(controller->IsCapturing());
    EXPECT_TRUE(controller->StartCapturing("/var/tmp/captures/today.log"));
    EXPECT_EQ(BlockString(lvcontrol::kCaptureFileName), "/var/tmp/captures/today.log");
    EXPECT_EQ(block[lvcontrol::kCaptureFileState], cfsStartingCapture);
    EXPECT_EQ(block[lvcontrol::kTerminalCommandState], tcCapture);
    EXPECT_TRUE(controller->IsCapturing()); // before the host has reacted
}

TEST_F(ToolbarControllerTest, StartCapturingWithAnEmptyNameWritesNothingAndSucceeds) {
    Open();
    HostString(lvcontrol::kCaptureFileName, "/earlier/name.log");
    const auto before = Snapshot();
    EXPECT_TRUE(controller->StartCapturing(""));
    EXPECT_EQ(Snapshot(), before);
}

TEST_F(ToolbarControllerTest, IsCapturingOnlyForStartingAndCapturing) {
    Open();
    const struct {
        std::uint8_t state;
        bool capturing;
    } rows[] = {{cfsUnknown, false},
                {cfsNotCapturing, false},
                {cfsStartingCapture, true},
                {cfsCapturing, true},
                {7, true}};
    for (const auto& row : rows) {
        block[lvcontrol::kCaptureFileState] = row.state;
        EXPECT_EQ(controller->IsCapturing(), row.capturing) << int(row.state);
    }
}

// The host acts on the command byte as soon as it sees it: a host that polls must never
// see the command before its operands.
TEST_F(ToolbarControllerTest, HostNeverSeesACommandBeforeItsOperands) {
    Open();
    std::atomic<int> round{0};
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::atomic<std::uint8_t> expectedKey{0};
    std::thread hostThread([&] {
        // A second view of the block, as the host process has.
        auto view = lvplatform::OpenSharedMemory(name, kBlockSize);
        volatile std::uint8_t* b = view->Data();
        int seen = 0;
        while (!stop.load()) {
            const int r = round.load(std::memory_order_acquire);
            if (r == seen)
                continue;
            const std::uint8_t command = b[lvcontrol::kTerminalCommandState];
            if (command == tcUnknown)
                continue;
            std::atomic_thread_fence(std::memory_order_acquire);
            if (command == tcChangeKeySet && b[lvcontrol::kKeyIndex] != expectedKey.load())
                ++torn;
            if (command == tcCapture && (b[lvcontrol::kCaptureFileState] != cfsStartingCapture ||
                                         b[lvcontrol::kCaptureFileName + 255] != 'a' + r % 26))
                ++torn;
            b[lvcontrol::kTerminalCommandState] = tcUnknown; // the host takes the command
            seen = r;
        }
    });
    for (int r = 1; r <= 2000; ++r) {
        block[lvcontrol::kCaptureFileState] = cfsUnknown;
        const bool capture = r % 2 == 0;
        expectedKey = static_cast<std::uint8_t>(r & 0xFF);
        round.store(r, std::memory_order_release);
        if (capture)
            controller->StartCapturing(std::string(256, static_cast<char>('a' + r % 26)));
        else
            controller->ChangeKeySet(r);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (reinterpret_cast<volatile std::uint8_t*>(block)[lvcontrol::kTerminalCommandState] !=
               tcUnknown)
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "host thread stalled";
    }
    stop = true;
    hostThread.join();
    EXPECT_EQ(torn.load(), 0);
}

// ---- stop capturing ----------------------------------------------------------------

struct StopRow {
    const char* fault;
    std::string captureName; // "%DIR%" stands for an existing folder
    bool opensFolder;
};

class StopCapturingTest : public ToolbarControllerTest,
                          public testing::WithParamInterface<StopRow> {};

TEST_P(StopCapturingTest, SendsStopAndOpensOnlyAUsableFolder) {
    const auto folder = std::filesystem::temp_directory_path() / ("lv-capture-" + name);
    std::filesystem::create_directories(folder);
    std::string captureName = GetParam().captureName;
    if (auto at = captureName.find("%DIR%"); at != std::string::npos)
        captureName.replace(at, 5, folder.string());
    HostString(lvcontrol::kCaptureFileName, captureName);
    Open();
    block[lvcontrol::kCaptureFileState] = cfsCapturing;
    std::vector<std::filesystem::path> opened;
    controller->SetOnExploreFolder([&](const std::filesystem::path& p) { opened.push_back(p); });

    controller->StopCapturing();

    EXPECT_EQ(block[lvcontrol::kTerminalCommandState], tcStopCapture);
    EXPECT_EQ(block[lvcontrol::kCaptureFileState], cfsCapturing)
        << "stop must leave the state to the host";
    if (GetParam().opensFolder) {
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_TRUE(std::filesystem::equivalent(opened[0], folder));
    } else {
        EXPECT_TRUE(opened.empty()) << opened[0];
    }
    std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StopCapturingTest,
    testing::Values(StopRow{"folder_part_opened", "%DIR%/today.log", true},
                    StopRow{"bare_name_opens_nothing", "today.log", false},
                    StopRow{"empty_name_still_stops", "", false},
                    StopRow{"blank_name_still_stops", "   ", false},
                    StopRow{"missing_folder_not_opened", "%DIR%/gone/today.log", false}),
    [](const testing::TestParamInfo<StopRow>& row) { return std::string(row.param.fault); });

TEST_F(ToolbarControllerTest, StopCapturingWithoutAHookStillStops) {
    HostString(lvcontrol::kCaptureFileName, "/tmp/today.log");
    Open();
    controller->StopCapturing();
    EXPECT_EQ(block[lvcontrol::kTerminalCommandState], tcStopCapture);
}

// ---- connected ---------------------------------------------------------------------

TEST_F(ToolbarControllerTest, ConnectedOnlyWithAPattern) {
    EXPECT_FALSE(controller->Connected()) << "no control file at all";

    controller->SetControlFile(std::make_unique<TMemoryMappedControlFile>(name + "-missing"));
    EXPECT_FALSE(controller->Connected()) << "block that could not be opened";

    Open();
    EXPECT_FALSE(controller->Connected()) << "no image information yet";
    HostString(lvcontrol::kImageInformation, R"({"Source":"/scans/","Pattern":""})");
    EXPECT_FALSE(controller->Connected()) << "empty pattern";

    HostString(lvcontrol::kImageInformation, R"({"Source":"/scans/","Pattern":"****...."})");
    Open(); // the record is cached once loaded; a new block object reads it again
    EXPECT_TRUE(controller->Connected());
}

TEST_F(ToolbarControllerTest, ImageInformationThatIsNoObjectCountsAsNotConnected) {
    Open();
    HostString(lvcontrol::kImageInformation, "[1,2,3]");
    EXPECT_FALSE(controller->Connected());
    EXPECT_FALSE(controller->Connected());
}

// ---- the periodic check ------------------------------------------------------------

TEST_F(ToolbarControllerTest, WithoutTitleFormatChecksPassCaptureStateAndKeySetButNoPlacement) {
    Open();
    block[lvcontrol::kCaptureFileState] = cfsCapturing;
    block[lvcontrol::kKeyIndex] = 2;
    std::vector<std::string> calls;
    controller->SetOnTerminalWindowInfoReceived(
        [&](const WINDOWPLACEMENT&) { calls.push_back("placement"); });
    controller->SetOnCheckCaptureState(
        [&](TCaptureFileState s) { calls.push_back("capture " + std::to_string(s)); });
    controller->SetOnSetPassThroughPrinterState(
        [&](bool b) { calls.push_back(b ? "printer true" : "printer false"); });
    controller->SetOnCheckKeyStateIndex(
        [&](std::int32_t k) { calls.push_back("key " + std::to_string(k)); });
    controller->CheckState(nullptr);
    controller->CheckState(nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"capture 3", "printer true", "key 2", "capture 3",
                                               "printer true", "key 2"}));
    EXPECT_EQ(controller->WindowMonitor(), nullptr);
    EXPECT_FALSE(IsProcessWindowTextFormatSet());
}

TEST_F(ToolbarControllerTest, UnreadableOrMissingBlockReadsAsZeros) {
    std::vector<std::string> calls;
    controller->SetOnCheckCaptureState(
        [&](TCaptureFileState s) { calls.push_back("capture " + std::to_string(s)); });
    controller->SetOnCheckKeyStateIndex(
        [&](std::int32_t k) { calls.push_back("key " + std::to_string(k)); });
    controller->CheckState(nullptr); // no control file at all
    controller->SetControlFile(std::make_unique<TMemoryMappedControlFile>(name + "-missing"));
    controller->CheckState(nullptr);
    controller->ChangeKeySet(1);
    EXPECT_TRUE(controller->StartCapturing("x.log"));
    controller->StopCapturing();
    EXPECT_FALSE(controller->IsCapturing());
    EXPECT_EQ(calls, (std::vector<std::string>{"capture 0", "key 0", "capture 0", "key 0"}));
}

class ToolbarConsoleTest : public ToolbarControllerTest {
protected:
    void SetUp() override {
        ToolbarControllerTest::SetUp();
        if (!std::getenv("DISPLAY") || !desktop.Ok())
            GTEST_SKIP() << "needs the runner's X server (scripts/with-x)";
        format = "LvControllerTest " + name + " %d";
    }
    void TearDown() override {
        desktop.CloseAll();
        ToolbarControllerTest::TearDown();
    }
    lvtest::XDesktop desktop;
    std::string format;
};

TEST_F(ToolbarConsoleTest, MonitorComesWithTheFormatAndReportsTheConsoleOfTheBlocksId) {
    const xcb_window_t console = desktop.Open(FormatWithInteger(format, 12), 100, 200);
    const xcb_window_t other =
        desktop.Open(FormatWithInteger(format, 13), 600, 200); // another console
    ASSERT_TRUE(desktop.WaitManaged(console));
    ASSERT_TRUE(desktop.WaitManaged(other));
    block[lvcontrol::kConsoleInstanceId] = 12;
    Open();
    std::vector<WINDOWPLACEMENT> placements;
    controller->CheckState(nullptr); // no format yet
    EXPECT_EQ(controller->WindowMonitor(), nullptr);

    HostString(lvcontrol::kCallingWindowNameFormat, format);
    controller->CheckState(nullptr); // format but no callback: wait for it
    EXPECT_EQ(controller->WindowMonitor(), nullptr);
    EXPECT_FALSE(IsProcessWindowTextFormatSet());

    controller->SetOnTerminalWindowInfoReceived(
        [&](const WINDOWPLACEMENT& p) { placements.push_back(p); });
    controller->CheckState(nullptr);
    TConsoleMonitor* monitor = controller->WindowMonitor();
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor->LowBound(), 12);
    EXPECT_EQ(monitor->HighBound(), 12);
    ASSERT_TRUE(lvtest::WaitFor([&] {
        controller->CheckState(nullptr);
        return !placements.empty() && placements.back().rcNormalPosition.left == 100;
    }));

    // The id is read afresh on every check; the format only once.
    block[lvcontrol::kConsoleInstanceId] = 13;
    HostString(lvcontrol::kCallingWindowNameFormat, "Something else %d");
    EXPECT_TRUE(lvtest::WaitFor([&] {
        controller->CheckState(nullptr);
        return placements.back().rcNormalPosition.left == 600;
    }));
    EXPECT_EQ(controller->WindowMonitor(), monitor);
    EXPECT_EQ(GetProcessWindowTextFormat(), format);
}

TEST_F(ToolbarConsoleTest, BadTitleFormatIsReportedOnceAndChecksGoOnWithoutPlacements) {
    HostString(lvcontrol::kCallingWindowNameFormat, "Console %s");
    Open();
    int placements = 0, captureChecks = 0;
    controller->SetOnTerminalWindowInfoReceived([&](const WINDOWPLACEMENT&) { ++placements; });
    controller->SetOnCheckCaptureState([&](TCaptureFileState) { ++captureChecks; });
    EXPECT_THROW(controller->CheckState(nullptr), EFormatError);
    EXPECT_EQ(captureChecks, 0) << "the rest of the failing check is skipped";
    for (int i = 0; i < 3; ++i)
        EXPECT_NO_THROW(controller->CheckState(nullptr));
    EXPECT_EQ(captureChecks, 3);
    EXPECT_EQ(placements, 0);
    EXPECT_EQ(controller->WindowMonitor(), nullptr);
}

TEST_F(ToolbarConsoleTest, ConsoleThatClosesAndReturnsNeverBreaksTheChecks) {
    xcb_window_t console = desktop.Open(FormatWithInteger(format, 3), 150, 250);
    ASSERT_TRUE(desktop.WaitManaged(console));
    block[lvcontrol::kConsoleInstanceId] = 3;
    HostString(lvcontrol::kCallingWindowNameFormat, format);
    Open();
    int placements = 0;
    controller->SetOnTerminalWindowInfoReceived([&](const WINDOWPLACEMENT&) { ++placements; });
    controller->CheckState(nullptr);
    EXPECT_EQ(placements, 1);
    desktop.Close(console);
    ASSERT_TRUE(lvtest::WaitFor([&] {
        const int before = placements;
        controller->CheckState(nullptr);
        return placements == before;
    }));
    console = desktop.Open(FormatWithInteger(format, 3), 150, 250);
    EXPECT_TRUE(lvtest::WaitFor([&] {
        const int before = placements;
        controller->CheckState(nullptr);
        return placements > before;
    }));
}

TEST(ToolbarControllerUnit, InitializePublishesTheController) {
    InitializeToolBarController();
    ASSERT_TRUE(ToolbarController);
    EXPECT_NE(dynamic_cast<TLvToolbarController*>(ToolbarController.get()), nullptr);
    ToolbarController.reset();
}

} // namespace
