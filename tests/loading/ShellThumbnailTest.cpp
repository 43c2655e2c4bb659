#include "LoadingTestSupport.h"

#include "app/BackgroundWork.h"
#include "common/TestSupport.h"
#include "loading/FreeImageSetup.h"
#include "loading/ShellThumbnail.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QMimeDatabase>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cstdlib>
#include <initializer_list>
#include <random>
#include <string>
#include <thread>

using namespace pictrel::test;

namespace {

constexpr qint64 kMTime = 1700000000;
constexpr TColor32 kBackground = 0x00102030; // alpha 0: the result must make it opaque
constexpr TColor32 kUntouched = 0xFF123456;

// Within JPEG's loss of a solid colour.
bool Near(TColor32 a, TColor32 b) {
    constexpr int tolerance = 24;
    return AlphaOf(a) == AlphaOf(b) && std::abs(RedOf(a) - RedOf(b)) <= tolerance &&
           std::abs(GreenOf(a) - GreenOf(b)) <= tolerance &&
           std::abs(BlueOf(a) - BlueOf(b)) <= tolerance;
}

QImage Solid(int w, int h, TColor32 colour) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// ---- JPEG building ----

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray bytes;
    for (const int v : values) bytes.append(char(v & 0xFF));
    return bytes;
}

QByteArray Big16(std::uint32_t v) {
    return Bytes({int(v >> 8), int(v)});
}

QByteArray SolidJpeg(int w, int h, TColor32 colour) {
    const TFreeImagePtr dib(FreeImage_Allocate(w, h, 24));
    RGBQUAD fill{BYTE(BlueOf(colour)), BYTE(GreenOf(colour)), BYTE(RedOf(colour)), 0};
    FreeImage_FillBackground(dib.get(), &fill, 0);
    FIMEMORY* memory = FreeImage_OpenMemory(nullptr, 0);
    EXPECT_TRUE(FreeImage_SaveToMemory(FIF_JPEG, dib.get(), memory, JPEG_QUALITYSUPERB));
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    FreeImage_CloseMemory(memory);
    return bytes;
}

QByteArray Segment(int code, const QByteArray& payload) {
    return Bytes({0xFF, code}) + Big16(std::uint32_t(payload.size() + 2)) + payload;
}

QByteArray AfterSoi(const QByteArray& jpeg, const QByteArray& segment) {
    return jpeg.left(2) + segment + jpeg.mid(2);
}

QByteArray Jfxx(const QByteArray& stream) {
    return Segment(0xE0, QByteArray("JFXX\0\x10", 6) + stream);
}

// The offset of the first frame header of a stream, found segment by segment.
qsizetype FrameHeaderAt(const QByteArray& jpeg) {
    qsizetype pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF) {
        const int code = uchar(jpeg[pos + 1]);
        if (code == 0xC0 || code == 0xC2) return pos;
        pos += 2 + ((uchar(jpeg[pos + 2]) << 8) | uchar(jpeg[pos + 3]));
    }
    ADD_FAILURE() << "no frame header";
    return 0;
}

QByteArray WithFrameSize(QByteArray jpeg, int width, int height) {
    const qsizetype sof = FrameHeaderAt(jpeg);
    jpeg.replace(sof + 5, 4, Big16(std::uint32_t(height)) + Big16(std::uint32_t(width)));
    return jpeg;
}

struct TExifLayout {
    bool BigEndian = false;
    std::uint32_t FirstCount = 1; // entries claimed by the first directory
    std::uint32_t Offset = 0;     // 0: where the thumbnail really is
    std::uint32_t Size = 0;       // 0: its real size
};

