#include "app/FileHelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <cerrno>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

QString WithDelimiter(QString path) {
    if (!path.endsWith(u'/')) path += u'/';
    return path;
}

QString WithoutDelimiter(QString path) {
    while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
    return path;
}

// A folder we may keep private files in: a real folder (not a link), ours, closed to others.
bool IsPrivateFolder(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

// Scratch folders claimed by this process: folder path -> descriptor of the locked
// claim file. An exclusive flock on "<n>.lock" says "in use"; the kernel drops it
// when the process ends, so a crash leaves no stale claim behind.
std::mutex g_claimsMutex;
std::map<QString, int> g_claims;
std::atomic<int> g_scratchCounter{0};

QByteArray ClaimFileOf(const QString& folder) {
    return Native(folder + QStringLiteral(".lock"));
}

enum class TClaim : std::uint8_t { clTaken, clBusy, clStale, clNone };

// Tries to claim the claim file `name`; `fd` is its locked descriptor when taken.
// A claim file is unlinked by its holder while still locked, so a lock won on a
// descriptor opened before that unlink guards nothing: such a claim is stale and the
// caller tries the same name again.
TClaim TryClaim(const QByteArray& name, int& fd) {
    fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return TClaim::clNone;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd); // another instance works in this folder
        return TClaim::clBusy;
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) != 0 || ::lstat(name.constData(), &named) != 0 ||
        held.st_dev != named.st_dev || held.st_ino != named.st_ino) {
        ::close(fd);
        return TClaim::clStale;
    }
    return TClaim::clTaken;
}

void ReleaseClaim(const QString& folder) {
    std::lock_guard lock(g_claimsMutex);
    const auto it = g_claims.find(WithoutDelimiter(folder));
    if (it == g_claims.end()) return;
    // Unlinked while still locked: whoever opened it meanwhile finds it stale.
    ::unlink(ClaimFileOf(it->first).constData());
    ::close(it->second);
    g_claims.erase(it);
}

// Removes everything inside the folder open as `dirFd` (taken over and closed)
// without following links. Returns false when something could not be removed.
bool EmptyFolderAt(int dirFd) {
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        ::close(dirFd);
        return false;
    }
    // Collect first: removing entries while reading the folder may skip some.
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    const int fd = ::dirfd(dir);
    bool ok = true;
    for (const std::string& name : names) {
        struct stat st {};
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) ok = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            // O_NOFOLLOW: a folder swapped for a link meanwhile is not entered.
            const int sub =
                ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0 || !EmptyFolderAt(sub)) ok = false;
            if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) ok = false;
        } else if (::unlinkat(fd, name.c_str(), 0) != 0) {
            ok = false;
        }
    }
    ::closedir(dir);
    return ok;
}

} // namespace

QString ProgramFolder() {
    if (QCoreApplication::instance() != nullptr)
        return WithDelimiter(QCoreApplication::applicationDirPath());
    return WithDelimiter(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath());
}

QString DataFolder() {
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty()) return ProgramFolder();
    const QString folder = base + QStringLiteral("/Pictrel");
    QDir().mkpath(folder);
    return WithDelimiter(folder);
}

QString TempFolder() {
    const QString folder =
        QDir::tempPath() + QStringLiteral("/Pictrel-") + QString::number(::getuid());
    const QByteArray native = Native(folder);
    ::mkdir(native.constData(), 0700);
    if (IsPrivateFolder(native)) return WithDelimiter(folder);
    // Someone else holds the name in a shared /tmp: keep our files in our own data folder.
    const QString fallback = DataFolder() + QStringLiteral("temp");
    ::mkdir(Native(fallback).constData(), 0700);
    return WithDelimiter(fallback);
}

QString NewScratchFolder() {
    const QString temp = TempFolder();
    for (;;) {
        const QString folder = temp + QString::number(++g_scratchCounter);
        int claim = -1;
        TClaim result = TryClaim(ClaimFileOf(folder), claim);
        while (result == TClaim::clStale) result = TryClaim(ClaimFileOf(folder), claim);
        if (result == TClaim::clBusy) continue;
        // A leftover of an earlier run (or anything else squatting the name) goes first.
        struct stat st {};
        const QByteArray native = Native(folder);
        if (::lstat(native.constData(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                DeleteTree(folder);
            else
                ::unlink(native.constData());
        }
        CreateFolder(folder);
        if (result == TClaim::clTaken) {
            std::lock_guard lock(g_claimsMutex);
            g_claims[folder] = claim;
        }
        return WithDelimiter(folder);
    }
}

bool DeleteTree(const QString& folder) {
    const QString path = WithoutDelimiter(folder);
    if (path.isEmpty() || path == QStringLiteral("/") || !FolderExists(path)) return false;
    const QByteArray native = Native(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    EmptyFolderAt(fd);
    const bool removed = ::rmdir(native.constData()) == 0;
    if (removed) ReleaseClaim(path);
    return removed;
}

QStringList ListSubfolders(const QString& folder, bool fullPaths) {
    QStringList result;
    const QString base = WithDelimiter(folder);
    DIR* dir = ::opendir(Native(base).constData());
    if (dir == nullptr) return result;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), name.constData(), &st, 0) != 0 || !S_ISDIR(st.st_mode))
            continue;
        const QString decoded = QFile::decodeName(name);
        result.append(fullPaths ? base + decoded + u'/' : decoded);
    }
    ::closedir(dir);
    return result;
}

QString CreateFolder(const QString& path) {
    if (path.isEmpty() || ::mkdir(Native(path).constData(), 0777) != 0) return {};
    return path;
}

QString FileExtension(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || dot < slash) return {};
    return path.mid(dot + 1);
}

bool FolderExists(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && ::stat(Native(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && ::stat(Native(path).constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

qint64 FileSizeOf(const QString& path) {
    const int fd = ::open(Native(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    ::close(fd);
    return known ? qint64(st.st_size) : -1;
}

QString FolderOf(const QString& path) {
    return WithDelimiter(QFileInfo(path).absolutePath());
}

int StrToIntOr(const QString& text, int fallback) {
    int start = 0;
    if (!text.isEmpty() && (text[0] == '+' || text[0] == '-')) start = 1;
    if (start >= text.size()) return fallback;
    for (qsizetype i = start; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return fallback;
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : fallback;
}
