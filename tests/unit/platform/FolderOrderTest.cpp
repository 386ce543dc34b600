// The folder search on a real tree: the same names in the same order as on Linux (the
// order is the listing rule's, not the file system's).
// Built for both platforms (the Windows build runs it under Wine): no platform calls here.
#include "images/Orlenza.ImageListController.h"
#include "images/Orlenza.Types.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace {

namespace fs = std::filesystem;

fs::path FromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string ToUtf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

TEST(FolderOrder, TheSearchListsTheSameSortedNamesAsOnLinux) {
    const fs::path root =
        fs::temp_directory_path() / ("lv-folder-order-" + std::to_string(std::random_device{}()));
    // Created in an order unlike the result, so the file system's order cannot pass.
    const char* created[] = {"12345678~10.tif",      "12345678_x.png",  "12345678~2.jpg",
                             "12345678~1.tif",       "12345678~9.lva",  "12345678zeta.tif",
                             "12345678\xC3\x84.png", "12345678~01.tif", "12345678.tiff",
                             "12345679~1.tif"};
    for (const char* name : created) {
        fs::create_directories(root / "scans" / "1234");
        std::ofstream(root / "scans" / "1234" / FromUtf8(name)) << "x";
    }
    const std::string source =
        ToUtf8(root / "scans") + std::string(1, fs::path::preferred_separator);
    const auto images = TImageListController::ImagesFor({source}, "12345678", "****");
    std::vector<std::string> names;
    names.reserve(images.size());
    for (const auto& image : images)
        names.push_back(image.Name);
    // Natural order: runs of digits by value, the rest by the upper-cased name code unit by
    // code unit (so 'Z' < '_' < '~' < 'Ä').
    const std::vector<std::string> expected = {
        "12345678zeta.tif", "12345678_x.png", "12345678~1.tif",  "12345678~01.tif",
        "12345678~2.jpg",   "12345678~9.lva", "12345678~10.tif", "12345678\xC3\x84.png"};
    EXPECT_EQ(names, expected);
    std::error_code ec;
    fs::remove_all(root, ec);
}

} // namespace
