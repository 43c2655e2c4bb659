#pragma once

#include "show/CustomVekTransformer.h"

// "Diagonal roll": a soft-edged diagonal front sweeps from the top-left to the
// bottom-right corner of both pictures' union; behind it the new picture shows.
// The front is a band of diagonals whose weight falls from the new picture at its
// upper-left edge to the old one at its lower-right edge.
//
// Needs StepCount >= 3 (with fewer steps only the base step is drawn).
class TVekStripeShowTransform : public TCustomVekTransformer {
public:
    TVekStripeShowTransform();
    void DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                  TBitmap32& output) override;
};
