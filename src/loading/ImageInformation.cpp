#include "loading/ImageInformation.h"

#include "gfx/Bitmap32.h"
#include "loading/FreeImagePtr.h"
#include "loading/FreeImageSetup.h"
#include "loading/JpegGuard.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
#include <mutex>

namespace {

// FreeImage_TagToString answers in a static buffer of the library, so two loaders
// converting tags at the same time would overwrite each other's text.
std::mutex& TagTextMutex() {
    static std::mutex mutex;
    return mutex;
}

constexpr int kMaxKeyLength = 255;

// Every element of a numeric tag takes at least two characters ("0 "), so this many
// fill a value to its cut; FreeImage then never formats the rest of a huge array.
constexpr DWORD kMaxTagElements = DWORD(kMaxInformationValueLength);

QString Bounded(QString text) {
    if (text.size() <= kMaxInformationValueLength) return text;
    text.truncate(kMaxInformationValueLength - 1);
    // Never leave half of a surrogate pair before the ellipsis.
    if (!text.isEmpty() && text.back().isHighSurrogate()) text.chop(1);
    return text + QChar(0x2026);
}

// The tag's value as text, formatted from at most kMaxTagElements of its elements.
// FreeImage cuts text tags itself, so those are formatted whole.
QString TagText(FREE_IMAGE_MDMODEL model, FITAG* tag) {
    const FREE_IMAGE_MDTYPE type = FreeImage_GetTagType(tag);
    const DWORD count = FreeImage_GetTagCount(tag);
    const DWORD length = FreeImage_GetTagLength(tag);
    // Bytes an element: the readers store count elements of the type's width.
    const DWORD width = count != 0 ? length / count : 0;
    std::unique_ptr<FITAG, decltype(&FreeImage_DeleteTag)> shortened(nullptr, &FreeImage_DeleteTag);
    FITAG* shown = tag;
    const bool cut = type != FIDT_ASCII && count > kMaxTagElements && width != 0 && width <= 8 &&
                     FreeImage_GetTagValue(tag) != nullptr;
    if (cut) {
        shortened.reset(FreeImage_CreateTag());
        FITAG* copy = shortened.get();
        if (copy == nullptr || !FreeImage_SetTagKey(copy, FreeImage_GetTagKey(tag)) ||
            !FreeImage_SetTagID(copy, FreeImage_GetTagID(tag)) ||
            !FreeImage_SetTagType(copy, type) || !FreeImage_SetTagCount(copy, kMaxTagElements) ||
            !FreeImage_SetTagLength(copy, kMaxTagElements * width) ||
            !FreeImage_SetTagValue(copy, FreeImage_GetTagValue(tag)))
            return QString(QChar(0x2026));
        shown = copy;
    }
    QString value;
    {
        std::lock_guard lock(TagTextMutex());
        const char* text = FreeImage_TagToString(model, shown, nullptr);
        value = QString::fromUtf8(text ? text : "");
    }
    if (cut && value.size() <= kMaxInformationValueLength) value += QChar(0x2026);
    return Bounded(std::move(value));
}

} // namespace

void CollectMetadata(FIBITMAP* dib, QStringList& list, FREE_IMAGE_MDMODEL model) {
    if (dib == nullptr || FreeImage_GetMetadataCount(model, dib) == 0) return;
    FITAG* tag = nullptr;
    FIMETADATA* search = FreeImage_FindFirstMetadata(model, dib, &tag);
    if (search == nullptr) return;
    do {
        if (tag == nullptr) continue;
        const char* rawKey = FreeImage_GetTagKey(tag);
        const QString key = QString::fromUtf8(rawKey ? rawKey : "").left(kMaxKeyLength);
        const QString value = TagText(model, tag);
        const char* description = FreeImage_GetTagDescription(tag);
        if (description != nullptr)
            list.append(key + ':' + value + ";{" + Bounded(QString::fromUtf8(description)) + '}');
        else
            list.append(key + ':' + value + ';');
    } while (FreeImage_FindNextMetadata(search, &tag));
    FreeImage_FindCloseMetadata(search);
}

void AddFreeImageInfo(std::int64_t fileSize, FREE_IMAGE_FORMAT format, FIBITMAP* dib,
                      QStringList& list) {
    const char* description = FreeImage_GetFIFDescription(format);
    list.append("Image format: " + QString::fromUtf8(description ? description : "") + ';');
    list.append("File size: " + FormatFileSize(fileSize) + ';');
    list.append("Width: " + QString::number(FreeImage_GetWidth(dib)) + " pixels;");
    list.append("Height: " + QString::number(FreeImage_GetHeight(dib)) + " pixels;");
    list.append("Bits per pixel: " + QString::number(FreeImage_GetBPP(dib)) + " bits;");
    if (const unsigned x = FreeImage_GetDotsPerMeterX(dib); x != 0)
        list.append("Resolution x: " + QString::number(x) + " pixel/meter;");
    if (const unsigned y = FreeImage_GetDotsPerMeterY(dib); y != 0)
        list.append("Resolution y: " + QString::number(y) + " pixel/meter;");
}

