#include "show/CustomVekTransformer.h"

#include "show/TransformHelpers.h"

void TCustomVekTransformer::Prepare(TBitmap32&, TBitmap32&, TBitmap32&) {}

void TCustomVekTransformer::DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                                     TBitmap32& output) {
    if (step == 0) {
        output.ResetClipRect();
        const TOffset o = OffsetOf(oldPicture, output);
        ClearAndDraw(output, o.X, o.Y, oldPicture);
        Prepare(oldPicture, newPicture, output);
    } else if (step >= StepCount) {
        output.ResetClipRect();
        const TOffset n = OffsetOf(newPicture, output);
        ClearAndDraw(output, n.X, n.Y, newPicture);
    }
}

TCustomVekTransformer::TOffset TCustomVekTransformer::OffsetOf(const TBitmap32& picture,
                                                               const TBitmap32& output) const {
    if (!Centered) return {};
    return {(output.Width() - picture.Width()) / 2, (output.Height() - picture.Height()) / 2};
}

TCustomVekTransformer::TBandArea TCustomVekTransformer::PrepareBands(TBitmap32& oldPicture,
                                                                     TBitmap32& newPicture,
                                                                     TBitmap32& output,
                                                                     int outerAlpha) const {
    const TColor32 outer = WithAlpha(output.OuterColor, outerAlpha);
    oldPicture.OuterColor = outer;
    newPicture.OuterColor = outer;
    oldPicture.ResetClipRect();
    newPicture.ResetClipRect();
    TBandArea a;
    a.Old = OffsetOf(oldPicture, output);
    a.New = OffsetOf(newPicture, output);
    a.Union = Union(oldPicture.BoundsRect().Offset(a.Old.X, a.Old.Y),
                    newPicture.BoundsRect().Offset(a.New.X, a.New.Y));
    output.SetClipRect(a.Union);
    a.Clip = output.ClipRect();
    return a;
}
