// The viewer's image geometry from tables: each row names the fault it would catch.
#include "viewer/ImageGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>

using namespace lvgeometry;

namespace {

struct FitCase {
    const char* name;
    int bitmapW, bitmapH;
    bool fitToWidth;
    double rotation;
    float drawnW, drawnH; // the picture at zoom 0, in its own (unturned) orientation
};

// A 600-wide window whose image area is 496 high, as designed.
const FitCase kFitCases[] = {
    {"UprightShrinksToAreaHeight", 1000, 2000, false, 0, 248, 496},
    {"UprightFitToWidthSpansWindow", 1000, 2000, true, 0, 600, 1200},
    {"WideShrinksToWidth", 2000, 1000, false, 0, 600, 300},
    {"WideFitToWidth", 2000, 1000, true, 0, 600, 300},
    {"SmallIsNeverEnlarged", 300, 200, false, 0, 300, 200},
    {"SmallIsNeverEnlargedByTheSwitch", 300, 200, true, 0, 300, 200},
    {"SquareShrinksToTheShorterSide", 800, 800, false, 0, 496, 496},
    {"SmallUprightKeepsItsPixels", 200, 300, false, 0, 200, 300},
    {"A4At300DpiUpright", 2480, 3508, false, 0, 350.6499f, 496},
    // A landscape page wider than the area's shape: cut at top and bottom when fitted to
    // the width alone, so it is fitted to the height.
    {"LandscapeTallerThanAreaAtWidth", 1200, 1100, false, 0, 541.0909f, 496},
    {"LandscapeFitToWidthMayOverflow", 1200, 1100, true, 0, 600, 550},
    // Turned pages fit as turned: the turned extent lies inside the area.
    {"UprightQuarterTurnedFitsTheWidth", 1000, 2000, false, 90, 300, 600},
    {"UprightTurnedBackFitsTheWidth", 1000, 2000, false, -90, 300, 600},
    {"UprightHalfTurnedAsUpright", 1000, 2000, false, 180, 248, 496},
    {"WideQuarterTurnedFitsTheHeight", 2000, 1000, false, 90, 496, 248},
    {"TurnedFitToWidthUsesTurnedWidth", 2000, 1000, true, 90, 1200, 600},
    {"TurnedSmallKeepsItsPixels", 200, 300, false, 90, 200, 300},
    // 45 degrees: the corners of the turned square stay inside (496 / sqrt 2).
    {"SquareAtAnAngleKeepsCornersInside", 800, 800, false, 45, 350.7250f, 350.7250f},
};

void PrintTo(const FitCase& c, std::ostream* os) {
    *os << c.name;
}

class FitImageTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitImageTest, BoundsAndDrawnSize) {
    const FitCase& c = GetParam();
    TFitResult fit;
    ASSERT_TRUE(FitImage(c.bitmapW, c.bitmapH, 496, 600, c.fitToWidth, fit, c.rotation));
    // The bounds are the picture: the control draws it filling them.
    EXPECT_NEAR(fit.BaseWidth, c.drawnW, 0.01);
    EXPECT_NEAR(fit.BaseHeight, c.drawnH, 0.01);
    const TSizeF drawn = AspectFit(fit.BaseWidth, fit.BaseHeight, c.bitmapW, c.bitmapH);
    EXPECT_NEAR(drawn.Width, c.drawnW, 0.01);
    EXPECT_NEAR(drawn.Height, c.drawnH, 0.01);
    // Never larger than the bitmap's own pixels.
    EXPECT_LE(drawn.Width, c.bitmapW + 0.01);
    // The turned picture lies inside the window's width, and inside the area's height
    // unless only the width was asked for.
    const double a = c.rotation * 3.14159265358979323846 / 180;
    const double spanW =
        drawn.Width * std::fabs(std::cos(a)) + drawn.Height * std::fabs(std::sin(a));
    const double spanH =
        drawn.Width * std::fabs(std::sin(a)) + drawn.Height * std::fabs(std::cos(a));
    EXPECT_LE(spanW, 600.01);
    if (!c.fitToWidth) {
        EXPECT_LE(spanH, 496.01);
    }
    // Position before the layout centres it: half the window and half the area.
    EXPECT_FLOAT_EQ(fit.Left, 300);
    EXPECT_FLOAT_EQ(fit.Top, 248);
}

