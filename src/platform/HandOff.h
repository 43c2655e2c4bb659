#pragma once

#include <QString>

#include <cstdint>

// The hand-off between a second start and the running viewer: every instance
// listens on a local socket "pictrel-<pid>" in the runtime folder; a second start
// sends the message line to each in turn and stops at the first reply 13.
inline constexpr char kHandOffMessage[] = "Pictrel Message";
inline constexpr std::uint32_t kHandOffAccepted = 13;
inline constexpr int kHandOffTimeoutMs = 500;

// Full path of the socket of process `pid` (empty without a runtime folder).
[[nodiscard]] QString HandOffSocketPath(qint64 pid);

struct THandOffResult {
    std::uint32_t Reply = 0; // the last reply; 13 when a viewer took the file
    QString Socket;          // the socket that answered 13
    int Asked = 0;           // sockets that were asked
    int Removed = 0;         // dead sockets removed
};

// Sends the hand-off message to every other instance's socket, newest first,
// waiting at most `timeoutMs` for each, until one answers 13. Sockets whose
// process is gone are removed. Never blocks longer than `timeoutMs` per socket.
THandOffResult SendHandOffMessage(int timeoutMs = kHandOffTimeoutMs);
