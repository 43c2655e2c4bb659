#include "loading/ModernFormats.h"

#include "gfx/Bitmap32.h"
#include "gfx/SplitWork.h"
#include "loading/ColourManagement.h"
#include "loading/ImageLimits.h"

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/thread_parallel_runner_cxx.h>
#include <libheif/heif.h>

#include <QFile>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
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

// Pictures this large are converted on two threads.
bool WorthAThread(int width, int height) {
    return std::int64_t(width) * height >= 1 << 20;
}

void RgbaToBgra(const std::uint8_t* in, TColor32* out, int count) {
    for (int x = 0; x < count; ++x, in += 4)
        out[x] = TColor32(in[3]) << 24 | TColor32(in[0]) << 16 | TColor32(in[1]) << 8 | in[2];
}

// Interleaved 8-bit RGBA rows into the bitmap's BGRA.
void CopyRgba(const std::uint8_t* rows, std::size_t stride, int width, int height,
              TBitmap32& target) {
    target.SetSize(width, height);
    SplitWork(height, WorthAThread(width, height), [&](int first, int last) {
        for (int y = first; y < last; ++y)
            RgbaToBgra(rows + std::size_t(y) * stride, target.ScanLine(y), width);
    });
}

// ---- Colours told by code points -------------------------------------------------------
// HEIF's nclx box and JPEG XL's colour encoding number primaries and transfer curves as
// ITU-T H.273 does.

constexpr TChromaticities kBt709Primaries{0.640, 0.330, 0.300, 0.600, 0.150, 0.060, 0.3127, 0.3290};

// The primaries of a code point; none for reserved and unknown ones, and for XYZ (10),
// which no picture uses.
std::optional<TChromaticities> PrimariesOfCode(std::uint32_t code) {
    constexpr double d65x = 0.3127, d65y = 0.3290;
    switch (code) {
    case 1: // BT.709 and sRGB
    case 2: // unspecified: the common case
        return kBt709Primaries;
    case 4: // BT.470 System M, white C
        return TChromaticities{0.67, 0.33, 0.21, 0.71, 0.14, 0.08, 0.310, 0.316};
    case 5: // BT.470 System B, G
        return TChromaticities{0.64, 0.33, 0.29, 0.60, 0.15, 0.06, d65x, d65y};
    case 6: // BT.601 525 lines
    case 7: // SMPTE 240M
        return TChromaticities{0.630, 0.340, 0.310, 0.595, 0.155, 0.070, d65x, d65y};
    case 8: // generic film, white C
        return TChromaticities{0.681, 0.319, 0.243, 0.692, 0.145, 0.049, 0.310, 0.316};
    case 9: // BT.2020 and BT.2100
        return TChromaticities{0.708, 0.292, 0.170, 0.797, 0.131, 0.046, d65x, d65y};
    case 11: // DCI-P3, the cinema's white
        return TChromaticities{0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.314, 0.351};
    case 12: // Display P3
        return TChromaticities{0.680, 0.320, 0.265, 0.690, 0.150, 0.060, d65x, d65y};
    case 22: // EBU Tech 3213
        return TChromaticities{0.630, 0.340, 0.295, 0.605, 0.155, 0.077, d65x, d65y};
    default:
        return std::nullopt;
    }
}

enum class TTransfer : std::uint8_t { tfUnknown, tfSrgb, tfGamma, tfPq, tfHlg };

struct TTransferCurve {
    TTransfer Kind = TTransfer::tfUnknown;
    double Gamma = 1; // of tfGamma
};

