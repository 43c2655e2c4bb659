#pragma once

#include "app/AppContext.h"
#include "show/VekSettingsFile.h"

#include <QPointer>

#include <functional>
#include <memory>

class TMainForm;
class TSettingsForm;
class TSlideShowForm;
class TWizardForm;

// The one place that knows every window: it makes the windows of a run, fills each
// window's port with what the others offer, and owns what they share (the slideshow
// description and the run's main window). A window that is not part of the run
// leaves the ports that would reach it empty, so the command that needs it stays
// disabled. See CompositionRoot.cpp for the file that wires each window.
class TCompositionRoot final {
public:
    TCompositionRoot();
    ~TCompositionRoot();
    TCompositionRoot(const TCompositionRoot&) = delete;
    TCompositionRoot& operator=(const TCompositionRoot&) = delete;

    // The slideshow description the windows share: the viewer's folder, the
    // wizard's pages, what the show plays and what the settings dialog edits.
    [[nodiscard]] TVekSettingsFile& Slideshow() { return m_slideshow; }
    [[nodiscard]] TAppContext& Context() { return m_context; }

    // Makes a window of the run (owned by the root) and wires it to the windows
    // already made, and them to it.
    TMainForm& MakeViewer();
    TWizardForm& MakeWizard();
    TSlideShowForm& MakeSlideShow();
    TSettingsForm& MakeSettings();

    // Wires a window made elsewhere, as Make* does (tests make their own). The window
    // must be made with Context() and Slideshow(), and go before the root.
    void Adopt(TMainForm& viewer);
    void Adopt(TWizardForm& wizard);
    void Adopt(TSlideShowForm& show);
    void Adopt(TSettingsForm& settings);

    // The windows of the run; null when not part of it (or gone).
    [[nodiscard]] TMainForm* Viewer() const;
    [[nodiscard]] TWizardForm* Wizard() const;
    [[nodiscard]] TSlideShowForm* SlideShow() const;
    [[nodiscard]] TSettingsForm* Settings() const;

    // Runs the settings dialog modally: its exec() unless replaced (tests close it
    // themselves and return its result).
    std::function<int(TSettingsForm& form)> ExecSettings;

    // Forgets every window and the main window: no port reaches a window once the
    // windows start to go.
    void Clear();

private:
    void WireWindows();
    // One per window, each in its own file (see CompositionRoot.cpp).
    void WireViewer();
    void WireSlideShow();
    void WireWizard();
    void WireSettings();
    // The settings dialog's round trip from the viewer.
    void RunSettings();

    TAppContext m_context;
    // Declared before the windows: they use it until they are gone.
    TVekSettingsFile m_slideshow;
    QPointer<TMainForm> m_viewer;
    QPointer<TWizardForm> m_wizard;
    QPointer<TSlideShowForm> m_slideShow;
    QPointer<TSettingsForm> m_settings;
    // The windows the root made, in the order they go: settings, show, wizard, viewer.
    std::unique_ptr<TMainForm> m_ownViewer;
    std::unique_ptr<TWizardForm> m_ownWizard;
    std::unique_ptr<TSlideShowForm> m_ownSlideShow;
    std::unique_ptr<TSettingsForm> m_ownSettings;
};
