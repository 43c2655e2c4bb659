#include "layers/ResourceLoader.h"

#include "common/TestSupport.h"
#include "gfx/Bitmap32.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

struct PictureCase {
    const char* Name;
    int Width;
    int Height;
};

void PrintTo(const PictureCase& c, std::ostream* os) {
    *os << c.Name;
}

// Every picture the toolbars, progress box, panels, settings and menus ask for.
const PictureCase kPictures[] = {
    {"zBack32", 32, 32},
    {"zBack16", 16, 16},
    {"zNext32", 32, 32},
    {"zNext16", 16, 16},
    {"zZoomFit32", 32, 32},
    {"zZoomFit16", 16, 16},
    {"zZoomNo32", 32, 32},
    {"zZoomNo16", 16, 16},
    {"zRotateLeft32", 32, 32},
    {"zRotateLeft16", 16, 16},
    {"zRotateRight32", 32, 32},
    {"zRotateRight16", 16, 16},
    {"zSlideShow32", 32, 32},
    {"zSlideShow16", 16, 16},
    {"zWizard32", 32, 32},
    {"zWizard16", 16, 16},
    {"zOptions32", 32, 32},
    {"zOptions16", 16, 16},
    {"zExit32", 32, 32},
    {"zExit16", 16, 16},
    {"zPreviousFrame16", 16, 16},
    {"zNextFrame16", 16, 16},
    {"zSeparator32", 2, 32},
    {"zSeparator16", 2, 16},
    {"zMouseHover32", 38, 38},
    {"zMouseHover16", 20, 20},
    {"zClock0", 26, 26},
    {"zClock1", 26, 26},
    {"zClock2", 26, 26},
    {"zClock3", 26, 26},
    {"zClock4", 26, 26},
    {"zClock5", 26, 26},
    {"zClock6", 26, 26},
    {"zClock7", 26, 26},
    {"zOK", 16, 16},
    {"zButton", 25, 25},
    // The menu and action icons, in the order of the window's icon list.
    {"zOpenImage", 16, 16},
    {"zProperties", 16, 16},
    {"zPrevious", 16, 16},
    {"zNext", 16, 16},
    {"zRotateLeft", 16, 16},
    {"zRotateRight", 16, 16},
    {"zSlideShow", 16, 16},
    {"zSettings", 16, 16},
    {"zExit", 16, 16},
    {"zHelp", 16, 16},
    {"zPreviousFrame", 16, 16},
    {"zNextFrame", 16, 16},
    {"zPlay", 16, 16},
    {"zPause", 16, 16},
    {"zCut", 16, 16},
    {"zCopy", 16, 16},
    {"zPaste", 16, 16},
    {"zDelete", 16, 16},
    {"zFont", 16, 16},
    {"zAddImage", 16, 16},
    {"zDeleteImage", 16, 16},
    {"zSelectAllImages", 16, 16},
    {"zInverseSelection", 16, 16},
    {"zUp", 16, 16},
    {"zDown", 16, 16},
    {"zStop", 16, 16},
    {"zSaveSlideShow", 16, 16},
    {"zLoadSlideShow", 16, 16},
    {"zAddMusic", 16, 16},
    {"zDeleteMusic", 16, 16},
    {"zSelectAllMusic", 16, 16},
    {"zDesktop", 16, 16},
    {"zEdit", 16, 16},
    {"zPrint", 16, 16},
    {"zSlideShowWizard", 16, 16},
};

const char* const kToolbarBases[] = {"zBack",       "zNext",        "zZoomFit",   "zZoomNo",
                                     "zRotateLeft", "zRotateRight", "zSlideShow", "zWizard",
                                     "zOptions",    "zExit"};

int VisiblePixels(const TBitmap32& b) {
    int n = 0;
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x) n += AlphaOf(b.Pixel(x, y)) != 0;
    return n;
}

bool SamePixels(const TBitmap32& a, const TBitmap32& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (a.Pixel(x, y) != b.Pixel(x, y)) return false;
    return true;
}

TBitmap32 Picture(const char* name) {
    TBitmap32 b;
    EXPECT_TRUE(LoadPngResource(b, QString::fromLatin1(name))) << name;
    return b;
}

class PictureTest : public ::testing::TestWithParam<PictureCase> {};

