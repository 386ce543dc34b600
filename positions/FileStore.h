// Small files this program keeps for itself (window placements, per-connection stores):
// replaced whole so a crash never leaves half a file, and read with a size bound so a
// hostile or damaged file cannot make the reader allocate without limit.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lvpositions {

// Creates the file's folder with its missing parents, writes `bytes` to a temporary file
// beside it and renames that over the file, so readers see the old file or the new one,
// never a part. Throws on failure; the old file is then left as it was.
void ReplaceFile(const std::filesystem::path& AFileName, std::string_view bytes);

// The whole file when it is a regular file of at most AMaxBytes bytes; empty when it is
// missing, not a regular file, unreadable or longer.
std::optional<std::string> ReadBoundedFile(const std::filesystem::path& AFileName,
                                           std::size_t AMaxBytes);

} // namespace lvpositions
