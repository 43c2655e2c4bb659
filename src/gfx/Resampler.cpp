#include "gfx/Resampler.h"

#include "gfx/BlendOps.h"
#include "gfx/SplitWork.h"
#include "gfx/Transform.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <emmintrin.h>
#include <memory>
#include <vector>

TResamplerKind MakeResampler(int kind) {
    switch (kind) {
    case 1:
        return TResamplerKind::Draft;
    case 2:
        return TResamplerKind::Linear;
    case 3:
        return TResamplerKind::Mitchell;
    case 4:
        return TResamplerKind::Cubic;
    default:
        return TResamplerKind::Nearest;
    }
}

void MakeResampler(int kind, TBitmap32& bitmap) {
    bitmap.Resampler = MakeResampler(kind);
}

namespace {

// ---------------------------------------------------------------------------
// Kernels

double LinearKernel(double x) {
    x = std::fabs(x);
    return x < 1.0 ? 1.0 - x : 0.0;
}

// Mitchell-Netravali with B = C = 1/3.
double MitchellKernel(double x) {
    constexpr double B = 1.0 / 3.0, C = 1.0 / 3.0;
    x = std::fabs(x);
    if (x < 1.0)
        return ((12 - 9 * B - 6 * C) * x * x * x + (-18 + 12 * B + 6 * C) * x * x + (6 - 2 * B)) /
               6.0;
    if (x < 2.0)
        return ((-B - 6 * C) * x * x * x + (6 * B + 30 * C) * x * x + (-12 * B - 48 * C) * x +
                (8 * B + 24 * C)) /
               6.0;
    return 0.0;
}

// Catmull-Rom (a = -0.5).
double CubicKernel(double x) {
    constexpr double a = -0.5;
    x = std::fabs(x);
    if (x < 1.0) return ((a + 2) * x - (a + 3)) * x * x + 1;
    if (x < 2.0) return ((a * x - 5 * a) * x + 8 * a) * x - 4 * a;
    return 0.0;
}

double Sinc(double x) {
    if (x == 0.0) return 1.0;
    x *= M_PI;
    return std::sin(x) / x;
}

double LanczosKernel(double x) {
    x = std::fabs(x);
    return x < 3.0 ? Sinc(x) * Sinc(x / 3.0) : 0.0;
}

struct TKernel {
    double (*Function)(double);
    double Radius;
};

TKernel KernelFor(TResamplerKind kind) {
    switch (kind) {
    case TResamplerKind::Mitchell:
        return {MitchellKernel, 2.0};
    case TResamplerKind::Cubic:
        return {CubicKernel, 2.0};
    case TResamplerKind::Lanczos:
        return {LanczosKernel, 3.0};
    default:
        return {LinearKernel, 1.0};
    }
}

// ---------------------------------------------------------------------------
// Weight tables: for each output index, the first source index, the number of
// taps and the weights in 2.14 fixed point summing to exactly 1.0, so that a flat
// colour stays exactly flat.

constexpr int kWeightBits = 14;
constexpr int kWeightOne = 1 << kWeightBits;

struct TContrib {
    int First;
    int Count;
};

struct TWeightTable {
    std::vector<TContrib> Contribs;
    std::vector<std::int16_t> Weights; // Stride entries per output index
    int Stride = 0;
};

// Output index p (p = outFirst ...) has its centre at p + 0.5 in output space; the
// source interval [srcFirst, srcLimit) covers output [dstLeft, dstLeft + scale *
// (srcLimit - srcFirst)).
TWeightTable BuildWeights(const TKernel& kernel, int srcFirst, int srcLimit, double dstLeft,
                          double scale, int outFirst, int outCount) {
    TWeightTable table;
    const double filterScale = std::max(1.0, 1.0 / scale);
    const double support = kernel.Radius * filterScale;
    table.Stride = static_cast<int>(std::ceil(support)) * 2 + 2;
    table.Contribs.resize(std::size_t(outCount));
    table.Weights.assign(std::size_t(outCount) * table.Stride, 0);
    std::vector<double> w(std::size_t(table.Stride));
    for (int i = 0; i < outCount; ++i) {
        const double centre = srcFirst + (outFirst + i + 0.5 - dstLeft) / scale;
        int first = ClampToInt(std::floor(centre - support + 0.5));
        int last = ClampToInt(std::floor(centre + support + 0.5)); // exclusive
        first = std::clamp(first, srcFirst, srcLimit - 1);
        last = std::clamp(last, first + 1, srcLimit);
        if (last - first > table.Stride) last = first + table.Stride;
        double sum = 0;
        int count = last - first;
        for (int k = 0; k < count; ++k) {
            w[k] = kernel.Function((first + k + 0.5 - centre) / filterScale);
            sum += w[k];
        }
        // Trim taps of zero weight at both ends.
        int lo = 0, hi = count;
        while (lo < hi - 1 && w[lo] == 0.0) ++lo;
        while (hi > lo + 1 && w[hi - 1] == 0.0) --hi;
        if (sum == 0.0) {
            // The centre lies outside the source: repeat the nearest edge pixel.
            const int nearest = std::clamp(ClampToInt(std::floor(centre)), srcFirst, srcLimit - 1);
            table.Contribs[i] = {nearest, 1};
            table.Weights[std::size_t(i) * table.Stride] = kWeightOne;
            continue;
        }
        std::int16_t* out = &table.Weights[std::size_t(i) * table.Stride];
        int total = 0, biggest = lo;
        for (int k = lo; k < hi; ++k) {
            const int v = static_cast<int>(std::lround(w[k] / sum * kWeightOne));
            out[k - lo] = static_cast<std::int16_t>(v);
            total += v;
            if (w[k] > w[biggest]) biggest = k;
        }
        out[biggest - lo] = static_cast<std::int16_t>(out[biggest - lo] + (kWeightOne - total));
        table.Contribs[i] = {first + lo, hi - lo};
    }
    return table;
}

// ---------------------------------------------------------------------------
// The two passes (SSE2, integer). Pixels are premultiplied (or opaque) while
// they are filtered.

inline __m128i PackPixel(__m128i acc) {
    acc = _mm_srai_epi32(acc, kWeightBits);
    acc = _mm_packs_epi32(acc, acc);
    return _mm_packus_epi16(acc, acc);
}

// One source row -> one row of `table.Contribs.size()` output pixels.
void HorizontalPass(const TColor32* src, const TWeightTable& table, TColor32* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i rounding = _mm_set1_epi32(1 << (kWeightBits - 1));
    const int n = static_cast<int>(table.Contribs.size());
    for (int i = 0; i < n; ++i) {
        const TContrib c = table.Contribs[i];
        const std::int16_t* w = &table.Weights[std::size_t(i) * table.Stride];
        const TColor32* p = src + c.First;
        __m128i acc = rounding;
        int k = 0;
        for (; k + 2 <= c.Count; k += 2) {
            // b0 g0 r0 a0 b1 g1 r1 a1 -> 16-bit lanes b0 b1 g0 g1 r0 r1 a0 a1
            const __m128i two = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + k));
            const __m128i pairs =
                _mm_unpacklo_epi8(_mm_unpacklo_epi8(two, _mm_srli_si128(two, 4)), zero);
            const __m128i weights =
                _mm_set1_epi32(int(std::uint16_t(w[k])) | (int(w[k + 1]) << 16));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(pairs, weights));
        }
        if (k < c.Count) {
            const __m128i one =
                _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(p[k])), zero), zero);
            acc = _mm_add_epi32(acc, _mm_madd_epi16(one, _mm_set1_epi32(int(std::uint16_t(w[k])))));
        }
        out[i] = TColor32(_mm_cvtsi128_si32(PackPixel(acc)));
    }
}

