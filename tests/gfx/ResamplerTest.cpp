#include "gfx/Resampler.h"
#include "gfx/Bitmap32.h"
#include "gfx/BlendOps.h"
#include "gfx/Transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

namespace {

const char* KindName(TResamplerKind k) {
    switch (k) {
    case TResamplerKind::Nearest:
        return "Nearest";
    case TResamplerKind::Draft:
        return "Draft";
    case TResamplerKind::Linear:
        return "Linear";
    case TResamplerKind::Mitchell:
        return "Mitchell";
    case TResamplerKind::Cubic:
        return "Cubic";
    case TResamplerKind::Lanczos:
        return "Lanczos";
    }
    return "?";
}

const TResamplerKind kAllKinds[] = {TResamplerKind::Nearest, TResamplerKind::Draft,
                                    TResamplerKind::Linear,  TResamplerKind::Mitchell,
                                    TResamplerKind::Cubic,   TResamplerKind::Lanczos};

TBitmap32 Noise(int w, int h, unsigned seed, bool translucent = false) {
    std::mt19937 rng(seed);
    TBitmap32 b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            TColor32 c = rng() | 0xFF000000u;
            if (translucent) c = WithAlpha(c, int(rng() & 0xFF));
            b.SetPixel(x, y, c);
        }
    return b;
}

struct KindCase {
    int Stored;
    TResamplerKind Expected;
};

class MakeResamplerTable : public ::testing::TestWithParam<KindCase> {};

