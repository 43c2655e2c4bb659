#include "viewer/PrintLayout.h"

#include <QPainter>
#include <QTransform>

#include <cmath>

int QuarterTurns(int angle) {
    const int quarters = int(std::lround(angle / 90.0)) % 4;
    return quarters < 0 ? quarters + 4 : quarters;
}

TBitmap32 TurnedCopy(const TBitmap32& picture, int angle) {
    const int turns = QuarterTurns(angle);
    TBitmap32 result;
    if (turns == 0) {
        result.Assign(picture);
        return result;
    }
    const int w = picture.Width();
    const int h = picture.Height();
    if (turns == 2)
        result.SetSize(w, h);
    else
        result.SetSize(h, w);
    if (result.Empty()) return result;
    for (int y = 0; y < h; ++y) {
        const TColor32* row = picture.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            // Counter-clockwise: the top row becomes the left column, read upwards.
            if (turns == 1)
                result.ScanLine(w - 1 - x)[y] = row[x];
            else if (turns == 2)
                result.ScanLine(h - 1 - y)[w - 1 - x] = row[x];
            else
                result.ScanLine(x)[h - 1 - y] = row[x];
        }
    }
    return result;
}

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
