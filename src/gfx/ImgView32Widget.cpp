#include "gfx/ImgView32Widget.h"

#include "gfx/DevicePixels.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace {

TMouseButton ButtonOf(Qt::MouseButton button) {
    switch (button) {
    case Qt::RightButton:
        return TMouseButton::mbRight;
    case Qt::MiddleButton:
        return TMouseButton::mbMiddle;
    default:
        return TMouseButton::mbLeft;
    }
}

TShiftState ShiftOf(const QMouseEvent& event) {
    TShiftState s = 0;
    const Qt::KeyboardModifiers m = event.modifiers();
    if (m & Qt::ShiftModifier) s |= ssShift;
    if (m & Qt::ControlModifier) s |= ssCtrl;
    if (m & Qt::AltModifier) s |= ssAlt;
    const Qt::MouseButtons b = event.buttons();
    if (b & Qt::LeftButton) s |= ssLeft;
    if (b & Qt::RightButton) s |= ssRight;
    if (b & Qt::MiddleButton) s |= ssMiddle;
    return s;
}

} // namespace

TImgView32::TImgView32(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(true);
    Bitmap.OnChange = [this](TBitmap32&) { PictureChanged(); };
    Layers.OnInvalidate = [this](const TRect& r) { Invalidate(r); };
    Layers.OnSetCursor = [this](Qt::CursorShape shape) { setCursor(shape); };
}

TImgView32::~TImgView32() {
    Bitmap.OnChange = nullptr;
}

double TImgView32::DeviceRatio() const {
    return m_forcedRatio > 0 ? m_forcedRatio : devicePixelRatioF();
}

void TImgView32::SetDeviceRatio(double ratio) {
    m_forcedRatio = ratio > 0 && std::isfinite(ratio) ? ratio : 0;
    RatioMayHaveChanged();
}

bool TImgView32::event(QEvent* event) {
    // Everything is drawn anew at the new ratio.
    if (MayChangeDeviceRatio(*event)) RatioMayHaveChanged();
    return QWidget::event(event);
}

void TImgView32::RatioMayHaveChanged() {
    const bool resized = UpdateViewSize();
    Invalidate();
    if (resized && OnResize) OnResize(*this);
}

QPoint TImgView32::DevicePoint(const QPointF& p) const {
    const double r = DeviceRatio();
    return {int(std::floor(p.x() * r)), int(std::floor(p.y() * r))};
}

QPoint TImgView32::ScreenPoint(int x, int y) const {
    const double r = DeviceRatio();
    return mapToGlobal(QPoint(int(x / r), int(y / r)));
}

void TImgView32::PictureChanged() {
    ++m_generation;
    m_cacheValid = false;
    // A new frame of the same size (an animation, a page) keeps the scroll position.
    if (Bitmap.Width() != m_pictureWidth || Bitmap.Height() != m_pictureHeight) {
        m_pictureWidth = Bitmap.Width();
        m_pictureHeight = Bitmap.Height();
        m_model.SetPictureSize(m_pictureWidth, m_pictureHeight);
    }
    Invalidate();
}

void TImgView32::EndUpdate() {
    if (m_updateCount > 0 && --m_updateCount == 0 && m_dirtyWhileUpdating) {
        m_dirtyWhileUpdating = false;
        update();
    }
}

void TImgView32::Invalidate() {
    if (m_updateCount > 0) {
        m_dirtyWhileUpdating = true;
        return;
    }
    update();
}

void TImgView32::Invalidate(const TRect& rect) {
    const TRect r = Intersect(rect, ViewRect());
    if (r.IsEmpty()) return;
    if (m_updateCount > 0) {
        m_dirtyWhileUpdating = true;
        return;
    }
    // Device pixels to the widget's logical ones, rounded outward.
    const double ratio = DeviceRatio();
    const int left = int(std::floor(r.Left / ratio)), top = int(std::floor(r.Top / ratio));
    update(left, top, int(std::ceil(r.Right / ratio)) - left,
           int(std::ceil(r.Bottom / ratio)) - top);
}

bool TImgView32::UpdateViewSize() {
    const double ratio = DeviceRatio();
    Layers.SetViewport({0, 0, width(), height()});
    Layers.SetDeviceRatio(ratio);
    const int w = DeviceLength(width(), ratio), h = DeviceLength(height(), ratio);
    if (w == m_model.ViewWidth() && h == m_model.ViewHeight()) return false;
    m_model.SetViewSize(w, h);
    m_cacheValid = false;
    return true;
}

