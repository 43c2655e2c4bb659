#include "gfx/ImageViewModel.h"

#include <algorithm>

namespace {

// One axis: an extent too small for the view sits in the middle (or anywhere inside
// the view when centring is off); a larger one always covers the view.
double ClampAxis(double offset, double extent, int view, bool centered) {
    if (extent <= view)
        return centered ? (view - extent) / 2 : std::clamp(offset, 0.0, view - extent);
    return std::clamp(offset, view - extent, 0.0);
}

} // namespace

double TImageViewModel::ExtentWidth() const {
    return m_pictureWidth * double(m_scale) + 2 * Margin();
}

double TImageViewModel::ExtentHeight() const {
    return m_pictureHeight * double(m_scale) + 2 * Margin();
}

void TImageViewModel::Clamp() {
    m_offsetX = ClampAxis(m_offsetX, ExtentWidth(), m_viewWidth, m_centered);
    m_offsetY = ClampAxis(m_offsetY, ExtentHeight(), m_viewHeight, m_centered);
}

void TImageViewModel::SetViewSize(int width, int height) {
    // The picture point in the middle of the view stays there.
    m_offsetX += (std::max(width, 0) - m_viewWidth) / 2.0;
    m_offsetY += (std::max(height, 0) - m_viewHeight) / 2.0;
    m_viewWidth = std::max(width, 0);
    m_viewHeight = std::max(height, 0);
    Clamp();
}

void TImageViewModel::SetPictureSize(int width, int height) {
    m_pictureWidth = std::max(width, 0);
    m_pictureHeight = std::max(height, 0);
    m_offsetX = (m_viewWidth - ExtentWidth()) / 2;
    m_offsetY = (m_viewHeight - ExtentHeight()) / 2;
    Clamp();
}

void TImageViewModel::SetScale(float scale) {
    if (!(scale > 0) || scale == m_scale) return;
    const double s = m_scale;
    const double px = (m_viewWidth / 2.0 - m_offsetX - Margin()) / s;
    const double py = (m_viewHeight / 2.0 - m_offsetY - Margin()) / s;
    m_scale = scale;
    m_offsetX = m_viewWidth / 2.0 - px * scale - Margin();
    m_offsetY = m_viewHeight / 2.0 - py * scale - Margin();
    Clamp();
}

void TImageViewModel::SetOverSize(int margin) {
    // The picture stays where it is; only the room around it changes.
    const double before = Margin();
    m_overSize = std::max(margin, 0);
    m_offsetX -= Margin() - before;
    m_offsetY -= Margin() - before;
    Clamp();
}

void TImageViewModel::SetCentered(bool value) {
    m_centered = value;
    if (value) {
        m_offsetX = (m_viewWidth - ExtentWidth()) / 2;
        m_offsetY = (m_viewHeight - ExtentHeight()) / 2;
    }
    Clamp();
}

void TImageViewModel::Scroll(double dx, double dy) {
    m_offsetX -= dx;
    m_offsetY -= dy;
    Clamp();
}

TFloatRect TImageViewModel::BitmapRect() const {
    const double left = m_offsetX + Margin(), top = m_offsetY + Margin();
    return {left, top, left + m_pictureWidth * double(m_scale),
            top + m_pictureHeight * double(m_scale)};
}

TAffineTransformation TImageViewModel::ViewTransform() const {
    TAffineTransformation t;
    t.Scale(m_scale);
    const TFloatRect r = BitmapRect();
    t.Translate(r.Left, r.Top);
    return t;
}
