#include "gfx/Bitmap32.h"
#include "gfx/BlendOps.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPolygonF>

namespace {

// A bitmap whose every pixel is distinct: value encodes (x, y).
TBitmap32 Numbered(int w, int h, int alpha = 255) {
    TBitmap32 b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.SetPixel(x, y, Color32(x, y, 7, alpha));
    return b;
}

TEST(Bitmap, SizeClearAndEmpty) {
    TBitmap32 b;
    EXPECT_TRUE(b.Empty());
    b.SetSize(3, 2);
    EXPECT_FALSE(b.Empty());
    EXPECT_EQ(b.Pixel(2, 1), 0u); // new pixels are transparent black
    b.Clear(0xFF112233);
    EXPECT_EQ(b.Pixel(0, 0), 0xFF112233u);
    EXPECT_EQ(b.Pixel(2, 1), 0xFF112233u);
    b.SetSize(-5, 4);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Height(), 0);
    EXPECT_TRUE(b.ClipRect().IsEmpty());
}

TEST(Bitmap, AbsurdSizeThrowsInsteadOfCrashing) {
    TBitmap32 b;
    EXPECT_THROW(b.SetSize(2000000000, 2000000000), std::bad_alloc);
    EXPECT_TRUE(b.Empty());
}

TEST(Bitmap, ClipRectIntersectsBoundsAndGuardsReadsAndWrites) {
    TBitmap32 b(10, 10);
    b.Clear(0xFF000000);
    b.SetClipRect({-5, 2, 4, 50});
    EXPECT_EQ(b.ClipRect(), (TRect{0, 2, 4, 10}));
    b.OuterColor = 0x12345678;
    EXPECT_EQ(b.PixelS(1, 1), 0x12345678u);  // above the clip
    EXPECT_EQ(b.PixelS(4, 5), 0x12345678u);  // right edge is exclusive
    EXPECT_EQ(b.PixelS(-1, 5), 0x12345678u); // outside the bitmap
    EXPECT_EQ(b.PixelS(3, 9), 0xFF000000u);
    b.SetPixelS(5, 5, 0xFFFFFFFF); // dropped
    b.SetPixelS(3, 3, 0xFFFFFFFF);
    EXPECT_EQ(b.Pixel(5, 5), 0xFF000000u);
    EXPECT_EQ(b.Pixel(3, 3), 0xFFFFFFFFu);
    b.FillRect({0, 0, 10, 10}, 0xFF00FF00);
    EXPECT_EQ(b.Pixel(3, 2), 0xFF00FF00u);
    EXPECT_EQ(b.Pixel(3, 1), 0xFF000000u);
    EXPECT_EQ(b.Pixel(4, 5), 0xFF000000u);
    b.SetClipRect({20, 20, 30, 30});
    EXPECT_TRUE(b.ClipRect().IsEmpty());
    b.FillRect({0, 0, 10, 10}, 0xFFFFFFFF); // nothing is inside an empty clip
    EXPECT_EQ(b.Pixel(3, 2), 0xFF00FF00u);
    b.ResetClipRect();
    EXPECT_EQ(b.ClipRect(), b.BoundsRect());
}

struct OffsetCase {
    const char* Name;
    int X, Y;
};

class DrawAtOffset : public ::testing::TestWithParam<OffsetCase> {};

