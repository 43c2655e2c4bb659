#include "LoadingTestSupport.h"

#include "common/TestSupport.h"
#include "gfx/Orientation.h"
#include "loading/DngWriter.h"
#include "loading/EarlyImageLoad.h"
#include "loading/FreeImageSetup.h"
#include "loading/ImageLoadJob.h"
#include "loading/JpegDecoder.h"
#include "loading/ShellThumbnail.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

using namespace pictrel::test;
using enum TImageLoaderProStatus;

namespace {

// The test picture: four solid quadrants, so that every turn and mirror puts another
// colour into each corner.
constexpr int kWidth = 48;
constexpr int kHeight = 32;
constexpr TColor32 kRed = 0xFFFF0000u;   // top left as stored
constexpr TColor32 kGreen = 0xFF00FF00u; // top right
constexpr TColor32 kBlue = 0xFF0000FFu;  // bottom left
constexpr TColor32 kWhite = 0xFFFFFFFFu; // bottom right

TColor32 QuadrantColour(int x, int y) {
    if (y < kHeight / 2) return x < kWidth / 2 ? kRed : kGreen;
    return x < kWidth / 2 ? kBlue : kWhite;
}

// Within JPEG's loss on a solid block.
bool Near(TColor32 a, TColor32 b) {
    constexpr int tolerance = 24;
    return std::abs(RedOf(a) - RedOf(b)) <= tolerance &&
           std::abs(GreenOf(a) - GreenOf(b)) <= tolerance &&
           std::abs(BlueOf(a) - BlueOf(b)) <= tolerance;
}

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray bytes;
    for (const int v : values) bytes.append(char(v & 0xFF));
    return bytes;
}

QByteArray JpegOf(FIBITMAP* dib) {
    EnsureFreeImage();
    FIMEMORY* memory = FreeImage_OpenMemory(nullptr, 0);
    EXPECT_TRUE(
        FreeImage_SaveToMemory(FIF_JPEG, dib, memory, JPEG_QUALITYSUPERB | JPEG_SUBSAMPLING_444));
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    FreeImage_CloseMemory(memory);
    return bytes;
}

// A JPEG of `width` x `height` whose pixel (x, y), counted from the top, is colour(x, y).
QByteArray MakeJpeg(int width, int height, const std::function<TColor32(int, int)>& colour) {
    EnsureFreeImage();
    const TFreeImagePtr dib(FreeImage_Allocate(width, height, 24));
    for (int y = 0; y < height; ++y) {
        BYTE* p = FreeImage_GetScanLine(dib.get(), height - 1 - y); // FreeImage is bottom-up
        for (int x = 0; x < width; ++x, p += 3) {
            const TColor32 c = colour(x, y);
            p[FI_RGBA_RED] = BYTE(RedOf(c));
            p[FI_RGBA_GREEN] = BYTE(GreenOf(c));
            p[FI_RGBA_BLUE] = BYTE(BlueOf(c));
        }
    }
    return JpegOf(dib.get());
}

QByteArray QuadrantJpeg() {
    return MakeJpeg(kWidth, kHeight, QuadrantColour);
}

