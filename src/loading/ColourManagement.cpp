#include "loading/ColourManagement.h"

#include "gfx/Bitmap32.h"
#include "gfx/SplitWork.h"

#include <lcms2.h>
#include <zlib.h>

#include <QCryptographicHash>
#include <QFile>
#include <QString>

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

// A made transform, or null when the pair cannot be converted; kept per pair.
TTransformPtr TransformFor(const QByteArray& source, const QByteArray& display) {
    static std::map<QByteArray, TTransformPtr> cache;
    const QByteArray key = QCryptographicHash::hash(source, QCryptographicHash::Sha1) +
                           QCryptographicHash::hash(display, QCryptographicHash::Sha1);
    {
        std::lock_guard lock(StateMutex());
        if (const auto at = cache.find(key); at != cache.end()) return at->second;
    }
    TTransformPtr transform;
    const TProfilePtr from = OpenProfile(source);
    const TProfilePtr to = OpenProfile(display);
    if (from && to && cmsGetColorSpace(from.get()) == cmsSigRgbData &&
        cmsGetColorSpace(to.get()) == cmsSigRgbData) {
        // No one-pixel cache: one transform serves several workers at once.
        void* made = cmsCreateTransform(from.get(), TYPE_BGRA_8, to.get(), TYPE_BGRA_8,
                                        INTENT_PERCEPTUAL, cmsFLAGS_NOCACHE | cmsFLAGS_COPY_ALPHA);
        if (made != nullptr) transform = TTransformPtr(made, TTransformFree());
    }
    std::lock_guard lock(StateMutex());
    cache.emplace(key, transform);
    return transform;
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

bool ConvertToDisplayColours(TBitmap32& bitmap, const QByteArray& sourceProfile,
                             const QByteArray& displayProfile) {
    if (sourceProfile.isEmpty() || bitmap.Empty()) return false;
    // Both the same: nothing to do (the common case costs no transform at all).
    if (sourceProfile == displayProfile ||
        (IsSrgbProfile(sourceProfile) && IsSrgbProfile(displayProfile)))
        return false;
    const TTransformPtr transform = TransformFor(sourceProfile, displayProfile);
    if (!transform) return false;
    const int width = bitmap.Width(), height = bitmap.Height();
    SplitWork(height, std::int64_t(width) * height >= 1 << 20, [&](int first, int last) {
        for (int y = first; y < last; ++y)
            cmsDoTransform(transform.get(), bitmap.ScanLine(y), bitmap.ScanLine(y),
                           cmsUInt32Number(width));
    });
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
    // The colour chunks come before the picture data; the headers are small.
    const QByteArray head = file.read(kMaxProfileBytes);
    if (!head.startsWith("\x89PNG\r\n\x1a\n")) return {};
    QByteArray gama, chrm;
    for (qsizetype at = 8; at + 12 <= head.size();) {
        const std::uint32_t length = BigEndian32(head.constData() + at);
        const QByteArray type = head.mid(at + 4, 4);
        if (length > std::uint32_t(head.size() - at - 12)) break;
        const QByteArray data = head.mid(at + 8, qsizetype(length));
        if (type == "IDAT" || type == "IEND") break;
        if (type == "sRGB") return {};
        if (type == "iCCP") {
            // A name of 1..79 characters, its end, the compression method (0), the data.
            const qsizetype end = data.indexOf('\0');
            if (end < 1 || end > 79 || end + 2 > data.size() || data[end + 1] != 0) return {};
            return Inflate(data.mid(end + 2), kMaxProfileBytes);
        }
        if (type == "gAMA") gama = data;
        if (type == "cHRM") chrm = data;
        at += 12 + qsizetype(length);
    }
    if (gama.isEmpty() && chrm.isEmpty()) return {};
    return ProfileFromChunks(gama, chrm);
}
