// Hostile folders and containers through the real folder search and the real container
// read: FIFOs named like images, link loops and chains, links to devices, oversized,
// locked and unreadable containers, malformed and extreme names. None may hang, crash,
// read past the container bound, or let a link out of the sources be opened.
#include "FolderProbes.h"
#include "images/Orlenza.ImageListController.h"
#include "images/Orlenza.Types.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

// What the search and a later read must make of one fixture.
struct Expect {
    bool listed;
    TLumivaneCantOpenReason reason; // after the listing and, for containers, the read
};

class HostileFolder : public testing::Test {
protected:
    void SetUp() override {
        dir = tmp.Dir("src/1234");
        source = tmp.Source("src");
    }

    // Every record of a search of "12345678", containers read a try at a time (no
    // sleeping: the pauses the read asks for are skipped).
    std::map<std::string, TLumivaneImage> SearchAndRead() {
        std::map<std::string, TLumivaneImage> found;
        for (TLumivaneImage& image :
             TImageListController::ImagesFor({source}, "12345678", "****")) {
            if (image.ContainerPending()) {
                TContainerRead read(image.FullFileName());
                int tries = 1;
                while (read.Try([](int) { return 1; }) != 0)
                    ++tries;
                EXPECT_LE(tries, 4) << image.Name;
                image.SetContainerText(read.Reason(), read.TakeText());
            }
            found.emplace(image.Name, image);
        }
        return found;
    }

    void Check(const std::map<std::string, TLumivaneImage>& found,
               const std::map<std::string, Expect>& expected) {
        for (const auto& [name, e] : expected) {
            const auto at = found.find(name);
            ASSERT_EQ(at != found.end(), e.listed) << name;
            if (at != found.end()) {
                EXPECT_EQ(at->second.CantOpenReason(), e.reason) << name;
                if (e.reason != corNone) {
                    EXPECT_EQ(at->second.Alias, "") << name;
                }
            }
        }
    }

    TempFolder tmp;
    fs::path dir;
    std::string source;
};

