#pragma once

#include "gfx/Color32.h"

#include <cstdint>
#include <vector>

// One point of the RAW base curve, on the 0..255 scale.
struct TCurvePoint {
    int X = 0;
    int Y = 0;
    bool operator==(const TCurvePoint&) const = default;
};

// The per-loader settings: RAW development values, the background used when alpha is
// combined, the parameters of the tone mapping of high-bit-depth pictures, and whether
// pictures are turned as the camera recorded them.
class TVekImageSettings {
public:
    TVekImageSettings() { Reset(); }

    // Back to the defaults.
    void Reset();

    bool HalfSize;
    std::int32_t Interpolation;
    std::int32_t Temperature; // kelvin
    float Green;
    bool CameraWhiteBalance;
    float Gamma;
    float LinearLimit;
    float Exposure; // stops
    float Gain;
    std::vector<TCurvePoint> Curve;
    TColor32 BackgroundColor;
    float ToneMapGamma;
    float ToneMapExposure;
    // Turn and mirror a picture by the orientation its camera recorded (EXIF), so that
    // it arrives upright; the user's own quarter turns come on top of that.
    bool ExifOrientation = true;
    // Convert pictures with an embedded colour profile to the display's colours.
    bool ColourManagement = true;

    bool operator==(const TVekImageSettings&) const = default;
};
