#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

// Keeps the screen saver and the display's power saving away while a slideshow plays,
// through the desktop's inhibition services on the session bus
// (org.freedesktop.ScreenSaver, and org.freedesktop.PowerManagement where it exists).
// Release hands back exactly the inhibitions taken, so the user's own settings return
// as they were. Without a session bus or the services nothing happens.
//
// The calls are asynchronous: the GUI thread never waits for the bus. An answer that
// arrives after Release was asked for is released at once.
class TScreenSaverInhibitor {
public:
    TScreenSaverInhibitor();
    // On another connection (tests use a private bus).
    explicit TScreenSaverInhibitor(const QDBusConnection& connection);
    ~TScreenSaverInhibitor();
    TScreenSaverInhibitor(const TScreenSaverInhibitor&) = delete;
    TScreenSaverInhibitor& operator=(const TScreenSaverInhibitor&) = delete;

    // Asks both services to inhibit; false when there is no bus. A second call while
    // inhibiting does nothing.
    bool Inhibit(const QString& application, const QString& reason);
    // Gives back every inhibition taken or still being asked for.
    void Release();
    // Whether an inhibition is held or asked for.
    [[nodiscard]] bool Active() const { return m_wanted; }
    // The inhibitions granted and not yet given back.
    [[nodiscard]] int Held() const;
    // Whether an answer of the bus is still awaited.
    [[nodiscard]] bool Waiting() const;

private:
    explicit TScreenSaverInhibitor(std::optional<QDBusConnection> connection);
    struct TService;
    void Ask(TService& service, const QString& application, const QString& reason);
    void GiveBack(TService& service);

    // The session bus is reached on the first Inhibit: a program that never plays a
    // slideshow never connects.
    [[nodiscard]] QDBusConnection& Connection();
    std::optional<QDBusConnection> m_connection;
    std::unique_ptr<TService> m_screenSaver;
    std::unique_ptr<TService> m_power;
    // Answers arriving after the inhibitor went are dropped through this.
    std::unique_ptr<QObject> m_context;
    bool m_wanted = false;
};