// An Exif segment: an Orientation entry in the first directory, the thumbnail's
// offset and length in the second, then the thumbnail.
QByteArray Exif(const QByteArray& stream, const TExifLayout& layout) {
    const bool big = layout.BigEndian;
    const auto u16 = [big](std::uint32_t v) {
        return big ? Big16(v) : Bytes({int(v), int(v >> 8)});
    };
    const auto u32 = [&](std::uint32_t v) {
        return big ? u16(v >> 16) + u16(v & 0xFFFF) : u16(v & 0xFFFF) + u16(v >> 16);
    };
    const auto entry = [&](std::uint32_t tag, std::uint32_t type, QByteArray value) {
        return u16(tag) + u16(type) + u32(1) + value;
    };
    constexpr std::uint32_t kSecond = 8 + 2 + 12 + 4;
    constexpr std::uint32_t kThumbnail = kSecond + 2 + 24 + 4;
    QByteArray tiff = big ? QByteArray("MM\0*", 4) : QByteArray("II*\0", 4);
    tiff += u32(8) + u16(layout.FirstCount) + entry(0x0112, 3, u16(1) + u16(0)) + u32(kSecond);
    tiff += u16(2) + entry(0x0201, 4, u32(layout.Offset ? layout.Offset : kThumbnail));
    tiff += entry(0x0202, 4, u32(layout.Size ? layout.Size : std::uint32_t(stream.size())));
    tiff += u32(0) + stream;
    return Segment(0xE1, QByteArray("Exif\0\0", 6) + tiff);
}

// ---- Icon themes ----

void WriteTheme(const QString& root, const QString& name, const QStringList& icons) {
    const QString folder = root + "/" + name;
    ASSERT_TRUE(QDir().mkpath(folder + "/48x48/mimetypes"));
    WriteFile(folder + "/index.theme", "[Icon Theme]\nName=" + name.toUtf8() +
                                           "\nDirectories=48x48/mimetypes\n\n"
                                           "[48x48/mimetypes]\nSize=48\nType=Fixed\n");
    for (const QString& icon : icons) {
        // The colour tells the icons apart: magenta for text, cyan for the rest.
        const TColor32 colour = icon.startsWith("text") ? 0xFFFF00FF : 0xFF00FFFF;
        ASSERT_TRUE(Solid(48, 48, colour).save(folder + "/48x48/mimetypes/" + icon + ".png"));
    }
}

// The icon names the icon tests' theme provides.
bool MimeIconsAsUsual() {
    const QMimeDatabase mimes;
    return mimes.mimeTypeForFile("a.txt", QMimeDatabase::MatchExtension).iconName() ==
               "text-plain" &&
           mimes.mimeTypeForFile("a.jpg", QMimeDatabase::MatchExtension).genericIconName() ==
               "image-x-generic";
}

class ShellThumbnailTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        EnsureFreeImage();
        m_cache = qEnvironmentVariable("XDG_CACHE_HOME") + "/thumbnails";
        ASSERT_FALSE(m_cache.startsWith("/thumbnails"));
        QDir(m_cache).removeRecursively();
        m_savedTheme = QIcon::themeName();
        m_savedPaths = QIcon::themeSearchPaths();
        m_savedFallback = QIcon::fallbackThemeName();
        m_savedFallbackPaths = QIcon::fallbackSearchPaths();
        const QString icons = Path("icons");
        WriteTheme(icons, "pictrel-none", {});
        WriteTheme(icons, "pictrel-test", {"text-plain", "image-x-generic"});
        QIcon::setThemeSearchPaths({icons});
        QIcon::setFallbackSearchPaths({});
        QIcon::setFallbackThemeName("pictrel-none");
        UseTheme("pictrel-none");
        m_untouched.SetSize(7, 5);
        m_untouched.Clear(kUntouched);
    }
    void TearDown() override {
        QDir(m_cache).removeRecursively();
        QIcon::setThemeSearchPaths(m_savedPaths);
        QIcon::setFallbackSearchPaths(m_savedFallbackPaths);
        QIcon::setFallbackThemeName(m_savedFallback);
        QIcon::setThemeName(m_savedTheme);
    }

    static void UseTheme(const QString& name) { QIcon::setThemeName(name); }

    QString Path(const QString& name) const { return m_dir.path() + "/" + name; }

    QString Original(const QString& name, const QByteArray& bytes = "original") const {
        const QString path = Path(name);
        WriteFile(path, bytes);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadWrite));
        EXPECT_TRUE(file.setFileTime(QDateTime::fromSecsSinceEpoch(kMTime),
                                     QFileDevice::FileModificationTime));
        return path;
    }

    QString Entry(const QString& original, const QString& sizeClass, QImage image,
                  const QString& mtime = QString::number(kMTime), const QString& size = {}) const {
        const QString folder = m_cache + "/" + sizeClass;
        EXPECT_TRUE(QDir().mkpath(folder));
        if (!mtime.isEmpty()) image.setText("Thumb::MTime", mtime);
        if (!size.isEmpty()) image.setText("Thumb::Size", size);
        const QString path = folder + "/" + ThumbnailCacheName(original);
        EXPECT_TRUE(image.save(path, "PNG"));
        return path;
    }

    // A new bitmap with pixels of its own, to see whether a call left it alone.
    TBitmap32 Untouched() const { return m_untouched; }

    QTemporaryDir m_dir;
    QString m_cache;
    TBitmap32 m_untouched;
    QString m_savedTheme, m_savedFallback;
    QStringList m_savedPaths, m_savedFallbackPaths;
};

} // namespace

