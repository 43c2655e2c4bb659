#include "loading/ModernFormats.h"

#include "gfx/Bitmap32.h"
#include "loading/ImageLimits.h"

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>
#include <libheif/heif.h>

#include <QFile>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Refuse(const std::string& reason) {
    throw std::runtime_error(reason);
}

void CheckSize(std::uint64_t width, std::uint64_t height) {
    if (width == 0 || height == 0) Refuse("picture without size");
    if (!WithinImageLimit(width, height)) Refuse("picture too large");
}

void CheckStop(const std::atomic<bool>& stop) {
    if (stop.load()) Refuse("stopped");
}

// Interleaved 8-bit RGBA rows into the bitmap's BGRA.
void CopyRgba(const std::uint8_t* rows, std::size_t stride, int width, int height,
              TBitmap32& target) {
    target.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = rows + std::size_t(y) * stride;
        TColor32* out = target.ScanLine(y);
        for (int x = 0; x < width; ++x, in += 4)
            out[x] = TColor32(in[3]) << 24 | TColor32(in[0]) << 16 | TColor32(in[1]) << 8 | in[2];
    }
}

// An Exif block as the formats store it (a 4-byte offset to the TIFF header, then the
// header), as a JPEG's APP1 carries it: "Exif\0\0" and the TIFF header on.
QByteArray JpegExif(const QByteArray& block) {
    if (block.size() < 12) return {};
    const auto at = [&](int i) { return std::uint32_t(std::uint8_t(block[i])); };
    const std::uint64_t offset = at(0) << 24 | at(1) << 16 | at(2) << 8 | at(3);
    if (offset > std::uint64_t(block.size()) - 8) return {};
    const QByteArray tiff = block.mid(4 + qsizetype(offset));
    if (!tiff.startsWith(QByteArray("II*\0", 4)) && !tiff.startsWith(QByteArray("MM\0*", 4)))
        return {};
    return QByteArray("Exif\0\0", 6) + tiff;
}

// ---- HEIF and AVIF ---------------------------------------------------------------------

struct THeifFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
    void operator()(heif_image* i) const { heif_image_release(i); }
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
template <class T>
using THeifPtr = std::unique_ptr<T, THeifFree>;

void Check(const heif_error& error) {
    if (error.code == heif_error_Memory_allocation_error) throw std::bad_alloc();
    if (error.code != heif_error_Ok)
        Refuse(error.message != nullptr && *error.message != '\0' ? error.message
                                                                  : "not a readable HEIF file");
}

void InitHeif() {
    // Loads the decoder plugins once; safe from any thread after that.
    static const bool done = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)done;
}

// The top-level pictures, the primary one first.
std::vector<heif_item_id> HeifPages(heif_context* context) {
    const int count = heif_context_get_number_of_top_level_images(context);
    if (count <= 0) Refuse("no picture in the file");
    std::vector<heif_item_id> ids(std::size_t(count), 0);
    heif_context_get_list_of_top_level_image_IDs(context, ids.data(), count);
    heif_item_id primary = 0;
    if (heif_context_get_primary_image_ID(context, &primary).code == heif_error_Ok) {
        const auto at = std::find(ids.begin(), ids.end(), primary);
        if (at != ids.end()) std::rotate(ids.begin(), at, at + 1);
    }
    return ids;
}

void ReadHeifMetadata(const heif_image_handle* handle, TModernPicture& picture) {
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    if (count <= 0) return;
    std::vector<heif_item_id> ids(std::size_t(count), 0);
    heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), count);
    for (heif_item_id id : ids) {
        const std::string type = heif_image_handle_get_metadata_type(handle, id);
        const char* content = heif_image_handle_get_metadata_content_type(handle, id);
        const bool exif = type == "Exif";
        const bool xmp = type == "mime" && content != nullptr &&
                         std::strcmp(content, "application/rdf+xml") == 0;
        if (!exif && !xmp) continue;
        const std::size_t size = heif_image_handle_get_metadata_size(handle, id);
        // Larger blocks than a JPEG segment holds are left out of the information.
        if (size == 0 || size > 65000) continue;
        QByteArray block(qsizetype(size), '\0');
        if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok)
            continue;
        if (exif)
            picture.Exif = JpegExif(block);
        else
            picture.Xmp = block;
    }
}

