// Every effect against its plain per-pixel definition, pixel for pixel, on every
// step of two transitions in a row, with pictures of equal and of different sizes.
#include "EffectReference.h"

#include "app/VekRandom.h"
#include "show/TransformerByName.h"
#include "show/VekWindTransform.h"

#include <gtest/gtest.h>

#include <sstream>

#include <ostream>
#include <string>

namespace {

struct TSize {
    int W, H;
};

struct TEffectCase {
    std::string Name;
    const char* Effect;
    TRefEffect Reference;
    TSize Output, Old, New;
    bool Centered, ClippedNew, BlendedOld, BlendedNew;

    friend void PrintTo(const TEffectCase& c, std::ostream* os) { *os << c.Name; }
};

// Where two bitmaps first differ, or an empty string.
std::string FirstDifference(const TBitmap32& a, const TBitmap32& b) {
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (a.Pixel(x, y) != b.Pixel(x, y)) {
                std::ostringstream where;
                where << "(" << x << ", " << y << "): " << std::hex << a.Pixel(x, y) << " vs "
                      << b.Pixel(x, y);
                return where.str();
            }
    return {};
}

class EffectMatchesReference : public ::testing::TestWithParam<TEffectCase> {};

TEST_P(EffectMatchesReference, OnEveryStep) {
    const TEffectCase& c = GetParam();
    auto effect = TransformerByName(QString::fromUtf8(c.Effect));
    effect->Centered = c.Centered;
    TRefState reference{effect->StepCount, c.Centered, 0};

    TBitmap32 oldA = MakePicture(c.Old.W, c.Old.H, 11), newA = MakePicture(c.New.W, c.New.H, 22);
    TBitmap32 outA = MakePicture(c.Output.W, c.Output.H, 33);
    oldA.OuterColor = 0x11223344;
    newA.OuterColor = 0x55667788;
    outA.OuterColor = 0x80336699;
    if (c.ClippedNew) newA.SetClipRect({1, 2, c.New.W - 2, c.New.H - 1});
    if (c.BlendedOld) oldA.DrawMode = TDrawMode::dmBlend;
    if (c.BlendedNew) newA.DrawMode = TDrawMode::dmBlend;
    TBitmap32 oldB = oldA, newB = newA, outB = outA;

    // The second transition starts from what the first left (outer colours, clip
    // rectangles, output content).
    for (int run = 0; run < 2; ++run) {
        for (int step = 0; step <= effect->StepCount; ++step) {
            RandSeed(1000 + 50 * run + step);
            effect->DrawStep(oldA, newA, step, outA);
            RandSeed(1000 + 50 * run + step);
            RefDrawStep(c.Reference, reference, oldB, newB, step, outB);
            const std::string diff = FirstDifference(outA, outB);
            ASSERT_TRUE(diff.empty()) << "run " << run << " step " << step << ": " << diff;
            ASSERT_EQ(outA.ClipRect(), outB.ClipRect()) << "step " << step;
            ASSERT_EQ(oldA.ClipRect(), oldB.ClipRect()) << "step " << step;
            ASSERT_EQ(newA.ClipRect(), newB.ClipRect()) << "step " << step;
            ASSERT_EQ(oldA.OuterColor, oldB.OuterColor) << "step " << step;
            ASSERT_EQ(newA.OuterColor, newB.OuterColor) << "step " << step;
        }
    }
    if (c.Reference == TRefEffect::Wind) {
        EXPECT_EQ(static_cast<TVekWindTransform&>(*effect).Speed, reference.Speed);
    }
}

std::vector<TEffectCase> Cases() {
    struct TSizes {
        const char* Name;
        TSize Output, Old, New;
        bool Centered = true, ClippedNew = false, BlendedOld = false, BlendedNew = false;
    };
    const TSizes sizes[] = {
        {"Equal", {23, 17}, {23, 17}, {23, 17}},
        {"Smaller", {23, 17}, {14, 9}, {9, 13}},
        {"Larger", {16, 12}, {21, 15}, {19, 14}},
        {"Mixed", {20, 10}, {25, 6}, {8, 16}},
        {"Tall", {30, 130}, {30, 130}, {24, 120}},
        {"Wide", {67, 9}, {61, 9}, {67, 8}},
        {"Broad", {600, 4}, {590, 4}, {600, 3}}, // Wind's Speed is 2
        {"EmptyNew", {12, 9}, {10, 7}, {0, 0}},
        {"EmptyOld", {12, 9}, {0, 0}, {10, 7}},
        {"NotCentered", {20, 14}, {12, 9}, {15, 11}, false},
        {"ClippedBlendedOld", {20, 14}, {12, 14}, {17, 9}, true, true, true},
        {"BlendedBoth", {20, 14}, {18, 12}, {17, 9}, true, false, true, true},
    };
    const std::pair<const char*, TRefEffect> effects[] = {
        {"No effect", TRefEffect::None}, {"Blend", TRefEffect::Blend},
        {"Slide", TRefEffect::Slide},    {"Diagonal roll", TRefEffect::Diagonal},
        {"Rain", TRefEffect::Rain},      {"Wind", TRefEffect::Wind},
    };
    std::vector<TEffectCase> cases;
    for (const auto& [effect, reference] : effects)
        for (const TSizes& s : sizes) {
            std::string name = std::string(effect) + "_" + s.Name;
            std::erase(name, ' ');
            cases.push_back({name, effect, reference, s.Output, s.Old, s.New, s.Centered,
                             s.ClippedNew, s.BlendedOld, s.BlendedNew});
        }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Effects, EffectMatchesReference, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.Name; });

} // namespace
