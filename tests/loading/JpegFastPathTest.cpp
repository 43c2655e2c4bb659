#include "LoadingTestSupport.h"

#include "common/TestSupport.h"
#include "loading/DecoderPool.h"
#include "loading/ImageInformation.h"
#include "loading/JpegDecoder.h"
#include "loading/VekImageLoaderPro.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

#include <jpeglib.h>

using namespace pictrel::test;
using enum TImageLoaderProStatus;

namespace {

struct JpegCase {
    const char* name;
    int flags;
    bool grey;
    int width, height;
};

class JpegFastPathTest : public ::testing::TestWithParam<JpegCase> {
protected:
    QString MakeFile() {
        TFreeImagePtr dib = MakePattern(GetParam().width, GetParam().height);
        if (GetParam().grey) dib.reset(FreeImage_ConvertToGreyscale(dib.get()));
        return Save(dib.get(), FIF_JPEG, m_dir.path() + "/t.jpg", GetParam().flags);
    }
    QTemporaryDir m_dir;
};

// The fast path must give exactly FreeImage's pixels, for every kind of JPEG it takes.
TEST_P(JpegFastPathTest, PixelsEqualFreeImagesDefaultLoad) {
    const QString file = MakeFile();
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_EQ(loader.Status(), ilSucces) << loader.ErrorReason().toStdString();
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikJpeg);
    const TBitmap32 reference = FreeImageReference(file);
    ASSERT_FALSE(reference.Empty());
    EXPECT_TRUE(SamePixels(loader.Bitmap(), reference));
    EXPECT_TRUE(loader.Bitmap().IsOpaque());
    EXPECT_FALSE(loader.HasAlpha());
}

// Header, information lines and metadata are those of FreeImage's full load.
TEST_P(JpegFastPathTest, InformationEqualsFreeImagesFullLoad) {
    const QString file = MakeFile();
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_EQ(loader.Status(), ilSucces);
    // SingleBitmap holds the header without pixels (in-process; FreeImage's bitmap stays
    // in the decoder helper otherwise).
    if (DecodeInProcess()) {
        ASSERT_NE(loader.SingleBitmap(), nullptr);
        EXPECT_FALSE(FreeImage_HasPixels(loader.SingleBitmap()));
    } else {
        EXPECT_EQ(loader.SingleBitmap(), nullptr);
    }

    const TFreeImagePtr full(FreeImage_Load(FIF_JPEG, QFile::encodeName(file).constData(), 0));
    QStringList expected;
    AddFreeImageInfo(QFile(file).size(), FIF_JPEG, full.get(), expected);
    EXPECT_EQ(loader.InfoList(), expected);
}

TEST_P(JpegFastPathTest, StopRequestAbandonsTheDecode) {
    const QString file = MakeFile();
    TBitmap32 target;
    const std::atomic<bool> stop{true};
    EXPECT_EQ(DecodeJpegPixels(QFile::encodeName(file), target, stop), TJpegDecodeResult::Stopped);
}

INSTANTIATE_TEST_SUITE_P(
    Jpeg, JpegFastPathTest,
    ::testing::Values(
        JpegCase{"Subsampled420", JPEG_SUBSAMPLING_420 | 85, false, 301, 203},
        JpegCase{"Subsampled422", JPEG_SUBSAMPLING_422 | 85, false, 64, 48},
        JpegCase{"Full444", JPEG_SUBSAMPLING_444 | 95, false, 123, 77},
        JpegCase{"Subsampled411", JPEG_SUBSAMPLING_411 | 85, false, 99, 40},
        JpegCase{"Progressive420", JPEG_PROGRESSIVE | JPEG_SUBSAMPLING_420 | 85, false, 257, 131},
        JpegCase{"Progressive444", JPEG_PROGRESSIVE | JPEG_SUBSAMPLING_444 | 85, false, 50, 50},
        JpegCase{"Greyscale", 90, true, 97, 61},
        JpegCase{"GreyscaleProgressive", JPEG_PROGRESSIVE | 90, true, 40, 33},
        JpegCase{"OnePixel", 90, false, 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct TruncatedCase {
    const char* name;
    int flags;
    int percentKept;
};

class TruncatedJpegTest : public ::testing::TestWithParam<TruncatedCase> {};

// A half-copied photo shows the part that arrived, the rest filled as FreeImage fills it.
TEST_P(TruncatedJpegTest, ShowsWhatArrivedLikeFreeImage) {
    QTemporaryDir dir;
    const QString whole =
        Save(MakePattern(301, 203).get(), FIF_JPEG, dir.path() + "/whole.jpg", GetParam().flags);
    const QByteArray data = ReadFile(whole);
    const QString file = dir.path() + "/cut.jpg";
    WriteFile(file, data.left(data.size() * GetParam().percentKept / 100));
    const TBitmap32 reference = FreeImageReference(file);
    ASSERT_FALSE(reference.Empty()) << "FreeImage shows this file";
    ASSERT_FALSE(SamePixels(reference, FreeImageReference(whole))) << "the cut lost pixels";

    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_EQ(loader.Status(), ilSucces);
    EXPECT_TRUE(SamePixels(loader.Bitmap(), reference));
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikJpeg);
}

INSTANTIATE_TEST_SUITE_P(
    Jpeg, TruncatedJpegTest,
    ::testing::Values(TruncatedCase{"BaselineHalf", 90, 50},
                      TruncatedCase{"BaselineNearlyWhole", JPEG_SUBSAMPLING_444 | 90, 95},
                      TruncatedCase{"BaselineFirstRows", 90, 10},
                      TruncatedCase{"ProgressiveHalf", JPEG_PROGRESSIVE | 90, 50},
                      TruncatedCase{"ProgressiveFirstScans", JPEG_PROGRESSIVE | 90, 20}),
    [](const auto& info) { return std::string(info.param.name); });

// FreeImage cannot write CMYK JPEGs, so libjpeg writes one.
void WriteCmykJpeg(const QString& path, int w, int h) {
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    ASSERT_NE(f, nullptr);
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, JCS_YCCK);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(std::size_t(w) * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            row[x * 4 + 0] = JSAMPLE(x * 4);
            row[x * 4 + 1] = JSAMPLE(y * 4);
            row[x * 4 + 2] = 100;
            row[x * 4 + 3] = 30;
        }
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
}

TEST(JpegFallback, CmykGoesThroughFreeImage) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/cmyk.jpg";
    WriteCmykJpeg(file, 40, 30);
    TBitmap32 target;
    const std::atomic<bool> stop{false};
    EXPECT_EQ(DecodeJpegPixels(QFile::encodeName(file), target, stop), TJpegDecodeResult::Refused);

    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_EQ(loader.Status(), ilSucces) << loader.ErrorReason().toStdString();
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikJpeg);
    EXPECT_TRUE(SamePixels(loader.Bitmap(), FreeImageReference(file)));
    if (DecodeInProcess()) {
        ASSERT_NE(loader.SingleBitmap(), nullptr);
        EXPECT_TRUE(FreeImage_HasPixels(loader.SingleBitmap()));
    } else {
        // FreeImage's bitmap stays in the decoder helper.
        EXPECT_EQ(loader.SingleBitmap(), nullptr);
    }
}

} // namespace