TTransferCurve TransferOfCode(std::uint32_t code) {
    switch (code) {
    // The video curves are shown as the screens they were made on show them, with
    // sRGB's curve (as sRGB itself and an unspecified curve).
    case 1:
    case 2:
    case 6:
    case 7:
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
        return {TTransfer::tfSrgb};
    case 4:
        return {TTransfer::tfGamma, 2.2};
    case 5:
        return {TTransfer::tfGamma, 2.8};
    case 8:
        return {TTransfer::tfGamma, 1.0};
    case 17: // SMPTE ST 428
        return {TTransfer::tfGamma, 2.6};
    case 16:
        return {TTransfer::tfPq};
    case 18:
        return {TTransfer::tfHlg};
    default: // reserved, and the logarithmic curves
        return {};
    }
}

bool IsHdr(TTransfer transfer) {
    return transfer == TTransfer::tfPq || transfer == TTransfer::tfHlg;
}

// The profile of SDR samples given by code points; empty when they are sRGB already
// (nothing to convert) or when the codes tell nothing usable (shown unconverted).
QByteArray ProfileOfCodes(std::uint32_t primaries, std::uint32_t transfer) {
    const std::optional<TChromaticities> space = PrimariesOfCode(primaries);
    const TTransferCurve curve = TransferOfCode(transfer);
    if (!space) return {};
    switch (curve.Kind) {
    case TTransfer::tfSrgb:
        if (primaries == 1 || primaries == 2) return {};
        return MakeRgbProfile(*space, TProfileCurve::pcSrgb);
    case TTransfer::tfGamma:
        return MakeRgbProfile(*space, TProfileCurve::pcGamma, curve.Gamma);
    default:
        return {};
    }
}

// ---- High bit depths and HDR -----------------------------------------------------------

using TMatrix3 = std::array<double, 9>;

TMatrix3 Multiply(const TMatrix3& a, const TMatrix3& b) {
    TMatrix3 m{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) m[3 * i + j] += a[3 * i + k] * b[3 * k + j];
    return m;
}

std::optional<TMatrix3> Inverse(const TMatrix3& m) {
    const double det = m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
                       m[2] * (m[3] * m[7] - m[4] * m[6]);
    if (!(std::abs(det) > 1e-12)) return std::nullopt;
    TMatrix3 inv{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            inv[3 * i + j] =
                (m[3 * r0 + c0] * m[3 * r1 + c1] - m[3 * r0 + c1] * m[3 * r1 + c0]) / det;
        }
    return inv;
}

// Linear RGB of the space to CIE XYZ (white at Y = 1); none for chromaticities that
// make no space (a file may give any numbers).
std::optional<TMatrix3> RgbToXyz(const TChromaticities& c) {
    for (const auto& [x, y] : {std::pair{c.RedX, c.RedY}, std::pair{c.GreenX, c.GreenY},
                               std::pair{c.BlueX, c.BlueY}, std::pair{c.WhiteX, c.WhiteY}})
        if (!(x >= 0 && x <= 1 && y >= 0.01 && y <= 1)) return std::nullopt;
    const auto column = [](double x, double y) {
        return std::array<double, 3>{x / y, 1.0, (1 - x - y) / y};
    };
    const auto r = column(c.RedX, c.RedY), g = column(c.GreenX, c.GreenY),
               b = column(c.BlueX, c.BlueY), w = column(c.WhiteX, c.WhiteY);
    const TMatrix3 p{r[0], g[0], b[0], r[1], g[1], b[1], r[2], g[2], b[2]};
    const std::optional<TMatrix3> inverse = Inverse(p);
    if (!inverse) return std::nullopt;
    const TMatrix3& i = *inverse;
    const double s[3] = {i[0] * w[0] + i[1] * w[1] + i[2] * w[2],
                         i[3] * w[0] + i[4] * w[1] + i[5] * w[2],
                         i[6] * w[0] + i[7] * w[1] + i[8] * w[2]};
    TMatrix3 m{};
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) m[3 * row + col] = p[3 * row + col] * s[col];
    return m;
}