void TImgView32::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    UpdateViewSize();
    Invalidate();
    if (OnResize) OnResize(*this);
}

void TImgView32::PaintPicture(TBitmap32& buffer, const TAffineTransformation& t) {
    if (Bitmap.Empty()) return;
    const TRect area = Intersect(OutsideRect(t.TransformRect(ToFloatRect(Bitmap.BoundsRect()))),
                                 buffer.BoundsRect());
    if (area.IsEmpty()) return;
    const TCacheKey key = KeyOf(t, area);
    if (!m_cacheValid || !(key == m_cacheKey)) {
        DrawPicture(Bitmap, t, buffer.BoundsRect(), m_cache);
        m_cacheKey = key;
        m_cacheValid = true;
        ++m_cacheBuilds;
    }
    TBitmap32& drawn = m_cache.Bitmap;
    drawn.DrawMode = TDrawMode::dmBlend;
    drawn.MasterAlpha = Bitmap.MasterAlpha;
    drawn.CombineMode = Bitmap.CombineMode;
    buffer.Draw(area.Left, area.Top, drawn);
}

void TImgView32::AdoptDrawing(TDrawnPicture&& drawn) {
    if (drawn.Bitmap.Empty() || drawn.Bitmap.Width() != drawn.Area.Width() ||
        drawn.Bitmap.Height() != drawn.Area.Height())
        return;
    m_cache = std::move(drawn);
    m_cacheKey = KeyOf(m_cache.Transform, m_cache.Area);
    m_cacheValid = true;
}

void TImgView32::paintEvent(QPaintEvent* event) {
    UpdateViewSize();
    const int w = ViewWidth(), h = ViewHeight();
    if (w <= 0 || h <= 0) return;
    if (m_buffer.Width() != w || m_buffer.Height() != h) m_buffer.SetSize(w, h);

    const double ratio = DeviceRatio();
    const TRect dirty = Intersect(DeviceRect(event->rect(), ratio), m_buffer.BoundsRect());
    if (dirty.IsEmpty()) return;

    m_buffer.SetClipRect(dirty);
    if (OnPaintStage) {
        OnPaintStage(*this, m_buffer, 0);
        m_buffer.SetClipRect(dirty);
        OnPaintStage(*this, m_buffer, 1);
    } else {
        m_buffer.FillRect(dirty, 0xFF808080);
        PaintPicture(m_buffer, ViewTransform());
    }
    m_buffer.SetClipRect(dirty);
    Layers.Paint(m_buffer);
    m_buffer.ResetClipRect();

    // The buffer is opaque: shown over its own memory, no conversion.
    QPainter painter(this);
    DrawDevicePixels(painter, m_buffer, dirty, ratio);
}

void TImgView32::mousePressEvent(QMouseEvent* event) {
    const QPoint p = DevicePoint(event->position());
    const TMouseButton button = ButtonOf(event->button());
    const TShiftState shift = ShiftOf(*event);
    if (Layers.MouseDown(button, shift, p.x(), p.y())) return;
    if (OnMouseDown) OnMouseDown(*this, button, shift, p.x(), p.y());
}

void TImgView32::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint p = DevicePoint(event->position());
    const TMouseButton button = ButtonOf(event->button());
    const TShiftState shift = ShiftOf(*event) | ssDouble;
    if (Layers.MouseDown(button, shift, p.x(), p.y())) return;
    if (OnMouseDown) OnMouseDown(*this, button, shift, p.x(), p.y());
    if (button == TMouseButton::mbLeft && OnDblClick) OnDblClick(*this);
}

void TImgView32::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = DevicePoint(event->position());
    const TShiftState shift = ShiftOf(*event);
    if (Layers.MouseMove(shift, p.x(), p.y())) return;
    if (OnMouseMove) OnMouseMove(*this, shift, p.x(), p.y());
}

void TImgView32::leaveEvent(QEvent* event) {
    Layers.MouseLeave();
    QWidget::leaveEvent(event);
}

void TImgView32::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = DevicePoint(event->position());
    const TMouseButton button = ButtonOf(event->button());
    const TShiftState shift = ShiftOf(*event);
    if (Layers.MouseUp(button, shift, p.x(), p.y())) return;
    if (OnMouseUp) OnMouseUp(*this, button, shift, p.x(), p.y());
}