TEST_P(PictureTest, LoadsAtItsSizeAndShowsSomething) {
    const PictureCase& c = GetParam();
    TBitmap32 b;
    int changes = 0;
    b.DrawMode = TDrawMode::dmBlend;
    b.OnChange = [&](TBitmap32&) { ++changes; };
    ASSERT_TRUE(LoadPngResource(b, QString::fromLatin1(c.Name)));
    EXPECT_EQ(b.Width(), c.Width);
    EXPECT_EQ(b.Height(), c.Height);
    EXPECT_GT(VisiblePixels(b), b.Width() * b.Height() / 10);
    EXPECT_EQ(b.DrawMode, TDrawMode::dmBlend); // the bitmap's own properties stay
    EXPECT_GE(changes, 1);
    // Names match in any case.
    TBitmap32 upper;
    ASSERT_TRUE(LoadPngResource(upper, QString::fromLatin1(c.Name).toUpper()));
    EXPECT_TRUE(SamePixels(b, upper));
}

INSTANTIATE_TEST_SUITE_P(ResourceLoader, PictureTest, ::testing::ValuesIn(kPictures));

TEST(ResourceLoader, MissingNamesLeaveTheBitmapAlone) {
    for (const char* name : {"", "zBack", "zPreviousFrame32", "zNextFrame32", "zClock8",
                             "zSeparator", "zBack32 ", "zBack064", "zMouseHover", "Back32"}) {
        TBitmap32 b(3, 2);
        b.Clear(0xFF123456);
        int changes = 0;
        b.OnChange = [&](TBitmap32&) { ++changes; };
        EXPECT_FALSE(LoadPngResource(b, QString::fromLatin1(name))) << name;
        EXPECT_EQ(b.Width(), 3);
        EXPECT_EQ(b.Height(), 2);
        EXPECT_EQ(b.Pixel(2, 1), 0xFF123456u);
        EXPECT_EQ(changes, 0) << name;
    }
}

TEST(ResourceLoader, ClockHandAdvancesAnEighthTurnPerFrame) {
    // Five pixels out from the centre along frame k's direction lies its dark hand;
    // the frame opposite shows the light face there.
    for (int k = 0; k < 8; ++k) {
        const double a = k * M_PI / 4;
        const int x = int(13 + 5 * std::sin(a)), y = int(13 - 5 * std::cos(a));
        const TBitmap32 frame = Picture(("zClock" + std::to_string(k)).c_str());
        const TBitmap32 opposite = Picture(("zClock" + std::to_string((k + 4) % 8)).c_str());
        EXPECT_LT(RedOf(frame.Pixel(x, y)), 128) << k;
        EXPECT_GT(RedOf(opposite.Pixel(x, y)), 200) << k;
        EXPECT_EQ(AlphaOf(opposite.Pixel(x, y)), 255) << k;
    }
}

TEST(ResourceLoader, IconsDrawAtAnySize) {
    for (const char* base : kToolbarBases) {
        for (int size : {16, 24, 32, 48}) {
            TBitmap32 b(5, 5);
            b.Clear(0xFFFFFFFF);
            ASSERT_TRUE(LoadIconResource(b, QString::fromLatin1(base).toLower(), size)) << base;
            EXPECT_EQ(b.Width(), size);
            EXPECT_EQ(b.Height(), size);
            EXPECT_GT(VisiblePixels(b), size * size / 10) << base << size;
        }
        // The toolbar pictures are the same drawing.
        TBitmap32 icon;
        ASSERT_TRUE(LoadIconResource(icon, QString::fromLatin1(base), 32));
        EXPECT_TRUE(SamePixels(icon, Picture((std::string(base) + "32").c_str()))) << base;
    }
}

TEST(ResourceLoader, MissingIconGivesATransparentSquare) {
    for (const char* name : {"zPreviousFrame", "zNextFrame", "zBack32", "zClock", ""}) {
        TBitmap32 b(4, 4);
        b.Clear(0xFF00FF00);
        EXPECT_FALSE(LoadIconResource(b, QString::fromLatin1(name), 32)) << name;
        EXPECT_EQ(b.Width(), 32);
        EXPECT_EQ(b.Height(), 32);
        EXPECT_EQ(VisiblePixels(b), 0) << name;
    }
    TBitmap32 none;
    EXPECT_FALSE(LoadIconResource(none, QStringLiteral("zBack"), 0));
    EXPECT_TRUE(none.Empty());
    EXPECT_FALSE(LoadIconResource(none, QStringLiteral("zBack"), 1 << 20));
    EXPECT_TRUE(none.Empty());
}

