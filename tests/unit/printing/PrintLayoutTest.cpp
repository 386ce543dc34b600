// Where a page lands on a sheet: each row names the fault it pins.
#include "viewer/PrintLayout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>

using namespace lvprint;

namespace {

// A4 at 600 dpi: 4961 x 7016 device pixels, with a quarter-inch (150 px) margin.
const TSheet A4{4961, 7016, {150, 150, 4661, 6716}};
constexpr double Dpi = 600;
const double NaN = std::numeric_limits<double>::quiet_NaN();

struct TPlaceCase {
    std::string Fault;
    TPageSource Page;
    TPrintSize Size;
    TRect Box;          // expected, device pixels on the paper
    double PictureWide; // expected unturned picture size
    double PictureHigh;
};

std::ostream& operator<<(std::ostream& AOut, const TPlaceCase& ACase) {
    return AOut << ACase.Fault;
}

class PlacePageTest : public testing::TestWithParam<TPlaceCase> {};

TEST_P(PlacePageTest, BoxAndPicture) {
    const TPlaceCase& c = GetParam();
    const TPagePlacement p = PlacePage(c.Page, A4, c.Size, Dpi);
    EXPECT_NEAR(p.Box.Left, c.Box.Left, 0.01);
    EXPECT_NEAR(p.Box.Top, c.Box.Top, 0.01);
    EXPECT_NEAR(p.Box.Width, c.Box.Width, 0.01);
    EXPECT_NEAR(p.Box.Height, c.Box.Height, 0.01);
    EXPECT_NEAR(p.PictureWidth, c.PictureWide, 0.01);
    EXPECT_NEAR(p.PictureHeight, c.PictureHigh, 0.01);
    EXPECT_EQ(p.Angle, c.Box.IsEmpty() ? 0 : c.Page.Angle);
}

// 2480 x 3508 is A4 at 300 dpi; at 600 dpi on paper that is 4960 x 7016.
INSTANTIATE_TEST_SUITE_P(
    Rows, PlacePageTest,
    testing::Values(
        TPlaceCase{"fit width: wide scan spans the printable width at its top",
                   {2000, 1000, 300, 300, 0},
                   TPrintSize::FitWidth,
                   {150, 150, 4661, 2330.5},
                   4661,
                   2330.5},
        TPlaceCase{"fit width: tall scan held to the printable height, not stretched",
                   {1000, 3000, 300, 300, 0},
                   TPrintSize::FitWidth,
                   {150, 150, 6716.0 / 3, 6716},
                   6716.0 / 3,
                   6716},
        TPlaceCase{"fit page: centred both ways in the printable area",
                   {2000, 1000, 300, 300, 0},
                   TPrintSize::FitPage,
                   {150, 150 + (6716 - 2330.5) / 2, 4661, 2330.5},
                   4661,
                   2330.5},
        TPlaceCase{"fit page: the turned box is what is fitted",
                   {1000, 2000, 300, 300, 90},
                   TPrintSize::FitPage,
                   {150, 150 + (6716 - 2330.5) / 2, 4661, 2330.5},
                   2330.5,
                   4661},
        TPlaceCase{"actual size: an A4 scan covers the A4 paper, margins ignored",
                   {2480, 3508, 300, 300, 0},
                   TPrintSize::Actual,
                   {0.5, 0, 4960, 7016},
                   4960,
                   7016},
        TPlaceCase{"actual size: a file without resolution is taken as 300 dpi",
                   {2480, 3508, 0, 0, 0},
                   TPrintSize::Actual,
                   {0.5, 0, 4960, 7016},
                   4960,
                   7016},
        TPlaceCase{"actual size: an absurd resolution counts as none",
                   {2480, 3508, 1e9, 1e9, 0},
                   TPrintSize::Actual,
                   {0.5, 0, 4960, 7016},
                   4960,
                   7016},
        TPlaceCase{"actual size: a 600 dpi scan is its own inches, not its pixel count",
                   {2480, 3508, 600, 600, 0},
                   TPrintSize::Actual,
                   {(4961 - 2480) / 2.0, (7016 - 3508) / 2.0, 2480, 3508},
                   2480,
                   3508},
        TPlaceCase{"actual size: fax resolution keeps the page's true proportions",
                   {1728, 1100, 204, 98, 0},
                   TPrintSize::Actual,
                   {(4961 - 1728 / 204.0 * 600) / 2, (7016 - 1100 / 98.0 * 600) / 2,
                    1728 / 204.0 * 600, 1100 / 98.0 * 600},
                   1728 / 204.0 * 600,
                   1100 / 98.0 * 600},
        TPlaceCase{"actual size: larger than the paper stays centred and overflows evenly",
                   {4961, 3508, 300, 300, 0},
                   TPrintSize::Actual,
                   {(4961 - 9922) / 2.0, 0, 9922, 7016},
                   9922,
                   7016},
        TPlaceCase{"quarter turn swaps the box exactly",
                   {3508, 2480, 300, 300, -90},
                   TPrintSize::Actual,
                   {0.5, 0, 4960, 7016},
                   7016,
                   4960},
        TPlaceCase{"half turn keeps the box",
                   {2000, 1000, 300, 300, 180},
                   TPrintSize::FitWidth,
                   {150, 150, 4661, 2330.5},
                   4661,
                   2330.5},
        TPlaceCase{"a dial angle between quarters takes the turned bounding box",
                   {1000, 1000, 300, 300, 45},
                   TPrintSize::Actual,
                   {(4961 - 2000 * std::sqrt(2.0)) / 2, (7016 - 2000 * std::sqrt(2.0)) / 2,
                    2000 * std::sqrt(2.0), 2000 * std::sqrt(2.0)},
                   2000,
                   2000},
        TPlaceCase{
            "empty picture places nothing", {0, 100, 300, 300, 0}, TPrintSize::FitWidth, {}, 0, 0},
        TPlaceCase{"an angle that is not a number places nothing",
                   {100, 100, 300, 300, NaN},
                   TPrintSize::FitPage,
                   {},
                   0,
                   0}),
    [](const testing::TestParamInfo<TPlaceCase>& AInfo) {
        return "row" + std::to_string(AInfo.index);
    });

TEST(PlacePage, NoPrintableAreaPlacesNothingButActualSizeStillFitsThePaper) {
    const TSheet noMargins{4961, 7016, {0, 0, 0, 0}};
    EXPECT_TRUE(
        PlacePage({2000, 1000, 300, 300, 0}, noMargins, TPrintSize::FitWidth, Dpi).Box.IsEmpty());
    EXPECT_TRUE(
        PlacePage({2000, 1000, 300, 300, 0}, noMargins, TPrintSize::FitPage, Dpi).Box.IsEmpty());
    EXPECT_FALSE(
        PlacePage({2000, 1000, 300, 300, 0}, noMargins, TPrintSize::Actual, Dpi).Box.IsEmpty());
    EXPECT_TRUE(PlacePage({2000, 1000, 300, 300, 0}, A4, TPrintSize::Actual, 0).Box.IsEmpty());
}

struct TOrientationCase {
    std::string Fault;
    TPageSource Page;
    bool Landscape;
};

std::ostream& operator<<(std::ostream& AOut, const TOrientationCase& ACase) {
    return AOut << ACase.Fault;
}

class OrientationTest : public testing::TestWithParam<TOrientationCase> {};

TEST_P(OrientationTest, LandscapeWhenWiderAfterTurning) {
    EXPECT_EQ(IsLandscape(GetParam().Page), GetParam().Landscape);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OrientationTest,
    testing::Values(
        TOrientationCase{"portrait scan", {2480, 3508, 300, 300, 0}, false},
        TOrientationCase{"landscape scan", {3508, 2480, 300, 300, 0}, true},
        TOrientationCase{"portrait scan turned a quarter", {2480, 3508, 300, 300, 90}, true},
        TOrientationCase{"landscape scan turned back", {3508, 2480, 300, 300, -90}, false},
        TOrientationCase{"landscape turned half way round", {3508, 2480, 300, 300, 180}, true},
        TOrientationCase{
            "square pixels wide, but fax inches tall", {1728, 1100, 204, 98, 0}, false},
        TOrientationCase{"square page is portrait", {1000, 1000, 300, 300, 0}, false},
        TOrientationCase{"empty page is portrait", {0, 0, 300, 300, 0}, false}),
    [](const testing::TestParamInfo<TOrientationCase>& AInfo) {
        return "row" + std::to_string(AInfo.index);
    });

TEST(PrintAngle, AsShownOrAsStored) {
    EXPECT_EQ(PrintAngle(90, true), 90);
    EXPECT_EQ(PrintAngle(90, false), 0);
    EXPECT_EQ(PrintAngle(-135.5, true), -135.5);
    EXPECT_EQ(PrintAngle(NaN, true), 0);
}

TEST(DecodeSizeFor, PrinterResolutionButNeverMoreThanTheFile) {
    const TPageSource a4At300{2480, 3508, 300, 300, 0};
    // On a 600 dpi sheet at actual size the printer could show twice the pixels: the file's
    // own are all there is.
    EXPECT_EQ(DecodeSizeFor(a4At300, PlacePage(a4At300, A4, TPrintSize::Actual, 600)),
              (TPixelSize{2480, 3508}));
    // On a 150 dpi sheet, half.
    const TSheet a4At150{1240.25, 1754, {0, 0, 1240.25, 1754}};
    EXPECT_EQ(DecodeSizeFor(a4At300, PlacePage(a4At300, a4At150, TPrintSize::Actual, 150)),
              (TPixelSize{1240, 1754}));
    // A fax page keeps its pixel proportions: the axis that needs more detail decides.
    const TPageSource fax{1728, 2200, 204, 98, 0};
    const TPagePlacement small{{0, 0, 864, 1100}, 864, 1100, 0};
    EXPECT_EQ(DecodeSizeFor(fax, small), (TPixelSize{864, 1100}));
    const TPagePlacement squat{{0, 0, 864, 550}, 864, 550, 0};
    EXPECT_EQ(DecodeSizeFor(fax, squat), (TPixelSize{864, 1100}));
    EXPECT_EQ(DecodeSizeFor(fax, TPagePlacement{}), (TPixelSize{1, 1}));
}

} // namespace
