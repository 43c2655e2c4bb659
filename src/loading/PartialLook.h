#pragma once

#include "gfx/Bitmap32.h"

// A reduced copy of a picture that is still arriving, to show it before all of it is
// there. The picture is reduced by a whole factor (each side rounded up, each reduced
// pixel the average of the `factor` pixels across the middle of the block it stands
// for), so that little of what arrives is read: rows that arrive in order are reduced
// band by band as each band of `factor` rows is complete; a picture that arrives as ever finer
// passes is reduced whole when a look is wanted. What has not arrived stays transparent, so the
// view's background shows there.
class TPartialLook {
public:
    // For a `width` x `height` picture; factors below 1 count as 1.
    TPartialLook(int width, int height, int factor);

    // Rows [first, first + count) of `picture` hold their final pixels; rows arrive in
    // order. Reduces every band completed by them (the last, shorter band with the
    // picture's last row).
    void TakeRows(const TBitmap32& picture, int first, int count);
    // The whole picture holds a coarse version of itself: reduces all of it.
    void TakeWhole(const TBitmap32& picture);

    // The reduced picture so far.
    [[nodiscard]] TBitmap32& Picture() { return m_picture; }
    // Rows of the original picture taken so far (all of them after TakeWhole).
    [[nodiscard]] int RowsTaken() const { return m_rowsTaken; }

private:
    void ReduceBand(const TBitmap32& picture, int band);

    int m_width, m_height, m_factor;
    int m_rowsTaken = 0;
    TBitmap32 m_picture;
};
