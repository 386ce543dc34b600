// TMemoryMappedControlFile wraps one opened control block: the fixed 4096-byte layout the
// host and the viewer share. When the block cannot be opened the object is inert: reads
// give zero or empty text, writes do nothing.
#pragma once

#include "controlfile/ImageViewer.LumivaneImageInformation.Intf.h"
#include "platform/SharedMemory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace lvcontrol {
// Offsets and slot sizes of the block. The host side (lumivane-host, tests) uses them too.
constexpr std::size_t kBlockSize = 4096;
constexpr std::size_t kCommandState = 0;
constexpr std::size_t kCommandHeartBeat = 4;
constexpr std::size_t kViewerHeartBeat = 5;
constexpr std::size_t kTerminalCommandState = 6;
constexpr std::size_t kKeyIndex = 7;
constexpr std::size_t kViewState = 16;
constexpr std::size_t kSearchText = 32;
constexpr std::size_t kSearchTextSlot = 65;
constexpr std::size_t kImageInformation = 97;
constexpr std::size_t kImageInformationSlot = 2049;
constexpr std::size_t kCaptureFileState = 2146;
constexpr std::size_t kCaptureFileName = 2147;
constexpr std::size_t kConsoleInstanceId = 2404;
constexpr std::size_t kCallingWindowNameFormat = 2407;
constexpr std::size_t kPassThroughPrinterName = 2664;
constexpr std::size_t kConnectionName = 2921;
// Width of the three 257-byte string slots (CaptureFileName, CallingWindowNameFormat,
// PassThroughPrinterName); ConnectionName's slot runs to the end of the block.
constexpr std::size_t kStringSlot = 257;
constexpr std::size_t kConnectionNameSlot = kBlockSize - kConnectionName;
// Longest value the viewer stores whole in its 257-byte string slots.
constexpr std::size_t kStringLimit = 256;

// The bytes the viewer stores for a string slot: `value` whole when it has at most
// `limit` bytes, otherwise cut to limit-1 bytes at a character boundary; then a
// terminating zero. Shared with the host so both sides cut alike.
std::string SlotBytes(const std::string& value, std::size_t limit);
// The same written straight into a block the caller created and keeps whole (tests).
void WriteSlotString(std::uint8_t* block, std::size_t offset, const std::string& value,
                     std::size_t limit);
// The text of a string slot of `width` bytes: up to its first zero byte, and never more
// than width-1 bytes (the last byte is the terminator's place), so an unterminated slot
// never runs into the field after it. Malformed bytes come back as U+FFFD.
std::string ReadSlotString(const std::uint8_t* slot, std::size_t width);
// The same bytes as they stand, malformed ones included.
std::string ReadSlotBytes(const std::uint8_t* slot, std::size_t width);
} // namespace lvcontrol

class TMemoryMappedControlFile {
public:
    // Opens the block named exactly AMappedFileId, loads the image information and
    // writes vsOpening. Raises EConvertError when the image information is invalid
    // (after writing vsClosed, as destruction would).
    explicit TMemoryMappedControlFile(const std::string& AMappedFileId);
    // Writes vsClosed, then releases the view.
    ~TMemoryMappedControlFile();
    TMemoryMappedControlFile(const TMemoryMappedControlFile&) = delete;
    TMemoryMappedControlFile& operator=(const TMemoryMappedControlFile&) = delete;

    // True while the block is open and holds its full size; a block that shrinks is
    // inert, as an unopened one, until it is whole again.
    bool CanRead() const { return FMapping->IsMapped(); }

    // Looks at the block again before a tick's reads: a block that shrank goes inert, one
    // that is whole again (or was replaced by a new block of the same name) comes back,
    // and then gets the view state last written, so the host sees where the viewer is.
    void Refresh();

    TImageViewerCommand CommandState() const {
        return static_cast<TImageViewerCommand>(Byte(lvcontrol::kCommandState));
    }
    void SetCommandState(TImageViewerCommand v) { SetByte(lvcontrol::kCommandState, v); }
    // Takes the pending command and leaves `replacement` in its place in one atomic step,
    // so a command the host stores meanwhile is never overwritten unseen.
    TImageViewerCommand ExchangeCommandState(TImageViewerCommand replacement);

