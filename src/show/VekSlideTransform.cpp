#include "show/VekSlideTransform.h"

#include "show/TransformHelpers.h"

TVekSlideTransform::TVekSlideTransform() {
    StepCount = 26;
    Name = QStringLiteral("Slide");
}

TCustomVekTransformer::TOffset TVekSlideTransform::SlideOffsetOf(const TBitmap32& picture,
                                                                 const TBitmap32& output) const {
    if (!Centered) return {};
    return {output.Width() / 2 - picture.Width() / 2, output.Height() / 2 - picture.Height() / 2};
}

void TVekSlideTransform::DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                                  TBitmap32& output) {
    TCustomVekTransformer::DrawStep(oldPicture, newPicture, step, output);
    if (!OwnStep(step)) return;

    const TOffset o = SlideOffsetOf(oldPicture, output);
    const TOffset n = SlideOffsetOf(newPicture, output);
    const int w = newPicture.Width(), h = newPicture.Height();
    const std::int64_t travel = std::int64_t(n.X) + w;
    const int x = int(RoundHalfEven(step * travel, StepCount));
    const int previousX = int(RoundHalfEven((step - 1) * travel, StepCount));
    const TRect current = Intersect({x - w, n.Y, x, n.Y + h}, output.BoundsRect());
    const TRect previous = Intersect({previousX - w, n.Y, previousX, n.Y + h}, output.BoundsRect());

    output.BeginUpdate();
    if (current.Left > 0) {
        // Repair the strip the picture left behind: background, then the old picture there.
        output.FillRect(previous, output.OuterColor);
        const TRect oldRect{o.X, o.Y, o.X + oldPicture.Width(), o.Y + oldPicture.Height()};
        const TRect part = Intersect(previous, oldRect);
        if (!part.IsEmpty()) output.Draw(part.Left, part.Top, part.Offset(-o.X, -o.Y), oldPicture);
    }
    // Drawn at its true place and cut by the output, so a picture larger than the
    // output is cropped, never squeezed into the visible rectangle.
    if (!current.IsEmpty()) output.Draw(x - w, n.Y, newPicture);
    output.EndUpdate();
}