// The same quadrants as a four-component (CMYK) JPEG, which the fast decoder leaves
// to FreeImage.
QByteArray CmykJpeg() {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 4;
    cinfo.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(std::size_t(kWidth) * 4);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        for (int x = 0; x < kWidth; ++x) {
            const TColor32 c = QuadrantColour(x, y);
            row[std::size_t(x) * 4 + 0] = JSAMPLE(RedOf(c));
            row[std::size_t(x) * 4 + 1] = JSAMPLE(GreenOf(c));
            row[std::size_t(x) * 4 + 2] = JSAMPLE(BlueOf(c));
            row[std::size_t(x) * 4 + 3] = 0;
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    return bytes;
}

// ---- Exif blocks ----

struct TEntry {
    std::uint16_t Tag;
    std::uint16_t Type; // 2 ASCII, 3 SHORT, 4 LONG
    std::uint32_t Count;
    std::uint32_t Value; // the four value bytes: a SHORT in the first two, or an offset
};

// A TIFF structure as an Exif block holds it, written the way the file's byte order
// says.
struct TTiffWriter {
    bool Big = false;
    QByteArray u16(std::uint32_t v) const {
        return Big ? Bytes({int(v >> 8), int(v)}) : Bytes({int(v), int(v >> 8)});
    }
    QByteArray u32(std::uint32_t v) const {
        return Big ? u16(v >> 16) + u16(v & 0xFFFF) : u16(v & 0xFFFF) + u16(v >> 16);
    }
    QByteArray Header(std::uint32_t firstDirectory) const {
        return (Big ? QByteArray("MM\0*", 4) : QByteArray("II*\0", 4)) + u32(firstDirectory);
    }
    QByteArray Entry(const TEntry& e) const {
        // A SHORT value sits in the first two of the four value bytes.
        const QByteArray value = e.Type == 3 && e.Count == 1 ? u16(e.Value) + u16(0) : u32(e.Value);
        return u16(e.Tag) + u16(e.Type) + u32(e.Count) + value;
    }
    // A directory claiming `claimed` entries (the real number when negative).
    QByteArray Directory(const std::vector<TEntry>& entries, std::uint32_t next,
                         int claimed = -1) const {
        QByteArray d = u16(std::uint32_t(claimed < 0 ? int(entries.size()) : claimed));
        for (const TEntry& e : entries) d += Entry(e);
        return d + u32(next);
    }
};

QByteArray Segment(int code, const QByteArray& payload) {
    const auto length = std::uint32_t(payload.size() + 2);
    return Bytes({0xFF, code, int(length >> 8), int(length)}) + payload;
}

QByteArray ExifSegment(const QByteArray& tiff) {
    return Segment(0xE1, QByteArray("Exif\0\0", 6) + tiff);
}

// The Exif segment goes first, before the JFIF one, as cameras write it.
QByteArray WithSegment(const QByteArray& jpeg, const QByteArray& segment) {
    return jpeg.left(2) + segment + jpeg.mid(2);
}

constexpr TEntry Make{0x010F, 2, 4, 0x006D6143}; // "Cam\0", inline
TEntry Orientation(std::uint32_t value, std::uint16_t type = 3, std::uint32_t count = 1) {
    return {0x0112, type, count, value};
}

// A sound Exif block: the camera's make, then its orientation.
QByteArray ExifWith(std::uint32_t orientation, bool big = false) {
    const TTiffWriter w{big};
    return ExifSegment(w.Header(8) + w.Directory({Make, Orientation(orientation)}, 0));
}

// ---- Loading ----

class ExifOrientationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString Write(const QString& name, const QByteArray& data) {
        const QString path = m_dir.filePath(name);
        WriteFile(path, data);
        return path;
    }

    static TImageLoadResult Load(const QString& file, bool turn = true) {
        TImageLoadRequest request;
        request.FileName = file;
        request.Settings.ExifOrientation = turn;
        request.Settings.HalfSize = true; // RAW files
        TImageLoadResult result;
        RunImageLoad(request, std::atomic<bool>{false}, result);
        return result;
    }

    // The picture of `file` as stored, turned here by `orientation`: what the loader
    // must deliver.
    static TBitmap32 TurnedByHand(const QString& file, int orientation) {
        TImageLoadResult stored = Load(file, false);
        EXPECT_EQ(stored.Status, ilSucces);
        ApplyExifOrientation(stored.Bitmap, orientation);
        return std::move(stored.Bitmap);
    }

    QTemporaryDir m_dir;
};

QString Line(const QStringList& list, const QString& name) {
    for (const QString& line : list)
        if (line.startsWith(name + ':')) return line;
    return {};
}

void ExpectFileSize(const TImageLoadResult& result, int width, int height) {
    EXPECT_EQ(Line(result.InfoList, "Width"), QString("Width: %1 pixels;").arg(width));
    EXPECT_EQ(Line(result.InfoList, "Height"), QString("Height: %1 pixels;").arg(height));
}

struct TCodeCase {
    int Orientation;
    TColor32 TopLeft, TopRight; // of the upright picture
};

class OrientationCodeTest : public ExifOrientationTest,
                            public ::testing::WithParamInterface<TCodeCase> {};

