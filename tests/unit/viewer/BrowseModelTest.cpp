// The browse model with no window: step sequences over lists whose page counts arrive
// before the steps, late, out of order, or never (a file that fails counts as one page).
// Each sequence is run twice, once with every count known from the start, and must end on
// the same page both times: a step taken before its count is known lands where it would
// have landed with the count.
#include "viewer/browse/BrowseModel.h"

#include "viewer/CleanPath.h"

#include <QDir>

#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<TLumivaneImage> Files(int ACount, const char* APrefix = "f") {
    std::vector<TLumivaneImage> images;
    for (int i = 0; i < ACount; ++i) {
        TLumivaneImage image;
        image.Source = "/scans/";
        image.Name = std::string(APrefix) + std::to_string(i) + ".tif";
        image.Path = image.Source + image.Name;
        images.push_back(image);
    }
    return images;
}

QString PathOf(const TBrowseModel& AModel, int AFile) {
    return AModel.FilePath(AFile);
}

// Tokens: D / U Page Down / Up, R / L next / previous file, H / E first / last file,
// #n the page count of file n arrives (from Counts), Sn select file n page 0.
void RunScript(TBrowseModel& AModel, const std::vector<int>& ACounts, const std::string& AScript) {
    std::istringstream in(AScript);
    std::string token;
    while (in >> token) {
        switch (token[0]) {
        case 'D':
            AModel.StepPage(+1);
            break;
        case 'U':
            AModel.StepPage(-1);
            break;
        case 'R':
            AModel.StepFile(+1);
            break;
        case 'L':
            AModel.StepFile(-1);
            break;
        case 'H':
            AModel.SelectFirstOrLast(false);
            break;
        case 'E':
            AModel.SelectFirstOrLast(true);
            break;
        case 'S':
            AModel.Select(std::stoi(token.substr(1)));
            break;
        case '#': {
            const int file = std::stoi(token.substr(1));
            AModel.SetPageCount(PathOf(AModel, file), ACounts[static_cast<std::size_t>(file)]);
            break;
        }
        default:
            FAIL() << "unknown token " << token;
        }
    }
}

std::string WithoutCounts(const std::string& AScript) {
    std::istringstream in(AScript);
    std::string token, out;
    while (in >> token)
        if (token[0] != '#')
            out += token + ' ';
    return out;
}

struct StepCase {
    const char* name;
    std::vector<int> counts; // pages per file; 1 also stands for a file that failed
    std::string script;      // starts with file 0 page 0 selected
    int file, page;          // where the steps end once every count is known
};

std::ostream& operator<<(std::ostream& AOut, const StepCase& ACase) {
    return AOut << ACase.name;
}

