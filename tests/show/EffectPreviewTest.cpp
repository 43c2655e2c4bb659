#include "show/EffectPreviewWidget.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QVBoxLayout>

#include <ostream>
#include <string>
#include <utility>

namespace {

constexpr TColor32 kRed = 0xFFFF0000;
constexpr TColor32 kGreen = 0xFF007F00;
constexpr int kWidth = 60;
constexpr int kHeight = 40;

TColor32 Centre(const TBitmap32& b) {
    return b.Pixel(b.Width() / 2, b.Height() / 2);
}

TEST(EffectPreview, OffersTheSixEffectsInOrder) {
    TEffectPreview preview;
    const QStringList expected = {"No effect", "Blend", "Slide", "Diagonal roll", "Rain", "Random"};
    EXPECT_EQ(preview.EffectNames(), expected);
    EXPECT_EQ(preview.EffectIndex(), -1);
    EXPECT_FALSE(preview.EffectRunning());
    EXPECT_FALSE(preview.DelayRunning());
}

TEST(EffectPreview, IndexOutsideTheListMeansNone) {
    TEffectPreview preview;
    for (const int index : {0, 5, 3}) {
        preview.SetEffectIndex(index);
        EXPECT_EQ(preview.EffectIndex(), index);
    }
    for (const int index : {6, -2, 100}) {
        preview.SetEffectIndex(index);
        EXPECT_EQ(preview.EffectIndex(), -1) << index;
    }
}

struct TRunCase {
    int Index;
    const char* Name;
    int StepCount;
};

void PrintTo(const TRunCase& c, std::ostream* os) {
    *os << c.Name;
}

class EffectPreviewRun : public testing::TestWithParam<TRunCase> {};

// Steps 0 ... StepCount, a rest, then the same way back from green to red.
TEST_P(EffectPreviewRun, DrawsEveryStepRestsAndRunsBack) {
    const TRunCase& c = GetParam();
    TEffectPreview preview;
    preview.resize(kWidth, kHeight);
    preview.SetEffectIndex(c.Index);
    preview.Start();
    ASSERT_EQ(preview.EffectNames()[c.Index], c.Name);

    for (const auto& [from, to] : {std::pair{kRed, kGreen}, std::pair{kGreen, kRed}}) {
        ASSERT_TRUE(preview.EffectRunning());
        ASSERT_FALSE(preview.DelayRunning());
        ASSERT_EQ(preview.Step(), 0);
        for (int frame = 0; frame <= c.StepCount; ++frame) {
            preview.EffectTimerTimer();
            EXPECT_EQ(preview.Step(), frame + 1);
            EXPECT_TRUE(preview.EffectRunning()) << "frame " << frame;
            EXPECT_FALSE(preview.DelayRunning()) << "frame " << frame;
            if (frame == 0) {
                EXPECT_EQ(Centre(preview.Output()), from);
                EXPECT_EQ(preview.Output().Pixel(0, 0), clBlack32) << "the margin";
            }
        }
        EXPECT_EQ(Centre(preview.Output()), to) << "after step " << c.StepCount;

        // The tick after the last step swaps the pictures and rests.
        preview.EffectTimerTimer();
        EXPECT_EQ(preview.Step(), 0);
        EXPECT_FALSE(preview.EffectRunning());
        EXPECT_TRUE(preview.DelayRunning());
        EXPECT_EQ(Centre(preview.PictureA()), to);
        EXPECT_EQ(Centre(preview.PictureB()), from);
        EXPECT_EQ(Centre(preview.Output()), to) << "the rest draws nothing";

        preview.DelayTimerTimer();
        EXPECT_TRUE(preview.EffectRunning());
        EXPECT_FALSE(preview.DelayRunning());
    }
}

INSTANTIATE_TEST_SUITE_P(EffectPreview, EffectPreviewRun,
                         testing::Values(TRunCase{0, "No effect", 2}, TRunCase{1, "Blend", 10},
                                         TRunCase{2, "Slide", 26}, TRunCase{3, "Diagonal roll", 26},
                                         TRunCase{4, "Rain", 26}, TRunCase{5, "Random", 26}),
                         [](const testing::TestParamInfo<TRunCase>& info) {
                             std::string name = info.param.Name;
                             std::erase(name, ' ');
                             return name;
                         });

TEST(EffectPreview, BlendGoesThroughMixedFrames) {
    TEffectPreview preview;
    preview.resize(kWidth, kHeight);
    preview.SetEffectIndex(1);
    preview.Start();
    for (int frame = 0; frame <= 5; ++frame) preview.EffectTimerTimer();
    // Step 5 of 10: half red, half green.
    const TColor32 mid = Centre(preview.Output());
    EXPECT_NEAR(RedOf(mid), 127, 1);
    EXPECT_NEAR(GreenOf(mid), 64, 1);
    EXPECT_EQ(BlueOf(mid), 0);
}

TEST(EffectPreview, PicturesAreTenPixelsSmallerAndFollowTheSize) {
    TEffectPreview preview;
    preview.resize(kWidth, kHeight);
    preview.SetEffectIndex(0);
    preview.EffectTimerTimer();
    EXPECT_EQ(preview.Output().Width(), kWidth);
    EXPECT_EQ(preview.Output().Height(), kHeight);
    EXPECT_EQ(preview.PictureA().Width(), kWidth - 10);
    EXPECT_EQ(preview.PictureA().Height(), kHeight - 10);
    EXPECT_EQ(preview.PictureB().Width(), kWidth - 10);
    EXPECT_EQ(preview.PictureB().Height(), kHeight - 10);
    EXPECT_EQ(preview.PictureA().Pixel(0, 0), kRed);
    EXPECT_EQ(preview.PictureB().Pixel(0, 0), kGreen);
    // Centred: a 5 pixel black margin all round.
    EXPECT_EQ(preview.Output().Pixel(4, 4), clBlack32);
    EXPECT_EQ(preview.Output().Pixel(5, 5), kRed);
    EXPECT_EQ(preview.Output().Pixel(kWidth - 6, kHeight - 6), kRed);
    EXPECT_EQ(preview.Output().Pixel(kWidth - 5, kHeight - 5), clBlack32);

    // Run to the swap, then resize: fresh pictures, the transition starts again.
    for (int i = 0; i < 3; ++i) preview.EffectTimerTimer(); // steps 1, 2, swap
    ASSERT_EQ(Centre(preview.PictureA()), kGreen);
    preview.resize(80, 50);
    preview.EffectTimerTimer();
    EXPECT_EQ(preview.PictureA().Width(), 70);
    EXPECT_EQ(preview.PictureA().Height(), 40);
    EXPECT_EQ(Centre(preview.PictureA()), kRed);
    EXPECT_EQ(Centre(preview.Output()), kRed);
    EXPECT_EQ(preview.Step(), 1);
}

TEST(EffectPreview, TinyBoxHasEmptyPicturesAndStillRuns) {
    TEffectPreview preview;
    preview.resize(8, 4);
    preview.SetEffectIndex(3);
    preview.Start();
    for (int i = 0; i <= 27; ++i) preview.EffectTimerTimer();
    EXPECT_TRUE(preview.PictureA().Empty());
    EXPECT_TRUE(preview.DelayRunning());
    EXPECT_EQ(preview.Output().Pixel(0, 0), clBlack32);
}

TEST(EffectPreview, WithoutEffectOnlyRests) {
    TEffectPreview preview;
    preview.resize(kWidth, kHeight);
    preview.Start();
    preview.EffectTimerTimer();
    EXPECT_FALSE(preview.EffectRunning());
    EXPECT_TRUE(preview.DelayRunning());
    EXPECT_EQ(preview.Step(), 0);
    EXPECT_EQ(Centre(preview.Output()), kRed);
    preview.DelayTimerTimer();
    EXPECT_TRUE(preview.EffectRunning());
    EXPECT_FALSE(preview.DelayRunning());
}

TEST(EffectPreview, ChoosingAnotherEffectStartsFromStepZero) {
    TEffectPreview preview;
    preview.resize(kWidth, kHeight);
    preview.SetEffectIndex(2);
    preview.Start();
    for (int i = 0; i < 5; ++i) preview.EffectTimerTimer();
    ASSERT_EQ(preview.Step(), 5);
    preview.SetEffectIndex(1);
    EXPECT_EQ(preview.Step(), 0);
    preview.EffectTimerTimer();
    EXPECT_EQ(preview.Step(), 1);
    EXPECT_EQ(Centre(preview.Output()), kRed);
}

TEST(EffectPreview, StartAndStopSwitchTheTimers) {
    TEffectPreview preview;
    preview.resize(kWidth, kHeight);
    preview.SetEffectIndex(-1);
    preview.Start();
    preview.EffectTimerTimer(); // now resting
    ASSERT_TRUE(preview.DelayRunning());
    preview.Start();
    EXPECT_TRUE(preview.EffectRunning());
    EXPECT_FALSE(preview.DelayRunning()) << "a start cuts the rest short";
    preview.EffectTimerTimer();
    preview.Stop();
    EXPECT_FALSE(preview.EffectRunning());
    EXPECT_FALSE(preview.DelayRunning());

    preview.SetEffectIndex(1);
    preview.Start();
    for (int i = 0; i < 3; ++i) preview.EffectTimerTimer();
    preview.Start();
    EXPECT_EQ(preview.Step(), 0);
}

TEST(EffectPreview, RunsOnlyWhileVisible) {
    QWidget page;
    auto* layout = new QVBoxLayout(&page);
    auto* preview = new TEffectPreview(&page);
    preview->setFixedSize(kWidth, kHeight);
    layout->addWidget(preview);
    preview->SetEffectIndex(1);
    EXPECT_FALSE(preview->EffectRunning());
    page.show();
    EXPECT_TRUE(preview->EffectRunning());
    EXPECT_EQ(preview->Step(), 0);
    preview->EffectTimerTimer();
    preview->EffectTimerTimer();
    page.hide();
    EXPECT_FALSE(preview->EffectRunning());
    EXPECT_FALSE(preview->DelayRunning());
    page.show();
    EXPECT_TRUE(preview->EffectRunning());
    EXPECT_EQ(preview->Step(), 0) << "showing again starts from the first step";
    preview->hide();
    EXPECT_FALSE(preview->EffectRunning());
}

TEST(EffectPreview, ThreadedTimersDriveIt) {
    QWidget page;
    auto* preview = new TEffectPreview(&page);
    preview->setGeometry(0, 0, kWidth, kHeight);
    preview->SetEffectIndex(1);
    page.show();
    // Waits for deliveries, not for a time: the ticks arrive through the event loop.
    EXPECT_TRUE(pictrel::test::PumpUntil([&] { return preview->DelayRunning(); }));
    EXPECT_EQ(Centre(preview->Output()), kGreen);
    EXPECT_TRUE(pictrel::test::PumpUntil([&] { return preview->Step() > 0; }));
    EXPECT_TRUE(preview->EffectRunning());
}

TEST(EffectPreview, PaintsTheOutput) {
    TEffectPreview preview;
    preview.resize(kWidth, kHeight);
    preview.SetEffectIndex(1);
    for (int i = 0; i <= 6; ++i) preview.EffectTimerTimer();
    const QImage shown = preview.grab().toImage();
    ASSERT_EQ(shown.size(), QSize(kWidth, kHeight));
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{kWidth / 2, kHeight / 2}, std::pair{7, 6},
                               std::pair{kWidth - 1, kHeight - 1}})
        EXPECT_EQ(shown.pixel(x, y) & 0xFFFFFF, preview.Output().Pixel(x, y) & 0xFFFFFF)
            << x << "," << y;
}

} // namespace
