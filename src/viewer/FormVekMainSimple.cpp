// Simple mode as the window shows it: no toolbars, no panels, the picture fitted to the
// frame. The frame itself is TViewerSimpleMode's.

#include "gfx/ImgView32Widget.h"
#include "layers/VekAdditionalLayers.h"
#include "viewer/FormVekMain.h"

void TMainForm::EnterSimpleMode() {
    if (Simple.SimpleMode) return;
    const bool wasVisible = isVisible();
    hide();
    Actions.SetSimpleMode(true);
    Simple.Enter();
    Toolbars->MainToolbar->SetVisible(false);
    Toolbars->PagesToolbar->SetVisible(false);
    UpdatePanels();
    if (wasVisible) show();
    ImgView32->Invalidate();
}

void TMainForm::LeaveSimpleMode() {
    if (!Simple.SimpleMode) return;
    const bool wasVisible = isVisible();
    hide();
    Actions.SetSimpleMode(false);
    Simple.Leave();
    Toolbars->MainToolbar->SetVisible(true);
    // The panels and the turn belong to the shown file, which a prefetch may have
    // made other than the loader's current one.
    if (ImageLoaded) {
        Panels->Fill();
        Zoom.RotationAngle = RotateAngles.Angle(m_nav.Shown());
    }
    UpdatePanels();
    UpdatePageButtons();
    if (wasVisible) show();
    ImgView32->Invalidate();
    UpdateActions();
}
