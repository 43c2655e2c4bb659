// GUI-thread cost of the on-image layers on a 3840 x 2160 view (device pixels) showing
// a fitted 6000 x 4000 photo, at a device pixel ratio of 1 (3840 x 2160 logical pixels)
// and of 2 (1920 x 1080 logical pixels, everything on it drawn twice as large):
//
//   Toolbar/FadeTick/<ratio>    one FadeTimer tick of the viewer's toolbar plus the
//                               view's repaint of the band it invalidated
//   Panel/DragStep/<ratio>      one pointer move of an information panel dragged by
//                               its caption plus the repaint of its old and new place
//   View/FullRepaint/<ratio>    a full repaint of the view, for scale
//
// After the runs the ratio of each step's time at 2 to its time at 1 is printed; the
// target is at most 2 (the layers cover four times the device pixels at 2). On a busy
// machine run with --benchmark_repetitions=5: the ratios then compare medians.
#include "PhotoPattern.h"
#include "ViewerLayers.h"
#include "gfx/ImgView32Widget.h"
#include "gfx/Transform.h"
#include "layers/VekAdditionalLayers.h"
#include "layers/VekStringListLayer.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QRegion>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kDeviceW = 3840, kDeviceH = 2160;
constexpr int kPhotoW = 6000, kPhotoH = 4000;

const TBitmap32& Photo() {
    static const TBitmap32 photo = [] {
        TBitmap32 p;
        FillPhotoPattern(p, kPhotoW, kPhotoH);
        return p;
    }();
    return photo;
}

// The view at one ratio with the viewer's toolbar and an information panel.
struct TRatioView {
    const double Ratio;
    TImgView32 View;
    QImage Target{kDeviceW, kDeviceH, QImage::Format_RGB32};
    TToolbarLayer Toolbar{View.Layers};
    TVekMetaDataLayer Panel{View.Layers};
    TRect Dirty; // device pixels
    double Scale = (kDeviceH - 2.0) / kPhotoH;

    explicit TRatioView(double ratio) : Ratio(ratio) {
        View.SetDeviceRatio(ratio);
        View.resize(int(kDeviceW / ratio), int(kDeviceH / ratio));
        Target.setDevicePixelRatio(ratio);
        View.Bitmap.Assign(Photo());
        View.Bitmap.Resampler = TResamplerKind::Linear;
        View.Bitmap.DrawMode = TDrawMode::dmBlend;
        PaintFittedPhoto(View, Scale, kDeviceW, kDeviceH, kPhotoW, kPhotoH);
        GatherDirty(View, Dirty);
        FillInformationPanel(Panel);
        FillMainToolbar(Toolbar);
        // The pictures at the ratio load on workers: wait for them (and the view's
        // first layout, which gives the layers the ratio).
        RenderAll();
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 5000) {
            bool loading = false;
            for (int i = 0; i < Toolbar.ItemCount(); ++i) {
                const auto* button = dynamic_cast<const TTlButton*>(Toolbar.Items(i));
                loading = loading || (button && button->Loading());
            }
            if (!loading) break;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }

    void RenderAll() {
        View.render(&Target);
        Dirty = {};
    }
    // Repaints the gathered device rectangle: the widget's region covering it.
    void RenderDirty() {
        const TRect r = Intersect(Dirty, View.ViewRect());
        Dirty = {};
        if (r.IsEmpty()) return;
        const int left = int(std::floor(r.Left / Ratio)), top = int(std::floor(r.Top / Ratio));
        const int right = int(std::ceil(r.Right / Ratio)),
                  bottom = int(std::ceil(r.Bottom / Ratio));
        View.render(&Target, QPoint(left, top), QRegion(left, top, right - left, bottom - top));
    }
    // Keeps the toolbar fading: in when it is hidden, out when it is shown.
    void RestartFade() {
        const TRect band = Toolbar.ToolbarRect();
        if (Toolbar.Shown) {
            Toolbar.HitTest(0, 0);
            Toolbar.HideTimer.Tick();
        } else {
            Toolbar.HitTest(band.Left + band.Width() / 2, band.Top + band.Height() / 2);
        }
    }
};

