#include "loading/PngDecoder.h"

#include "gfx/Bitmap32.h"
#include "loading/ImageConversion.h"
#include "loading/ImageLimits.h"
#include "loading/PngRowPipeline.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include <png.h>

namespace {

// Rows decoded between two reports to the caller (each report also looks at the stop
// request, which is cheap, so it is looked at every row).
constexpr int kRowsPerReport = 16;

// How libpng's rows reach the target.
enum class TRowLayout : std::uint8_t {
    Direct,  // 32-bit BGRA, written in place
    Palette, // one index a byte (unpacked), through the palette and its transparency
    Grey,    // one grey level a byte, through a grey palette and a transparency table
    Grey16   // little-endian 16-bit grey, of which FreeImage keeps the high byte
};

struct TPngError {
    // Set when libpng gave up on the file (it then jumps back to the decode's start).
    const char* message = nullptr;
};

void ErrorFn(png_structp png, png_const_charp message) {
    auto* error = static_cast<TPngError*>(png_get_error_ptr(png));
    if (error != nullptr) error->message = message;
    png_longjmp(png, 1);
}

// FreeImage's reader shows no warnings either (a damaged ancillary chunk is skipped).
void WarningFn(png_structp, png_const_charp) {}

// What the rows are turned into: FreeImage's conversion of its 1-, 4- or 8-bit
// picture to 32 bits, as a table of the 256 possible bytes.
struct TRowMap {
    TRowLayout Layout = TRowLayout::Direct;
    TColor32 Colours[256] = {};
};

void ConvertRow(const TRowMap& map, const png_byte* src, TColor32* dst, int width) {
    switch (map.Layout) {
    case TRowLayout::Direct:
        break;
    case TRowLayout::Palette:
    case TRowLayout::Grey:
        for (int x = 0; x < width; ++x) dst[x] = map.Colours[src[x]];
        break;
    case TRowLayout::Grey16:
        for (int x = 0; x < width; ++x) dst[x] = map.Colours[src[2 * x + 1]];
        break;
    }
}

TColor32 Argb(unsigned a, unsigned r, unsigned g, unsigned b) {
    return (TColor32(a) << 24) | (TColor32(r) << 16) | (TColor32(g) << 8) | TColor32(b);
}

// Asks libpng for the rows FreeImage's reader asks for (the same transformations, so the
// same pixels, gamma included), plus what puts them into 32 bits: a filler byte for
// RGB, one byte an index for packed palettes and greys. False for what FreeImage keeps
// at 16 bits a channel, which the loader tone maps.
bool Configure(png_structp png, png_infop info, TRowMap& map, int& passes) {
    const int colourType = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    const bool transparent = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    png_bytep transAlpha = nullptr;
    int transCount = 0;
    png_color_16p transColour = nullptr;
    if (transparent) png_get_tRNS(png, info, &transAlpha, &transCount, &transColour);

    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY: {
        if (depth == 16) {
            // With a transparent shade FreeImage makes 16-bit RGBA of it.
            if (transparent) return false;
            png_set_swap(png);
            map.Layout = TRowLayout::Grey16;
            for (unsigned v = 0; v < 256; ++v) map.Colours[v] = Argb(255, v, v, v);
            break;
        }
        // FreeImage widens 2-bit greys, and any grey with a transparent shade, to 8 bits
        // (levels scaled); 1- and 4-bit ones keep their levels under a grey palette.
        const bool widened = depth == 2 || (transparent && depth < 8);
        if (widened)
            png_set_expand_gray_1_2_4_to_8(png);
        else if (depth < 8)
            png_set_packing(png);
        const unsigned levels = widened ? 256 : 1u << depth;
        // FreeImage's table is indexed by the widened level but made from the shade as
        // the file gives it, and only for shades below 256.
        int transparentLevel = -1;
        if (transparent && transColour != nullptr && transColour->gray < 256)
            transparentLevel = transColour->gray;
        map.Layout = TRowLayout::Grey;
        for (unsigned v = 0; v < 256; ++v) {
            const unsigned level = v < levels ? (v * 255) / (levels - 1) : 0;
            map.Colours[v] = Argb(int(v) == transparentLevel ? 0 : 255, level, level, level);
        }
        break;
    }
    case PNG_COLOR_TYPE_RGB:
        if (depth != 8) return false;
        png_set_bgr(png);
        if (transparent)
            png_set_tRNS_to_alpha(png);
        else
            png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        map.Layout = TRowLayout::Direct;
        break;
    case PNG_COLOR_TYPE_PALETTE:
        if (depth < 8) png_set_packing(png);
        map.Layout = TRowLayout::Palette;
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        if (depth != 8) return false;
        png_set_gray_to_rgb(png);
        map.Layout = TRowLayout::Direct;
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        if (depth != 8) return false;
        png_set_bgr(png);
        map.Layout = TRowLayout::Direct;
        break;
    default:
        return false;
    }
    if (png_get_valid(png, info, PNG_INFO_gAMA) != 0) {
        double gamma = 0;
        if (png_get_gAMA(png, info, &gamma) != 0) png_set_gamma(png, 2.2, gamma);
    }
    // libpng puts an interlaced picture's passes together for row-by-row reading.
    passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    if (map.Layout == TRowLayout::Palette) {
        // Read after the update: libpng corrects the palette's gamma in place.
        png_colorp palette = nullptr;
        int entries = 0;
        png_get_PLTE(png, info, &palette, &entries);
        if (palette == nullptr) entries = 0;
        if (entries > 256) entries = 256;
        if (transAlpha == nullptr) transCount = 0;
        for (int i = 0; i < 256; ++i) {
            const unsigned alpha = i < transCount ? transAlpha[i] : 255;
            map.Colours[i] = i < entries
                                 ? Argb(alpha, palette[i].red, palette[i].green, palette[i].blue)
                                 : Argb(alpha, 0, 0, 0);
        }
    }
    return true;
}