TEST_P(MakeResamplerTable, MapsStoredKind) {
    TBitmap32 b;
    b.Resampler = TResamplerKind::Lanczos;
    MakeResampler(GetParam().Stored, b);
    EXPECT_EQ(b.Resampler, GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, MakeResamplerTable,
    ::testing::Values(KindCase{0, TResamplerKind::Nearest}, KindCase{1, TResamplerKind::Draft},
                      KindCase{2, TResamplerKind::Linear}, KindCase{3, TResamplerKind::Mitchell},
                      KindCase{4, TResamplerKind::Cubic}, KindCase{5, TResamplerKind::Nearest},
                      KindCase{-1, TResamplerKind::Nearest},
                      KindCase{255, TResamplerKind::Nearest}));

TEST(Nearest, IsExactAtIntegerScales) {
    const TBitmap32 src = Noise(7, 5, 1);
    for (int k : {1, 2, 3}) {
        TBitmap32 s = src;
        s.Resampler = TResamplerKind::Nearest;
        TBitmap32 dst(7 * k, 5 * k);
        dst.StretchDraw(TFloatRect{0, 0, 7.0 * k, 5.0 * k}, s);
        for (int y = 0; y < dst.Height(); ++y)
            for (int x = 0; x < dst.Width(); ++x)
                ASSERT_EQ(dst.Pixel(x, y), src.Pixel(x / k, y / k)) << "k " << k << " " << x;
    }
    // Halving picks one pixel of each 2 x 2 block.
    TBitmap32 s = src;
    TBitmap32 half(3, 2);
    half.StretchDraw(TFloatRect{0, 0, 3, 2}, TRect{0, 0, 6, 4}, s);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(half.Pixel(x, y), src.Pixel(2 * x + 1, 2 * y + 1));
}

// A flat colour must stay exactly flat whatever the filter, scale and placement.
class FlatColour : public ::testing::TestWithParam<TResamplerKind> {};

TEST_P(FlatColour, StaysFlat) {
    for (TColor32 colour : {0xFF3C8AF0u, 0x80FF4000u}) {
        TBitmap32 src(37, 23);
        src.Clear(colour);
        src.Resampler = GetParam();
        const TFloatRect targets[] = {{0, 0, 9, 6},
                                      {0.3, 0.7, 90.4, 55.2},
                                      {0, 0, 37, 23},
                                      {1.5, 2.5, 12.25, 70},
                                      {-10.5, -3, 200, 11.9}};
        for (const TFloatRect& r : targets) {
            TBitmap32 dst(60, 40);
            dst.Clear(0xFF000000);
            dst.StretchDraw(r, src);
            const TRect inner =
                Intersect(TRect{int(std::ceil(r.Left)) + 1, int(std::ceil(r.Top)) + 1,
                                int(std::floor(r.Right)) - 1, int(std::floor(r.Bottom)) - 1},
                          dst.BoundsRect());
            for (int y = inner.Top; y < inner.Bottom; ++y)
                for (int x = inner.Left; x < inner.Right; ++x)
                    ASSERT_EQ(dst.Pixel(x, y), colour) << KindName(GetParam()) << " at " << x << ","
                                                       << y << " target " << r.Left << "," << r.Top;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FlatColour, ::testing::ValuesIn(kAllKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

// A one-pixel checkerboard shrunk by 4: filters average it to even grey, the
// nearest neighbour keeps picking one colour.
class Checkerboard : public ::testing::TestWithParam<TResamplerKind> {};

TEST_P(Checkerboard, ShrinksToEvenGrey) {
    TBitmap32 src(64, 64);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) src.SetPixel(x, y, (x + y) % 2 ? 0xFFFFFFFF : 0xFF000000);
    src.Resampler = GetParam();
    TBitmap32 dst(16, 16);
    dst.StretchDraw(TFloatRect{0, 0, 16, 16}, src);
    int worst = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const TColor32 c = dst.Pixel(x, y);
            ASSERT_EQ(RedOf(c), BlueOf(c));
            worst = std::max(worst, std::abs(RedOf(c) - 128));
        }
    if (GetParam() == TResamplerKind::Nearest)
        EXPECT_GT(worst, 120) << "nearest should alias to black or white";
    else
        EXPECT_LE(worst, 3) << KindName(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Kinds, Checkerboard, ::testing::ValuesIn(kAllKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

// Reference quarter turn, counter-clockwise on screen for positive angles.
TBitmap32 TurnedBy(const TBitmap32& src, int degrees) {
    const int q = ((degrees / 90) % 4 + 4) % 4;
    const int w = src.Width(), h = src.Height();
    TBitmap32 out(q % 2 ? h : w, q % 2 ? w : h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int nx = x, ny = y;
            if (q == 1) nx = y, ny = w - 1 - x;
            if (q == 2) nx = w - 1 - x, ny = h - 1 - y;
            if (q == 3) nx = h - 1 - y, ny = x;
            out.SetPixel(nx, ny, src.Pixel(x, y));
        }
    return out;
}

struct TurnCase {
    TResamplerKind Kind;
    int Degrees;
    bool Blended = false; // drawn blended at master alpha 200 (through the compose path)
};

class QuarterTurn : public ::testing::TestWithParam<TurnCase> {};

// At scale 1 the interpolating filters hit pixel centres, so a turn is exact.
TEST_P(QuarterTurn, IsExact) {
    const TurnCase c = GetParam();
    TBitmap32 src = Noise(9, 5, 42);
    src.Resampler = c.Kind;
    if (c.Blended) {
        src.DrawMode = TDrawMode::dmBlend;
        src.MasterAlpha = 200;
    }
    const TBitmap32 expected = TurnedBy(src, c.Degrees);
    TAffineTransformation t;
    t.Rotate(src.Width() / 2, src.Height() / 2, c.Degrees);
    const TFloatRect bounds = t.TransformRect(ToFloatRect(src.BoundsRect()));
    t.Translate(-bounds.Left, -bounds.Top);
    TBitmap32 dst(expected.Width(), expected.Height());
    dst.Clear(0xFF000000);
    dst.DrawTransformed(t, src);
    for (int y = 0; y < dst.Height(); ++y)
        for (int x = 0; x < dst.Width(); ++x) {
            const TColor32 want =
                c.Blended ? BlendDraw(expected.Pixel(x, y), 0xFF000000, 200) : expected.Pixel(x, y);
            ASSERT_EQ(dst.Pixel(x, y), want) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Turns, QuarterTurn,
    ::testing::Values(TurnCase{TResamplerKind::Nearest, 90}, TurnCase{TResamplerKind::Nearest, 180},
                      TurnCase{TResamplerKind::Nearest, 270},
                      TurnCase{TResamplerKind::Nearest, -90},
                      TurnCase{TResamplerKind::Nearest, 450}, TurnCase{TResamplerKind::Linear, 90},
                      TurnCase{TResamplerKind::Linear, 180}, TurnCase{TResamplerKind::Cubic, 270},
                      TurnCase{TResamplerKind::Lanczos, 90}, TurnCase{TResamplerKind::Linear, 0},
                      TurnCase{TResamplerKind::Linear, 90, true},
                      TurnCase{TResamplerKind::Nearest, 270, true},
                      TurnCase{TResamplerKind::Linear, 180, true}),
    [](const auto& info) {
        return std::string(KindName(info.param.Kind)) + "_" +
               std::to_string((info.param.Degrees + 720) % 720) +
               (info.param.Blended ? "_Blended" : "");
    });

TEST(QuarterTurn, PositiveAngleTurnsCounterClockwise) {
    // A 2 x 1 picture: left red, right green. Turned left it stands upright with
    // green on top.
    TBitmap32 src(2, 1);
    src.SetPixel(0, 0, 0xFFFF0000);
    src.SetPixel(1, 0, 0xFF00FF00);
    TAffineTransformation t;
    t.Rotate(1, 0.5, 90);
    const TFloatRect r = t.TransformRect(ToFloatRect(src.BoundsRect()));
    t.Translate(-r.Left, -r.Top);
    TBitmap32 dst(1, 2);
    dst.DrawTransformed(t, src);
    EXPECT_EQ(dst.Pixel(0, 0), 0xFF00FF00u);
    EXPECT_EQ(dst.Pixel(0, 1), 0xFFFF0000u);
}

TEST(QuarterTurn, ScaledTurnEqualsTurnedScale) {
    // Fit-drawing a turned picture gives the same pixels as turning the fitted one.
    TBitmap32 src = Noise(120, 80, 7);
    src.Resampler = TResamplerKind::Linear;
    TBitmap32 fitted(30, 20);
    fitted.StretchDraw(TFloatRect{0, 0, 30, 20}, src);
    const TBitmap32 expected = TurnedBy(fitted, 90);
    TAffineTransformation t;
    t.Rotate(60, 40, 90);
    t.Scale(0.25);
    const TFloatRect r = t.TransformRect(ToFloatRect(src.BoundsRect()));
    t.Translate(-r.Left, -r.Top);
    TBitmap32 dst(20, 30);
    dst.DrawTransformed(t, src);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(dst.Pixel(x, y), expected.Pixel(x, y));
}

TEST(Mirroring, NegativeScaleFlips) {
    TBitmap32 src = Noise(6, 4, 3);
    src.Resampler = TResamplerKind::Linear;
    TAffineTransformation t;
    t.Scale(-1, 1);
    t.Translate(6, 0);
    TBitmap32 dst(6, 4);
    dst.DrawTransformed(t, src);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) ASSERT_EQ(dst.Pixel(x, y), src.Pixel(5 - x, y));
}

// Drawing only a visible window (a clip) must give exactly the pixels of the full
// drawing there: the viewer repaints parts of a zoomed picture. The full drawing
// is large enough to be split over threads; the windows are not.
class PartialEqualsWhole : public ::testing::TestWithParam<TResamplerKind> {};

TEST_P(PartialEqualsWhole, ForUpAndDownScaling) {
    for (bool translucent : {false, true}) {
        TBitmap32 src = Noise(300, 200, 11, translucent);
        src.Resampler = GetParam();
        for (double scale : {2.5, 0.37}) {
            const TFloatRect target{-13.25, 7.5, -13.25 + 300 * scale, 7.5 + 200 * scale};
            TBitmap32 whole(700, 480);
            whole.StretchDraw(target, src);
            const TRect windows[] = {{0, 0, 64, 48}, {100, 50, 131, 90}, {5, 300, 700, 480}};
            for (const TRect& w : windows) {
                TBitmap32 part(700, 480);
                part.SetClipRect(w);
                part.StretchDraw(target, src);
                for (int y = 0; y < 480; ++y)
                    for (int x = 0; x < 700; ++x) {
                        const TColor32 expected = w.Contains(x, y) ? whole.Pixel(x, y) : 0u;
                        ASSERT_EQ(part.Pixel(x, y), expected) << KindName(GetParam()) << " scale "
                                                              << scale << " at " << x << "," << y;
                    }
            }
        }
    }
}

// Draft scales the whole picture when most of it is visible; the window test
// above would compare two different strategies for it.
INSTANTIATE_TEST_SUITE_P(Kinds, PartialEqualsWhole,
                         ::testing::Values(TResamplerKind::Nearest, TResamplerKind::Linear,
                                           TResamplerKind::Mitchell, TResamplerKind::Cubic,
                                           TResamplerKind::Lanczos),
                         [](const auto& info) { return std::string(KindName(info.param)); });

// Colour under fully transparent pixels must not bleed into the visible ones.
class TransparentColourDoesNotLeak : public ::testing::TestWithParam<TResamplerKind> {};

TEST_P(TransparentColourDoesNotLeak, WhenShrinking) {
    TBitmap32 src(40, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) src.SetPixel(x, y, (x / 2) % 2 ? 0x00FF0000 : 0xFF0000FF);
    src.Resampler = GetParam();
    TBitmap32 dst(10, 10);
    dst.StretchDraw(TFloatRect{0, 0, 10, 10}, src);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            const TColor32 c = dst.Pixel(x, y);
            if (AlphaOf(c) == 0) continue;
            EXPECT_LE(RedOf(c), 2) << KindName(GetParam()) << " " << std::hex << c;
            if (GetParam() != TResamplerKind::Nearest) {
                EXPECT_LT(AlphaOf(c), 255);
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Kinds, TransparentColourDoesNotLeak, ::testing::ValuesIn(kAllKinds),
                         [](const auto& info) { return std::string(KindName(info.param)); });

TEST(Stretch, BlendModeAppliesMasterAlphaAndClip) {
    TBitmap32 src(4, 4);
    src.Clear(0xFFFFFFFF);
    src.DrawMode = TDrawMode::dmBlend;
    src.MasterAlpha = 128;
    src.Resampler = TResamplerKind::Linear;
    TBitmap32 dst(12, 12);
    dst.Clear(0xFF000000);
    dst.SetClipRect({0, 0, 6, 12});
    dst.StretchDraw(TFloatRect{0, 0, 12, 12}, src);
    EXPECT_EQ(dst.Pixel(3, 3), 0xFF808080u);
    EXPECT_EQ(dst.Pixel(8, 3), 0xFF000000u);
}

TEST(Stretch, DrawWithDifferentRectsStretches) {
    TBitmap32 src(2, 2);
    src.Clear(0xFF00FF00);
    TBitmap32 dst(10, 10);
    dst.Draw(TRect{2, 2, 8, 8}, src.BoundsRect(), src);
    EXPECT_EQ(dst.Pixel(2, 2), 0xFF00FF00u);
    EXPECT_EQ(dst.Pixel(7, 7), 0xFF00FF00u);
    EXPECT_EQ(dst.Pixel(8, 8), 0u);
    EXPECT_EQ(dst.Pixel(1, 1), 0u);
}

TEST(Stretch, DegenerateTargetsDrawNothingAndHugeOnesStayInBounds) {
    TBitmap32 src = Noise(16, 16, 5);
    for (TResamplerKind kind : kAllKinds) {
        src.Resampler = kind;
        const TFloatRect nothing[] = {{0, 0, 1e-9, 1e-9}, {31.9, 31.9, 32.1, 32.1},
                                      {NAN, 0, 10, 10},   {0, 0, INFINITY, 10},
                                      {5, 5, 4, 4},       {0, NAN, 10, 10}};
        for (const TFloatRect& r : nothing) {
            TBitmap32 dst(32, 32);
            dst.Clear(0xFF123456);
            dst.StretchDraw(r, src);
            for (int y = 0; y < 32; ++y)
                for (int x = 0; x < 32; ++x)
                    ASSERT_EQ(dst.Pixel(x, y), 0xFF123456u) << KindName(kind) << " " << r.Left;
        }
        // A target far larger than the destination: every visible pixel is drawn
        // from the source, nothing is written outside.
        TBitmap32 dst(32, 32);
        dst.StretchDraw(TFloatRect{-1e12, -1e12, 1e12, 1e12}, src);
        dst.StretchDraw(TFloatRect{0, 0, 1e9, 3}, src);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) ASSERT_EQ(AlphaOf(dst.Pixel(x, y)), 255);
        TAffineTransformation t;
        t.Scale(0, 1); // collapses the picture: nothing to draw
        TBitmap32 flat(8, 8);
        flat.DrawTransformed(t, src);
        EXPECT_EQ(flat.Pixel(0, 0), 0u);
    }
}

TEST(Stretch, ArbitraryAngleSamplesNearest) {
    TBitmap32 src(10, 10);
    src.Clear(0xFFFF0000);
    TAffineTransformation t;
    t.Rotate(5, 5, 45);
    t.Translate(5, 5);
    TBitmap32 dst(20, 20);
    dst.DrawTransformed(t, src);
    EXPECT_EQ(dst.Pixel(10, 10), 0xFFFF0000u); // the centre
    EXPECT_EQ(dst.Pixel(3, 3), 0u);            // a corner of the turned square stays empty
}

} // namespace
