// The folder search and the image list controller, on real folders.
#include "images/Orlenza.ImageListController.h"
#include "images/Orlenza.Types.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

namespace {

std::vector<std::string> Names(const std::vector<TLumivaneImage>& images) {
    std::vector<std::string> names;
    names.reserve(images.size());
    for (const auto& i : images)
        names.push_back(i.Name);
    return names;
}

// The layout of a typical installation: <source>/<first four characters>/<id>~n.ext
class ImageSearch : public testing::Test {
protected:
    void SetUp() override {
        tmp.File("scans/1234/12345678~1.tif", "tif", LocalUnixSeconds(2026, 3, 7, 14, 5));
        tmp.File("scans/1234/12345678~2.LVA", "container \xC3\xBC");
        tmp.File("scans/1234/12345678~3.png");
        tmp.File("scans/1234/1234567.tif");    // shorter than the identifier
        tmp.File("scans/1234/12345679~1.tif"); // another identifier
        tmp.File("scans/1234/12345678.tiff");  // not a supported extension
        tmp.File("scans/1234/12345678.jpeg");
        tmp.File("scans/1234/12345678.ti"); // a fragment of ".tif"
        tmp.File("scans/1234/12345678.jp");
        tmp.File("scans/1234/12345678.");
        tmp.File("scans/1234/12345678");      // no extension at all
        tmp.Dir("scans/1234/12345678~4.tif"); // a folder, not a file
        source = tmp.Source("scans");
    }

    std::vector<TLumivaneImage> Search(const std::vector<std::string>& sources,
                                       const std::string& text = "12345678",
                                       const std::string& pattern = "****") {
        return TImageListController::ImagesFor(sources, text, pattern);
    }

