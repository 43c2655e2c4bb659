#include "loading/ShellThumbnail.h"

#include "gfx/Geometry.h"
#include "loading/FreeImagePtr.h"
#include "loading/FreeImageSetup.h"
#include "loading/ImageConversion.h"
#include "loading/ImageLimits.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QMimeDatabase>
#include <QPixmap>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

// ---- The desktop's thumbnail cache ----

struct TSizeClass {
    const char* Folder;
    int Side;
};
constexpr std::array<TSizeClass, 4> kSizeClasses{
    {{"normal", 128}, {"large", 256}, {"x-large", 512}, {"xx-large", 1024}}};

// Cache entries are small pictures; a larger file under their name is not one.
constexpr int kMaxCacheSide = 4096;
constexpr qint64 kMaxCacheBytes = qint64(64) << 20;

const QString kMTimeKey = QStringLiteral("Thumb::MTime");
const QString kSizeKey = QStringLiteral("Thumb::Size");

// What a cache entry must still describe to count.
struct TFileStamp {
    qint64 MTime; // whole seconds
    qint64 Size;
};

bool StampMatches(const QString& mtime, const QString& size, const TFileStamp& stamp) {
    bool ok = false;
    if (mtime.trimmed().toLongLong(&ok) != stamp.MTime || !ok) return false;
    if (size.isEmpty()) return true;
    return size.trimmed().toLongLong(&ok) == stamp.Size && ok;
}

// Whether `path` is a valid entry for the file of `stamp`; its pixels go to `picture`
// when asked for. The keys are normally written before the pixels, so a stale entry is
// refused without decoding it.
bool ReadCacheEntry(const QString& path, const TFileStamp& stamp, QImage* picture) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxCacheBytes) return false;
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || size.width() > kMaxCacheSide ||
        size.height() > kMaxCacheSide)
        return false;
    const QString mtime = reader.text(kMTimeKey);
    const bool keysInHeader = !mtime.isEmpty();
    if (keysInHeader && !StampMatches(mtime, reader.text(kSizeKey), stamp)) return false;
    if (keysInHeader && picture == nullptr) return true;
    QImage image;
    if (!reader.read(&image) || image.isNull()) return false;
    if (!keysInHeader && !StampMatches(image.text(kMTimeKey), image.text(kSizeKey), stamp))
        return false;
    if (picture != nullptr) *picture = std::move(image);
    return true;
}

// The smallest size class that holds `size` first, then the larger ones, then the
// smaller ones from the largest down.
std::array<int, kSizeClasses.size()> SizeClassOrder(int size) {
    std::array<int, kSizeClasses.size()> order{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < kSizeClasses.size(); ++i)
        if (kSizeClasses[i].Side >= size) order[n++] = int(i);
    for (std::size_t i = kSizeClasses.size(); i-- > 0;)
        if (kSizeClasses[i].Side < size) order[n++] = int(i);
    return order;
}

QString LookUpCache(const QFileInfo& info, int size, QImage* picture) {
    if (!info.isFile()) return {};
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty()) return {};
    const QString name = ThumbnailCacheName(QDir::cleanPath(info.absoluteFilePath()));
    const TFileStamp stamp{info.lastModified().toSecsSinceEpoch(), info.size()};
    for (const int i : SizeClassOrder(size)) {
        const QString path = cache + "/thumbnails/" + kSizeClasses[i].Folder + "/" + name;
        if (ReadCacheEntry(path, stamp, picture)) return path;
    }
    return {};
}

bool CopyImage(const QImage& image, TBitmap32& picture) {
    if (image.isNull()) return false;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull()) return false;
    picture.SetSize(argb.width(), argb.height());
    for (int y = 0; y < argb.height(); ++y)
        std::memcpy(picture.ScanLine(y), argb.constScanLine(y),
                    std::size_t(argb.width()) * sizeof(TColor32));
    return true;
}

// ---- Thumbnails embedded in JPEG headers ----
//
// FreeImage finds these itself when it reads a JPEG's headers, but it decodes an
// embedded thumbnail at whatever size the thumbnail's own frame header announces, and
// its Exif reader trusts the directory sizes it reads (one claiming more entries than
// its segment holds makes it read far outside it and die). So the headers are walked
// here, and FreeImage only decodes the thumbnail stream itself, after its size has been
// checked and its metadata segments taken out.

