// Where a placement record's file lies and how it is written and read: the data folder,
// the program title, names made safe for file names, and the atomic replace.
#include "positions/ScreenPositionTracker.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace lvpositions {

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string FileNamePart(std::string_view name) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    auto encode = [](std::string& out, unsigned char c) {
        out += '%';
        out += Hex[c >> 4];
        out += Hex[c & 0xF];
    };
    std::string out;
    if (name == "." || name == "..") {
        for (char c : name)
            encode(out, static_cast<unsigned char>(c));
        return out;
    }
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F ||
            std::string_view("/\\<>:\"|?*%").find(ch) != std::string_view::npos)
            encode(out, c);
        else
            out += ch;
    }
    // File names hold at most 255 bytes; a longer name keeps its start and gets a hash of
    // the whole name, so it can still be saved and still differs from other names.
    constexpr std::size_t MaxPart = 180;
    constexpr std::size_t KeepPart = 150;
    if (out.size() <= MaxPart)
        return out;
    std::size_t cut = KeepPart;
    while (cut > 0 && ((static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80 ||
                       out[cut - 1] == '%' || (cut >= 2 && out[cut - 2] == '%')))
        --cut;
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (char ch : name) {
        hash ^= static_cast<unsigned char>(ch);
        hash *= 1099511628211ull;
    }
    out.resize(cut);
    out += '~';
    for (int shift = 60; shift >= 0; shift -= 4)
        out += Hex[(hash >> shift) & 0xF];
    return out;
}

fs::path LocalDataFolder() {
    // XDG: a relative XDG_DATA_HOME is invalid and ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && fs::path(xdg).is_absolute())
        return fs::path(xdg);
    if (const char* home = std::getenv("HOME"); home && *home)
        return fs::path(home) / ".local" / "share";
    // Without a home the path starts at the root, as it does when the folder call fails;
    // writing there fails quietly and loading finds nothing.
    return fs::path("/");
}

std::string ApplicationTitle(const fs::path& executable) {
    std::string name = executable.filename().string();
    name = name.substr(0, name.find('.'));
    for (std::size_t i = 1; i < name.size(); ++i)
        name[i] = LowerAscii(name[i]);
    return name;
}

} // namespace lvpositions

using namespace lvpositions;

fs::path TPositionTracker::FileName(const fs::path& ADataFolder, const std::string& ATitle,
                                    const std::string& AWindowName) const {
    return ADataFolder / FileNamePart(ATitle) / "screen" /
           (FileNamePart(TargetName()) + "." + FileNamePart(AWindowName) + ".json");
}

void TPositionTracker::SaveToFile(const fs::path& AFileName) const {
    fs::create_directories(AFileName.parent_path());
    const std::string text = ToJSON();
    // A name of its own for each attempt, next to the target so the rename stays on one
    // file system and replaces the old file in one step.
    static std::mt19937_64 rng{std::random_device{}()};
    const fs::path temp = AFileName.string() + "." + std::to_string(rng() % 100000000) + ".tmp";
    try {
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            if (!out)
                throw std::runtime_error("cannot create " + temp.string());
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            out.close();
            if (!out)
                throw std::runtime_error("cannot write " + temp.string());
        }
        fs::rename(temp, AFileName);
    } catch (...) {
        std::error_code ec;
        fs::remove(temp, ec);
        throw;
    }
}

std::shared_ptr<TPositionTracker> TPositionTracker::LoadFromFile(const fs::path& AFileName,
                                                                 const std::string& ATargetName) {
    std::error_code ec;
    if (!fs::is_regular_file(AFileName, ec))
        return nullptr;
    std::ifstream in(AFileName, std::ios::binary);
    if (!in)
        return nullptr;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return nullptr;
    return FromJSON(text, ATargetName);
}
