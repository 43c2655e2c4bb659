#include "LoadingTestSupport.h"

#include "loading/FreeImageSetup.h"
#include "loading/HeaderProbe.h"
#include "loading/ImageLimits.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace pictrel::test;

namespace {

QByteArray Big16(std::uint32_t v) {
    QByteArray b;
    b.append(char((v >> 8) & 0xFF));
    b.append(char(v & 0xFF));
    return b;
}
QByteArray Big32(std::uint32_t v) {
    return Big16(v >> 16) + Big16(v & 0xFFFF);
}
QByteArray Little32(std::uint32_t v) {
    QByteArray b;
    for (int i = 0; i < 4; ++i) b.append(char((v >> (8 * i)) & 0xFF));
    return b;
}

QByteArray Dds(std::uint32_t width, std::uint32_t height) {
    QByteArray b = "DDS " + Little32(124) + Little32(0x1007) + Little32(height) + Little32(width);
    b.append(QByteArray(76 - b.size(), '\0'));
    b.append(Little32(32));
    b.append(QByteArray(128 - b.size(), '\0'));
    return b + QByteArray(64, '\x7F');
}

QByteArray Sgi(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
    QByteArray b =
        Big16(474) + QByteArray("\x00\x01", 2) + Big16(3) + Big16(x) + Big16(y) + Big16(z);
    return b + QByteArray(512 - b.size(), '\0');
}

QByteArray Iff(std::uint32_t w, std::uint32_t h) {
    const QByteArray bmhd = Big16(w) + Big16(h) + QByteArray(16, '\0');
    // An odd-sized chunk first: its pad byte must be skipped.
    const QByteArray anno = "ANNO" + Big32(3) + "abc" + QByteArray(1, '\0');
    const QByteArray body = "ILBM" + anno + "BMHD" + Big32(20) + bmhd;
    return "FORM" + Big32(std::uint32_t(body.size())) + body;
}

// Header, size and frame, some zero bytes, then the version opcode unless `zerosOnly`.
QByteArray Pict(int top, int left, int bottom, int right, int zeros = 3, bool zerosOnly = false) {
    return QByteArray(512, '\0') + Big16(0) + Big16(std::uint32_t(top) & 0xFFFF) +
           Big16(std::uint32_t(left) & 0xFFFF) + Big16(std::uint32_t(bottom) & 0xFFFF) +
           Big16(std::uint32_t(right) & 0xFFFF) + QByteArray(zeros, '\0') +
           (zerosOnly ? QByteArray() : QByteArray("\x11\x01\xFF", 3));
}

QByteArray Siz(std::uint32_t x, std::uint32_t y, std::uint32_t xo, std::uint32_t yo,
               std::uint32_t components) {
    return Big16(0xFF4F) + Big16(0xFF51) + Big16(38 + 3 * components) + Big16(0) + Big32(x) +
           Big32(y) + Big32(xo) + Big32(yo) + Big32(x) + Big32(y) + Big32(0) + Big32(0) +
           Big16(components) + QByteArray(3 * int(components), '\x07');
}

QByteArray Jp2(const QByteArray& codeStream, bool wideLength) {
    const QByteArray signature = Big32(12) + "jP  " + QByteArray("\x0D\x0A\x87\x0A", 4);
    const QByteArray ftyp = Big32(20) + "ftyp" + "jp2 " + Big32(0) + "jp2 ";
    const QByteArray stream = wideLength
                                  ? Big32(1) + "jp2c" + Big32(0) +
                                        Big32(std::uint32_t(16 + codeStream.size())) + codeStream
                                  : Big32(0) + "jp2c" + codeStream;
    return signature + ftyp + stream;
}

QByteArray MngChunk(const char* type, const QByteArray& data) {
    return Big32(std::uint32_t(data.size())) + type + data + Big32(0);
}

QByteArray Mng(std::uint32_t frameW, std::uint32_t frameH, std::uint32_t w, std::uint32_t h) {
    return QByteArray("\x8AMNG\x0D\x0A\x1A\x0A", 8) +
           MngChunk("MHDR", Big32(frameW) + Big32(frameH) + QByteArray(20, '\0')) +
           MngChunk("IHDR", Big32(w) + Big32(h) + QByteArray("\x08\x02\x00\x00\x00", 5)) +
           MngChunk("IEND", {}) + MngChunk("MEND", {});
}

struct THeaderCase {
    const char* name;
    FREE_IMAGE_FORMAT fif;
    std::function<QByteArray()> bytes;
    bool within;
};

const THeaderCase kHeaderCases[] = {
    {"DdsSmall", FIF_DDS, [] { return Dds(64, 64); }, true},
    {"DdsHuge", FIF_DDS, [] { return Dds(0x03000000, 256); }, false},
    // With 8 GiB available: 6 GiB at 16 bytes a pixel.
    {"DdsAtTheLimit", FIF_DDS, [] { return Dds(16384, 24576); }, true},
    {"DdsJustAbove", FIF_DDS, [] { return Dds(16384, 24577); }, false},
    // Picked by its extension, a file of other bytes would be read as a header.
    {"DdsWithoutSignature", FIF_DDS,
     [] {
         return QByteArray("II\x03\x07"
                           "8BPS",
                           8) +
                Dds(4, 4).mid(8);
     },
     false},
    {"DdsShort", FIF_DDS, [] { return QByteArray("DDS "); }, false},
    {"SgiSmall", FIF_SGI, [] { return Sgi(640, 480, 3); }, true},
    {"SgiHuge", FIF_SGI, [] { return Sgi(65535, 65535, 3); }, false},
    {"SgiManyChannels", FIF_SGI, [] { return Sgi(16, 16, 5000); }, false},
    {"SgiWithoutMagic", FIF_SGI, [] { return QByteArray(512, '\x01'); }, false},
    {"WbmpSmall", FIF_WBMP, [] { return QByteArray("\x00\x00\x10\x08", 4) + QByteArray(16, 0); },
     true},
    {"WbmpHuge", FIF_WBMP, [] { return QByteArray("\x00\x00\x83\xFF\x7F\x83\xFF\x7F", 8); }, false},
    // One extension header (a bitfield), then 0x4000 x 0x4000 written as 0x81 0x80 0x00.
    {"WbmpWithExtensionHeaders", FIF_WBMP,
     [] { return QByteArray("\x00\x80\x00\x01\x81\x80\x00\x81\x80\x00", 10); }, true},
    {"WbmpExtensionsPastTheEnd", FIF_WBMP, [] { return QByteArray("\x00\x80\x80", 3); }, false},
    {"WbmpParameterExtensionPastTheEnd", FIF_WBMP,
     [] {
         return QByteArray("\x00\x80\xF1"
                           "ab",
                           5);
     },
     false},
    // The decoder would take stack bytes for the missing fixed header and read for ever.
    {"WbmpEmpty", FIF_WBMP, [] { return QByteArray(); }, false},
    {"WbmpEndingAfterItsType", FIF_WBMP, [] { return QByteArray("\x00", 1); }, false},
    {"WbmpEndingInsideItsType", FIF_WBMP, [] { return QByteArray("\x80", 1); }, false},
    {"WbmpOtherType", FIF_WBMP, [] { return QByteArray("\x05\x00\xFF\x7F", 4); }, true},
    {"XbmSmall", FIF_XBM,
     [] {
         return QByteArray("#define pic_width 16\n#define pic_height 8\n"
                           "static char pic_bits[] = {0x00};\n");
     },
     true},
    {"XbmHuge", FIF_XBM,
     [] { return QByteArray("#define a_width 100000\n#define a_height 100000\n"); }, false},
    {"XbmNegative", FIF_XBM, [] { return QByteArray("#define a_width -5\n#define a_height 5\n"); },
     false},
    {"XbmOverflowing", FIF_XBM,
     [] { return QByteArray("#define a_width 99999999999999999999999\n#define a_height 5\n"); },
     false},
    {"XbmWithoutSizes", FIF_XBM, [] { return QByteArray("#define x_hot 3\n"); }, true},
    {"IffSmall", FIF_IFF, [] { return Iff(320, 200); }, true},
    {"IffHuge", FIF_IFF, [] { return Iff(65535, 65535); }, false},
    {"IffWithoutBitmapHeader", FIF_IFF, [] { return "FORM" + Big32(4) + "ILBM"; }, true},
    {"PictSmall", FIF_PICT, [] { return Pict(0, 0, 480, 640); }, true},
    {"PictHuge", FIF_PICT, [] { return Pict(-32768, -32768, 32767, 32767); }, false},
    {"PictInvertedFrame", FIF_PICT, [] { return Pict(100, 100, 0, 0); }, true},
    // The decoder would wait for a non-zero byte for ever.
    {"PictEndingBeforeItsVersion", FIF_PICT, [] { return Pict(0, 0, 8, 8, 300, true); }, false},
    {"PictVersionAfterManyZeros", FIF_PICT, [] { return Pict(0, 0, 8, 8, 200000); }, true},
    {"PictShorterThanItsHeader", FIF_PICT, [] { return QByteArray(291, '\x01'); }, false},
    {"J2kSmall", FIF_J2K, [] { return Siz(640, 480, 0, 0, 3); }, true},
    {"J2kHuge", FIF_J2K, [] { return Siz(100000, 100000, 0, 0, 3); }, false},
    {"J2kOffsetShrinksIt", FIF_J2K, [] { return Siz(100000, 100000, 99000, 99000, 3); }, true},
    {"J2kManyComponents", FIF_J2K, [] { return Siz(64, 64, 0, 0, 300); }, false},
    {"Jp2Small", FIF_JP2, [] { return Jp2(Siz(640, 480, 0, 0, 3), false); }, true},
    {"Jp2Huge", FIF_JP2, [] { return Jp2(Siz(100000, 100000, 0, 0, 3), false); }, false},
    {"Jp2HugeWideBox", FIF_JP2, [] { return Jp2(Siz(100000, 100000, 0, 0, 3), true); }, false},
    {"MngSmall", FIF_MNG, [] { return Mng(64, 64, 64, 64); }, true},
    {"MngHugeFrame", FIF_MNG, [] { return Mng(100000, 100000, 64, 64); }, false},
    {"MngHugePicture", FIF_MNG, [] { return Mng(64, 64, 100000, 100000); }, false},
    {"OtherFormatsPass", FIF_PNG, [] { return QByteArray("whatever"); }, true},
};

class HeaderProbeTest : public ::testing::TestWithParam<THeaderCase> {
protected:
    // The limit depends on the memory available; these cases assume 8 GiB.
    void SetUp() override { SetAvailableMemoryForTesting(std::uint64_t(8) << 30); }
    void TearDown() override { SetAvailableMemoryForTesting(0); }
};

TEST_P(HeaderProbeTest, ToldFromTheHeader) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/probe";
    WriteFile(path, GetParam().bytes());
    EXPECT_EQ(HeaderWithinLimit(GetParam().fif, QFile::encodeName(path)), GetParam().within);
}