TEST_P(OrientationCodeTest, JpegArrivesUpright) {
    const TCodeCase& c = GetParam();
    const QString file = Write("photo.jpg", WithSegment(QuadrantJpeg(), ExifWith(c.Orientation)));
    TBitmap32 prepared;
    TImageLoadRequest request;
    request.FileName = file;
    // The first view is drawn from the upright picture.
    request.Prepare = [&](TBitmap32& picture, TDrawnPicture&) { prepared = picture; };
    TImageLoadResult result;
    RunImageLoad(request, std::atomic<bool>{false}, result);
    ASSERT_EQ(result.Status, ilSucces);
    EXPECT_EQ(result.ImageKind, TVekImageKind::ikJpeg);

    const TBitmap32& b = result.Bitmap;
    const bool swaps = c.Orientation >= 5;
    ASSERT_EQ(b.Width(), swaps ? kHeight : kWidth);
    ASSERT_EQ(b.Height(), swaps ? kWidth : kHeight);
    EXPECT_PRED2(Near, b.Pixel(3, 3), c.TopLeft);
    EXPECT_PRED2(Near, b.Pixel(b.Width() - 4, 3), c.TopRight);
    EXPECT_TRUE(SamePixels(b, TurnedByHand(file, c.Orientation)));
    EXPECT_TRUE(SamePixels(prepared, b));
    // The information keeps the file's own size, the metadata its own tag.
    ExpectFileSize(result, kWidth, kHeight);
    EXPECT_TRUE(result.ExifList.join('\n').contains("Orientation"))
        << result.ExifList.join('\n').toStdString();
}

TEST_P(OrientationCodeTest, NothingIsTurnedWhenSwitchedOff) {
    const TCodeCase& c = GetParam();
    const QString file = Write("photo.jpg", WithSegment(QuadrantJpeg(), ExifWith(c.Orientation)));
    const TImageLoadResult result = Load(file, false);
    ASSERT_EQ(result.Status, ilSucces);
    ASSERT_EQ(result.Bitmap.Width(), kWidth);
    ASSERT_EQ(result.Bitmap.Height(), kHeight);
    EXPECT_PRED2(Near, result.Bitmap.Pixel(3, 3), kRed);
    EXPECT_PRED2(Near, result.Bitmap.Pixel(kWidth - 4, 3), kGreen);
    ExpectFileSize(result, kWidth, kHeight);
}

// Decoded by FreeImage instead of the fast path: turned the same way.
TEST_P(OrientationCodeTest, CmykJpegArrivesUpright) {
    const TCodeCase& c = GetParam();
    const QString file = Write("cmyk.jpg", WithSegment(CmykJpeg(), ExifWith(c.Orientation)));
    const TImageLoadResult result = Load(file);
    ASSERT_EQ(result.Status, ilSucces);
    const bool swaps = c.Orientation >= 5;
    ASSERT_EQ(result.Bitmap.Width(), swaps ? kHeight : kWidth);
    EXPECT_TRUE(SamePixels(result.Bitmap, TurnedByHand(file, c.Orientation)));
    ExpectFileSize(result, kWidth, kHeight);
}

// A big-endian block reads the same.
TEST_P(OrientationCodeTest, BigEndianBlockReadsTheSame) {
    const TCodeCase& c = GetParam();
    const QString file =
        Write("motorola.jpg", WithSegment(QuadrantJpeg(), ExifWith(c.Orientation, true)));
    const TImageLoadResult result = Load(file);
    ASSERT_EQ(result.Status, ilSucces);
    EXPECT_PRED2(Near, result.Bitmap.Pixel(3, 3), c.TopLeft);
    EXPECT_PRED2(Near, result.Bitmap.Pixel(result.Bitmap.Width() - 4, 3), c.TopRight);
}

// Stored: red | green over blue | white.
INSTANTIATE_TEST_SUITE_P(Codes, OrientationCodeTest,
                         ::testing::Values(TCodeCase{1, kRed, kGreen}, TCodeCase{2, kGreen, kRed},
                                           TCodeCase{3, kWhite, kBlue}, TCodeCase{4, kBlue, kWhite},
                                           TCodeCase{5, kRed, kBlue}, TCodeCase{6, kBlue, kRed},
                                           TCodeCase{7, kWhite, kGreen},
                                           TCodeCase{8, kGreen, kWhite}),
                         [](const auto& info) { return std::to_string(info.param.Orientation); });

// Some writers store the code as a LONG; the value is the same.
TEST_F(ExifOrientationTest, LongValueCountsToo) {
    const TTiffWriter w{false};
    const QByteArray exif = ExifSegment(w.Header(8) + w.Directory({Orientation(8, 4)}, 0));
    const TImageLoadResult result = Load(Write("long.jpg", WithSegment(QuadrantJpeg(), exif)));
    ASSERT_EQ(result.Status, ilSucces);
    ASSERT_EQ(result.Bitmap.Width(), kHeight);
    EXPECT_PRED2(Near, result.Bitmap.Pixel(3, 3), kGreen);
}