// Samples of `bits` bits (read as 8 or 16-bit words) rounded to 8 bits.
class TSampleRounding {
public:
    explicit TSampleRounding(int bits) : m_max((1u << bits) - 1), m_table(m_max + 1) {
        for (std::uint32_t v = 0; v <= m_max; ++v)
            m_table[v] = std::uint8_t((v * 255 + m_max / 2) / m_max);
    }
    template <class Sample>
    void Run(const Sample* in, int channels, int count, TColor32* out) const {
        for (int x = 0; x < count; ++x, in += channels) {
            const TColor32 a = channels == 4 ? At(in[3]) : 255;
            out[x] = a << 24 | At(in[0]) << 16 | At(in[1]) << 8 | At(in[2]);
        }
    }

private:
    TColor32 At(std::uint32_t v) const { return m_table[std::min(v, m_max)]; }
    std::uint32_t m_max;
    std::vector<std::uint8_t> m_table;
};

// HDR samples to 8-bit sRGB. The signal is brought to linear light relative to the
// diffuse white of SDR (203 cd/m², as BT.2408 places it): PQ through its EOTF
// (SMPTE ST 2084), HLG through its inverse OETF and the OOTF of a 1000 cd/m² display
// (system gamma 1.2, BT.2100). The exposure scales that light; the colours go to
// BT.709 primaries (clipped to them); the luminance is compressed by Reinhard's
// extended operator, whose white is the signal's peak so nothing clips below it; the
// result is encoded with the display gamma.
class THdrToSdr {
public:
    THdrToSdr(TTransfer transfer, int bits, const std::optional<TChromaticities>& primaries,
              double peakNits, double gamma, double exposure)
        : m_max((1u << bits) - 1), m_hlg(transfer == TTransfer::tfHlg), m_linear(m_max + 1),
          m_alpha(m_max + 1) {
        constexpr double kSdrWhite = 203;
        const double scale = std::exp2(std::clamp(exposure, -16.0, 16.0));
        for (std::uint32_t v = 0; v <= m_max; ++v) {
            const double e = double(v) / m_max;
            double linear;
            if (m_hlg) {
                constexpr double a = 0.17883277, b = 0.28466892, c = 0.55991073;
                linear = e <= 0.5 ? e * e / 3 : (std::exp((e - c) / a) + b) / 12;
            } else {
                constexpr double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128, c1 = 3424.0 / 4096,
                                 c2 = 2413.0 / 4096 * 32, c3 = 2392.0 / 4096 * 32;
                const double p = std::pow(e, 1 / m2);
                linear = std::pow(std::max(p - c1, 0.0) / (c2 - c3 * p), 1 / m1) * 10000 /
                         kSdrWhite * scale;
            }
            m_linear[v] = float(linear);
            m_alpha[v] = std::uint8_t((v * 255 + m_max / 2) / m_max);
        }
        // The colours to BT.709, and the source's luminance weights (for HLG's OOTF).
        TMatrix3 toBt709{1, 0, 0, 0, 1, 0, 0, 0, 1};
        const std::optional<TMatrix3> source = RgbToXyz(primaries.value_or(kBt709Primaries));
        const std::optional<TMatrix3> bt709 = RgbToXyz(kBt709Primaries);
        if (source && bt709) {
            if (const std::optional<TMatrix3> back = Inverse(*bt709)) {
                const TMatrix3 m = Multiply(*back, *source);
                if (std::all_of(m.begin(), m.end(), [](double v) { return std::abs(v) < 16; }))
                    toBt709 = m;
            }
            if (std::abs((*source)[3] + (*source)[4] + (*source)[5] - 1) < 0.01)
                m_sourceLuma = {float((*source)[3]), float((*source)[4]), float((*source)[5])};
        }
        for (int i = 0; i < 9; ++i) m_matrix[std::size_t(i)] = float(toBt709[std::size_t(i)]);
        if (m_hlg) {
            constexpr double kHlgPeak = 1000, kSystemGamma = 1.2;
            peakNits = kHlgPeak;
            m_hlgScale = float(kHlgPeak / kSdrWhite * scale);
            for (int i = 0; i < kTableSize; ++i) {
                const double ys = std::pow(double(i) / (kTableSize - 1), 2);
                m_hlgGain[std::size_t(i)] = float(std::pow(ys, kSystemGamma - 1));
            }
        }
        const double white = std::max(peakNits / kSdrWhite * scale, 1.0);
        m_inverseWhite2 = float(1 / (white * white));
        if (!(gamma >= 0.2 && gamma <= 10)) gamma = 2.2;
        // Indexed by the square root of the linear value, so the dark end, where the
        // gamma curve is steep, gets its share of the table.
        for (int i = 0; i < kTableSize; ++i) {
            const double linear = std::pow(double(i) / (kTableSize - 1), 2);
            m_encode[std::size_t(i)] = std::uint8_t(std::lround(std::pow(linear, 1 / gamma) * 255));
        }
    }

