#pragma once

#include "gfx/Color32.h"
#include "gfx/Geometry.h"

class TBitmap32;

// Turns `bitmap` by `angle` degrees, a multiple of 90, taken modulo 360 (negative
// angles count clockwise: -90 is 270): 90 is a quarter turn counter-clockwise on
// screen, 180 a half turn, 270 a quarter turn clockwise. Pixels only; the bitmap's
// other properties stay.
void TurnQuarter(TBitmap32& bitmap, int angle);
// The same into `target`; with angle 0 the source is copied.
void TurnQuarter(const TBitmap32& source, TBitmap32& target, int angle);

// Fills the part of `rect` inside the bitmap's clip rectangle with a checkerboard of
// cellWidth x cellHeight cells, anchored at the bitmap's origin (not at rect): the
// cell at the origin is dark, its right and lower neighbours light.
void CheckerFill(TBitmap32& bitmap, const TRect& rect, int cellWidth, TColor32 light, TColor32 dark,
                 int cellHeight);
