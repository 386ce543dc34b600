// Plays the viewer's side of a control block for the host's end-to-end tests: it opens
// the block through TMemoryMappedControlFile (so vsOpening and vsClosed come from the real
// object) and writes what the viewer writes, step by step.
//
//   lvtest-fake-viewer NAME [STEP...]      steps from the command line, or one per stdin line
//   LVTEST_FAKE_VIEWER_STEPS="STEP ..." lvtest-fake-viewer NAME [SEARCH ...]
//                                          the viewer's own command line, steps from the
//                                          environment (for a host that starts it); with
//                                          LVTEST_FAKE_VIEWER_LOG=FILE its output goes there
//
// Steps: state=N|NAME  heartbeat=N  capture=FILE  stop-capture  printer=NAME  key=N
//        take  wait-command=MS  sleep=MS  host-beats=MS  print  exit
// After each stdin step it prints "done STEP", so a test knows the writes are in the block.
#include "controlfile/ImageViewer.ControlFile.h"
#include "controlfile/ImageViewer.LumivaneImageInformation.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

namespace {

TImageViewerState ParseState(const std::string& text) {
    for (int v = 0; v <= vsClosing; ++v) {
        auto s = static_cast<TImageViewerState>(v);
        if (text == ToString(s) || "vs" + text == ToString(s) || text == std::to_string(v))
            return s;
    }
    throw std::runtime_error("unknown view state " + text);
}

void Take(TMemoryMappedControlFile& cf) {
    auto c = cf.ExchangeCommandState(vcHandled);
    std::printf("took %s (%u)\n", ToString(c).c_str(), static_cast<unsigned>(c));
}

// Returns false to end the program.
bool Step(TMemoryMappedControlFile& cf, const std::string& step) {
    const auto eq = step.find('=');
    const std::string verb = step.substr(0, eq);
    const std::string arg = eq == std::string::npos ? "" : step.substr(eq + 1);
    if (verb == "state")
        cf.SetViewState(ParseState(arg));
    else if (verb == "heartbeat")
        cf.SetViewerHeartBeat(static_cast<std::uint8_t>(std::stoi(arg)));
    else if (verb == "capture") {
        // Operands first, the command last: the order the toolbar controller writes them.
        cf.SetCaptureFileName(arg);
        cf.SetCaptureFileState(cfsStartingCapture);
        cf.SetTerminalCommandState(tcCapture);
    } else if (verb == "stop-capture")
        cf.SetTerminalCommandState(tcStopCapture);
    else if (verb == "printer") {
        cf.SetPassThroughPrinterName(arg);
        cf.SetTerminalCommandState(tcChangePrinterName);
    } else if (verb == "key") {
        cf.SetKeyIndex(static_cast<std::uint8_t>(std::stoi(arg)));
        cf.SetTerminalCommandState(tcChangeKeySet);
    } else if (verb == "take")
        Take(cf);
    else if (verb == "wait-command") {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(std::stoi(arg));
        while (cf.CommandState() == vcUnknown || cf.CommandState() == vcHandled) {
            if (std::chrono::steady_clock::now() >= deadline) {
                std::printf("no command\n");
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        Take(cf);
    } else if (verb == "host-beats") {
        // Two changes of the host's byte within the time: one stray write is not a beat.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(std::stoi(arg));
        std::uint8_t last = cf.CommandHeartBeat();
        int changes = 0;
        while (changes < 2 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (const std::uint8_t beat = cf.CommandHeartBeat(); beat != last) {
                ++changes;
                last = beat;
            }
        }
        std::printf(changes >= 2 ? "host heartbeat moves\n" : "host heartbeat still\n");
    } else if (verb == "sleep")
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(arg)));
    else if (verb == "print") {
        auto info = cf.ImageInformation();
        std::printf("search=%s console=%u format=%s connection=%s capture-state=%u key=%u "
                    "source=%s pattern=%s\n",
                    cf.SearchText().c_str(), static_cast<unsigned>(cf.ConsoleInstanceId()),
                    cf.CallingWindowNameFormat().c_str(), cf.ConnectionName().c_str(),
                    static_cast<unsigned>(cf.CaptureFileState()),
                    static_cast<unsigned>(cf.KeyIndex()), info ? info->GetSource().c_str() : "-",
                    info ? info->GetPattern().c_str() : "-");
    } else if (verb == "exit")
        return false;
    else
        throw std::runtime_error("unknown step " + step);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lvtest-fake-viewer NAME [STEP...]\n");
        return 2;
    }
    // Started by a host, the stand-in may have no output of its own: a file takes it.
    if (const char* log = std::getenv("LVTEST_FAKE_VIEWER_LOG");
        log && *log && !std::freopen(log, "w", stdout))
        return 1;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    try {
        TMemoryMappedControlFile cf(argv[1]);
        if (!cf.CanRead()) {
            std::fprintf(stderr, "lvtest-fake-viewer: block %s not opened\n", argv[1]);
            return 1;
        }
        std::printf("opened %s\n", argv[1]);
        if (const char* steps = std::getenv("LVTEST_FAKE_VIEWER_STEPS")) {
            if (argc > 2)
                std::printf("startup search %s\n", argv[2]);
            std::istringstream words(steps);
            std::string step;
            while (words >> step)
                if (!Step(cf, step))
                    break;
            return 0;
        }
        if (argc > 2) {
            for (int i = 2; i < argc; ++i)
                if (!Step(cf, argv[i]))
                    break;
            return 0;
        }
        std::string line;
        while (std::getline(std::cin, line)) {
            if (line.empty())
                continue;
            const bool more = Step(cf, line);
            std::printf("done %s\n", line.c_str());
            if (!more)
                break;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lvtest-fake-viewer: %s\n", e.what());
        return 1;
    }
    return 0;
}
