#pragma once

#include <QString>
#include <QStringList>

// Registration of the program as the handler of image extensions and of its own
// slideshow type, in the registry hives, and its desktop counterpart:
// pictrel.desktop / pictrel-slideshow.desktop in $XDG_DATA_HOME/applications and
// the default application per MIME type in $XDG_CONFIG_HOME/mimeapps.list.
//
// The previous values of an extension (class root, the user's FileExts choice and
// the previous mimeapps.list default) are saved under HKEY_LOCAL_MACHINE
// "software\Brommel\Pictrel\Previous param\<ext>" by the first registration only
// and put back by the unregistration.
//
// Every function throws ERegistryError when a value cannot be written or the
// extension is not usable as a key name (empty, or holding "\" or a control
// character); the extensions after it are not processed.

inline constexpr char kProgIdPrefix[] = "Pictrel";
inline constexpr char kSlideshowExtension[] = "VekSS";
inline constexpr char kSlideshowMimeType[] = "application/x-pictrel-slideshow";
inline constexpr char kViewerDesktopId[] = "pictrel.desktop";
inline constexpr char kSlideshowDesktopId[] = "pictrel-slideshow.desktop";

// "\"<program>\" /<switch> \"%1\"".
[[nodiscard]] QString OpenCommand(const QString& programPath, const QString& switchName);
// "<program>,<index>" by the extension's family, or "%1" for icon files.
[[nodiscard]] QString IconValue(const QString& programPath, const QString& ext);
// The MIME type the desktop knows for `ext` (our own for the slideshow type);
// empty when it knows none.
[[nodiscard]] QString MimeTypeOfExtension(const QString& ext);

// `programPath` empty: the running program. Registering moves the open commands and
// icons of the extensions registered before to that program too, so every type and
// both desktop entries name the program that registered last.
void RegisterExtension(const QString& ext, const QString& progIdPrefix,
                       const QString& descriptionPrefix, const QString& switchName,
                       const QString& programPath);
void RegisterExtensions(const QStringList& extensions, const QString& programPath = {});
void RegisterOwnType(const QString& programPath = {});
void UnregisterExtension(const QString& ext, const QString& progIdPrefix);
void UnregisterExtensions(const QStringList& extensions);
void UnregisterOwnType();

// One run of the settings dialog's OK: releases the extensions of `release` that
// `associate` does not name, then registers `associate`, and writes each hive,
// mimeapps.list and the desktop entries once for the whole run.
void ApplyAssociations(const QStringList& associate, const QStringList& release,
                       const QString& programPath = {});

// The notify step: rewrites the desktop entries from the registered types. They
// launch `programPath`; when it is empty, the program the registered types name
// (the running program when none is registered).
void NotifyAssociationsChanged(const QString& programPath = {});
