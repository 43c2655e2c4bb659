#pragma once

#include "gfx/Bitmap32.h"
#include "gfx/Geometry.h"

class TAffineTransformation;

// The resampler kind for a stored filter kind: 0 nearest, 1 draft, 2 linear,
// 3 Mitchell, 4 cubic; anything else gives nearest. (Lanczos is never stored.)
[[nodiscard]] TResamplerKind MakeResampler(int kind);
// Gives `bitmap` the resampler made for `kind`.
void MakeResampler(int kind, TBitmap32& bitmap);

// Draws the part `srcPart` of `src` onto `dst` through `t` (source pixel
// coordinates to destination coordinates), with src's resampler, draw mode,
// master alpha and combine mode, inside dst's clip rectangle. A destination pixel
// is drawn when its centre lies inside the mapped part.
void DrawTransformedPart(TBitmap32& dst, const TAffineTransformation& t, const TBitmap32& src,
                         const TRect& srcPart);

// Where resampled pixels go: pixel (i, j) of the output area is written to
// Origin[j * RowStride + i * PixelStride]. Negative or crossed strides let one
// pass write a mirrored or quarter-turned result straight into a bitmap.
struct TResampleOutput {
    TColor32* Origin;
    std::ptrdiff_t RowStride;
    std::ptrdiff_t PixelStride = 1;
};

// Resamples `srcRect` of `src` so that it covers the float rectangle `dstRect` of
// an output plane, and writes the output pixels of `area` (non-premultiplied).
// Sampling never reads outside srcRect: edge pixels are repeated.
void ResampleArea(TResamplerKind kind, const TBitmap32& src, const TRect& srcRect,
                  const TFloatRect& dstRect, const TRect& area, const TResampleOutput& out);
