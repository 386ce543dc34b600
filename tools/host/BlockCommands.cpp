// lumivane-host send, set and dump: one-shot changes and reads of a live block, for
// scripts, tests and people trying out an integration by hand.
#include "HostBlock.h"
#include "HostCommand.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace lvhost {
namespace {

using namespace lvcontrol;

const char* kSendUsage =
    "usage: lumivane-host send NAME COMMAND [--wait MS]\n"
    "\n"
    "Stores a viewer command in CommandState (offset 0) of the live block NAME.\n"
    "COMMAND: open, close, hide, terminate, connected, handled, unknown, or a number 0..255.\n"
    "Send open after setting the search text (lumivane-host set NAME --search TEXT).\n"
    "\n"
    "  --wait MS   wait up to MS milliseconds for the viewer to take the command (the byte\n"
    "              changes, normally to vcHandled; for handled itself, the viewer\n"
    "              heartbeat moves); exit status 1 when it does not\n";

int RunSend(const Args& args) {
    if (WantsHelp(args)) {
        std::printf("%s", kSendUsage);
        return 0;
    }
    std::vector<std::string> positional;
    long waitMs = -1;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (auto v = OptionValue(args, i, "--wait"))
            waitMs = ParseNumber(*v, 0, 3600000, "--wait");
        else if (args[i].size() > 1 && args[i][0] == '-')
            throw std::runtime_error("unknown option '" + args[i] + "'");
        else
            positional.push_back(args[i]);
    }
    if (positional.size() != 2) {
        std::fprintf(stderr, "%s", kSendUsage);
        return 2;
    }
    const TImageViewerCommand command = ParseCommand(positional[1]);
    // Line by line, so a script reading the pipe sees "sent" while the wait still runs.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    HostBlock block = HostBlock::Open(positional[0]);
    const std::uint8_t beatAtSend = block.Byte(kViewerHeartBeat);
    block.SetCommand(command);
    std::printf("sent %s\n", Named(command).c_str());
    if (waitMs < 0)
        return 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        auto now = static_cast<TImageViewerCommand>(block.Byte(kCommandState));
        // vcHandled is what every poll leaves, so taking it changes no byte; the viewer's
        // heartbeat, written in the poll that takes the command, shows that it was polled.
        const bool polled = command == vcHandled && block.Byte(kViewerHeartBeat) != beatAtSend;
        if (now != command || polled) {
            std::printf("taken: %s\n", Named(now).c_str());
            return 0;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::fprintf(stderr, "lumivane-host send: %s not taken within %ld ms\n", Named(command).c_str(),
                 waitMs);
    return 1;
}

const char* kSetUsage =
    "usage: lumivane-host set NAME [options]\n"
    "\n"
    "Changes host-written fields of the live block NAME; fields not named stay as they are.\n"
    "The viewer reads the image information only while it has none, so a change of --info\n"
    "after the viewer opened the block is not seen by it.\n"
    "\n"
    "options:\n"
    "%s";

int RunSet(const Args& args) {
    if (WantsHelp(args)) {
        std::printf(kSetUsage, kHostFieldHelp);
        return 0;
    }
    std::string name;
    HostFieldOptions fields;
    bool any = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (TakeHostFieldOption(args, i, fields))
            any = true;
        else if (!args[i].empty() && args[i][0] == '-')
            throw std::runtime_error("unknown option '" + args[i] + "'");
        else if (name.empty())
            name = args[i];
        else
            throw std::runtime_error("unexpected argument '" + args[i] + "'");
    }
    if (name.empty() || !any) {
        std::fprintf(stderr, kSetUsage, kHostFieldHelp);
        return 2;
    }
    HostBlock block = HostBlock::Open(name);
    ApplyHostFields(block, fields);
    return 0;
}

const char* kDumpUsage =
    "usage: lumivane-host dump NAME [--json]\n"
    "\n"
    "Prints every field of the block NAME decoded, once: one 'Field: value' line each\n"
    "(strings quoted with C escapes, enumerations as 'name (number)'), or one JSON object.\n";

int RunDump(const Args& args) {
    if (WantsHelp(args)) {
        std::printf("%s", kDumpUsage);
        return 0;
    }
    std::string name;
    bool asJson = false;
    for (const auto& a : args) {
        if (a == "--json")
            asJson = true;
        else if (!a.empty() && a[0] == '-')
            throw std::runtime_error("unknown option '" + a + "'");
        else if (name.empty())
            name = a;
        else
            throw std::runtime_error("unexpected argument '" + a + "'");
    }
    if (name.empty()) {
        std::fprintf(stderr, "%s", kDumpUsage);
        return 2;
    }
    const BlockFields f = Decode(HostBlock::Open(name).Snapshot());
    const auto cmd = static_cast<TImageViewerCommand>(f.commandState);
    const auto term = static_cast<TTerminalCommand>(f.terminalCommandState);
    const auto state = static_cast<TImageViewerState>(f.viewState);
    const auto capture = static_cast<TCaptureFileState>(f.captureFileState);
    if (asJson) {
        // Strings in the block were decoded with U+FFFD for bad bytes, so dump cannot fail.
        nlohmann::ordered_json j;
        j["CommandState"] = ToString(cmd);
        j["CommandHeartBeat"] = f.commandHeartBeat;
        j["ViewerHeartBeat"] = f.viewerHeartBeat;
        j["TerminalCommandState"] = ToString(term);
        j["KeyIndex"] = f.keyIndex;
        j["ViewState"] = ToString(state);
        j["SearchText"] = f.searchText;
        j["ImageInformation"] = f.imageInformation;
        j["CaptureFileState"] = ToString(capture);
        j["CaptureFileName"] = f.captureFileName;
        j["ConsoleInstanceId"] = f.consoleInstanceId;
        j["CallingWindowNameFormat"] = f.callingWindowNameFormat;
        j["PassThroughPrinterName"] = f.passThroughPrinterName;
        j["ConnectionName"] = f.connectionName;
        std::printf("%s\n", j.dump().c_str());
        return 0;
    }
    auto line = [](const char* field, const std::string& value) {
        std::printf("%s: %s\n", field, value.c_str());
    };
    line("CommandState", Named(cmd));
    line("CommandHeartBeat", std::to_string(f.commandHeartBeat));
    line("ViewerHeartBeat", std::to_string(f.viewerHeartBeat));
    line("TerminalCommandState", Named(term));
    line("KeyIndex", std::to_string(f.keyIndex));
    line("ViewState", Named(state));
    line("SearchText", Quote(f.searchText));
    line("ImageInformation", Quote(f.imageInformation));
    line("CaptureFileState", Named(capture));
    line("CaptureFileName", Quote(f.captureFileName));
    line("ConsoleInstanceId", std::to_string(f.consoleInstanceId));
    line("CallingWindowNameFormat", Quote(f.callingWindowNameFormat));
    line("PassThroughPrinterName", Quote(f.passThroughPrinterName));
    line("ConnectionName", Quote(f.connectionName));
    return 0;
}

HostCommandRegistrar sendRegistrar{
    {"send", "store a viewer command (open, close, hide, ...) in a live block", &RunSend}};
HostCommandRegistrar setRegistrar{{"set", "change host-written fields of a live block", &RunSet}};
HostCommandRegistrar dumpRegistrar{
    {"dump", "print every field of a block decoded, once", &RunDump}};

} // namespace
} // namespace lvhost
