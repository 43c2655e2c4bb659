#include "gfx/BlendOps.h"

#include <array>
#include <emmintrin.h>

namespace {

// (F*w + B*(256-w) + 128) >> 8 per channel.
inline TColor32 WeighChannels(TColor32 f, TColor32 b, int w) {
    TColor32 result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int fc = int((f >> shift) & 0xFF);
        const int bc = int((b >> shift) & 0xFF);
        result |= TColor32((fc * w + bc * (256 - w) + 128) >> 8) << shift;
    }
    return result;
}

// The same on four pixels at once; w holds each pixel's weight in all four of its
// 16-bit channel lanes (two vectors: pixels 0-1 and 2-3).
inline __m128i WeighChannels4(__m128i f, __m128i b, __m128i wLo, __m128i wHi) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i c256 = _mm_set1_epi16(256);
    const __m128i c128 = _mm_set1_epi16(128);
    __m128i fl = _mm_unpacklo_epi8(f, zero), fh = _mm_unpackhi_epi8(f, zero);
    __m128i bl = _mm_unpacklo_epi8(b, zero), bh = _mm_unpackhi_epi8(b, zero);
    __m128i lo =
        _mm_add_epi16(_mm_mullo_epi16(fl, wLo), _mm_mullo_epi16(bl, _mm_sub_epi16(c256, wLo)));
    __m128i hi =
        _mm_add_epi16(_mm_mullo_epi16(fh, wHi), _mm_mullo_epi16(bh, _mm_sub_epi16(c256, wHi)));
    lo = _mm_srli_epi16(_mm_add_epi16(lo, c128), 8);
    hi = _mm_srli_epi16(_mm_add_epi16(hi, c128), 8);
    return _mm_packus_epi16(lo, hi);
}

// Spreads the alpha byte of each of four pixels over the 16-bit lanes of its channels.
inline void AlphaLanes(__m128i px, __m128i& lo, __m128i& hi) {
    __m128i a = _mm_srli_epi32(px, 24);                 // 0 0 0 a per pixel (32-bit lanes)
    a = _mm_or_si128(a, _mm_slli_epi32(a, 16));         // a in both 16-bit halves
    lo = _mm_shuffle_epi32(a, _MM_SHUFFLE(1, 1, 0, 0)); // pixels 0,1
    hi = _mm_shuffle_epi32(a, _MM_SHUFFLE(3, 3, 2, 2)); // pixels 2,3
}

} // namespace

TColor32 BlendEx(TColor32 f, TColor32 b, int m) {
    const int w = ((m + 1) * AlphaOf(f)) >> 8;
    if (w == 0) return b;
    return WeighChannels(f, b, w);
}

TColor32 BlendOver(TColor32 f, TColor32 b) {
    return WeighChannels(f, b, AlphaOf(f));
}

TColor32 BlendDraw(TColor32 f, TColor32 b, int m) {
    const int a = m == 255 ? AlphaOf(f) : Div255(AlphaOf(f) * m);
    if (a == 0) return b;
    if (a == 255) return f | 0xFF000000u;
    TColor32 result = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int fc = int((f >> shift) & 0xFF);
        const int bc = int((b >> shift) & 0xFF);
        result |= TColor32(Div255(fc * a + bc * (255 - a))) << shift;
    }
    const int ba = AlphaOf(b);
    return result | (TColor32(ba + Div255((255 - ba) * a)) << 24);
}

TColor32 MergeOver(TColor32 f, TColor32 b, int m) {
    const int fa = m == 255 ? AlphaOf(f) : Div255(AlphaOf(f) * m);
    if (fa == 0) return b;
    const int ba = AlphaOf(b);
    if (fa == 255 || ba == 0) return WithAlpha(f, fa);
    if (ba == 255) return BlendDraw(WithAlpha(f, fa), b);
    // Coverage of the background that shows through, scaled to 0..255*255.
    const int bw = ba * (255 - fa);
    const int outA255 = fa * 255 + bw; // result alpha * 255
    TColor32 result = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int fc = int((f >> shift) & 0xFF);
        const int bc = int((b >> shift) & 0xFF);
        const int c = (fc * fa * 255 + bc * bw + outA255 / 2) / outA255;
        result |= TColor32(c) << shift;
    }
    return result | (TColor32(Div255(outA255)) << 24);
}

