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

} // namespace

TInstanceLock::TInstanceLock(const QString& name) {
    const QString folder = RuntimeFolder();
    if (folder.isEmpty()) return;
    const QByteArray path =
        QFile::encodeName(folder + '/' + name.toLower() + QStringLiteral(".lock"));
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) return;
    if (FlockRetry(m_fd, LOCK_EX | LOCK_NB) != 0) {
        m_existedBefore = errno == EWOULDBLOCK;
    }
    // Downgrade (or join the others). Another start may hold its exclusive probe
    // for a moment, so retry briefly rather than block behind a stopped process.
    for (int attempt = 0; attempt < 50 && !m_held; ++attempt) {
        m_held = FlockRetry(m_fd, LOCK_SH | LOCK_NB) == 0;
        if (!m_held) ::usleep(2000);
    }
}

TInstanceLock::~TInstanceLock() {
    if (m_fd >= 0) ::close(m_fd);
}
