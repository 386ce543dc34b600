// Reading container files under an exclusive open, against a second process that
// really holds the file, and as a user the file refuses.
#include "FolderProbes.h"
#include "images/Orlenza.ImageListController.h"
#include "images/Orlenza.Types.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <thread>

#include <sys/stat.h>

namespace {

// Pauses that are recorded instead of slept, with a chosen "random" value.
struct RecordedPauses {
    std::vector<int> limits; // the upper bound asked of the random source, per pause
    std::vector<int> slept;
    std::function<void()> onPause;

    TAliasReadPauses Hooks() {
        return {[this](int ms) {
                    slept.push_back(ms);
                    if (onPause)
                        onPause();
                },
                [this](int max) {
                    limits.push_back(max);
                    return max; // the longest pause allowed
                }};
    }
};

TEST(ContainerRead, ListingLeavesLockedContainersUntouchedAndUnread) {
    TempFolder tmp;
    std::vector<std::filesystem::path> held;
    for (int i = 1; i <= 20; ++i)
        held.push_back(tmp.File("src/1234/12345678~" + std::to_string(i) + ".lva", "held"));
    tmp.File("src/1234/12345678~21.tif");
    LockHolder holder(held);
    OpenWatch opens(tmp.Root() / "src/1234");

    // Every try on a locked container would open it, and each of the three retries
    // follows a sleep on the caller's thread: a listing that opens none sleeps for none.
    const auto images = TImageListController::ImagesFor({tmp.Source("src")}, "12345678", "****");
    EXPECT_EQ(opens.OpenedFiles(), std::vector<std::string>{});
    ASSERT_EQ(images.size(), 21u);
    for (std::size_t i = 0; i < 20; ++i) {
        EXPECT_TRUE(images[i].IsContainer()) << images[i].Name;
        EXPECT_TRUE(images[i].ContainerPending()) << images[i].Name;
        EXPECT_EQ(images[i].CantOpenReason(), corNone) << images[i].Name;
        EXPECT_EQ(images[i].Alias, "") << images[i].Name;
        EXPECT_EQ(images[i].PageCount, 1);
    }
    EXPECT_FALSE(images[20].IsContainer());
    EXPECT_FALSE(images[20].ContainerPending());
}

TEST(ContainerRead, LockedThroughAllTriesIsLockedAfterThreePauses) {
    TempFolder tmp;
    const auto file = tmp.File("src/1234/12345678~1.lva", "held");
    LockHolder holder(file);

    // The real schedule, real pauses, on a worker thread as the window would use one;
    // the outcome goes into the record the listing gave.
    auto images = TImageListController::ImagesFor({tmp.Source("src")}, "12345678", "****");
    ASSERT_EQ(images.size(), 1u);
    TLumivaneCantOpenReason reason = corNone;
    std::string text = "stale";
    std::thread worker([&] { ReadAliasText(images[0].FullFileName(), reason, text); });
    worker.join();
    images[0].SetContainerText(reason, text);
    EXPECT_EQ(images[0].CantOpenReason(), corLocked);
    EXPECT_EQ(images[0].Alias, "");
    EXPECT_FALSE(images[0].ContainerPending());

    // The schedule itself: four tries, pauses of up to 100, 200 and 300 ms between them.
    RecordedPauses pauses;
    text = "stale";
    reason = corNone;
    ReadAliasText(file.string(), reason, text, pauses.Hooks());
    EXPECT_EQ(reason, corLocked);
    EXPECT_EQ(text, "");
    EXPECT_EQ(pauses.limits, (std::vector<int>{100, 200, 300}));
    EXPECT_EQ(pauses.slept, (std::vector<int>{100, 200, 300}));

    // Stepped from an event loop: the same tries, each returning the pause to wait.
    TContainerRead stepped(file.string());
    std::vector<int> asked;
    while (const int pause = stepped.Try([](int max) { return max; }))
        asked.push_back(pause);
    EXPECT_TRUE(stepped.Ended());
    EXPECT_EQ(asked, (std::vector<int>{100, 200, 300}));
    EXPECT_EQ(stepped.Reason(), corLocked);
    EXPECT_EQ(stepped.Try(), 0); // an ended read stays ended
}

TEST(ContainerRead, ReadsAtMostWhatAContainerCanHold) {
    TempFolder tmp;
    // 256 MiB that takes no disk: a sparse file, all zero bytes (valid UTF-8 text).
    const auto huge = tmp.File("huge.lva", "");
    std::filesystem::resize_file(huge, 256u << 20);
    const auto limit = tmp.File("limit.lva", std::string(MaxContainerBytes, 'a'));
    const auto over = tmp.File("over.lva", std::string(MaxContainerBytes + 1, 'a'));

    TLumivaneCantOpenReason reason = corNone;
    std::string text = "stale";
    const long grownKiB = PeakGrowthKiB([&] { ReadAliasText(huge.string(), reason, text); });
    EXPECT_EQ(reason, corUnknown);
    EXPECT_EQ(text, "");
    // Whole, it would take 256 MiB and more for its decoding; bounded, a few pages.
    EXPECT_LT(grownKiB, 4 * 1024) << "peak grew by " << grownKiB << " KiB";

    struct Row {
        const char* fault;
        std::filesystem::path file;
        TLumivaneCantOpenReason reason;
        std::size_t length;
    } rows[] = {
        {"exactly_the_bound_is_read", limit, corNone, MaxContainerBytes},
        {"one_byte_over_is_unreadable", over, corUnknown, 0},
    };
    for (const Row& r : rows) {
        reason = corNone;
        text = "stale";
        ReadAliasText(r.file.string(), reason, text);
        EXPECT_EQ(reason, r.reason) << r.fault;
        EXPECT_EQ(text.size(), r.length) << r.fault;
    }
}

TEST(ContainerRead, LockReleasedBetweenTriesIsReadOnTheNextTry) {
    TempFolder tmp;
    const auto file = tmp.File("c.lva", "finally \xFF readable"); // one malformed byte
    LockHolder holder(file);
    RecordedPauses pauses;
    pauses.onPause = [&] {
        if (pauses.slept.size() == 2)
            holder.Release();
    };
    TLumivaneCantOpenReason reason = corNone;
    std::string text;
    ReadAliasText(file.string(), reason, text, pauses.Hooks());
    EXPECT_EQ(reason, corNone);
    EXPECT_EQ(pauses.slept.size(), 2u);
    EXPECT_EQ(text, "finally \xEF\xBF\xBD readable"); // decoded as UTF-8, the bad byte replaced
}

TEST(ContainerRead, RefusedAccessIsSecuredAtOnceAndStillListed) {
    TempFolder tmp;
    const auto file = tmp.File("src/1234/12345678~1.lva", "secret");
    std::filesystem::permissions(file, std::filesystem::perms::none);
    const std::string source = tmp.Source("src");

    const std::string seen = RunAsUnprivileged([&] {
        RecordedPauses pauses;
        TLumivaneCantOpenReason reason = corNone;
        std::string text;
        ReadAliasText(file.string(), reason, text, pauses.Hooks());
        const auto images = TImageListController::ImagesFor({source}, "12345678", "****");
        return "reason=" + std::to_string(reason) +
               " pauses=" + std::to_string(pauses.slept.size()) + " text=" + text +
               " listed=" + std::to_string(images.size()) +
               (images.empty() ? ""
                               : " pending=" + std::to_string(images[0].ContainerPending()) +
                                     " listedReason=" + std::to_string(images[0].CantOpenReason()));
    });
    // Listed unread (the search opens no container), refused at once when read.
    EXPECT_EQ(seen, "reason=2 pauses=0 text= listed=1 pending=1 listedReason=0");
}

TEST(ContainerRead, OtherFailuresAreUnknownWithoutRetries) {
    TempFolder tmp;
    tmp.Dir("folder.lva");
    // A FIFO: a plain open would wait for a writer for ever.
    ASSERT_EQ(::mkfifo((tmp.Root() / "fifo.lva").c_str(), 0644), 0);
    for (const std::filesystem::path& p :
         {tmp.Root() / "vanished.lva", tmp.Root() / "folder.lva", tmp.Root() / "fifo.lva"}) {
        RecordedPauses pauses;
        TLumivaneCantOpenReason reason = corNone;
        std::string text = "stale";
        ReadAliasText(p.string(), reason, text, pauses.Hooks());
        EXPECT_EQ(reason, corUnknown) << p;
        EXPECT_EQ(text, "") << p;
        EXPECT_TRUE(pauses.slept.empty()) << p;
    }
}

} // namespace
