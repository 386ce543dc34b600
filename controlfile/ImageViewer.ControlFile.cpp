#include "controlfile/ImageViewer.ControlFile.h"

#include "controlfile/ImageViewer.LumivaneImageInformation.h"
#include "controlfile/Trace.h"
#include "platform/Utf8.h"

#include <array>
#include <cstring>

namespace lvcontrol {

std::string SlotBytes(const std::string& value, std::size_t limit) {
    std::size_t n = value.size();
    // Cut one short of the limit so the terminator still fits the slot, and never inside
    // a character: a half character would turn into garbage for the reader.
    if (n > limit)
        n = lvutf8::BoundaryCut(value, limit - 1);
    std::string bytes = value.substr(0, n);
    bytes.push_back('\0');
    return bytes;
}

void WriteSlotString(std::uint8_t* block, std::size_t offset, const std::string& value,
                     std::size_t limit) {
    const std::string bytes = SlotBytes(value, limit);
    // The bytes end with their terminating NUL (SlotBytes puts it there).
    std::memcpy(block + offset, bytes.data(), // NOLINT(bugprone-not-null-terminated-result)
                bytes.size());
}

std::string ReadSlotBytes(const std::uint8_t* slot, std::size_t width) {
    if (width == 0)
        return {};
    const auto* start = reinterpret_cast<const char*>(slot);
    const std::size_t room = width - 1;
    const void* end = std::memchr(start, 0, room);
    const std::size_t n =
        end ? static_cast<std::size_t>(static_cast<const char*>(end) - start) : room;
    return std::string(start, n);
}

std::string ReadSlotString(const std::uint8_t* slot, std::size_t width) {
    return lvutf8::Sanitize(ReadSlotBytes(slot, width));
}

} // namespace lvcontrol

TMemoryMappedControlFile::TMemoryMappedControlFile(const std::string& AMappedFileId) {
    FMapping = lvplatform::OpenSharedMemory(AMappedFileId, lvcontrol::kBlockSize);
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
    // The last word goes to the block the name stands for now, whole.
    Refresh();
    SetViewState(vsClosed);
    FMapping.reset();
}

void TMemoryMappedControlFile::Refresh() {
    using TChange = lvplatform::ISharedMemoryView::TChange;
    const TChange change = FMapping->Refresh();
    if (change == TChange::None)
        return;
    if (change == TChange::Replaced)
        lvtrace::Line("control block replaced");
    else
        lvtrace::Line(CanRead() ? "control block whole again" : "control block shrank");
    if (CanRead() && FLastViewState)
        SetByte(lvcontrol::kViewState, *FLastViewState);
}

TImageViewerCommand
TMemoryMappedControlFile::ExchangeCommandState(TImageViewerCommand replacement) {
    return static_cast<TImageViewerCommand>(
        FMapping->Exchange(lvcontrol::kCommandState, replacement).value_or(vcUnknown));
}

void TMemoryMappedControlFile::SetViewState(TImageViewerState v) {
    FLastViewState = v;
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

std::string TMemoryMappedControlFile::String(std::size_t offset, std::size_t width,
                                             bool sanitize) const {
    if (!CanRead())
        return {};
    // One copy of the slot, so the text is read from one moment and never from a block
    // that shrinks under the read.
    std::array<std::uint8_t, lvcontrol::kImageInformationSlot> slot{};
    if (width > slot.size() || !FMapping->Read(offset, slot.data(), width))
        return {};
    return sanitize ? lvcontrol::ReadSlotString(slot.data(), width)
                    : lvcontrol::ReadSlotBytes(slot.data(), width);
}

void TMemoryMappedControlFile::SetString(std::size_t offset, const std::string& value) {
    if (!CanRead())
        return;
    const std::string bytes = lvcontrol::SlotBytes(value, lvcontrol::kStringLimit);
    FMapping->Write(offset, bytes.data(), bytes.size());
}

void TMemoryMappedControlFile::LoadImageInformation() {
    if (CanRead())
        FImageInformation = TLumivaneInformation::FromJSON(
            String(lvcontrol::kImageInformation, lvcontrol::kImageInformationSlot));
}

ILumivaneImageInformationPtr TMemoryMappedControlFile::ImageInformation() {
    if (!FImageInformation)
        LoadImageInformation();
    return FImageInformation;
}
