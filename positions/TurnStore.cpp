#include "positions/TurnStore.h"

#include "positions/FileStore.h"
#include "positions/ScreenPositionTracker.h"

#include "platform/Path.h"

#include <charconv>
#include <chrono>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// First line of the file; anything else there means the file is not ours.
constexpr std::string_view Header = "lumivane-turns 1\n";

// Paths may hold any byte but NUL: the line and field separators are escaped.
void AppendEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
}

bool Unescape(std::string_view text, std::string& out) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size())
            return false;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return false;
        }
    }
    return true;
}

template <typename T> bool ParseNumber(std::string_view text, T& out) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return r.ec == std::errc() && r.ptr == text.data() + text.size() && !text.empty();
}

// "<turns>\t<size>\t<modified>\t<path>"
bool ParseLine(std::string_view line, TFileIdentity& file, int& turns) {
    std::string_view fields[3];
    for (auto& field : fields) {
        const auto tab = line.find('\t');
        if (tab == std::string_view::npos)
            return false;
        field = line.substr(0, tab);
        line.remove_prefix(tab + 1);
    }
    file.Path.clear();
    return ParseNumber(fields[0], turns) && turns >= 1 && turns <= 3 &&
           ParseNumber(fields[1], file.Size) && ParseNumber(fields[2], file.ModifiedNanoseconds) &&
           Unescape(line, file.Path) && !file.Path.empty();
}

std::string Line(const TFileIdentity& file, int turns) {
    std::string line = std::to_string(turns) + '\t' + std::to_string(file.Size) + '\t' +
                       std::to_string(file.ModifiedNanoseconds) + '\t';
    AppendEscaped(line, file.Path);
    line += '\n';
    return line;
}

int Normalised(int turns) {
    return ((turns % 4) + 4) % 4;
}

} // namespace

TTurnStore::TTurnStore(const fs::path& AFolder, const std::string& AConnectionName)
    : FFileName(lvpositions::ConnectionFile(AFolder, AConnectionName, ".turns")) {}

std::optional<TFileIdentity> TTurnStore::IdentityOf(const fs::path& APath) {
    std::error_code ec;
    const fs::file_status status = fs::status(APath, ec);
    if (ec || !fs::is_regular_file(status))
        return std::nullopt;
    const std::uintmax_t size = fs::file_size(APath, ec);
    if (ec)
        return std::nullopt;
    const fs::file_time_type modified = fs::last_write_time(APath, ec);
    if (ec)
        return std::nullopt;
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch());
    return TFileIdentity{lvplatform::PathUtf8(APath), size, static_cast<std::int64_t>(ns.count())};
}

int TTurnStore::QuarterTurns(const fs::path& APath) {
    const auto file = IdentityOf(APath);
    return file ? QuarterTurns(*file) : 0;
}

int TTurnStore::QuarterTurns(const TFileIdentity& AFile) {
    std::lock_guard lock(FLock);
    EnsureLoaded();
    const auto found = FByPath.find(AFile.Path);
    if (found == FByPath.end() || !(found->second->File == AFile))
        return 0;
    return found->second->Turns;
}

bool TTurnStore::SetQuarterTurns(const fs::path& APath, int ATurns) {
    const auto file = IdentityOf(APath);
    return file && SetQuarterTurns(*file, ATurns);
}

bool TTurnStore::SetQuarterTurns(const TFileIdentity& AFile, int ATurns) {
    std::lock_guard lock(FLock);
    EnsureLoaded();
    if (const auto found = FByPath.find(AFile.Path); found != FByPath.end()) {
        FEntries.erase(found->second);
        FByPath.erase(found);
    }
    const int turns = Normalised(ATurns);
    if (turns != 0) {
        FEntries.push_back({AFile, turns, Line(AFile, turns)});
        FByPath[AFile.Path] = std::prev(FEntries.end());
        while (FEntries.size() > MaxFiles) {
            FByPath.erase(FEntries.front().File.Path);
            FEntries.pop_front();
        }
    }
    return Write();
}

void TTurnStore::EnsureLoaded() {
    if (FLoaded)
        return;
    FLoaded = true;
    Load();
}

void TTurnStore::Load() {
    // Anything but a whole, well-formed store counts as an empty one.
    const auto text = lvpositions::ReadBoundedFile(FFileName, MaxFileSize);
    if (!text || std::string_view(*text).substr(0, Header.size()) != Header)
        return;
    std::string_view rest = std::string_view(*text).substr(Header.size());
    TEntries entries;
    std::unordered_map<std::string, TEntries::iterator> byPath;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        if (end == std::string_view::npos)
            return;
        TEntry entry;
        if (!ParseLine(rest.substr(0, end), entry.File, entry.Turns))
            return;
        entry.Line = std::string(rest.substr(0, end + 1));
        rest.remove_prefix(end + 1);
        // A later line for the same path is the more recent one.
        if (const auto found = byPath.find(entry.File.Path); found != byPath.end()) {
            entries.erase(found->second);
            byPath.erase(found);
        }
        entries.push_back(std::move(entry));
        byPath[entries.back().File.Path] = std::prev(entries.end());
        if (entries.size() > MaxFiles) {
            byPath.erase(entries.front().File.Path);
            entries.pop_front();
        }
    }
    FEntries = std::move(entries);
    FByPath = std::move(byPath);
}

bool TTurnStore::Write() const {
    // The newest entries that fit under the size bound, written oldest first.
    std::size_t size = Header.size();
    auto first = FEntries.end();
    while (first != FEntries.begin()) {
        const auto previous = std::prev(first);
        if (size + previous->Line.size() > MaxFileSize)
            break;
        size += previous->Line.size();
        first = previous;
    }
    std::string text;
    text.reserve(size);
    text += Header;
    for (auto it = first; it != FEntries.end(); ++it)
        text += it->Line;
    try {
        lvpositions::ReplaceFile(FFileName, text);
        return true;
    } catch (...) {
        return false;
    }
}
