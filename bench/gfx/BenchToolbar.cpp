// GUI-thread cost of one fade step of the on-image toolbar over a 1920 x 1080 view
// showing a fitted 6000 x 4000 photo:
//
//   Toolbar/FadeTick            one FadeTimer tick plus the view's repaint of the
//                               rectangle it invalidated (the band), the picture
//                               coming from the view's kept drawing
//   Toolbar/FadeTick/baseline   a full repaint of the same view in the same run
//
//   Panel/DragStep              one pointer move of a panel dragged by its caption
//                               plus the repaint of its old and new place (target
//                               3 ms), against the same full repaint
//
// A fade is ten such ticks 10 ms apart, so a tick must stay well under 10 ms; the
// target is 2 ms.
#include "FittedPhotoView.h"
#include "ViewerLayers.h"
#include "layers/VekAdditionalLayers.h"
#include "layers/VekStringListLayer.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QRegion>

#include <cmath>
#include <memory>

namespace {

struct TToolbarFixture : TFittedPhotoView {
    TToolbarLayer Toolbar{View.Layers};
    TVekMetaDataLayer Panel{View.Layers};
    TRect Dirty;

    TToolbarFixture() {
        GatherDirty(View, Dirty);
        FillInformationPanel(Panel);
        FillMainToolbar(Toolbar);
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

    void RenderAll() { Render(); }
    void RenderDirty() {
        if (Dirty.IsEmpty()) return;
        const TRect r = Intersect(Dirty, View.ViewRect());
        Dirty = {};
        if (r.IsEmpty()) return;
        View.render(&Target, QPoint(r.Left, r.Top), QRegion(r.Left, r.Top, r.Width(), r.Height()));
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
std::unique_ptr<TToolbarFixture> g_fixture;

TToolbarFixture& Fixture() {
    if (!g_fixture) g_fixture = std::make_unique<TToolbarFixture>();
    return *g_fixture;
}

void BM_FadeTick(benchmark::State& state) {
    TToolbarFixture& f = Fixture();
    f.RenderAll();
    const int builds = f.View.CacheBuilds();
    int pixels = 0, ticks = 0;
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
    state.counters["band_px"] = ticks ? double(pixels) / ticks : 0.0;
}

void BM_FullRepaintBaseline(benchmark::State& state) {
    TToolbarFixture& f = Fixture();
    f.RenderAll();
    for (auto _ : state) f.RenderAll();
}

void BM_PanelDragStep(benchmark::State& state) {
    TToolbarFixture& f = Fixture();
    f.Panel.Location = {255, 0, 465, 115};
    f.RenderAll();
    // Pressed on the caption, then moved back and forth over 400 pixels.
    const int x0 = 300, y0 = 10;
    f.Panel.MouseDown(TMouseButton::mbLeft, ssLeft, x0, y0);
    if (f.Panel.DragZone != THitZone::hzCaption)
        state.SkipWithError("the press missed the caption");
    int x = x0, step = 1;
    double pixels = 0, moves = 0;
    for (auto _ : state) {
        if (x >= x0 + 400) step = -1;
        if (x <= x0) step = 1;
        x += step;
        f.Panel.MouseMove(ssLeft, x, y0 + (x & 7));
        pixels += f.Dirty.Width() * f.Dirty.Height();
        ++moves;
        f.RenderDirty();
    }
    f.Panel.MouseUp(TMouseButton::mbLeft, 0, x, y0);
    f.RenderDirty();
    state.counters["repaint_px"] = moves ? pixels / moves : 0.0;
}

BENCHMARK(BM_PanelDragStep)->Name("Panel/DragStep")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FadeTick)->Name("Toolbar/FadeTick")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullRepaintBaseline)->Name("Toolbar/FadeTick/baseline")->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_fixture.reset();
    return 0;
}