void AddBitmapInfo(std::int64_t fileSize, const QString& formatName, const TBitmap32& bitmap,
                   QStringList& list, int bitsPerPixel) {
    list.append("Image format: " + formatName + ';');
    list.append("File size: " + FormatFileSize(fileSize) + ';');
    list.append("Width: " + QString::number(bitmap.Width()) + " pixels;");
    list.append("Height: " + QString::number(bitmap.Height()) + " pixels;");
    // 16 unless told: RAW pictures are developed from 16-bit samples, and the toolkit's
    // decoders do not tell their depth.
    list.append("Bits per pixel: " + QString::number(bitsPerPixel) + " bits;");
}

QString FormatFileSize(std::int64_t bytes, const QLocale& locale) {
    if (bytes <= 0) return QStringLiteral("0 bytes");
    static const char* const kUnits[] = {"bytes", "KB", "MB", "GB", "TB", "PB", "EB"};
    // e = floor(log2(bytes) / 10), computed exactly on the integer.
    const int e = (std::bit_width(static_cast<std::uint64_t>(bytes)) - 1) / 10;
    const double v = static_cast<double>(bytes) / static_cast<double>(std::uint64_t(1) << (10 * e));
    // d = ceil(log10(v)), exactly: the smallest d with v <= 10^d.
    int d = 0;
    for (double p = 1.0; v > p; p *= 10.0) ++d;
    const int decimals = std::max(0, 3 - d);
    QLocale withSeparators = locale;
    withSeparators.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return withSeparators.toString(v, 'f', decimals) + ' ' + QString::fromLatin1(kUnits[e]);
}

namespace {

// A small JPEG without metadata that the blocks of other formats are put into, so that
// FreeImage's JPEG reader gives their lines (made once).
const QByteArray& CarrierJpeg() {
    static const QByteArray carrier = [] {
        EnsureFreeImage();
        QByteArray bytes;
        const TFreeImagePtr dib(FreeImage_Allocate(8, 8, 24));
        FIMEMORY* memory = FreeImage_OpenMemory();
        if (dib && memory != nullptr && FreeImage_SaveToMemory(FIF_JPEG, dib.get(), memory, 0)) {
            BYTE* data = nullptr;
            DWORD size = 0;
            if (FreeImage_AcquireMemory(memory, &data, &size))
                bytes = QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
        }
        if (memory != nullptr) FreeImage_CloseMemory(memory);
        return bytes;
    }();
    return carrier;
}

QByteArray App1(const QByteArray& payload) {
    const auto length = std::uint16_t(payload.size() + 2);
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char(length >> 8)).append(char(length & 0xFF));
    return segment + payload;
}

} // namespace

void CollectBlockMetadata(const QByteArray& exif, const QByteArray& xmp, QStringList& exifList,
                          QStringList& xmpList, QStringList& geoTiffList) {
    // A JPEG segment holds at most 65533 bytes.
    const bool withExif = !exif.isEmpty() && exif.size() <= 65533;
    const QByteArray xmpPayload = QByteArray("http://ns.adobe.com/xap/1.0/", 29) + xmp;
    const bool withXmp = !xmp.isEmpty() && xmpPayload.size() <= 65533;
    const QByteArray& carrier = CarrierJpeg();
    if ((!withExif && !withXmp) || !carrier.startsWith("\xFF\xD8")) return;
    QByteArray stream = carrier.left(2);
    if (withExif) stream += App1(exif);
    if (withXmp) stream += App1(xmpPayload);
    stream += carrier.mid(2);
    const TFreeImagePtr dib = LoadJpegHeadersGuarded(std::move(stream));
    if (!dib) return;
    for (const FREE_IMAGE_MDMODEL model :
         {FIMD_EXIF_MAIN, FIMD_EXIF_EXIF, FIMD_EXIF_GPS, FIMD_EXIF_MAKERNOTE, FIMD_EXIF_INTEROP})
        CollectMetadata(dib.get(), exifList, model);
    CollectMetadata(dib.get(), xmpList, FIMD_XMP);
    CollectMetadata(dib.get(), geoTiffList, FIMD_GEOTIFF);
}
