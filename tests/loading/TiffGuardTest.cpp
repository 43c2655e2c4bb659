#include "LoadingTestSupport.h"

#include "loading/TiffGuard.h"
#include "loading/VekImageLoaderPro.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <string>

using namespace pictrel::test;

namespace {

// A TIFF of one grey pixel (the byte at offset 4) whose directory ends with an IPTC
// entry of `type` and `count`, its value after the directory; little- or big-endian,
// classic or BigTIFF.
QByteArray TiffWithIptc(std::uint16_t type, std::uint32_t count, bool big = false,
                        bool bigTiff = false) {
    QByteArray out;
    const auto put = [&](std::uint64_t v, int size) {
        for (int i = 0; i < size; ++i) {
            const int shift = 8 * (big ? size - 1 - i : i);
            out.append(char((v >> shift) & 0xFF));
        }
    };
    const int offsetSize = bigTiff ? 8 : 4;
    const int countSize = bigTiff ? 8 : 2;
    const int entrySize = bigTiff ? 20 : 12;
    out += big ? "MM" : "II";
    put(bigTiff ? 43 : 42, 2);
    if (bigTiff) put(8, 2), put(0, 2);
    const int first = bigTiff ? 16 : 8;
    put(std::uint64_t(first), offsetSize);
    const std::uint16_t image[][3] = {{256, 3, 1}, {257, 3, 1}, {258, 3, 8},
                                      {259, 3, 1}, {262, 3, 1}, {273, 4, 4},
                                      {277, 3, 1}, {278, 3, 1}, {279, 4, 1}};
    const int entries = 10;
    put(entries, countSize);
    for (const auto& e : image) {
        put(e[0], 2), put(e[1], 2), put(1, bigTiff ? 8 : 4);
        // The value sits at the start of its field.
        if (e[1] == 3)
            put(e[2], 2), put(0, offsetSize - 2);
        else
            put(e[2], 4), put(0, offsetSize - 4);
    }
    const std::uint64_t value = std::uint64_t(first + countSize + entries * entrySize + offsetSize);
    put(33723, 2), put(type, 2), put(count, bigTiff ? 8 : 4), put(value, offsetSize);
    put(0, offsetSize);
    // IPTC records: an object name, then padding.
    QByteArray records("\x1c\x02\x05\x00\x03"
                       "abc",
                       8);
    out += records + QByteArray(4 * count, '\0');
    return out;
}

struct TGuardCase {
    const char* Name;
    std::function<QByteArray()> Bytes;
    bool Sound;
};

class TiffGuardTest : public ::testing::TestWithParam<TGuardCase> {};

TEST_P(TiffGuardTest, JudgesTheIptcEntry) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/t.tif";
    WriteFile(path, GetParam().Bytes());
    EXPECT_EQ(TiffMetadataIsSound(QFile::encodeName(path)), GetParam().Sound);
}

const TGuardCase kGuardCases[] = {
    // As FreeImage and most writers store it.
    {"IptcAsLongs", [] { return TiffWithIptc(4, 4); }, true},
    {"IptcAsLongsBigEndian", [] { return TiffWithIptc(4, 4, true); }, true},
    {"IptcAsLongsInABigTiff", [] { return TiffWithIptc(4, 4, false, true); }, true},
    {"IptcAsShorts", [] { return TiffWithIptc(3, 8); }, true},
    // Single-byte types: libtiff keeps count bytes, FreeImage reads four times that.
    {"IptcAsUndefined", [] { return TiffWithIptc(7, 16); }, false},
    {"IptcAsBytes", [] { return TiffWithIptc(1, 16); }, false},
    {"IptcAsSignedBytes", [] { return TiffWithIptc(6, 16); }, false},
    {"IptcAsText", [] { return TiffWithIptc(2, 16); }, false},
    {"IptcAsUndefinedBigEndian", [] { return TiffWithIptc(7, 16, true); }, false},
    {"IptcAsUndefinedInABigTiff", [] { return TiffWithIptc(7, 16, false, true); }, false},
    // What FreeImage refuses by itself passes.
    {"NoTiff", [] { return QByteArray("GIF89a and more"); }, true},
    {"Empty", [] { return QByteArray(); }, true},
    {"DirectoryPastTheEnd", [] { return QByteArray("II*\0\xff\0\0\0", 8); }, true},
    {"DirectoryLoop", [] { return QByteArray("II*\0\x08\0\0\0\0\0\x08\0\0\0", 14); }, true},
};

INSTANTIATE_TEST_SUITE_P(Files, TiffGuardTest, ::testing::ValuesIn(kGuardCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// A file the information fuzzer found: FreeImage read past libtiff's 10-byte IPTC buffer.
TEST(TiffGuard, FuzzerFindingEndsInError) {
    const QString file =
        QStringLiteral(PICTREL_LOADING_FIXTURES) + "/fuzz-tiff-iptc-of-single-bytes.tif";
    EXPECT_FALSE(TiffMetadataIsSound(QFile::encodeName(file)));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    EXPECT_EQ(loader.Status(), TImageLoaderProStatus::ilError);
}

// The same picture under another name still reaches the guard through its content.
TEST(TiffGuard, GuardsTiffContentUnderAnotherName) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/picture.png";
    WriteFile(file, TiffWithIptc(7, 16));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    EXPECT_EQ(loader.Status(), TImageLoaderProStatus::ilError);
}

TEST(TiffGuard, SoundTiffStillLoads) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/fine.tif";
    WriteFile(file, TiffWithIptc(4, 4));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    EXPECT_EQ(loader.Status(), TImageLoaderProStatus::ilSucces);
}

} // namespace
