#include "layers/VekHistogramLayer.h"

#include "common/TestSupport.h"
#include "gfx/Bitmap32.h"
#include "layers/LayerPaint.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <cmath>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace {

using TPixelFn = std::function<TColor32(int x, int y)>;

TBitmap32 MakeBitmap(int w, int h, const TPixelFn& pixel) {
    TBitmap32 b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.SetPixel(x, y, pixel(x, y));
    return b;
}

TColor32 Grey(int v) {
    return Color32(v, v, v);
}

// ---- Intensity -----------------------------------------------------------------

TEST(HistogramIntensity, EqualsRoundedWeightedSumForEveryColour) {
    long ties = 0;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) {
                const int fast = HistogramIntensity(r, g, b);
                const double sum = 0.3 * r + 0.59 * g + 0.11 * b;
                if ((30 * r + 59 * g + 11 * b) % 100 == 50) {
                    // Exactly halfway: the floating-point sum misses the half by its
                    // representation error; the exact value rounds up.
                    ++ties;
                    ASSERT_NEAR(sum, fast - 0.5, 1e-9) << r << ' ' << g << ' ' << b;
                } else {
                    ASSERT_EQ(fast, std::lround(sum)) << r << ' ' << g << ' ' << b;
                }
            }
    EXPECT_EQ(ties, 167836);
}

// ---- Count and verdict ---------------------------------------------------------

struct TVerdictCase {
    const char* Name;
    int Width, Height;
    TPixelFn Pixel;
    std::uint8_t Advice;
};

class HistogramVerdictTest : public ::testing::TestWithParam<TVerdictCase> {};

TEST_P(HistogramVerdictTest, JudgesPicture) {
    const TVerdictCase& c = GetParam();
    const TBitmap32 bitmap = MakeBitmap(c.Width, c.Height, c.Pixel);
    TAnalyzeHystrogramThread worker(&bitmap);
    worker.Execute();
    EXPECT_FALSE(worker.Stopped());
    EXPECT_EQ(worker.Advice, c.Advice);
    EXPECT_EQ(TVekHistogramLayer::AdviceText(worker.Advice).isEmpty(), false);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, HistogramVerdictTest,
    ::testing::Values(
        TVerdictCase{"FlatGrey", 64, 48, [](int, int) { return Grey(128); }, 5},
        TVerdictCase{"HalfBlackHalfWhite", 64, 48,
                     [](int x, int) { return Grey(x < 32 ? 0 : 255); }, 2},
        TVerdictCase{"Ramp10To245", 236, 4, [](int x, int) { return Grey(10 + x); }, 5},
        TVerdictCase{"Ramp3To252", 250, 4, [](int x, int) { return Grey(3 + x); }, 2},
        // Red and blue: the channels reach 0 and 255, the intensities 77 and 28.
        TVerdictCase{"RedAndBlue", 64, 48,
                     [](int x, int) { return x < 32 ? Color32(255, 0, 0) : Color32(0, 0, 255); },
                     1},
        // Intensities 5 and 250 reach both ends at i = 5; no channel holds 5 nor 255,
        // and the zeros have no 255 to pair with.
        TVerdictCase{"DarkRedAndLightGrey", 64, 48,
                     [](int x, int) { return x < 32 ? Color32(18, 0, 0) : Grey(250); }, 4},
        TVerdictCase{"SinglePixel", 1, 1, [](int, int) { return Color32(10, 200, 30); }, 5}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(HistogramCount, SinglePixelAdds6000ToOneBinPerChannel) {
    const TBitmap32 bitmap = MakeBitmap(1, 1, [](int, int) { return Color32(10, 200, 30, 7); });
    TAnalyzeHystrogramThread worker(&bitmap);
    worker.Execute();
    const int gray = (300 + 11800 + 330 + 50) / 100; // 124
    const std::pair<const THistogramBins*, int> spikes[] = {
        {&worker.Red, 10}, {&worker.Green, 200}, {&worker.Blue, 30}, {&worker.Gray, gray}};
    for (const auto& [bins, at] : spikes)
        for (int v = 0; v < 256; ++v) EXPECT_EQ((*bins)[std::size_t(v)], v == at ? 6000.0f : 0.0f);
}

TEST(HistogramCount, OddSizedPictureSums6000PerChannelAndMatchesCounts) {
    // Large enough for both halves to be counted on their own threads.
    const int w = 301, h = 257;
    const TPixelFn pixel = [](int x, int y) {
        return Color32((x * 5 + y) & 255, (x ^ y) & 255, (x * y) & 255);
    };
    const TBitmap32 bitmap = MakeBitmap(w, h, pixel);
    TAnalyzeHystrogramThread worker(&bitmap);
    worker.Execute();

    std::vector<int> red(256), green(256), blue(256), gray(256);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const TColor32 c = pixel(x, y);
            ++red[RedOf(c)];
            ++green[GreenOf(c)];
            ++blue[BlueOf(c)];
            ++gray[HistogramIntensity(RedOf(c), GreenOf(c), BlueOf(c))];
        }
    const std::pair<const THistogramBins*, const std::vector<int>*> channels[] = {
        {&worker.Red, &red}, {&worker.Green, &green}, {&worker.Blue, &blue}, {&worker.Gray, &gray}};
    for (const auto& [bins, counts] : channels) {
        EXPECT_NEAR(std::accumulate(bins->begin(), bins->end(), 0.0), 6000.0, 0.01);
        for (std::size_t v = 0; v < 256; ++v)
            EXPECT_NEAR((*bins)[v], (*counts)[v] * 6000.0 / (w * h), 1e-3) << v;
    }
}

TEST(HistogramCount, NoPictureEndsStopped) {
    const TBitmap32 empty;
    for (const TBitmap32* bitmap : {static_cast<const TBitmap32*>(nullptr), &empty}) {
        TAnalyzeHystrogramThread worker(bitmap);
        worker.Execute();
        EXPECT_TRUE(worker.Stopped());
        EXPECT_EQ(worker.Advice, 0);
    }
}

TEST(HistogramCount, StopRequestEmptiesArrays) {
    const TBitmap32 bitmap = MakeBitmap(40, 30, [](int x, int) { return Grey(x * 6); });
    TAnalyzeHystrogramThread worker(&bitmap);
    worker.Stop();
    worker.Execute();
    EXPECT_EQ(worker.Advice, 0);
    for (const THistogramBins* bins : {&worker.Red, &worker.Green, &worker.Blue, &worker.Gray})
        EXPECT_EQ(std::accumulate(bins->begin(), bins->end(), 0.0f), 0.0f);
}

// ---- Panel ---------------------------------------------------------------------

using Rects = std::vector<TRect>;

class HistogramLayerFixture : public ::testing::Test {
protected:
    HistogramLayerFixture() {
        collection.OnInvalidate = [this](const TRect& r) { invalidated.push_back(r); };
    }

    void AnalyzeAndWait(const TBitmap32* bitmap) {
        layer.Analyze(bitmap);
        ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !layer.Counting(); }));
    }

    TLayerCollection collection;
    TVekHistogramLayer layer{collection};
    Rects invalidated;
};

