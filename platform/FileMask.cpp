#include "platform/FileMask.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <numeric>

#include "platform/Utf8.h"

#include <stdexcept>

namespace lvplatform {

namespace {

constexpr char32_t EscapedByteBase = 0xDC00;

char AsciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// One code point from text at i; advances i. Malformed input yields U+DC00 + byte.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
    const lvutf8::TDecoded d = lvutf8::DecodeOne(text, i);
    i += d.Length;
    return d.Valid ? d.CodePoint : EscapedByteBase + d.CodePoint;
}

} // namespace

std::u32string DecodeUtf8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        out.push_back(NextCodePoint(text, i));
    return out;
}

std::string EncodeUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        // An escaped byte goes back out as that byte; a lone surrogate has no UTF-8 form.
        if (c >= EscapedByteBase + 0x80 && c <= EscapedByteBase + 0xFF)
            out.push_back(static_cast<char>(c - EscapedByteBase));
        else
            lvutf8::AppendUtf8(out, c);
    }
    return out;
}

std::u16string ToUtf16(std::u32string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char32_t c : text) {
        if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            const char32_t v = c - 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
        }
    }
    return out;
}

std::u16string ListingSortKey(std::string_view name) {
    std::u32string cps = DecodeUtf8(name);
    for (char32_t& c : cps)
        c = UpperCase(c);
    return ToUtf16(cps);
}

namespace {

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// -1, 0 or 1 for a against b in natural order; equal runs of different zero padding
// set APadding (once, the first such run deciding) instead of deciding at once.
int NaturalCompare(std::u16string_view a, std::u16string_view b, int& APadding) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t endA = i, endB = j;
            while (endA < a.size() && IsDigit(a[endA]))
                ++endA;
            while (endB < b.size() && IsDigit(b[endB]))
                ++endB;
            // Leading zeros do not change a value; the last digit always counts.
            std::size_t startA = i, startB = j;
            while (startA + 1 < endA && a[startA] == u'0')
                ++startA;
            while (startB + 1 < endB && b[startB] == u'0')
                ++startB;
            // More significant digits is the larger value, whatever its length.
            const std::size_t digitsA = endA - startA, digitsB = endB - startB;
            if (digitsA != digitsB)
                return digitsA < digitsB ? -1 : 1;
            const int digits = a.substr(startA, digitsA).compare(b.substr(startB, digitsB));
            if (digits != 0)
                return digits < 0 ? -1 : 1;
            if (APadding == 0 && endA - i != endB - j)
                APadding = endA - i < endB - j ? -1 : 1;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

} // namespace

bool ListingOrderLess(std::u16string_view a, std::u16string_view b) {
    int padding = 0;
    if (const int order = NaturalCompare(a, b, padding))
        return order < 0;
    if (padding != 0)
        return padding < 0;
    return a < b;
}

bool TFileMask::TItem::Accepts(char32_t upper) const {
    bool inSet = false;
    for (const auto& [lo, hi] : Ranges) {
        if (upper >= lo && upper <= hi) {
            inSet = true;
            break;
        }
    }
    return inSet != Negated;
}

TFileMask::TFileMask(std::string_view mask) : FText(mask) {
    if (mask.empty())
        throw std::invalid_argument("Invalid mask: the mask is empty");
    const std::u32string cps = DecodeUtf8(mask);
    for (std::size_t i = 0; i < cps.size(); ++i) {
        TItem item;
        const char32_t c = cps[i];
        if (c == U'*') {
            item.Kind = TItem::ikAnyRun;
            if (!FItems.empty() && FItems.back().Kind == TItem::ikAnyRun)
                continue; // "**" means the same as "*"
        } else if (c == U'?') {
            item.Kind = TItem::ikAnyOne;
        } else if (c == U'[') {
            item.Kind = TItem::ikSet;
            std::size_t j = i + 1;
            if (j < cps.size() && cps[j] == U'!') {
                item.Negated = true;
                ++j;
            }
            while (j < cps.size() && cps[j] != U']') {
                char32_t lo = cps[j];
                char32_t hi = lo;
                if (j + 2 < cps.size() && cps[j + 1] == U'-' && cps[j + 2] != U']') {
                    hi = cps[j + 2];
                    j += 2;
                }
                lo = UpperCase(lo);
                hi = UpperCase(hi);
                if (lo > hi)
                    std::swap(lo, hi);
                item.Ranges.emplace_back(lo, hi);
                ++j;
            }
            if (j >= cps.size())
                throw std::invalid_argument("Invalid mask '" + FText +
                                            "': a set is not closed by ']'");
            if (item.Ranges.empty())
                throw std::invalid_argument("Invalid mask '" + FText + "': a set is empty");
            i = j;
        } else {
            item.Char = UpperCase(c);
        }
        FItems.push_back(std::move(item));
    }
    for (const TItem& item : FItems) {
        if (item.Kind != TItem::ikLiteral)
            break;
        FPrefix.push_back(item.Char);
    }
    FPrefixIsAscii = true;
    for (char32_t c : FPrefix) {
        if (c >= 0x80) {
            FPrefixIsAscii = false;
            break;
        }
        FAsciiPrefix.push_back(static_cast<char>(c));
    }
    if (!FPrefixIsAscii)
        FAsciiPrefix.clear();
}

