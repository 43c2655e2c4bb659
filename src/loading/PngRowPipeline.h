#pragma once

#include "loading/PngDecoder.h"

#include <QByteArray>

#include <atomic>
#include <cstdint>

class TBitmap32;

enum class TPngPipelineResult : std::uint8_t {
    Decoded,  // the picture is in the target
    NotTaken, // not a file for this path, or anything unusual about it: decode it otherwise
    TooLarge, // no memory for the bitmap
    Stopped   // the stop request arrived while decoding
};

// Decodes the common PNG, 8-bit RGB or RGBA stored row after row without a transparency
// or gamma chunk, on two threads: one reads the file, checks the picture data's CRCs and
// inflates it, the calling thread undoes the row filters and writes the rows into the
// target as BGRA, so that the inflating (most of the work) runs beside the rest. Only a
// file without the least fault is taken: a CRC or zlib error, too much or too little
// data, a file that ends early or any chunk but IEND after the picture's data give
// NotTaken (the target's contents are then undefined), so that libpng's reader decides
// about it. The calling thread gets the rows as they are written (see TPngRowsReady).
[[nodiscard]] TPngPipelineResult DecodePngRowsInTwoThreads(const QByteArray& encodedPath,
                                                           TBitmap32& target,
                                                           const std::atomic<bool>& stop,
                                                           const TPngRowsReady& rowsReady);
