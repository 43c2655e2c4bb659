#pragma once

#include "gfx/Bitmap32.h"
#include "gfx/Geometry.h"

class QEvent;
class QPainter;
class QRect;

// How the widgets that draw into a back buffer of device pixels (the image view, the
// paint box) map their logical pixels onto the screen's at a device pixel ratio,
// fractional ratios included; they all use these, so they agree to the pixel.

// Whether `event` may have given the widget it reaches another device pixel ratio:
// its window moved to a screen of another ratio (with Qt 6.6, also a screen whose own
// ratio changed).
[[nodiscard]] bool MayChangeDeviceRatio(const QEvent& event);

// A logical length in device pixels; a device pixel partly covered counts.
[[nodiscard]] int DeviceLength(int logical, double ratio);

// The device pixels a logical rectangle touches (its edges rounded outward).
[[nodiscard]] TRect DeviceRect(const QRect& logical, double ratio);

// Shows `area` (device pixels) of an opaque buffer on the painter's widget, one
// buffer pixel on one device pixel: the painter maps logical pixels by `ratio`.
void DrawDevicePixels(QPainter& painter, const TBitmap32& buffer, const TRect& area, double ratio);
