#include "platform/HandOffServer.h"

#include "platform/HandOff.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cstdio>
#include <exception>

namespace {

constexpr qsizetype kMaxLine = 256;
constexpr int kClientTimeoutMs = 2000;

} // namespace

THandOffServer::THandOffServer() = default;

THandOffServer::~THandOffServer() {
    if (m_server) m_server->close(); // removes the socket file
}

QString THandOffServer::SocketPath() const {
    return m_server ? m_server->fullServerName() : QString();
}

bool THandOffServer::Listen() {
    const QString path = HandOffSocketPath(QCoreApplication::applicationPid());
    if (path.isEmpty()) return false;
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A file of that name can only be left by an earlier process with our pid.
    QLocalServer::removeServer(path);
    if (!m_server->listen(path)) {
        m_server.reset();
        return false;
    }
    QLocalServer* server = m_server.get();
    QObject::connect(server, &QLocalServer::newConnection, server, [this, server] {
        while (QLocalSocket* client = server->nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            QTimer::singleShot(kClientTimeoutMs, client, [client] { client->abort(); });
            QObject::connect(client, &QLocalSocket::readyRead, client, [this, client] {
                if (!client->canReadLine()) {
                    if (client->bytesAvailable() > kMaxLine) client->abort();
                    return;
                }
                const QByteArray line = client->readLine(kMaxLine + 1).trimmed();
                const bool handOff = line == kHandOffMessage;
                // The token is sent in the same write as the message, so it is here
                // already when it comes at all.
                QByteArray token;
                if (handOff && client->canReadLine()) {
                    const QByteArray next = client->readLine(kMaxLine + 1).trimmed();
                    if (next.startsWith(kHandOffTokenPrefix))
                        token = next.mid(qsizetype(sizeof kHandOffTokenPrefix) - 1);
                    if (!ValidActivationToken(token)) token.clear();
                }
                // One message per client: nothing it sends later is read.
                QObject::disconnect(client, &QLocalSocket::readyRead, client, nullptr);
                if (handOff && m_hold) {
                    m_waiting.push_back({client, token});
                    return;
                }
                Answer(client, handOff, token);
            });
        }
    });
    return true;
}

void THandOffServer::HoldReplies(bool hold) {
    m_hold = hold;
    // A handler may hold again, or run the event loop and add to the list.
    while (!m_hold && !m_waiting.empty()) {
        const TWaiting waiting = m_waiting.front();
        m_waiting.erase(m_waiting.begin());
        // A sender that gave up meanwhile asked again or ended: nobody to answer.
        if (waiting.Client && waiting.Client->state() == QLocalSocket::ConnectedState)
            Answer(waiting.Client, true, waiting.Token);
    }
}

void THandOffServer::Answer(QLocalSocket* socket, bool handOff, const QByteArray& token) {
    // The handler may run the event loop, where the client can go.
    const QPointer<QLocalSocket> client(socket);
    std::uint32_t reply = 0;
    if (handOff && OnMessage) {
        try {
            reply = OnMessage();
            if (reply == kHandOffAccepted && !token.isEmpty() && OnActivationToken)
                OnActivationToken(token);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "pictrel: hand-off failed: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "pictrel: hand-off failed\n");
        }
    }
    if (!client) return;
    client->write(QByteArray::number(reply) + '\n');
    client->flush();
    client->disconnectFromServer();
}
