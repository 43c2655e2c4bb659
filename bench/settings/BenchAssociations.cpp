// The settings dialog's OK after "All" on the association page, on the offscreen
// platform, against writing one extension measured in the same run.
//
//   OkAfterAll              what OK holds the window's thread for: the grid's outcome
//                           handed to the worker (the target is 50 ms at most)
//   OkAfterAllToTheEnd      the same, waited for until the worker has written it all
//   OneExtensionBaseline    registering one extension (jpg) on the calling thread: the
//                           desktop entry, mimeapps.list and the hives written once
//   PerExtensionWrites      every extension of the grid registered one by one, each
//                           with its own writes (how OK used to write, on the window)
#include "../OffscreenHome.h"
#include "app/FileAssociations.h"
#include "settings/AssociationGridWidget.h"
#include "settings/AssociationWriter.h"
#include "settings/FormVekSettings.h"
#include "show/VekSettingsFile.h"

#include <benchmark/benchmark.h>

#include <QApplication>

namespace {

// The slideshow description the dialog starts from (the composition root's in the program).
TVekSettingsFile& Slideshow() {
    static TVekSettingsFile slideshow;
    return slideshow;
}

const QString kProgram = QStringLiteral("/opt/pictrel/pictrel");

// A dialog whose grid was just set to `associated` and written.
void SetGrid(TSettingsForm& form, bool associated) {
    form.AssociationGrid->CheckAll(associated);
    form.ApplyAssociations({});
    form.AssociationWriter().Wait();
}

void OkAfterAll(benchmark::State& state) {
    TSettingsForm form(Slideshow());
    form.PrepareControls({200, 240, 135});
    for (auto _ : state) {
        state.PauseTiming();
        SetGrid(form, false);
        form.AssociationGrid->CheckAll(true);
        state.ResumeTiming();
        form.ApplyAssociations({});
        state.PauseTiming();
        form.AssociationWriter().Wait();
        state.ResumeTiming();
    }
    state.counters["extensions"] = double(form.CheckedExtensions().size());
    SetGrid(form, false);
}
BENCHMARK(OkAfterAll)->Unit(benchmark::kMillisecond)->Iterations(10);

void OkAfterAllToTheEnd(benchmark::State& state) {
    TSettingsForm form(Slideshow());
    form.PrepareControls({200, 240, 135});
    for (auto _ : state) {
        state.PauseTiming();
        SetGrid(form, false);
        state.ResumeTiming();
        SetGrid(form, true);
    }
    SetGrid(form, false);
}
BENCHMARK(OkAfterAllToTheEnd)->Unit(benchmark::kMillisecond)->Iterations(5);

void OneExtensionBaseline(benchmark::State& state) {
    for (auto _ : state) {
        RegisterExtensions({QStringLiteral("jpg")}, kProgram);
        state.PauseTiming();
        UnregisterExtensions({QStringLiteral("jpg")});
        state.ResumeTiming();
    }
}
BENCHMARK(OneExtensionBaseline)->Unit(benchmark::kMillisecond)->Iterations(20);

void PerExtensionWrites(benchmark::State& state) {
    TSettingsForm form(Slideshow());
    form.PrepareControls({200, 240, 135});
    form.AssociationGrid->CheckAll(true);
    const QStringList all = form.CheckedExtensions();
    for (auto _ : state) {
        for (const QString& ext : all)
            RegisterExtension(ext, kProgIdPrefix, kProgIdPrefix, QStringLiteral("view"), kProgram);
        state.PauseTiming();
        UnregisterExtensions(all);
        state.ResumeTiming();
    }
}
BENCHMARK(PerExtensionWrites)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    const TOffscreenHome home;
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
