#include "loading/ColourManagement.h"

#include "gfx/Bitmap32.h"
#include "gfx/SplitWork.h"

#include <lcms2.h>
#include <zlib.h>

#include <immintrin.h>

#include <QCryptographicHash>
#include <QFile>
#include <QString>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace {

// Profiles larger than this are not trusted (a real one is a few kilobytes, a large
// lookup-table one a few hundred).
constexpr qsizetype kMaxProfileBytes = 4 << 20;

struct TProfileFree {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using TProfilePtr = std::unique_ptr<void, TProfileFree>;

struct TTransformFree {
    void operator()(void* transform) const { cmsDeleteTransform(transform); }
};
using TTransformPtr = std::shared_ptr<void>;

TProfilePtr OpenProfile(const QByteArray& bytes) {
    if (bytes.isEmpty()) return TProfilePtr(cmsCreate_sRGBProfile());
    if (bytes.size() > kMaxProfileBytes) return {};
    return TProfilePtr(cmsOpenProfileFromMem(bytes.constData(), cmsUInt32Number(bytes.size())));
}

std::mutex& StateMutex() {
    static std::mutex mutex;
    return mutex;
}

QByteArray& DisplayProfileBytes() {
    static QByteArray profile;
    return profile;
}

// A conversion between two matrix/tone-curve profiles (what cameras, phones and
// displays use: sRGB, Display P3, Adobe RGB) done by table and fixed-point matrix,
// several times faster than the general path: each sample to linear light through the
// source's curve (14 bits), the 3 x 3 matrix from the source's primaries to the
// display's, back through the display's inverse curve.
struct TMatrixShaper {
    static constexpr int kLinearBits = 14;
    static constexpr int kLinearMax = (1 << kLinearBits) - 1;
    // The display's curve is looked up at 12 bits, so its tables stay in the
    // first-level cache.
    static constexpr int kOutBits = 12;
    static constexpr int kOutMax = (1 << kOutBits) - 1;
    static constexpr int kShift = 2 * kLinearBits - kOutBits;
    // Three spare bytes behind each output table: the vector path reads four bytes at
    // an entry and keeps the first.
    using TOutTable = std::array<std::uint8_t, kOutMax + 1 + 3>;
    std::array<std::array<std::int32_t, 256>, 3> In{};
    std::array<std::int32_t, 9> Matrix{}; // Q14
    std::array<TOutTable, 3> Out{};

    void Run(TColor32* row, int width) const {
        static const bool avx2 = __builtin_cpu_supports("avx2");
        int x = avx2 ? RunAvx2(row, width) : 0;
        const std::int32_t m0 = Matrix[0], m1 = Matrix[1], m2 = Matrix[2], m3 = Matrix[3],
                           m4 = Matrix[4], m5 = Matrix[5], m6 = Matrix[6], m7 = Matrix[7],
                           m8 = Matrix[8];
        const auto out = [](const TOutTable& table, std::int32_t v) {
            v = (v + (1 << (kShift - 1))) >> kShift;
            return TColor32(table[std::size_t(v < 0 ? 0 : v > kOutMax ? kOutMax : v)]);
        };
        for (; x < width; ++x) {
            const TColor32 p = row[x];
            const std::int32_t r = In[0][p >> 16 & 0xFF], g = In[1][p >> 8 & 0xFF],
                               b = In[2][p & 0xFF];
            row[x] = (p & 0xFF000000u) | out(Out[0], m0 * r + m1 * g + m2 * b) << 16 |
                     out(Out[1], m3 * r + m4 * g + m5 * b) << 8 |
                     out(Out[2], m6 * r + m7 * g + m8 * b);
        }
    }

