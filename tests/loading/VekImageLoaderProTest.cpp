#include "LoadingTestSupport.h"

#include "common/TestSupport.h"
#include "loading/DecoderPool.h"
#include "loading/ImageInformation.h"
#include "loading/VekImageLoaderPro.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <random>
#include <thread>

#include <unistd.h>

using namespace pictrel::test;
using enum TImageLoaderProStatus;

namespace {

class LoaderTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return m_dir.path() + "/" + name; }
    QTemporaryDir m_dir;
};

TEST_F(LoaderTest, InitialState) {
    TVekImageLoaderPro loader;
    EXPECT_EQ(loader.Status(), ilNone);
    EXPECT_EQ(loader.Priority(), TThreadPriority::tpNormal);
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikNone);
    EXPECT_EQ(loader.PageCount(), 0);
    EXPECT_EQ(loader.PageIndex(), -1);
    EXPECT_FALSE(loader.CombineAlpha());
    EXPECT_FALSE(loader.HasAlpha());
    EXPECT_TRUE(loader.Bitmap().Empty());
    EXPECT_EQ(loader.MultiBitmap(), nullptr);
    EXPECT_EQ(loader.SingleBitmap(), nullptr);
    EXPECT_EQ(loader.WorkTimer().Interval(), 50);
    EXPECT_FALSE(loader.WorkTimer().Enabled());
}

TEST_F(LoaderTest, PngLoadsThroughTheSingleImagePathWithEventsInOrder) {
    const QString file = Save(MakePattern(64, 48).get(), FIF_PNG, Path("a.png"));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_TRUE(PumpUntil([&] { return rec.Finished() == 2; }));
    EXPECT_EQ(rec.Events, QStringList({"start a.png", "bitmap a.png", "succes a.png"}));
    EXPECT_EQ(loader.Status(), ilSucces);
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikPng);
    EXPECT_EQ(loader.ImageFormat(), FIF_PNG);
    EXPECT_EQ(loader.MultiBitmap(), nullptr);
    // FreeImage's bitmap stays in the decoder helper unless decoding is in-process.
    EXPECT_EQ(loader.SingleBitmap() != nullptr, DecodeInProcess());
    EXPECT_TRUE(SamePixels(loader.Bitmap(), FreeImageReference(file)));
    EXPECT_TRUE(loader.Bitmap().IsOpaque());
    // The progress estimate ends at 100 once the load has succeeded.
    ASSERT_TRUE(PumpUntil([&] { return !rec.Percents.isEmpty() && rec.Percents.last() == 100; }));
    // The first tick comes at once: 2 %, or 100 % when the worker was quicker than it.
    EXPECT_TRUE(rec.Percents.first() == 2 || rec.Percents.first() == 100);
    for (int i = 1; i < rec.Percents.size(); ++i) EXPECT_LE(rec.Percents[i - 1], rec.Percents[i]);
    EXPECT_TRUE(PumpUntil([&] { return !loader.WorkTimer().Enabled(); }));

    loader.ReleaseSingleBitmap();
    EXPECT_EQ(loader.SingleBitmap(), nullptr);
}

struct AlphaCase {
    const char* name;
    bool combine;
};

class AlphaTest : public LoaderTest, public ::testing::WithParamInterface<AlphaCase> {};

TEST_P(AlphaTest, AlphaPngIsCombinedOnlyWhenAsked) {
    const QString file = Save(MakeAlphaPattern(32, 8).get(), FIF_PNG, Path("alpha.png"));
    TVekImageLoaderPro loader;
    loader.SetCombineAlpha(GetParam().combine);
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_EQ(loader.Status(), ilSucces);
    EXPECT_TRUE(loader.HasAlpha());
    const TBitmap32& bmp = loader.Bitmap();
    ASSERT_EQ(bmp.Width(), 32);
    if (GetParam().combine) {
        EXPECT_TRUE(bmp.IsOpaque());
        // Fully transparent pixels show the white background, opaque ones themselves.
        EXPECT_EQ(bmp.Pixel(0, 0), 0xFFFFFFFFu);
        EXPECT_EQ(bmp.Pixel(31, 7), Color32(200, 0, 40)); // FreeImage's row 0 is the bottom
        // Half way: between the colour and white.
        EXPECT_GT(RedOf(bmp.Pixel(16, 0)), 200);
        EXPECT_LT(BlueOf(bmp.Pixel(16, 0)), 255);
    } else {
        EXPECT_FALSE(bmp.IsOpaque());
        EXPECT_EQ(AlphaOf(bmp.Pixel(0, 0)), 0);
        EXPECT_EQ(bmp.Pixel(31, 7), Color32(200, 0, 40));
        EXPECT_TRUE(SamePixels(bmp, FreeImageReference(file)));
    }
}

