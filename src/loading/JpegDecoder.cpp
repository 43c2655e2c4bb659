#include "loading/JpegDecoder.h"

#include "gfx/Bitmap32.h"
#include "gfx/Orientation.h"
#include "gfx/RowFollower.h"
#include "loading/ImageConversion.h"
#include "loading/ImageLimits.h"

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>

#include <jpeglib.h>
// jpeglib.h must come first.
#include <jerror.h>

namespace {

// Rows decoded between two looks at the stop request.
constexpr JDIMENSION kRowsPerStep = 16;
// A progressive file with more scans than this is hostile: each scan makes the decoder
// pass over the whole coefficient buffer again.
constexpr int kMaxScans = 1000;

struct TJpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    // Written between setjmp and longjmp and read after it: volatile, so the value
    // read is the one in memory, not a stale register copy.
    volatile bool stopped;
    const std::atomic<bool>* stop;
};

struct TJpegProgress {
    jpeg_progress_mgr pub;
    TJpegError* error;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->jump, 1);
}

// Warnings (damaged data, a file that ends early) are not errors: the decoder goes on
// and fills what is missing, as FreeImage's load does.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}

void ProgressMonitor(j_common_ptr cinfo) {
    TJpegError* error = reinterpret_cast<TJpegProgress*>(cinfo->progress)->error;
    if (error->stop->load(std::memory_order_relaxed)) {
        error->stopped = true;
        std::longjmp(error->jump, 1);
    }
    if (!cinfo->is_decompressor) return;
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
        std::longjmp(error->jump, 1);
}

// Only trivially destructible objects live in this frame, so leaving it by longjmp
// skips no destructor. A turned picture is decoded a few rows at a time into `strip`
// and put into the target from there.
TJpegDecodeResult Decode(std::FILE* file, TBitmap32& target, TBitmap32& strip, int orientation,
                         int scaleDenom, const std::atomic<bool>& stop, const TJpegRowWork& rowWork,
                         TRowFollower* follower) {
    jpeg_decompress_struct cinfo;
    TJpegError error{};
    TJpegProgress progress{};
    cinfo.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = ErrorExit;
    error.pub.emit_message = EmitMessage;
    error.pub.output_message = OutputMessage;
    error.stop = &stop;
    progress.pub.progress_monitor = ProgressMonitor;
    progress.error = &error;

    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&cinfo);
        // The follower lets go of the target before it is emptied or left for reuse.
        if (follower != nullptr) follower->Abandon();
        if (error.stopped) return TJpegDecodeResult::Stopped;
        target.SetSize(0, 0);
        return TJpegDecodeResult::Refused;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress.pub;
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    const J_COLOR_SPACE space = cinfo.jpeg_color_space;
    if (space != JCS_YCbCr && space != JCS_GRAYSCALE && space != JCS_RGB) {
        jpeg_destroy_decompress(&cinfo);
        return TJpegDecodeResult::Refused;
    }
    if (!WithinImageLimit(cinfo.image_width, cinfo.image_height)) {
        jpeg_destroy_decompress(&cinfo);
        return TJpegDecodeResult::TooLarge;
    }
    // FreeImage's default load: fast DCT and no fancy upsampling.
    cinfo.out_color_space = JCS_EXT_BGRA;
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    // Scaled in the transform itself: an eighth of the size costs a fraction of the work.
    cinfo.scale_num = 1;
    cinfo.scale_denom = unsigned(scaleDenom);
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 4) ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));

    const int width = int(cinfo.output_width);
    const int height = int(cinfo.output_height);
    const bool turned = IsExifOrientation(orientation) && orientation != kExifOrientationNone;
    const bool swaps = ExifOrientationSwapsSides(orientation);
    bool allocated = false;
    try {
        PrepareTarget(target, swaps ? height : width, swaps ? width : height);
        if (turned) PrepareTarget(strip, width, int(kRowsPerStep));
        allocated = true;
    } catch (const std::bad_alloc&) {
        allocated = false;
    }
    if (!allocated) {
        jpeg_destroy_decompress(&cinfo);
        return TJpegDecodeResult::TooLarge;
    }
    TColor32* const bits = turned ? strip.Bits() : target.Bits();
    JSAMPROW rows[kRowsPerStep];
    while (cinfo.output_scanline < cinfo.output_height) {
        if (stop.load(std::memory_order_relaxed)) {
            error.stopped = true;
            ErrorExit(reinterpret_cast<j_common_ptr>(&cinfo));
        }
        const JDIMENSION first = cinfo.output_scanline;
        JDIMENSION count = cinfo.output_height - first;
        if (count > kRowsPerStep) count = kRowsPerStep;
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = reinterpret_cast<JSAMPROW>(bits + std::size_t(turned ? i : first + i) *
                                                            std::size_t(width));
        // The decoder hands out a row group at a time; a strip is filled before it is put
        // into the target, so that each turned row gets whole cache lines.
        JDIMENSION filled = 0;
        while (filled < count) {
            const JDIMENSION got = jpeg_read_scanlines(&cinfo, rows + filled, count - filled);
            if (got == 0) break;
            filled += got;
        }
        if (turned && filled > 0 && rowWork) rowWork(strip, 0, int(filled));
        if (!turned && follower != nullptr) follower->Ready(int(first + filled));
        if (turned && filled > 0)
            PutOrientedRows(strip.Bits(), int(first), int(filled), width, height, orientation,
                            target);
        if (filled < count) break;
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    // Rows a file that ended early did not give are worked as they are.
    if (!turned && follower != nullptr) follower->Finish(height);
    return TJpegDecodeResult::Decoded;
}

struct TCloseFile {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

} // namespace

TJpegDecodeResult DecodeJpegPixels(const QByteArray& encodedPath, TBitmap32& target,
                                   const std::atomic<bool>& stop, int orientation, int scaleDenom,
                                   const TJpegRowWork& rowWork) {
    if (scaleDenom != 2 && scaleDenom != 4 && scaleDenom != 8) scaleDenom = 1;
    const std::unique_ptr<std::FILE, TCloseFile> file(std::fopen(encodedPath.constData(), "rb"));
    if (!file) return TJpegDecodeResult::Refused;
    TBitmap32 strip;
    std::optional<TRowFollower> follower;
    // A turned picture's rows are worked in the strip, on this thread.
    const bool turned = IsExifOrientation(orientation) && orientation != kExifOrientationNone;
    if (rowWork && !turned)
        follower.emplace([&](int first, int last) { rowWork(target, first, last); });
    const TJpegDecodeResult result = Decode(file.get(), target, strip, orientation, scaleDenom,
                                            stop, rowWork, follower ? &*follower : nullptr);
    if (follower) follower->Abandon();
    return result;
}
