// libFuzzer entry (clang, -DLV_FUZZ=ON): the first byte picks the JSON reader or the
// block's string reads, the rest is the input. CI runs the bounded randomized tests in
// RobustnessTest.cpp instead; this target is for longer hunts.
#include "controlfile/ImageViewer.ControlFile.h"
#include "controlfile/ImageViewer.LumivaneImageInformation.h"
#include "platform/SharedMemory.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Block {
    std::string name = "lvfuzz-cf-" + std::to_string(getpid());
    std::unique_ptr<lvplatform::ISharedMemoryView> view =
        lvplatform::CreateSharedMemory(name, lvcontrol::kBlockSize);
    std::unique_ptr<TMemoryMappedControlFile> cf;
    Block() {
        std::memset(view->Data(), 0, lvcontrol::kBlockSize);
        cf = std::make_unique<TMemoryMappedControlFile>(name);
        lvplatform::RemoveSharedMemory(name); // the mapping stays; nothing is left behind
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1) {
        try {
            TLumivaneInformation::FromJSON(input);
        } catch (const EConvertError&) {
        }
        return 0;
    }
    static Block block;
    std::uint8_t* d = block.view->Data();
    std::memset(d, 0, lvcontrol::kBlockSize);
    std::memcpy(d, input.data(), std::min(input.size(), lvcontrol::kBlockSize));
    auto& cf = *block.cf;
    std::size_t total = cf.SearchText().size() + cf.CaptureFileName().size() +
                        cf.CallingWindowNameFormat().size() + cf.PassThroughPrinterName().size() +
                        cf.ConnectionName().size();
    if (total > 3 * 5 * lvcontrol::kBlockSize)
        std::abort();
    cf.SetImageInformation(nullptr);
    try {
        cf.ImageInformation();
    } catch (const EConvertError&) {
    }
    cf.SetCaptureFileName(std::string(input));
    return 0;
}
