#include "LoadingTestSupport.h"

#include "loading/ImageInformation.h"
#include "loading/VekImageLoaderPro.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <vector>

using namespace pictrel::test;

namespace {

struct SizeCase {
    const char* name;
    std::int64_t bytes;
    const char* text;
};

class FormatFileSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FormatFileSizeTest, EnglishLocale) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(FormatFileSize(GetParam().bytes, english).toStdString(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Info, FormatFileSizeTest,
    ::testing::Values(SizeCase{"NotOpened", -1, "0 bytes"}, SizeCase{"Empty", 0, "0 bytes"},
                      SizeCase{"One", 1, "1.000 bytes"}, SizeCase{"B91", 91, "91.0 bytes"},
                      SizeCase{"B500", 500, "500 bytes"}, SizeCase{"B1000", 1000, "1,000 bytes"},
                      SizeCase{"B1024", 1024, "1.000 KB"}, SizeCase{"B1536", 1536, "1.50 KB"},
                      SizeCase{"B10240", 10240, "10.00 KB"}, SizeCase{"B153600", 153600, "150 KB"},
                      SizeCase{"JustBelowMega", 1048575, "1,024 KB"},
                      SizeCase{"Mega", 1048576, "1.000 MB"}, SizeCase{"Mega5", 5242880, "5.00 MB"},
                      SizeCase{"Giga", 1073741824, "1.000 GB"},
                      SizeCase{"AboveTwoGiB", 3221225472LL, "3.00 GB"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatFileSize, SeparatorsComeFromTheLocale) {
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(FormatFileSize(1536, german), "1,50 KB");
    EXPECT_EQ(FormatFileSize(1000, german), "1.000 bytes");
}

void AddTag(FIBITMAP* dib, FREE_IMAGE_MDMODEL model, const char* key, const char* value,
            const char* description) {
    FITAG* tag = FreeImage_CreateTag();
    FreeImage_SetTagKey(tag, key);
    FreeImage_SetTagType(tag, FIDT_ASCII);
    FreeImage_SetTagCount(tag, DWORD(std::strlen(value) + 1));
    FreeImage_SetTagLength(tag, DWORD(std::strlen(value) + 1));
    FreeImage_SetTagValue(tag, value);
    if (description != nullptr) FreeImage_SetTagDescription(tag, description);
    FreeImage_SetMetadata(model, dib, key, tag);
    FreeImage_DeleteTag(tag);
}

TEST(CollectMetadata, LineShapesWithAndWithoutDescription) {
    const TFreeImagePtr dib = MakePattern(2, 2);
    AddTag(dib.get(), FIMD_IPTC, "Headline", "Harbour", "Short title");
    AddTag(dib.get(), FIMD_IPTC, "Empty", "x", "");
    AddTag(dib.get(), FIMD_IPTC, "Plain", "y", nullptr);
    QStringList lines;
    CollectMetadata(dib.get(), lines, FIMD_IPTC);
    lines.sort(); // FreeImage keeps tags of a model in its own order
    EXPECT_EQ(lines, QStringList({"Empty:x;{}", "Headline:Harbour;{Short title}", "Plain:y;"}));
}

TEST(CollectMetadata, ModelWithoutTagsAddsNothing) {
    const TFreeImagePtr dib = MakePattern(2, 2);
    QStringList lines{"kept"};
    CollectMetadata(dib.get(), lines, FIMD_XMP);
    EXPECT_EQ(lines, QStringList{"kept"});
}

TEST(CollectMetadata, LongKeysAreCutTo255Characters) {
    const TFreeImagePtr dib = MakePattern(2, 2);
    const std::string key(300, 'k');
    AddTag(dib.get(), FIMD_COMMENTS, key.c_str(), "v", nullptr);
    QStringList lines;
    CollectMetadata(dib.get(), lines, FIMD_COMMENTS);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0], QString(255, 'k') + ":v;");
}

TEST(AddBitmapInfo, FiveLinesWithSixteenBits) {
    TBitmap32 bmp(1500, 1000);
    QStringList lines;
    AddBitmapInfo(2048, "RAW Image format", bmp, lines);
    EXPECT_EQ(lines, QStringList({"Image format: RAW Image format;",
                                  "File size: " + FormatFileSize(2048) + ";", "Width: 1500 pixels;",
                                  "Height: 1000 pixels;", "Bits per pixel: 16 bits;"}));
}

// A small little-endian TIFF structure for an EXIF block: IFDs laid out one after the
// other, each followed by the values that do not fit into its entries.
class TExifBuilder {
public:
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count;
        QByteArray data; // the value bytes; a sub-IFD pointer is filled in later
        int subIfd = -1;
    };
    int AddIfd(std::vector<Entry> entries) {
        m_ifds.push_back(std::move(entries));
        return int(m_ifds.size()) - 1;
    }
    QByteArray Build() const {
        std::vector<std::uint32_t> offsets;
        std::uint32_t at = 8;
        for (const auto& ifd : m_ifds) {
            offsets.push_back(at);
            at += 2 + 12 * std::uint32_t(ifd.size()) + 4;
            for (const auto& e : ifd)
                if (e.data.size() > 4) at += std::uint32_t(e.data.size() + (e.data.size() & 1));
        }
        QByteArray out("II*\0\x08\0\0\0", 8);
        for (std::size_t i = 0; i < m_ifds.size(); ++i) {
            const auto& ifd = m_ifds[i];
            std::uint32_t data = offsets[i] + 2 + 12 * std::uint32_t(ifd.size()) + 4;
            QByteArray tail;
            Put16(out, std::uint16_t(ifd.size()));
            for (const auto& e : ifd) {
                Put16(out, e.tag);
                Put16(out, e.type);
                Put32(out, e.count);
                if (e.subIfd >= 0) {
                    Put32(out, offsets[std::size_t(e.subIfd)]);
                } else if (e.data.size() <= 4) {
                    out += e.data + QByteArray(4 - e.data.size(), '\0');
                } else {
                    Put32(out, data);
                    QByteArray padded = e.data;
                    if (padded.size() & 1) padded += '\0';
                    tail += padded;
                    data += std::uint32_t(padded.size());
                }
            }
            Put32(out, 0);
            out += tail;
        }
        return out;
    }

private:
    static void Put16(QByteArray& b, std::uint16_t v) {
        b += char(v & 0xFF);
        b += char(v >> 8);
    }
    static void Put32(QByteArray& b, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b += char((v >> (8 * i)) & 0xFF);
    }
    std::vector<std::vector<Entry>> m_ifds;
};

