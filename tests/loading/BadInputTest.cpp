#include "LoadingTestSupport.h"
#include "ModernFileWriter.h"

#include "common/FilePermissionsApply.h"
#include "common/TestSupport.h"
#include "loading/VekImageLoaderPro.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cctype>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

using namespace pictrel::test;
using enum TImageLoaderProStatus;

namespace {

void PutBig32(QByteArray& b, int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (24 - 8 * i)) & 0xFF);
}

QString Truncated(const QString& source, const QString& target) {
    const QByteArray data = ReadFile(source);
    WriteFile(target, data.left(data.size() / 2));
    return target;
}

TDeepPicture DeepPatches(int bits) {
    const int max = (1 << bits) - 1;
    return TDeepPicture::Patches(2, 2, 32, bits, false,
                                 {std::uint16_t(max), 0, 0, 0, std::uint16_t(max / 2), 0, 0, 0,
                                  std::uint16_t(max / 3), std::uint16_t(max / 4),
                                  std::uint16_t(max / 4), std::uint16_t(max / 4)});
}

QString TruncatedModern(const QString& target, THeifCodec codec, int bits, int transfer) {
    const QByteArray file = EncodeDeepHeif(codec, DeepPatches(bits), {9, transfer, 9});
    if (file.isEmpty()) return {};
    WriteFile(target, file.left(file.size() / 2));
    return target;
}

// Each case makes its file in `dir` and returns the path to open (empty: the case cannot
// be made here).
struct BadCase {
    const char* name;
    std::function<QString(const QString& dir)> make;
};

