// The viewer's port: the slideshow, the wizard and the settings dialog it starts, the
// pictures a later slideshow plays, and the desktop wallpaper.

#include "authoring/FormVekWizard.h"
#include "settings/FormVekSettings.h"
#include "shell/CompositionRoot.h"
#include "shell/Wallpaper.h"
#include "slideshow/FormVekSlideShow.h"
#include "viewer/FormVekMain.h"

#include <utility>

void TCompositionRoot::WireViewer() {
    TMainForm* viewer = m_viewer;
    if (viewer == nullptr) return;
    TMainForm::TPorts ports;
    ports.SlideshowImages = [this](const QStringList& images) { m_slideshow.ImageList = images; };
    if (m_slideShow)
        ports.PlaySlideShow = [this](int index, TVekMultipageBitmap& pages, TBitmap32&& shown,
                                     const QString& shownFile) {
            if (TSlideShowForm* show = m_slideShow)
                show->StartFromViewer(index, pages, std::move(shown), shownFile);
        };
    if (m_wizard)
        ports.OpenWizard = [this] {
            TWizardForm* wizard = m_wizard;
            if (wizard == nullptr) return;
            wizard->ReturnToViewer = true;
            wizard->show();
            wizard->GoToPage(0);
            wizard->raise();
            wizard->activateWindow();
        };
    if (m_settings) ports.OpenSettings = [this] { RunSettings(); };
    viewer->Ports = std::move(ports);
    // A setter given before (tests give their own) is kept.
    if (!viewer->Commands.WallpaperSetter)
        viewer->Commands.WallpaperSetter = [](const TBitmap32& picture, TWallpaperStyle style,
                                              int w,
                                              int h) { return SetWallpaper(picture, style, w, h); };
    viewer->PortsChanged();
}
