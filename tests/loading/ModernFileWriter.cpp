#include "ModernFileWriter.h"

#include <jxl/encode.h>
#include <jxl/encode_cxx.h>
#include <libheif/heif.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace pictrel::test {

QByteArray JxlEncoderOutput(JxlEncoder* encoder) {
    std::vector<std::uint8_t> out(4096);
    std::uint8_t* next = out.data();
    std::size_t left = out.size();
    for (;;) {
        const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder, &next, &left);
        if (status == JXL_ENC_SUCCESS) break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT) return {};
        const std::size_t used = std::size_t(next - out.data());
        out.resize(out.size() * 2);
        next = out.data() + used;
        left = out.size() - used;
    }
    return QByteArray(reinterpret_cast<const char*>(out.data()), qsizetype(next - out.data()));
}

TDeepPicture TDeepPicture::Patches(int columns, int rows, int size, int bits, bool alpha,
                                   const std::vector<std::uint16_t>& colours) {
    TDeepPicture p;
    p.Width = columns * size;
    p.Height = rows * size;
    p.Bits = bits;
    p.Alpha = alpha;
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < p.Height; ++y)
        for (int x = 0; x < p.Width; ++x) {
            const std::size_t patch = std::size_t((y / size) * columns + x / size);
            for (int c = 0; c < channels; ++c)
                p.Samples.push_back(colours[patch * std::size_t(channels) + std::size_t(c)]);
        }
    return p;
}

namespace {

struct THeifFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
    void operator()(heif_image* i) const { heif_image_release(i); }
    void operator()(heif_encoder* e) const { heif_encoder_release(e); }
    void operator()(heif_encoding_options* o) const { heif_encoding_options_free(o); }
    void operator()(heif_color_profile_nclx* n) const { heif_nclx_color_profile_free(n); }
};
template <class T>
using THeifPtr = std::unique_ptr<T, THeifFree>;

} // namespace

QByteArray EncodeDeepHeif(THeifCodec codec, const TDeepPicture& picture, TColourCodes codes) {
    // The AV1 encoder here aborts (an assertion) on 10-bit pictures whatever the
    // subsampling: the profile it is given allows 4:2:2 only at that depth.
    if (codec == THeifCodec::hcAv1 && picture.Bits > 8 && picture.Bits < 12) return {};
    const heif_compression_format format =
        codec == THeifCodec::hcHevc ? heif_compression_HEVC : heif_compression_AV1;
    if (!heif_have_encoder_for_format(format)) return {};
    THeifPtr<heif_context> context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    heif_context_get_encoder_for_format(context.get(), format, &rawEncoder);
    if (rawEncoder == nullptr) return {};
    THeifPtr<heif_encoder> encoder(rawEncoder);
    const bool deep = picture.Bits > 8;
    heif_encoder_set_lossless(encoder.get(), 1);
    const heif_chroma chroma =
        deep ? (picture.Alpha ? heif_chroma_interleaved_RRGGBBAA_LE
                              : heif_chroma_interleaved_RRGGBB_LE)
             : (picture.Alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* rawImage = nullptr;
    if (heif_image_create(picture.Width, picture.Height, heif_colorspace_RGB, chroma, &rawImage)
            .code != heif_error_Ok)
        return {};
    THeifPtr<heif_image> image(rawImage);
    if (heif_image_add_plane(image.get(), heif_channel_interleaved, picture.Width, picture.Height,
                             picture.Bits)
            .code != heif_error_Ok)
        return {};
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    const int channels = picture.Alpha ? 4 : 3;
    for (int y = 0; y < picture.Height; ++y)
        for (int i = 0; i < picture.Width * channels; ++i) {
            const std::uint16_t v =
                picture.Samples[std::size_t(y) * std::size_t(picture.Width * channels) +
                                std::size_t(i)];
            if (deep) {
                plane[y * stride + 2 * i] = std::uint8_t(v & 0xFF);
                plane[y * stride + 2 * i + 1] = std::uint8_t(v >> 8);
            } else {
                plane[y * stride + i] = std::uint8_t(v);
            }
        }
    THeifPtr<heif_color_profile_nclx> nclx(heif_nclx_color_profile_alloc());
    heif_nclx_color_profile_set_color_primaries(nclx.get(), std::uint16_t(codes.Primaries));
    heif_nclx_color_profile_set_transfer_characteristics(nclx.get(), std::uint16_t(codes.Transfer));
    heif_nclx_color_profile_set_matrix_coefficients(nclx.get(), std::uint16_t(codes.Matrix));
    nclx->full_range_flag = 1;
    heif_image_set_nclx_color_profile(image.get(), nclx.get());
    THeifPtr<heif_encoding_options> options(heif_encoding_options_alloc());
    options->save_alpha_channel = picture.Alpha ? 1 : 0;
    options->output_nclx_profile = nclx.get();
    // The box is left out of HEVC files by default (for another system's reader).
    options->macOS_compatibility_workaround_no_nclx_profile = 0;
    if (heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(), nullptr)
            .code != heif_error_Ok)
        return {};
    QByteArray bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t size, void* out) {
        static_cast<QByteArray*>(out)->append(static_cast<const char*>(data), qsizetype(size));
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
    };
    if (heif_context_write(context.get(), &writer, &bytes).code != heif_error_Ok) return {};
    return bytes;
}

