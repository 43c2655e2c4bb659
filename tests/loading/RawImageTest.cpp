#include "DngWriter.h"
#include "LoadingTestSupport.h"

#include "common/TestSupport.h"
#include "gfx/Bitmap32.h"
#include "loading/ImageLimits.h"
#include "loading/RawImage.h"
#include "loading/RawImageEntry.h"
#include "loading/SmoothSpline.h"
#include "loading/VekImageLoaderPro.h"
#include "loading/vekraw.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cmath>

using namespace pictrel::test;

namespace {

// The tone curve of the defaults written out independently of TRawImage.
double ReferenceTone(double j, double exposureStops, double gamma, double linear) {
    double i = j;
    const double e = std::exp2(exposureStops);
    if (e > 1) {
        // Bisection for k / (1 - exp(-k)) = e.
        double lo = 1e-9, hi = 2 * e + 10;
        for (int n = 0; n < 200; ++n) {
            const double mid = (lo + hi) / 2;
            (mid / (1 - std::exp(-mid)) < e ? lo : hi) = mid;
        }
        const double k = lo;
        i = std::nearbyint((1 - std::exp(-k * j / 65536)) / (1 - std::exp(-k)) * 65535);
    }
    const double ex = gamma * (1 - linear) / (1 - gamma * linear);
    const double a = 1 / (1 + linear * (ex - 1));
    const double b = linear * (ex - 1) * a;
    const double s = std::pow(a * linear + b, ex) / linear;
    if (i < linear * 65536) return std::nearbyint(i * s);
    return std::min(65535.0, std::nearbyint(std::pow(i * a / 65536 + b, ex) * 65536));
}

TVekImageSettings Defaults() {
    return TVekImageSettings();
}

// ---- Tone tables --------------------------------------------------------------------------

TEST(RawToneTest, DefaultsBrightenMidGreyAndKeepTheEnds) {
    const auto t = TRawImage::ToneTable(Defaults());
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[65535], 65535);
    EXPECT_GT(t[32768], 32768);
    for (int j : {1000, 8000, 16384, 32768, 50000})
        EXPECT_NEAR(t[j], ReferenceTone(j, 1.0, 0.37f, 0.37f), 1.0) << j;
    // Both stages brighten: either alone stays below the two together.
    TVekImageSettings gammaOnly = Defaults();
    gammaOnly.Exposure = 0;
    TVekImageSettings exposureOnly = Defaults();
    exposureOnly.LinearLimit = 1;
    EXPECT_GT(TRawImage::ToneTable(gammaOnly)[16384], 16384);
    EXPECT_GT(TRawImage::ToneTable(exposureOnly)[16384], 16384);
    EXPECT_GT(t[16384], TRawImage::ToneTable(gammaOnly)[16384]);
    EXPECT_GT(t[16384], TRawImage::ToneTable(exposureOnly)[16384]);
    for (int j = 1; j < 65536; ++j) ASSERT_GE(t[j], t[j - 1]) << j;
}

class RawLinearLimitTest : public ::testing::TestWithParam<float> {};

TEST_P(RawLinearLimitTest, AtOneOrMoreTheGammaStageIsIdentity) {
    TVekImageSettings s = Defaults();
    s.LinearLimit = GetParam();
    s.Exposure = 0;
    const auto t = TRawImage::ToneTable(s);
    for (int j = 0; j < 65536; ++j) ASSERT_EQ(t[j], j) << j;
}

INSTANTIATE_TEST_SUITE_P(Cases, RawLinearLimitTest, ::testing::Values(1.0f, 1.5f, 100.0f));

class RawExposureOffTest : public ::testing::TestWithParam<float> {};

TEST_P(RawExposureOffTest, ZeroOrNegativeExposureTurnsTheCurveOff) {
    TVekImageSettings s = Defaults();
    s.LinearLimit = 1;
    s.Exposure = GetParam();
    const auto t = TRawImage::ToneTable(s);
    for (int j = 0; j < 65536; ++j) ASSERT_EQ(t[j], j) << j;
}

INSTANTIATE_TEST_SUITE_P(Cases, RawExposureOffTest, ::testing::Values(0.0f, -0.5f, -3.0f));

