#include "viewer/FormViewerPicture.h"

#include "app/DialogStoreValues.h"
#include "gfx/BitmapText.h"
#include "gfx/ImgView32Widget.h"
#include "gfx/Resampler.h"
#include "gfx/ViewerZoom.h"
#include "loading/VekImageLoaderPro.h"

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

TViewerPicture::TViewerPicture(TImgView32& view, TViewerZoom& zoom) : m_view(view), m_zoom(zoom) {
    m_font = QFont(QStringLiteral("DejaVu Sans"));
    m_font.setPointSizeF(10);
}

void TViewerPicture::TakeLoaded(TVekImageLoaderPro& loader, int filterKind) {
    TBitmap32& picture = m_view.Bitmap;
    picture.SwapPixels(loader.Bitmap());
    loader.Bitmap().Delete();
    MakeResampler(filterKind, picture);
    picture.DrawMode = TDrawMode::dmBlend;
    picture.CombineMode = TCombineMode::cmBlend;
    m_view.AdoptDrawing(std::move(loader.Drawn()));
    m_view.Model().SetOverSize(TViewerZoom::ScrollMargin(picture.Width(), picture.Height()));
}

void TViewerPicture::Replace(TBitmap32& replacement, int filterKind) {
    TBitmap32& picture = m_view.Bitmap;
    m_view.BeginUpdate();
    picture.SwapPixels(replacement);
    picture.DrawMode = TDrawMode::dmBlend;
    picture.CombineMode = TCombineMode::cmBlend;
    MakeResampler(filterKind, picture);
    m_view.EndUpdate();
    m_view.Invalidate();
    replacement.Delete();
}

void TViewerPicture::SetFilter(int filterKind) {
    m_view.BeginUpdate();
    MakeResampler(filterKind, m_view.Bitmap);
    m_view.EndUpdate();
    m_view.Invalidate();
}

double TViewerPicture::FitScale() const {
    const TBitmap32& picture = m_view.Bitmap;
    if (picture.Empty()) return 1;
    return TViewerZoom::FitScale(picture.Width(), picture.Height(), m_view.ViewWidth(),
                                 m_view.ViewHeight(), m_zoom.RotationAngle);
}

void TViewerPicture::ApplyZoom(bool wasFitted) {
    TImageViewModel& model = m_view.Model();
    model.SetScale(m_zoom.ViewScale);
    // An explicit zoom out of the fitted picture starts from a centred one.
    if (wasFitted) {
        model.SetCentered(false);
        model.SetCentered(true);
    }
    m_view.Invalidate();
    if (OnZoomChanged) OnZoomChanged();
}

void TViewerPicture::ZoomBy(int direction) {
    ApplyZoom(direction > 0 ? m_zoom.ZoomIn(FitScale()) : m_zoom.ZoomOut(FitScale()));
}

void TViewerPicture::Wheel(int delta) {
    if (delta != 0) ApplyZoom(m_zoom.Wheel(delta, FitScale()));
}

void TViewerPicture::Fit() {
    m_zoom.FitMode = true;
    m_view.Invalidate();
    if (OnZoomChanged) OnZoomChanged();
}

void TViewerPicture::StartPan(int x, int y) {
    m_panning = true;
    m_panFrom = {x, y};
    m_view.setCursor(Qt::SizeAllCursor);
}

bool TViewerPicture::Pan(int x, int y) {
    if (!m_panning || m_zoom.FitMode) return false;
    m_view.setCursor(Qt::SizeAllCursor);
    m_view.Model().Scroll(m_panFrom.x() - x, m_panFrom.y() - y);
    m_panFrom = {x, y};
    m_view.Invalidate();
    return true;
}

TAffineTransformation TViewerPicture::PictureTransform(bool simpleMode) const {
    const TViewerZoom& zoom = m_zoom;
    const TBitmap32& picture = m_view.Bitmap;
    const int w = picture.Width(), h = picture.Height();
    if (zoom.FitMode || simpleMode)
        return TViewerZoom::FittedTransform(w, h, m_view.ViewWidth(), m_view.ViewHeight(),
                                            zoom.RotationAngle, FitScale());
    if (zoom.RotationAngle % 360 != 0) {
        const TFloatRect r = m_view.Model().BitmapRect();
        return TViewerZoom::TurnedTransform(w, h, zoom.RotationAngle, zoom.ViewScale,
                                            std::round(r.Left), std::round(r.Top));
    }
    return m_view.ViewTransform();
}

void TViewerPicture::Paint(TBitmap32& buffer, int stage, const TState& s) {
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
    const TAffineTransformation t = PictureTransform(s.SimpleMode);
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

void TViewerPicture::SetQuickLook(const QString& file, TDrawnPicture&& drawn) {
    m_quickLook = std::move(drawn);
    m_quickLookFile = file;
}

void TViewerPicture::PaintQuickLook(TBitmap32& buffer, const TState& s) {
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
