#include "app/FileAssociations.h"

#include "app/MimeAppsList.h"
#include "app/SettingsLayout.h"
#include "platform/AtomicFile.h"
#include "platform/Registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

#include <optional>
#include <set>

namespace {

constexpr char kCrName[] = "CR Name";
constexpr char kCuName[] = "CU Name";
constexpr char kCuProgId[] = "CU ProgID";
// Our additions beside the saved registry values.
constexpr char kXdgMimeType[] = "XDG MIME type";
constexpr char kXdgDefault[] = "XDG default";

QString PreviousParamPath() {
    return QString::fromLatin1(layout::kProgramKey) + '\\' + layout::kPreviousParamKey;
}

void CheckExtension(const QString& ext) {
    bool ok = !ext.isEmpty();
    for (const QChar c : ext) ok = ok && c != '\\' && c.unicode() >= 0x20 && c.unicode() != 0x7f;
    if (!ok) throw ERegistryError("not a usable file extension: \"" + ext.toStdString() + '"');
}

void Open(TRegistry& reg, const QString& key) {
    if (!reg.OpenKey(key, true)) throw ERegistryError("cannot open the key " + key.toStdString());
}

QString ProgramPathOr(const QString& programPath) {
    return programPath.isEmpty() ? QCoreApplication::applicationFilePath() : programPath;
}

QString DesktopIdFor(const QString& ext) {
    return ext.compare(QLatin1String(kSlideshowExtension), Qt::CaseInsensitive) == 0
               ? QString::fromLatin1(kSlideshowDesktopId)
               : QString::fromLatin1(kViewerDesktopId);
}

QString DataHome() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data)) data = QDir::homePath() + "/.local/share";
    return data;
}

// One argument of a desktop entry's Exec key, quoted where the format asks for it.
QString ExecArgument(const QString& arg) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = false;
    for (const QChar c : arg) quote = quote || reserved.contains(c);
    QString out;
    for (const QChar c : arg) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) out += '\\';
        out += c;
    }
    out.replace('%', QStringLiteral("%%"));
    return quote ? '"' + out + '"' : out;
}

// Escapes of a desktop entry string value.
QString DesktopString(const QString& text) {
    QString out;
    for (const QChar c : text) {
        if (c == '\\')
            out += QStringLiteral("\\\\");
        else if (c == '\n')
            out += QStringLiteral("\\n");
        else if (c == '\t')
            out += QStringLiteral("\\t");
        else if (c == '\r')
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

// The program path inside a stored open command ("\"path\" /view \"%1\"").
QString ProgramOfCommand(const QString& command) {
    if (!command.startsWith('"')) return {};
    const qsizetype end = command.indexOf('"', 1);
    return end > 1 ? command.mid(1, end - 1) : QString();
}

// The desktop entries can name only one program for all our types, so every earlier
// registration is moved over to the program that registers now: a program that was
// moved or reinstalled elsewhere is never launched from its old place. Each key keeps
// its own switch and icon index.
void MoveRegistrationsTo(TRegistry& reg, const QString& progIdPrefix, const QString& program) {
    const QString prefix = progIdPrefix + '.';
    reg.CloseKey();
    for (const QString& key : reg.GetKeyNames()) {
        if (!key.startsWith(prefix, Qt::CaseInsensitive)) continue;
        if (!reg.OpenKey('\\' + key + QStringLiteral("\\shell\\open\\command"), false)) continue;
        const QString command = reg.ReadString({}).value_or(QString());
        const QString old = ProgramOfCommand(command);
        if (old.isEmpty() || old == program) continue;
        reg.WriteString({}, '"' + program + command.mid(old.size() + 1));
        if (!reg.OpenKey('\\' + key + QStringLiteral("\\DefaultIcon"), false)) continue;
        const QString icon = reg.ReadString({}).value_or(QString());
        if (icon.startsWith(old + ',')) reg.WriteString({}, program + icon.mid(old.size()));
    }
}

void WriteMimePackage() {
    const QString dir = DataHome() + QStringLiteral("/mime");
    const QString fileName = dir + QStringLiteral("/packages/pictrel-slideshow.xml");
    const QByteArray xml =
        QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                   "  <mime-type type=\"") +
        kSlideshowMimeType +
        "\">\n"
        "    <comment>Pictrel slideshow</comment>\n"
        "    <glob pattern=\"*.vekss\"/>\n"
        "  </mime-type>\n"
        "</mime-info>\n";
    QFile existing(fileName);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == xml) return;
    existing.close();
    if (!WriteFileAtomically(fileName, xml)) return;
    // Lets the desktop know the type; without the tool the file waits for the next update.
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
    if (!tool.isEmpty()) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(tool, {dir});
        if (!process.waitForFinished(5000)) process.kill(), process.waitForFinished(1000);
    }
}

} // namespace

