// The wizard's port: the viewer's turns for its preview, playing the description on
// Finish, and the viewer shown again when a wizard it opened closes.

#include "authoring/FormVekWizard.h"
#include "settings/FormVekSettings.h"
#include "shell/CompositionRoot.h"
#include "slideshow/FormVekSlideShow.h"
#include "viewer/FormVekMain.h"

void TCompositionRoot::WireWizard() {
    TWizardForm* wizard = m_wizard;
    if (wizard == nullptr) return;
    wizard->RotationOf = nullptr;
    wizard->ShowViewer = nullptr;
    if (m_viewer) {
        wizard->RotationOf = [this](const QString& fileName) {
            return m_viewer ? m_viewer->RotateAngles.Angle(fileName) : 0;
        };
        wizard->ShowViewer = [this] {
            if (m_viewer) m_viewer->show();
        };
    }
    wizard->PlaySlideShow = nullptr;
    if (m_slideShow)
        wizard->PlaySlideShow = [this] {
            if (m_slideShow) m_slideShow->StartFromWizard();
        };
}
