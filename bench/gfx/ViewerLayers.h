#pragma once

// What the benchmarks of the image view draw as the viewer does: a photo fitted on a
// grey background, the information panel and the main toolbar, and the rectangles the
// layers ask to repaint gathered for the next paint.

#include "gfx/Geometry.h"
#include "gfx/ImgView32Widget.h"
#include "gfx/Transform.h"
#include "layers/VekAdditionalLayers.h"
#include "layers/VekStringListLayer.h"

#include <cmath>
#include <memory>

// The view paints a grey background and the photo (photoW x photoH) scaled by `scale`,
// centred in a buffer of viewW x viewH device pixels.
inline void PaintFittedPhoto(TImgView32& view, const double& scale, int viewW, int viewH,
                             int photoW, int photoH) {
    view.OnPaintStage = [&scale, viewW, viewH, photoW, photoH](TImgView32& v, TBitmap32& buffer,
                                                               int stage) {
        if (stage == 0) {
            buffer.FillRect(v.ViewRect(), 0xFF808080);
            return;
        }
        TAffineTransformation t;
        t.Scale(scale);
        t.Translate(std::round((viewW - scale * photoW) / 2),
                    std::round((viewH - scale * photoH) / 2));
        v.PaintPicture(buffer, t);
    };
}

// The view's own repaint handler still runs; the rectangles are gathered in `dirty`.
inline void GatherDirty(TImgView32& view, TRect& dirty) {
    auto viewInvalidate = view.Layers.OnInvalidate;
    view.Layers.OnInvalidate = [&dirty, viewInvalidate](const TRect& r) {
        dirty = Union(dirty, r);
        if (viewInvalidate) viewInvalidate(r);
    };
}

// An information panel as the viewer shows it.
inline void FillInformationPanel(TVekMetaDataLayer& panel) {
    panel.SetCaption(QStringLiteral("Image info"));
    panel.Location = {255, 0, 465, 115};
    QStringList lines;
    for (int i = 0; i < 8; ++i) lines.append(QStringLiteral("Name %1:value %1;").arg(i));
    panel.SetLines(lines);
}

// The viewer's main toolbar.
inline void FillMainToolbar(TToolbarLayer& toolbar) {
    toolbar.ImageShown = [] { return true; };
    const char* const buttons[] = {
        "zBack", "zNext",      "",        "zZoomFit", "zZoomNo",  "", "zRotateLeft", "zRotateRight",
        "",      "zSlideShow", "zWizard", "",         "zOptions", "", "zExit"};
    for (const char* name : buttons) {
        if (*name == 0)
            toolbar.AddItem(std::make_unique<TTlSeparator>());
        else
            toolbar.AddItem(std::make_unique<TTlButton>(QString::fromLatin1(name)));
    }
}
