#pragma once

#include "show/CustomVekTransformer.h"

// The new picture is revealed from the top down in horizontal bands with a ragged,
// randomly dripping lower edge: below each column's drop the old picture smears
// down from one band higher.
//
// The smear blends the old picture from one band higher (F) over the old picture
// at the same place (G), both sampled where the old picture is shown. (With
// pictures of different sizes G could also be located with the new picture's
// offset; the old picture's own offset keeps the smear in line with the old
// picture still on screen.)
//
// Needs StepCount >= 3 (with fewer steps only the base step is drawn).
class TVekRainTransform : public TCustomVekTransformer {
public:
    TVekRainTransform();
    void DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                  TBitmap32& output) override;
};
