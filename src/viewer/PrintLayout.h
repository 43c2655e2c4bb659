#pragma once

#include <QImage>
#include <QRectF>
#include <QSizeF>

class QPainter;

// Where a picture of `picture` size, turned by `angle` degrees (quarter turns;
// other values are taken to the nearest quarter), lands on a page: the largest
// rectangle of the turned picture's aspect that fits into `page`, centred in it.
// Empty for an empty picture or page.
[[nodiscard]] QRectF PrintRect(QSizeF picture, int angle, const QRectF& page);

// Draws the picture turned by `angle` into PrintRect on the painter's device, smoothly
// scaled. False when there is nothing to draw or the painter is not active.
bool PaintPrintedPicture(QPainter& painter, const QImage& picture, int angle, const QRectF& page);
