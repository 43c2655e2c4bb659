#include "gfx/BlendOps.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct BlendCase {
    const char* Name;
    TColor32 F, B;
    int M;
    TColor32 Expected;
};

// channel = B + (F - B) * w / 256 rounded to nearest, w = ((M + 1) * alpha(F)) div 256.
const BlendCase kBlendExCases[] = {
    // Weight 0: the background comes back unchanged.
    {"ZeroMaster", 0xFFFF0000, 0x80102030, 0, 0x80102030},
    {"TransparentForeground", 0x00FFFFFF, 0xFF000000, 255, 0xFF000000},
    // (0 + 1) * 255 div 256 = 0 as well.
    {"MasterZeroOpaque", 0xFFFFFFFF, 0xFF000000, 0, 0xFF000000},
    // M = 255, alpha 255: w = 255, so 255 * 255 / 256 = 254.0 -> 254.
    {"FullWeight", 0xFFFFFFFF, 0x00000000, 255, 0xFEFEFEFE},
    // M = 127, alpha 255: w = 127; (200 - 100) * 127 / 256 = 49.6 -> 50.
    {"HalfWeight", 0xFFC8C8C8, 0xFF646464, 127, 0xFF969696},
    // Tie: w = 128 (M 255, alpha 128) and F - B = 1 gives 0.5, rounded up.
    {"TieRoundsUp", 0x80000001, 0x80000000, 255, 0x80000001},
    // Negative difference: (0 - 255) * 128 / 256 = -127.5 -> -127.
    {"NegativeTie", 0x80000000, 0x800000FF, 255, 0x80000080},
};

class BlendExTable : public ::testing::TestWithParam<BlendCase> {};

TEST_P(BlendExTable, MatchesDefinition) {
    const BlendCase& c = GetParam();
    EXPECT_EQ(BlendEx(c.F, c.B, c.M), c.Expected)
        << std::hex << BlendEx(c.F, c.B, c.M) << " vs " << c.Expected;
}