// Drawing at any offset copies exactly the overlapping part, in both modes.
TEST_P(DrawAtOffset, CopiesOverlapOnly) {
    const OffsetCase c = GetParam();
    const TBitmap32 src = Numbered(6, 5);
    for (TDrawMode mode : {TDrawMode::dmOpaque, TDrawMode::dmBlend}) {
        TBitmap32 dst(8, 7);
        dst.Clear(0xFF000000);
        TBitmap32 s = src;
        s.DrawMode = mode;
        dst.Draw(c.X, c.Y, s);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 8; ++x) {
                const int sx = x - c.X, sy = y - c.Y;
                const bool inside = sx >= 0 && sx < 6 && sy >= 0 && sy < 5;
                ASSERT_EQ(dst.Pixel(x, y), inside ? src.Pixel(sx, sy) : 0xFF000000u)
                    << x << "," << y;
            }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Offsets, DrawAtOffset,
    ::testing::Values(OffsetCase{"Origin", 0, 0}, OffsetCase{"NegativeBoth", -3, -2},
                      OffsetCase{"NegativeX", -5, 1}, OffsetCase{"PastRightBottom", 5, 4},
                      OffsetCase{"FullyOutside", -6, 0}, OffsetCase{"FarAway", 100, 100}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Bitmap, OpaqueDrawCopiesAlphaAndIgnoresMasterAlpha) {
    TBitmap32 src(2, 1);
    src.SetPixel(0, 0, 0x40FF0000);
    src.SetPixel(1, 0, 0x00000000);
    src.MasterAlpha = 10;
    TBitmap32 dst(2, 1);
    dst.Clear(0xFF0000FF);
    dst.Draw(0, 0, src);
    EXPECT_EQ(dst.Pixel(0, 0), 0x40FF0000u);
    EXPECT_EQ(dst.Pixel(1, 0), 0x00000000u);
}

TEST(Bitmap, BlendDrawUsesPixelAlphaTimesMasterAlpha) {
    TBitmap32 src(3, 1);
    src.SetPixel(0, 0, 0xFFFFFFFF); // opaque
    src.SetPixel(1, 0, 0x80FFFFFF); // half
    src.SetPixel(2, 0, 0x00FFFFFF); // transparent
    src.DrawMode = TDrawMode::dmBlend;
    TBitmap32 dst(3, 1);
    dst.Clear(0xFF000000);
    dst.Draw(0, 0, src);
    EXPECT_EQ(dst.Pixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(dst.Pixel(1, 0), 0xFF808080u);
    EXPECT_EQ(dst.Pixel(2, 0), 0xFF000000u);

    src.MasterAlpha = 128;
    dst.Clear(0xFF000000);
    dst.Draw(0, 0, src);
    EXPECT_EQ(dst.Pixel(0, 0), 0xFF808080u);
    EXPECT_EQ(dst.Pixel(1, 0), 0xFF404040u); // 128 * 128 / 255 = 64
    EXPECT_EQ(dst.Pixel(2, 0), 0xFF000000u);
}

TEST(Bitmap, DrawHonoursDestinationClip) {
    TBitmap32 src(4, 4);
    src.Clear(0xFFFFFFFF);
    TBitmap32 dst(4, 4);
    dst.Clear(0xFF000000);
    dst.SetClipRect({1, 1, 3, 3});
    dst.Draw(0, 0, src);
    int white = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) white += dst.Pixel(x, y) == 0xFFFFFFFF;
    EXPECT_EQ(white, 4);
    EXPECT_EQ(dst.Pixel(1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(dst.Pixel(0, 0), 0xFF000000u);
}

TEST(Bitmap, DrawPartOfSourceAndOntoItself) {
    const TBitmap32 src = Numbered(5, 5);
    TBitmap32 dst(3, 3);
    dst.Draw(0, 0, TRect{2, 1, 5, 4}, src);
    EXPECT_EQ(dst.Pixel(0, 0), src.Pixel(2, 1));
    EXPECT_EQ(dst.Pixel(2, 2), src.Pixel(4, 3));
    // Overlapping self-draw behaves as if from a copy.
    TBitmap32 self = Numbered(5, 1);
    self.Draw(1, 0, TRect{0, 0, 4, 1}, self);
    for (int x = 1; x < 5; ++x) EXPECT_EQ(self.Pixel(x, 0), Color32(x - 1, 0, 7)) << x;
}

TEST(Bitmap, BlendedFillAndFrame) {
    TBitmap32 b(5, 4);
    b.Clear(0xFF000000);
    b.FillRectTS({1, 1, 3, 3}, 0x00FFFFFF); // alpha 0 draws nothing
    EXPECT_EQ(b.Pixel(1, 1), 0xFF000000u);
    b.FillRectTS({1, 1, 3, 3}, 0x80FFFFFF);
    EXPECT_EQ(b.Pixel(1, 1), 0xFF808080u);
    EXPECT_EQ(b.Pixel(3, 1), 0xFF000000u);

    b.Clear(0xFF000000);
    b.FrameRectTS({0, 0, 5, 4}, 0x80FFFFFF);
    // Each frame pixel, corners included, is blended exactly once; the inside is left.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) {
            const bool edge = x == 0 || y == 0 || x == 4 || y == 3;
            EXPECT_EQ(b.Pixel(x, y), edge ? 0xFF808080u : 0xFF000000u) << x << "," << y;
        }
    // Degenerate frames: one row, one column.
    b.Clear(0xFF000000);
    b.FrameRectTS({1, 1, 4, 2}, 0x80FFFFFF);
    EXPECT_EQ(b.Pixel(1, 1), 0xFF808080u);
    EXPECT_EQ(b.Pixel(3, 1), 0xFF808080u);
    EXPECT_EQ(b.Pixel(1, 2), 0xFF000000u);
}

TEST(Bitmap, CopyCarriesPropertiesButNotHandler) {
    TBitmap32 a = Numbered(3, 2);
    a.OuterColor = 0x11223344;
    a.DrawMode = TDrawMode::dmBlend;
    a.MasterAlpha = 99;
    a.Resampler = TResamplerKind::Cubic;
    int calls = 0;
    a.OnChange = [&](TBitmap32&) { ++calls; };
    TBitmap32 b(a);
    EXPECT_EQ(b.Width(), 3);
    EXPECT_EQ(b.Pixel(2, 1), a.Pixel(2, 1));
    EXPECT_EQ(b.OuterColor, 0x11223344u);
    EXPECT_EQ(b.DrawMode, TDrawMode::dmBlend);
    EXPECT_EQ(b.MasterAlpha, 99);
    EXPECT_EQ(b.Resampler, TResamplerKind::Cubic);
    EXPECT_FALSE(b.OnChange);
    b.SetPixel(0, 0, 0); // deep copy
    EXPECT_NE(a.Pixel(0, 0), 0u);

    TBitmap32 c;
    c = a;
    EXPECT_EQ(c.Pixel(1, 1), a.Pixel(1, 1));
    EXPECT_EQ(calls, 0); // copying from a does not notify a
}

TEST(Bitmap, MoveTakesPixelsAndEmptiesSource) {
    TBitmap32 a = Numbered(4, 3);
    const TColor32* bits = a.Bits();
    TBitmap32 b(std::move(a));
    EXPECT_EQ(b.Bits(), bits);
    EXPECT_TRUE(a.Empty()); // NOLINT(bugprone-use-after-move): moved-from state is specified
    TBitmap32 c(1, 1);
    c = std::move(b);
    EXPECT_EQ(c.Bits(), bits);
    EXPECT_EQ(c.Pixel(3, 2), Color32(3, 2, 7));
    TBitmap32 d(2, 2);
    d.SwapPixels(c);
    EXPECT_EQ(d.Bits(), bits);
    EXPECT_EQ(c.Width(), 2);
}

TEST(Bitmap, ChangeNotificationWithUpdates) {
    TBitmap32 b(2, 2);
    int calls = 0;
    b.OnChange = [&](TBitmap32&) { ++calls; };
    b.Clear(0xFF000000);
    EXPECT_EQ(calls, 1);
    b.BeginUpdate();
    b.BeginUpdate();
    b.FillRect({0, 0, 1, 1}, 0xFFFFFFFF);
    b.Clear(0xFF00FF00);
    b.EndUpdate();
    EXPECT_EQ(calls, 1); // still inside the outer update
    b.EndUpdate();
    EXPECT_EQ(calls, 2); // one report for everything that happened
    b.BeginUpdate();
    b.EndUpdate();
    EXPECT_EQ(calls, 2); // nothing changed, nothing reported
    b.EndUpdate();       // unbalanced end is harmless
    EXPECT_EQ(calls, 2);
}

TEST(Bitmap, HandlerMayDropItselfWhileCalled) {
    TBitmap32 b(1, 1);
    int calls = 0;
    b.OnChange = [&](TBitmap32& self) {
        ++calls;
        self.OnChange = nullptr;
    };
    b.Clear();
    b.Clear();
    EXPECT_EQ(calls, 1);
}

TEST(Bitmap, OpacityIsCachedAndForgottenOnWriteAccess) {
    TBitmap32 b(70, 3); // more than one 64-pixel block
    b.Clear(0xFF000000);
    EXPECT_TRUE(b.IsOpaque());
    b.SetPixel(69, 2, 0xFE000000);
    EXPECT_FALSE(b.IsOpaque());
    b.Clear(0xFFFFFFFF);
    EXPECT_TRUE(b.IsOpaque());
    b.ScanLine(0)[0] = 0x00000000;
    EXPECT_FALSE(b.IsOpaque());
    EXPECT_FALSE(TBitmap32().IsOpaque());
}

// The QImage view shares memory, so QPainter draws straight into the bitmap with
// straight (non-premultiplied) pixels as the bitmap expects.
TEST(Bitmap, ImageViewDrawsIntoOpaqueAndTranslucentBitmaps) {
    TBitmap32 opaque(40, 20);
    opaque.Clear(0xFF000000);
    {
        QImage view = opaque.ImageView();
        ASSERT_EQ(view.constBits(), reinterpret_cast<const uchar*>(opaque.Bits()));
        QPainter p(&view);
        p.fillRect(QRect(0, 0, 10, 10), QColor(255, 0, 0, 128));
    }
    EXPECT_EQ(opaque.Pixel(5, 5), 0xFF800000u);
    EXPECT_EQ(opaque.Pixel(15, 5), 0xFF000000u);

    TBitmap32 clear(40, 20); // transparent black
    {
        QImage view = clear.ImageView();
        QPainter p(&view);
        p.fillRect(QRect(0, 0, 10, 10), QColor(255, 0, 0, 128));
    }
    // Straight alpha: full red at half coverage, not premultiplied 0x80800000.
    EXPECT_EQ(AlphaOf(clear.Pixel(5, 5)), 128);
    EXPECT_EQ(RedOf(clear.Pixel(5, 5)), 255);
    EXPECT_EQ(clear.Pixel(15, 5), 0u);
}

TEST(Bitmap, ImageViewTakesTextAndAntialiasedPolygons) {
    TBitmap32 b(80, 30);
    b.Clear(0xFF000000);
    {
        QImage view = b.ImageView();
        QPainter p(&view);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::white);
        QFont font;
        font.setPixelSize(20);
        p.setFont(font);
        p.drawText(QRect(0, 0, 80, 30), Qt::AlignCenter, QStringLiteral("Hg"));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 255, 0, 255));
        p.drawPolygon(QPolygonF({QPointF(0.5, 0.5), QPointF(10.3, 0.5), QPointF(0.5, 10.3)}));
    }
    int lit = 0, partial = 0;
    for (int y = 0; y < 30; ++y)
        for (int x = 20; x < 80; ++x) lit += RedOf(b.Pixel(x, y)) > 128;
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x) {
            const int g = GreenOf(b.Pixel(x, y));
            partial += g > 0 && g < 255;
        }
    EXPECT_GT(lit, 10);    // the text left white pixels
    EXPECT_GT(partial, 3); // the polygon's edge is antialiased
    EXPECT_TRUE(b.IsOpaque());
}

} // namespace

// Large pictures take their pixels straight from the system; they must behave like any
// other: zeroed when made or resized, swapped and moved with their owner, freed once.
TEST(BitmapLargeTest, MappedPixelsAreZeroedSwappedAndFreed) {
    for (const auto& [w, h] : {std::pair(1024, 1024), std::pair(3001, 1999)}) {
        TBitmap32 a(w, h);
        EXPECT_EQ(a.Pixel(w - 1, h - 1), 0u);
        a.Clear(0xFF112233);
        a.SetSize(w, h); // same size: cleared in place
        EXPECT_EQ(a.Pixel(w / 2, h / 2), 0u);
        a.SetPixel(w - 1, h - 1, 0xFF445566);
        TBitmap32 small(4, 4);
        small.SwapPixels(a);
        EXPECT_EQ(small.Pixel(w - 1, h - 1), 0xFF445566u);
        EXPECT_EQ(a.Width(), 4);
        TBitmap32 moved(std::move(small));
        EXPECT_EQ(moved.Pixel(w - 1, h - 1), 0xFF445566u);
        moved.SetSize(w + 1, h); // a fresh block, zeroed
        EXPECT_EQ(moved.Pixel(w, h - 1), 0u);
    }
}
