#include "platform/AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

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
