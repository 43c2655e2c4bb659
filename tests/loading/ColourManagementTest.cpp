// Pictures with an embedded colour profile show in the display's colours: a profile
// that swaps red and green shows red pixels green, an Adobe RGB colour arrives at its
// sRGB value; untagged, sRGB-tagged and damaged-profile pictures are left untouched.

#include "loading/ColourManagement.h"
#include "LoadingTestSupport.h"
#include "loading/FreeImageSetup.h"
#include "loading/VekImageLoaderPro.h"

#include <gtest/gtest.h>

#include <lcms2.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

using pictrel::test::TLoaderRecorder;
using enum TImageLoaderProStatus;

// An RGB profile with the sRGB tone curve and the given primaries, as bytes.
QByteArray RgbProfile(const cmsCIExyYTRIPLE& primaries, double gamma) {
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    cmsToneCurve* curve = cmsBuildGamma(nullptr, gamma);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

constexpr cmsCIExyYTRIPLE kSrgbPrimaries = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
// The same with red and green swapped: a red pixel means green.
constexpr cmsCIExyYTRIPLE kSwapped = {{0.30, 0.60, 1}, {0.64, 0.33, 1}, {0.15, 0.06, 1}};
constexpr cmsCIExyYTRIPLE kAdobeRgb = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};

QByteArray SrgbProfile() {
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

TBitmap32 Solid(TColor32 colour) {
    TBitmap32 b;
    b.SetSize(8, 8);
    b.Clear(colour);
    return b;
}

bool Near(TColor32 a, TColor32 b, int tolerance) {
    for (int shift : {0, 8, 16, 24})
        if (std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) > tolerance) return false;
    return true;
}

// An Adobe RGB (1998) colour in sRGB, from the two spaces' published matrices alone.
TColor32 AdobeToSrgb(int r, int g, int b) {
    const auto linear = [](int v) { return std::pow(v / 255.0, 563.0 / 256.0); };
    const double R = linear(r), G = linear(g), B = linear(b);
    const double X = 0.5767309 * R + 0.1855540 * G + 0.1881852 * B;
    const double Y = 0.2973769 * R + 0.6273491 * G + 0.0752741 * B;
    const double Z = 0.0270343 * R + 0.0706872 * G + 0.9911085 * B;
    const double sr = 3.2404542 * X - 1.5371385 * Y - 0.4985314 * Z;
    const double sg = -0.9692660 * X + 1.8760108 * Y + 0.0415560 * Z;
    const double sb = 0.0556434 * X - 0.2040259 * Y + 1.0572252 * Z;
    const auto encode = [](double v) {
        v = std::clamp(v, 0.0, 1.0);
        v = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
        return TColor32(std::lround(v * 255));
    };
    return 0xFF000000u | encode(sr) << 16 | encode(sg) << 8 | encode(sb);
}

TEST(ColourManagement, ConvertsTaggedPicturesAndLeavesTheRestAlone) {
    struct TCase {
        const char* Name;
        QByteArray Profile;
        TColor32 In, Expected;
        bool Converted;
    };
    const TCase cases[] = {
        {"swapped red and green", RgbProfile(kSwapped, 2.2), 0xFFFF0000, 0xFF00FF00, true},
        {"Adobe RGB", RgbProfile(kAdobeRgb, 563.0 / 256.0), 0xFF8040C8,
         AdobeToSrgb(0x80, 0x40, 0xC8), true},
        {"untagged", QByteArray(), 0xFF8040C8, 0xFF8040C8, false},
        {"sRGB", SrgbProfile(), 0xFF8040C8, 0xFF8040C8, false},
        {"damaged", QByteArray(300, 'x'), 0xFF8040C8, 0xFF8040C8, false},
        {"cut short", RgbProfile(kSwapped, 2.2).left(100), 0xFF8040C8, 0xFF8040C8, false},
    };
    for (const TCase& c : cases) {
        TBitmap32 picture = Solid(c.In);
        EXPECT_EQ(ConvertToDisplayColours(picture, c.Profile, QByteArray()), c.Converted) << c.Name;
        // The swap is a conversion the gamut allows only roughly: green comes out as
        // sRGB's nearest green, so a wider tolerance.
        EXPECT_TRUE(Near(picture.Pixel(3, 3), c.Expected, c.Converted ? 40 : 0))
            << c.Name << ": " << std::hex << picture.Pixel(3, 3) << " for " << c.Expected;
    }
    TBitmap32 adobe = Solid(0xFF8040C8);
    ConvertToDisplayColours(adobe, RgbProfile(kAdobeRgb, 563.0 / 256.0), QByteArray());
    EXPECT_TRUE(Near(adobe.Pixel(0, 0), AdobeToSrgb(0x80, 0x40, 0xC8), 2))
        << std::hex << adobe.Pixel(0, 0) << " for " << AdobeToSrgb(0x80, 0x40, 0xC8);
    // Alpha stays as it was.
    TBitmap32 translucent = Solid(0x80FF0000);
    ConvertToDisplayColours(translucent, RgbProfile(kSwapped, 2.2), QByteArray());
    EXPECT_EQ(translucent.Pixel(0, 0) >> 24, 0x80u);
}

