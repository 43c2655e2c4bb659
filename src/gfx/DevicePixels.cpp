#include "gfx/DevicePixels.h"

#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QRectF>

#include <cmath>

bool MayChangeDeviceRatio(const QEvent& event) {
    switch (event.type()) {
    case QEvent::ScreenChangeInternal:
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    case QEvent::DevicePixelRatioChange:
#endif
        return true;
    default:
        return false;
    }
}

int DeviceLength(int logical, double ratio) {
    return int(std::ceil(logical * ratio));
}

TRect DeviceRect(const QRect& logical, double ratio) {
    return {int(std::floor(logical.left() * ratio)), int(std::floor(logical.top() * ratio)),
            int(std::ceil((logical.right() + 1) * ratio)),
            int(std::ceil((logical.bottom() + 1) * ratio))};
}

void DrawDevicePixels(QPainter& painter, const TBitmap32& buffer, const TRect& area, double ratio) {
    if (area.IsEmpty() || buffer.Empty()) return;
    // Shown as RGB32 over the buffer's own memory: no copy, no conversion.
    const QImage frame(reinterpret_cast<const uchar*>(buffer.Bits()), buffer.Width(),
                       buffer.Height(), buffer.Width() * 4, QImage::Format_RGB32);
    painter.drawImage(
        QRectF(area.Left / ratio, area.Top / ratio, area.Width() / ratio, area.Height() / ratio),
        frame, QRectF(area.Left, area.Top, area.Width(), area.Height()));
}
