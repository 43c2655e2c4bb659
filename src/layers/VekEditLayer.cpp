#include "layers/VekEditLayer.h"

#include "app/SettingsLayout.h"
#include "layers/LayerCanvas.h"
#include "layers/LayerPaint.h"
#include "platform/Registry.h"
#include "platform/VirtualKeys.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QStyleHints>

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace {

constexpr TColor32 kCaretColour = 0xC8000000u;
constexpr int kBandPadding = 10; // the band is this much taller than the font
constexpr int kBandLeg = 20;     // corner legs of the band's outline
// Pasted text is cut like an 8-bit text of at most 255 bytes with its terminating zero.
constexpr qsizetype kPasteLimit = 255;

TVekFont DefaultTextFont() {
    TVekFont font;
    font.Name = LayerFont(10).family();
    font.Color = TVekFont::clWindowText;
    font.SetSize(10);
    return font;
}

// The platform's caret phase: half of the flash cycle. Without blinking the caret is
// shown steadily (the timer then never ticks).
std::int32_t CaretBlinkTime() {
    const int cycle = qGuiApp != nullptr ? QGuiApplication::styleHints()->cursorFlashTime() : 1000;
    return cycle > 0 ? std::max(1, cycle / 2) : -1;
}

TShiftState KeyPart(TShiftState shift) {
    return shift & (ssShift | ssCtrl | ssAlt);
}

QClipboard* Clipboard() {
    return qGuiApp != nullptr ? QGuiApplication::clipboard() : nullptr;
}

} // namespace

