#pragma once

#include "gfx/Bitmap32.h"

#include <QString>

// A transition effect: animates the change from the picture on screen (old) to
// the next one (new) in steps 0 ... StepCount, each drawn into an output bitmap
// over what the previous step left there. Derived effects run this base step
// first and do their own work for 0 < step < StepCount.
//
// The three bitmaps belong to the caller and must be three different objects.
// Effects change the pictures' outer colours and clip rectangles and the
// output's clip rectangle and do not restore them.
class TCustomVekTransformer {
public:
    TCustomVekTransformer() = default;
    virtual ~TCustomVekTransformer() = default;
    TCustomVekTransformer(const TCustomVekTransformer&) = delete;
    TCustomVekTransformer& operator=(const TCustomVekTransformer&) = delete;

    // Called once at step 0, after the first frame (the old picture) is drawn.
    virtual void Prepare(TBitmap32& oldPicture, TBitmap32& newPicture, TBitmap32& output);

    // The base step: step 0 shows the old picture and calls Prepare; a step at or
    // past StepCount shows the new picture; other steps draw nothing here. Both
    // start from the output's full area, so that a clip rectangle left by an
    // earlier transition never cuts a picture off.
    virtual void DrawStep(TBitmap32& oldPicture, TBitmap32& newPicture, int step,
                          TBitmap32& output);

    int StepCount = 26;   // steps are numbered 0 ... StepCount
    bool Centered = true; // pictures centred in the output, else at its top-left corner
    // Device pixels per logical pixel of the output: the lengths an effect draws with
    // (a rain drop) are this much longer, so an effect looks the same on a HiDPI screen.
    double PixelRatio = 1;
    QString Name = QStringLiteral("Custom");

protected:
    struct TOffset {
        int X = 0, Y = 0;
    };
    // Where `picture` is placed in `output`.
    [[nodiscard]] TOffset OffsetOf(const TBitmap32& picture, const TBitmap32& output) const;
    // The set-up of the band effects (Diagonal roll, Rain): both pictures get the
    // output's outer colour with `outerAlpha` and their full clip rectangles; the
    // output is clipped to the union of the placed pictures.
    struct TBandArea {
        TOffset Old, New;
        TRect Union; // of the placed pictures
        TRect Clip;  // the union inside the output
    };
    TBandArea PrepareBands(TBitmap32& oldPicture, TBitmap32& newPicture, TBitmap32& output,
                           int outerAlpha) const;
    // Whether `step` is one this effect draws its own frame for.
    [[nodiscard]] bool OwnStep(int step) const { return step > 0 && step < StepCount; }
};