std::string FitCaseName(const ::testing::TestParamInfo<FitCase>& row) {
    return row.param.name;
}
INSTANTIATE_TEST_SUITE_P(Table, FitImageTest, ::testing::ValuesIn(kFitCases), FitCaseName);

TEST(FitImage, EmptyBitmapChangesNothing) {
    TFitResult fit{1, 2, 3, 4};
    EXPECT_FALSE(FitImage(0, 100, 496, 600, false, fit));
    EXPECT_FALSE(FitImage(100, 0, 496, 600, true, fit));
    EXPECT_FLOAT_EQ(fit.BaseWidth, 1);
    EXPECT_FLOAT_EQ(fit.Top, 4);
}

TEST(FitImage, OddWindowWidthHalvesToFraction) {
    TFitResult fit;
    ASSERT_TRUE(FitImage(10, 10, 101, 601, false, fit));
    EXPECT_FLOAT_EQ(fit.Left, 300.5f);
    EXPECT_FLOAT_EQ(fit.Top, 50.5f);
}

TEST(Zoom, FactorRunsFromOneToFour) {
    const struct {
        const char* name;
        float zoom, factor;
    } cases[] = {{"ZeroIsBase", 0, 1}, {"HalfIsTwoAndAHalf", 0.5f, 2.5f}, {"OneIsFour", 1, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TSizeF s = ZoomedSize(248, 496, c.zoom);
        EXPECT_FLOAT_EQ(s.Width, 248 * c.factor);
        EXPECT_FLOAT_EQ(s.Height, 496 * c.factor);
    }
    // Before any fit the base is 0, so a zoom change sizes the control to nothing.
    const TSizeF none = ZoomedSize(0, 0, 0.7f);
    EXPECT_FLOAT_EQ(none.Width, 0);
    EXPECT_FLOAT_EQ(none.Height, 0);
}

TEST(Zoom, WheelStepsAndClamps) {
    const struct {
        const char* name;
        float zoom;
        int delta;
        float expected;
    } cases[] = {
        {"NotchAddsPointTwelve", 0.2f, 120, 0.32f}, {"NotchBackSubtracts", 0.5f, -120, 0.38f},
        {"BelowZeroClampsToZero", 0.05f, -120, 0},  {"AboveOneClampsToOne", 0.95f, 120, 1},
        {"FineTouchpadDelta", 0, 15, 0.015f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(WheelZoom(c.zoom, c.delta), c.expected, 1e-6);
    }
}

TEST(Rotation, DialHoldsHalfOpenRange) {
    const struct {
        const char* name;
        double in, out;
    } cases[] = {
        {"ThreeQuartersReadsMinusQuarter", 270, -90},
        {"MinusHalfReadsPlusHalf", -180, 180},
        {"PlusHalfStays", 180, 180},
        {"FullTurnIsZero", 360, 0},
        {"SeveralTurnsDown", -450, -90},
        {"JustAboveMinusHalfStays", -179, -179},
        {"FractionKept", 190.5, -169.5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DOUBLE_EQ(NormalizeDialAngle(c.in), c.out);
    }
}

TEST(Rotation, QuarterTurnTable) {
    const struct {
        const char* name;
        double dial;
        int next;
    } cases[] = {
        {"ZeroToQuarter", 0, 90},
        {"QuarterToHalf", 90, 180},
        {"HalfToMinusQuarter", 180, -90},
        {"MinusQuarterToZero", -90, 0},
        {"LowerEdgeOfZeroBand", -100, 0},
        {"UpperEdgeOfZeroBand", -55, 0},
        {"LowerEdgeOfQuarterBand", -54, 90},
        {"UpperEdgeOfQuarterBand", 35, 90},
        {"LowerEdgeOfHalfBand", 36, 180},
        {"UpperEdgeOfHalfBand", 115, 180},
        {"LowerEdgeOfThreeQuarterBand", 116, -90},
        {"HandTurnedFarLeftMovesHundredClockwise", -150, -50},
        {"JustAboveMinusHalf", -179, -79},
        {"FractionTruncatesTowardZero", -54.9, 90},
        {"FractionTruncatesTowardZeroAtEdge", 35.9, 90},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(NextQuarterTurn(c.dial), c.next);
    }
}

TEST(Rotation, FourClicksFromZeroReturnToZero) {
    double dial = 0;
    const int expected[] = {90, 180, -90, 0};
    for (int want : expected) {
        dial = NextQuarterTurn(dial);
        EXPECT_EQ(dial, want);
    }
    // The hand-turned case goes on to the next quarter turn on the following click.
    EXPECT_EQ(NextQuarterTurn(NextQuarterTurn(-150)), 90);
}

TEST(Pan, ThresholdAndAnchor) {
    const struct {
        const char* name;
        float anchor, position;
        float delta, newAnchor;
    } cases[] = {
        {"SmallStepIgnoredAnchorKept", 100, 103, 0, 100},
        {"StepOfFiveIsStillSmall", 100, 95, 0, 100},
        {"StepOverFiveMovesAndReanchors", 100, 120, 20, 120},
        {"StepBackMovesNegative", 100, 90, -10, 90},
        {"NoAnchorNoMove", 0, 50, 0, 0},
        {"NegativeAnchorMeansNone", -3, 50, 0, -3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TPanStep s = PanAxis(c.anchor, c.position);
        EXPECT_FLOAT_EQ(s.Delta, c.delta);
        EXPECT_FLOAT_EQ(s.Anchor, c.newAnchor);
    }
}

TEST(AspectFit, EmptyInputsDrawNothing) {
    EXPECT_FLOAT_EQ(AspectFit(100, 100, 0, 10).Width, 0);
    EXPECT_FLOAT_EQ(AspectFit(0, 100, 10, 10).Height, 0);
    // Enlarges when the bounds are bigger in both directions.
    const TSizeF big = AspectFit(400, 400, 100, 50);
    EXPECT_FLOAT_EQ(big.Width, 400);
    EXPECT_FLOAT_EQ(big.Height, 200);
}

} // namespace

namespace {

// Scrolling a picture larger than its area: the offset of its centre from the area's stays
// within the limit, so no gap opens at an edge; a picture that fits stays centred.
TEST(Scroll, KeptWithinTheEdges) {
    const struct {
        const char* name;
        float offset, step, extent, area;
        float after;
    } cases[] = {
        {"StepDownMovesThePictureUp", 0, 50, 1000, 500, -50},
        {"StepUpMovesThePictureDown", 0, -50, 1000, 500, 50},
        {"StopsAtTheBottomEdge", -240, 50, 1000, 500, -250},
        {"StopsAtTheTopEdge", 240, -50, 1000, 500, 250},
        {"FittingPictureStaysCentred", 0, 50, 400, 500, 0},
        {"DraggedPastTheEdgeComesBack", -400, 10, 1000, 500, -250},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FLOAT_EQ(ScrollAxis(c.offset, c.step, c.extent, c.area), c.after);
    }
    EXPECT_FLOAT_EQ(PanLimit(1000, 500), 250);
    EXPECT_FLOAT_EQ(PanLimit(400, 500), 0);
}

TEST(Scroll, TurnedExtentSwapsOnAQuarterTurn) {
    const struct {
        const char* name;
        double angle;
        float width, height;
    } cases[] = {
        {"Upright", 0, 300, 200},
        {"QuarterRight", 90, 200, 300},
        {"QuarterLeft", -90, 200, 300},
        {"Half", 180, 300, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TSizeF e = TurnedExtent(300, 200, c.angle);
        EXPECT_FLOAT_EQ(e.Width, c.width);
        EXPECT_FLOAT_EQ(e.Height, c.height);
    }
    // Off the quarter turns the turned box is larger both ways.
    const TSizeF slanted = TurnedExtent(300, 200, 45);
    EXPECT_GT(slanted.Width, 300);
    EXPECT_GT(slanted.Height, 200);
}

} // namespace
