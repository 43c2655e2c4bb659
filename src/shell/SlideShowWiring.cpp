// The slideshow window's port: what the viewer lends it (turns, toolbar icons, the
// settings dialog's values, the screen it is on) and taking the picture back when a
// show the viewer started ends.

#include "authoring/FormVekWizard.h"
#include "settings/FormVekSettings.h"
#include "shell/CompositionRoot.h"
#include "slideshow/FormVekSlideShow.h"
#include "viewer/FormVekMain.h"

void TCompositionRoot::WireSlideShow() {
    TSlideShowForm* show = m_slideShow;
    if (show == nullptr) return;
    if (m_viewer == nullptr) {
        show->RotationOf = nullptr;
        show->Icons = nullptr;
        show->DialogValues = nullptr;
        show->ReturnToViewer = nullptr;
        show->ViewerScreen = nullptr;
        return;
    }
    show->RotationOf = [this](const QString& fileName) {
        return m_viewer ? m_viewer->RotateAngles.Angle(fileName) : 0;
    };
    show->Icons = [this]() -> const TMenuIcons* {
        return m_viewer ? &m_viewer->TBXImageList : nullptr;
    };
    show->DialogValues = [this] {
        return m_viewer ? m_viewer->DialogValues : TDialogStoreValues::Load();
    };
    show->ReturnToViewer = [this](const QString& fileName, int) {
        if (m_viewer) m_viewer->ReturnFromSlideShow(fileName);
    };
    show->ViewerScreen = [this]() -> QScreen* {
        return m_viewer && m_viewer->isVisible() ? m_viewer->screen() : nullptr;
    };
}
