#include "LoadingTestSupport.h"

#include "loading/ImageInformation.h"
#include "loading/ImageLoadJob.h"
#include "loading/JpegGuard.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include <jpeglib.h>

using namespace pictrel::test;
using enum TImageLoaderProStatus;
using enum TJpegVerdict;

namespace {

void Put16(QByteArray& b, int at, unsigned v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8);
}
void Put32(QByteArray& b, int at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
void PutEntry(QByteArray& b, int at, unsigned tag, unsigned type, std::uint32_t count,
              std::uint32_t value) {
    Put16(b, at, tag);
    Put16(b, at + 2, type);
    Put32(b, at + 4, count);
    Put32(b, at + 8, value);
}

QByteArray Segment(int code, const QByteArray& payload) {
    const int length = int(payload.size()) + 2;
    QByteArray segment("\xFF", 1);
    segment.append(char(code)).append(char(length >> 8)).append(char(length & 0xFF));
    return segment + payload;
}
QByteArray AfterSoi(const QByteArray& jpeg, const QByteArray& segment) {
    return jpeg.left(2) + segment + jpeg.mid(2);
}
QByteArray BeforeSecondScan(const QByteArray& jpeg, const QByteArray& segment) {
    const qsizetype second = jpeg.indexOf("\xFF\xDA", jpeg.indexOf("\xFF\xDA") + 2);
    return jpeg.left(second) + segment + jpeg.mid(second);
}
QByteArray Jfxx(const QByteArray& thumbnail) {
    return Segment(0xE0, QByteArray("JFXX\0\x10", 6) + thumbnail);
}

// A little-endian Exif block as cameras write it: Make, ImageDescription and the Exif
// pointer in the first directory; DateTimeOriginal, a Canon maker note and the
// interoperability pointer in the Exif directory; the thumbnail in the second directory.
struct TExif {
    QByteArray Tiff;
    // The places the cases damage.
    int Ifd0 = 8, Link0 = 0, Description = 0, ExifPointer = 0, Exif = 0, Interop = 0;
    int CanonArray = 0, ThumbnailOffset = 0, ThumbnailSize = 0;
    [[nodiscard]] QByteArray Block() const {
        return Segment(0xE1, QByteArray("Exif\0\0", 6) + Tiff);
    }
};

TExif MakeExif(const QByteArray& thumbnail) {
    enum : unsigned { kAscii = 2, kShort = 3, kLong = 4, kUndefined = 7 };
    TExif x;
    x.Exif = x.Ifd0 + 2 + 3 * 12 + 4;
    const int interop = x.Exif + 2 + 3 * 12 + 4, maker = interop + 18, ifd1 = maker + 18;
    const int make = ifd1 + 2 + 2 * 12 + 4, description = make + 6, date = description + 15;
    const int canon = date + 20, picture = canon + 6;
    QByteArray& t = x.Tiff;
    t = QByteArray("II*\0", 4) + QByteArray(make - 4, '\0') + QByteArray("Canon\0", 6) +
        QByteArray("A test picture\0", 15) + QByteArray("2024:05:06 07:08:09\0", 20) +
        QByteArray("\1\0\2\0\3\0", 6) + thumbnail;
    Put32(t, 4, x.Ifd0);
    Put16(t, x.Ifd0, 3);
    PutEntry(t, x.Ifd0 + 2, 0x010F, kAscii, 6, make);
    PutEntry(t, x.Description = x.Ifd0 + 14, 0x010E, kAscii, 15, description);
    PutEntry(t, x.ExifPointer = x.Ifd0 + 26, 0x8769, kLong, 1, x.Exif);
    Put32(t, x.Link0 = x.Ifd0 + 38, ifd1);
    Put16(t, x.Exif, 3);
    PutEntry(t, x.Exif + 2, 0x9003, kAscii, 20, date);
    PutEntry(t, x.Exif + 14, 0x927C, kUndefined, 18, maker);
    PutEntry(t, x.Interop = x.Exif + 26, 0xA005, kLong, 1, interop);
    Put16(t, interop, 1);
    PutEntry(t, interop + 2, 0x0001, kAscii, 4, 0x00383952); // "R98"
    Put16(t, maker, 1);
    PutEntry(t, x.CanonArray = maker + 2, 0x0001, kShort, 3, canon);
    Put16(t, ifd1, 2);
    PutEntry(t, x.ThumbnailOffset = ifd1 + 2, 0x0201, kLong, 1, picture);
    PutEntry(t, x.ThumbnailSize = ifd1 + 14, 0x0202, kLong, 1, std::uint32_t(thumbnail.size()));
    return x;
}

QByteArray JpegBytes(int width, int height, int flags) {
    QTemporaryDir dir;
    return ReadFile(Save(MakePattern(width, height).get(), FIF_JPEG, dir.filePath("p.jpg"), flags));
}

QByteArray WithFrameSide(QByteArray jpeg, int side) {
    const qsizetype sof = std::max(jpeg.indexOf("\xFF\xC0"), jpeg.indexOf("\xFF\xC2"));
    for (int i : {5, 7}) {
        jpeg[sof + i] = char(side >> 8);
        jpeg[sof + i + 1] = char(side & 0xFF);
    }
    return jpeg;
}

struct TParts {
    QByteArray Base = JpegBytes(64, 48, 90);
    QByteArray Progressive = JpegBytes(64, 48, JPEG_PROGRESSIVE | 90);
    QByteArray Thumb = JpegBytes(16, 8, 90);
    QByteArray HugeThumb = WithFrameSide(Thumb, 30000);
    TExif Exif = MakeExif(Thumb);
};

const TParts& Parts() {
    static const TParts parts;
    return parts;
}

// What a file becomes with a damaged copy of the sound Exif block.
QByteArray Damaged(const std::function<void(TExif&)>& damage) {
    TExif x = Parts().Exif;
    damage(x);
    return AfterSoi(Parts().Base, x.Block());
}

QStringList ExifLines(FIBITMAP* dib) {
    QStringList lines;
    for (const FREE_IMAGE_MDMODEL model :
         {FIMD_EXIF_MAIN, FIMD_EXIF_EXIF, FIMD_EXIF_GPS, FIMD_EXIF_MAKERNOTE, FIMD_EXIF_INTEROP})
        CollectMetadata(dib, lines, model);
    return lines;
}

bool Lists(const QStringList& lines, const char* key) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const QString& l) { return l.startsWith(QLatin1String(key) + ':'); });
}

