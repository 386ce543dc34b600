// The placement reader against files that are not what this program writes: too long or
// too deeply nested files count as unreadable, so the default placement applies, and
// reading them takes neither unbounded memory nor a crash.
#include "positions/ScreenPositionTracker.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// A valid placement file's text for display 0 at (10, 20).
const std::string Valid = R"({"monitor":0,"monitorCount":1,"position":[[10,20],10,20])";

std::string Nested(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

void WriteAll(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

class TestWindow : public IPlacementWindow {
public:
    std::string ComponentName() const override { return "LumivaneViewerForm"; }
    int Left() const override { return left; }
    int Top() const override { return top; }
    int Width() const override { return 400; }
    int Height() const override { return 300; }
    int ClientWidth() const override { return 400; }
    int ClientHeight() const override { return 300; }
    TWindowState WindowState() const override { return wsNormal; }
    bool FullScreen() const override { return false; }
    void SetDesignedPosition() override {}
    void SetPosition(int l, int t) override {
        left = l;
        top = t;
    }
    void SetSize(int, int) override {}
    void SetWindowState(TWindowState) override {}
    void SetFullScreen(bool) override {}
    int left = 500;
    int top = 500;
};

} // namespace

TEST(PlacementReader, FilesBeyondTheLimitsCountAsUnreadable) {
    struct Row {
        const char* fault;
        std::string text;
        bool restored; // the saved place is used; else the default hook runs
    };
    const std::string pad(TPositionTracker::MaxFileSize, ' ');
    const std::vector<Row> rows = {
        {"plain_file_restores", Valid + "}", true},
        {"unknown_member_nested_within_the_limit", Valid + R"(,"x":)" + Nested(10) + "}", true},
        {"file_just_within_the_size_limit",
         Valid + "}" + std::string(TPositionTracker::MaxFileSize - Valid.size() - 1, ' '), true},
        {"file_longer_than_the_size_limit", Valid + "}" + pad, false},
        {"unknown_member_nested_too_deep", Valid + R"(,"x":)" + Nested(100) + "}", false},
        {"objects_nested_too_deep",
         Valid + R"(,"x":)" +
             [] {
                 std::string s;
                 for (int i = 0; i < 100; ++i)
                     s += R"({"a":)";
                 s += "1";
                 for (int i = 0; i < 100; ++i)
                     s += "}";
                 return s;
             }() +
             "}",
         false},
        {"brackets_inside_strings_do_not_nest",
         Valid + R"(,"x":")" + std::string(500, '[') + R"(\"[[[[")" + "}", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        TempFolder tmp;
        TPlacementEnvironment env;
        env.Displays = {{{0, 0, 1920, 1040}, {0, 0, 1920, 1080}}};
        env.DataFolder = tmp.Root();
        env.Title = "Lumivane";
        TestWindow window;
        WriteAll(TPositionTracker::Create("conn")->FileName(tmp.Root(), "Lumivane",
                                                            "LumivaneViewerForm"),
                 row.text);
        int defaults = 0;
        TPositionTracker::LoadFormPosition(
            window, "conn", env, [&](const IPositionTrackerPtr&) { ++defaults; }, nullptr);
        EXPECT_EQ(defaults, row.restored ? 0 : 1);
        EXPECT_EQ(window.left, row.restored ? 10 : 500);
        EXPECT_EQ(window.top, row.restored ? 20 : 500);
    }
}

TEST(PlacementReader, TenMegabytesOfOpenBracketsReadInBoundedMemory) {
    TempFolder tmp;
    const fs::path file = tmp.Root() / "screen" / "conn.LumivaneViewerForm.json";
    WriteAll(file, std::string(std::size_t{10} * 1024 * 1024, '['));
    // In a child process, so the peak memory measured is this read's alone.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        const bool read = TPositionTracker::LoadFromFile(file, "conn") != nullptr;
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
        const long grownKiB = after.ru_maxrss - before.ru_maxrss;
        // 1: read as a record; 2: more than 64 MiB of memory for a refused file.
        _exit(read ? 1 : (grownKiB > 64L * 1024 ? 2 : 0));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the read crashed the process";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: read as a record, 2: peak memory over 64 MiB";
}
