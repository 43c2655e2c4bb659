#pragma once

class QObject;
class TMainForm;
class TWizardForm;
class TSlideShowForm;
class TSettingsForm;

// How the windows of one run reach each other, and nothing more: the windows of
// the run and which of them is the main window. Services (loaders, the settings
// store, timers) belong to the window that uses them and start-up knowledge to
// the start-up code, so that this does not become a locator of everything.
//
// The start-up code fills it while it creates the windows and clears it before
// they go; a window that is not part of the run's role stays null.
class TAppContext final {
public:
    TAppContext() = default;
    TAppContext(const TAppContext&) = delete;
    TAppContext& operator=(const TAppContext&) = delete;

    TMainForm* MainForm = nullptr;
    TWizardForm* WizardForm = nullptr;
    TSlideShowForm* SlideShowForm = nullptr;
    TSettingsForm* SettingsForm = nullptr;

    // The first window created: closing it ends the program, closing any other
    // window only hides it.
    void SetMainWindow(const QObject* window) { m_mainWindow = window; }
    [[nodiscard]] bool IsMainWindow(const QObject* window) const {
        return window != nullptr && window == m_mainWindow;
    }

    // Every window's close handler ends with this: a close the window accepted
    // ends the program when it was the main window.
    void WindowClosed(const QObject* window, bool accepted) const;

    // Forgets every window, so nothing reaches one once they start to go.
    void Clear();

private:
    const QObject* m_mainWindow = nullptr;
};
