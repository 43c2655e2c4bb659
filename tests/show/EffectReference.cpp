#include "EffectReference.h"

#include "app/VekRandom.h"
#include "gfx/BlendOps.h"
#include "show/TransformHelpers.h"

#include <algorithm>
#include <random>

namespace {

struct TPos {
    int X = 0, Y = 0;
};

TPos Place(const TRefState& s, const TBitmap32& p, const TBitmap32& out) {
    if (!s.Centered) return {};
    return {(out.Width() - p.Width()) / 2, (out.Height() - p.Height()) / 2};
}

TColor32 Sample(const TBitmap32& p, TPos at, int x, int y) {
    return p.PixelS(x - at.X, y - at.Y);
}

int Round255(std::int64_t num, std::int64_t den) {
    return int(RoundHalfEven(num * 255, den));
}

TRect UnionAtOffsets(const TBitmap32& a, TPos pa, const TBitmap32& b, TPos pb) {
    return Union(a.BoundsRect().Offset(pa.X, pa.Y), b.BoundsRect().Offset(pb.X, pb.Y));
}

void Blend(TRefState& s, TBitmap32& o, TBitmap32& n, int step, TBitmap32& out) {
    const int m = Round255(step, s.StepCount);
    TRect r = Union(o.BoundsRect(), n.BoundsRect());
    n.OuterColor = WithAlpha(out.OuterColor, 255);
    if (r.IsEmpty()) return;
    r = Intersect(r.Offset((out.Width() - r.Width()) / 2, (out.Height() - r.Height()) / 2),
                  out.BoundsRect());
    const TPos po = Place(s, o, out), pn = Place(s, n, out);
    for (int y = r.Top; y <= r.Bottom; ++y)
        for (int x = r.Left; x <= r.Right; ++x)
            out.SetPixelS(x, y, BlendEx(Sample(n, pn, x, y), Sample(o, po, x, y), m));
}

void Slide(TRefState& s, TBitmap32& o, TBitmap32& n, int step, TBitmap32& out) {
    const auto place = [&](const TBitmap32& p) {
        return s.Centered ? TPos{out.Width() / 2 - p.Width() / 2, out.Height() / 2 - p.Height() / 2}
                          : TPos{};
    };
    const TPos po = place(o), pn = place(n);
    const int w = n.Width(), h = n.Height();
    const int t = pn.X + w;
    const int x = int(RoundHalfEven(std::int64_t(step) * t, s.StepCount));
    const int xp = int(RoundHalfEven(std::int64_t(step - 1) * t, s.StepCount));
    const TRect cur = Intersect({x - w, pn.Y, x, pn.Y + h}, out.BoundsRect());
    const TRect prev = Intersect({xp - w, pn.Y, xp, pn.Y + h}, out.BoundsRect());
    if (cur.Left > 0) {
        for (int yy = prev.Top; yy < prev.Bottom; ++yy)
            for (int xx = prev.Left; xx < prev.Right; ++xx) out.SetPixelS(xx, yy, out.OuterColor);
        const TRect part = Intersect(prev, {po.X, po.Y, po.X + o.Width(), po.Y + o.Height()});
        if (!part.IsEmpty()) out.Draw(part, part.Offset(-po.X, -po.Y), o);
    }
    const TRect src{x - w < 0 ? w - x : 0, 0, w, h};
    if (cur.Width() == src.Width() && cur.Height() == src.Height())
        out.Draw(cur, src, n); // as defined
    else if (!cur.IsEmpty())
        out.Draw(x - w, pn.Y, n); // larger than the output: cropped, not squeezed
}

void SetDiagonal(TBitmap32& out, int s, const TRect& u, const auto& colourAt) {
    for (int y = u.Top + std::max(0, s - u.Right); y <= u.Top + std::min(s - u.Left, u.Height());
         ++y) {
        const int x = s - (y - u.Top);
        out.SetPixelS(x, y, colourAt(x, y));
    }
}

void Diagonal(TRefState& st, TBitmap32& o, TBitmap32& n, int step, TBitmap32& out) {
    o.OuterColor = n.OuterColor = WithAlpha(out.OuterColor, 255);
    o.ResetClipRect();
    n.ResetClipRect();
    const TPos po = Place(st, o, out), pn = Place(st, n, out);
    const TRect u = UnionAtOffsets(o, po, n, pn);
    out.SetClipRect(u);
    const int d = (u.Width() + u.Height()) / (st.StepCount - 2) + 1;
    if (step >= 2)
        for (int s = (step - 2) * d + u.Left; s <= (step - 1) * d + u.Left; ++s)
            SetDiagonal(out, s, u, [&](int x, int y) { return Sample(n, pn, x, y); });
    const int base = (step - 1) * d + u.Left;
    for (int s = base; s <= step * d + u.Left; ++s) {
        const int m = 255 - Round255(s - base, d);
        SetDiagonal(out, s, u, [&](int x, int y) {
            return BlendEx(Sample(n, pn, x, y), Sample(o, po, x, y), m);
        });
    }
}

void Rain(TRefState& st, TBitmap32& o, TBitmap32& n, int step, TBitmap32& out) {
    o.OuterColor = n.OuterColor = WithAlpha(out.OuterColor, 0);
    o.ResetClipRect();
    n.ResetClipRect();
    const TPos po = Place(st, o, out), pn = Place(st, n, out);
    const TRect u = UnionAtOffsets(o, po, n, pn);
    out.SetClipRect(u);
    const int d = u.Height() / (st.StepCount - 2) + 1;
    const int y0 = (step - 1) * d + u.Top;
    if (step >= 2)
        for (int y = (step - 2) * d + u.Top; y <= y0; ++y)
            for (int x = u.Left; x <= u.Right; ++x) out.SetPixelS(x, y, Sample(n, pn, x, y));
    for (int x = u.Left; x <= u.Right; ++x) {
        const int k = 50 - Random(50);
        for (int y = y0; y <= y0 + k; ++y) out.SetPixelS(x, y, Sample(n, pn, x, y));
        for (int y = y0 + k; y <= step * d + u.Top + k; ++y) {
            const int v = y - y0 - k;
            const int m = std::clamp(255 - Round255(v, d), 0, 255);
            const TColor32 f = Sample(o, po, x, y - d);
            const TColor32 g = Sample(o, po, x, y); // the old picture's own offset
            out.SetPixelS(x, y, BlendOver(BlendEx(f, g, m), out.PixelS(x, y)));
        }
    }
}

void Wind(TRefState& st, TBitmap32& o, TBitmap32& n, int step, TBitmap32& out) {
    const TPos po = Place(st, o, out), pn = Place(st, n, out);
    if (step == 0) {
        out.Clear(clBlack32);
        out.Draw(pn.X, pn.Y, n);
        out.Draw(po.X, po.Y, o);
        return;
    }
    o.OuterColor = n.OuterColor = WithAlpha(out.OuterColor, 255);
    out.Clear(clBlack32);
    out.Draw(pn.X, pn.Y, n);
    for (int i = 0; i < o.Height(); ++i)
        for (int j = 0; j < o.Width(); ++j) {
            const int dx =
                int(RoundHalfEven(std::int64_t(step) * step * (st.Speed + Random(3)), 2));
            out.SetPixelS(po.X + j + dx, po.Y + i, o.Pixel(j, i));
        }
}

} // namespace

