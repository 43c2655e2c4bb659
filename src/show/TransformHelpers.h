#pragma once

#include "gfx/Bitmap32.h"

#include <cstdint>

// Arithmetic and sampling shared by the transition effects.

// num / den rounded to the nearest integer, ties to even (den > 0).
[[nodiscard]] constexpr std::int64_t RoundHalfEven(std::int64_t num, std::int64_t den) {
    std::int64_t q = num / den;
    std::int64_t r = num % den;
    if (r < 0) { // make it floor division, 0 <= r < den
        r += den;
        --q;
    }
    if (2 * r > den || (2 * r == den && (q & 1) != 0)) ++q;
    return q;
}

// The samples of `picture` placed at (offX, offY) for the output columns
// [x0, x1) of output row y: the picture's pixel at (x - offX, y - offY) inside its
// clip rectangle, its outer colour elsewhere. Returns a pointer straight into the
// picture when the whole run lies inside, otherwise fills `buffer` (x1 - x0 words).
[[nodiscard]] const TColor32* SampleRow(const TBitmap32& picture, int offX, int offY, int y, int x0,
                                        int x1, TColor32* buffer);

// The same as output.Clear(clBlack32) followed by output.Draw(x, y, picture), but
// a picture drawn opaquely is written once instead of over a cleared frame.
void ClearAndDraw(TBitmap32& output, int x, int y, const TBitmap32& picture);

// One row of ClearAndDraw, for a picture drawn opaquely (DrawMode dmOpaque), so
// that an effect can go on working on the row while it is in the cache. Does not
// notify the output's change handler. Output pixels [skipFrom, skipTo) are left as
// they are when the picture covers them all (the caller writes them itself).
void ClearAndDrawRow(TBitmap32& output, int row, int x, int y, const TBitmap32& picture,
                     int skipFrom = 0, int skipTo = 0);