    template <class Sample>
    void Run(const Sample* in, int channels, int count, TColor32* out) const {
        const float m0 = m_matrix[0], m1 = m_matrix[1], m2 = m_matrix[2], m3 = m_matrix[3],
                    m4 = m_matrix[4], m5 = m_matrix[5], m6 = m_matrix[6], m7 = m_matrix[7],
                    m8 = m_matrix[8];
        for (int x = 0; x < count; ++x, in += channels) {
            float r = Linear(in[0]), g = Linear(in[1]), b = Linear(in[2]);
            if (m_hlg) {
                const float ys = m_sourceLuma[0] * r + m_sourceLuma[1] * g + m_sourceLuma[2] * b;
                const float gain = m_hlgScale * m_hlgGain[Index(ys)];
                r *= gain;
                g *= gain;
                b *= gain;
            }
            float r2 = std::max(m0 * r + m1 * g + m2 * b, 0.0f);
            float g2 = std::max(m3 * r + m4 * g + m5 * b, 0.0f);
            float b2 = std::max(m6 * r + m7 * g + m8 * b, 0.0f);
            const float luminance = 0.2126f * r2 + 0.7152f * g2 + 0.0722f * b2;
            const float compress = (1 + luminance * m_inverseWhite2) / (1 + luminance);
            r2 *= compress;
            g2 *= compress;
            b2 *= compress;
            const TColor32 a = channels == 4 ? m_alpha[std::min<std::uint32_t>(in[3], m_max)] : 255;
            out[x] = a << 24 | TColor32(m_encode[Index(r2)]) << 16 |
                     TColor32(m_encode[Index(g2)]) << 8 | m_encode[Index(b2)];
        }
    }

private:
    static constexpr int kTableSize = 4096;

    float Linear(std::uint32_t v) const { return m_linear[std::min(v, m_max)]; }
    // A table index for a linear value; NaN (from a file's absurd primaries) counts as 0.
    static std::size_t Index(float linear) {
        if (!(linear > 0)) return 0;
        if (!(linear < 1)) return kTableSize - 1;
        return std::size_t(std::sqrt(linear) * (kTableSize - 1) + 0.5f);
    }

    std::uint32_t m_max;
    bool m_hlg;
    std::vector<float> m_linear;
    std::vector<std::uint8_t> m_alpha;
    std::array<float, 9> m_matrix{};
    std::array<float, 3> m_sourceLuma{0.2627f, 0.6780f, 0.0593f};
    float m_hlgScale = 1;
    std::array<float, kTableSize> m_hlgGain{};
    float m_inverseWhite2 = 0;
    std::array<std::uint8_t, kTableSize> m_encode{};
};

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

// The colour code points of the picture's nclx box, when it has one. Read as numbers:
// a file may hold values the library's enumerations do not name.
struct THeifCodes {
    std::uint32_t Primaries = 2, Transfer = 2;
};

