// Pictrel entry point.
//
// Until the viewer window lands, "/view <file>" opens a plain window that shows
// the picture fitted with the linear resampler of our bitmap library; the
// picture is read with Qt's own readers for now.
#include "gfx/Bitmap32.h"
#include "gfx/Resampler.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

class TPreviewWindow : public QWidget {
public:
    explicit TPreviewWindow(const QString& fileName) {
        setWindowTitle(fileName.isEmpty() ? QStringLiteral("Pictrel")
                                          : fileName + QStringLiteral(" - Pictrel"));
        QImage image(fileName);
        if (!image.isNull()) {
            image = image.convertToFormat(QImage::Format_ARGB32);
            m_picture.SetSize(image.width(), image.height());
            for (int y = 0; y < image.height(); ++y)
                std::memcpy(m_picture.ScanLine(y), image.constScanLine(y),
                            std::size_t(image.width()) * 4);
        }
        m_picture.DrawMode = TDrawMode::dmBlend;
        MakeResampler(2, m_picture);
        resize(960, 640);
    }

protected:
    void paintEvent(QPaintEvent*) override {
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
            p.drawText(view.rect(), Qt::AlignCenter, QStringLiteral("Can't open image"));
        }
        QImage frame = buffer.ImageView();
        frame.setDevicePixelRatio(dpr);
        QPainter painter(this);
        painter.drawImage(0, 0, frame);
    }

private:
    TBitmap32 m_picture;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pictrel"));
    const QStringList args = QApplication::arguments();
    if (args.size() < 2 || args[1].toLower() != QStringLiteral("/view")) {
        std::fprintf(stderr, "usage: pictrel /view [file]\n");
        return 0;
    }
    TPreviewWindow window(args.size() > 2 ? args[2] : QString());
    window.show();
    return QApplication::exec();
}
