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
                std::uint32_t reply = 0;
                if (line == kHandOffMessage && OnMessage) {
                    try {
                        reply = OnMessage();
                    } catch (const std::exception& e) {
                        std::fprintf(stderr, "pictrel: hand-off failed: %s\n", e.what());
                    } catch (...) {
                        std::fprintf(stderr, "pictrel: hand-off failed\n");
                    }
                }
                client->write(QByteArray::number(reply) + '\n');
                client->flush();
                client->disconnectFromServer();
            });
        }
    });
    return true;
}
