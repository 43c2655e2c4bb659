// Simple mode: the viewer as a small borderless translucent frame that stays on top
// and is moved by dragging its picture.

#include "gfx/ImgView32Widget.h"
#include "layers/VekAdditionalLayers.h"
#include "layers/VekHistogramLayer.h"
#include "layers/VekStringListLayer.h"
#include "viewer/FormVekMain.h"

#include <QAction>

namespace {

// The opacity the window takes for a stored blend value (its low byte counts).
double Opacity(std::int32_t blend) {
    return double(blend & 0xFF) / 255.0;
}

} // namespace

void TMainForm::EnterSimpleMode() {
    if (SimpleMode) return;
    const bool wasVisible = isVisible();
    hide();
    for (QAction* a : SimpleModeDisabledActions()) a->setEnabled(false);
    SimpleMode = true;
    NormalBounds = isMaximized() || isFullScreen() ? normalGeometry() : geometry();
    m_normalFrameOffset = geometry().topLeft() - pos();
    SavedWindowState = windowState();
    // A tool window has no taskbar entry.
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowState(Qt::WindowNoState);
    setGeometry(SimpleLeft, SimpleTop, std::max(SimpleWidth, 1), std::max(SimpleHeight, 1));
    MainToolbar->SetVisible(false);
    PagesToolbar->SetVisible(false);
    UpdatePanels();
    setWindowOpacity(Opacity(SimpleBlend));
    SimpleModeAction->setText(QStringLiteral("Normal mode"));
    if (wasVisible) show();
    ImgView32->Invalidate();
}

void TMainForm::LeaveSimpleMode() {
    if (!SimpleMode) return;
    const bool wasVisible = isVisible();
    SimpleLeft = geometry().x();
    SimpleTop = geometry().y();
    hide();
    for (QAction* a : SimpleModeDisabledActions()) a->setEnabled(true);
    SimpleMode = false;
    setWindowFlags(Qt::Window);
    setGeometry(NormalBounds);
    setWindowState(SavedWindowState);
    MainToolbar->SetVisible(true);
    setWindowOpacity(1.0);
    // The panels and the turn belong to the shown file, which a prefetch may have
    // made other than the loader's current one.
    if (ImageLoaded) {
        FillPanels();
        Zoom.RotationAngle = RotateAngles.Angle(m_nav.Shown());
    }
    UpdatePanels();
    UpdatePageButtons();
    SimpleModeAction->setText(QStringLiteral("Simple mode"));
    if (wasVisible) show();
    ImgView32->Invalidate();
    UpdateActions();
}

std::vector<QAction*> TMainForm::SimpleModeDisabledActions() const {
    return {ZoomFitAction, ZoomRealAction, NextAction, PreviousAction, ZoomInAction, ZoomOutAction};
}

void TMainForm::ApplySimpleGeometry() {
    if (!SimpleMode) return;
    resize(std::max(SimpleWidth, 1), std::max(SimpleHeight, 1));
    setWindowOpacity(Opacity(SimpleBlend));
}
