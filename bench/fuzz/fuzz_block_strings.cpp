// The block's string reads and writes over a real shared-memory block holding the input.
// Every slot reads as well-formed UTF-8 within its own width; a value written through a
// viewer-written slot reads back as what the writer kept of it.
#include "FuzzCheck.h"

#include "controlfile/ImageViewer.ControlFile.h"
#include "controlfile/ImageViewer.LumivaneImageInformation.h"
#include "platform/SharedMemory.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace lvcontrol;

struct TBlock {
    std::string Name = "lvfuzz-block-" + std::to_string(getpid());
    std::unique_ptr<lvplatform::ISharedMemoryView> Host = CreateHost();
    std::unique_ptr<TMemoryMappedControlFile> Viewer;

    TBlock() {
        std::memset(Host->Data(), 0, kBlockSize);
        Viewer = std::make_unique<TMemoryMappedControlFile>(Name);
        lvplatform::RemoveSharedMemory(Name); // both mappings stay; nothing is left behind
    }
    std::unique_ptr<lvplatform::ISharedMemoryView> CreateHost() const {
        return lvplatform::CreateSharedMemory(Name, kBlockSize);
    }
};

// At most width-1 bytes of the slot, each of which may become a 3-byte U+FFFD.
void CheckSlot(const std::string& text, std::size_t width) {
    LV_FUZZ_CHECK(IsWellFormedUtf8(text));
    LV_FUZZ_CHECK(text.size() <= 3 * (width - 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TBlock block;
    std::uint8_t* host = block.Host->Data();
    std::memset(host, 0, kBlockSize);
    std::memcpy(host, data, std::min(size, kBlockSize));
    TMemoryMappedControlFile& viewer = *block.Viewer;

    CheckSlot(viewer.SearchText(), kSearchTextSlot);
    CheckSlot(viewer.CaptureFileName(), kStringSlot);
    CheckSlot(viewer.CallingWindowNameFormat(), kStringSlot);
    CheckSlot(viewer.PassThroughPrinterName(), kStringSlot);
    CheckSlot(viewer.ConnectionName(), kConnectionNameSlot);
    viewer.SetImageInformation(nullptr);
    try {
        (void)viewer.ImageInformation();
    } catch (const EConvertError&) {
    }

    // The reader straight over the input, as wide as it is.
    if (size > 0)
        CheckSlot(ReadSlotString(data, size), size);

    // Round trip through a slot the viewer writes: what reads back is the kept part of
    // the value up to its first zero byte.
    const std::string value(reinterpret_cast<const char*>(data), size);
    viewer.SetCaptureFileName(value);
    std::string kept = SlotBytes(value, kStringLimit);
    LV_FUZZ_CHECK(kept.size() <= kStringSlot);
    kept.resize(kept.find('\0'));
    LV_FUZZ_CHECK(viewer.CaptureFileName() == lvutf8::Sanitize(kept));
    LV_FUZZ_CHECK(host[kCaptureFileName + SlotBytes(value, kStringLimit).size() - 1] == 0);
    return 0;
}
