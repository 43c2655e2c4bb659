#pragma once

#include <QCoreApplication>
#include <QDBusConnection>
#include <QEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <memory>

namespace pictrel::test {

// A session bus of the test's own (dbus-daemon, ended with the object) and two
// connections to it: one for the fake desktop, one for the program's side. Start
// returns why it could not start (the test skips then), empty when it did.
class TPrivateSessionBus {
public:
    ~TPrivateSessionBus() { Stop(); }

    [[nodiscard]] QString Start() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) return QStringLiteral("dbus-daemon is not installed");
        m_bus.start(daemon, {QStringLiteral("--session"), QStringLiteral("--print-address"),
                             QStringLiteral("--nofork")});
        if (!m_bus.waitForStarted(10000) || !m_bus.waitForReadyRead(10000))
            return QStringLiteral("a private session bus could not be started");
        const QString address = QString::fromUtf8(m_bus.readLine()).trimmed();
        Desktop = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("fake-desktop")));
        Program = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("pictrel")));
        if (!Desktop->isConnected() || !Program->isConnected())
            return QStringLiteral("no connection to the private bus at ") + address;
        return {};
    }

    void Stop() {
        if (m_bus.state() == QProcess::NotRunning) return;
        Desktop.reset();
        Program.reset();
        // Watchers of finished calls go before the bus does.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-desktop"));
        QDBusConnection::disconnectFromBus(QStringLiteral("pictrel"));
        m_bus.kill();
        m_bus.waitForFinished(5000);
    }

    std::unique_ptr<QDBusConnection> Desktop, Program;

private:
    QProcess m_bus;
};

} // namespace pictrel::test
