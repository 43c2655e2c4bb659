#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at `path` with `data` in one step: the bytes go to a temporary
// file beside it, which is renamed over the old one only when all of them were
// written, so a reader sees the old file or the new one, never a part. Missing
// folders on the way are created. The writing is unbuffered, so that a failed write
// is noticed (a failed flush of buffered data would still be committed). False on
// failure, with the reason in `error` when given; the old file is then untouched.
//
// With `ownerOnly` the file is readable and writable by its owner alone (0600):
// settings and the list of turned files name the user's pictures.
// Holds the exclusive lock of `path` + ".lock" (made if missing) until it goes, so
// that Pictrel processes read, merge and write a shared file one at a time.
class TFileLock {
public:
    explicit TFileLock(const QString& path);
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;
    // False when the lock file could not be opened (nothing is held then).
    [[nodiscard]] bool Held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

bool WriteFileAtomically(const QString& path, const QByteArray& data, QString* error = nullptr,
                         bool ownerOnly = false);
