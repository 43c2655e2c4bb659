#include "loading/ImageConversion.h"

#include "gfx/Bitmap32.h"
#include "gfx/BlendOps.h"
#include "loading/FreeImagePtr.h"
#include "loading/ImageLimits.h"

#include <cstring>
#include <new>

namespace {

bool CopyRows32(FIBITMAP* dib, TBitmap32& target) {
    const unsigned w = FreeImage_GetWidth(dib);
    const unsigned h = FreeImage_GetHeight(dib);
    if (!WithinImageLimit(w, h)) return false;
    PrepareTarget(target, int(w), int(h));
    for (unsigned y = 0; y < h; ++y)
        std::memcpy(target.ScanLine(int(h - 1 - y)), FreeImage_GetScanLine(dib, int(y)),
                    std::size_t(w) * sizeof(TColor32));
    return true;
}

// 24-bit rows straight into the target, without FreeImage's second full-size copy.
bool CopyRows24(FIBITMAP* dib, TBitmap32& target) {
    const unsigned w = FreeImage_GetWidth(dib);
    const unsigned h = FreeImage_GetHeight(dib);
    if (!WithinImageLimit(w, h)) return false;
    PrepareTarget(target, int(w), int(h));
    for (unsigned y = 0; y < h; ++y) {
        const BYTE* src = FreeImage_GetScanLine(dib, int(y));
        TColor32* dst = target.ScanLine(int(h - 1 - y));
        for (unsigned x = 0; x < w; ++x, src += 3)
            dst[x] = 0xFF000000u | (TColor32(src[FI_RGBA_RED]) << 16) |
                     (TColor32(src[FI_RGBA_GREEN]) << 8) | TColor32(src[FI_RGBA_BLUE]);
    }
    return true;
}

bool CopyConverted(TFreeImagePtr converted, TBitmap32& target) {
    if (!converted || FreeImage_GetBPP(converted.get()) != 32 ||
        FreeImage_GetImageType(converted.get()) != FIT_BITMAP)
        return false;
    return CopyRows32(converted.get(), target);
}

bool Convert(FIBITMAP* dib, TBitmap32& target, float gamma, float exposure) {
    if (dib == nullptr || !FreeImage_HasPixels(dib)) return false;
    if (!WithinImageLimit(FreeImage_GetWidth(dib), FreeImage_GetHeight(dib))) return false;
    const unsigned bpp = FreeImage_GetBPP(dib);
    switch (FreeImage_GetImageType(dib)) {
    case FIT_BITMAP:
        if (bpp == 32) return CopyRows32(dib, target);
        if (bpp == 24 && FreeImage_GetColorType(dib) == FIC_RGB) return CopyRows24(dib, target);
        return CopyConverted(TFreeImagePtr(FreeImage_ConvertTo32Bits(dib)), target);
    case FIT_RGB16:
    case FIT_RGBA16:
    case FIT_RGBF:
    case FIT_RGBAF: {
        const TFreeImagePtr mapped(FreeImage_ToneMapping(dib, FITMO_DRAGO03, gamma, exposure));
        if (!mapped) return false;
        return CopyConverted(TFreeImagePtr(FreeImage_ConvertTo32Bits(mapped.get())), target);
    }
    case FIT_UINT16: {
        // The high byte of each sample, as for 16-bit colour channels.
        const TFreeImagePtr grey(FreeImage_ConvertTo8Bits(dib));
        if (!grey) return false;
        return CopyConverted(TFreeImagePtr(FreeImage_ConvertTo32Bits(grey.get())), target);
    }
    default: {
        // Other single-channel samples (signed, 32-bit, floating point, complex): a
        // 32-bit "copy" would show their bytes as colours, so stretch them to 8 bits.
        const TFreeImagePtr grey(FreeImage_ConvertToStandardType(dib, TRUE));
        if (!grey) return false;
        return CopyConverted(TFreeImagePtr(FreeImage_ConvertTo32Bits(grey.get())), target);
    }
    }
}

} // namespace

bool ConvertTo32Bits(FIBITMAP* dib, TBitmap32& target, float toneMapGamma, float toneMapExposure) {
    bool converted = false;
    try {
        converted = Convert(dib, target, toneMapGamma, toneMapExposure);
    } catch (const std::bad_alloc&) {
        converted = false;
    }
    if (!converted) {
        target.SetSize(0, 0);
        return false;
    }
    target.Changed();
    return true;
}

void PrepareTarget(TBitmap32& target, int width, int height) {
    if (target.Width() == width && target.Height() == height) return;
    target.SetSize(0, 0);
    target.SetSize(width, height);
}

void CombineAlphaOver(TBitmap32& bitmap, TColor32 background) {
    const int w = bitmap.Width();
    for (int y = 0; y < bitmap.Height(); ++y) {
        TColor32* row = bitmap.ScanLine(y);
        for (int x = 0; x < w; ++x)
            if (AlphaOf(row[x]) != 255) row[x] = MergeOver(row[x], background);
    }
    bitmap.Changed();
}
