// Decoding 12-megapixel HEIC, AVIF and JPEG XL pictures to 32-bit pixels through the
// loader's decoder (DecodeModernPicture) against each library's own decode call on the
// same file in the same run, in alternation (see Pair: the machine may be shared):
//   HEIF/AVIF  heif_decode_image into interleaved RGBA (context read from memory, as ours);
//   JPEG XL    JxlDecoder with its thread pool, RGBA8 into a buffer allocated once (and,
//              to show what a new bitmap's pages cost, into a new bitmap).
// A 10-bit PQ HEIC is also decoded (ours: tone-mapped to 8 bits; the library's: its
// 16-bit RRGGBB words), and the whole loader (file read to delivered bitmap) is timed
// for each file. The files are written by the encoders at start.
//
//   bench_modern [google benchmark flags]
#include "gfx/Bitmap32.h"
#include "loading/ModernFormats.h"
#include "loading/VekImageLoaderPro.h"

#include <benchmark/benchmark.h>
#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/encode.h>
#include <jxl/encode_cxx.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>
#include <libheif/heif.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <utility>
#include <vector>

namespace {

constexpr int kWidth = 4000, kHeight = 3000;

struct TFile {
    QByteArray Bytes;
    QString Path;
};
TFile g_heic, g_avif, g_jxl, g_heicPq;

// A photo-like picture: smooth gradients and shapes with a little grain, `bits` deep.
std::vector<std::uint16_t> MakePicture(int bits) {
    std::vector<std::uint16_t> rgb(std::size_t(kWidth) * kHeight * 3);
    const int max = (1 << bits) - 1;
    std::uint32_t seed = 12345;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const double grain = double(seed >> 24) / 255.0 - 0.5;
            const double base[3] = {0.5 + 0.4 * std::sin(x * 0.003) * std::cos(y * 0.002),
                                    0.5 + 0.4 * std::sin((x + y) * 0.0015),
                                    0.3 + 0.3 * std::cos(std::hypot(x - 2000, y - 1500) * 0.004)};
            for (int c = 0; c < 3; ++c) {
                const double v = std::clamp(base[c] + 0.03 * grain, 0.0, 1.0);
                rgb[(std::size_t(y) * kWidth + std::size_t(x)) * 3 + std::size_t(c)] =
                    std::uint16_t(std::lround(v * max));
            }
        }
    return rgb;
}

QByteArray EncodeHeif(heif_compression_format format, const std::vector<std::uint16_t>& rgb,
                      int bits, int transfer) {
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, format, &encoder);
    if (encoder == nullptr) {
        heif_context_free(context);
        return {};
    }
    heif_encoder_set_lossy_quality(encoder, 80);
    // Fast settings: the encoding is set-up, not what is measured.
    heif_encoder_set_parameter_string(encoder, "preset", "ultrafast");
    heif_encoder_set_parameter_integer(encoder, "speed", 9);
    heif_image* image = nullptr;
    heif_image_create(kWidth, kHeight, heif_colorspace_RGB,
                      bits > 8 ? heif_chroma_interleaved_RRGGBB_LE : heif_chroma_interleaved_RGB,
                      &image);
    heif_image_add_plane(image, heif_channel_interleaved, kWidth, kHeight, bits);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < kHeight; ++y)
        for (int i = 0; i < kWidth * 3; ++i) {
            const std::uint16_t v = rgb[std::size_t(y) * kWidth * 3 + std::size_t(i)];
            if (bits > 8) {
                plane[std::size_t(y) * std::size_t(stride) + 2 * std::size_t(i)] =
                    std::uint8_t(v & 0xFF);
                plane[std::size_t(y) * std::size_t(stride) + 2 * std::size_t(i) + 1] =
                    std::uint8_t(v >> 8);
            } else {
                plane[std::size_t(y) * std::size_t(stride) + std::size_t(i)] = std::uint8_t(v);
            }
        }
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    heif_nclx_color_profile_set_color_primaries(nclx, transfer == 16 ? 9 : 1);
    heif_nclx_color_profile_set_transfer_characteristics(nclx, std::uint16_t(transfer));
    heif_nclx_color_profile_set_matrix_coefficients(nclx, transfer == 16 ? 9 : 6);
    nclx->full_range_flag = 1;
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->output_nclx_profile = nclx;
    options->macOS_compatibility_workaround_no_nclx_profile = 0;
    const heif_error error = heif_context_encode_image(context, image, encoder, options, nullptr);
    heif_encoding_options_free(options);
    heif_nclx_color_profile_free(nclx);
    heif_image_release(image);
    heif_encoder_release(encoder);
    QByteArray bytes;
    if (error.code == heif_error_Ok) {
        heif_writer writer{};
        writer.writer_api_version = 1;
        writer.write = [](heif_context*, const void* data, size_t size, void* out) {
            static_cast<QByteArray*>(out)->append(static_cast<const char*>(data), qsizetype(size));
            return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
        };
        heif_context_write(context, &writer, &bytes);
    }
    heif_context_free(context);
    return bytes;
}

