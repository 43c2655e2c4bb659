#include "viewer/FormVekMain.h"

#include "app/AppContext.h"
#include "app/SettingsLayout.h"
#include "gfx/Resampler.h"
#include "platform/Registry.h"

#include <QCloseEvent>
#include <QDir>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

TMainForm::TMainForm(TAppContext& context) : m_context(context) {
    setWindowTitle(QStringLiteral("Pictrel"));
    OpenViewerTimer.SetInterval(1);
    OpenViewerTimer.OnTimer = [this](TThreadedTimer&) { OpenViewerTimerTimer(); };
    MessageTimer.SetInterval(10);
    MessageTimer.OnTimer = [this](TThreadedTimer&) { MessageTimerTimer(); };
    m_picture.DrawMode = TDrawMode::dmBlend;
    resize(960, 640);
}

TMainForm::~TMainForm() {
    OpenViewerTimer.SetEnabled(false);
    MessageTimer.SetEnabled(false);
}

void TMainForm::OpenViewerTimerTimer() {
    OpenViewerTimer.SetEnabled(false);
    OpenFile(FileToOpen);
}

void TMainForm::MessageTimerTimer() {
    MessageTimer.SetEnabled(false);
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
}

std::uint32_t TMainForm::HandOffMessage() {
    if (!isVisible()) return 0;
    TRegistry reg;
    reg.OpenKey(layout::kProgramKey, true);
    const QString name = reg.ReadString(layout::kNewFileName).value_or(QString());
    if (isMinimized()) showNormal();
    FileToOpen = name;
    OpenViewerTimer.SetEnabled(true);
    MessageTimer.SetEnabled(true);
    return 13;
}

void TMainForm::OpenFile(const QString& path) {
    m_openedFiles.append(path);
    if (qEnvironmentVariableIsSet("PICTREL_TRACE_OPEN"))
        std::fprintf(stderr, "pictrel: open %s\n", path.toLocal8Bit().constData());
    setWindowTitle(path.isEmpty() ? QStringLiteral("Pictrel")
                                  : QDir::toNativeSeparators(path) + QStringLiteral(" - Pictrel"));
    m_picture.SetSize(0, 0);
    QImage image(path);
    if (!image.isNull()) {
        image = image.convertToFormat(QImage::Format_ARGB32);
        m_picture.SetSize(image.width(), image.height());
        for (int y = 0; y < image.height(); ++y)
            std::memcpy(m_picture.ScanLine(y), image.constScanLine(y),
                        std::size_t(image.width()) * 4);
        MakeResampler(2, m_picture);
    }
    update();
}

void TMainForm::paintEvent(QPaintEvent*) {
    const qreal dpr = devicePixelRatioF();
    TBitmap32 buffer(int(width() * dpr), int(height() * dpr));
    buffer.Clear(clBlack32);
    if (!m_picture.Empty()) {
        const double scale = std::min({1.0 * dpr, (buffer.Width() - 2.0) / m_picture.Width(),
                                       (buffer.Height() - 2.0) / m_picture.Height()});
        const double w = m_picture.Width() * scale, h = m_picture.Height() * scale;
        const double x = std::round((buffer.Width() - w) / 2);
        const double y = std::round((buffer.Height() - h) / 2);
        buffer.StretchDraw({x, y, x + w, y + h}, m_picture);
    } else {
        QImage view = buffer.ImageView();
        QPainter p(&view);
        p.setPen(Qt::white);
        p.drawText(view.rect(), Qt::AlignCenter,
                   m_openedFiles.isEmpty() ? QStringLiteral("No preview available")
                                           : QStringLiteral("Can't open image"));
    }
    QImage frame = buffer.ImageView();
    frame.setDevicePixelRatio(dpr);
    QPainter painter(this);
    painter.drawImage(0, 0, frame);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    m_context.WindowClosed(this, event->isAccepted());
}
