// Not built: the sample scripts/check-paths must find fault with, one conversion per line
// marked "fault", so a lint that stopped seeing them fails instead of passing everything.
#include <filesystem>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

fs::path Samples(const fs::path& folder, const std::string& name, std::string_view view,
                 const char* text) {
    fs::path p = name;               // fault
    p = folder / name;               // fault
    p /= view;                       // fault
    p += name;                       // fault
    p = fs::path(text);              // fault
    std::string back = p.string();   // fault
    p.replace_filename(name);        // fault
    p = folder / "screen" / L"wide"; // literals are the same in every encoding
    p += ".tmp";
    return back.empty() ? p : folder;
}
