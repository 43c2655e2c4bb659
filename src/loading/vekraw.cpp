#include "loading/vekraw.h"

#include "loading/ImageLimits.h"

#include <libraw/libraw.h>
#include <malloc.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace {

// The largest raw data LibRaw may allocate, in megabytes.
constexpr unsigned kMaxRawMemoryMb = 2048;

// Bytes of LibRaw's processed picture: four 16-bit samples a pixel.
constexpr std::uint64_t kSampleBytesPerPixel = 4 * sizeof(std::uint16_t);

// The size of the picture dcraw_process will leave, told before anything is decoded:
// LibRaw's own prediction of its output (which includes the Fuji rotation and the
// stretch of non-square pixels), halved for a half-size decode of a mosaic sensor.
struct TPredictedSize {
    std::uint64_t Width = 0;
    std::uint64_t Height = 0;
};
TPredictedSize PredictedSize(const LibRaw& raw, bool halfSize) {
    int width = 0, height = 0, colors = 0, bps = 0;
    raw.get_mem_image_format(&width, &height, &colors, &bps);
    if (width <= 0 || height <= 0) return {};
    TPredictedSize size{std::uint64_t(width), std::uint64_t(height)};
    if (halfSize && raw.imgdata.idata.filters != 0) {
        size.Width = (size.Width + 1) / 2;
        size.Height = (size.Height + 1) / 2;
    }
    return size;
}

// The sensor data unpack reads, in 16-bit samples: one a photosite for a mosaic, up to
// four for a sensor (or a linear DNG) that has every colour at each site.
std::uint64_t RawSamples(const LibRaw& raw) {
    const libraw_image_sizes_t& s = raw.imgdata.sizes;
    const std::uint64_t perSite = raw.imgdata.idata.filters != 0 ? 1 : 4;
    return std::uint64_t(s.raw_width) * std::uint64_t(s.raw_height) * perSite;
}

void CopyMultipliers(const float* source, std::array<float, 4>& target) {
    std::copy(source, source + 4, target.begin());
    // Three-colour cameras leave the second green empty: it is the green.
    if (target[3] == 0.0f) target[3] = target[1];
}

} // namespace

struct vekraw_context {
    std::unique_ptr<LibRaw> Raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    bool HalfSize = false;
    int Interpolation = 0;
    bool IsRaw = false;
    int Flip = 0;
    int Width = 0;
    int Height = 0;
    // R, G, B, G2 per pixel: the decoder's own image, completed in place, so the
    // picture is never copied inside the library; valid until Clear.
    std::uint16_t* Samples = nullptr;
    std::array<float, 4> AsShot{};
    std::array<float, 4> Daylight{};

    void Clear() {
        IsRaw = false;
        Width = Height = 0;
        Samples = nullptr;
        Raw->recycle();
    }

    bool Decode(const char* fileName);
};