void CollectChunks(png_structp png, png_infop info, TPngChunks& chunks) {
    chunks.Texts.clear();
    png_textp texts = nullptr;
    int count = 0;
    if (png_get_text(png, info, &texts, &count) > 0 && texts != nullptr) {
        for (int i = 0; i < count; ++i) {
            TPngText text;
            text.Key = QByteArray(texts[i].key != nullptr ? texts[i].key : "");
            text.Length = std::uint32_t(std::max(texts[i].text_length, texts[i].itxt_length));
            if (texts[i].text != nullptr)
                text.Text = QByteArray(texts[i].text, qsizetype(std::strlen(texts[i].text)));
            // FreeImage copies that many bytes of the text.
            if (text.Text.size() < qsizetype(text.Length))
                text.Text.append(QByteArray(qsizetype(text.Length) - text.Text.size(), '\0'));
            chunks.Texts.push_back(std::move(text));
        }
    }
    png_timep time = nullptr;
    chunks.Time.reset();
    if (png_get_tIME(png, info, &time) != 0 && time != nullptr) {
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%4d:%02d:%02d %2d:%02d:%02d", time->year, time->month,
                      time->day, time->hour, time->minute, time->second);
        chunks.Time = QByteArray(stamp);
    }
}

// What a decode works with besides libpng's own state, owned by the caller so that a
// jump out of libpng leaves nothing to destroy.
struct TDecodeState {
    const QByteArray* Path = nullptr;
    std::FILE* File = nullptr;
    TBitmap32* Target = nullptr;
    const std::atomic<bool>* Stop = nullptr;
    TPngChunks* Chunks = nullptr;
    const TPngRowsReady* RowsReady = nullptr;
    TRowMap Map;
    // One row of libpng's own layout, or the whole picture of an interlaced one.
    std::unique_ptr<png_byte[]> Rows;
    bool Stopped = false;
    bool TooLarge = false;
};

void Report(TDecodeState& s, int first, int count, bool coarse) {
    if (!*s.RowsReady || count <= 0) return;
    try {
        (*s.RowsReady)(*s.Target, first, count, coarse);
    } catch (...) {
        // Only a look at the picture on its way: the decode goes on.
    }
}

