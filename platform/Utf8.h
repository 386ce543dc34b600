// The one UTF-8 decoder of the program. Text reaches us from the host's block, from file
// names and from placement files, any of which may hold malformed bytes; every reader
// decodes through DecodeOne and only chooses what a malformed byte becomes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lvutf8 {

// One character read at text[i]. A well-formed sequence gives its code point and length;
// anything else (bad lead byte, truncated or overlong sequence, surrogate, value above
// U+10FFFF) gives Valid false, Length 1 and the lead byte as CodePoint, so the caller
// decides how to show it and goes on at the next byte.
struct TDecoded {
    char32_t CodePoint = 0;
    std::size_t Length = 1;
    bool Valid = false;
};
TDecoded DecodeOne(std::string_view text, std::size_t i);

// Returns the text with every malformed byte replaced by U+FFFD.
std::string Sanitize(std::string_view text);

// Appends the UTF-8 form of a code point (a surrogate or a value above U+10FFFF as U+FFFD).
void AppendUtf8(std::string& out, char32_t c);

// Length of the longest prefix of `text` that holds at most `maxBytes` bytes and does
// not end inside a multi-byte character.
std::size_t BoundaryCut(std::string_view text, std::size_t maxBytes);

// Number of UTF-16 code units the (well-formed) text needs.
std::size_t Utf16Length(std::string_view text);

} // namespace lvutf8
