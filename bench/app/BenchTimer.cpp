// How late a threaded timer's ticks come with an idle GUI thread: the time from the
// end of one tick to the start of the next, minus the interval.
//
//   bench_timer [--ticks N]      (default 1000 ticks of 26 ms, about 27 s)
#include "app/ThreadedTimer.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::int32_t kIntervalMs = 26;

double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0.0;
    const auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

} // namespace

int main(int argc, char** argv) {
    int ticks = 1000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ticks") == 0 && i + 1 < argc) {
            ticks = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--ticks N]\n", argv[0]);
            return 2;
        }
    }
    if (ticks < 2) {
        std::fprintf(stderr, "--ticks needs at least 2\n");
        return 2;
    }

    QCoreApplication app(argc, argv);
    using Clock = std::chrono::steady_clock;

    std::vector<double> lateness;
    lateness.reserve(static_cast<std::size_t>(ticks));
    Clock::time_point lastEnd{};
    int seen = 0;

    TThreadedTimer timer;
    timer.SetInterval(kIntervalMs);
    timer.OnTimer = [&](TThreadedTimer& sender) {
        const Clock::time_point start = Clock::now();
        if (seen > 0) {
            const std::chrono::duration<double, std::milli> gap = start - lastEnd;
            lateness.push_back(gap.count() - kIntervalMs);
        }
        if (++seen == ticks) {
            sender.SetEnabled(false);
            QCoreApplication::quit();
        }
        lastEnd = Clock::now();
    };
    timer.SetEnabled(true);
    const Clock::time_point begin = Clock::now();
    app.exec();
    const std::chrono::duration<double> total = Clock::now() - begin;

    std::vector<double> sorted = lateness;
    std::sort(sorted.begin(), sorted.end());
    std::printf("threaded timer, interval %d ms, %d ticks (%zu gaps) in %.1f s\n", kIntervalMs,
                seen, sorted.size(), total.count());
    std::printf("lateness ms: median %.3f  p99 %.3f  max %.3f  min %.3f\n", Percentile(sorted, 0.5),
                Percentile(sorted, 0.99), sorted.back(), sorted.front());
    return 0;
}
