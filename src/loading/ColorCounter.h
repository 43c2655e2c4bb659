#pragma once

#include "gfx/Color32.h"
#include "gfx/Geometry.h"

#include <cstdint>
#include <vector>

class TBitmap32;

// Finds the most frequent colour among pixels, counting colours whose red, green and
// blue differ by less than 15 in sum as one (alpha is ignored). Entries are kept in
// ascending order of their raw value; an entry keeps the colour that created it.
class TColorCounter {
public:
    void AddColor(TColor32 colour);
    // The colour of the entry with the highest count (the earlier entry on a tie);
    // 0 when nothing was counted.
    [[nodiscard]] TColor32 MostFrequent() const;

    struct TEntry {
        TColor32 Color;
        std::uint32_t Count;
    };
    [[nodiscard]] const std::vector<TEntry>& Entries() const { return m_entries; }

private:
    std::vector<TEntry> m_entries;
};

// The dominant colour of the edge of `picture` as it will be fitted into `target`:
// the edges that border empty space count (top and bottom rows, and the left and
// right columns when the fitted picture is narrower than the target).
[[nodiscard]] TColor32 DominantEdgeColor(const TBitmap32& picture, const TRect& fitted,
                                         const TRect& target);
