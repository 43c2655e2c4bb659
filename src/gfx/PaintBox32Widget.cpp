#include "gfx/PaintBox32Widget.h"

#include "gfx/DevicePixels.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>

TPaintBox32::TPaintBox32(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    // Every pixel comes from the buffer: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize TPaintBox32::DeviceSize() const {
    const double ratio = DeviceRatio();
    return {DeviceLength(std::max(0, width()), ratio), DeviceLength(std::max(0, height()), ratio)};
}

void TPaintBox32::FitBuffer() {
    m_ratio = DeviceRatio();
    const QSize size = DeviceSize();
    if (m_buffer.Width() == size.width() && m_buffer.Height() == size.height()) return;
    m_buffer.SetSize(size.width(), size.height());
    m_buffer.Clear(clBlack32);
}

bool TPaintBox32::event(QEvent* event) {
    if (MayChangeDeviceRatio(*event)) RatioMayHaveChanged();
    return QWidget::event(event);
}

void TPaintBox32::RatioMayHaveChanged() {
    if (DeviceRatio() == m_ratio) return;
    FitBuffer();
    update();
    if (OnDeviceRatioChange) OnDeviceRatioChange();
}

void TPaintBox32::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FitBuffer();
}

void TPaintBox32::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const double ratio = m_ratio;
    const TRect dirty = Intersect(DeviceRect(event->rect(), ratio), m_buffer.BoundsRect());
    DrawDevicePixels(painter, m_buffer, dirty, ratio);
    // Whatever the buffer does not cover (a resize on its way) stays black.
    const QRect covered(0, 0, int(m_buffer.Width() / ratio), int(m_buffer.Height() / ratio));
    if (!covered.contains(event->rect())) {
        const QRegion rest = QRegion(event->rect()).subtracted(covered);
        for (const QRect& r : rest) painter.fillRect(r, Qt::black);
    }
}

void TPaintBox32::mousePressEvent(QMouseEvent* event) {
    m_pressed = event->button() == Qt::LeftButton;
    QWidget::mousePressEvent(event);
}

void TPaintBox32::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    if (click && OnClick) OnClick();
    QWidget::mouseReleaseEvent(event);
}

void TPaintBox32::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (OnMouseMove) OnMouseMove(p.x(), p.y());
    QWidget::mouseMoveEvent(event);
}

void TPaintBox32::leaveEvent(QEvent* event) {
    if (OnMouseLeave) OnMouseLeave();
    QWidget::leaveEvent(event);
}
