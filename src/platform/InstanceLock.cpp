#include "platform/InstanceLock.h"

#include "platform/RuntimeFolder.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

int FlockRetry(int fd, int op) {
    int rc;
    do rc = ::flock(fd, op);
    while (rc != 0 && errno == EINTR);
    return rc;
}

int OpenLockFile(const QString& path) {
    return ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
}

// Held around the probe and the downgrade, which the kernel does not do as one step:
// two starts in the same instant then take turns, and the second sees the first. A
// holder that stops inside is waited for only briefly.
class TProbeGuard {
public:
    explicit TProbeGuard(const QString& path) : m_fd(OpenLockFile(path)) {
        if (m_fd < 0) return;
        for (int attempt = 0; attempt < 250; ++attempt) {
            if (FlockRetry(m_fd, LOCK_EX | LOCK_NB) == 0) return;
            ::usleep(2000);
        }
    }
    ~TProbeGuard() {
        if (m_fd >= 0) ::close(m_fd);
    }
    TProbeGuard(const TProbeGuard&) = delete;
    TProbeGuard& operator=(const TProbeGuard&) = delete;

private:
    int m_fd;
};

} // namespace

TInstanceLock::TInstanceLock(const QString& name) {
    const QString folder = RuntimeFolder();
    if (folder.isEmpty()) return;
    m_base = folder + '/' + name.toLower();
    const TProbeGuard guard(m_base + QStringLiteral(".guard"));
    m_fd = OpenLockFile(m_base + QStringLiteral(".lock"));
    if (m_fd < 0) return;
    if (FlockRetry(m_fd, LOCK_EX | LOCK_NB) != 0) {
        m_existedBefore = errno == EWOULDBLOCK;
    }
    TakeShared();
}

void TInstanceLock::TakeShared() {
    // Downgrade (or join the others). Another start may hold its exclusive probe
    // for a moment, so retry briefly rather than block behind a stopped process.
    m_held = false;
    for (int attempt = 0; attempt < 50 && !m_held; ++attempt) {
        m_held = FlockRetry(m_fd, LOCK_SH | LOCK_NB) == 0;
        if (!m_held) ::usleep(2000);
    }
}

bool TInstanceLock::HeldByOthers() {
    if (m_fd < 0) return false;
    const TProbeGuard guard(m_base + QStringLiteral(".guard"));
    // flock converts our shared lock by dropping it first, so the probe sees only
    // the other holders; under the guard no start probes in between, and the
    // shared lock is taken back at once.
    const bool others = FlockRetry(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    TakeShared();
    return others;
}

TInstanceLock::~TInstanceLock() {
    if (m_fd >= 0) ::close(m_fd);
}