QByteArray EncodeJxl(const std::vector<std::uint16_t>& rgb) {
    JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
    JxlThreadParallelRunnerPtr runner =
        JxlThreadParallelRunnerMake(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
    JxlEncoderSetParallelRunner(encoder.get(), JxlThreadParallelRunner, runner.get());
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = kWidth;
    info.ysize = kHeight;
    info.bits_per_sample = 8;
    JxlEncoderSetBasicInfo(encoder.get(), &info);
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
    JxlEncoderSetColorEncoding(encoder.get(), &colour);
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr);
    JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, 3);
    JxlEncoderSetFrameDistance(settings, 1.0f);
    std::vector<std::uint8_t> bytes(rgb.begin(), rgb.end());
    const JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    if (JxlEncoderAddImageFrame(settings, &format, bytes.data(), bytes.size()) != JXL_ENC_SUCCESS)
        return {};
    JxlEncoderCloseInput(encoder.get());
    std::vector<std::uint8_t> out(1 << 20);
    std::uint8_t* next = out.data();
    std::size_t left = out.size();
    for (;;) {
        const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder.get(), &next, &left);
        if (status == JXL_ENC_SUCCESS) break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT) return {};
        const std::size_t used = std::size_t(next - out.data());
        out.resize(out.size() * 2);
        next = out.data() + used;
        left = out.size() - used;
    }
    return QByteArray(reinterpret_cast<const char*>(out.data()), qsizetype(next - out.data()));
}

bool DecodeOurs(const TFile& file, TModernFormat format) {
    const std::atomic<bool> stop{false};
    TBitmap32 bitmap;
    try {
        const TModernPicture picture =
            DecodeModernPicture(format, file.Bytes, 0, TModernDecodeOptions(), stop, bitmap);
        benchmark::DoNotOptimize(picture.PageCount);
    } catch (const std::exception&) {
        return false;
    }
    benchmark::DoNotOptimize(bitmap.ScanLine(kHeight - 1)[kWidth - 1]);
    return true;
}

bool DecodeLibHeif(const TFile& file, heif_chroma chroma) {
    heif_init(nullptr);
    heif_context* context = heif_context_alloc();
    heif_context_read_from_memory_without_copy(context, file.Bytes.constData(),
                                               std::size_t(file.Bytes.size()), nullptr);
    heif_image_handle* handle = nullptr;
    heif_context_get_primary_image_handle(context, &handle);
    heif_image* image = nullptr;
    const heif_error error =
        heif_decode_image(handle, &image, heif_colorspace_RGB, chroma, nullptr);
    int stride = 0;
    if (error.code == heif_error_Ok)
        benchmark::DoNotOptimize(
            heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride));
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(context);
    return error.code == heif_error_Ok;
}

// The library's decode into a buffer allocated once, as an application that reuses it,
// or into a new bitmap as the loader needs (whose fresh pages the kernel must fault in).
bool DecodeLibJxl(const TFile& file, bool intoANewBitmap) {
    static std::vector<std::uint8_t> reused(std::size_t(kWidth) * kHeight * 4);
    TBitmap32 bitmap;
    if (intoANewBitmap) bitmap.SetSize(kWidth, kHeight);
    std::uint8_t* pixels =
        intoANewBitmap ? reinterpret_cast<std::uint8_t*>(bitmap.Bits()) : reused.data();
    JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    JxlThreadParallelRunnerPtr runner =
        JxlThreadParallelRunnerMake(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
    JxlDecoder* d = decoder.get();
    JxlDecoderSetParallelRunner(d, JxlThreadParallelRunner, runner.get());
    JxlDecoderSubscribeEvents(d, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE);
    JxlDecoderSetInput(d, reinterpret_cast<const std::uint8_t*>(file.Bytes.constData()),
                       std::size_t(file.Bytes.size()));
    JxlDecoderCloseInput(d);
    const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    for (;;) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(d);
        if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER)
            JxlDecoderSetImageOutBuffer(d, &format, pixels, reused.size());
        else if (status == JXL_DEC_FULL_IMAGE || status == JXL_DEC_SUCCESS)
            break;
        else if (status != JXL_DEC_BASIC_INFO)
            return false;
    }
    benchmark::DoNotOptimize(pixels);
    return true;
}

double ProcessCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Ours and the library's decode of the same file, one after the other in each iteration
// (the order alternating), so both see the same load on a shared machine. The counters
// give each side's fastest and median wall time, its processor time (all threads), and
// the ratios; the iteration time is the pair's.
void Pair(benchmark::State& state, const TFile* file, const std::function<bool()>& ours,
          const std::function<bool()>& library) {
    if (file->Bytes.isEmpty()) {
        state.SkipWithError("no encoder for this format here");
        return;
    }
    using Clock = std::chrono::steady_clock;
    std::vector<double> oursMs, libraryMs;
    double cpuMs[2] = {0, 0};
    bool oursFirst = true;
    for (auto _ : state) {
        double took[2] = {0, 0};
        for (int side : {oursFirst ? 0 : 1, oursFirst ? 1 : 0}) {
            const auto start = Clock::now();
            const double cpuStart = ProcessCpuMs();
            if (!(side == 0 ? ours() : library())) state.SkipWithError("decode failed");
            cpuMs[side] += ProcessCpuMs() - cpuStart;
            took[side] = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        }
        oursMs.push_back(took[0]);
        libraryMs.push_back(took[1]);
        oursFirst = !oursFirst;
    }
    // The processor time of all the process's threads: what the other programs on the
    // machine do not change.
    state.counters["ours_cpu_ms"] = cpuMs[0] / double(oursMs.size());
    state.counters["lib_cpu_ms"] = cpuMs[1] / double(libraryMs.size());
    state.counters["ratio_cpu"] = cpuMs[0] / cpuMs[1];
    const double oursMin = *std::min_element(oursMs.begin(), oursMs.end());
    const double libraryMin = *std::min_element(libraryMs.begin(), libraryMs.end());
    state.counters["ours_min_ms"] = oursMin;
    state.counters["lib_min_ms"] = libraryMin;
    state.counters["ours_median_ms"] = Median(oursMs);
    state.counters["lib_median_ms"] = Median(libraryMs);
    state.counters["ratio_min"] = oursMin / libraryMin;
    state.counters["ratio_median"] = Median(oursMs) / Median(libraryMs);
}

// The whole loader: the file read, the decode, colour management, the opacity scan.
void Loader(benchmark::State& state, const TFile* file) {
    if (file->Bytes.isEmpty()) {
        state.SkipWithError("no encoder for this format here");
        return;
    }
    TVekImageLoaderPro loader;
    for (auto _ : state) {
        bool done = false;
        loader.OnSucces = [&](TVekImageLoaderPro&) { done = true; };
        loader.OnError = [&](TVekImageLoaderPro&) { done = true; };
        loader.Open(file->Path);
        const QDeadlineTimer deadline(60000);
        // Asleep while no event comes, so the waiting thread takes no core from the decoder.
        while (!done && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (loader.Status() != TImageLoaderProStatus::ilSucces) state.SkipWithError("not loaded");
    }
}

void Save(TFile& file, const QString& path) {
    file.Path = path;
    QFile out(path);
    if (out.open(QIODevice::WriteOnly)) out.write(file.Bytes);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QDir::tempPath() + "/bench_modern-XXXXXX");
    {
        const std::vector<std::uint16_t> picture = MakePicture(8);
        g_heic.Bytes = EncodeHeif(heif_compression_HEVC, picture, 8, 13);
        g_avif.Bytes = EncodeHeif(heif_compression_AV1, picture, 8, 13);
        g_jxl.Bytes = EncodeJxl(picture);
        g_heicPq.Bytes = EncodeHeif(heif_compression_HEVC, MakePicture(10), 10, 16);
    }
    Save(g_heic, dir.filePath("a.heic"));
    Save(g_avif, dir.filePath("a.avif"));
    Save(g_jxl, dir.filePath("a.jxl"));
    Save(g_heicPq, dir.filePath("pq.heic"));
    std::printf(
        "files: HEIC %lld, AVIF %lld, JPEG XL %lld, PQ HEIC %lld bytes\n",
        static_cast<long long>(g_heic.Bytes.size()), static_cast<long long>(g_avif.Bytes.size()),
        static_cast<long long>(g_jxl.Bytes.size()), static_cast<long long>(g_heicPq.Bytes.size()));
    const auto pair = [](const char* name, const TFile* file, std::function<bool()> ours,
                         std::function<bool()> library) {
        benchmark::RegisterBenchmark(name,
                                     [=](benchmark::State& s) { Pair(s, file, ours, library); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(12);
    };
    pair(
        "Heic12MP/OursVsLibrary", &g_heic, [] { return DecodeOurs(g_heic, TModernFormat::mfHeif); },
        [] { return DecodeLibHeif(g_heic, heif_chroma_interleaved_RGBA); });
    pair(
        "Avif12MP/OursVsLibrary", &g_avif, [] { return DecodeOurs(g_avif, TModernFormat::mfAvif); },
        [] { return DecodeLibHeif(g_avif, heif_chroma_interleaved_RGBA); });
    pair(
        "Jxl12MP/OursVsLibrary", &g_jxl, [] { return DecodeOurs(g_jxl, TModernFormat::mfJxl); },
        [] { return DecodeLibJxl(g_jxl, false); });
    pair(
        "Jxl12MP/OursVsLibraryIntoANewBitmap", &g_jxl,
        [] { return DecodeOurs(g_jxl, TModernFormat::mfJxl); },
        [] { return DecodeLibJxl(g_jxl, true); });
    pair(
        "HeicPq10bit12MP/OursToneMappedVsLibraryRRGGBB", &g_heicPq,
        [] { return DecodeOurs(g_heicPq, TModernFormat::mfHeif); },
        [] { return DecodeLibHeif(g_heicPq, heif_chroma_interleaved_RRGGBB_LE); });
    for (const auto& [name, file] :
         {std::pair{"Heic12MP/Loader", &g_heic}, std::pair{"Avif12MP/Loader", &g_avif},
          std::pair{"Jxl12MP/Loader", &g_jxl}})
        benchmark::RegisterBenchmark(name, [file = file](benchmark::State& s) { Loader(s, file); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(6);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
