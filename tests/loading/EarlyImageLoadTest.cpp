#include "loading/EarlyImageLoad.h"
#include "common/TestSupport.h"
#include "gfx/ViewerZoom.h"
#include "loading/JpegDecoder.h"
#include "loading/LoadingTestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <optional>

namespace {

using namespace pictrel::test;

class EarlyImageLoadTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_file = Save(MakePattern(64, 48).get(), FIF_PNG, m_dir.filePath("early.png"));
    }

    // The early load of the file, finished; then the file is gone, so a loader can only
    // show it by taking the early result.
    void StartAndRemove(TImageLoadRequest request) {
        request.FileName = m_file;
        m_early.emplace(std::move(request));
        ASSERT_TRUE(PumpUntil([&] { return m_early->Done(); }, 20000));
        ASSERT_TRUE(QFile::remove(m_file));
    }

    QTemporaryDir m_dir;
    QString m_file;
    std::optional<TEarlyImageLoad> m_early;
};

TEST_F(EarlyImageLoadTest, LoaderWithTheSameRequestTakesTheResultOnce) {
    TImageLoadRequest request;
    request.Settings.HalfSize = true;
    int prepared = 0;
    request.Prepare = [&](TBitmap32& picture, TDrawnPicture& drawn) {
        ++prepared;
        drawn.Bitmap.SetSize(picture.Width() / 2, picture.Height() / 2);
    };
    StartAndRemove(request);

    TVekImageLoaderPro loader;
    loader.Settings().HalfSize = true;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(m_file));
    EXPECT_EQ(loader.Status(), TImageLoaderProStatus::ilSucces);
    EXPECT_EQ(loader.Bitmap().Width(), 64);
    EXPECT_EQ(loader.Drawn().Bitmap.Width(), 32); // what the early request prepared
    EXPECT_EQ(prepared, 1);

    ASSERT_TRUE(rec.OpenAndWait(m_file)); // taken already: the file is read again
    EXPECT_EQ(loader.Status(), TImageLoaderProStatus::ilError);
}

TEST_F(EarlyImageLoadTest, OtherSettingsOrPageLoadTheFileThemselves) {
    StartAndRemove(TImageLoadRequest{});
    {
        TVekImageLoaderPro halfSize;
        halfSize.Settings().HalfSize = true; // the early request had false
        TLoaderRecorder rec(halfSize);
        ASSERT_TRUE(rec.OpenAndWait(m_file));
        EXPECT_EQ(halfSize.Status(), TImageLoaderProStatus::ilError);
    }
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(m_file, 1));
    EXPECT_EQ(loader.Status(), TImageLoaderProStatus::ilError);
    ASSERT_TRUE(rec.OpenAndWait(m_file)); // the matching request still finds it
    EXPECT_EQ(loader.Status(), TImageLoaderProStatus::ilSucces);
}

// The toolkit's own readers (SVG here) draw with the toolkit, which is still starting
// while an early load runs: such files are left to the loader.
TEST_F(EarlyImageLoadTest, ToolkitFormatsAreLeftToTheLoader) {
    QFile svg(m_dir.filePath("drawing.svg"));
    ASSERT_TRUE(svg.open(QIODevice::WriteOnly));
    svg.write("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"40\" height=\"30\">"
              "<rect width=\"40\" height=\"30\" fill=\"#f0f\"/></svg>");
    svg.close();
    m_file = svg.fileName();
    StartAndRemove(TImageLoadRequest{});
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(m_file));
    EXPECT_EQ(loader.Status(), TImageLoaderProStatus::ilError); // the early load had nothing
}

struct TQuickCase {
    int Width, Height, BoxWidth, BoxHeight, Denominator;
};

class QuickLookTest : public testing::TestWithParam<TQuickCase> {};

// The smallest reduction that still covers the fitted size, none below twice its size.
TEST_P(QuickLookTest, ReducesAsFarAsTheBoxAllows) {
    const TQuickCase& c = GetParam();
    EXPECT_EQ(QuickLookDenominator(c.Width, c.Height, c.BoxWidth, c.BoxHeight), c.Denominator);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, QuickLookTest,
    testing::Values(TQuickCase{6000, 4000, 800, 600, 4}, TQuickCase{12000, 8000, 800, 600, 8},
                    TQuickCase{1600, 1200, 800, 600, 2}, TQuickCase{1000, 800, 800, 600, 1},
                    TQuickCase{4000, 6000, 800, 600, 8}, TQuickCase{1600, 1200, 0, 600, 1}));

TEST(JpegScaledDecode, SidesAreRoundedUp) {
    QTemporaryDir dir;
    const QString file = Save(MakePattern(1001, 601).get(), FIF_JPEG, dir.filePath("odd.jpg"));
    const std::atomic<bool> stop{false};
    const struct {
        int Denominator, Width, Height;
    } cases[] = {{1, 1001, 601}, {2, 501, 301}, {4, 251, 151}, {8, 126, 76}, {3, 1001, 601}};
    for (const auto& c : cases) {
        TBitmap32 target;
        ASSERT_EQ(DecodeJpegPixels(QFile::encodeName(file), target, stop, 1, c.Denominator),
                  TJpegDecodeResult::Decoded);
        EXPECT_EQ(target.Width(), c.Width) << c.Denominator;
        EXPECT_EQ(target.Height(), c.Height) << c.Denominator;
    }
}