// An odd size with the usual chroma subsampling, over many strips of the fast decoder.
TEST_F(ExifOrientationTest, FastDecoderTurnsEveryStrip) {
    const TFreeImagePtr pattern = MakePattern(67, 45);
    const QByteArray jpeg = JpegOf(pattern.get());
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const QString file =
            Write(QString("odd%1.jpg").arg(orientation), WithSegment(jpeg, ExifWith(orientation)));
        const TImageLoadResult result = Load(file);
        ASSERT_EQ(result.Status, ilSucces);
        EXPECT_TRUE(SamePixels(result.Bitmap, TurnedByHand(file, orientation)));
    }
}

// A target of the turned size is written in place, as the loader reuses its buffers.
TEST_F(ExifOrientationTest, FastDecoderReusesATargetOfTheTurnedSize) {
    const QString file = Write("plain.jpg", QuadrantJpeg());
    TBitmap32 target(kHeight, kWidth);
    const TColor32* buffer = target.Bits();
    ASSERT_EQ(DecodeJpegPixels(QFile::encodeName(file), target, std::atomic<bool>{false}, 8),
              TJpegDecodeResult::Decoded);
    EXPECT_EQ(target.Bits(), buffer);
    ASSERT_EQ(target.Width(), kHeight);
    EXPECT_PRED2(Near, target.Pixel(3, 3), kGreen);
    EXPECT_PRED2(Near, target.Pixel(kHeight - 4, 3), kWhite);
    EXPECT_PRED2(Near, target.Pixel(3, kWidth - 4), kRed);
}

// ---- Tags that mean "as stored" and damaged blocks ----

struct TDamageCase {
    const char* Name;
    std::function<QByteArray()> Exif; // the whole segment
};

class DamagedExifTest : public ExifOrientationTest,
                        public ::testing::WithParamInterface<TDamageCase> {};

TEST_P(DamagedExifTest, LoadsAsStored) {
    const QString file = Write("damaged.jpg", WithSegment(QuadrantJpeg(), GetParam().Exif()));
    const TImageLoadResult result = Load(file);
    ASSERT_EQ(result.Status, ilSucces);
    ASSERT_EQ(result.Bitmap.Width(), kWidth);
    ASSERT_EQ(result.Bitmap.Height(), kHeight);
    EXPECT_PRED2(Near, result.Bitmap.Pixel(3, 3), kRed);
    EXPECT_PRED2(Near, result.Bitmap.Pixel(kWidth - 4, 3), kGreen);
    ExpectFileSize(result, kWidth, kHeight);
    EXPECT_EQ(ReadJpegOrientation(file), kExifOrientationNone);
}

const TTiffWriter kIntel{false};

INSTANTIATE_TEST_SUITE_P(
    Tags, DamagedExifTest,
    ::testing::Values(
        TDamageCase{"Zero", [] { return ExifWith(0); }},
        TDamageCase{"Nine", [] { return ExifWith(9); }},
        TDamageCase{"Largest", [] { return ExifWith(0xFFFF); }},
        // Read as a signed value, 0xFFFA would be -6.
        TDamageCase{"NegativeIfSigned", [] { return ExifWith(0xFFFA); }},
        TDamageCase{"TwoValues",
                    [] {
                        return ExifSegment(kIntel.Header(8) +
                                           kIntel.Directory({Orientation(0x00060006, 3, 2)}, 0));
                    }},
        TDamageCase{"Text",
                    [] {
                        return ExifSegment(kIntel.Header(8) +
                                           kIntel.Directory({Orientation(0x36, 2, 2)}, 0));
                    }},
        TDamageCase{"HugeCount",
                    [] {
                        return ExifSegment(kIntel.Header(8) +
                                           kIntel.Directory({Orientation(8, 3, 0x40000000)}, 0));
                    }},
        TDamageCase{"ValuesPastTheEnd",
                    [] {
                        return ExifSegment(kIntel.Header(8) +
                                           kIntel.Directory({Orientation(0xFFFFFFF0u, 3, 4)}, 0));
                    }},
        TDamageCase{"DirectoryPastTheEnd",
                    [] {
                        return ExifSegment(kIntel.Header(0x7FFFFFF0) +
                                           kIntel.Directory({Orientation(6)}, 0));
                    }},
        TDamageCase{"DirectoryCutInTheOrientation",
                    [] {
                        const QByteArray d = kIntel.Directory({Make, Orientation(6)}, 0, 4);
                        return ExifSegment(kIntel.Header(8) + d.left(2 + 12 + 6));
                    }},
        TDamageCase{"HeaderOnly", [] { return ExifSegment(kIntel.Header(8)); }},
        TDamageCase{"UnknownByteOrder",
                    [] {
                        QByteArray tiff = kIntel.Header(8) + kIntel.Directory({Orientation(6)}, 0);
                        tiff[1] = 'X';
                        return ExifSegment(tiff);
                    }},
        TDamageCase{"NoTiffAtAll", [] { return ExifSegment(QByteArray(40, '\x06')); }}),
    [](const auto& info) { return std::string(info.param.Name); });

