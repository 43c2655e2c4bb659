#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class TBitmap32;

// The picture formats FreeImage cannot read, decoded through Qt: SVG and SVGZ through
// Qt SVG at their natural size, and whatever other Qt image reader is installed for an
// extension no FreeImage format claims. Formats are chosen by file extension.
class TSecondaryFormatRegistry {
public:
    struct TFormat {
        QString Description;
        QStringList Extensions; // lower case, without dot
        bool Vector = false;    // rendered through Qt SVG
    };

    // The process-wide registry (built on first use; FreeImage must be initialised).
    static const TSecondaryFormatRegistry& Instance();

    [[nodiscard]] const std::vector<TFormat>& Formats() const { return m_formats; }
    // "svg,svgz,..." in registry order.
    [[nodiscard]] QString ExtensionList() const;
    // "All images (*.svg; ...)|*.svg;...|Scalable Vector Graphics (*.svg)|*.svg|..."
    [[nodiscard]] QString FilterString() const;
    // The format that reads `fileName` by its extension, or null.
    [[nodiscard]] const TFormat* FormatFor(const QString& fileName) const;

    // Decodes `fileName` into `target`. Throws std::runtime_error when the file cannot
    // be read or its picture is above the loader's size limit.
    void Load(const QString& fileName, TBitmap32& target) const;

private:
    TSecondaryFormatRegistry();
    std::vector<TFormat> m_formats;
};
