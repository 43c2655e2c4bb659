#include "layers/PanelGeometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

// ---- Hit zones -----------------------------------------------------------------

struct THitCase {
    const char* Name;
    TPanelFrame Frame;
    int Dx, Dy; // offset from the panel's top-left corner
    THitZone Expected;
};

const TPanelFrame kDefaults{};
const TPanelFrame kNoBorder{1, 25, true, false};
const TPanelFrame kNoCaption{1, 25, false, true};

class HitZoneTest : public ::testing::TestWithParam<THitCase> {};

TEST_P(HitZoneTest, ZoneAtOffset) {
    const THitCase& c = GetParam();
    // The same answers wherever the panel lies.
    for (const auto& [left, top] : {std::pair{0, 0}, std::pair{200, 150}}) {
        const TPanelLocation panel{float(left), float(top), float(left + 100), float(top + 100)};
        EXPECT_EQ(HitZone(panel, c.Frame, left + c.Dx, top + c.Dy), c.Expected)
            << "panel at " << left << "," << top;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Panel100, HitZoneTest,
    ::testing::Values(THitCase{"Row0IsTop", kDefaults, 50, 0, THitZone::hzTop},
                      THitCase{"Row1IsTop", kDefaults, 50, 1, THitZone::hzTop},
                      THitCase{"Row2IsCaption", kDefaults, 50, 2, THitZone::hzCaption},
                      THitCase{"Row27IsCaption", kDefaults, 50, 27, THitZone::hzCaption},
                      THitCase{"Row28IsClient", kDefaults, 50, 28, THitZone::hzClient},
                      THitCase{"Column97IsClient", kDefaults, 97, 50, THitZone::hzClient},
                      THitCase{"Column98IsRight", kDefaults, 98, 50, THitZone::hzRight},
                      THitCase{"Column99IsRight", kDefaults, 99, 50, THitZone::hzRight},
                      THitCase{"Column0IsLeft", kDefaults, 0, 50, THitZone::hzLeft},
                      THitCase{"Row99IsBottom", kDefaults, 50, 99, THitZone::hzBottom},
                      THitCase{"BottomRightWins", kDefaults, 99, 99, THitZone::hzBottomRight},
                      THitCase{"NearBottomAndRight", kDefaults, 98, 97, THitZone::hzBottomRight},
                      THitCase{"BottomLeft", kDefaults, 0, 99, THitZone::hzBottomLeft},
                      THitCase{"TopRight", kDefaults, 99, 0, THitZone::hzTopRight},
                      THitCase{"TopLeft", kDefaults, 0, 0, THitZone::hzTopLeft},
                      THitCase{"RightOfPanel", kDefaults, 100, 50, THitZone::hzNone},
                      THitCase{"AbovePanel", kDefaults, 50, -1, THitZone::hzNone},
                      THitCase{"NoBorderRow0IsCaption", kNoBorder, 50, 0, THitZone::hzCaption},
                      THitCase{"NoBorderRow26IsClient", kNoBorder, 50, 26, THitZone::hzClient},
                      THitCase{"NoBorderCornerIsClient", kNoBorder, 99, 99, THitZone::hzClient},
                      THitCase{"NoCaptionRow2IsClient", kNoCaption, 50, 2, THitZone::hzClient}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- Drag steps ----------------------------------------------------------------

struct TDragCase {
    const char* Name;
    TPanelLocation Start;
    THitZone Zone;
    TDragRules Rules;
    int FromX, FromY, X, Y;
    std::optional<TPanelLocation> Expected;
};

const TPanelLocation kAt10{10, 10, 110, 110};
const TDragRules kRules{};
const TDragRules kFixed{false, false, 10, 10};

class DragStepTest : public ::testing::TestWithParam<TDragCase> {};

TEST_P(DragStepTest, NewLocation) {
    const TDragCase& c = GetParam();
    const auto result = DragStep(c.Start, c.Zone, c.Rules, c.FromX, c.FromY, c.X, c.Y);
    ASSERT_EQ(result.has_value(), c.Expected.has_value());
    if (result) {
        EXPECT_FLOAT_EQ(result->Left, c.Expected->Left);
        EXPECT_FLOAT_EQ(result->Top, c.Expected->Top);
        EXPECT_FLOAT_EQ(result->Right, c.Expected->Right);
        EXPECT_FLOAT_EQ(result->Bottom, c.Expected->Bottom);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Panel100, DragStepTest,
    ::testing::Values(TDragCase{"CaptionMoves", kAt10, THitZone::hzCaption, kRules, 50, 20, 70, 50,
                                TPanelLocation{30, 40, 130, 140}},
                      TDragCase{"CaptionStopsAtTopLeft", kAt10, THitZone::hzCaption, kRules, 50, 15,
                                20, -30, TPanelLocation{0, 0, 100, 100}},
                      TDragCase{"CaptionMayLeaveRightBottom", kAt10, THitZone::hzCaption, kRules,
                                50, 15, 1050, 1015, TPanelLocation{1010, 1010, 1110, 1110}},
                      TDragCase{"RightEdgeLeftOfLeft", kAt10, THitZone::hzRight, kRules, 109, 50, 0,
                                50, TPanelLocation{10, 10, 20, 110}},
                      TDragCase{"LeftEdgeTooFarSnapsBack", kAt10, THitZone::hzLeft, kRules, 10, 50,
                                105, 50, TPanelLocation{10, 10, 20, 110}},
                      TDragCase{"LeftEdgeToExactlyMin", kAt10, THitZone::hzLeft, kRules, 10, 50,
                                100, 50, TPanelLocation{100, 10, 110, 110}},
                      TDragCase{"TopEdgeTooFarSnapsBack", kAt10, THitZone::hzTop, kRules, 50, 10,
                                50, 105, TPanelLocation{10, 10, 110, 20}},
                      TDragCase{"TopLeftStopsAtZero", kAt10, THitZone::hzTopLeft, kRules, 10, 10,
                                -5, -7, TPanelLocation{0, 0, 110, 110}},
                      TDragCase{"BottomRightFollows", kAt10, THitZone::hzBottomRight, kRules, 109,
                                109, 150, 160, TPanelLocation{10, 10, 150, 160}},
                      TDragCase{"BottomLeftFollows", kAt10, THitZone::hzBottomLeft, kRules, 10, 109,
                                5, 130, TPanelLocation{5, 10, 110, 130}},
                      TDragCase{"TopRightFollows", kAt10, THitZone::hzTopRight, kRules, 109, 10,
                                200, 3, TPanelLocation{10, 3, 200, 110}},
                      TDragCase{"ClientDragsNothing", kAt10, THitZone::hzClient, kRules, 50, 50, 60,
                                60, std::nullopt},
                      TDragCase{"FixedCaptionDragsNothing", kAt10, THitZone::hzCaption, kFixed, 50,
                                20, 60, 30, std::nullopt},
                      TDragCase{"FixedEdgeDragsNothing", kAt10, THitZone::hzRight, kFixed, 109, 50,
                                150, 50, std::nullopt}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- Rectangles ----------------------------------------------------------------

TEST(PanelRectTest, OutsideAndNearest) {
    const TPanelLocation r{0.4f, 1.6f, 10.4f, 20.6f};
    EXPECT_EQ(OutsideRect(r), TRect(0, 1, 11, 21));
    EXPECT_EQ(NearestRect(r), TRect(0, 2, 10, 21));
}

TEST(PanelRectTest, ClientRectLeavesBorderAndCaption) {
    const TPanelLocation r{0, 0, 100, 100};
    EXPECT_EQ(ClientRect(r, kDefaults), TRect(1, 27, 99, 99));
    EXPECT_EQ(ClientRect(r, kNoCaption), TRect(1, 1, 99, 99));
    EXPECT_EQ(ClientRect(r, TPanelFrame{1, 25, false, false}), TRect(0, 0, 100, 100));
}

// ---- Outlines ------------------------------------------------------------------

TEST(RoundCornersTest, BodyOutlineHasTwelveCornerPoints) {
    const TFixedPolygon body = BodyOutline({0, 0, 100, 100});
    ASSERT_EQ(body.size(), 12u);
    EXPECT_EQ(body[0], (TFixedPoint{0, 13 * 65536}));
    EXPECT_EQ(body[1], (TFixedPoint{0, 0}));
    EXPECT_EQ(body[4], (TFixedPoint{99 * 65536, 0}));
    EXPECT_EQ(body[7], (TFixedPoint{99 * 65536, 99 * 65536}));
    EXPECT_EQ(body[11], (TFixedPoint{0, 86 * 65536}));
}

TEST(RoundCornersTest, TopLeftCornerOfRoundedBody) {
    const TFixedPolygon rounded = RoundCorners(BodyOutline({0, 0, 100, 100}), 65536);
    const auto has = [&](TFixedPoint p) {
        return std::find(rounded.begin(), rounded.end(), p) != rounded.end();
    };
    // The corner curve ends a third of the 13-pixel leg from the corner:
    // 13 * 65536 / 3 = 283989 (truncated), and passes 70997 inside the corner.
    EXPECT_TRUE(has({283989, 0}));
    EXPECT_TRUE(has({70997, 70997}));
    EXPECT_FALSE(has({0, 0})) << "the corner itself is cut off";
    // The bottom-right corner mirrors it around 99 pixels.
    EXPECT_TRUE(has({99 * 65536 - 283989, 99 * 65536}));
    EXPECT_FALSE(has({99 * 65536, 99 * 65536}));
}

TEST(RoundCornersTest, CaptionOutlineUsesShortBottomLegs) {
    const TFixedPolygon caption = CaptionOutline({0, 0, 100, 100}, kDefaults);
    ASSERT_EQ(caption.size(), 12u);
    EXPECT_EQ(caption[1], (TFixedPoint{2 * 65536, 2 * 65536}));
    // Bottom of the strip: 2 + 25 + 1 - 1 = 27; legs of 5 pixels there.
    EXPECT_EQ(caption[7], (TFixedPoint{97 * 65536, 27 * 65536}));
    EXPECT_EQ(caption[8], (TFixedPoint{92 * 65536, 27 * 65536}));
    EXPECT_EQ(caption[6], (TFixedPoint{97 * 65536, 22 * 65536}));
}

struct TFlattenCase {
    const char* Name;
    std::int32_t Tolerance;
};

class FlattenTest : public ::testing::TestWithParam<TFlattenCase> {};

TEST_P(FlattenTest, PiecesStayWithinTolerance) {
    const std::int32_t t = GetParam().Tolerance;
    const TFixedPoint p0{0, 20 * 65536}, p1{0, 0}, p2{20 * 65536, 0};
    TFixedPolygon out;
    FlattenQuadratic(p0, p1, p2, t, out);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), p2);
    EXPECT_NE(out.front(), p0) << "the start point belongs to the previous piece";
    // Each accepted piece P0-M01-M is at most t long (Manhattan), so every step is.
    TFixedPoint prev = p0;
    for (const TFixedPoint& p : out) {
        EXPECT_LE(std::abs(p.X - prev.X) + std::abs(p.Y - prev.Y), t);
        prev = p;
    }
}

INSTANTIATE_TEST_SUITE_P(Tolerances, FlattenTest,
                         ::testing::Values(TFlattenCase{"OnePixel", 65536},
                                           TFlattenCase{"QuarterPixel", 16384},
                                           TFlattenCase{"FourPixels", 4 * 65536}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(FlattenTest, FinerToleranceGivesMorePoints) {
    TFixedPolygon coarse, fine;
    FlattenQuadratic({0, 20 * 65536}, {0, 0}, {20 * 65536, 0}, 65536, coarse);
    FlattenQuadratic({0, 20 * 65536}, {0, 0}, {20 * 65536, 0}, 16384, fine);
    EXPECT_GT(fine.size(), coarse.size());
}

TEST(FlattenTest, DegenerateCurveIsItsEndPoints) {
    TFixedPolygon out;
    FlattenQuadratic({0, 0}, {0, 0}, {5 * 65536, 0}, 65536, out);
    EXPECT_EQ(out, (TFixedPolygon{{0, 0}, {5 * 65536, 0}}));
}

// ---- Caption gradient ----------------------------------------------------------

struct TGradientCase {
    const char* Name;
    TPanelFrame Frame;
    int Alpha;
    std::size_t Rows;
    int TopAlpha;
};

class GradientTest : public ::testing::TestWithParam<TGradientCase> {};

TEST_P(GradientTest, DarkestOnTopTransparentAtBottom) {
    const TGradientCase& c = GetParam();
    const auto alphas = CaptionGradientAlphas(c.Frame, c.Alpha);
    ASSERT_EQ(alphas.size(), c.Rows);
    if (c.Rows == 0) return;
    EXPECT_EQ(alphas.front(), c.TopAlpha);
    EXPECT_EQ(alphas.back(), 0);
    EXPECT_TRUE(std::is_sorted(alphas.rbegin(), alphas.rend()));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, GradientTest,
    ::testing::Values(TGradientCase{"Defaults", kDefaults, 180, 25, 173},
                      TGradientCase{"TenRows", TPanelFrame{2, 9, true, true}, 180, 10, 162},
                      TGradientCase{"NoRows", TPanelFrame{0, 1, true, true}, 180, 0, 0}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