    // The same arithmetic on eight pixels at a time, the tables read by gathers; returns
    // how many pixels it did (a multiple of eight).
    __attribute__((target("avx2"))) int RunAvx2(TColor32* row, int width) const {
        const __m256i byte = _mm256_set1_epi32(0xFF);
        __m256i m[9];
        for (std::size_t i = 0; i < 9; ++i) m[i] = _mm256_set1_epi32(Matrix[i]);
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
            const __m256i r = _mm256_i32gather_epi32(
                In[0].data(), _mm256_and_si256(_mm256_srli_epi32(p, 16), byte), 4);
            const __m256i g = _mm256_i32gather_epi32(
                In[1].data(), _mm256_and_si256(_mm256_srli_epi32(p, 8), byte), 4);
            const __m256i b = _mm256_i32gather_epi32(In[2].data(), _mm256_and_si256(p, byte), 4);
            const __m256i red = OutLanes(m[0], m[1], m[2], r, g, b, Out[0]);
            const __m256i green = OutLanes(m[3], m[4], m[5], r, g, b, Out[1]);
            const __m256i blue = OutLanes(m[6], m[7], m[8], r, g, b, Out[2]);
            const __m256i alpha = _mm256_andnot_si256(_mm256_set1_epi32(0x00FFFFFF), p);
            _mm256_storeu_si256(
                reinterpret_cast<__m256i*>(row + x),
                _mm256_or_si256(_mm256_or_si256(alpha, _mm256_slli_epi32(red, 16)),
                                _mm256_or_si256(_mm256_slli_epi32(green, 8), blue)));
        }
        return x;
    }

    __attribute__((target("avx2"))) static __m256i OutLanes(__m256i ka, __m256i kb, __m256i kc,
                                                            __m256i r, __m256i g, __m256i b,
                                                            const TOutTable& table) {
        __m256i v = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_mullo_epi32(ka, r), _mm256_mullo_epi32(kb, g)),
            _mm256_add_epi32(_mm256_mullo_epi32(kc, b), _mm256_set1_epi32(1 << (kShift - 1))));
        v = _mm256_srai_epi32(v, kShift);
        v = _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()),
                             _mm256_set1_epi32(kOutMax));
        return _mm256_and_si256(
            _mm256_i32gather_epi32(reinterpret_cast<const int*>(table.data()), v, 1),
            _mm256_set1_epi32(0xFF));
    }
};
using TMatrixShaperPtr = std::shared_ptr<const TMatrixShaper>;

// The profile's colorants (columns: red, green, blue) and tone curves, when it is a
// matrix/curve RGB profile.
bool ReadMatrixShaper(cmsHPROFILE profile, double matrix[3][3], const cmsToneCurve* curves[3]) {
    if (cmsGetColorSpace(profile) != cmsSigRgbData || !cmsIsMatrixShaper(profile)) return false;
    const cmsTagSignature colorants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                          cmsSigBlueColorantTag};
    const cmsTagSignature trcs[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, colorants[c]));
        curves[c] = static_cast<const cmsToneCurve*>(cmsReadTag(profile, trcs[c]));
        if (xyz == nullptr || curves[c] == nullptr) return false;
        matrix[0][c] = xyz->X;
        matrix[1][c] = xyz->Y;
        matrix[2][c] = xyz->Z;
    }
    return true;
}