    std::uint8_t CommandHeartBeat() const { return Byte(lvcontrol::kCommandHeartBeat); }
    void SetCommandHeartBeat(std::uint8_t v) { SetByte(lvcontrol::kCommandHeartBeat, v); }
    std::uint8_t ViewerHeartBeat() const { return Byte(lvcontrol::kViewerHeartBeat); }
    void SetViewerHeartBeat(std::uint8_t v) { SetByte(lvcontrol::kViewerHeartBeat, v); }
    TTerminalCommand TerminalCommandState() const {
        return static_cast<TTerminalCommand>(Byte(lvcontrol::kTerminalCommandState));
    }
    void SetTerminalCommandState(TTerminalCommand v) {
        SetByte(lvcontrol::kTerminalCommandState, v);
    }
    std::uint8_t KeyIndex() const { return Byte(lvcontrol::kKeyIndex); }
    void SetKeyIndex(std::uint8_t v) { SetByte(lvcontrol::kKeyIndex, v); }
    TImageViewerState ViewState() const {
        return static_cast<TImageViewerState>(Byte(lvcontrol::kViewState));
    }
    void SetViewState(TImageViewerState v);
    TCaptureFileState CaptureFileState() const {
        return static_cast<TCaptureFileState>(Byte(lvcontrol::kCaptureFileState));
    }
    void SetCaptureFileState(TCaptureFileState v) { SetByte(lvcontrol::kCaptureFileState, v); }

    std::uint16_t ConsoleInstanceId() const;
    void SetConsoleInstanceId(std::uint16_t v);

    std::string CaptureFileName() const {
        return String(lvcontrol::kCaptureFileName, lvcontrol::kStringSlot);
    }
    void SetCaptureFileName(const std::string& v) { SetString(lvcontrol::kCaptureFileName, v); }
    std::string CallingWindowNameFormat() const {
        return String(lvcontrol::kCallingWindowNameFormat, lvcontrol::kStringSlot);
    }
    void SetCallingWindowNameFormat(const std::string& v) {
        SetString(lvcontrol::kCallingWindowNameFormat, v);
    }
    std::string PassThroughPrinterName() const {
        return String(lvcontrol::kPassThroughPrinterName, lvcontrol::kStringSlot);
    }
    void SetPassThroughPrinterName(const std::string& v) {
        SetString(lvcontrol::kPassThroughPrinterName, v);
    }
    std::string SearchText() const {
        return String(lvcontrol::kSearchText, lvcontrol::kSearchTextSlot);
    }
    std::string ConnectionName() const {
        return String(lvcontrol::kConnectionName, lvcontrol::kConnectionNameSlot);
    }
    // The name's bytes as the host wrote them, malformed ones kept: what keys the
    // connection's files, so two names that differ only in bytes that are no UTF-8 (two
    // hosts writing Latin-1) still have files of their own.
    std::string ConnectionNameBytes() const {
        return String(lvcontrol::kConnectionName, lvcontrol::kConnectionNameSlot, false);
    }

    // The cached record, loaded from the block first while none is cached.
    ILumivaneImageInformationPtr ImageInformation();
    void SetImageInformation(ILumivaneImageInformationPtr value) {
        FImageInformation = std::move(value);
    }

private:
    std::uint8_t Byte(std::size_t offset) const {
        std::uint8_t value = 0;
        FMapping->Read(offset, &value, 1);
        return value;
    }
    void SetByte(std::size_t offset, std::uint8_t value) { FMapping->Write(offset, &value, 1); }
    std::string String(std::size_t offset, std::size_t width, bool sanitize = true) const;
    void SetString(std::size_t offset, const std::string& value);
    void LoadImageInformation();

    std::unique_ptr<lvplatform::ISharedMemoryView> FMapping;
    ILumivaneImageInformationPtr FImageInformation;
    // What the viewer last meant to show the host, written again into a block that
    // comes back after it shrank or was replaced.
    std::optional<TImageViewerState> FLastViewState;
};