// No thumbnail is larger: its stream must fit into one 64 KiB marker segment.
constexpr int kMaxEmbeddedSide = 2048;
// The headers before the first scan; a camera file keeps them well below a megabyte.
constexpr qsizetype kMaxHeaderBytes = qsizetype(4) << 20;
constexpr qsizetype kFirstHeaderRead = qsizetype(64) << 10;

struct TSpan {
    qsizetype Offset;
    qsizetype Size;
};

struct TSegment {
    int Code = 0;
    qsizetype Start = 0;   // the marker's 0xFF
    qsizetype Payload = 0; // after the length
    qsizetype End = 0;     // past the segment
};

enum class TNext : std::uint8_t { Segment, OutOfData, Damaged };

// The segment at `pos` of p[0, n), found the way the decoder finds it: bytes other than
// 0xFF, fill bytes and FF 00 are skipped. Moves `pos` past it.
TNext NextSegment(const uchar* p, qsizetype n, qsizetype& pos, TSegment& segment) {
    int code = 0;
    while (code == 0) {
        while (pos < n && p[pos] != 0xFF) ++pos;
        while (pos < n && p[pos] == 0xFF) ++pos;
        if (pos >= n) return TNext::OutOfData;
        code = p[pos++];
    }
    segment.Code = code;
    segment.Start = pos - 2;
    if (code == 0x01 || (code >= 0xD0 && code <= 0xD9)) { // markers without a length
        segment.Payload = segment.End = pos;
        return TNext::Segment;
    }
    if (n - pos < 2) return TNext::OutOfData;
    const qsizetype length = (qsizetype(p[pos]) << 8) | p[pos + 1];
    if (length < 2) return TNext::Damaged;
    if (n - pos < length) return TNext::OutOfData;
    segment.Payload = pos + 2;
    segment.End = pos + length;
    pos = segment.End;
    return TNext::Segment;
}

std::uint64_t Read16(const uchar* p, bool bigEndian) {
    return bigEndian ? (std::uint64_t(p[0]) << 8) | p[1] : (std::uint64_t(p[1]) << 8) | p[0];
}
std::uint64_t Read32(const uchar* p, bool bigEndian) {
    return bigEndian ? (Read16(p, true) << 16) | Read16(p + 2, true)
                     : (Read16(p + 2, false) << 16) | Read16(p, false);
}

// The JPEG stream the second image directory of an Exif block (the TIFF structure
// after "Exif\0\0") names as its thumbnail, relative to the block.
bool FindExifThumbnail(const uchar* tiff, qsizetype length, TSpan& thumbnail) {
    const auto size = std::uint64_t(length);
    if (size < 8) return false;
    bool big = false;
    if (std::memcmp(tiff, "MM\0*", 4) == 0)
        big = true;
    else if (std::memcmp(tiff, "II*\0", 4) != 0)
        return false;
    const std::uint64_t first = Read32(tiff + 4, big);
    if (first + 2 > size) return false;
    const std::uint64_t link = first + 2 + 12 * Read16(tiff + first, big);
    if (link + 4 > size) return false;
    const std::uint64_t second = Read32(tiff + link, big);
    if (second == 0 || second + 2 > size) return false;
    const std::uint64_t entries = Read16(tiff + second, big);
    if (second + 2 + 12 * entries > size) return false;
    std::uint64_t offset = 0;
    std::uint64_t bytes = 0;
    for (std::uint64_t e = 0; e < entries; ++e) {
        const uchar* entry = tiff + second + 2 + 12 * e;
        const std::uint64_t tag = Read16(entry, big);
        if (tag == 0x0201) offset = Read32(entry + 8, big); // JPEGInterchangeFormat
        if (tag == 0x0202) bytes = Read32(entry + 8, big);  // ... and its length
    }
    if (offset == 0 || bytes == 0 || offset + bytes > size) return false;
    thumbnail = {qsizetype(offset), qsizetype(bytes)};
    return true;
}

// The thumbnails in the segments before the first scan of the JPEG stream p[0, n), in
// file order. False when the data end before the first scan (or a damaged segment).
bool FindThumbnails(const uchar* p, qsizetype n, QList<TSpan>& found) {
    found.clear();
    if (n < 2) return false;
    if (p[0] != 0xFF || p[1] != 0xD8) return true; // not a JPEG: nothing to find
    qsizetype pos = 2;
    TSegment s;
    for (;;) {
        const TNext next = NextSegment(p, n, pos, s);
        if (next != TNext::Segment) return next == TNext::Damaged;
        if (s.Code == 0xDA || s.Code == 0xD8 || s.Code == 0xD9) return true;
        const uchar* payload = p + s.Payload;
        const qsizetype length = s.End - s.Payload;
        TSpan exif{};
        if (s.Code == 0xE0 && length > 6 && std::memcmp(payload, "JFXX\0\x10", 6) == 0)
            found.append({s.Payload + 6, length - 6});
        else if (s.Code == 0xE1 && length > 6 && std::memcmp(payload, "Exif\0\0", 6) == 0 &&
                 FindExifThumbnail(payload + 6, length - 6, exif))
            found.append({s.Payload + 6 + exif.Offset, exif.Size});
    }
}