void RefDrawStep(TRefEffect effect, TRefState& s, TBitmap32& o, TBitmap32& n, int step,
                 TBitmap32& out) {
    if (step == 0 || step >= s.StepCount) {
        TBitmap32& shown = step == 0 ? o : n;
        out.ResetClipRect();
        out.Clear(clBlack32);
        const TPos p = Place(s, shown, out);
        out.Draw(p.X, p.Y, shown);
        if (step == 0 && effect == TRefEffect::Wind) {
            const int steps = s.StepCount - 2;
            s.Speed = ((out.Width() - o.Width()) / 2 + o.Width()) * 2 / (steps * steps);
        }
    }
    if (step < 0 || step >= s.StepCount || (step == 0 && effect != TRefEffect::Wind)) return;
    switch (effect) {
    case TRefEffect::None:
        break;
    case TRefEffect::Blend:
        Blend(s, o, n, step, out);
        break;
    case TRefEffect::Slide:
        Slide(s, o, n, step, out);
        break;
    case TRefEffect::Diagonal:
        Diagonal(s, o, n, step, out);
        break;
    case TRefEffect::Rain:
        Rain(s, o, n, step, out);
        break;
    case TRefEffect::Wind:
        Wind(s, o, n, step, out);
        break;
    }
}

TBitmap32 MakePicture(int w, int h, unsigned seed, bool opaque) {
    TBitmap32 p(w, h);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            TColor32 c = rng();
            // Mostly opaque, with some translucent and fully transparent pixels.
            const unsigned kind = rng() % 8;
            if (opaque || kind < 5)
                c |= 0xFF000000u;
            else if (kind == 5)
                c &= 0x00FFFFFFu;
            p.SetPixel(x, y, c);
        }
    return p;
}
