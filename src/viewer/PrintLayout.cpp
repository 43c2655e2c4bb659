#include "viewer/PrintLayout.h"

#include <QPainter>
#include <QTransform>

#include <cmath>

namespace {

// The number of quarter turns, 0 ... 3.
int QuarterTurns(int angle) {
    const int quarters = int(std::lround(angle / 90.0)) % 4;
    return quarters < 0 ? quarters + 4 : quarters;
}

} // namespace

QRectF PrintRect(QSizeF picture, int angle, const QRectF& page) {
    if (picture.isEmpty() || page.isEmpty()) return {};
    if (QuarterTurns(angle) % 2 == 1) picture.transpose();
    const QSizeF size = picture.scaled(page.size(), Qt::KeepAspectRatio);
    return {page.left() + (page.width() - size.width()) / 2,
            page.top() + (page.height() - size.height()) / 2, size.width(), size.height()};
}

bool PaintPrintedPicture(QPainter& painter, const QImage& picture, int angle, const QRectF& page) {
    const QRectF target = PrintRect(QSizeF(picture.size()), angle, page);
    if (target.isEmpty() || !painter.isActive()) return false;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Turned about the target's centre; the picture is drawn into the unturned box.
    painter.translate(target.center());
    // A positive angle turns left (counter-clockwise) on screen.
    painter.rotate(-90.0 * QuarterTurns(angle));
    QSizeF box = target.size();
    if (QuarterTurns(angle) % 2 == 1) box.transpose();
    painter.drawImage(QRectF(-box.width() / 2, -box.height() / 2, box.width(), box.height()),
                      picture);
    painter.restore();
    return true;
}