void BlendExRow(TColor32* dst, const TColor32* fg, const TColor32* bg, std::size_t n, int m) {
    std::size_t i = 0;
    const __m128i mp1 = _mm_set1_epi16(static_cast<short>(m + 1));
    for (; i + 4 <= n; i += 4) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fg + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bg + i));
        __m128i aLo, aHi;
        AlphaLanes(f, aLo, aHi);
        // (M+1)*alpha <= 256*255 fits an unsigned 16-bit lane.
        const __m128i wLo = _mm_srli_epi16(_mm_mullo_epi16(aLo, mp1), 8);
        const __m128i wHi = _mm_srli_epi16(_mm_mullo_epi16(aHi, mp1), 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), WeighChannels4(f, b, wLo, wHi));
    }
    for (; i < n; ++i) dst[i] = BlendEx(fg[i], bg[i], m);
}

void BlendOverRow(TColor32* dst, const TColor32* fg, const TColor32* bg, std::size_t n) {
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fg + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bg + i));
        __m128i aLo, aHi;
        AlphaLanes(f, aLo, aHi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), WeighChannels4(f, b, aLo, aHi));
    }
    for (; i < n; ++i) dst[i] = BlendOver(fg[i], bg[i]);
}

void BlendDrawRow(TColor32* dst, const TColor32* fg, std::size_t n, int m) {
    for (std::size_t i = 0; i < n; ++i) {
        const TColor32 f = fg[i];
        const int a = f >> 24;
        if (a == 255 && m == 255)
            dst[i] = f;
        else if (a != 0)
            dst[i] = BlendDraw(f, dst[i], m);
    }
}

void MergeOverRow(TColor32* dst, const TColor32* fg, std::size_t n, int m) {
    for (std::size_t i = 0; i < n; ++i) {
        const TColor32 f = fg[i];
        const int a = f >> 24;
        if (a == 255 && m == 255)
            dst[i] = f;
        else if (a != 0)
            dst[i] = MergeOver(f, dst[i], m);
    }
}

void BlendDrawFill(TColor32* dst, TColor32 colour, std::size_t n) {
    const int a = AlphaOf(colour);
    if (a == 0) return;
    if (a == 255) {
        for (std::size_t i = 0; i < n; ++i) dst[i] = colour;
        return;
    }
    for (std::size_t i = 0; i < n; ++i) dst[i] = BlendDraw(colour, dst[i]);
}

void MergeOverFill(TColor32* dst, TColor32 colour, std::size_t n) {
    if (AlphaOf(colour) == 0) return;
    for (std::size_t i = 0; i < n; ++i) dst[i] = MergeOver(colour, dst[i]);
}

namespace {

// 255 * 65536 / a, so that c * 255 / a == (c * table[a] + 32768) >> 16 for c <= a.
const std::array<std::uint32_t, 256>& UnpremultiplyTable() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (int a = 1; a < 256; ++a) t[a] = std::uint32_t((255u * 65536u + a / 2) / unsigned(a));
        return t;
    }();
    return table;
}

} // namespace

void PremultiplyRow(TColor32* dst, const TColor32* src, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const TColor32 c = src[i];
        const int a = int(c >> 24);
        if (a == 255) {
            dst[i] = c;
        } else if (a == 0) {
            dst[i] = 0;
        } else {
            dst[i] = (TColor32(a) << 24) | (TColor32(Div255(RedOf(c) * a)) << 16) |
                     (TColor32(Div255(GreenOf(c) * a)) << 8) | TColor32(Div255(BlueOf(c) * a));
        }
    }
}

void UnpremultiplyRow(TColor32* dst, const TColor32* src, std::size_t n) {
    const auto& table = UnpremultiplyTable();
    for (std::size_t i = 0; i < n; ++i) {
        const TColor32 c = src[i];
        const int a = int(c >> 24);
        if (a == 255) {
            dst[i] = c;
        } else if (a == 0) {
            dst[i] = 0;
        } else {
            const std::uint32_t k = table[a];
            auto un = [&](int v) {
                if (v > a) v = a; // ringing of a sharp kernel can push colour above coverage
                return TColor32((std::uint32_t(v) * k + 32768u) >> 16);
            };
            dst[i] =
                (TColor32(a) << 24) | (un(RedOf(c)) << 16) | (un(GreenOf(c)) << 8) | un(BlueOf(c));
        }
    }
}
