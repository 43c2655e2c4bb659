#include "layers/VekCustomLayer.h"

#include "app/SettingsLayout.h"
#include "gfx/Bitmap32.h"
#include "layers/LayerCanvas.h"
#include "layers/LayerPaint.h"
#include "platform/Registry.h"

#include <algorithm>
#include <cmath>

namespace {

// The caption's gradient as a one-pixel-wide pattern, tiled over the strip.
TBitmap32 GradientPattern(const TPanelFrame& frame, TColor32 colour, double scale) {
    const std::vector<std::uint8_t> alphas = CaptionGradientAlphas(frame, AlphaOf(colour), scale);
    TBitmap32 pattern(1, int(alphas.size()));
    for (int row = 0; row < pattern.Height(); ++row)
        pattern.SetPixel(0, row, WithAlpha(colour, alphas[std::size_t(row)]));
    return pattern;
}

} // namespace

TVekCustomControlLayer::TVekCustomControlLayer(TLayerCollection& collection)
    : TCustomLayer(collection), DragPoint(-1, -1), m_captionFont(LayerFont(8)) {
    SetMouseEvents(true);
}

void TVekCustomControlLayer::SetCaptionFont(const QFont& font) {
    m_captionFont = font;
    InvalidateCaptionStrip();
}

void TVekCustomControlLayer::SetCaptionFontColor(TColor32 colour) {
    m_captionFontColor = colour;
    InvalidateCaptionStrip();
}

int TVekCustomControlLayer::Left() const {
    return RoundToInt(Location.Left);
}

int TVekCustomControlLayer::Top() const {
    return RoundToInt(Location.Top);
}

int TVekCustomControlLayer::Width() const {
    return RoundToInt(double(Location.Right - Location.Left));
}

int TVekCustomControlLayer::Height() const {
    return RoundToInt(double(Location.Bottom - Location.Top));
}

void TVekCustomControlLayer::SetLeft(int x) {
    const TRect old = Area();
    const float w = Location.Right - Location.Left;
    Location.Left = float(x);
    Location.Right = float(x) + w;
    InvalidateMove(old);
}

void TVekCustomControlLayer::SetTop(int y) {
    const TRect old = Area();
    const float h = Location.Bottom - Location.Top;
    Location.Top = float(y);
    Location.Bottom = float(y) + h;
    InvalidateMove(old);
}

void TVekCustomControlLayer::SetWidth(int w) {
    const TRect old = Area();
    Location.Right = Location.Left + float(std::max(w, MinWidth));
    if (Area() != old) Changed(Union(old, Area()));
}

void TVekCustomControlLayer::SetHeight(int h) {
    const TRect old = Area();
    Location.Bottom = Location.Top + float(std::max(h, MinHeight));
    if (Area() != old) Changed(Union(old, Area()));
}

void TVekCustomControlLayer::SetCaption(const QString& text) {
    if (text == Caption) return;
    Caption = text;
    if (ShowCaption) InvalidateCaptionStrip();
}

TPanelFrame TVekCustomControlLayer::Frame() const {
    return {BorderWidth, CaptionHeight, ShowCaption, ShowBorder};
}

TRect TVekCustomControlLayer::ClientRect() const {
    return ::ClientRect(Location, Frame());
}

THitZone TVekCustomControlLayer::HitZone(int x, int y) const {
    return ::HitZone(Location, Frame(), x, y);
}

TRect TVekCustomControlLayer::Area() const {
    return OutsideRect(Location);
}

bool TVekCustomControlLayer::HitTest(int x, int y) {
    return MouseEvents() && Visible() && Area().Contains(x, y);
}

void TVekCustomControlLayer::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomLayer::MouseDown(button, shift, x, y);
    if ((shift & ssDouble) != 0 && CloseOnDoubleClick) {
        // Hiding repaints the panel's area and releases the pointer.
        SetVisible(false);
        if (OnClose) OnClose(*this);
        return;
    }
    if (ButtonDown) return;
    DragZone = HitZone(x, y);
    ButtonDown = DragZone != THitZone::hzNone;
    const bool drags =
        (Movable && DragZone == THitZone::hzCaption) || (Resizable && IsSizingZone(DragZone));
    DragPoint = drags ? QPoint(x, y) : QPoint(-1, -1);
}

void TVekCustomControlLayer::MouseMove(TShiftState shift, int x, int y) {
    TCustomLayer::MouseMove(shift, x, y);
    if (!ButtonDown) {
        Qt::CursorShape shape = Qt::ArrowCursor;
        if (Resizable) {
            switch (HitZone(x, y)) {
            case THitZone::hzTopLeft:
            case THitZone::hzBottomRight:
                shape = Qt::SizeFDiagCursor;
                break;
            case THitZone::hzTop:
            case THitZone::hzBottom:
                shape = Qt::SizeVerCursor;
                break;
            case THitZone::hzTopRight:
            case THitZone::hzBottomLeft:
                shape = Qt::SizeBDiagCursor;
                break;
            case THitZone::hzRight:
            case THitZone::hzLeft:
                shape = Qt::SizeHorCursor;
                break;
            default:
                break;
            }
        }
        SetScreenCursor(shape);
        return;
    }
    const TRect old = Area();
    const std::optional<TPanelLocation> moved =
        DragStep(Location, DragZone, {Movable, Resizable, MinWidth, MinHeight}, DragPoint.x(),
                 DragPoint.y(), x, y);
    if (!moved) return;
    Location = *moved;
    if (Area() != old) Changed(Union(old, Area()));
    DragPoint = QPoint(x, y);
}

