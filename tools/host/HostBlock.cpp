#include "HostBlock.h"

#include "controlfile/ImageViewer.LumivaneImageInformation.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace lvhost {

using namespace lvcontrol;

HostBlock::HostBlock(std::unique_ptr<lvplatform::ISharedMemoryView> view)
    : view_(std::move(view)) {}

HostBlock HostBlock::Create(const std::string& name) {
    return HostBlock(lvplatform::CreateSharedMemory(name, kBlockSize));
}

HostBlock HostBlock::Open(const std::string& name) {
    auto view = lvplatform::OpenSharedMemory(name, kBlockSize);
    if (!view->IsMapped())
        throw std::runtime_error("no control block named '" + name +
                                 "' (missing, or smaller than 4096 bytes)");
    return HostBlock(std::move(view));
}

bool HostBlock::Exists(const std::string& name) {
    return lvplatform::SharedMemoryExists(name);
}

std::uint8_t HostBlock::Byte(std::size_t offset) const {
    std::uint8_t value = 0;
    view_->Read(offset, &value, 1);
    return value;
}

void HostBlock::SetByte(std::size_t offset, std::uint8_t value) {
    view_->Write(offset, &value, 1);
}

std::uint16_t HostBlock::ConsoleInstanceId() const {
    return static_cast<std::uint16_t>(Byte(kConsoleInstanceId) |
                                      (Byte(kConsoleInstanceId + 1) << 8));
}

void HostBlock::SetConsoleInstanceId(std::uint16_t value) {
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>(value & 0xFF),
                                  static_cast<std::uint8_t>(value >> 8)};
    view_->Write(kConsoleInstanceId, bytes, sizeof bytes);
}

bool HostBlock::SetCutString(std::size_t offset, const std::string& value, std::size_t limit) {
    // Cut at a character boundary: the viewer would show half a character as garbage.
    std::size_t n = lvutf8::BoundaryCut(value, limit);
    std::string bytes = value.substr(0, n);
    bytes.push_back('\0');
    view_->Write(offset, bytes.data(), bytes.size());
    return n < value.size();
}

bool HostBlock::SetSearchText(const std::string& text) {
    return SetCutString(kSearchText, text, kSearchTextLimit);
}

void HostBlock::SetImageInformation(const std::string& json) {
    if (json.size() > kImageInformationLimit)
        throw std::runtime_error("image information is " + std::to_string(json.size()) +
                                 " bytes; its slot holds " +
                                 std::to_string(kImageInformationLimit));
    SetCutString(kImageInformation, json, kImageInformationLimit);
}

bool HostBlock::SetCallingWindowNameFormat(const std::string& format) {
    // The same rule the viewer applies to its own 257-byte slots.
    const std::string bytes = SlotBytes(format, kStringLimit);
    view_->Write(kCallingWindowNameFormat, bytes.data(), bytes.size());
    return format.size() > kStringLimit;
}

bool HostBlock::SetConnectionName(const std::string& name) {
    return SetCutString(kConnectionName, name, kConnectionNameLimit);
}

std::uint8_t HostBlock::AdvanceHeartBeat() {
    auto next = static_cast<std::uint8_t>(Byte(kCommandHeartBeat) + 1);
    SetByte(kCommandHeartBeat, next);
    return next;
}

void HostBlock::Clear() {
    const std::vector<std::uint8_t> zeros(kBlockSize, 0);
    view_->Write(0, zeros.data(), zeros.size());
}

std::vector<std::uint8_t> HostBlock::Snapshot() const {
    std::vector<std::uint8_t> bytes(kBlockSize, 0);
    view_->Read(0, bytes.data(), bytes.size());
    return bytes;
}

lvplatform::ISharedMemoryView::TChange HostBlock::Refresh() {
    return view_->Refresh();
}

