// TLumivaneInformation::FromJSON: which texts give no record, which fail, and how
// members fill the record.
#include "controlfile/ImageViewer.LumivaneImageInformation.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

struct Record {
    std::string source, pattern;
    std::vector<std::string> alternates;
    std::string noImage, secure;
};

enum class Outcome { None, NotAnObject, ConversionError, Record };

struct Row {
    const char* fault;
    std::string json;
    Outcome outcome;
    Record record = {};
};

const Row kRows[] = {
    {"empty text is no record", "", Outcome::None},
    {"blank text is no record", " \r\n\t ", Outcome::None},
    {"null is no record", "null", Outcome::None},
    {"null with blanks is no record", "\n null \n", Outcome::None},
    {"an array is not an object", R"(["Source"])", Outcome::NotAnObject},
    {"an empty array is not an object", "[]", Outcome::NotAnObject},
    {"a bare string is not an object", R"("/scans/")", Outcome::NotAnObject},
    {"a number is not an object", "42", Outcome::NotAnObject},
    {"a Boolean is not an object", "true", Outcome::NotAnObject},
    {"garbage is not an object", "Source=/scans/", Outcome::NotAnObject},
    {"an unclosed object is not an object", R"({"Source":"/s/")", Outcome::NotAnObject},
    {"text after the object is not an object", R"({"Source":"/s/"} x)", Outcome::NotAnObject},
    {"a misspelt null is not an object", "nul", Outcome::NotAnObject},
    {"an empty object is an empty record", "{}", Outcome::Record, {}},
    {"only Source", R"({"Source":"/scans/"})", Outcome::Record, {"/scans/", "", {}, "", ""}},
    {"every member",
     R"({"Source":"/a/","Pattern":"****....","AlternateSources":["/b/","/c/"],"NoImageName":"none.png","SecureImageName":"secure.png"})",
     Outcome::Record,
     {"/a/", "****....", {"/b/", "/c/"}, "none.png", "secure.png"}},
    {"lower-case names",
     R"({"source":"/a/","pattern":"p","alternatesources":["/b/"],"noimagename":"n","secureimagename":"s"})",
     Outcome::Record,
     {"/a/", "p", {"/b/"}, "n", "s"}},
    {"lower-case first letter",
     R"({"source":"/a/","pattern":"p","alternateSources":["/b/"],"noImageName":"n","secureImageName":"s"})",
     Outcome::Record,
     {"/a/", "p", {"/b/"}, "n", "s"}},
    {"upper-case names",
     R"({"SOURCE":"/a/","PATTERN":"p"})",
     Outcome::Record,
     {"/a/", "p", {}, "", ""}},
    {"F-prefixed field names",
     R"({"FSource":"/a/","FPattern":"p","FAlternateSources":["/b/"],"FNoImageName":"n","FSecureImageName":"s"})",
     Outcome::Record,
     {"/a/", "p", {"/b/"}, "n", "s"}},
    {"lower-case F-prefixed names",
     R"({"fsource":"/a/","fpattern":"p"})",
     Outcome::Record,
     {"/a/", "p", {}, "", ""}},
    {"unknown members are ignored",
     R"({"Colour":"blue","Source":"/a/","Extra":[1,{"x":2}],"Flag":true})",
     Outcome::Record,
     {"/a/", "", {}, "", ""}},
    {"members of nested objects are not the record's",
     R"({"Source":"/a/","Nested":{"Source":"/inner/","Pattern":"x"}})",
     Outcome::Record,
     {"/a/", "", {}, "", ""}},
    {"AlternateSources as a string fails", R"({"AlternateSources":"/b/"})",
     Outcome::ConversionError},
    {"an object for a text field fails", R"({"Source":{"path":"/a/"}})", Outcome::ConversionError},
    {"the later of two members wins",
     R"({"Pattern":"first","Pattern":"second"})",
     Outcome::Record,
     {"", "second", {}, "", ""}},
    {"the later wins across spellings",
     R"({"Pattern":"first","pattern":"second"})",
     Outcome::Record,
     {"", "second", {}, "", ""}},
    {"the last of three spellings wins",
     R"({"Pattern":"a","pattern":"b","Pattern":"c"})",
     Outcome::Record,
     {"", "c", {}, "", ""}},
    {"a property name after the field name wins",
     R"({"FPattern":"a","Pattern":"b"})",
     Outcome::Record,
     {"", "b", {}, "", ""}},
    {"the later AlternateSources wins",
     R"({"AlternateSources":["/x/"],"alternatesources":["/y/","/z/"]})",
     Outcome::Record,
     {"", "", {"/y/", "/z/"}, "", ""}},
    {"numbers are stored as text",
     R"({"Source":12,"Pattern":-3.5,"AlternateSources":[7,"/b/"]})",
     Outcome::Record,
     {"12", "-3.5", {"7", "/b/"}, "", ""}},
    {"null empties a field set before",
     R"({"Source":"/a/","Pattern":"p","Source":null})",
     Outcome::Record,
     {"", "p", {}, "", ""}},
    {"null empties AlternateSources",
     R"({"AlternateSources":["/b/"],"AlternateSources":null})",
     Outcome::Record,
     {}},
    {"escapes are decoded",
     R"({"Source":"C:\\scans\\","Pattern":"\u00e9\u20ac"})",
     Outcome::Record,
     {"C:\\scans\\", "\xC3\xA9\xE2\x82\xAC", {}, "", ""}},
    {"blanks around the object are allowed",
     "\n {\"Source\":\"/a/\"} \n",
     Outcome::Record,
     {"/a/", "", {}, "", ""}},
};

class FromJsonTest : public ::testing::TestWithParam<Row> {};

TEST_P(FromJsonTest, Outcome) {
    const Row& row = GetParam();
    switch (row.outcome) {
    case Outcome::None:
        EXPECT_EQ(TLumivaneInformation::FromJSON(row.json), nullptr);
        break;
    case Outcome::NotAnObject:
        try {
            TLumivaneInformation::FromJSON(row.json);
            ADD_FAILURE() << "no error";
        } catch (const EConvertError& e) {
            EXPECT_STREQ(e.what(), "The input value is not a valid Object");
        }
        break;
    case Outcome::ConversionError:
        EXPECT_THROW(TLumivaneInformation::FromJSON(row.json), EConvertError);
        break;
    case Outcome::Record: {
        auto info = TLumivaneInformation::FromJSON(row.json);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->GetSource(), row.record.source);
        EXPECT_EQ(info->GetPattern(), row.record.pattern);
        EXPECT_EQ(info->GetAlternateSources(), row.record.alternates);
        EXPECT_EQ(info->GetNoImageName(), row.record.noImage);
        EXPECT_EQ(info->GetSecureImageName(), row.record.secure);
        EXPECT_EQ(info->GetCanOpen(), !row.record.source.empty() && !row.record.pattern.empty());
        break;
    }
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, FromJsonTest, ::testing::ValuesIn(kRows), [](const auto& p) {
    std::string name;
    for (const char* c = p.param.fault; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
});

} // namespace