TEST(ShellThumbnailCacheName, IsTheMd5OfTheFileUri) {
    // Computed independently: printf %s 'file:///tmp/a%20b.jpg' | md5sum, and likewise.
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"/tmp/a b.jpg", "45f1b47640b52dc5428fd58ac89fec15.png"},
        {"/tmp/Fotos/\u00e9t\u00e9 1.jpg", "d7096448c9d90db8be9a711be6bf1ad8.png"},
        {"/home/jdoe/photos/image.png", "b3ece3d1cf2d4d79abcc650c8e18ce96.png"},
    };
    for (const auto& c : cases) EXPECT_EQ(ThumbnailCacheName(QString::fromUtf8(c.path)), c.name);
}

TEST_F(ShellThumbnailTest, EntryCountsOnlyWhileItsKeysDescribeTheFile) {
    const QString original = Original("photo.jpg");
    const QString size = QString::number(QFileInfo(original).size());
    const struct {
        QString mtime, size;
        bool valid;
    } cases[] = {
        {QString::number(kMTime), {}, true},
        {QString::number(kMTime), size, true},
        {QString::number(kMTime + 1), {}, false},
        {QString::number(kMTime - 1), {}, false},
        {QString::number(kMTime), "999", false},
        {QString::number(kMTime), "many", false},
        {"yesterday", {}, false},
        {{}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mtime.toStdString() + " / " + c.size.toStdString());
        const QString entry = Entry(original, "normal", Solid(8, 8, 0xFFFF0000), c.mtime, c.size);
        EXPECT_EQ(FindCachedThumbnail(original, 100), c.valid ? entry : QString());
    }
}

TEST_F(ShellThumbnailTest, PrefersTheSmallestSizeClassThatIsLargeEnough) {
    const struct {
        QStringList present;
        int size;
        const char* chosen;
    } cases[] = {
        {{"normal", "large"}, 100, "normal"},
        {{"normal", "large"}, 128, "normal"},
        {{"normal", "large"}, 129, "large"},
        {{"normal", "large"}, 2000, "large"},
        {{"normal"}, 300, "normal"},
        {{"large", "xx-large"}, 300, "xx-large"},
        {{"normal", "x-large"}, 200, "x-large"},
        {{"xx-large", "normal"}, 1024, "xx-large"},
    };
    const QString original = Original("photo.jpg");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.present.join(',').toStdString() + " " + std::to_string(c.size));
        QDir(m_cache).removeRecursively();
        for (const QString& sizeClass : c.present)
            Entry(original, sizeClass, Solid(4, 4, 0xFF00FF00));
        EXPECT_EQ(FindCachedThumbnail(original, c.size),
                  m_cache + "/" + c.chosen + "/" + ThumbnailCacheName(original));
    }
}

TEST_F(ShellThumbnailTest, StaleEntryGivesWayToAnotherSizeClass) {
    const QString original = Original("photo.jpg");
    Entry(original, "normal", Solid(4, 4, 0xFFFF0000), QString::number(kMTime - 60));
    const QString large = Entry(original, "large", Solid(4, 4, 0xFF0000FF));
    EXPECT_EQ(FindCachedThumbnail(original, 100), large);
}