bool vekraw_context::Decode(const char* fileName) {
    libraw_output_params_t& p = Raw->imgdata.params;
    p.half_size = HalfSize ? 1 : 0;
    // At half size every pixel has both greens of its cell: asking for four colours keeps
    // them apart (the program averages them after its curves) instead of mixing them
    // here and copying the mix back. At full size it would force another interpolation.
    p.four_color_rgb = HalfSize ? 1 : 0;
    p.user_qual = Interpolation;
    // A linear image in the camera's own colours, scaled from black to white but not
    // white-balanced: the program applies the multipliers and curves itself.
    p.use_camera_wb = 0;
    p.use_auto_wb = 0;
    std::fill(std::begin(p.user_mul), std::end(p.user_mul), 1.0f);
    p.output_color = 0;
    p.output_bps = 16;
    p.gamm[0] = 1.0;
    p.gamm[1] = 1.0;
    p.no_auto_bright = 1;
    p.adjust_maximum_thr = 0.0f;
    p.highlight = 0;
    // The picture is delivered unrotated; the orientation is only reported.
    p.user_flip = 0;
    p.max_raw_memory_mb = kMaxRawMemoryMb;

    if (Raw->open_file(fileName) != LIBRAW_SUCCESS) return false;
    const libraw_image_sizes_t& s = Raw->imgdata.sizes;
    if (s.raw_width == 0 || s.raw_height == 0 || s.width == 0 || s.height == 0) return false;
    // The loader's memory rule, before the sensor data is read.
    const TPredictedSize predicted = PredictedSize(*Raw, HalfSize);
    if (predicted.Width == 0 ||
        !WithinRawImageLimit(RawSamples(*Raw), predicted.Width, predicted.Height))
        return false;
    Flip = s.flip;
    CopyMultipliers(Raw->imgdata.color.cam_mul, AsShot);
    CopyMultipliers(Raw->imgdata.color.pre_mul, Daylight);

    if (Raw->unpack() != LIBRAW_SUCCESS) return false;
    if (Raw->dcraw_process() != LIBRAW_SUCCESS) return false;

    // The processed picture is sizes.width x sizes.height pixels, rows sizes.width apart:
    // LibRaw's own output copy reads it so. iwidth x iheight only tell the size unpack
    // allocated; the Fuji rotation and the stretch of non-square pixels replace the
    // picture by one of another size and update width and height alone, so a file that
    // claims such a layout would have a loop over iwidth x iheight run off the buffer.
    const auto& img = Raw->imgdata;
    const int w = img.sizes.width;
    const int h = img.sizes.height;
    const int colors = img.idata.colors;
    if (w <= 0 || h <= 0 || img.image == nullptr || (colors != 1 && colors != 3 && colors != 4))
        return false;
    // LibRaw allocates the picture with malloc, calloc or realloc (its memory manager adds
    // a margin), so the allocator tells how much is really there; a picture it does not
    // hold whole is refused rather than read past.
    if (!BufferHoldsPixels(malloc_usable_size(img.image), std::uint64_t(w), std::uint64_t(h),
                           kSampleBytesPerPixel))
        return false;
    // The stretch may have made the picture larger than predicted.
    if (!WithinRawImageLimit(0, std::uint64_t(w), std::uint64_t(h))) return false;

    // LibRaw keeps four samples a pixel already; only the ones it leaves empty are filled.
    const std::size_t count = std::size_t(w) * std::size_t(h);
    auto* pixels = img.image;
    if (colors == 1) {
        for (std::size_t i = 0; i < count; ++i)
            pixels[i][1] = pixels[i][2] = pixels[i][3] = pixels[i][0];
    } else if (colors == 3) {
        // An interpolated three-colour picture: the second green is the green.
        for (std::size_t i = 0; i < count; ++i) pixels[i][3] = pixels[i][1];
    }
    static_assert(sizeof(*pixels) == 4 * sizeof(std::uint16_t));
    Samples = &pixels[0][0];
    Width = w;
    Height = h;
    return true;
}

extern "C" {

vekraw_handle vekraw_init(void) {
    try {
        return std::make_unique<vekraw_context>().release();
    } catch (...) {
        return nullptr;
    }
}

void vekraw_set_halfsize(vekraw_handle handle, int32_t flag) {
    if (handle) handle->HalfSize = flag != 0;
}

void vekraw_set_interpolation(vekraw_handle handle, int32_t mode) {
    if (handle) handle->Interpolation = mode;
}

void vekraw_load(vekraw_handle handle, const char* fileName) {
    if (!handle) return;
    handle->Clear();
    if (!fileName) return;
    try {
        handle->IsRaw = handle->Decode(fileName);
    } catch (...) {
        handle->IsRaw = false;
    }
    if (!handle->IsRaw) handle->Clear();
}

uint8_t vekraw_get_is_raw(vekraw_handle handle) {
    return handle && handle->IsRaw ? 1 : 0;
}

const uint16_t* vekraw_get_image(vekraw_handle handle, int32_t* width, int32_t* height,
                                 const float** asShot, const float** daylight) {
    const bool have = handle && handle->IsRaw;
    if (width) *width = have ? handle->Width : 0;
    if (height) *height = have ? handle->Height : 0;
    if (asShot) *asShot = have ? handle->AsShot.data() : nullptr;
    if (daylight) *daylight = have ? handle->Daylight.data() : nullptr;
    return have ? handle->Samples : nullptr;
}

int32_t vekraw_get_flip(vekraw_handle handle) {
    return handle ? handle->Flip : 0;
}

void vekraw_unload(vekraw_handle handle) {
    if (handle) handle->Clear();
}

void vekraw_render_external(vekraw_handle /*handle*/, uint16_t* /*buffer*/) {}

void vekraw_finalize(vekraw_handle handle) {
    const std::unique_ptr<vekraw_context> owner(handle);
}

} // extern "C"
