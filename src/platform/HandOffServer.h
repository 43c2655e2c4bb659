#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QLocalServer;
class QLocalSocket;

// This instance's end of the hand-off: listens on "pictrel-<pid>" in the runtime
// folder and answers each hand-off message with what `OnMessage` returns (0 when
// it is unset or throws). The handler runs on the thread that owns the server
// (the GUI thread) and must not block. Other lines are answered with 0. Clients
// that send nothing sensible are dropped after a short time; a client that goes
// away before the reply is sent changes nothing here.
//
// Replies can be held: the start-up listens as early as it can but holds the
// replies until its main window shows, so that a start arriving meanwhile waits
// for the real answer instead of being told that no viewer is visible.
//
// An activation token that came with a message (see kHandOffTokenPrefix) goes to
// `OnActivationToken` right after `OnMessage` accepted the file (replied 13), before
// the reply is sent; a declined hand-off's token is dropped.
class THandOffServer {
public:
    THandOffServer();
    ~THandOffServer(); // stops listening and removes the socket file
    THandOffServer(const THandOffServer&) = delete;
    THandOffServer& operator=(const THandOffServer&) = delete;

    // Starts listening; false when there is no runtime folder or the socket
    // cannot be created (the instance then simply cannot be reached).
    bool Listen();
    [[nodiscard]] QString SocketPath() const;

    // While held, hand-off messages wait unanswered (their clients stay connected
    // until they give up); releasing answers the waiting ones in arrival order.
    void HoldReplies(bool hold);
    // Messages waiting for their reply.
    [[nodiscard]] int WaitingCount() const { return int(m_waiting.size()); }

    std::function<std::uint32_t()> OnMessage;
    std::function<void(const QByteArray& token)> OnActivationToken;

private:
    struct TWaiting {
        QPointer<QLocalSocket> Client;
        QByteArray Token;
    };

    void Answer(QLocalSocket* socket, bool handOff, const QByteArray& token);

    std::unique_ptr<QLocalServer> m_server;
    bool m_hold = false;
    std::vector<TWaiting> m_waiting;
};
