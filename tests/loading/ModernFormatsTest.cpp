// HEIF, AVIF and JPEG XL files written with the libraries' own encoders, read back
// through the loader: size, colours, alpha, orientation, pages, metadata lines, and
// bad input ending as an error.

#include "loading/ModernFormats.h"
#include "LoadingTestSupport.h"
#include "loading/ImageLimits.h"
#include "loading/VekImageLoaderPro.h"

#include <gtest/gtest.h>

#include <jxl/encode.h>
#include <jxl/encode_cxx.h>
#include <libheif/heif.h>

#include <QTemporaryDir>

#include <cstdlib>
#include <vector>

namespace {

using pictrel::test::TLoaderRecorder;
using pictrel::test::WriteFile;
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
    std::vector<std::uint8_t> out(4096);
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
