// The shared-memory view's fault guard: an access to a block truncated under it fails
// cleanly, while a fault that is not an access through a view still ends the process as
// it would without the guard (the guard must never swallow a real fault).
#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace {

std::string UniqueName(const char* tag) {
    static std::atomic<int> counter{0};
    return std::string("lvtest-shm-") + tag + "-" + std::to_string(getpid()) + "-" +
           std::to_string(counter++);
}

void Truncate(const std::string& name, off_t size) {
    int fd = shm_open(name.c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

constexpr std::size_t kSize = 4096;

TEST(SharedMemoryGuard, EveryAccessToATruncatedBlockFailsAndLeavesTheViewInert) {
    struct Row {
        const char* name;
        std::function<bool(lvplatform::ISharedMemoryView&)> access;
    } rows[] = {
        {"read",
         [](lvplatform::ISharedMemoryView& v) {
             char out[16];
             std::memset(out, 'x', sizeof out);
             const bool ok = v.Read(100, out, sizeof out);
             for (char c : out)
                 EXPECT_EQ(c, 0) << "a failed read leaves zeros";
             return ok;
         }},
        {"write",
         [](lvplatform::ISharedMemoryView& v) {
             const char in[] = "hello";
             return v.Write(100, in, sizeof in);
         }},
        {"exchange", [](lvplatform::ISharedMemoryView& v) { return v.Exchange(0, 4).has_value(); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string name = UniqueName("guard");
        auto host = lvplatform::CreateSharedMemory(name, kSize);
        auto view = lvplatform::OpenSharedMemory(name, kSize);
        ASSERT_TRUE(view->IsMapped());
        EXPECT_TRUE(row.access(*view)) << "whole block";
        Truncate(name, 0);
        EXPECT_FALSE(row.access(*view)) << "truncated under the access";
        EXPECT_FALSE(view->IsMapped());
        EXPECT_EQ(view->Refresh(), lvplatform::ISharedMemoryView::TChange::Resized);
        EXPECT_EQ(view->Refresh(), lvplatform::ISharedMemoryView::TChange::None);
        Truncate(name, kSize);
        EXPECT_EQ(view->Refresh(), lvplatform::ISharedMemoryView::TChange::Resized);
        EXPECT_TRUE(row.access(*view)) << "whole again";
        lvplatform::RemoveSharedMemory(name);
    }
}

TEST(SharedMemoryGuard, AccessesOutsideTheMappedSizeFailWithoutTouchingMemory) {
    const std::string name = UniqueName("range");
    auto host = lvplatform::CreateSharedMemory(name, kSize);
    char buffer[8] = {};
    EXPECT_FALSE(host->Read(kSize - 4, buffer, sizeof buffer));
    EXPECT_FALSE(host->Write(kSize, buffer, 1));
    EXPECT_FALSE(host->Exchange(kSize, 1).has_value());
    EXPECT_TRUE(host->IsMapped()) << "a refused range is not a shrunk block";
    lvplatform::RemoveSharedMemory(name);
}

// The viewer refreshes its view several times a second for as long as it runs. While the
// name still stands for the mapped block, a refresh must not open the name (the watch on
// the shared-memory folder sees every open); once the block is replaced, by removing and
// creating the name or by renaming another block over it, the next refresh maps the new
// one.
int CountOpensOf(int inotify, const std::string& name) {
    alignas(inotify_event) char buffer[4096];
    int opens = 0;
    for (;;) {
        const ssize_t n = read(inotify, buffer, sizeof buffer);
        if (n <= 0)
            return opens;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if ((event->mask & IN_OPEN) && event->len > 0 && name == event->name)
                ++opens;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

TEST(SharedMemoryRefresh, TheNameIsOpenedAgainOnlyOnceTheBlockLostIt) {
    using TChange = lvplatform::ISharedMemoryView::TChange;
    struct Row {
        const char* how;
        std::function<void(const std::string&)> replace;
    } rows[] = {
        {"removed and created again",
         [](const std::string& name) {
             lvplatform::RemoveSharedMemory(name);
             auto fresh = lvplatform::CreateSharedMemory(name, kSize);
             fresh->Data()[1] = 'N';
         }},
        {"another block renamed over it",
         [](const std::string& name) {
             const std::string next = name + "-next";
             auto fresh = lvplatform::CreateSharedMemory(next, kSize);
             fresh->Data()[1] = 'N';
             ASSERT_EQ(std::rename(("/dev/shm" + next).c_str(), ("/dev/shm" + name).c_str()), 0);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.how);
        const std::string name = "/" + UniqueName("refresh");
        auto host = lvplatform::CreateSharedMemory(name, kSize);
        host->Data()[1] = 'O';
        auto view = lvplatform::OpenSharedMemory(name, kSize);
        ASSERT_TRUE(view->IsMapped());

        const int inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(inotify, 0);
        if (inotify_add_watch(inotify, "/dev/shm", IN_OPEN) < 0) {
            close(inotify);
            GTEST_SKIP() << "no /dev/shm to watch";
        }
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(view->Refresh(), TChange::None);
        EXPECT_EQ(CountOpensOf(inotify, name.substr(1)), 0)
            << "a refresh opened the name while it still stood for the mapped block";
        close(inotify);

        row.replace(name);
        char seen = 0;
        EXPECT_EQ(view->Refresh(), TChange::Replaced);
        EXPECT_TRUE(view->Read(1, &seen, 1));
        EXPECT_EQ(seen, 'N');
        EXPECT_EQ(view->Refresh(), TChange::None);
        lvplatform::RemoveSharedMemory(name);
    }
}

// A file mapping of our own, truncated and touched outside any view: the process must
// still end at the fault once the guard is installed, by SIGBUS (or, in a sanitizer
// build, through the sanitizer's own report), never go on past it.
bool EndedAtTheFault(int status) {
    if (WIFSIGNALED(status))
        return WTERMSIG(status) == SIGBUS;
    // 0 would mean the write went through; 3 and 4 are the set-up failing.
    return WIFEXITED(status) && WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 3 &&
           WEXITSTATUS(status) != 4;
}

TEST(SharedMemoryGuardDeathTest, AFaultOutsideAnyGuardStillEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const std::string name = UniqueName("outside");
            auto view = lvplatform::CreateSharedMemory(name, kSize); // installs the guard
            lvplatform::RemoveSharedMemory(name);
            char path[] = "/tmp/lvtest-shm-outside-XXXXXX";
            const int fd = mkstemp(path);
            unlink(path);
            if (fd < 0 || ftruncate(fd, kSize) != 0)
                _exit(3);
            auto* p = static_cast<volatile char*>(
                mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
            if (ftruncate(fd, 0) != 0)
                _exit(4);
            p[10] = 1;
            _exit(0);
        },
        EndedAtTheFault, "");
}

} // namespace
