#include "gfx/Orientation.h"
#include "gfx/Bitmap32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

// A 3 x 2 picture whose pixel at (x, y) is 10 * y + x + 1:
//    1  2  3
//   11 12 13
TBitmap32 Numbered() {
    TBitmap32 b(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) b.SetPixel(x, y, TColor32(10 * y + x + 1));
    return b;
}

std::vector<TColor32> Rows(const TBitmap32& b) {
    std::vector<TColor32> pixels;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) pixels.push_back(b.Pixel(x, y));
    return pixels;
}

struct TOrientationCase {
    const char* name;
    int orientation;
    int width, height;
    std::vector<TColor32> pixels; // rows of the result, top to bottom
};

class ApplyExifOrientationTest : public ::testing::TestWithParam<TOrientationCase> {};

TEST_P(ApplyExifOrientationTest, GivesTheUprightLayout) {
    const TOrientationCase& c = GetParam();
    TBitmap32 b = Numbered();
    ApplyExifOrientation(b, c.orientation);
    ASSERT_EQ(b.Width(), c.width);
    ASSERT_EQ(b.Height(), c.height);
    EXPECT_EQ(Rows(b), c.pixels);
    EXPECT_EQ(b.ClipRect(), b.BoundsRect());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ApplyExifOrientationTest,
    ::testing::Values(TOrientationCase{"AsStored", 1, 3, 2, {1, 2, 3, 11, 12, 13}},
                      TOrientationCase{"MirroredLeftRight", 2, 3, 2, {3, 2, 1, 13, 12, 11}},
                      TOrientationCase{"HalfTurn", 3, 3, 2, {13, 12, 11, 3, 2, 1}},
                      TOrientationCase{"MirroredTopBottom", 4, 3, 2, {11, 12, 13, 1, 2, 3}},
                      TOrientationCase{"Transposed", 5, 2, 3, {1, 11, 2, 12, 3, 13}},
                      TOrientationCase{"QuarterClockwise", 6, 2, 3, {11, 1, 12, 2, 13, 3}},
                      TOrientationCase{"Transversed", 7, 2, 3, {13, 3, 12, 2, 11, 1}},
                      TOrientationCase{"QuarterCounterClockwise", 8, 2, 3, {3, 13, 2, 12, 1, 11}},
                      TOrientationCase{"Zero", 0, 3, 2, {1, 2, 3, 11, 12, 13}},
                      TOrientationCase{"Nine", 9, 3, 2, {1, 2, 3, 11, 12, 13}},
                      TOrientationCase{"Negative", -1, 3, 2, {1, 2, 3, 11, 12, 13}},
                      TOrientationCase{"Huge", 65535 + 6, 3, 2, {1, 2, 3, 11, 12, 13}}),
    [](const auto& info) { return std::string(info.param.name); });

// Where the pixel (x, y) of a width x height picture stored with `orientation` lands.
void Destination(int orientation, int width, int height, int x, int y, int& dx, int& dy) {
    switch (orientation) {
    case 2:
        dx = width - 1 - x, dy = y;
        break;
    case 3:
        dx = width - 1 - x, dy = height - 1 - y;
        break;
    case 4:
        dx = x, dy = height - 1 - y;
        break;
    case 5:
        dx = y, dy = x;
        break;
    case 6:
        dx = height - 1 - y, dy = x;
        break;
    case 7:
        dx = height - 1 - y, dy = width - 1 - x;
        break;
    case 8:
        dx = y, dy = width - 1 - x;
        break;
    default:
        dx = x, dy = y;
        break;
    }
}

TColor32 Unique(int x, int y) {
    return TColor32(0xFF000000u | (std::uint32_t(y) << 12) | std::uint32_t(x));
}

struct TSizeCase {
    const char* name;
    int width, height;
};

class OrientationSizeTest : public ::testing::TestWithParam<TSizeCase> {};

// Sizes across block edges, square pictures (turned in place) and one large enough for
// the work to be split between two threads: every pixel lands where the code says.
TEST_P(OrientationSizeTest, EveryPixelLandsWhereTheCodeSays) {
    const TSizeCase& c = GetParam();
    TBitmap32 source(c.width, c.height);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) source.SetPixel(x, y, Unique(x, y));
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        TBitmap32 b = source;
        ApplyExifOrientation(b, orientation);
        const bool swaps = ExifOrientationSwapsSides(orientation);
        ASSERT_EQ(b.Width(), swaps ? c.height : c.width);
        ASSERT_EQ(b.Height(), swaps ? c.width : c.height);
        int wrong = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                int dx = 0, dy = 0;
                Destination(orientation, c.width, c.height, x, y, dx, dy);
                if (b.Pixel(dx, dy) != Unique(x, y)) ++wrong;
            }
        EXPECT_EQ(wrong, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, OrientationSizeTest,
                         ::testing::Values(TSizeCase{"OnePixel", 1, 1}, TSizeCase{"OneRow", 7, 1},
                                           TSizeCase{"OneColumn", 1, 5},
                                           TSizeCase{"AcrossBlocks", 70, 45},
                                           TSizeCase{"Square", 67, 67},
                                           TSizeCase{"SquareOfBlocks", 64, 64},
                                           TSizeCase{"TwoThreads", 1031, 1019},
                                           TSizeCase{"TwoThreadsSquare", 1030, 1030}),
                         [](const auto& info) { return std::string(info.param.name); });

