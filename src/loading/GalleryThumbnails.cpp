#include "loading/GalleryThumbnails.h"

#include "gfx/Orientation.h"
#include "loading/ImageLoadJob.h"
#include "loading/JpegDecoder.h"
#include "loading/ShellThumbnail.h"
#include "platform/AtomicFile.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <array>
#include <exception>

namespace {

const QString kUriKey = QStringLiteral("Thumb::URI");
const QString kMTimeKey = QStringLiteral("Thumb::MTime");
const QString kSizeKey = QStringLiteral("Thumb::Size");

QString CacheRoot() {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return cache.isEmpty() ? QString() : cache + QStringLiteral("/thumbnails");
}

QString FailFolder() {
    return QStringLiteral("fail/pictrel-") + QStringLiteral(PICTREL_VERSION);
}

struct TStamp {
    QString Uri;
    qint64 MTime = 0;
    qint64 Size = 0;
};

bool EntryDescribes(const QString& path, const TStamp& stamp, QImage* picture) {
    return ThumbnailEntryDescribes(path, stamp.MTime, stamp.Size, picture);
}

// Makes the folders of `path` below the cache root that are missing, each for its owner
// alone, as the standard asks.
bool MakeOwnerFolders(const QString& folder) {
    if (QFileInfo(folder).isDir()) return true;
    const QString parent = QFileInfo(folder).absolutePath();
    if (parent != folder && !MakeOwnerFolders(parent)) return false;
    if (!QDir().mkdir(folder)) return QFileInfo(folder).isDir();
    return QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner);
}

void WriteEntry(const QString& path, QImage image, const TStamp& stamp) {
    image.setText(kUriKey, stamp.Uri);
    image.setText(kMTimeKey, QString::number(stamp.MTime));
    image.setText(kSizeKey, QString::number(stamp.Size));
    image.setText(QStringLiteral("Software"), QStringLiteral("Pictrel"));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    // zlib's fastest level: the entries are small, and packing them harder cost more
    // than decoding the photo.
    writer.setQuality(80);
    if (!writer.write(image)) return;
    if (!MakeOwnerFolders(QFileInfo(path).absolutePath())) return;
    // A cache: a failed write only means the thumbnail is made again next time.
    (void)WriteFileAtomically(path, png, nullptr, true);
}

QImage Scaled(const QImage& picture, int side) {
    if (picture.isNull() || std::max(picture.width(), picture.height()) <= side) return picture;
    return picture.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QImage ImageOf(const TBitmap32& bitmap) {
    if (bitmap.Empty()) return {};
    return bitmap.ImageView().convertToFormat(bitmap.IsOpaque() ? QImage::Format_RGB32
                                                                : QImage::Format_ARGB32);
}

bool IsJpeg(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) && f.read(3) == QByteArray("\xFF\xD8\xFF", 3);
}

// A JPEG decoded reduced in the decoder as far as still covers `side`, turned upright.
QImage DecodeJpeg(const QString& file, int side, const std::atomic<bool>& stop) {
    const QSize size = QImageReader(file, "jpeg").size();
    if (!size.isValid()) return {};
    int denom = 1;
    for (const int d : {8, 4, 2})
        if (std::max(size.width(), size.height()) / d >= side) {
            denom = d;
            break;
        }
    TBitmap32 picture;
    if (DecodeJpegPixels(QFile::encodeName(file), picture, stop, ReadJpegOrientation(file),
                         denom) != TJpegDecodeResult::Decoded)
        return {};
    return ImageOf(picture);
}

// Any picture through the loader (RAW files developed at half size).
QImage DecodeAny(const QString& file, const std::atomic<bool>& stop) {
    TImageLoadRequest request;
    request.FileName = file;
    request.Settings.HalfSize = true;
    request.Settings.ExifOrientation = true;
    TImageLoadResult result;
    RunImageLoad(request, stop, result);
    if (result.Status != TImageLoaderProStatus::ilSucces) return {};
    return ImageOf(result.Bitmap);
}

} // namespace

int ThumbnailClassSide(int side) {
    for (const TThumbnailClass& c : kThumbnailClasses)
        if (c.Side >= side) return c.Side;
    return kThumbnailClasses.back().Side;
}

TGalleryThumbnail MakeGalleryThumbnail(const QString& file, int side,
                                       const std::atomic<bool>& stop) {
    TGalleryThumbnail result;
    try {
        const QFileInfo info(file);
        if (!info.isFile()) return result;
        const QString absolute = QDir::cleanPath(info.absoluteFilePath());
        const TStamp stamp{QString::fromLatin1(QUrl::fromLocalFile(absolute).toEncoded()),
                           info.lastModified().toSecsSinceEpoch(), info.size()};
        const QString name = ThumbnailCacheName(absolute);
        const QString root = CacheRoot();
        const int classSide = ThumbnailClassSide(side);

        if (!root.isEmpty()) {
            for (const TThumbnailClass& c : kThumbnailClasses) {
                if (c.Side < classSide) continue;
                QImage cached;
                if (EntryDescribes(root + u'/' + QLatin1String(c.Folder) + u'/' + name, stamp,
                                   &cached)) {
                    result.Picture = Scaled(cached, classSide);
                    result.Source = TThumbnailSource::tsCache;
                    return result;
                }
            }
            if (EntryDescribes(root + u'/' + FailFolder() + u'/' + name, stamp, nullptr))
                return result;
        }
        if (stop) return result;

        const bool jpeg = IsJpeg(file);
        if (jpeg) {
            TBitmap32 embedded;
            if (ReadEmbeddedThumbnail(file, embedded) &&
                std::max(embedded.Width(), embedded.Height()) >= side) {
                ApplyExifOrientation(embedded, ReadJpegOrientation(file));
                result.Picture = Scaled(ImageOf(embedded), classSide);
                result.Source = TThumbnailSource::tsEmbedded;
                return result;
            }
        }
        QImage picture = jpeg ? DecodeJpeg(file, classSide, stop) : QImage();
        if (picture.isNull() && !stop) picture = DecodeAny(file, stop);
        if (stop) return result;
        if (picture.isNull()) {
            if (!root.isEmpty()) {
                QImage mark(1, 1, QImage::Format_ARGB32);
                mark.fill(Qt::transparent);
                WriteEntry(root + u'/' + FailFolder() + u'/' + name, mark, stamp);
            }
            return result;
        }
        result.Picture = Scaled(picture, classSide);
        result.Source = TThumbnailSource::tsDecoded;
        if (!root.isEmpty()) {
            const auto at =
                std::find_if(kThumbnailClasses.begin(), kThumbnailClasses.end(),
                             [&](const TThumbnailClass& c) { return c.Side == classSide; });
            WriteEntry(root + u'/' + QLatin1String(at->Folder) + u'/' + name, result.Picture,
                       stamp);
        }
    } catch (const std::exception&) {
        // No memory for this one: the cell shows the file's icon.
        result = TGalleryThumbnail();
    }
    return result;
}
