// The one boundary where the core's UTF-8 text becomes a path and a path becomes text.
// A std::string handed to std::filesystem::path is taken in the system's narrow encoding:
// UTF-8 on Linux, but on Windows the ANSI code page (with MinGW's GCC 12, one byte per
// character), so "Ü" would name another file. Core code never converts implicitly; it
// calls these (scripts/check-paths fails the build's lint on any other conversion).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace lvplatform {

// The path named by UTF-8 text (malformed bytes: as the backend's decoder takes them,
// U+FFFD on Windows).
std::filesystem::path Utf8Path(std::string_view utf8);

// The path as UTF-8 text.
std::string PathUtf8(const std::filesystem::path& path);

} // namespace lvplatform