TEST_P(AlphaTest, CombiningUsesTheSettingsBackground) {
    const QString file = Save(MakeAlphaPattern(32, 8).get(), FIF_PNG, Path("alpha.png"));
    TVekImageLoaderPro loader;
    loader.SetCombineAlpha(GetParam().combine);
    loader.Settings().BackgroundColor = Color32(0, 0, 255);
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_EQ(loader.Status(), ilSucces);
    if (GetParam().combine)
        EXPECT_EQ(loader.Bitmap().Pixel(0, 0), Color32(0, 0, 255));
    else
        EXPECT_EQ(AlphaOf(loader.Bitmap().Pixel(0, 0)), 0);
}

INSTANTIATE_TEST_SUITE_P(Loader, AlphaTest,
                         ::testing::Values(AlphaCase{"Combined", true}, AlphaCase{"Kept", false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct PageCase {
    const char* name;
    int requested;
    int expected;
};

class TiffPageTest : public LoaderTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(TiffPageTest, PageIndexIsClampedToThePages) {
    const QString file = SaveMultiPageTiff(Path("five.tif"), 5, 20, 10);
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file, GetParam().requested));
    ASSERT_EQ(loader.Status(), ilSucces);
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikTiff);
    EXPECT_EQ(loader.PageCount(), 5);
    EXPECT_EQ(loader.PageIndex(), GetParam().expected);
    // Page i is 20 + i pixels wide.
    EXPECT_EQ(loader.Bitmap().Width(), 20 + GetParam().expected);
    EXPECT_NE(loader.MultiBitmap(), nullptr);
    EXPECT_EQ(loader.SingleBitmap(), nullptr);

    // The holder takes the handle; the loader then has none.
    TFreeImageMultiPtr taken = loader.TakeMultiBitmap();
    EXPECT_NE(taken, nullptr);
    EXPECT_EQ(loader.MultiBitmap(), nullptr);
    EXPECT_EQ(FreeImage_GetPageCount(taken.get()), 5);
}

INSTANTIATE_TEST_SUITE_P(Loader, TiffPageTest,
                         ::testing::Values(PageCase{"Beyond", 9, 4}, PageCase{"Negative", -3, 0},
                                           PageCase{"Middle", 2, 2}, PageCase{"Last", 4, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoaderTest, ReleaseSourceClosesTheMultiPageHandle) {
    const QString file = SaveMultiPageTiff(Path("two.tif"), 2, 8, 8);
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_NE(loader.MultiBitmap(), nullptr);
    loader.ReleaseSource();
    EXPECT_EQ(loader.MultiBitmap(), nullptr);
}

TEST_F(LoaderTest, GifAndIconGoThroughTheMultiPagePath) {
    const TFreeImagePtr pattern = MakePattern(16, 16);
    const TFreeImagePtr palette(FreeImage_ColorQuantize(pattern.get(), FIQ_WUQUANT));
    const QString gif = Save(palette.get(), FIF_GIF, Path("p.gif"));
    const QString ico = Save(pattern.get(), FIF_ICO, Path("p.ico"));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(gif));
    ASSERT_EQ(loader.Status(), ilSucces);
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikGif);
    EXPECT_NE(loader.MultiBitmap(), nullptr);
    EXPECT_TRUE(loader.InfoList().contains("Bits per pixel: 8 bits;"));
    ASSERT_TRUE(rec.OpenAndWait(ico));
    ASSERT_EQ(loader.Status(), ilSucces);
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikIcon);
    EXPECT_EQ(loader.PageCount(), 1);
    EXPECT_NE(loader.MultiBitmap(), nullptr);
    EXPECT_EQ(loader.Bitmap().Width(), 16);
}

