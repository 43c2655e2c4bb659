#pragma once

#include <FreeImage.h>

#include <QLocale>
#include <QString>
#include <QStringList>

#include <cstdint>

class TBitmap32;

// The information and metadata lines a load leaves behind. Every line has the shape
// name ":" value ";" with an optional "{" description "}" after it; the panels parse
// them that way.

// The longest value a metadata line carries, in characters; a longer one is cut there
// and ends in "…". FreeImage bounds only text tags, and a numeric array of millions of
// entries would otherwise become a line the panels lay out on every paint.
inline constexpr int kMaxInformationValueLength = 1000;

// Appends one line per tag of `model` found in `dib`, in FreeImage's order. Values (and
// descriptions) are cut to kMaxInformationValueLength characters.
void CollectMetadata(FIBITMAP* dib, QStringList& list, FREE_IMAGE_MDMODEL model);

// The information lines of a FreeImage load: format, file size, width, height, bits
// per pixel, and the resolution lines when the file has them. `fileSize` is -1 when
// the file could not be opened.
void AddFreeImageInfo(std::int64_t fileSize, FREE_IMAGE_FORMAT format, FIBITMAP* dib,
                      QStringList& list);

// The EXIF, GPS, XMP and other lines of an Exif block (from "Exif\0\0" on) and an XMP
// packet that came from another format, as a JPEG carrying the same blocks gives them.
// Blocks FreeImage would stumble over are cleaned the way a JPEG's are.
void CollectBlockMetadata(const QByteArray& exif, const QByteArray& xmp, QStringList& exifList,
                          QStringList& xmpList, QStringList& geoTiffList);

// The five information lines of a load that did not go through FreeImage.
// `bitsPerPixel` is the depth the file stores, where the decoder tells it.
void AddBitmapInfo(std::int64_t fileSize, const QString& formatName, const TBitmap32& bitmap,
                   QStringList& list, int bitsPerPixel = 16);

// About three significant digits in the largest unit of 1024 that the size reaches
// ("1.50 KB", "1,024 KB", "500 bytes"); sizes of 0 or less read "0 bytes". The
// separators are the locale's.
[[nodiscard]] QString FormatFileSize(std::int64_t bytes, const QLocale& locale = QLocale());
