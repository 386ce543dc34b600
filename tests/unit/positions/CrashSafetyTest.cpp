// A process killed while it saves must never leave a placement file that fails to read:
// a child saves two different records over and over, and is killed at a random moment.
#include "positions/ScreenPositionTracker.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::shared_ptr<TPositionTracker> Record(int i) {
    // Different lengths, so a torn write cannot look like either whole record.
    auto r = TPositionTracker::Create(
        i % 2 ? "conn-with-a-much-longer-name-\xC3\xA9\xC3\xA9\xC3\xA9" : "c");
    r->SetMonitor(i % 2);
    r->SetZoom(i % 2 ? 0.8f : 2.0f);
    r->SetPosition({static_cast<float>(i % 2 ? 123456 : 1), 2});
    return r;
}

} // namespace

TEST(CrashSafety, KilledWhileSavingLeavesAReadableFile) {
    TempFolder tmp;
    const fs::path file = tmp.Root() / "Lumivane" / "screen" / "c.LumivaneViewerForm.json";
    std::mt19937 rng(12345);
    for (int round = 0; round < 40; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            bool told = false;
            for (int i = 0;; ++i) {
                try {
                    Record(i)->SaveToFile(file);
                } catch (...) {
                    _exit(3);
                }
                if (!told) {
                    const char c = 'x';
                    if (write(ready[1], &c, 1) != 1)
                        _exit(4);
                    told = true;
                }
            }
        }
        close(ready[1]);
        char c = 0;
        ASSERT_EQ(read(ready[0], &c, 1), 1) << "child never saved";
        close(ready[0]);
        // The moment of the kill is the point of the test: spread it over many saves.
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(rng)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "child stopped on its own, status " << status;

        auto back = TPositionTracker::LoadFromFile(file, "");
        ASSERT_TRUE(back) << "round " << round << ": file fails to read";
        const bool odd = back->Monitor() == 1;
        EXPECT_EQ(back->Zoom(), odd ? 0.8f : 2.0f);
        EXPECT_EQ(back->Position().X, odd ? 123456.0f : 1.0f);
    }
}