TEST_F(HostileFolder, FifosAndDevicesNamedLikeImagesAreNeverOpened) {
    for (const char* name : {"12345678~1.tif", "12345678~2.lva", "12345678~3.jpg"})
        ASSERT_EQ(::mkfifo((dir / name).c_str(), 0644), 0) << name;
    // A writer keeps one FIFO open: a blocking read of it would wait for ever.
    const int writer = ::open((dir / "12345678~2.lva").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    fs::create_symlink("/dev/zero", dir / "12345678~4.lva");
    fs::create_symlink("/dev/urandom", dir / "12345678~5.png");
    tmp.File("src/1234/12345678~6.png");
    OpenWatch opens(dir);

    const auto found = SearchAndRead();
    ::close(writer);
    EXPECT_EQ(opens.OpenedFiles(), std::vector<std::string>{});
    Check(found, {{"12345678~1.tif", {false, corNone}},
                  {"12345678~2.lva", {false, corNone}},
                  {"12345678~3.jpg", {false, corNone}},
                  {"12345678~4.lva", {false, corNone}},
                  {"12345678~5.png", {false, corNone}},
                  {"12345678~6.png", {true, corNone}}});

    // Read on its own, a container name on a FIFO with a writer still ends at once.
    const int again = ::open((dir / "12345678~2.lva").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(again, 0);
    TLumivaneCantOpenReason reason = corNone;
    std::string text;
    ReadAliasText((dir / "12345678~2.lva").string(), reason, text);
    ::close(again);
    EXPECT_EQ(reason, corUnknown);
}

TEST_F(HostileFolder, LinkLoopsAndLongChainsNeitherHangNorList) {
    fs::create_symlink("12345678~1.tif", dir / "12345678~1.tif"); // itself
    fs::create_symlink("12345678~3.lva", dir / "12345678~2.lva");
    fs::create_symlink("12345678~2.lva", dir / "12345678~3.lva");
    // A chain longer than the system follows (40 on Linux) ends like a loop.
    const std::string end = "12345678~9.png";
    tmp.File("src/1234/" + end);
    std::string next = end;
    for (int i = 0; i < 45; ++i) {
        const std::string link = "12345678~c" + std::to_string(i) + ".tif";
        fs::create_symlink(next, dir / link);
        next = link;
    }
    // A short chain inside the source is a plain file.
    fs::create_symlink(end, dir / "12345678~s1.jpg");
    fs::create_symlink("12345678~s1.jpg", dir / "12345678~s2.jpg");
    // Sub-folders: one that is a loop, one that points at its own parent folder.
    fs::create_directory_symlink("5555", tmp.Root() / "src/5555");
    fs::create_directory_symlink(".", tmp.Root() / "src/6666");
    tmp.File("src/66660000~1.tif");

    const auto found = SearchAndRead();
    Check(found, {{"12345678~1.tif", {false, corNone}},
                  {"12345678~2.lva", {false, corNone}},
                  {"12345678~3.lva", {false, corNone}},
                  {"12345678~c0.tif", {true, corNone}},
                  {"12345678~c38.tif", {true, corNone}},
                  {"12345678~c44.tif", {false, corNone}},
                  {"12345678~s2.jpg", {true, corNone}},
                  {end, {true, corNone}}});
    EXPECT_TRUE(TImageListController::ImagesFor({source}, "55550000", "****").empty());
    const auto up = TImageListController::ImagesFor({source}, "66660000", "****");
    ASSERT_EQ(up.size(), 1u);
    EXPECT_EQ(up[0].CantOpenReason(), corNone);
}

TEST_F(HostileFolder, ContainersOversizedLockedRefusedOrGarbledEndWithTheirReason) {
    const auto huge = tmp.File("src/1234/12345678~1.lva", "");
    fs::resize_file(huge, 1ull << 32); // 4 GiB, sparse
    tmp.File("src/1234/12345678~2.lva", std::string(MaxContainerBytes + 1, 'x'));
    tmp.File("src/1234/12345678~3.lva", "\xFF\xFE garbled \xC3");
    tmp.File("src/1234/12345678~4.lva", "");
    std::vector<fs::path> held;
    for (int i = 10; i < 30; ++i)
        held.push_back(tmp.File("src/1234/12345678~" + std::to_string(i) + ".lva", "held"));
    const auto refused = tmp.File("src/1234/12345678~5.lva", "refused");
    fs::permissions(refused, fs::perms::none);
    tmp.Dir("src/1234/12345678~6.lva"); // a folder with a container's name
    LockHolder holder(held);

    // As a user that access rules apply to; the outcome comes back as text.
    const std::string seen = RunAsUnprivileged([&] {
        std::map<std::string, TLumivaneImage> found;
        const long grownKiB = PeakGrowthKiB([&] { found = SearchAndRead(); });
        std::string out = "grown_small=" + std::to_string(grownKiB < 4L * 1024);
        for (const auto& [name, image] : found)
            out += " " + name + "=" + std::to_string(image.CantOpenReason()) + "/" +
                   std::to_string(image.Alias.size());
        return out;
    });
    // name -> reason/length of the text; the folder is not listed.
    std::map<std::string, std::string> outcome = {
        {"12345678~1.lva", "3/0"},  // 4 GiB: unknown, never read whole
        {"12345678~2.lva", "3/0"},  // one byte over the bound
        {"12345678~3.lva", "0/18"}, // read; three malformed bytes became U+FFFD
        {"12345678~4.lva", "0/0"},  // empty
        {"12345678~5.lva", "2/0"},  // refused: secured
    };
    for (int i = 10; i < 30; ++i)
        outcome["12345678~" + std::to_string(i) + ".lva"] = "1/0"; // locked through all tries
    std::string expected = "grown_small=1";
    for (const auto& [name, result] : outcome)
        expected.append(" ").append(name).append("=").append(result);
    EXPECT_EQ(seen, expected);
}

TEST_F(HostileFolder, ExtremeNamesAreListedInOrder) {
    const std::string digits(200, '9');
    const std::vector<std::string> names = {
        "12345678~" + std::string(1, '\xFF') + ".tif",        // not UTF-8
        "12345678~" + digits + ".png",                        // a number of 300 digits
        "12345678~" + std::string(240, 'z') + ".jpg",         // near the name limit
        "12345678~0000000000000000000000000000000000001.tif", // zero padded
        "12345678~1.tif",
    };
    for (const std::string& name : names)
        tmp.File("src/1234/" + name);
    std::vector<std::string> listed;
    for (const TLumivaneImage& image :
         TImageListController::ImagesFor({source}, "12345678", "****"))
        listed.push_back(image.Name);
    EXPECT_EQ(listed, (std::vector<std::string>{names[4], names[3], names[1], names[2], names[0]}));
}

} // namespace
