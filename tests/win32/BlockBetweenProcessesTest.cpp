// The control block between two processes on Windows: the cross-built reference host
// creates and serves it in one process, the core reads and writes it in this one, and
// the host's own dump reads back what the core wrote.
#include "controlfile/ImageViewer.ControlFile.h"
#include "platform/ChildProcess.h"
#include "platform/SharedMemory.h"

#include "Win32TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>

namespace {

using win32test::WaitFor;

std::string HostExe() {
    const std::string own = win32test::OwnExe();
    return own.substr(0, own.find_last_of("\\/") + 1) + LV_HOST_EXE;
}

// Runs the host with ARGS and returns what it printed.
std::string RunHost(const std::vector<std::string>& args) {
    std::wstring line = L"\"" + lvplatform::win32::Wide(HostExe()) + L"\"";
    for (const std::string& a : args)
        line += L" \"" + lvplatform::win32::Wide(a) + L"\"";
    // The command processor drops the outer pair of quotes of the whole line.
    FILE* out = _wpopen((L"\"" + line + L"\"").c_str(), L"rb");
    if (!out)
        return {};
    std::string text;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, out))
        text.append(buffer, n);
    _pclose(out);
    return text;
}

nlohmann::json Dump(const std::string& name) {
    return nlohmann::json::parse(RunHost({"dump", name, "--json"}));
}

class BlockBetweenProcesses : public testing::Test {
protected:
    void SetUp() override {
        name = "LumivaneWin32Block" + std::to_string(GetCurrentProcessId());
        host = lvplatform::StartChildProcess(
            {HostExe(), "serve", name, "--interval", "50", "--search", search, "--info",
             R"({"Source":"C:\\scans\\","Pattern":"****"})", "--console-id", "4711",
             "--title-format", "Konsole %d", "--connection", "Verbindung \xC3\x84",
             "--capture-state", "capturing", "--key", "7"});
        // Ready once the host's last field is in place.
        ASSERT_TRUE(WaitFor([&] {
            if (host->Ended())
                return true;
            auto view = lvplatform::OpenSharedMemory(name, 4096);
            std::uint8_t key = 0;
            return view->IsMapped() && view->Read(lvcontrol::kKeyIndex, &key, 1) && key == 7;
        }));
        ASSERT_FALSE(host->Ended()) << "the host ended: " << *host->Ended();
    }
    void TearDown() override {
        if (host) {
            host->Stop();
            host->Wait();
        }
    }

    // 63 ASCII letters then a two-byte letter: the 64-byte slot holds only the letters.
    const std::string search = std::string(63, 'a') + "\xC3\xA4";
    std::string name;
    std::unique_ptr<lvplatform::IChildProcess> host;
};

TEST_F(BlockBetweenProcesses, TheCoreReadsEveryHostFieldAndTheHostSeesWhatTheCoreWrites) {
    {
        TMemoryMappedControlFile block(name);
        ASSERT_TRUE(block.CanRead());
        EXPECT_EQ(block.SearchText(), std::string(63, 'a')) << "cut before the split letter";
        EXPECT_EQ(block.ConsoleInstanceId(), 4711);
        EXPECT_EQ(block.CallingWindowNameFormat(), "Konsole %d");
        EXPECT_EQ(block.ConnectionName(), "Verbindung \xC3\x84");
        EXPECT_EQ(block.CaptureFileState(), cfsCapturing);
        EXPECT_EQ(block.KeyIndex(), 7);
        ASSERT_TRUE(block.ImageInformation());
        // The host's heartbeat moves while we watch.
        const std::uint8_t beat = block.CommandHeartBeat();
        EXPECT_TRUE(WaitFor([&] { return block.CommandHeartBeat() != beat; }));

        EXPECT_EQ(Dump(name)["ViewState"], "vsOpening");
        block.SetViewState(vsIdle);
        block.SetViewerHeartBeat(42);
        block.SetTerminalCommandState(tcCapture);
        block.SetCaptureFileName("C:\\capture\\Protokoll \xC3\xA4.txt");
        block.SetPassThroughPrinterName("Drucker \xE2\x82\xAC");
        const auto seen = Dump(name);
        EXPECT_EQ(seen["ViewState"], "vsIdle");
        EXPECT_EQ(seen["ViewerHeartBeat"], 42);
        EXPECT_EQ(seen["TerminalCommandState"], "tcCapture");
        EXPECT_EQ(seen["CaptureFileName"], "C:\\capture\\Protokoll \xC3\xA4.txt");
        EXPECT_EQ(seen["PassThroughPrinterName"], "Drucker \xE2\x82\xAC");
        EXPECT_EQ(seen["SearchText"], std::string(63, 'a'));
    }
    // Releasing the block writes vsClosed last.
    EXPECT_EQ(Dump(name)["ViewState"], "vsClosed");
}

TEST_F(BlockBetweenProcesses, ACommandStoredByTheHostIsTakenOnceWithOneExchange) {
    TMemoryMappedControlFile block(name);
    ASSERT_TRUE(block.CanRead());
    EXPECT_NE(RunHost({"send", name, "open"}).find("sent"), std::string::npos);
    EXPECT_EQ(block.ExchangeCommandState(vcHandled), vcOpen);
    EXPECT_EQ(block.ExchangeCommandState(vcHandled), vcHandled) << "taken once only";
    EXPECT_EQ(Dump(name)["CommandState"], "vcHandled");

    EXPECT_NE(RunHost({"send", name, "hide"}).find("sent"), std::string::npos);
    EXPECT_EQ(block.ExchangeCommandState(vcHandled), vcHide);
}

TEST_F(BlockBetweenProcesses, ABlockOfAnotherSizeOrNameIsInert) {
    // A view larger than the host's block is not mapped: reading it would fault.
    auto larger = lvplatform::OpenSharedMemory(name, 1 << 20);
    EXPECT_FALSE(larger->IsMapped());
    std::uint8_t byte = 1;
    EXPECT_FALSE(larger->Read(0, &byte, 1));
    EXPECT_EQ(byte, 0);
    EXPECT_FALSE(lvplatform::OpenSharedMemory(name + "x", 4096)->IsMapped());
    EXPECT_TRUE(lvplatform::SharedMemoryExists(name));
    // Accesses past the view's end fail instead of reaching outside it.
    auto view = lvplatform::OpenSharedMemory(name, 4096);
    ASSERT_TRUE(view->IsMapped());
    EXPECT_FALSE(view->Write(4095, "ab", 2));
    EXPECT_FALSE(view->Exchange(4096, 0).has_value());
}

// The host's help on Windows speaks of Windows: a named file mapping, console events and
// the pause file, none of POSIX's /dev/shm or signals; --version answers as on Linux.
TEST(HostHelp, ServeDescribesWindowsAndVersionAnswers) {
    const std::string help = RunHost({"serve", "--help"});
    for (const char* word : {"file mapping", "Ctrl+C", "--pause-file", "no pause signals"})
        EXPECT_NE(help.find(word), std::string::npos) << word << " missing from:\n" << help;
    for (const char* word : {"/dev/shm", "SIGUSR", "SIGTERM", "SIGINT"})
        EXPECT_EQ(help.find(word), std::string::npos) << word << " in:\n" << help;
    EXPECT_EQ(RunHost({"--version"}).rfind("lumivane-host " LV_VERSION, 0), 0u);
}

} // namespace