TEST_F(ShellThumbnailTest, FindsNothingWithoutAValidEntryOrOriginal) {
    const QString original = Original("photo.jpg");
    EXPECT_EQ(FindCachedThumbnail(original, 100), QString());

    // Not a picture, and a picture above the size of any thumbnail.
    ASSERT_TRUE(QDir().mkpath(m_cache + "/normal"));
    WriteFile(m_cache + "/normal/" + ThumbnailCacheName(original), "\x89PNG\r\n\x1a\n garbage");
    EXPECT_EQ(FindCachedThumbnail(original, 100), QString());
    Entry(original, "large", Solid(4097, 1, 0xFFFF0000));
    EXPECT_EQ(FindCachedThumbnail(original, 100), QString());

    const QString missing = Path("missing.jpg");
    Entry(missing, "normal", Solid(4, 4, 0xFFFF0000));
    EXPECT_EQ(FindCachedThumbnail(missing, 100), QString());
    ASSERT_TRUE(QDir().mkpath(Path("folder")));
    Entry(Path("folder"), "normal", Solid(4, 4, 0xFFFF0000));
    EXPECT_EQ(FindCachedThumbnail(Path("folder"), 100), QString());
}

TEST_F(ShellThumbnailTest, CachedThumbnailIsFittedAndLetterboxedOnOpaqueBackground) {
    const QString original = Original("photo.jpg");
    Entry(original, "normal", Solid(64, 32, 0xFFFF0000));
    TBitmap32 bitmap = Untouched();
    ASSERT_TRUE(ShellThumbnail(original, bitmap, 100, kBackground, 100));
    ASSERT_EQ(bitmap.Width(), 100);
    ASSERT_EQ(bitmap.Height(), 100);
    EXPECT_EQ(bitmap.Pixel(50, 50), 0xFFFF0000u);
    EXPECT_EQ(bitmap.Pixel(0, 25), 0xFFFF0000u);
    EXPECT_EQ(bitmap.Pixel(99, 74), 0xFFFF0000u);
    EXPECT_EQ(bitmap.Pixel(50, 24), 0xFF102030u);
    EXPECT_EQ(bitmap.Pixel(50, 75), 0xFF102030u);
    EXPECT_EQ(bitmap.Pixel(0, 0), 0xFF102030u);
}

TEST_F(ShellThumbnailTest, PictureFillsTheBoxAlongItsLongerSide) {
    const struct {
        int w, h, boxW, boxH;
        TRect placed;
    } cases[] = {
        {64, 32, 100, 100, {0, 25, 100, 75}},  {32, 64, 100, 100, {25, 0, 75, 100}},
        {20, 10, 100, 100, {0, 25, 100, 75}}, // enlarged
        {256, 64, 100, 100, {0, 37, 100, 62}}, {300, 300, 100, 60, {20, 0, 80, 60}},
        {1000, 1, 100, 100, {0, 49, 100, 50}}, {50, 50, 50, 50, {0, 0, 50, 50}},
    };
    const QString original = Original("photo.jpg");
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " in " +
                     std::to_string(c.boxW) + "x" + std::to_string(c.boxH));
        Entry(original, "normal", Solid(c.w, c.h, 0xFFFF0000));
        TBitmap32 bitmap;
        ASSERT_TRUE(ShellThumbnail(original, bitmap, c.boxW, clBlack32, c.boxH));
        TRect found;
        int picturePixels = 0;
        for (int y = 0; y < c.boxH; ++y)
            for (int x = 0; x < c.boxW; ++x)
                if (bitmap.Pixel(x, y) != clBlack32) {
                    found = Union(found, TRect{x, y, x + 1, y + 1});
                    picturePixels += bitmap.Pixel(x, y) == 0xFFFF0000u;
                }
        EXPECT_EQ(found, c.placed);
        EXPECT_EQ(picturePixels, found.Width() * found.Height()); // solid, no seams
    }
}

