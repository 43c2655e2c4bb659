// HEIF, AVIF and JPEG XL files written with the libraries' own encoders, read back
// through the loader: size, colours, alpha, orientation, pages, metadata lines, and
// bad input ending as an error.

#include "loading/ModernFormats.h"
#include "LoadingTestSupport.h"
#include "ModernFileWriter.h"
#include "loading/ColourManagement.h"
#include "loading/ImageLimits.h"
#include "loading/VekImageLoaderPro.h"

#include <gtest/gtest.h>

#include <jxl/encode.h>
#include <jxl/encode_cxx.h>
#include <libheif/heif.h>

#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

using namespace pictrel::test;
using enum TImageLoaderProStatus;

constexpr int kWidth = 64, kHeight = 48;

// Left half red, right half blue (half transparent with `alpha`), as RGBA rows.
std::vector<std::uint8_t> Halves(bool alpha, std::uint8_t red = 230) {
    std::vector<std::uint8_t> rgba;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const bool left = x < kWidth / 2;
            rgba.insert(rgba.end(),
                        {std::uint8_t(left ? red : 20), 20, std::uint8_t(left ? 20 : 230),
                         std::uint8_t(alpha && !left ? 128 : 255)});
        }
    return rgba;
}

// A TIFF header with one directory entry: Make = "PictrelCam".
QByteArray ExifTiff() {
    QByteArray t("II*\0\x08\0\0\0", 8);
    t += QByteArray("\x01\0", 2);                              // one entry
    t += QByteArray("\x0F\x01\x02\0\x0B\0\0\0\x1A\0\0\0", 12); // Make, ASCII, 11, at 26
    t += QByteArray("\0\0\0\0", 4);                            // no next directory
    t += QByteArray("PictrelCam\0", 11);
    return t;
}

struct THeifImage {
    std::vector<std::uint8_t> Rgba;
    int Orientation = 1;
};

// A HEIF (HEVC) or AVIF (AV1) file of the pictures, the first one primary; empty when
// this machine has no encoder for it.
QByteArray EncodeHeif(heif_compression_format compression, const std::vector<THeifImage>& images,
                      bool alpha, const QByteArray& exif = {}, bool thumbnail = false) {
    if (!heif_have_encoder_for_format(compression)) return {};
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, compression, &encoder);
    if (encoder == nullptr) {
        heif_context_free(context);
        return {};
    }
    heif_encoder_set_lossless(encoder, 1);
    for (const THeifImage& source : images) {
        heif_image* image = nullptr;
        heif_image_create(kWidth, kHeight, heif_colorspace_RGB, heif_chroma_interleaved_RGBA,
                          &image);
        heif_image_add_plane(image, heif_channel_interleaved, kWidth, kHeight, 8);
        int stride = 0;
        std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < kHeight; ++y)
            std::memcpy(plane + y * stride, source.Rgba.data() + y * kWidth * 4, kWidth * 4);
        heif_encoding_options* options = heif_encoding_options_alloc();
        options->save_alpha_channel = alpha ? 1 : 0;
        options->image_orientation = heif_orientation(source.Orientation);
        heif_image_handle* handle = nullptr;
        heif_context_encode_image(context, image, encoder, options, &handle);
        if (handle != nullptr && !exif.isEmpty())
            heif_context_add_exif_metadata(context, handle, exif.constData(), int(exif.size()));
        if (handle != nullptr && thumbnail)
            heif_context_encode_thumbnail(context, image, handle, encoder, options, 16, nullptr);
        heif_encoding_options_free(options);
        heif_image_handle_release(handle);
        heif_image_release(image);
    }
    heif_encoder_release(encoder);
    QByteArray bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t size, void* out) {
        static_cast<QByteArray*>(out)->append(static_cast<const char*>(data), qsizetype(size));
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
    };
    heif_context_write(context, &writer, &bytes);
    heif_context_free(context);
    return bytes;
}

