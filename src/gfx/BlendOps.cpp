#include "gfx/BlendOps.h"

#include <array>
#include <immintrin.h>

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

// Div255 on eight 16-bit lanes; exact for lanes up to 255 * 255.
inline __m128i Div255Lanes(__m128i x) {
    const __m128i t = _mm_add_epi16(x, _mm_set1_epi16(128));
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
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

namespace {

__attribute__((target("avx2"))) inline __m256i Div255Lanes256(__m256i x) {
    const __m256i t = _mm256_add_epi16(x, _mm256_set1_epi16(128));
    return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

// BlendDrawRow eight pixels at a time, for processors with AVX2; returns how many
// pixels it did (a multiple of eight). Lane for lane the same arithmetic as below.
__attribute__((target("avx2"))) std::size_t BlendDrawRowAvx2(TColor32* dst, const TColor32* fg,
                                                             std::size_t n, int m) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i c255 = _mm256_set1_epi16(255);
    const __m256i master = _mm256_set1_epi16(static_cast<short>(m));
    const __m256i alphaMask = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(fg + i));
        const __m256i fa = _mm256_and_si256(f, alphaMask);
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(fa, zero)) == -1) continue;
        if (m == 255 && _mm256_movemask_epi8(_mm256_cmpeq_epi32(fa, alphaMask)) == -1) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), f);
            continue;
        }
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
        __m256i a = _mm256_srli_epi32(f, 24);
        a = _mm256_or_si256(a, _mm256_slli_epi32(a, 16));
        __m256i aLo = _mm256_shuffle_epi32(a, _MM_SHUFFLE(1, 1, 0, 0));
        __m256i aHi = _mm256_shuffle_epi32(a, _MM_SHUFFLE(3, 3, 2, 2));
        if (m != 255) {
            aLo = Div255Lanes256(_mm256_mullo_epi16(aLo, master));
            aHi = Div255Lanes256(_mm256_mullo_epi16(aHi, master));
        }
        const __m256i fOpaque = _mm256_or_si256(f, alphaMask);
        const __m256i fl = _mm256_unpacklo_epi8(fOpaque, zero);
        const __m256i fh = _mm256_unpackhi_epi8(fOpaque, zero);
        const __m256i bl = _mm256_unpacklo_epi8(b, zero), bh = _mm256_unpackhi_epi8(b, zero);
        const __m256i lo = Div255Lanes256(_mm256_add_epi16(
            _mm256_mullo_epi16(fl, aLo), _mm256_mullo_epi16(bl, _mm256_sub_epi16(c255, aLo))));
        const __m256i hi = Div255Lanes256(_mm256_add_epi16(
            _mm256_mullo_epi16(fh, aHi), _mm256_mullo_epi16(bh, _mm256_sub_epi16(c255, aHi))));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_packus_epi16(lo, hi));
    }
    return i;
}

const bool g_avx2 = __builtin_cpu_supports("avx2");

} // namespace

void BlendDrawRow(TColor32* dst, const TColor32* fg, std::size_t n, int m) {
    if (g_avx2 && n >= 8) {
        const std::size_t done = BlendDrawRowAvx2(dst, fg, n, m);
        dst += done, fg += done, n -= done;
    }
    // Four pixels at a time. The result's alpha, ba + (255 - ba) * a / 255, is the colour
    // formula with a foreground channel of 255, so all four channels take one formula.
    const __m128i zero = _mm_setzero_si128();
    const __m128i c255 = _mm_set1_epi16(255);
    const __m128i master = _mm_set1_epi16(static_cast<short>(m));
    const __m128i alphaMask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i f = _mm_loadu_si128(reinterpret_cast<const __m128i*>(fg + i));
        const __m128i fa = _mm_and_si128(f, alphaMask);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(fa, zero)) == 0xFFFF) continue;
        if (m == 255 && _mm_movemask_epi8(_mm_cmpeq_epi32(fa, alphaMask)) == 0xFFFF) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), f);
            continue;
        }
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
        __m128i aLo, aHi;
        AlphaLanes(f, aLo, aHi);
        if (m != 255) {
            aLo = Div255Lanes(_mm_mullo_epi16(aLo, master));
            aHi = Div255Lanes(_mm_mullo_epi16(aHi, master));
        }
        const __m128i fOpaque = _mm_or_si128(f, alphaMask);
        const __m128i fl = _mm_unpacklo_epi8(fOpaque, zero), fh = _mm_unpackhi_epi8(fOpaque, zero);
        const __m128i bl = _mm_unpacklo_epi8(b, zero), bh = _mm_unpackhi_epi8(b, zero);
        const __m128i lo = Div255Lanes(
            _mm_add_epi16(_mm_mullo_epi16(fl, aLo), _mm_mullo_epi16(bl, _mm_sub_epi16(c255, aLo))));
        const __m128i hi = Div255Lanes(
            _mm_add_epi16(_mm_mullo_epi16(fh, aHi), _mm_mullo_epi16(bh, _mm_sub_epi16(c255, aHi))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packus_epi16(lo, hi));
    }
    for (; i < n; ++i) {
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
