#include "gfx/BitmapText.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

QSize TextExtent(const QFont& font, const QString& text) {
    const QFontMetrics metrics(font);
    return {metrics.horizontalAdvance(text), metrics.height()};
}

void TextOut(TBitmap32& bitmap, int x, int y, const QString& text, const QFont& font,
             TColor32 colour) {
    const TRect clip = bitmap.ClipRect();
    if (AlphaOf(colour) == 0 || clip.IsEmpty() || text.isEmpty()) return;
    QImage view = bitmap.ImageView();
    QPainter painter(&view);
    painter.setClipRect(clip.Left, clip.Top, clip.Width(), clip.Height());
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font);
    painter.setPen(QColor::fromRgba(colour));
    painter.drawText(x, y + QFontMetrics(font).ascent(), text);
    painter.end();
    bitmap.Changed();
}
