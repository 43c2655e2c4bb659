#pragma once

// The image view as the viewer shows a large photo: 1920 x 1080, a 6000 x 4000 photo
// fitted with the linear filter on a grey background.

#include "PhotoPattern.h"
#include "ViewerLayers.h"
#include "gfx/ImgView32Widget.h"
#include "gfx/Transform.h"

#include <QImage>

#include <cmath>

inline constexpr int kViewW = 1920, kViewH = 1080;
inline constexpr int kPhotoW = 6000, kPhotoH = 4000;

struct TFittedPhotoView {
    TImgView32 View;
    QImage Target{kViewW, kViewH, QImage::Format_RGB32};
    double Scale = (kViewH - 2.0) / kPhotoH;

    TFittedPhotoView() {
        View.resize(kViewW, kViewH);
        FillPhotoPattern(View.Bitmap, kPhotoW, kPhotoH);
        View.Bitmap.Resampler = TResamplerKind::Linear;
        View.Bitmap.DrawMode = TDrawMode::dmBlend;
        PaintFittedPhoto(View, Scale, kViewW, kViewH, kPhotoW, kPhotoH);
    }
    // A full repaint into Target.
    void Render() { View.render(&Target); }
};
