#include "platform/HandOff.h"

#include "platform/RuntimeFolder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace {

bool ProcessGone(qint64 pid) {
    return pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

bool ValidActivationToken(const QByteArray& token) {
    constexpr qsizetype kMaxToken = 200; // the line stays within what a server reads
    return !token.isEmpty() && token.size() <= kMaxToken &&
           std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 127; });
}

QString HandOffSocketPath(qint64 pid) {
    const QString folder = RuntimeFolder();
    if (folder.isEmpty()) return {};
    return folder + QStringLiteral("/pictrel-") + QString::number(pid);
}

THandOffResult SendHandOffMessage(int timeoutMs, const QByteArray& activationToken) {
    THandOffResult result;
    QByteArray message = QByteArray(kHandOffMessage) + '\n';
    if (ValidActivationToken(activationToken))
        message += kHandOffTokenPrefix + activationToken + '\n';
    const QString folder = RuntimeFolder();
    if (folder.isEmpty()) return result;
    static const QRegularExpression pattern(QStringLiteral("^pictrel-([0-9]{1,10})$"));
    struct TCandidate {
        QString Path;
        qint64 Pid;
        QDateTime Time;
    };
    std::vector<TCandidate> candidates;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::System | QDir::Files);
    for (const QFileInfo& info : entries) {
        const auto match = pattern.match(info.fileName());
        if (!match.hasMatch()) continue;
        candidates.push_back(
            {info.absoluteFilePath(), match.captured(1).toLongLong(), info.lastModified()});
    }
    // The most recently started instance first: the nearest to "topmost".
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const TCandidate& a, const TCandidate& b) { return a.Time > b.Time; });

    for (const TCandidate& candidate : candidates) {
        if (candidate.Pid == QCoreApplication::applicationPid()) continue;
        if (ProcessGone(candidate.Pid)) {
            if (QFile::remove(candidate.Path)) ++result.Removed;
            continue;
        }
        ++result.Asked;
        QDeadlineTimer deadline(timeoutMs);
        QLocalSocket socket;
        socket.connectToServer(candidate.Path);
        if (!socket.waitForConnected(int(std::max<qint64>(deadline.remainingTime(), 0)))) {
            // Refused with its process gone (or gone meanwhile): a stale socket.
            if (socket.error() == QLocalSocket::ConnectionRefusedError &&
                ProcessGone(candidate.Pid) && QFile::remove(candidate.Path))
                ++result.Removed;
            continue;
        }
        // One write, so that the token arrives with the message.
        socket.write(message);
        socket.flush();
        QByteArray answer;
        while (!answer.contains('\n') && answer.size() < 32 && !deadline.hasExpired()) {
            if (socket.bytesAvailable() == 0 &&
                !socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1))))
                break;
            answer += socket.readAll();
        }
        socket.abort();
        bool ok = false;
        const uint reply =
            answer.contains('\n') ? answer.left(answer.indexOf('\n')).trimmed().toUInt(&ok) : 0;
        result.Reply = ok ? reply : 0;
        if (answer.contains('\n')) ++result.Answered;
        if (result.Reply == kHandOffAccepted) {
            result.Socket = candidate.Path;
            break;
        }
    }
    return result;
}

THandOffResult SendHandOffMessageRetrying(int retryMs, const std::function<bool()>& worthRetrying,
                                          int timeoutMs, const QByteArray& activationToken) {
    const QDeadlineTimer deadline(std::max(retryMs, 0));
    int pauseMs = 10;
    THandOffResult result = SendHandOffMessage(timeoutMs, activationToken);
    while (result.Answered == 0 && !deadline.hasExpired() && worthRetrying && worthRetrying()) {
        ::usleep(useconds_t(std::min<qint64>(pauseMs, deadline.remainingTime())) * 1000);
        pauseMs = std::min(pauseMs * 2, 100);
        if (deadline.hasExpired()) break;
        result = SendHandOffMessage(timeoutMs, activationToken);
    }
    return result;
}

THandOffTurn::THandOffTurn(int waitMs) {
    const QString folder = RuntimeFolder();
    if (folder.isEmpty()) return;
    m_fd = ::open(QFile::encodeName(folder + QStringLiteral("/pictrel.handoff")).constData(),
                  O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) return;
    // Polled rather than blocking, so a start that stopped inside its turn is
    // waited for only so long; the kernel ends the turn of a start that dies.
    const QDeadlineTimer deadline(std::max(waitMs, 0));
    for (;;) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
            m_held = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) return;
        if (deadline.hasExpired()) return;
        ::usleep(2000);
    }
}

THandOffTurn::~THandOffTurn() {
    if (m_fd >= 0) ::close(m_fd);
}
