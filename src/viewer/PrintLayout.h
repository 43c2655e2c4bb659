#pragma once

#include "gfx/Bitmap32.h"

#include <QImage>
#include <QRectF>
#include <QSizeF>

class QPainter;

// The number of counter-clockwise quarter turns in `angle` degrees, 0 ... 3 (other
// values are taken to the nearest quarter).
[[nodiscard]] int QuarterTurns(int angle);

// A copy of `picture` turned counter-clockwise by `angle` degrees as QuarterTurns
// counts them: what the view shows of it.
[[nodiscard]] TBitmap32 TurnedCopy(const TBitmap32& picture, int angle);

// Where a picture of `picture` size, turned by `angle` degrees (quarter turns;
// other values are taken to the nearest quarter), lands on a page: the largest
// rectangle of the turned picture's aspect that fits into `page`, centred in it.
// Empty for an empty picture or page.
[[nodiscard]] QRectF PrintRect(QSizeF picture, int angle, const QRectF& page);

// Draws the picture turned by `angle` into PrintRect on the painter's device, smoothly
// scaled. False when there is nothing to draw or the painter is not active.
bool PaintPrintedPicture(QPainter& painter, const QImage& picture, int angle, const QRectF& page);
