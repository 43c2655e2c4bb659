#pragma once

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class TBitmap32;

enum class TPngDecodeResult : std::uint8_t {
    Decoded,  // the picture is in the target
    Refused,  // not decoded here (16-bit colour, damaged or unreadable file): ask FreeImage
    TooLarge, // above the loader's size limit, or no memory for the bitmap
    Stopped   // the stop request arrived while decoding
};

// A text chunk (tEXt, zTXt, iTXt) as libpng gives it: its keyword and its text, with
// the length FreeImage's reader gives the text (the larger of the two lengths libpng
// reports).
struct TPngText {
    QByteArray Key;
    QByteArray Text;
    std::uint32_t Length = 0;
};

// The chunks read while the pixels were decoded that describe the picture: every text
// chunk and the modification time, wherever they stood in the file.
struct TPngChunks {
    std::vector<TPngText> Texts;
    std::optional<QByteArray> Time; // "yyyy:MM:dd hh:mm:ss", as FreeImage writes it
};

// Called on the decoding thread while the picture arrives: rows [first, first + count)
// of the target hold their final pixels (a picture stored row after row), or, for an
// interlaced picture (`coarse`), every row holds the picture as far as its passes have
// come, each known pixel standing for the block the later passes fill in.
using TPngRowsReady =
    std::function<void(const TBitmap32& target, int first, int count, bool coarse)>;

// Decodes a PNG file straight into 32-bit pixels with libpng, row by row, with the
// transformations FreeImage's reader asks of libpng (gamma correction to a screen gamma
// of 2.2 when the file has a gAMA chunk, palettes and greys with their transparency
// tables, 16-bit grey reduced to its high byte), so the pixels equal FreeImage's load
// converted to 32 bits. Rows that libpng delivers in FreeImage's 24- or 32-bit layout
// are written in place, interlaced ones included; palette and grey rows go through one
// row of their own (the whole picture's indices for an interlaced one).
// 16-bit colour pictures (which the loader tone maps from FreeImage's 16-bit picture)
// are Refused, as is any file libpng fails on (a damaged chunk, a file that ends
// early), so that FreeImage's reader decides about it as before. The stop request is
// checked between rows; Stopped leaves the target's buffer (contents undefined) for the
// next load to reuse; anything else but Decoded leaves the target empty.
[[nodiscard]] TPngDecodeResult DecodePngPixels(const QByteArray& encodedPath, TBitmap32& target,
                                               const std::atomic<bool>& stop,
                                               TPngChunks* chunks = nullptr,
                                               const TPngRowsReady& rowsReady = {});