bool IsFrameHeader(int code) {
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// Whether the decoder itself needs the segment: the JFIF header and the Adobe
// segment, which tells how the colours are stored. FreeImage parses the other
// application segments and comments as metadata.
bool DecoderSegment(int code, const uchar* payload, qsizetype length) {
    if (code == 0xE0) return length >= 5 && std::memcmp(payload, "JFIF\0", 5) == 0;
    if (code == 0xEE) return true;
    return !(code >= 0xE0 && code <= 0xEF) && code != 0xFE;
}

// The thumbnail stream p[0, n) without its metadata, so that FreeImage reads nothing
// of it but the picture. Empty when its frame header announces more than a thumbnail
// or the stream does not reach its first scan.
QByteArray CleanThumbnail(const uchar* p, qsizetype n) {
    if (n < 2 || p[0] != 0xFF || p[1] != 0xD8) return {};
    QByteArray clean("\xFF\xD8", 2);
    qsizetype pos = 2;
    bool sawFrame = false;
    TSegment s;
    for (;;) {
        if (NextSegment(p, n, pos, s) != TNext::Segment) return {};
        if (s.Code == 0xD8 || s.Code == 0xD9) return {};
        if (IsFrameHeader(s.Code)) {
            if (sawFrame || s.End - s.Payload < 5) return {};
            sawFrame = true;
            const int height = int((p[s.Payload + 1] << 8) | p[s.Payload + 2]);
            const int width = int((p[s.Payload + 3] << 8) | p[s.Payload + 4]);
            if (width > kMaxEmbeddedSide || height > kMaxEmbeddedSide) return {};
        }
        if (DecoderSegment(s.Code, p + s.Payload, s.End - s.Payload))
            clean.append(reinterpret_cast<const char*>(p + s.Start), s.End - s.Start);
        if (s.Code == 0xDA) {
            if (!sawFrame) return {};
            // The scans, and whatever follows them, go as they are.
            clean.append(reinterpret_cast<const char*>(p + s.End), n - s.End);
            return clean;
        }
    }
}

struct TCloseFd {
    void operator()(const int* fd) const noexcept { ::close(*fd); }
};

// Appends up to `want - data.size()` bytes; false at the end of the file or on an error.
bool ReadMore(int fd, QByteArray& data, qsizetype want) {
    qsizetype have = data.size();
    data.resize(want);
    while (have < want) {
        const ssize_t n = ::read(fd, data.data() + have, std::size_t(want - have));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += n;
    }
    data.resize(have);
    return have == want;
}

// The start of the file, up to its first scan if that comes soon enough, and where
// the thumbnails in it are; false when there are none.
bool ReadJpegHeaders(const QString& file, QByteArray& data, QList<TSpan>& thumbnails) {
    // Non-blocking, so that a pipe put in the file's place meanwhile cannot hang us.
    int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    const std::unique_ptr<int, TCloseFd> closer(&fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    for (qsizetype want = kFirstHeaderRead;; want = std::min(want * 4, kMaxHeaderBytes)) {
        const bool more = ReadMore(fd, data, want);
        const auto* p = reinterpret_cast<const uchar*>(data.constData());
        // A file cut short still has the thumbnails before the cut.
        if (FindThumbnails(p, data.size(), thumbnails) || !more || want >= kMaxHeaderBytes)
            return !thumbnails.isEmpty();
    }
}

struct TCloseMemory {
    void operator()(FIMEMORY* memory) const noexcept { FreeImage_CloseMemory(memory); }
};

bool DecodeThumbnail(QByteArray stream, TBitmap32& thumbnail) {
    EnsureFreeImage();
    const std::unique_ptr<FIMEMORY, TCloseMemory> memory(
        FreeImage_OpenMemory(reinterpret_cast<BYTE*>(stream.data()), DWORD(stream.size())));
    if (!memory) return false;
    const TFreeImagePtr dib(FreeImage_LoadFromMemory(FIF_JPEG, memory.get(), JPEG_DEFAULT));
    return dib && ConvertTo32Bits(dib.get(), thumbnail, 0.0f, 0.0f);
}

// ---- The icon of the file's type ----

constexpr int kMaxIconSide = 256;

bool ThemeIcon(const QString& file, int side, TBitmap32& picture) {
    // Icons and pixmaps belong to the GUI thread.
    const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr || QThread::currentThread() != app->thread()) return false;
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(file, QMimeDatabase::MatchExtension);
    const QIcon icon = QIcon::fromTheme(mime.iconName(), QIcon::fromTheme(mime.genericIconName()));
    if (icon.isNull()) return false;
    return CopyImage(icon.pixmap(QSize(side, side), 1.0).toImage(), picture);
}

// ---- Composition ----

int MulDiv(int a, int b, int c) {
    return int((std::int64_t(a) * b + c / 2) / c);
}

// The largest rectangle of the picture's aspect ratio inside the box, centred in it.
TRect FitCentred(int pictureWidth, int pictureHeight, int boxWidth, int boxHeight) {
    int w = boxWidth;
    int h = boxHeight;
    if (std::int64_t(pictureHeight) * boxWidth < std::int64_t(pictureWidth) * boxHeight)
        h = std::max(1, MulDiv(pictureHeight, boxWidth, pictureWidth));
    else
        w = std::max(1, MulDiv(pictureWidth, boxHeight, pictureHeight));
    const int left = (boxWidth - w) / 2;
    const int top = (boxHeight - h) / 2;
    return {left, top, left + w, top + h};
}

void Compose(TBitmap32& picture, bool icon, TColor32 background, TBitmap32& result) {
    const int width = result.Width();
    const int height = result.Height();
    result.Clear(WithAlpha(background, icon ? 0 : 255));
    picture.DrawMode = TDrawMode::dmBlend;
    // An icon keeps its own transparency on the clear background.
    picture.CombineMode = icon ? TCombineMode::cmMerge : TCombineMode::cmBlend;
    picture.Resampler = TResamplerKind::Linear;
    TRect target = FitCentred(picture.Width(), picture.Height(), width, height);
    // Enlarged icons only blur; a small one stays at its size.
    if (icon && picture.Width() <= width && picture.Height() <= height) {
        const int left = (width - picture.Width()) / 2;
        const int top = (height - picture.Height()) / 2;
        target = {left, top, left + picture.Width(), top + picture.Height()};
    }
    result.StretchDraw(ToFloatRect(target), picture);
}

} // namespace

