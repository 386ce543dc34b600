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
    float baseW, baseH;   // bounds of the image control at zoom 0
    float drawnW, drawnH; // what the control draws inside those bounds
};

// A 600-wide window whose image area is 496 high, as designed.
const FitCase kFitCases[] = {
    {"UprightShrinksToAreaHeight", 1000, 2000, false, 1000, 496, 248, 496},
    {"UprightFitToWidthSpansWindow", 1000, 2000, true, 600, 2000, 600, 1200},
    {"WideIgnoresSwitchOff", 2000, 1000, false, 600, 1000, 600, 300},
    {"WideIgnoresSwitchOn", 2000, 1000, true, 600, 1000, 600, 300},
    {"SmallIsNeverEnlarged", 300, 200, false, 600, 200, 300, 200},
    {"SquareCountsAsWide", 800, 800, false, 600, 800, 600, 600},
    {"SmallUprightKeepsItsPixels", 200, 300, false, 200, 496, 200, 300},
    {"A4At300DpiUpright", 2480, 3508, false, 2480, 496, 350.6499f, 496},
};

void PrintTo(const FitCase& c, std::ostream* os) {
    *os << c.name;
}

class FitImageTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitImageTest, BoundsAndDrawnSize) {
    const FitCase& c = GetParam();
    TFitResult fit;
    ASSERT_TRUE(FitImage(c.bitmapW, c.bitmapH, 496, 600, c.fitToWidth, fit));
    EXPECT_FLOAT_EQ(fit.BaseWidth, c.baseW);
    EXPECT_FLOAT_EQ(fit.BaseHeight, c.baseH);
    const TSizeF drawn = AspectFit(fit.BaseWidth, fit.BaseHeight, c.bitmapW, c.bitmapH);
    EXPECT_NEAR(drawn.Width, c.drawnW, 0.01);
    EXPECT_NEAR(drawn.Height, c.drawnH, 0.01);
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
