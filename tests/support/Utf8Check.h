// Well-formed UTF-8, checked here independently of the code under test.
#pragma once

#include <cstddef>
#include <string>

inline bool IsValidUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n;
        unsigned cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 2;
            cp = c & 0x1Fu;
        } else if ((c & 0xF0) == 0xE0) {
            n = 3;
            cp = c & 0x0Fu;
        } else if ((c & 0xF8) == 0xF0) {
            n = 4;
            cp = c & 0x07u;
        } else {
            return false;
        }
        if (i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (d & 0x3Fu);
        }
        const unsigned minimum[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < minimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += n;
    }
    return true;
}
