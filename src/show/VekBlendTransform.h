#pragma once

#include "show/CustomVekTransformer.h"

// Cross-fade: each step blends the new picture over the old one with the weight
// step / StepCount, over the union of both pictures centred in the output.
class TVekBlendTransform : public TCustomVekTransformer {
public:
    TVekBlendTransform();
    void DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                  TBitmap32& output) override;
};
