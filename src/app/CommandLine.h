#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

// The role one run plays, decided by the first argument.
enum class TStartRole : std::uint8_t {
    srWizardNoArgs, // no argument: wizard as main window
    srView,
    srWizard,
    srSlideshow,
    srReg,
    srUnreg,
    srOwnReg,
    srOwnUnreg,
    srNone // anything else: no window, the run ends
};

// The command line as the start-up reads it. Switches are "/" + keyword, compared
// after lower-casing ASCII letters only; the first of "/reg", "/unreg", "/ownreg",
// "/ownunreg", "/view", "/wizard", "/slideshow" that matches decides.
struct TCommandLine {
    TStartRole Role = TStartRole::srNone;
    QString FileArgument;           // second argument (absolute for window roles), or empty
    QStringList RegExtensions;      // "/reg": the extensions to register, in order
    bool RegisterOwnType = false;   // "/reg ... /ownreg"
    bool UnregisterOwnType = false; // "/unreg /ownunreg"

    // `args` without the program name. For the roles that create windows, a
    // relative file argument is made absolute against `workingFolder`, the folder
    // the start was typed in: the running viewer that may take it over works in
    // its own folder. An empty `workingFolder` leaves it as given.
    [[nodiscard]] static TCommandLine Parse(const QStringList& args,
                                            const QString& workingFolder = {});
    // `path` below the absolute `folder` unless it is absolute or empty. "." parts
    // and doubled separators go; ".." stays, since behind a symbolic link it is
    // not the folder's lexical parent.
    [[nodiscard]] static QString AbsolutePath(const QString& path, const QString& folder);
    // Whole-argument, ASCII-case-insensitive comparison with "/" + keyword.
    [[nodiscard]] static bool IsSwitch(const QString& argument, const char* keyword);
    [[nodiscard]] static bool CreatesWindows(TStartRole role);
};

// The line a person at a terminal sees when the arguments start no role.
inline constexpr char kUsageLine[] =
    "usage: pictrel [/view [file] | /wizard [file] | /slideshow [file] | /reg ext... [/ownreg] | "
    "/unreg [/ownunreg] | /ownreg | /ownunreg]";
