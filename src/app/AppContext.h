#pragma once

class QObject;
class TMainForm;
class TWizardForm;
class TSlideShowForm;
class TSettingsForm;

// How the windows of one run reach each other. The start-up code fills it while
// it creates the windows and clears it before they go; a window that is not part
// of the run's role stays null.
class TAppContext {
public:
    TMainForm* MainForm = nullptr;
    TWizardForm* WizardForm = nullptr;
    TSlideShowForm* SlideShowForm = nullptr;
    TSettingsForm* SettingsForm = nullptr;

    // The first window created: closing it ends the program, closing any other
    // window only hides it.
    const QObject* MainWindow = nullptr;

    [[nodiscard]] bool IsMainWindow(const QObject* window) const {
        return window != nullptr && window == MainWindow;
    }
};
