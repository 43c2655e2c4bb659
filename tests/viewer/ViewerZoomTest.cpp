#include "gfx/ViewerZoom.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct FitCase {
    const char* name;
    int pictureWidth, pictureHeight, angle;
    double fit;
};

class FitScaleTest : public ::testing::TestWithParam<FitCase> {};

// In a 802 x 602 view: 800 x 600 pixels to fill.
TEST_P(FitScaleTest, FitsTheTurnedPictureWithoutEnlarging) {
    const FitCase& c = GetParam();
    EXPECT_DOUBLE_EQ(TViewerZoom::FitScale(c.pictureWidth, c.pictureHeight, 802, 602, c.angle),
                     c.fit);
}

INSTANTIATE_TEST_SUITE_P(Zoom, FitScaleTest,
                         ::testing::Values(FitCase{"SmallIsNotEnlarged", 400, 300, 0, 1},
                                           FitCase{"Large", 4000, 3000, 0, 0.2},
                                           FitCase{"LargeTurned", 4000, 3000, 90, 0.15},
                                           FitCase{"TurnedBackward", 4000, 3000, -270, 0.15},
                                           FitCase{"HalfTurn", 4000, 3000, 180, 0.2},
                                           FitCase{"Tall", 300, 6000, 0, 0.1}),
                         [](const auto& info) { return std::string(info.param.name); });

struct WheelCase {
    const char* name;
    bool fitMode;
    double scale; // ZoomScale before the turn (ignored in fit mode)
    int delta;
    double expected;
};

class WheelTest : public ::testing::TestWithParam<WheelCase> {};

TEST_P(WheelTest, StepsAroundTheFitScale) {
    const WheelCase& c = GetParam();
    TViewerZoom zoom;
    zoom.FitMode = c.fitMode;
    zoom.ZoomScale = c.scale;
    EXPECT_EQ(zoom.Wheel(c.delta, 0.2), c.fitMode);
    EXPECT_FALSE(zoom.FitMode);
    EXPECT_NEAR(zoom.ZoomScale, c.expected, 1e-6);
    EXPECT_EQ(zoom.ViewScale, float(zoom.ZoomScale));
}

INSTANTIATE_TEST_SUITE_P(
    Zoom, WheelTest,
    ::testing::Values(WheelCase{"OutOfFitHalvesTheStep", true, 0, -120, 0.16},
                      WheelCase{"InAboveFitKeepsTheStep", false, 0.195, 120, 0.275},
                      WheelCase{"InJustPastTheToleranceIsKept", false, 0.13, 120, 0.21},
                      WheelCase{"FarBelowFitQuartersTheStep", false, 0.09, -120, 0.07},
                      WheelCase{"FarFarBelowFitEighthsTheStep", false, 0.04, -120, 0.03},
                      WheelCase{"TwoNotchesAtOnce", false, 0.5, 240, 0.66},
                      WheelCase{"NeverBelowOnePercent", false, 0.011, -120, 0.01}),
    [](const auto& info) { return std::string(info.param.name); });

// Within the tolerance of the fit scale the wheel lands on it exactly.
TEST(ViewerZoom, WheelSnapsExactlyToTheFitScale) {
    TViewerZoom zoom;
    zoom.FitMode = false;
    zoom.ZoomScale = 0.125;
    zoom.Wheel(120, 0.2);
    EXPECT_EQ(zoom.ZoomScale, 0.2);
}

struct ZoomCase {
    const char* name;
    double start;
    bool in;
    double expected;
};

class ZoomStepTest : public ::testing::TestWithParam<ZoomCase> {};

TEST_P(ZoomStepTest, OnePointWithinTheLimits) {
    TViewerZoom zoom;
    zoom.FitMode = false;
    zoom.ZoomScale = GetParam().start;
    if (GetParam().in)
        zoom.ZoomIn(0.5);
    else
        zoom.ZoomOut(0.5);
    EXPECT_NEAR(zoom.ZoomScale, GetParam().expected, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Zoom, ZoomStepTest,
                         ::testing::Values(ZoomCase{"OutAtTheSmallest", 0.01, false, 0.01},
                                           ZoomCase{"InAtTheLargest", 10, true, 10},
                                           ZoomCase{"In", 0.5, true, 0.51},
                                           ZoomCase{"Out", 0.5, false, 0.49}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ViewerZoom, ZoomFromFitStartsAtTheFitScaleAndAsksToRecentre) {
    TViewerZoom zoom;
    zoom.ZoomScale = 3; // a value from an earlier picture
    EXPECT_TRUE(zoom.ZoomIn(0.2));
    EXPECT_NEAR(zoom.ZoomScale, 0.21, 1e-12);
    EXPECT_FALSE(zoom.ZoomIn(0.2)); // no longer fitted: nothing to re-centre
    zoom.SetZoom(50);
    EXPECT_EQ(zoom.ZoomScale, 10.0);
    zoom.SetZoom(1);
    EXPECT_EQ(zoom.ZoomScale, 1.0);
    EXPECT_EQ(zoom.ViewScale, 1.0f);
}

TEST(ViewerZoom, TurnsAreKeptUnreducedAndDrawnOnlyWhenTheyShow) {
    TViewerZoom zoom;
    zoom.FitMode = false;
    for (int i = 0; i < 4; ++i) zoom.RotateLeft();
    EXPECT_EQ(zoom.RotationAngle, 360);
    EXPECT_FALSE(zoom.Transformed()); // a full turn draws unturned
    zoom.RotateLeft();
    zoom.RotateLeft();
    EXPECT_EQ(zoom.RotationAngle, 540);
    EXPECT_TRUE(zoom.Transformed());
    zoom.RotateRight();
    EXPECT_EQ(zoom.RotationAngle, 450);
}

// Where the picture's corners land: centred in the view, turned about its centre.
TEST(ViewerZoom, FittedPictureIsCentredInTheView) {
    const TFloatRect upright =
        TViewerZoom::FittedTransform(400, 300, 802, 602, 0, 1).TransformRect({0, 0, 400, 300});
    EXPECT_EQ(upright.Left, 201);
    EXPECT_EQ(upright.Top, 151);
    EXPECT_EQ(upright.Right, 601);
    EXPECT_EQ(upright.Bottom, 451);

    const double fit = TViewerZoom::FitScale(4000, 3000, 802, 602, 90);
    const TFloatRect turned = TViewerZoom::FittedTransform(4000, 3000, 802, 602, 90, fit)
                                  .TransformRect({0, 0, 4000, 3000});
    EXPECT_NEAR(turned.Left, 176, 1e-9);
    EXPECT_NEAR(turned.Right, 626, 1e-9);
    EXPECT_NEAR(turned.Top, 1, 1e-9);
    EXPECT_NEAR(turned.Bottom, 601, 1e-9);
}

TEST(ViewerZoom, TurnedPictureScrollsWithTheViewsOffsets) {
    const TAffineTransformation t = TViewerZoom::TurnedTransform(200, 100, 180, 2, -10.5, 7.5);
    double x = 0, y = 0;
    t.Transform(0, 0, x, y); // the top-left corner ends bottom-right, then moves
    EXPECT_DOUBLE_EQ(x, 400 - 10);
    EXPECT_DOUBLE_EQ(y, 200 + 8);
}

TEST(ViewerZoom, ScrollMarginLeavesRoomForAQuarterTurn) {
    EXPECT_EQ(TViewerZoom::ScrollMargin(4000, 3000), 520);
    EXPECT_EQ(TViewerZoom::ScrollMargin(3001, 4000), 519);
    EXPECT_EQ(TViewerZoom::ScrollMargin(64, 64), 20);
}

} // namespace