QString OpenCommand(const QString& programPath, const QString& switchName) {
    return '"' + programPath + QStringLiteral("\" /") + switchName + QStringLiteral(" \"%1\"");
}

QString IconValue(const QString& programPath, const QString& ext) {
    const QString lower = ext.toLower();
    const struct {
        QString List;
        int Index;
    } table[] = {
        {QStringLiteral("bmp; dib; rle"), 3},
        {QStringLiteral("gif"), 4},
        {QStringLiteral("jpg; jpeg; jp"), 6},
        {QStringLiteral("png"), 7},
        {QStringLiteral("psd"), 8},
        {QStringLiteral("fax; tif; tiff"), 9},
        {QString::fromLatin1(kSlideshowExtension).toLower(), 0},
        {QStringLiteral("ico"), -1},
    };
    for (const auto& entry : table) {
        if (!entry.List.contains(lower)) continue;
        if (entry.Index < 0) return QStringLiteral("%1"); // each icon file shows itself
        return programPath + ',' + QString::number(entry.Index);
    }
    return programPath + QStringLiteral(",10");
}

QString MimeTypeOfExtension(const QString& ext) {
    if (ext.compare(QLatin1String(kSlideshowExtension), Qt::CaseInsensitive) == 0)
        return QString::fromLatin1(kSlideshowMimeType);
    static const QMimeDatabase database;
    const QList<QMimeType> types = database.mimeTypesForFileName(QStringLiteral("x.") + ext);
    return types.isEmpty() ? QString() : types.first().name();
}

namespace {

// One registration run: each root, mimeapps.list and the desktop entries are
// written once at its end however many extensions it holds (a temporary TRegistry
// would save its hive when destroyed, so the run keeps one per root).
struct TAssociationRun {
    TRegistry Classes{TRegRoot::rrClassesRoot};
    TRegistry User{TRegRoot::rrCurrentUser};
    TRegistry Machine{TRegRoot::rrLocalMachine};
    TMimeAppsList MimeApps;
    bool MimeAppsChanged = false;

    TAssociationRun() { MimeApps.Load(TMimeAppsList::DefaultFileName()); }

    // The saved default of another extension of `mimeType` registered by us, if any.
    std::optional<QString> SiblingDefault(const QString& mimeType) {
        if (!Machine.OpenKey('\\' + PreviousParamPath(), false)) return std::nullopt;
        for (const QString& other : Machine.GetKeyNames()) {
            if (!Machine.OpenKey('\\' + PreviousParamPath() + '\\' + other, false)) continue;
            if (Machine.ReadString(kXdgMimeType).value_or(QString()) == mimeType)
                return Machine.ReadString(kXdgDefault).value_or(QString());
        }
        return std::nullopt;
    }

    void Register(const QString& ext, const QString& progIdPrefix, const QString& descriptionPrefix,
                  const QString& switchName, const QString& program) {
        CheckExtension(ext);
        const QString progId = progIdPrefix + '.' + ext;
        Open(Classes, '\\' + progId + QStringLiteral("\\shell\\open\\command"));
        Open(Classes, '\\' + progId);
        Classes.WriteString({}, descriptionPrefix + ' ' + ext);
        Open(Classes, QStringLiteral("shell\\open\\command"));
        Classes.WriteString({}, OpenCommand(program, switchName));
        Open(Classes, '\\' + progId + QStringLiteral("\\DefaultIcon"));
        Classes.WriteString({}, IconValue(program, ext));
        Open(Classes, '\\' + QStringLiteral(".") + ext);
        const QString oldClassName = Classes.ReadString({}).value_or(QString());
        Classes.WriteString({}, progId);

        QString oldUserName, oldUserProgId;
        if (User.OpenKey('\\' + QLatin1String(layout::kFileExtsKey), false)) {
            Open(User, '.' + ext);
            oldUserName = User.ReadString({}).value_or(QString());
            oldUserProgId = User.ReadString(QStringLiteral("Progid")).value_or(QString());
            User.WriteString({}, progId);
            User.WriteString(QStringLiteral("Progid"), progId);
        }

        // The desktop default for the extension's MIME type.
        const QString mimeType = MimeTypeOfExtension(ext);
        const QString desktopId = DesktopIdFor(ext);
        QString oldDefault = MimeApps.Default(mimeType);
        Open(Machine, '\\' + PreviousParamPath());
        if (!Machine.KeyExists(ext)) {
            // Taken over through a sibling extension of the same type: its saved
            // default is the user's real previous one.
            if (!mimeType.isEmpty() && TMimeAppsList::FirstId(oldDefault) == desktopId)
                oldDefault = SiblingDefault(mimeType).value_or(QString());
            Open(Machine, '\\' + PreviousParamPath() + '\\' + ext);
            Machine.WriteString(kCrName, oldClassName);
            Machine.WriteString(kCuName, oldUserName);
            Machine.WriteString(kCuProgId, oldUserProgId);
            Machine.WriteString(kXdgMimeType, mimeType);
            Machine.WriteString(kXdgDefault, oldDefault);
        }
        if (!mimeType.isEmpty()) {
            MimeApps.SetDefault(mimeType,
                                TMimeAppsList::WithFirst(desktopId, MimeApps.Default(mimeType)));
            MimeAppsChanged = true;
        }
    }

