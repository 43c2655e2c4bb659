// The viewer's side of the slideshow: starting it from the shown picture and taking
// the picture back when it ends.

#include "app/AppContext.h"
#include "authoring/FormVekWizard.h"
#include "gfx/ImgView32Widget.h"
#include "slideshow/FormVekSlideShow.h"
#include "viewer/FormVekMain.h"

#include <QAction>

#include <algorithm>
#include <utility>

void TMainForm::AttachSlideShowForm() {
    TSlideShowForm* show = m_context.SlideShowForm;
    SlideShowAction->setEnabled(show != nullptr && !FileList.isEmpty());
    WizardSlideShowAction->setEnabled(m_context.WizardForm != nullptr);
    if (MainToolbar) UpdateToolbar();
    if (TWizardForm* wizard = m_context.WizardForm)
        wizard->RotationOf = [this](const QString& fileName) {
            return RotateAngles.Angle(fileName);
        };
    if (show == nullptr) return;
    show->RotationOf = [this](const QString& fileName) { return RotateAngles.Angle(fileName); };
    show->Icons = [this] { return &TBXImageList; };
    show->DialogValues = [this] { return DialogValues; };
    show->ReturnToViewer = [this](const QString& fileName, int) {
        // The show's list is the viewer's; its picture is found there by name.
        m_nav.ShowFile(fileName);
        AfterNavigation();
        if (isVisible()) {
            raise();
            activateWindow();
        }
    };
}

void TMainForm::SlideShowActionExecute() {
    TSlideShowForm* show = m_context.SlideShowForm;
    if (show == nullptr || FileList.isEmpty()) return;
    // The picture on screen (its first page, fully decoded) goes to the show, which fits
    // it on a worker and fades it in at once; anything else it decodes itself.
    const bool handOver = ImageLoaded && !LoadFailed && m_pageIndex == 0 &&
                          m_nav.ShownIsCurrent() && !ImgView32->Bitmap.Empty();
    const QString shownFile = handOver ? m_nav.Shown() : QString();
    TBitmap32 shown;
    if (handOver) shown.SwapPixels(ImgView32->Bitmap);
    VekImageLoaderPro.Cancel();
    VekMultipageBitmap.Stop();
    const int index = std::max(m_nav.ShownIndex(), 0);
    ImgView32->Bitmap.Delete();
    ImageLoaded = false;
    LoadFailed = false;
    PagesToolbarVisible = false;
    ClearPanels();
    ImgView32->Invalidate();
    UpdateToolbar();
    show->StartFromViewer(index, VekMultipageBitmap, std::move(shown), shownFile);
}

void TMainForm::WizardSlideShowActionExecute() {
    TWizardForm* wizard = m_context.WizardForm;
    if (wizard == nullptr) return;
    wizard->ReturnToViewer = true;
    wizard->show();
    wizard->GoToPage(0);
    wizard->raise();
    wizard->activateWindow();
    hide();
}
