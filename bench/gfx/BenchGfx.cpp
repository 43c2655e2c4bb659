// Speed of the bitmap library against Qt and memcpy, measured in the same run.
//
//   Fit/*           6000 x 4000 photo fitted into 1920 x 1080 (each kind; Qt's
//                   smooth scaling of the same opaque picture is the baseline)
//   FitTurned/*     the same with a quarter turn
//   Zoom250/*       the visible 1920 x 1080 window of a 1000 x 700 picture at 250 %
//                   (QPainter's smooth-transform drawing of that window is the baseline)
//   BlendEx         one 1920 x 1080 frame (memcpy of the frame is the baseline)
#include "PhotoPattern.h"
#include "gfx/Bitmap32.h"
#include "gfx/BlendOps.h"
#include "gfx/Transform.h"

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

TBitmap32 MakePhoto(int w, int h) {
    TBitmap32 b;
    FillPhotoPattern(b, w, h);
    return b;
}

const TBitmap32& Photo() {
    static const TBitmap32 photo = [] {
        TBitmap32 p = MakePhoto(6000, 4000);
        (void)p.IsOpaque(); // the loader knows this before the first paint
        return p;
    }();
    return photo;
}

QImage PhotoImage() {
    static const QImage image = [] {
        const TBitmap32& p = Photo();
        QImage view(reinterpret_cast<const uchar*>(p.Bits()), p.Width(), p.Height(), p.Width() * 4,
                    QImage::Format_RGB32);
        return view.copy();
    }();
    return image;
}

// The fit: scale 0.27 keeps 6000 x 4000 inside 1918 x 1078, centred in 1920 x 1080.
constexpr double kFit = 1078.0 / 4000.0;

void BM_Fit_QtSmoothScaled(benchmark::State& state) {
    const QImage image = PhotoImage();
    const int w = int(std::lround(6000 * kFit)), h = int(std::lround(4000 * kFit));
    for (auto _ : state) {
        QImage scaled = image.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(scaled.constBits());
    }
}
BENCHMARK(BM_Fit_QtSmoothScaled)->Unit(benchmark::kMillisecond)->UseRealTime();

// A turned fit uses the same scale into a portrait window of the same size, so
// both draw the same number of pixels and only the turn differs.
void BM_Fit(benchmark::State& state, TResamplerKind kind, int degrees) {
    TBitmap32 src;
    src = Photo();
    src.Resampler = kind;
    const bool turned = degrees % 180 != 0;
    const int dw = turned ? 1080 : 1920, dh = turned ? 1920 : 1080;
    TBitmap32 dst(dw, dh);
    TAffineTransformation t;
    t.Rotate(src.Width() / 2, src.Height() / 2, degrees);
    t.Scale(kFit);
    t.Translate(std::round(dw / 2.0 - kFit * 6000 / 2), std::round(dh / 2.0 - kFit * 4000 / 2));
    for (auto _ : state) {
        dst.DrawTransformed(t, src);
        benchmark::DoNotOptimize(dst.Bits());
    }
}
BENCHMARK_CAPTURE(BM_Fit, Nearest, TResamplerKind::Nearest, 0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Fit, Draft, TResamplerKind::Draft, 0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Fit, Linear, TResamplerKind::Linear, 0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Fit, Mitchell, TResamplerKind::Mitchell, 0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Fit, Cubic, TResamplerKind::Cubic, 0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Fit, Lanczos3, TResamplerKind::Lanczos, 0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Fit, LinearTurned90, TResamplerKind::Linear, 90)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Fit, MitchellTurned90, TResamplerKind::Mitchell, 90)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A 1000 x 700 picture at 250 %, scrolled so that a 1920 x 1080 window of it shows.
constexpr double kZoom = 2.5;
constexpr double kScrollX = -180.5, kScrollY = -320.25;

void BM_Zoom250_QPainterSmooth(benchmark::State& state) {
    const TBitmap32 src = MakePhoto(1000, 700);
    const QImage image = src.ImageView().convertToFormat(QImage::Format_RGB32);
    QImage target(1920, 1080, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter p(&target);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(kScrollX, kScrollY, 1000 * kZoom, 700 * kZoom), image);
        p.end();
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_Zoom250_QPainterSmooth)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Zoom250_Linear(benchmark::State& state) {
    TBitmap32 src = MakePhoto(1000, 700);
    src.Resampler = TResamplerKind::Linear;
    (void)src.IsOpaque();
    TBitmap32 dst(1920, 1080);
    for (auto _ : state) {
        dst.StretchDraw(
            TFloatRect{kScrollX, kScrollY, kScrollX + 1000 * kZoom, kScrollY + 700 * kZoom}, src);
        benchmark::DoNotOptimize(dst.Bits());
    }
}
BENCHMARK(BM_Zoom250_Linear)->Unit(benchmark::kMillisecond)->UseRealTime();

std::vector<TColor32> Frame(unsigned seed) {
    std::vector<TColor32> f(1920 * 1080);
    unsigned v = seed;
    for (auto& p : f) p = v = v * 1664525u + 1013904223u;
    return f;
}

void BM_Frame_Memcpy(benchmark::State& state) {
    const std::vector<TColor32> src = Frame(1);
    std::vector<TColor32> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size() * 4);
        benchmark::DoNotOptimize(dst.data());
    }
}
BENCHMARK(BM_Frame_Memcpy)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_Frame_BlendEx(benchmark::State& state) {
    const std::vector<TColor32> fg = Frame(1), bg = Frame(2);
    std::vector<TColor32> dst(fg.size());
    for (auto _ : state) {
        BlendExRow(dst.data(), fg.data(), bg.data(), fg.size(), 128);
        benchmark::DoNotOptimize(dst.data());
    }
}
BENCHMARK(BM_Frame_BlendEx)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    // Qt's image scaling and painting need a GUI application object.
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
