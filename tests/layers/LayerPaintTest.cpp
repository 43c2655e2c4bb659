#include "layers/LayerPaint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

namespace {

TFixedPoint P(double x, double y) {
    return {ToFixed(x), ToFixed(y)};
}

TFixedPolygon Square(double l, double t, double r, double b) {
    return {P(l, t), P(r, t), P(r, b), P(l, b)};
}

TBitmap32 White(int w, int h) {
    TBitmap32 b(w, h);
    b.Clear(clWhite32);
    return b;
}

struct TRoundCase {
    TRect Box;
    double Radius;
    std::uint8_t Corners;
    double Expected; // radius after clamping to the box
};

class RoundPanelTest : public ::testing::TestWithParam<TRoundCase> {};

// The outline starts where the top-right curve begins, passes the ends of all four
// edges, never leaves the box and is flattened into pieces no longer than 8 pixels.
TEST_P(RoundPanelTest, CornersAndFlattening) {
    const TRoundCase& c = GetParam();
    const TFixedPolygon poly = RoundPanelPolygon(c.Box, c.Radius, c.Corners);
    const auto rOf = [&](TRoundCorner corner) { return (c.Corners & corner) ? c.Expected : 0.0; };
    const double L = c.Box.Left, T = c.Box.Top, R = c.Box.Right, B = c.Box.Bottom;
    ASSERT_FALSE(poly.empty());
    EXPECT_EQ(poly.front(), P(R - rOf(rcTopRight), T));
    const std::set<std::pair<int, int>> points = [&] {
        std::set<std::pair<int, int>> s;
        for (const TFixedPoint& p : poly) s.insert({p.X, p.Y});
        return s;
    }();
    for (const TFixedPoint& corner :
         {P(R, T + rOf(rcTopRight)), P(R, B - rOf(rcBottomRight)), P(R - rOf(rcBottomRight), B),
          P(L + rOf(rcBottomLeft), B), P(L, B - rOf(rcBottomLeft)), P(L, T + rOf(rcTopLeft)),
          P(L + rOf(rcTopLeft), T)})
        EXPECT_TRUE(points.count({corner.X, corner.Y}))
            << corner.X / 65536.0 << "," << corner.Y / 65536.0;
    for (std::size_t i = 0; i < poly.size(); ++i) {
        const TFixedPoint& a = poly[i];
        EXPECT_GE(a.X, ToFixed(L));
        EXPECT_LE(a.X, ToFixed(R));
        EXPECT_GE(a.Y, ToFixed(T));
        EXPECT_LE(a.Y, ToFixed(B));
        if (i == 0) continue;
        const TFixedPoint& p = poly[i - 1];
        const bool straight = p.X == a.X || p.Y == a.Y;
        if (!straight) {
            EXPECT_LE(std::abs(a.X - p.X) + std::abs(a.Y - p.Y), 8 * kFixedOne);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, RoundPanelTest,
    ::testing::Values(TRoundCase{{0, 0, 200, 60}, 18, rcAll, 18},
                      TRoundCase{{10, 20, 310, 70}, 18, rcTopLeft | rcTopRight, 18},
                      TRoundCase{{0, 0, 100, 40}, 10, rcBottomLeft | rcBottomRight, 10},
                      TRoundCase{{0, 0, 21, 11}, 100, rcAll, 5}, // clamped to half the side
                      TRoundCase{{5, 5, 50, 50}, 10, 0, 0}));

TEST(RoundPanel, SquareCornersGiveTheBoxOnly) {
    const TFixedPolygon poly = RoundPanelPolygon({0, 0, 30, 20}, 10, 0);
    EXPECT_EQ(poly.size(), 8u); // the first point and the seven segment ends
    using TPoints = std::set<std::pair<int, int>>;
    const TPoints ends{{poly[0].X, poly[0].Y}, {poly[3].X, poly[3].Y}};
    EXPECT_EQ(ends, (TPoints{{ToFixed(30), 0}, {ToFixed(30), ToFixed(20)}}));
}

// Fill rules and pixel edges: the square (2,2)-(6,6) covers pixels 2..5.
TEST(LayerPaint, FillCoversPixelsBetweenEdges) {
    TBitmap32 b = White(8, 8);
    PolygonFS(b, Square(2, 2, 6, 6), 0xFFFF0000u);
    EXPECT_EQ(b.Pixel(2, 2), 0xFFFF0000u);
    EXPECT_EQ(b.Pixel(5, 5), 0xFFFF0000u);
    EXPECT_EQ(b.Pixel(6, 6), clWhite32);
    EXPECT_EQ(b.Pixel(1, 3), clWhite32);
}

TEST(LayerPaint, EvenOddLeavesTwiceWoundAreaEmpty) {
    TFixedPolygon twice = Square(1, 1, 7, 7);
    const TFixedPolygon again = Square(1, 1, 7, 7);
    twice.insert(twice.end(), again.begin(), again.end());
    TBitmap32 winding = White(8, 8), evenOdd = White(8, 8);
    PolygonFS(winding, twice, clBlack32, TPolyFillMode::pfWinding);
    PolygonFS(evenOdd, twice, clBlack32, TPolyFillMode::pfAlternate);
    EXPECT_EQ(winding.Pixel(4, 4), clBlack32);
    EXPECT_EQ(evenOdd.Pixel(4, 4), clWhite32);
}

TEST(LayerPaint, TransparentColourAndClipDrawNothing) {
    TBitmap32 b = White(8, 8);
    PolygonFS(b, Square(0, 0, 8, 8), 0x00FF0000u);
    EXPECT_EQ(b.Pixel(4, 4), clWhite32);
    b.SetClipRect({0, 0, 4, 8});
    PolygonFS(b, Square(0, 0, 8, 8), clBlack32);
    EXPECT_EQ(b.Pixel(3, 4), clBlack32);
    EXPECT_EQ(b.Pixel(4, 4), clWhite32);
}

TEST(LayerPaint, OutlineRunsThroughFirstAndLastPixels) {
    TBitmap32 b = White(10, 10);
    PolylineFS(b, Square(0, 0, 9, 9), clBlack32);
    for (const auto& [x, y] : {std::pair{0, 5}, {9, 5}, {5, 0}, {5, 9}})
        EXPECT_EQ(b.Pixel(x, y), clBlack32) << x << "," << y;
    EXPECT_EQ(b.Pixel(5, 5), clWhite32);
}

TEST(LayerPaint, PatternStartsAtItsOrigin) {
    TBitmap32 pattern(1, 2);
    pattern.SetPixel(0, 0, 0xFFFF0000u);
    pattern.SetPixel(0, 1, 0xFF0000FFu);
    TBitmap32 b = White(4, 4);
    PolygonPatternFS(b, Square(0, 0, 4, 4), pattern, 0, 1);
    EXPECT_EQ(b.Pixel(2, 1), 0xFFFF0000u);
    EXPECT_EQ(b.Pixel(2, 2), 0xFF0000FFu);
    EXPECT_EQ(b.Pixel(2, 3), 0xFFFF0000u);
}

TEST(LayerPaint, RoundPanelLeavesItsCornersOut) {
    TBitmap32 b = White(60, 40);
    DrawRoundPanel(b, {0, 0, 60, 40}, clBlack32, 10, rcAll, 0xFFFF0000u);
    EXPECT_EQ(b.Pixel(0, 0), clWhite32);
    EXPECT_EQ(b.Pixel(30, 20), 0xFFFF0000u);
    EXPECT_EQ(AlphaOf(b.Pixel(30, 0)), 255);
    EXPECT_LT(RedOf(b.Pixel(30, 0)), 200); // the outline darkens the top edge
}

// A panel is rasterised once and blended on later repaints: the result must match
// drawing the same shape straight on the picture, wherever it lands and however it is
// clipped, on a picture that is not flat.
struct TPanelCase {
    TRect Box, Clip;
    TColor32 Outline, Fill;
    std::uint8_t Corners;
};

class KeptPanel : public ::testing::TestWithParam<TPanelCase> {};

TEST_P(KeptPanel, MatchesDrawingStraightOn) {
    const TPanelCase& c = GetParam();
    TBitmap32 under(90, 70);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x)
            under.SetPixel(x, y, 0xFF000000u | TColor32(x * 2851 + y * 977));
    TBitmap32 kept(under), straight(under);
    for (int round = 0; round < 2; ++round) { // the second time from the kept raster
        kept = under;
        kept.SetClipRect(c.Clip);
        DrawRoundPanel(kept, c.Box, c.Outline, 12, c.Corners, c.Fill, 1.5);
    }
    straight.SetClipRect(c.Clip);
    const TFixedPolygon polygon = RoundPanelPolygon(c.Box, 12, c.Corners);
    PolygonFS(straight, polygon, c.Fill);
    OutlineFS(straight, polygon, c.Outline, 1.5);
    int worst = 0;
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x) {
            const TColor32 a = kept.Pixel(x, y), b = straight.Pixel(x, y);
            if (!c.Clip.Contains(x, y)) {
                ASSERT_EQ(a, under.Pixel(x, y)) << x << "," << y;
            }
            for (int shift = 0; shift < 32; shift += 8)
                worst =
                    std::max(worst, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
        }
    EXPECT_LE(worst, 2);
}

INSTANTIATE_TEST_SUITE_P(
    PlacesAndClips, KeptPanel,
    ::testing::Values(TPanelCase{{10, 10, 80, 60}, {0, 0, 90, 70}, 0xDC000000u, 0xBE000000u, rcAll},
                      TPanelCase{{-20, 30, 70, 90},
                                 {0, 0, 90, 70},
                                 0x64000000u,
                                 0x50000000u,
                                 std::uint8_t(rcTopLeft | rcTopRight)},
                      TPanelCase{{5, 5, 85, 65}, {30, 20, 60, 50}, 0x967F7F7Fu, 0x647F7F7Fu, rcAll},
                      TPanelCase{{0, 0, 90, 70},
                                 {0, 0, 90, 70},
                                 0x00000000u,
                                 0xFF2040F0u,
                                 std::uint8_t(rcBottomLeft | rcBottomRight)}));

TEST(LayerPaint, TextLevelZeroIsNotAntialiased) {
    const auto colours = [](int level) {
        TBitmap32 b = White(120, 30);
        RenderText(b, 2, 2, QStringLiteral("Histogram 08"), LayerFont(10), clBlack32, level);
        std::set<TColor32> seen;
        for (int y = 0; y < b.Height(); ++y)
            for (int x = 0; x < b.Width(); ++x) seen.insert(b.Pixel(x, y));
        return seen;
    };
    const std::set<TColor32> plain = colours(0);
    if (plain.size() < 2) GTEST_SKIP() << "no font draws on this platform";
    EXPECT_EQ(plain, (std::set<TColor32>{clBlack32, clWhite32}));
    EXPECT_GT(colours(2).size(), 2u);
}

TEST(LayerPaint, StoredFontRoundTrip) {
    QFont font = LayerFont(8);
    font.setBold(true);
    const TVekFont stored = ToVekFont(font, 0xFF102030u);
    EXPECT_EQ(stored.Height(), -11); // 8 points at 96 pixels per inch
    EXPECT_EQ(stored.Color, 0x302010);
    EXPECT_EQ(FontColor(stored), 0xFF102030u);
    const QFont back = ToQFont(stored);
    EXPECT_EQ(back.pixelSize(), 11);
    EXPECT_TRUE(back.bold());
    EXPECT_EQ(back.family(), font.family());
    TVekFont system;
    EXPECT_EQ(FontColor(system), SystemColor(TSystemColor::scWindowText));
}

} // namespace
