// The user's month and day names, from locales compiled for the test (localedef into a
// private LOCPATH), so the test needs no locale installed system-wide.
#include "platform/LocaleNames.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : FName(name) {
        if (const char* old = std::getenv(name))
            FOld = old;
        FHad = std::getenv(name) != nullptr;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() { FHad ? ::setenv(FName, FOld.c_str(), 1) : ::unsetenv(FName); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* FName;
    std::string FOld;
    bool FHad = false;
};

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
        const ScopedEnv path("LOCPATH", Folder.Root().string());
        const ScopedEnv all("LC_ALL", locale);
        return lvplatform::UserDateNames();
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
