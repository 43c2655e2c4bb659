#include "loading/EarlyImageLoad.h"
#include "common/TestSupport.h"
#include "loading/LoadingTestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

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

} // namespace
