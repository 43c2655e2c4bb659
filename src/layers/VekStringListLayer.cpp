#include "layers/VekStringListLayer.h"

#include "app/SettingsLayout.h"
#include "layers/LayerCanvas.h"
#include "layers/LayerPaint.h"
#include "layers/ResourceLoader.h"
#include "platform/Registry.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace {

constexpr std::int32_t kScrollInterval = 100; // ms per scroll step
constexpr int kTextMargin = 2;                // text rectangle inside the client area

// A new panel's text font: the desktop's face at 8 points in the window-text colour.
TVekFont DefaultTextFont() {
    TVekFont font;
    font.Name = LayerFont(8).family();
    font.Color = TVekFont::clWindowText;
    font.SetSize(8);
    return font;
}

TRect Deflated(const TRect& r, int d) {
    return {r.Left + d, r.Top + d, r.Right - d, r.Bottom - d};
}

// The panel's width and height as 16.16 fixed point, which is how a resize is told
// from a move.
bool SameSize(const TPanelLocation& a, const TPanelLocation& b) {
    return ToFixed(double(a.Right) - a.Left) == ToFixed(double(b.Right) - b.Left) &&
           ToFixed(double(a.Bottom) - a.Top) == ToFixed(double(b.Bottom) - b.Top);
}

QFont WithStyle(QFont font, bool bold, bool italic) {
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

} // namespace

// ---- TVekStringListLayer -------------------------------------------------------

TVekStringListLayer::TVekStringListLayer(TLayerCollection& collection)
    : TVekCustomControlLayer(collection), ScrollAnchor(-1, -1), m_textFont(DefaultTextFont()),
      m_textQFont(ToQFont(m_textFont)), m_textColor(FontColor(m_textFont)) {
    ScrollTimer.SetInterval(kScrollInterval);
    ScrollTimer.SetThreadPriority(TThreadPriority::tpLowest);
    ScrollTimer.SetAllowZero(true);
    ScrollTimer.OnTimer = [this](TThreadedTimer&) { ScrollTick(); };
    LoadMarkerResource(ScrollMarker);
    ScrollMarker.DrawMode = TDrawMode::dmBlend;
    Caption = QStringLiteral("String list");
    CloseOnDoubleClick = true;
}

void TVekStringListLayer::SetLines(const QStringList& lines) {
    m_lines = lines;
    // Scrolled far down a long list, a shorter one would show nothing at all.
    ClampScroll(ClientRect().Height() - 2 * kTextMargin, ScrollOffset);
    Changed(ClientRect());
}

void TVekStringListLayer::ClearLines() {
    m_lines.clear();
    ScrollOffset = 0;
    Changed(ClientRect());
}

void TVekStringListLayer::CancelPointer() {
    TVekCustomControlLayer::CancelPointer();
    ScrollTimer.SetEnabled(false);
    ScrollAnchor = QPoint(-1, -1);
}

void TVekStringListLayer::SetTextFont(const TVekFont& font) {
    m_textFont = font;
    m_textQFont = ToQFont(font);
    m_textColor = FontColor(font);
    Changed(ClientRect());
}

int TVekStringListLayer::LineHeight() const {
    return std::max(1, std::abs(FontHeight(m_textQFont)));
}

void TVekStringListLayer::PaintContent(TBitmap32& buffer, const TPanelLocation& client) {
    if (m_lines.isEmpty()) return;
    const TLayerCanvas canvas(buffer, DeviceRatio());
    const TRect saved = buffer.ClipRect();
    const TRect text = Deflated(OutsideRect(client), kTextMargin);
    const TRect clip = Intersect(saved, canvas.Map(text));
    if (!clip.IsEmpty()) {
        buffer.SetClipRect(clip);
        const TRect lines = canvas.Unmap(clip);
        const int lh = LineHeight();
        // The first line reaching into the clip; an offset left negative by a caller
        // still starts at the first line.
        qsizetype first = std::max<qsizetype>(0, (lines.Top + ScrollOffset - text.Top) / lh);
        qint64 y = qint64(text.Top) - ScrollOffset + qint64(first) * lh;
        for (; y < lines.Bottom && first < m_lines.size(); ++first, y += lh)
            DrawLine(buffer, text.Left, m_lines[first], int(y));
        if (ScrollAnchor.x() > 0 && ScrollAnchor.y() > 0) {
            const TBitmap32& marker = Marker(canvas.Ratio());
            if (!marker.Empty())
                buffer.Draw(canvas.Map(ScrollAnchor.x()) - marker.Width() / 2,
                            canvas.Map(ScrollAnchor.y()) - marker.Height() / 2, marker);
        }
    }
    buffer.SetClipRect(saved);
}

const TBitmap32& TVekStringListLayer::Marker(double ratio) {
    if (ratio == 1.0) return ScrollMarker;
    if (m_deviceMarkerRatio != ratio) {
        LoadMarkerResource(m_deviceMarker, ratio);
        m_deviceMarker.DrawMode = TDrawMode::dmBlend;
        m_deviceMarkerRatio = ratio;
    }
    return m_deviceMarker;
}

void TVekStringListLayer::DrawLine(TBitmap32& buffer, int x, const QString& line, int y) {
    TLayerCanvas(buffer, DeviceRatio()).Text(x, y, line, m_textQFont, m_textColor, 0);
}