// Rows `rows[0 .. count)` weighted by w -> one output row of n pixels.
void VerticalPass(const TColor32* const* rows, const std::int16_t* w, int count, int n,
                  TColor32* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i rounding = _mm_set1_epi32(1 << (kWeightBits - 1));
    int x = 0;
    for (; x + 4 <= n; x += 4) {
        __m128i acc0 = rounding, acc1 = rounding, acc2 = rounding, acc3 = rounding;
        int k = 0;
        for (; k + 2 <= count; k += 2) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + x));
            const __m128i weights =
                _mm_set1_epi32(int(std::uint16_t(w[k])) | (int(w[k + 1]) << 16));
            const __m128i lo = _mm_unpacklo_epi8(a, b); // pixels 0,1 interleaved by row
            const __m128i hi = _mm_unpackhi_epi8(a, b); // pixels 2,3
            acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), weights));
            acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), weights));
            acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), weights));
            acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), weights));
        }
        if (k < count) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + x));
            const __m128i weights = _mm_set1_epi32(int(std::uint16_t(w[k])));
            const __m128i lo = _mm_unpacklo_epi8(a, zero); // pixels 0,1 as 16-bit
            const __m128i hi = _mm_unpackhi_epi8(a, zero);
            acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi16(lo, zero), weights));
            acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi16(lo, zero), weights));
            acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi16(hi, zero), weights));
            acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi16(hi, zero), weights));
        }
        acc0 = _mm_srai_epi32(acc0, kWeightBits);
        acc1 = _mm_srai_epi32(acc1, kWeightBits);
        acc2 = _mm_srai_epi32(acc2, kWeightBits);
        acc3 = _mm_srai_epi32(acc3, kWeightBits);
        const __m128i packed =
            _mm_packus_epi16(_mm_packs_epi32(acc0, acc1), _mm_packs_epi32(acc2, acc3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), packed);
    }
    for (; x < n; ++x) {
        __m128i acc = rounding;
        for (int k = 0; k < count; ++k) {
            const __m128i px = _mm_unpacklo_epi16(
                _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(rows[k][x])), zero), zero);
            acc = _mm_add_epi32(acc, _mm_madd_epi16(px, _mm_set1_epi32(int(std::uint16_t(w[k])))));
        }
        out[x] = TColor32(_mm_cvtsi128_si32(PackPixel(acc)));
    }
}