TMatrixShaperPtr MakeMatrixShaper(cmsHPROFILE from, cmsHPROFILE to) {
    double a[3][3], b[3][3];
    const cmsToneCurve *inCurves[3], *outCurves[3];
    if (!ReadMatrixShaper(from, a, inCurves) || !ReadMatrixShaper(to, b, outCurves)) return {};
    // The display's matrix inverted (by cofactors), times the source's.
    const double det = b[0][0] * (b[1][1] * b[2][2] - b[1][2] * b[2][1]) -
                       b[0][1] * (b[1][0] * b[2][2] - b[1][2] * b[2][0]) +
                       b[0][2] * (b[1][0] * b[2][1] - b[1][1] * b[2][0]);
    if (std::abs(det) < 1e-9) return {};
    double inv[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            inv[i][j] = (b[r0][c0] * b[r1][c1] - b[r0][c1] * b[r1][c0]) / det;
        }
    auto shaper = std::make_shared<TMatrixShaper>();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double m = 0;
            for (int k = 0; k < 3; ++k) m += inv[i][k] * a[k][j];
            if (std::abs(m) > 8) return {};
            shaper->Matrix[std::size_t(3 * i + j)] =
                std::int32_t(std::lround(m * (1 << TMatrixShaper::kLinearBits)));
        }
    for (int c = 0; c < 3; ++c) {
        for (int v = 0; v < 256; ++v)
            shaper->In[std::size_t(c)][std::size_t(v)] = std::int32_t(std::lround(
                std::clamp(double(cmsEvalToneCurveFloat(inCurves[c], float(v / 255.0))), 0.0, 1.0) *
                TMatrixShaper::kLinearMax));
        cmsToneCurve* reverse = cmsReverseToneCurve(outCurves[c]);
        if (reverse == nullptr) return {};
        for (int v = 0; v <= TMatrixShaper::kOutMax; ++v)
            shaper->Out[std::size_t(c)][std::size_t(v)] = std::uint8_t(
                std::lround(std::clamp(double(cmsEvalToneCurveFloat(
                                           reverse, float(double(v) / TMatrixShaper::kOutMax))),
                                       0.0, 1.0) *
                            255));
        cmsFreeToneCurve(reverse);
    }
    return shaper;
}

// What converts one pair: the fast matrix path, else a general transform; neither when
// the pair cannot be converted.
struct TConversion {
    TMatrixShaperPtr Shaper;
    TTransformPtr Transform;
};

// The conversion of a pair of profiles, made once and kept.
TConversion TransformFor(const QByteArray& source, const QByteArray& display) {
    static std::map<QByteArray, TConversion> cache;
    const QByteArray key = QCryptographicHash::hash(source, QCryptographicHash::Sha1) +
                           QCryptographicHash::hash(display, QCryptographicHash::Sha1);
    {
        std::lock_guard lock(StateMutex());
        if (const auto at = cache.find(key); at != cache.end()) return at->second;
    }
    TConversion conversion;
    const TProfilePtr from = OpenProfile(source);
    const TProfilePtr to = OpenProfile(display);
    if (from && to) conversion.Shaper = MakeMatrixShaper(from.get(), to.get());
    if (!conversion.Shaper && from && to && cmsGetColorSpace(from.get()) == cmsSigRgbData &&
        cmsGetColorSpace(to.get()) == cmsSigRgbData) {
        // No one-pixel cache: one transform serves several workers at once.
        void* made = cmsCreateTransform(from.get(), TYPE_BGRA_8, to.get(), TYPE_BGRA_8,
                                        INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE | cmsFLAGS_COPY_ALPHA);
        if (made != nullptr) conversion.Transform = TTransformPtr(made, TTransformFree());
    }
    std::lock_guard lock(StateMutex());
    cache.emplace(key, conversion);
    return conversion;
}

QString Description(const QByteArray& bytes) {
    const TProfilePtr profile = OpenProfile(bytes);
    if (!profile) return {};
    char text[256] = {};
    cmsGetProfileInfoASCII(profile.get(), cmsInfoDescription, "en", "US", text, sizeof text);
    return QString::fromLatin1(text);
}

} // namespace

bool IsSrgbProfile(const QByteArray& profile) {
    if (profile.isEmpty()) return true;
    static std::map<QByteArray, bool> known;
    const QByteArray key = QCryptographicHash::hash(profile, QCryptographicHash::Sha1);
    {
        std::lock_guard lock(StateMutex());
        if (const auto at = known.find(key); at != known.end()) return at->second;
    }
    const bool srgb = Description(profile).contains(QLatin1String("sRGB"), Qt::CaseInsensitive);
    std::lock_guard lock(StateMutex());
    known.emplace(key, srgb);
    return srgb;
}

