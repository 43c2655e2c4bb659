#include "app/CommandLine.h"

#include <QDir>

namespace {

// Lower-cases ASCII letters only, so no locale turns another letter into a switch.
QString AsciiLower(const QString& text) {
    QString lower = text;
    for (QChar& c : lower)
        if (c >= 'A' && c <= 'Z') c = QChar(c.unicode() + 32);
    return lower;
}

} // namespace

bool TCommandLine::IsSwitch(const QString& argument, const char* keyword) {
    return AsciiLower(argument) == QLatin1Char('/') + QLatin1String(keyword);
}

bool TCommandLine::CreatesWindows(TStartRole role) {
    switch (role) {
    case TStartRole::srWizardNoArgs:
    case TStartRole::srView:
    case TStartRole::srWizard:
    case TStartRole::srSlideshow:
        return true;
    default:
        return false;
    }
}

QString TCommandLine::AbsolutePath(const QString& path, const QString& folder) {
    if (path.isEmpty() || QDir::isAbsolutePath(path) || !QDir::isAbsolutePath(folder)) return path;
    QStringList parts;
    for (const QString& part : QString(folder + '/' + path).split('/', Qt::SkipEmptyParts))
        if (part != QLatin1String(".")) parts.append(part);
    QString absolute = '/' + parts.join('/');
    if (path.endsWith('/') && absolute.size() > 1) absolute += '/';
    return absolute;
}

TCommandLine TCommandLine::Parse(const QStringList& args, const QString& workingFolder) {
    TCommandLine line;
    if (args.isEmpty()) {
        line.Role = TStartRole::srWizardNoArgs;
        return line;
    }
    if (args.size() >= 2) line.FileArgument = args[1];
    const QString& first = args[0];
    if (IsSwitch(first, "reg")) {
        line.Role = TStartRole::srReg;
        qsizetype last = args.size() - 1;
        if (last >= 1 && IsSwitch(args[last], "ownreg")) {
            line.RegisterOwnType = true;
            --last;
        }
        for (qsizetype i = 1; i <= last; ++i) line.RegExtensions.append(args[i]);
    } else if (IsSwitch(first, "unreg")) {
        line.Role = TStartRole::srUnreg;
        line.UnregisterOwnType = args.size() >= 2 && IsSwitch(args[1], "ownunreg");
    } else if (IsSwitch(first, "ownreg")) {
        line.Role = TStartRole::srOwnReg;
    } else if (IsSwitch(first, "ownunreg")) {
        line.Role = TStartRole::srOwnUnreg;
    } else if (IsSwitch(first, "view")) {
        line.Role = TStartRole::srView;
    } else if (IsSwitch(first, "wizard")) {
        line.Role = TStartRole::srWizard;
    } else if (IsSwitch(first, "slideshow")) {
        line.Role = TStartRole::srSlideshow;
    }
    if (CreatesWindows(line.Role))
        line.FileArgument = AbsolutePath(line.FileArgument, workingFolder);
    return line;
}