    void Unregister(const QString& ext, const QString& progIdPrefix) {
        CheckExtension(ext);
        const QString progId = progIdPrefix + '.' + ext;
        QString crName, cuName, cuProgId, mimeType, xdgDefault;
        bool saved = false;
        Open(Machine, '\\' + PreviousParamPath());
        if (Machine.KeyExists(ext)) {
            Open(Machine, '\\' + PreviousParamPath() + '\\' + ext);
            crName = Machine.ReadString(kCrName).value_or(QString());
            cuName = Machine.ReadString(kCuName).value_or(QString());
            cuProgId = Machine.ReadString(kCuProgId).value_or(QString());
            mimeType = Machine.ReadString(kXdgMimeType).value_or(QString());
            xdgDefault = Machine.ReadString(kXdgDefault).value_or(QString());
            saved = true;
            Open(Machine, '\\' + PreviousParamPath());
            Machine.DeleteKey(ext);
        }

        if (Classes.KeyExists('\\' + progId)) Classes.DeleteKey('\\' + progId);
        Open(Classes, '\\' + QStringLiteral(".") + ext);
        if (Classes.ReadString({}).value_or(QString()).compare(progId, Qt::CaseInsensitive) == 0)
            Classes.WriteString({}, crName);

        if (User.OpenKey('\\' + QLatin1String(layout::kFileExtsKey), false)) {
            Open(User, '.' + ext);
            if (User.ReadString({}).value_or(QString()).compare(progId, Qt::CaseInsensitive) == 0)
                User.WriteString({}, cuName);
            if (User.ReadString(QStringLiteral("Progid"))
                    .value_or(QString())
                    .compare(progId, Qt::CaseInsensitive) == 0)
                User.WriteString(QStringLiteral("Progid"), cuProgId.isEmpty() ? crName : cuProgId);
        }

        if (!saved) mimeType = MimeTypeOfExtension(ext);
        if (mimeType.isEmpty()) return;
        // Another registered extension of the same type keeps the default ours.
        const bool shared = SiblingDefault(mimeType).has_value();
        const QString current = MimeApps.Default(mimeType);
        const QString desktopId = DesktopIdFor(ext);
        if (!shared && TMimeAppsList::FirstId(current) == desktopId) {
            MimeApps.SetDefault(mimeType, saved && !xdgDefault.isEmpty()
                                              ? xdgDefault
                                              : TMimeAppsList::Without(desktopId, current));
            MimeAppsChanged = true;
        }
    }

    // Saves every root and the list, then rewrites the desktop entries.
    void Finish(const QString& program, bool registered) {
        if (registered) MoveRegistrationsTo(Classes, kProgIdPrefix, program);
        Classes.Flush();
        User.Flush();
        Machine.Flush();
        if (MimeAppsChanged && !MimeApps.Save())
            throw ERegistryError("cannot write " + TMimeAppsList::DefaultFileName().toStdString());
        NotifyAssociationsChanged(registered ? program : QString());
    }
};

} // namespace

void RegisterExtension(const QString& ext, const QString& progIdPrefix,
                       const QString& descriptionPrefix, const QString& switchName,
                       const QString& programPath) {
    const QString program = ProgramPathOr(programPath);
    TAssociationRun run;
    run.Register(ext, progIdPrefix, descriptionPrefix, switchName, program);
    run.Finish(program, true);
}