INSTANTIATE_TEST_SUITE_P(Cases, BlendExTable, ::testing::ValuesIn(kBlendExCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(BlendOver, WeighsByForegroundAlpha) {
    // alpha 0: background.
    EXPECT_EQ(BlendOver(0x00FFFFFF, 0xFF123456), 0xFF123456u);
    // alpha 255: 255/256 of the way, as defined.
    EXPECT_EQ(BlendOver(0xFFFFFFFF, 0xFF000000), 0xFFFEFEFEu);
    // alpha 128 on all four channels: A 255 + (128 - 255) / 2 = 191.5 -> 192, R 127.5 -> 128.
    EXPECT_EQ(BlendOver(0x80FF0000, 0xFF0000FF), 0xC0800080u);
}

// Every row form must equal its pixel form, at every length (vector body and tail).
class RowForms : public ::testing::TestWithParam<int> {};

TEST_P(RowForms, EqualPixelForms) {
    const int n = GetParam();
    std::mt19937 rng(1234 + n);
    std::vector<TColor32> fg(n), bg(n), out(n);
    for (int i = 0; i < n; ++i) {
        fg[i] = rng();
        bg[i] = rng();
    }
    // Extremes in the mix.
    if (n > 2) {
        fg[0] |= 0xFF000000;
        fg[1] &= 0x00FFFFFF;
    }
    for (int m : {0, 1, 127, 128, 254, 255}) {
        BlendExRow(out.data(), fg.data(), bg.data(), n, m);
        for (int i = 0; i < n; ++i) ASSERT_EQ(out[i], BlendEx(fg[i], bg[i], m)) << i << " m " << m;
        out = bg;
        BlendDrawRow(out.data(), fg.data(), n, m);
        for (int i = 0; i < n; ++i) ASSERT_EQ(out[i], BlendDraw(fg[i], bg[i], m)) << i;
        out = bg;
        MergeOverRow(out.data(), fg.data(), n, m);
        for (int i = 0; i < n; ++i) ASSERT_EQ(out[i], MergeOver(fg[i], bg[i], m)) << i;
    }
    BlendOverRow(out.data(), fg.data(), bg.data(), n);
    for (int i = 0; i < n; ++i) ASSERT_EQ(out[i], BlendOver(fg[i], bg[i])) << i;
    // In place over the background.
    out = bg;
    BlendExRow(out.data(), fg.data(), out.data(), n, 200);
    for (int i = 0; i < n; ++i) ASSERT_EQ(out[i], BlendEx(fg[i], bg[i], 200)) << i;
}

INSTANTIATE_TEST_SUITE_P(Lengths, RowForms, ::testing::Values(1, 3, 4, 7, 8, 64, 1001));

TEST(BlendDraw, OpaqueReplacesAndTransparentKeeps) {
    EXPECT_EQ(BlendDraw(0xFF102030, 0xFFABCDEF), 0xFF102030u);
    EXPECT_EQ(BlendDraw(0x00102030, 0xFFABCDEF), 0xFFABCDEFu);
    // Master alpha 0 draws nothing.
    EXPECT_EQ(BlendDraw(0xFF102030, 0xFFABCDEF, 0), 0xFFABCDEFu);
    // Half white over black: 128/255 of 255 = 128; opaque background stays opaque.
    EXPECT_EQ(BlendDraw(0x80FFFFFF, 0xFF000000), 0xFF808080u);
    // Over a transparent background the coverage becomes the foreground's.
    EXPECT_EQ(AlphaOf(BlendDraw(0x80FFFFFF, 0x00000000)), 0x80);
}

TEST(MergeOver, CompositesStraightAlpha) {
    // Over nothing the foreground comes through as it is.
    EXPECT_EQ(MergeOver(0x80FF8040, 0x00000000), 0x80FF8040u);
    // Over an opaque background it agrees with the drawing blend.
    EXPECT_EQ(MergeOver(0x80FF8040, 0xFF204060), BlendDraw(0x80FF8040, 0xFF204060));
    // Two half-covered layers of the same colour keep the colour, coverage 1 - 1/4.
    const TColor32 both = MergeOver(0x80FF0000, 0x80FF0000);
    EXPECT_EQ(both & 0x00FFFFFF, 0x00FF0000u);
    EXPECT_NEAR(AlphaOf(both), 192, 1);
    // Master alpha scales coverage.
    EXPECT_EQ(AlphaOf(MergeOver(0xFF00FF00, 0x00000000, 128)), 128);
}

TEST(Premultiply, RoundTripKeepsColourWithinCoverageError) {
    std::vector<TColor32> px, pre(256 * 8), back(256 * 8);
    for (int a = 0; a < 256; ++a)
        for (int c : {0, 1, 77, 128, 200, 254, 255, 13})
            px.push_back(Color32(c, 255 - c, c / 2, a));
    PremultiplyRow(pre.data(), px.data(), px.size());
    UnpremultiplyRow(back.data(), pre.data(), px.size());
    for (std::size_t i = 0; i < px.size(); ++i) {
        const int a = AlphaOf(px[i]);
        ASSERT_EQ(AlphaOf(back[i]), a);
        if (a == 0) {
            EXPECT_EQ(back[i], 0u);
            continue;
        }
        // Premultiplying loses up to 255 / (2a) per channel.
        const double tolerance = 255.0 / (2 * a) + 1;
        EXPECT_LE(std::abs(RedOf(back[i]) - RedOf(px[i])), tolerance) << std::hex << px[i];
        EXPECT_LE(std::abs(GreenOf(back[i]) - GreenOf(px[i])), tolerance);
        EXPECT_LE(std::abs(BlueOf(back[i]) - BlueOf(px[i])), tolerance);
    }
    // Opaque pixels are untouched both ways.
    EXPECT_EQ(pre[255 * 8 + 2], px[255 * 8 + 2]);
}

TEST(Div255, IsRoundedDivision) {
    for (int x = 0; x <= 255 * 255 + 127; ++x) ASSERT_EQ(Div255(x), (2 * x + 255) / 510) << x;
}

} // namespace