// Rows handed over a few at a time, as a decoder hands them out, give what turning the
// whole picture gives.
TEST(PutOrientedRows, StripsEqualTheWholeTurn) {
    for (const auto& [width, height] : {std::pair{1, 1}, {7, 1}, {1, 5}, {70, 45}, {67, 67}}) {
        TBitmap32 source(width, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) source.SetPixel(x, y, Unique(x, y));
        for (int orientation = 0; orientation <= 9; ++orientation) {
            TBitmap32 whole = source;
            ApplyExifOrientation(whole, orientation);
            for (const int strip : {1, 3, 16}) {
                SCOPED_TRACE(testing::Message() << width << " x " << height << " orientation "
                                                << orientation << " strip " << strip);
                TBitmap32 target(whole.Width(), whole.Height());
                for (int first = 0; first < height; first += strip) {
                    const int count = std::min(strip, height - first);
                    PutOrientedRows(source.ScanLine(first), first, count, width, height,
                                    orientation, target);
                }
                EXPECT_EQ(Rows(target), Rows(whole));
            }
        }
    }
}

struct TMisfitCase {
    const char* name;
    int first, count;
    int targetWidth, targetHeight;
};

class PutOrientedRowsMisfitTest : public ::testing::TestWithParam<TMisfitCase> {};

// Rows that do not belong to the picture, or a target of another size, write nothing.
TEST_P(PutOrientedRowsMisfitTest, WritesNothing) {
    const TMisfitCase& c = GetParam();
    const TBitmap32 source = Numbered(); // 3 x 2
    TBitmap32 target(c.targetWidth, c.targetHeight);
    target.Clear(0xFFABCDEFu);
    const std::vector<TColor32> before = Rows(target);
    PutOrientedRows(source.ScanLine(0), c.first, c.count, 3, 2, 6, target);
    EXPECT_EQ(Rows(target), before);
}

INSTANTIATE_TEST_SUITE_P(Misfits, PutOrientedRowsMisfitTest,
                         ::testing::Values(TMisfitCase{"UnturnedTarget", 0, 2, 3, 2},
                                           TMisfitCase{"SmallerTarget", 0, 1, 2, 2},
                                           TMisfitCase{"PastTheLastRow", 1, 2, 2, 3},
                                           TMisfitCase{"BeforeTheFirstRow", -1, 1, 2, 3},
                                           TMisfitCase{"NoRows", 0, 0, 2, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ApplyExifOrientation, NotifiesOnceAndKeepsTheDrawingProperties) {
    for (const int orientation : {2, 3, 4, 5, 6, 7, 8}) {
        SCOPED_TRACE(orientation);
        TBitmap32 b = Numbered();
        b.DrawMode = TDrawMode::dmBlend;
        b.MasterAlpha = 77;
        b.Resampler = TResamplerKind::Mitchell;
        int changes = 0;
        b.OnChange = [&](TBitmap32&) { ++changes; };
        ApplyExifOrientation(b, orientation);
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(b.DrawMode, TDrawMode::dmBlend);
        EXPECT_EQ(b.MasterAlpha, 77);
        EXPECT_EQ(b.Resampler, TResamplerKind::Mitchell);
        EXPECT_TRUE(b.OnChange);
    }
}

TEST(ApplyExifOrientation, LeavesEmptyAndUnturnedBitmapsAlone) {
    TBitmap32 empty;
    int changes = 0;
    empty.OnChange = [&](TBitmap32&) { ++changes; };
    ApplyExifOrientation(empty, 6);
    EXPECT_TRUE(empty.Empty());
    TBitmap32 b = Numbered();
    b.OnChange = [&](TBitmap32&) { ++changes; };
    for (const int orientation : {0, 1, 9, -6}) ApplyExifOrientation(b, orientation);
    EXPECT_EQ(changes, 0);
}

// Turning by a code and then by its inverse gives the picture back.
TEST(ApplyExifOrientation, InverseCodesUndoEachOther) {
    constexpr int kInverse[9] = {0, 1, 2, 3, 4, 5, 8, 7, 6};
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        TBitmap32 b = Numbered();
        ApplyExifOrientation(b, orientation);
        ApplyExifOrientation(b, kInverse[orientation]);
        EXPECT_EQ(Rows(b), Rows(Numbered()));
    }
}

} // namespace
