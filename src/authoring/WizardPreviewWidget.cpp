#include "authoring/WizardPreviewWidget.h"

#include "slideshow/SlideShowModel.h"

#include <QFileInfo>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kShadow = 10;
constexpr QRgb kShadowColour = 0xFFBFBFBF;
constexpr QRgb kFrameColour = 0xC8000000;

} // namespace

TWizardPreview::TWizardPreview(QWidget* parent) : QWidget(parent) {
    setFixedSize(kSide, kSide);
    // Fitted on the worker: the window only copies a picture of the box's size.
    m_loader.PreparePicture = [](const QString&) {
        return std::function<void(TBitmap32&, TDrawnPicture&)>(
            [](TBitmap32& picture, TDrawnPicture& drawn) {
                // Either side may come up after a quarter turn: a square box fits both.
                constexpr int box = kSide - 2 - kShadow;
                FitPicture(picture, drawn.Bitmap, box, box, 0, 2);
                picture.Delete();
            });
    };
    m_loader.OnStart = [this](TVekImageLoaderPro&, const QString&) {
        m_loading = true;
        m_error.clear();
        m_percent = 0;
        m_picture.Delete();
        update();
    };
    m_loader.OnWork = [this](TVekImageLoaderPro&, int percent) {
        m_percent = percent;
        update();
    };
    m_loader.OnBitmapChange = [this](TVekImageLoaderPro& loader, TBitmap32&) {
        m_picture = std::move(loader.Drawn().Bitmap);
        loader.Drawn().Bitmap = TBitmap32();
        loader.Bitmap().Delete();
    };
    m_loader.OnSucces = [this](TVekImageLoaderPro& loader) {
        m_loading = false;
        loader.ReleaseSource();
        update();
    };
    m_loader.OnError = [this](TVekImageLoaderPro&) {
        m_loading = false;
        m_error = QStringLiteral("Can't open image");
        update();
    };
}

TWizardPreview::~TWizardPreview() {
    m_loader.Cancel();
}

void TWizardPreview::ShowFile(const QString& file) {
    m_file = file;
    m_angle = 0;
    if (file.isEmpty()) {
        m_loader.Cancel();
        m_loading = false;
        m_error.clear();
        m_picture.Delete();
        update();
        return;
    }
    m_loader.Open(file, true, 0);
}

void TWizardPreview::SetAngle(int angle) {
    m_angle = ((angle % 360) + 360) % 360;
    update();
}

void TWizardPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    QFont font = painter.font();
    font.setPointSize(8);
    painter.setFont(font);
    if (m_loading) {
        const QRect bar(width() / 2 - 50, height() / 2 - 8, 100, 16);
        painter.setPen(QColor(0xA0, 0xA0, 0xA4));
        painter.drawRect(bar.adjusted(0, 0, -1, -1));
        painter.fillRect(QRect(bar.left() + 1, bar.top() + 1, (bar.width() - 2) * m_percent / 100,
                               bar.height() - 2),
                         palette().color(QPalette::Highlight));
        painter.setPen(Qt::black);
        painter.drawText(QRect(0, bar.top() - 20, width(), 18), Qt::AlignCenter,
                         QStringLiteral("Loading image ") + QFileInfo(m_file).fileName());
        return;
    }
    if (!m_error.isEmpty() || m_picture.Empty()) {
        painter.setPen(Qt::black);
        painter.drawText(rect(), Qt::AlignCenter,
                         m_error.isEmpty() ? QStringLiteral("No preview available") : m_error);
        return;
    }
    const QImage image(reinterpret_cast<const uchar*>(m_picture.Bits()), m_picture.Width(),
                       m_picture.Height(), m_picture.Width() * 4, QImage::Format_ARGB32);
    const bool sideways = m_angle % 180 != 0;
    const int w = sideways ? image.height() : image.width();
    const int h = sideways ? image.width() : image.height();
    const QRect place((width() - w - kShadow / 2) / 2, (height() - h - kShadow / 2) / 2, w, h);
    painter.fillRect(place.translated(kShadow / 2, kShadow / 2), QColor::fromRgba(kShadowColour));
    painter.save();
    painter.translate(place.center() + QPointF(0.5, 0.5));
    // Angles count counter-clockwise, as the viewer's turns do.
    painter.rotate(-m_angle);
    painter.drawImage(QPointF(-image.width() / 2.0, -image.height() / 2.0), image);
    painter.restore();
    painter.setPen(QColor::fromRgba(kFrameColour));
    painter.drawRect(place.adjusted(0, 0, -1, -1));
}