// Made on first use and let go before the application object goes.
std::map<int, std::unique_ptr<TRatioView>> g_views;

TRatioView& ViewAt(int ratio) {
    auto& view = g_views[ratio];
    if (!view) view = std::make_unique<TRatioView>(ratio);
    return *view;
}

void BM_FadeTick(benchmark::State& state) {
    TRatioView& f = ViewAt(int(state.range(0)));
    f.RenderAll();
    const int builds = f.View.CacheBuilds();
    double pixels = 0, ticks = 0;
    for (auto _ : state) {
        if (!f.Toolbar.FadeTimer.Enabled()) {
            state.PauseTiming();
            f.RestartFade();
            f.RenderDirty();
            state.ResumeTiming();
        }
        f.Toolbar.FadeTimer.Tick();
        pixels += f.Dirty.Width() * f.Dirty.Height();
        ++ticks;
        f.RenderDirty();
    }
    if (f.View.CacheBuilds() != builds) state.SkipWithError("the kept drawing was rebuilt");
    state.counters["band_px"] = ticks ? pixels / ticks : 0.0;
}

void BM_PanelDragStep(benchmark::State& state) {
    TRatioView& f = ViewAt(int(state.range(0)));
    f.Panel.Location = {255, 0, 465, 115};
    f.RenderAll();
    // Pressed on the caption, then moved back and forth over 400 logical pixels; the
    // pointer reaches the collection in device pixels, as from the view.
    const int x0 = 300, y0 = 10;
    const auto device = [&f](int v) { return int(v * f.Ratio); };
    f.View.Layers.MouseDown(TMouseButton::mbLeft, ssLeft, device(x0), device(y0));
    if (f.Panel.DragZone != THitZone::hzCaption)
        state.SkipWithError("the press missed the caption");
    int x = x0, step = 1;
    double pixels = 0, moves = 0;
    for (auto _ : state) {
        if (x >= x0 + 400) step = -1;
        if (x <= x0) step = 1;
        x += step;
        f.View.Layers.MouseMove(ssLeft, device(x), device(y0 + (x & 7)));
        pixels += f.Dirty.Width() * f.Dirty.Height();
        ++moves;
        f.RenderDirty();
    }
    f.View.Layers.MouseUp(TMouseButton::mbLeft, 0, device(x), device(y0));
    f.RenderDirty();
    state.counters["repaint_px"] = moves ? pixels / moves : 0.0;
}

void BM_FullRepaint(benchmark::State& state) {
    TRatioView& f = ViewAt(int(state.range(0)));
    f.RenderAll();
    for (auto _ : state) f.RenderAll();
}

BENCHMARK(BM_FadeTick)->Name("Toolbar/FadeTick")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PanelDragStep)->Name("Panel/DragStep")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullRepaint)->Name("View/FullRepaint")->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// Prints the results as usual and keeps each one's real time per iteration: the
// median when the runs are repeated (--benchmark_repetitions), which a busy machine
// disturbs least.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> Times;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate) {
                if (run.aggregate_name == "median") m_medians[name] = run.GetAdjustedRealTime();
            } else {
                Times[name] = run.GetAdjustedRealTime();
            }
        }
        for (const auto& [name, time] : m_medians) Times[name] = time;
        ConsoleReporter::ReportRuns(runs);
    }

private:
    std::map<std::string, double> m_medians;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* name : {"Toolbar/FadeTick", "Panel/DragStep", "View/FullRepaint"}) {
        const auto one = reporter.Times.find(std::string(name) + "/1");
        const auto two = reporter.Times.find(std::string(name) + "/2");
        if (one != reporter.Times.end() && two != reporter.Times.end() && one->second > 0)
            std::printf("%-18s ratio 2 / ratio 1: %.2f\n", name, two->second / one->second);
    }
    benchmark::Shutdown();
    g_views.clear();
    return 0;
}
