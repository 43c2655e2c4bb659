#pragma once

#include "show/CustomVekTransformer.h"

// The old picture is blown off to the right with constant acceleration, each pixel
// with a little random extra, uncovering the new picture. Not offered in the effect
// pickers.
class TVekWindTransform : public TCustomVekTransformer {
public:
    TVekWindTransform();
    // Sets Speed so that after StepCount - 2 steps the old picture has travelled
    // about its own width plus its offset, out of the output.
    void Prepare(TBitmap32& oldPicture, TBitmap32& newPicture, TBitmap32& output) override;
    void DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                  TBitmap32& output) override;

    int Speed = 0; // pixels per step squared, times two
};