QString ThumbnailCacheName(const QString& absolutePath) {
    const QByteArray uri = QUrl::fromLocalFile(absolutePath).toEncoded();
    return QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) +
           QStringLiteral(".png");
}

QString FindCachedThumbnail(const QString& file, int size) {
    try {
        return LookUpCache(QFileInfo(file), size, nullptr);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

bool ReadEmbeddedThumbnail(const QString& file, TBitmap32& thumbnail) {
    try {
        QByteArray header;
        QList<TSpan> found;
        if (ReadJpegHeaders(file, header, found)) {
            const auto* p = reinterpret_cast<const uchar*>(header.constData());
            // The last one wins, as when FreeImage reads the headers; an unusable one
            // gives way to those before it.
            for (auto span = found.crbegin(); span != found.crend(); ++span) {
                QByteArray clean = CleanThumbnail(p + span->Offset, span->Size);
                if (!clean.isEmpty() && DecodeThumbnail(std::move(clean), thumbnail)) return true;
            }
        }
    } catch (const std::bad_alloc&) {
    }
    thumbnail.Delete();
    return false;
}

bool ShellThumbnail(const QString& file, TBitmap32& bitmap, int width, TColor32 background,
                    int height) {
    if (width <= 0 || height <= 0 || !WithinImageLimit(width, height)) return false;
    try {
        // Folders, pipes, devices and missing files have no thumbnail.
        const QFileInfo info(file);
        if (!info.isFile()) return false;
        TBitmap32 picture;
        QImage cached;
        bool icon = false;
        if (LookUpCache(info, std::max(width, height), &cached).isEmpty() ||
            !CopyImage(cached, picture)) {
            if (!ReadEmbeddedThumbnail(file, picture)) {
                if (!ThemeIcon(file, std::min({width, height, kMaxIconSide}), picture))
                    return false;
                icon = true;
            }
        }
        TBitmap32 result(width, height);
        Compose(picture, icon, background, result);
        bitmap.SwapPixels(result);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
