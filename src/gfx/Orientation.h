#pragma once

#include "gfx/Color32.h"

class TBitmap32;

// The orientation codes a camera records (the Orientation tag of EXIF and TIFF): how
// the stored rows must be turned and mirrored so that the picture stands upright.
//   1 as stored              2 mirrored left to right
//   3 half turn              4 mirrored top to bottom
//   5 mirrored along the main diagonal (transposed)
//   6 a quarter turn clockwise
//   7 mirrored along the other diagonal
//   8 a quarter turn counter-clockwise
// Codes 5 to 8 exchange width and height.
inline constexpr int kExifOrientationNone = 1;

[[nodiscard]] constexpr bool IsExifOrientation(int orientation) {
    return orientation >= 1 && orientation <= 8;
}

[[nodiscard]] constexpr bool ExifOrientationSwapsSides(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// Turns and mirrors `bitmap` as `orientation` says, so that a picture stored with
// that code comes out upright. Codes outside 1..8 leave it as it is. Codes 2 to 4, and
// every code on a square picture, work in place; 5 to 8 on other pictures build the
// turned picture in a new buffer and take it over (std::bad_alloc leaves the bitmap as
// it was). Pixels only: the bitmap's other properties stay; the clip rectangle stays
// too, or becomes the new bounds when the sides are exchanged. Notifies once when
// anything changed.
void ApplyExifOrientation(TBitmap32& bitmap, int orientation);

// Puts `count` consecutive stored rows of a width x height picture, starting with stored
// row `first` (rows `width` pixels apart in `rows`), where `orientation` sends them in
// `target`, which has the turned picture's size already. A decoder that hands every
// stored row over this way leaves the upright picture in `target` without a second
// full-size buffer. Codes outside 1..8 put the rows as they are; nothing is written when
// the target's size or the rows do not fit. Does not notify.
void PutOrientedRows(const TColor32* rows, int first, int count, int width, int height,
                     int orientation, TBitmap32& target);