// The fast path for matrix profiles gives what the colour engine's own transform gives,
// within two levels, over a grid of colours (a wide-gamut photo profile to sRGB).
TEST(ColourManagement, TheMatrixPathAgreesWithTheColourEngine) {
    const cmsCIExyYTRIPLE p3{{0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
    const QByteArray profile = RgbProfile(p3, 2.2);
    TBitmap32 grid;
    grid.SetSize(16, 256);
    for (int i = 0; i < 16 * 256; ++i)
        grid.ScanLine(i / 16)[i % 16] = 0xFF000000u | TColor32(i % 16 * 17) << 16 |
                                        TColor32(i / 256 * 17) << 8 | TColor32(i / 16 % 16 * 17);
    TBitmap32 reference;
    reference.Assign(grid);
    ASSERT_TRUE(ConvertToDisplayColours(grid, profile, QByteArray()));
    cmsHPROFILE from = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    cmsHPROFILE to = cmsCreate_sRGBProfile();
    cmsHTRANSFORM engine = cmsCreateTransform(from, TYPE_BGRA_8, to, TYPE_BGRA_8,
                                              INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_COPY_ALPHA);
    for (int y = 0; y < reference.Height(); ++y)
        cmsDoTransform(engine, reference.ScanLine(y), reference.ScanLine(y), 16);
    cmsDeleteTransform(engine);
    cmsCloseProfile(from);
    cmsCloseProfile(to);
    int worst = 0;
    for (int y = 0; y < grid.Height(); ++y)
        for (int x = 0; x < 16; ++x)
            for (int shift : {0, 8, 16})
                worst = std::max(worst, std::abs(int(grid.Pixel(x, y) >> shift & 0xFF) -
                                                 int(reference.Pixel(x, y) >> shift & 0xFF)));
    EXPECT_LE(worst, 2);
}

// Through the loader: a red JPEG and PNG tagged with the swapping profile show green;
// with colour management off they show red; an untagged picture is bit-identical.
TEST(ColourManagement, TheLoaderShowsTaggedFilesInTheirColours) {
    EnsureFreeImage();
    QTemporaryDir dir;
    const QByteArray swapped = RgbProfile(kSwapped, 2.2);
    struct TFile {
        const char* Name;
        FREE_IMAGE_FORMAT Format;
        bool Tagged;
    };
    const TFile files[] = {{"tagged.png", FIF_PNG, true},
                           {"tagged.jpg", FIF_JPEG, true},
                           {"untagged.png", FIF_PNG, false}};
    TVekImageLoaderPro loader;
    TLoaderRecorder events(loader);
    for (const TFile& f : files) {
        const TFreeImagePtr dib(FreeImage_Allocate(16, 16, 24));
        ASSERT_TRUE(dib);
        RGBQUAD red{0, 0, 255, 0};
        for (unsigned y = 0; y < 16; ++y)
            for (unsigned x = 0; x < 16; ++x) FreeImage_SetPixelColor(dib.get(), x, y, &red);
        if (f.Tagged)
            FreeImage_CreateICCProfile(dib.get(), const_cast<char*>(swapped.constData()),
                                       long(swapped.size()));
        const QString path = pictrel::test::Save(dib.get(), f.Format, dir.filePath(f.Name),
                                                 f.Format == FIF_JPEG ? 100 : 0);
        TBitmap32 shown[2];
        for (const bool managed : {true, false}) {
            loader.Settings().ColourManagement = managed;
            ASSERT_TRUE(events.OpenAndWait(path));
            ASSERT_EQ(loader.Status(), ilSucces) << f.Name;
            shown[managed ? 1 : 0].Assign(loader.Bitmap());
        }
        const TColor32 managed = shown[1].Pixel(8, 8), unmanaged = shown[0].Pixel(8, 8);
        EXPECT_TRUE(Near(unmanaged, 0xFFFF0000, 6)) << f.Name << std::hex << " " << unmanaged;
        if (f.Tagged)
            EXPECT_TRUE(Near(managed, 0xFF00FF00, 40)) << f.Name << std::hex << " " << managed;
        else
            EXPECT_TRUE(pictrel::test::SamePixels(shown[0], shown[1])) << f.Name;
    }
}

// A PNG's own colour chunks: iCCP gives its profile, sRGB none, gAMA and cHRM make one;
// a broken iCCP gives none (the picture then shows as stored).
TEST(ColourManagement, PngColourChunksGiveTheProfile) {
    const auto chunk = [](const char* type, const QByteArray& data) {
        QByteArray c;
        const auto n = std::uint32_t(data.size());
        c.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
        return c + type + data + QByteArray(4, '\0'); // the CRC is not looked at
    };
    const QByteArray swapped = RgbProfile(kSwapped, 2.2);
    const QByteArray iccp = QByteArray("test\0\0", 6) + qCompress(swapped).mid(4);
    const QByteArray gama = QByteArray::fromHex("0000b18f"); // 1/2.2
    const QByteArray head = QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", QByteArray(13, 1));
    struct TCase {
        const char* Name;
        QByteArray Chunks;
        bool Profile;
    };
    const TCase cases[] = {
        {"iCCP", chunk("iCCP", iccp), true},
        {"sRGB", chunk("sRGB", QByteArray(1, 0)) + chunk("gAMA", gama), false},
        {"gAMA", chunk("gAMA", gama), true},
        {"none", QByteArray(), false},
        {"broken iCCP", chunk("iCCP", QByteArray("test\0\0garbage", 13)), false},
        {"chunk longer than the file", QByteArray::fromHex("7fffffff") + "iCCP", false},
    };
    QTemporaryDir dir;
    for (const TCase& c : cases) {
        const QString path = dir.filePath("c.png");
        pictrel::test::WriteFile(path, head + c.Chunks + chunk("IDAT", QByteArray(10, 0)));
        const QByteArray profile = ReadPngColourProfile(path);
        EXPECT_EQ(!profile.isEmpty(), c.Profile) << c.Name;
        if (c.Name == std::string("iCCP")) {
            EXPECT_EQ(profile, swapped);
        }
    }
}

} // namespace