bool ReadPixels(png_structp png, png_infop info, TDecodeState& s) {
    const auto width = png_get_image_width(png, info);
    const auto height = png_get_image_height(png, info);
    if (!WithinImageLimit(width, height)) {
        s.TooLarge = true;
        return false;
    }
    int passes = 1;
    if (!Configure(png, info, s.Map, passes)) return false;
    // FreeImage's reader lets the image data's minor faults (such as data after the
    // picture's end) pass as warnings.
    png_set_benign_errors(png, 1);
    // Read after the update: the rows' size as transformed.
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    const bool direct = s.Map.Layout == TRowLayout::Direct;
    if (direct && rowBytes != std::size_t(width) * 4) return false;
    try {
        PrepareTarget(*s.Target, int(width), int(height));
        if (!direct) s.Rows.reset(new png_byte[rowBytes * (passes > 1 ? std::size_t(height) : 1)]);
    } catch (const std::bad_alloc&) {
        s.TooLarge = true;
        return false;
    }
    TBitmap32& target = *s.Target;
    const int w = int(width);
    const int h = int(height);
    for (int pass = 0; pass < passes; ++pass) {
        int reported = 0;
        for (int y = 0; y < h; ++y) {
            if (s.Stop->load(std::memory_order_relaxed)) {
                s.Stopped = true;
                return false;
            }
            png_bytep row = direct ? reinterpret_cast<png_bytep>(target.ScanLine(y))
                                   : s.Rows.get() + (passes > 1 ? std::size_t(y) * rowBytes : 0);
            if (passes > 1) {
                // The "rectangle" reading: each pixel of a pass also stands in for the
                // ones later passes bring, which overwrite it, so the passes show as
                // ever finer pictures.
                png_read_row(png, nullptr, row);
            } else {
                png_read_row(png, row, nullptr);
            }
            if (!direct) ConvertRow(s.Map, row, target.ScanLine(y), w);
            if (passes == 1 && (y + 1 - reported >= kRowsPerReport || y + 1 == h)) {
                Report(s, reported, y + 1 - reported, false);
                reported = y + 1;
            }
        }
        if (passes > 1 && pass + 1 < passes) Report(s, 0, h, true);
    }
    if (s.Stop->load(std::memory_order_relaxed)) {
        s.Stopped = true;
        return false;
    }
    png_read_end(png, info);
    return true;
}

TPngDecodeResult Decode(TDecodeState& s) {
    TPngError error;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, ErrorFn, WarningFn);
    if (png == nullptr) return TPngDecodeResult::Refused;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return TPngDecodeResult::Refused;
    }
    // Only trivially destructible objects live in this frame (the state is the
    // caller's), so leaving it by longjmp skips no destructor.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        s.Target->SetSize(0, 0);
        return TPngDecodeResult::Refused;
    }
    png_init_io(png, s.File);
    // libpng meets the zlib stream's own checksum only after the picture's last row,
    // where a mismatch is a benign error, which FreeImage's reader lets pass: not
    // computing it saves a sum over every decoded byte. The chunks' CRCs still count.
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_read_info(png, info);
    // The common photo (8-bit RGB or RGBA rows, nothing that changes the pixels) goes
    // through two threads; what that path does not take is read here.
    if (png_get_bit_depth(png, info) == 8 &&
        (png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB ||
         png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB_ALPHA) &&
        png_get_interlace_type(png, info) == PNG_INTERLACE_NONE &&
        png_get_valid(png, info, PNG_INFO_tRNS | PNG_INFO_gAMA) == 0) {
        switch (DecodePngRowsInTwoThreads(*s.Path, *s.Target, *s.Stop, *s.RowsReady)) {
        case TPngPipelineResult::Decoded:
            // Nothing but IEND follows the picture's data: the chunks are all read.
            if (s.Chunks != nullptr) CollectChunks(png, info, *s.Chunks);
            png_destroy_read_struct(&png, &info, nullptr);
            return TPngDecodeResult::Decoded;
        case TPngPipelineResult::Stopped:
            png_destroy_read_struct(&png, &info, nullptr);
            return TPngDecodeResult::Stopped;
        case TPngPipelineResult::TooLarge:
            png_destroy_read_struct(&png, &info, nullptr);
            s.Target->SetSize(0, 0);
            return TPngDecodeResult::TooLarge;
        case TPngPipelineResult::NotTaken:
            break;
        }
    }
    const bool read = ReadPixels(png, info, s);
    if (read && s.Chunks != nullptr) CollectChunks(png, info, *s.Chunks);
    png_destroy_read_struct(&png, &info, nullptr);
    if (s.Stopped) return TPngDecodeResult::Stopped;
    if (read) return TPngDecodeResult::Decoded;
    s.Target->SetSize(0, 0);
    return s.TooLarge ? TPngDecodeResult::TooLarge : TPngDecodeResult::Refused;
}

struct TCloseFile {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

} // namespace

TPngDecodeResult DecodePngPixels(const QByteArray& encodedPath, TBitmap32& target,
                                 const std::atomic<bool>& stop, TPngChunks* chunks,
                                 const TPngRowsReady& rowsReady) {
    const std::unique_ptr<std::FILE, TCloseFile> file(std::fopen(encodedPath.constData(), "rb"));
    if (!file) return TPngDecodeResult::Refused;
    TDecodeState state;
    state.Path = &encodedPath;
    state.File = file.get();
    state.Target = &target;
    state.Stop = &stop;
    state.Chunks = chunks;
    state.RowsReady = &rowsReady;
    const TPngDecodeResult result = Decode(state);
    if (result == TPngDecodeResult::Decoded) target.Changed();
    return result;
}
