#include "show/VekWindTransform.h"

#include "app/VekRandom.h"
#include "show/TransformHelpers.h"

#include <algorithm>
#include <emmintrin.h>
#include <vector>

namespace {

// Moving a row of the old picture: pixel j goes to x0 + j + shift[extra[j]], left to
// right, each overwriting what an earlier one left. So output pixel x shows the
// rightmost j that lands there: the candidate j = x - x0 - shift with the smallest
// shift whose number chose it; a pixel no candidate reaches keeps what it had.
// Worked out per output pixel, four pixels at a time, this gives the same pixels
// as placing them one by one, without that loop's dependent stores.
struct TRowMove {
    TColor32* Row;
    const TColor32* Source;
    const int* Extra;
    int Width, X0;
    const int* Shift;

    // Output pixels [from, to): one masked pass per distinct shift, the largest first,
    // so that the smallest writes last and wins. Handles candidates outside the row
    // and numbers that share a shift.
    void Passes(int from, int to) const {
        int order[3] = {0, 1, 2};
        std::sort(order, order + 3, [&](int a, int b) { return Shift[a] > Shift[b]; });
        for (int k = 0; k < 3;) {
            const int distance = Shift[order[k]];
            int numbers[3], count = 0;
            for (; k < 3 && Shift[order[k]] == distance; ++k) numbers[count++] = order[k];
            const int a = std::max(from, X0 + distance);
            const int n = std::min(to, X0 + distance + Width) - a;
            if (n <= 0) continue;
            TColor32* dst = Row + a;
            const int* r = Extra + (a - X0 - distance);
            const TColor32* moved = Source + (a - X0 - distance);
            const __m128i n0 = _mm_set1_epi32(numbers[0]);
            const __m128i n1 = _mm_set1_epi32(numbers[count > 1 ? 1 : 0]);
            const __m128i n2 = _mm_set1_epi32(numbers[count > 2 ? 2 : 0]);
            int i = 0;
            for (; i + 4 <= n; i += 4) {
                const __m128i v = Load(r + i);
                const __m128i mask =
                    _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi32(v, n0), _mm_cmpeq_epi32(v, n1)),
                                 _mm_cmpeq_epi32(v, n2));
                Store(dst + i, Select(mask, Load(moved + i), Load(dst + i)));
            }
            for (; i < n; ++i)
                if (r[i] == numbers[0] || (count > 1 && r[i] == numbers[1]) ||
                    (count > 2 && r[i] == numbers[2]))
                    dst[i] = moved[i];
        }
    }

    // Output pixels [from, to), where all three candidates lie inside the row and the
    // shifts differ: one pass choosing among the three. With `base` (the pixels under
    // the row from `from` on) a pixel no candidate reaches gets the base's pixel, so
    // the row need not have been drawn there first.
    void Single(int from, int to, const int order[3], const TColor32* base) const {
        const int n = to - from;
        const int* r[3];
        const TColor32* moved[3];
        __m128i number[3];
        for (int k = 0; k < 3; ++k) {
            const int j = from - X0 - Shift[order[k]];
            r[k] = Extra + j;
            moved[k] = Source + j;
            number[k] = _mm_set1_epi32(order[k]);
        }
        TColor32* dst = Row + from;
        const TColor32* under = base ? base : dst;
        int i = 0;
        for (; i + 4 <= n; i += 4) {
            __m128i result = Load(under + i);
            for (int k = 2; k >= 0; --k) // order[0] has the smallest shift: it wins
                result =
                    Select(_mm_cmpeq_epi32(Load(r[k] + i), number[k]), Load(moved[k] + i), result);
            Store(dst + i, result);
        }
        for (; i < n; ++i) {
            TColor32 result = under[i];
            for (int k = 0; k < 3; ++k)
                if (r[k][i] == order[k]) {
                    result = moved[k][i];
                    break;
                }
            dst[i] = result;
        }
    }

    static __m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static void Store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
    static __m128i Select(__m128i mask, __m128i a, __m128i b) {
        return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
    }
};

// The output pixels of a row where Single applies: all three shifts differ and all
// three candidates lie inside the old row; empty (from == to) where it does not pay.
struct TSingleSpan {
    int Order[3] = {0, 1, 2}; // smallest shift first
    int From = 0, To = 0;
};

TSingleSpan SingleSpanOf(const TRowMove& move, int clipLeft, int clipRight) {
    TSingleSpan span;
    int* order = span.Order;
    std::sort(order, order + 3, [&](int a, int b) { return move.Shift[a] < move.Shift[b]; });
    const int* shift = move.Shift;
    const bool distinct = shift[order[0]] < shift[order[1]] && shift[order[1]] < shift[order[2]];
    const int from = std::max(clipLeft, move.X0 + shift[order[2]]);
    const int to = std::min(clipRight, move.X0 + shift[order[0]] + move.Width);
    if (distinct && to - from >= 4) {
        span.From = from;
        span.To = to;
    }
    return span;
}

