#include "loading/RawImage.h"

#include "gfx/Bitmap32.h"
#include "gfx/SplitWork.h"
#include "loading/SmoothSpline.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kLevels = 65536;

// Runs body(first, last) over [0, count) split between this thread and a second
// one: the per-pixel passes of a development are independent and memory-bound.
template <typename Body>
void ForPixels(std::size_t count, const Body& body) {
    SplitWork(count, count >= (1u << 16), body);
}

// round-half-to-even clamped to 0..65535; NaN counts as 0.
std::uint16_t Clamp16(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 65535.0) return 65535;
    return std::uint16_t(std::nearbyint(v));
}

// Negative or meaningless multipliers (a damaged file, an extreme setting) count as 0,
// which the normalisation then lifts.
double Sane(double v) {
    return std::isfinite(v) && v > 0.0 ? v : 0.0;
}

// The chromaticity fit of the illuminant is made for about 1,667 to 25,000 K; beyond a
// wider margin it only produces nonsense (and 0 K divides by zero).
constexpr int kMinTemperature = 1000;
constexpr int kMaxTemperature = 40000;

} // namespace

TRawImage::TRawImage() : m_histogram(std::size_t(4) * kLevels, 0) {
    Reset();
}

TRawImage::~TRawImage() = default;

void TRawImage::FreeData() {
    m_pixels.reset();
    m_handle.reset();
    m_width = m_height = 0;
    std::fill(m_histogram.begin(), m_histogram.end(), 0u);
}

void TRawImage::Reset() {
    FreeData();
    m_fileName.clear();
    m_maxLevel = 65535;
    m_minLevel = 0;
    m_flip = 0;
    m_daylight.fill(1.0f);
    m_camera.fill(1.0f);
    m_settings.Reset();
    m_settings.Temperature = 5400;
    m_settings.Green = 0.98f;
    m_settings.Gain = 1.0f;
    m_settings.Exposure = 1.0f;
    m_settings.Gamma = 0.38f;
    m_settings.LinearLimit = 0.37f;
    m_settings.Curve.clear();
    m_settings.HalfSize = false;
    m_settings.CameraWhiteBalance = false;
    m_settings.Interpolation = 0;
}

void TRawImage::ApplySettings(const TVekImageSettings& s) {
    m_settings.HalfSize = s.HalfSize;
    m_settings.Interpolation = s.Interpolation;
    m_settings.Temperature = s.Temperature;
    m_settings.Green = s.Green;
    m_settings.CameraWhiteBalance = s.CameraWhiteBalance;
    m_settings.Gain = s.Gain;
    m_settings.Gamma = s.Gamma;
    m_settings.LinearLimit = s.LinearLimit;
    m_settings.Exposure = s.Exposure;
    m_settings.Curve = s.Curve;
}

int TRawImage::LoadFromFile(const QString& fileName) {
    FreeData();
    if (fileName.isEmpty() || !QFileInfo::exists(fileName)) return kMissing;
    int result = kNotRaw;
    try {
        result = Load(fileName);
    } catch (...) {
        result = kNotRaw;
    }
    if (m_handle) vekraw_unload(m_handle.get());
    if (result != kLoaded) {
        // A picture that failed half-way is not kept.
        m_pixels.reset();
        m_width = m_height = 0;
    }
    return result;
}

int TRawImage::Load(const QString& fileName) {
    m_handle.reset(vekraw_init());
    vekraw_set_halfsize(m_handle.get(), m_settings.HalfSize ? 1 : 0);
    vekraw_set_interpolation(m_handle.get(), m_settings.Interpolation);
    const QByteArray name = QFile::encodeName(fileName);
    vekraw_load(m_handle.get(), name.constData());
    if (!vekraw_get_is_raw(m_handle.get())) return kNotRaw;

    m_fileName = fileName;
    std::int32_t w = 0, h = 0;
    const float* asShot = nullptr;
    const float* daylight = nullptr;
    const std::uint16_t* samples = vekraw_get_image(m_handle.get(), &w, &h, &asShot, &daylight);
    if (!samples || w <= 0 || h <= 0 || !asShot || !daylight) return kNotRaw;
    // Library order red, green, blue, second green; ours blue, green, second green, red.
    m_daylight = {daylight[2], daylight[1], daylight[3], daylight[0]};
    m_camera = {asShot[2], asShot[1], asShot[3], asShot[0]};
    // vekraw holds exactly w x h pixels (it refuses a picture its buffer does not hold):
    // every pass below walks this one count.
    const std::size_t pixels = std::size_t(w) * std::size_t(h);
    const std::size_t count = pixels * 4;
    m_width = w;
    m_height = h;
    BuildHistograms(samples, pixels);
    ComputeLevels();
    m_flip = vekraw_get_flip(m_handle.get());

    // The samples are copied out of the decoder already stretched.
    const TTable stretch = StretchTable(m_minLevel, m_maxLevel);
    if (stretch.empty()) return kNotRaw;
    m_pixels = std::make_unique_for_overwrite<std::uint16_t[]>(count);
    std::uint16_t* p = m_pixels.get();
    ForPixels(count, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) p[i] = stretch[samples[i]];
    });
    return kLoaded;
}

