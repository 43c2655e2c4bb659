// Hand-computed frames and the behaviour of single effects.
#include "EffectReference.h"

#include "app/VekRandom.h"
#include "gfx/BlendOps.h"
#include "show/TransformHelpers.h"
#include "show/TransformerByName.h"
#include "show/VekRandomTransform.h"
#include "show/VekWindTransform.h"

#include <gtest/gtest.h>

#include <set>
#include <typeinfo>

namespace {

constexpr TColor32 kRed = 0xFFFF0000, kBlue = 0xFF0000FF, kBlack = 0xFF000000;

TBitmap32 Filled(int w, int h, TColor32 c) {
    TBitmap32 b(w, h);
    b.Clear(c);
    return b;
}

std::unique_ptr<TCustomVekTransformer> Named(const char* name) {
    return TransformerByName(QString::fromUtf8(name));
}

// Every pixel of `out` equals expect(x, y).
template <class F>
::testing::AssertionResult Frame(const TBitmap32& out, F expect) {
    for (int y = 0; y < out.Height(); ++y)
        for (int x = 0; x < out.Width(); ++x)
            if (out.Pixel(x, y) != TColor32(expect(x, y)))
                return ::testing::AssertionFailure()
                       << "(" << x << ", " << y << ") is " << std::hex << out.Pixel(x, y)
                       << ", expected " << TColor32(expect(x, y));
    return ::testing::AssertionSuccess();
}

TEST(NoEffect, OldAtZeroNothingAtOneNewAtTwo) {
    auto effect = Named("No effect");
    TBitmap32 oldPicture = Filled(4, 2, kRed), newPicture = Filled(2, 2, kBlue), out(6, 4);
    const auto inside = [](int x, int y, int l, int r) {
        return x >= l && x < r && y >= 1 && y < 3;
    };
    effect->DrawStep(oldPicture, newPicture, 0, out);
    EXPECT_TRUE(Frame(out, [&](int x, int y) { return inside(x, y, 1, 5) ? kRed : kBlack; }));
    out.SetPixel(0, 0, 0x12345678);
    effect->DrawStep(oldPicture, newPicture, 1, out);
    EXPECT_EQ(out.Pixel(0, 0), 0x12345678u);
    effect->DrawStep(oldPicture, newPicture, 2, out);
    EXPECT_TRUE(Frame(out, [&](int x, int y) { return inside(x, y, 2, 4) ? kBlue : kBlack; }));
}

TEST(Blend, HalfwayUsesWeight128) {
    auto effect = Named("Blend");
    TBitmap32 oldPicture = Filled(2, 2, kBlack), newPicture = Filled(2, 2, clWhite32), out(2, 2);
    effect->DrawStep(oldPicture, newPicture, 0, out);
    effect->DrawStep(oldPicture, newPicture, 5, out);
    // Round(127.5) = 128: w = 129 * 255 div 256 = 128 -> 0x80 (weight 127 would give 0x7F).
    EXPECT_TRUE(Frame(out, [](int, int) { return 0xFF808080u; }));
}

TEST(Slide, RightColumnsFirstThenRepairsTheStripBehind) {
    auto effect = Named("Slide");
    TBitmap32 oldPicture = Filled(10, 4, kRed), newPicture(4, 4), out(10, 4);
    const auto column = [](int j) { return Color32(0, 60 * j + 10, 0); };
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) newPicture.SetPixel(x, y, column(x));
    effect->DrawStep(oldPicture, newPicture, 0, out);
    int repaired = 0;
    for (int step = 1; step < effect->StepCount; ++step) {
        effect->DrawStep(oldPicture, newPicture, step, out);
        // Centred at 10 div 2 - 4 div 2 = 3, the picture travels 3 + 4 columns.
        const int right = int(RoundHalfEven(step * 7, 26)), left = right - 4;
        repaired += left > 0;
        ASSERT_TRUE(Frame(
            out, [&](int x, int) { return x >= left && x < right ? column(x - left) : kRed; }))
            << "step " << step; // no trail is left behind
    }
    EXPECT_GT(repaired, 5);
}