TEST(ResourceLoader, MarkerIsWhiteWithTheMaskAsAlpha) {
    TBitmap32 marker;
    LoadMarkerResource(marker);
    ASSERT_EQ(marker.Width(), 25);
    ASSERT_EQ(marker.Height(), 25);
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 25; ++x) ASSERT_EQ(marker.Pixel(x, y) & 0xFFFFFF, 0xFFFFFFu);
    // Black in the mask: the corner and the gap between the two arrows.
    EXPECT_EQ(AlphaOf(marker.Pixel(0, 0)), 0);
    EXPECT_EQ(AlphaOf(marker.Pixel(12, 12)), 0);
    // White in the mask: inside the upper and lower arrow heads and on the ring.
    EXPECT_EQ(AlphaOf(marker.Pixel(12, 8)), 255);
    EXPECT_EQ(AlphaOf(marker.Pixel(12, 16)), 255);
    EXPECT_GT(AlphaOf(marker.Pixel(12, 1)), 200);
    // Soft edges in between follow the mask's grey.
    const TBitmap32 mask = Picture("zButton");
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 25; ++x) {
            const int grey = RedOf(mask.Pixel(x, y));
            EXPECT_NEAR(AlphaOf(marker.Pixel(x, y)), grey, 1) << x << "," << y;
        }
}

struct GreyCase {
    TColor32 In;
    TColor32 Out;
};

class GreyOutTest : public ::testing::TestWithParam<GreyCase> {};

TEST_P(GreyOutTest, BecomesLumaWithAlphaKept) {
    TBitmap32 b(2, 1);
    b.Clear(GetParam().In);
    int changes = 0;
    b.OnChange = [&](TBitmap32&) { ++changes; };
    GreyOut(b);
    EXPECT_EQ(b.Pixel(0, 0), GetParam().Out);
    EXPECT_EQ(b.Pixel(1, 0), GetParam().Out);
    EXPECT_EQ(changes, 1);
}

INSTANTIATE_TEST_SUITE_P(ResourceLoader, GreyOutTest,
                         ::testing::Values(GreyCase{0xFFFF0000, 0xFF363636}, // red: 54
                                           GreyCase{0x80FF0000, 0x80363636}, // alpha kept
                                           GreyCase{0xFF00FF00, 0xFFB6B6B6}, // green: 182
                                           GreyCase{0x4000FF00, 0x40B6B6B6}, // alpha kept
                                           GreyCase{0xFF0000FF, 0xFF121212}, // blue: 18
                                           GreyCase{0xFFFFFFFF, 0xFFFFFFFF}, // white
                                           GreyCase{0x00FFFFFF, 0x00FFFFFF}, // invisible
                                           GreyCase{0xFF000000, 0xFF000000}, // black
                                           GreyCase{0xFF808080, 0xFF808080}, // grey stays
                                           GreyCase{0xFF000100, 0xFF010101}, // 0.715 -> 1
                                           GreyCase{0xFF030000, 0xFF010101}, // 0.638 -> 1
                                           GreyCase{0xFF020000, 0xFF000000}, // 0.425 -> 0
                                           GreyCase{0xFF000007, 0xFF010101}, // 0.505 -> 1
                                           GreyCase{0xFF000006, 0xFF000000}, // 0.433 -> 0
                                           GreyCase{0xFF102030, 0xFF1E1E1E}));

TEST(ResourceLoader, GreyOutLeavesAnEmptyBitmapAlone) {
    TBitmap32 b;
    int changes = 0;
    b.OnChange = [&](TBitmap32&) { ++changes; };
    GreyOut(b);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(changes, 0);
}

