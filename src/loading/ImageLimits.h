#pragma once

#include <cstdint>

// The largest picture the loader accepts: 2^28 pixels (for example 16384 x 16384),
// whose 32-bit bitmap takes 1 GiB. Larger pictures are refused before any pixel is
// decoded where the format tells its size up front, so a header that claims absurd
// dimensions ends as an error instead of an allocation the machine cannot serve.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t(1) << 28;

[[nodiscard]] constexpr bool WithinImageLimit(std::uint64_t width, std::uint64_t height) {
    return width <= kMaxImagePixels && height <= kMaxImagePixels &&
           width * height <= kMaxImagePixels;
}