TEST(DiagonalRoll, FinishesBySecondToLastStepForEqualSizes) {
    auto effect = Named("Diagonal roll");
    // d = (60 + 35) div 24 + 1 = 4; the far corner is diagonal 59 + 34 = 93, reached at step 24.
    TBitmap32 oldPicture = Filled(60, 35, kBlack), newPicture = MakePicture(60, 35, 9, true);
    TBitmap32 out(60, 35);
    for (int step = 0; step <= 23; ++step) effect->DrawStep(oldPicture, newPicture, step, out);
    EXPECT_EQ(out.Pixel(59, 34), kBlack);
    effect->DrawStep(oldPicture, newPicture, 24, out);
    // Weight 255 - Round(1 / 4 * 255) = 191.
    EXPECT_EQ(out.Pixel(59, 34), BlendEx(newPicture.Pixel(59, 34), kBlack, 191));
    effect->DrawStep(oldPicture, newPicture, 25, out);
    EXPECT_TRUE(Frame(out, [&](int x, int y) { return newPicture.Pixel(x, y); }));
}

TEST(Rain, DrawsOneNumberPerColumnIncludingTheRightEdge) {
    auto effect = Named("Rain");
    TBitmap32 oldPicture = MakePicture(9, 40, 1), newPicture = MakePicture(9, 40, 2), out(15, 40);
    effect->DrawStep(oldPicture, newPicture, 0, out);
    RandSeed(77);
    effect->DrawStep(oldPicture, newPicture, 3, out);
    const int next = Random(1000);
    RandSeed(77);
    for (int column = 3; column <= 12; ++column) (void)Random(50);
    EXPECT_EQ(Random(1000), next);
    EXPECT_EQ(out.ClipRect(), TRect(3, 0, 12, 40)); // the union of both pictures
}

// A drop reaches up to 50 logical pixels below the front: 100 device pixels at a ratio
// of 2 (at 1, the reference frames hold).
TEST(Rain, DropsAreAsLongInLogicalPixelsAtAnyRatio) {
    auto effect = Named("Rain");
    effect->PixelRatio = 2;
    TBitmap32 oldPicture = Filled(40, 300, kRed), newPicture = Filled(40, 300, kBlue), out(40, 300);
    effect->DrawStep(oldPicture, newPicture, 0, out);
    RandSeed(5);
    effect->DrawStep(oldPicture, newPicture, 1, out);
    RandSeed(5);
    int longest = 0;
    for (int x = 0; x < 40; ++x) {
        const int drop = 100 - Random(100);
        longest = std::max(longest, drop);
        EXPECT_EQ(out.Pixel(x, drop - 1), kBlue) << x; // the new picture down to the drop
    }
    EXPECT_GT(longest, 50);
}

struct TSpeedCase {
    const char* Name;
    int OutputWidth, OldWidth, StepCount, Speed;
};

class WindSpeed : public ::testing::TestWithParam<TSpeedCase> {};

TEST_P(WindSpeed, FromTheOldPicturesTravel) {
    TVekWindTransform effect;
    effect.StepCount = GetParam().StepCount;
    TBitmap32 oldPicture(GetParam().OldWidth, 2), newPicture(1, 1), out(GetParam().OutputWidth, 2);
    effect.DrawStep(oldPicture, newPicture, 0, out);
    EXPECT_EQ(effect.Speed, GetParam().Speed);
}

// ((W(out) - W(old)) div 2 + W(old)) * 2 div (StepCount - 2)^2
const TSpeedCase kSpeedCases[] = {
    {"FullHd", 1920, 1920, 26, 6}, {"Narrower", 1920, 1000, 26, 5}, // 2920 div 576
    {"Wider", 1000, 1921, 26, 5},                                   // (-460 + 1921) * 2 div 576
    {"Small", 100, 60, 26, 0},     {"FewSteps", 100, 60, 6, 10},    // 160 div 16
};