// The quick look lies where the whole picture's drawing does and shows the same colours.
TEST_F(EarlyImageLoadTest, AQuickLookComesFirstAndMatchesTheWholeDrawing) {
    m_file = Save(MakePattern(1600, 1200).get(), FIF_JPEG, m_dir.filePath("large.jpg"));
    TImageLoadRequest request;
    request.FileName = m_file;
    request.Prepare = MakeFitPreparation(200, 150, 0, 1);
    std::vector<TDrawnPicture> quick;
    request.Quick = {200, 150, [&](TDrawnPicture&& d) { quick.push_back(std::move(d)); }};
    const std::atomic<bool> stop{false};
    TImageLoadResult result;
    RunImageLoad(request, stop, result);
    ASSERT_EQ(result.Status, TImageLoaderProStatus::ilSucces);
    EXPECT_EQ(result.Bitmap.Width(), 1600) << "the whole picture follows";
    ASSERT_EQ(quick.size(), 1u);
    const TDrawnPicture& a = quick.front();
    const TDrawnPicture& b = result.Drawn;
    EXPECT_LE(std::abs(a.Area.Left - b.Area.Left), 1);
    EXPECT_LE(std::abs(a.Area.Top - b.Area.Top), 1);
    EXPECT_LE(std::abs(a.Area.Right - b.Area.Right), 1);
    EXPECT_LE(std::abs(a.Area.Bottom - b.Area.Bottom), 1);
    // Red and green run smoothly across the pattern (blue is a fine sawtooth).
    const auto centre = [](const TDrawnPicture& d) {
        return d.Bitmap
            .Bits()[std::size_t(d.Bitmap.Height() / 2) * d.Bitmap.Width() + d.Bitmap.Width() / 2];
    };
    const TColor32 qa = centre(a), qb = centre(b);
    EXPECT_NEAR(int((qa >> 16) & 0xFF), int((qb >> 16) & 0xFF), 6);
    EXPECT_NEAR(int((qa >> 8) & 0xFF), int((qb >> 8) & 0xFF), 6);

    // A picture not twice the box's size has none.
    quick.clear();
    request.Quick.Width = 1000;
    request.Quick.Height = 800;
    TImageLoadResult whole;
    RunImageLoad(request, stop, whole);
    EXPECT_TRUE(quick.empty());
}

TEST_F(EarlyImageLoadTest, TheWaitingWindowGetsTheQuickLookOnce) {
    m_file = Save(MakePattern(1600, 1200).get(), FIF_JPEG, m_dir.filePath("large.jpg"));
    TImageLoadRequest request;
    request.Prepare = MakeFitPreparation(200, 150, 0, 1);
    request.Quick.Width = 200;
    request.Quick.Height = 150;
    request.FileName = m_file;
    m_early.emplace(std::move(request));
    ASSERT_TRUE(PumpUntil([&] { return m_early->Done(); }, 20000));
    int shown = 0;
    const auto show = [&](const QString& file, TDrawnPicture&& drawn) {
        ++shown;
        EXPECT_EQ(file, m_file);
        EXPECT_FALSE(drawn.Bitmap.Empty());
    };
    TEarlyImageLoad::WhenQuickLook(show);
    EXPECT_EQ(shown, 1) << "made already: shown at once";
    TEarlyImageLoad::WhenQuickLook(show);
    (void)PumpUntil([] { return false; }, 50); // a second listener waits in vain
    EXPECT_EQ(shown, 1);
}

// A PNG arriving row by row is drawn several times; the waiting window gets the latest
// drawing at once and each one after it.
TEST_F(EarlyImageLoadTest, TheWaitingWindowGetsEachDrawingOfAnArrivingPicture) {
    m_file = Save(MakePattern(1600, 1200).get(), FIF_PNG, m_dir.filePath("large.png"));
    TImageLoadRequest request;
    request.Prepare = MakeFitPreparation(200, 150, 0, 1);
    request.Quick.Width = 200;
    request.Quick.Height = 150;
    request.Quick.FirstAfterMs = 0;
    request.FileName = m_file;
    m_early.emplace(std::move(request));
    int shown = 0;
    TEarlyImageLoad::WhenQuickLook([&](const QString& file, TDrawnPicture&& drawn) {
        ++shown;
        EXPECT_EQ(file, m_file);
        EXPECT_FALSE(drawn.Bitmap.Empty());
    });
    ASSERT_TRUE(PumpUntil([&] { return m_early->Done(); }, 20000));
    (void)PumpUntil([] { return false; }, 50);
    EXPECT_GE(shown, 1);
}

} // namespace
