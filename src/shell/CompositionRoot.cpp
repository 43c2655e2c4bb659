// The composition root: which windows a run has and how they reach each other.
//
// Each window owns a small port (std::function members in its own header) and knows
// no other window; the root fills the ports. The one file that wires each window:
//
//   viewer     (viewer/FormVekMain.h, Ports and WallpaperSetter)   shell/ViewerWiring.cpp
//   slideshow  (slideshow/FormVekSlideShow.h, RotationOf ... ViewerScreen)
//                                                                  shell/SlideShowWiring.cpp
//   wizard     (authoring/FormVekWizard.h, RotationOf, PlaySlideShow, ShowViewer)
//                                                                  shell/WizardWiring.cpp
//   settings   (settings/FormVekSettings.h, OnShortcutsLoaded, and the dialog's round
//               trip the viewer asks for)                          shell/SettingsWiring.cpp
//
// Which windows a run makes, and which is its main window, is decided by the start-up
// roles in shell/Startup.cpp. The slideshow description the windows share is owned
// here and lent to the windows that play, edit or show it.

#include "shell/CompositionRoot.h"

#include "loading/ColourManagement.h"
#include "platform/WindowSystem.h"

#include "authoring/FormVekWizard.h"
#include "settings/FormVekSettings.h"
#include "slideshow/FormVekSlideShow.h"
#include "viewer/FormVekMain.h"

TCompositionRoot::TCompositionRoot() {
    // Pictures with their own colour profile are converted to the display's.
    SetDisplayProfile(ReadDisplayProfile());
}

TCompositionRoot::~TCompositionRoot() {
    Clear();
    // The settings dialog first, the viewer last, as the windows always went.
    m_ownSettings.reset();
    m_ownSlideShow.reset();
    m_ownWizard.reset();
    m_ownViewer.reset();
}

TMainForm& TCompositionRoot::MakeViewer() {
    m_ownViewer = std::make_unique<TMainForm>(m_context);
    Adopt(*m_ownViewer);
    return *m_ownViewer;
}

TWizardForm& TCompositionRoot::MakeWizard() {
    m_ownWizard = std::make_unique<TWizardForm>(m_context, m_slideshow);
    Adopt(*m_ownWizard);
    return *m_ownWizard;
}

TSlideShowForm& TCompositionRoot::MakeSlideShow() {
    m_ownSlideShow = std::make_unique<TSlideShowForm>(m_context, m_slideshow);
    Adopt(*m_ownSlideShow);
    return *m_ownSlideShow;
}

TSettingsForm& TCompositionRoot::MakeSettings() {
    m_ownSettings = std::make_unique<TSettingsForm>(m_slideshow);
    Adopt(*m_ownSettings);
    return *m_ownSettings;
}

void TCompositionRoot::Adopt(TMainForm& viewer) {
    m_viewer = &viewer;
    WireWindows();
}

void TCompositionRoot::Adopt(TWizardForm& wizard) {
    m_wizard = &wizard;
    WireWindows();
}

void TCompositionRoot::Adopt(TSlideShowForm& show) {
    m_slideShow = &show;
    WireWindows();
}

void TCompositionRoot::Adopt(TSettingsForm& settings) {
    m_settings = &settings;
    WireWindows();
}

TMainForm* TCompositionRoot::Viewer() const {
    return m_viewer;
}

TWizardForm* TCompositionRoot::Wizard() const {
    return m_wizard;
}

TSlideShowForm* TCompositionRoot::SlideShow() const {
    return m_slideShow;
}

TSettingsForm* TCompositionRoot::Settings() const {
    return m_settings;
}

void TCompositionRoot::WireWindows() {
    // Every port is filled from scratch each time, so the order in which the windows
    // are made does not matter.
    WireSettings();
    WireViewer();
    WireSlideShow();
    WireWizard();
}

void TCompositionRoot::Clear() {
    m_context.Clear();
    m_viewer = nullptr;
    m_wizard = nullptr;
    m_slideShow = nullptr;
    m_settings = nullptr;
}
