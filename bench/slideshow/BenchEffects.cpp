// Time of the transition effects' steps, against memcpy of one output frame
// measured in the same run.
//
//   Effect/<name>/<width>x<height>   one whole transition (steps 0 ... StepCount) of two
//                                    equal-size photo-like pictures per iteration;
//                                    counters: mean and worst step in ms, and the mean
//                                    step as a multiple of the frame copy
//   FrameCopy/<width>x<height>       memcpy of one output frame (the baseline)
#include "app/VekRandom.h"
#include "show/TransformerByName.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Smooth gradients with some fine detail, as in a photo.
TBitmap32 MakePhoto(int w, int h, int seed) {
    TBitmap32 b(w, h);
    for (int y = 0; y < h; ++y) {
        TColor32* row = b.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            const int r = (x * 255 / w + ((x ^ (y + seed)) & 15)) & 0xFF;
            const int g = (y * 255 / h + ((x * 7 + y * 3 + seed) & 31)) & 0xFF;
            const int bl = int(128 + 100 * std::sin(x * 0.01 + seed) * std::cos(y * 0.013)) & 0xFF;
            row[x] = Color32(r, g, bl);
        }
    }
    return b;
}

const std::pair<TBitmap32, TBitmap32>& Photos(int w, int h) {
    static std::map<std::pair<int, int>, std::pair<TBitmap32, TBitmap32>> cache;
    auto it = cache.find({w, h});
    if (it == cache.end())
        it =
            cache.emplace(std::pair{w, h}, std::pair{MakePhoto(w, h, 1), MakePhoto(w, h, 7)}).first;
    return it->second;
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The median time of a frame copy, measured once per size for the ratio counters.
double FrameCopyMs(int w, int h) {
    static std::map<std::pair<int, int>, double> cache;
    auto it = cache.find({w, h});
    if (it != cache.end()) return it->second;
    const std::size_t bytes = std::size_t(w) * h * sizeof(TColor32);
    std::vector<char> src(bytes, 1), dst(bytes, 0);
    std::vector<double> times;
    for (int i = 0; i < 31; ++i) {
        const auto start = Clock::now();
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        times.push_back(Milliseconds(Clock::now() - start));
    }
    std::nth_element(times.begin(), times.begin() + 15, times.end());
    return cache[{w, h}] = times[15];
}

void FrameCopy(benchmark::State& state, int w, int h) {
    const std::size_t bytes = std::size_t(w) * h * sizeof(TColor32);
    std::vector<char> src(bytes, 1), dst(bytes, 0);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.counters["ms"] = FrameCopyMs(w, h);
}

void Effect(benchmark::State& state, const char* name, int w, int h) {
    const auto& [oldSource, newSource] = Photos(w, h);
    auto effect = TransformerByName(QString::fromUtf8(name));
    TBitmap32 oldPicture = oldSource, newPicture = newSource, output(w, h);
    RandSeed(1);
    double worst = 0, total = 0;
    int steps = 0;
    for (auto _ : state) {
        for (int step = 0; step <= effect->StepCount; ++step) {
            const auto start = Clock::now();
            effect->DrawStep(oldPicture, newPicture, step, output);
            const double ms = Milliseconds(Clock::now() - start);
            worst = std::max(worst, ms);
            total += ms;
            ++steps;
        }
        benchmark::DoNotOptimize(output.Bits());
    }
    const double mean = total / std::max(steps, 1);
    state.counters["mean_ms"] = mean;
    state.counters["worst_ms"] = worst;
    state.counters["copy_ms"] = FrameCopyMs(w, h);
    state.counters["mean_x_copy"] = mean / FrameCopyMs(w, h);
    state.counters["worst_x_copy"] = worst / FrameCopyMs(w, h);
}

const int kSizes[][2] = {{1920, 1080}, {3840, 2160}};
const char* const kEffects[] = {"No effect", "Blend",  "Slide", "Diagonal roll",
                                "Rain",      "Random", "Wind"};

const bool kRegistered = [] {
    for (const auto& size : kSizes) {
        const std::string suffix = std::to_string(size[0]) + "x" + std::to_string(size[1]);
        benchmark::RegisterBenchmark(("FrameCopy/" + suffix).c_str(), FrameCopy, size[0], size[1])
            ->Unit(benchmark::kMillisecond);
        for (const char* name : kEffects) {
            std::string label = name;
            std::replace(label.begin(), label.end(), ' ', '_');
            benchmark::RegisterBenchmark(("Effect/" + label + "/" + suffix).c_str(), Effect, name,
                                         size[0], size[1])
                ->Unit(benchmark::kMillisecond)
                ->Iterations(4);
        }
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
