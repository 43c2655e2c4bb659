#include "authoring/WizardPreviewWidget.h"

#include "gfx/DevicePixels.h"
#include "show/SlideShowModel.h"

#include <QEvent>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QTransform>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kShadow = 10;
constexpr QRgb kShadowColour = 0xFFBFBFBF;
constexpr QRgb kFrameColour = 0xC8000000;
// The load progress box and its frame (a grey with a touch of blue).
constexpr int kBarWidth = 100, kBarHeight = 16;
const QColor kBarFrame(0xA0, 0xA0, 0xA4);

QTransform ToQTransform(const TAffineTransformation& t) {
    return QTransform(t.A, t.D, t.B, t.E, t.C, t.F);
}

QImage View(const TBitmap32& bitmap) {
    return QImage(reinterpret_cast<const uchar*>(bitmap.Bits()), bitmap.Width(), bitmap.Height(),
                  bitmap.Width() * 4, QImage::Format_ARGB32);
}

// A length of the box's drawing in device pixels.
int Scaled(int logical, double ratio) {
    return int(std::lround(logical * ratio));
}

} // namespace

TWizardPreview::TWizardPreview(QWidget* parent) : QWidget(parent) {
    setFixedSize(kSide, kSide);
    m_view.SetViewSize(kSide, kSide);
    // Fitted on the worker: a fit-mode repaint only copies a picture of the box's size.
    m_loader.PreparePicture = [this](const QString&) {
        RatioMayHaveChanged();
        // Either side may come up after a quarter turn: a square box fits both.
        const int box = FitBox();
        m_loadRatio = m_ratio;
        return std::function<void(TBitmap32&, TDrawnPicture&)>(
            [box](TBitmap32& picture, TDrawnPicture& drawn) {
                FitPicture(picture, drawn.Bitmap, box, box, 0, 2);
            });
    };
    m_loader.OnStart = [this](TVekImageLoaderPro&, const QString&) {
        m_loading = true;
        m_error.clear();
        m_percent = 0;
        m_refit.Cancel();
        m_source = std::make_shared<TBitmap32>();
        m_fitted.Delete();
        Changed();
    };
    m_loader.OnWork = [this](TVekImageLoaderPro&, int percent) {
        m_percent = percent;
        update();
    };
    m_loader.OnBitmapChange = [this](TVekImageLoaderPro& loader, TBitmap32&) {
        m_fitted = std::move(loader.Drawn().Bitmap);
        loader.Drawn().Bitmap = TBitmap32();
        m_fittedRatio = m_loadRatio;
        m_source = std::make_shared<TBitmap32>(std::move(loader.Bitmap()));
        loader.Bitmap() = TBitmap32();
        if (AngleOf) SetAngle(AngleOf(m_file));
        // The box moved to a screen of another ratio while the picture was decoded.
        if (m_fittedRatio != m_ratio) Refit();
    };
    m_loader.OnSucces = [this](TVekImageLoaderPro& loader) {
        m_loading = false;
        loader.ReleaseSource();
        // Every picture starts fitted.
        m_zoom.FitMode = true;
        m_view.SetPictureSize(m_source->Width(), m_source->Height());
        m_view.SetOverSize(TViewerZoom::ScrollMargin(m_source->Width(), m_source->Height()));
        Changed();
    };
    m_loader.OnError = [this](TVekImageLoaderPro&) {
        m_loading = false;
        m_error = QStringLiteral("Can't open image");
        Changed();
    };
}

TWizardPreview::~TWizardPreview() {
    m_refit.Shutdown();
    m_loader.Cancel();
}

int TWizardPreview::DeviceSide() const {
    return DeviceLength(kSide, m_ratio);
}

QPoint TWizardPreview::DevicePoint(const QPointF& p) const {
    return {int(std::floor(p.x() * m_ratio)), int(std::floor(p.y() * m_ratio))};
}

bool TWizardPreview::event(QEvent* event) {
    if (MayChangeDeviceRatio(*event)) RatioMayHaveChanged();
    return QWidget::event(event);
}

void TWizardPreview::RatioMayHaveChanged() {
    const double ratio = devicePixelRatioF();
    if (ratio == m_ratio) return;
    m_ratio = ratio;
    m_view.SetViewSize(DeviceSide(), DeviceSide());
    if (!m_zoom.FitMode) m_view.SetCentered(true);
    // A picture still decoding is fitted again when it arrives.
    if (Available()) Refit();
    update();
}

