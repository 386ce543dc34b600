// UTF-8 helpers for text that crosses the control block: the host may write anything.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lvutf8 {

// Returns the text with every malformed sequence (bad lead byte, truncated or overlong
// sequence, surrogate, value above U+10FFFF) replaced by U+FFFD.
std::string Sanitize(std::string_view text);

// Length of the longest prefix of `text` that holds at most `maxBytes` bytes and does
// not end inside a multi-byte character.
std::size_t BoundaryCut(std::string_view text, std::size_t maxBytes);

// Number of UTF-16 code units the (well-formed) text needs.
std::size_t Utf16Length(std::string_view text);

} // namespace lvutf8