std::optional<THeifCodes> HeifColourCodes(const heif_image_handle* handle) {
    heif_color_profile_nclx* nclx = nullptr;
    const heif_error error = heif_image_handle_get_nclx_color_profile(handle, &nclx);
    if (error.code != heif_error_Ok || nclx == nullptr) {
        heif_nclx_color_profile_free(nclx);
        return std::nullopt;
    }
    static_assert(sizeof(nclx->color_primaries) == sizeof(std::uint32_t) &&
                  sizeof(nclx->transfer_characteristics) == sizeof(std::uint32_t));
    THeifCodes codes;
    std::memcpy(&codes.Primaries, &nclx->color_primaries, sizeof codes.Primaries);
    std::memcpy(&codes.Transfer, &nclx->transfer_characteristics, sizeof codes.Transfer);
    heif_nclx_color_profile_free(nclx);
    return codes;
}

QByteArray HeifIccProfile(const heif_image_handle* handle) {
    const heif_color_profile_type profile = heif_image_handle_get_color_profile_type(handle);
    if (profile != heif_color_profile_type_prof && profile != heif_color_profile_type_rICC)
        return {};
    const std::size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    if (size == 0 || size > std::size_t(4) << 20) return {};
    QByteArray icc(qsizetype(size), '\0');
    if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok)
        return {};
    return icc;
}

