// The folder search and the image list controller, on real folders.
#include "TempFolder.h"
#include "images/Orlenza.ImageListController.h"
#include "images/Orlenza.Types.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

std::vector<std::string> Names(const std::vector<TLumivaneImage>& images) {
    std::vector<std::string> names;
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

    // The container is read whole as text, whatever the case of its extension.
    EXPECT_EQ(images[1].Alias, "container \xC3\xBC");
    EXPECT_EQ(images[1].CantOpenReason(), corNone);
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
