#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

class TBitmap32;

// Colour management of decoded pictures: a picture with an embedded ICC profile is
// converted from its colours to the display's (its ICC profile, or sRGB when the
// display has none). Untagged pictures, pictures tagged sRGB shown on an sRGB display,
// and pictures whose profile is damaged or not an RGB one are left as they are: a
// profile never makes a picture fail to show.

// Converts `bitmap` (8-bit BGRA as decoded, alpha kept) from `sourceProfile` to
// `displayProfile` (sRGB when empty). False when nothing was done. The transforms are
// made once per pair of profiles and kept; safe from any thread.
bool ConvertToDisplayColours(TBitmap32& bitmap, const QByteArray& sourceProfile,
                             const QByteArray& displayProfile);

// The conversion of one picture's colours, prepared once and applied to its rows as
// they come: from several threads at once, on different rows.
class TColourConversion {
public:
    TColourConversion() = default;
    // None (false) for an untagged picture, matching profiles, an sRGB picture on an
    // sRGB display, and a profile that is damaged or not an RGB one.
    [[nodiscard]] static TColourConversion Between(const QByteArray& sourceProfile,
                                                   const QByteArray& displayProfile);
    explicit operator bool() const noexcept { return m_impl != nullptr; }
    // Converts rows [first, last) of `bitmap` in place.
    void Rows(TBitmap32& bitmap, int first, int last) const;

private:
    struct TImpl;
    std::shared_ptr<const TImpl> m_impl;
};

// The colour profile of a PNG file, which FreeImage does not give: its iCCP profile;
// none with an sRGB chunk; else one made from its gAMA and cHRM chunks; else none.
[[nodiscard]] QByteArray ReadPngColourProfile(const QString& fileName);

// Whether `profile` describes sRGB (by its description, as colour tools name it).
[[nodiscard]] bool IsSrgbProfile(const QByteArray& profile);

// The display's profile for the run, as the platform reports it; empty means sRGB.
// Set on the GUI thread at start (and when it changes); read from any thread.
void SetDisplayProfile(const QByteArray& profile);
[[nodiscard]] QByteArray DisplayProfile();

// A colour space's primaries and white point as CIE 1931 xy.
struct TChromaticities {
    double RedX, RedY, GreenX, GreenY, BlueX, BlueY, WhiteX, WhiteY;
};

// The tone curves a built profile can have (the same curve on all three channels).
enum class TProfileCurve : std::uint8_t {
    pcSrgb,  // IEC 61966-2-1
    pcGamma, // a plain power curve of the given exponent (1: linear light)
};

// An ICC profile (matrix and tone curves) of the RGB space with `chromaticities`, for
// pictures that tell their colours by code points instead of a profile. Made once per
// set of values and kept; empty when the values make no space (a degenerate triangle,
// a white point outside it). Safe from any thread.
[[nodiscard]] QByteArray MakeRgbProfile(const TChromaticities& chromaticities, TProfileCurve curve,
                                        double gamma = 1.0);