TModernPicture DecodeHeif(TModernFormat format, const QByteArray& data, int page, bool asStored,
                          const std::atomic<bool>& stop, TBitmap32& target) {
    InitHeif();
    TModernPicture picture;
    picture.FormatName = format == TModernFormat::mfAvif ? QStringLiteral("AVIF image format")
                                                         : QStringLiteral("HEIF image format");
    THeifPtr<heif_context> context(heif_context_alloc());
    if (!context) throw std::bad_alloc();
    Check(heif_context_read_from_memory_without_copy(context.get(), data.constData(),
                                                     std::size_t(data.size()), nullptr));
    const std::vector<heif_item_id> pages = HeifPages(context.get());
    picture.PageCount = int(pages.size());
    if (page < 0 || page >= picture.PageCount) Refuse("no such page");
    heif_image_handle* raw = nullptr;
    Check(heif_context_get_image_handle(context.get(), pages[std::size_t(page)], &raw));
    THeifPtr<heif_image_handle> handle(raw);
    CheckSize(std::uint64_t(std::max(heif_image_handle_get_width(handle.get()), 0)),
              std::uint64_t(std::max(heif_image_handle_get_height(handle.get()), 0)));
    picture.HasAlpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    const int bits = heif_image_handle_get_luma_bits_per_pixel(handle.get());
    picture.BitsPerPixel = std::max(bits, 8) * (picture.HasAlpha ? 4 : 3);
    ReadHeifMetadata(handle.get(), picture);
    const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(handle.get());
    if (profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) {
        const std::size_t size = heif_image_handle_get_raw_color_profile_size(handle.get());
        if (size > 0 && size <= std::size_t(4) << 20) {
            QByteArray icc(qsizetype(size), '\0');
            if (heif_image_handle_get_raw_color_profile(handle.get(), icc.data()).code ==
                heif_error_Ok)
                picture.IccProfile = icc;
        }
    }
    CheckStop(stop);

    THeifPtr<heif_decoding_options> options(heif_decoding_options_alloc());
    if (!options) throw std::bad_alloc();
    options->ignore_transformations = asStored ? 1 : 0;
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    Check(heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB,
                            heif_chroma_interleaved_RGBA, options.get()));
    THeifPtr<heif_image> image(decoded);
    CheckStop(stop);
    int stride = 0;
    const std::uint8_t* rows =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    if (rows == nullptr || width <= 0 || height <= 0 || stride < width * 4)
        Refuse("the picture could not be decoded");
    CheckSize(std::uint64_t(width), std::uint64_t(height));
    CopyRgba(rows, std::size_t(stride), width, height, target);
    return picture;
}

// ---- JPEG XL --------------------------------------------------------------------------

void CheckJxl(JxlDecoderStatus status) {
    if (status != JXL_DEC_SUCCESS) Refuse("not a readable JPEG XL file");
}

// A metadata box being read: its kind and what arrived so far.
struct TJxlBox {
    QByteArray* Target = nullptr;
    std::vector<std::uint8_t> Bytes;
    std::size_t Filled = 0;
};

void GrowBox(JxlDecoder* decoder, TJxlBox& box) {
    const std::size_t left = JxlDecoderReleaseBoxBuffer(decoder);
    box.Filled = box.Bytes.size() - left;
    if (box.Bytes.size() >= 1u << 20) Refuse("metadata box too large");
    box.Bytes.resize(std::max<std::size_t>(box.Bytes.size() * 2, 4096));
    CheckJxl(JxlDecoderSetBoxBuffer(decoder, box.Bytes.data() + box.Filled,
                                    box.Bytes.size() - box.Filled));
}

void EndBox(JxlDecoder* decoder, TJxlBox& box, TModernPicture& picture) {
    if (box.Target == nullptr) return;
    const std::size_t left = JxlDecoderReleaseBoxBuffer(decoder);
    const QByteArray bytes(reinterpret_cast<const char*>(box.Bytes.data()),
                           qsizetype(box.Bytes.size() - left));
    if (box.Target == &picture.Exif)
        picture.Exif = JpegExif(bytes);
    else if (bytes.size() <= 65000)
        picture.Xmp = bytes;
    box = TJxlBox();
}

