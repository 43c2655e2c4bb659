#include "app/FolderListing.h"

#include <QDir>
#include <QFile>

#include <algorithm>

#include <dirent.h>
#include <sys/stat.h>

namespace {

QString AsciiLower(QString text) {
    for (QChar& c : text)
        if (c >= u'A' && c <= u'Z') c = QChar(c.unicode() + (u'a' - u'A'));
    return text;
}

// The filter's entries, lower-cased and trimmed, once per listing.
QStringList FilterEntries(const QString& filter) {
    QStringList entries = AsciiLower(filter).split(u',', Qt::SkipEmptyParts);
    for (QString& e : entries) e = e.trimmed();
    entries.removeAll(QString());
    return entries;
}

bool ExtensionInEntries(const QString& path, const QStringList& entries) {
    const qsizetype slash = path.lastIndexOf(u'/');
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || dot < slash || dot + 1 == path.size()) return false;
    return entries.contains(AsciiLower(path.mid(dot + 1)));
}

} // namespace

bool ExtensionMatches(const QString& path, const QString& filter) {
    return ExtensionInEntries(path, FilterEntries(filter));
}

QStringList ListFiles(const QString& folder, bool fullPaths, const QString& filter) {
    QStringList result;
    QString base = QDir(folder).absolutePath();
    if (!base.endsWith(u'/')) base += u'/';
    const QStringList entries = FilterEntries(filter);

    DIR* dir = ::opendir(QFile::encodeName(base).constData());
    if (dir == nullptr) return result;
    while (const dirent* e = ::readdir(dir)) {
        struct stat st {};
        if (::fstatat(::dirfd(dir), e->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode)) continue;
        const QString name = QFile::decodeName(e->d_name);
        if (!entries.isEmpty() && !ExtensionInEntries(name, entries)) continue;
        result.append(fullPaths ? base + name : name);
    }
    ::closedir(dir);
    return result;
}

namespace {

// Runs of digits compare by value (leading zeros aside), everything else by
// case-folded character; a locale's collation is not used, so the order is the same
// under every locale (the C locale of a service included).
int NaturalCompare(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit()) ++ei;
            while (ej < b.size() && b[ej].isDigit()) ++ej;
            qsizetype si = i, sj = j;
            while (si + 1 < ei && a[si].digitValue() == 0) ++si;
            while (sj + 1 < ej && b[sj].digitValue() == 0) ++sj;
            if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
            for (; si < ei; ++si, ++sj)
                if (a[si].digitValue() != b[sj].digitValue())
                    return a[si].digitValue() < b[sj].digitValue() ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        const char32_t ca = QChar::toCaseFolded(a[i].unicode());
        const char32_t cb = QChar::toCaseFolded(b[j].unicode());
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
    return 0;
}

} // namespace

void SortNatural(QStringList& paths) {
    std::stable_sort(paths.begin(), paths.end(), [](const QString& a, const QString& b) {
        const int c = NaturalCompare(a, b);
        return c != 0 ? c < 0 : a < b;
    });
}