const StepCase kStepCases[] = {
    // Counts known before the steps.
    {"KnownDownCrossesIntoNextFile", {2, 3}, "#0 #1 D D", 1, 0},
    {"KnownUpGoesToPreviousLastPage", {2, 3}, "#0 #1 R U", 0, 1},
    {"KnownDownAtTheEndStays", {1, 2}, "#0 #1 D D D D", 1, 1},
    {"KnownUpAtTheStartStays", {3}, "#0 U U", 0, 0},
    // Counts arriving after the steps: the position moves at once and is put right.
    {"TenDownsOverSinglePageFilesLate",
     {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
     "D D D D D D D D D D #0 #1 #2 #3 #4 #5 #6 #7 #8 #9 #10 #11",
     10,
     0},
    {"DownsInsideAFiveFileBeforeItsCount", {5, 2}, "D D D #0 #1", 0, 3},
    {"DownsPastAShortFileCarryOn", {2, 3, 1}, "D D D #1 #0 #2", 1, 1},
    {"CountsOutOfOrderCarryOverTwoFiles", {1, 2, 4}, "D D D D #2 #1 #0", 2, 1},
    {"UpIntoAFileOfUnknownCountLandsOnItsLast", {4, 1}, "R U #1 #0", 0, 3},
    {"UpsFromTheEndCountBackwards", {3, 1}, "R U U #0 #1", 0, 1},
    {"UpsPastAShortFileIntoTheOneBefore", {2, 1, 1}, "E U U U #2 #1 #0", 0, 0},
    {"UpsPastAShortFileIntoTheLastOfTheOneBefore", {2, 1, 1}, "E U U #2 #1 #0", 0, 1},
    {"DownThenUpBeforeTheCountCancelOut", {1, 3}, "D D U #0 #1", 1, 0},
    {"CountArrivesBetweenSteps", {2, 2, 2}, "D #0 D D #1 D #2", 2, 0},
    {"AFailedFileCountsAsOnePage", {1, 4}, "D D #0 #1", 1, 1},
    {"StepsOverAFileWhoseCountNeverComesStayRelative", {2, 5}, "D D D #0", 1, 1},
    {"RightDropsAPendingPage", {4, 2}, "D D R #0 #1", 1, 0},
    {"HomeAndEndPickFirstPages", {3, 3}, "E D H #0 #1", 0, 0},
};

class BrowseSteps : public ::testing::TestWithParam<StepCase> {};

TEST_P(BrowseSteps, EndWhereKnownCountsLead) {
    const StepCase& c = GetParam();
    for (const bool late : {true, false}) {
        SCOPED_TRACE(late ? "counts as scripted" : "counts known first");
        TBrowseModel model;
        model.SetImages(Files(static_cast<int>(c.counts.size())));
        model.Select(0);
        std::string script = c.script;
        if (!late) {
            std::string first;
            for (std::size_t i = 0; i < c.counts.size(); ++i)
                first += "#" + std::to_string(i) + " ";
            script = first + WithoutCounts(c.script);
        }
        RunScript(model, c.counts, script);
        // A count that never came (the script leaves it out) keeps the page relative.
        const bool allKnown = [&] {
            for (int i = 0; i < model.Count(); ++i)
                if (model.PageCount(i) < 0)
                    return false;
            return true;
        }();
        EXPECT_EQ(model.Selected(), c.file);
        if (allKnown || model.PageCount(model.Selected()) >= 0) {
            EXPECT_EQ(model.WantedPage(), c.page);
            EXPECT_EQ(model.Wanted().Page, c.page) << "placed once its count is known";
        } else {
            EXPECT_EQ(model.Wanted().Page, c.page);
        }
        EXPECT_TRUE(model.IsPending());
    }
}

INSTANTIATE_TEST_SUITE_P(Model, BrowseSteps, ::testing::ValuesIn(kStepCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.name); });

// A page whose number needs its file's count is not asked for until the count comes; a
// page 0 always may be.
TEST(BrowseModel, WantedPageWaitsOnlyForTheCount) {
    TBrowseModel model;
    model.SetImages(Files(3));
    model.Select(0);
    EXPECT_EQ(model.WantedPage(), 0);
    model.StepPage(+1);
    EXPECT_EQ(model.WantedPage(), -1);
    int changes = 0;
    QObject::connect(&model, &TBrowseModel::WantedChanged, [&] { ++changes; });
    model.SetPageCount(PathOf(model, 2), 7); // another file: nothing to place
    EXPECT_EQ(changes, 0);
    model.SetPageCount(PathOf(model, 0), 3);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(model.WantedPage(), 1);
    model.SetPageCount(PathOf(model, 0), 3); // the same count again: no news
    EXPECT_EQ(changes, 1);
    // Up from the first page of a file: the last page of the one before, known at once.
    model.Select(1);
    model.SetPageCount(PathOf(model, 1), 1);
    model.StepPage(+1);
    EXPECT_EQ(model.Selected(), 2);
    EXPECT_EQ(model.WantedPage(), 0);
    model.StepPage(-1);
    model.StepPage(-1);
    EXPECT_EQ(model.Selected(), 0);
    EXPECT_EQ(model.WantedPage(), 2);
}

// The page put on screen ends the wait; neighbours follow what is shown.
TEST(BrowseModel, ShownPageAndNeighbours) {
    TBrowseModel model;
    std::vector<TLumivaneImage> files = Files(4);
    files[2].SetCantOpenReason(corSecured);
    model.SetImages(files);
    model.Select(1);
    EXPECT_TRUE(model.Neighbours().empty()) << "nothing shown yet";
    model.SetShown(1, 0, 2);
    EXPECT_FALSE(model.IsPending());
    EXPECT_EQ(model.ShownPageCount(), 2);
    const std::vector<TBrowsePosition> expected{{1, 1}, {0, 0}}; // never the secured file
    EXPECT_EQ(model.Neighbours(), expected);
    model.StepPage(+1);
    EXPECT_TRUE(model.Neighbours().empty()) << "a step on its way";
    model.SetShown(1, 1, 2);
    const std::vector<TBrowsePosition> last{{0, 0}};
    EXPECT_EQ(model.Neighbours(), last);
    model.ClearShown();
    EXPECT_EQ(model.ShownPageCount(), 0);
    EXPECT_EQ(model.Selected(), 1) << "the position stays";
}