// Runs body(first, last) over [0, count) on this thread and, when the work is
// large enough to pay for a thread, on a second one.
template <typename Body>
void SplitRows(int count, double work, const Body& body) {
    constexpr double kMinWorkForThread = 150000;
    SplitWork(count, count >= 16 && work >= kMinWorkForThread, body);
}

// Writes n pixels as output row r.
inline void StoreRow(const TResampleOutput& out, int r, const TColor32* px, int n) {
    TColor32* dst = out.Origin + out.RowStride * r;
    if (out.PixelStride == 1) {
        if (dst != px) std::memcpy(dst, px, std::size_t(n) * sizeof(TColor32));
        return;
    }
    for (int i = 0; i < n; ++i) dst[out.PixelStride * i] = px[i];
}

// Rows of a turned output written together (see StoreTurnedBlock).
constexpr int kTurnBlock = 32;

// Writes `count` output rows r0 ... held one after another in `lines`, for an
// output whose rows run across the destination's rows: pixel x of all of them
// lands in one destination row, side by side.
void StoreTurnedBlock(const TResampleOutput& out, int r0, int count, const TColor32* lines,
                      int width) {
    for (int x = 0; x < width; ++x) {
        TColor32* p = out.Origin + out.PixelStride * x + out.RowStride * r0;
        for (int b = 0; b < count; ++b) p[out.RowStride * b] = lines[std::size_t(b) * width + x];
    }
}

