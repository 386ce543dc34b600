// Opening a folder in the file manager: xdg-open is looked up on the PATH and started
// without being waited for. A stand-in xdg-open on a PATH of the test's own records what
// it was asked to open.
#include "platform/FolderWindow.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

class FolderWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* path = std::getenv("PATH");
        FOldPath = path ? path : "";
        FBin = FTemp.Dir("bin");
        const fs::path script = FBin / "xdg-open";
        // It records its argument (written aside and renamed, so never read half done),
        // then stays until the test releases it, as a file manager stays open.
        const std::string record = Record().string();
        std::ofstream(script) << "#!/bin/sh\nls /proc/$$/fd > '" << Descriptors().string()
                              << "'\nprintf '%s' \"$1\" > '" << record << ".part' && mv '" << record
                              << ".part' '" << record << "'\n"
                              << "i=0; while [ ! -e '" << Released().string()
                              << "' ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done\n"
                              << "touch '" << Ended().string() << "'\n";
        fs::permissions(script, fs::perms(0755));
        UsePath(FBin.string() + ":" + FOldPath);
    }
    void TearDown() override { UsePath(FOldPath); }

    fs::path Record() const { return FTemp.Root() / "opened.txt"; }
    fs::path Descriptors() const { return FTemp.Root() / "descriptors"; }
    fs::path Released() const { return FTemp.Root() / "released"; }
    fs::path Ended() const { return FTemp.Root() / "ended"; }
    static void UsePath(const std::string& APath) { ::setenv("PATH", APath.c_str(), 1); }

    // Whether the stand-in wrote APath within 20 s (a loaded machine may take that long).
    static bool Written(const fs::path& APath) {
        for (int i = 0; i < 1000 && !fs::exists(APath); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return fs::exists(APath);
    }

    // The stand-ins of this test started by us and still running. A stand-in stays until
    // released, and the spawn has made the process before ExploreFolder returns, so right
    // after a call this tells whether it started one; no waiting needed.
    std::vector<int> RunningStandIns() const {
        std::vector<int> found;
        const std::string script = (FBin / "xdg-open").string();
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
                continue;
            // "pid (comm) state ppid ...": the name may hold anything, so read after it.
            std::istringstream rest(line.substr(line.rfind(')') + 1));
            char state = 0;
            int parent = 0;
            rest >> state >> parent;
            if (parent != ::getpid() || state == 'Z')
                continue;
            std::ifstream cmdline(entry.path() / "cmdline");
            std::string words((std::istreambuf_iterator<char>(cmdline)),
                              std::istreambuf_iterator<char>());
            if (words.find(script) != std::string::npos)
                found.push_back(std::stoi(entry.path().filename().string()));
        }
        return found;
    }

    // What the stand-in was asked to open, once it has run (empty if it never did).
    std::string Opened() const {
        Written(Record());
        std::ifstream in(Record());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TempFolder FTemp;
    std::string FOldPath;
    fs::path FBin;
};

TEST_F(FolderWindowTest, AFolderIsHandedToTheFileManagerWithoutWaiting) {
    // A name with a space and a letter outside ASCII reaches it as one argument.
    const fs::path folder = FTemp.Dir("captures/May \xC3\x84");
    // A descriptor of ours without close-on-exec, at a number no shell uses for itself.
    const int opened = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    const int ours = ::dup2(opened, 77);
    ::close(opened);
    ASSERT_EQ(ours, 77);
    ASSERT_TRUE(lvplatform::ExploreFolder(folder));
    ::close(ours);
    // Back while the file manager is still open.
    EXPECT_EQ(RunningStandIns().size(), 1u);
    EXPECT_FALSE(fs::exists(Ended()));
    EXPECT_EQ(Opened(), folder.string());
    std::ofstream(Released()) << "";
    EXPECT_TRUE(Written(Ended()));
    // It got none of the program's descriptors.
    std::ifstream listed(Descriptors());
    std::vector<std::string> fds;
    for (std::string fd; listed >> fd;)
        fds.push_back(fd);
    EXPECT_FALSE(fds.empty());
    EXPECT_EQ(std::count(fds.begin(), fds.end(), "77"), 0);
}

TEST_F(FolderWindowTest, NothingIsStartedForWhatIsNotAFolder) {
    const fs::path file = FTemp.Root() / "capture.txt";
    std::ofstream(file) << "x";
    for (const fs::path& target : {FTemp.Root() / "missing", file, fs::path()}) {
        EXPECT_FALSE(lvplatform::ExploreFolder(target)) << target;
        EXPECT_EQ(RunningStandIns(), std::vector<int>{}) << target;
    }
}

TEST_F(FolderWindowTest, NoFileManagerOnThePathIsAFailure) {
    UsePath(FTemp.Dir("empty").string());
    EXPECT_FALSE(lvplatform::ExploreFolder(FTemp.Root()));
}

} // namespace