// The profile of the pixels the decoder gives; empty for sRGB (nothing to convert).
QByteArray JxlPixelProfile(const JxlDecoder* d) {
    JxlColorEncoding encoding{};
    if (JxlDecoderGetColorAsEncodedProfile(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &encoding) ==
            JXL_DEC_SUCCESS &&
        encoding.color_space == JXL_COLOR_SPACE_RGB && encoding.primaries == JXL_PRIMARIES_SRGB &&
        encoding.white_point == JXL_WHITE_POINT_D65 &&
        encoding.transfer_function == JXL_TRANSFER_FUNCTION_SRGB)
        return {};
    std::size_t size = 0;
    if (JxlDecoderGetICCProfileSize(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
            JXL_DEC_SUCCESS ||
        size == 0 || size > std::size_t(4) << 20)
        return {};
    QByteArray icc(qsizetype(size), '\0');
    if (JxlDecoderGetColorAsICCProfile(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       reinterpret_cast<std::uint8_t*>(icc.data()),
                                       size) != JXL_DEC_SUCCESS)
        return {};
    return icc;
}

TModernPicture DecodeJxl(const QByteArray& data, int page, const std::atomic<bool>& stop,
                         TBitmap32& target) {
    if (page != 0) Refuse("no such page");
    TModernPicture picture;
    picture.FormatName = QStringLiteral("JPEG XL image format");
    JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    if (!decoder) throw std::bad_alloc();
    JxlDecoder* d = decoder.get();
    JxlThreadParallelRunnerPtr runner =
        JxlThreadParallelRunnerMake(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads());
    if (runner) CheckJxl(JxlDecoderSetParallelRunner(d, JxlThreadParallelRunner, runner.get()));
    CheckJxl(JxlDecoderSubscribeEvents(d, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                              JXL_DEC_BOX | JXL_DEC_FULL_IMAGE));
    // The orientation is applied as the loader's option says, like a JPEG's.
    CheckJxl(JxlDecoderSetKeepOrientation(d, JXL_TRUE));
    CheckJxl(JxlDecoderSetDecompressBoxes(d, JXL_TRUE));
    CheckJxl(JxlDecoderSetInput(d, reinterpret_cast<const std::uint8_t*>(data.constData()),
                                std::size_t(data.size())));
    JxlDecoderCloseInput(d);

    const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlBasicInfo info{};
    std::vector<std::uint8_t> pixels;
    TJxlBox box;
    bool haveImage = false;
    for (;;) {
        CheckStop(stop);
        const JxlDecoderStatus status = JxlDecoderProcessInput(d);
        if (status == JXL_DEC_ERROR) Refuse("not a readable JPEG XL file");
        if (status == JXL_DEC_NEED_MORE_INPUT) Refuse("the file is cut short");
        if (status == JXL_DEC_BASIC_INFO) {
            CheckJxl(JxlDecoderGetBasicInfo(d, &info));
            CheckSize(info.xsize, info.ysize);
            picture.HasAlpha = info.alpha_bits > 0;
            picture.BitsPerPixel =
                int(info.bits_per_sample) * int(info.num_color_channels) + int(info.alpha_bits);
            picture.Orientation = std::clamp(int(info.orientation), 1, 8);
        } else if (status == JXL_DEC_COLOR_ENCODING) {
            picture.IccProfile = JxlPixelProfile(d);
        } else if (status == JXL_DEC_BOX) {
            EndBox(d, box, picture);
            JxlBoxType type{};
            CheckJxl(JxlDecoderGetBoxType(d, type, JXL_TRUE));
            if (std::memcmp(type, "Exif", 4) == 0 || std::memcmp(type, "xml ", 4) == 0) {
                box.Target = type[0] == 'E' ? &picture.Exif : &picture.Xmp;
                box.Bytes.resize(4096);
                CheckJxl(JxlDecoderSetBoxBuffer(d, box.Bytes.data(), box.Bytes.size()));
            }
        } else if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT) {
            GrowBox(d, box);
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            std::size_t size = 0;
            CheckJxl(JxlDecoderImageOutBufferSize(d, &format, &size));
            if (size != std::size_t(info.xsize) * info.ysize * 4) Refuse("unexpected picture size");
            pixels.resize(size);
            CheckJxl(JxlDecoderSetImageOutBuffer(d, &format, pixels.data(), size));
        } else if (status == JXL_DEC_FULL_IMAGE) {
            // The first frame is the picture; an animation's others are not shown.
            haveImage = true;
        } else if (status == JXL_DEC_SUCCESS) {
            EndBox(d, box, picture);
            break;
        }
    }
    if (!haveImage) Refuse("the file has no picture");
    CopyRgba(pixels.data(), std::size_t(info.xsize) * 4, int(info.xsize), int(info.ysize), target);
    return picture;
}

} // namespace

