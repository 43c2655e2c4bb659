// The viewer's side of the slideshow and the wizard: starting the show from the shown
// picture, taking the picture back when it ends, and giving way to the wizard. The
// other windows are reached through Ports only.

#include "gfx/ImgView32Widget.h"
#include "viewer/FormVekMain.h"

#include <QAction>

#include <algorithm>
#include <utility>

void TMainForm::PortsChanged() {
    Actions.SettingsAction->setEnabled(Ports.OpenSettings != nullptr);
    Actions.SlideShowAction->setEnabled(Ports.PlaySlideShow != nullptr && !FileList.isEmpty());
    Actions.WizardSlideShowAction->setEnabled(Ports.OpenWizard != nullptr);
    if (Toolbars) UpdateToolbar();
}

void TMainForm::ReturnFromSlideShow(const QString& fileName) {
    // The show's list is the viewer's; its picture is found there by name.
    m_nav.ShowFile(fileName);
    AfterNavigation();
    if (isVisible()) {
        raise();
        activateWindow();
    }
}

void TMainForm::SlideShowActionExecute() {
    if (!Ports.PlaySlideShow || FileList.isEmpty()) return;
    // The picture on screen (its first page, fully decoded) goes to the show, which fits
    // it on a worker and fades it in at once; anything else it decodes itself.
    const bool handOver = ImageLoaded && !LoadFailed && PageIndex == 0 && m_nav.ShownIsCurrent() &&
                          !ImgView32->Bitmap.Empty();
    const QString shownFile = handOver ? m_nav.Shown() : QString();
    TBitmap32 shown;
    if (handOver) shown.SwapPixels(ImgView32->Bitmap);
    VekImageLoaderPro.Cancel();
    const int index = std::max(m_nav.ShownIndex(), 0);
    m_display->Clear();
    UpdateToolbar();
    Ports.PlaySlideShow(index, VekMultipageBitmap, std::move(shown), shownFile);
}

void TMainForm::WizardSlideShowActionExecute() {
    if (!Ports.OpenWizard) return;
    Ports.OpenWizard();
    hide();
}