void TRawImage::BuildHistograms(const std::uint16_t* samples, std::size_t count) {
    // Each half counts into its own table; the two are added afterwards.
    std::vector<std::uint32_t> second(m_histogram.size(), 0u);
    std::fill(m_histogram.begin(), m_histogram.end(), 0u);
    ForPixels(count, [&](std::size_t first, std::size_t last) {
        std::uint32_t* r = first == 0 ? m_histogram.data() : second.data();
        std::uint32_t* g = r + kLevels;
        std::uint32_t* b = g + kLevels;
        std::uint32_t* g2 = b + kLevels;
        const std::uint16_t* p = samples + first * 4;
        for (std::size_t i = first; i < last; ++i, p += 4) {
            ++r[p[0]];
            ++g[p[1]];
            ++b[p[2]];
            ++g2[p[3]];
        }
    });
    for (std::size_t i = 0; i < second.size(); ++i) m_histogram[i] += second[i];
}

void TRawImage::ComputeLevels() {
    int maxLevel = 0;
    int minLevel = 65535;
    for (int c = 0; c < 4; ++c) {
        const std::uint32_t* hist = Histogram(c);
        int hi = 65535;
        while (hi > 31 && hist[hi] == 0) --hi;
        // 0 and 1 are left out: they are dead or unexposed photosites.
        int lo = 2;
        while (lo < 65504 && hist[lo] == 0) ++lo;
        maxLevel = std::max(maxLevel, hi);
        minLevel = std::min(minLevel, lo);
    }
    m_maxLevel = std::uint16_t(maxLevel);
    m_minLevel = std::uint16_t(minLevel);
}

TRawImage::TTable TRawImage::StretchTable(std::uint16_t minLevel, std::uint16_t maxLevel) {
    // An empty range has nothing to stretch; an inverted one (no sample above 1 at all)
    // would turn a black frame white.
    if (maxLevel <= minLevel) return {};
    const double scale = (double(maxLevel) - double(minLevel)) / 65535.0;
    TTable table(kLevels);
    for (int v = 0; v < kLevels; ++v) table[v] = Clamp16((v - double(minLevel)) / scale);
    return table;
}

TRawImage::TRgb TRawImage::NormaliseMultipliers(TRgb m) {
    for (double& v : m) v = Sane(v);
    double lo = std::min({m[0], m[1], m[2]});
    if (lo == 0.0) {
        for (double& v : m) v += 1.0;
        lo = std::min({m[0], m[1], m[2]});
    }
    for (double& v : m) v /= lo;
    const double hi = std::max({m[0], m[1], m[2]});
    if (hi > 8.0)
        for (double& v : m) v *= 8.0 / hi;
    return m;
}

TRawImage::TRgb TRawImage::TemperatureMultipliers(int temperature, double green,
                                                  const TRgb& daylight) {
    const std::int64_t t = std::clamp(temperature, kMinTemperature, kMaxTemperature);
    const double t2 = double(t * t);
    const double t3 = double(t * t * t);
    double x;
    if (t <= 4000)
        x = 2.7475e8 / t3 - 985980 / t2 + 1174.44 / double(t) + 0.145986;
    else if (t <= 7000)
        x = -4.607e9 / t3 + 2.9678e6 / t2 + 99.11 / double(t) + 0.244063;
    else
        x = -2.0064e9 / t3 + 1.9018e6 / t2 + 247.48 / double(t) + 0.23704;
    const double y = -3 * x * x + 2.87 * x - 0.275;
    const double cx = x / y;
    const double cy = 1.0;
    const double cz = (1 - x - y) / y;
    std::array<double, 3> rgb = {
        3.24071 * cx - 1.53726 * cy - 0.498571 * cz,
        -0.969258 * cx + 1.87599 * cy + 0.0415557 * cz,
        0.0556352 * cx - 0.203996 * cy + 1.05707 * cz,
    };
    double largest = 0.0;
    for (double v : rgb) largest = std::max(largest, v);
    for (double& v : rgb) v = largest > 0.0 ? std::max(v, 0.0) / largest : 1.0;
    return {daylight[0] * rgb[2], daylight[1] * rgb[1] * green, daylight[2] * rgb[0]};
}

double TRawImage::ExposureK(double e) {
    auto f = [](double k) { return k / (1 - std::exp(-k)); };
    double k = e >= 2 ? e : (e - 1) / 2;
    // Converges geometrically; the cap only guards against values that cannot.
    for (int step = 1; step <= 100000; ++step) {
        k += e - f(k);
        if (step >= 100 && std::fabs(f(k) - e) <= 0.001) break;
    }
    return k;
}