namespace {

// Work on the rows while they are decoded gives what the same work on the whole decoded
// picture gives, for pictures as stored, turned, and decoded reduced (the quick look).
struct TRowWorkCase {
    int Orientation;
    int Denominator;
};

class JpegRowWorkTest : public ::testing::TestWithParam<TRowWorkCase> {};

TColor32 Scrambled(TColor32 p) {
    return (p & 0xFF000000u) | ((p * 2654435761u) >> 8 & 0x00FFFFFFu);
}

TEST_P(JpegRowWorkTest, SameAsWorkingTheWholePictureAfter) {
    QTemporaryDir dir;
    const TFreeImagePtr dib = MakePattern(72, 530);
    const QString file = Save(dib.get(), FIF_JPEG, dir.path() + "/rows.jpg", 90);
    const TRowWorkCase& c = GetParam();
    const std::atomic<bool> stop{false};
    std::atomic<int> calls{0};
    const TJpegRowWork work = [&](TBitmap32& rows, int first, int last) {
        ++calls;
        for (int y = first; y < last; ++y)
            for (int x = 0; x < rows.Width(); ++x)
                rows.ScanLine(y)[x] = Scrambled(rows.Pixel(x, y));
    };
    TBitmap32 during, after;
    ASSERT_EQ(
        DecodeJpegPixels(QFile::encodeName(file), during, stop, c.Orientation, c.Denominator, work),
        TJpegDecodeResult::Decoded);
    ASSERT_EQ(DecodeJpegPixels(QFile::encodeName(file), after, stop, c.Orientation, c.Denominator),
              TJpegDecodeResult::Decoded);
    for (int y = 0; y < after.Height(); ++y)
        for (int x = 0; x < after.Width(); ++x) after.ScanLine(y)[x] = Scrambled(after.Pixel(x, y));
    EXPECT_GT(calls.load(), 1) << "worked in pieces as the rows came";
    EXPECT_TRUE(SamePixels(during, after));
}

INSTANTIATE_TEST_SUITE_P(TurnsAndScales, JpegRowWorkTest,
                         ::testing::Values(TRowWorkCase{1, 1}, TRowWorkCase{6, 1},
                                           TRowWorkCase{3, 1}, TRowWorkCase{1, 4},
                                           TRowWorkCase{8, 2}));

TEST(JpegRowWork, AStoppedDecodeWorksNoRow) {
    QTemporaryDir dir;
    const TFreeImagePtr dib = MakePattern(64, 400);
    const QString file = Save(dib.get(), FIF_JPEG, dir.path() + "/stop.jpg", 90);
    const std::atomic<bool> stop{true};
    std::atomic<int> rowsSeen{0};
    TBitmap32 target;
    EXPECT_EQ(DecodeJpegPixels(QFile::encodeName(file), target, stop, 1, 1,
                               [&](TBitmap32&, int first, int last) { rowsSeen += last - first; }),
              TJpegDecodeResult::Stopped);
    EXPECT_EQ(rowsSeen.load(), 0);
}

} // namespace