void RegisterExtensions(const QStringList& extensions, const QString& programPath) {
    ApplyAssociations(extensions, {}, programPath);
}

void RegisterOwnType(const QString& programPath) {
    RegisterExtension(kSlideshowExtension, kProgIdPrefix, kProgIdPrefix,
                      QStringLiteral("slideshow"), programPath);
}

void UnregisterExtension(const QString& ext, const QString& progIdPrefix) {
    TAssociationRun run;
    run.Unregister(ext, progIdPrefix);
    run.Finish({}, false);
}

void UnregisterExtensions(const QStringList& extensions) {
    ApplyAssociations({}, extensions);
}

void UnregisterOwnType() {
    UnregisterExtension(kSlideshowExtension, kProgIdPrefix);
}

void ApplyAssociations(const QStringList& associate, const QStringList& release,
                       const QString& programPath) {
    const QString program = ProgramPathOr(programPath);
    // An extension to be ours is never released, whatever row also named it.
    std::set<QString> kept;
    for (const QString& ext : associate) kept.insert(ext.toLower());
    TAssociationRun run;
    try {
        for (const QString& ext : release)
            if (kept.count(ext.toLower()) == 0) run.Unregister(ext, kProgIdPrefix);
        for (const QString& ext : associate)
            run.Register(ext, kProgIdPrefix, kProgIdPrefix, QStringLiteral("view"), program);
    } catch (const ERegistryError&) {
        // What was done before the failing extension is kept, as each had been saved.
        run.Finish(program, !associate.isEmpty());
        throw;
    }
    run.Finish(program, !associate.isEmpty());
}

void NotifyAssociationsChanged(const QString& programPath) {
    // The registered types, from our ProgIDs in the class root.
    std::set<QString> imageTypes;
    bool slideshow = false;
    QString registered;
    TRegistry reg(TRegRoot::rrClassesRoot);
    const QString prefix = QString::fromLatin1(kProgIdPrefix) + '.';
    for (const QString& key : reg.GetKeyNames()) {
        if (!key.startsWith(prefix, Qt::CaseInsensitive)) continue;
        const QString ext = key.mid(prefix.size());
        TRegistry command(TRegRoot::rrClassesRoot);
        if (!command.OpenKey('\\' + key + QStringLiteral("\\shell\\open\\command"), false))
            continue;
        if (registered.isEmpty())
            registered = ProgramOfCommand(command.ReadString({}).value_or(QString()));
        if (ext.compare(QLatin1String(kSlideshowExtension), Qt::CaseInsensitive) == 0) {
            slideshow = true;
        } else {
            const QString mimeType = MimeTypeOfExtension(ext);
            if (!mimeType.isEmpty()) imageTypes.insert(mimeType);
        }
    }
    const QString applications = DataHome() + QStringLiteral("/applications/");
    const auto entry = [](const QString& program, const QString& switchName, const QString& name,
                          const QString& mimeTypes) {
        QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=") + name +
                       QStringLiteral("\nGenericName=Image Viewer\nExec=") +
                       DesktopString(ExecArgument(program) + QStringLiteral(" /") + switchName +
                                     QStringLiteral(" %f")) +
                       QStringLiteral("\nTerminal=false\nCategories=Graphics;Viewer;\nMimeType=") +
                       mimeTypes + '\n';
        return text.toUtf8();
    };
    QString mimeList;
    for (const QString& type : imageTypes) mimeList += type + ';';
    // Registration moves every type to the registering program, so the keys agree.
    QString program = programPath;
    if (program.isEmpty()) program = registered;
    if (program.isEmpty()) program = QCoreApplication::applicationFilePath();
    if (!WriteFileAtomically(
            applications + kViewerDesktopId,
            entry(program, QStringLiteral("view"), QStringLiteral("Pictrel"), mimeList)))
        throw ERegistryError("cannot write " + (applications + kViewerDesktopId).toStdString());
    if (slideshow) {
        WriteMimePackage();
        if (!WriteFileAtomically(applications + kSlideshowDesktopId,
                                 entry(program, QStringLiteral("slideshow"),
                                       QStringLiteral("Pictrel Slideshow"),
                                       QString::fromLatin1(kSlideshowMimeType) + ';')))
            throw ERegistryError("cannot write " +
                                 (applications + kSlideshowDesktopId).toStdString());
    } else {
        QFile::remove(applications + kSlideshowDesktopId);
    }
}