TEST_F(ShellThumbnailTest, TranslucentThumbnailIsBlendedOntoTheBackground) {
    const QString original = Original("photo.png");
    Entry(original, "normal", Solid(10, 10, 0x00FF0000)); // fully transparent red
    TBitmap32 bitmap;
    ASSERT_TRUE(ShellThumbnail(original, bitmap, 20, kBackground, 20));
    EXPECT_EQ(bitmap.Pixel(10, 10), 0xFF102030u);
}

TEST_F(ShellThumbnailTest, DamagedEntryGivesWayToTheNextOne) {
    const QString original = Original("photo.jpg");
    const QString normal = Entry(original, "normal", Solid(64, 64, 0xFFFF0000));
    Entry(original, "large", Solid(64, 64, 0xFF0000FF));
    // The keys stay readable, the pixels are cut off.
    const QByteArray png = ReadFile(normal);
    WriteFile(normal, png.left(png.indexOf("IDAT") + 20));
    TBitmap32 bitmap;
    ASSERT_TRUE(ShellThumbnail(original, bitmap, 100, clBlack32, 100));
    EXPECT_EQ(bitmap.Pixel(50, 50), 0xFF0000FFu);
}

TEST_F(ShellThumbnailTest, CacheComesBeforeTheEmbeddedThumbnail) {
    const QByteArray jpeg =
        AfterSoi(SolidJpeg(400, 200, 0xFFFF0000), Jfxx(SolidJpeg(80, 40, 0xFF00FF00)));
    const QString original = Original("photo.jpg", jpeg);
    Entry(original, "normal", Solid(80, 40, 0xFF0000FF));
    TBitmap32 bitmap;
    ASSERT_TRUE(ShellThumbnail(original, bitmap, 100, clBlack32, 100));
    EXPECT_EQ(bitmap.Pixel(50, 50), 0xFF0000FFu);
}

TEST_F(ShellThumbnailTest, ReadsTheThumbnailFreeImageEmbeds) {
    const TFreeImagePtr main(FreeImage_Allocate(400, 200, 24));
    RGBQUAD red{0, 0, 255, 0};
    FreeImage_FillBackground(main.get(), &red, 0);
    const TFreeImagePtr small(FreeImage_Allocate(80, 40, 24));
    RGBQUAD green{0, 255, 0, 0};
    FreeImage_FillBackground(small.get(), &green, 0);
    ASSERT_TRUE(FreeImage_SetThumbnail(main.get(), small.get()));
    const QString file = Save(main.get(), FIF_JPEG, Path("photo.jpg"), JPEG_QUALITYSUPERB);

    TBitmap32 thumbnail;
    ASSERT_TRUE(ReadEmbeddedThumbnail(file, thumbnail));
    EXPECT_EQ(thumbnail.Width(), 80);
    EXPECT_EQ(thumbnail.Height(), 40);

    TBitmap32 bitmap = Untouched();
    ASSERT_TRUE(ShellThumbnail(file, bitmap, 100, kBackground, 100));
    ASSERT_EQ(bitmap.Width(), 100);
    EXPECT_PRED2(Near, bitmap.Pixel(50, 50), 0xFF00FF00u); // the thumbnail, not the red picture
    EXPECT_EQ(bitmap.Pixel(50, 5), 0xFF102030u);
    EXPECT_EQ(bitmap.Pixel(50, 95), 0xFF102030u);
}

TEST_F(ShellThumbnailTest, ReadsExifThumbnailInEitherByteOrder) {
    for (const bool big : {false, true}) {
        SCOPED_TRACE(big ? "big-endian" : "little-endian");
        TExifLayout layout;
        layout.BigEndian = big;
        const QByteArray jpeg =
            AfterSoi(SolidJpeg(300, 300, 0xFFFF0000), Exif(SolidJpeg(48, 32, 0xFF0000FF), layout));
        const QString file = Original("exif.jpg", jpeg);
        TBitmap32 thumbnail;
        ASSERT_TRUE(ReadEmbeddedThumbnail(file, thumbnail));
        EXPECT_EQ(thumbnail.Width(), 48);
        EXPECT_EQ(thumbnail.Height(), 32);
        EXPECT_PRED2(Near, thumbnail.Pixel(24, 16), 0xFF0000FFu);
    }
}

