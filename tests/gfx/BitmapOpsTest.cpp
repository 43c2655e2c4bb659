#include "gfx/BitmapOps.h"
#include "gfx/Bitmap32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A 3 x 2 picture whose pixel at (x, y) is 10 * y + x + 1.
TBitmap32 Numbered() {
    TBitmap32 b(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) b.SetPixel(x, y, TColor32(10 * y + x + 1));
    return b;
}

struct TurnCase {
    const char* name;
    int angle;
    int width, height;
    // The picture's rows after the turn, top to bottom.
    std::vector<TColor32> pixels;
};

class TurnQuarterTest : public ::testing::TestWithParam<TurnCase> {};

TEST_P(TurnQuarterTest, TurnsOnScreenByQuarters) {
    const TurnCase& c = GetParam();
    TBitmap32 inPlace = Numbered();
    TurnQuarter(inPlace, c.angle);
    TBitmap32 target(7, 7);
    TurnQuarter(Numbered(), target, c.angle);
    for (const TBitmap32* b : {&inPlace, &target}) {
        ASSERT_EQ(b->Width(), c.width);
        ASSERT_EQ(b->Height(), c.height);
        std::vector<TColor32> pixels;
        for (int y = 0; y < b->Height(); ++y)
            for (int x = 0; x < b->Width(); ++x) pixels.push_back(b->Pixel(x, y));
        EXPECT_EQ(pixels, c.pixels);
    }
}

// 1 2 3        counter-clockwise: 3 13     half: 13 12 11     clockwise: 11 1
// 11 12 13                         2 12           3  2  1                 12 2
//                                  1 11                                   13 3
INSTANTIATE_TEST_SUITE_P(
    Bitmaps, TurnQuarterTest,
    ::testing::Values(TurnCase{"None", 0, 3, 2, {1, 2, 3, 11, 12, 13}},
                      TurnCase{"FullTurn", 360, 3, 2, {1, 2, 3, 11, 12, 13}},
                      TurnCase{"Left", 90, 2, 3, {3, 13, 2, 12, 1, 11}},
                      TurnCase{"LeftPastAFullTurn", 450, 2, 3, {3, 13, 2, 12, 1, 11}},
                      TurnCase{"Half", 180, 3, 2, {13, 12, 11, 3, 2, 1}},
                      TurnCase{"OneAndAHalf", 540, 3, 2, {13, 12, 11, 3, 2, 1}},
                      TurnCase{"Right", -90, 2, 3, {11, 1, 12, 2, 13, 3}},
                      TurnCase{"ThreeLeft", 270, 2, 3, {11, 1, 12, 2, 13, 3}}),
    [](const auto& info) { return std::string(info.param.name); });

// The pattern belongs to the bitmap, so two fills of neighbouring areas join seamlessly.
TEST(CheckerFill, IsAnchoredAtTheBitmapsOrigin) {
    constexpr TColor32 dark = 0xFFBFBFBF, light = 0xFFFFFFFF, untouched = 0xFF000000;
    TBitmap32 b(40, 30);
    b.Clear(untouched);
    CheckerFill(b, {15, 5, 45, 30}, 10, light, dark, 10);
    EXPECT_EQ(b.Pixel(14, 5), untouched);
    EXPECT_EQ(b.Pixel(15, 5), light);  // cell (1, 0)
    EXPECT_EQ(b.Pixel(20, 5), dark);   // cell (2, 0)
    EXPECT_EQ(b.Pixel(15, 10), dark);  // cell (1, 1)
    EXPECT_EQ(b.Pixel(39, 29), light); // cell (3, 2), clipped at the bitmap's edge
    EXPECT_EQ(b.Pixel(20, 4), untouched);

    b.SetClipRect({0, 0, 10, 10});
    CheckerFill(b, b.BoundsRect(), 5, light, dark, 5);
    EXPECT_EQ(b.Pixel(0, 0), dark);
    EXPECT_EQ(b.Pixel(5, 0), light);
    EXPECT_EQ(b.Pixel(14, 5), untouched); // outside the clip
}

} // namespace