BlockFields Decode(const std::vector<std::uint8_t>& s) {
    BlockFields f;
    const std::uint8_t* d = s.data();
    const std::size_t n = s.size();
    auto byte = [&](std::size_t offset) -> std::uint8_t { return offset < n ? d[offset] : 0; };
    auto text = [&](std::size_t offset, std::size_t width) {
        return offset + width <= n ? ReadSlotString(d + offset, width) : std::string();
    };
    f.commandState = byte(kCommandState);
    f.commandHeartBeat = byte(kCommandHeartBeat);
    f.viewerHeartBeat = byte(kViewerHeartBeat);
    f.terminalCommandState = byte(kTerminalCommandState);
    f.keyIndex = byte(kKeyIndex);
    f.viewState = byte(kViewState);
    f.searchText = text(kSearchText, kSearchTextSlot);
    f.imageInformation = text(kImageInformation, kImageInformationSlot);
    f.captureFileState = byte(kCaptureFileState);
    f.captureFileName = text(kCaptureFileName, kStringSlot);
    f.consoleInstanceId =
        static_cast<std::uint16_t>(byte(kConsoleInstanceId) | (byte(kConsoleInstanceId + 1) << 8));
    f.callingWindowNameFormat = text(kCallingWindowNameFormat, kStringSlot);
    f.passThroughPrinterName = text(kPassThroughPrinterName, kStringSlot);
    f.connectionName = text(kConnectionName, kConnectionNameSlot);
    return f;
}

std::string ChangeText(lvplatform::ISharedMemoryView::TChange change, bool whole) {
    using TChange = lvplatform::ISharedMemoryView::TChange;
    if (change == TChange::Replaced)
        return "block replaced by a new one of the same name";
    if (change == TChange::Resized)
        return whole ? "block whole again" : "block shrank below 4096 bytes";
    return {};
}

const char* const kHostFieldHelp =
    "  --search TEXT          search text (offset 32, at most 64 bytes)\n"
    "  --info JSON            image information (offset 97, at most 2048 bytes), e.g.\n"
    "                         '{\"Source\":\"/scans/\",\"Pattern\":\"****....\"}'\n"
    "  --console-id N         ConsoleInstanceId (offset 2404, 0..65535)\n"
    "  --title-format FMT     CallingWindowNameFormat (offset 2407), e.g. 'Console %d'\n"
    "  --connection TEXT      ConnectionName (offset 2921)\n"
    "  --capture-state S      CaptureFileState (offset 2146): unknown, notcapturing,\n"
    "                         startingcapture, capturing or a number\n"
    "  --key N                KeyIndex (offset 7, 0..255)\n"
    "  --heartbeat N          CommandHeartBeat (offset 4, 0..255)\n";

bool TakeHostFieldOption(const std::vector<std::string>& args, std::size_t& i,
                         HostFieldOptions& o) {
    if (auto v = OptionValue(args, i, "--search"))
        o.search = *v;
    else if (auto v2 = OptionValue(args, i, "--info"))
        o.info = *v2;
    else if (auto v3 = OptionValue(args, i, "--console-id"))
        o.consoleId = static_cast<std::uint16_t>(ParseNumber(*v3, 0, 65535, "--console-id"));
    else if (auto v4 = OptionValue(args, i, "--title-format"))
        o.titleFormat = *v4;
    else if (auto v5 = OptionValue(args, i, "--connection"))
        o.connection = *v5;
    else if (auto v6 = OptionValue(args, i, "--capture-state"))
        o.captureState = ParseCaptureState(*v6);
    else if (auto v7 = OptionValue(args, i, "--key"))
        o.key = static_cast<std::uint8_t>(ParseNumber(*v7, 0, 255, "--key"));
    else if (auto v8 = OptionValue(args, i, "--heartbeat"))
        o.heartBeat = static_cast<std::uint8_t>(ParseNumber(*v8, 0, 255, "--heartbeat"));
    else
        return false;
    return true;
}