TEST_F(HistogramLayerFixture, Defaults) {
    EXPECT_EQ(layer.Caption, "Histogram");
    EXPECT_FALSE(layer.ShowRed());
    EXPECT_FALSE(layer.ShowGreen());
    EXPECT_FALSE(layer.ShowBlue());
    EXPECT_TRUE(layer.ShowGray());
    EXPECT_TRUE(layer.ShowAdvice);
    EXPECT_EQ(layer.Advice(), 0);
    EXPECT_FALSE(layer.Preparing());
    EXPECT_FALSE(layer.RestartPending());
    EXPECT_TRUE(layer.GrayCurve().empty());
    EXPECT_EQ(layer.CaptionHeight, 25);
}

struct TFlagCase {
    const char* Name;
    void (TVekHistogramLayer::*Set)(bool);
    bool (TVekHistogramLayer::*Get)() const;
};

class HistogramFlagTest : public HistogramLayerFixture,
                          public ::testing::WithParamInterface<TFlagCase> {};

TEST_P(HistogramFlagTest, SetterRepaintsClientOnlyOnChange) {
    const TFlagCase& c = GetParam();
    const bool initial = (layer.*c.Get)();
    (layer.*c.Set)(initial);
    EXPECT_TRUE(invalidated.empty());
    (layer.*c.Set)(!initial);
    EXPECT_EQ((layer.*c.Get)(), !initial);
    EXPECT_EQ(invalidated, (Rects{layer.ClientRect()}));
}

