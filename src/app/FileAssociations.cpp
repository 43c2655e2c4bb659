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
void MoveRegistrationsTo(const QString& progIdPrefix, const QString& program) {
    TRegistry reg(TRegRoot::rrClassesRoot);
    const QString prefix = progIdPrefix + '.';
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
    reg.CloseKey(); // one save for all of them
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

void RegisterExtension(const QString& ext, const QString& progIdPrefix,
                       const QString& descriptionPrefix, const QString& switchName,
                       const QString& programPath) {
    CheckExtension(ext);
    const QString program = ProgramPathOr(programPath);
    const QString progId = progIdPrefix + '.' + ext;
    QString oldClassName, oldUserName, oldUserProgId;
    {
        TRegistry reg(TRegRoot::rrClassesRoot);
        Open(reg, '\\' + progId + QStringLiteral("\\shell\\open\\command"));
        Open(reg, '\\' + progId);
        reg.WriteString({}, descriptionPrefix + ' ' + ext);
        Open(reg, QStringLiteral("shell\\open\\command"));
        reg.WriteString({}, OpenCommand(program, switchName));
        reg.CloseKey();
        Open(reg, '\\' + progId + QStringLiteral("\\DefaultIcon"));
        reg.WriteString({}, IconValue(program, ext));
        reg.CloseKey();
        Open(reg, '\\' + QStringLiteral(".") + ext);
        oldClassName = reg.ReadString({}).value_or(QString());
        reg.WriteString({}, progId);
        reg.CloseKey();
    }
    {
        TRegistry reg(TRegRoot::rrCurrentUser);
        if (reg.OpenKey(layout::kFileExtsKey, false)) {
            Open(reg, '.' + ext);
            oldUserName = reg.ReadString({}).value_or(QString());
            oldUserProgId = reg.ReadString(QStringLiteral("Progid")).value_or(QString());
            reg.WriteString({}, progId);
            reg.WriteString(QStringLiteral("Progid"), progId);
        }
        reg.CloseKey();
    }

    // The desktop default for the extension's MIME type.
    const QString mimeType = MimeTypeOfExtension(ext);
    const QString desktopId = DesktopIdFor(ext);
    TMimeAppsList mimeApps;
    mimeApps.Load(TMimeAppsList::DefaultFileName());
    QString oldDefault = mimeApps.Default(mimeType);

    TRegistry reg(TRegRoot::rrLocalMachine);
    Open(reg, layout::kProgramKey);
    Open(reg, layout::kPreviousParamKey);
    if (!reg.KeyExists(ext)) {
        if (!mimeType.isEmpty() && TMimeAppsList::FirstId(oldDefault) == desktopId) {
            // Taken over through a sibling extension of the same type: its saved
            // default is the user's real previous one.
            oldDefault.clear();
            for (const QString& other : reg.GetKeyNames()) {
                TRegistry sibling(TRegRoot::rrLocalMachine);
                if (sibling.OpenKey(PreviousParamPath() + '\\' + other, false) &&
                    sibling.ReadString(kXdgMimeType).value_or(QString()) == mimeType) {
                    oldDefault = sibling.ReadString(kXdgDefault).value_or(QString());
                    break;
                }
            }
        }
        Open(reg, ext);
        reg.WriteString(kCrName, oldClassName);
        reg.WriteString(kCuName, oldUserName);
        reg.WriteString(kCuProgId, oldUserProgId);
        reg.WriteString(kXdgMimeType, mimeType);
        reg.WriteString(kXdgDefault, oldDefault);
    }
    reg.CloseKey();

    if (!mimeType.isEmpty()) {
        mimeApps.SetDefault(mimeType,
                            TMimeAppsList::WithFirst(desktopId, mimeApps.Default(mimeType)));
        if (!mimeApps.Save())
            throw ERegistryError("cannot write " + TMimeAppsList::DefaultFileName().toStdString());
    }
    MoveRegistrationsTo(progIdPrefix, program);
    NotifyAssociationsChanged(program);
}

void RegisterExtensions(const QStringList& extensions, const QString& programPath) {
    for (const QString& ext : extensions)
        RegisterExtension(ext, kProgIdPrefix, kProgIdPrefix, QStringLiteral("view"), programPath);
}

void RegisterOwnType(const QString& programPath) {
    RegisterExtension(kSlideshowExtension, kProgIdPrefix, kProgIdPrefix,
                      QStringLiteral("slideshow"), programPath);
}

void UnregisterExtension(const QString& ext, const QString& progIdPrefix) {
    CheckExtension(ext);
    const QString progId = progIdPrefix + '.' + ext;
    QString crName, cuName, cuProgId, mimeType, xdgDefault;
    bool saved = false;
    {
        TRegistry reg(TRegRoot::rrLocalMachine);
        Open(reg, layout::kProgramKey);
        Open(reg, layout::kPreviousParamKey);
        if (reg.KeyExists(ext)) {
            TRegistry prev(TRegRoot::rrLocalMachine);
            Open(prev, PreviousParamPath() + '\\' + ext);
            crName = prev.ReadString(kCrName).value_or(QString());
            cuName = prev.ReadString(kCuName).value_or(QString());
            cuProgId = prev.ReadString(kCuProgId).value_or(QString());
            mimeType = prev.ReadString(kXdgMimeType).value_or(QString());
            xdgDefault = prev.ReadString(kXdgDefault).value_or(QString());
            saved = true;
            reg.DeleteKey(ext);
        }
        reg.CloseKey();
    }
    {
        TRegistry reg(TRegRoot::rrClassesRoot);
        if (reg.KeyExists('\\' + progId)) reg.DeleteKey('\\' + progId);
        Open(reg, '\\' + QStringLiteral(".") + ext);
        if (reg.ReadString({}).value_or(QString()).compare(progId, Qt::CaseInsensitive) == 0)
            reg.WriteString({}, crName);
        reg.CloseKey();
    }
    {
        TRegistry reg(TRegRoot::rrCurrentUser);
        if (reg.OpenKey(layout::kFileExtsKey, false)) {
            Open(reg, '.' + ext);
            if (reg.ReadString({}).value_or(QString()).compare(progId, Qt::CaseInsensitive) == 0)
                reg.WriteString({}, cuName);
            if (reg.ReadString(QStringLiteral("Progid"))
                    .value_or(QString())
                    .compare(progId, Qt::CaseInsensitive) == 0)
                reg.WriteString(QStringLiteral("Progid"), cuProgId.isEmpty() ? crName : cuProgId);
        }
        reg.CloseKey();
    }

    if (!saved) mimeType = MimeTypeOfExtension(ext);
    if (!mimeType.isEmpty()) {
        // Another registered extension of the same type keeps the default ours.
        bool shared = false;
        TRegistry reg(TRegRoot::rrLocalMachine);
        if (reg.OpenKey(PreviousParamPath(), false)) {
            for (const QString& other : reg.GetKeyNames()) {
                TRegistry sibling(TRegRoot::rrLocalMachine);
                shared =
                    shared || (sibling.OpenKey(PreviousParamPath() + '\\' + other, false) &&
                               sibling.ReadString(kXdgMimeType).value_or(QString()) == mimeType);
            }
        }
        TMimeAppsList mimeApps;
        mimeApps.Load(TMimeAppsList::DefaultFileName());
        const QString current = mimeApps.Default(mimeType);
        const QString desktopId = DesktopIdFor(ext);
        if (!shared && TMimeAppsList::FirstId(current) == desktopId) {
            mimeApps.SetDefault(mimeType, saved && !xdgDefault.isEmpty()
                                              ? xdgDefault
                                              : TMimeAppsList::Without(desktopId, current));
            if (!mimeApps.Save())
                throw ERegistryError("cannot write " +
                                     TMimeAppsList::DefaultFileName().toStdString());
        }
    }
    NotifyAssociationsChanged();
}

void UnregisterExtensions(const QStringList& extensions) {
    for (const QString& ext : extensions) UnregisterExtension(ext, kProgIdPrefix);
}

void UnregisterOwnType() {
    UnregisterExtension(kSlideshowExtension, kProgIdPrefix);
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
