#pragma once

#include <QDBusConnection>
#include <QString>

#include <memory>

// Keeps the screen saver and the display's power saving away while a slideshow plays,
// through the desktop's inhibition services on the session bus
// (org.freedesktop.ScreenSaver, and org.freedesktop.PowerManagement where it runs).
// Release hands back exactly the inhibitions taken, so the user's own settings return
// as they were. Without a session bus or the services nothing happens.
//
// The calls are asynchronous: the GUI thread never waits for the bus. An answer that
// arrives after Release was asked for, or after the inhibitor went, is given back at once.
class TScreenSaverInhibitor {
public:
    TScreenSaverInhibitor();
    // On another connection (tests use a private bus).
    explicit TScreenSaverInhibitor(const QDBusConnection& connection);
    ~TScreenSaverInhibitor();
    TScreenSaverInhibitor(const TScreenSaverInhibitor&) = delete;
    TScreenSaverInhibitor& operator=(const TScreenSaverInhibitor&) = delete;

    // Asks the services to inhibit; false when there is no bus. A second call before
    // Release asks nothing more.
    bool Inhibit(const QString& application, const QString& reason);
    // Gives back every inhibition taken or still being asked for.
    void Release();
    // Whether any inhibition is held.
    [[nodiscard]] bool Active() const { return Held() > 0; }
    // The inhibitions granted and not yet given back.
    [[nodiscard]] int Held() const;
    // Whether an answer of the bus is still awaited.
    [[nodiscard]] bool Waiting() const;

    struct TState;

private:
    // Shared with the calls in flight, which may outlive the inhibitor.
    std::shared_ptr<TState> m_state;
};
