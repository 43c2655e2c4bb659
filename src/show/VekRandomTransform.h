#pragma once

#include "show/CustomVekTransformer.h"

#include <memory>

// Runs a freshly chosen effect for every transition: Blend, Slide, Diagonal roll or
// Rain. A chosen effect with fewer steps finishes early and then keeps showing
// the new picture until this effect's own last step.
class TVekRandomTransform : public TCustomVekTransformer {
public:
    TVekRandomTransform();
    ~TVekRandomTransform() override;

    // Replaces Current with a new effect chosen by Random(4).
    void PickRandomEffect();
    // Called at step 0: every transition gets a newly chosen effect.
    void Prepare(TBitmap32& oldPicture, TBitmap32& newPicture, TBitmap32& output) override;
    void DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                  TBitmap32& output) override;

    // The effect of the running transition (never null).
    std::unique_ptr<TCustomVekTransformer> Current;
};
