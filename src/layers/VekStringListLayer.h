#pragma once

#include "app/ThreadedTimer.h"
#include "app/VekFont.h"
#include "gfx/Bitmap32.h"
#include "layers/VekCustomLayer.h"

#include <QFont>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <cstdint>

// A panel listing lines of text in its client area. Pressing the left button in the
// list and moving the pointer away from the press point scrolls the text while the
// button is held: every 100 ms by the distance below (up) or above (down) the press
// point, shown by a marker centred on that point.
class TVekStringListLayer : public TVekCustomControlLayer {
public:
    explicit TVekStringListLayer(TLayerCollection& collection);
    ~TVekStringListLayer() override = default;

    [[nodiscard]] const QStringList& Lines() const { return m_lines; }
    // Both repaint the client area; the scroll offset is kept.
    void SetLines(const QStringList& lines);
    void ClearLines();

    // The font as the settings store keeps it, and the font and colour it draws with.
    [[nodiscard]] const TVekFont& TextFont() const { return m_textFont; }
    [[nodiscard]] const QFont& TextQFont() const { return m_textQFont; }
    [[nodiscard]] TColor32 TextColor() const { return m_textColor; }
    // Repaints the client area.
    void SetTextFont(const TVekFont& font);
    // The line pitch in pixels, at least 1.
    [[nodiscard]] int LineHeight() const;

    // Pixels of content scrolled out at the top.
    std::int32_t ScrollOffset = 0;
    // Ticks while the scroll gesture runs.
    TThreadedTimer ScrollTimer;
    // Pixels added to ScrollOffset per tick.
    std::int32_t ScrollSpeed = 0;
    // Where the scroll gesture started; (-1, -1) when none runs.
    QPoint ScrollAnchor;
    // Drawn blended with its centre on ScrollAnchor while scrolling (at a device pixel
    // ratio other than 1, the same picture made at that ratio).
    TBitmap32 ScrollMarker;

    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void CancelPointer() override;

    // Adds "text font" after the rectangle; loading reads it before the rectangle.
    void SaveSettings(TRegRoot root, const QString& keyPath) override;
    void LoadSettings(TRegRoot root, const QString& keyPath) override;

protected:
    void PaintContent(TBitmap32& buffer, const TPanelLocation& client) override;
    // One line with the top-left corner of its cell at (x, y); here the whole line
    // as plain text.
    virtual void DrawLine(TBitmap32& buffer, int x, const QString& line, int y);

private:
    void ScrollTick();
    // The scroll marker as drawn at `ratio`.
    [[nodiscard]] const TBitmap32& Marker(double ratio);
    // Keeps the last line from rising above the bottom of a view `visibleHeight`
    // pixels high, and the offset from going negative; repaints when it changed
    // from `before`.
    void ClampScroll(int visibleHeight, std::int32_t before);

    QStringList m_lines;
    TBitmap32 m_deviceMarker;
    double m_deviceMarkerRatio = 0;
    TVekFont m_textFont;
    QFont m_textQFont;
    TColor32 m_textColor = clBlack32;
};

// A metadata line "name:value;{description}" taken apart. A line without ":" has an
// empty name and the text before ";" as its value; without ";" the value is empty;
// a description without its closing "}" is dropped.
struct TMetaLine {
    QString Name, Value, Description;
    bool operator==(const TMetaLine&) const = default;
};
[[nodiscard]] TMetaLine SplitMetaLine(const QString& line);

// A list of metadata lines: the name in bold, ": " and the value plain and, when tag
// comments are shown, the description in braces in italic.
class TVekMetaDataLayer : public TVekStringListLayer {
public:
    using TVekStringListLayer::TVekStringListLayer;

    [[nodiscard]] bool ShowTagComments() const { return m_showTagComments; }
    // Repaints the client area when the flag changes.
    void SetShowTagComments(bool value);

    // Adds "show comment" after the string list's values; loading reads it first.
    void SaveSettings(TRegRoot root, const QString& keyPath) override;
    void LoadSettings(TRegRoot root, const QString& keyPath) override;

protected:
    void DrawLine(TBitmap32& buffer, int x, const QString& line, int y) override;

private:
    bool m_showTagComments = false;
};