const BadCase kBadCases[] = {
    {"ZeroByteJpeg",
     [](const QString& d) {
         WriteFile(d + "/z.jpg", {});
         return d + "/z.jpg";
     }},
    {"ZeroBytePng",
     [](const QString& d) {
         WriteFile(d + "/z.png", {});
         return d + "/z.png";
     }},
    {"ZeroByteTiff",
     [](const QString& d) {
         WriteFile(d + "/z.tif", {});
         return d + "/z.tif";
     }},
    {"ZeroByteGif",
     [](const QString& d) {
         WriteFile(d + "/z.gif", {});
         return d + "/z.gif";
     }},
    {"ZeroByteSvg",
     [](const QString& d) {
         WriteFile(d + "/z.svg", {});
         return d + "/z.svg";
     }},
    // A JPEG that ends early shows what arrived (see JpegFastPathTest); one that ends
    // inside its headers has nothing to show.
    {"JpegEndingInItsHeaders",
     [](const QString& d) {
         Save(MakePattern(200, 150).get(), FIF_JPEG, d + "/f.jpg", 90);
         WriteFile(d + "/t.jpg", ReadFile(d + "/f.jpg").left(300));
         return d + "/t.jpg";
     }},
    {"TruncatedPng",
     [](const QString& d) {
         Save(MakePattern(200, 150).get(), FIF_PNG, d + "/f.png");
         return Truncated(d + "/f.png", d + "/t.png");
     }},
    {"TruncatedTiff",
     [](const QString& d) {
         Save(MakePattern(200, 150).get(), FIF_TIFF, d + "/f.tif", TIFF_NONE);
         return Truncated(d + "/f.tif", d + "/t.tif");
     }},
    {"TruncatedGif",
     [](const QString& d) {
         const TFreeImagePtr p(FreeImage_ColorQuantize(MakePattern(200, 150).get(), FIQ_WUQUANT));
         Save(p.get(), FIF_GIF, d + "/f.gif");
         return Truncated(d + "/f.gif", d + "/t.gif");
     }},
    {"TextNamedJpeg",
     [](const QString& d) {
         WriteFile(d + "/x.jpg", "this is not a picture\n");
         return d + "/x.jpg";
     }},
    {"TextNamedTiff",
     [](const QString& d) {
         WriteFile(d + "/x.tif", "II*\0this is not a picture\n");
         return d + "/x.tif";
     }},
    {"TextNamedSvg",
     [](const QString& d) {
         WriteFile(d + "/x.svg", "<svg broken");
         return d + "/x.svg";
     }},
    // Damaged pixel data: the direct PNG decoder refuses it and FreeImage's reader
    // fails on it as well.
    {"PngWithDamagedDataCrc",
     [](const QString& d) {
         Save(MakePattern(200, 150).get(), FIF_PNG, d + "/f.png");
         QByteArray b = ReadFile(d + "/f.png");
         const int data = b.indexOf("IDAT") + 4;
         b[data + 50] = char(b[data + 50] ^ 0x5A);
         WriteFile(d + "/crc.png", b);
         return d + "/crc.png";
     }},
    {"InterlacedPngTruncated",
     [](const QString& d) {
         Save(MakePattern(200, 150).get(), FIF_PNG, d + "/f.png", PNG_INTERLACED);
         return Truncated(d + "/f.png", d + "/t.png");
     }},
    {"FolderNamedPng",
     [](const QString& d) {
         QDir(d).mkdir("x.png");
         return d + "/x.png";
     }},
    {"PipeNamedJpeg",
     [](const QString& d) {
         EXPECT_EQ(::mkfifo(QFile::encodeName(d + "/p.jpg").constData(), 0600), 0);
         return d + "/p.jpg";
     }},
    {"DeviceLinkNamedRaw",
     [](const QString& d) {
         EXPECT_TRUE(QFile::link("/dev/zero", d + "/zero.dng"));
         return d + "/zero.dng";
     }},
    {"DeletedFile",
     [](const QString& d) {
         const QString f = Save(MakePattern(8, 8).get(), FIF_PNG, d + "/gone.png");
         QFile::remove(f);
         return f;
     }},
    {"PngClaimingHugeSize",
     [](const QString& d) {
         Save(MakePattern(8, 8).get(), FIF_PNG, d + "/s.png");
         QByteArray b = ReadFile(d + "/s.png");
         PutBig32(b, 16, 100000); // IHDR width
         PutBig32(b, 20, 100000); // IHDR height
         PutBig32(b, 29, Crc32(b.constData() + 12, 17));
         WriteFile(d + "/huge.png", b);
         return d + "/huge.png";
     }},
    {"JpegClaimingHugeSize",
     [](const QString& d) {
         Save(MakePattern(16, 16).get(), FIF_JPEG, d + "/s.jpg", 90);
         QByteArray b = ReadFile(d + "/s.jpg");
         const int sof = b.indexOf(QByteArray("\xFF\xC0", 2));
         b[sof + 5] = b[sof + 6] = b[sof + 7] = b[sof + 8] = char(0xFF);
         WriteFile(d + "/huge.jpg", b);
         return d + "/huge.jpg";
     }},
    {"GifClaimingHugeSize",
     [](const QString& d) {
         const char gif[] = "GIF89a\xFF\xFF\xFF\xFF\x80\x00\x00"
                            "\x00\x00\x00\xFF\xFF\xFF"
                            "\x2C\x00\x00\x00\x00\xFF\xFF\xFF\xFF\x00"
                            "\x02\x02\x4C\x01\x00\x3B";
         WriteFile(d + "/huge.gif", QByteArray(gif, sizeof gif - 1));
         return d + "/huge.gif";
     }},
    {"TiffClaimingHugeSize",
     [](const QString& d) {
         Save(MakePattern(8, 8).get(), FIF_TIFF, d + "/s.tif", TIFF_NONE);
         QByteArray b = ReadFile(d + "/s.tif");
         // Little-endian TIFF: widen ImageWidth and ImageLength to LONG 100000.
         const auto u16 = [&](int at) { return int(uchar(b[at])) | (int(uchar(b[at + 1])) << 8); };
         const int ifd = u16(4) | (u16(6) << 16);
         for (int i = 0, n = u16(ifd); i < n; ++i) {
             const int e = ifd + 2 + 12 * i;
             if (u16(e) == 256 || u16(e) == 257) {
                 b[e + 2] = 4;
                 b[e + 3] = 0;
                 const std::uint32_t v = 100000;
                 for (int k = 0; k < 4; ++k) b[e + 8 + k] = char((v >> (8 * k)) & 0xFF);
             }
         }
         WriteFile(d + "/huge.tif", b);
         return d + "/huge.tif";
     }},
    // Formats FreeImage reads without a look at the header first.
    {"DdsClaimingHugeSize",
     [](const QString& d) {
         QByteArray b("DDS \x7C\0\0\0\x07\x10\0\0", 12);
         b.append(QByteArray("\0\0\x01\0\0\0\x01\0", 8)); // 65536 x 65536
         b.append(QByteArray(76 - b.size(), '\0'));
         b.append(QByteArray("\x20\0\0\0\x04\0\0\0DXT1", 12));
         b.append(QByteArray(128 - b.size(), '\0'));
         WriteFile(d + "/huge.dds", b + QByteArray(64, '\x55'));
         return d + "/huge.dds";
     }},
    {"WbmpClaimingHugeSize",
     [](const QString& d) {
         WriteFile(d + "/huge.wbmp", QByteArray("\x00\x00\x83\xFF\x7F\x83\xFF\x7F", 8));
         return d + "/huge.wbmp";
     }},
    {"PictEndingBeforeItsVersion",
     [](const QString& d) {
         WriteFile(d + "/short.pct", QByteArray(600, '\0'));
         return d + "/short.pct";
     }},
    {"WbmpWithEndlessExtensionHeaders",
     [](const QString& d) {
         WriteFile(d + "/ext.wbmp", QByteArray("\x00\x80\x80", 3));
         return d + "/ext.wbmp";
     }},
    // Deep and HDR pictures of the newer formats cut short; empty when this machine has no
    // encoder for them.
    {"TruncatedTenBitHeic",
     [](const QString& d) { return TruncatedModern(d + "/t.heic", THeifCodec::hcHevc, 10, 1); }},
    {"TruncatedPqHeic",
     [](const QString& d) { return TruncatedModern(d + "/t.heic", THeifCodec::hcHevc, 10, 16); }},
    {"TruncatedHlgAvif",
     [](const QString& d) { return TruncatedModern(d + "/t.avif", THeifCodec::hcAv1, 12, 18); }},
    {"TruncatedPqJxl",
     [](const QString& d) {
         const QByteArray file = EncodeDeepJxl({DeepPatches(16)}, {9, 16, 9});
         WriteFile(d + "/t.jxl", file.left(file.size() / 2));
         return d + "/t.jxl";
     }},
    {"TruncatedJxlAnimation",
     [](const QString& d) {
         const QByteArray file =
             EncodeDeepJxl({DeepPatches(8), DeepPatches(8), DeepPatches(8)}, {1, 13, 6});
         WriteFile(d + "/t.jxl", file.left(file.size() * 2 / 3));
         return d + "/t.jxl";
     }},
};

class BadInputTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadInputTest, EndsInErrorWithOneErrorEvent) {
    QTemporaryDir dir;
    const QString file = GetParam().make(dir.path());
    if (file.isEmpty()) GTEST_SKIP() << "no encoder here for this case";
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    PumpFor(20);
    EXPECT_EQ(loader.Status(), ilError);
    ASSERT_EQ(rec.Events.size(), 2);
    EXPECT_TRUE(rec.Events[1].startsWith("error ")) << rec.Events[1].toStdString();
    EXPECT_TRUE(loader.Bitmap().Empty());
}

INSTANTIATE_TEST_SUITE_P(Loader, BadInputTest, ::testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BadInput, UnreadableFileEndsInError) {
    QTemporaryDir dir;
    const QString file = Save(MakePattern(8, 8).get(), FIF_PNG, dir.path() + "/locked.png");
    ASSERT_TRUE(QFile::setPermissions(file, QFileDevice::WriteOwner));
    // Root would read it regardless; the worker inherits this thread's rights.
    const TFilePermissionsApply permissions;
    if (!permissions.Active())
        GTEST_SKIP() << "cannot give up the capabilities that bypass file permissions";
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    EXPECT_EQ(loader.Status(), ilError);
}

// Every input a fuzzer ever found keeps being loaded: it must end without a crash.
TEST(BadInput, FuzzerFindingsLoadWithoutCrashing) {
    QDir fixtures(QStringLiteral(PICTREL_LOADING_FIXTURES));
    const QStringList files = fixtures.entryList({"fuzz-*"}, QDir::Files, QDir::Name);
    if (files.isEmpty()) GTEST_SKIP() << "no fuzzer findings in " << fixtures.path().toStdString();
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(rec.OpenAndWait(fixtures.filePath(name)));
        EXPECT_NE(loader.Status(), ilOpening);
    }
}

// Fuzzer findings that kept FreeImage reading for ever or made it write past its
// buffers: each ends as a plain error.
class RefusedFindingTest : public ::testing::TestWithParam<const char*> {};

TEST_P(RefusedFindingTest, EndsInError) {
    const QString file = QStringLiteral(PICTREL_LOADING_FIXTURES) + '/' + GetParam();
    ASSERT_TRUE(QFileInfo::exists(file));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    EXPECT_EQ(loader.Status(), ilError);
}

INSTANTIATE_TEST_SUITE_P(
    Loader, RefusedFindingTest,
    ::testing::Values("fuzz-wbmp-empty.wbmp", "fuzz-wbmp-ending-before-its-header.wbmp",
                      "fuzz-psd-row-bytes-after-full-row.psd", "fuzz-ico-picture-past-the-end.ico",
                      "fuzz-ico-depth-no-bitmap-has.ico", "fuzz-raw-refused-by-libraw.dng"),
    [](const auto& info) {
        std::string name;
        for (const char* c = info.param; *c && *c != '.'; ++c)
            if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
        return name;
    });

// Inputs that crash FreeImage's own readers; the loader refuses them before they get
// there (see PsdGuard), so each ends as a plain error.
TEST(BadInput, KnownFreeImageCrashersEndInError) {
    QDir fixtures(QStringLiteral(PICTREL_LOADING_FIXTURES));
    const QStringList files = fixtures.entryList({"freeimage-crash-*"}, QDir::Files, QDir::Name);
    ASSERT_FALSE(files.isEmpty());
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(rec.OpenAndWait(fixtures.filePath(name)));
        EXPECT_EQ(loader.Status(), ilError);
    }
}

} // namespace
