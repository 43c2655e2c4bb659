#include "gfx/PaintBox32Widget.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>

TPaintBox32::TPaintBox32(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    // Every pixel comes from the buffer: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox32::FitBuffer() {
    const int w = std::max(0, width());
    const int h = std::max(0, height());
    if (m_buffer.Width() == w && m_buffer.Height() == h) return;
    m_buffer.SetSize(w, h);
    m_buffer.Clear(clBlack32);
}

void TPaintBox32::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FitBuffer();
}

void TPaintBox32::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (m_buffer.Empty()) {
        painter.fillRect(event->rect(), Qt::black);
        return;
    }
    // Shown as RGB32 over the buffer's own memory: no copy on the way.
    const QImage frame(reinterpret_cast<const uchar*>(m_buffer.Bits()), m_buffer.Width(),
                       m_buffer.Height(), m_buffer.Width() * 4, QImage::Format_RGB32);
    painter.drawImage(event->rect().topLeft(), frame, event->rect());
    // Whatever the buffer does not cover (a resize on its way) stays black.
    const QRect covered(0, 0, m_buffer.Width(), m_buffer.Height());
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