void ResampleKernel(TResamplerKind kind, const TBitmap32& src, const TRect& s, const TFloatRect& d,
                    const TRect& area, const TResampleOutput& out) {
    const TKernel kernel = KernelFor(kind);
    const double scaleX = d.Width() / s.Width();
    const double scaleY = d.Height() / s.Height();
    const TWeightTable cols =
        BuildWeights(kernel, s.Left, s.Right, d.Left, scaleX, area.Left, area.Width());
    const TWeightTable rows =
        BuildWeights(kernel, s.Top, s.Bottom, d.Top, scaleY, area.Top, area.Height());
    const bool translucent = !src.IsOpaque();
    const int width = area.Width();

    const double work = double(width) * area.Height() * (cols.Stride + rows.Stride);
    SplitRows(area.Height(), work, [&](int firstRow, int lastRow) {
        // Horizontally filtered source rows live in a small ring, one slot per tap,
        // so the band streams through the cache instead of filling a full-height
        // intermediate picture. A window's rows are consecutive, so they never share
        // a slot; a row evicted early is simply filtered again.
        const int ringSize = rows.Stride;
        std::unique_ptr<TColor32[]> ring =
            std::make_unique_for_overwrite<TColor32[]>(std::size_t(width) * ringSize);
        std::vector<int> slotRow(std::size_t(ringSize), -1);
        std::vector<TColor32> premultiplied(translucent ? std::size_t(src.Width()) : 0);
        std::vector<const TColor32*> taps(static_cast<std::size_t>(ringSize));
        // Rows are filtered in place when the output is contiguous, else in line
        // buffers. A turned output (rows run across the destination) is written a
        // block of rows at a time, so each destination row receives a short run of
        // neighbouring pixels instead of one scattered pixel per filtered row.
        const bool turned = out.PixelStride != 1 && out.PixelStride != -1;
        const int block = turned ? kTurnBlock : 1;
        std::vector<TColor32> lines(out.PixelStride == 1 ? 0 : std::size_t(width) * block);
        for (int r0 = firstRow; r0 < lastRow; r0 += block) {
            const int count = std::min(block, lastRow - r0);
            for (int b = 0; b < count; ++b) {
                const int r = r0 + b;
                const TContrib c = rows.Contribs[r];
                for (int k = 0; k < c.Count; ++k) {
                    const int y = c.First + k;
                    const int slot = y % ringSize;
                    TColor32* filtered = ring.get() + std::size_t(slot) * width;
                    if (slotRow[slot] != y) {
                        const TColor32* row = src.ScanLine(y);
                        if (translucent) {
                            PremultiplyRow(premultiplied.data() + s.Left, row + s.Left,
                                           std::size_t(s.Width()));
                            row = premultiplied.data();
                        }
                        HorizontalPass(row, cols, filtered);
                        slotRow[slot] = y;
                    }
                    taps[k] = filtered;
                }
                TColor32* dst = out.PixelStride == 1 ? out.Origin + out.RowStride * r
                                                     : lines.data() + std::size_t(b) * width;
                VerticalPass(taps.data(), &rows.Weights[std::size_t(r) * rows.Stride], c.Count,
                             width, dst);
                if (translucent) UnpremultiplyRow(dst, dst, std::size_t(width));
                if (!turned) StoreRow(out, r, dst, width);
            }
            if (turned) StoreTurnedBlock(out, r0, count, lines.data(), width);
        }
    });
}

// Source index of output index p (centre p + 0.5) under nearest sampling.
std::vector<int> NearestIndices(int srcFirst, int srcLimit, double dstLeft, double scale,
                                int outFirst, int outCount) {
    std::vector<int> idx(std::size_t(std::max(outCount, 0)));
    for (int i = 0; i < outCount; ++i) {
        const double u = srcFirst + (outFirst + i + 0.5 - dstLeft) / scale;
        idx[i] = std::clamp(ClampToInt(std::floor(u)), srcFirst, srcLimit - 1);
    }
    return idx;
}