void TVekCustomControlLayer::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomLayer::MouseUp(button, shift, x, y);
    DragPoint = QPoint(-1, -1);
    DragZone = THitZone::hzNone;
    ButtonDown = false;
    if (button == TMouseButton::mbRight && OnContextMenu) {
        const double ratio = DeviceRatio();
        const auto device = [ratio](int v) { return ClampToInt(std::floor(v * ratio + 0.5)); };
        OnContextMenu(device(x), device(y));
    }
}

void TVekCustomControlLayer::MouseLeave() {
    // A sizing cursor shown over the edge does not follow the pointer elsewhere.
    if (!ButtonDown) SetScreenCursor(Qt::ArrowCursor);
}

void TVekCustomControlLayer::CancelPointer() {
    DragPoint = QPoint(-1, -1);
    DragZone = THitZone::hzNone;
    ButtonDown = false;
}

void TVekCustomControlLayer::Paint(TBitmap32& buffer) {
    const TRect clip = buffer.ClipRect();
    const TLayerCanvas canvas(buffer, DeviceRatio());
    if (!Visible() || Intersect(NearestRect(canvas.Map(Location)), clip).IsEmpty()) return;
    PaintFrame(buffer, Location);
    PaintContent(buffer, ClientArea(Location, Frame()));
    buffer.SetClipRect(clip);
}

void TVekCustomControlLayer::PaintContent(TBitmap32&, const TPanelLocation&) {}

TFixedPolygon TVekCustomControlLayer::RoundedOutline(const TFixedPolygon& contour, bool scaled) {
    TFixedPolygon rounded = RoundCorners(contour, kFixedOne);
    // Drawn larger, the pixel-long pieces of the straight stretches would cost the
    // rasterizer and the stroker several times over: they go. At a ratio of 1 the
    // outline keeps them, as it was always drawn (without them antialiased coverage
    // moves by a rounding step here and there).
    return scaled ? WithoutCollinearPoints(rounded) : rounded;
}

void TVekCustomControlLayer::PaintFrame(TBitmap32& buffer, const TPanelLocation& r) {
    // The frame is worked out on the device grid: the panel's rectangle scaled, every
    // length of the frame scaled with it.
    const TLayerCanvas canvas(buffer, DeviceRatio());
    const double scale = canvas.Ratio();
    const TPanelLocation d = canvas.Map(r);
    const TRect savedClip = buffer.ClipRect();
    buffer.SetClipRect(Intersect(savedClip, NearestRect(d)));
    if (!buffer.ClipRect().IsEmpty()) {
        // Fills take the points as pixel edges, so the caption strip is exactly as
        // many rows high as its gradient; the one-pixel outline runs through pixel
        // centres, so it covers the body's last column and row.
        const TFixedPolygon body = RoundedOutline(BodyOutline(d, scale), canvas.Scaled());
        PolygonFS(buffer, body, FillColor);
        if (ShowBorder) PolylineFS(buffer, body, OutlineColor, true, scale);
        if (ShowCaption)
            PolygonPatternFS(
                buffer, RoundedOutline(CaptionOutline(d, Frame(), scale), canvas.Scaled()),
                GradientPattern(Frame(), CaptionColor, scale), 0, CaptionTop(d, scale));
        // The caption text is drawn even without the caption bar.
        if (!Caption.isEmpty()) {
            const int h = TextSize(m_captionFont, Caption).height();
            canvas.Text(RoundToInt(r.Left) + 5, RoundToInt(r.Top) + (CaptionHeight - h) / 2,
                        Caption, m_captionFont, WithAlpha(m_captionFontColor, 230), 2);
        }
    }
    buffer.SetClipRect(savedClip);
}

void TVekCustomControlLayer::SaveSettings(TRegRoot root, const QString& keyPath) {
    TRegistry reg(root);
    if (!reg.OpenKey(keyPath, true)) return;
    reg.WriteFloat(layout::kPanelLeft, Location.Left);
    reg.WriteFloat(layout::kPanelRight, Location.Right);
    reg.WriteFloat(layout::kPanelBottom, Location.Bottom);
    reg.WriteFloat(layout::kPanelTop, Location.Top);
    reg.CloseKey();
}

void TVekCustomControlLayer::LoadSettings(TRegRoot root, const QString& keyPath) {
    TRegistry reg(root);
    if (reg.OpenKey(keyPath, true)) {
        const auto read = [&](const char* name, float& side) {
            if (const std::optional<double> v = reg.ReadFloat(name)) side = float(*v);
        };
        read(layout::kPanelLeft, Location.Left);
        read(layout::kPanelRight, Location.Right);
        read(layout::kPanelBottom, Location.Bottom);
        read(layout::kPanelTop, Location.Top);
    }
    Changed(Area());
}

void TVekCustomControlLayer::InvalidateCaptionStrip() {
    TRect strip = Area();
    strip.Bottom = strip.Top + 2 * BorderWidth + CaptionHeight;
    Changed(strip);
}

void TVekCustomControlLayer::InvalidateMove(const TRect& old) {
    if (Area() == old) return;
    Changed(old);
    Changed(Area());
}

void SaveTextFont(TRegRoot root, const QString& keyPath, const TVekFont& font) {
    TRegistry reg(root);
    if (!reg.OpenKey(keyPath, true)) return;
    reg.WriteString(layout::kPanelTextFont, FontToText(font));
    reg.CloseKey();
}

std::optional<TVekFont> LoadTextFont(TRegRoot root, const QString& keyPath) {
    TRegistry reg(root);
    if (!reg.OpenKey(keyPath, true)) return std::nullopt;
    const std::optional<QString> text = reg.ReadString(layout::kPanelTextFont);
    return text ? TextToFont(*text) : std::nullopt;
}
