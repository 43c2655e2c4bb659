#include "loading/ShellThumbnail.h"

#include "app/BackgroundWork.h"
#include "gfx/Geometry.h"
#include "gfx/Orientation.h"
#include "loading/FreeImagePtr.h"
#include "loading/FreeImageSetup.h"
#include "loading/ImageConversion.h"
#include "loading/ImageLimits.h"
#include "loading/ImageLoadJob.h"
#include "loading/JpegGuard.h"
#include "loading/ModernFormats.h"

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

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

// ---- The desktop's thumbnail cache ----

constexpr const auto& kSizeClasses = kThumbnailClasses;

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
// embedded thumbnail at whatever size the thumbnail's own frame header announces and
// reads the thumbnail's metadata too. So the JPEG guard's header walk finds them, and
// FreeImage only decodes the thumbnail stream itself, after its size has been checked
// and its metadata segments taken out.

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

bool ThumbnailEntryDescribes(const QString& path, qint64 mtime, qint64 size, QImage* picture) {
    return ReadCacheEntry(path, TFileStamp{mtime, size}, picture);
}

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
        if (ReadJpegHeaders(QFile::encodeName(file), header)) {
            const auto* p = reinterpret_cast<const uchar*>(header.constData());
            const QList<TJpegSpan> found = FindJpegThumbnails(p, header.size());
            // The last one wins, as when FreeImage reads the headers; an unusable one
            // gives way to those before it.
            for (auto span = found.crbegin(); span != found.crend(); ++span) {
                QByteArray clean = StripJpegThumbnail(p + span->Offset, span->Size);
                if (!clean.isEmpty() && DecodeThumbnail(std::move(clean), thumbnail)) return true;
            }
        }
    } catch (const std::bad_alloc&) {
    }
    thumbnail.Delete();
    return false;
}

int ReadJpegOrientation(const QString& file) {
    try {
        EnsureFreeImage();
        // The guarded header load, as the loader makes it: FreeImage never sees a
        // damaged Exif block, and the picture is not decoded.
        const TFreeImagePtr dib = LoadJpegHeaderGuarded(QFile::encodeName(file));
        return ExifOrientationTag(dib.get());
    } catch (const std::bad_alloc&) {
        return kExifOrientationNone;
    }
}

namespace {

// The picture found, fitted and centred as ShellThumbnail describes; false when `find`
// finds none. `find` sets `icon` when it gives a type icon.
template <class Find>
bool ComposeThumbnail(const QString& file, TBitmap32& bitmap, int width, TColor32 background,
                      int height, Find find) {
    if (width <= 0 || height <= 0 || !WithinImageLimit(width, height)) return false;
    try {
        // Folders, pipes, devices and missing files have no thumbnail.
        const QFileInfo info(file);
        if (!info.isFile()) return false;
        TBitmap32 picture;
        bool icon = false;
        if (!find(info, picture, icon)) return false;
        TBitmap32 result(width, height);
        Compose(picture, icon, background, result);
        bitmap.SwapPixels(result);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

bool FileThumbnail(const QString& file, TBitmap32& bitmap, int width, TColor32 background,
                   int height, bool exifOrientation) {
    return ComposeThumbnail(
        file, bitmap, width, background, height,
        [&](const QFileInfo& info, TBitmap32& picture, bool&) {
            QImage cached;
            if (!LookUpCache(info, std::max(width, height), &cached).isEmpty() &&
                CopyImage(cached, picture))
                return true;
            // A HEIF file's thumbnail is stored turned as its picture is displayed.
            if (ReadHeifThumbnail(file, picture)) return true;
            if (!ReadEmbeddedThumbnail(file, picture)) return false;
            // Cache entries come upright from their makers; an embedded one does not.
            if (exifOrientation) ApplyExifOrientation(picture, ReadJpegOrientation(file));
            return true;
        });
}

bool IconThumbnail(const QString& file, TBitmap32& bitmap, int width, TColor32 background,
                   int height) {
    return ComposeThumbnail(
        file, bitmap, width, background, height,
        [&](const QFileInfo&, TBitmap32& picture, bool& icon) {
            icon = true;
            return ThemeIcon(file, std::min({width, height, kMaxIconSide}), picture);
        });
}

bool ShellThumbnail(const QString& file, TBitmap32& bitmap, int width, TColor32 background,
                    int height, bool exifOrientation) {
    return FileThumbnail(file, bitmap, width, background, height, exifOrientation) ||
           IconThumbnail(file, bitmap, width, background, height);
}

void ShellThumbnailAsync(TBackgroundWork& work, const QString& file, int width, TColor32 background,
                         int height, bool exifOrientation,
                         std::function<void(TBitmap32&& thumbnail)> done) {
    work.RunLatest(
        [=](const TJobStop&) {
            TBitmap32 thumbnail;
            FileThumbnail(file, thumbnail, width, background, height, exifOrientation);
            return thumbnail;
        },
        [=, done = std::move(done)](TBitmap32&& thumbnail) {
            if (thumbnail.Empty() && !IconThumbnail(file, thumbnail, width, background, height))
                return;
            done(std::move(thumbnail));
        });
}
