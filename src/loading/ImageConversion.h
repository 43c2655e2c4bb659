#pragma once

#include "gfx/Color32.h"

#include <FreeImage.h>

class TBitmap32;

// Converts a FreeImage bitmap into `target` (resized to the picture; FreeImage's
// bottom-up rows become top-down). 32-bit pictures are copied, other 8-bit-per-channel
// pictures converted, 16-bit-per-channel and floating-point colour pictures tone
// mapped with the Drago operator (gamma and exposure 0 select FreeImage's defaults),
// single-channel high-bit-depth pictures scaled to 8 bits. Marks the target changed.
// Returns false, leaving the target empty, when the picture has no pixels, is above
// the size limit, or FreeImage cannot convert it.
[[nodiscard]] bool ConvertTo32Bits(FIBITMAP* dib, TBitmap32& target, float toneMapGamma,
                                   float toneMapExposure);

// Gives `target` the size w x h for a decoder that writes every pixel: a bitmap of that
// size already is kept as it is (no allocation, no clearing), any other is freed before
// the new one is allocated, so two full-size buffers never live at once.
void PrepareTarget(TBitmap32& target, int width, int height);

// Every pixel := the pixel composited over `background` by its own alpha.
void CombineAlphaOver(TBitmap32& bitmap, TColor32 background);