TRawImage::TTable TRawImage::BaseCurve(const std::vector<TCurvePoint>& curve) {
    TTable c(kLevels);
    auto identity = [&] {
        for (int j = 0; j < kLevels; ++j) c[j] = std::uint16_t(j);
    };
    if (curve.size() < 2) {
        identity();
    } else if (curve.size() == 2) {
        const double y0 = curve[0].Y;
        const double y1 = curve[1].Y;
        const double span = std::fabs(y0 - y1) / 255.0;
        const double base = std::min(y0, y1) / 255.0 * 65535.0;
        for (int j = 0; j < kLevels; ++j) c[j] = Clamp16(j * span + base);
    } else {
        try {
            const TpSmoothSpline spline(curve);
            for (int j = 0; j < kLevels; ++j) c[j] = Clamp16(spline.Value(j / 65535.0) * 65535.0);
        } catch (const ETpSmoothSpline&) {
            // A curve that does not span 0..255, or that no spline fits, is ignored.
            identity();
        }
    }
    return c;
}

TRawImage::TTable TRawImage::ToneTable(const TVekImageSettings& s) {
    const double g = s.Gamma;
    const double l = s.LinearLimit;
    double e = 0, a = 0, b = 0, slope = 1;
    if (l < 1) {
        e = g * (1 - l) / (1 - g * l);
        a = 1 / (1 + l * (e - 1));
        b = l * (e - 1) * a;
        // Without a linear segment the slope is never used.
        slope = l > 0 ? std::pow(a * l + b, e) / l : 1;
    }

    // Exposures beyond +-1000 stops would overflow 2^x.
    const double stops = std::isnan(s.Exposure) ? 0.0 : std::clamp(double(s.Exposure), -1e3, 1e3);
    const double ex = std::exp2(stops);
    const bool exposure = ex > 1;
    const double k = exposure ? ExposureK(ex) : 0;
    const double norm = exposure ? 1 - std::exp(-k) : 1;

    const TTable base = BaseCurve(s.Curve);
    const double linearEnd = l * 65536;
    TTable t(kLevels);
    for (int j = 0; j < kLevels; ++j) {
        const int i = exposure ? Clamp16((1 - std::exp(-k * j / 65536.0)) / norm * 65535) : j;
        const double v = base[i];
        t[j] = v < linearEnd ? Clamp16(v * slope) : Clamp16(std::pow(v * a / 65536 + b, e) * 65536);
    }
    return t;
}

std::array<std::uint8_t, 65536> TRawImage::EightBitTable() {
    std::array<std::uint8_t, 65536> t{};
    for (int i = 0; i < kLevels; ++i) t[i] = std::uint8_t(std::nearbyint(i / 65535.0 * 255.0));
    return t;
}

TRawImage::TRgb TRawImage::ChannelMultipliers() const {
    TRgb m;
    if (m_settings.CameraWhiteBalance) {
        m = {m_camera[3], m_camera[1], m_camera[0]};
    } else {
        m = TemperatureMultipliers(m_settings.Temperature, m_settings.Green,
                                   {m_daylight[3], m_daylight[1], m_daylight[0]});
    }
    return NormaliseMultipliers(m);
}

void TRawImage::RenderTo(TBitmap32& bitmap) {
    if (!m_pixels || m_width <= 0 || m_height <= 0) {
        bitmap.SetSize(0, 0);
        return;
    }
    const std::size_t count = std::size_t(m_width) * std::size_t(m_height);
    auto work = std::make_unique_for_overwrite<std::uint16_t[]>(count * 4);

    const TTable t16 = ToneTable(m_settings);
    const auto t8 = EightBitTable();
    const TRgb m = ChannelMultipliers();
    // Multiplier, gain and tone table folded into one table per channel.
    std::array<TTable, 3> lut;
    for (int c = 0; c < 3; ++c) {
        const double f = m[c] * double(m_settings.Gain);
        lut[c].resize(kLevels);
        for (int v = 0; v < kLevels; ++v) lut[c][v] = t16[Clamp16(f * v)];
    }
    ForPixels(count, [&](std::size_t first, std::size_t last) {
        const std::uint16_t* in = m_pixels.get() + first * 4;
        std::uint16_t* out = work.get() + first * 4;
        for (std::size_t i = first; i < last; ++i, in += 4, out += 4) {
            out[0] = lut[0][in[0]];
            out[1] = lut[1][in[1]];
            out[2] = lut[2][in[2]];
            out[3] = lut[1][in[3]];
        }
    });
    vekraw_render_external(m_handle.get(), work.get());

    bitmap.SetSize(m_width, m_height);
    TColor32* dst = bitmap.Bits();
    ForPixels(count, [&](std::size_t first, std::size_t last) {
        const std::uint16_t* w = work.get() + first * 4;
        for (std::size_t i = first; i < last; ++i, w += 4)
            dst[i] = Color32(t8[w[0]], t8[(unsigned(w[1]) + w[3]) >> 1], t8[w[2]], 255);
    });
    bitmap.Changed();
}
