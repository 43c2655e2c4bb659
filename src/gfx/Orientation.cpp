#include "gfx/Orientation.h"

#include "gfx/Bitmap32.h"
#include "gfx/SplitWork.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace {

// Side of the square blocks a transposition works in: a block's source and target
// lines (2 x 32 lines of 32 pixels) stay in the first-level cache, so the column-wise
// reads cost no more than the row-wise writes.
constexpr int kBlock = 32;

// Below this many pixels a second thread costs more than it saves.
constexpr std::size_t kThreadFrom = std::size_t(1) << 20;

void MirrorLeftRight(TColor32* bits, int width, int height) {
    for (int y = 0; y < height; ++y) {
        TColor32* row = bits + std::size_t(y) * width;
        std::reverse(row, row + width);
    }
}

void MirrorTopBottom(TColor32* bits, int width, int height) {
    for (int y = 0; y < height / 2; ++y) {
        TColor32* top = bits + std::size_t(y) * width;
        std::swap_ranges(top, top + width, bits + std::size_t(height - 1 - y) * width);
    }
}

// The whole picture read backwards is the picture turned by half a turn.
void HalfTurn(TColor32* bits, int width, int height) {
    std::reverse(bits, bits + std::size_t(width) * height);
}

// Mirrors a square picture along its main diagonal in place, block by block.
void TransposeSquare(TColor32* bits, int side) {
    const std::size_t n = std::size_t(side);
    for (int i0 = 0; i0 < side; i0 += kBlock) {
        const int i1 = std::min(i0 + kBlock, side);
        for (int j0 = i0; j0 < side; j0 += kBlock) {
            const int j1 = std::min(j0 + kBlock, side);
            for (int i = i0; i < i1; ++i)
                for (int j = std::max(j0, i + 1); j < j1; ++j)
                    std::swap(bits[std::size_t(i) * n + j], bits[std::size_t(j) * n + i]);
        }
    }
}

// Rows [first, last) of the turned picture (height x width of the source turned into
// width rows of height pixels). Row r of the result is the source's column r (5, 6) or
// column width - 1 - r (7, 8), read from the top (5, 8) or from the bottom (6, 7).
void TransposeRows(const TColor32* src, int width, int height, int orientation, TColor32* dst,
                   int first, int last) {
    const bool fromRight = orientation == 7 || orientation == 8;
    const bool fromBottom = orientation == 6 || orientation == 7;
    const std::size_t stride = std::size_t(width);
    for (int r0 = first; r0 < last; r0 += kBlock) {
        const int r1 = std::min(r0 + kBlock, last);
        for (int c0 = 0; c0 < height; c0 += kBlock) {
            const int c1 = std::min(c0 + kBlock, height);
            for (int r = r0; r < r1; ++r) {
                const std::size_t x = std::size_t(fromRight ? width - 1 - r : r);
                TColor32* out = dst + std::size_t(r) * height;
                if (fromBottom)
                    for (int c = c0; c < c1; ++c)
                        out[c] = src[std::size_t(height - 1 - c) * stride + x];
                else
                    for (int c = c0; c < c1; ++c) out[c] = src[std::size_t(c) * stride + x];
            }
        }
    }
}

} // namespace

void ApplyExifOrientation(TBitmap32& bitmap, int orientation) {
    if (!IsExifOrientation(orientation) || orientation == kExifOrientationNone || bitmap.Empty())
        return;
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    if (!ExifOrientationSwapsSides(orientation) || width == height) {
        TColor32* bits = bitmap.Bits();
        switch (orientation) {
        case 2:
            MirrorLeftRight(bits, width, height);
            break;
        case 3:
            HalfTurn(bits, width, height);
            break;
        case 4:
            MirrorTopBottom(bits, width, height);
            break;
        default: // a square picture: along the diagonal, then mirrored as the code wants
            TransposeSquare(bits, width);
            if (orientation == 6)
                MirrorLeftRight(bits, width, height);
            else if (orientation == 7)
                HalfTurn(bits, width, height);
            else if (orientation == 8)
                MirrorTopBottom(bits, width, height);
            break;
        }
        bitmap.Changed();
        return;
    }
    TBitmap32 turned(height, width);
    const TColor32* src = std::as_const(bitmap).Bits();
    TColor32* dst = turned.Bits();
    SplitWork(width, std::size_t(width) * height >= kThreadFrom, [&](int first, int last) {
        TransposeRows(src, width, height, orientation, dst, first, last);
    });
    bitmap.SwapPixels(turned);
}

void PutOrientedRows(const TColor32* rows, int first, int count, int width, int height,
                     int orientation, TBitmap32& target) {
    if (!IsExifOrientation(orientation)) orientation = kExifOrientationNone;
    const bool swaps = ExifOrientationSwapsSides(orientation);
    if (rows == nullptr || width <= 0 || height <= 0 || count <= 0 || first < 0 ||
        first > height - count || target.Width() != (swaps ? height : width) ||
        target.Height() != (swaps ? width : height))
        return;
    TColor32* const dst = target.Bits();
    const std::size_t w = std::size_t(width);
    if (!swaps) {
        const bool reversed = orientation == 2 || orientation == 3;
        const bool fromBottom = orientation == 3 || orientation == 4;
        for (int i = 0; i < count; ++i) {
            const TColor32* src = rows + std::size_t(i) * w;
            const int y = first + i;
            TColor32* out = dst + std::size_t(fromBottom ? height - 1 - y : y) * w;
            if (reversed)
                std::reverse_copy(src, src + w, out);
            else
                std::memcpy(out, src, w * sizeof(TColor32));
        }
        return;
    }
    // Stored row y becomes the turned picture's column y (5, 8) or height - 1 - y (6, 7);
    // stored column x its row x (5, 6) or width - 1 - x (7, 8). Column by column, the
    // rows given land side by side in each turned row.
    const bool fromRight = orientation == 7 || orientation == 8;
    const bool fromBottom = orientation == 6 || orientation == 7;
    const std::size_t turnedWidth = std::size_t(height);
    for (int x = 0; x < width; ++x) {
        TColor32* out = dst + std::size_t(fromRight ? width - 1 - x : x) * turnedWidth;
        if (fromBottom) {
            TColor32* column = out + (height - 1 - first);
            for (int i = 0; i < count; ++i) column[-i] = rows[std::size_t(i) * w + x];
        } else {
            TColor32* column = out + first;
            for (int i = 0; i < count; ++i) column[i] = rows[std::size_t(i) * w + x];
        }
    }
}
