#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

// The hand-off between a second start and the running viewer: every instance
// listens on a local socket "pictrel-<pid>" in the runtime folder; a second start
// sends the message line to each in turn and stops at the first reply 13.
inline constexpr char kHandOffMessage[] = "Pictrel Message";
// A start that was given an activation token (Wayland's XDG_ACTIVATION_TOKEN, from
// the launcher that started it) sends it on a second line in the same write, so that
// the viewer taking the file may come to the front with it. An instance that knows
// nothing of tokens reads the first line only.
inline constexpr char kHandOffTokenPrefix[] = "Activation token ";
// What a token may be: printable ASCII without spaces, short enough for one line.
[[nodiscard]] bool ValidActivationToken(const QByteArray& token);
inline constexpr std::uint32_t kHandOffAccepted = 13;
inline constexpr int kHandOffTimeoutMs = 500;
// How long a start keeps asking while no instance answers at all.
inline constexpr int kHandOffRetryMs = 2000;
// How long a start waits for its turn before it hands over without one.
inline constexpr int kHandOffTurnWaitMs = 5000;

// Full path of the socket of process `pid` (empty without a runtime folder).
[[nodiscard]] QString HandOffSocketPath(qint64 pid);

struct THandOffResult {
    std::uint32_t Reply = 0; // the last reply; 13 when a viewer took the file
    QString Socket;          // the socket that answered 13
    int Asked = 0;           // sockets that were asked
    int Answered = 0;        // sockets that replied at all (13 or not)
    int Removed = 0;         // dead sockets removed
};

// Sends the hand-off message to every other instance's socket, newest first,
// waiting at most `timeoutMs` for each, until one answers 13. Sockets whose
// process is gone are removed. Never blocks longer than `timeoutMs` per socket.
// A valid `activationToken` goes along with each message (an invalid one is left out).
THandOffResult SendHandOffMessage(int timeoutMs = kHandOffTimeoutMs,
                                  const QByteArray& activationToken = {});

// SendHandOffMessage, asked again after a short pause (10 ms, doubling up to
// 100 ms) while no socket has answered at all, `worthRetrying` agrees and
// `retryMs` have not passed: an instance that has just taken the marker may not
// listen yet, or may not answer before its windows are up. Any answer ends the
// retries, also one other than 13 (a hidden viewer declines for good). No pass
// starts after `retryMs`.
THandOffResult SendHandOffMessageRetrying(int retryMs, const std::function<bool()>& worthRetrying,
                                          int timeoutMs = kHandOffTimeoutMs,
                                          const QByteArray& activationToken = {});

// One start's turn to hand over: held while it writes its file name and asks, so
// that starts in the same instant hand over one after another and the viewer
// reads each sender's own name. Waits at most `waitMs` for a turn held by another
// start, then goes on without one (Held() false) rather than drop the file.
class THandOffTurn {
public:
    explicit THandOffTurn(int waitMs = kHandOffTurnWaitMs);
    ~THandOffTurn();
    THandOffTurn(const THandOffTurn&) = delete;
    THandOffTurn& operator=(const THandOffTurn&) = delete;

    [[nodiscard]] bool Held() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
};
