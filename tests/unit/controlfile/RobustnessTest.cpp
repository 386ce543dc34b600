// Random and mutated input for everything that reads what another process wrote: the
// JSON reader and the block's string reads. A fixed seed keeps failures repeatable; the
// run is bounded by a count and a time limit so it fits every CI run.
#include "tests/support/BlockFixture.h"
#include "tests/support/Utf8Check.h"

#include "controlfile/ImageViewer.LumivaneImageInformation.h"

#include <chrono>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kTimeLimit = std::chrono::seconds(3);

const char* const kSeeds[] = {
    "",
    "null",
    "{}",
    R"({"Source":"/a/","Pattern":"****....","AlternateSources":["/b/","/c/"],"NoImageName":"n","SecureImageName":"s"})",
    R"({"source":12,"PATTERN":null,"fAlternateSources":[1,2.5e3,"x"],"Nested":{"Source":[{}]}})",
    R"({"Pattern":"a","pattern":"b","Pattern":"c","AlternateSources":"oops"})",
    R"(["Source", {"Source":"/a/"}, 1, true, null])",
    R"({"Source":"\u00e9\ud83d\udcc4\\\"","Pattern":"\u0000"})",
};

const char* const kTokens[] = {"{",    "}",    "[",        "]",          "\"",
                               ":",    ",",    "null",     "true",       "1e999",
                               "-0",   "\\u",  "\\ud800",  "\"Source\"", "\"AlternateSources\"",
                               "\xC3", "\xFF", "\xF0\x9F", " ",          "\n",
                               "\x01"};

std::string Mutate(std::string s, std::mt19937& rng) {
    std::uniform_int_distribution<int> op(0, 4);
    const int edits = std::uniform_int_distribution<int>(1, 6)(rng);
    for (int e = 0; e < edits; ++e) {
        const std::size_t pos =
            s.empty() ? 0 : std::uniform_int_distribution<std::size_t>(0, s.size())(rng);
        switch (op(rng)) {
        case 0: // flip a byte
            if (pos < s.size())
                s[pos] = static_cast<char>(rng());
            break;
        case 1: // drop a run
            if (pos < s.size())
                s.erase(pos, std::uniform_int_distribution<std::size_t>(1, 8)(rng));
            break;
        case 2: // insert a token
            s.insert(pos, kTokens[rng() % std::size(kTokens)]);
            break;
        case 3: // duplicate a run
            if (pos < s.size())
                s.insert(pos,
                         s.substr(pos, std::uniform_int_distribution<std::size_t>(1, 16)(rng)));
            break;
        default: // random byte
            s.insert(s.begin() + static_cast<long>(pos), static_cast<char>(rng()));
            break;
        }
    }
    return s;
}

std::string RandomBytes(std::mt19937& rng, std::size_t maxLength) {
    std::string s(std::uniform_int_distribution<std::size_t>(0, maxLength)(rng), '\0');
    for (auto& c : s)
        c = static_cast<char>(rng());
    return s;
}

// Feeds one text to FromJSON: the only failure allowed is EConvertError, and a record
// holds nothing but well-formed UTF-8.
void CheckFromJson(const std::string& text) {
    try {
        auto info = TLumivaneInformation::FromJSON(text);
        if (!info)
            return;
        ASSERT_TRUE(IsValidUtf8(info->GetSource())) << text;
        ASSERT_TRUE(IsValidUtf8(info->GetPattern())) << text;
        ASSERT_TRUE(IsValidUtf8(info->GetNoImageName())) << text;
        ASSERT_TRUE(IsValidUtf8(info->GetSecureImageName())) << text;
        for (const auto& a : info->GetAlternateSources())
            ASSERT_TRUE(IsValidUtf8(a)) << text;
    } catch (const EConvertError&) {
    } catch (const std::exception& e) {
        FAIL() << "unexpected " << typeid(e).name() << ": " << e.what() << " for "
               << ::testing::PrintToString(text);
    }
}

} // namespace

TEST(FromJsonRobustness, SurvivesRandomAndMutatedText) {
    std::mt19937 rng(20261210);
    const auto end = Clock::now() + kTimeLimit;
    int runs = 0;
    for (; runs < 200000 && Clock::now() < end; ++runs) {
        const std::string text =
            runs % 4 == 0 ? RandomBytes(rng, 200) : Mutate(kSeeds[rng() % std::size(kSeeds)], rng);
        CheckFromJson(text);
        if (HasFatalFailure())
            return;
    }
    EXPECT_GT(runs, 1000) << "the time limit left too few runs to mean anything";
}

