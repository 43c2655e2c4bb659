#include "loading/ColorCounter.h"
#include "gfx/Bitmap32.h"

#include <gtest/gtest.h>

namespace {

TEST(ColorCounter, EmptyGivesZero) {
    EXPECT_EQ(TColorCounter().MostFrequent(), 0u);
}

TEST(ColorCounter, MostFrequentWins) {
    TColorCounter c;
    for (int i = 0; i < 10; ++i) c.AddColor(Color32(255, 0, 0));
    for (int i = 0; i < 3; ++i) c.AddColor(Color32(0, 0, 255));
    EXPECT_EQ(c.MostFrequent(), Color32(255, 0, 0));
}

TEST(ColorCounter, SimilarColoursCountForTheFirstEntry) {
    TColorCounter c;
    c.AddColor(Color32(200, 100, 50));
    for (int i = 0; i < 5; ++i) c.AddColor(Color32(204, 104, 54)); // summed difference 12
    ASSERT_EQ(c.Entries().size(), 1u);
    EXPECT_EQ(c.Entries()[0].Count, 6u);
    EXPECT_EQ(c.MostFrequent(), Color32(200, 100, 50));
}

TEST(ColorCounter, DifferenceOfFifteenIsAnotherColour) {
    TColorCounter c;
    c.AddColor(Color32(200, 100, 50));
    c.AddColor(Color32(205, 105, 55));
    EXPECT_EQ(c.Entries().size(), 2u);
}

TEST(ColorCounter, AlphaIsIgnored) {
    TColorCounter c;
    c.AddColor(Color32(10, 20, 30, 255));
    c.AddColor(Color32(10, 20, 30, 0));
    EXPECT_EQ(c.Entries().size(), 1u);
}

TEST(ColorCounter, TieGoesToTheSmallerRawValue) {
    TColorCounter c;
    const TColor32 a = Color32(0, 0, 100);
    const TColor32 b = Color32(100, 0, 0);
    c.AddColor(b);
    c.AddColor(a);
    c.AddColor(b);
    c.AddColor(a);
    EXPECT_EQ(c.MostFrequent(), a);
}

TEST(ColorCounter, EntriesStayInAscendingOrder) {
    TColorCounter c;
    for (TColor32 v : {Color32(90, 0, 0), Color32(10, 0, 0), Color32(50, 0, 0), Color32(200, 0, 0)})
        c.AddColor(v);
    ASSERT_EQ(c.Entries().size(), 4u);
    for (std::size_t i = 1; i < c.Entries().size(); ++i)
        EXPECT_LT(c.Entries()[i - 1].Color, c.Entries()[i].Color);
}

// A 10 x 6 picture: top and bottom rows red, left and right columns blue (corners red).
TBitmap32 EdgePicture() {
    TBitmap32 bmp(10, 6);
    bmp.Clear(Color32(0, 255, 0));
    for (int y = 0; y < 6; ++y) {
        bmp.SetPixel(0, y, Color32(0, 0, 255));
        bmp.SetPixel(9, y, Color32(0, 0, 255));
    }
    for (int x = 0; x < 10; ++x) {
        bmp.SetPixel(x, 0, Color32(255, 0, 0));
        bmp.SetPixel(x, 5, Color32(255, 0, 0));
    }
    return bmp;
}

struct EdgeCase {
    const char* name;
    TRect fitted;
    TRect target;
    TColor32 expected;
};

class DominantEdgeColorTest : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(DominantEdgeColorTest, CountsTheEdgesThatBorderEmptySpace) {
    EXPECT_EQ(DominantEdgeColor(EdgePicture(), GetParam().fitted, GetParam().target),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    ColorCounter, DominantEdgeColorTest,
    ::testing::Values(
        // Full width: only the top and bottom rows (20 red pixels).
        EdgeCase{"FillsTheWidth", {0, 100, 1000, 700}, {0, 0, 1000, 900}, Color32(255, 0, 0)},
        // Narrower, full height: only the columns (8 blue, 4 red corners).
        EdgeCase{"NarrowerOnly", {100, 0, 900, 600}, {0, 0, 1000, 600}, Color32(0, 0, 255)},
        // Narrower and lower: rows and columns (24 red, 8 blue).
        EdgeCase{"SmallerBothWays", {100, 100, 500, 400}, {0, 0, 1000, 900}, Color32(255, 0, 0)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DominantEdgeColor, EmptyPictureGivesZero) {
    EXPECT_EQ(DominantEdgeColor(TBitmap32(), {0, 0, 1, 1}, {0, 0, 10, 10}), 0u);
}

} // namespace
