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
// combined, and the parameters of the tone mapping of high-bit-depth pictures.
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

    bool operator==(const TVekImageSettings&) const = default;
};
