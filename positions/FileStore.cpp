#include "positions/FileStore.h"
#include "platform/FileSystem.h"

#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace lvpositions {

void ReplaceFile(const fs::path& AFileName, std::string_view bytes) {
    fs::create_directories(AFileName.parent_path());
    // A name of its own for each attempt, next to the target so the rename stays on one
    // file system and replaces the old file in one step.
    static std::mt19937_64 rng{std::random_device{}()};
    fs::path temp = AFileName;
    // Appended, not "." + text: GCC 12 at -O3 warns of a possible overlap in that insert.
    std::string suffix = ".";
    suffix += std::to_string(rng() % 100000000);
    suffix += ".tmp";
    temp += lvplatform::Utf8Path(suffix);
    try {
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            if (!out)
                throw std::runtime_error("cannot create " + lvplatform::PathUtf8(temp));
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            out.close();
            if (!out)
                throw std::runtime_error("cannot write " + lvplatform::PathUtf8(temp));
        }
        std::error_code replaced;
        if (!lvplatform::ReplaceFileAtomically(temp, AFileName, replaced))
            throw fs::filesystem_error("cannot replace", temp, AFileName, replaced);
    } catch (...) {
        std::error_code ec;
        fs::remove(temp, ec);
        throw;
    }
}

std::optional<std::string> ReadBoundedFile(const fs::path& AFileName, std::size_t AMaxBytes) {
    std::error_code ec;
    if (!fs::is_regular_file(AFileName, ec))
        return std::nullopt;
    std::ifstream in(AFileName, std::ios::binary);
    if (!in)
        return std::nullopt;
    // Read in pieces until the end or one byte past the bound: the size on disk may change
    // between a size query and the read, so the bound is kept by the read itself, and a
    // small file costs no more than its size.
    std::string text;
    char piece[16384];
    while (in && text.size() <= AMaxBytes) {
        in.read(piece, sizeof piece);
        text.append(piece, static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad() || text.size() > AMaxBytes)
        return std::nullopt;
    return text;
}

} // namespace lvpositions
