#include "loading/SecondaryFormatRegistry.h"

#include "gfx/Bitmap32.h"
#include "loading/ImageLimits.h"

#include <FreeImage.h>

#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QSet>
#include <QSvgRenderer>

#include <cstring>
#include <stdexcept>

namespace {

QSet<QString> FreeImageExtensions() {
    QSet<QString> result;
    for (int i = 0; i < FreeImage_GetFIFCount(); ++i) {
        const auto fif = static_cast<FREE_IMAGE_FORMAT>(i);
        if (!FreeImage_FIFSupportsReading(fif)) continue;
        const char* list = FreeImage_GetFIFExtensionList(fif);
        if (list == nullptr) continue;
        for (const QString& ext : QString::fromLatin1(list).split(',', Qt::SkipEmptyParts))
            result.insert(ext.trimmed().toLower());
    }
    return result;
}

QString DescriptionFor(const QString& ext) {
    if (ext == "cur") return QStringLiteral("Windows Cursor");
    return ext.toUpper() + QStringLiteral(" image");
}

QString Patterns(const QStringList& extensions, const QString& separator) {
    QStringList patterns;
    for (const QString& ext : extensions) patterns.append("*." + ext);
    return patterns.join(separator);
}

void CopyImage(const QImage& image, TBitmap32& target) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull()) throw std::runtime_error("picture could not be converted");
    target.SetSize(argb.width(), argb.height());
    for (int y = 0; y < argb.height(); ++y)
        std::memcpy(target.ScanLine(y), argb.constScanLine(y),
                    std::size_t(argb.width()) * sizeof(TColor32));
}

void LoadVector(const QString& fileName, TBitmap32& target) {
    QSvgRenderer renderer;
    if (!renderer.load(fileName) || !renderer.isValid())
        throw std::runtime_error("not a readable SVG file");
    const QSize size = renderer.defaultSize();
    if (size.width() <= 0 || size.height() <= 0) throw std::runtime_error("SVG without size");
    if (!WithinImageLimit(std::uint64_t(size.width()), std::uint64_t(size.height())))
        throw std::runtime_error("picture too large");
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) throw std::bad_alloc();
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        renderer.render(&painter);
    }
    CopyImage(image, target);
}

void LoadRaster(const QString& fileName, TBitmap32& target) {
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(false);
    const QSize size = reader.size();
    if (size.isValid() &&
        !WithinImageLimit(std::uint64_t(size.width()), std::uint64_t(size.height())))
        throw std::runtime_error("picture too large");
    QImage image;
    if (!reader.read(&image) || image.isNull()) throw std::runtime_error("unreadable picture");
    CopyImage(image, target);
}

} // namespace

const TSecondaryFormatRegistry& TSecondaryFormatRegistry::Instance() {
    static const TSecondaryFormatRegistry registry;
    return registry;
}

TSecondaryFormatRegistry::TSecondaryFormatRegistry() {
    // Qt SVG is linked in, so these two do not depend on an installed image plugin.
    m_formats.push_back({QStringLiteral("Scalable Vector Graphics"), {"svg"}, true});
    m_formats.push_back({QStringLiteral("Compressed Scalable Vector Graphics"), {"svgz"}, true});

    // Every other Qt reader whose extension no FreeImage format claims; the rest are
    // better served by FreeImage, which also gives their metadata.
    const QSet<QString> taken = FreeImageExtensions();
    for (const QByteArray& name : QImageReader::supportedImageFormats()) {
        const QString ext = QString::fromLatin1(name).toLower();
        if (ext.isEmpty() || ext == "svg" || ext == "svgz" || taken.contains(ext)) continue;
        m_formats.push_back({DescriptionFor(ext), {ext}, false});
    }
}

QString TSecondaryFormatRegistry::ExtensionList() const {
    QStringList all;
    for (const TFormat& f : m_formats) all.append(f.Extensions);
    return all.join(',');
}

QString TSecondaryFormatRegistry::FilterString() const {
    QStringList all;
    for (const TFormat& f : m_formats) all.append(f.Extensions);
    QStringList entries;
    entries.append("All images (" + Patterns(all, "; ") + ")|" + Patterns(all, ";"));
    for (const TFormat& f : m_formats)
        entries.append(f.Description + " (" + Patterns(f.Extensions, "; ") + ")|" +
                       Patterns(f.Extensions, ";"));
    return entries.join('|');
}

const TSecondaryFormatRegistry::TFormat*
TSecondaryFormatRegistry::FormatFor(const QString& fileName) const {
    const QString ext = QFileInfo(fileName).suffix().toLower();
    if (ext.isEmpty()) return nullptr;
    for (const TFormat& f : m_formats)
        if (f.Extensions.contains(ext)) return &f;
    return nullptr;
}

void TSecondaryFormatRegistry::Load(const QString& fileName, TBitmap32& target) const {
    const TFormat* format = FormatFor(fileName);
    if (format == nullptr) throw std::runtime_error("no decoder for this file");
    if (format->Vector)
        LoadVector(fileName, target);
    else
        LoadRaster(fileName, target);
}
