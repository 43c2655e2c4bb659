// The loader against the decoders under it, measured in the same run: a 24-megapixel
// JPEG (libjpeg-turbo's tjDecompress2 to BGRA is the floor, FreeImage_Load +
// FreeImage_ConvertTo32Bits the old path), 24-megapixel and 3840 x 2160 PNGs (libpng's
// png_read_image into a preallocated BGRA buffer is the floor, FreeImage_Load and the
// loader's conversion to 32 bits the old path; the PNG decoder alone, and the loader
// with and without showing the picture while it decodes), a 5-page TIFF (against
// FreeImage), peak resident memory above the idle footprint while loading, and how
// long the last of three quick requests during a 24-megapixel load takes. The loader
// runs each case in-process and through its sandboxed decoder helper (the Isolated cases), and
// once with a helper that has to start first (ColdHelper, as at the program's start).
//
//   bench_loader [google benchmark flags]
#include "gfx/ViewerZoom.h"
#include "loading/ColourManagement.h"
#include "loading/DecoderPool.h"
#include "loading/FreeImagePtr.h"
#include "loading/FreeImageSetup.h"
#include "loading/ImageConversion.h"
#include "loading/ImageLoadJob.h"
#include "loading/JpegDecoder.h"
#include "loading/PngDecoder.h"
#include "loading/VekImageLoaderPro.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <csetjmp>

#include <lcms2.h>
#include <png.h>
#include <turbojpeg.h>