QByteArray Ascii(const char* s) {
    return QByteArray(s, int(std::strlen(s)) + 1);
}

// A camera-like JPEG: main IFD, EXIF IFD with a maker note, GPS and interoperability.
QString WriteCameraJpeg(const QString& path) {
    TExifBuilder b;
    using E = TExifBuilder::Entry;
    // IFD order: 0 main, 1 EXIF, 2 GPS, 3 interop; the maker note is an IFD of its own
    // inside the EXIF IFD's MakerNote value, its offsets relative to the TIFF header.
    const QByteArray makerNote = [] {
        QByteArray m;
        const auto p16 = [&](int v) { m += char(v & 0xFF), m += char((v >> 8) & 0xFF); };
        p16(1);              // one entry
        p16(0x0006), p16(2); // ImageType, ASCII
        m += QByteArray("\x04\0\0\0", 4);
        m += QByteArray("IMG\0", 4); // inline value
        m += QByteArray(4, '\0');    // no next IFD
        return m;
    }();
    E exposure{0x829A, 5, 1, QByteArray("\x01\0\0\0\x7D\0\0\0", 8)};
    b.AddIfd({E{0x010F, 2, 6, Ascii("Canon")}, E{0x0110, 2, 8, Ascii("TestCam")},
              E{0x8769, 4, 1, {}, 1}, E{0x8825, 4, 1, {}, 2}});
    b.AddIfd({exposure, E{0x927C, 7, std::uint32_t(makerNote.size()), makerNote},
              E{0xA005, 4, 1, {}, 3}});
    b.AddIfd({E{0x0000, 1, 4, QByteArray("\x02\x02\0\0", 4)}});
    b.AddIfd({E{0x0001, 2, 4, Ascii("R98")}});
    const QByteArray raw = QByteArray("Exif\0\0", 6) + b.Build();

    TFreeImagePtr dib = MakePattern(16, 16);
    FITAG* tag = FreeImage_CreateTag();
    FreeImage_SetTagKey(tag, "ExifRaw");
    FreeImage_SetTagType(tag, FIDT_BYTE);
    FreeImage_SetTagCount(tag, DWORD(raw.size()));
    FreeImage_SetTagLength(tag, DWORD(raw.size()));
    FreeImage_SetTagValue(tag, raw.constData());
    FreeImage_SetMetadata(FIMD_EXIF_RAW, dib.get(), "ExifRaw", tag);
    FreeImage_DeleteTag(tag);
    return Save(dib.get(), FIF_JPEG, path, 90);
}