TEST(ResourceLoader, PicturesLoadOnManyThreadsAtOnce) {
    std::vector<TBitmap32> expected;
    for (const PictureCase& c : kPictures) expected.push_back(Picture(c.Name));
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (std::size_t i = 0; i < std::size(kPictures); ++i) {
                TBitmap32 b;
                if (!LoadPngResource(b, QString::fromLatin1(kPictures[i].Name)) ||
                    !SamePixels(b, expected[i]))
                    ++mismatches[t];
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// --- The background loader --------------------------------------------------

struct LoaderCase {
    const char* Base;
    int Size;
    const char* Expected; // the picture it should give, or nullptr for a transparent square
};

void PrintTo(const LoaderCase& c, std::ostream* os) {
    *os << c.Base << "@" << c.Size;
}

class LoaderTest : public ::testing::TestWithParam<LoaderCase> {};

TEST_P(LoaderTest, FillsTheTargetOnTheGuiThread) {
    const LoaderCase& c = GetParam();
    TBitmap32 target(4, 4);
    target.DrawMode = TDrawMode::dmBlend;
    target.MasterAlpha = 99;
    target.Clear(0xFFFF00FF);
    int changes = 0;
    int done = 0;
    target.OnChange = [&](TBitmap32&) { ++changes; };
    TResourceLoader loader(
        target, [&] { ++done; }, c.Size, QString::fromLatin1(c.Base));
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return done > 0; }));
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(loader.Finished());
    EXPECT_GE(changes, 1);
    EXPECT_EQ(target.DrawMode, TDrawMode::dmBlend);
    EXPECT_EQ(target.MasterAlpha, 99);
    if (c.Expected != nullptr) {
        EXPECT_TRUE(SamePixels(target, Picture(c.Expected)));
    } else {
        EXPECT_EQ(target.Width(), c.Size);
        EXPECT_EQ(target.Height(), c.Size);
        EXPECT_EQ(VisiblePixels(target), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(ResourceLoader, LoaderTest,
                         ::testing::Values(LoaderCase{"zBack", 32, "zBack32"},
                                           LoaderCase{"zExit", 16, "zExit16"},
                                           LoaderCase{"zpreviousframe", 16, "zPreviousFrame16"},
                                           LoaderCase{"zPreviousFrame", 32, nullptr},
                                           LoaderCase{"zNextFrame", 32, nullptr},
                                           LoaderCase{"zNowhere", 16, nullptr},
                                           LoaderCase{"zClock", 3, "zClock3"}));

TEST(ResourceLoader, LoaderBigIconFromTheBaseName) {
    // No "zWizard24" picture exists: the multi-size icon is drawn at 24.
    TBitmap32 target;
    bool done = false;
    TResourceLoader loader(
        target, [&] { done = true; }, 24, QStringLiteral("zWizard"));
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return done; }));
    TBitmap32 icon;
    ASSERT_TRUE(LoadIconResource(icon, QStringLiteral("zWizard"), 24));
    EXPECT_TRUE(SamePixels(target, icon));
}

TEST(ResourceLoader, LoaderDestroyedEarlyDeliversNothing) {
    TBitmap32 target(2, 2);
    target.Clear(0xFF010203);
    int changes = 0;
    int done = 0;
    target.OnChange = [&](TBitmap32&) { ++changes; };
    {
        TResourceLoader loader(
            target, [&] { ++done; }, 32, QStringLiteral("zBack"));
        // Destroyed before the GUI thread ever ran its completion.
    }
    // The worker has ended and posted its completion by now: run the queue.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(done, 0);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(target.Width(), 2);
    EXPECT_EQ(target.Pixel(1, 1), 0xFF010203u);
}

TEST(ResourceLoader, LoaderMayBeDestroyedInsideDone) {
    TBitmap32 target;
    std::unique_ptr<TResourceLoader> loader;
    int done = 0;
    loader = std::make_unique<TResourceLoader>(
        target,
        [&] {
            ++done;
            loader.reset();
        },
        16, QStringLiteral("zOptions"));
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return done > 0; }));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(done, 1);
    EXPECT_EQ(loader, nullptr);
    EXPECT_TRUE(SamePixels(target, Picture("zOptions16")));
}

TEST(ResourceLoader, LoadersRunSideBySide) {
    // Like one button: the big and the small picture at the same time, plus others.
    TBitmap32 targets[4];
    int done[4] = {};
    const LoaderCase cases[4] = {{"zSlideShow", 32, "zSlideShow32"},
                                 {"zSlideShow", 16, "zSlideShow16"},
                                 {"zRotateLeft", 32, "zRotateLeft32"},
                                 {"zNextFrame", 16, "zNextFrame16"}};
    std::vector<std::unique_ptr<TResourceLoader>> loaders;
    for (int i = 0; i < 4; ++i)
        loaders.push_back(std::make_unique<TResourceLoader>(
            targets[i], [&done, i] { ++done[i]; }, cases[i].Size,
            QString::fromLatin1(cases[i].Base)));
    ASSERT_TRUE(pictrel::test::PumpUntil([&] {
        for (const auto& l : loaders)
            if (!l->Finished()) return false;
        return true;
    }));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(done[i], 1);
        EXPECT_TRUE(SamePixels(targets[i], Picture(cases[i].Expected))) << cases[i].Expected;
    }
}

} // namespace