INSTANTIATE_TEST_SUITE_P(
    Flags, HistogramFlagTest,
    ::testing::Values(
        TFlagCase{"Red", &TVekHistogramLayer::SetShowRed, &TVekHistogramLayer::ShowRed},
        TFlagCase{"Green", &TVekHistogramLayer::SetShowGreen, &TVekHistogramLayer::ShowGreen},
        TFlagCase{"Blue", &TVekHistogramLayer::SetShowBlue, &TVekHistogramLayer::ShowBlue},
        TFlagCase{"Gray", &TVekHistogramLayer::SetShowGray, &TVekHistogramLayer::ShowGray}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(HistogramLayerFixture, AnalyzeBuildsCurvesAndVerdict) {
    const TBitmap32 bitmap = MakeBitmap(64, 48, [](int x, int) { return Grey(x < 32 ? 0 : 255); });
    layer.Analyze(&bitmap);
    EXPECT_TRUE(layer.Preparing());
    EXPECT_EQ(invalidated, (Rects{layer.ClientRect()}));
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !layer.Counting(); }));
    EXPECT_FALSE(layer.Preparing());
    EXPECT_EQ(layer.Advice(), 2);
    ASSERT_EQ(layer.GrayCurve().size(), 256u);
    EXPECT_EQ(layer.GrayCurve()[0], (TFixedPoint{0, -3000 * kFixedOne}));
    EXPECT_EQ(layer.GrayCurve()[128], (TFixedPoint{128 * kFixedOne, 0}));
    EXPECT_EQ(layer.RedCurve()[255], (TFixedPoint{255 * kFixedOne, -3000 * kFixedOne}));
    EXPECT_EQ(invalidated.size(), 2u);
}

// Several requests during one count: only the last picture's curves remain.
class HistogramRestartTest : public HistogramLayerFixture,
                             public ::testing::WithParamInterface<int> {};

TEST_P(HistogramRestartTest, OnlyNewestRequestSurvives) {
    const int calls = GetParam();
    std::vector<TBitmap32> bitmaps;
    for (int i = 0; i < calls; ++i) {
        const int red = 40 + 50 * i;
        bitmaps.push_back(MakeBitmap(400, 300, [=](int, int) { return Color32(red, 7, 9); }));
    }
    for (int i = 0; i < calls; ++i) {
        layer.Analyze(&bitmaps[std::size_t(i)]);
        // The worker delivers only through the event loop, so it is still the running one.
        EXPECT_EQ(layer.RestartPending(), i > 0);
        EXPECT_TRUE(layer.RedCurve().empty());
    }
    bitmaps.clear(); // the panel counts its own copies
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !layer.Counting(); }));
    EXPECT_FALSE(layer.RestartPending());
    EXPECT_FALSE(layer.Preparing());
    ASSERT_EQ(layer.RedCurve().size(), 256u);
    const int newest = 40 + 50 * (calls - 1);
    for (int v = 0; v < 256; ++v)
        EXPECT_EQ(layer.RedCurve()[std::size_t(v)].Y, v == newest ? -6000 * kFixedOne : 0) << v;
}

INSTANTIATE_TEST_SUITE_P(Calls, HistogramRestartTest, ::testing::Values(1, 2, 3));

TEST_F(HistogramLayerFixture, NoPictureKeepsPreparing) {
    const TBitmap32 bitmap = MakeBitmap(8, 8, [](int, int) { return Grey(90); });
    AnalyzeAndWait(&bitmap);
    ASSERT_FALSE(layer.Preparing());
    AnalyzeAndWait(nullptr);
    EXPECT_TRUE(layer.Preparing());
    EXPECT_TRUE(layer.GrayCurve().empty());
}

TEST(HistogramLayer, DestroyedDuringCountGetsNoDelivery) {
    const TBitmap32 bitmap =
        MakeBitmap(1500, 1000, [](int x, int y) { return Grey((x + y) & 255); });
    TLayerCollection collection;
    Rects invalidated;
    collection.OnInvalidate = [&](const TRect& r) { invalidated.push_back(r); };
    auto layer = std::make_unique<TVekHistogramLayer>(collection);
    layer->Analyze(&bitmap);
    layer->Analyze(&bitmap);
    layer.reset(); // stops and waits for the worker
    const std::size_t seen = invalidated.size();
    QCoreApplication::processEvents(); // runs whatever was posted before
    EXPECT_EQ(invalidated.size(), seen);
}

TEST_F(HistogramLayerFixture, SettingsRoundTrip) {
    const QString key = QStringLiteral("Software\\PictrelLayersTest\\histogram");
    layer.Location = {10.5f, 20, 300, 240.25f};
    layer.SetShowRed(true);
    layer.SetShowGreen(true);
    layer.SetShowBlue(true);
    layer.SetShowGray(false);
    layer.ShowAdvice = false;
    layer.SaveSettings(TRegRoot::rrCurrentUser, key);

    TLayerCollection other;
    TVekHistogramLayer loaded(other);
    loaded.LoadSettings(TRegRoot::rrCurrentUser, key);
    EXPECT_EQ(loaded.Location, layer.Location);
    EXPECT_TRUE(loaded.ShowRed());
    EXPECT_TRUE(loaded.ShowGreen());
    EXPECT_TRUE(loaded.ShowBlue());
    EXPECT_FALSE(loaded.ShowGray());
    EXPECT_FALSE(loaded.ShowAdvice);

    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(key, false));
    for (const char* name : {"show red", "show green", "show blue", "show gray", "show comment"})
        EXPECT_EQ(reg.GetDataType(name), TRegDataType::rdInteger) << name;
}