struct MergeCase {
    const char* name;
    std::vector<std::string> before;
    int selected; // -1: nothing selected
    std::vector<std::string> after;
    TBrowseModel::TMerge result;
    int selectedAfter;
};

std::ostream& operator<<(std::ostream& AOut, const MergeCase& ACase) {
    return AOut << ACase.name;
}

std::vector<TLumivaneImage> Named(const std::vector<std::string>& ANames) {
    std::vector<TLumivaneImage> images;
    for (const std::string& name : ANames) {
        TLumivaneImage image;
        image.Source = "/scans/";
        image.Name = name;
        image.Path = image.Source + name;
        images.push_back(image);
    }
    return images;
}

const MergeCase kMergeCases[] = {
    {"SameFilesChangeNothing", {"a", "b"}, 1, {"a", "b"}, TBrowseModel::TMerge::Unchanged, 1},
    {"NewFileBeforeMovesTheSelection",
     {"b", "c"},
     0,
     {"a", "b", "c"},
     TBrowseModel::TMerge::SelectionKept,
     1},
    {"SelectedFileGoneNextTakesItsPlace",
     {"a", "b", "c"},
     1,
     {"a", "c"},
     TBrowseModel::TMerge::Reselected,
     1},
    {"LastFileGonePreviousTakesItsPlace",
     {"a", "b", "c"},
     2,
     {"a", "b"},
     TBrowseModel::TMerge::Reselected,
     1},
    {"EveryFileGone", {"a"}, 0, {}, TBrowseModel::TMerge::Reselected, -1},
    {"FirstScansOfAnEmptyList", {}, -1, {"a", "b"}, TBrowseModel::TMerge::Reselected, 0},
    {"NothingSelectedStaysSo", {"a"}, -1, {"a", "b"}, TBrowseModel::TMerge::NoneSelected, -1},
};

class BrowseMerge : public ::testing::TestWithParam<MergeCase> {};

TEST_P(BrowseMerge, KeepsTheSelectedFile) {
    const MergeCase& c = GetParam();
    TBrowseModel model;
    model.SetImages(Named(c.before));
    if (c.selected >= 0) {
        model.Select(c.selected);
        model.SetShown(c.selected, 0, 3);
        model.SetPageCount(model.FilePath(c.selected), 3);
    }
    const std::string selectedPath = model.SelectedImage().Path;
    int wanted = 0, lists = 0;
    QObject::connect(&model, &TBrowseModel::WantedChanged, [&] { ++wanted; });
    QObject::connect(&model, &TBrowseModel::ListChanged, [&] { ++lists; });
    EXPECT_EQ(model.Merge(Named(c.after)), c.result);
    EXPECT_EQ(model.Selected(), c.selectedAfter);
    EXPECT_EQ(lists, c.result == TBrowseModel::TMerge::Unchanged ? 0 : 1);
    // Only a selection that has to be shown anew (or is gone) is news to the position.
    EXPECT_EQ(wanted, c.result == TBrowseModel::TMerge::Reselected ? 1 : 0);
    if (c.result == TBrowseModel::TMerge::SelectionKept) {
        EXPECT_EQ(model.SelectedImage().Path, selectedPath);
        EXPECT_EQ(model.Shown().File, c.selectedAfter) << "the page shown moves with its file";
        EXPECT_EQ(model.PageCount(c.selectedAfter), 3) << "counts stay with their files";
    }
}

INSTANTIATE_TEST_SUITE_P(Model, BrowseMerge, ::testing::ValuesIn(kMergeCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.name); });

