#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TFileLock::TFileLock(const QString& path) {
    const QByteArray name = QFile::encodeName(path + QStringLiteral(".lock"));
    m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) return;
    int rc;
    do rc = ::flock(m_fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
}

TFileLock::~TFileLock() {
    if (m_fd >= 0) ::close(m_fd); // releases the lock
}

bool WriteFileAtomically(const QString& path, const QByteArray& data, QString* error,
                         bool ownerOnly) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const bool ok =
        file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
        (!ownerOnly || file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) &&
        file.write(data) == data.size() && file.commit();
    if (!ok && error) *error = file.errorString();
    return ok;
}
