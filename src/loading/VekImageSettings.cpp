#include "loading/VekImageSettings.h"

void TVekImageSettings::Reset() {
    HalfSize = false;
    Interpolation = 0;
    Temperature = 5600;
    Green = 0.98f;
    CameraWhiteBalance = true;
    Gamma = 0.37f;
    LinearLimit = 0.37f;
    Exposure = 1.0f;
    Gain = 1.0f;
    Curve.clear();
    BackgroundColor = 0xFFFFFFFFu;
    ToneMapGamma = 2.2f;
    ToneMapExposure = 0.0f;
    ExifOrientation = true;
}
