#include "app/DesktopEntries.h"

#include "app/FileAssociations.h"
#include "app/FileHelpers.h"
#include "app/GuiThread.h"
#include "app/MimeAppsList.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QMimeType>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <sys/stat.h>
#include <utility>

namespace {

constexpr qint64 kMaxDesktopFileSize = 1 << 20;

// The general escapes of string values. An unknown escape is kept as it stands;
// with `listSeparator` "\;" becomes ';' and a bare ';' is returned as '\0' so the
// caller can split on it.
QString Unescape(const QString& value, bool listSeparator = false) {
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (listSeparator && c == u';') {
            out += QChar(0);
            continue;
        }
        if (c != u'\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar n = value[i + 1];
        switch (n.unicode()) {
        case 's':
            out += u' ';
            break;
        case 'n':
            out += u'\n';
            break;
        case 't':
            out += u'\t';
            break;
        case 'r':
            out += u'\r';
            break;
        case '\\':
            out += u'\\';
            break;
        case ';':
            if (listSeparator) {
                out += u';';
                break;
            }
            [[fallthrough]];
        default:
            out += c;
            out += n;
            break;
        }
        ++i;
    }
    return out;
}

QStringList UnescapeList(const QString& value) {
    QStringList items = Unescape(value, true).split(QChar(0));
    items.removeAll(QString());
    return items;
}

bool IsKeyChar(QChar c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
           c == u'-';
}

// A key name with an optional [locale] suffix; `localised` tells which.
bool SplitKey(const QString& key, QString& name, bool& localised) {
    qsizetype i = 0;
    while (i < key.size() && IsKeyChar(key[i])) ++i;
    if (i == 0) return false;
    name = key.left(i);
    localised = i < key.size();
    if (!localised) return true;
    if (key[i] != u'[' || !key.endsWith(u']') || key.size() - i < 3) return false;
    for (qsizetype j = i + 1; j + 1 < key.size(); ++j)
        if (key[j] == u'[' || key[j] == u']' || key[j].isSpace()) return false;
    return true;
}

QStringList SearchFolders(const char* homeVariable, const QString& homeDefault,
                          const char* dirsVariable, const QString& dirsDefault) {
    QStringList folders;
    QString home = qEnvironmentVariable(homeVariable);
    if (home.isEmpty() || !QDir::isAbsolutePath(home)) home = homeDefault;
    folders << home;
    QString dirs = qEnvironmentVariable(dirsVariable);
    if (dirs.isEmpty()) dirs = dirsDefault;
    for (const QString& dir : dirs.split(u':', Qt::SkipEmptyParts))
        if (QDir::isAbsolutePath(dir)) folders << dir;
    return folders;
}

// The program of a command line as a path that can be started; empty when none.
QString FindProgram(const QString& program) {
    if (program.isEmpty()) return {};
    if (program.contains(u'/')) {
        const QFileInfo info(program);
        return info.isAbsolute() && info.isFile() && info.isExecutable() ? program : QString();
    }
    return QStandardPaths::findExecutable(program);
}

bool Launch(const QStringList& argv) {
    const QString program = FindProgram(argv.value(0));
    if (program.isEmpty()) return false;
    return QProcess::startDetached(program, argv.mid(1), QString());
}

std::mutex g_launcherMutex;
TLauncher g_launcher;

bool IsEditorCategory(const QStringList& categories) {
    for (const char* wanted : {"Graphics", "2DGraphics", "RasterGraphics"})
        if (categories.contains(QLatin1String(wanted))) return true;
    return false;
}

bool Qualifies(const TDesktopEntry& entry, const QStringList& mimeNames, const QString& file) {
    if (entry.Type != QLatin1String("Application") || entry.Hidden) return false;
    if (entry.Id == QLatin1String(kViewerDesktopId)) return false;
    if (!IsEditorCategory(entry.Categories)) return false;
    if (std::none_of(mimeNames.begin(), mimeNames.end(),
                     [&](const QString& name) { return entry.MimeTypes.contains(name); }))
        return false;
    if (!entry.TryExec.isEmpty() && FindProgram(entry.TryExec).isEmpty()) return false;
    const std::optional<QStringList> argv = ExpandExec(entry.Exec, file, entry);
    return argv && !FindProgram(argv->first()).isEmpty();
}

} // namespace