// `base`: the pixels under the span from its first on, when the caller left the span
// undrawn; null when the row has been drawn whole.
void MoveRow(const TRowMove& move, int clipLeft, int clipRight, const TSingleSpan& span,
             const TColor32* base) {
    if (span.From == span.To) {
        move.Passes(clipLeft, clipRight);
        return;
    }
    move.Passes(clipLeft, span.From);
    move.Single(span.From, span.To, span.Order, base);
    move.Passes(span.To, clipRight);
}

} // namespace

TVekWindTransform::TVekWindTransform() {
    StepCount = 26;
    Name = QStringLiteral("Wind");
}

void TVekWindTransform::Prepare(TBitmap32& oldPicture, TBitmap32&, TBitmap32& output) {
    const int w = oldPicture.Width();
    const int steps = StepCount - 2;
    Speed = steps > 0 ? ((output.Width() - w) / 2 + w) * 2 / (steps * steps) : 0;
}

void TVekWindTransform::DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                                 TBitmap32& output) {
    const TOffset o = OffsetOf(oldPicture, output);
    const TOffset n = OffsetOf(newPicture, output);
    if (step == 0) {
        // The base step's first frame would be cleared right away: only its
        // clip reset and Prepare matter. Then the new picture under the old one,
        // row by row while each row is in the cache.
        output.ResetClipRect();
        Prepare(oldPicture, newPicture, output);
        output.BeginUpdate();
        if (newPicture.DrawMode == TDrawMode::dmOpaque) {
            for (int y = 0; y < output.Height(); ++y) {
                ClearAndDrawRow(output, y, n.X, n.Y, newPicture);
                const int i = y - o.Y;
                if (i >= 0 && i < oldPicture.Height())
                    output.Draw(o.X, y, TRect{0, i, oldPicture.Width(), i + 1}, oldPicture);
            }
            output.Changed();
        } else {
            ClearAndDraw(output, n.X, n.Y, newPicture);
            output.Draw(o.X, o.Y, oldPicture);
        }
        output.EndUpdate();
        return;
    }
    TCustomVekTransformer::DrawStep(oldPicture, newPicture, step, output);
    if (!OwnStep(step)) return;

    const TColor32 outer = WithAlpha(output.OuterColor, 255);
    oldPicture.OuterColor = outer;
    newPicture.OuterColor = outer;
    output.BeginUpdate();
    // Each row is cleared, gets the new picture and then the moved old pixels while
    // it is still in the cache (when the new picture can be drawn row by row).
    const bool byRow = newPicture.DrawMode == TDrawMode::dmOpaque;
    if (!byRow) ClearAndDraw(output, n.X, n.Y, newPicture);

    // Only three distances are possible on a step, one per random extra.
    const std::int64_t square = std::int64_t(step) * step;
    int shift[3];
    for (int r = 0; r < 3; ++r) shift[r] = int(RoundHalfEven(square * (Speed + r), 2));

    const TRect clip = output.ClipRect();
    const int width = oldPicture.Width();
    std::vector<int> extra(std::size_t(std::max(width, 0)));
    int done = 0; // output rows finished
    const auto baseRowsUpTo = [&](int end) {
        for (; done < std::min(end, output.Height()); ++done)
            if (byRow) ClearAndDrawRow(output, done, n.X, n.Y, newPicture);
    };
    // The new picture's part of the output, for rows drawn together with their move.
    const TRect covered = Intersect(newPicture.BoundsRect().Offset(n.X, n.Y), output.ClipRect());
    for (int i = 0; i < oldPicture.Height(); ++i) {
        // A fresh number per pixel, drawn even for rows off the output.
        RandomFill(extra.data(), extra.size(), 3);
        const int y = o.Y + i;
        if (y < clip.Top || y >= clip.Bottom) continue;
        const TRowMove move{
            output.ScanLine(y), oldPicture.ScanLine(i), extra.data(), width, o.X, shift};
        const TSingleSpan span = SingleSpanOf(move, clip.Left, clip.Right);
        baseRowsUpTo(y);
        const TColor32* base = nullptr;
        if (byRow && done == y) {
            // Where the moved pixels are chosen in one pass, the new picture is read
            // from its own row rather than first copied into the output.
            const bool fused = span.From < span.To && y >= covered.Top && y < covered.Bottom &&
                               span.From >= covered.Left && span.To <= covered.Right;
            if (fused) {
                ClearAndDrawRow(output, y, n.X, n.Y, newPicture, span.From, span.To);
                base = newPicture.ScanLine(y - n.Y) + (span.From - n.X);
            } else {
                ClearAndDrawRow(output, y, n.X, n.Y, newPicture);
            }
            ++done;
        }
        MoveRow(move, clip.Left, clip.Right, span, base);
    }
    baseRowsUpTo(output.Height());
    output.Changed();
    output.EndUpdate();
}
