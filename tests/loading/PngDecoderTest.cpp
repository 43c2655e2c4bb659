#include "LoadingTestSupport.h"

#include "loading/ColourManagement.h"
#include "loading/DecoderPool.h"
#include "loading/ImageConversion.h"
#include "loading/ImageInformation.h"
#include "loading/ImageLoadJob.h"
#include "loading/PartialLook.h"
#include "loading/PngDecoder.h"
#include "loading/PngRowPipeline.h"
#include "loading/VekImageLoaderPro.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <csetjmp>
#include <cstdio>
#include <random>
#include <vector>

#include <png.h>

using namespace pictrel::test;
using enum TImageLoaderProStatus;

namespace {

// A PNG as the tests need them, written with libpng: any colour type and depth,
// interlaced or not, with a transparency chunk, a gamma chunk and text chunks before
// and after the picture's data.
struct PngSpec {
    const char* name;
    int colourType;
    int depth;
    bool interlaced = false;
    bool trns = false;
    double gamma = 0; // none when 0
    int width = 37, height = 23;
    bool textAfter = false;
    bool srgb = false; // an sRGB chunk alone, which libpng takes for a gamma
};

void PrintTo(const PngSpec& spec, std::ostream* os) {
    *os << spec.name;
}

int Channels(int colourType) {
    switch (colourType) {
    case PNG_COLOR_TYPE_RGB:
        return 3;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
    default:
        return 1;
    }
}

// Samples in big-endian order, packed as PNG packs them; deterministic noise over
// every level, with runs so that the filters have work.
std::vector<png_byte> MakeRows(const PngSpec& s) {
    const int channels = Channels(s.colourType);
    const std::size_t rowBytes = (std::size_t(s.width) * channels * s.depth + 7) / 8;
    std::vector<png_byte> data(rowBytes * s.height, 0);
    std::minstd_rand rng(unsigned(s.colourType * 100 + s.depth));
    const unsigned maxSample = s.colourType == PNG_COLOR_TYPE_PALETTE ? 11 : (1u << s.depth) - 1;
    for (int y = 0; y < s.height; ++y) {
        png_byte* row = data.data() + rowBytes * y;
        for (int i = 0; i < s.width * channels; ++i) {
            const unsigned v =
                (i / channels + y) % 5 == 0 ? maxSample : unsigned(rng()) % (maxSample + 1);
            if (s.depth == 16) {
                row[2 * i] = png_byte(v >> 8);
                row[2 * i + 1] = png_byte(v & 0xFF);
            } else if (s.depth == 8) {
                row[i] = png_byte(v);
            } else {
                const int bit = i * s.depth;
                row[bit / 8] |= png_byte(v << (8 - s.depth - bit % 8));
            }
        }
    }
    return data;
}

bool WritePng(const QString& path, const PngSpec& s) {
    std::FILE* f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (f == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const std::vector<png_byte> data = MakeRows(s);
    const std::size_t rowBytes = data.size() / std::size_t(s.height);
    std::vector<png_bytep> rows(std::size_t(s.height));
    for (int y = 0; y < s.height; ++y)
        rows[std::size_t(y)] = const_cast<png_bytep>(data.data()) + rowBytes * y;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(s.width), png_uint_32(s.height), s.depth, s.colourType,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    png_color palette[12];
    png_byte alphas[7] = {0, 40, 90, 128, 200, 254, 255};
    if (s.colourType == PNG_COLOR_TYPE_PALETTE) {
        for (int i = 0; i < 12; ++i)
            palette[i] = {png_byte(i * 21), png_byte(255 - i * 17), png_byte((i * 73) & 0xFF)};
        // Fewer entries than the depth allows, for depths above 2 bits.
        png_set_PLTE(png, info, palette, std::min(12, 1 << s.depth));
    }
    if (s.trns) {
        png_color_16 colour{};
        colour.gray = png_uint_16(s.depth >= 8 ? 7 : 1);
        colour.red = 7;
        colour.green = 7;
        colour.blue = 7;
        png_set_tRNS(png, info, alphas, s.colourType == PNG_COLOR_TYPE_PALETTE ? 7 : 0, &colour);
    }
    if (s.gamma > 0) png_set_gAMA(png, info, s.gamma);
    if (s.srgb) png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    png_text before{};
    before.compression = PNG_TEXT_COMPRESSION_NONE;
    before.key = const_cast<char*>("XML:com.adobe.xmp");
    before.text = const_cast<char*>("<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    png_set_text(png, info, &before, 1);
    png_write_info(png, info);
    png_set_interlace_handling(png);
    png_write_image(png, rows.data());
    if (s.textAfter) {
        png_text after{};
        after.compression = PNG_TEXT_COMPRESSION_zTXt;
        after.key = const_cast<char*>("Comment");
        after.text = const_cast<char*>("written after the picture");
        png_set_text(png, info, &after, 1);
        png_time time{2024, 5, 6, 7, 8, 9};
        png_set_tIME(png, info, &time);
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

// FreeImage's load converted as the loader converts it.
TBitmap32 Reference(const QString& path) {
    const TFreeImagePtr dib(FreeImage_Load(FIF_PNG, QFile::encodeName(path).constData(), 0));
    TBitmap32 result;
    if (dib) (void)ConvertTo32Bits(dib.get(), result, 0, 0);
    return result;
}

class PngDecoderTest : public ::testing::TestWithParam<PngSpec> {
protected:
    QString MakeFile() {
        const QString file = m_dir.path() + "/t.png";
        EXPECT_TRUE(WritePng(file, GetParam()));
        return file;
    }
    QTemporaryDir m_dir;
};

TEST_P(PngDecoderTest, PixelsEqualFreeImagesLoadConvertedTo32Bits) {
    const QString file = MakeFile();
    const TBitmap32 reference = Reference(file);
    ASSERT_FALSE(reference.Empty());
    TBitmap32 target;
    const std::atomic<bool> stop{false};
    ASSERT_EQ(DecodePngPixels(QFile::encodeName(file), target, stop), TPngDecodeResult::Decoded);
    ASSERT_EQ(target.Width(), reference.Width());
    ASSERT_EQ(target.Height(), reference.Height());
    for (int y = 0; y < target.Height(); ++y)
        for (int x = 0; x < target.Width(); ++x)
            ASSERT_EQ(target.Pixel(x, y), reference.Pixel(x, y)) << "at " << x << ", " << y;
}

// Through the loader (colour management off, which converts pictures with a gamma
// chunk): the same pixels, transparency, information lines and metadata (text after
// the picture's data included) as FreeImage's full load gives.
TEST_P(PngDecoderTest, LoaderDescribesThePictureAsFreeImagesFullLoad) {
    const QString file = MakeFile();
    TImageLoadRequest request;
    request.FileName = file;
    request.Settings.ColourManagement = false;
    const std::atomic<bool> stop{false};
    TImageLoadResult result;
    RunImageLoad(request, stop, result);
    ASSERT_EQ(result.Status, ilSucces);
    EXPECT_EQ(result.ImageKind, TVekImageKind::ikPng);
    ASSERT_TRUE(result.SingleBitmap);
    // The header only: the pixels went straight into the bitmap.
    EXPECT_FALSE(FreeImage_HasPixels(result.SingleBitmap.get()));
    EXPECT_TRUE(SamePixels(result.Bitmap, Reference(file)));

    const TFreeImagePtr full(FreeImage_Load(FIF_PNG, QFile::encodeName(file).constData(), 0));
    ASSERT_TRUE(full);
    QStringList info, xmp, exif;
    AddFreeImageInfo(QFile(file).size(), FIF_PNG, full.get(), info);
    CollectMetadata(full.get(), xmp, FIMD_XMP);
    CollectMetadata(full.get(), exif, FIMD_EXIF_MAIN);
    EXPECT_EQ(result.InfoList, info);
    EXPECT_EQ(result.XmpList, xmp);
    EXPECT_FALSE(xmp.isEmpty());
    EXPECT_EQ(result.ExifList, exif);
    EXPECT_EQ(GetParam().textAfter, !exif.isEmpty());
    EXPECT_EQ(result.HasAlpha, FreeImage_IsTransparent(full.get()) != FALSE);
    EXPECT_EQ(FreeImage_GetMetadataCount(FIMD_COMMENTS, result.SingleBitmap.get()),
              FreeImage_GetMetadataCount(FIMD_COMMENTS, full.get()));
}

TEST_P(PngDecoderTest, StopRequestedBetweenRowsAbandonsTheDecode) {
    const QString file = MakeFile();
    TBitmap32 target;
    std::atomic<bool> stop{false};
    int reports = 0;
    const TPngRowsReady rows = [&](const TBitmap32&, int, int, bool) {
        ++reports;
        stop = true;
    };
    EXPECT_EQ(DecodePngPixels(QFile::encodeName(file), target, stop, nullptr, rows),
              TPngDecodeResult::Stopped);
    EXPECT_EQ(reports, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Png, PngDecoderTest,
    ::testing::Values(
        PngSpec{"Grey1", PNG_COLOR_TYPE_GRAY, 1}, PngSpec{"Grey2", PNG_COLOR_TYPE_GRAY, 2},
        PngSpec{"Grey4", PNG_COLOR_TYPE_GRAY, 4}, PngSpec{"Grey8", PNG_COLOR_TYPE_GRAY, 8},
        PngSpec{"Grey16", PNG_COLOR_TYPE_GRAY, 16},
        PngSpec{"Grey1Transparent", PNG_COLOR_TYPE_GRAY, 1, false, true},
        PngSpec{"Grey4Transparent", PNG_COLOR_TYPE_GRAY, 4, false, true},
        PngSpec{"Grey8Transparent", PNG_COLOR_TYPE_GRAY, 8, false, true},
        PngSpec{"Grey4Gamma", PNG_COLOR_TYPE_GRAY, 4, false, false, 1 / 1.8},
        PngSpec{"Grey8Gamma", PNG_COLOR_TYPE_GRAY, 8, false, false, 1 / 1.8},
        PngSpec{"Grey16Gamma", PNG_COLOR_TYPE_GRAY, 16, false, false, 0.5},
        PngSpec{"Palette1", PNG_COLOR_TYPE_PALETTE, 1},
        PngSpec{"Palette2", PNG_COLOR_TYPE_PALETTE, 2},
        PngSpec{"Palette4", PNG_COLOR_TYPE_PALETTE, 4},
        PngSpec{"Palette8", PNG_COLOR_TYPE_PALETTE, 8},
        PngSpec{"Palette2Transparent", PNG_COLOR_TYPE_PALETTE, 2, false, true},
        PngSpec{"Palette4Transparent", PNG_COLOR_TYPE_PALETTE, 4, false, true},
        PngSpec{"Palette8Transparent", PNG_COLOR_TYPE_PALETTE, 8, false, true},
        PngSpec{"Palette8Gamma", PNG_COLOR_TYPE_PALETTE, 8, false, true, 1 / 2.2},
        PngSpec{"Rgb8", PNG_COLOR_TYPE_RGB, 8},
        PngSpec{"Rgb8Transparent", PNG_COLOR_TYPE_RGB, 8, false, true},
        PngSpec{"Rgb8Gamma", PNG_COLOR_TYPE_RGB, 8, false, false, 1 / 1.8},
        PngSpec{"GreyAlpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8},
        PngSpec{"GreyAlpha8Gamma", PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, false, 0.6},
        PngSpec{"Rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8},
        PngSpec{"Rgba8Gamma", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false, 1 / 1.6},
        PngSpec{"Rgb8Interlaced", PNG_COLOR_TYPE_RGB, 8, true},
        PngSpec{"Rgba8Interlaced", PNG_COLOR_TYPE_RGB_ALPHA, 8, true},
        PngSpec{"Palette4InterlacedTransparent", PNG_COLOR_TYPE_PALETTE, 4, true, true},
        PngSpec{"Grey2Interlaced", PNG_COLOR_TYPE_GRAY, 2, true},
        PngSpec{"Grey16Interlaced", PNG_COLOR_TYPE_GRAY, 16, true},
        PngSpec{"GreyAlpha8InterlacedTextAfter", PNG_COLOR_TYPE_GRAY_ALPHA, 8, true, false, 0, 9, 5,
                true},
        PngSpec{"Rgb8TextAfter", PNG_COLOR_TYPE_RGB, 8, false, false, 0, 37, 23, true},
        PngSpec{"OnePixelInterlaced", PNG_COLOR_TYPE_RGB, 8, true, false, 0, 1, 1},
        PngSpec{"Rgb8Wide", PNG_COLOR_TYPE_RGB, 8, false, false, 0, 700, 3},
        PngSpec{"Rgb8ManyChunksAndRows", PNG_COLOR_TYPE_RGB, 8, false, false, 0, 300, 200},
        PngSpec{"Rgba8ManyChunksAndRows", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false, 0, 150, 301},
        PngSpec{"Rgb8Srgb", PNG_COLOR_TYPE_RGB, 8, false, false, 0, 64, 80, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Colour management keeps working on the direct path: a PNG with a gamma chunk gets the
// profile made from it, and its pixels are converted from it.
TEST(PngDecoder, ColourManagementTakesTheProfileOfTheGammaChunk) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/g.png";
    ASSERT_TRUE(WritePng(file, {"Rgb8Gamma", PNG_COLOR_TYPE_RGB, 8, false, false, 1 / 1.4}));
    TImageLoadRequest request;
    request.FileName = file;
    request.Settings.ColourManagement = true;
    const std::atomic<bool> stop{false};
    TImageLoadResult result;
    RunImageLoad(request, stop, result);
    ASSERT_EQ(result.Status, ilSucces);
    EXPECT_FALSE(result.IccProfile.isEmpty());
    EXPECT_EQ(result.IccProfile, ReadPngColourProfile(file));
    EXPECT_FALSE(SamePixels(result.Bitmap, Reference(file)));

    request.Settings.ColourManagement = false;
    TImageLoadResult plain;
    RunImageLoad(request, stop, plain);
    ASSERT_EQ(plain.Status, ilSucces);
    EXPECT_TRUE(plain.IccProfile.isEmpty());
    EXPECT_TRUE(SamePixels(plain.Bitmap, Reference(file)));
}

// What FreeImage keeps at 16 bits a channel (and the loader tone maps) is left to it.
class PngRefusedTest : public ::testing::TestWithParam<PngSpec> {};

TEST_P(PngRefusedTest, LeftToFreeImageAndLoadedAsBefore) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/t.png";
    ASSERT_TRUE(WritePng(file, GetParam()));
    TBitmap32 target;
    const std::atomic<bool> stop{false};
    EXPECT_EQ(DecodePngPixels(QFile::encodeName(file), target, stop), TPngDecodeResult::Refused);
    EXPECT_TRUE(target.Empty());
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_EQ(loader.Status(), ilSucces);
    EXPECT_EQ(loader.Bitmap().Width(), GetParam().width);
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikHighBitDepth);
    // FreeImage's full load, which has the pixels (its handle stays in a decoder helper).
    if (DecodeInProcess()) {
        EXPECT_TRUE(FreeImage_HasPixels(loader.SingleBitmap()));
    }
}

INSTANTIATE_TEST_SUITE_P(Png, PngRefusedTest,
                         ::testing::Values(PngSpec{"Rgb16", PNG_COLOR_TYPE_RGB, 16},
                                           PngSpec{"Rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16},
                                           PngSpec{"GreyAlpha16", PNG_COLOR_TYPE_GRAY_ALPHA, 16},
                                           PngSpec{"Grey16Transparent", PNG_COLOR_TYPE_GRAY, 16,
                                                   false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Damaged files: the fast decoder refuses them, so they end as FreeImage's reader
// (and the toolkit's after it) end them.
struct DamageCase {
    const char* name;
    bool interlaced;
    // Changes the written file.
    void (*damage)(QByteArray& file);
};

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.name;
}

int FirstIdat(const QByteArray& b) {
    return b.indexOf("IDAT") - 4;
}

const DamageCase kDamageCases[] = {
    {"CutInItsData", false, [](QByteArray& b) { b.truncate(FirstIdat(b) + 200); }},
    {"CutBeforeItsEnd", false, [](QByteArray& b) { b.chop(12); }},
    {"InterlacedCutInItsData", true, [](QByteArray& b) { b.truncate(FirstIdat(b) + 300); }},
    {"DataWithBadCrc", false,
     [](QByteArray& b) { b[FirstIdat(b) + 100] = char(b[FirstIdat(b) + 100] ^ 0x55); }},
    {"InterlacedDataWithBadCrc", true,
     [](QByteArray& b) { b[FirstIdat(b) + 100] = char(b[FirstIdat(b) + 100] ^ 0x55); }},
};

class PngDamageTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(PngDamageTest, RefusedAndLoadedAsFreeImageLoadsIt) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/t.png";
    ASSERT_TRUE(
        WritePng(file, {"Rgb8", PNG_COLOR_TYPE_RGB, 8, GetParam().interlaced, false, 0, 64, 48}));
    QByteArray bytes = ReadFile(file);
    GetParam().damage(bytes);
    WriteFile(file, bytes);

    TBitmap32 target;
    const std::atomic<bool> stop{false};
    EXPECT_EQ(DecodePngPixels(QFile::encodeName(file), target, stop), TPngDecodeResult::Refused);
    EXPECT_TRUE(target.Empty());
    // FreeImage's reader fails on them too.
    EXPECT_TRUE(Reference(file).Empty());
}

INSTANTIATE_TEST_SUITE_P(Png, PngDamageTest, ::testing::ValuesIn(kDamageCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The two-thread path takes sound 8-bit RGB and RGBA files stored row after row, with
// FreeImage's pixels; anything else, or any fault, it leaves to libpng's reader.
struct PipelineCase {
    const char* name;
    PngSpec spec;
    void (*damage)(QByteArray& file); // none when null
    TPngPipelineResult expected;
};

void PrintTo(const PipelineCase& c, std::ostream* os) {
    *os << c.name;
}

void Refresh(QByteArray& b, int chunk) {
    const std::uint32_t length = (std::uint32_t(uchar(b[chunk])) << 24) |
                                 (std::uint32_t(uchar(b[chunk + 1])) << 16) |
                                 (std::uint32_t(uchar(b[chunk + 2])) << 8) | uchar(b[chunk + 3]);
    const std::uint32_t crc = Crc32(b.constData() + chunk + 4, length + 4);
    for (int i = 0; i < 4; ++i) b[chunk + 8 + int(length) + i] = char(crc >> (24 - 8 * i));
}

const PngSpec kRgb{"Rgb8", PNG_COLOR_TYPE_RGB, 8, false, false, 0, 300, 200};
const PngSpec kRgba{"Rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false, 0, 150, 301};

const PipelineCase kPipelineCases[] = {
    {"Rgb", kRgb, nullptr, TPngPipelineResult::Decoded},
    {"Rgba", kRgba, nullptr, TPngPipelineResult::Decoded},
    // Rows so long that only two are in flight at a time.
    {"RowsOfMegabytes",
     {"W", PNG_COLOR_TYPE_RGB, 8, false, false, 0, 500000, 4},
     nullptr,
     TPngPipelineResult::Decoded},
    {"Palette", {"P", PNG_COLOR_TYPE_PALETTE, 8}, nullptr, TPngPipelineResult::NotTaken},
    {"Interlaced", {"I", PNG_COLOR_TYPE_RGB, 8, true}, nullptr, TPngPipelineResult::NotTaken},
    {"Gamma",
     {"G", PNG_COLOR_TYPE_RGB, 8, false, false, 0.5},
     nullptr,
     TPngPipelineResult::NotTaken},
    {"Transparent",
     {"T", PNG_COLOR_TYPE_RGB, 8, false, true},
     nullptr,
     TPngPipelineResult::NotTaken},
    {"TextAfterThePicture",
     {"X", PNG_COLOR_TYPE_RGB, 8, false, false, 0, 37, 23, true},
     nullptr,
     TPngPipelineResult::NotTaken},
    {"DamagedData", kRgb,
     [](QByteArray& b) { b[FirstIdat(b) + 300] = char(b[FirstIdat(b) + 300] ^ 1); },
     TPngPipelineResult::NotTaken},
    {"DamagedDataWithItsCrcMended", kRgb,
     [](QByteArray& b) {
         // A broken deflate stream in a chunk that checks out: zlib tells.
         for (int i = 0; i < 64; ++i) b[FirstIdat(b) + 10 + i] = char(0xFF);
         Refresh(b, FirstIdat(b));
     },
     TPngPipelineResult::NotTaken},
    {"CutInItsData", kRgb, [](QByteArray& b) { b.truncate(FirstIdat(b) + 5000); },
     TPngPipelineResult::NotTaken},
    {"WithoutItsEnd", kRgb, [](QByteArray& b) { b.chop(12); }, TPngPipelineResult::NotTaken},
    {"DamagedEnd", kRgb, [](QByteArray& b) { b[b.size() - 1] = char(b[b.size() - 1] ^ 1); },
     TPngPipelineResult::NotTaken},
};

class PngPipelineTest : public ::testing::TestWithParam<PipelineCase> {};

TEST_P(PngPipelineTest, TakesOnlySoundCommonFiles) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/t.png";
    ASSERT_TRUE(WritePng(file, GetParam().spec));
    if (GetParam().damage != nullptr) {
        QByteArray bytes = ReadFile(file);
        GetParam().damage(bytes);
        WriteFile(file, bytes);
    }
    TBitmap32 target;
    const std::atomic<bool> stop{false};
    int rows = 0;
    const TPngRowsReady ready = [&](const TBitmap32&, int first, int count, bool coarse) {
        EXPECT_FALSE(coarse);
        EXPECT_EQ(first, rows);
        rows = first + count;
    };
    const TPngPipelineResult result =
        DecodePngRowsInTwoThreads(QFile::encodeName(file), target, stop, ready);
    EXPECT_EQ(result, GetParam().expected);
    if (result != TPngPipelineResult::Decoded) return;
    EXPECT_EQ(rows, GetParam().spec.height);
    EXPECT_TRUE(SamePixels(target, Reference(file)));
}

INSTANTIATE_TEST_SUITE_P(Png, PngPipelineTest, ::testing::ValuesIn(kPipelineCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PngPipeline, StopRequestEndsBothThreads) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/t.png";
    ASSERT_TRUE(WritePng(file, kRgb));
    TBitmap32 target;
    std::atomic<bool> stop{false};
    const TPngRowsReady ready = [&](const TBitmap32&, int, int, bool) { stop = true; };
    EXPECT_EQ(DecodePngRowsInTwoThreads(QFile::encodeName(file), target, stop, ready),
              TPngPipelineResult::Stopped);
}

// The rows reach the caller in order as they arrive, and an interlaced picture's passes
// each cover the whole picture.
TEST(PngDecoder, ReportsRowsInOrderAndPassesWhole) {
    QTemporaryDir dir;
    const QString plain = dir.path() + "/p.png";
    const QString interlaced = dir.path() + "/i.png";
    ASSERT_TRUE(WritePng(plain, {"Rgb8", PNG_COLOR_TYPE_RGB, 8, false, false, 0, 40, 50}));
    ASSERT_TRUE(WritePng(interlaced, {"Rgb8", PNG_COLOR_TYPE_RGB, 8, true, false, 0, 40, 50}));
    const std::atomic<bool> stop{false};
    TBitmap32 target;
    int next = 0;
    int coarse = 0;
    const TPngRowsReady rows = [&](const TBitmap32& picture, int first, int count, bool whole) {
        if (whole) {
            ++coarse;
            EXPECT_EQ(first, 0);
            EXPECT_EQ(count, picture.Height());
            return;
        }
        EXPECT_EQ(first, next);
        next = first + count;
    };
    ASSERT_EQ(DecodePngPixels(QFile::encodeName(plain), target, stop, nullptr, rows),
              TPngDecodeResult::Decoded);
    EXPECT_EQ(next, 50);
    EXPECT_EQ(coarse, 0);
    next = 0;
    ASSERT_EQ(DecodePngPixels(QFile::encodeName(interlaced), target, stop, nullptr, rows),
              TPngDecodeResult::Decoded);
    // Passes 1 to 6 are looked at; the seventh completes the picture.
    EXPECT_EQ(coarse, 6);
    EXPECT_EQ(next, 0);
    EXPECT_TRUE(SamePixels(target, Reference(interlaced)));
}

// The reduced copy of a half-arrived picture: its top half averages across the middle
// of the picture's blocks, its bottom half is transparent.
TEST(PartialLook, ReducesTheRowsThatArrivedAndLeavesTheRestTransparent) {
    TBitmap32 picture(10, 12);
    picture.Clear(0);
    // Rows 0 to 5 alternate between two colours; in each of them the last column differs.
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x)
            picture.SetPixel(x, y, x == 8 ? 0xFF000000u : (y % 2 == 0 ? 0xFF204060u : 0xFF406080u));
    TPartialLook look(10, 12, 3);
    ASSERT_EQ(look.Picture().Width(), 4);
    ASSERT_EQ(look.Picture().Height(), 4);
    look.TakeRows(picture, 0, 4);
    EXPECT_EQ(look.RowsTaken(), 4);
    look.TakeRows(picture, 4, 2);
    // Band 0 is read along row 1, band 1 along row 4; column 2 of the reduced picture
    // averages columns 6 to 8, column 3 is column 9 alone.
    EXPECT_EQ(look.Picture().Pixel(0, 0), 0xFF406080u);
    EXPECT_EQ(look.Picture().Pixel(2, 0), 0xFF2B4055u);
    EXPECT_EQ(look.Picture().Pixel(3, 0), 0xFF406080u);
    EXPECT_EQ(look.Picture().Pixel(0, 1), 0xFF204060u);
    EXPECT_EQ(look.Picture().Pixel(2, 1), 0xFF152B40u);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(look.Picture().Pixel(x, 2), 0u) << x;
        EXPECT_EQ(look.Picture().Pixel(x, 3), 0u) << x;
    }
    // Rows out of order are not taken.
    look.TakeRows(picture, 9, 3);
    EXPECT_EQ(look.RowsTaken(), 6);
    // The last band is shorter.
    look.TakeRows(picture, 6, 6);
    EXPECT_EQ(look.Picture().Pixel(0, 3), 0u);
    look.TakeWhole(picture);
    EXPECT_EQ(look.RowsTaken(), 12);
}

// A load with a quick look hands out drawings of the picture as it arrives: the part
// that has arrived is the picture's, the rest is transparent, and every look comes
// before the picture is complete.
TEST(PngArrivingLook, DrawsWhatHasArrived) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/big.png";
    // Large enough to take longer than the first look's delay even without sanitizers.
    const TFreeImagePtr dib = MakePattern(1600, 1200);
    ASSERT_FALSE(Save(dib.get(), FIF_PNG, file, PNG_Z_BEST_COMPRESSION).isEmpty());
    TImageLoadRequest request;
    request.FileName = file;
    // The share of the rows (in hundredths) that hold something, each time Prepare ran.
    std::vector<int> arrived;
    request.Prepare = [&](TBitmap32& picture, TDrawnPicture& drawn) {
        int rows = 0;
        while (rows < picture.Height() && picture.Pixel(0, rows) != 0) ++rows;
        arrived.push_back(rows * 100 / picture.Height());
        drawn.Bitmap = picture;
    };
    int looks = 0;
    request.Quick.Width = 400;
    request.Quick.Height = 300;
    std::atomic<bool> stop{false};
    request.Quick.Ready = [&](TDrawnPicture&& drawn) {
        ++looks;
        EXPECT_EQ(drawn.Bitmap.Width(), 400);
        EXPECT_EQ(drawn.Bitmap.Height(), 300);
    };
    request.Quick.FirstAfterMs = 0;
    TImageLoadResult result;
    RunImageLoad(request, stop, result);
    ASSERT_EQ(result.Status, ilSucces);
    // At least the first report of rows was looked at, and the last Prepare drew the
    // whole picture.
    ASSERT_GE(looks, 1);
    ASSERT_EQ(int(arrived.size()), looks + 1);
    EXPECT_EQ(arrived.back(), 100);
    for (int i = 0; i < looks; ++i) {
        EXPECT_GT(arrived[std::size_t(i)], 0);
        EXPECT_LT(arrived[std::size_t(i)], 100);
    }
}

} // namespace
