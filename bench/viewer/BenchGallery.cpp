// The folder's grid on the offscreen platform: 300 photos of 1280 x 800 in a window of
// 1920 x 1080, the desktop's thumbnail cache empty, then warm; scrolling a grid of ten
// thousand files (hard links to the same photos) a step at a time, the GUI thread's time
// per frame; the process's peak memory at the end.
//
//   bench_gallery
#include "../OffscreenHome.h"
#include "viewer/FormViewerGallery.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kPhotos = 300, kLargeGrid = 10000;

long PeakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

QImage Photo(int seed) {
    QImage image(1280, 800, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = qRgb((x + seed * 7) & 0xFF, int(128 + 100 * std::sin((x + y + seed) * 0.01)),
                          (y * 255) / image.height());
    }
    return image;
}

// Waits in the event loop until every visible cell is drawn; milliseconds.
double UntilVisibleDone(TGalleryView& view, QElapsedTimer& clock) {
    while (!view.VisibleDone()) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QApplication::processEvents();
    return double(clock.nsecsElapsed()) / 1e6;
}

QStringList Listed(const QString& folder) {
    QStringList files;
    for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name))
        files << folder + u'/' + name;
    return files;
}

} // namespace

int main(int argc, char** argv) {
    const TOffscreenHome home;
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
    QApplication app(argc, argv);
    QTemporaryDir photos, many;
    const QString folder = photos.path();
    for (int i = 0; i < kPhotos; ++i)
        Photo(i).save(folder + QString::asprintf("/photo%03d.jpg", i), "jpeg", 90);
    std::printf("%d photos of 1280x800 (JPEG quality 90), window 1920x1080, offscreen\n", kPhotos);

    TGalleryView view;
    view.resize(1920, 1080);
    view.show();
    const QStringList files = Listed(folder);
    QElapsedTimer clock;
    clock.start();
    view.SetFiles(files, 0);
    const double cold = UntilVisibleDone(view, clock);
    const auto [first, last] = view.Grid().VisibleRange();
    std::printf("first screen, empty cache: %4.0f ms (%d cells)\n", cold, last - first);
    // The rest of the folder, a screen at a time.
    QScrollBar* bar = view.findChild<QScrollBar*>();
    while (bar->value() < bar->maximum()) {
        bar->setValue(bar->value() + bar->pageStep());
        UntilVisibleDone(view, clock);
    }
    std::printf("all %d thumbnails made and cached: %5.0f ms\n", kPhotos,
                double(clock.nsecsElapsed()) / 1e6);

    TGalleryView warm;
    warm.resize(1920, 1080);
    warm.show();
    clock.restart();
    warm.SetFiles(files, 0);
    std::printf("first screen, warm cache:  %4.0f ms\n", UntilVisibleDone(warm, clock));
    warm.hide();
    view.hide();

    // Ten thousand names, the photos linked again and again.
    QStringList large;
    for (int i = 0; i < kLargeGrid; ++i) {
        const QString name = many.path() + QString::asprintf("/f%05d.jpg", i);
        if (::link(QFile::encodeName(files[i % kPhotos]).constData(),
                   QFile::encodeName(name).constData()) != 0)
            break;
        large << name;
    }
    TGalleryView grid;
    grid.resize(1920, 1080);
    grid.show();
    clock.restart();
    grid.SetFiles(large, 0);
    std::printf("%lld files set in %.1f ms\n", qint64(large.size()),
                double(clock.nsecsElapsed()) / 1e6);
    QImage frame(grid.size() * grid.devicePixelRatio(), QImage::Format_RGB32);
    QScrollBar* largeBar = grid.findChild<QScrollBar*>();
    std::vector<double> frames;
    // Down through the grid a wheel step at a time, letting thumbnails arrive between.
    for (int step = 0; step < 400 && largeBar->value() < largeBar->maximum(); ++step) {
        QApplication::processEvents();
        clock.restart();
        largeBar->setValue(largeBar->value() + largeBar->singleStep() * 3);
        grid.render(&frame);
        frames.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(frames.begin(), frames.end());
    std::printf("scrolling %lld cells: %zu frames, median %.2f ms, worst %.2f ms of GUI time\n",
                qint64(large.size()), frames.size(), frames[frames.size() / 2], frames.back());
    std::printf("peak memory (VmHWM): %ld MB\n", PeakKb() / 1024);
    return 0;
}
