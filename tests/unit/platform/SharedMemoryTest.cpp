// The shared-memory view's fault guard: an access to a block truncated under it fails
// cleanly, while a fault that is not an access through a view still ends the process as
// it would without the guard (the guard must never swallow a real fault).
#include "platform/SharedMemory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
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
