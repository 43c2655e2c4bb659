#include "show/TransformHelpers.h"

#include <algorithm>
#include <cstring>

const TColor32* SampleRow(const TBitmap32& picture, int offX, int offY, int y, int x0, int x1,
                          TColor32* buffer) {
    const int n = x1 - x0;
    if (n <= 0) return buffer;
    const TRect clip = picture.ClipRect();
    const int py = y - offY;
    const int px = x0 - offX;
    if (py < clip.Top || py >= clip.Bottom) {
        std::fill_n(buffer, n, picture.OuterColor);
        return buffer;
    }
    if (px >= clip.Left && px + n <= clip.Right) return picture.ScanLine(py) + px;
    // Outer colour left of the clip, pixels inside, outer colour right of it.
    const int a = std::clamp(clip.Left - px, 0, n);
    const int b = std::clamp(clip.Right - px, a, n);
    std::fill_n(buffer, a, picture.OuterColor);
    if (b > a)
        std::memcpy(buffer + a, picture.ScanLine(py) + px + a,
                    std::size_t(b - a) * sizeof(TColor32));
    std::fill_n(buffer + b, n - b, picture.OuterColor);
    return buffer;
}

void ClearAndDrawRow(TBitmap32& output, int row, int x, int y, const TBitmap32& picture,
                     int skipFrom, int skipTo) {
    TColor32* dst = output.ScanLine(row);
    const int width = output.Width();
    const TRect covered = Intersect(picture.BoundsRect().Offset(x, y), output.ClipRect());
    if (row < covered.Top || row >= covered.Bottom) {
        std::fill_n(dst, width, clBlack32);
        return;
    }
    if (skipFrom >= skipTo || skipFrom < covered.Left || skipTo > covered.Right)
        skipFrom = skipTo = covered.Right;
    const TColor32* source = picture.ScanLine(row - y);
    const auto copy = [&](int from, int to) {
        if (to > from)
            std::memcpy(dst + from, source + (from - x), std::size_t(to - from) * sizeof(TColor32));
    };
    std::fill_n(dst, covered.Left, clBlack32);
    copy(covered.Left, skipFrom);
    copy(skipTo, covered.Right);
    std::fill_n(dst + covered.Right, width - covered.Right, clBlack32);
}

void ClearAndDraw(TBitmap32& output, int x, int y, const TBitmap32& picture) {
    if (picture.DrawMode != TDrawMode::dmOpaque || picture.Empty() || output.Empty()) {
        output.BeginUpdate();
        output.Clear(clBlack32);
        output.Draw(x, y, picture);
        output.EndUpdate();
        return;
    }
    for (int row = 0; row < output.Height(); ++row) ClearAndDrawRow(output, row, x, y, picture);
    output.Changed();
}
