#pragma once

#include "loading/FreeImagePtr.h"

#include <QByteArray>
#include <QList>

#include <cstdint>

// FreeImage's JPEG reader trusts the metadata it parses, on every load and even on a
// header-only one. Its Exif reader follows directory sizes and offsets out of their
// segment (a first directory claiming 65535 entries, or a thumbnail offset that wraps
// around, makes it read far outside and die), and it decodes every embedded thumbnail
// at whatever size the thumbnail's own frame header announces (a few bytes ask for
// gigabytes). So before FreeImage sees a JPEG, its marker segments are walked the way
// the decoder finds them and every Exif block the way FreeImage walks it. A sound file
// goes to FreeImage as it is; otherwise FreeImage reads an in-memory copy with only the
// offending metadata taken out: a bad directory entry, a bad thumbnail, or the whole
// segment when its structure is broken. The pixels are not touched.

// Embedded thumbnails larger than this are not decoded; a real one fits into one
// 64 KiB segment.
inline constexpr int kMaxJpegThumbnailSide = 2048;

// FreeImage's header-only load (FIF_LOAD_NOPIXELS) of a JPEG file, metadata included.
// Null when the file cannot be read, breaks off before its first scan or has more
// than 4 MiB of headers, as well as when FreeImage fails.
[[nodiscard]] TFreeImagePtr LoadJpegHeaderGuarded(const QByteArray& encodedPath);

// The same for a JPEG stream in memory, read up to its first scan's header.
[[nodiscard]] TFreeImagePtr LoadJpegHeadersGuarded(QByteArray headers);

// FreeImage's full load of a JPEG file (`flags` as for FreeImage_Load). A full decode
// reads the segments between the scans too, so the whole file is checked.
[[nodiscard]] TFreeImagePtr LoadJpegGuarded(const QByteArray& encodedPath, int flags = 0);

enum class TJpegVerdict : std::uint8_t {
    NoScan,  // the stream ends or breaks off before its first scan
    Sound,   // FreeImage may read the stream as it is
    Cleaned, // metadata FreeImage would stumble over was taken out of the copy
};

struct TJpegCheck {
    TJpegVerdict Verdict = TJpegVerdict::NoScan;
    qsizetype HeaderEnd = 0; // past the first scan's header
    // More scans follow the first: FreeImage then reads the whole stream even for its
    // header, the segments between the scans included.
    bool MultiScan = false;
    QByteArray Clean; // when Cleaned: the stream without the offending metadata
};

// Checks the metadata of a JPEG stream the way FreeImage reads them. `whole`: every
// segment up to the end of the picture counts; otherwise the check, and a clean copy,
// end with the first scan's header.
[[nodiscard]] TJpegCheck CheckJpegStream(const QByteArray& stream, bool whole);

// ---- Embedded thumbnails ----

struct TJpegSpan {
    qsizetype Offset = 0;
    qsizetype Size = 0;
};

// The start of a JPEG file up to its first scan's header, at most 4 MiB, less when the
// file ends or its headers break off before. False when it is no regular file or
// cannot be opened.
[[nodiscard]] bool ReadJpegHeaders(const QByteArray& encodedPath, QByteArray& headers);

// The thumbnails FreeImage finds in the headers p[0, n) (JFIF extension segments and
// the second directory of Exif blocks), in file order, whatever their size.
[[nodiscard]] QList<TJpegSpan> FindJpegThumbnails(const uchar* p, qsizetype n);

// The thumbnail stream p[0, n) without its metadata, so that a decoder reads nothing
// of it but the picture. Empty when its frame header announces more than a thumbnail
// or the stream does not reach its first scan.
[[nodiscard]] QByteArray StripJpegThumbnail(const uchar* p, qsizetype n);
