// Animated GIF playback against its floor, in the same run: one frame tick of a
// 1920 x 1080 GIF vs a memcpy of one frame, and the GUI thread's busy share while a
// 50 ms-per-frame GIF plays in real time for 10 s.
//
// The next page is decoded ahead on a worker, so two tick figures matter: BackToBack
// ticks with no pause, where each one waits for the decode of its page (the decode's
// throughput), and Paced ticks one frame time apart as in playback (not timed), which
// is what the GUI thread spends per frame. The CPU column is the GUI thread's own.
//
//   bench_multipage [google benchmark flags]
#include "loading/FreeImagePtr.h"
#include "loading/FreeImageSetup.h"
#include "loading/VekImageLoaderPro.h"
#include "loading/VekMultipageBitmap.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kFrames = 8;
QString g_gif;

void SetTag(FIBITMAP* dib, const char* key, FREE_IMAGE_MDTYPE type, const void* value,
            DWORD length) {
    FITAG* tag = FreeImage_CreateTag();
    FreeImage_SetTagKey(tag, key);
    FreeImage_SetTagType(tag, type);
    FreeImage_SetTagCount(tag, 1);
    FreeImage_SetTagLength(tag, length);
    FreeImage_SetTagValue(tag, value);
    FreeImage_SetMetadata(FIMD_ANIMATION, dib, key, tag);
    FreeImage_DeleteTag(tag);
}

// Full-screen frames of noise with a transparent band, 50 ms each.
void MakeGif(const QString& path) {
    FIMULTIBITMAP* multi =
        FreeImage_OpenMultiBitmap(FIF_GIF, QFile::encodeName(path).constData(), TRUE, FALSE);
    std::mt19937 random(7);
    for (int f = 0; f < kFrames; ++f) {
        const TFreeImagePtr dib(FreeImage_Allocate(kWidth, kHeight, 8));
        RGBQUAD* pal = FreeImage_GetPalette(dib.get());
        for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i * 7), 0};
        for (int y = 0; y < kHeight; ++y) {
            BYTE* row = FreeImage_GetScanLine(dib.get(), y);
            for (int x = 0; x < kWidth; ++x)
                row[x] = (x / 64 + f) % 5 == 0 ? 0 : BYTE(1 + random() % 255);
        }
        FreeImage_SetTransparentIndex(dib.get(), 0);
        const DWORD time = 50;
        SetTag(dib.get(), "FrameTime", FIDT_LONG, &time, 4);
        const BYTE disposal = 1;
        SetTag(dib.get(), "DisposalMethod", FIDT_BYTE, &disposal, 1);
        FreeImage_AppendPage(multi, dib.get());
    }
    FreeImage_CloseMultiBitmap(multi, 0);
}

void Load(TVekImageLoaderPro& loader, TVekMultipageBitmap& holder) {
    bool done = false;
    loader.OnSucces = [&](TVekImageLoaderPro&) { done = true; };
    loader.OnError = [&](TVekImageLoaderPro&) { done = true; };
    loader.Open(g_gif);
    const QDeadlineTimer deadline(60000);
    while (!done && !deadline.hasExpired()) QCoreApplication::processEvents();
    holder.Assign(loader);
}

void BM_ComposeFrame(benchmark::State& state) {
    TVekImageLoaderPro loader;
    TVekMultipageBitmap holder;
    Load(loader, holder);
    if (holder.FrameCount() != kFrames) {
        state.SkipWithError("GIF not loaded");
        return;
    }
    std::int64_t handed = 0;
    holder.OnBitmapChange = [&](TVekMultipageBitmap&, TBitmap32& b) { handed += b.Width(); };
    holder.Play();
    for (auto _ : state) holder.FrameTimer().Tick();
    holder.Stop();
    benchmark::DoNotOptimize(handed);
}

// Ticks one frame time apart; the wait between them is not timed.
void BM_ComposeFramePaced(benchmark::State& state) {
    TVekImageLoaderPro loader;
    TVekMultipageBitmap holder;
    Load(loader, holder);
    if (holder.FrameCount() != kFrames) {
        state.SkipWithError("GIF not loaded");
        return;
    }
    std::int64_t handed = 0;
    holder.OnBitmapChange = [&](TVekMultipageBitmap&, TBitmap32& b) { handed += b.Width(); };
    holder.Play();
    for (auto _ : state) {
        state.PauseTiming();
        std::this_thread::sleep_for(std::chrono::milliseconds(holder.FrameTimer().Interval()));
        state.ResumeTiming();
        holder.FrameTimer().Tick();
    }
    holder.Stop();
    benchmark::DoNotOptimize(handed);
}

void BM_MemcpyFrame(benchmark::State& state) {
    std::vector<std::uint32_t> a(std::size_t(kWidth) * kHeight, 1), b(a.size());
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), a.size() * 4);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
}

// Real-time playback: the share of wall time the GUI thread spends in frame ticks.
void BM_PlayTenSeconds(benchmark::State& state) {
    TVekImageLoaderPro loader;
    TVekMultipageBitmap holder;
    Load(loader, holder);
    using Clock = std::chrono::steady_clock;
    Clock::duration busy{};
    int frames = 0;
    holder.FrameTimer().OnTimer = [&](TThreadedTimer&) {
        const auto start = Clock::now();
        holder.FrameTimerTimer();
        busy += Clock::now() - start;
        ++frames;
    };
    for (auto _ : state) {
        busy = {};
        frames = 0;
        const auto start = Clock::now();
        holder.Play();
        const QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        holder.Stop();
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const double busySeconds = std::chrono::duration<double>(busy).count();
        state.counters["frames"] = frames;
        state.counters["busy_share_%"] = 100.0 * busySeconds / wall;
        state.counters["ms_per_frame"] = frames ? 1000.0 * busySeconds / frames : 0.0;
        state.counters["share_of_50ms_%"] = frames ? 100.0 * busySeconds / frames / 0.050 : 0.0;
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    EnsureFreeImage();
    QTemporaryDir dir(QDir::tempPath() + "/bench_multipage-XXXXXX");
    g_gif = dir.path() + "/anim.gif";
    MakeGif(g_gif);
    benchmark::RegisterBenchmark("Gif1920x1080/ComposeFrame/BackToBack", BM_ComposeFrame)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0);
    benchmark::RegisterBenchmark("Gif1920x1080/ComposeFrame/Paced50ms", BM_ComposeFramePaced)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(100);
    benchmark::RegisterBenchmark("Gif1920x1080/MemcpyFrame", BM_MemcpyFrame)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2.0);
    benchmark::RegisterBenchmark("Gif1920x1080/Play50msFor10s", BM_PlayTenSeconds)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