void TVekStringListLayer::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    TVekCustomControlLayer::MouseDown(button, shift, x, y);
    ScrollAnchor = QPoint(-1, -1);
    // A double click may just have hidden the panel: no gesture starts then.
    if (!Visible()) return;
    if (button == TMouseButton::mbLeft && HitZone(x, y) == THitZone::hzClient) {
        ScrollAnchor = QPoint(x, y);
        ScrollSpeed = 0;
        ScrollTimer.SetEnabled(true);
        Changed(ClientRect());
    }
}

void TVekStringListLayer::MouseMove(TShiftState shift, int x, int y) {
    const TPanelLocation old = Location;
    TVekCustomControlLayer::MouseMove(shift, x, y);
    if ((shift & ssLeft) != 0 && ClientRect().Contains(x, y)) ScrollSpeed = y - ScrollAnchor.y();
    if (!SameSize(old, Location)) ClampScroll(ClientRect().Height(), ScrollOffset);
}

void TVekStringListLayer::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    TVekCustomControlLayer::MouseUp(button, shift, x, y);
    ScrollTimer.SetEnabled(false);
    ScrollAnchor = QPoint(-1, -1);
    Changed(ClientRect());
}

void TVekStringListLayer::ScrollTick() {
    const std::int32_t before = ScrollOffset;
    const qint64 moved = qint64(ScrollOffset) + ScrollSpeed;
    ScrollOffset = std::int32_t(std::clamp<qint64>(moved, 0, INT32_MAX));
    // Against the text rectangle, which lies 2 pixels inside the client area.
    ClampScroll(ClientRect().Height() - 2 * kTextMargin, before);
}

void TVekStringListLayer::ClampScroll(int visibleHeight, std::int32_t before) {
    const qint64 total = qint64(m_lines.size()) * LineHeight();
    qint64 offset = ScrollOffset;
    if (total - offset < visibleHeight) offset = total - visibleHeight;
    ScrollOffset = std::int32_t(std::clamp<qint64>(offset, 0, INT32_MAX));
    if (ScrollOffset != before) Changed(ClientRect());
}

void TVekStringListLayer::SaveSettings(TRegRoot root, const QString& keyPath) {
    TVekCustomControlLayer::SaveSettings(root, keyPath);
    SaveTextFont(root, keyPath, m_textFont);
}

void TVekStringListLayer::LoadSettings(TRegRoot root, const QString& keyPath) {
    if (const std::optional<TVekFont> font = LoadTextFont(root, keyPath)) SetTextFont(*font);
    TVekCustomControlLayer::LoadSettings(root, keyPath);
}

// ---- Metadata lines -------------------------------------------------------------

TMetaLine SplitMetaLine(const QString& line) {
    TMetaLine result;
    // Positions count from 1; 0 means not found.
    const qsizetype colon = line.indexOf(QLatin1Char(':')) + 1;
    const qsizetype semicolon = line.indexOf(QLatin1Char(';')) + 1;
    const qsizetype open = line.indexOf(QLatin1Char('{')) + 1;
    if (colon > 0) result.Name = line.left(colon - 1);
    if (const qsizetype n = semicolon - colon - 1; n > 0) result.Value = line.mid(colon, n);
    if (open > 0) {
        const qsizetype close = line.indexOf(QLatin1Char('}')) + 1;
        if (const qsizetype n = close - open - 1; n > 0) result.Description = line.mid(open, n);
    }
    return result;
}

// ---- TVekMetaDataLayer ----------------------------------------------------------

void TVekMetaDataLayer::SetShowTagComments(bool value) {
    if (value == m_showTagComments) return;
    m_showTagComments = value;
    Changed(ClientRect());
}

void TVekMetaDataLayer::DrawLine(TBitmap32& buffer, int x, const QString& line, int y) {
    // The parts are placed by their logical widths, as the line is laid out at any ratio.
    const TLayerCanvas canvas(buffer, DeviceRatio());
    const TMetaLine parts = SplitMetaLine(line);
    const QFont bold = WithStyle(TextQFont(), true, false);
    const QFont plain = WithStyle(TextQFont(), false, false);
    canvas.Text(x, y, parts.Name, bold, TextColor(), 0);
    const int w = TextSize(bold, parts.Name).width();
    const QString value = QStringLiteral(": ") + parts.Value;
    canvas.Text(x + w, y, value, plain, TextColor(), 0);
    if (m_showTagComments && !parts.Description.isEmpty()) {
        const int c = TextSize(plain, value).width();
        canvas.Text(x + w + c, y, QStringLiteral(" {") + parts.Description + QLatin1Char('}'),
                    WithStyle(TextQFont(), false, true), TextColor(), 0);
    }
}

void TVekMetaDataLayer::SaveSettings(TRegRoot root, const QString& keyPath) {
    TVekStringListLayer::SaveSettings(root, keyPath);
    TRegistry reg(root);
    if (!reg.OpenKey(keyPath, true)) return;
    reg.WriteBool(layout::kPanelShowComment, m_showTagComments);
    reg.CloseKey();
}

void TVekMetaDataLayer::LoadSettings(TRegRoot root, const QString& keyPath) {
    {
        TRegistry reg(root);
        if (reg.OpenKey(keyPath, true)) {
            if (const std::optional<bool> show = reg.ReadBool(layout::kPanelShowComment))
                m_showTagComments = *show;
        }
    }
    TVekStringListLayer::LoadSettings(root, keyPath);
}
