#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QLocalServer;

// This instance's end of the hand-off: listens on "pictrel-<pid>" in the runtime
// folder and answers each hand-off message with what `OnMessage` returns (0 when
// it is unset or throws). The handler runs on the thread that owns the server
// (the GUI thread) and must not block. Other lines are answered with 0. Clients
// that send nothing sensible are dropped after a short time; a client that goes
// away before the reply is sent changes nothing here.
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

    std::function<std::uint32_t()> OnMessage;

private:
    std::unique_ptr<QLocalServer> m_server;
};
