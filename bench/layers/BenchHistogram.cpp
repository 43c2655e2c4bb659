// The histogram count of a 6000 x 4000 photo against memcpy of its pixels, measured
// in the same run.
//
//   Memcpy              one copy of the 96 MB of pixels into memory touched before
//   Capture             the private copy the panel takes when a count starts
//                       (fresh memory, as in the program)
//   Count               the count and verdict on both cores, copy excluded
//   CaptureAndCount     both, as the panel pays for them
//   FloatOneThread      one thread adding the float increment pixel by pixel with a
//                       floating-point intensity, the plain way
#include "../gfx/PhotoPattern.h"
#include "gfx/Bitmap32.h"
#include "layers/VekHistogramLayer.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 6000, kHeight = 4000;

const TBitmap32& Photo() {
    static const TBitmap32 photo = [] {
        TBitmap32 p;
        FillPhotoPattern(p, kWidth, kHeight);
        return p;
    }();
    return photo;
}

std::size_t PixelBytes() {
    return std::size_t(kWidth) * kHeight * sizeof(TColor32);
}

void BM_Memcpy(benchmark::State& state) {
    const TBitmap32& photo = Photo();
    std::vector<TColor32> dst(std::size_t(kWidth) * kHeight);
    for (auto _ : state) {
        std::memcpy(dst.data(), photo.Bits(), PixelBytes());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(PixelBytes()));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Capture(benchmark::State& state) {
    const TBitmap32& photo = Photo();
    for (auto _ : state) {
        auto pixels = THistogramPixels::Capture(&photo);
        benchmark::DoNotOptimize(pixels->Bits());
    }
}
BENCHMARK(BM_Capture)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Count(benchmark::State& state) {
    const auto pixels = THistogramPixels::Capture(&Photo());
    TAnalyzeHystrogramThread worker(pixels);
    for (auto _ : state) {
        worker.Execute();
        benchmark::DoNotOptimize(worker.Gray.data());
    }
    state.counters["advice"] = worker.Advice;
}
BENCHMARK(BM_Count)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CaptureAndCount(benchmark::State& state) {
    const TBitmap32& photo = Photo();
    for (auto _ : state) {
        TAnalyzeHystrogramThread worker(&photo);
        worker.Execute();
        benchmark::DoNotOptimize(worker.Gray.data());
    }
}
BENCHMARK(BM_CaptureAndCount)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FloatOneThread(benchmark::State& state) {
    const TBitmap32& photo = Photo();
    std::array<float, 256> red{}, green{}, blue{}, gray{};
    for (auto _ : state) {
        red.fill(0);
        green.fill(0);
        blue.fill(0);
        gray.fill(0);
        const float inc = float(6000.0 / (double(kWidth) * kHeight));
        const TColor32* p = photo.Bits();
        const std::size_t n = std::size_t(kWidth) * kHeight;
        for (std::size_t i = 0; i < n; ++i) {
            const TColor32 c = p[i];
            const int r = int((c >> 16) & 0xFF), g = int((c >> 8) & 0xFF), b = int(c & 0xFF);
            const long v = std::lround(0.3 * r + 0.59 * g + 0.11 * b);
            red[std::size_t(r)] += inc;
            green[std::size_t(g)] += inc;
            blue[std::size_t(b)] += inc;
            gray[std::size_t(v < 0 ? 0 : v > 255 ? 255 : v)] += inc;
        }
        benchmark::DoNotOptimize(gray.data());
    }
}
BENCHMARK(BM_FloatOneThread)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
