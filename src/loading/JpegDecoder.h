#pragma once

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <functional>

class TBitmap32;

enum class TJpegDecodeResult : std::uint8_t {
    Decoded,  // the picture is in the target
    Refused,  // not decoded here (CMYK, unreadable header, decoder error): ask FreeImage
    TooLarge, // above the loader's size limit
    Stopped   // the stop request arrived while decoding
};

// Decodes a JPEG file straight into 32-bit pixels with libjpeg-turbo's BGRA output,
// using the same decoder settings as FreeImage's default load (fast integer DCT,
// plain upsampling), so the pixels equal FreeImage's load converted to 32 bits. A file
// that ends early (a half-copied photo) gives what arrived, the rest filled as libjpeg
// fills missing data, as FreeImage shows it. The
// stop request is checked every few rows and while a progressive file is read, so an
// abandoned load ends early. Stopped leaves the target's buffer (contents undefined) for
// the next load to reuse; anything else but Decoded leaves the target empty.
// With an orientation code (2..8, see gfx/Orientation.h) the rows are turned upright on
// their way into the target, a few at a time, so no second full-size buffer is needed
// and the target has the turned size; other codes write the picture as stored.
// A `scaleDenom` of 2, 4 or 8 decodes the picture at that fraction of its size (each
// side rounded up), much faster than the whole; anything else decodes it whole.
// `rowWork`, when given, runs on every decoded row before it is turned (a colour
// conversion): on rows [first, last) of `rows`, the target itself, followed on a second
// thread while the decoder goes on, or for a turned picture the strip of rows about to
// be put into it. Every row has been through it when Decoded is returned; nothing runs
// on the target once DecodeJpegPixels has returned.
using TJpegRowWork = std::function<void(TBitmap32& rows, int first, int last)>;
[[nodiscard]] TJpegDecodeResult DecodeJpegPixels(const QByteArray& encodedPath, TBitmap32& target,
                                                 const std::atomic<bool>& stop, int orientation = 1,
                                                 int scaleDenom = 1,
                                                 const TJpegRowWork& rowWork = {});
