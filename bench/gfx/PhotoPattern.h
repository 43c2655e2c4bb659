#pragma once

#include "gfx/Bitmap32.h"

#include <cmath>

// A photo-like picture for the benchmarks: smooth gradients with some fine detail.
inline void FillPhotoPattern(TBitmap32& b, int w, int h) {
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y) {
        TColor32* row = b.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            const int r = (x * 255 / w + ((x ^ y) & 15)) & 0xFF;
            const int g = (y * 255 / h + ((x * 7 + y * 3) & 31)) & 0xFF;
            const int bl = int(128 + 100 * std::sin(x * 0.01) * std::cos(y * 0.013)) & 0xFF;
            row[x] = Color32(r, g, bl);
        }
    }
}