// Whatever the bytes of the block, the picture loads, upright or as stored.
TEST_F(ExifOrientationTest, ScrambledBlocksNeverBreakTheLoad) {
    const QByteArray jpeg = QuadrantJpeg();
    const QByteArray sound = ExifWith(6);
    std::mt19937 random(20240611);
    int turned = 0;
    for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(round);
        QByteArray exif = sound;
        // The segment's marker and length stay; what FreeImage parses is scrambled.
        for (int i = 0; i <= round % 2; ++i) {
            const auto at = qsizetype(10 + random() % std::uint32_t(exif.size() - 10));
            exif[at] = char(random() & 0xFF);
        }
        const TImageLoadResult result = Load(Write("scrambled.jpg", WithSegment(jpeg, exif)));
        ASSERT_EQ(result.Status, ilSucces);
        const bool swapped = result.Bitmap.Width() == kHeight && result.Bitmap.Height() == kWidth;
        ASSERT_TRUE(swapped ||
                    (result.Bitmap.Width() == kWidth && result.Bitmap.Height() == kHeight));
        if (swapped) ++turned;
        ExpectFileSize(result, kWidth, kHeight);
    }
    // Most scrambles hit other bytes than the tag, so the turn must still be seen.
    EXPECT_GT(turned, 0);
}

// ---- Other formats ----

// A camera RAW file is turned by the orientation its decoder reports.
TEST_F(ExifOrientationTest, RawArrivesUpright) {
    TDngDescription d;
    d.Sample = BayerOf([](int x, int y) -> std::array<std::uint16_t, 3> {
        return {std::uint16_t(2000 + x * 200), std::uint16_t(1000 + y * 300), 20000};
    });
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        d.Orientation = orientation;
        const QString file = Write(QString("raw%1.dng").arg(orientation), MakeDng(d));
        const TImageLoadResult result = Load(file);
        ASSERT_EQ(result.Status, ilSucces);
        ASSERT_EQ(result.ImageKind, TVekImageKind::ikRaw);
        const bool swaps = orientation >= 5;
        EXPECT_EQ(result.Bitmap.Width(), swaps ? 96 : 128);
        EXPECT_TRUE(SamePixels(result.Bitmap, TurnedByHand(file, orientation)));
        ExpectFileSize(result, 128, 96);
        const TImageLoadResult stored = Load(file, false);
        EXPECT_EQ(stored.Bitmap.Width(), 128);
    }
}

// A picture FreeImage reads whole (PNG) has no Exif block: nothing changes.
TEST_F(ExifOrientationTest, PictureWithoutTagIsLeftAlone) {
    const QString file = Save(MakePattern(30, 20).get(), FIF_PNG, m_dir.filePath("plain.png"));
    const TImageLoadResult result = Load(file);
    ASSERT_EQ(result.Status, ilSucces);
    EXPECT_TRUE(SamePixels(result.Bitmap, FreeImageReference(file)));
}

// ---- The settings and the early load ----

TEST(ExifOrientationSettings, OnByDefaultResetAndCompared) {
    TVekImageSettings a;
    EXPECT_TRUE(a.ExifOrientation);
    TVekImageSettings b;
    b.ExifOrientation = false;
    EXPECT_FALSE(a == b);
    b.Reset();
    EXPECT_TRUE(b.ExifOrientation);
    EXPECT_TRUE(a == b);
}

TEST_F(ExifOrientationTest, EarlyLoadIsTakenOnlyWithTheSameChoice) {
    const QString file = Write("early.jpg", WithSegment(QuadrantJpeg(), ExifWith(6)));
    TImageLoadRequest request;
    request.FileName = file;
    TEarlyImageLoad early(request);
    ASSERT_TRUE(PumpUntil([&] { return early.Done(); }, 20000));
    TImageLoadRequest other = request;
    other.Settings.ExifOrientation = false;
    TImageLoadResult result;
    EXPECT_FALSE(TEarlyImageLoad::Take(other, std::atomic<bool>{false}, result));
    ASSERT_TRUE(TEarlyImageLoad::Take(request, std::atomic<bool>{false}, result));
    EXPECT_EQ(result.Bitmap.Width(), kHeight);
    EXPECT_PRED2(Near, result.Bitmap.Pixel(3, 3), kBlue);
}

