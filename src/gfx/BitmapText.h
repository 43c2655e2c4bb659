#pragma once

#include "gfx/Bitmap32.h"

#include <QFont>
#include <QSize>
#include <QString>

// Text on a bitmap: antialiased, in the bitmap's own pixels, inside its clip rectangle.

// Width and height of one line of `text` in `font`.
[[nodiscard]] QSize TextExtent(const QFont& font, const QString& text);
// Draws one line with its top-left corner at (x, y); a colour with alpha 0 draws nothing.
void TextOut(TBitmap32& bitmap, int x, int y, const QString& text, const QFont& font,
             TColor32 colour);
