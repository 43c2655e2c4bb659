#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <functional>

namespace pictrel::test {

// A small uncompressed DNG: one IFD holding a 16-bit Bayer mosaic (red at the top left,
// then green / green / blue), with DNG version, white level, colour matrix and as-shot
// neutral. With DngTags false the same mosaic is written as a plain TIFF.
struct TDngDescription {
    int Width = 256;
    int Height = 192;
    // The CFA sample at photosite (x, y).
    std::function<std::uint16_t(int x, int y)> Sample = [](int, int) { return 1000; };
    std::array<double, 3> AsShotNeutral{1.0, 1.0, 1.0};
    // XYZ to camera; by default the camera sees sRGB primaries.
    std::array<double, 9> ColorMatrix{3.2406, -1.5372, -0.4986, -0.9689, 1.8758,
                                      0.0415, 0.0557,  -0.2040, 1.0570};
    int Orientation = 1;
    std::uint32_t WhiteLevel = 65535;
    bool DngTags = true;
    // Width and height written into the header (0: the real ones).
    std::uint32_t HeaderWidth = 0;
    std::uint32_t HeaderHeight = 0;
};

QByteArray MakeDng(const TDngDescription& d);

// The CFA sample of a picture whose colour at (x, y) is `rgb(x, y)`.
std::function<std::uint16_t(int, int)>
BayerOf(std::function<std::array<std::uint16_t, 3>(int x, int y)> rgb);

} // namespace pictrel::test
