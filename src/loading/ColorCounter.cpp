#include "loading/ColorCounter.h"

#include "gfx/Bitmap32.h"

#include <cstdlib>

namespace {

bool Similar(TColor32 a, TColor32 b) {
    return std::abs(RedOf(a) - RedOf(b)) + std::abs(GreenOf(a) - GreenOf(b)) +
               std::abs(BlueOf(a) - BlueOf(b)) <
           15;
}

} // namespace

void TColorCounter::AddColor(TColor32 colour) {
    auto it = m_entries.begin();
    for (; it != m_entries.end(); ++it) {
        if (Similar(it->Color, colour)) {
            ++it->Count;
            return;
        }
        if (it->Color > colour) break;
    }
    m_entries.insert(it, TEntry{colour, 1});
}

TColor32 TColorCounter::MostFrequent() const {
    const TEntry* best = nullptr;
    for (const TEntry& e : m_entries)
        if (best == nullptr || e.Count > best->Count) best = &e;
    return best ? best->Color : 0;
}

TColor32 DominantEdgeColor(const TBitmap32& picture, const TRect& fitted, const TRect& target) {
    TColorCounter counter;
    const int w = picture.Width();
    const int h = picture.Height();
    if (w > 0 && h > 0) {
        const bool narrower = fitted.Width() < target.Width();
        const bool lower = fitted.Height() < target.Height();
        if (!narrower || lower) {
            for (int x = 0; x < w; ++x) {
                counter.AddColor(picture.Pixel(x, 0));
                counter.AddColor(picture.Pixel(x, h - 1));
            }
        }
        if (narrower) {
            for (int y = 0; y < h; ++y) {
                counter.AddColor(picture.Pixel(0, y));
                counter.AddColor(picture.Pixel(w - 1, y));
            }
        }
    }
    return counter.MostFrequent();
}