    TempFolder tmp;
    std::string source;
};

TEST_F(ImageSearch, FindsWholeSupportedExtensionsOfTheIdentifierInListingOrder) {
    const auto images = Search({source});
    ASSERT_EQ(Names(images),
              (std::vector<std::string>{"12345678~1.tif", "12345678~2.LVA", "12345678~3.png"}));

    const TLumivaneImage& tif = images[0];
    EXPECT_EQ(tif.Source, source + "1234/");
    EXPECT_EQ(tif.Path, source + "1234/12345678~1.tif");
    EXPECT_EQ(tif.FullFileName(), tif.Path);
    EXPECT_EQ(tif.PageCount, 1);
    EXPECT_EQ(tif.Alias, "");
    EXPECT_EQ(tif.CantOpenReason(), corNone);
    EXPECT_EQ(tif.DisplayName(), "12345678");
    EXPECT_EQ(tif.FormattedTimeStamp("mmm dd yyyy HH:nn"), "Mar 07 2026 14:05");

    // The container is listed unread, whatever the case of its extension; read, it
    // gives its text.
    TLumivaneImage container = images[1];
    EXPECT_TRUE(container.ContainerPending());
    EXPECT_EQ(container.Alias, "");
    TLumivaneCantOpenReason reason = corNone;
    std::string text;
    ReadAliasText(container.FullFileName(), reason, text);
    container.SetContainerText(reason, text);
    EXPECT_EQ(container.Alias, "container \xC3\xBC");
    EXPECT_EQ(container.CantOpenReason(), corNone);
    EXPECT_FALSE(container.ContainerPending());
}

TEST_F(ImageSearch, PagesComeInReadingOrderWithinEachSource) {
    TempFolder pages;
    const char* const extensions[] = {".tif", ".png", ".jpg", ".lva"};
    std::vector<std::string> expected;
    for (int i = 1; i <= 19; ++i)
        expected.push_back("55551111~" + std::to_string(i) + extensions[i % 4]);
    for (auto it = expected.rbegin(); it != expected.rend(); ++it)
        pages.File("a/5555/" + *it);
    pages.File("b/5555/55551111~10.tif");
    pages.File("b/5555/55551111~9.tif");
    expected.push_back("55551111~9.tif");
    expected.push_back("55551111~10.tif");
    EXPECT_EQ(Names(Search({pages.Source("a"), pages.Source("b")}, "55551111")), expected);
}

TEST_F(ImageSearch, IdentifierMatchesWithoutRegardToCase) {
    tmp.File("scans/ABCD/abcdef~1.TIF");
    EXPECT_EQ(Names(Search({source}, "ABCDEF")), (std::vector<std::string>{"abcdef~1.TIF"}));
}

TEST_F(ImageSearch, SourcesAreSearchedInOrderWithoutRemovingDuplicates) {
    tmp.File("alt/1234/12345678~7.jpg");
    tmp.File("alt/1234/12345678~8.png");
    const auto images = Search({source, tmp.Source("alt"), source});
    EXPECT_EQ(Names(images),
              (std::vector<std::string>{"12345678~1.tif", "12345678~2.LVA", "12345678~3.png",
                                        "12345678~7.jpg", "12345678~8.png", "12345678~1.tif",
                                        "12345678~2.LVA", "12345678~3.png"}));
    EXPECT_EQ(images[3].Source, tmp.Source("alt") + "1234/");
}

TEST_F(ImageSearch, SourceWithoutTrailingDelimiterLosesItsLastComponent) {
    tmp.File("1234/12345678~9.tif"); // directly under the root: where "<root>/scans" leads
    const std::string noDelimiter = (tmp.Root() / "scans").string();
    EXPECT_EQ(Names(Search({noDelimiter})), (std::vector<std::string>{"12345678~9.tif"}));
}

TEST_F(ImageSearch, SourceThroughALinkIsFollowed) {
    std::filesystem::create_directory_symlink(tmp.Root() / "scans", tmp.Root() / "linked");
    EXPECT_EQ(Search({tmp.Source("linked")}).size(), 3u);
}

TEST_F(ImageSearch, LinksInsideTheSourcesWorkAndLinksLeavingThemAreSecured) {
    namespace fs = std::filesystem;
    const fs::path root = tmp.Root();
    tmp.File("scans/other/page.png");
    tmp.File("alt/1234/12345678~1.jpg");
    tmp.File("outside/secret.tif");
    tmp.File("outside/secret.lva", "outside text");
    tmp.File("outside/1234/12345678~1.tif");
    const fs::path dir = root / "scans/1234";
    fs::create_symlink("12345678~1.tif", dir / "12345678~5.tif");                 // same folder
    fs::create_symlink("../other/page.png", dir / "12345678~6.png");              // same source
    fs::create_symlink(root / "alt/1234/12345678~1.jpg", dir / "12345678~7.jpg"); // source alt
    fs::create_symlink("../../outside/secret.tif", dir / "12345678~8.tif");
    fs::create_symlink("/etc/passwd", dir / "12345678~9.tif");
    fs::create_symlink(root / "outside/secret.lva", dir / "12345678~10.lva");
    // Through a link that leaves and one that comes back, resolved as a whole.
    fs::create_directory_symlink(root / "outside", root / "scans/exit");
    fs::create_symlink("../exit/../scans/1234/12345678~3.png", dir / "12345678~11.png");
    fs::create_symlink("../exit/secret.tif", dir / "12345678~12.tif");
    // Loops neither hang the search nor list anything.
    fs::create_symlink("12345678~14.tif", dir / "12345678~13.tif");
    fs::create_symlink("12345678~13.tif", dir / "12345678~14.tif");

    std::map<std::string, TLumivaneCantOpenReason> reasons;
    for (const TLumivaneImage& image : Search({source}))
        reasons[image.Name] = image.CantOpenReason();
    const std::map<std::string, TLumivaneCantOpenReason> expected = {
        {"12345678~1.tif", corNone},     {"12345678~2.LVA", corNone},
        {"12345678~3.png", corNone},     {"12345678~5.tif", corNone},
        {"12345678~6.png", corNone},     {"12345678~7.jpg", corSecured}, // alt not searched
        {"12345678~8.tif", corSecured},  {"12345678~9.tif", corSecured},
        {"12345678~10.lva", corSecured}, {"12345678~11.png", corNone},
        {"12345678~12.tif", corSecured},
    };
    EXPECT_EQ(reasons, expected);

    // Any configured source counts, also one searched later.
    const auto withAlt = Search({source, tmp.Source("alt")});
    // A secured container is never read: it is not pending, and it holds no text.
    int checked = 0;
    for (const TLumivaneImage& image : withAlt) {
        if (image.Name == "12345678~7.jpg") {
            EXPECT_EQ(image.CantOpenReason(), corNone) << image.Source;
            ++checked;
        } else if (image.Name == "12345678~10.lva") {
            EXPECT_FALSE(image.ContainerPending());
            EXPECT_EQ(image.Alias, "");
            ++checked;
        }
    }
    EXPECT_EQ(checked, 2);
}

TEST_F(ImageSearch, SubFolderLinksAreJudgedByWhereTheyLead) {
    namespace fs = std::filesystem;
    tmp.File("outside/5555/55550000~1.tif");
    tmp.File("outside/5555/55550000~2.lva", "outside");
    fs::create_directory_symlink(tmp.Root() / "outside/5555", tmp.Root() / "scans/5555");
    fs::create_directory_symlink(tmp.Root() / "scans/1234", tmp.Root() / "scans/4321");
    fs::create_directory_symlink(tmp.Root() / "scans/6666", tmp.Root() / "scans/6666"); // a loop
    fs::create_directory_symlink(".", tmp.Root() / "scans/7777");  // to its own source
    fs::create_directory_symlink("..", tmp.Root() / "scans/8888"); // to the source's parent
    tmp.File("scans/1234/43215678~1.tif");
    tmp.File("scans/77770000~1.tif");
    tmp.File("88880000~1.tif");

    struct Row {
        const char* fault;
        const char* text;
        std::size_t count;
        TLumivaneCantOpenReason reason;
    } rows[] = {
        {"sub_folder_leaving_the_source", "55550000", 2, corSecured},
        {"sub_folder_inside_the_source", "43215678", 1, corNone},
        {"sub_folder_loop", "66660000", 0, corNone},
        {"sub_folder_is_the_source", "77770000", 1, corNone},
        {"sub_folder_is_the_parent", "88880000", 1, corSecured},
    };
    for (const Row& r : rows) {
        const auto images = Search({source}, r.text);
        EXPECT_EQ(images.size(), r.count) << r.fault;
        for (const TLumivaneImage& image : images) {
            EXPECT_EQ(image.CantOpenReason(), r.reason) << r.fault << " " << image.Name;
            EXPECT_FALSE(image.ContainerPending() && r.reason == corSecured) << r.fault;
        }
    }
}

TEST_F(ImageSearch, SearchForFilesAloneTakesItsFolderAsTheSource) {
    namespace fs = std::filesystem;
    fs::create_symlink(tmp.Root() / "scans/1234/12345678~1.tif",
                       tmp.Root() / "scans/1234/12345678~5.tif");
    fs::create_symlink("/etc/passwd", tmp.Root() / "scans/1234/12345678~6.tif");
    TLumivaneImageListFolder list;
    ASSERT_EQ(list.SearchForFiles(source + "1234", "12345678~", false, SupportedImageExtensions),
              5);
    EXPECT_EQ(list[3].Name, "12345678~5.tif");
    EXPECT_EQ(list[3].CantOpenReason(), corNone);
    EXPECT_EQ(list[4].Name, "12345678~6.tif");
    EXPECT_EQ(list[4].CantOpenReason(), corSecured);
}

TEST_F(ImageSearch, NothingFoundGivesAnEmptyArray) {
    struct Row {
        const char* fault;
        std::vector<std::string> sources;
        const char* text;
        const char* pattern;
    } rows[] = {
        {"no_sources", {}, "12345678", "****"},
        {"sub_folder_missing", {tmp.Source("scans")}, "99995678", "****"},
        {"source_folder_missing", {tmp.Source("nowhere")}, "12345678", "****"},
        {"no_file_of_the_identifier", {tmp.Source("scans")}, "12340000", "****"},
        {"pattern_without_star", {tmp.Source("scans")}, "12345678", "...."},
        {"empty_pattern", {tmp.Source("scans")}, "12345678", ""},
        // A NUL makes any use of the source an error, so an empty result proves that
        // the source was never combined or listed.
        {"text_shorter_than_pattern_touches_nothing", {std::string("/bad\0/", 6)}, "123", "****"},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(Search(r.sources, r.text, r.pattern).empty()) << r.fault;
}

TEST_F(ImageSearch, UnsafeIdentifiersAreRejectedBeforeAnythingIsListed) {
    tmp.File("scans/../1234/leak~1.tif"); // what an escaping identifier would reach
    tmp.Dir("scans/[123");
    struct Row {
        const char* fault;
        std::string text;
        const char* pattern;
        const char* message;
    } rows[] = {
        {"delimiter_in_text", "12/45678", "****", "path delimiter"},
        {"delimiter_only_in_text_not_in_sub_folder", "1234/leak", "****", "path delimiter"},
        {"nul_in_text",
         std::string("1234\0"
                     "5678",
                     9),
         "****", "NUL"},
        {"parent_as_sub_folder", "..345678", "**", "names a folder"},
        {"current_as_sub_folder", ".2345678", "*", "names a folder"},
        {"parent_as_text", "..", "*.", "names a folder"},
        {"unclosed_set_in_text", "[1234567", "****", "Invalid mask"},
    };
    for (const Row& r : rows) {
        try {
            Search({source}, r.text, r.pattern);
            ADD_FAILURE() << r.fault << ": no error";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos)
                << r.fault << ": " << e.what();
        }
    }
}

TEST_F(ImageSearch, NulInASourceIsAnError) {
    EXPECT_THROW(Search({std::string("/sc\0ans/", 8)}), std::invalid_argument);
}

TEST(GetList, MissingSourcesIsAnAssertionNamingTheUnit) {
    try {
        TLumivaneImageListFolder::GetList(nullptr, "12345678", "****", SupportedImageExtensions);
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("Sources not defined"), std::string::npos) << what;
        EXPECT_NE(what.find("Orlenza.Types"), std::string::npos) << what;
    }
}

TEST_F(ImageSearch, SearchForFilesAppendsAndReportsTheCount) {
    TLumivaneImageListFolder list;
    const std::string folder = source + "1234"; // without a trailing delimiter
    EXPECT_EQ(list.SearchForFiles(folder, "12345678~1", false, SupportedImageExtensions), 1);
    EXPECT_EQ(list[0].Source, folder + "/");
    EXPECT_EQ(list.SearchForFiles(folder, "12345678", false, SupportedImageExtensions), 4);
    EXPECT_EQ(list.SearchForFiles(folder, "12345678", true, SupportedImageExtensions), 3);
    // A missing folder reports 0 whatever the list holds, and leaves the list alone.
    EXPECT_EQ(list.SearchForFiles(source + "absent", "12345678", false, SupportedImageExtensions),
              0);
    EXPECT_EQ(list.Count(), 3);
    // Another extension list is honoured as given.
    EXPECT_EQ(list.SearchForFiles(folder, "12345678", true, "*.tiff;*.ti"), 2);
}

} // namespace
