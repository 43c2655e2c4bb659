#pragma once

#include <QString>
#include <QStringList>

// Folders and small file-system helpers. Folder paths come back with a trailing '/'.

// The folder of the running program file, with a trailing '/'.
[[nodiscard]] QString ProgramFolder();

// The program's data folder, $XDG_DATA_HOME/Pictrel/ (created if missing); the
// folder of the program file when the data location cannot be named.
[[nodiscard]] QString DataFolder();

// The per-user temporary folder, Pictrel-<uid>/ inside $TMPDIR (or /tmp), created
// private to the user. If that name is taken by something we cannot trust (not a
// folder of ours, or open to others), DataFolder()/temp/ is used instead.
[[nodiscard]] QString TempFolder();

// A fresh, empty scratch folder: TempFolder() + the next number of this run ("1",
// "2", ...). A leftover folder of that number from an earlier run is removed first.
// A number whose folder another running instance is using right now is skipped,
// so two instances never share (or delete) each other's scratch folder; the
// claim ends with DeleteTree of the folder or with the process.
[[nodiscard]] QString NewScratchFolder();

// Removes a folder with all its content. Symbolic links inside are removed as
// links, never followed, so nothing outside the tree is touched; a path that is
// itself a link is left alone (false). Files that cannot be deleted stay, and the
// result is then false.
bool DeleteTree(const QString& folder);

// The subfolders of `folder` (links to folders included) in file-system order,
// without "." and "..": folder + name + "/" with fullPaths, else the names.
[[nodiscard]] QStringList ListSubfolders(const QString& folder, bool fullPaths);

// Creates one folder level. Returns `path` on success, an empty string on failure
// (for example when it already exists).
QString CreateFolder(const QString& path);

// The extension of the last path component without its dot; empty if it has none.
[[nodiscard]] QString FileExtension(const QString& path);

// Whether `path` names an existing folder (links followed).
[[nodiscard]] bool FolderExists(const QString& path);

// Whether `path` names an existing entry that is not a folder (links followed).
[[nodiscard]] bool FileExists(const QString& path);

// The size of a file in bytes; -1 when it cannot be opened for reading. A pipe or a
// device is looked at without waiting for a writer.
[[nodiscard]] qint64 FileSizeOf(const QString& path);

// The absolute folder of `path`, with a trailing '/'.
[[nodiscard]] QString FolderOf(const QString& path);

// The decimal value of `text` (an optional sign, then digits, within 32 bits), or
// `fallback` when it is no such number.
[[nodiscard]] int StrToIntOr(const QString& text, int fallback);
