#pragma once

#include "app/ThreadedTimer.h"
#include "app/VekFont.h"
#include "gfx/Bitmap32.h"
#include "layers/VekCustomLayer.h"

#include <QFont>
#include <QString>

#include <cstdint>
#include <functional>

// A one-line comment editor over the picture: a translucent band with the text
// centred in it, a blinking caret, selection by mouse and keyboard, and clipboard
// cut, copy and paste. While the text is empty and not being edited the band shows
// a grey "Please enter comment". The layer only holds the text it is given.
//
// The band has no caption, border, moving, resizing or hiding on double click; its
// right-button release calls OnContextMenu (the window's comment menu).
class TVekEditLayer : public TVekCustomControlLayer {
public:
    explicit TVekEditLayer(TLayerCollection& collection);
    ~TVekEditLayer() override = default;

    // The text when editing began; Escape restores it.
    QString SavedText;
    [[nodiscard]] const QString& Text() const { return m_text; }
    // Line breaks become blanks (a "\n\r" pair one blank, then every "\n" and every
    // "\r"); repaints when the text changes. Caret and selection are left alone.
    void SetText(const QString& text);

    [[nodiscard]] const TVekFont& TextFont() const { return m_textFont; }
    [[nodiscard]] const QFont& TextQFont() const { return m_textQFont; }
    // Runs the font change: the caret and the band follow the font's height.
    void SetTextFont(const TVekFont& font);
    TColor32 TextColor = 0xE6000000u;

    [[nodiscard]] bool Editing() const { return m_editing; }
    // Starts or ends editing: remembers the text for Escape, runs the caret.
    void SetEditing(bool value);

    // Characters before the caret; the fixed and the moving end of the selection
    // (-1 for none). Out-of-range values are clamped to the text wherever used.
    std::int32_t CaretPos = 0;
    std::int32_t SelAnchor = -1;
    std::int32_t SelEnd = -1;
    // One pixel wide and as tall as the font, drawn blended.
    TBitmap32 CaretImage;
    TThreadedTimer BlinkTimer;
    bool CaretVisible = false;

    [[nodiscard]] bool HasSelection() const;
    [[nodiscard]] QString GetSelText() const;
    // Copying does nothing without a selection.
    void CopyToClipboard();
    void CutToClipboard();
    // Replaces the selection by the clipboard's text (at most 254 characters, line
    // breaks as blanks).
    void PasteFromClipboard();
    [[nodiscard]] bool CanPaste() const;
    // Removes the selection when the caret is at its moving end.
    void DeleteSelected();
    void SelectAll();

    // Where the caret stands before character `pos`; an empty rectangle outside the text.
    [[nodiscard]] TRect CaretRect(int pos) const;
    // The caret position a click at `x` gives: after the character clicked into.
    [[nodiscard]] int CharIndexAt(int x) const;

    // After a font change has resized the band; the owner repositions it.
    std::function<void(TVekEditLayer& sender)> OnFontChanged;

    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void KeyDown(std::uint16_t& key, TShiftState shift) override;
    void KeyPress(QChar& key) override;

    // Adds "text font" after the rectangle; loading reads it before the rectangle.
    void SaveSettings(TRegRoot root, const QString& keyPath) override;
    void LoadSettings(TRegRoot root, const QString& keyPath) override;

protected:
    void PaintFrame(TBitmap32& buffer, const TPanelLocation& logical) override;
    void PaintContent(TBitmap32& buffer, const TPanelLocation& client) override;

private:
    void FontChanged();
    void BlinkTick();
    void DeleteSelection();
    void ClampPositions();
    void Repaint() { Changed(ClientRect()); }
    [[nodiscard]] int TextWidth(const QString& text) const;
    // Left edge of the text centred in ClientRect.
    [[nodiscard]] int TextStart() const;

    QString m_text;
    TVekFont m_textFont;
    QFont m_textQFont;
    bool m_editing = false;
};

// Line breaks as the editor shows them: a "\n\r" pair, then every remaining "\n",
// then every "\r" becomes one blank.
[[nodiscard]] QString LineBreaksToBlanks(QString text);