INSTANTIATE_TEST_SUITE_P(Formats, HeaderProbeTest, ::testing::ValuesIn(kHeaderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HeaderProbe, MissingFileCannotTell) {
    EXPECT_TRUE(HeaderWithinLimit(FIF_DDS, "/nonexistent/picture.dds"));
}

// Files FreeImage writes itself pass, and FreeImage then loads them.
TEST(HeaderProbe, FreeImagesOwnFilesPass) {
    EnsureFreeImage();
    QTemporaryDir dir;
    const TFreeImagePtr colour = MakePattern(128, 96); // enough for the default resolution levels
    const TFreeImagePtr grey(FreeImage_ConvertToGreyscale(colour.get()));
    const TFreeImagePtr mono(FreeImage_Threshold(grey.get(), 128));
    const struct {
        FREE_IMAGE_FORMAT fif;
        FIBITMAP* dib;
        const char* name;
    } files[] = {{FIF_J2K, colour.get(), "p.j2k"},
                 {FIF_JP2, colour.get(), "p.jp2"},
                 {FIF_WBMP, mono.get(), "p.wbmp"}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const QByteArray path = QFile::encodeName(Save(f.dib, f.fif, dir.path() + "/" + f.name));
        EXPECT_TRUE(HeaderWithinLimit(f.fif, path));
        const TFreeImagePtr loaded(FreeImage_Load(f.fif, path.constData(), 0));
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(FreeImage_GetWidth(loaded.get()), 128u);
    }
}

// ---- Icon directories ----

// A picture's bitmap header as an icon holds it: the height counts the mask's rows too.
QByteArray BitmapHeader(std::int32_t width, std::int32_t height, std::uint16_t depth) {
    QByteArray h(40, '\0');
    qToLittleEndian<std::uint32_t>(40, h.data());
    qToLittleEndian<std::int32_t>(width, h.data() + 4);
    qToLittleEndian<std::int32_t>(height, h.data() + 8);
    qToLittleEndian<std::uint16_t>(1, h.data() + 12);
    qToLittleEndian<std::uint16_t>(depth, h.data() + 14);
    return h;
}

// An icon file whose directory lists `entries` pictures (offset, size); the file is
// `length` bytes long, the pictures' bytes filled with `fill` over and over.
QByteArray Icon(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries,
                std::uint32_t length, const QByteArray& fill = BitmapHeader(16, 32, 32)) {
    QByteArray b;
    const auto put = [&b](std::uint32_t v, int size) {
        for (int i = 0; i < size; ++i) b.append(char((v >> (8 * i)) & 0xFF));
    };
    put(0, 2), put(1, 2), put(std::uint32_t(entries.size()), 2);
    for (const auto& [offset, size] : entries) {
        put(16, 1), put(16, 1), put(0, 1), put(0, 1), put(1, 2), put(32, 2);
        put(size, 4), put(offset, 4);
    }
    while (std::uint32_t(b.size()) < length) b += fill;
    b.truncate(qsizetype(length));
    return b;
}

struct TIconCase {
    const char* name;
    QByteArray bytes;
    bool sound;
};

class IconDirectoryTest : public ::testing::TestWithParam<TIconCase> {};

TEST_P(IconDirectoryTest, EveryPictureLiesWithinTheFile) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/i.ico";
    WriteFile(path, GetParam().bytes);
    EXPECT_EQ(IconDirectoryIsSound(QFile::encodeName(path)), GetParam().sound);
}