bool SetNclxCodes(QByteArray& file, int primaries, int transfer) {
    const qsizetype at = file.indexOf("colrnclx");
    if (at < 0 || at + 14 > file.size()) return false;
    const qsizetype p = at + 8;
    file[p] = char(primaries >> 8);
    file[p + 1] = char(primaries & 0xFF);
    file[p + 2] = char(transfer >> 8);
    file[p + 3] = char(transfer & 0xFF);
    return true;
}

QByteArray EncodeDeepJxl(const std::vector<TDeepPicture>& frames, TColourCodes codes) {
    if (frames.empty()) return {};
    const TDeepPicture& first = frames.front();
    JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = std::uint32_t(first.Width);
    info.ysize = std::uint32_t(first.Height);
    info.bits_per_sample = std::uint32_t(first.Bits);
    info.uses_original_profile = JXL_TRUE;
    if (codes.Transfer == 16) info.intensity_target = 10000;
    if (first.Alpha) {
        info.alpha_bits = std::uint32_t(first.Bits);
        info.num_extra_channels = 1;
    }
    if (frames.size() > 1) {
        info.have_animation = JXL_TRUE;
        info.animation.tps_numerator = 10;
        info.animation.tps_denominator = 1;
    }
    if (JxlEncoderSetBasicInfo(encoder.get(), &info) != JXL_ENC_SUCCESS) return {};
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
    colour.primaries = codes.Primaries == 9    ? JXL_PRIMARIES_2100
                       : codes.Primaries == 12 ? JXL_PRIMARIES_P3
                                               : JXL_PRIMARIES_SRGB;
    colour.transfer_function = JxlTransferFunction(codes.Transfer);
    if (JxlEncoderSetColorEncoding(encoder.get(), &colour) != JXL_ENC_SUCCESS) return {};
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr);
    JxlEncoderSetFrameLossless(settings, JXL_TRUE);
    const JxlPixelFormat format{first.Alpha ? 4u : 3u, JXL_TYPE_UINT16, JXL_NATIVE_ENDIAN, 0};
    for (const TDeepPicture& frame : frames) {
        if (frames.size() > 1) {
            JxlFrameHeader header;
            JxlEncoderInitFrameHeader(&header);
            header.duration = 1;
            JxlEncoderSetFrameHeader(settings, &header);
        }
        // Full-range 16-bit words, as the encoder takes them.
        std::vector<std::uint16_t> words;
        const double scale = 65535.0 / ((1 << frame.Bits) - 1);
        for (std::uint16_t v : frame.Samples)
            words.push_back(std::uint16_t(std::lround(v * scale)));
        if (JxlEncoderAddImageFrame(settings, &format, words.data(), words.size() * 2) !=
            JXL_ENC_SUCCESS)
            return {};
    }
    JxlEncoderCloseInput(encoder.get());
    return JxlEncoderOutput(encoder.get());
}

double PqSignal(double nits) {
    constexpr double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128, c1 = 3424.0 / 4096,
                     c2 = 2413.0 / 4096 * 32, c3 = 2392.0 / 4096 * 32;
    const double y = std::pow(nits / 10000, m1);
    return std::pow((c1 + c2 * y) / (1 + c3 * y), m2);
}

} // namespace pictrel::test