std::optional<TDesktopEntry> ParseDesktopEntry(const QByteArray& text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(text);
    if (decoder.hasError()) return std::nullopt;

    TDesktopEntry entry;
    QSet<QString> groups;
    QSet<QString> keys;
    bool inEntryGroup = false;
    bool sawEntryGroup = false;
    for (QString line : decoded.split(u'\n')) {
        if (line.endsWith(u'\r')) line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#')) continue;
        if (trimmed.startsWith(u'[')) {
            if (!trimmed.endsWith(u']') || trimmed.size() < 3) return std::nullopt;
            const QString group = trimmed.mid(1, trimmed.size() - 2);
            if (group.contains(u'[') || group.contains(u']')) return std::nullopt;
            if (groups.contains(group)) return std::nullopt;
            groups.insert(group);
            inEntryGroup = group == QLatin1String("Desktop Entry");
            sawEntryGroup = sawEntryGroup || inEntryGroup;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0 || groups.isEmpty()) return std::nullopt;
        QString name;
        bool localised = false;
        if (!SplitKey(line.left(eq).trimmed(), name, localised)) return std::nullopt;
        if (!inEntryGroup || localised) continue;
        if (keys.contains(name)) return std::nullopt;
        keys.insert(name);
        QString value = line.mid(eq + 1);
        while (!value.isEmpty() && (value[0] == u' ' || value[0] == u'\t')) value.remove(0, 1);

        if (name == QLatin1String("Type"))
            entry.Type = Unescape(value);
        else if (name == QLatin1String("Name"))
            entry.Name = Unescape(value);
        else if (name == QLatin1String("Exec"))
            entry.Exec = Unescape(value);
        else if (name == QLatin1String("TryExec"))
            entry.TryExec = Unescape(value);
        else if (name == QLatin1String("Icon"))
            entry.Icon = Unescape(value);
        else if (name == QLatin1String("MimeType"))
            entry.MimeTypes = UnescapeList(value);
        else if (name == QLatin1String("Categories"))
            entry.Categories = UnescapeList(value);
        else if (name == QLatin1String("NoDisplay"))
            entry.NoDisplay = value.trimmed() == QLatin1String("true");
        else if (name == QLatin1String("Hidden"))
            entry.Hidden = value.trimmed() == QLatin1String("true");
    }
    if (!sawEntryGroup || !keys.contains(QStringLiteral("Type")) ||
        !keys.contains(QStringLiteral("Name")))
        return std::nullopt;
    return entry;
}

std::optional<TDesktopEntry> ReadDesktopEntry(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    // A pipe or device reports no size; reading one byte past the limit catches both.
    const QByteArray text = file.read(kMaxDesktopFileSize + 1);
    if (text.size() > kMaxDesktopFileSize) return std::nullopt;
    std::optional<TDesktopEntry> entry = ParseDesktopEntry(text);
    if (entry) entry->FileName = fileName;
    return entry;
}

std::optional<QStringList> ExpandExec(const QString& exec, const QString& file,
                                      const TDesktopEntry& entry) {
    // Undo the quoting first: the arguments as the program would see them.
    QStringList args;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == u'"') {
                quoted = false;
            } else if (c == u'\\') {
                if (i + 1 == exec.size()) return std::nullopt;
                const QChar n = exec[i + 1];
                if (n == u'"' || n == u'`' || n == u'$' || n == u'\\') {
                    current += n;
                    ++i;
                } else {
                    current += c;
                }
            } else {
                current += c;
            }
            continue;
        }
        if (c == u' ' || c == u'\t' || c == u'\n') {
            if (inArgument) args << current;
            current.clear();
            inArgument = false;
            continue;
        }
        inArgument = true;
        if (c == u'"')
            quoted = true;
        else
            current += c;
    }
    if (quoted) return std::nullopt;
    if (inArgument) args << current;
    if (args.isEmpty()) return std::nullopt;

    const QString url = QString::fromLatin1(QUrl::fromLocalFile(file).toEncoded());
    bool fileUsed = false;
    bool fileCodeSeen = false;
    QStringList argv;
    for (const QString& arg : std::as_const(args)) {
        if (arg == QLatin1String("%i")) {
            if (!entry.Icon.isEmpty()) argv << QStringLiteral("--icon") << entry.Icon;
            continue;
        }
        QString out;
        bool onlyCodes = arg.size() > 0; // nothing but codes that expand to nothing
        for (qsizetype i = 0; i < arg.size(); ++i) {
            if (arg[i] != u'%') {
                out += arg[i];
                onlyCodes = false;
                continue;
            }
            if (i + 1 == arg.size()) return std::nullopt;
            const char16_t code = arg[++i].unicode();
            switch (code) {
            case u'%':
                out += u'%';
                onlyCodes = false;
                break;
            case u'f':
            case u'F':
            case u'u':
            case u'U':
                fileCodeSeen = true;
                if (!fileUsed) {
                    out += (code == u'f' || code == u'F') ? file : url;
                    fileUsed = true;
                    onlyCodes = false;
                }
                break;
            case u'c':
                out += entry.Name;
                onlyCodes = false;
                break;
            case u'k':
                out += entry.FileName;
                onlyCodes = false;
                break;
            case u'd':
            case u'D':
            case u'n':
            case u'N':
            case u'v':
            case u'm':
                break;
            default: // unknown codes, and %i inside a longer argument
                return std::nullopt;
            }
        }
        if (!onlyCodes) argv << out;
    }
    if (argv.isEmpty()) return std::nullopt;
    if (!fileCodeSeen) argv << file;
    return argv;
}