INSTANTIATE_TEST_SUITE_P(
    Icons, IconDirectoryTest,
    ::testing::Values(
        TIconCase{"TwoPictures", Icon({{38, 80}, {118, 80}}, 238), true},
        TIconCase{"PngPicture", Icon({{22, 8}}, 30, QByteArray("\x89PNG\r\n\x1a\n", 8)), true},
        // The fuzzer's file: the second picture starts past the end.
        TIconCase{"PictureStartsPastTheEnd", Icon({{38, 100}, {4302, 100}}, 238), false},
        TIconCase{"PictureEndsPastTheEnd", Icon({{38, 300}}, 238), false},
        TIconCase{"PictureInsideTheDirectory", Icon({{10, 40}}, 100), false},
        TIconCase{"TooSmallForAHeader", Icon({{22, 8}}, 30), false},
        // FreeImage makes an 8-bit bitmap for a depth it does not know, then reads the
        // rows that depth needs into it (the fuzzer's depth was 0xD220).
        TIconCase{"DepthNoBitmapHas", Icon({{22, 100}}, 122, BitmapHeader(16, 32, 0xD220)), false},
        TIconCase{"DepthOf64Bits", Icon({{22, 100}}, 122, BitmapHeader(16, 32, 64)), false},
        TIconCase{"NoWidth", Icon({{22, 100}}, 122, BitmapHeader(0, 32, 32)), false},
        TIconCase{"NegativeHeight", Icon({{22, 100}}, 122, BitmapHeader(16, -32, 32)), false},
        TIconCase{"OneBitDepth", Icon({{22, 100}}, 122, BitmapHeader(16, 32, 1)), true},
        TIconCase{"DirectoryPastTheEnd", Icon({{38, 100}, {138, 100}}, 30), false},
        TIconCase{"NoIcon", QByteArray("GIF89a"), true}, TIconCase{"Empty", QByteArray(), true}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
