// The images named on the command line, listed from real folders: what each kind of path
// adds to the list, in which order, where the list starts, and what is said about a path
// that shows nothing.
#include "images/OpenedImages.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using lvimages::ListOpenedPaths;
using lvimages::TOpenedImages;

namespace {

std::vector<std::string> Names(const TOpenedImages& AOpened) {
    std::vector<std::string> names;
    for (const TLumivaneImage& image : AOpened.Images)
        names.push_back(image.Name);
    return names;
}

// A folder of scans as a scanner names them, with things beside them that are no image.
struct ScanFolders {
    TempFolder tmp;
    std::string scans, other, empty;
    ScanFolders() {
        for (const char* name : {"p10.tif", "p2.tif", "p1.tif", "P3.PNG", "p20.jpg", "notes.txt",
                                 "p4.tiff", "p5.jpeg", "p6.gif"})
            tmp.File(std::string("scans/") + name);
        tmp.Dir("scans/p9.tif"); // a folder that looks like an image
        tmp.File("other/b.png");
        tmp.File("other/a.tif");
        tmp.Dir("empty");
        tmp.File("empty/readme.txt");
        scans = (tmp.Root() / "scans").string();
        other = (tmp.Root() / "other").string();
        empty = (tmp.Root() / "empty").string();
    }
};

} // namespace

TEST(OpenedImages, WhatEachKindOfPathLists) {
    ScanFolders f;
    struct Case {
        const char* what;
        std::vector<std::string> paths;
        std::vector<std::string> names;
        std::string start; // the path shown first; empty: the first listed
        std::size_t problems;
    };
    const std::vector<std::string> scanOrder = {"p1.tif",  "p2.tif",  "P3.PNG", "p4.tiff",
                                                "p5.jpeg", "p10.tif", "p20.jpg"};
    const std::vector<Case> cases = {
        {"one file: its folder in natural order, from that file",
         {f.scans + "/p2.tif"},
         scanOrder,
         f.scans + "/p2.tif",
         0},
        {"the last file in natural order",
         {f.scans + "/p20.jpg"},
         scanOrder,
         f.scans + "/p20.jpg",
         0},
        {"a folder", {f.scans}, scanOrder, "", 0},
        {"a folder named with a trailing delimiter and dots",
         {f.scans + "/../scans/"},
         scanOrder,
         "",
         0},
        {"several files: those files, in the order given",
         {f.scans + "/p10.tif", f.other + "/a.tif", f.scans + "/p1.tif"},
         {"p10.tif", "a.tif", "p1.tif"},
         f.scans + "/p10.tif",
         0},
        {"a folder, then a file: the folder's images first, the list starts at the top",
         {f.other, f.scans + "/p2.tif"},
         {"a.tif", "b.png", "p2.tif"},
         "",
         0},
        {"a path named twice is listed once", {f.other, f.other + "/"}, {"a.tif", "b.png"}, "", 0},
        {"what cannot be shown is said, the rest is shown",
         {f.scans + "/notes.txt", f.other + "/a.tif", f.tmp.Root().string() + "/gone.tif"},
         {"a.tif"},
         f.other + "/a.tif",
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TOpenedImages opened = ListOpenedPaths(c.paths);
        EXPECT_EQ(Names(opened), c.names);
        EXPECT_EQ(opened.StartPath, c.start);
        EXPECT_EQ(opened.Problems.size(), c.problems) << ::testing::PrintToString(opened.Problems);
        // Every record can be opened as listed, whatever the current folder is later.
        for (const TLumivaneImage& image : opened.Images) {
            EXPECT_EQ(image.Path.front(), '/') << image.Path;
            EXPECT_TRUE(std::filesystem::is_regular_file(image.FullFileName())) << image.Path;
        }
    }
}

TEST(OpenedImages, PathsThatShowNothingAreSaidClearly) {
    ScanFolders f;
    struct Case {
        std::vector<std::string> paths;
        std::string said; // in the one problem reported
    };
    const std::vector<Case> cases = {
        {{f.tmp.Root().string() + "/missing"}, "no such file or folder"},
        {{f.scans + "/notes.txt"},
         "not an image the viewer opens (.tif, .tiff, .png, .jpg, .jpeg, .lva)"},
        {{f.scans + "/p6.gif"}, "not an image the viewer opens"},
        {{f.empty}, "holds no image the viewer opens"},
        {{"/dev/null"}, "not a file or a folder"},
        {{""}, "an empty path"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.paths));
        const TOpenedImages opened = ListOpenedPaths(c.paths);
        EXPECT_TRUE(opened.Images.empty());
        EXPECT_TRUE(opened.StartPath.empty());
        ASSERT_EQ(opened.Problems.size(), 1u);
        EXPECT_NE(opened.Problems[0].find(c.said), std::string::npos) << opened.Problems[0];
        // The path is named as the user gave it, so they can tell which one it was.
        if (!c.paths[0].empty()) {
            EXPECT_NE(opened.Problems[0].find(c.paths[0]), std::string::npos) << opened.Problems[0];
        }
    }
}

// The folders the window watches for fresh scans, each once, and the list as it is when
// a scan arrives or one goes.
TEST(OpenedImages, FoldersAreWatchedAndListedAgainAsTheyChange) {
    ScanFolders f;
    const std::vector<std::string> paths = {f.scans + "/p2.tif"};
    const TOpenedImages first = ListOpenedPaths(paths);
    ASSERT_EQ(first.Folders, std::vector<std::string>{f.scans + "/"});

    f.tmp.File("scans/p11.tif");
    std::filesystem::remove(f.tmp.Root() / "scans" / "p1.tif");
    const TOpenedImages again = ListOpenedPaths(paths);
    EXPECT_EQ(Names(again), (std::vector<std::string>{"p2.tif", "P3.PNG", "p4.tiff", "p5.jpeg",
                                                      "p10.tif", "p11.tif", "p20.jpg"}));

    const std::vector<std::string> two = {f.scans + "/p2.tif", f.other + "/a.tif", f.other};
    EXPECT_EQ(ListOpenedPaths(two).Folders,
              (std::vector<std::string>{f.scans + "/", f.other + "/"}));
}

TEST(OpenedImages, TheListIsNamedAfterTheFirstPath) {
    EXPECT_EQ(lvimages::OpenedListName({"/scans/2026/p2.tif"}), "p2.tif");
    EXPECT_EQ(lvimages::OpenedListName({"/scans/2026/"}), "2026");
    EXPECT_EQ(lvimages::OpenedListName({"/scans/a.tif", "/scans/b.tif", "/x"}), "a.tif (+2)");
    EXPECT_EQ(lvimages::OpenedListName({"/"}), "/");
}
