#include "settings/AssociationRows.h"

#include "app/DesktopEntries.h"
#include "app/FileAssociations.h"
#include "app/SettingsLayout.h"
#include "platform/Registry.h"

#include <QRegularExpression>

namespace {

QStringList ExtensionsOf(const TAssociationRow& row) {
    QStringList extensions;
    for (int k = 0;; ++k) {
        const QString ext = ExtensionAt(row.Patterns, k);
        if (ext.isEmpty()) return extensions;
        extensions << ext;
    }
}

QStringList ExtensionsWhere(const std::vector<TAssociationRow>& rows, bool associated) {
    QStringList extensions;
    for (const TAssociationRow& row : rows)
        if (row.Associated == associated) extensions << ExtensionsOf(row);
    return extensions;
}

// Our own store: the class name of ".ext" or the user's choice names us.
bool StoreAssociated(const QString& ext) {
    const QString ours = QLatin1String(kProgIdPrefix) + u'.' + ext;
    TRegistry classes(TRegRoot::rrClassesRoot);
    if (!classes.OpenKey(u'\\' + QStringLiteral(".") + ext, false)) return false;
    const QString className = classes.ReadString({}).value_or(QString());
    classes.CloseKey();
    QString choice;
    TRegistry user(TRegRoot::rrCurrentUser);
    if (user.OpenKey(QLatin1String(layout::kFileExtsKey) + QStringLiteral("\\.") + ext, false))
        choice = user.ReadString(QStringLiteral("Progid")).value_or(QString());
    return className.compare(ours, Qt::CaseInsensitive) == 0 ||
           choice.compare(ours, Qt::CaseInsensitive) == 0;
}

} // namespace

QString ExtensionAt(const QString& patterns, int k) {
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    const QStringList items = patterns.split(separators, Qt::SkipEmptyParts);
    if (k < 0 || k >= items.size()) return {};
    const QString& item = items[k];
    return item.mid(item.indexOf(u'.') + 1);
}

std::vector<TAssociationRow> AssociationRowsOf(const QString& dialogFilter) {
    const QString standard = QLatin1String(kStandardExtensions);
    const QStringList fields = dialogFilter.split(u'|');
    std::vector<TAssociationRow> rows;
    // Pairs of description and patterns; the first pair is "All files".
    for (qsizetype i = 2; i + 1 < fields.size(); i += 2) {
        TAssociationRow row;
        row.Patterns = QString(fields[i + 1]).replace(u';', QStringLiteral(", "));
        while (row.Patterns.contains(QStringLiteral("  ")))
            row.Patterns.replace(QStringLiteral("  "), QStringLiteral(" "));
        if (ExtensionAt(row.Patterns, 0).isEmpty()) continue;
        const QString& description = fields[i];
        row.Display = description.left(description.indexOf(u'(')).trimmed() + QStringLiteral(" (") +
                      row.Patterns + u')';
        for (const QString& ext : ExtensionsOf(row))
            if (standard.contains(ext, Qt::CaseInsensitive)) row.Standard = true;
        rows.push_back(std::move(row));
    }
    return rows;
}

bool ExtensionAssociated(const QString& ext) {
    if (ext.isEmpty()) return false;
    const QString id = DefaultApplicationId(MimeTypeOfExtension(ext));
    if (!id.isEmpty()) return id == QLatin1String(kViewerDesktopId);
    return StoreAssociated(ext);
}

void ReadAssociations(std::vector<TAssociationRow>& rows) {
    for (TAssociationRow& row : rows) {
        row.Associated = false;
        for (const QString& ext : ExtensionsOf(row))
            if (ExtensionAssociated(ext)) {
                row.Associated = true;
                break;
            }
    }
}

QStringList CheckedExtensions(const std::vector<TAssociationRow>& rows) {
    return ExtensionsWhere(rows, true);
}

QStringList UncheckedExtensions(const std::vector<TAssociationRow>& rows) {
    return ExtensionsWhere(rows, false);
}