TEST(FromJsonRobustness, SurvivesDeepNestingAndLongTexts) {
    const std::size_t depth = 100000;
    CheckFromJson(std::string(depth, '['));
    CheckFromJson(std::string(depth, '[') + std::string(depth, ']'));
    CheckFromJson("{\"x\":" + std::string(depth, '[') + std::string(depth, ']') +
                  ",\"Source\":\"/a/\"}");
    EXPECT_THROW(TLumivaneInformation::FromJSON("{\"AlternateSources\":[" +
                                                std::string(depth, '[') + std::string(depth, ']') +
                                                "]}"),
                 EConvertError);
    std::string objects;
    for (std::size_t i = 0; i < depth; ++i)
        objects += "{\"Source\":";
    CheckFromJson(objects + "1" + std::string(depth, '}'));
    CheckFromJson("{\"Source\":\"" + std::string(1 << 20, 'a') + "\"}");
}

using BlockRobustness = BlockFixture;

// A block full of random bytes: every string read stays inside the view and gives
// well-formed UTF-8; the image information read fails only with EConvertError.
TEST_F(BlockRobustness, StringReadsSurviveRandomBlocks) {
    TMemoryMappedControlFile cf(name_);
    ASSERT_TRUE(cf.CanRead());
    std::mt19937 rng(4096);
    const auto end = Clock::now() + kTimeLimit;
    for (int run = 0; run < 3000 && Clock::now() < end; ++run) {
        for (std::size_t i = 0; i < lvcontrol::kBlockSize; ++i)
            data_[i] = static_cast<std::uint8_t>(rng());
        // Sometimes no terminator anywhere, so the reads must stop at the end of the view.
        if (run % 3 == 0)
            for (std::size_t i = 0; i < lvcontrol::kBlockSize; ++i)
                data_[i] = data_[i] ? data_[i] : 0x80;
        const std::pair<std::size_t, std::string> reads[] = {
            {lvcontrol::kSearchText, cf.SearchText()},
            {lvcontrol::kCaptureFileName, cf.CaptureFileName()},
            {lvcontrol::kCallingWindowNameFormat, cf.CallingWindowNameFormat()},
            {lvcontrol::kPassThroughPrinterName, cf.PassThroughPrinterName()},
            {lvcontrol::kConnectionName, cf.ConnectionName()},
        };
        for (const auto& [offset, text] : reads) {
            ASSERT_TRUE(IsValidUtf8(text)) << "run " << run << " offset " << offset;
            // Each byte of the view decodes to at most one U+FFFD (3 bytes).
            ASSERT_LE(text.size(), 3 * (lvcontrol::kBlockSize - offset));
        }
        cf.SetImageInformation(nullptr);
        try {
            cf.ImageInformation();
        } catch (const EConvertError&) {
        }
    }
}

// Random text written through the viewer's string writers always reads back as
// well-formed UTF-8 within the slot; valid text reads back as a prefix of what was written.
TEST_F(BlockRobustness, StringWritesStayInTheirSlot) {
    TMemoryMappedControlFile cf(name_);
    std::mt19937 rng(257);
    const std::string chars[] = {"a", "Z", "/", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x93\x84"};
    for (int run = 0; run < 5000; ++run) {
        std::string value;
        const bool valid = run % 2 == 0;
        if (valid) {
            const auto n = std::uniform_int_distribution<int>(0, 140)(rng);
            for (int i = 0; i < n; ++i)
                value += chars[rng() % std::size(chars)];
        } else {
            value = RandomBytes(rng, 400);
        }
        data_[2147 + 257] = 0x5A;
        cf.SetCaptureFileName(value);
        ASSERT_EQ(data_[2147 + 257], 0x5A) << "the write ran past its slot";
        const std::string back = cf.CaptureFileName();
        ASSERT_TRUE(IsValidUtf8(back));
        if (valid) {
            ASSERT_EQ(value.compare(0, back.size(), back), 0) << "not a prefix";
            ASSERT_GE(back.size(), std::min<std::size_t>(value.size(), 252));
        }
    }
}
