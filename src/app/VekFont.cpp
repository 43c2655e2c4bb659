#include "app/VekFont.h"

#include <QStringList>

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

// a * b / c rounded half away from zero, in 64 bits; nullopt when the result does
// not fit 32 bits or c is 0.
std::optional<std::int32_t> CheckedMulDiv(std::int64_t a, std::int64_t b, std::int64_t c) {
    if (c == 0) return std::nullopt;
    const std::int64_t product = a * b;
    const bool negative = (product < 0) != (c < 0);
    const std::int64_t q = (std::llabs(product) + std::llabs(c) / 2) / std::llabs(c);
    if (q > INT32_MAX) return std::nullopt;
    return std::int32_t(negative ? -q : q);
}

// Windows' MulDiv, which reports overflow as -1.
std::int32_t MulDiv(std::int64_t a, std::int64_t b, std::int64_t c) {
    return CheckedMulDiv(a, b, c).value_or(-1);
}

bool NeedsQuotes(const QString& item) {
    for (const QChar c : item)
        if (c.unicode() <= ' ' || c == '"' || c == ';') return true;
    return false;
}

QString QuoteItem(const QString& item) {
    if (!NeedsQuotes(item)) return item;
    QString quoted = item;
    quoted.replace('"', QStringLiteral("\"\""));
    return '"' + quoted + '"';
}

// Splits at ";" and, outside double quotes, at spaces and control characters; a
// quoted item is taken whole with doubled quotes undone.
QStringList SplitItems(const QString& text) {
    QStringList items;
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto skipBlanks = [&] {
        while (i < n && text[i].unicode() <= ' ') ++i;
    };
    skipBlanks();
    while (i < n) {
        QString item;
        if (text[i] == '"') {
            for (++i; i < n; ++i) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item += '"';
                        ++i;
                    } else {
                        ++i;
                        break;
                    }
                } else {
                    item += text[i];
                }
            }
        } else {
            const qsizetype start = i;
            while (i < n && text[i].unicode() > ' ' && text[i] != ';') ++i;
            item = text.mid(start, i - start);
        }
        items.append(item);
        skipBlanks();
        if (i < n && text[i] == ';') {
            ++i;
            skipBlanks();
        }
    }
    return items;
}

} // namespace

std::int32_t TVekFont::Size() const {
    return -MulDiv(m_height, 72, PixelsPerInch);
}

void TVekFont::SetSize(std::int32_t size) {
    m_height = -MulDiv(size, PixelsPerInch, 72);
}

QString FontToText(const TVekFont& font) {
    QStringList items;
    items << QStringLiteral("Family=") + font.Name
          << QStringLiteral("Color=") + QString::number(font.Color)
          << QStringLiteral("Height=") + QString::number(font.Height())
          << QStringLiteral("Orientation=") + QString::number(font.Orientation)
          << QStringLiteral("Charset=") + QString::number(font.Charset)
          << QStringLiteral("Size=") + QString::number(font.Size());
    QString style;
    if (font.Bold) style += QStringLiteral("Bold ");
    if (font.Underline) style += QStringLiteral("Underline ");
    if (font.Italic) style += QStringLiteral("Italic ");
    if (font.StrikeOut) style += QStringLiteral("Strikeout ");
    if (!style.isEmpty()) items << QStringLiteral("Style=") + style;
    QStringList quoted;
    for (const QString& item : items) quoted.append(QuoteItem(item));
    return quoted.join(';');
}

std::optional<TVekFont> TextToFont(const QString& text, int pixelsPerInch) {
    const QStringList items = SplitItems(text);
    const auto value = [&](const QString& name) -> std::optional<QString> {
        for (const QString& item : items) {
            const qsizetype eq = item.indexOf('=');
            if (eq >= 0 && item.left(eq).compare(name, Qt::CaseInsensitive) == 0)
                return item.mid(eq + 1);
        }
        return std::nullopt;
    };
    const auto number = [&](const QString& name) -> std::optional<qint64> {
        const auto text = value(name);
        if (!text) return std::nullopt;
        bool ok = false;
        const qint64 n = text->trimmed().toLongLong(&ok);
        if (!ok) return std::nullopt;
        return n;
    };
    const auto family = value(QStringLiteral("Family"));
    const auto color = number(QStringLiteral("Color"));
    const auto height = number(QStringLiteral("Height"));
    const auto orientation = number(QStringLiteral("Orientation"));
    const auto charset = number(QStringLiteral("Charset"));
    const auto size = number(QStringLiteral("Size"));
    if (!family || !color || !height || !orientation || !charset || !size) return std::nullopt;
    if (*charset < 0 || *charset > 255) return std::nullopt;
    const auto fits = [](qint64 v) { return v >= INT32_MIN && v <= INT32_MAX; };
    if (!fits(*height) || !fits(*orientation) || !fits(*size)) return std::nullopt;

    TVekFont font;
    font.PixelsPerInch = pixelsPerInch > 0 ? pixelsPerInch : 96;
    font.Name = *family;
    font.Color = std::int32_t(std::uint32_t(std::uint64_t(*color))); // narrowed to 32 bits
    font.SetHeight(std::int32_t(*height));
    font.Orientation = std::int32_t(*orientation);
    font.Charset = std::uint8_t(*charset);
    // A size whose height overflows is as malformed as one that is no number: MulDiv's
    // -1 would turn it into a 1-pixel font.
    const auto sizeHeight = CheckedMulDiv(*size, font.PixelsPerInch, 72);
    if (!sizeHeight) return std::nullopt;
    font.SetHeight(-*sizeHeight);
    const QString style = value(QStringLiteral("Style")).value_or(QString());
    font.Bold = style.contains(QStringLiteral("Bold"));
    font.Italic = style.contains(QStringLiteral("Italic"));
    font.Underline = style.contains(QStringLiteral("Underline"));
    font.StrikeOut = style.contains(QStringLiteral("Strikeout"));
    return font;
}
