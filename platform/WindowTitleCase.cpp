// Letter-case folding for window titles. Backends that have to match titles themselves
// (X11 has no FindWindow) compare the folded texts.
#include "platform/WindowSystem.h"

namespace lvplatform {
namespace {

// Decodes one UTF-8 sequence at text[i]; malformed bytes come back as themselves
// (marked by returning false) so they still compare byte for byte.
bool Decode(const std::string& text, std::size_t& i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        cp = b0;
        ++i;
        return true;
    }
    int extra = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
    } else {
        return false;
    }
    if (i + static_cast<std::size_t>(extra) >= text.size())
        return false;
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        if ((b & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    i += static_cast<std::size_t>(extra) + 1;
    return true;
}

void Encode(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char32_t Fold(char32_t c) {
    if (c >= U'A' && c <= U'Z')
        return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) // Latin-1 capitals, not the multiplication sign
        return c + 32;
    if (c == 0x178) // Ÿ: its small letter ÿ sits in Latin-1, not beside it
        return 0xFF;
    if (c >= 0x100 && c <= 0x17F) { // Latin Extended-A: capital/small pairs
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
            return (c % 2 == 1) ? c + 1 : c;
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F)
            return c;
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) // Greek capitals
        return c + 32;
    if (c >= 0x410 && c <= 0x42F) // Cyrillic basic capitals
        return c + 32;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80;
    return c;
}

} // namespace

std::string FoldTitleCase(const std::string& title) {
    std::string out;
    out.reserve(title.size());
    std::size_t i = 0;
    while (i < title.size()) {
        char32_t cp = 0;
        const std::size_t start = i;
        if (Decode(title, i, cp)) {
            Encode(Fold(cp), out);
        } else {
            out += title[start];
            i = start + 1;
        }
    }
    return out;
}

bool TitlesEqualIgnoringCase(const std::string& a, const std::string& b) {
    return FoldTitleCase(a) == FoldTitleCase(b);
}

} // namespace lvplatform
