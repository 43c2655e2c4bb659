#include "gfx/BitmapOps.h"

#include "gfx/Bitmap32.h"
#include "gfx/Resampler.h"

#include <algorithm>

void TurnQuarter(const TBitmap32& source, TBitmap32& target, int angle) {
    const int turn = ((angle % 360) + 360) % 360;
    const int w = source.Width(), h = source.Height();
    if (turn == 0) {
        if (&source == &target) return;
        target.SetSize(w, h);
        if (!source.Empty()) std::copy_n(source.Bits(), std::size_t(w) * h, target.Bits());
        target.Changed();
        return;
    }
    TBitmap32 turned(turn == 180 ? w : h, turn == 180 ? h : w);
    for (int y = 0; y < h; ++y) {
        const TColor32* row = source.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            switch (turn) {
            case 90: // counter-clockwise: the top-right corner comes to the top left
                turned.SetPixel(y, w - 1 - x, row[x]);
                break;
            case 180:
                turned.SetPixel(w - 1 - x, h - 1 - y, row[x]);
                break;
            default: // 270, clockwise
                turned.SetPixel(h - 1 - y, x, row[x]);
                break;
            }
        }
    }
    target.SwapPixels(turned);
}

void TurnQuarter(TBitmap32& bitmap, int angle) {
    TurnQuarter(bitmap, bitmap, angle);
}

void CheckerFill(TBitmap32& bitmap, const TRect& rect, int cellWidth, TColor32 light, TColor32 dark,
                 int cellHeight) {
    if (cellWidth <= 0 || cellHeight <= 0) return;
    const TRect area = Intersect(rect, bitmap.ClipRect());
    for (int y = area.Top; y < area.Bottom; ++y) {
        TColor32* row = bitmap.ScanLine(y);
        const int band = y / cellHeight;
        for (int x = area.Left; x < area.Right; ++x)
            row[x] = (x / cellWidth + band) % 2 == 0 ? dark : light;
    }
    bitmap.Changed();
}

void DrawPicture(TBitmap32& picture, const TAffineTransformation& t, const TRect& bounds,
                 TDrawnPicture& out) {
    out.Transform = t;
    out.Area =
        picture.Empty()
            ? TRect()
            : Intersect(OutsideRect(t.TransformRect(ToFloatRect(picture.BoundsRect()))), bounds);
    if (out.Area.IsEmpty()) {
        out.Bitmap.Delete();
        return;
    }
    if (out.Bitmap.Width() != out.Area.Width() || out.Bitmap.Height() != out.Area.Height())
        out.Bitmap.SetSize(out.Area.Width(), out.Area.Height());
    else
        out.Bitmap.Clear(0);
    TAffineTransformation local = t;
    local.Translate(-out.Area.Left, -out.Area.Top);
    // Sampled as an opaque copy: blending happens when the drawing is put onto a view.
    const TDrawMode mode = picture.DrawMode;
    picture.DrawMode = TDrawMode::dmOpaque;
    DrawTransformedPart(out.Bitmap, local, picture, picture.BoundsRect());
    picture.DrawMode = mode;
}