struct TColourConversion::TImpl {
    TConversion Conversion;
};

TColourConversion TColourConversion::Between(const QByteArray& sourceProfile,
                                             const QByteArray& displayProfile) {
    TColourConversion result;
    if (sourceProfile.isEmpty()) return result;
    // Both the same: nothing to do (the common case costs no transform at all).
    if (sourceProfile == displayProfile ||
        (IsSrgbProfile(sourceProfile) && IsSrgbProfile(displayProfile)))
        return result;
    TConversion conversion = TransformFor(sourceProfile, displayProfile);
    if (conversion.Shaper || conversion.Transform)
        result.m_impl = std::make_shared<const TImpl>(TImpl{std::move(conversion)});
    return result;
}

void TColourConversion::Rows(TBitmap32& bitmap, int first, int last) const {
    if (!m_impl) return;
    const TConversion& conversion = m_impl->Conversion;
    const int width = bitmap.Width();
    for (int y = std::max(first, 0); y < std::min(last, bitmap.Height()); ++y) {
        if (conversion.Shaper)
            conversion.Shaper->Run(bitmap.ScanLine(y), width);
        else
            cmsDoTransform(conversion.Transform.get(), bitmap.ScanLine(y), bitmap.ScanLine(y),
                           cmsUInt32Number(width));
    }
}

bool ConvertToDisplayColours(TBitmap32& bitmap, const QByteArray& sourceProfile,
                             const QByteArray& displayProfile) {
    if (bitmap.Empty()) return false;
    const TColourConversion conversion = TColourConversion::Between(sourceProfile, displayProfile);
    if (!conversion) return false;
    SplitWork(bitmap.Height(), std::int64_t(bitmap.Width()) * bitmap.Height() >= 1 << 20,
              [&](int first, int last) { conversion.Rows(bitmap, first, last); });
    return true;
}

void SetDisplayProfile(const QByteArray& profile) {
    std::lock_guard lock(StateMutex());
    DisplayProfileBytes() = profile;
}

QByteArray DisplayProfile() {
    std::lock_guard lock(StateMutex());
    return DisplayProfileBytes();
}

namespace {

std::uint32_t BigEndian32(const char* p) {
    return std::uint32_t(std::uint8_t(p[0])) << 24 | std::uint32_t(std::uint8_t(p[1])) << 16 |
           std::uint32_t(std::uint8_t(p[2])) << 8 | std::uint32_t(std::uint8_t(p[3]));
}

// The zlib stream `packed` unpacked, at most `limit` bytes; empty when it is broken.
QByteArray Inflate(const QByteArray& packed, qsizetype limit) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return {};
    QByteArray out(limit, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
    stream.avail_in = uInt(packed.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = inflate(&stream, Z_FINISH);
    const auto produced = qsizetype(stream.total_out);
    inflateEnd(&stream);
    if (status != Z_STREAM_END) return {};
    out.truncate(produced);
    return out;
}

// A profile made from a PNG's gAMA and cHRM chunks (the missing one as sRGB has it).
QByteArray ProfileFromChunks(const QByteArray& gama, const QByteArray& chrm) {
    double gamma = 1 / 2.2;
    if (gama.size() == 4) gamma = BigEndian32(gama.constData()) / 100000.0;
    if (gamma <= 0.01 || gamma > 10) return {};
    cmsCIExyY white{0.3127, 0.3290, 1};
    cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
    if (chrm.size() == 32) {
        const auto at = [&](int i) { return BigEndian32(chrm.constData() + 4 * i) / 100000.0; };
        white = {at(0), at(1), 1};
        primaries = {{at(2), at(3), 1}, {at(4), at(5), 1}, {at(6), at(7), 1}};
    }
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 1 / gamma);
    if (curve == nullptr) return {};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    if (profile == nullptr) return {};
    cmsUInt32Number size = 0;
    QByteArray bytes;
    if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
        bytes.resize(qsizetype(size));
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
    }
    cmsCloseProfile(profile);
    return bytes;
}

} // namespace

