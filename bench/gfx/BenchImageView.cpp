// Repaints of the image view (1920 x 1080, a 6000 x 4000 photo fitted, linear filter),
// each against a baseline measured in the same run:
//
//   Repaint/FromCache   a full repaint that changes neither scale nor turn nor size, so
//                       the picture comes from the kept drawing (baseline: drawing one
//                       ready 1920 x 1080 frame with QPainter, the blit alone)
//   Repaint/WheelNotch  a full repaint after one wheel notch changed the scale, so the
//                       visible picture is resampled anew (baseline: Qt's smooth scaling
//                       of the whole photo to the same size)
#include "FittedPhotoView.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <cmath>

namespace {

using TViewFixture = TFittedPhotoView;

TViewFixture& Fixture() {
    static TViewFixture fixture;
    return fixture;
}

void BM_RepaintFromCache(benchmark::State& state) {
    TViewFixture& f = Fixture();
    f.Render();
    const int builds = f.View.CacheBuilds();
    for (auto _ : state) f.Render();
    if (f.View.CacheBuilds() != builds) state.SkipWithError("the kept drawing was rebuilt");
}

void BM_BlitBaseline(benchmark::State& state) {
    QImage frame(kViewW, kViewH, QImage::Format_RGB32);
    frame.fill(0xFF808080);
    QImage target(kViewW, kViewH, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&target);
        p.drawImage(0, 0, frame);
    }
}

void BM_WheelNotch(benchmark::State& state) {
    TViewFixture& f = Fixture();
    const double fit = (kViewH - 2.0) / kPhotoH;
    bool down = false;
    for (auto _ : state) {
        down = !down;
        f.Scale = down ? fit - 0.04 : fit;
        f.Render();
    }
    f.Scale = fit;
}

void BM_QtSmoothFitBaseline(benchmark::State& state) {
    TViewFixture& f = Fixture();
    const QImage photo(reinterpret_cast<const uchar*>(f.View.Bitmap.Bits()), kPhotoW, kPhotoH,
                       kPhotoW * 4, QImage::Format_RGB32);
    for (auto _ : state) {
        QImage scaled =
            photo.scaled(kViewW - 2, kViewH - 2, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(scaled.constBits());
    }
}

BENCHMARK(BM_RepaintFromCache)->Name("Repaint/FromCache")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlitBaseline)->Name("Repaint/FromCache/baseline")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WheelNotch)->Name("Repaint/WheelNotch")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtSmoothFitBaseline)
    ->Name("Repaint/WheelNotch/baseline")
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
