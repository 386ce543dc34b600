// The exclusive read of a container file against real Win32 sharing: a file another
// process holds open without sharing is locked (error 32) and, through the retries, read
// as corLocked; a refused open (error 5) is corSecured at once; the texts are the system's.
#include "Win32TestSupport.h"
#include "images/Orlenza.Types.h"
#include "platform/ChildProcess.h"
#include "platform/FileSystem.h"
#include "platform/win32/WideText.h"

#include <gtest/gtest.h>

namespace {

using win32test::TTempFolder;
using win32test::WaitFor;

struct TRecordedPauses {
    std::vector<int> slept;
    TAliasReadPauses Hooks() {
        return {[this](int ms) { slept.push_back(ms); }, [](int max) { return max; }};
    }
};

TEST(ExclusiveRead, AFileHeldWithoutSharingByAnotherProcessReadsAsLocked) {
    TTempFolder tmp;
    const auto container = tmp.File("12345678~1.lva", "12345678~1.tif");
    const auto ready = tmp.Root() / L"held";
    auto holder = lvplatform::StartChildProcess({win32test::OwnExe(), "--hold",
                                                 lvplatform::win32::Narrow(container.wstring()),
                                                 lvplatform::win32::Narrow(ready.wstring())});
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(ready) || holder->Ended(); }));
    ASSERT_FALSE(holder->Ended()) << "the holder could not open the file";

    const auto read = lvplatform::ReadFileExclusive(container, 65536);
    EXPECT_EQ(read.Stage, lvplatform::TExclusiveRead::rsOpenFailed);
    EXPECT_EQ(read.ErrorCode, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(read.Message, lvplatform::win32::SystemErrorText(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(read.Message, lvplatform::LockedErrorTexts().at(0));
    EXPECT_TRUE(IsLockedError(read.Message));

    TRecordedPauses pauses;
    TLumivaneCantOpenReason reason = corNone;
    std::string text = "stale";
    ReadAliasText(lvplatform::win32::Narrow(container.wstring()), reason, text, pauses.Hooks());
    EXPECT_EQ(reason, corLocked);
    EXPECT_EQ(text, "");
    EXPECT_EQ(pauses.slept.size(), 3u) << "four tries, three pauses between them";

    holder->Stop();
    holder->Wait();
    // Once the holder is gone (the system closes its handles after the process has ended,
    // not always at once) the same file reads.
    EXPECT_TRUE(WaitFor([&] {
        reason = corNone; // a read that goes through leaves the reason as it was
        ReadAliasText(lvplatform::win32::Narrow(container.wstring()), reason, text, pauses.Hooks());
        return reason == corNone;
    }));
    EXPECT_EQ(text, "12345678~1.tif");
}

TEST(ExclusiveRead, ARefusedOpenIsSecuredAtOnceWithTheSystemsText) {
    TTempFolder tmp;
    // Opening a folder as a file is refused with error 5, as a file without read rights is.
    const auto refused = tmp.Root() / L"12345678~2.lva";
    std::filesystem::create_directories(refused);
    const auto read = lvplatform::ReadFileExclusive(refused, 65536);
    EXPECT_EQ(read.Stage, lvplatform::TExclusiveRead::rsOpenFailed);
    EXPECT_EQ(read.ErrorCode, ERROR_ACCESS_DENIED);
    EXPECT_EQ(read.Message, lvplatform::SecuredErrorTexts().at(0));
    EXPECT_TRUE(IsSecuredError(read.Message));

    TRecordedPauses pauses;
    TLumivaneCantOpenReason reason = corNone;
    std::string text;
    ReadAliasText(lvplatform::win32::Narrow(refused.wstring()), reason, text, pauses.Hooks());
    EXPECT_EQ(reason, corSecured);
    EXPECT_TRUE(pauses.slept.empty());
}

TEST(ExclusiveRead, TheFourTextsAreTheSystemsOwnAndDistinct) {
    const auto locked = lvplatform::LockedErrorTexts();
    const auto secured = lvplatform::SecuredErrorTexts();
    ASSERT_EQ(locked.size(), 2u);
    ASSERT_EQ(secured.size(), 2u);
    const DWORD codes[] = {32, 33, 5, 65};
    const std::string texts[] = {locked[0], locked[1], secured[0], secured[1]};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(texts[i], lvplatform::win32::SystemErrorText(codes[i]));
        EXPECT_EQ(texts[i].find("error "), std::string::npos) << "no system text for " << codes[i];
        for (int j = 0; j < i; ++j)
            EXPECT_NE(texts[i], texts[j]);
    }
}

TEST(ExclusiveRead, ALongerFileThanTheBoundIsNotKept) {
    TTempFolder tmp;
    const auto big = tmp.File("big.lva", std::string(70000, 'a'));
    const auto read = lvplatform::ReadFileExclusive(big, 65536);
    EXPECT_EQ(read.Stage, lvplatform::TExclusiveRead::rsTooLarge);
    EXPECT_TRUE(read.Bytes.empty());
    const auto fits = lvplatform::ReadFileExclusive(big, 70000);
    EXPECT_EQ(fits.Stage, lvplatform::TExclusiveRead::rsDone);
    EXPECT_EQ(fits.Bytes.size(), 70000u);
}

} // namespace
