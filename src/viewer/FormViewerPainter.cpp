#include "viewer/FormViewerPainter.h"

#include "app/DialogStoreValues.h"
#include "gfx/BitmapText.h"
#include "gfx/ImgView32Widget.h"
#include "gfx/ViewerZoom.h"

#include <QDir>

#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

constexpr TColor32 kViewBackground = 0xFF808080;
constexpr TColor32 kViewText = 0xFF000000;
constexpr TColor32 kPictureFrame = 0xC8000000;
constexpr TColor32 kSimpleFrame = 0x96000000;
constexpr TColor32 kCheckerLight = 0xFFFFFFFF;
constexpr TColor32 kCheckerDark = 0xFFBFBFBF;
constexpr int kCheckerCell = 10;

} // namespace

TViewerPainter::TViewerPainter(TImgView32& view) : m_view(view) {
    m_font = QFont(QStringLiteral("DejaVu Sans"));
    m_font.setPointSizeF(10);
}

double TViewerPainter::FitScale(const TViewerZoom& zoom) const {
    const TBitmap32& picture = m_view.Bitmap;
    if (picture.Empty()) return 1;
    return TViewerZoom::FitScale(picture.Width(), picture.Height(), m_view.ViewWidth(),
                                 m_view.ViewHeight(), zoom.RotationAngle);
}

TAffineTransformation TViewerPainter::PictureTransform(const TViewerZoom& zoom,
                                                       bool simpleMode) const {
    const TBitmap32& picture = m_view.Bitmap;
    const int w = picture.Width(), h = picture.Height();
    if (zoom.FitMode || simpleMode)
        return TViewerZoom::FittedTransform(w, h, m_view.ViewWidth(), m_view.ViewHeight(),
                                            zoom.RotationAngle, FitScale(zoom));
    if (zoom.RotationAngle % 360 != 0) {
        const TFloatRect r = m_view.Model().BitmapRect();
        return TViewerZoom::TurnedTransform(w, h, zoom.RotationAngle, zoom.ViewScale,
                                            std::round(r.Left), std::round(r.Top));
    }
    return m_view.ViewTransform();
}

void TViewerPainter::Paint(TBitmap32& buffer, int stage, const TState& s) {
    const TRect view = m_view.ViewRect();
    if (stage == 0) {
        buffer.FillRect(view, kViewBackground);
        QFont font = m_font;
        font.setPointSizeF(m_font.pointSizeF() * m_view.DeviceRatio());
        const auto centred = [&](const QString& text, int line) {
            const QSize size = TextExtent(font, text);
            TextOut(buffer, (view.Width() - size.width()) / 2,
                    (view.Height() - size.height()) / 2 + line * size.height(), text, font,
                    kViewText);
        };
        if (s.NothingToShow) centred(QStringLiteral("No preview available"), 0);
        if (!s.ImageLoaded && s.SimpleMode) buffer.FrameRectTS(view, kSimpleFrame);
        if (s.LoadFailed) {
            centred(s.ErrorText, 0);
            if (!s.ErrorPath.isEmpty()) centred(QDir::toNativeSeparators(s.ErrorPath), 1);
        }
        return;
    }
    const TBitmap32& picture = m_view.Bitmap;
    if (picture.Empty()) {
        PaintQuickLook(buffer, s);
        return;
    }
    const TAffineTransformation t = PictureTransform(*s.Zoom, s.SimpleMode);
    const TRect dest = OutsideRect(t.TransformRect(ToFloatRect(picture.BoundsRect())));
    if (!s.SimpleMode && s.HasAlpha) {
        if (s.Values->UseBackgroundColor)
            buffer.FillRectTS(dest, s.Values->BackgroundColor);
        else
            CheckerFill(buffer, dest, kCheckerCell, kCheckerLight, kCheckerDark, kCheckerCell);
    }
    m_view.PaintPicture(buffer, t);
    if (s.Values->ShowFrame)
        buffer.FrameRectTS(s.SimpleMode ? view : dest, s.SimpleMode ? kSimpleFrame : kPictureFrame);
}

void TViewerPainter::SetQuickLook(const QString& file, TDrawnPicture&& drawn) {
    m_quickLook = std::move(drawn);
    m_quickLookFile = file;
}

void TViewerPainter::PaintQuickLook(TBitmap32& buffer, const TState& s) {
    if (m_quickLook.Bitmap.Empty()) return;
    if (!s.QuickLookWanted) {
        m_quickLook = TDrawnPicture();
        return;
    }
    // Drawn for the window's stored size: a view of another size shows nothing until
    // the picture itself arrives.
    const TRect view = m_view.ViewRect();
    const TRect& area = m_quickLook.Area;
    if (area.Left < 0 || area.Top < 0 || area.Right > view.Width() || area.Bottom > view.Height() ||
        std::abs(area.Left + area.Right - view.Width()) > 2 ||
        std::abs(area.Top + area.Bottom - view.Height()) > 2)
        return;
    TBitmap32& drawn = m_quickLook.Bitmap;
    drawn.DrawMode = TDrawMode::dmBlend;
    buffer.Draw(area.Left, area.Top, drawn);
    if (s.Values->ShowFrame) buffer.FrameRectTS(area, kPictureFrame);
}
