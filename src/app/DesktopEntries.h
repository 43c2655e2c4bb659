#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// Desktop entries (the freedesktop .desktop files) as far as handing a picture to
// an installed editor needs them: the keys of the [Desktop Entry] group, the
// expansion of an Exec command line into an argument vector (never through a
// shell), and the choice of the editor for a file.

// The keys of one entry. String values have their escapes (\s \n \t \r \\) undone;
// localised variants ("Name[de]") are ignored.
struct TDesktopEntry {
    QString Id;       // desktop file id ("org.example.Paint.desktop"); empty when unknown
    QString FileName; // where it was read from; empty when parsed from memory
    QString Type;
    QString Name;
    QString Exec;
    QString TryExec;
    QString Icon;
    QStringList MimeTypes;
    QStringList Categories;
    bool NoDisplay = false;
    bool Hidden = false;
};

// Parses the text of a desktop file. std::nullopt when it is not one: not UTF-8, a
// line that is neither a comment, a group header nor a key, no [Desktop Entry]
// group, a group header or key that appears twice, or no Type or Name.
[[nodiscard]] std::optional<TDesktopEntry> ParseDesktopEntry(const QByteArray& text);

// Reads and parses a desktop file (at most 1 MiB); std::nullopt when it cannot be
// read or is malformed. FileName is set, Id is not.
[[nodiscard]] std::optional<TDesktopEntry> ReadDesktopEntry(const QString& fileName);

// Expands an Exec value into the program and its arguments for opening `file` (an
// absolute local path). Quoting is undone first: double quotes group, and inside
// them a backslash escapes `"`, '`', '$' and '\'. Then each argument's field codes
// are expanded: %f and %F give the file, %u and %U its file:// URL (only the first
// file code takes the file; later ones expand to nothing), %% gives '%', %c the
// entry's Name, %k the entry's FileName, %i (a whole argument) "--icon" and the
// entry's Icon (nothing without one); the deprecated %d %D %n %N %v %m expand to
// nothing, and an argument that consisted of nothing else is dropped. Without any
// file code the file is appended. std::nullopt for an unbalanced quote, a trailing
// backslash inside quotes, an unknown field code, a %i inside a longer argument or
// an empty command line.
[[nodiscard]] std::optional<QStringList> ExpandExec(const QString& exec, const QString& file,
                                                    const TDesktopEntry& entry = {});

// The folders searched for desktop entries, most important first:
// $XDG_DATA_HOME/applications (default ~/.local/share) and each
// $XDG_DATA_DIRS/applications (default /usr/local/share:/usr/share). Relative
// paths in the variables are ignored, as the base-directory rules require.
[[nodiscard]] QStringList ApplicationFolders();

// The mimeapps.list files that choose default applications, most important first:
// for each folder of $XDG_CONFIG_HOME and $XDG_CONFIG_DIRS the files named after
// each desktop of $XDG_CURRENT_DESKTOP ("gnome-mimeapps.list") then mimeapps.list,
// then the same in each folder of ApplicationFolders().
[[nodiscard]] QStringList MimeAppsFiles();

// The desktop file id the desktop opens `mimeType` with by its mimeapps.list files:
// the first id of the first default entry found; empty when no file names one.
[[nodiscard]] QString DefaultApplicationId(const QString& mimeType);

// Every readable entry of ApplicationFolders(), with its desktop file id (the path
// below the folder, '/' turned into '-'). An id found in an earlier folder hides
// the same id in later ones. Ordered by folder, then by id.
[[nodiscard]] std::vector<TDesktopEntry> InstalledDesktopEntries();

// InstalledDesktopEntries, remembered between calls and read again only when one of
// the folders (or the folders below them) changed: a few stat calls instead of
// reading hundreds of files. Safe from any thread, so a worker can read the entries
// before the user asks for an editor, and "Edit" then reads nothing on the GUI thread.
[[nodiscard]] std::vector<TDesktopEntry> CachedDesktopEntries();
// True when CachedDesktopEntries would answer without reading the folders.
[[nodiscard]] bool DesktopEntriesCached();
// How often the entries were read on the GUI thread (lets tests see that a worker
// read them).
[[nodiscard]] int GuiThreadDesktopScans();

// The editors that can take `file`, best first (from CachedDesktopEntries). A candidate is an
// Application entry that lists the file's MIME type (or an alias of it) in MimeType, has Graphics,
// 2DGraphics or RasterGraphics among its Categories, is not Hidden, is not our own
// viewer entry, whose TryExec (when given) is an executable and whose Exec expands
// to a program that can be found. The first id of the user's mimeapps.list default
// for the type that is such a candidate comes first.
[[nodiscard]] std::vector<TDesktopEntry> EditorCandidates(const QString& file);

// Result codes of the shell commands: a value above 32 means started.
inline constexpr int kShellStarted = 42;
inline constexpr int kShellFileNotFound = 2;
inline constexpr int kShellLaunchFailed = 5;
inline constexpr int kShellNoAssociation = 31;

// Starts the best editor of `file` (EditorCandidates) detached, without a working
// folder of its own. kShellStarted when it was started, kShellFileNotFound when
// `file` is not an existing file, kShellNoAssociation when there is no editor,
// kShellLaunchFailed when the program could not be started.
[[nodiscard]] int EditFile(const QString& file);

// Starts argv[0] with the remaining arguments; true when it was started.
using TLauncher = std::function<bool(const QStringList& argv)>;
// Replaces the launcher EditFile uses (an empty one restores the real one, which
// starts the program found on PATH through QProcess::startDetached); returns the
// previous one. Lets tests see the command without running it.
TLauncher SetEditLauncher(TLauncher launcher);
