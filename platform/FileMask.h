// File-name masks as users and hosts write them: "*" any run of characters, "?" any one
// character, "[...]" one character of a set ("[a-c]" ranges, "[!...]" negation). Letters
// compare without regard to case. The matching itself is the same on every platform; only
// the upper-casing of a character comes from the backend.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lvplatform {

// Upper-case form of one Unicode code point (backend: the C.UTF-8 case tables on POSIX).
char32_t UpperCase(char32_t c);

// Decodes UTF-8 into code points. A byte that does not start a well-formed sequence
// becomes U+DC00 + byte, so a malformed name can only ever match a wildcard.
std::u32string DecodeUtf8(std::string_view text);
std::string EncodeUtf8(std::u32string_view text);
std::u16string ToUtf16(std::u32string_view text);

// The key a listing is sorted by: the upper-cased name in UTF-16 code units.
std::u16string ListingSortKey(std::string_view name);

// Natural order of two sort keys: runs of the digits 0-9 compare by their value
// ("~2" before "~10"; of equal values the one with fewer leading zeros first), every
// other code unit as it is. Keys equal in this order compare as plain text last, so
// the order is total.
bool ListingOrderLess(std::u16string_view a, std::u16string_view b);

class TFileMask {
public:
    // Throws std::invalid_argument for an empty mask or an unclosed or empty set.
    explicit TFileMask(std::string_view mask);

    // Cheap first test: true when `name` begins with the mask's literal prefix (the part
    // before its first wildcard), without regard to case. Every name that Matches also
    // passes this test.
    bool MatchesPrefix(std::string_view name) const;
    // The same for a zero-terminated name, as a directory entry gives it: no length is
    // measured, so most entries are turned away after their first few bytes.
    bool MatchesPrefix(const char* name) const;
    bool Matches(std::string_view name) const;

    const std::string& Text() const { return FText; }

private:
    struct TItem {
        enum TKind { ikLiteral, ikAnyOne, ikAnyRun, ikSet };
        TKind Kind = ikLiteral;
        char32_t Char = 0;                                 // ikLiteral, upper-cased
        std::vector<std::pair<char32_t, char32_t>> Ranges; // ikSet, upper-cased bounds
        bool Negated = false;                              // ikSet
        bool Accepts(char32_t upper) const;
    };

    bool SlowPrefix(std::string_view name) const;

    std::string FText;
    std::vector<TItem> FItems;
    std::u32string FPrefix;   // upper-cased literal prefix
    std::string FAsciiPrefix; // the same when it is all ASCII (fast path), else empty
    bool FPrefixIsAscii = false;
};

} // namespace lvplatform