namespace {

QString g_folder;
QString Jpeg(int i) {
    return g_folder + QString("/photo%1.jpg").arg(i);
}
QString Photo() {
    return Jpeg(0);
}
// The photo with an embedded Display P3 profile, and with an sRGB one.
QString PhotoP3() {
    return g_folder + "/photo-p3.jpg";
}
QString PhotoSrgb() {
    return g_folder + "/photo-srgb.jpg";
}
QString Png() {
    return g_folder + "/uhd.png";
}
QString Png24() {
    return g_folder + "/photo.png";
}
QString Tiff() {
    return g_folder + "/pages.tif";
}

// A photo-like picture: smooth shapes plus grain, so the codecs work as on a photo.
TFreeImagePtr MakePhoto(int w, int h) {
    TFreeImagePtr dib(FreeImage_Allocate(w, h, 24));
    std::minstd_rand rng(7);
    for (int y = 0; y < h; ++y) {
        BYTE* p = FreeImage_GetScanLine(dib.get(), y);
        for (int x = 0; x < w; ++x, p += 3) {
            const int grain = int(rng() % 17) - 8;
            const auto clamp = [](int v) { return BYTE(v < 0 ? 0 : v > 255 ? 255 : v); };
            p[FI_RGBA_RED] = clamp((x * 255) / w + grain);
            p[FI_RGBA_GREEN] = clamp(128 + int(100.0 * std::sin(x * 0.003 + y * 0.002)) + grain);
            p[FI_RGBA_BLUE] = clamp((y * 255) / h - grain);
        }
    }
    return dib;
}

QByteArray ProfileBytes(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

QByteArray DisplayP3() {
    cmsCIExyY white{0.3127, 0.3290, 1};
    const cmsCIExyYTRIPLE p3{{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
    // The sRGB tone curve.
    const double parameters[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, parameters);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const QByteArray bytes = ProfileBytes(cmsCreateRGBProfile(&white, &p3, curves));
    cmsFreeToneCurve(curve);
    return bytes;
}

void SaveTagged(FIBITMAP* photo, const QString& file, const QByteArray& profile) {
    const TFreeImagePtr copy(FreeImage_Clone(photo));
    FreeImage_CreateICCProfile(copy.get(), const_cast<char*>(profile.constData()),
                               long(profile.size()));
    FreeImage_Save(FIF_JPEG, copy.get(), QFile::encodeName(file).constData(),
                   JPEG_SUBSAMPLING_420 | 90);
}

void MakeFiles() {
    const TFreeImagePtr photo = MakePhoto(6000, 4000);
    FreeImage_Save(FIF_JPEG, photo.get(), QFile::encodeName(Photo()).constData(),
                   JPEG_SUBSAMPLING_420 | 90);
    SaveTagged(photo.get(), PhotoP3(), DisplayP3());
    SaveTagged(photo.get(), PhotoSrgb(), ProfileBytes(cmsCreate_sRGBProfile()));
    for (int i = 1; i <= 4; ++i) QFile::copy(Photo(), Jpeg(i));
    const TFreeImagePtr uhd(FreeImage_Rescale(photo.get(), 3840, 2160, FILTER_BOX));
    FreeImage_Save(FIF_PNG, uhd.get(), QFile::encodeName(Png()).constData(), PNG_DEFAULT);
    FreeImage_Save(FIF_PNG, photo.get(), QFile::encodeName(Png24()).constData(), PNG_DEFAULT);
    FIMULTIBITMAP* multi =
        FreeImage_OpenMultiBitmap(FIF_TIFF, QFile::encodeName(Tiff()).constData(), TRUE, FALSE);
    const TFreeImagePtr page(FreeImage_Rescale(photo.get(), 2000, 1500, FILTER_BOX));
    for (int i = 0; i < 5; ++i) FreeImage_AppendPage(multi, page.get());
    FreeImage_CloseMultiBitmap(multi, 0);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// Waits in the event loop (deliveries arrive there) until `done`; sleeps while no
// event comes, so the waiting thread does not take a core from the worker.
template <class F>
void PumpUntil(F done) {
    while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Open -> OnSucces through the loader.
double LoadMs(TVekImageLoaderPro& loader, const QString& file) {
    bool done = false;
    loader.OnSucces = [&](TVekImageLoaderPro&) { done = true; };
    loader.OnError = [&](TVekImageLoaderPro&) {
        std::fprintf(stderr, "load failed: %s\n", qPrintable(file));
        std::exit(1);
    };
    const auto t0 = std::chrono::steady_clock::now();
    loader.Open(file);
    PumpUntil([&] { return done; });
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Where the loader decodes: in-process (no helper program), or in the decoder helper.
void DecodeIn(bool helper) {
    TDecoderPool::Instance().SetProgram(helper ? PICTREL_DECODER_PATH : "");
}

void BM_Loader(benchmark::State& state, QString (*file)()) {
    DecodeIn(false);
    TVekImageLoaderPro loader;
    for (auto _ : state) state.SetIterationTime(LoadMs(loader, file()) / 1000.0);
}

void BM_LoaderIsolated(benchmark::State& state, QString (*file)()) {
    DecodeIn(true);
    TVekImageLoaderPro loader;
    for (auto _ : state) state.SetIterationTime(LoadMs(loader, file()) / 1000.0);
    DecodeIn(false);
}

// A load whose helper starts with it, as the first picture's does.
void BM_LoaderColdHelper(benchmark::State& state, QString (*file)()) {
    TVekImageLoaderPro loader;
    for (auto _ : state) {
        state.PauseTiming();
        DecodeIn(true); // the waiting helpers go
        state.ResumeTiming();
        state.SetIterationTime(LoadMs(loader, file()) / 1000.0);
    }
    DecodeIn(false);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The same load in-process and in the decoder helper, alternating, so that both meet the
// same load on a shared machine: medians and their ratio (helper / in-process).
void BM_HelperOverInProcess(benchmark::State& state, QString (*file)()) {
    std::vector<double> local, helper;
    for (auto _ : state) {
        for (const bool inHelper : {false, true}) {
            DecodeIn(inHelper);
            TVekImageLoaderPro loader;
            LoadMs(loader, file()); // the helper warm, the file cached
            (inHelper ? helper : local).push_back(LoadMs(loader, file()));
        }
    }
    DecodeIn(false);
    state.counters["InProcessMs"] = Median(local);
    state.counters["HelperMs"] = Median(helper);
    state.counters["Ratio"] = Median(helper) / Median(local);
}

// The conversion alone, of a 24-megapixel picture from Display P3 to sRGB.
void BM_ConvertP3(benchmark::State& state) {
    TBitmap32 picture;
    picture.SetSize(6000, 4000);
    for (int y = 0; y < 4000; ++y)
        for (int x = 0; x < 6000; ++x) picture.ScanLine(y)[x] = 0xFF000000u | TColor32(x * 7 + y);
    const QByteArray profile = DisplayP3();
    for (auto _ : state) {
        ConvertToDisplayColours(picture, profile, QByteArray());
        benchmark::DoNotOptimize(picture.ScanLine(0));
    }
}

void BM_FreeImage(benchmark::State& state, QString (*file)()) {
    const QByteArray name = QFile::encodeName(file());
    for (auto _ : state) {
        const FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(name.constData(), 0);
        const TFreeImagePtr dib(FreeImage_Load(fif, name.constData(), 0));
        const TFreeImagePtr c(FreeImage_ConvertTo32Bits(dib.get()));
        benchmark::DoNotOptimize(FreeImage_GetBits(c.get()));
    }
}

// The loader's old path for a PNG: FreeImage's load, then its conversion to 32 bits.
void BM_FreeImageLoaderConversion(benchmark::State& state, QString (*file)()) {
    const QByteArray name = QFile::encodeName(file());
    TBitmap32 target;
    for (auto _ : state) {
        const TFreeImagePtr dib(FreeImage_Load(FIF_PNG, name.constData(), 0));
        if (!ConvertTo32Bits(dib.get(), target, 0, 0)) state.SkipWithError("no picture");
        benchmark::DoNotOptimize(target.Bits());
    }
}

// libpng's own decode of the whole picture into a preallocated BGRA buffer.
// libpng's own read of `name` as BGRA into `out` (sized on first use, reused after). Only
// plain pointers live in the frame that libpng may jump back to.
bool ReadPngBgra(const char* name, std::vector<unsigned char>& out, std::vector<png_bytep>& rows) {
    std::FILE* f = std::fopen(name, "rb");
    if (f == nullptr) return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info);
    const png_uint_32 h = png_get_image_height(png, info);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    if (out.size() != std::size_t(w) * h * 4) {
        // Allocated and touched once, outside the timing's steady state.
        out.assign(std::size_t(w) * h * 4, 0);
        rows.resize(h);
        for (png_uint_32 y = 0; y < h; ++y) rows[y] = out.data() + std::size_t(y) * w * 4;
    }
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return true;
}

void BM_LibpngReadImage(benchmark::State& state, QString (*file)()) {
    const QByteArray name = QFile::encodeName(file());
    std::vector<unsigned char> out;
    std::vector<png_bytep> rows;
    for (auto _ : state) {
        if (!ReadPngBgra(name.constData(), out, rows)) {
            state.SkipWithError("libpng failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
}

// The PNG decoder alone, into a bitmap it reuses.
void BM_DecodePngPixels(benchmark::State& state, QString (*file)()) {
    const QByteArray name = QFile::encodeName(file());
    TBitmap32 target;
    const std::atomic<bool> stop{false};
    for (auto _ : state) {
        if (DecodePngPixels(name, target, stop) != TPngDecodeResult::Decoded)
            state.SkipWithError("not decoded");
        benchmark::DoNotOptimize(target.Bits());
    }
}

// One load on this thread as the viewer's first picture asks for it (fitted into a
// 1920 x 1080 window by Prepare), with or without being shown while it decodes.
void BM_RunImageLoad(benchmark::State& state, QString (*file)(), bool shownWhileDecoding) {
    TImageLoadRequest request;
    request.FileName = file();
    request.Prepare = MakeFitPreparation(1920, 1080, 0, 0);
    int looks = 0;
    if (shownWhileDecoding) {
        request.Quick.Width = 1920;
        request.Quick.Height = 1080;
        request.Quick.Ready = [&looks](TDrawnPicture&&) { ++looks; };
    }
    const std::atomic<bool> stop{false};
    int loads = 0;
    for (auto _ : state) {
        TImageLoadResult result;
        RunImageLoad(request, stop, result);
        if (result.Status != TImageLoaderProStatus::ilSucces) state.SkipWithError("load failed");
        ++loads;
    }
    state.counters["LooksPerLoad"] = loads > 0 ? double(looks) / loads : 0;
}

void BM_TjDecompress2(benchmark::State& state, int flags) {
    const QByteArray file = ReadAll(Photo());
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, ss = 0, cs = 0;
    tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(file.constData()), file.size(),
                        &w, &h, &ss, &cs);
    std::vector<unsigned char> out(std::size_t(w) * h * 4);
    for (auto _ : state) {
        // Reading the file belongs to the work the loader does too.
        const QByteArray data = ReadAll(Photo());
        tjDecompress2(tj, reinterpret_cast<const unsigned char*>(data.constData()), data.size(),
                      out.data(), w, 0, h, TJPF_BGRA, flags);
        benchmark::DoNotOptimize(out.data());
    }
    tjDestroy(tj);
}

// The quick look's decode: a quarter or an eighth of the size, scaled in the transform, against
// tjDecompress2 at a quarter (file reading included in both).
void BM_QuickLookReduced(benchmark::State& state) {
    const QByteArray path = QFile::encodeName(Photo());
    const std::atomic<bool> stop{false};
    for (auto _ : state) {
        TBitmap32 small;
        if (DecodeJpegPixels(path, small, stop, 1, int(state.range(0))) !=
            TJpegDecodeResult::Decoded)
            state.SkipWithError("not decoded");
        benchmark::DoNotOptimize(small.Bits());
    }
}

void BM_TjQuarter(benchmark::State& state) {
    tjhandle tj = tjInitDecompress();
    std::vector<unsigned char> out(std::size_t(1500) * 1000 * 4);
    for (auto _ : state) {
        const QByteArray data = ReadAll(Photo());
        tjDecompress2(tj, reinterpret_cast<const unsigned char*>(data.constData()), data.size(),
                      out.data(), 1500, 0, 1000, TJPF_BGRA, TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE);
        benchmark::DoNotOptimize(out.data());
    }
    tjDestroy(tj);
}

// The last of three quick requests during a 24-megapixel load, from its Open to its
// OnSucces.
void BM_ThirdOfThreeQuickOpens(benchmark::State& state, bool helper) {
    DecodeIn(helper);
    TVekImageLoaderPro loader;
    for (auto _ : state) {
        int succes = 0;
        loader.OnSucces = [&](TVekImageLoaderPro&) { ++succes; };
        loader.Open(Jpeg(1));
        // Let the first load get going, as when a key is held down.
        QThread::msleep(30);
        loader.Open(Jpeg(2));
        loader.Open(Jpeg(3));
        const auto t0 = std::chrono::steady_clock::now();
        loader.Open(Jpeg(4));
        PumpUntil([&] { return succes > 0; });
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        if (loader.FileName() != Jpeg(4) || succes != 1) state.SkipWithError("wrong delivery");
    }
    DecodeIn(false);
}

long StatusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
    return -1;
}

// Peak resident memory during one load above what the process held before it, in
// megabytes of 10^6 bytes; the kernel's high-water mark is reset first (clear_refs 5).
void BM_PeakMemory(benchmark::State& state, QString (*file)(), double bitmapMb, bool helper) {
    DecodeIn(helper);
    double peakMb = 0;
    for (auto _ : state) {
        malloc_trim(0);
        { std::ofstream("/proc/self/clear_refs") << "5"; }
        const long idle = StatusKb("VmRSS:");
        {
            TVekImageLoaderPro loader;
            LoadMs(loader, file());
            const long peak = StatusKb("VmHWM:");
            peakMb = double(peak - idle) * 1024.0 / 1e6;
        }
    }
    state.counters["PeakAboveIdleMB"] = peakMb;
    state.counters["BitmapMB"] = bitmapMb;
    state.counters["Ratio"] = peakMb / bitmapMb;
    DecodeIn(false);
}

} // namespace

int main(int argc, char** argv) {
    // Big buffers straight from and back to the kernel, so freed memory leaves the
    // resident set and the peak of each load is measured from a true idle level.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    QCoreApplication app(argc, argv);
    EnsureFreeImage();
    QTemporaryDir dir(QDir::tempPath() + "/bench_loader-XXXXXX");
    g_folder = dir.path();
    MakeFiles();

    // Loader runs time themselves (from Open to the delivery on this thread).
    const auto ms = [](benchmark::internal::Benchmark* b, bool manual = false) {
        b->Unit(benchmark::kMillisecond)->MinTime(2.0);
        if (manual)
            b->UseManualTime();
        else
            b->UseRealTime();
    };
    ms(benchmark::RegisterBenchmark("Jpeg24MP/TjDecompress2_FastDct", BM_TjDecompress2,
                                    TJFLAG_FASTDCT));
    // The same decoder settings as FreeImage's default load, which the loader keeps.
    ms(benchmark::RegisterBenchmark("Jpeg24MP/TjDecompress2_FastDctFastUpsample", BM_TjDecompress2,
                                    TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE));
    ms(benchmark::RegisterBenchmark("Jpeg24MP/TjDecompress2_Quarter", BM_TjQuarter));
    ms(benchmark::RegisterBenchmark("Jpeg24MP/QuickLookReduced", BM_QuickLookReduced)
           ->Arg(4)
           ->Arg(8));
    ms(benchmark::RegisterBenchmark("Jpeg24MP/FreeImage_LoadConvert32", BM_FreeImage, Photo));
    benchmark::RegisterBenchmark("Jpeg24MP/HelperOverInProcess", BM_HelperOverInProcess, Photo)
        ->Iterations(15)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Png3840x2160/HelperOverInProcess", BM_HelperOverInProcess, Png)
        ->Iterations(15)
        ->Unit(benchmark::kMillisecond);
    ms(benchmark::RegisterBenchmark("Jpeg24MP/Loader", BM_Loader, Photo), true);
    ms(benchmark::RegisterBenchmark("Jpeg24MP/LoaderIsolated", BM_LoaderIsolated, Photo), true);
    ms(benchmark::RegisterBenchmark("Jpeg24MP/LoaderColdHelper", BM_LoaderColdHelper, Photo), true);
    // Colour management: the same photo tagged sRGB (nothing to convert) and Display P3.
    ms(benchmark::RegisterBenchmark("Jpeg24MP/LoaderSrgbTagged", BM_Loader, PhotoSrgb), true);
    ms(benchmark::RegisterBenchmark("Jpeg24MP/LoaderDisplayP3", BM_Loader, PhotoP3), true);
    ms(benchmark::RegisterBenchmark("Convert24MP/DisplayP3ToSrgb", BM_ConvertP3));
    ms(benchmark::RegisterBenchmark("Png3840x2160/FreeImage_LoadConvert32", BM_FreeImage, Png));
    ms(benchmark::RegisterBenchmark("Png3840x2160/Loader", BM_Loader, Png), true);
    ms(benchmark::RegisterBenchmark("Png3840x2160/LoaderIsolated", BM_LoaderIsolated, Png), true);
    for (const auto& [name, file] :
         {std::pair{"Png24MP", &Png24}, std::pair{"Png3840x2160", &Png}}) {
        const std::string n = name;
        ms(benchmark::RegisterBenchmark((n + "/LibpngReadImageBgra").c_str(), BM_LibpngReadImage,
                                        file));
        ms(benchmark::RegisterBenchmark((n + "/FreeImage_LoadLoaderConversion").c_str(),
                                        BM_FreeImageLoaderConversion, file));
        ms(benchmark::RegisterBenchmark((n + "/DecodePngPixels").c_str(), BM_DecodePngPixels,
                                        file));
        ms(benchmark::RegisterBenchmark((n + "/RunImageLoadFitted").c_str(), BM_RunImageLoad, file,
                                        false));
        ms(benchmark::RegisterBenchmark((n + "/RunImageLoadFittedShownWhileDecoding").c_str(),
                                        BM_RunImageLoad, file, true));
    }
    ms(benchmark::RegisterBenchmark("Png24MP/Loader", BM_Loader, Png24), true);
    ms(benchmark::RegisterBenchmark("Tiff5Pages/FreeImage_LoadConvert32", BM_FreeImage, Tiff));
    ms(benchmark::RegisterBenchmark("Tiff5Pages/Loader", BM_Loader, Tiff), true);
    ms(benchmark::RegisterBenchmark("Jpeg24MP/ThirdOfThreeQuickOpens", BM_ThirdOfThreeQuickOpens,
                                    false),
       true);
    ms(benchmark::RegisterBenchmark("Jpeg24MP/ThirdOfThreeQuickOpensIsolated",
                                    BM_ThirdOfThreeQuickOpens, true),
       true);
    for (const bool helper : {false, true}) {
        benchmark::RegisterBenchmark(helper ? "Jpeg24MP/PeakMemoryIsolated" : "Jpeg24MP/PeakMemory",
                                     BM_PeakMemory, Photo, 6000.0 * 4000 * 4 / 1e6, helper)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(helper ? "Png3840x2160/PeakMemoryIsolated"
                                            : "Png3840x2160/PeakMemory",
                                     BM_PeakMemory, Png, 3840.0 * 2160 * 4 / 1e6, helper)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(helper ? "Png24MP/PeakMemoryIsolated" : "Png24MP/PeakMemory",
                                     BM_PeakMemory, Png24, 6000.0 * 4000 * 4 / 1e6, helper)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