void ApplyHostFields(HostBlock& block, const HostFieldOptions& o) {
    if (o.info) {
        // Written even when the viewer would refuse it, so its failure can be tried out.
        try {
            TLumivaneInformation::FromJSON(*o.info);
        } catch (const EConvertError& e) {
            std::fprintf(stderr, "warning: the viewer will refuse this image information: %s\n",
                         e.what());
        }
        block.SetImageInformation(*o.info);
    }
    if (o.search && block.SetSearchText(*o.search))
        std::fprintf(stderr, "warning: search text cut to %zu bytes\n", kSearchTextLimit);
    if (o.consoleId)
        block.SetConsoleInstanceId(*o.consoleId);
    if (o.titleFormat && block.SetCallingWindowNameFormat(*o.titleFormat))
        std::fprintf(stderr, "warning: title format cut to %zu bytes\n", kStringLimit - 1);
    if (o.connection && block.SetConnectionName(*o.connection))
        std::fprintf(stderr, "warning: connection name cut to %zu bytes\n", kConnectionNameLimit);
    if (o.captureState)
        block.SetByte(kCaptureFileState, *o.captureState);
    if (o.key)
        block.SetByte(kKeyIndex, *o.key);
    if (o.heartBeat)
        block.SetByte(kCommandHeartBeat, *o.heartBeat);
}

std::optional<std::string> OptionValue(const std::vector<std::string>& args, std::size_t& i,
                                       const std::string& name) {
    const std::string& a = args[i];
    if (a == name) {
        if (i + 1 >= args.size())
            throw std::runtime_error(name + " needs a value");
        i += 1;
        return args[i];
    }
    if (a.size() > name.size() && a.compare(0, name.size(), name) == 0 && a[name.size()] == '=')
        return a.substr(name.size() + 1);
    return std::nullopt;
}

long ParseNumber(const std::string& text, long min, long max, const std::string& what) {
    std::size_t used = 0;
    long value = 0;
    try {
        // Decimal, or hex with 0x; a leading zero is not octal (010 is ten).
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        value = std::stol(hex ? text.substr(2) : text, &used, hex ? 16 : 10);
        if (hex)
            used += 2;
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || used != text.size() || value < min || value > max)
        throw std::runtime_error(what + " must be a number from " + std::to_string(min) + " to " +
                                 std::to_string(max) + ", not '" + text + "'");
    return value;
}

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Matches `text` against the names of values 0..count-1 (with or without their prefix).
template <typename E>
std::optional<E> ByName(const std::string& text, int count, const std::string& prefix) {
    const std::string wanted = Lower(text);
    for (int v = 0; v < count; ++v) {
        const std::string full = Lower(ToString(static_cast<E>(v)));
        if (wanted == full || wanted == full.substr(prefix.size()))
            return static_cast<E>(v);
    }
    return std::nullopt;
}

bool IsNumber(const std::string& text) {
    return !text.empty() && std::isdigit(static_cast<unsigned char>(text[0]));
}

} // namespace

TImageViewerCommand ParseCommand(const std::string& text) {
    if (IsNumber(text))
        return static_cast<TImageViewerCommand>(ParseNumber(text, 0, 255, "command"));
    if (auto v = ByName<TImageViewerCommand>(text, vcConnected + 1, "vc"))
        return *v;
    throw std::runtime_error(
        "unknown command '" + text +
        "' (open, close, hide, handled, terminate, connected, unknown or a number)");
}

TCaptureFileState ParseCaptureState(const std::string& text) {
    if (IsNumber(text))
        return static_cast<TCaptureFileState>(ParseNumber(text, 0, 255, "capture state"));
    if (auto v = ByName<TCaptureFileState>(text, cfsCapturing + 1, "cfs"))
        return *v;
    throw std::runtime_error("unknown capture state '" + text +
                             "' (unknown, notcapturing, startingcapture, capturing or a number)");
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

} // namespace lvhost
