#pragma once

#include "gfx/Color32.h"

#include <cstddef>

// Pixel blending. Every operation works on all four channels of non-premultiplied
// ARGB words.
//
// BlendEx and BlendOver weigh the foreground by w/256:
//     channel = B + (F - B) * w / 256, rounded to nearest (halves round up),
// computed as (F*w + B*(256 - w) + 128) >> 8, which is the same value and never
// leaves 16 bits, so rows of pixels can be blended eight channels at a time.

// Foreground F over background B with master weight M (0..255):
// w = ((M + 1) * alpha(F)) div 256; w = 0 leaves B.
[[nodiscard]] TColor32 BlendEx(TColor32 f, TColor32 b, int m);

// Foreground F over background B weighted by F's own alpha.
[[nodiscard]] TColor32 BlendOver(TColor32 f, TColor32 b);

// Drawing blend ("blend" combine mode): F weighted by alpha(F) * M / 255 over B,
// with /255 so that an opaque foreground replaces the background exactly. The
// alpha channel becomes the union of both coverages.
[[nodiscard]] TColor32 BlendDraw(TColor32 f, TColor32 b, int m = 255);

// Porter-Duff "over" for non-premultiplied pixels ("merge" combine mode): the
// standard compositing of a translucent foreground over a possibly translucent
// background. Over an opaque background it equals BlendDraw.
[[nodiscard]] TColor32 MergeOver(TColor32 f, TColor32 b, int m = 255);

// Row forms (dst may equal bg).
void BlendExRow(TColor32* dst, const TColor32* fg, const TColor32* bg, std::size_t n, int m);
void BlendOverRow(TColor32* dst, const TColor32* fg, const TColor32* bg, std::size_t n);
void BlendDrawRow(TColor32* dst, const TColor32* fg, std::size_t n, int m);
void MergeOverRow(TColor32* dst, const TColor32* fg, std::size_t n, int m);
// One colour over a run of pixels.
void BlendDrawFill(TColor32* dst, TColor32 colour, std::size_t n);
void MergeOverFill(TColor32* dst, TColor32 colour, std::size_t n);

// x / 255 rounded to nearest, exact for 0 <= x <= 255 * 255 + 127.
[[nodiscard]] constexpr int Div255(int x) {
    return (x + 128 + ((x + 128) >> 8)) >> 8;
}

// Premultiplied <-> straight alpha for a run of pixels (in place allowed).
void PremultiplyRow(TColor32* dst, const TColor32* src, std::size_t n);
void UnpremultiplyRow(TColor32* dst, const TColor32* src, std::size_t n);