// ---- Painting ------------------------------------------------------------------

// A panel whose plot is 255 pixels wide, so one bin value is one pixel of height.
class HistogramPaintTest : public HistogramLayerFixture {
protected:
    HistogramPaintTest() {
        layer.SetWidth(255 + 2 * 6 + 2);
        layer.SetHeight(200);
        layer.SetShowGray(false);
    }

    TBitmap32 Painted() {
        TBitmap32 buffer(300, 220);
        buffer.Clear(clWhite32);
        collection.Paint(buffer);
        return buffer;
    }

    // The plot rectangle for the panel at (0, 0).
    TRect Plot(bool advice) const {
        const int fontHeight = FontHeight(LayerFont(8));
        return {7, 33, 262, 193 - (advice ? fontHeight + 2 : 0)};
    }

    static bool Dark(TColor32 c) { return std::max({RedOf(c), GreenOf(c), BlueOf(c)}) < 110; }

    static int DarkPixels(const TBitmap32& b, const TRect& r) {
        int n = 0;
        for (int y = r.Top; y < r.Bottom; ++y)
            for (int x = r.Left; x < r.Right; ++x) n += Dark(b.Pixel(x, y));
        return n;
    }
};

TEST_F(HistogramPaintTest, NoChannelShownLeavesClientEmpty) {
    const TBitmap32 before = Painted();
    const TBitmap32 bitmap = MakeBitmap(64, 48, [](int x, int) { return Grey(x * 4); });
    AnalyzeAndWait(&bitmap);
    ASSERT_NE(layer.Advice(), 0); // a verdict, but no line for it either
    const TBitmap32 after = Painted();
    for (int y = 0; y < after.Height(); ++y)
        for (int x = 0; x < after.Width(); ++x)
            ASSERT_EQ(after.Pixel(x, y), before.Pixel(x, y)) << x << ',' << y;
}

TEST_F(HistogramPaintTest, IntensityCurveDarkensPopulatedBins) {
    // A ramp over all 256 values: every bin holds 6000 / 256, about 23 pixels high.
    const TBitmap32 bitmap = MakeBitmap(256, 4, [](int x, int) { return Grey(x); });
    AnalyzeAndWait(&bitmap);
    layer.SetShowGray(true);
    const TBitmap32 buffer = Painted();
    const TRect p = Plot(true);
    const TColor32 inside = buffer.Pixel(p.Left + 128, p.Bottom - 4);
    const TColor32 above = buffer.Pixel(p.Left + 128, p.Bottom - 40);
    EXPECT_LT(GreenOf(inside) + 40, GreenOf(above));
    EXPECT_EQ(RedOf(above), BlueOf(above)); // the panel's silver, no colour
}

TEST_F(HistogramPaintTest, PreparingTextCentred) {
    AnalyzeAndWait(nullptr);
    const TBitmap32 buffer = Painted();
    const TRect client = layer.ClientRect();
    const int middle = (client.Top + client.Bottom) / 2;
    EXPECT_GT(DarkPixels(buffer, {client.Left, middle - 4, client.Right, middle + 4}), 10);
    EXPECT_EQ(DarkPixels(buffer, {client.Left, client.Top, client.Right, middle - 15}), 0);
}

class HistogramAdviceLineTest : public HistogramPaintTest,
                                public ::testing::WithParamInterface<bool> {};

TEST_P(HistogramAdviceLineTest, VerdictDrawnOnlyWhenShown) {
    layer.ShowAdvice = GetParam();
    layer.SetShowRed(true); // red curves draw no dark pixels
    const TBitmap32 bitmap = MakeBitmap(64, 48, [](int x, int) { return Grey(x < 32 ? 0 : 255); });
    AnalyzeAndWait(&bitmap);
    const TBitmap32 buffer = Painted();
    const TRect p = Plot(true);
    // The verdict's line, away from the spikes at both ends of the plot.
    const TRect line{p.Left + 3, p.Bottom + 2, p.Right - 3, 199};
    if (GetParam())
        EXPECT_GT(DarkPixels(buffer, line), 20);
    else
        EXPECT_EQ(DarkPixels(buffer, line), 0);
}

INSTANTIATE_TEST_SUITE_P(ShowAdvice, HistogramAdviceLineTest, ::testing::Bool());

} // namespace