void TWizardPreview::Refit() {
    if (m_source->Empty()) return;
    const int box = FitBox();
    const double ratio = m_ratio;
    m_refit.RunLatest(
        [source = m_source, box](const TJobStop&) {
            // The shared picture is only read here; the fit works on a copy.
            TBitmap32 picture(*source);
            TBitmap32 fitted;
            FitPicture(picture, fitted, box, box, 0, 2);
            return fitted;
        },
        [this, ratio](TBitmap32 fitted) {
            if (ratio != m_ratio) return; // a newer fit is on its way
            m_fitted = std::move(fitted);
            m_fittedRatio = ratio;
            update();
        });
}

void TWizardPreview::Changed() {
    update();
    if (OnStateChange) OnStateChange();
}

void TWizardPreview::ShowFile(const QString& file) {
    m_file = file;
    m_zoom.RotationAngle = 0;
    if (file.isEmpty()) {
        m_loader.Cancel();
        m_loading = false;
        m_error.clear();
        m_refit.Cancel();
        m_source = std::make_shared<TBitmap32>();
        m_fitted.Delete();
        Changed();
        return;
    }
    m_loader.Open(file, true, 0);
}

void TWizardPreview::SetAngle(int angle) {
    m_zoom.RotationAngle = ((angle % 360) + 360) % 360;
    update();
}

// ---- zoom ---------------------------------------------------------------------------

double TWizardPreview::FitScale() const {
    return TViewerZoom::FitScale(m_source->Width(), m_source->Height(), DeviceSide(), DeviceSide(),
                                 m_zoom.RotationAngle);
}

double TWizardPreview::Scale() const {
    return m_zoom.FitMode ? FitScale() : m_zoom.ZoomScale;
}

void TWizardPreview::Zoomed(bool recentre) {
    m_view.SetScale(m_zoom.ViewScale);
    if (recentre) m_view.SetCentered(true);
    update();
}

void TWizardPreview::ZoomFit() {
    if (!Available()) return;
    m_zoom.FitMode = true; // centred again at the new scale
    // Unlike fit mode, a small picture is enlarged to the box.
    Zoomed(m_zoom.SetZoom(TViewerZoom::FitScale(m_source->Width(), m_source->Height(), DeviceSide(),
                                                DeviceSide(), m_zoom.RotationAngle, true)));
}

void TWizardPreview::ActualSize() {
    if (Available()) Zoomed(m_zoom.SetZoom(1));
}

void TWizardPreview::ZoomIn() {
    if (Available()) Zoomed(m_zoom.ZoomIn(FitScale()));
}

void TWizardPreview::ZoomOut() {
    if (Available()) Zoomed(m_zoom.ZoomOut(FitScale()));
}

void TWizardPreview::WheelZoom(int delta) {
    // Plain steps: the box is too small for the viewer's finer steps below the fit.
    if (Available()) Zoomed(m_zoom.SetZoom(Scale() + delta * TViewerZoom::kWheelStep / 120));
}

// ---- mouse --------------------------------------------------------------------------

void TWizardPreview::wheelEvent(QWheelEvent* event) {
    if (!Available()) return QWidget::wheelEvent(event);
    WheelZoom(event->angleDelta().y());
    event->accept();
}

void TWizardPreview::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || m_zoom.FitMode || !Available())
        return QWidget::mousePressEvent(event);
    m_dragging = true;
    m_dragFrom = DevicePoint(event->position());
    setCursor(Qt::SizeAllCursor);
}

void TWizardPreview::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragging) return QWidget::mouseMoveEvent(event);
    const QPoint at = DevicePoint(event->position());
    // The picture follows the pointer.
    m_view.Scroll(m_dragFrom.x() - at.x(), m_dragFrom.y() - at.y());
    m_dragFrom = at;
    update();
}

void TWizardPreview::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_dragging || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    m_dragging = false;
    unsetCursor();
}

// ---- painting -----------------------------------------------------------------------