QByteArray WithExif() {
    return AfterSoi(Parts().Base, Parts().Exif.Block());
}
QByteArray ProgressiveWithExif() {
    return AfterSoi(Parts().Progressive, Parts().Exif.Block());
}
QByteArray LongDirectory() {
    return Damaged([](TExif& x) { Put16(x.Tiff, x.Ifd0, 0xFFFF); });
}
QByteArray ValuePastTheEnd() {
    return Damaged([](TExif& x) { Put32(x.Tiff, x.Description + 8, x.Tiff.size() - 4); });
}
QByteArray ValueOffsetWraps() {
    return Damaged([](TExif& x) { Put32(x.Tiff, x.Description + 8, 0xFFFFFFF8); });
}
QByteArray ThumbnailOffsetWraps() {
    return Damaged([](TExif& x) {
        Put32(x.Tiff, x.ThumbnailOffset + 8, 0xFFFFFFF0);
        Put32(x.Tiff, x.ThumbnailSize + 8, 0x20);
    });
}
QByteArray SelfReferencingChain() {
    return Damaged([](TExif& x) {
        Put32(x.Tiff, x.Link0, x.Ifd0);
        Put32(x.Tiff, x.Interop + 8, x.Exif);
    });
}
QByteArray SubDirectoryPastTheEnd() {
    return Damaged([](TExif& x) { Put32(x.Tiff, x.ExifPointer + 8, x.Tiff.size() - 1); });
}
QByteArray CanonArrayOfBytes() {
    return Damaged([](TExif& x) { Put16(x.Tiff, x.CanonArray + 2, 1); });
}
QByteArray HugeExifThumbnail() {
    return AfterSoi(Parts().Base, MakeExif(Parts().HugeThumb).Block());
}
QByteArray HugeJfxxThumbnail() {
    return AfterSoi(AfterSoi(Parts().Base, Jfxx(Parts().HugeThumb)), Parts().Exif.Block());
}
QByteArray NestedThumbnail() {
    const QByteArray thumbnail = AfterSoi(Parts().Thumb, Jfxx(Parts().Thumb));
    return AfterSoi(Parts().Base, MakeExif(thumbnail).Block());
}
QByteArray TruncatedApp1() {
    const QByteArray cut = QByteArray("Exif\0\0", 6) + Parts().Exif.Tiff.left(40);
    return AfterSoi(Parts().Base, Segment(0xE1, cut));
}
QByteArray CutSignature() {
    return AfterSoi(Parts().Base, Segment(0xE1, "Exif"));
}
QByteArray DamageBetweenScans() {
    TExif x = Parts().Exif;
    Put16(x.Tiff, x.Ifd0, 0xFFFF);
    return AfterSoi(BeforeSecondScan(Parts().Progressive, x.Block()), Parts().Exif.Block());
}

