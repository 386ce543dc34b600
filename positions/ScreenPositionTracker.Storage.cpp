// Where a placement record's file lies and how it is written and read: the program title,
// names made safe for file names, the atomic replace and the bounded read.
#include "positions/ScreenPositionTracker.h"
#include "positions/FileStore.h"

#include "platform/Path.h"
#include "platform/Utf8.h"

namespace fs = std::filesystem;

namespace lvpositions {

namespace {

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char Hex[] = "0123456789ABCDEF";

void Encode(std::string& out, unsigned char c) {
    out += '%';
    out += Hex[c >> 4];
    out += Hex[c & 0xF];
}

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Bytes of one path component at most, before the text after it (".<window>.json", or a
// folder's "%~"); file names hold at most 255 bytes.
constexpr std::size_t MaxPart = 180;

// Ends every folder piece of a long name. Plain names never hold it: in their encoded
// form '%' is always followed by two hexadecimal digits.
constexpr std::string_view LongNameMark = "%~";

} // namespace

std::string FileNamePart(std::string_view name) {
    std::string out;
    if (name == "." || name == "..") {
        for (char c : name)
            Encode(out, static_cast<unsigned char>(c));
        return out;
    }
    for (std::size_t i = 0; i < name.size();) {
        const lvutf8::TDecoded d = lvutf8::DecodeOne(name, i);
        const auto c = static_cast<unsigned char>(name[i]);
        if (!d.Valid) {
            // A byte that is no UTF-8 keeps its value in the name: decoded as text it would
            // become U+FFFD and meet every other such name, and the system could not take
            // it as a file name on Windows.
            Encode(out, c);
        } else if (d.Length == 1 &&
                   (c < 0x20 || c == 0x7F ||
                    std::string_view("/\\<>:\"|?*%").find(name[i]) != std::string_view::npos)) {
            Encode(out, c);
        } else {
            out.append(name.substr(i, d.Length));
        }
        i += d.Length;
    }
    if (out.size() <= MaxPart)
        return out;
    // Too long for one file name: the encoded name is cut into pieces, each but the last a
    // folder marked as a piece. Joining the pieces gives the encoded name back, so no two
    // names share a file, and no plain name can look like a piece.
    std::string path;
    std::string_view rest = out;
    while (rest.size() > MaxPart) {
        std::size_t cut = MaxPart;
        // Not inside a UTF-8 character (the encoded name is well-formed UTF-8) ...
        while (IsContinuationByte(rest[cut]))
            --cut;
        // ... and not between '%' and its two digits.
        if (rest[cut - 1] == '%')
            cut -= 1;
        else if (rest[cut - 2] == '%')
            cut -= 2;
        path.append(rest.substr(0, cut));
        path.append(LongNameMark);
        path += '/';
        rest.remove_prefix(cut);
    }
    path.append(rest);
    return path;
}

std::string ApplicationTitle(const fs::path& executable) {
    std::string name = lvplatform::PathUtf8(executable.filename());
    name = name.substr(0, name.find('.'));
    for (std::size_t i = 1; i < name.size(); ++i)
        name[i] = LowerAscii(name[i]);
    return name;
}

fs::path PlacementFolder(const fs::path& ADataFolder, const std::string& ATitle) {
    return ADataFolder / lvplatform::Utf8Path(FileNamePart(ATitle)) / "screen";
}

std::string ConnectionFileStem(std::string_view AConnectionName) {
    // The empty name (no block, or a host that names no connection) has the default's
    // file; a connection that is really called so gets its first letter escaped, a form
    // no other name encodes to.
    constexpr std::string_view Default = TPositionTracker::DefaultTargetName;
    if (AConnectionName.empty())
        return std::string(Default);
    if (AConnectionName == Default) {
        std::string out;
        Encode(out, static_cast<unsigned char>(Default[0]));
        out.append(Default.substr(1));
        return out;
    }
    return FileNamePart(AConnectionName);
}

fs::path ConnectionFile(const fs::path& AFolder, const std::string& AConnectionName,
                        std::string_view ASuffix) {
    return AFolder /
           lvplatform::Utf8Path(ConnectionFileStem(AConnectionName) + std::string(ASuffix));
}

} // namespace lvpositions

using namespace lvpositions;

fs::path TPositionTracker::FileName(const fs::path& ADataFolder, const std::string& ATitle,
                                    const std::string& AWindowName) const {
    // Appended piece by piece: GCC 12 at -O3 takes the insert of "." + name for a possible
    // overlapping copy (-Wrestrict).
    std::string suffix = ".";
    suffix += FileNamePart(AWindowName);
    suffix += ".json";
    return ConnectionFile(PlacementFolder(ADataFolder, ATitle), FTargetName, suffix);
}

void TPositionTracker::SaveToFile(const fs::path& AFileName) const {
    ReplaceFile(AFileName, ToJSON());
}

std::shared_ptr<TPositionTracker> TPositionTracker::LoadFromFile(const fs::path& AFileName,
                                                                 const std::string& ATargetName) {
    // A placement file is a few hundred bytes; anything near the bound is not one.
    const auto text = ReadBoundedFile(AFileName, MaxFileSize);
    if (!text)
        return nullptr;
    return FromJSON(*text, ATargetName);
}
