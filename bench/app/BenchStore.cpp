// Reading every value of the settings layout (viewer, dialog, slideshow, the seven
// panels) from the store, against reading one value, same run.
#include "app/DialogStoreValues.h"
#include "app/PanelStoreValues.h"
#include "app/SlideshowStoreValues.h"
#include "app/ViewerStoreValues.h"
#include "platform/Registry.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdlib>

namespace {

void FillStore() {
    TViewerStoreValues::Defaults(1920, 1080).Save();
    TDialogStoreValues().Save();
    TSlideshowStoreValues values;
    values.Effect = "Blend";
    values.Save();
    for (int i = 0; i < layout::kPanelCount; ++i) {
        TPanelStoreValues panel;
        panel.Left = panel.Right = panel.Top = panel.Bottom = 10;
        panel.TextFont = "Family=Tahoma;Color=-16777208;Height=-13;Orientation=0;Charset=1;Size=10";
        panel.ShowRed = panel.ShowGreen = panel.ShowBlue = panel.ShowGray = panel.ShowComment =
            true;
        panel.Save(layout::TPanel(i));
    }
}

void BM_ReadOneValue(benchmark::State& state) {
    for (auto _ : state) {
        TRegistry reg;
        reg.OpenKey(layout::kSettingsKey, true);
        benchmark::DoNotOptimize(reg.ReadInteger(layout::kMainFormWidth));
    }
}
BENCHMARK(BM_ReadOneValue)->Unit(benchmark::kMicrosecond);

void BM_ReadWholeLayout(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(TViewerStoreValues::Load(1920, 1080));
        benchmark::DoNotOptimize(TDialogStoreValues::Load());
        benchmark::DoNotOptimize(TSlideshowStoreValues::Load());
        for (int i = 0; i < layout::kPanelCount; ++i)
            benchmark::DoNotOptimize(TPanelStoreValues::Load(layout::TPanel(i)));
    }
}
BENCHMARK(BM_ReadWholeLayout)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir config;
    setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
    FillStore();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