struct TGuardCase {
    const char* Name;
    QByteArray (*Make)();
    TJpegVerdict Headers; // up to the first scan
    TJpegVerdict Whole;
    bool KeepsMake; // from the first directory
    bool KeepsDate; // from the Exif directory
    bool KeepsThumbnail;
    bool Unguarded; // FreeImage survives the file alone: the same lines
};

// clang-format off
const TGuardCase kCases[] = {
    {"SoundExif",              WithExif,               Sound,   Sound,   true,  true,  true,  true},
    {"SoundProgressive",       ProgressiveWithExif,    Sound,   Sound,   true,  true,  true,  true},
    {"DirectoryClaims65535Entries", LongDirectory,     Cleaned, Cleaned, false, false, false, false},
    {"ValuePastTheEnd",        ValuePastTheEnd,        Cleaned, Cleaned, true,  true,  true,  true},
    {"ValueOffsetWraps",       ValueOffsetWraps,       Cleaned, Cleaned, true,  true,  true,  true},
    {"ThumbnailOffsetWraps",   ThumbnailOffsetWraps,   Cleaned, Cleaned, true,  true,  false, false},
    {"SelfReferencingChain",   SelfReferencingChain,   Cleaned, Cleaned, true,  true,  false, true},
    {"SubDirectoryPastTheEnd", SubDirectoryPastTheEnd, Cleaned, Cleaned, true,  false, true,  true},
    {"CanonArrayOfBytes",      CanonArrayOfBytes,      Cleaned, Cleaned, true,  true,  true,  false},
    {"HugeExifThumbnail",      HugeExifThumbnail,      Cleaned, Cleaned, true,  true,  false, false},
    {"HugeJfxxThumbnail",      HugeJfxxThumbnail,      Cleaned, Cleaned, true,  true,  true,  false},
    {"ThumbnailWithItsOwnThumbnail", NestedThumbnail,  Cleaned, Cleaned, true,  true,  false, false},
    {"TruncatedApp1",          TruncatedApp1,          Cleaned, Cleaned, false, false, false, false},
    {"CutSignature",           CutSignature,           Cleaned, Cleaned, false, false, false, false},
    {"DamageBetweenScans",     DamageBetweenScans,     Sound,   Cleaned, true,  true,  true,  false},
};
// clang-format on

class JpegGuardTest : public ::testing::TestWithParam<TGuardCase> {
protected:
    QString Write(const QString& name, const QByteArray& data) {
        WriteFile(m_dir.filePath(name), data);
        return m_dir.filePath(name);
    }
    QTemporaryDir m_dir;
};

TEST_P(JpegGuardTest, FindsTheDamage) {
    const QByteArray file = GetParam().Make();
    EXPECT_EQ(CheckJpegStream(file, false).Verdict, GetParam().Headers);
    const TJpegCheck whole = CheckJpegStream(file, true);
    ASSERT_EQ(whole.Verdict, GetParam().Whole);
    // A second look at the clean copy finds nothing more.
    if (whole.Verdict == Cleaned) {
        EXPECT_EQ(CheckJpegStream(whole.Clean, true).Verdict, Sound);
    }
}

