#include "platform/Utf8.h"

#include <cstdint>

namespace lvutf8 {

TDecoded DecodeOne(std::string_view text, std::size_t i) {
    const auto b0 = static_cast<std::uint8_t>(text[i]);
    if (b0 < 0x80)
        return {b0, 1, true};
    const TDecoded bad{b0, 1, false};
    std::size_t n;
    char32_t cp;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2, cp = b0 & 0x1Fu, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, cp = b0 & 0x0Fu, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, cp = b0 & 0x07u, min = 0x10000;
    } else {
        return bad;
    }
    if (n > text.size() - i)
        return bad;
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<std::uint8_t>(text[i + k]);
        if ((b & 0xC0) != 0x80)
            return bad;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return bad;
    return {cp, n, true};
}

std::string Sanitize(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const TDecoded d = DecodeOne(text, i);
        if (d.Valid)
            out.append(text.substr(i, d.Length));
        else
            out += "\xEF\xBF\xBD";
        i += d.Length;
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t c) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        c = 0xFFFD;
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::size_t BoundaryCut(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text.size();
    std::size_t n = maxBytes;
    // Step back over continuation bytes to the start of the character that straddles.
    while (n > 0 && (static_cast<std::uint8_t>(text[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

std::size_t Utf16Length(std::string_view text) {
    std::size_t units = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80)
            units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

} // namespace lvutf8