QByteArray ReadPngColourProfile(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return {};
    if (file.read(8) != QByteArray("\x89PNG\r\n\x1a\n", 8)) return {};
    // The colour chunks come before the picture data: only chunk headers are read on
    // the way there, and the data of the chunks that tell the colours.
    QByteArray gama, chrm;
    for (;;) {
        const QByteArray header = file.read(8);
        if (header.size() != 8) break;
        const std::uint32_t length = BigEndian32(header.constData());
        const QByteArray type = header.mid(4, 4);
        if (type == "IDAT" || type == "IEND" || length > file.size() - file.pos() - 4) break;
        if (type == "sRGB") return {};
        if (type != "iCCP" && type != "gAMA" && type != "cHRM") {
            if (!file.seek(file.pos() + qint64(length) + 4)) break;
            continue;
        }
        if (length > std::uint32_t(kMaxProfileBytes)) break;
        const QByteArray data = file.read(qint64(length));
        if (data.size() != qsizetype(length) || !file.seek(file.pos() + 4)) break;
        if (type == "iCCP") {
            // A name of 1..79 characters, its end, the compression method (0), the data.
            const qsizetype end = data.indexOf('\0');
            if (end < 1 || end > 79 || end + 2 > data.size() || data[end + 1] != 0) return {};
            return Inflate(data.mid(end + 2), kMaxProfileBytes);
        }
        (type == "gAMA" ? gama : chrm) = data;
    }
    if (gama.isEmpty() && chrm.isEmpty()) return {};
    return ProfileFromChunks(gama, chrm);
}

QByteArray MakeRgbProfile(const TChromaticities& c, TProfileCurve curve, double gamma) {
    const double values[] = {c.RedX,  c.RedY,   c.GreenX, c.GreenY,      c.BlueX,
                             c.BlueY, c.WhiteX, c.WhiteY, double(curve), gamma};
    for (int i = 0; i < 8; i += 2)
        if (!(values[i] >= 0 && values[i + 1] > 0 && values[i] + values[i + 1] <= 1)) return {};
    if (curve == TProfileCurve::pcGamma && !(gamma >= 0.1 && gamma <= 10)) return {};
    static std::map<QByteArray, QByteArray> made;
    const QByteArray key(reinterpret_cast<const char*>(values), sizeof values);
    {
        std::lock_guard lock(StateMutex());
        if (const auto at = made.find(key); at != made.end()) return at->second;
    }
    const cmsCIExyY white{c.WhiteX, c.WhiteY, 1};
    const cmsCIExyYTRIPLE primaries{
        {c.RedX, c.RedY, 1}, {c.GreenX, c.GreenY, 1}, {c.BlueX, c.BlueY, 1}};
    // sRGB's curve: a power of 2.4 above a linear toe.
    const double srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* tone = curve == TProfileCurve::pcSrgb
                             ? cmsBuildParametricToneCurve(nullptr, 4, srgb)
                             : cmsBuildGamma(nullptr, gamma);
    if (tone == nullptr) return {};
    cmsToneCurve* curves[3] = {tone, tone, tone};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(tone);
    QByteArray bytes;
    if (profile != nullptr) {
        // Named for what it is, so it is never taken for sRGB itself.
        cmsMLU* text = cmsMLUalloc(nullptr, 1);
        if (text != nullptr && cmsMLUsetASCII(text, "en", "US", "RGB from primaries and curve"))
            cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
        if (text != nullptr) cmsMLUfree(text);
        cmsUInt32Number size = 0;
        if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
            bytes.resize(qsizetype(size));
            if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
        }
        cmsCloseProfile(profile);
    }
    std::lock_guard lock(StateMutex());
    made.emplace(key, bytes);
    return bytes;
}