int IndexOfKey(const QStringList& lines, const QString& key) {
    for (int i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(key + ':')) return i;
    return -1;
}

TEST(ExifList, CameraJpegListsTheModelsInOrder) {
    QTemporaryDir dir;
    const QString file = WriteCameraJpeg(dir.path() + "/camera.jpg");
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_EQ(loader.Status(), TImageLoaderProStatus::ilSucces);
    const QStringList& exif = loader.ExifList();
    const int make = IndexOfKey(exif, "Make");
    const int exposureTime = IndexOfKey(exif, "ExposureTime");
    const int gps = IndexOfKey(exif, "GPSVersionID");
    const int maker = IndexOfKey(exif, "CanonImageType");
    const int interop = IndexOfKey(exif, "InteroperabilityIndex");
    ASSERT_GE(make, 0) << exif.join('\n').toStdString();
    ASSERT_GE(exposureTime, 0) << exif.join('\n').toStdString();
    ASSERT_GE(gps, 0) << exif.join('\n').toStdString();
    ASSERT_GE(maker, 0) << exif.join('\n').toStdString();
    ASSERT_GE(interop, 0) << exif.join('\n').toStdString();
    EXPECT_LT(make, exposureTime);
    EXPECT_LT(exposureTime, gps);
    EXPECT_LT(gps, maker);
    EXPECT_LT(maker, interop);
    EXPECT_TRUE(exif[make].startsWith("Make:Canon;{")) << exif[make].toStdString();
    EXPECT_TRUE(loader.IptcList().isEmpty());
    EXPECT_TRUE(loader.GeoTiffList().isEmpty());
}

// ---- Values are bounded ----------------------------------------------------------------

// The value of a "key:value;" or "key:value;{description}" line.
QString ValueOf(const QString& line) {
    const qsizetype colon = line.indexOf(':');
    const qsizetype brace = line.indexOf(";{");
    const qsizetype end = brace >= 0 ? brace : line.size() - 1;
    return line.mid(colon + 1, end - colon - 1);
}

void AddNumbers(FIBITMAP* dib, const char* key, FREE_IMAGE_MDTYPE type, DWORD width,
                const QByteArray& values) {
    FITAG* tag = FreeImage_CreateTag();
    FreeImage_SetTagKey(tag, key);
    FreeImage_SetTagType(tag, type);
    FreeImage_SetTagCount(tag, DWORD(values.size()) / width);
    FreeImage_SetTagLength(tag, DWORD(values.size()));
    FreeImage_SetTagValue(tag, values.constData());
    FreeImage_SetMetadata(FIMD_COMMENTS, dib, key, tag);
    FreeImage_DeleteTag(tag);
}

QByteArray Longs(int count, std::uint32_t value) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i) bytes.append(reinterpret_cast<const char*>(&value), 4);
    return bytes;
}

