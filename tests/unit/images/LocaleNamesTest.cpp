// The user's month and day names, from locales compiled for the test (localedef into a
// private LOCPATH), so the test needs no locale installed system-wide.
#include "platform/LocaleNames.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// The names as a child process with the given environment sees them. The child keeps
// the environment change to itself, and the C library's own allocations for LOCPATH
// (which it never frees) end with it.
lvplatform::TDateNames NamesInChild(const std::string& locpath, const std::string& locale) {
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        ::setenv("LOCPATH", locpath.c_str(), 1);
        ::setenv("LC_ALL", locale.c_str(), 1);
        const lvplatform::TDateNames names = lvplatform::UserDateNames();
        std::string text;
        for (const auto* list : {names.ShortMonth.data(), names.LongMonth.data()})
            for (std::size_t i = 0; i < 12; ++i)
                text += list[i] + '\n';
        for (const auto* list : {names.ShortDay.data(), names.LongDay.data()})
            for (std::size_t i = 0; i < 7; ++i)
                text += list[i] + '\n';
        (void)!::write(out[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    std::istringstream lines(text);
    lvplatform::TDateNames names;
    for (auto* list : {names.ShortMonth.data(), names.LongMonth.data()})
        for (std::size_t i = 0; i < 12; ++i)
            std::getline(lines, list[i]);
    for (auto* list : {names.ShortDay.data(), names.LongDay.data()})
        for (std::size_t i = 0; i < 7; ++i)
            std::getline(lines, list[i]);
    return names;
}

// A private locale folder; Compile builds de_DE in one character set into it (each
// test compiles only the one it reads, as localedef takes seconds).
class LocaleNames : public testing::Test {
protected:
    bool Compile(const char* charset) {
        const std::string target = (Folder.Root() / (std::string("de_DE.") + charset)).string();
        const std::string command =
            std::string("localedef -i de_DE -f ") + charset + " " + target + " >/dev/null 2>&1";
        // localedef warns (exit 1) about things that do not matter here; the compiled
        // locale is what counts.
        (void)!std::system(command.c_str());
        return std::filesystem::exists(target);
    }
    lvplatform::TDateNames NamesFor(const std::string& locale) {
        return NamesInChild(Folder.Root().string(), locale);
    }
    TempFolder Folder;
};

TEST_F(LocaleNames, UserNamesFollowTheUsersLocale) {
    ASSERT_TRUE(Compile("UTF-8")) << "localedef could not compile de_DE (package 'locales')";
    const lvplatform::TDateNames german = NamesFor("de_DE.UTF-8");
    EXPECT_EQ(german.LongMonth[2], "M\xC3\xA4rz");
    EXPECT_EQ(german.ShortMonth[2], "M\xC3\xA4r");
    EXPECT_EQ(german.LongMonth[11], "Dezember");
    EXPECT_EQ(german.LongDay[0], "Sonntag");
    EXPECT_EQ(german.ShortDay[6], "Sa");
}

TEST_F(LocaleNames, NamesThatCannotBeUtf8AndMissingLocalesStayEnglish) {
    ASSERT_TRUE(Compile("ISO-8859-1")) << "localedef could not compile de_DE (package 'locales')";
    const lvplatform::TDateNames english = lvplatform::EnglishDateNames();
    EXPECT_EQ(english.LongMonth[2], "March");
    EXPECT_EQ(english.ShortDay[6], "Sat");

    // Latin-1 bytes would be garbage in UTF-8 text: "März" stays English, while the
    // names that are plain ASCII in that locale are still the user's.
    const lvplatform::TDateNames latin1 = NamesFor("de_DE.ISO-8859-1");
    EXPECT_EQ(latin1.LongMonth[2], "March");
    EXPECT_EQ(latin1.LongMonth[4], "Mai");
    EXPECT_EQ(latin1.LongDay[0], "Sonntag");

    struct Row {
        const char* fault;
        const char* locale;
    } rows[] = {{"unknown_locale", "xx_YY.UTF-8"}, {"c_locale", "C"}, {"c_utf8", "C.UTF-8"}};
    for (const Row& r : rows) {
        const lvplatform::TDateNames names = NamesFor(r.locale);
        EXPECT_EQ(names.LongMonth, english.LongMonth) << r.fault;
        EXPECT_EQ(names.ShortMonth, english.ShortMonth) << r.fault;
        EXPECT_EQ(names.LongDay, english.LongDay) << r.fault;
        EXPECT_EQ(names.ShortDay, english.ShortDay) << r.fault;
    }
}

} // namespace