// A lossless JPEG XL file of the picture, with an Exif box when given.
QByteArray EncodeJxl(const std::vector<std::uint8_t>& rgba, bool alpha, int orientation,
                     const QByteArray& exif = {}) {
    JxlEncoderPtr encoder = JxlEncoderMake(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = kWidth;
    info.ysize = kHeight;
    info.bits_per_sample = 8;
    info.uses_original_profile = JXL_TRUE;
    info.orientation = JxlOrientation(orientation);
    if (alpha) {
        info.alpha_bits = 8;
        info.num_extra_channels = 1;
    }
    if (JxlEncoderSetBasicInfo(encoder.get(), &info) != JXL_ENC_SUCCESS) return {};
    JxlColorEncoding colour;
    JxlColorEncodingSetToSRGB(&colour, JXL_FALSE);
    JxlEncoderSetColorEncoding(encoder.get(), &colour);
    if (!exif.isEmpty()) {
        JxlEncoderUseBoxes(encoder.get());
        const QByteArray box = QByteArray(4, '\0') + exif;
        JxlEncoderAddBox(encoder.get(), "Exif", reinterpret_cast<const std::uint8_t*>(box.data()),
                         std::size_t(box.size()), JXL_FALSE);
    }
    JxlEncoderFrameSettings* frame = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr);
    JxlEncoderSetFrameLossless(frame, JXL_TRUE);
    std::vector<std::uint8_t> pixels;
    for (std::size_t i = 0; i < rgba.size(); i += 4)
        pixels.insert(pixels.end(), rgba.begin() + long(i),
                      rgba.begin() + long(i) + (alpha ? 4 : 3));
    const JxlPixelFormat format{alpha ? 4u : 3u, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    if (JxlEncoderAddImageFrame(frame, &format, pixels.data(), pixels.size()) != JXL_ENC_SUCCESS)
        return {};
    JxlEncoderCloseInput(encoder.get());
    return pictrel::test::JxlEncoderOutput(encoder.get());
}

bool Near(TColor32 pixel, int r, int g, int b, int a = 255) {
    const auto near = [](int x, int y) { return std::abs(x - y) <= 12; };
    return near(int(pixel >> 16 & 0xFF), r) && near(int(pixel >> 8 & 0xFF), g) &&
           near(int(pixel & 0xFF), b) && near(int(pixel >> 24), a);
}

class ModernFormats : public testing::Test {
protected:
    QString Write(const char* name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        WriteFile(path, bytes);
        return path;
    }
    bool Open(const QString& path, int page = 0) { return m_events.OpenAndWait(path, page); }
    bool Loaded() const { return m_loader.Status() == ilSucces; }

    QTemporaryDir m_dir;
    TVekImageLoaderPro m_loader;
    TLoaderRecorder m_events{m_loader};
};

struct TFormatCase {
    const char* Name;
    const char* File;
    const char* FormatLine;
};

class ModernFormatsRead : public ModernFormats, public testing::WithParamInterface<TFormatCase> {
protected:
    QByteArray Encode(bool alpha, const QByteArray& exif = {}) const {
        const std::string name = GetParam().Name;
        if (name == "jxl") return EncodeJxl(Halves(alpha), alpha, 1, exif);
        return EncodeHeif(name == "heic" ? heif_compression_HEVC : heif_compression_AV1,
                          {{Halves(alpha), 1}}, alpha, exif);
    }
};

TEST_P(ModernFormatsRead, SizeColoursAlphaAndInformation) {
    for (const bool alpha : {false, true}) {
        const QByteArray bytes = Encode(alpha, ExifTiff());
        if (bytes.isEmpty()) GTEST_SKIP() << "no " << GetParam().Name << " encoder here";
        ASSERT_EQ(DetectModernFormat(bytes.left(64)) == TModernFormat::mfNone, false);
        ASSERT_TRUE(Open(Write(GetParam().File, bytes)));
        ASSERT_TRUE(Loaded()) << GetParam().Name << " alpha " << alpha;
        const TBitmap32& b = m_loader.Bitmap();
        ASSERT_EQ(b.Width(), kWidth);
        ASSERT_EQ(b.Height(), kHeight);
        EXPECT_TRUE(Near(b.Pixel(8, 24), 230, 20, 20)) << std::hex << b.Pixel(8, 24);
        EXPECT_TRUE(Near(b.Pixel(56, 24), 20, 20, 230, alpha ? 128 : 255))
            << std::hex << b.Pixel(56, 24);
        EXPECT_EQ(m_loader.HasAlpha(), alpha);
        EXPECT_EQ(m_loader.ImageKind(), TVekImageKind::ikModern);
        EXPECT_TRUE(m_loader.InfoList().contains(alpha ? "Bits per pixel: 32 bits;"
                                                       : "Bits per pixel: 24 bits;"))
            << m_loader.InfoList().join('|').toStdString();
        EXPECT_TRUE(m_loader.InfoList().join('\n').contains(GetParam().FormatLine))
            << m_loader.InfoList().join('\n').toStdString();
        EXPECT_TRUE(m_loader.ExifList().join('\n').contains("PictrelCam"))
            << "the Exif block gives a JPEG's lines: "
            << m_loader.ExifList().join('|').toStdString();
    }
}

TEST_P(ModernFormatsRead, BadInputIsAnErrorNeverACrash) {
    const QByteArray bytes = Encode(false);
    if (bytes.isEmpty()) GTEST_SKIP() << "no " << GetParam().Name << " encoder here";
    struct TBad {
        const char* What;
        QByteArray Bytes;
    };
    QByteArray flipped = bytes;
    for (qsizetype i = bytes.size() / 2; i < bytes.size(); i += 7) flipped[i] = char(~flipped[i]);
    const TBad cases[] = {{"cut in half", bytes.left(bytes.size() / 2)},
                          {"header only", bytes.left(40)},
                          {"damaged second half", flipped}};
    for (const TBad& c : cases) {
        ASSERT_TRUE(Open(Write(GetParam().File, c.Bytes))) << c.What;
        if (Loaded()) {
            // A decoder may make something of damaged data; it must still be a picture.
            EXPECT_EQ(m_loader.Bitmap().Width(), kWidth) << c.What;
        } else {
            EXPECT_EQ(m_loader.Status(), ilError) << c.What;
        }
    }
    // Above the memory rule: refused before any pixel is decoded.
    SetAvailableMemoryForTesting(1024);
    EXPECT_TRUE(Open(Write(GetParam().File, bytes)));
    SetAvailableMemoryForTesting(0);
    EXPECT_EQ(m_loader.Status(), ilError);
}

INSTANTIATE_TEST_SUITE_P(Formats, ModernFormatsRead,
                         testing::Values(TFormatCase{"heic", "a.heic", "HEIF image format"},
                                         TFormatCase{"avif", "a.avif", "AVIF image format"},
                                         TFormatCase{"jxl", "a.jxl", "JPEG XL image format"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// The camera's turn is applied as the option says: JPEG XL's orientation field, HEIF's
// transformation boxes.
TEST_F(ModernFormats, OrientationFollowsTheOption) {
    const QByteArray jxl = EncodeJxl(Halves(false), false, 6); // turned 90 degrees clockwise
    const QByteArray heic = EncodeHeif(heif_compression_HEVC, {{Halves(false), 6}}, false);
    struct TCase {
        const char* Name;
        QByteArray Bytes;
    };
    for (const TCase& c : {TCase{"a.jxl", jxl}, TCase{"a.heic", heic}}) {
        if (c.Bytes.isEmpty()) continue;
        const QString path = Write(c.Name, c.Bytes);
        for (const bool upright : {true, false}) {
            m_loader.Settings().ExifOrientation = upright;
            ASSERT_TRUE(Open(path));
            ASSERT_TRUE(Loaded()) << c.Name;
            const TBitmap32& b = m_loader.Bitmap();
            EXPECT_EQ(b.Width(), upright ? kHeight : kWidth) << c.Name << " upright " << upright;
            if (upright) {
                // Turned clockwise, the red left half is on top.
                EXPECT_TRUE(Near(b.Pixel(24, 8), 230, 20, 20)) << c.Name;
                EXPECT_TRUE(Near(b.Pixel(24, 56), 20, 20, 230)) << c.Name;
            }
        }
    }
    m_loader.Settings().ExifOrientation = true;
}

// A burst: every top-level picture is a page; the primary one comes first.
TEST_F(ModernFormats, AHeifBurstHasAPagePerPicture) {
    const QByteArray burst = EncodeHeif(heif_compression_HEVC,
                                        {{Halves(false, 230), 1}, {Halves(false, 120), 1}}, false);
    if (burst.isEmpty()) GTEST_SKIP() << "no HEVC encoder here";
    const QString path = Write("burst.heic", burst);
    ASSERT_TRUE(Open(path));
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(m_loader.PageCount(), 2);
    EXPECT_TRUE(Near(m_loader.Bitmap().Pixel(8, 24), 230, 20, 20));
    ASSERT_TRUE(Open(path, 1));
    ASSERT_TRUE(Loaded());
    EXPECT_TRUE(Near(m_loader.Bitmap().Pixel(8, 24), 120, 20, 20));
    ASSERT_TRUE(Open(path, 2));
    EXPECT_EQ(m_loader.Status(), ilError) << "no third page";
}

// The Opening box shows a HEIF file's own thumbnail; a file without one has none.
TEST_F(ModernFormats, AHeifThumbnailIsTheOpeningBoxsPicture) {
    const QByteArray with =
        EncodeHeif(heif_compression_HEVC, {{Halves(false), 1}}, false, {}, true);
    if (with.isEmpty()) GTEST_SKIP() << "no HEVC encoder here";
    const QByteArray without = EncodeHeif(heif_compression_HEVC, {{Halves(false), 1}}, false);
    TBitmap32 thumbnail;
    ASSERT_TRUE(ReadHeifThumbnail(Write("with.heic", with), thumbnail));
    EXPECT_EQ(thumbnail.Width(), 16);
    EXPECT_TRUE(Near(thumbnail.Pixel(2, thumbnail.Height() / 2), 230, 20, 20));
    EXPECT_FALSE(ReadHeifThumbnail(Write("without.heic", without), thumbnail));
    EXPECT_FALSE(ReadHeifThumbnail(Write("cut.heic", with.left(60)), thumbnail));
}

// ---- Deep samples, colours told by code points, HDR -----------------------------------

// The 8-bit channel `c` (0 red, 1 green, 2 blue) of a pixel.
int Channel(TColor32 pixel, int c) {
    return int(pixel >> (16 - 8 * c) & 0xFF);
}

std::string Hex(TColor32 pixel) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", pixel);
    return text;
}

constexpr int kPatch = 16;

// A deep picture's patches read back: the pixel in the middle of patch `i`.
TColor32 PatchPixel(const TBitmap32& b, int columns, int i) {
    return b.Pixel((i % columns) * kPatch + kPatch / 2, (i / columns) * kPatch + kPatch / 2);
}

struct TDeepCase {
    const char* Name;
    THeifCodec Codec;
    bool Jxl;
    int Bits;
};

QByteArray EncodeDeep(const TDeepCase& c, const TDeepPicture& picture, TColourCodes codes) {
    if (c.Jxl) return EncodeDeepJxl({picture}, codes);
    return EncodeDeepHeif(c.Codec, picture, codes);
}

void PrintTo(const TDeepCase& c, std::ostream* os) {
    *os << c.Name;
}

class DeepSdrPictures : public ModernFormats, public testing::WithParamInterface<TDeepCase> {};

// A plain SDR picture stored with 10 or 12 bits shows as its 8-bit encoding does: the
// samples are rounded, not cut.
TEST_P(DeepSdrPictures, ShowAsTheirEightBitEncoding) {
    const std::vector<std::uint16_t> colours{230, 20, 20,  20,  20,  230, 128, 128,
                                             128, 10, 200, 90,  255, 255, 255, 1,
                                             2,   3,  127, 129, 254, 63,  191, 64};
    const int columns = 4, rows = 2;
    std::vector<std::uint16_t> deep;
    const int max = (1 << GetParam().Bits) - 1;
    for (std::uint16_t v : colours) deep.push_back(std::uint16_t(std::lround(v * max / 255.0)));
    const TColourCodes srgb{1, 13, 6};
    const QByteArray eight = EncodeDeep(
        GetParam(), TDeepPicture::Patches(columns, rows, kPatch, 8, false, colours), srgb);
    const QByteArray deeper = EncodeDeep(
        GetParam(), TDeepPicture::Patches(columns, rows, kPatch, GetParam().Bits, false, deep),
        srgb);
    if (eight.isEmpty() || deeper.isEmpty())
        GTEST_SKIP() << "no encoder here for " << GetParam().Name;
    ASSERT_TRUE(Open(Write("eight", eight)));
    ASSERT_TRUE(Loaded());
    const TBitmap32 reference = m_loader.Bitmap();
    ASSERT_TRUE(Open(Write("deep", deeper)));
    ASSERT_TRUE(Loaded());
    const TBitmap32& b = m_loader.Bitmap();
    ASSERT_EQ(b.Width(), reference.Width());
    EXPECT_TRUE(m_loader.InfoList().contains(
        QStringLiteral("Bits per pixel: %1 bits;").arg(3 * GetParam().Bits)))
        << m_loader.InfoList().join('|').toStdString();
    for (int i = 0; i < columns * rows; ++i) {
        const TColor32 want = PatchPixel(reference, columns, i), got = PatchPixel(b, columns, i);
        for (int c = 0; c < 3; ++c) {
            EXPECT_LE(std::abs(Channel(got, c) - Channel(want, c)), 2)
                << "patch " << i << ": " << Hex(got) << " against " << Hex(want);
            EXPECT_LE(std::abs(Channel(got, c) - colours[std::size_t(3 * i + c)]), 3)
                << "patch " << i << ": " << Hex(got);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, DeepSdrPictures,
                         testing::Values(TDeepCase{"heic10", THeifCodec::hcHevc, false, 10},
                                         TDeepCase{"heic12", THeifCodec::hcHevc, false, 12},
                                         TDeepCase{"avif12", THeifCodec::hcAv1, false, 12},
                                         TDeepCase{"jxl10", THeifCodec::hcAv1, true, 10},
                                         TDeepCase{"jxl16", THeifCodec::hcAv1, true, 16}),
                         [](const auto& info) { return std::string(info.param.Name); });

// sRGB's curve and its inverse, exactly.
double SrgbToLinear(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}
int LinearToSrgb8(double v) {
    v = std::clamp(v, 0.0, 1.0);
    return int(
        std::lround((v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055) * 255));
}

// Linear RGB of Display P3 and of BT.2020 to linear sRGB, as published (rounded to four
// places): derived from the spaces' primaries, with the same D65 white.
constexpr std::array<double, 9> kP3ToSrgb{1.2249, -0.2247, 0.0000,  -0.0420, 1.0419,
                                          0.0000, -0.0197, -0.0786, 1.0979};
constexpr std::array<double, 9> kBt2020ToSrgb{1.6605,  -0.5876, -0.0728, -0.1246, 1.1329,
                                              -0.0083, -0.0182, -0.1006, 1.1187};

struct TNclxCase {
    const char* Name;
    int Primaries, Transfer;
    // The primaries and transfer written into the file's box afterwards (0: as encoded).
    int PatchedPrimaries, PatchedTransfer;
    // From the space to sRGB; none: shown unconverted.
    const std::array<double, 9>* Matrix;
};

void PrintTo(const TNclxCase& c, std::ostream* os) {
    *os << c.Name;
}

class NclxColours : public ModernFormats,
                    public testing::WithParamInterface<std::tuple<THeifCodec, TNclxCase>> {};

// A picture whose colours are code points instead of a profile is converted to the
// display's colours like a tagged one; sRGB, unspecified and unusable code points are
// shown as they are.
TEST_P(NclxColours, ConvertToSrgbByTheirPrimaries) {
    const auto& [codec, c] = GetParam();
    // Stored deeper than 8 bits, so the encoder's YCbCr costs less than the tolerance.
    const std::vector<std::uint16_t> colours{200, 100, 50, 60, 180, 90, 128, 128, 128, 30, 60, 220};
    const int bits = codec == THeifCodec::hcAv1 ? 12 : 10;
    std::vector<std::uint16_t> deep;
    for (std::uint16_t v : colours)
        deep.push_back(std::uint16_t(std::lround(v * ((1 << bits) - 1) / 255.0)));
    QByteArray file = EncodeDeepHeif(codec, TDeepPicture::Patches(4, 1, kPatch, bits, false, deep),
                                     {c.Primaries, c.Transfer, 1});
    if (file.isEmpty()) GTEST_SKIP() << "no encoder here";
    if (c.PatchedPrimaries != 0) {
        ASSERT_TRUE(SetNclxCodes(file, c.PatchedPrimaries, c.PatchedTransfer));
    }
    SetDisplayProfile({});
    m_loader.Settings().ColourManagement = true;
    ASSERT_TRUE(Open(Write("nclx", file)));
    ASSERT_TRUE(Loaded()) << c.Name;
    for (int i = 0; i < 4; ++i) {
        const TColor32 got = PatchPixel(m_loader.Bitmap(), 4, i);
        double linear[3];
        for (int k = 0; k < 3; ++k)
            linear[k] = SrgbToLinear(colours[std::size_t(3 * i + k)] / 255.0);
        for (int k = 0; k < 3; ++k) {
            int want = colours[std::size_t(3 * i + k)];
            if (c.Matrix != nullptr) {
                const auto& m = *c.Matrix;
                want = LinearToSrgb8(m[std::size_t(3 * k)] * linear[0] +
                                     m[std::size_t(3 * k + 1)] * linear[1] +
                                     m[std::size_t(3 * k + 2)] * linear[2]);
            }
            EXPECT_LE(std::abs(Channel(got, k) - want), 2)
                << c.Name << " patch " << i << " channel " << k << ": " << Hex(got);
        }
    }
}

const TNclxCase kNclxCases[] = {
    {"DisplayP3", 12, 13, 0, 0, &kP3ToSrgb},
    // A video curve is shown with sRGB's.
    {"Bt2020", 9, 1, 0, 0, &kBt2020ToSrgb},
    {"Srgb", 1, 13, 0, 0, nullptr},
    {"Unspecified", 2, 2, 0, 0, nullptr},
    {"ReservedPrimaries", 12, 13, 3, 13, nullptr},
    {"UnknownPrimaries", 12, 13, 200, 13, nullptr},
    {"ReservedTransfer", 12, 13, 12, 3, nullptr},
    {"UnknownTransfer", 12, 13, 12, 4000, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Codes, NclxColours,
                         testing::Combine(testing::Values(THeifCodec::hcHevc, THeifCodec::hcAv1),
                                          testing::ValuesIn(kNclxCases)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == THeifCodec::hcHevc
                                                    ? "heic"
                                                    : "avif") +
                                    std::get<1>(info.param).Name;
                         });

// HDR: the signal's light, relative to SDR white (203 cd/m²), for a grey or coloured
// sample of BT.2100 (PQ or HLG), computed from the standards' own formulas.
std::array<double, 3> Bt2100Light(bool hlg, const std::array<double, 3>& signal) {
    std::array<double, 3> light{};
    if (!hlg) {
        constexpr double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128, c1 = 3424.0 / 4096,
                         c2 = 2413.0 / 4096 * 32, c3 = 2392.0 / 4096 * 32;
        for (int k = 0; k < 3; ++k) {
            const double p = std::pow(signal[std::size_t(k)], 1 / m2);
            light[std::size_t(k)] =
                std::pow(std::max(p - c1, 0.0) / (c2 - c3 * p), 1 / m1) * 10000 / 203;
        }
        return light;
    }
    constexpr double a = 0.17883277, b = 0.28466892, c = 0.55991073;
    for (int k = 0; k < 3; ++k) {
        const double e = signal[std::size_t(k)];
        light[std::size_t(k)] = e <= 0.5 ? e * e / 3 : (std::exp((e - c) / a) + b) / 12;
    }
    const double ys = 0.2627 * light[0] + 0.6780 * light[1] + 0.0593 * light[2];
    for (double& l : light) l *= 1000 * std::pow(ys, 0.2) / 203;
    return light;
}

// What the tone mapping makes of that light: to BT.709, Reinhard's extended operator
// on the luminance (white at the signal's peak), the display gamma 2.2.
std::array<int, 3> ToneMapped(const std::array<double, 3>& light, double peak, double exposure,
                              const std::array<double, 9>& m) {
    const double scale = std::exp2(exposure);
    std::array<double, 3> rgb{};
    for (int k = 0; k < 3; ++k)
        rgb[std::size_t(k)] = std::max(0.0, scale * (m[std::size_t(3 * k)] * light[0] +
                                                     m[std::size_t(3 * k + 1)] * light[1] +
                                                     m[std::size_t(3 * k + 2)] * light[2]));
    const double white = peak / 203 * scale;
    const double l = 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
    const double compress = (1 + l / (white * white)) / (1 + l);
    std::array<int, 3> out{};
    for (int k = 0; k < 3; ++k)
        out[std::size_t(k)] = int(
            std::lround(std::pow(std::min(rgb[std::size_t(k)] * compress, 1.0), 1 / 2.2) * 255));
    return out;
}

struct THdrCase {
    const char* Name;
    TDeepCase Format;
    bool Hlg;
    double Exposure;
    // BT.2020 (9) or Display P3 (12).
    int Primaries = 9;
};

void PrintTo(const THdrCase& c, std::ostream* os) {
    *os << c.Name;
}

class HdrPictures : public ModernFormats, public testing::WithParamInterface<THdrCase> {};

// PQ and HLG pictures are tone-mapped to SDR: black stays black, greys stay grey,
// SDR white lands where the operator puts it, highlights stay below white and apart.
TEST_P(HdrPictures, AreToneMappedToSdr) {
    const THdrCase& c = GetParam();
    const int max = (1 << c.Format.Bits) - 1;
    // Signals: black, greys at 100, 203 and 1000 cd/m² (HLG: 25%, 50%, 75%, 90%), a
    // saturated red and a dim blue.
    const std::vector<std::array<double, 3>> levels =
        c.Hlg ? std::vector<std::array<double, 3>>{{0, 0, 0},          {0.5, 0.5, 0.5},
                                                   {0.75, 0.75, 0.75}, {0.9, 0.9, 0.9},
                                                   {0.8, 0.3, 0.2},    {0.1, 0.2, 0.6}}
              : std::vector<std::array<double, 3>>{{0, 0, 0},
                                                   {PqSignal(100), PqSignal(100), PqSignal(100)},
                                                   {PqSignal(203), PqSignal(203), PqSignal(203)},
                                                   {PqSignal(1000), PqSignal(1000), PqSignal(1000)},
                                                   {PqSignal(400), PqSignal(40), PqSignal(20)},
                                                   {PqSignal(2), PqSignal(5), PqSignal(60)}};
    std::vector<std::uint16_t> samples;
    std::vector<std::array<double, 3>> quantised;
    for (const auto& s : levels) {
        std::array<double, 3> q{};
        for (int k = 0; k < 3; ++k) {
            const auto v = std::uint16_t(std::lround(s[std::size_t(k)] * max));
            samples.push_back(v);
            q[std::size_t(k)] = double(v) / max;
        }
        quantised.push_back(q);
    }
    const QByteArray file =
        EncodeDeep(c.Format, TDeepPicture::Patches(3, 2, kPatch, c.Format.Bits, false, samples),
                   {c.Primaries, c.Hlg ? 18 : 16, 9});
    if (file.isEmpty()) GTEST_SKIP() << "no encoder here for " << c.Name;
    m_loader.Settings().ToneMapExposure = float(c.Exposure);
    m_loader.Settings().ToneMapGamma = 2.2f;
    const bool opened = Open(Write("hdr", file));
    m_loader.Settings().ToneMapExposure = 0;
    ASSERT_TRUE(opened);
    ASSERT_TRUE(Loaded());
    std::vector<TColor32> got;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        got.push_back(PatchPixel(m_loader.Bitmap(), 3, int(i)));
        const std::array<int, 3> want =
            ToneMapped(Bt2100Light(c.Hlg, quantised[i]), c.Hlg ? 1000 : 10000, c.Exposure,
                       c.Primaries == 12 ? kP3ToSrgb : kBt2020ToSrgb);
        for (int k = 0; k < 3; ++k)
            EXPECT_LE(std::abs(Channel(got.back(), k) - want[std::size_t(k)]), 2)
                << "patch " << i << " channel " << k << ": " << Hex(got.back()) << " want "
                << want[std::size_t(k)];
    }
    EXPECT_EQ(got[0] & 0xFFFFFF, 0u) << Hex(got[0]);
    for (std::size_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(Channel(got[i], 0), Channel(got[i], 1)) << "grey " << Hex(got[i]);
        EXPECT_EQ(Channel(got[i], 2), Channel(got[i], 1)) << "grey " << Hex(got[i]);
        EXPECT_LT(Channel(got[i - 1], 1), Channel(got[i], 1)) << "brighter is brighter";
    }
    EXPECT_LT(Channel(got[3], 1), 255) << "the highlight is not clipped";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, HdrPictures,
    testing::Values(THdrCase{"avifPq", {"", THeifCodec::hcAv1, false, 12}, false, 0},
                    THdrCase{"avifHlg", {"", THeifCodec::hcAv1, false, 12}, true, 0},
                    THdrCase{"heicPqBrighter", {"", THeifCodec::hcHevc, false, 12}, false, 1},
                    THdrCase{"heicPq", {"", THeifCodec::hcHevc, false, 10}, false, 0},
                    THdrCase{"heicHlg", {"", THeifCodec::hcHevc, false, 10}, true, 0},
                    THdrCase{"jxlPq", {"", THeifCodec::hcAv1, true, 16}, false, 0},
                    THdrCase{"jxlHlg", {"", THeifCodec::hcAv1, true, 12}, true, 0},
                    THdrCase{"jxlPqDarker", {"", THeifCodec::hcAv1, true, 16}, false, -1},
                    THdrCase{"jxlPqDisplayP3", {"", THeifCodec::hcAv1, true, 16}, false, 0, 12},
                    THdrCase{"avifPqDisplayP3", {"", THeifCodec::hcAv1, false, 12}, false, 0, 12}),
    [](const auto& info) { return std::string(info.param.Name); });

// An animated JPEG XL file's frames are its pages.
TEST_F(ModernFormats, AJxlAnimationHasAPagePerFrame) {
    std::vector<TDeepPicture> frames;
    for (std::uint16_t red : {230, 120, 40})
        frames.push_back(TDeepPicture::Patches(1, 1, kPatch, 8, false, {red, 20, 20}));
    const QString path = Write("animation.jxl", EncodeDeepJxl(frames, {1, 13, 6}));
    for (int page = 0; page < 3; ++page) {
        ASSERT_TRUE(Open(path, page));
        ASSERT_TRUE(Loaded()) << page;
        EXPECT_EQ(m_loader.PageCount(), 3);
        EXPECT_EQ(Channel(m_loader.Bitmap().Pixel(4, 4), 0), frames[std::size_t(page)].Samples[0])
            << "page " << page;
    }
    ASSERT_TRUE(Open(path, 3));
    EXPECT_EQ(m_loader.Status(), ilError) << "no fourth page";
    const QString still = Write("still.jxl", EncodeDeepJxl({frames[0]}, {1, 13, 6}));
    ASSERT_TRUE(Open(still));
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(m_loader.PageCount(), 1);
    ASSERT_TRUE(Open(still, 1));
    EXPECT_EQ(m_loader.Status(), ilError) << "a still picture has one page";
}

struct TDamagedCase {
    const char* Name;
    const char* File;
    std::function<QByteArray()> Encode;
};

void PrintTo(const TDamagedCase& c, std::ostream* os) {
    *os << c.Name;
}

class DamagedDeepPictures : public ModernFormats,
                            public testing::WithParamInterface<TDamagedCase> {};

// Deep, HDR and animated files damaged in several ways end as a picture of their size or
// as "Can't open image", never as a crash (the sanitizers watch the decoding).
TEST_P(DamagedDeepPictures, AreAPictureOrAnErrorNeverACrash) {
    const QByteArray bytes = GetParam().Encode();
    if (bytes.isEmpty()) GTEST_SKIP() << "no encoder here for " << GetParam().Name;
    ASSERT_TRUE(Open(Write(GetParam().File, bytes)));
    ASSERT_TRUE(Loaded()) << "the undamaged file loads";
    const int width = m_loader.Bitmap().Width();
    const auto flip = [&](qsizetype from, qsizetype step) {
        QByteArray b = bytes;
        for (qsizetype i = from; i < b.size(); i += step) b[i] = char(~b[i]);
        return b;
    };
    const std::pair<const char*, QByteArray> damages[] = {
        {"cut in half", bytes.left(bytes.size() / 2)},
        {"cut near the end", bytes.left(bytes.size() - 3)},
        {"header only", bytes.left(48)},
        {"second half flipped", flip(bytes.size() / 2, 7)},
        {"every byte from the quarter on flipped", flip(bytes.size() / 4, 1)},
    };
    for (const auto& [what, damaged] : damages) {
        ASSERT_TRUE(Open(Write(GetParam().File, damaged))) << what;
        if (Loaded())
            EXPECT_EQ(m_loader.Bitmap().Width(), width) << what;
        else
            EXPECT_EQ(m_loader.Status(), ilError) << what;
    }
}

TDeepPicture Gradient(int bits) {
    const int max = (1 << bits) - 1;
    std::vector<std::uint16_t> colours;
    for (int i = 0; i < 16; ++i)
        colours.insert(colours.end(), {std::uint16_t(max * i / 15), std::uint16_t(max / 2),
                                       std::uint16_t(max - max * i / 15)});
    return TDeepPicture::Patches(4, 4, 8, bits, false, colours);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedDeepPictures,
    testing::Values(
        TDamagedCase{"heic10", "d.heic",
                     [] {
                         return EncodeDeepHeif(THeifCodec::hcHevc, Gradient(10), {1, 13, 6});
                     }},
        TDamagedCase{"heicPq", "d.heic",
                     [] {
                         return EncodeDeepHeif(THeifCodec::hcHevc, Gradient(10), {9, 16, 9});
                     }},
        TDamagedCase{"avifHlg", "d.avif",
                     [] {
                         return EncodeDeepHeif(THeifCodec::hcAv1, Gradient(12), {9, 18, 9});
                     }},
        // PQ with primaries no table knows: tone-mapped without a change of primaries.
        TDamagedCase{"avifPqUnknownPrimaries", "d.avif",
                     [] {
                         QByteArray b = EncodeDeepHeif(THeifCodec::hcAv1, Gradient(12), {9, 16, 9});
                         if (!SetNclxCodes(b, 99, 16)) return QByteArray();
                         return b;
                     }},
        TDamagedCase{"jxlPq", "d.jxl",
                     [] {
                         return EncodeDeepJxl({Gradient(16)}, {9, 16, 9});
                     }},
        TDamagedCase{"jxlAnimation", "d.jxl",
                     [] {
                         return EncodeDeepJxl({Gradient(8), Gradient(8), Gradient(8)}, {1, 13, 6});
                     }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ModernFormatDetection, KnowsTheFormatsByTheirFirstBytes) {
    struct TCase {
        QByteArray Head;
        TModernFormat Format;
    };
    const TCase cases[] = {
        {QByteArray("\0\0\0\x18"
                    "ftypheic\0\0\0\0mif1heic",
                    24),
         TModernFormat::mfHeif},
        {QByteArray("\0\0\0\x1C"
                    "ftypavif\0\0\0\0avifmif1",
                    24),
         TModernFormat::mfAvif},
        {QByteArray("\xFF\x0A\xFA", 3), TModernFormat::mfJxl},
        {QByteArray("\0\0\0\x0CJXL \r\n\x87\n", 12), TModernFormat::mfJxl},
        {QByteArray("\0\0\0\x18"
                    "ftypisom\0\0\0\0isommp41",
                    24),
         TModernFormat::mfNone},
        {QByteArray("\xFF\xD8\xFF\xE0", 4), TModernFormat::mfNone},
        {QByteArray(), TModernFormat::mfNone},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(DetectModernFormat(c.Head), c.Format) << c.Head.toHex().toStdString();
}

} // namespace
