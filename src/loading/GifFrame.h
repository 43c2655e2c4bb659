#pragma once

#include "gfx/Bitmap32.h"
#include "gfx/Color32.h"

#include <FreeImage.h>

#include <cstdint>
#include <exception>
#include <optional>

// One page of a GIF as its animation reads it: the animation metadata, and whether
// the page's pixels (kept beside it in a bitmap) were converted to 32 bits.
struct TGifPage {
    int index = -1; // -1: nothing read
    bool present = false;
    std::optional<std::int64_t> frameTime;
    int left = 0;
    int top = 0;
    std::int64_t disposal = 0;
    int frameWidth = 0;
    int frameHeight = 0;
    int logicalWidth = 0;
    int logicalHeight = 0;
    bool converted = false;
    // What the conversion threw; rethrown on the GUI thread where the frame is drawn.
    std::exception_ptr error;
};

// Reads page `index` from `dib` (already locked; null for a page that is not there)
// into `page`, its pixels into `pixels`. Never throws: a failure is kept in `page`.
void ReadGifPage(FIBITMAP* dib, int index, TGifPage& page, TBitmap32& pixels) noexcept;

// Locks page `index` of `handle`, reads it as ReadGifPage does and unlocks it.
void DecodeGifPage(FIMULTIBITMAP* handle, int index, TGifPage& page, TBitmap32& pixels) noexcept;

// The logical screen's background colour named by the first page, if it names one.
[[nodiscard]] std::optional<TColor32> GifBackground(FIBITMAP* firstPage);

// The first frame of a GIF as the loader's worker reads it beside the picture, so the
// multi-page holder composes the animation's start without decoding page 0 again.
struct TGifFirstFrame {
    TGifPage Page;
    TBitmap32 Pixels;
    std::optional<TColor32> Background;
};