TEST(RawToneTest, PositiveExposureIsNotIdentity) {
    TVekImageSettings s = Defaults();
    s.LinearLimit = 1;
    s.Exposure = 0.5f;
    EXPECT_GT(TRawImage::ToneTable(s)[10000], 10000);
}

class RawExposureKTest : public ::testing::TestWithParam<double> {};

TEST_P(RawExposureKTest, SolvesTheExposureEquation) {
    const double e = GetParam();
    const double k = TRawImage::ExposureK(e);
    EXPECT_GT(k, 0);
    EXPECT_NEAR(k / (1 - std::exp(-k)), e, 0.001);
}

INSTANTIATE_TEST_SUITE_P(Cases, RawExposureKTest, ::testing::Values(1.01, 1.5, 2.0, 4.0, 64.0));

TEST(RawToneTest, AbsurdSettingsStayWithinRange) {
    TVekImageSettings s = Defaults();
    s.Exposure = 1e30f;
    s.Gamma = -4;
    s.LinearLimit = 0;
    const auto t = TRawImage::ToneTable(s);
    EXPECT_EQ(t.size(), 65536u);
    s.Exposure = NAN;
    s.LinearLimit = NAN;
    EXPECT_EQ(TRawImage::ToneTable(s).size(), 65536u);
}

// ---- Multipliers ---------------------------------------------------------------------------

struct TMulCase {
    const char* Name;
    TRawImage::TRgb In, Out;
};

class RawNormaliseTest : public ::testing::TestWithParam<TMulCase> {};

TEST_P(RawNormaliseTest, Normalises) {
    const auto out = TRawImage::NormaliseMultipliers(GetParam().In);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(out[c], GetParam().Out[c], 1e-9) << c;
}

INSTANTIATE_TEST_SUITE_P(Cases, RawNormaliseTest,
                         ::testing::Values(TMulCase{"Kept", {2.0, 1.0, 1.5}, {2.0, 1.0, 1.5}},
                                           TMulCase{"ZeroLifted", {0, 2, 4}, {1, 3, 5}},
                                           TMulCase{"CappedAtEight", {1, 10, 20}, {0.4, 4, 8}},
                                           TMulCase{"SmallestToOne", {2, 4, 3}, {1, 2, 1.5}},
                                           TMulCase{"NegativeCountsAsZero", {-1, 2, 4}, {1, 3, 5}},
                                           TMulCase{
                                               "NotANumberCountsAsZero", {NAN, 2, 4}, {1, 3, 5}}),
                         [](const auto& info) { return std::string(info.param.Name); });

class RawTemperatureTest : public ::testing::TestWithParam<int> {};

