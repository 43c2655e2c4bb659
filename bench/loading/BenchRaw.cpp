// Developing a 24-megapixel DNG at half size through LoadRawImage, against LibRaw's own
// half-size path (open, unpack, process, memory image) on the same file.
#include "gfx/Bitmap32.h"
#include "loading/RawImageEntry.h"
#include "loading/VekImageSettings.h"
#include "loading/vekraw.h"

#include <benchmark/benchmark.h>
#include <libraw/libraw.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

void Put16(QByteArray& b, std::uint16_t v) {
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}
void Put32(QByteArray& b, std::uint32_t v) {
    Put16(b, std::uint16_t(v & 0xFFFF));
    Put16(b, std::uint16_t(v >> 16));
}

// An uncompressed 16-bit RGGB DNG of width x height with a smooth gradient.
QByteArray MakeDng(int width, int height) {
    struct TTag {
        std::uint16_t Tag, Type;
        std::uint32_t Count, Value;
    };
    const std::uint32_t imageBytes = std::uint32_t(width) * std::uint32_t(height) * 2;
    // Extra data: ColorMatrix1 (72 bytes), AsShotNeutral (24 bytes), model name (8 bytes).
    const TTag tags[] = {
        {254, 4, 1, 0},
        {256, 4, 1, std::uint32_t(width)},
        {257, 4, 1, std::uint32_t(height)},
        {258, 3, 1, 16},
        {259, 3, 1, 1},
        {262, 3, 1, 32803},
        {273, 4, 1, 0},
        {277, 3, 1, 1},
        {278, 4, 1, std::uint32_t(height)},
        {279, 4, 1, imageBytes},
        {33421, 3, 2, 2 | (2u << 16)},
        {33422, 1, 4, 0x02010100},
        {50706, 1, 4, 0x00000401},
        {50708, 2, 8, 0},
        {50717, 4, 1, 65535},
        {50721, 10, 9, 0},
        {50728, 5, 3, 0},
        {50778, 3, 1, 21},
    };
    const std::uint32_t n = sizeof(tags) / sizeof(tags[0]);
    const std::uint32_t extraAt = 8 + 2 + 12 * n + 4;
    const std::uint32_t matrixAt = extraAt, neutralAt = extraAt + 72, modelAt = extraAt + 96;
    const std::uint32_t imageAt = extraAt + 104;
    QByteArray out("II*\0", 4);
    Put32(out, 8);
    Put16(out, std::uint16_t(n));
    for (const TTag& t : tags) {
        std::uint32_t v = t.Value;
        if (t.Tag == 273) v = imageAt;
        if (t.Tag == 50708) v = modelAt;
        if (t.Tag == 50721) v = matrixAt;
        if (t.Tag == 50728) v = neutralAt;
        Put16(out, t.Tag);
        Put16(out, t.Type);
        Put32(out, t.Count);
        Put32(out, v);
    }
    Put32(out, 0);
    const int matrix[9] = {32406, -15372, -4986, -9689, 18758, 415, 557, -2040, 10570};
    for (int m : matrix) {
        Put32(out, std::uint32_t(m));
        Put32(out, 10000);
    }
    for (std::uint32_t v : {5000u, 10000u, 8000u}) {
        Put32(out, v);
        Put32(out, 10000);
    }
    out.append("Bench\0\0\0", 8);
    out.reserve(out.size() + int(imageBytes));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            Put16(out, std::uint16_t(500 + (x * 40000) / width + (y * 20000) / height +
                                     ((x & 1) ^ (y & 1)) * 1000));
    return out;
}

struct TFixture {
    TFixture() {
        path = dir.path() + "/bench24mp.dng";
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(MakeDng(6000, 4000)) < 0) std::abort();
    }
    QTemporaryDir dir;
    QString path;
};

TFixture& Fixture() {
    static TFixture f;
    return f;
}

void BM_LoadRawImageHalfSize(benchmark::State& state) {
    const QString path = Fixture().path;
    TVekImageSettings settings;
    settings.HalfSize = true;
    for (auto _ : state) {
        TBitmap32 bmp;
        if (LoadRawImage(path, bmp, settings) != kRawLoaded) state.SkipWithError("not loaded");
        benchmark::DoNotOptimize(bmp.Bits());
    }
}
BENCHMARK(BM_LoadRawImageHalfSize)->Unit(benchmark::kMillisecond)->UseRealTime();

// The decoding part of the above alone (vekraw with our parameters), to tell the
// library's share from the development's.
void BM_VekrawDecodeHalfSize(benchmark::State& state) {
    const QByteArray path = QFile::encodeName(Fixture().path);
    for (auto _ : state) {
        vekraw_handle h = vekraw_init();
        vekraw_set_halfsize(h, 1);
        vekraw_load(h, path.constData());
        if (!vekraw_get_is_raw(h)) state.SkipWithError("not decoded");
        int32_t w = 0, hgt = 0;
        const float* a = nullptr;
        const float* b = nullptr;
        benchmark::DoNotOptimize(vekraw_get_image(h, &w, &hgt, &a, &b));
        vekraw_finalize(h);
    }
}
BENCHMARK(BM_VekrawDecodeHalfSize)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LibRawOwnHalfSize(benchmark::State& state) {
    const QByteArray path = QFile::encodeName(Fixture().path);
    for (auto _ : state) {
        auto raw = std::make_unique<LibRaw>();
        raw->imgdata.params.half_size = 1;
        if (raw->open_file(path.constData()) != LIBRAW_SUCCESS || raw->unpack() != LIBRAW_SUCCESS ||
            raw->dcraw_process() != LIBRAW_SUCCESS) {
            state.SkipWithError("libraw failed");
            break;
        }
        int err = 0;
        libraw_processed_image_t* img = raw->dcraw_make_mem_image(&err);
        benchmark::DoNotOptimize(img);
        // dcraw_make_mem_image allocates with malloc; LibRaw::dcraw_clear_mem crashes
        // under AddressSanitizer in this build, so the block is freed directly.
        std::free(img);
    }
}
BENCHMARK(BM_LibRawOwnHalfSize)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

// Both paths run five times in a shuffled order, so a slow spell of the machine does
// not fall on one side only; options given on the command line replace these.
int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    static char repetitions[] = "--benchmark_repetitions=5";
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    static char aggregates[] = "--benchmark_report_aggregates_only=true";
    if (argc == 1) args.insert(args.end(), {repetitions, interleave, aggregates});
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
