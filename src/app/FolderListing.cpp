#include "app/FolderListing.h"

#include <QDir>
#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

namespace {

QString AsciiLower(QString text) {
    for (QChar& c : text)
        if (c >= u'A' && c <= u'Z') c = QChar(c.unicode() + (u'a' - u'A'));
    return text;
}

// The test with the filter already lower-cased.
bool ExtensionInLowerFilter(const QString& path, const QString& lowerFilter) {
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || dot < slash || dot + 1 == path.size()) return false;
    return lowerFilter.contains(AsciiLower(path.mid(dot + 1)));
}

} // namespace

bool ExtensionMatches(const QString& path, const QString& filter) {
    return ExtensionInLowerFilter(path, AsciiLower(filter));
}

QStringList ListFiles(const QString& folder, bool fullPaths, const QString& filter) {
    QStringList result;
    QString base = QDir(folder).absolutePath();
    if (!base.endsWith(u'/')) base += u'/';
    const QString lowerFilter = AsciiLower(filter);

    DIR* dir = ::opendir(QFile::encodeName(base).constData());
    if (dir == nullptr) return result;
    while (const dirent* e = ::readdir(dir)) {
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
        const QString name = QFile::decodeName(e->d_name);
        if (!lowerFilter.isEmpty() && !ExtensionInLowerFilter(name, lowerFilter)) continue;
        result.append(fullPaths ? base + name : name);
    }
    ::closedir(dir);
    return result;
}
