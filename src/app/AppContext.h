#pragma once

class QObject;

// Which window of the run is its main window, and nothing more. The windows reach
// each other only through their ports, which the composition root (src/shell)
// fills; services (loaders, the settings store, timers) belong to the window that
// uses them, so that this does not become a locator of everything.
class TAppContext final {
public:
    TAppContext() = default;
    TAppContext(const TAppContext&) = delete;
    TAppContext& operator=(const TAppContext&) = delete;

    // The first window created: closing it ends the program, closing any other
    // window only hides it.
    void SetMainWindow(const QObject* window) { m_mainWindow = window; }
    [[nodiscard]] bool IsMainWindow(const QObject* window) const {
        return window != nullptr && window == m_mainWindow;
    }

    // Every window's close handler ends with this: a close the window accepted
    // ends the program when it was the main window.
    void WindowClosed(const QObject* window, bool accepted) const;

    // Forgets the main window, so no close ends the run once the windows start to go.
    void Clear();

private:
    const QObject* m_mainWindow = nullptr;
};
