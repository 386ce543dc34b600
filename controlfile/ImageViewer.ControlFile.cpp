#include "controlfile/ImageViewer.ControlFile.h"

#include "controlfile/ImageViewer.LumivaneImageInformation.h"
#include "controlfile/Trace.h"
#include "platform/Utf8.h"

#include <atomic>
#include <cstring>

namespace lvcontrol {

void WriteSlotString(std::uint8_t* block, std::size_t offset, const std::string& value,
                     std::size_t limit) {
    std::size_t n = value.size();
    // Cut one short of the limit so the terminator still fits the slot, and never inside
    // a character: a half character would turn into garbage for the reader.
    if (n > limit)
        n = lvutf8::BoundaryCut(value, limit - 1);
    std::memcpy(block + offset, value.data(), n);
    block[offset + n] = 0;
}

std::string ReadSlotString(const std::uint8_t* block, std::size_t blockSize, std::size_t offset) {
    if (offset >= blockSize)
        return {};
    const auto* start = reinterpret_cast<const char*>(block + offset);
    const void* end = std::memchr(start, 0, blockSize - offset);
    std::size_t n =
        end ? static_cast<std::size_t>(static_cast<const char*>(end) - start) : blockSize - offset;
    return lvutf8::Sanitize(std::string_view(start, n));
}

} // namespace lvcontrol

TMemoryMappedControlFile::TMemoryMappedControlFile(const std::string& AMappedFileId) {
    FMapping = lvplatform::OpenSharedMemory(AMappedFileId, lvcontrol::kBlockSize);
    FMappedFileSpace = FMapping->Data();
    try {
        LoadImageInformation();
    } catch (...) {
        // The destructor does not run for a failed construction; still tell the host.
        SetViewState(vsClosed);
        throw;
    }
    SetViewState(vsOpening);
}

TMemoryMappedControlFile::~TMemoryMappedControlFile() {
    SetViewState(vsClosed);
    FMappedFileSpace = nullptr;
    FMapping.reset();
}

TImageViewerCommand
TMemoryMappedControlFile::ExchangeCommandState(TImageViewerCommand replacement) {
    if (!CanRead())
        return vcUnknown;
    std::atomic_ref<std::uint8_t> slot(FMappedFileSpace[lvcontrol::kCommandState]);
    std::uint8_t seen = slot.load();
    while (!slot.compare_exchange_weak(seen, replacement)) {
    }
    return static_cast<TImageViewerCommand>(seen);
}

void TMemoryMappedControlFile::SetViewState(TImageViewerState v) {
    if (!CanRead())
        return;
    SetByte(lvcontrol::kViewState, v);
    lvtrace::Line("view state " + ToString(v));
}

std::uint16_t TMemoryMappedControlFile::ConsoleInstanceId() const {
    return static_cast<std::uint16_t>(Byte(lvcontrol::kConsoleInstanceId) |
                                      (Byte(lvcontrol::kConsoleInstanceId + 1) << 8));
}

void TMemoryMappedControlFile::SetConsoleInstanceId(std::uint16_t v) {
    SetByte(lvcontrol::kConsoleInstanceId, static_cast<std::uint8_t>(v & 0xFF));
    SetByte(lvcontrol::kConsoleInstanceId + 1, static_cast<std::uint8_t>(v >> 8));
}

std::string TMemoryMappedControlFile::String(std::size_t offset) const {
    if (!CanRead())
        return {};
    return lvcontrol::ReadSlotString(FMappedFileSpace, lvcontrol::kBlockSize, offset);
}

void TMemoryMappedControlFile::SetString(std::size_t offset, const std::string& value) {
    if (CanRead())
        lvcontrol::WriteSlotString(FMappedFileSpace, offset, value, lvcontrol::kStringLimit);
}

void TMemoryMappedControlFile::LoadImageInformation() {
    if (CanRead())
        FImageInformation = TLumivaneInformation::FromJSON(String(lvcontrol::kImageInformation));
}

ILumivaneImageInformationPtr TMemoryMappedControlFile::ImageInformation() {
    if (!FImageInformation)
        LoadImageInformation();
    return FImageInformation;
}