bool ReadHeifThumbnail(const QString& fileName, TBitmap32& thumbnail) {
    try {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly)) return false;
        const TModernFormat format = DetectModernFormat(file.peek(64));
        if (format != TModernFormat::mfHeif && format != TModernFormat::mfAvif) return false;
        InitHeif();
        THeifPtr<heif_context> context(heif_context_alloc());
        if (!context) return false;
        const QByteArray name = QFile::encodeName(fileName);
        if (heif_context_read_from_file(context.get(), name.constData(), nullptr).code !=
            heif_error_Ok)
            return false;
        heif_image_handle* raw = nullptr;
        if (heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok)
            return false;
        THeifPtr<heif_image_handle> primary(raw);
        heif_item_id id = 0;
        if (heif_image_handle_get_list_of_thumbnail_IDs(primary.get(), &id, 1) < 1) return false;
        raw = nullptr;
        if (heif_image_handle_get_thumbnail(primary.get(), id, &raw).code != heif_error_Ok)
            return false;
        THeifPtr<heif_image_handle> handle(raw);
        const int width = heif_image_handle_get_width(handle.get());
        const int height = heif_image_handle_get_height(handle.get());
        // A thumbnail is small; a file that says otherwise is not trusted with memory.
        if (width <= 0 || height <= 0 || width > 2048 || height > 2048) return false;
        heif_image* decoded = nullptr;
        if (heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB,
                              heif_chroma_interleaved_RGBA, nullptr)
                .code != heif_error_Ok)
            return false;
        THeifPtr<heif_image> image(decoded);
        int stride = 0;
        const std::uint8_t* rows =
            heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
        const int w = heif_image_get_width(image.get(), heif_channel_interleaved);
        const int h = heif_image_get_height(image.get(), heif_channel_interleaved);
        if (rows == nullptr || w <= 0 || h <= 0 || w > 2048 || h > 2048 || stride < w * 4)
            return false;
        TBitmap32 picture;
        CopyRgba(rows, std::size_t(stride), w, h, picture);
        thumbnail.SwapPixels(picture);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

TModernFormat DetectModernFormat(const QByteArray& head) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(head.constData());
    const auto size = std::size_t(head.size());
    const JxlSignature jxl = JxlSignatureCheck(bytes, size);
    if (jxl == JXL_SIG_CODESTREAM || jxl == JXL_SIG_CONTAINER) return TModernFormat::mfJxl;
    if (size < 12 || head.mid(4, 4) != "ftyp") return TModernFormat::mfNone;
    const QByteArray brand = head.mid(8, 4);
    if (brand == "avif" || brand == "avis") return TModernFormat::mfAvif;
    for (const char* heif : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"})
        if (brand == heif) return TModernFormat::mfHeif;
    return TModernFormat::mfNone;
}

TModernPicture DecodeModernPicture(TModernFormat format, const QByteArray& data, int page,
                                   bool asStored, const std::atomic<bool>& stop,
                                   TBitmap32& target) {
    switch (format) {
    case TModernFormat::mfHeif:
    case TModernFormat::mfAvif:
        return DecodeHeif(format, data, page, asStored, stop, target);
    case TModernFormat::mfJxl:
        return DecodeJxl(data, page, stop, target);
    case TModernFormat::mfNone:
        break;
    }
    Refuse("not a HEIF, AVIF or JPEG XL file");
}
