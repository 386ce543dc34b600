// The one UTF-8 decoder: every malformed class is refused one byte at a time, every
// well-formed class at its edges is taken whole, and both readers built on it keep their
// own policy for a malformed byte.
#include "platform/Utf8.h"
#include "platform/FileMask.h"

#include <gtest/gtest.h>

namespace {

struct TDecodeRow {
    const char* Name;
    std::string Bytes;
    bool Valid;
    char32_t CodePoint; // for valid rows
    std::size_t Length;
};

const TDecodeRow kDecodeRows[] = {
    {"ascii", "A", true, U'A', 1},
    {"nul_is_a_character", std::string(1, '\0'), true, 0, 1},
    {"two_byte_lowest", "\xC2\x80", true, 0x80, 2},
    {"two_byte_highest", "\xDF\xBF", true, 0x7FF, 2},
    {"three_byte_lowest", "\xE0\xA0\x80", true, 0x800, 3},
    {"just_below_surrogates", "\xED\x9F\xBF", true, 0xD7FF, 3},
    {"just_above_surrogates", "\xEE\x80\x80", true, 0xE000, 3},
    {"four_byte_lowest", "\xF0\x90\x80\x80", true, 0x10000, 4},
    {"four_byte_highest", "\xF4\x8F\xBF\xBF", true, 0x10FFFF, 4},
    {"lone_continuation", "\x80", false, 0, 1},
    {"overlong_two_byte", "\xC1\xBF", false, 0, 1},
    {"overlong_three_byte", "\xE0\x9F\xBF", false, 0, 1},
    {"overlong_four_byte", "\xF0\x8F\xBF\xBF", false, 0, 1},
    {"surrogate", "\xED\xA0\x80", false, 0, 1},
    {"above_unicode", "\xF4\x90\x80\x80", false, 0, 1},
    {"five_byte_lead", "\xF8\x88\x80\x80\x80", false, 0, 1},
    {"ff_byte", "\xFF", false, 0, 1},
    {"truncated_at_end", "\xE2\x82", false, 0, 1},
    {"continuation_missing", "\xE2\x41\x41", false, 0, 1},
};

TEST(Utf8, DecodeOneTakesWellFormedSequencesWholeAndRefusesMalformedOnesByTheByte) {
    for (const auto& row : kDecodeRows) {
        SCOPED_TRACE(row.Name);
        const lvutf8::TDecoded d = lvutf8::DecodeOne(row.Bytes, 0);
        EXPECT_EQ(d.Valid, row.Valid);
        EXPECT_EQ(d.Length, row.Length);
        if (row.Valid)
            EXPECT_EQ(d.CodePoint, row.CodePoint);
        else
            EXPECT_EQ(d.CodePoint, static_cast<unsigned char>(row.Bytes[0]));
    }
}

TEST(Utf8, ASequenceCutByTheEndOfTheViewIsNotReadPastIt) {
    // The view ends inside a three-byte character that goes on in the bytes after it.
    const std::string whole = "a\xE2\x82\xAC";
    const std::string_view view(whole.data(), 3);
    const lvutf8::TDecoded d = lvutf8::DecodeOne(view, 1);
    EXPECT_FALSE(d.Valid);
    EXPECT_EQ(d.Length, 1u);
}

TEST(Utf8, SanitizeReplacesEachMalformedByteAndKeepsTheRest) {
    EXPECT_EQ(lvutf8::Sanitize("a\xFF"
                               "b\xE2\x82\xAC"
                               "c"),
              "a\xEF\xBF\xBD"
              "b\xE2\x82\xAC"
              "c");
    // Both bytes of a truncated sequence are refused one by one.
    EXPECT_EQ(lvutf8::Sanitize("\xE2\x82"), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf8, FileNamesKeepTheirMalformedBytesThroughADecodeAndEncode) {
    // A name on disk may hold any bytes; the mask matcher must give the same name back.
    for (const std::string& name :
         {std::string("plain.tif"), std::string("\xFF\xFE.tif"),
          std::string("caf\xC3\xA9\xE2\x82.png"), std::string("\xED\xA0\x80x")}) {
        EXPECT_EQ(lvplatform::EncodeUtf8(lvplatform::DecodeUtf8(name)), name);
    }
}

TEST(Utf8, BoundaryCutNeverEndsInsideACharacter) {
    const std::string text = "ab\xE2\x82\xAC"
                             "c"; // a b EURO c
    const std::size_t expected[] = {0, 1, 2, 2, 2, 5, 6};
    for (std::size_t limit = 0; limit < std::size(expected); ++limit)
        EXPECT_EQ(lvutf8::BoundaryCut(text, limit), expected[limit]) << "limit " << limit;
}

} // namespace