TEST_F(LoaderTest, FloatImageIsToneMappedToEightBits) {
    const int w = 16, h = 4;
    const TFreeImagePtr dib(FreeImage_AllocateT(FIT_RGBF, w, h, 96));
    for (int y = 0; y < h; ++y) {
        auto* p = reinterpret_cast<FIRGBF*>(FreeImage_GetScanLine(dib.get(), y));
        for (int x = 0; x < w; ++x) p[x] = FIRGBF{0.05f * float(x * x), 0.2f * float(x), 1.0f};
    }
    const QString file = Save(dib.get(), FIF_TIFF, Path("float.tif"));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_EQ(loader.Status(), ilSucces);
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikHighBitDepth);
    EXPECT_TRUE(loader.InfoList().contains("Bits per pixel: 96 bits;"));
    const TBitmap32& bmp = loader.Bitmap();
    ASSERT_EQ(bmp.Width(), w);
    EXPECT_TRUE(bmp.IsOpaque());
    // Brighter input stays brighter after the tone mapping, and not everything saturates.
    for (int x = 1; x < w; ++x) EXPECT_GE(RedOf(bmp.Pixel(x, 0)), RedOf(bmp.Pixel(x - 1, 0)));
    EXPECT_LT(RedOf(bmp.Pixel(0, 0)), RedOf(bmp.Pixel(w - 1, 0)));
    EXPECT_LT(RedOf(bmp.Pixel(1, 0)), 255);
}

TEST_F(LoaderTest, SixteenBitGreyIsScaledNotShownAsRawBytes) {
    const TFreeImagePtr dib(FreeImage_AllocateT(FIT_UINT16, 4, 1, 16));
    auto* p = reinterpret_cast<WORD*>(FreeImage_GetScanLine(dib.get(), 0));
    p[0] = 0;
    p[1] = 0x4000;
    p[2] = 0x8000;
    p[3] = 0xFFFF;
    const QString file = Save(dib.get(), FIF_PNG, Path("grey16.png"));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_EQ(loader.Status(), ilSucces);
    EXPECT_EQ(loader.Bitmap().Pixel(0, 0), Color32(0, 0, 0));
    EXPECT_EQ(loader.Bitmap().Pixel(1, 0), Color32(0x40, 0x40, 0x40));
    EXPECT_EQ(loader.Bitmap().Pixel(3, 0), Color32(255, 255, 255));
}

// A JPEG big enough that a load is still running when the next request comes.
QString BigJpeg(const QString& path) {
    return Save(MakePattern(3000, 2000).get(), FIF_JPEG, path, 90);
}

TEST_F(LoaderTest, OnlyTheNewestOfSeveralRequestsIsLoaded) {
    const QString a = BigJpeg(Path("A.jpg"));
    const QString b = Save(MakePattern(10, 10).get(), FIF_PNG, Path("B.png"));
    const QString c = Save(MakePattern(12, 7).get(), FIF_PNG, Path("C.png"));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    loader.Open(a);
    ASSERT_EQ(loader.Status(), ilOpening);
    loader.Open(b);
    loader.Open(c);
    ASSERT_TRUE(PumpUntil([&] { return rec.Finished() == 2; }, 20000));
    PumpFor(100); // nothing else may follow
    EXPECT_EQ(rec.Events, QStringList({"start A.jpg", "start B.png", "start C.png", "bitmap C.png",
                                       "succes C.png"}));
    EXPECT_EQ(loader.FileName(), c);
    EXPECT_EQ(loader.Bitmap().Width(), 12);
    EXPECT_EQ(loader.Bitmap().Height(), 7);
}

TEST_F(LoaderTest, CancelEndsInTerminatedWithoutEvents) {
    const QString a = BigJpeg(Path("A.jpg"));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    loader.Open(a);
    loader.Cancel();
    ASSERT_TRUE(PumpUntil([&] { return loader.Status() == ilTerminated; }, 20000));
    PumpFor(100);
    EXPECT_EQ(rec.Events, QStringList({"start A.jpg"}));
    EXPECT_TRUE(loader.Bitmap().Empty());
    EXPECT_EQ(loader.SingleBitmap(), nullptr);
    // The loader is usable again.
    const QString b = Save(MakePattern(5, 5).get(), FIF_PNG, Path("B.png"));
    ASSERT_TRUE(rec.OpenAndWait(b));
    EXPECT_EQ(loader.Status(), ilSucces);
}

TEST_F(LoaderTest, CancelWithoutALoadDoesNothing) {
    TVekImageLoaderPro loader;
    loader.Cancel();
    EXPECT_EQ(loader.Status(), ilNone);
}

