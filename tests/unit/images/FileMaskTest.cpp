// The platform's mask matching and folder listing, on real folders.
#include "platform/FileSystem.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

using lvplatform::TFileMask;

namespace {

struct MaskCase {
    const char* fault;
    const char* mask;
    const char* name;
    bool matches;
};

const MaskCase maskCases[] = {
    {"prefix_is_a_prefix_not_a_whole_name", "1234*", "12345678~1.tif", true},
    {"prefix_longer_than_name_fails", "12345678*", "1234567.tif", false},
    {"letters_ignore_case", "abc*", "ABC~1.TIF", true},
    {"non_ascii_letters_ignore_case", "\xC3\xA9t\xC3\xA9*", "\xC3\x89T\xC3\x89.png", true},
    {"non_ascii_letter_differs", "\xC3\xA9*", "e.png", false},
    {"name_char_that_upper_cases_to_ascii", "S*",
     "\xC5\xBF"
     "x.tif",
     true}, // U+017F long s
    {"question_mark_is_exactly_one_char", "12?4*", "1234.tif", true},
    {"question_mark_needs_a_char", "1234?", "1234", false},
    {"question_mark_takes_a_whole_utf8_char", "?b*",
     "\xC3\xA9"
     "b.tif",
     true},
    {"star_in_middle_backtracks", "a*b*c", "axxbyybzzc", true},
    {"star_then_literal_tail_must_end_name", "a*.tif", "a.tif.png", false},
    {"set_matches_member", "[abc]1*", "B1.tif", true},
    {"set_rejects_non_member", "[abc]1*", "d1.tif", false},
    {"range_in_set", "x[0-9]*", "x7.png", true},
    {"range_in_set_rejects_outside", "x[0-9]*", "xa.png", false},
    {"negated_set", "x[!0-9]*", "xa.png", true},
    {"negated_set_rejects_member", "x[!0-9]*", "x5.png", false},
    {"malformed_utf8_name_matches_only_wildcards", "a?c*",
     "a\xFF"
     "c.tif",
     true},
    {"malformed_utf8_name_never_equals_a_literal", "a\xC3\xBF*", "a\xFF.tif", false},
};

void PrintTo(const MaskCase& c, std::ostream* os) {
    *os << c.mask << " / " << c.name;
}

class MaskTable : public testing::TestWithParam<MaskCase> {};

TEST_P(MaskTable, MatchesAndPrefixAgree) {
    const MaskCase& c = GetParam();
    const TFileMask mask(c.mask);
    EXPECT_EQ(mask.Matches(c.name), c.matches) << c.mask << " vs " << c.name;
    // The prefix test runs first and must never turn away a name that matches.
    if (c.matches) {
        EXPECT_TRUE(mask.MatchesPrefix(c.name));
        EXPECT_TRUE(mask.MatchesPrefix(std::string_view(c.name)));
    }
}

INSTANTIATE_TEST_SUITE_P(Masks, MaskTable, testing::ValuesIn(maskCases),
                         [](const testing::TestParamInfo<MaskCase>& row) {
                             return std::string(row.param.fault);
                         });

TEST(FileMask, InvalidMasksAreRejected) {
    for (const char* bad : {"", "ab[cd", "ab[]*", "[!]"})
        EXPECT_THROW(TFileMask{bad}, std::invalid_argument) << "mask '" << bad << "'";
}

TEST(FileMask, PrefixTestRejectsOtherIdentifiers) {
    const TFileMask mask("12345678*");
    // Both forms: the zero-terminated one (directory entries) and the sized one.
    for (const char* name : {"12345679~1.tif", "1234567", ""}) {
        EXPECT_FALSE(mask.MatchesPrefix(name)) << name;
        EXPECT_FALSE(mask.MatchesPrefix(std::string_view(name))) << name;
    }
    EXPECT_TRUE(mask.MatchesPrefix("12345678"));
    EXPECT_TRUE(mask.MatchesPrefix(std::string_view("12345678")));
}

std::vector<std::string> Names(const std::vector<lvplatform::TFileEntry>& entries) {
    std::vector<std::string> names;
    names.reserve(entries.size());
    for (const auto& e : entries)
        names.push_back(e.Name);
    return names;
}

TEST(ListFiles, SortsNaturallyAndLeavesOutFoldersAndSpecialFiles) {
    TempFolder tmp;
    // Created out of order: the folder's own order must not leak through.
    for (const char* name : {"zeta.tif", "_x.tif", "Page_003.TIF", "page_002.tif", "PAGE_001.tif",
                             "b~10.tif", "b~2.tif"})
        tmp.File(name);
    tmp.Dir("page_000.tif");
    ASSERT_EQ(::mkfifo((tmp.Root() / "page_fifo.lva").c_str(), 0644), 0);
    std::filesystem::create_symlink(tmp.Root() / "zeta.tif", tmp.Root() / "link.tif");
    std::filesystem::create_symlink(tmp.Root() / "missing.tif", tmp.Root() / "dangling.tif");
    std::filesystem::create_symlink(tmp.Root() / "loop_b.tif", tmp.Root() / "loop_a.tif");
    std::filesystem::create_symlink(tmp.Root() / "loop_a.tif", tmp.Root() / "loop_b.tif");

    const auto entries = lvplatform::ListFiles(tmp.Root(), TFileMask("*"));
    // "_" (0x5F) sorts after the upper-case letters; "~2" before "~10" by value.
    EXPECT_EQ(Names(entries),
              (std::vector<std::string>{"b~2.tif", "b~10.tif", "link.tif", "PAGE_001.tif",
                                        "page_002.tif", "Page_003.TIF", "zeta.tif", "_x.tif"}));
    for (const auto& e : entries)
        EXPECT_EQ(e.IsLink, e.Name == "link.tif") << e.Name;
}

TEST(ListFiles, ScanNumbersComeInReadingOrder) {
    TempFolder tmp;
    std::vector<std::string> expected;
    for (int i = 1; i <= 19; ++i)
        expected.push_back("12345678~" + std::to_string(i) + ".tif");
    // Written in reverse, so neither creation order nor plain text order can pass.
    for (auto it = expected.rbegin(); it != expected.rend(); ++it)
        tmp.File(*it);
    EXPECT_EQ(Names(lvplatform::ListFiles(tmp.Root(), TFileMask("12345678*"))), expected);
}

TEST(ListingOrder, DigitRunsCompareByValueAndTheRestAsText) {
    struct Row {
        const char* fault;
        const char* before;
        const char* after;
    } rows[] = {
        {"single_before_double_digit", "12345678~2.tif", "12345678~10.tif"},
        {"nine_before_ten", "a9", "a10"},
        {"second_run_decides_when_first_equal", "a2b9", "a2b10"},
        {"first_run_decides_before_the_second", "a2b10", "a10b2"},
        {"equal_value_fewer_zeros_first", "x~1.tif", "x~01.tif"},
        {"zeros_only_count_when_values_tie", "x~01.tif", "x~2.tif"},
        {"zero_run_is_zero", "x~0.tif", "x~00.tif"},
        {"longer_than_64_bits", "~99999999999999999999", "~100000000000000000000"},
        {"shorter_name_first_on_equal_start", "12345678~1", "12345678~1.tif"},
        {"digit_before_letter_as_text", "~1", "~a"},
        {"letters_ignore_case", "abc~2", "ABD~1"},
        {"text_after_equal_numbers_decides", "page7.jpg", "page7.png"},
        {"dot_before_digit_as_text", "a.tif", "a1.tif"},
        {"non_ascii_digits_are_text", "a9", "aÙ¡"}, // U+0661 ARABIC-INDIC ONE
    };
    for (const Row& r : rows) {
        const std::u16string a = lvplatform::ListingSortKey(r.before);
        const std::u16string b = lvplatform::ListingSortKey(r.after);
        EXPECT_TRUE(lvplatform::ListingOrderLess(a, b)) << r.fault;
        EXPECT_FALSE(lvplatform::ListingOrderLess(b, a)) << r.fault;
    }
    // Irreflexive, as a sort needs.
    const std::u16string same = lvplatform::ListingSortKey("x~01");
    EXPECT_FALSE(lvplatform::ListingOrderLess(same, same));
}

TEST(ListFiles, ReportsTheLastWriteTime) {
    TempFolder tmp;
    tmp.File("a.tif", "x", 1772892300); // 2026-03-07 14:05:00 UTC
    const auto entries = lvplatform::ListFiles(tmp.Root(), TFileMask("a*"));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].LastWriteTime.Ticks, 1772892300LL * 10000000LL + 116444736000000000LL);
}

TEST(ListFiles, MissingOrUnlistableFolderYieldsNothing) {
    TempFolder tmp;
    EXPECT_TRUE(lvplatform::ListFiles(tmp.Root() / "absent", TFileMask("*")).empty());
    tmp.File("plain.tif");
    EXPECT_TRUE(lvplatform::ListFiles(tmp.Root() / "plain.tif", TFileMask("*")).empty());
}

TEST(DirectoryExists, FollowsLinksAndRejectsFiles) {
    TempFolder tmp;
    tmp.Dir("real");
    tmp.File("file.tif");
    std::filesystem::create_directory_symlink(tmp.Root() / "real", tmp.Root() / "link");
    std::filesystem::create_directory_symlink(tmp.Root() / "gone", tmp.Root() / "dangling");
    EXPECT_TRUE(lvplatform::DirectoryExists(tmp.Root() / "real"));
    EXPECT_TRUE(lvplatform::DirectoryExists(tmp.Root() / "link"));
    EXPECT_FALSE(lvplatform::DirectoryExists(tmp.Root() / "dangling"));
    EXPECT_FALSE(lvplatform::DirectoryExists(tmp.Root() / "file.tif"));
    EXPECT_FALSE(lvplatform::DirectoryExists(""));
}

} // namespace