// A container's text read later reaches every entry of the path and survives a merge.
TEST(BrowseModel, ContainerTextReachesEveryEntryAndSurvivesAMerge) {
    std::vector<TLumivaneImage> files = Named({"a.lva", "b.tif", "a.lva"});
    TBrowseModel model;
    model.SetImages(files);
    std::vector<int> changed;
    QObject::connect(&model, &TBrowseModel::FileChanged,
                     [&](int AFile) { changed.push_back(AFile); });
    model.SetContainerText("/scans/a.lva", corNone, "12345678~1.tif");
    EXPECT_EQ(changed, (std::vector<int>{0, 2}));
    EXPECT_EQ(model.Image(2).Alias, "12345678~1.tif");
    model.Merge(Named({"0.tif", "a.lva", "b.tif"}));
    EXPECT_FALSE(model.Image(1).ContainerPending());
    EXPECT_EQ(model.Image(1).Alias, "12345678~1.tif");
}

} // namespace

namespace {

// Go to a file and page: what is taken, where it leads, and what is refused.
TEST(BrowseModel, GoToTargetTakesListedFilesAndPagesOnly) {
    TBrowseModel model;
    model.SetImages(Files(4));
    model.SetPageCount(PathOf(model, 0), 1);
    model.SetPageCount(PathOf(model, 1), 3); // file 4's count is not known yet
    const struct {
        const char* text;
        int file, page; // -1: refused
    } cases[] = {
        {"2", 1, 0},       {"2/3", 1, 2},       {" 2 / 3 ", 1, 2}, {"4/7", 3, 6},  {"1/1", 0, 0},
        {"2/4", -1, -1},   {"1/2", -1, -1},     {"5", -1, -1},     {"0", -1, -1},  {"2/0", -1, -1},
        {"", -1, -1},      {"x", -1, -1},       {"2/", -1, -1},    {"/2", -1, -1}, {"-1", -1, -1},
        {"2/3/1", -1, -1}, {"9999999", -1, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        QString why;
        const std::optional<TBrowsePosition> at = model.GoToTarget(QString::fromUtf8(c.text), &why);
        if (c.file < 0) {
            EXPECT_FALSE(at.has_value());
            EXPECT_FALSE(why.isEmpty());
        } else {
            ASSERT_TRUE(at.has_value());
            EXPECT_EQ(at->File, c.file);
            EXPECT_EQ(at->Page, c.page);
            EXPECT_TRUE(why.isEmpty());
        }
    }
    // An empty list has nothing to go to.
    TBrowseModel empty;
    EXPECT_FALSE(empty.GoToTarget(QStringLiteral("1")).has_value());
}

} // namespace

namespace {

// The folder watcher names files as QDir::cleanPath spells them; the model finds a file
// listed under another spelling of the same path without walking its list, and the quick
// check that skips cleaning never passes a path that cleaning would change.
TEST(BrowsePaths, AFileIsFoundUnderTheCleanSpellingOfItsPath) {
    const char* const spellings[] = {"/scans/a.tif",
                                     "/scans//a.tif",
                                     "/scans/./a.tif",
                                     "/scans/x/../a.tif",
                                     "scans/a.tif",
                                     "./scans/a.tif",
                                     "/scans/a.tif/",
                                     "//scans/a.tif",
                                     "/scans/.a.tif",
                                     "/scans/..a.tif",
                                     "/scans/a..tif",
                                     "/",
                                     "",
                                     ".",
                                     "..",
                                     "a/.",
                                     "a/..",
                                     "../a",
                                     "/scans/a.tif/."};
    for (const char* spelling : spellings) {
        const QString path = QString::fromUtf8(spelling);
        EXPECT_EQ(lvpaths::Cleaned(path), QDir::cleanPath(path)) << spelling;
    }
    std::vector<TLumivaneImage> images;
    for (const char* source : {"/scans//", "/scans/x/../", "/other/"}) {
        TLumivaneImage image;
        image.Source = source;
        image.Name = source == std::string("/other/") ? "b.tif" : "a.tif";
        image.Path = image.Source + image.Name;
        images.push_back(image);
    }
    TBrowseModel model;
    model.SetImages(images);
    const QString listed = model.ListedSpelling("/scans/a.tif");
    EXPECT_TRUE(listed == model.FilePath(0) || listed == model.FilePath(1)) << listed.toStdString();
    EXPECT_EQ(model.ListedSpelling("/other/b.tif"), model.FilePath(2));
    EXPECT_TRUE(model.ListedSpelling("/other/a.tif").isEmpty());
    EXPECT_TRUE(model.ListedSpelling("/scans/b.tif").isEmpty());
}

} // namespace