TEST_F(LoaderTest, DestroyingWhileLoadingWaitsAndDeliversNothing) {
    const QString a = BigJpeg(Path("A.jpg"));
    int events = 0;
    {
        TVekImageLoaderPro loader;
        loader.OnSucces = [&](TVekImageLoaderPro&) { ++events; };
        loader.OnBitmapChange = [&](TVekImageLoaderPro&, TBitmap32&) { ++events; };
        loader.OnError = [&](TVekImageLoaderPro&) { ++events; };
        loader.Open(a);
        loader.Open(a); // a pending request is not started either
    }
    PumpFor(200);
    EXPECT_EQ(events, 0);
}

TEST_F(LoaderTest, DestroyingFromInsideOnBitmapChangeIsSafe) {
    const QString file = Save(MakePattern(8, 8).get(), FIF_PNG, Path("a.png"));
    auto loader = std::make_unique<TVekImageLoaderPro>();
    int succes = 0;
    loader->OnBitmapChange = [&](TVekImageLoaderPro&, TBitmap32&) { loader.reset(); };
    loader->OnSucces = [&](TVekImageLoaderPro&) { ++succes; };
    loader->Open(file);
    ASSERT_TRUE(PumpUntil([&] { return loader == nullptr; }));
    PumpFor(50);
    EXPECT_EQ(succes, 0);
}

TEST_F(LoaderTest, PriorityCanChangeWhileLoading) {
    const QString a = BigJpeg(Path("A.jpg"));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    loader.SetPriority(TThreadPriority::tpLower);
    loader.Open(a);
    loader.SetPriority(TThreadPriority::tpLowest);
    EXPECT_EQ(loader.Priority(), TThreadPriority::tpLowest);
    ASSERT_TRUE(PumpUntil([&] { return rec.Finished() == 2; }, 20000));
    EXPECT_EQ(loader.Status(), ilSucces);
}

TEST_F(LoaderTest, SvgIsRenderedAtItsNaturalSize) {
    WriteFile(Path("shape.svg"), "<svg xmlns='http://www.w3.org/2000/svg' width='40' height='30'>"
                                 "<rect x='0' y='0' width='40' height='30' fill='#ff0000'/></svg>");
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(Path("shape.svg")));
    ASSERT_EQ(loader.Status(), ilSucces);
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikOther);
    EXPECT_EQ(loader.Bitmap().Width(), 40);
    EXPECT_EQ(loader.Bitmap().Height(), 30);
    EXPECT_EQ(loader.Bitmap().Pixel(20, 15), Color32(255, 0, 0));
    EXPECT_EQ(
        loader.InfoList(),
        QStringList({"Image format: Unknown Image format;",
                     "File size: " + FormatFileSize(QFileInfo(Path("shape.svg")).size()) + ";",
                     "Width: 40 pixels;", "Height: 30 pixels;", "Bits per pixel: 16 bits;"}));
    EXPECT_TRUE(loader.ExifList().isEmpty());
}

// FreeImage gives a PNG without a pHYs chunk its default 72 dpi, so "no resolution"
// is a pHYs chunk that says 0.
TEST_F(LoaderTest, PngListsFiveInformationLinesWithoutResolution) {
    Save(MakePattern(7, 5).get(), FIF_PNG, Path("res.png"));
    QByteArray png = ReadFile(Path("res.png"));
    const int phys = png.indexOf("pHYs");
    ASSERT_GT(phys, 4);
    for (int i = 0; i < 8; ++i) png[phys + 4 + i] = 0; // x and y pixels per unit
    const std::uint32_t crc = Crc32(png.constData() + phys, 4 + 9);
    for (int i = 0; i < 4; ++i) png[phys + 13 + i] = char((crc >> (24 - 8 * i)) & 0xFF);
    const QString file = Path("nores.png");
    WriteFile(file, png);
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_EQ(loader.Status(), ilSucces);
    const QString size = FormatFileSize(QFileInfo(file).size());
    EXPECT_EQ(loader.InfoList(),
              QStringList({"Image format: Portable Network Graphics;", "File size: " + size + ";",
                           "Width: 7 pixels;", "Height: 5 pixels;", "Bits per pixel: 24 bits;"}));
}

