#include "gfx/ViewerZoom.h"

#include "gfx/Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

double TViewerZoom::FitScale(int pictureWidth, int pictureHeight, int viewWidth, int viewHeight,
                             int angle, bool enlarge) {
    if (pictureWidth <= 0 || pictureHeight <= 0) return 1;
    const bool upright = angle % 180 == 0;
    const double w = upright ? pictureWidth : pictureHeight;
    const double h = upright ? pictureHeight : pictureWidth;
    const double fit = std::min((viewHeight - kFitMargin) / h, (viewWidth - kFitMargin) / w);
    return enlarge ? fit : std::min(fit, 1.0);
}

bool TViewerZoom::SetZoom(double value) {
    double scale = value;
    if (value == 1)
        scale = 1.0;
    else if (value < kMinScale)
        scale = kMinScale;
    else if (value > kMaxScale)
        scale = kMaxScale;
    ZoomScale = scale;
    ViewScale = float(scale);
    const bool recentre = FitMode;
    FitMode = false;
    return recentre;
}

bool TViewerZoom::ZoomIn(double fit) {
    if (FitMode) ZoomScale = fit;
    return SetZoom(ZoomScale + kZoomStep);
}

bool TViewerZoom::ZoomOut(double fit) {
    if (FitMode) ZoomScale = fit;
    return SetZoom(ZoomScale - kZoomStep);
}

bool TViewerZoom::Wheel(int delta, double fit) {
    if (FitMode) ZoomScale = fit;
    const double s = ZoomScale;
    float step = float(delta) * kWheelStep / 120;
    if (fit - kWheelTolerance > s + step) {
        // Clearly below the fit scale: the smaller the picture, the finer the step.
        step /= 2;
        if (fit / 2 > s + step) step /= 2;
        if (fit / 4 > s + step) step /= 2;
    } else if (s + step <= fit + kWheelTolerance) {
        // Snap to the fit scale itself; a single-precision step would miss it by a hair.
        return SetZoom(fit);
    }
    return SetZoom(s + step);
}

TAffineTransformation TViewerZoom::FittedTransform(int pictureWidth, int pictureHeight,
                                                   int viewWidth, int viewHeight, int angle,
                                                   double fit) {
    // Centred: the offsets that put the scaled picture's centre on the view's.
    return TurnedTransform(pictureWidth, pictureHeight, angle, fit,
                           viewWidth / 2.0 - fit * pictureWidth / 2,
                           viewHeight / 2.0 - fit * pictureHeight / 2);
}

TAffineTransformation TViewerZoom::TurnedTransform(int pictureWidth, int pictureHeight, int angle,
                                                   double scale, double offsetX, double offsetY) {
    TAffineTransformation t;
    t.Rotate(pictureWidth / 2, pictureHeight / 2, angle);
    t.Scale(scale);
    // Round half to even, as everywhere in the program.
    t.Translate(std::nearbyint(offsetX), std::nearbyint(offsetY));
    return t;
}

int TViewerZoom::ScrollMargin(int pictureWidth, int pictureHeight) {
    return std::abs(pictureWidth - pictureHeight) / 2 + 20;
}

std::function<void(TBitmap32&, TDrawnPicture&)> MakeFitPreparation(int viewWidth, int viewHeight,
                                                                   int angle, int filterKind) {
    if (viewWidth <= 0 || viewHeight <= 0) return nullptr;
    return [=](TBitmap32& picture, TDrawnPicture& drawn) {
        if (picture.Empty()) return;
        MakeResampler(filterKind, picture);
        const double fit =
            TViewerZoom::FitScale(picture.Width(), picture.Height(), viewWidth, viewHeight, angle);
        DrawPicture(picture,
                    TViewerZoom::FittedTransform(picture.Width(), picture.Height(), viewWidth,
                                                 viewHeight, angle, fit),
                    {0, 0, viewWidth, viewHeight}, drawn);
    };
}