INSTANTIATE_TEST_SUITE_P(Cases, WindSpeed, ::testing::ValuesIn(kSpeedCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(RandomEffect, PicksAfreshAtEveryStepZeroAndDrawsWithIt) {
    TVekRandomTransform effect;
    TBitmap32 oldPicture = MakePicture(9, 7, 1), newPicture = MakePicture(9, 7, 2), out(9, 7);
    const char* kinds[] = {"Blend", "Slide", "Diagonal roll", "Rain"};
    std::set<std::string> seen;
    for (unsigned seed = 0; seed < 24; ++seed) {
        RandSeed(seed);
        const int expected = Random(4);
        RandSeed(seed);
        effect.DrawStep(oldPicture, newPicture, 0, out);
        const TCustomVekTransformer* chosen = effect.Current.get();
        ASSERT_EQ(chosen->Name.toStdString(), kinds[expected]);
        seen.insert(kinds[expected]);
        // The same frames as the chosen effect alone; Blend ends early and then shows the new
        // picture.
        auto alone = TransformerByName(chosen->Name);
        TBitmap32 oldCopy = oldPicture, newCopy = newPicture, outCopy = out;
        for (int step = 1; step <= effect.StepCount; ++step) {
            RandSeed(seed * 100 + step);
            effect.DrawStep(oldPicture, newPicture, step, out);
            RandSeed(seed * 100 + step);
            alone->DrawStep(oldCopy, newCopy, step, outCopy);
            ASSERT_TRUE(Frame(out, [&](int x, int y) { return outCopy.Pixel(x, y); })) << step;
        }
        ASSERT_EQ(effect.Current.get(), chosen) << "only step 0 picks";
        EXPECT_TRUE(Frame(out, [&](int x, int y) { return newPicture.Pixel(x, y); }));
    }
    EXPECT_EQ(seen.size(), 4u);
}

TEST(BaseStep, ClipLeftByAnEarlierTransitionNeverCutsAPicture) {
    auto roll = Named("Diagonal roll"), blend = Named("Blend");
    TBitmap32 narrow = MakePicture(4, 10, 1, true), wide = MakePicture(20, 10, 2, true),
              out(20, 10);
    for (int step = 0; step < roll->StepCount; ++step) roll->DrawStep(narrow, narrow, step, out);
    ASSERT_EQ(out.ClipRect(), TRect(8, 0, 12, 10));
    for (int step = 0; step <= blend->StepCount; ++step) blend->DrawStep(narrow, wide, step, out);
    EXPECT_TRUE(Frame(out, [&](int x, int y) { return wide.Pixel(x, y); }));
}

struct TNameCase {
    const char* Name;
    const char* Text;
    const char* Expected; // Name of the created effect, or null for nothing
    int StepCount;
};

class TransformerByNameTable : public ::testing::TestWithParam<TNameCase> {};

TEST_P(TransformerByNameTable, CreatesTheNamedClass) {
    const TNameCase& c = GetParam();
    const auto effect = Named(c.Text);
    if (c.Expected == nullptr) {
        EXPECT_EQ(effect, nullptr);
        return;
    }
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->Name.toStdString(), c.Expected);
    EXPECT_EQ(effect->StepCount, c.StepCount);
    EXPECT_TRUE(effect->Centered);
    const auto again = TransformerByName(effect->Name); // a stored name maps back
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(typeid(*again), typeid(*effect));
}

const TNameCase kNameCases[] = {
    {"Capitals", "DIAGONAL ROLL", "Diagonal roll", 26},
    {"Empty", "", nullptr, 0},
    {"Custom", "Custom", nullptr, 0},
    {"TrailingSpace", "blend ", nullptr, 0},
    {"NoEffect", "No effect", "No effect", 2},
    {"Blend", "blend", "Blend", 10},
    {"RandomPixel", "Random Pixel", "Random Pixel", 26},
    {"Slide", "sLiDe", "Slide", 26},
    {"Rain", "Rain", "Rain", 26},
    {"Random", "RANDOM", "Random", 26},
    {"Wind", "wind", "Wind", 26},
};

INSTANTIATE_TEST_SUITE_P(Names, TransformerByNameTable, ::testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(RoundHalfEven, TiesGoToEven) {
    const std::int64_t cases[][3] = {{5 * 255, 10, 128}, {1, 2, 0},   {3, 2, 2}, {5, 2, 2},
                                     {-1, 2, 0},         {-3, 2, -2}, {4, 3, 1}, {5, 3, 2}};
    for (const auto& c : cases) EXPECT_EQ(RoundHalfEven(c[0], c[1]), c[2]) << c[0] << "/" << c[1];
}

} // namespace
