// The placement record's JSON text: writing the fixed compact form and reading it back.
#include "positions/ScreenPositionTracker.h"

#include "platform/Utf8.h"

#include <nlohmann/json.hpp>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

namespace lvpositions {

namespace {

constexpr std::string_view Bom = "\xEF\xBB\xBF";

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Decodes one UTF-8 character at text[i], advancing i; malformed input gives U+FFFD and
// skips one byte.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
    const lvutf8::TDecoded d = lvutf8::DecodeOne(text, i);
    i += d.Length;
    return d.Valid ? d.CodePoint : 0xFFFD;
}

void AppendUnit(std::string& out, unsigned unit) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += Hex[(unit >> shift) & 0xF];
}

std::string PointJSON(TPointF p) {
    const std::string x = FormatFloat(p.X);
    const std::string y = FormatFloat(p.Y);
    return "[[" + x + "," + y + "]," + x + "," + y + "]";
}

const char* ScreenModeName(TWindowState s) {
    switch (s) {
    case wsMinimized:
        return "wsMinimized";
    case wsMaximized:
        return "wsMaximized";
    case wsNormal:
        break;
    }
    return "wsNormal";
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

// A key matches a property by its name or by its field name (leading F), in any case.
bool KeyIs(std::string_view key, std::string_view name) {
    if (EqualsNoCase(key, name))
        return true;
    return key.size() == name.size() + 1 && LowerAscii(key[0]) == 'f' &&
           EqualsNoCase(key.substr(1), name);
}

bool ReadNumber(const nlohmann::json& v, double& out) {
    if (!v.is_number())
        return false;
    out = v.get<double>();
    return std::isfinite(out);
}

void ReadInt32(const nlohmann::json& v, std::int32_t& out) {
    double d = 0;
    if (!ReadNumber(v, d))
        return;
    if (d < std::numeric_limits<std::int32_t>::min() ||
        d > std::numeric_limits<std::int32_t>::max())
        return;
    out = static_cast<std::int32_t>(d);
}

void ReadFloat(const nlohmann::json& v, float& out) {
    double d = 0;
    if (!ReadNumber(v, d))
        return;
    if (std::fabs(d) > std::numeric_limits<float>::max())
        return;
    out = static_cast<float>(d);
}

void ReadBool(const nlohmann::json& v, bool& out) {
    if (v.is_boolean())
        out = v.get<bool>();
}

// [[x,y],x,y]: taken in order, so the last elements decide.
void ReadPoint(const nlohmann::json& v, TPointF& out) {
    if (!v.is_array())
        return;
    if (v.size() > 0 && v[0].is_array()) {
        const auto& pair = v[0];
        if (pair.size() > 0)
            ReadFloat(pair[0], out.X);
        if (pair.size() > 1)
            ReadFloat(pair[1], out.Y);
    }
    if (v.size() > 1)
        ReadFloat(v[1], out.X);
    if (v.size() > 2)
        ReadFloat(v[2], out.Y);
}

void ReadScreenMode(const nlohmann::json& v, TWindowState& out) {
    if (!v.is_string())
        return;
    const auto& s = v.get_ref<const std::string&>();
    for (TWindowState w : {wsNormal, wsMinimized, wsMaximized})
        if (EqualsNoCase(s, ScreenModeName(w)))
            out = w;
}

} // namespace

std::string FormatFloat(float value) {
    const double d = value;
    if (!std::isfinite(d))
        return "0";
    std::array<char, 64> buf{};
    const auto r =
        std::to_chars(buf.data(), buf.data() + buf.size(), d, std::chars_format::general, 15);
    return std::string(buf.data(), r.ptr);
}

std::string QuoteJSON(std::string_view text) {
    std::string out = "\"";
    std::size_t i = 0;
    while (i < text.size()) {
        const char32_t cp = NextCodePoint(text, i);
        switch (cp) {
        case '"':
            out += "\\\"";
            continue;
        case '\\':
            out += "\\\\";
            continue;
        case '/':
            out += "\\/";
            continue;
        case '\b':
            out += "\\b";
            continue;
        case '\t':
            out += "\\t";
            continue;
        case '\n':
            out += "\\n";
            continue;
        case '\f':
            out += "\\f";
            continue;
        case '\r':
            out += "\\r";
            continue;
        default:
            break;
        }
        if (cp >= 0x20 && cp <= 0x7F) {
            out += static_cast<char>(cp);
        } else if (cp > 0xFFFF) {
            const char32_t v = cp - 0x10000;
            AppendUnit(out, 0xD800 + static_cast<unsigned>(v >> 10));
            AppendUnit(out, 0xDC00 + static_cast<unsigned>(v & 0x3FF));
        } else {
            AppendUnit(out, static_cast<unsigned>(cp));
        }
    }
    out += '"';
    return out;
}

bool JsonNestingWithin(std::string_view text, std::size_t AMaxDepth) {
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > AMaxDepth)
                return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

} // namespace lvpositions

using namespace lvpositions;

std::string TPositionTracker::ToJSON() const {
    std::string s(Bom);
    s += "{\"monitor\":" + std::to_string(FMonitor);
    s += std::string(",\"fullScreen\":") + (FFullScreen ? "true" : "false");
    s += ",\"monitorCount\":" + FormatFloat(FMonitorCount);
    s += std::string(",\"screenMode\":\"") + ScreenModeName(FScreenMode) + "\"";
    s += ",\"position\":" + PointJSON(FPosition);
    s += ",\"targetName\":" + QuoteJSON(FTargetName);
    s += ",\"desktopSize\":" + PointJSON(FDesktopSize);
    s += ",\"mainformMonitor\":" + std::to_string(FMainformMonitor);
    s += std::string(",\"fitToWidth\":") + (FFitToWidth ? "true" : "false");
    s += ",\"zoom\":" + FormatFloat(FZoom);
    s += ",\"formSize\":" + PointJSON(FFormSize);
    s += "}";
    return s;
}

std::shared_ptr<TPositionTracker> TPositionTracker::FromJSON(std::string_view text,
                                                             const std::string& ATargetName) {
    if (text.size() > MaxFileSize || !JsonNestingWithin(text, MaxNestingDepth))
        return nullptr;
    if (text.substr(0, Bom.size()) == Bom)
        text.remove_prefix(Bom.size());
    const nlohmann::json doc = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (doc.is_discarded() || !doc.is_object())
        return nullptr;
    auto r = Create(ATargetName);
    for (const auto& [key, v] : doc.items()) {
        if (KeyIs(key, "monitor"))
            ReadInt32(v, r->FMonitor);
        else if (KeyIs(key, "fullScreen"))
            ReadBool(v, r->FFullScreen);
        else if (KeyIs(key, "monitorCount"))
            ReadFloat(v, r->FMonitorCount);
        else if (KeyIs(key, "screenMode"))
            ReadScreenMode(v, r->FScreenMode);
        else if (KeyIs(key, "position"))
            ReadPoint(v, r->FPosition);
        else if (KeyIs(key, "targetName")) {
            if (v.is_string())
                r->FTargetName = v.get<std::string>();
        } else if (KeyIs(key, "desktopSize"))
            ReadPoint(v, r->FDesktopSize);
        else if (KeyIs(key, "mainformMonitor"))
            ReadInt32(v, r->FMainformMonitor);
        else if (KeyIs(key, "fitToWidth"))
            ReadBool(v, r->FFitToWidth);
        else if (KeyIs(key, "zoom"))
            ReadFloat(v, r->FZoom);
        else if (KeyIs(key, "formSize"))
            ReadPoint(v, r->FFormSize);
    }
    return r;
}
