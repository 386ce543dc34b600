// The placement file reader over a real file holding the input. Whatever it accepts, it
// writes back in a form that reads back to the same record.
#include "FuzzCheck.h"

#include "positions/ScreenPositionTracker.h"

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const std::filesystem::path& FilePath() {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("lvfuzz-placement-" + std::to_string(getpid()) + ".json");
    return path;
}

struct TRemoveAtExit {
    ~TRemoveAtExit() {
        std::error_code ignored;
        std::filesystem::remove(FilePath(), ignored);
    }
} removeAtExit;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream out(FilePath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const auto fromFile = TPositionTracker::LoadFromFile(FilePath(), "fuzz");
    const auto fromText = TPositionTracker::FromJSON(
        std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
    LV_FUZZ_CHECK((fromFile == nullptr) == (fromText == nullptr) || size > 65536);
    if (!fromText)
        return 0;
    const std::string written = fromText->ToJSON();
    const auto again = TPositionTracker::FromJSON(written, "fuzz");
    LV_FUZZ_CHECK(again != nullptr);
    LV_FUZZ_CHECK(again->ToJSON() == written);
    return 0;
}
