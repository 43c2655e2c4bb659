#include "platform/ScreenSaverInhibitor.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <optional>

struct TScreenSaverInhibitor::TService {
    QString Service;
    QString Path;
    QString Interface;
    std::optional<std::uint32_t> Cookie;
    bool Asking = false;
    // Answers to older requests than this are stale.
    std::uint64_t Generation = 0;
};

namespace {

// A bus call must never keep the window waiting long; the answers come back async.
constexpr int kCallTimeoutMs = 2000;

} // namespace

TScreenSaverInhibitor::TScreenSaverInhibitor() : TScreenSaverInhibitor(std::nullopt) {}

TScreenSaverInhibitor::TScreenSaverInhibitor(const QDBusConnection& connection)
    : TScreenSaverInhibitor(std::optional<QDBusConnection>(connection)) {}

TScreenSaverInhibitor::TScreenSaverInhibitor(std::optional<QDBusConnection> connection)
    : m_connection(std::move(connection)),
      m_screenSaver(std::make_unique<TService>(
          TService{QStringLiteral("org.freedesktop.ScreenSaver"),
                   QStringLiteral("/org/freedesktop/ScreenSaver"),
                   QStringLiteral("org.freedesktop.ScreenSaver"), std::nullopt, false, 0})),
      m_power(std::make_unique<TService>(TService{
          QStringLiteral("org.freedesktop.PowerManagement"),
          QStringLiteral("/org/freedesktop/PowerManagement/Inhibit"),
          QStringLiteral("org.freedesktop.PowerManagement.Inhibit"), std::nullopt, false, 0})),
      m_context(std::make_unique<QObject>()) {}

TScreenSaverInhibitor::~TScreenSaverInhibitor() {
    Release();
    // Pending answers die with their context.
    m_context.reset();
}

QDBusConnection& TScreenSaverInhibitor::Connection() {
    if (!m_connection) m_connection = QDBusConnection::sessionBus();
    return *m_connection;
}

int TScreenSaverInhibitor::Held() const {
    return int(m_screenSaver->Cookie.has_value()) + int(m_power->Cookie.has_value());
}

bool TScreenSaverInhibitor::Waiting() const {
    return m_screenSaver->Asking || m_power->Asking;
}

bool TScreenSaverInhibitor::Inhibit(const QString& application, const QString& reason) {
    if (!Connection().isConnected()) return false;
    if (m_wanted) return true;
    m_wanted = true;
    Ask(*m_screenSaver, application, reason);
    Ask(*m_power, application, reason);
    return true;
}

void TScreenSaverInhibitor::Ask(TService& service, const QString& application,
                                const QString& reason) {
    if (service.Asking || service.Cookie) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        service.Service, service.Path, service.Interface, QStringLiteral("Inhibit"));
    call << application << reason;
    service.Asking = true;
    const std::uint64_t generation = ++service.Generation;
    auto* watcher =
        new QDBusPendingCallWatcher(Connection().asyncCall(call, kCallTimeoutMs), m_context.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_context.get(),
                     [this, &service, generation](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         if (generation != service.Generation) return;
                         service.Asking = false;
                         const QDBusPendingReply<std::uint32_t> reply = *w;
                         // No such service (or it refused): the show goes on without.
                         if (reply.isError()) return;
                         service.Cookie = reply.value();
                         // Released while the answer was on its way.
                         if (!m_wanted) GiveBack(service);
                     });
}

void TScreenSaverInhibitor::GiveBack(TService& service) {
    if (!service.Cookie) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        service.Service, service.Path, service.Interface, QStringLiteral("UnInhibit"));
    call << *service.Cookie;
    service.Cookie.reset();
    // Nobody waits for the answer.
    Connection().send(call);
}

void TScreenSaverInhibitor::Release() {
    m_wanted = false;
    // Nothing was asked on a bus never reached.
    if (!m_connection || !m_connection->isConnected()) return;
    GiveBack(*m_screenSaver);
    GiveBack(*m_power);
}
