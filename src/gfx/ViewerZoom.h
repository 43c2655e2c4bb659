#pragma once

#include "gfx/BitmapOps.h"
#include "gfx/Transform.h"

#include <functional>

// The zoom, fit and turn of the viewer's picture, without the window: the scale the
// zoom commands and the mouse wheel give the view, and how a fitted or turned picture
// is drawn.
//
// Two modes: `FitMode` (the state after every load) draws the picture scaled to fit
// and centred, whatever the view's own scale; any explicit zoom leaves it and gives
// the view `ZoomScale`. The picture itself is never turned, only its drawing:
// `RotationAngle` counts quarter turns counter-clockwise and is not reduced, so 450
// stays 450.
class TViewerZoom {
public:
    static constexpr double kMinScale = 0.01;
    static constexpr double kMaxScale = 10;
    static constexpr double kZoomStep = 0.01;        // zoom in / out: one percentage point
    static constexpr float kWheelStep = 0.08f;       // per notch of 120 wheel units
    static constexpr double kWheelTolerance = 0.008; // the wheel snaps to the fit scale within it
    static constexpr int kFitMargin = 2;             // pixels of view left around a fitted picture

    bool FitMode = true;
    double ZoomScale = 1;
    // The view keeps its scale in single precision.
    float ViewScale = 1;
    int RotationAngle = 0;

    // The scale that fits a picture into the view with its turn, capped at 1 (a picture
    // smaller than the view is never enlarged by fitting) unless `enlarge`.
    [[nodiscard]] static double FitScale(int pictureWidth, int pictureHeight, int viewWidth,
                                         int viewHeight, int angle, bool enlarge = false);

    // The only way the view's scale changes: 1 stays exactly 1, anything else is kept
    // within 1 % ... 1000 %; fit mode ends. True when fit mode was on, so the window
    // re-centres the view and the explicit zoom starts from a centred picture.
    bool SetZoom(double value);
    // One percentage point up or down, starting from the fit scale `fit` in fit mode.
    bool ZoomIn(double fit);
    bool ZoomOut(double fit);
    // One wheel turn of `delta` units (positive: away from the user, zooms in): steps of
    // 8 points above the fit scale, finer (4, 2, 1) the further below it, and through
    // the fit scale exactly.
    bool Wheel(int delta, double fit);

    void RotateLeft() { RotationAngle += 90; }
    void RotateRight() { RotationAngle -= 90; }

    // Whether the picture is drawn through a transformation (fitted, or turned) rather
    // than by the view at its scale and scroll offsets.
    [[nodiscard]] bool Transformed() const { return FitMode || RotationAngle % 360 != 0; }

    // Fit mode: turned about the picture's centre, scaled by `fit` and centred in the view.
    [[nodiscard]] static TAffineTransformation FittedTransform(int pictureWidth, int pictureHeight,
                                                               int viewWidth, int viewHeight,
                                                               int angle, double fit);
    // A turned picture at the view's scale, moved by the view's scroll offsets, so it
    // scrolls and zooms like an unturned one.
    [[nodiscard]] static TAffineTransformation TurnedTransform(int pictureWidth, int pictureHeight,
                                                               int angle, double scale,
                                                               double offsetX, double offsetY);

    // The view's extra scrollable room around a picture: enough to scroll a
    // quarter-turned picture to its edges.
    [[nodiscard]] static int ScrollMargin(int pictureWidth, int pictureHeight);
};

// The work that draws a freshly decoded picture as the viewer first shows it: fitted
// into a view of the given size (device pixels) with its turn and the filter kind, for
// a loader's worker to run (see TImageLoadRequest::Prepare). Nothing for an empty view.
[[nodiscard]] std::function<void(TBitmap32&, TDrawnPicture&)>
MakeFitPreparation(int viewWidth, int viewHeight, int angle, int filterKind);
