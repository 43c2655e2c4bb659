#pragma once

#include <QString>
#include <QStringList>

// The extension test of folder listings: the extension of the last path component
// (the text after its last dot) is one of the entries of `filter`, a comma-separated
// list such as the loader's, compared ignoring ASCII case and the spaces around
// entries. Only whole entries count: "c" does not pass because "pict" is listed, so
// sources and notes beside the pictures stay out. An empty extension never passes.
[[nodiscard]] bool ExtensionMatches(const QString& path, const QString& filter);

// The files directly inside `folder`, hidden ones included, in the order the file
// system enumerates them (no sorting). Folders are skipped, and so are entries that
// are not regular files (a dangling link, a pipe: nothing to show, and a pipe
// would block whoever opens it). With a non-empty filter only files passing
// ExtensionMatches are kept. Entries are the absolute folder + name with
// fullPaths, else the names alone.
[[nodiscard]] QStringList ListFiles(const QString& folder, bool fullPaths, const QString& filter);

// Sorts paths as a file manager shows them: case-insensitive, runs of digits by their
// value ("IMG_2" before "IMG_10"), ties by the plain text so the order is total.
void SortNatural(QStringList& paths);