TEST_F(ShellThumbnailTest, HugePictureDimensionsDoNotMatterForItsThumbnail) {
    // Were the picture decoded, this would take gigabytes; only its headers are read.
    const QByteArray jpeg = WithFrameSize(
        AfterSoi(SolidJpeg(64, 64, 0xFFFF0000), Jfxx(SolidJpeg(80, 40, 0xFF00FF00))), 60000, 60000);
    TBitmap32 thumbnail;
    ASSERT_TRUE(ReadEmbeddedThumbnail(Original("huge.jpg", jpeg), thumbnail));
    EXPECT_EQ(thumbnail.Width(), 80);
}

TEST_F(ShellThumbnailTest, RefusesThumbnailsThatAreNoneOrTooLarge) {
    const QByteArray picture = SolidJpeg(64, 64, 0xFFFF0000);
    const QByteArray thumb = SolidJpeg(48, 32, 0xFF0000FF);
    const QByteArray hugeThumb = WithFrameSize(thumb, 3000, 3000);
    TExifLayout wraps;
    wraps.Size = 0xFFFFFFF0u; // offset + size wraps round in 32 bits
    // FreeImage's own Exif reader dies on this one: it walks the whole directory.
    TExifLayout longDirectory;
    longDirectory.FirstCount = 0xFFFF;
    const struct {
        const char* name;
        QByteArray jpeg;
    } cases[] = {
        {"no thumbnail", picture},
        {"JFIF thumbnail of 3000 x 3000", AfterSoi(picture, Jfxx(hugeThumb))},
        {"Exif thumbnail of 3000 x 3000", AfterSoi(picture, Exif(hugeThumb, {}))},
        {"Exif thumbnail past its segment", AfterSoi(picture, Exif(thumb, wraps))},
        {"directory larger than its segment", AfterSoi(picture, Exif(thumb, longDirectory))},
        {"thumbnail without a scan",
         AfterSoi(picture, Jfxx(thumb.left(thumb.indexOf("\xFF\xDA"))))},
        {"thumbnail that is no JPEG", AfterSoi(picture, Jfxx("GIF89a" + thumb))},
        {"segment length below 2",
         AfterSoi(AfterSoi(picture, Jfxx(thumb)), QByteArray("\xFF\xE5\x00\x01", 4))},
        {"not a JPEG", "GIF89a" + AfterSoi(picture, Jfxx(thumb))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = Original("damaged.jpg", c.jpeg);
        TBitmap32 thumbnail(3, 3);
        EXPECT_FALSE(ReadEmbeddedThumbnail(file, thumbnail));
        EXPECT_TRUE(thumbnail.Empty());
        TBitmap32 bitmap = Untouched();
        EXPECT_FALSE(ShellThumbnail(file, bitmap, 100, clBlack32, 100));
        EXPECT_TRUE(SamePixels(bitmap, m_untouched));
    }
}

TEST_F(ShellThumbnailTest, ReadsNoMetadataOfTheThumbnailItself) {
    // The thumbnail carries an Exif block that would kill FreeImage's reader and a
    // thumbnail of its own far too large to decode; only its picture is read.
    TExifLayout longDirectory;
    longDirectory.FirstCount = 0xFFFF;
    const QByteArray inner = WithFrameSize(SolidJpeg(8, 8, 0xFF00FF00), 3000, 3000);
    const QByteArray thumb =
        AfterSoi(AfterSoi(SolidJpeg(48, 32, 0xFF0000FF), Jfxx(inner)), Exif(inner, longDirectory));
    const QString file =
        Original("photo.jpg", AfterSoi(SolidJpeg(64, 64, 0xFFFF0000), Jfxx(thumb)));
    TBitmap32 thumbnail;
    ASSERT_TRUE(ReadEmbeddedThumbnail(file, thumbnail));
    EXPECT_EQ(thumbnail.Width(), 48);
    EXPECT_PRED2(Near, thumbnail.Pixel(24, 16), 0xFF0000FFu);
}

TEST_F(ShellThumbnailTest, TheLastUsableThumbnailWins) {
    const QByteArray picture = SolidJpeg(64, 64, 0xFFFF0000);
    const QByteArray blue = Exif(SolidJpeg(48, 32, 0xFF0000FF), {});
    const QByteArray green = Jfxx(SolidJpeg(20, 10, 0xFF00FF00));
    const QByteArray huge = Jfxx(WithFrameSize(SolidJpeg(8, 8, 0xFF00FF00), 3000, 3000));
    const struct {
        const char* name;
        QByteArray jpeg;
        int width;
    } cases[] = {
        {"Exif, then JFIF", AfterSoi(AfterSoi(picture, green), blue), 20},
        {"JFIF, then Exif", AfterSoi(AfterSoi(picture, blue), green), 48},
        {"then one too large", AfterSoi(AfterSoi(picture, huge), green), 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap32 thumbnail;
        ASSERT_TRUE(ReadEmbeddedThumbnail(Original("photo.jpg", c.jpeg), thumbnail));
        EXPECT_EQ(thumbnail.Width(), c.width);
    }
}

TEST_F(ShellThumbnailTest, SurvivesEveryCutAndRandomDamageOfTheHeaders) {
    const QByteArray green = Jfxx(SolidJpeg(20, 10, 0xFF00FF00));
    const QByteArray blue = Exif(SolidJpeg(48, 32, 0xFF0000FF), {});
    const QByteArray jpeg = AfterSoi(AfterSoi(SolidJpeg(64, 64, 0xFFFF0000), blue), green);
    const qsizetype greenEnd = 2 + green.size();
    const qsizetype blueEnd = greenEnd + blue.size();
    for (qsizetype n = 0; n <= blueEnd + 64; ++n) {
        // A file cut short keeps the thumbnails before the cut.
        TBitmap32 thumbnail;
        WriteFile(Path("cut.jpg"), jpeg.left(n));
        const bool read = ReadEmbeddedThumbnail(Path("cut.jpg"), thumbnail);
        EXPECT_EQ(read, n >= greenEnd) << n;
        EXPECT_EQ(thumbnail.Width(), n >= blueEnd ? 48 : n >= greenEnd ? 20 : 0) << n;
    }

    std::mt19937 random(20240607);
    const qsizetype scan = jpeg.lastIndexOf("\xFF\xDA");
    for (int i = 0; i < 300; ++i) {
        QByteArray damaged = jpeg;
        for (int k = 0; k < 4; ++k)
            damaged[qsizetype(random() % std::uint32_t(scan))] = char(random() & 0xFF);
        TBitmap32 thumbnail;
        WriteFile(Path("damaged.jpg"), damaged);
        if (ReadEmbeddedThumbnail(Path("damaged.jpg"), thumbnail)) {
            EXPECT_LE(thumbnail.Width(), 2048);
            EXPECT_LE(thumbnail.Height(), 2048);
        }
    }
}

TEST_F(ShellThumbnailTest, LeavesTheBitmapAloneWhenThereIsNothingToShow) {
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("pipe.jpg")).constData(), 0600), 0);
    ASSERT_TRUE(QDir().mkpath(Path("folder.jpg")));
    const QString empty = Original("empty.jpg", {});
    const QString text = Original("notes.txt", "some words");
    const QString garbage = Original("garbage.jpg", QByteArray(5000, '\x5A'));
    const struct {
        QString file;
        int width, height;
        bool iconWouldDo; // a regular file, asked for at a valid size
    } cases[] = {
        {Path("missing.jpg"), 100, 100, false},
        {Path("folder.jpg"), 100, 100, false},
        {Path("pipe.jpg"), 100, 100, false},
        {empty, 100, 100, true},
        {text, 100, 100, true},
        {garbage, 100, 100, true},
        {text, 0, 100, false},
        {text, 100, -1, false},
    };
    for (const bool withIcons : {false, true}) {
        UseTheme(withIcons ? "pictrel-test" : "pictrel-none");
        for (const auto& c : cases) {
            if (withIcons && c.iconWouldDo) continue;
            SCOPED_TRACE(c.file.toStdString() + (withIcons ? " with icons" : ""));
            TBitmap32 bitmap = Untouched();
            EXPECT_FALSE(ShellThumbnail(c.file, bitmap, c.width, clBlack32, c.height));
            EXPECT_TRUE(SamePixels(bitmap, m_untouched));
        }
    }
}

