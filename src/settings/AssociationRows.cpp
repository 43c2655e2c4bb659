#include "settings/AssociationRows.h"

#include "app/DesktopEntries.h"
#include "app/FileAssociations.h"
#include "app/SettingsLayout.h"
#include "platform/Registry.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

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
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    struct TDraft {
        QString Description;
        QStringList Items; // "*.jpg"
    };
    const auto extOf = [](const QString& item) {
        return item.mid(item.indexOf(u'.') + 1).toLower();
    };
    const QStringList fields = dialogFilter.split(u'|');
    std::vector<TDraft> drafts;
    // Pairs of description and patterns; the first pair is "All files".
    for (qsizetype i = 2; i + 1 < fields.size(); i += 2) {
        TDraft draft{fields[i].left(fields[i].indexOf(u'(')).trimmed(), {}};
        for (const QString& item : fields[i + 1].split(separators, Qt::SkipEmptyParts))
            if (!extOf(item).isEmpty()) draft.Items << item;
        if (!draft.Items.isEmpty()) drafts.push_back(std::move(draft));
    }

    // A row sharing most of its types with an earlier one (most of either's) is the same family
    // seen by two decoders (the camera formats): one row offers them all.
    const auto extensionsOf = [&](const TDraft& d) {
        QSet<QString> set;
        for (const QString& item : d.Items) set.insert(extOf(item));
        return set;
    };
    for (size_t later = 1; later < drafts.size(); ++later) {
        const QSet<QString> own = extensionsOf(drafts[later]);
        for (size_t earlier = 0; earlier < later; ++earlier) {
            if (drafts[earlier].Items.isEmpty()) continue;
            QSet<QString> shared = own;
            shared.intersect(extensionsOf(drafts[earlier]));
            if (shared.size() * 2 < own.size() || shared.size() * 2 < drafts[earlier].Items.size())
                continue;
            const QSet<QString> known = extensionsOf(drafts[earlier]);
            for (const QString& item : drafts[later].Items)
                if (!known.contains(extOf(item))) drafts[earlier].Items << item;
            drafts[later].Items.clear();
            break;
        }
    }
    // Any other type named by several rows stays only in the narrowest of them ("hdr"
    // belongs to the HDR row, not to the camera formats), so one mark decides it.
    QHash<QString, size_t> home;
    for (size_t r = 0; r < drafts.size(); ++r)
        for (const QString& item : drafts[r].Items) {
            const auto found = home.constFind(extOf(item));
            if (found == home.cend() || drafts[r].Items.size() < drafts[*found].Items.size())
                home.insert(extOf(item), r);
        }

    const QString standard = QLatin1String(kStandardExtensions);
    std::vector<TAssociationRow> rows;
    for (size_t r = 0; r < drafts.size(); ++r) {
        QStringList items;
        for (const QString& item : drafts[r].Items)
            if (home.value(extOf(item)) == r) items << item;
        if (items.isEmpty()) continue;
        TAssociationRow row;
        row.Patterns = items.join(QStringLiteral(", "));
        row.Display = drafts[r].Description + QStringLiteral(" (") + row.Patterns + u')';
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
    // A type a ticked row also names stays ours.
    QSet<QString> checked;
    for (const QString& ext : ExtensionsWhere(rows, true)) checked.insert(ext.toLower());
    QStringList unchecked;
    for (const QString& ext : ExtensionsWhere(rows, false))
        if (!checked.contains(ext.toLower())) unchecked << ext;
    return unchecked;
}