struct TBoundCase {
    const char* Name;
    int Count; // LONG elements of 4,000,000,000 ("4000000000 " each)
    bool Cut;
};

class MetadataBoundTest : public ::testing::TestWithParam<TBoundCase> {};

TEST_P(MetadataBoundTest, ValuesEndInAnEllipsisAtTheLimit) {
    const TBoundCase& c = GetParam();
    const TFreeImagePtr dib = MakePattern(2, 2);
    AddNumbers(dib.get(), "Numbers", FIDT_LONG, 4, Longs(c.Count, 4000000000u));
    QStringList lines;
    CollectMetadata(dib.get(), lines, FIMD_COMMENTS);
    ASSERT_EQ(lines.size(), 1);
    const QString value = ValueOf(lines[0]);
    EXPECT_TRUE(value.startsWith("4000000000"));
    if (c.Cut) {
        EXPECT_EQ(value.size(), kMaxInformationValueLength);
        EXPECT_EQ(value.back(), QChar(0x2026));
    } else {
        EXPECT_EQ(value.size(), c.Count * 11 - 1);
        EXPECT_NE(value.back(), QChar(0x2026));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Info, MetadataBoundTest,
    ::testing::Values(TBoundCase{"One", 1, false},
                      // 90 x 11 - 1 = 989 characters: whole.
                      TBoundCase{"JustBelowTheLimit", 90, false},
                      // 92 x 11 - 1 = 1,011 characters.
                      TBoundCase{"JustAboveTheLimit", 92, true},
                      // Fewer elements than FreeImage is given, many more characters.
                      TBoundCase{"ManyElements", 900, true},
                      TBoundCase{"MoreElementsThanFormatted", 50000, true}),
    [](const auto& info) { return std::string(info.param.Name); });

// A TIFF of one grey pixel whose directory holds a SubjectArea of `count` 16-bit numbers.
QByteArray TiffWithNumberArray(std::uint32_t count) {
    TExifBuilder b;
    using E = TExifBuilder::Entry;
    const auto u16 = [](int v) {
        QByteArray bytes;
        bytes.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
        return bytes;
    };
    const auto u32 = [&](std::uint32_t v) { return u16(int(v & 0xFFFF)) + u16(int(v >> 16)); };
    QByteArray numbers(qsizetype(count) * 2, '\0');
    for (std::uint32_t i = 0; i < count; ++i) {
        numbers[qsizetype(i) * 2] = char((i % 1000) & 0xFF);
        numbers[qsizetype(i) * 2 + 1] = char((i % 1000) >> 8);
    }
    // The single pixel is the byte at offset 4 (the directory offset, 8).
    b.AddIfd({E{256, 3, 1, u16(1)}, E{257, 3, 1, u16(1)}, E{258, 3, 1, u16(8)},
              E{259, 3, 1, u16(1)}, E{262, 3, 1, u16(1)}, E{273, 4, 1, u32(4)},
              E{277, 3, 1, u16(1)}, E{278, 3, 1, u16(1)}, E{279, 4, 1, u32(1)},
              E{37396, 3, count, numbers}});
    return b.Build();
}

// Ten million bytes of numbers in one tag: the lines stay short, made on the worker.
TEST(ExifList, HugeNumberArrayOfATiffIsCut) {
    QTemporaryDir dir;
    const QString file = dir.path() + "/numbers.tif";
    WriteFile(file, TiffWithNumberArray(5000000));
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_EQ(loader.Status(), TImageLoaderProStatus::ilSucces);
    bool found = false;
    for (const QString& line : loader.ExifList()) {
        const QString value = ValueOf(line);
        EXPECT_LE(value.size(), kMaxInformationValueLength) << line.left(80).toStdString();
        if (value.startsWith("0 1 2 3 4")) {
            found = true;
            EXPECT_EQ(value.size(), kMaxInformationValueLength);
            EXPECT_EQ(value.back(), QChar(0x2026));
        }
    }
    EXPECT_TRUE(found) << loader.ExifList().join('\n').left(2000).toStdString();
}

} // namespace