QString LineBreaksToBlanks(QString text) {
    text.replace(QStringLiteral("\n\r"), QStringLiteral(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text;
}

TVekEditLayer::TVekEditLayer(TLayerCollection& collection)
    : TVekCustomControlLayer(collection), m_textFont(DefaultTextFont()),
      m_textQFont(ToQFont(m_textFont)) {
    ShowCaption = false;
    ShowBorder = false;
    Movable = false;
    Resizable = false;
    CloseOnDoubleClick = false;
    FillColor = Color32(0xC0, 0xC0, 0xC0, 180);
    const int h = std::abs(FontHeight(m_textQFont));
    Location = {0, 0, 100, float(h + kBandPadding)};
    CaretImage.SetSize(1, h);
    CaretImage.Clear(kCaretColour);
    CaretImage.DrawMode = TDrawMode::dmBlend;

    const std::int32_t blink = CaretBlinkTime();
    BlinkTimer.SetInterval(blink);
    BlinkTimer.SetAllowZero(true);
    BlinkTimer.OnTimer = [this](TThreadedTimer&) { BlinkTick(); };
    CaretVisible = blink < 0;
}

void TVekEditLayer::SetText(const QString& text) {
    const QString shown = LineBreaksToBlanks(text);
    if (shown == m_text) return;
    SavedText = m_text;
    m_text = shown;
    Repaint();
}

void TVekEditLayer::SetTextFont(const TVekFont& font) {
    m_textFont = font;
    m_textQFont = ToQFont(font);
    FontChanged();
}

void TVekEditLayer::FontChanged() {
    const int h = std::abs(FontHeight(m_textQFont));
    CaretImage.SetSize(1, h);
    CaretImage.Clear(kCaretColour);
    SetHeight(h + kBandPadding);
    Repaint();
    if (OnFontChanged) OnFontChanged(*this);
}

void TVekEditLayer::SetEditing(bool value) {
    if (value == m_editing) return;
    m_editing = value;
    SavedText = m_text;
    BlinkTimer.SetEnabled(value);
    Repaint();
}

void TVekEditLayer::BlinkTick() {
    // The timer outlives an edit by one tick, which switches it off.
    if (!m_editing) BlinkTimer.SetEnabled(false);
    CaretVisible = !CaretVisible;
    Changed(CaretRect(std::clamp<int>(CaretPos, 0, int(m_text.size()))));
}

// ---- Positions --------------------------------------------------------------------

void TVekEditLayer::ClampPositions() {
    const auto length = std::int32_t(m_text.size());
    CaretPos = std::clamp(CaretPos, 0, length);
    SelAnchor = std::min(SelAnchor, length);
    SelEnd = std::min(SelEnd, length);
}

bool TVekEditLayer::HasSelection() const {
    const auto length = std::int32_t(m_text.size());
    const std::int32_t a = std::min(SelAnchor, length), e = std::min(SelEnd, length);
    return a >= 0 && e >= 0 && a != e;
}

QString TVekEditLayer::GetSelText() const {
    if (!HasSelection()) return {};
    const auto length = std::int32_t(m_text.size());
    const std::int32_t a = std::min(SelAnchor, length), e = std::min(SelEnd, length);
    return m_text.mid(std::min(a, e), std::abs(a - e));
}

void TVekEditLayer::DeleteSelection() {
    ClampPositions();
    if (!HasSelection()) return;
    const std::int32_t lo = std::min(SelAnchor, SelEnd);
    m_text.remove(lo, std::abs(SelAnchor - SelEnd));
    CaretPos = SelAnchor = SelEnd = lo;
}

int TVekEditLayer::TextWidth(const QString& text) const {
    return TextSize(m_textQFont, text).width();
}

int TVekEditLayer::TextStart() const {
    const TRect client = ClientRect();
    return RoundToInt((client.Right - client.Left - TextWidth(m_text)) / 2.0 + client.Left);
}

TRect TVekEditLayer::CaretRect(int pos) const {
    if (pos < 0 || pos > m_text.size()) return {};
    const TRect client = ClientRect();
    const int x = TextStart() + TextWidth(m_text.left(pos));
    const int top = RoundToInt(client.Top + (client.Height() - CaretImage.Height()) / 2.0);
    return {x - 1, top, x - 1 + CaretImage.Width(), top + CaretImage.Height()};
}

int TVekEditLayer::CharIndexAt(int x) const {
    const int start = TextStart();
    const auto length = int(m_text.size());
    if (x <= start) return 0;
    if (x >= start + TextWidth(m_text)) return length;
    int right = start;
    for (int i = 0; i < length; ++i) {
        right += TextWidth(m_text.mid(i, 1));
        if (x < right) return i + 1;
    }
    return length;
}

// ---- Clipboard --------------------------------------------------------------------

void TVekEditLayer::CopyToClipboard() {
    const QString selected = GetSelText();
    if (selected.isEmpty()) return;
    if (QClipboard* clipboard = Clipboard()) {
        clipboard->clear();
        clipboard->setText(selected);
    }
}

void TVekEditLayer::CutToClipboard() {
    CopyToClipboard();
    DeleteSelection();
    Repaint();
}

void TVekEditLayer::PasteFromClipboard() {
    const bool hadSelection = HasSelection();
    DeleteSelection();
    QClipboard* clipboard = Clipboard();
    const QMimeData* data = clipboard != nullptr ? clipboard->mimeData() : nullptr;
    if (data == nullptr || !data->hasText()) {
        if (hadSelection) Repaint();
        return;
    }
    QString text = data->text();
    // The clipboard's text counts with its terminating zero, so at most 254
    // characters come in; a zero inside ends the text early.
    const qsizetype bytes = text.toUtf8().size() + 1;
    qsizetype take = std::min(bytes, kPasteLimit) - 1;
    if (const qsizetype zero = text.indexOf(QChar(0)); zero >= 0) take = std::min(take, zero);
    take = std::min(take, text.size());
    // Never cut a character outside the basic plane in half.
    if (take > 0 && take < text.size() && text[take - 1].isHighSurrogate()) --take;
    text = LineBreaksToBlanks(text.left(take));
    m_text.insert(CaretPos, text);
    CaretPos += std::int32_t(text.size());
    SelAnchor = SelEnd = CaretPos;
    Repaint();
}

bool TVekEditLayer::CanPaste() const {
    const QClipboard* clipboard = Clipboard();
    const QMimeData* data = clipboard != nullptr ? clipboard->mimeData() : nullptr;
    return data != nullptr && data->hasText();
}

void TVekEditLayer::DeleteSelected() {
    ClampPositions();
    if (!HasSelection() || SelEnd != CaretPos) return;
    DeleteSelection();
    Repaint();
}

void TVekEditLayer::SelectAll() {
    SelAnchor = 0;
    SelEnd = std::int32_t(m_text.size());
    Repaint();
}

// ---- Painting ---------------------------------------------------------------------

void TVekEditLayer::PaintFrame(TBitmap32& buffer, const TPanelLocation& logical) {
    // Worked out on the device grid: the band scaled, its legs and edges with it.
    const TLayerCanvas canvas(buffer, DeviceRatio());
    const double scale = canvas.Ratio();
    const TPanelLocation r = canvas.Map(logical);
    const TRect saved = buffer.ClipRect();
    buffer.SetClipRect(Intersect(saved, NearestRect(r)));
    const int height = RoundToInt(double(r.Bottom) - r.Top);
    if (!buffer.ClipRect().IsEmpty() && height > 0) {
        const double l = r.Left, t = r.Top, rt = double(r.Right) - scale,
                     b = double(r.Bottom) - scale;
        const double d = kBandLeg * scale;
        TFixedPolygon outline;
        for (const auto& [x, y] : {std::pair{l, t + d},
                                   {l, t},
                                   {l + d, t},
                                   {rt - d, t},
                                   {rt, t},
                                   {rt, t + d},
                                   {rt, b - d},
                                   {rt, b},
                                   {rt - d, b},
                                   {l + d, b},
                                   {l, b},
                                   {l, b - d}})
            outline.push_back({ToFixed(x), ToFixed(y)});

        // Faint at the top and bottom, a quarter of the fill's alpha in the middle.
        TBitmap32 pattern(1, height);
        const double a = AlphaOf(FillColor);
        for (int i = 0; i < height; ++i) {
            const double level =
                i < height / 2 ? (i / 2.0) / height * a : (height / 2.0 - i / 2.0) / height * a;
            pattern.SetPixel(
                0, i, WithAlpha(FillColor, std::uint8_t(std::clamp(RoundToInt(level), 0, 255))));
        }
        PolygonPatternFS(buffer, RoundedOutline(outline, canvas.Scaled()), pattern, 0,
                         RoundToInt(r.Top));
    }
    buffer.SetClipRect(saved);
}

void TVekEditLayer::PaintContent(TBitmap32& buffer, const TPanelLocation& client) {
    const TLayerCanvas canvas(buffer, DeviceRatio());
    const TRect saved = buffer.ClipRect();
    buffer.SetClipRect(Intersect(saved, NearestRect(canvas.Map(client))));
    if (!buffer.ClipRect().IsEmpty()) {
        ClampPositions();
        const QString shown =
            !m_text.isEmpty() || m_editing ? m_text : QStringLiteral("Please enter comment");
        const QSize size = TextSize(m_textQFont, shown);
        const int x =
            RoundToInt(client.Left + (double(client.Right) - client.Left - size.width()) / 2);
        const int y =
            RoundToInt(client.Top + (double(client.Bottom) - client.Top - size.height()) / 2);

        // Laid out in logical pixels (the caret and the selection are), drawn at the
        // device size.
        if (m_text.isEmpty()) {
            canvas.Text(x, y, shown, m_textQFont, WithAlpha(FillColor, 200), 1);
        } else if (m_editing && HasSelection()) {
            const std::int32_t lo = std::min(SelAnchor, SelEnd), hi = std::max(SelAnchor, SelEnd);
            canvas.FillRect(Union(CaretRect(SelEnd), CaretRect(SelAnchor)),
                            WithAlpha(SystemColor(TSystemColor::scHighlight), 200));
            const QString before = m_text.left(lo), selected = m_text.mid(lo, hi - lo),
                          after = m_text.mid(hi);
            const int w1 = TextWidth(before), w2 = TextWidth(selected);
            canvas.Text(x, y, before, m_textQFont, TextColor, 0);
            canvas.Text(x + w1, y, selected, m_textQFont,
                        WithAlpha(SystemColor(TSystemColor::scHighlightText), AlphaOf(TextColor)),
                        0);
            canvas.Text(x + w1 + w2, y, after, m_textQFont, TextColor, 0);
        } else {
            canvas.Text(x, y, m_text, m_textQFont, TextColor, 0);
        }

        if (CaretVisible && m_editing) {
            const TRect caret = CaretRect(CaretPos);
            if (!caret.IsEmpty())
                buffer.Draw(canvas.Map(caret), CaretImage.BoundsRect(), CaretImage);
        }
    }
    buffer.SetClipRect(saved);
}

// ---- Pointer and keyboard ---------------------------------------------------------

void TVekEditLayer::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    TVekCustomControlLayer::MouseDown(button, shift, x, y);
    const bool left = button == TMouseButton::mbLeft || (shift & ssLeft) != 0;
    const bool right = button == TMouseButton::mbRight || (shift & ssRight) != 0;
    if (!left && !right) return;
    const auto length = std::int32_t(m_text.size());
    CaretPos = CharIndexAt(x);
    if (left) SelAnchor = SelEnd = CaretPos;
    if ((shift & ssDouble) != 0) {
        // A double click at either end of the text selects all of it.
        if (CaretPos == 0) {
            SelAnchor = length;
            SelEnd = 0;
        }
        if (CaretPos == length) {
            SelAnchor = 0;
            SelEnd = length;
        }
    }
    if (!m_editing) {
        m_editing = true;
        SavedText = m_text;
        BlinkTimer.SetEnabled(true);
    }
    Repaint();
}

void TVekEditLayer::MouseMove(TShiftState shift, int x, int y) {
    TVekCustomControlLayer::MouseMove(shift, x, y);
    SetScreenCursor(Qt::IBeamCursor);
    if ((shift & (ssLeft | ssRight)) == 0) return;
    CaretPos = SelEnd = CharIndexAt(x);
    Repaint();
}

void TVekEditLayer::KeyDown(std::uint16_t& key, TShiftState shift) {
    TVekCustomControlLayer::KeyDown(key, shift);
    if (!m_editing) return;
    ClampPositions();
    const auto length = std::int32_t(m_text.size());
    const TShiftState keys = KeyPart(shift);
    const bool shiftHeld = (shift & ssShift) != 0;
    // Moves the caret to p, extending the selection with Shift when the caret is at
    // its moving end, else collapsing it at p.
    const auto moveTo = [&](std::int32_t p) {
        if (!(shiftHeld && CaretPos == SelEnd)) SelAnchor = p;
        CaretPos = p;
        SelEnd = p;
        Repaint();
    };
    const auto collapse = [&] {
        ClampPositions();
        SelAnchor = SelEnd = CaretPos;
        Repaint();
    };

    switch (key) {
    case vkReturn:
        m_editing = false;
        Repaint();
        break;
    case vkEscape:
        m_editing = false;
        m_text = SavedText;
        Repaint();
        break;
    case vkBack:
        if (keys != 0) break;
        if (HasSelection()) {
            DeleteSelection();
        } else if (CaretPos > 0) {
            m_text.remove(CaretPos - 1, 1);
            --CaretPos;
        }
        collapse();
        break;
    case vkDelete:
        if (keys == ssShift) {
            CutToClipboard();
            break;
        }
        if (keys != 0) break;
        if (HasSelection())
            DeleteSelection();
        else if (CaretPos < length)
            m_text.remove(CaretPos, 1);
        collapse();
        break;
    case vkLeft:
    case vkUp:
        if (CaretPos - 1 < 0)
            CaretPos = 0;
        else
            moveTo(CaretPos - 1);
        break;
    case vkRight:
    case vkDown:
        if (CaretPos + 1 > length)
            CaretPos = length;
        else
            moveTo(CaretPos + 1);
        break;
    case vkHome:
        if (shiftHeld && CaretPos == SelEnd)
            SelEnd = 0;
        else
            SelAnchor = SelEnd = 0;
        CaretPos = 0;
        Repaint();
        break;
    case vkEnd:
        moveTo(length);
        break;
    case vkC:
        if (keys == ssCtrl) CopyToClipboard();
        break;
    case vkInsert:
        if (keys == ssCtrl)
            CopyToClipboard();
        else if (keys == ssShift)
            PasteFromClipboard();
        break;
    case vkV:
        if (keys == ssCtrl) PasteFromClipboard();
        break;
    case vkX:
        if (keys == ssCtrl) CutToClipboard();
        break;
    default:
        break;
    }
}

void TVekEditLayer::KeyPress(QChar& key) {
    TVekCustomControlLayer::KeyPress(key);
    if (!m_editing || key.unicode() <= 27) return;
    DeleteSelection();
    ClampPositions();
    m_text.insert(CaretPos, key);
    ++CaretPos;
    SelAnchor = SelEnd = CaretPos;
    Repaint();
}

// ---- Settings ---------------------------------------------------------------------

void TVekEditLayer::SaveSettings(TRegRoot root, const QString& keyPath) {
    TVekCustomControlLayer::SaveSettings(root, keyPath);
    SaveTextFont(root, keyPath, m_textFont);
}

void TVekEditLayer::LoadSettings(TRegRoot root, const QString& keyPath) {
    if (const std::optional<TVekFont> font = LoadTextFont(root, keyPath)) SetTextFont(*font);
    TVekCustomControlLayer::LoadSettings(root, keyPath);
}