TModernPicture DecodeHeif(TModernFormat format, const QByteArray& data, int page,
                          const TModernDecodeOptions& settings, const std::atomic<bool>& stop,
                          TBitmap32& target) {
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
    // An ICC profile wins over code points (as the format says); HDR code points are
    // tone-mapped to sRGB whatever else the file says.
    const std::optional<THeifCodes> codes = HeifColourCodes(handle.get());
    const TTransfer transfer = codes ? TransferOfCode(codes->Transfer).Kind : TTransfer::tfUnknown;
    picture.Hdr = IsHdr(transfer);
    if (!picture.Hdr) {
        picture.IccProfile = HeifIccProfile(handle.get());
        if (picture.IccProfile.isEmpty() && codes)
            picture.IccProfile = ProfileOfCodes(codes->Primaries, codes->Transfer);
    }
    CheckStop(stop);

    THeifPtr<heif_decoding_options> options(heif_decoding_options_alloc());
    if (!options) throw std::bad_alloc();
    options->ignore_transformations = settings.AsStored ? 1 : 0;
    // Deeper samples come whole (16-bit words, little-endian) and are rounded here.
    const bool deep = bits > 8;
    options->convert_hdr_to_8bit = 0;
    const heif_chroma chroma = deep ? (picture.HasAlpha ? heif_chroma_interleaved_RRGGBBAA_LE
                                                        : heif_chroma_interleaved_RRGGBB_LE)
                                    : heif_chroma_interleaved_RGBA;
    heif_image* decoded = nullptr;
    Check(heif_decode_image(handle.get(), &decoded, heif_colorspace_RGB, chroma, options.get()));
    THeifPtr<heif_image> image(decoded);
    CheckStop(stop);
    int stride = 0;
    const std::uint8_t* rows =
        heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    const int channels = deep && !picture.HasAlpha ? 3 : 4;
    const int sampleBytes = deep ? 2 : 1;
    const int depth = heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
    if (rows == nullptr || width <= 0 || height <= 0 ||
        stride < std::int64_t(width) * channels * sampleBytes || depth < 8 || depth > 16 ||
        (deep ? depth <= 8 : depth != 8))
        Refuse("the picture could not be decoded");
    CheckSize(std::uint64_t(width), std::uint64_t(height));
    if (!deep && !picture.Hdr) {
        CopyRgba(rows, std::size_t(stride), width, height, target);
        return picture;
    }
    std::optional<THdrToSdr> hdr;
    std::optional<TSampleRounding> rounding;
    if (picture.Hdr)
        hdr.emplace(transfer, depth, PrimariesOfCode(codes->Primaries), 10000.0,
                    settings.ToneMapGamma, settings.ToneMapExposure);
    else
        rounding.emplace(depth);
    target.SetSize(width, height);
    static_assert(std::endian::native == std::endian::little, "samples come little-endian");
    SplitWork(height, WorthAThread(width, height), [&](int first, int last) {
        std::vector<std::uint16_t> words(deep ? std::size_t(width) * std::size_t(channels) : 0);
        for (int y = first; y < last; ++y) {
            const std::uint8_t* row = rows + std::size_t(y) * std::size_t(stride);
            TColor32* out = target.ScanLine(y);
            if (deep) {
                std::memcpy(words.data(), row, words.size() * 2);
                if (hdr)
                    hdr->Run(words.data(), channels, width, out);
                else
                    rounding->Run(words.data(), channels, width, out);
            } else {
                hdr->Run(row, 4, width, out);
            }
        }
    });
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

// The primaries of a JPEG XL colour encoding: its primaries are numbered as H.273's,
// its white point apart.
std::optional<TChromaticities> JxlPrimaries(const JxlColorEncoding& e) {
    std::optional<TChromaticities> space;
    if (e.primaries == JXL_PRIMARIES_CUSTOM)
        space = TChromaticities{e.primaries_red_xy[0],
                                e.primaries_red_xy[1],
                                e.primaries_green_xy[0],
                                e.primaries_green_xy[1],
                                e.primaries_blue_xy[0],
                                e.primaries_blue_xy[1],
                                0,
                                0};
    else
        space = PrimariesOfCode(std::uint32_t(e.primaries));
    if (!space) return std::nullopt;
    switch (e.white_point) {
    case JXL_WHITE_POINT_D65:
        space->WhiteX = 0.3127;
        space->WhiteY = 0.3290;
        break;
    case JXL_WHITE_POINT_DCI:
        space->WhiteX = 0.314;
        space->WhiteY = 0.351;
        break;
    case JXL_WHITE_POINT_CUSTOM:
        space->WhiteX = e.white_point_xy[0];
        space->WhiteY = e.white_point_xy[1];
        break;
    default:
        return std::nullopt;
    }
    return space;
}

// Where the decoder's rows go: straight into the bitmap, converted on the decoder's
// own threads, so no second full-size buffer is made.
struct TJxlOutput {
    TBitmap32* Target = nullptr;
    const THdrToSdr* Hdr = nullptr;

    static void Rgba16(void* opaque, std::size_t x, std::size_t y, std::size_t count,
                       const void* pixels) {
        const auto* self = static_cast<const TJxlOutput*>(opaque);
        self->Hdr->Run(static_cast<const std::uint16_t*>(pixels), 4, int(count),
                       self->Target->ScanLine(int(y)) + x);
    }
};

// The frames an animation shows (its pages), read from the frame headers only.
int CountJxlFrames(const QByteArray& data, const std::atomic<bool>& stop) {
    JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    if (!decoder) throw std::bad_alloc();
    JxlDecoder* d = decoder.get();
    CheckJxl(JxlDecoderSubscribeEvents(d, JXL_DEC_FRAME));
    CheckJxl(JxlDecoderSetInput(d, reinterpret_cast<const std::uint8_t*>(data.constData()),
                                std::size_t(data.size())));
    JxlDecoderCloseInput(d);
    int frames = 0;
    for (;;) {
        CheckStop(stop);
        const JxlDecoderStatus status = JxlDecoderProcessInput(d);
        if (status == JXL_DEC_FRAME)
            ++frames;
        else if (status == JXL_DEC_SUCCESS)
            break;
        else
            Refuse(status == JXL_DEC_NEED_MORE_INPUT ? "the file is cut short"
                                                     : "not a readable JPEG XL file");
    }
    return frames;
}

TModernPicture DecodeJxl(const QByteArray& data, int page, const TModernDecodeOptions& settings,
                         const std::atomic<bool>& stop, TBitmap32& target) {
    if (page < 0) Refuse("no such page");
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
    // An animation's frames are its pages; the ones before the wanted page are not
    // given out (the decoder still composes what later frames build on).
    JxlDecoderSkipFrames(d, std::size_t(page));

    JxlBasicInfo info{};
    TJxlBox box;
    TJxlOutput output{&target, nullptr};
    std::optional<THdrToSdr> hdr;
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
            if (page > 0 && !info.have_animation) Refuse("no such page");
        } else if (status == JXL_DEC_COLOR_ENCODING) {
            JxlColorEncoding encoding{};
            const bool encoded =
                JxlDecoderGetColorAsEncodedProfile(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                                   &encoding) == JXL_DEC_SUCCESS;
            const TTransfer transfer =
                encoded && encoding.color_space == JXL_COLOR_SPACE_RGB
                    ? TransferOfCode(std::uint32_t(encoding.transfer_function)).Kind
                    : TTransfer::tfUnknown;
            picture.Hdr = IsHdr(transfer);
            if (picture.Hdr)
                hdr.emplace(transfer, 16, JxlPrimaries(encoding),
                            info.intensity_target >= 100 && info.intensity_target <= 10000
                                ? double(info.intensity_target)
                                : 10000.0,
                            settings.ToneMapGamma, settings.ToneMapExposure);
            else
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
            target.SetSize(int(info.xsize), int(info.ysize));
            if (hdr) {
                // 16-bit rows are tone-mapped as they come, on the decoder's threads,
                // so no 16-bit copy of the picture is made.
                output.Hdr = &*hdr;
                const JxlPixelFormat format{4, JXL_TYPE_UINT16, JXL_NATIVE_ENDIAN, 0};
                CheckJxl(JxlDecoderSetImageOutCallback(d, &format, &TJxlOutput::Rgba16, &output));
            } else {
                // RGBA straight into the bitmap, turned to BGRA in place afterwards: the
                // decoder's own output stage is faster than its row callbacks.
                const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
                std::size_t size = 0;
                CheckJxl(JxlDecoderImageOutBufferSize(d, &format, &size));
                if (size != std::size_t(info.xsize) * info.ysize * 4)
                    Refuse("unexpected picture size");
                CheckJxl(JxlDecoderSetImageOutBuffer(d, &format, target.Bits(), size));
            }
        } else if (status == JXL_DEC_FULL_IMAGE) {
            haveImage = true;
            // The frames after the page are not decoded (metadata boxes come before
            // an animation's frames, as the encoders write them).
            if (info.have_animation) break;
        } else if (status == JXL_DEC_SUCCESS) {
            EndBox(d, box, picture);
            break;
        }
    }
    if (!haveImage) Refuse(page > 0 ? "no such page" : "the file has no picture");
    if (!hdr) {
        const int width = target.Width();
        SplitWork(target.Height(), WorthAThread(width, target.Height()), [&](int first, int last) {
            for (int y = first; y < last; ++y) {
                TColor32* row = target.ScanLine(y);
                for (int x = 0; x < width; ++x) {
                    // The bytes R, G, B, A read as a little-endian word: A B G R.
                    const TColor32 p = row[x];
                    row[x] = (p & 0xFF00FF00u) | (p & 0xFFu) << 16 | (p >> 16 & 0xFFu);
                }
            }
        });
    }
    if (info.have_animation) picture.PageCount = CountJxlFrames(data, stop);
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
                                   const TModernDecodeOptions& options,
                                   const std::atomic<bool>& stop, TBitmap32& target) {
    switch (format) {
    case TModernFormat::mfHeif:
    case TModernFormat::mfAvif:
        return DecodeHeif(format, data, page, options, stop, target);
    case TModernFormat::mfJxl:
        return DecodeJxl(data, page, options, stop, target);
    case TModernFormat::mfNone:
        break;
    }
    Refuse("not a HEIF, AVIF or JPEG XL file");
}
