#include "platform/RuntimeFolder.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder we may put sockets in: ours, not writable by others.
bool IsPrivateFolder(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 0077) == 0;
}

} // namespace

QString RuntimeFolder() {
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg) && IsPrivateFolder(xdg)) return xdg;
    const QString fallback = QStringLiteral("/tmp/pictrel-") + QString::number(::getuid());
    const QByteArray native = QFile::encodeName(fallback);
    ::mkdir(native.constData(), 0700); // fails harmlessly when it exists
    return IsPrivateFolder(fallback) ? fallback : QString();
}
