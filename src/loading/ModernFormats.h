#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>

class TBitmap32;

// The picture formats of today's phones and cameras, read through their maintained
// system libraries: HEIF (HEIC) and AVIF through libheif, JPEG XL through libjxl.
enum class TModernFormat { mfNone, mfHeif, mfAvif, mfJxl };

// The format of a file by its first bytes (32 or more tell it for sure).
[[nodiscard]] TModernFormat DetectModernFormat(const QByteArray& head);

// What a decode tells besides the pixels.
struct TModernPicture {
    // "HEIF image format", "AVIF image format" or "JPEG XL image format".
    QString FormatName;
    // The top-level pictures of the file (a burst is several); thumbnails and depth
    // maps are not among them.
    int PageCount = 1;
    bool HasAlpha = false;
    // The depth the file stores: bits a sample times the samples a pixel.
    int BitsPerPixel = 24;
    // The camera's orientation (1 ... 8, as an Exif tag), still to be applied to the
    // decoded pixels.
    int Orientation = 1;
    // The file's Exif block (from "Exif\0\0" on) and XMP packet, as a JPEG carries them.
    QByteArray Exif, Xmp;
    // The colour profile of the decoded pixels (ICC); empty when they are sRGB or the
    // file tells none. A HEIF picture that gives its colours as code points (an nclx
    // box) gets a profile made from them.
    QByteArray IccProfile;
    // The file's samples are HDR (PQ or HLG); the pixels were tone-mapped to sRGB.
    bool Hdr = false;
};

// How pictures come down to 8-bit BGRA.
struct TModernDecodeOptions {
    // HEIF's own transformations (turns, mirrors, crop) are left unapplied.
    bool AsStored = false;
    // HDR pictures are tone-mapped with these, as the loader's other HDR formats are:
    // the display gamma of the result and the exposure in stops.
    float ToneMapGamma = 2.2f;
    float ToneMapExposure = 0.0f;
};

// Decodes picture `page` of the file held in `data` (read whole) into `target` as
// 8-bit BGRA. The pages are a HEIF file's top-level pictures and an animated JPEG XL
// file's frames. The picture's size is checked against the loader's limits before any
// pixel is decoded. Deeper samples are rounded to 8 bits; HDR ones (PQ or HLG) are
// tone-mapped to sRGB. `stop` is looked at between the decoding steps. Throws
// std::runtime_error with the reason when the file cannot be read, and std::bad_alloc
// when memory runs out.
TModernPicture DecodeModernPicture(TModernFormat format, const QByteArray& data, int page,
                                   const TModernDecodeOptions& options,
                                   const std::atomic<bool>& stop, TBitmap32& target);

// The thumbnail a HEIF or AVIF file keeps beside its primary picture (as it is stored,
// at its own size). False (thumbnail left alone) when the file has none or is no such
// file.
[[nodiscard]] bool ReadHeifThumbnail(const QString& fileName, TBitmap32& thumbnail);
