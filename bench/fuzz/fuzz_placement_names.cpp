// The mapping from a connection name to its files. Two distinct names must never share a
// file (two hosts would overwrite each other's placement, turns and print options), every
// file lies in the placement folder (or a folder below it) whatever the name holds, and
// every file name is UTF-8, so no system decodes two names to one file. The input is
// random bytes, split at its first zero byte into the two names (a name from the block
// never holds one); each name goes through a real block's connection-name slot and is
// read back as the viewer reads it.
#include "FuzzCheck.h"

#include "controlfile/ImageViewer.ControlFile.h"
#include "platform/SharedMemory.h"
#include "platform/Utf8.h"
#include "positions/ScreenPositionTracker.h"

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using namespace lvcontrol;

const std::filesystem::path kDataFolder = "/data";
const std::filesystem::path kPlacementFolder = kDataFolder / "Lumivane" / "screen";

struct TBlock {
    std::string Name = "lvfuzz-names-" + std::to_string(getpid());
    std::unique_ptr<lvplatform::ISharedMemoryView> Host =
        lvplatform::CreateSharedMemory(Name, kBlockSize);
    std::unique_ptr<TMemoryMappedControlFile> Viewer;

    TBlock() {
        std::memset(Host->Data(), 0, kBlockSize);
        Viewer = std::make_unique<TMemoryMappedControlFile>(Name);
        lvplatform::RemoveSharedMemory(Name); // both mappings stay; nothing is left behind
    }

    // What the viewer reads after the host wrote `name` (cut to the slot) into the slot.
    std::string Through(const std::string& name) const {
        std::uint8_t* slot = Host->Data() + kConnectionName;
        const std::size_t n = std::min(name.size(), kConnectionNameSlot - 1);
        std::memset(slot, 0, kConnectionNameSlot);
        std::memcpy(slot, name.data(), n);
        const std::string read = Viewer->ConnectionNameBytes();
        LV_FUZZ_CHECK(read == name.substr(0, n));
        return read;
    }
};

std::filesystem::path FileFor(const std::string& name) {
    return TPositionTracker::Create(name)->FileName(kDataFolder, "Lumivane", "LumivaneViewerForm");
}

// True when `file` lies in the placement folder or a folder below it, and every part of
// its path is a UTF-8 file name no longer than a file name may be.
bool InPlacementFolder(const std::filesystem::path& file) {
    const std::filesystem::path relative = file.lexically_relative(kPlacementFolder);
    if (relative.empty())
        return false;
    for (const auto& part : relative) {
        const std::string text = part.string();
        if (part == ".." || part == "." || text.size() > 255 || lvutf8::Sanitize(text) != text)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TBlock block;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string rawA = input.substr(0, split);
    const std::string rawB = split == std::string::npos ? rawA + "~" : input.substr(split + 1);
    if (rawB.find('\0') != std::string::npos)
        return 0;
    const std::string a = block.Through(rawA);
    const std::string b = block.Through(rawB);
    const std::filesystem::path fileA = FileFor(a);
    const std::filesystem::path fileB = FileFor(b);
    LV_FUZZ_CHECK(InPlacementFolder(fileA));
    LV_FUZZ_CHECK(InPlacementFolder(fileB));
    const std::filesystem::path turnsA = lvpositions::ConnectionFile(kPlacementFolder, a, ".turns");
    const std::filesystem::path turnsB = lvpositions::ConnectionFile(kPlacementFolder, b, ".turns");
    LV_FUZZ_CHECK(InPlacementFolder(turnsA));
    if (a != b) {
        LV_FUZZ_CHECK(fileA != fileB);
        LV_FUZZ_CHECK(turnsA != turnsB);
    }
    return 0;
}