bool TFileMask::MatchesPrefix(std::string_view name) const {
    if (FPrefixIsAscii) {
        const std::size_t n = FAsciiPrefix.size();
        if (name.size() < n)
            return false; // each prefix character needs at least one byte of the name
        for (std::size_t i = 0; i < n; ++i) {
            const char c = name[i];
            if (static_cast<unsigned char>(c) >= 0x80)
                return SlowPrefix(name); // e.g. U+017F upper-cases to ASCII 'S'
            if (AsciiUpper(c) != FAsciiPrefix[i])
                return false;
        }
        return true;
    }
    return SlowPrefix(name);
}

bool TFileMask::MatchesPrefix(const char* name) const {
    if (!FPrefixIsAscii)
        return SlowPrefix(name);
    const char* want = FAsciiPrefix.c_str();
    for (const char* p = name; *want; ++p, ++want) {
        const char c = *p; // the terminating zero never equals a prefix character
        if (static_cast<unsigned char>(c) >= 0x80)
            return SlowPrefix(name);
        if (AsciiUpper(c) != *want)
            return false;
    }
    return true;
}

bool TFileMask::SlowPrefix(std::string_view name) const {
    std::size_t i = 0;
    for (char32_t want : FPrefix) {
        if (i >= name.size())
            return false;
        if (UpperCase(NextCodePoint(name, i)) != want)
            return false;
    }
    return true;
}

bool TFileMask::Matches(std::string_view name) const {
    std::u32string text = DecodeUtf8(name);
    for (char32_t& c : text)
        c = UpperCase(c);
    // Iterative wildcard match: remember the last "*" and retry from one character later.
    std::size_t t = 0;
    std::size_t m = 0;
    std::size_t starItem = std::string::npos;
    std::size_t starText = 0;
    while (t < text.size()) {
        if (m < FItems.size()) {
            const TItem& item = FItems[m];
            if (item.Kind == TItem::ikAnyRun) {
                starItem = m++;
                starText = t;
                continue;
            }
            const bool ok = item.Kind == TItem::ikAnyOne ||
                            (item.Kind == TItem::ikLiteral && item.Char == text[t]) ||
                            (item.Kind == TItem::ikSet && item.Accepts(text[t]));
            if (ok) {
                ++m;
                ++t;
                continue;
            }
        }
        if (starItem == std::string::npos)
            return false;
        m = starItem + 1;
        t = ++starText;
    }
    while (m < FItems.size() && FItems[m].Kind == TItem::ikAnyRun)
        ++m;
    return m == FItems.size();
}

void SortListing(std::vector<TFileEntry>& entries) {
    if (entries.size() < 2)
        return;
    {
        std::vector<std::u16string> keys;
        keys.reserve(entries.size());
        for (const TFileEntry& e : entries)
            keys.push_back(ListingSortKey(e.Name));
        std::vector<std::size_t> order(entries.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            if (ListingOrderLess(keys[a], keys[b]))
                return true;
            if (ListingOrderLess(keys[b], keys[a]))
                return false;
            return entries[a].Name < entries[b].Name;
        });
        std::vector<TFileEntry> sorted;
        sorted.reserve(entries.size());
        for (std::size_t i : order)
            sorted.push_back(std::move(entries[i]));
        entries = std::move(sorted);
    }
}

} // namespace lvplatform
