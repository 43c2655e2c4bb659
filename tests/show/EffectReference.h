#pragma once

// Plain per-pixel versions of the transition effects, written straight from their
// definitions (sample, set, one diagonal or column at a time), against which the
// optimised effects are compared pixel for pixel.

#include "gfx/Bitmap32.h"

#include <cstdint>

enum class TRefEffect : std::uint8_t { None, Blend, Slide, Diagonal, Rain, Wind };

struct TRefState {
    int StepCount = 26;
    bool Centered = true;
    int Speed = 0; // Wind
};

void RefDrawStep(TRefEffect effect, TRefState& state, TBitmap32& oldPicture, TBitmap32& newPicture,
                 int step, TBitmap32& output);

// A picture of w x h pixels from a seed: varied colours, and varied alpha unless opaque.
TBitmap32 MakePicture(int w, int h, unsigned seed, bool opaque = false);