void ResampleNearest(const TBitmap32& src, const TRect& s, const TFloatRect& d, const TRect& area,
                     const TResampleOutput& out) {
    const std::vector<int> xs =
        NearestIndices(s.Left, s.Right, d.Left, d.Width() / s.Width(), area.Left, area.Width());
    const std::vector<int> ys =
        NearestIndices(s.Top, s.Bottom, d.Top, d.Height() / s.Height(), area.Top, area.Height());
    const int width = area.Width();
    SplitRows(area.Height(), double(width) * area.Height(), [&](int first, int last) {
        for (int r = first; r < last; ++r) {
            const TColor32* row = src.ScanLine(ys[r]);
            TColor32* dst = out.Origin + out.RowStride * r;
            for (int i = 0; i < width; ++i) dst[out.PixelStride * i] = row[xs[i]];
        }
    });
}

// Qt's smooth scaling, which averages boxes of pixels and is fast; only used when
// most of the scaled picture is wanted, since it always scales all of it.
bool ResampleDraft(const TBitmap32& src, const TRect& s, const TFloatRect& d, const TRect& area,
                   const TResampleOutput& out) {
    const double fw = std::max(1.0, std::round(d.Right) - std::round(d.Left));
    const double fh = std::max(1.0, std::round(d.Bottom) - std::round(d.Top));
    if (fw * fh > 2.0 * double(area.Width()) * area.Height() + 4096) return false;
    const int x0 = ClampToInt(std::round(d.Left)), y0 = ClampToInt(std::round(d.Top));
    const int w = static_cast<int>(fw), h = static_cast<int>(fh);
    const bool opaque = src.IsOpaque();
    const QImage view(reinterpret_cast<const uchar*>(src.ScanLine(s.Top) + s.Left), s.Width(),
                      s.Height(), qsizetype(src.Width()) * 4,
                      opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    QImage scaled = opaque ? view.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                           : view.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                 .scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (scaled.isNull() || scaled.width() != w || scaled.height() != h) return false;
    if (scaled.format() != QImage::Format_RGB32 &&
        scaled.format() != QImage::Format_ARGB32_Premultiplied)
        scaled = scaled.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    std::vector<int> xs(std::size_t(area.Width()));
    for (int i = 0; i < area.Width(); ++i) xs[i] = std::clamp(area.Left + i - x0, 0, w - 1);
    const bool sequential = area.Left >= x0 && area.Right - x0 <= w;
    const QImage& result = scaled;
    SplitRows(area.Height(), double(area.Width()) * area.Height(), [&](int first, int last) {
        std::vector<TColor32> line(std::size_t(area.Width()));
        for (int r = first; r < last; ++r) {
            const int sy = std::clamp(area.Top + r - y0, 0, h - 1);
            const auto* row = reinterpret_cast<const TColor32*>(result.constScanLine(sy));
            if (opaque && sequential) {
                StoreRow(out, r, row + xs[0], area.Width());
                continue;
            }
            for (int i = 0; i < area.Width(); ++i) line[i] = row[xs[i]];
            if (!opaque) UnpremultiplyRow(line.data(), line.data(), line.size());
            StoreRow(out, r, line.data(), area.Width());
        }
    });
    return true;
}

// ---------------------------------------------------------------------------
// Mapping of a destination axis onto a source axis for axis-aligned transforms.

struct TAxisMap {
    bool FromSourceX; // fed by the source's x axis (else its y axis)
    bool Mirrored;    // the source axis runs against the destination axis
    double Scale;     // > 0
    double Offset;    // output = Scale * source + Offset, in the (mirrored) output plane
};

TAxisMap MapAxis(bool fromX, double m, double t) {
    if (m < 0) return {fromX, true, -m, -t};
    return {fromX, false, m, t};
}

// Output-plane index of destination pixel p on a possibly mirrored axis.
inline int PlaneIndex(const TAxisMap& m, int p) {
    return m.Mirrored ? -p - 1 : p;
}

// Pixels whose centre lies in [lo, hi).
inline void CentreSpan(double lo, double hi, int& first, int& last) {
    first = ClampToInt(std::ceil(lo - 0.5));
    last = ClampToInt(std::ceil(hi - 0.5));
}

void DrawGeneral(TBitmap32& dst, const TAffineTransformation& t, const TBitmap32& src,
                 const TRect& s) {
    const TRect bounds = OutsideRect(t.TransformRect(ToFloatRect(s)));
    const TRect area = Intersect(bounds, dst.ClipRect());
    if (area.IsEmpty()) return;
    const double det = t.A * t.E - t.B * t.D;
    if (det == 0 || !std::isfinite(det)) return;
    // Inverse map, destination -> source.
    const double ia = t.E / det, ib = -t.B / det, id = -t.D / det, ie = t.A / det;
    for (int y = area.Top; y < area.Bottom; ++y) {
        TColor32* row = dst.ScanLine(y);
        for (int x = area.Left; x < area.Right; ++x) {
            const double dx = x + 0.5 - t.C, dy = y + 0.5 - t.F;
            const double u = ia * dx + ib * dy, v = id * dx + ie * dy;
            if (!(u >= s.Left && u < s.Right && v >= s.Top && v < s.Bottom)) continue;
            const TColor32 c = src.Pixel(static_cast<int>(u), static_cast<int>(v));
            ComposeRow(row + x, &c, 1, src.DrawMode, src.CombineMode, src.MasterAlpha);
        }
    }
}

} // namespace

