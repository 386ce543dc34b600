// The mapping from a connection name to its placement file. Two distinct names must never
// share a file (two hosts would overwrite each other's placement), and every file lies in
// the placement folder (or a folder below it) whatever the name holds. The input is split at its
// first zero byte into the two names (a name from the block never holds one).
#include "FuzzCheck.h"

#include "positions/ScreenPositionTracker.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace {

const std::filesystem::path kDataFolder = "/data";
const std::filesystem::path kPlacementFolder = kDataFolder / "Lumivane" / "screen";

std::filesystem::path FileFor(const std::string& name) {
    return TPositionTracker::Create(name)->FileName(kDataFolder, "Lumivane", "LumivaneViewerForm");
}

// True when `file` lies in the placement folder or a folder below it, and no part of
// its path is longer than a file name may be.
bool InPlacementFolder(const std::filesystem::path& file) {
    const std::filesystem::path relative = file.lexically_relative(kPlacementFolder);
    if (relative.empty())
        return false;
    for (const auto& part : relative)
        if (part == ".." || part == "." || part.string().size() > 255)
            return false;
    return true;
}

// The name a record goes by: an empty one reads as the common default.
std::string Effective(const std::string& name) {
    return name.empty() ? TPositionTracker::DefaultTargetName : name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string a = input.substr(0, split);
    const std::string b = split == std::string::npos ? a + "~" : input.substr(split + 1);
    if (b.find('\0') != std::string::npos)
        return 0;
    const std::filesystem::path fileA = FileFor(a);
    const std::filesystem::path fileB = FileFor(b);
    LV_FUZZ_CHECK(InPlacementFolder(fileA));
    LV_FUZZ_CHECK(InPlacementFolder(fileB));
    if (Effective(a) != Effective(b))
        LV_FUZZ_CHECK(fileA != fileB);
    return 0;
}
