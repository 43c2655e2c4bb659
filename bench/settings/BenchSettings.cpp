// Time of the settings dialog on the offscreen platform, each against a baseline
// measured in the same run.
//
//   Construct                the dialog as the program makes it at start-up (hidden)
//   PrepareAndShow           PrepareControls + show + the first paint, the dialog made anew
//                            every iteration (so the first opening, with its controls
//                            built, is what is timed)
//   ReopenPrepared           PrepareControls + show + paint of a dialog opened before
//   MessageBoxBaseline       a plain message box made, shown and painted: what any
//                            dialog of the toolkit costs here
//   PreviewStep/<effect>     one tick of the effect preview in a 320 x 120 box
//   PreviewCopyBaseline      memcpy of the preview's output picture
#include "../OffscreenHome.h"
#include "app/SettingsLayout.h"
#include "platform/Registry.h"
#include "settings/FormVekSettings.h"
#include "show/EffectPreviewWidget.h"
#include "show/VekSettingsFile.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMessageBox>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// The slideshow description the dialog starts from (the composition root's in the program).
TVekSettingsFile& Slideshow() {
    static TVekSettingsFile slideshow;
    return slideshow;
}

void Paint(QWidget& w) {
    w.show();
    benchmark::DoNotOptimize(w.grab());
}

void Construct(benchmark::State& state) {
    for (auto _ : state) {
        TSettingsForm form(Slideshow());
        benchmark::DoNotOptimize(&form);
    }
}
BENCHMARK(Construct)->Unit(benchmark::kMillisecond);

void PrepareAndShow(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto form = std::make_unique<TSettingsForm>(Slideshow());
        state.ResumeTiming();
        form->PrepareControls({200, 240, 135});
        Paint(*form);
        state.PauseTiming();
        form->hide();
        form.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(PrepareAndShow)->Unit(benchmark::kMillisecond);

void ReopenPrepared(benchmark::State& state) {
    TSettingsForm form(Slideshow());
    form.PrepareControls({200, 240, 135});
    Paint(form);
    form.hide();
    for (auto _ : state) {
        form.PrepareControls({200, 240, 135});
        Paint(form);
        state.PauseTiming();
        form.hide();
        state.ResumeTiming();
    }
}
BENCHMARK(ReopenPrepared)->Unit(benchmark::kMillisecond);

void MessageBoxBaseline(benchmark::State& state) {
    for (auto _ : state) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Pictrel"),
                        QStringLiteral("A message of one line"), QMessageBox::Ok);
        Paint(box);
        box.hide();
    }
}
BENCHMARK(MessageBoxBaseline)->Unit(benchmark::kMillisecond);

void PreviewStep(benchmark::State& state) {
    TEffectPreview preview;
    preview.resize(320, 120);
    preview.SetEffectIndex(int(state.range(0)));
    preview.Stop();
    state.SetLabel(preview.EffectNames().value(int(state.range(0))).toStdString());
    for (auto _ : state) {
        preview.EffectTimerTimer();
        if (preview.DelayRunning()) {
            state.PauseTiming();
            preview.Stop();
            preview.Start();
            preview.Stop();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(PreviewStep)->DenseRange(1, 4)->Unit(benchmark::kMicrosecond);

void PreviewCopyBaseline(benchmark::State& state) {
    TEffectPreview preview;
    preview.resize(320, 120);
    preview.EffectTimerTimer(); // makes the pictures
    const TBitmap32& out = preview.Output();
    std::vector<TColor32> copy(std::size_t(out.Width()) * std::size_t(out.Height()));
    for (auto _ : state) {
        std::memcpy(copy.data(), out.Bits(), copy.size() * sizeof(TColor32));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(PreviewCopyBaseline)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    const TOffscreenHome home;
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