TEST_F(ShellThumbnailTest, FallsBackToTheIconOfTheFileType) {
    if (!MimeIconsAsUsual()) GTEST_SKIP() << "the MIME database does not name the usual icons";
    UseTheme("pictrel-test");
    const struct {
        QString file;
        int width, height;
        TColor32 centre;
        TRect icon;
    } cases[] = {
        {Original("notes.txt", "some words"), 100, 100, 0xFFFF00FF, {26, 26, 74, 74}},
        {Original("empty.jpg", {}), 100, 80, 0xFF00FFFF, {26, 16, 74, 64}}, // generic icon
        {Original("garbage.jpg", "not a JPEG"), 60, 24, 0xFF00FFFF, {18, 0, 42, 24}}, // shrunk
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        TBitmap32 bitmap = Untouched();
        ASSERT_TRUE(ShellThumbnail(c.file, bitmap, c.width, kBackground, c.height));
        ASSERT_EQ(bitmap.Width(), c.width);
        ASSERT_EQ(bitmap.Height(), c.height);
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const bool inside = c.icon.Contains(x, y);
                const TColor32 expected = inside ? c.centre : WithAlpha(kBackground, 0);
                if (bitmap.Pixel(x, y) != expected) {
                    ADD_FAILURE() << x << "," << y << " " << std::hex << bitmap.Pixel(x, y);
                    return;
                }
            }
    }
}

