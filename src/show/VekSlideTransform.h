#pragma once

#include "show/CustomVekTransformer.h"

// The new picture enters at the output's left edge and moves right to its place
// over the old picture, which stays; once the new picture's left edge is inside
// the output, the strip it leaves behind shows the old picture again.
class TVekSlideTransform : public TCustomVekTransformer {
public:
    TVekSlideTransform();
    void DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                  TBitmap32& output) override;

private:
    // Slide centres by halving each size on its own, which can differ by one pixel
    // from the base step's placement.
    [[nodiscard]] TOffset SlideOffsetOf(const TBitmap32& picture, const TBitmap32& output) const;
};
