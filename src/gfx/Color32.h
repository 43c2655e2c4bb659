#pragma once

#include <cstdint>

// A pixel: one 32-bit word 0xAARRGGBB, not premultiplied. In memory on a
// little-endian machine its bytes are B, G, R, A.
using TColor32 = std::uint32_t;

[[nodiscard]] constexpr TColor32 Color32(int r, int g, int b, int a = 255) {
    return (TColor32(a & 0xFF) << 24) | (TColor32(r & 0xFF) << 16) | (TColor32(g & 0xFF) << 8) |
           TColor32(b & 0xFF);
}
[[nodiscard]] constexpr int AlphaOf(TColor32 c) {
    return int(c >> 24);
}
[[nodiscard]] constexpr int RedOf(TColor32 c) {
    return int((c >> 16) & 0xFF);
}
[[nodiscard]] constexpr int GreenOf(TColor32 c) {
    return int((c >> 8) & 0xFF);
}
[[nodiscard]] constexpr int BlueOf(TColor32 c) {
    return int(c & 0xFF);
}
[[nodiscard]] constexpr TColor32 WithAlpha(TColor32 c, int a) {
    return (c & 0x00FFFFFFu) | (TColor32(a & 0xFF) << 24);
}

constexpr TColor32 clBlack32 = 0xFF000000u;
constexpr TColor32 clWhite32 = 0xFFFFFFFFu;
constexpr TColor32 clTransparent32 = 0x00000000u;