TEST_F(ShellThumbnailTest, GivesNoIconAwayFromTheGuiThread) {
    if (!MimeIconsAsUsual()) GTEST_SKIP() << "the MIME database does not name the usual icons";
    UseTheme("pictrel-test");
    const QString text = Original("notes.txt", "some words");
    TBitmap32 onGui;
    ASSERT_TRUE(ShellThumbnail(text, onGui, 100, clBlack32, 100));
    bool made = true;
    TBitmap32 bitmap = Untouched();
    std::thread worker([&] { made = ShellThumbnail(text, bitmap, 100, clBlack32, 100); });
    worker.join();
    EXPECT_FALSE(made);
    EXPECT_TRUE(SamePixels(bitmap, m_untouched));
}

namespace {

// The file is read on a worker; what arrives is the newest request's picture, and a
// file with neither a thumbnail nor a type icon delivers nothing.
TEST_F(ShellThumbnailTest, AsyncDeliversOnlyTheNewestRequestsPicture) {
    const QString first = Original("first.jpg"), second = Original("second.jpg");
    Entry(first, "normal", Solid(40, 40, 0xFFFF0000));
    Entry(second, "normal", Solid(40, 40, 0xFF0000FF));
    TBackgroundWork work;
    QStringList arrived;
    TColor32 centre = 0;
    const auto deliver = [&](const char* name) {
        return [&, name](TBitmap32&& thumbnail) {
            arrived << name;
            centre = thumbnail.Pixel(10, 10);
        };
    };
    ShellThumbnailAsync(work, first, 20, clBlack32, 20, true, deliver("first"));
    ShellThumbnailAsync(work, second, 20, clBlack32, 20, true, deliver("second"));
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !arrived.isEmpty(); }));
    work.WaitForIdle();
    QCoreApplication::processEvents();
    EXPECT_EQ(arrived, QStringList{"second"});
    EXPECT_EQ(centre, 0xFF0000FFu);

    arrived.clear();
    ShellThumbnailAsync(work, Original("plain.bin"), 20, clBlack32, 20, true, deliver("none"));
    work.WaitForIdle();
    QCoreApplication::processEvents();
    EXPECT_TRUE(arrived.isEmpty()) << "no thumbnail and no icon in the test theme";
}

} // namespace
