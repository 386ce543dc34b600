// The image record and the unit's pure routines.
#include "images/Orlenza.Types.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

TEST(LumivaneImage, NewResetsToTheEmptyImage) {
    TLumivaneImage image;
    image.Path = "/a/b.lva";
    image.Alias = "text";
    image.PageCount = 3;
    image.TimeStamp = 46088.5;
    image.SetCantOpenReason(corLocked);
    ASSERT_FALSE(image.IsEmpty());
    image.New();
    EXPECT_TRUE(image.IsEmpty());
    EXPECT_EQ(image.Alias, "");
    EXPECT_EQ(image.PageCount, 0);
    EXPECT_EQ(image.TimeStamp, 0.0);
    EXPECT_EQ(image.CantOpenReason(), corNone);
}

TEST(LumivaneImage, DisplayNameIsTheTextBeforeTheFirstTilde) {
    struct Row {
        const char* name;
        const char* expected;
    } rows[] = {
        {"12345678~2.tif", "12345678"},
        {"ABC.tif", ""},       // no tilde: nothing, not the whole name
        {"ABC~~x.tif", "ABC"}, // the first tilde counts
        {"~1.tif", ""},
        {"\xC3\xA9t\xC3\xA9~1.png", "\xC3\xA9t\xC3\xA9"},
    };
    for (const Row& r : rows) {
        TLumivaneImage image;
        image.Name = r.name;
        EXPECT_EQ(image.DisplayName(), r.expected) << r.name;
    }
}

TEST(LumivaneImage, FullFileNameAddsADelimiterOnlyWhenMissing) {
    struct Row {
        const char* source;
        const char* name;
        const char* expected;
    } rows[] = {
        {"/scans/1234/", "a.tif", "/scans/1234/a.tif"},
        {"/scans/1234", "a.tif", "/scans/1234/a.tif"},
        {"/scans/", "/elsewhere/a.tif", "/elsewhere/a.tif"}, // a rooted name wins
        {"", "a.tif", "a.tif"},
    };
    for (const Row& r : rows) {
        TLumivaneImage image;
        image.Source = r.source;
        image.Name = r.name;
        EXPECT_EQ(image.FullFileName(), r.expected) << r.source << " + " << r.name;
    }
}

TEST(LumivaneImage, FormattedTimeStampUsesMonthNamesAndPadding) {
    const double march7 = 46088.0; // 2026-03-07, a Saturday
    struct Row {
        const char* fault;
        double stamp;
        const char* format;
        const char* expected;
    } rows[] = {
        {"title_format", march7 + (14 * 60 + 5) / 1440.0, "mmm dd yyyy HH:nn", "Mar 07 2026 14:05"},
        {"unpadded_and_two_digit_year", march7 + (9 * 60 + 3) / 1440.0 + 7 / 86400.0,
         "d/m/yy h:n:s", "7/3/26 9:3:7"},
        {"m_after_h_is_minutes", march7 + (9 * 60 + 3) / 1440.0, "hh:mm", "09:03"},
        {"long_names_and_quoted_text", march7, "dddd d mmmm 'at' hh", "Saturday 7 March at 00"},
        // The am/pm word is taken from the format as written, in its own case.
        {"twelve_hour_clock", march7 + 13.5 / 24.0, "h:nn am/pm", "1:30 pm"},
        {"am_pm_keeps_the_written_case", march7 + 9.25 / 24.0, "hh:nn AM/pm!", "09:15 AM!"},
        {"am_pm_after_noon_in_capitals", march7 + 23.0 / 24.0, "h AM/PM", "11 PM"},
        {"midnight_is_twelve_am", march7, "hh:nn am/pm", "12:00 am"},
        {"a_p_picks_one_letter", march7 + 12.0 / 24.0, "h a/P", "12 P"},
        {"ampm_is_always_capitals", march7 + 1.0 / 24.0, "h ampm", "1 AM"},
        {"rounding_to_the_next_day", march7 + 0.9999999999, "dd hh:nn:ss", "08 00:00:00"},
        {"zero_is_the_epoch", 0.0, "yyyy-mm-dd hh:nn", "1899-12-30 00:00"},
        {"before_the_epoch_fraction_counts_forward", -1.25, "yyyy-mm-dd hh:nn", "1899-12-29 06:00"},
        {"milliseconds", march7 + 0.25 / 86400.0, "ss.zzz", "00.250"},
    };
    for (const Row& r : rows) {
        TLumivaneImage image;
        image.TimeStamp = r.stamp;
        EXPECT_EQ(image.FormattedTimeStamp(r.format), r.expected) << r.fault;
    }
}

TEST(FolderNameFromPattern, PicksTheCharactersUnderTheStars) {
    struct Row {
        const char* fault;
        const char* pattern;
        const char* text;
        const char* expected;
    } rows[] = {
        {"four_stars_pick_the_first_four", "****", "12345678", "1234"},
        {"dots_skip_positions", "**..**", "12345678", "1256"},
        {"no_star_picks_nothing", "....", "12345678", ""},
        {"pattern_longer_than_text_picks_nothing", "*****", "1234", ""},
        {"equal_length_is_enough", "****", "1234", "1234"},
        {"empty_pattern", "", "1234", ""},
        {"non_ascii_counts_one_unit", "**", "\xC3\xA9x", "\xC3\xA9x"},
        // U+1F600 takes two UTF-16 code units: a pattern of three fits "a" plus the pair.
        {"astral_char_counts_two_units", "***", "a\xF0\x9F\x98\x80", "a\xF0\x9F\x98\x80"},
        {"astral_char_makes_text_long_enough", "***.", "a\xF0\x9F\x98\x80", ""},
    };
    for (const Row& r : rows)
        EXPECT_EQ(FolderNameFromPattern(r.pattern, r.text), r.expected) << r.fault;
}

TEST(FileTimeToLocalDateTime, ConvertsUtcToLocalDayCount) {
    const std::int64_t ticks = 134173839000000000LL; // 2026-03-07 19:05:00 UTC
    const char* oldTz = std::getenv("TZ");
    const std::string saved = oldTz ? oldTz : "";
    ::setenv("TZ", "EST5", 1);
    ::tzset();
    const double local = FileTimeToLocalDateTime(ticks);
    TLumivaneImage image;
    image.TimeStamp = FileTimeToLocalDateTime(ticks + 2500000); // +250 ms
    oldTz ? ::setenv("TZ", saved.c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
    EXPECT_NEAR(local, 46088.0 + (14 * 60 + 5) / 1440.0, 1e-9); // 14:05 in UTC-5
    EXPECT_EQ(image.FormattedTimeStamp("yyyy-mm-dd hh:nn:ss.zzz"), "2026-03-07 14:05:00.250");
}

TEST(ErrorClassification, LockedAndSecuredTextsAreTheSystemMessages) {
    // The messages are the system's own texts, so build them the way a failure would.
    const std::string locked = std::string("open failed: ") + std::strerror(EWOULDBLOCK);
    const std::string refused = std::string("open failed: ") + std::strerror(EACCES);
    const std::string missing = std::string("open failed: ") + std::strerror(ENOENT);
    EXPECT_TRUE(IsLockedError(locked));
    EXPECT_FALSE(IsSecuredError(locked));
    EXPECT_TRUE(IsSecuredError(refused));
    EXPECT_TRUE(IsSecuredError(std::strerror(EPERM)));
    EXPECT_FALSE(IsLockedError(refused));
    EXPECT_FALSE(IsLockedError(missing));
    EXPECT_FALSE(IsSecuredError(missing));
    EXPECT_FALSE(IsLockedError(""));
}

} // namespace
