// The host's side of a control block: creates or opens the named block without the
// viewer's side effects (TMemoryMappedControlFile writes vsOpening/vsClosed, a host must
// not), writes the fields a host owns and reads back everything for display.
#pragma once

#include "controlfile/ImageViewer.ControlFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lvhost {

// Longest search text the 65-byte slot holds with its terminator.
constexpr std::size_t kSearchTextLimit = lvcontrol::kSearchTextSlot - 1;
// Longest image information JSON the 2049-byte slot holds with its terminator.
constexpr std::size_t kImageInformationLimit = lvcontrol::kImageInformationSlot - 1;
// ConnectionName runs to the end of the block; keep room for its terminator.
constexpr std::size_t kConnectionNameLimit = lvcontrol::kBlockSize - lvcontrol::kConnectionName - 1;

class HostBlock {
public:
    // Creates the block NAME (4096 bytes) or reuses an existing one.
    static HostBlock Create(const std::string& name);
    // Opens a live block; throws when there is none or it is smaller than 4096 bytes.
    static HostBlock Open(const std::string& name);
    // True while a block of that name exists (a watcher ends when the host removed it).
    static bool Exists(const std::string& name);

    std::uint8_t Byte(std::size_t offset) const;
    void SetByte(std::size_t offset, std::uint8_t value);
    std::uint16_t ConsoleInstanceId() const;
    void SetConsoleInstanceId(std::uint16_t value);

    // The string writers return true when the value had to be cut to fit its slot.
    bool SetSearchText(const std::string& text);
    // Throws when the text does not fit: a cut JSON text would fail the viewer's start.
    void SetImageInformation(const std::string& json);
    bool SetCallingWindowNameFormat(const std::string& format);
    bool SetConnectionName(const std::string& name);
    void SetCommand(TImageViewerCommand command) { SetByte(lvcontrol::kCommandState, command); }
    // Moves the host heartbeat on by one (wrapping at 255).
    std::uint8_t AdvanceHeartBeat();
    void Clear();

    // A copy of the whole block, so a reader decodes one consistent moment (zeros while
    // the block is smaller than 4096 bytes).
    std::vector<std::uint8_t> Snapshot() const;

    // Another process may shrink the block or put a new one under its name: every access
    // survives that (reads give zeros, writes are dropped while the block is short), and
    // Refresh takes the block up again once it is whole or replaced.
    lvplatform::ISharedMemoryView::TChange Refresh();
    bool IsWhole() const { return view_->IsMapped(); }

private:
    explicit HostBlock(std::unique_ptr<lvplatform::ISharedMemoryView> view);
    bool SetCutString(std::size_t offset, const std::string& value, std::size_t limit);
    std::shared_ptr<lvplatform::ISharedMemoryView> view_;
};

// Every field of a block decoded from a snapshot, for dump and watch.
struct BlockFields {
    std::uint8_t commandState = 0;
    std::uint8_t commandHeartBeat = 0;
    std::uint8_t viewerHeartBeat = 0;
    std::uint8_t terminalCommandState = 0;
    std::uint8_t keyIndex = 0;
    std::uint8_t viewState = 0;
    std::string searchText;
    std::string imageInformation;
    std::uint8_t captureFileState = 0;
    std::string captureFileName;
    std::uint16_t consoleInstanceId = 0;
    std::string callingWindowNameFormat;
    std::string passThroughPrinterName;
    std::string connectionName;
};
BlockFields Decode(const std::vector<std::uint8_t>& snapshot);

// One line for what Refresh found ("block shrank below 4096 bytes", ...); empty for none.
std::string ChangeText(lvplatform::ISharedMemoryView::TChange change, bool whole);

// The host-written fields that serve and set take from the command line; unset ones
// are left alone.
struct HostFieldOptions {
    std::optional<std::string> search;
    std::optional<std::string> info;
    std::optional<std::uint16_t> consoleId;
    std::optional<std::string> titleFormat;
    std::optional<std::string> connection;
    std::optional<TCaptureFileState> captureState;
    std::optional<std::uint8_t> key;
    std::optional<std::uint8_t> heartBeat;
};
// Takes args[i] (and its value) when it is one of --search, --info, --console-id,
// --title-format, --connection, --capture-state, --key, --heartbeat.
bool TakeHostFieldOption(const std::vector<std::string>& args, std::size_t& i,
                         HostFieldOptions& options);
// Writes the set fields; warns on stderr about values the viewer would cut or refuse.
void ApplyHostFields(HostBlock& block, const HostFieldOptions& options);
extern const char* const kHostFieldHelp;

// Command-line helpers shared by the subcommands.
// Value of "--name VALUE" or "--name=VALUE" at args[i]; advances i past the value.
// Returns nullopt when args[i] is not that option; throws when the value is missing.
std::optional<std::string> OptionValue(const std::vector<std::string>& args, std::size_t& i,
                                       const std::string& name);
// A whole number in [min, max] (decimal or 0x hex); throws with `what` in the message.
long ParseNumber(const std::string& text, long min, long max, const std::string& what);
// A viewer command by name (open, vcOpen, OPEN, ...) or number 0..255.
TImageViewerCommand ParseCommand(const std::string& text);
// A capture state by name (capturing, cfsCapturing, ...) or number 0..255.
TCaptureFileState ParseCaptureState(const std::string& text);
// The text in double quotes with quotes, backslashes and control characters escaped.
std::string Quote(const std::string& text);
// "vsOpen (4)"
template <typename E> std::string Named(E value) {
    return ToString(value) + " (" + std::to_string(static_cast<unsigned>(value)) + ")";
}

} // namespace lvhost
