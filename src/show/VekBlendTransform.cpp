#include "show/VekBlendTransform.h"

#include "gfx/BlendOps.h"
#include "show/TransformHelpers.h"

#include <algorithm>
#include <vector>

TVekBlendTransform::TVekBlendTransform() {
    StepCount = 10;
    Name = QStringLiteral("Blend");
}

void TVekBlendTransform::DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                                  TBitmap32& output) {
    TCustomVekTransformer::DrawStep(oldPicture, newPicture, step, output);
    if (!OwnStep(step)) return;

    const int m = int(RoundHalfEven(std::int64_t(step) * 255, StepCount));
    // The union of both pictures' sizes, centred in the output whatever Centered says.
    TRect r = Union(oldPicture.BoundsRect(), newPicture.BoundsRect());
    newPicture.OuterColor = WithAlpha(output.OuterColor, 255);
    if (r.IsEmpty()) return;
    r = r.Offset((output.Width() - r.Width()) / 2, (output.Height() - r.Height()) / 2);
    r = Intersect(r, output.BoundsRect());
    if (r.IsEmpty()) return;

    // Both bounds of the region are included: the column and row just past it are
    // blended from the outer colours (and dropped at the output's edge).
    const TRect clip = output.ClipRect();
    const int x0 = std::max(r.Left, clip.Left), x1 = std::min(r.Right + 1, clip.Right);
    const int y0 = std::max(r.Top, clip.Top), y1 = std::min(r.Bottom + 1, clip.Bottom);
    if (x0 >= x1 || y0 >= y1) return;

    const TOffset o = OffsetOf(oldPicture, output);
    const TOffset n = OffsetOf(newPicture, output);
    const int count = x1 - x0;
    std::vector<TColor32> fgBuffer(count), bgBuffer(count);
    for (int y = y0; y < y1; ++y) {
        const TColor32* fg = SampleRow(newPicture, n.X, n.Y, y, x0, x1, fgBuffer.data());
        const TColor32* bg = SampleRow(oldPicture, o.X, o.Y, y, x0, x1, bgBuffer.data());
        BlendExRow(output.ScanLine(y) + x0, fg, bg, std::size_t(count), m);
    }
    output.Changed();
}
