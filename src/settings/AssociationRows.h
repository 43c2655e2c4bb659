#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// The rows of the settings dialog's association grid: one per format of the open
// dialog's filter, with whether the desktop opens that type with us now.

struct TAssociationRow {
    QString Display;  // "JPEG (*.jpg, *.jif, *.jpeg, *.jpe)"
    QString Patterns; // "*.jpg, *.jif, *.jpeg, *.jpe"
    bool Associated = false;
    bool Standard = false;
};

// The types offered by the "Standard" button.
inline constexpr char kStandardExtensions[] =
    "*.emf, *.wmf, *.gif, *.tiff, *.bmp, *.jpg, *.ico, *.png";

// The k-th (0-based) item of a pattern text split at commas and blanks, less
// everything up to and including its first "."; empty when there is none.
[[nodiscard]] QString ExtensionAt(const QString& patterns, int k);

// The rows of a dialog filter ("All files|*.*|JPEG (*.jpg;*.jpe)|*.jpg;*.jpe|..."),
// the leading "All files" entry left out, with their Standard flags; Associated is
// left clear.
[[nodiscard]] std::vector<TAssociationRow> AssociationRowsOf(const QString& dialogFilter);

// Whether the desktop opens files of `ext` with this program now: its default
// application for the extension's MIME type (mimeapps.list, in the XDG search
// order) is our viewer entry. For an extension without a MIME type, or a type no
// list names, our own store decides (the class name or the user's choice is ours).
[[nodiscard]] bool ExtensionAssociated(const QString& ext);

// Sets each row's Associated flag when any of its extensions is associated.
void ReadAssociations(std::vector<TAssociationRow>& rows);

// Every extension (without "*.") of the rows that are (Checked) or are not
// (Unchecked) associated.
[[nodiscard]] QStringList CheckedExtensions(const std::vector<TAssociationRow>& rows);
[[nodiscard]] QStringList UncheckedExtensions(const std::vector<TAssociationRow>& rows);
