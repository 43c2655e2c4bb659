#include "loading/ImageFilter.h"

#include "loading/FreeImageSetup.h"
#include "loading/SecondaryFormatRegistry.h"

#include <FreeImage.h>

#include <QSet>

namespace {

QString Patterns(const QStringList& extensions, const QString& separator) {
    QStringList patterns;
    for (const QString& ext : extensions) patterns.append("*." + ext);
    return patterns.join(separator);
}

// "Description (*.a;*.b)|*.a;*.b"; the secondary registry shows "; " in the description.
QString Entry(const QString& description, const QStringList& extensions,
              const QString& shownSeparator = QStringLiteral(";")) {
    return description + " (" + Patterns(extensions, shownSeparator) + ")|" +
           Patterns(extensions, QStringLiteral(";"));
}

} // namespace

const QStringList& CameraRawExtensions() {
    static const QStringList list = {"arw", "bay", "bmq", "cr2", "crw", "cs1", "dc2", "dcr",
                                     "dng", "erf", "fff", "hdr", "ia",  "k25", "kc2", "kdc",
                                     "mdc", "mos", "mrw", "nef", "orf", "pef", "pxn", "raf",
                                     "raw", "rdc", "sr2", "srf", "sti", "x3f"};
    return list;
}

QString GetImageFilter(bool UseFreeImage, bool UseSecondary, bool UseRaw, bool DialogFilter) {
    EnsureFreeImage();
    // Whole items, so that neither an empty source nor a missing one leaves an empty
    // item or glues two extensions together.
    QStringList extensions;
    QSet<QString> listed;
    QStringList entries; // dialog entries after "All files"

    if (UseSecondary) {
        // An extension a format before already claims stays with that format.
        const auto add = [&](const QString& description, const QStringList& all) {
            QStringList own;
            for (const QString& ext : all)
                if (!listed.contains(ext)) own.append(ext);
            if (own.isEmpty()) return;
            for (const QString& ext : own) listed.insert(ext);
            extensions.append(own);
            entries.append(Entry(description, own, QStringLiteral("; ")));
        };
        for (const auto& format : TSecondaryFormatRegistry::Instance().Formats())
            add(format.Description, format.Extensions);
        // Read by their own libraries, whatever Qt readers are installed.
        add(QStringLiteral("HEIF image"), {"heic", "heif", "hif"});
        add(QStringLiteral("AVIF image"), {"avif"});
        add(QStringLiteral("JPEG XL image"), {"jxl"});
    }
    if (UseFreeImage) {
        for (int i = 0; i < FreeImage_GetFIFCount(); ++i) {
            const auto fif = static_cast<FREE_IMAGE_FORMAT>(i);
            if (!FreeImage_FIFSupportsReading(fif)) continue;
            const char* rawList = FreeImage_GetFIFExtensionList(fif);
            if (rawList == nullptr) continue;
            QStringList own;
            for (const QString& ext : QString::fromLatin1(rawList).split(',', Qt::SkipEmptyParts))
                own.append(ext.trimmed().toLower());
            if (own.isEmpty()) continue;
            bool covered = false;
            for (const QString& ext : own) covered = covered || listed.contains(ext);
            if (covered) continue;
            for (const QString& ext : own) listed.insert(ext);
            extensions.append(own);
            const char* description = FreeImage_GetFIFDescription(fif);
            entries.append(Entry(QString::fromLatin1(description ? description : ""), own));
        }
    }
    if (UseRaw) {
        extensions.append(CameraRawExtensions());
        entries.append(Entry(QStringLiteral("Camera RAW"), CameraRawExtensions()));
    }

    if (!DialogFilter) return extensions.join(',');
    QString filter = QStringLiteral("All files|*.*");
    for (const QString& entry : entries) filter += '|' + entry;
    return filter;
}

QString FileDialogFilter(const QString& pairs) {
    const QStringList parts = pairs.split(u'|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        if (patterns.trimmed().isEmpty()) continue; // a text without patterns filters nothing
        QString text = parts[i];
        if (const qsizetype open = text.indexOf(u'('); open > 0 && text.endsWith(u')'))
            text = text.left(open).trimmed();
        filters << text + QStringLiteral(" (") + patterns + u')';
    }
    return filters.join(QStringLiteral(";;"));
}

const QString& ImageExtensions() {
    static const QString extensions = GetImageFilter(true, true, true, false);
    return extensions;
}
