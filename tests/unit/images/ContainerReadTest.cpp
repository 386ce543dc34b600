// Reading container files under an exclusive open, against a second process that
// really holds the file, and as a user the file refuses.
#include "TempFolder.h"
#include "images/Orlenza.ImageListController.h"
#include "images/Orlenza.Types.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A second process that holds an exclusive lock on a file until released.
class LockHolder {
public:
    explicit LockHolder(const std::filesystem::path& file) {
        int ready[2];
        int release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            throw std::runtime_error("pipe failed");
        FPid = ::fork();
        if (FPid == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const int fd = ::open(file.c_str(), O_RDONLY);
            const char ok = (fd >= 0 && ::flock(fd, LOCK_EX) == 0) ? '1' : '0';
            (void)!::write(ready[1], &ok, 1);
            char c;
            (void)!::read(release[0], &c, 1); // returns when the parent closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        FRelease = release[1];
        char ok = '0';
        (void)!::read(ready[0], &ok, 1);
        ::close(ready[0]);
        if (ok != '1')
            throw std::runtime_error("the second process could not lock the file");
    }
    ~LockHolder() { Release(); }

    void Release() {
        if (FPid <= 0)
            return;
        ::close(FRelease);
        ::waitpid(FPid, nullptr, 0); // the lock is gone once the process has ended
        FPid = -1;
    }

private:
    pid_t FPid = -1;
    int FRelease = -1;
};

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

TEST(ContainerRead, HeldByAnotherProcessForTheWholeSearchIsLockedAndStillListed) {
    TempFolder tmp;
    const auto file = tmp.File("src/1234/12345678~1.lva", "held");
    tmp.File("src/1234/12345678~2.tif");
    LockHolder holder(file);

    // The real schedule, real pauses: at most 600 ms.
    const auto images = TImageListController::ImagesFor({tmp.Source("src")}, "12345678", "****");
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].Name, "12345678~1.lva");
    EXPECT_EQ(images[0].CantOpenReason(), corLocked);
    EXPECT_EQ(images[0].Alias, "");
    EXPECT_EQ(images[0].PageCount, 1);
    EXPECT_EQ(images[1].CantOpenReason(), corNone);

    // The schedule itself: four tries, pauses of up to 100, 200 and 300 ms between them.
    RecordedPauses pauses;
    TLumivaneCantOpenReason reason = corNone;
    std::string text = "stale";
    ReadAliasText(file.string(), reason, text, pauses.Hooks());
    EXPECT_EQ(reason, corLocked);
    EXPECT_EQ(text, "");
    EXPECT_EQ(pauses.limits, (std::vector<int>{100, 200, 300}));
    EXPECT_EQ(pauses.slept, (std::vector<int>{100, 200, 300}));
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

// Runs `body` as an unprivileged user when the tests run as root (root is never
// refused), returning what it printed.
std::string RunAsUnprivileged(const std::function<std::string()>& body) {
    if (::geteuid() != 0)
        return body();
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        std::string result = "could not drop privileges";
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0)
            result = body();
        (void)!::write(out[1], result.data(), result.size());
        ::_exit(0);
    }
    ::close(out[1]);
    std::string result;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    return result;
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
                               : " listedReason=" + std::to_string(images[0].CantOpenReason()) +
                                     " alias=" + images[0].Alias);
    });
    EXPECT_EQ(seen, "reason=2 pauses=0 text= listed=1 listedReason=2 alias=");
}

TEST(ContainerRead, OtherFailuresAreUnknownWithoutRetries) {
    TempFolder tmp;
    tmp.Dir("folder.lva");
    for (const std::filesystem::path& p :
         {tmp.Root() / "vanished.lva", tmp.Root() / "folder.lva"}) {
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