TEST_F(LoaderTest, ResolutionLinesFollowWhenTheFileHasThem) {
    TFreeImagePtr dib = MakePattern(7, 5);
    FreeImage_SetDotsPerMeterX(dib.get(), 2835);
    FreeImage_SetDotsPerMeterY(dib.get(), 3780);
    const QString file = Save(dib.get(), FIF_PNG, Path("res.png"));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_EQ(loader.InfoList().size(), 7);
    EXPECT_EQ(loader.InfoList()[5], "Resolution x: 2835 pixel/meter;");
    EXPECT_EQ(loader.InfoList()[6], "Resolution y: 3780 pixel/meter;");
}

TEST_F(LoaderTest, ANewLoadClearsTheListsAndTheBitmap) {
    const QString png = Save(MakePattern(7, 5).get(), FIF_PNG, Path("a.png"));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(png));
    ASSERT_FALSE(loader.InfoList().isEmpty());
    ASSERT_TRUE(rec.OpenAndWait(Path("missing.png")));
    EXPECT_EQ(loader.Status(), ilError);
    EXPECT_TRUE(loader.InfoList().isEmpty());
    EXPECT_TRUE(loader.Bitmap().Empty());
    EXPECT_EQ(loader.SingleBitmap(), nullptr);
}

// Requests at random moments, many of them after a worker has ended but before its
// completion has run: every delivery is the picture of its file, no request is
// delivered twice or out of order, and the newest request is always delivered last.
TEST_F(LoaderTest, RequestsAtRandomMomentsEndWithTheNewestDelivered) {
    constexpr int kPictures = 60, kRequests = 3000;
    QList<TBitmap32> pictures;
    for (int i = 0; i < kPictures; ++i) {
        const QString file = Save(MakePattern(8 + i % 12, 5 + i / 12).get(), FIF_PNG,
                                  Path(QString("p%1.png").arg(i)));
        pictures << FreeImageReference(file);
    }
    // Every request gets a name of its own (a hard link), so a delivery names its request.
    std::mt19937 random(20261209);
    QStringList names;
    QList<int> pictureOf;
    for (int i = 0; i < kRequests; ++i) {
        pictureOf << int(random() % kPictures);
        names << Path(QString("r%1.png").arg(i));
        ASSERT_EQ(::link(QFile::encodeName(Path(QString("p%1.png").arg(pictureOf[i]))),
                         QFile::encodeName(names[i])),
                  0);
    }

    TVekImageLoaderPro loader;
    int requested = 0, starts = 0, succes = 0;
    QList<int> delivered; // request of every delivery
    loader.OnStart = [&](TVekImageLoaderPro&, const QString&) { ++starts; };
    loader.OnBitmapChange = [&](TVekImageLoaderPro& s, TBitmap32& bitmap) {
        const int request = int(names.indexOf(s.FileName()));
        ASSERT_GE(request, 0);
        ASSERT_LT(request, requested);
        EXPECT_TRUE(delivered.isEmpty() || request > delivered.last())
            << "request " << request << " delivered after request " << delivered.last();
        EXPECT_TRUE(SamePixels(bitmap, pictures[pictureOf[request]])) << request;
        delivered << request;
    };
    loader.OnSucces = [&](TVekImageLoaderPro&) { ++succes; };
    loader.OnError = [&](TVekImageLoaderPro& s) { ADD_FAILURE() << s.FileName().toStdString(); };

    const auto settle = [&] {
        ASSERT_TRUE(PumpUntil([&] { return loader.Status() != ilOpening; }, 20000));
        PumpFor(5);
        ASSERT_FALSE(delivered.isEmpty());
        EXPECT_EQ(delivered.last(), requested - 1) << "the newest request was not delivered";
        EXPECT_EQ(succes, delivered.size());
    };
    std::chrono::steady_clock::duration longest{};
    const auto timed = [&](const auto& call) {
        const auto t0 = std::chrono::steady_clock::now();
        call();
        longest = std::max(longest, std::chrono::steady_clock::now() - t0);
    };
    while (requested < kRequests) {
        timed([&] { loader.Open(names[requested++]); });
        const unsigned pause = random() % 4;
        // Without handling events the worker may end and its completion stay queued.
        if (pause & 1) std::this_thread::sleep_for(std::chrono::microseconds(random() % 1500));
        if (pause & 2) timed([] { QCoreApplication::processEvents(); });
        if (requested % 500 == 0) settle();
    }
    EXPECT_EQ(starts, kRequests);
    // A sanity bound, not a timing target: the GUI thread never waits for a decode.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(longest).count(), 250);
}

} // namespace
