#include "platform/ScreenSaverInhibitor.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>

namespace {

struct TService {
    QString Name;
    // Tried in turn: older desktops export the interface at the short path only.
    QStringList Paths;
    QString Interface;
    // Only a running power manager is asked; none is started for us.
    bool AutoStart = true;
    qsizetype PathIndex = 0;
    std::optional<std::uint32_t> Cookie;
    bool Asking = false;
};

} // namespace

struct TScreenSaverInhibitor::TState {
    // Reached on the first Inhibit: a program that never plays a slideshow never connects.
    std::optional<QDBusConnection> Bus;
    std::array<TService, 2> Services;
    QString Application, Reason;
    bool Wanted = false;
};

namespace {

using TState = TScreenSaverInhibitor::TState;

void GiveBack(TState& state, TService& service) {
    if (!service.Cookie) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service.Name, service.Paths[service.PathIndex],
                                       service.Interface, QStringLiteral("UnInhibit"));
    call << *service.Cookie;
    service.Cookie.reset();
    // Nobody waits for the answer.
    state.Bus->send(call);
}

bool NoSuchMethod(const QDBusError& error) {
    const QDBusError::ErrorType type = error.type();
    return type == QDBusError::UnknownMethod || type == QDBusError::UnknownObject ||
           type == QDBusError::UnknownInterface;
}

void Ask(const std::shared_ptr<TState>& state, std::size_t index) {
    TService& service = state->Services[index];
    QDBusMessage call =
        QDBusMessage::createMethodCall(service.Name, service.Paths[service.PathIndex],
                                       service.Interface, QStringLiteral("Inhibit"));
    call << state->Application << state->Reason;
    call.setAutoStartService(service.AutoStart);
    service.Asking = true;
    // The watcher holds the state, not the inhibitor: an answer still comes home, and is
    // given back, when the inhibitor is gone. The default timeout is long on purpose: a
    // late cookie dropped as a timeout would leave the desktop inhibited.
    auto* watcher = new QDBusPendingCallWatcher(state->Bus->asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [state, index](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         TService& service = state->Services[index];
                         const QDBusPendingReply<std::uint32_t> reply = *w;
                         if (reply.isError()) {
                             if (state->Wanted && NoSuchMethod(reply.error()) &&
                                 service.PathIndex + 1 < service.Paths.size()) {
                                 ++service.PathIndex;
                                 Ask(state, index);
                                 return;
                             }
                             // No such service (or it refused): the show goes on without.
                             service.Asking = false;
                             return;
                         }
                         service.Asking = false;
                         service.Cookie = reply.value();
                         // Released while the answer was on its way.
                         if (!state->Wanted) GiveBack(*state, service);
                     });
}

} // namespace

TScreenSaverInhibitor::TScreenSaverInhibitor() : m_state(std::make_shared<TState>()) {
    TService& screenSaver = m_state->Services[0];
    screenSaver.Name = screenSaver.Interface = QStringLiteral("org.freedesktop.ScreenSaver");
    screenSaver.Paths = {QStringLiteral("/org/freedesktop/ScreenSaver"),
                         QStringLiteral("/ScreenSaver")};
    TService& power = m_state->Services[1];
    power.Name = QStringLiteral("org.freedesktop.PowerManagement");
    power.Paths = {QStringLiteral("/org/freedesktop/PowerManagement/Inhibit")};
    power.Interface = QStringLiteral("org.freedesktop.PowerManagement.Inhibit");
    power.AutoStart = false;
}

TScreenSaverInhibitor::TScreenSaverInhibitor(const QDBusConnection& connection)
    : TScreenSaverInhibitor() {
    m_state->Bus = connection;
}

TScreenSaverInhibitor::~TScreenSaverInhibitor() {
    Release();
}

int TScreenSaverInhibitor::Held() const {
    int held = 0;
    for (const TService& service : m_state->Services) held += service.Cookie ? 1 : 0;
    return held;
}

bool TScreenSaverInhibitor::Waiting() const {
    for (const TService& service : m_state->Services)
        if (service.Asking) return true;
    return false;
}

bool TScreenSaverInhibitor::Inhibit(const QString& application, const QString& reason) {
    if (!m_state->Bus) m_state->Bus = QDBusConnection::sessionBus();
    if (!m_state->Bus->isConnected()) return false;
    if (m_state->Wanted) return true;
    m_state->Wanted = true;
    m_state->Application = application;
    m_state->Reason = reason;
    for (std::size_t i = 0; i < m_state->Services.size(); ++i) {
        const TService& service = m_state->Services[i];
        // A cookie still on its way from before a Release is kept when it comes.
        if (!service.Asking && !service.Cookie) Ask(m_state, i);
    }
    return true;
}

void TScreenSaverInhibitor::Release() {
    m_state->Wanted = false;
    // Nothing was asked on a bus never reached.
    if (!m_state->Bus || !m_state->Bus->isConnected()) return;
    for (TService& service : m_state->Services) GiveBack(*m_state, service);
}
