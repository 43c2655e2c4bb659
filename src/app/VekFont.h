#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// A panel's text font as the store keeps it: face name, colour (negative values
// are system colours), height (negative: character height in pixels), escapement
// in tenths of a degree, character set, and style. Size and height are two views
// of one value: setting the size sets the height at the font's pixels per inch.
class TVekFont {
public:
    static constexpr std::int32_t clWindowText = -16777208; // system colour 8

    QString Name = QStringLiteral("Tahoma");
    std::int32_t Color = clWindowText;
    std::int32_t Orientation = 0;
    std::uint8_t Charset = 1; // the default character set
    bool Bold = false, Italic = false, Underline = false, StrikeOut = false;
    int PixelsPerInch = 96;

    [[nodiscard]] std::int32_t Height() const { return m_height; }
    void SetHeight(std::int32_t height) { m_height = height; }
    [[nodiscard]] std::int32_t Size() const;
    void SetSize(std::int32_t size);

    bool operator==(const TVekFont&) const = default;

private:
    std::int32_t m_height = -13; // 10 points at 96 pixels per inch
};

// "Family=...;Color=...;Height=...;Orientation=...;Charset=...;Size=...[;Style=...]",
// items holding a space, control character, double quote or ";" in double quotes.
[[nodiscard]] QString FontToText(const TVekFont& font);

// Parses FontToText's text (items in any order, the first of a name counts; the
// size is applied after the height, so it decides the final height). Returns
// nullopt when "Family" or one of the five numeric items is missing or not a
// number, the character set is outside 0 ... 255, or the size gives a height
// beyond 32 bits: the caller keeps its font.
[[nodiscard]] std::optional<TVekFont> TextToFont(const QString& text, int pixelsPerInch = 96);