void TWizardPreview::DrawPicture(QPainter& painter) {
    const int w = m_source->Width(), h = m_source->Height();
    const int angle = m_zoom.RotationAngle;
    const double scale = Scale();
    const double ratio = m_ratio;
    const int side = DeviceSide();
    QImage image;
    QTransform place; // from the drawn image's pixels to the box's device pixels
    bool smooth = false;
    if (m_zoom.FitMode) {
        // The fitted copy as it is, turned and laid whole pixel on whole device pixel
        // (stretched, until the copy fitted at a new ratio arrives).
        image = View(m_fitted);
        place.rotate(-angle);
        if (m_fittedRatio != ratio) {
            place.scale(ratio / m_fittedRatio, ratio / m_fittedRatio);
            smooth = true;
        }
        const QRect turned = place.mapRect(image.rect());
        place *= QTransform::fromTranslate((side - turned.width()) / 2 - turned.left(),
                                           (side - turned.height()) / 2 - turned.top());
    } else {
        const TFloatRect r = m_view.BitmapRect();
        place = ToQTransform(TViewerZoom::TurnedTransform(w, h, angle, m_zoom.ViewScale,
                                                          std::round(r.Left), std::round(r.Top)));
        if (scale <= double(m_fitted.Width()) / std::max(w, 1)) {
            // Smaller than fitted: from the fitted copy, mapped onto the picture's pixels.
            image = View(m_fitted);
            place =
                QTransform::fromScale(double(w) / m_fitted.Width(), double(h) / m_fitted.Height()) *
                place;
        } else {
            image = View(*m_source);
        }
        // Large pixels stay sharp squares.
        smooth = scale < 4;
    }
    const QRect bounds = place.mapRect(QRectF(image.rect())).toAlignedRect();

    painter.save();
    // Device pixels from here on; the shadow and the frame keep their logical widths.
    painter.setWorldTransform(QTransform::fromScale(1 / ratio, 1 / ratio), true);

    // A soft shadow: layers of the shadow colour, fainter towards its edge.
    const QColor shadow = QColor::fromRgba(kShadowColour);
    const QRect shadowRect =
        bounds.translated(Scaled(kShadow / 2, ratio), Scaled(kShadow / 2, ratio));
    for (int i = kShadow / 2; i > 0; --i) {
        QColor layer = shadow;
        layer.setAlpha(255 / (i + 1));
        const int grow = Scaled(i, ratio);
        painter.fillRect(shadowRect.adjusted(-grow, -grow, grow, grow), layer);
    }
    painter.fillRect(shadowRect, shadow);

    painter.save();
    painter.setTransform(place, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter.drawImage(0, 0, image);
    painter.restore();
    // A frame one logical pixel wide: rings of one device pixel each.
    painter.setPen(QColor::fromRgba(kFrameColour));
    for (int ring = 0, rings = std::max(1, Scaled(1, ratio)); ring < rings; ++ring)
        painter.drawRect(bounds.adjusted(ring, ring, -1 - ring, -1 - ring));
    painter.restore();
}

void TWizardPreview::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Made on one screen and shown on another: no screen change was told.
    RatioMayHaveChanged();
}

void TWizardPreview::paintEvent(QPaintEvent*) {
    // A screen whose own ratio changed tells nothing before Qt 6.6.
    RatioMayHaveChanged();
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    QFont font = painter.font();
    font.setPointSize(8);
    painter.setFont(font);
    if (m_loading) {
        const QRect bar((width() - kBarWidth) / 2, (height() - kBarHeight) / 2, kBarWidth,
                        kBarHeight);
        painter.setPen(kBarFrame);
        painter.drawRect(bar.adjusted(0, 0, -1, -1));
        painter.fillRect(QRect(bar.left() + 1, bar.top() + 1,
                               (bar.width() - 2) * std::clamp(m_percent, 0, 100) / 100,
                               bar.height() - 2),
                         palette().color(QPalette::Highlight));
        painter.setPen(Qt::black);
        painter.drawText(QRect(0, bar.top() - 20, width(), 18), Qt::AlignCenter,
                         QStringLiteral("Loading image ") + QFileInfo(m_file).fileName());
        return;
    }
    if (!Available()) {
        painter.setPen(Qt::black);
        painter.drawText(rect(), Qt::AlignCenter,
                         m_error.isEmpty() ? QStringLiteral("No preview available") : m_error);
        return;
    }
    DrawPicture(painter);
}
