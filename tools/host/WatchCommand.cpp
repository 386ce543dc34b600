// lumivane-host watch: follows a live block and prints one line per change, so a person
// integrating a host (or a test reading the pipe) sees what the viewer writes and when.
#include "HostBlock.h"
#include "HostCommand.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace lvhost {
namespace {

using namespace lvcontrol;
using Clock = std::chrono::steady_clock;

const char* kUsage =
    "usage: lumivane-host watch NAME [options]\n"
    "\n"
    "Decodes the live block NAME and prints one line per change: first a line with the\n"
    "current state, then for each change what it is, for example\n"
    "  view state vsOpen (4)\n"
    "  viewer heartbeat 17\n"
    "  command vcHandled (4) takes vcOpen (1)\n"
    "  terminal command tcCapture (1) file \"/tmp/t.cap\" state cfsStartingCapture (2)\n"
    "  terminal command tcChangePrinterName (3) printer \"PDF\"\n"
    "  terminal command tcChangeKeySet (4) key 2\n"
    "  capture state cfsCapturing (3)\n"
    "Changes of host fields (search text, image information, console id, title format,\n"
    "connection) are shown too; the host heartbeat only with --host-heartbeat.\n"
    "Ends after --count changes, after --for seconds, on SIGINT, or when the block is\n"
    "removed ('block removed'). Output is line-buffered.\n"
    "\n"
    "options:\n"
    "  --interval MS            poll period (default 50)\n"
    "  --count N                stop after N change lines\n"
    "  --for SECONDS            stop after this long (fractions allowed)\n"
    "  --no-viewer-heartbeat    leave out viewer heartbeat lines\n"
    "  --host-heartbeat         include host heartbeat lines\n"
    "  --time                   prefix each line with the seconds since the start\n";

struct WatchOptions {
    std::string name;
    long intervalMs = 50;
    long count = -1;
    double seconds = -1;
    bool viewerHeartBeat = true;
    bool hostHeartBeat = false;
    bool time = false;
};

std::string TerminalLine(const BlockFields& f) {
    const auto term = static_cast<TTerminalCommand>(f.terminalCommandState);
    std::string line = "terminal command " + Named(term);
    switch (term) {
    case tcCapture:
        line += " file " + Quote(f.captureFileName) + " state " +
                Named(static_cast<TCaptureFileState>(f.captureFileState));
        break;
    case tcChangePrinterName:
        line += " printer " + Quote(f.passThroughPrinterName);
        break;
    case tcChangeKeySet:
        line += " key " + std::to_string(f.keyIndex);
        break;
    default:
        break;
    }
    return line;
}

// The lines describing what changed from `a` to `b`, in the order the viewer writes a
// terminal command: operands first, then the command (which repeats its operands).
std::vector<std::string> Changes(const BlockFields& a, const BlockFields& b,
                                 const WatchOptions& o) {
    std::vector<std::string> out;
    const bool termChanged = a.terminalCommandState != b.terminalCommandState;
    const auto term = static_cast<TTerminalCommand>(b.terminalCommandState);
    if (a.viewState != b.viewState)
        out.push_back("view state " + Named(static_cast<TImageViewerState>(b.viewState)));
    if (a.commandState != b.commandState) {
        const auto now = static_cast<TImageViewerCommand>(b.commandState);
        std::string line = "command " + Named(now);
        if (now == vcHandled)
            line += " takes " + Named(static_cast<TImageViewerCommand>(a.commandState));
        out.push_back(line);
    }
    // Operands that the terminal command line below already shows are not repeated.
    if (a.captureFileName != b.captureFileName && !(termChanged && term == tcCapture))
        out.push_back("capture file " + Quote(b.captureFileName));
    if (a.captureFileState != b.captureFileState && !(termChanged && term == tcCapture))
        out.push_back("capture state " + Named(static_cast<TCaptureFileState>(b.captureFileState)));
    if (a.passThroughPrinterName != b.passThroughPrinterName &&
        !(termChanged && term == tcChangePrinterName))
        out.push_back("printer " + Quote(b.passThroughPrinterName));
    if (a.keyIndex != b.keyIndex && !(termChanged && term == tcChangeKeySet))
        out.push_back("key index " + std::to_string(b.keyIndex));
    if (termChanged)
        out.push_back(TerminalLine(b));
    if (o.viewerHeartBeat && a.viewerHeartBeat != b.viewerHeartBeat)
        out.push_back("viewer heartbeat " + std::to_string(b.viewerHeartBeat));
    if (o.hostHeartBeat && a.commandHeartBeat != b.commandHeartBeat)
        out.push_back("host heartbeat " + std::to_string(b.commandHeartBeat));
    if (a.searchText != b.searchText)
        out.push_back("search text " + Quote(b.searchText));
    if (a.imageInformation != b.imageInformation)
        out.push_back("image information " + Quote(b.imageInformation));
    if (a.consoleInstanceId != b.consoleInstanceId)
        out.push_back("console id " + std::to_string(b.consoleInstanceId));
    if (a.callingWindowNameFormat != b.callingWindowNameFormat)
        out.push_back("title format " + Quote(b.callingWindowNameFormat));
    if (a.connectionName != b.connectionName)
        out.push_back("connection " + Quote(b.connectionName));
    return out;
}

std::string StateLine(const std::string& name, const BlockFields& f) {
    return "watching " + name + ": view state " +
           Named(static_cast<TImageViewerState>(f.viewState)) + ", viewer heartbeat " +
           std::to_string(f.viewerHeartBeat) + ", command " +
           Named(static_cast<TImageViewerCommand>(f.commandState)) + ", " + TerminalLine(f) +
           ", capture state " + Named(static_cast<TCaptureFileState>(f.captureFileState)) +
           ", key index " + std::to_string(f.keyIndex);
}

HostBlock OpenWhenThere(const std::string& name) {
    // The host may still be creating the block when a script starts its watcher.
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    for (;;) {
        try {
            return HostBlock::Open(name);
        } catch (const std::exception&) {
            if (Clock::now() >= deadline)
                throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

int RunWatch(const Args& args) {
    if (WantsHelp(args)) {
        std::printf("%s", kUsage);
        return 0;
    }
    WatchOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (auto v = OptionValue(args, i, "--interval"))
            o.intervalMs = ParseNumber(*v, 1, 60000, "--interval");
        else if (auto c = OptionValue(args, i, "--count"))
            o.count = ParseNumber(*c, 1, 1000000000, "--count");
        else if (auto s = OptionValue(args, i, "--for")) {
            try {
                o.seconds = std::stod(*s);
            } catch (const std::exception&) {
                o.seconds = -1;
            }
            if (!(o.seconds > 0))
                throw std::runtime_error("--for needs a positive number of seconds, not '" + *s +
                                         "'");
        } else if (args[i] == "--no-viewer-heartbeat")
            o.viewerHeartBeat = false;
        else if (args[i] == "--host-heartbeat")
            o.hostHeartBeat = true;
        else if (args[i] == "--time")
            o.time = true;
        else if (!args[i].empty() && args[i][0] == '-')
            throw std::runtime_error("unknown option '" + args[i] + "'");
        else if (o.name.empty())
            o.name = args[i];
        else
            throw std::runtime_error("unexpected argument '" + args[i] + "'");
    }
    if (o.name.empty()) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    HostBlock block = OpenWhenThere(o.name);
    const auto start = Clock::now();
    auto print = [&](const std::string& line) {
        if (o.time)
            std::printf("[%8.3f] ", std::chrono::duration<double>(Clock::now() - start).count());
        std::printf("%s\n", line.c_str());
    };
    BlockFields last = Decode(block.Snapshot());
    print(StateLine(o.name, last));
    long printed = 0;
    auto lastExistsCheck = start;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(o.intervalMs));
        const auto now = Clock::now();
        if (o.seconds > 0 && std::chrono::duration<double>(now - start).count() >= o.seconds)
            return 0;
        const auto refreshed = block.Refresh();
        const std::string change = ChangeText(refreshed, block.IsWhole());
        if (!change.empty())
            print(change);
        if (block.IsWhole()) {
            BlockFields current = Decode(block.Snapshot());
            for (const auto& line : Changes(last, current, o)) {
                print(line);
                if (o.count > 0 && ++printed >= o.count)
                    return 0;
            }
            last = std::move(current);
        }
        if (now - lastExistsCheck >= std::chrono::milliseconds(500)) {
            lastExistsCheck = now;
            if (!HostBlock::Exists(o.name)) {
                print("block removed");
                return 0;
            }
        }
    }
}

HostCommandRegistrar registrar{
    {"watch", "print one line per change the viewer makes to a live block", &RunWatch}};

} // namespace
} // namespace lvhost