TEST_P(RawTemperatureTest, GivesUsableMultipliers) {
    const auto m = TRawImage::NormaliseMultipliers(
        TRawImage::TemperatureMultipliers(GetParam(), 0.98, {1.0, 1.0, 1.0}));
    for (double v : m) {
        EXPECT_TRUE(std::isfinite(v));
        EXPECT_GT(v, 0.0);
        EXPECT_LE(v, 8.0 + 1e-12);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RawTemperatureTest,
                         ::testing::Values(-100, 0, 1000, 2500, 4000, 5600, 7000, 10000, 1000000));

TEST(RawTemperatureTest, WarmLightNeedsMoreBlueThanRed) {
    // The red multiplier takes the illuminant's blue: warm (red-rich) light gets a
    // smaller red than blue multiplier, cool light the other way round.
    const auto warm = TRawImage::TemperatureMultipliers(3000, 1.0, {1, 1, 1});
    const auto cool = TRawImage::TemperatureMultipliers(12000, 1.0, {1, 1, 1});
    EXPECT_LT(warm[0], warm[2]);
    EXPECT_GT(cool[0], cool[2]);
    // Daylight multipliers and the green factor enter as factors.
    const auto scaled = TRawImage::TemperatureMultipliers(3000, 0.5, {2, 1, 3});
    EXPECT_NEAR(scaled[0], 2 * warm[0], 1e-12);
    EXPECT_NEAR(scaled[1], 0.5 * warm[1], 1e-12);
    EXPECT_NEAR(scaled[2], 3 * warm[2], 1e-12);
}

// ---- Base curve ----------------------------------------------------------------------------

TEST(RawCurveTest, NoOrOnePointIsIdentity) {
    for (const auto& curve :
         {std::vector<TCurvePoint>{}, std::vector<TCurvePoint>{TCurvePoint{10, 200}}}) {
        const auto c = TRawImage::BaseCurve(curve);
        for (int j = 0; j < 65536; ++j) ASSERT_EQ(c[j], j);
    }
}

TEST(RawCurveTest, TwoPointsAreAStraightLine) {
    const auto c = TRawImage::BaseCurve({{0, 40}, {255, 200}});
    EXPECT_EQ(c[0], std::lround(40 / 255.0 * 65535));
    EXPECT_EQ(c[65535], std::lround(65535 * 160 / 255.0 + 40 / 255.0 * 65535));
    // Only the y values matter, in either order.
    EXPECT_EQ(TRawImage::BaseCurve({{30, 200}, {100, 40}}), c);
}

TEST(RawCurveTest, ThreePointsFollowTheSpline) {
    const std::vector<TCurvePoint> pts{{0, 0}, {128, 160}, {255, 255}};
    const auto c = TRawImage::BaseCurve(pts);
    const TpSmoothSpline s(pts);
    EXPECT_EQ(c[0], 0);
    EXPECT_EQ(c[65535], 65535);
    for (int j : {1, 20000, 32896, 50000})
        EXPECT_EQ(c[j], std::lround(s.Value(j / 65535.0) * 65535)) << j;
    EXPECT_GT(c[32896], 32896 + 5000);
}

class RawBadCurveTest : public ::testing::TestWithParam<std::vector<TCurvePoint>> {};

TEST_P(RawBadCurveTest, FallsBackToIdentity) {
    const auto c = TRawImage::BaseCurve(GetParam());
    for (int j = 0; j < 65536; ++j) ASSERT_EQ(c[j], j) << j;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RawBadCurveTest,
    ::testing::Values(std::vector<TCurvePoint>{{10, 0}, {128, 128}, {255, 255}},
                      std::vector<TCurvePoint>{{0, 0}, {128, 128}, {200, 255}},
                      std::vector<TCurvePoint>{{0, 0}, {128, 128}, {128, 200}, {255, 255}},
                      std::vector<TCurvePoint>{{255, 255}, {128, 128}, {0, 0}}));

// ---- Levels --------------------------------------------------------------------------------

TEST(RawLevelTest, StretchTable) {
    const auto t = TRawImage::StretchTable(1000, 50000);
    EXPECT_EQ(t[0], 0);
    EXPECT_EQ(t[1000], 0);
    EXPECT_EQ(t[50000], 65535);
    EXPECT_EQ(t[65535], 65535);
    EXPECT_EQ(t[25000], std::lround(24000 / (49000 / 65535.0)));
    EXPECT_TRUE(TRawImage::StretchTable(5, 5).empty());
    EXPECT_TRUE(TRawImage::StretchTable(65504, 31).empty());
}

// ---- Real DNG files ------------------------------------------------------------------------

class RawFileTest : public ::testing::Test {
protected:
    QString Write(const QString& name, const QByteArray& data) {
        const QString path = m_dir.path() + "/" + name;
        WriteFile(path, data);
        return path;
    }
    // Three vertical bands of neutral grey: 1000, 25000 and 50000.
    static TDngDescription Bands() {
        TDngDescription d;
        d.Sample = [](int x, int) -> std::uint16_t {
            return x < 64 ? 1000 : x < 128 ? 25000 : 50000;
        };
        return d;
    }
    QTemporaryDir m_dir;
};

TEST_F(RawFileTest, HalfSizeDecodeIsHalfTheSensor) {
    const QString file = Write("bands.dng", MakeDng(Bands()));
    TRawImage raw;
    TVekImageSettings s;
    s.HalfSize = true;
    raw.ApplySettings(s);
    ASSERT_EQ(raw.LoadFromFile(file), 0);
    EXPECT_EQ(raw.Width(), 128);
    EXPECT_EQ(raw.Height(), 96);
    EXPECT_EQ(raw.FileName(), file);
    EXPECT_EQ(raw.MaxLevel(), 50000);
    EXPECT_EQ(raw.MinLevel(), 1000);
    // Histograms count the samples as decoded: every channel, every pixel.
    EXPECT_EQ(raw.Histogram(0)[25000], 32u * 96u);
    EXPECT_EQ(raw.Histogram(3)[50000], 64u * 96u);
    // Stored stretched.
    EXPECT_EQ(raw.Pixels()[0], 0);
    EXPECT_EQ(raw.Pixels()[(96 * 128 - 1) * 4], 65535);

    TRawImage full;
    ASSERT_EQ(full.LoadFromFile(file), 0);
    EXPECT_EQ(full.Width(), 256);
    EXPECT_EQ(full.Height(), 192);
}

// The two greens of each Bayer cell differ: 20000 on the red rows, 30000 on the blue rows.
TEST_F(RawFileTest, TheTwoGreensStayApartAtHalfSizeAndAreOneAtFullSize) {
    TDngDescription d;
    d.Sample = [](int x, int y) -> std::uint16_t {
        if ((x & 1) == (y & 1)) return 25000; // red and blue
        return (y & 1) == 0 ? 20000 : 30000;
    };
    const QByteArray name = QFile::encodeName(Write("greens.dng", MakeDng(d)));
    for (const bool half : {true, false}) {
        SCOPED_TRACE(half ? "half size" : "full size");
        vekraw_handle h = vekraw_init();
        ASSERT_NE(h, nullptr);
        vekraw_set_halfsize(h, half ? 1 : 0);
        vekraw_load(h, name.constData());
        ASSERT_NE(vekraw_get_is_raw(h), 0);
        std::int32_t w = 0, ht = 0;
        const float* asShot = nullptr;
        const float* daylight = nullptr;
        const std::uint16_t* px = vekraw_get_image(h, &w, &ht, &asShot, &daylight);
        ASSERT_NE(px, nullptr);
        ASSERT_EQ(w, half ? 128 : 256);
        ASSERT_EQ(ht, half ? 96 : 192);
        const std::size_t mid = (std::size_t(ht / 2) * std::size_t(w) + std::size_t(w / 2)) * 4;
        if (half) {
            // Each cell keeps both of its greens; the program averages them after its curves.
            EXPECT_NEAR(px[mid + 1], 20000, 2);
            EXPECT_NEAR(px[mid + 3], 30000, 2);
        } else {
            EXPECT_EQ(px[mid + 3], px[mid + 1]);
        }
        EXPECT_NEAR(px[mid + 0], 25000, 2);
        EXPECT_NEAR(px[mid + 2], 25000, 2);
        vekraw_unload(h);
        EXPECT_EQ(vekraw_get_image(h, &w, &ht, &asShot, &daylight), nullptr);
        EXPECT_EQ(w, 0);
        vekraw_finalize(h);
    }
}

TEST_F(RawFileTest, GreyPatchDevelopsAsTheCurvesPredict) {
    const QString file = Write("bands.dng", MakeDng(Bands()));
    TBitmap32 bmp;
    TVekImageSettings s;
    s.HalfSize = true;
    ASSERT_EQ(LoadRawImage(file, bmp, s), 0);
    ASSERT_EQ(bmp.Width(), 128);
    ASSERT_EQ(bmp.Height(), 96);
    const double stretched = std::nearbyint(24000 / (49000 / 65535.0));
    const int grey = int(std::nearbyint(ReferenceTone(stretched, 1.0, 0.37f, 0.37f) / 65535 * 255));
    EXPECT_EQ(bmp.Pixel(10, 50), Color32(0, 0, 0));
    EXPECT_EQ(bmp.Pixel(48, 50), Color32(grey, grey, grey));
    EXPECT_EQ(bmp.Pixel(100, 50), Color32(255, 255, 255));
    EXPECT_GT(grey, 128); // mid-grey is brightened
}

TEST_F(RawFileTest, CameraMultipliersComeFromAsShotNeutral) {
    TDngDescription d = Bands();
    d.AsShotNeutral = {0.5, 1.0, 0.8};
    const QString file = Write("wb.dng", MakeDng(d));
    TRawImage raw;
    TVekImageSettings s;
    s.HalfSize = true;
    raw.ApplySettings(s);
    ASSERT_EQ(raw.LoadFromFile(file), 0);
    const auto& cm = raw.CameraMultipliers(); // blue, green, second green, red
    ASSERT_GT(cm[1], 0.0f);
    EXPECT_NEAR(cm[0] / cm[1], 1.25, 0.01);
    EXPECT_NEAR(cm[2] / cm[1], 1.0, 0.01);
    EXPECT_NEAR(cm[3] / cm[1], 2.0, 0.01);
    TBitmap32 bmp;
    raw.RenderTo(bmp);
    const TColor32 p = bmp.Pixel(48, 50);
    EXPECT_GT(RedOf(p), BlueOf(p));
    EXPECT_GT(BlueOf(p), GreenOf(p));
    // Off camera white balance the temperature decides.
    s.CameraWhiteBalance = false;
    s.Temperature = 5600;
    raw.ApplySettings(s);
    TBitmap32 other;
    raw.RenderTo(other);
    EXPECT_NE(other.Pixel(48, 50), p);
}

TEST_F(RawFileTest, OrientationIsRecordedButNotApplied) {
    TDngDescription d = Bands();
    d.Orientation = 6;
    const QString file = Write("rot.dng", MakeDng(d));
    TRawImage raw;
    TVekImageSettings s;
    s.HalfSize = true;
    raw.ApplySettings(s);
    ASSERT_EQ(raw.LoadFromFile(file), 0);
    EXPECT_NE(raw.Flip(), 0);
    EXPECT_EQ(raw.Width(), 128);
    EXPECT_EQ(raw.Height(), 96);
}

TEST_F(RawFileTest, RenderWithoutPixelsEmptiesTheBitmap) {
    TRawImage raw;
    TBitmap32 bmp(5, 5);
    raw.RenderTo(bmp);
    EXPECT_TRUE(bmp.Empty());
}

TEST_F(RawFileTest, ResetRestoresTheAdapterDefaults) {
    TRawImage raw;
    TVekImageSettings s;
    s.Temperature = 3000;
    s.Curve = {{0, 0}, {255, 255}};
    raw.ApplySettings(s);
    EXPECT_EQ(raw.Settings().Temperature, 3000);
    raw.Reset();
    EXPECT_EQ(raw.Settings().Temperature, 5400);
    EXPECT_FLOAT_EQ(raw.Settings().Gamma, 0.38f);
    EXPECT_FALSE(raw.Settings().CameraWhiteBalance);
    EXPECT_TRUE(raw.Settings().Curve.empty());
    EXPECT_EQ(raw.MaxLevel(), 65535);
    EXPECT_EQ(raw.MinLevel(), 0);
    EXPECT_EQ(raw.CameraMultipliers()[0], 1.0f);
}

struct TBadCase {
    const char* Name;
    const char* File;
    int Expected;
};

class RawBadInputTest : public RawFileTest, public ::testing::WithParamInterface<TBadCase> {
protected:
    QByteArray Content(const std::string& name) {
        if (name == "ZeroByte") return {};
        if (name == "Truncated") return MakeDng(Bands()).left(40000);
        if (name == "HeaderOnly") return MakeDng(Bands()).left(600);
        if (name == "Jpeg") {
            const QString p = Save(MakePattern(64, 48).get(), FIF_JPEG, m_dir.path() + "/j.jpg");
            return ReadFile(p);
        }
        if (name == "PlainTiff") {
            const QString p = Save(MakePattern(64, 48).get(), FIF_TIFF, m_dir.path() + "/t.tif");
            return ReadFile(p);
        }
        if (name == "CfaTiffWithoutDngTags") {
            TDngDescription d = Bands();
            d.DngTags = false;
            return MakeDng(d);
        }
        if (name == "AllLevelsEqual") {
            TDngDescription d;
            d.Sample = [](int, int) -> std::uint16_t { return 1000; };
            return MakeDng(d);
        }
        if (name == "AllBlack") {
            TDngDescription d;
            d.Sample = [](int, int) -> std::uint16_t { return 0; };
            return MakeDng(d);
        }
        if (name == "AbsurdSize") {
            TDngDescription d = Bands();
            d.HeaderWidth = 60000;
            d.HeaderHeight = 60000;
            return MakeDng(d);
        }
        if (name == "HugeWidth") {
            TDngDescription d = Bands();
            d.HeaderWidth = 0x7FFFFFFF;
            return MakeDng(d);
        }
        if (name == "Garbage") {
            QByteArray g(5000, '\0');
            for (int i = 0; i < g.size(); ++i) g[i] = char((i * 7919) >> 3);
            return g;
        }
        return {};
    }
};

TEST_P(RawBadInputTest, IsRejectedWithoutTouchingTheBitmap) {
    const TBadCase& c = GetParam();
    const QString file = Write(c.File, Content(c.Name));
    TBitmap32 bmp(3, 2);
    TVekImageSettings s;
    for (bool half : {true, false}) {
        s.HalfSize = half;
        EXPECT_EQ(LoadRawImage(file, bmp, s), c.Expected) << half;
        EXPECT_EQ(bmp.Width(), 3);
    }
    TRawImage raw;
    EXPECT_EQ(raw.LoadFromFile(file), c.Expected);
    EXPECT_EQ(raw.Pixels(), nullptr);
    EXPECT_EQ(raw.Width(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RawBadInputTest,
    ::testing::Values(TBadCase{"ZeroByte", "empty.cr2", 2}, TBadCase{"Truncated", "cut.dng", 2},
                      TBadCase{"HeaderOnly", "head.dng", 2}, TBadCase{"Jpeg", "photo.nef", 2},
                      TBadCase{"PlainTiff", "plain.tif", 2},
                      TBadCase{"AllLevelsEqual", "flat.dng", 2},
                      TBadCase{"AllBlack", "black.dng", 2}, TBadCase{"AbsurdSize", "huge.dng", 2},
                      TBadCase{"HugeWidth", "wide.dng", 2}, TBadCase{"Garbage", "noise.raw", 2}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(RawFileTest, MissingFileIsOne) {
    TBitmap32 bmp;
    EXPECT_EQ(LoadRawImage(m_dir.path() + "/nothing.nef", bmp, TVekImageSettings()), 1);
    TRawImage raw;
    EXPECT_EQ(raw.LoadFromFile(QString()), 1);
}

TEST_F(RawFileTest, ReloadAfterFailureAndAfterSuccess) {
    const QString good = Write("good.dng", MakeDng(Bands()));
    const QString bad = Write("bad.dng", QByteArray("not a raw file"));
    TRawImage raw;
    ASSERT_EQ(raw.LoadFromFile(good), 0);
    EXPECT_EQ(raw.LoadFromFile(bad), 2);
    EXPECT_EQ(raw.Pixels(), nullptr);
    EXPECT_EQ(raw.Histogram(0)[25000], 0u);
    ASSERT_EQ(raw.LoadFromFile(good), 0);
    EXPECT_EQ(raw.Width(), 256);
}

// ---- Through the loader --------------------------------------------------------------------

TEST_F(RawFileTest, LoaderTakesADngAsRawWithItsInfoLines) {
    const QString file = Write("cam.dng", MakeDng(Bands()));
    TVekImageLoaderPro loader;
    loader.Settings().HalfSize = true;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_TRUE(PumpUntil([&] { return rec.Finished() == 2; }));
    EXPECT_EQ(loader.Status(), TImageLoaderProStatus::ilSucces);
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikRaw);
    EXPECT_EQ(loader.PageCount(), 1);
    // FreeImage never saw it.
    EXPECT_EQ(loader.MultiBitmap(), nullptr);
    EXPECT_EQ(loader.SingleBitmap(), nullptr);
    EXPECT_EQ(loader.Bitmap().Width(), 128);
    EXPECT_EQ(loader.Bitmap().Height(), 96);
    const QStringList& info = loader.InfoList();
    ASSERT_EQ(info.size(), 5);
    EXPECT_EQ(info[0], "Image format: RAW Image format;");
    EXPECT_EQ(info[2], "Width: 128 pixels;");
    EXPECT_EQ(info[3], "Height: 96 pixels;");
    EXPECT_EQ(info[4], "Bits per pixel: 16 bits;");
}

TEST_F(RawFileTest, LoaderSendsARejectedFileOnToFreeImage) {
    const QString file = Save(MakePattern(64, 48).get(), FIF_TIFF, m_dir.path() + "/rgb.tif");
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    ASSERT_TRUE(PumpUntil([&] { return rec.Finished() >= 1; }));
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikTiff);
    EXPECT_NE(loader.MultiBitmap(), nullptr);
}

// ---- Pictures whose size changes while they are developed -------------------------------

// A DNG found by the fuzzer: a diagonal (Fuji-style) sensor layout on 32 x 24 photosites,
// which LibRaw turns upright into a smaller picture than the one it first allocated.
QString DiagonalSensorFixture() {
    return QStringLiteral(PICTREL_LOADING_FIXTURES) + "/fuzz-raw-image-smaller-than-size.dng";
}

// Pretends the system has `bytes` available while it lives.
class TRawFakeMemory {
public:
    explicit TRawFakeMemory(std::uint64_t bytes) { SetAvailableMemoryForTesting(bytes); }
    ~TRawFakeMemory() { SetAvailableMemoryForTesting(0); }
    TRawFakeMemory(const TRawFakeMemory&) = delete;
    TRawFakeMemory& operator=(const TRawFakeMemory&) = delete;
};

class RawResizedPictureTest : public ::testing::TestWithParam<bool> {};

// The decoder hands out the picture as LibRaw left it, never the size it started from:
// every sample it reports lies in the buffer (ASan checks the reads).
TEST_P(RawResizedPictureTest, DecoderReportsThePictureItHolds) {
    const bool half = GetParam();
    const QByteArray name = QFile::encodeName(DiagonalSensorFixture());
    vekraw_handle h = vekraw_init();
    ASSERT_NE(h, nullptr);
    vekraw_set_halfsize(h, half ? 1 : 0);
    vekraw_load(h, name.constData());
    ASSERT_TRUE(vekraw_get_is_raw(h));
    std::int32_t w = 0, hh = 0;
    const float* a = nullptr;
    const float* b = nullptr;
    const std::uint16_t* samples = vekraw_get_image(h, &w, &hh, &a, &b);
    ASSERT_NE(samples, nullptr);
    // Turned upright: narrower and taller than the 40 x 39 (20 x 19) first allocated.
    EXPECT_EQ(w, half ? 11 : 21);
    EXPECT_EQ(hh, half ? 15 : 33);
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < std::size_t(w) * std::size_t(hh) * 4; ++i) sum += samples[i];
    EXPECT_GT(sum, 0u);
    vekraw_finalize(h);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RawResizedPictureTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Half" : "Full"; });

TEST(RawResizedPicture, DevelopsAtTheSizeTheDecoderHolds) {
    TRawImage raw;
    ASSERT_EQ(raw.LoadFromFile(DiagonalSensorFixture()), TRawImage::kLoaded);
    EXPECT_EQ(raw.Width(), 21);
    EXPECT_EQ(raw.Height(), 33);
    std::uint64_t counted = 0;
    for (int c = 0; c < 4; ++c)
        for (int v = 0; v < 65536; ++v) counted += raw.Histogram(c)[v];
    EXPECT_EQ(counted, 4u * 21u * 33u);
    TBitmap32 bitmap;
    raw.RenderTo(bitmap);
    EXPECT_EQ(bitmap.Width(), 21);
    EXPECT_EQ(bitmap.Height(), 33);
}

TEST(RawResizedPicture, LoaderEndsWithoutReadingPastTheBuffer) {
    TVekImageLoaderPro loader;
    TLoaderRecorder rec(loader);
    ASSERT_TRUE(rec.OpenAndWait(DiagonalSensorFixture()));
    ASSERT_TRUE(PumpUntil([&] { return rec.Finished() == 2; }));
    EXPECT_EQ(loader.Status(), TImageLoaderProStatus::ilSucces);
    EXPECT_EQ(loader.ImageKind(), TVekImageKind::ikRaw);
    EXPECT_EQ(loader.Bitmap().Width(), 21);
    EXPECT_EQ(loader.Bitmap().Height(), 33);
}

// The buffer check that keeps the decoder within LibRaw's picture.
struct TBufferCase {
    const char* Name;
    std::uint64_t Bytes, Width, Height;
    bool Holds;
};

class RawBufferCheckTest : public ::testing::TestWithParam<TBufferCase> {};

TEST_P(RawBufferCheckTest, RefusesASizeTheBufferDoesNotHold) {
    const TBufferCase& c = GetParam();
    EXPECT_EQ(BufferHoldsPixels(c.Bytes, c.Width, c.Height, 8), c.Holds);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RawBufferCheckTest,
    ::testing::Values(TBufferCase{"Exact", 21 * 33 * 8, 21, 33, true},
                      TBufferCase{"WithTheManagersMargin", 21 * 33 * 8 + 1024, 21, 33, true},
                      // The fuzzer's file: 40 x 39 claimed, 6,720 bytes there.
                      TBufferCase{"ClaimedLargerThanAllocated", 6720, 40, 39, false},
                      TBufferCase{"OnePixelShort", 21 * 33 * 8 - 8, 21, 33, false},
                      TBufferCase{"OneByteShort", 21 * 33 * 8 - 1, 21, 33, false},
                      TBufferCase{"ProductOverflows", 1 << 20, std::uint64_t(1) << 40,
                                  std::uint64_t(1) << 40, false},
                      TBufferCase{"NoBuffer", 0, 1, 1, false},
                      TBufferCase{"NoPixels", 0, 0, 5, true}),
    [](const auto& info) { return std::string(info.param.Name); });

// The loader's memory rule applies to RAW pictures at their peak of 20 bytes a pixel
// and 2 a sensor sample.
struct TRawLimitCase {
    const char* Name;
    std::uint64_t Available, RawSamples, Width, Height;
    bool Within;
};

class RawImageLimitTest : public ::testing::TestWithParam<TRawLimitCase> {};

TEST_P(RawImageLimitTest, CountsThePeakOfADecode) {
    const TRawLimitCase& c = GetParam();
    const TRawFakeMemory fake(c.Available);
    EXPECT_EQ(WithinRawImageLimit(c.RawSamples, c.Width, c.Height), c.Within);
}

constexpr std::uint64_t kMiB = std::uint64_t(1) << 20;
constexpr std::uint64_t kGiB = std::uint64_t(1) << 30;

INSTANTIATE_TEST_SUITE_P(
    Cases, RawImageLimitTest,
    ::testing::Values(
        // 24 megapixels: 48 MB of sensor data and 480 MB at the peak.
        TRawLimitCase{"CameraOnADesktop", 8 * kGiB, 6000 * 4000, 6000, 4000, true},
        TRawLimitCase{"CameraOnATinyMachine", 512 * kMiB, 6000 * 4000, 6000, 4000, false},
        // Three quarters of 1 MiB: 786,432 bytes = 1,000 x 36 pixels and 33,216 samples.
        TRawLimitCase{"AtTheShare", kMiB, 33216, 1000, 36, true},
        TRawLimitCase{"OneSampleAbove", kMiB, 33217, 1000, 36, false},
        TRawLimitCase{"AbsurdSensor", 1024 * kGiB, std::uint64_t(1) << 40, 10, 10, false},
        TRawLimitCase{"AbsurdSide", 1024 * kGiB, 100, (std::uint64_t(1) << 20) + 1, 1, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(RawFileTest, PictureAboveTheMemoryRuleIsNotDecoded) {
    const QString file = Write("bands.dng", MakeDng(Bands()));
    TRawImage raw;
    {
        // 256 x 192 at full size needs about 1 MB at its peak; 1 MiB gives 768 KiB.
        const TRawFakeMemory fake(kMiB);
        EXPECT_EQ(raw.LoadFromFile(file), TRawImage::kNotRaw);
        EXPECT_EQ(raw.Pixels(), nullptr);
    }
    {
        const TRawFakeMemory fake(4 * kMiB);
        EXPECT_EQ(raw.LoadFromFile(file), TRawImage::kLoaded);
        EXPECT_EQ(raw.Width(), 256);
    }
}

} // namespace