void ResampleArea(TResamplerKind kind, const TBitmap32& src, const TRect& srcRect,
                  const TFloatRect& dstRect, const TRect& area, const TResampleOutput& out) {
    if (area.IsEmpty() || srcRect.IsEmpty() || dstRect.IsEmpty()) return;
    switch (kind) {
    case TResamplerKind::Nearest:
        ResampleNearest(src, srcRect, dstRect, area, out);
        return;
    case TResamplerKind::Draft:
        if (ResampleDraft(src, srcRect, dstRect, area, out)) return;
        kind = TResamplerKind::Linear; // most of the picture is off-screen: filter just the part
        break;
    default:
        break;
    }
    ResampleKernel(kind, src, srcRect, dstRect, area, out);
}

void DrawTransformedPart(TBitmap32& dst, const TAffineTransformation& t, const TBitmap32& src,
                         const TRect& srcPart) {
    const TRect s = Intersect(srcPart, src.BoundsRect());
    if (s.IsEmpty() || dst.Empty()) return;
    for (double v : {t.A, t.B, t.C, t.D, t.E, t.F})
        if (!std::isfinite(v)) return;
    if (!t.IsAxisAligned()) {
        DrawGeneral(dst, t, src, s);
        dst.Changed();
        return;
    }
    const bool turned = t.A == 0; // destination x is fed by source y
    const TAxisMap mx = turned ? MapAxis(false, t.B, t.C) : MapAxis(true, t.A, t.C);
    const TAxisMap my = turned ? MapAxis(true, t.D, t.F) : MapAxis(false, t.E, t.F);

    // Destination pixels whose centres lie inside the mapped part, within the clip.
    const TFloatRect mapped = t.TransformRect(ToFloatRect(s));
    TRect area;
    CentreSpan(mapped.Left, mapped.Right, area.Left, area.Right);
    CentreSpan(mapped.Top, mapped.Bottom, area.Top, area.Bottom);
    area = Intersect(area, dst.ClipRect());
    if (area.IsEmpty()) return;

    // The output plane is the source's own orientation: columns along source x.
    const TAxisMap& colMap = turned ? my : mx;
    const TAxisMap& rowMap = turned ? mx : my;
    auto planeSpan = [](const TAxisMap& m, int first, int last, int& lo, int& hi) {
        lo = m.Mirrored ? -last : first;
        hi = m.Mirrored ? -first : last;
    };
    TRect plane;
    if (turned) {
        planeSpan(colMap, area.Top, area.Bottom, plane.Left, plane.Right);
        planeSpan(rowMap, area.Left, area.Right, plane.Top, plane.Bottom);
    } else {
        planeSpan(colMap, area.Left, area.Right, plane.Left, plane.Right);
        planeSpan(rowMap, area.Top, area.Bottom, plane.Top, plane.Bottom);
    }
    const TFloatRect planeRect{
        colMap.Scale * s.Left + colMap.Offset, rowMap.Scale * s.Top + rowMap.Offset,
        colMap.Scale * s.Right + colMap.Offset, rowMap.Scale * s.Bottom + rowMap.Offset};

    // Drawing an opaque result is a plain copy whatever the draw mode, so it is
    // written straight into the destination, turned and mirrored by the strides.
    const bool copies =
        src.DrawMode == TDrawMode::dmOpaque || (src.MasterAlpha == 255 && src.IsOpaque());
    if (copies && &src != &dst) {
        const std::ptrdiff_t w = dst.Width();
        const int colFirst = PlaneIndex(colMap, plane.Left); // destination index of plane column 0
        const int rowFirst = PlaneIndex(rowMap, plane.Top);  // ... and of plane row 0
        const std::ptrdiff_t colStep = colMap.Mirrored ? -1 : 1;
        const std::ptrdiff_t rowStep = rowMap.Mirrored ? -1 : 1;
        TResampleOutput out;
        if (!turned) {
            out = {dst.ScanLine(rowFirst) + colFirst, rowStep * w, colStep};
        } else {
            out = {dst.ScanLine(colFirst) + rowFirst, rowStep, colStep * w};
        }
        ResampleArea(src.Resampler, src, s, planeRect, plane, out);
        dst.Changed();
        return;
    }

    const std::unique_ptr<TColor32[]> temp =
        std::make_unique_for_overwrite<TColor32[]>(std::size_t(plane.Width()) * plane.Height());
    ResampleArea(src.Resampler, src, s, planeRect, plane, {temp.get(), plane.Width()});
    const int pw = plane.Width();
    const int width = area.Width();
    constexpr int kBlock = 8; // destination rows turned together
    SplitRows(area.Height() / kBlock + 1, double(width) * area.Height(), [&](int b0, int b1) {
        std::vector<TColor32> lines(std::size_t(width) * kBlock);
        for (int y0 = area.Top + b0 * kBlock; y0 < std::min(area.Top + b1 * kBlock, area.Bottom);
             y0 += kBlock) {
            const int rows = std::min(kBlock, area.Bottom - y0);
            const TColor32* from[kBlock];
            for (int k = 0; k < rows; ++k) from[k] = lines.data() + std::size_t(k) * width;
            if (!turned) {
                for (int k = 0; k < rows; ++k) {
                    const TColor32* planeRow =
                        temp.get() + std::size_t(PlaneIndex(my, y0 + k) - plane.Top) * pw;
                    if (!mx.Mirrored) {
                        from[k] = planeRow + (area.Left - plane.Left);
                        continue;
                    }
                    TColor32* line = lines.data() + std::size_t(k) * width;
                    for (int x = 0; x < width; ++x)
                        line[x] = planeRow[PlaneIndex(mx, area.Left + x) - plane.Left];
                }
            } else {
                // Destination rows are plane columns: walk the plane row by row and
                // hand each row's few neighbouring pixels to the block's rows.
                int columns[kBlock];
                for (int k = 0; k < rows; ++k) columns[k] = PlaneIndex(my, y0 + k) - plane.Left;
                for (int x = 0; x < width; ++x) {
                    const TColor32* planeRow =
                        temp.get() + std::size_t(PlaneIndex(mx, area.Left + x) - plane.Top) * pw;
                    for (int k = 0; k < rows; ++k)
                        lines[std::size_t(k) * width + x] = planeRow[columns[k]];
                }
            }
            for (int k = 0; k < rows; ++k)
                ComposeRow(dst.ScanLine(y0 + k) + area.Left, from[k], width, src.DrawMode,
                           src.CombineMode, src.MasterAlpha);
        }
    });
    dst.Changed();
}