TEST_P(JpegGuardTest, PictureLoadsAndOnlyTheBadMetadataIsLost) {
    const TGuardCase& c = GetParam();
    const QByteArray data = c.Make();
    const bool progressive = data.contains("\xFF\xC2");
    const QString file = Write("t.jpg", data);
    TImageLoadRequest request;
    request.FileName = file;
    TImageLoadResult result;
    RunImageLoad(request, std::atomic<bool>{false}, result);

    ASSERT_EQ(result.Status, ilSucces);
    const QString base = Write("base.jpg", progressive ? Parts().Progressive : Parts().Base);
    EXPECT_TRUE(SamePixels(result.Bitmap, FreeImageReference(base)));
    EXPECT_EQ(Lists(result.ExifList, "Make"), c.KeepsMake);
    EXPECT_EQ(Lists(result.ExifList, "DateTimeOriginal"), c.KeepsDate);
    ASSERT_NE(result.SingleBitmap, nullptr);
    // Only the small thumbnail is ever decoded.
    FIBITMAP* thumbnail = FreeImage_GetThumbnail(result.SingleBitmap.get());
    ASSERT_EQ(thumbnail != nullptr, c.KeepsThumbnail);
    if (thumbnail != nullptr) {
        EXPECT_EQ(FreeImage_GetWidth(thumbnail), 16u);
    }
    if (c.Unguarded) {
        const TFreeImagePtr alone(
            FreeImage_Load(FIF_JPEG, QFile::encodeName(file).constData(), FIF_LOAD_NOPIXELS));
        EXPECT_EQ(result.ExifList, ExifLines(alone.get()));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, JpegGuardTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// The fast decoder refuses CMYK, so FreeImage decodes it all and reads the segments
// between the scans: damage there must not reach it.
QByteArray CmykProgressiveJpeg(int w, int h) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = 4;
    c.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(std::size_t(w) * 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            for (int k = 0; k < 4; ++k) row[std::size_t(x * 4 + k)] = JSAMPLE(x * 3 + y * k * 5);
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    const QByteArray jpeg(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return jpeg;
}

TEST(JpegGuardFallback, FullDecodeGetsTheCleanCopy) {
    QTemporaryDir dir;
    const QByteArray cmyk = CmykProgressiveJpeg(40, 30);
    TExif damaged = Parts().Exif;
    Put16(damaged.Tiff, damaged.Ifd0, 0xFFFF);
    const QString file = dir.filePath("cmyk.jpg");
    WriteFile(file, AfterSoi(BeforeSecondScan(cmyk, damaged.Block()), Parts().Exif.Block()));
    const QString clean = dir.filePath("clean.jpg");
    WriteFile(clean, cmyk);

    TImageLoadRequest request;
    request.FileName = file;
    TImageLoadResult result;
    RunImageLoad(request, std::atomic<bool>{false}, result);
    ASSERT_EQ(result.Status, ilSucces);
    ASSERT_NE(result.SingleBitmap, nullptr);
    EXPECT_TRUE(FreeImage_HasPixels(result.SingleBitmap.get())); // FreeImage decoded it
    EXPECT_TRUE(SamePixels(result.Bitmap, FreeImageReference(clean)));
    EXPECT_TRUE(Lists(ExifLines(result.SingleBitmap.get()), "Make"));
}

TEST(JpegGuard, TheLoaderOpensTheFileThatKillsFreeImage) {
    QTemporaryDir dir;
    const QString file = dir.filePath("crash.jpg");
    WriteFile(file, Damaged([](TExif& x) { Put16(x.Tiff, x.Ifd0, 0xFFFF); }));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    EXPECT_EQ(loader.Status(), ilSucces);
    EXPECT_EQ(loader.Bitmap().Width(), 64);
}

TEST(JpegGuard, ReadsOnlyTheHeaders) {
    QTemporaryDir dir;
    const QByteArray jpeg = AfterSoi(JpegBytes(1500, 1000, 100), Parts().Exif.Block());
    ASSERT_GT(jpeg.size(), 256 << 10);
    WriteFile(dir.filePath("big.jpg"), jpeg);
    QByteArray headers;
    ASSERT_TRUE(ReadJpegHeaders(QFile::encodeName(dir.filePath("big.jpg")), headers));
    EXPECT_LT(headers.size(), jpeg.size());
    EXPECT_EQ(CheckJpegStream(headers, false).Verdict, Sound);
}

TEST(JpegGuard, NothingBeforeTheFirstScanIsNoPicture) {
    QTemporaryDir dir;
    const QByteArray jpeg = AfterSoi(Parts().Base, Parts().Exif.Block());
    const QString cut = dir.filePath("cut.jpg");
    WriteFile(cut, jpeg.left(jpeg.indexOf("\xFF\xDA", 2 + Parts().Exif.Block().size())));
    EXPECT_EQ(CheckJpegStream(ReadFile(cut), true).Verdict, NoScan);
    EXPECT_FALSE(LoadJpegHeaderGuarded(QFile::encodeName(cut)));
    EXPECT_FALSE(LoadJpegHeaderGuarded(QFile::encodeName(dir.filePath("missing.jpg"))));
}

} // namespace
