#pragma once

#include "gfx/Bitmap32.h"
#include "gfx/Color32.h"
#include "gfx/Geometry.h"
#include "gfx/Transform.h"

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

// A picture as drawn through a transformation: its pixels over `Area` (destination
// coordinates), unblended, so that putting them onto a background needs no resampling.
struct TDrawnPicture {
    TBitmap32 Bitmap;
    TAffineTransformation Transform;
    TRect Area;
};

// Draws `picture` through `t` with its resampler into `out`, covering the part of the
// transformed picture inside `bounds` (an empty result when nothing of it lies there).
// The pixels are the picture's own, whatever its draw mode (set aside meanwhile).
void DrawPicture(TBitmap32& picture, const TAffineTransformation& t, const TRect& bounds,
                 TDrawnPicture& out);