QStringList ApplicationFolders() {
    QStringList folders =
        SearchFolders("XDG_DATA_HOME", QDir::homePath() + QStringLiteral("/.local/share"),
                      "XDG_DATA_DIRS", QStringLiteral("/usr/local/share/:/usr/share/"));
    for (QString& folder : folders) {
        while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
        folder += QStringLiteral("/applications");
    }
    return folders;
}

QStringList MimeAppsFiles() {
    QStringList desktops;
    for (const QString& name :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(u':', Qt::SkipEmptyParts))
        desktops << name.toLower() + QStringLiteral("-mimeapps.list");
    desktops << QStringLiteral("mimeapps.list");
    QStringList folders =
        SearchFolders("XDG_CONFIG_HOME", QDir::homePath() + QStringLiteral("/.config"),
                      "XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
    folders << ApplicationFolders();
    QStringList files;
    for (QString folder : folders) {
        while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
        for (const QString& name : desktops) files << folder + u'/' + name;
    }
    return files;
}

QString DefaultApplicationId(const QString& mimeType) {
    if (mimeType.isEmpty()) return {};
    for (const QString& file : MimeAppsFiles()) {
        if (!QFileInfo(file).isFile()) continue;
        TMimeAppsList list;
        if (!list.Load(file)) continue;
        const QString id = TMimeAppsList::FirstId(list.Default(mimeType));
        if (!id.isEmpty()) return id;
    }
    return {};
}

namespace {

std::atomic<int> g_guiThreadScans{0};

// Reads every entry of `folders`; `subfolders` receives the folders below them.
std::vector<TDesktopEntry> ScanDesktopEntries(const QStringList& folders, QStringList* subfolders) {
    if (IsGuiThread()) ++g_guiThreadScans;
    std::vector<TDesktopEntry> entries;
    QSet<QString> seen;
    for (const QString& folder : folders) {
        const QDir root(folder);
        std::vector<std::pair<QString, QString>> files; // id, path
        QDirIterator it(folder, {QStringLiteral("*.desktop")},
                        QDir::Files | QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Readable,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (it.fileInfo().isDir()) {
                if (subfolders != nullptr) subfolders->append(path);
                continue;
            }
            QString id = root.relativeFilePath(path);
            id.replace(u'/', u'-');
            files.emplace_back(id, path);
        }
        std::sort(files.begin(), files.end());
        for (const auto& [id, path] : files) {
            if (seen.contains(id)) continue;
            // An id in an earlier folder hides this one even when that one is broken.
            seen.insert(id);
            std::optional<TDesktopEntry> entry = ReadDesktopEntry(path);
            if (!entry) continue;
            entry->Id = id;
            entries.push_back(std::move(*entry));
        }
    }
    return entries;
}

// Each folder with its inode and modification time (or its absence). Entries are
// installed, removed and renamed within these folders, which changes their times.
QByteArray FoldersSignature(const QStringList& folders) {
    QByteArray signature;
    for (const QString& folder : folders) {
        const QByteArray name = QFile::encodeName(folder);
        signature += name;
        struct stat st {};
        if (::stat(name.constData(), &st) == 0) {
            signature += ' ' + QByteArray::number(qulonglong(st.st_ino)) + ' ' +
                         QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + '.' +
                         QByteArray::number(qlonglong(st.st_mtim.tv_nsec));
        }
        signature += '\n';
    }
    return signature;
}

struct TEntryCache {
    std::mutex mutex;
    bool valid = false;
    QStringList folders;    // the application folders it was read from
    QStringList subfolders; // and the folders below them
    QByteArray signature;
    std::vector<TDesktopEntry> entries;
};

TEntryCache& EntryCache() {
    static TEntryCache cache;
    return cache;
}

// The cached entries when the folders have not changed since they were read.
std::optional<std::vector<TDesktopEntry>> CurrentEntries(const QStringList& folders) {
    TEntryCache& cache = EntryCache();
    const std::lock_guard lock(cache.mutex);
    if (!cache.valid || cache.folders != folders ||
        cache.signature != FoldersSignature(folders + cache.subfolders))
        return std::nullopt;
    return cache.entries;
}

} // namespace

std::vector<TDesktopEntry> InstalledDesktopEntries() {
    return ScanDesktopEntries(ApplicationFolders(), nullptr);
}

std::vector<TDesktopEntry> CachedDesktopEntries() {
    const QStringList folders = ApplicationFolders();
    if (auto entries = CurrentEntries(folders)) return std::move(*entries);
    // Read outside the lock: two threads may both read, and the later result stays.
    const QByteArray before = FoldersSignature(folders);
    QStringList subfolders;
    std::vector<TDesktopEntry> entries = ScanDesktopEntries(folders, &subfolders);
    TEntryCache& cache = EntryCache();
    const std::lock_guard lock(cache.mutex);
    // A folder that changed while it was read is read again next time.
    cache.valid = FoldersSignature(folders) == before;
    cache.folders = folders;
    cache.subfolders = subfolders;
    cache.signature = FoldersSignature(folders + subfolders);
    cache.entries = entries;
    return entries;
}

bool DesktopEntriesCached() {
    return CurrentEntries(ApplicationFolders()).has_value();
}

int GuiThreadDesktopScans() {
    return g_guiThreadScans.load();
}

std::vector<TDesktopEntry> EditorCandidates(const QString& file) {
    const QString path = QFileInfo(file).absoluteFilePath();
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(path);
    if (!mime.isValid() || mime.isDefault()) return {};
    QStringList mimeNames = mime.aliases();
    mimeNames.prepend(mime.name());

    std::vector<TDesktopEntry> candidates;
    for (TDesktopEntry& entry : CachedDesktopEntries())
        if (Qualifies(entry, mimeNames, path)) candidates.push_back(std::move(entry));

    TMimeAppsList mimeApps;
    if (!candidates.empty() && mimeApps.Load(TMimeAppsList::DefaultFileName())) {
        const QString value = mimeApps.Default(mime.name());
        for (const QString& id : value.split(u';', Qt::SkipEmptyParts)) {
            const auto it = std::find_if(candidates.begin(), candidates.end(),
                                         [&](const TDesktopEntry& e) { return e.Id == id; });
            if (it == candidates.end()) continue;
            std::rotate(candidates.begin(), it, it + 1);
            break;
        }
    }
    return candidates;
}

int EditFile(const QString& file) {
    if (file.isEmpty() || !FileExists(file)) return kShellFileNotFound;
    const QString path = QFileInfo(file).absoluteFilePath();
    const std::vector<TDesktopEntry> candidates = EditorCandidates(path);
    if (candidates.empty()) return kShellNoAssociation;
    const std::optional<QStringList> argv =
        ExpandExec(candidates.front().Exec, path, candidates.front());
    if (!argv) return kShellLaunchFailed; // cannot happen: candidates expand
    TLauncher launcher;
    {
        const std::lock_guard lock(g_launcherMutex);
        launcher = g_launcher;
    }
    const bool started = launcher ? launcher(*argv) : Launch(*argv);
    return started ? kShellStarted : kShellLaunchFailed;
}

TLauncher SetEditLauncher(TLauncher launcher) {
    const std::lock_guard lock(g_launcherMutex);
    return std::exchange(g_launcher, std::move(launcher));
}
