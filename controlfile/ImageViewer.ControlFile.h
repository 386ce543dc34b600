// TMemoryMappedControlFile wraps one opened control block: the fixed 4096-byte layout the
// host and the viewer share. When the block cannot be opened the object is inert: reads
// give zero or empty text, writes do nothing.
#pragma once

#include "controlfile/ImageViewer.LumivaneImageInformation.Intf.h"
#include "platform/SharedMemory.h"

#include <cstddef>
#include <cstdint>
#include <memory>
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
// Longest value the viewer stores whole in its 257-byte string slots.
constexpr std::size_t kStringLimit = 256;

// Writes `value` at `offset` the way the viewer writes its string slots: whole when it
// has at most `limit` bytes, otherwise cut to limit-1 bytes at a character boundary;
// then a terminating zero. Shared with the host so both sides cut alike.
void WriteSlotString(std::uint8_t* block, std::size_t offset, const std::string& value,
                     std::size_t limit);
// Reads the zero-terminated UTF-8 text at `offset`, never past `blockSize`; malformed
// bytes come back as U+FFFD.
std::string ReadSlotString(const std::uint8_t* block, std::size_t blockSize, std::size_t offset);
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

    bool CanRead() const { return FMappedFileSpace != nullptr; }

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

    std::string CaptureFileName() const { return String(lvcontrol::kCaptureFileName); }
    void SetCaptureFileName(const std::string& v) { SetString(lvcontrol::kCaptureFileName, v); }
    std::string CallingWindowNameFormat() const {
        return String(lvcontrol::kCallingWindowNameFormat);
    }
    void SetCallingWindowNameFormat(const std::string& v) {
        SetString(lvcontrol::kCallingWindowNameFormat, v);
    }
    std::string PassThroughPrinterName() const {
        return String(lvcontrol::kPassThroughPrinterName);
    }
    void SetPassThroughPrinterName(const std::string& v) {
        SetString(lvcontrol::kPassThroughPrinterName, v);
    }
    std::string SearchText() const { return String(lvcontrol::kSearchText); }
    std::string ConnectionName() const { return String(lvcontrol::kConnectionName); }

    // The cached record, loaded from the block first while none is cached.
    ILumivaneImageInformationPtr ImageInformation();
    void SetImageInformation(ILumivaneImageInformationPtr value) {
        FImageInformation = std::move(value);
    }

private:
    std::uint8_t Byte(std::size_t offset) const { return CanRead() ? FMappedFileSpace[offset] : 0; }
    void SetByte(std::size_t offset, std::uint8_t value) {
        if (CanRead())
            FMappedFileSpace[offset] = value;
    }
    std::string String(std::size_t offset) const;
    void SetString(std::size_t offset, const std::string& value);
    void LoadImageInformation();

    std::unique_ptr<lvplatform::ISharedMemoryView> FMapping;
    std::uint8_t* FMappedFileSpace = nullptr;
    ILumivaneImageInformationPtr FImageInformation;
};