// ---- Helpers ----

TEST(ExifOrientationTag, ReadsNothingFromNothing) {
    EXPECT_EQ(ExifOrientationTag(nullptr), kExifOrientationNone);
    EnsureFreeImage();
    const TFreeImagePtr dib(FreeImage_Allocate(4, 4, 24));
    EXPECT_EQ(ExifOrientationTag(dib.get()), kExifOrientationNone);
}

struct TFlipCase {
    int Flip;
    int Orientation;
};

class RawFlipTest : public ::testing::TestWithParam<TFlipCase> {};

TEST_P(RawFlipTest, NamesTheSameTurn) {
    EXPECT_EQ(ExifOrientationOfRawFlip(GetParam().Flip), GetParam().Orientation);
}

// Bit 4 exchanges rows and columns, bit 2 mirrors top to bottom, bit 1 left to right.
INSTANTIATE_TEST_SUITE_P(Codes, RawFlipTest,
                         ::testing::Values(TFlipCase{0, 1}, TFlipCase{1, 2}, TFlipCase{2, 4},
                                           TFlipCase{3, 3}, TFlipCase{4, 5}, TFlipCase{5, 8},
                                           TFlipCase{6, 6}, TFlipCase{7, 7}, TFlipCase{8, 1},
                                           TFlipCase{-1, 1}, TFlipCase{90, 1}));

// ---- The quick picture from the embedded thumbnail ----

// A 40 x 20 thumbnail, red on the left and blue on the right, in the second directory
// of an Exif block whose first directory records `orientation`.
QByteArray ExifWithThumbnail(std::uint32_t orientation) {
    const QByteArray thumbnail = MakeJpeg(40, 20, [](int x, int) { return x < 20 ? kRed : kBlue; });
    const TTiffWriter w{false};
    constexpr std::uint32_t kSecond = 8 + 2 + 12 + 4;
    constexpr std::uint32_t kThumbnail = kSecond + 2 + 2 * 12 + 4;
    QByteArray tiff = w.Header(8) + w.Directory({Orientation(orientation)}, kSecond);
    tiff += w.Directory(
        {{0x0201, 4, 1, kThumbnail}, {0x0202, 4, 1, std::uint32_t(thumbnail.size())}}, 0);
    return ExifSegment(tiff + thumbnail);
}

TEST_F(ExifOrientationTest, EmbeddedThumbnailIsTurnedLikeThePicture) {
    const QString file = Write("thumb.jpg", WithSegment(QuadrantJpeg(), ExifWithThumbnail(6)));
    TBitmap32 thumbnail;
    ASSERT_TRUE(ReadEmbeddedThumbnail(file, thumbnail));
    ASSERT_EQ(thumbnail.Width(), 40); // read as stored
    EXPECT_EQ(ReadJpegOrientation(file), 6);

    // Turned a quarter clockwise: 20 x 40, red on top, fitted 50 x 100 into the box.
    TBitmap32 upright;
    ASSERT_TRUE(ShellThumbnail(file, upright, 100, clBlack32, 100));
    EXPECT_PRED2(Near, upright.Pixel(50, 10), kRed);
    EXPECT_PRED2(Near, upright.Pixel(50, 90), kBlue);
    EXPECT_EQ(upright.Pixel(10, 50), clBlack32);

    TBitmap32 stored;
    ASSERT_TRUE(ShellThumbnail(file, stored, 100, clBlack32, 100, false));
    EXPECT_PRED2(Near, stored.Pixel(10, 50), kRed);
    EXPECT_PRED2(Near, stored.Pixel(90, 50), kBlue);
    EXPECT_EQ(stored.Pixel(50, 10), clBlack32);
}

TEST_F(ExifOrientationTest, OrientationOfFilesWithoutOne) {
    EXPECT_EQ(ReadJpegOrientation(m_dir.filePath("missing.jpg")), kExifOrientationNone);
    EXPECT_EQ(ReadJpegOrientation(Write("text.jpg", "not a picture")), kExifOrientationNone);
    EXPECT_EQ(ReadJpegOrientation(Write("plain.jpg", QuadrantJpeg())), kExifOrientationNone);
    EXPECT_EQ(ReadJpegOrientation(m_dir.path()), kExifOrientationNone);
}

} // namespace
