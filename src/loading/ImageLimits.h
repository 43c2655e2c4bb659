#pragma once

#include <cstdint>

// How large a picture the loader accepts. A picture is refused, before any pixel is
// decoded where the format tells its size up front, when
// - a side is above kMaxImageSide or the pixel count above kMaxImagePixels: the
//   decoders' row and size arithmetic stays far from overflow, and a header that claims
//   absurd dimensions never reaches an allocation; or
// - its bitmap plus the decoder's working memory, counted as kImageBytesPerPixel bytes a
//   pixel, would take more than three quarters of the memory the system reports
//   available (MemAvailable), so a large panorama loads on a machine that can hold it
//   and a load never pushes the desktop into swapping.
inline constexpr std::uint64_t kMaxImageSide = std::uint64_t(1) << 20;
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t(1) << 31;
// 4 bytes of our 32-bit bitmap, and 12 for the decoder: FreeImage's own copy of the
// picture and its 32-bit conversion, or a 96-bit floating-point picture on its way to
// tone mapping.
inline constexpr std::uint64_t kImageBytesPerPixel = 16;

[[nodiscard]] bool WithinImageLimit(std::uint64_t width, std::uint64_t height);

// Whether `bytes` of working memory stay within three quarters of the available memory.
[[nodiscard]] bool WithinMemoryShare(std::uint64_t bytes);

// A camera RAW picture at its peak: the decoder keeps the sensor's data (16-bit samples,
// one a photosite for a mosaic sensor) while it holds its four-sample picture (8 bytes
// a pixel), and the developed copy (8) and the 32-bit bitmap (4) follow it.
inline constexpr std::uint64_t kRawBytesPerSample = 2;
inline constexpr std::uint64_t kRawBytesPerPixel = 20;

// The loader's rule for a RAW picture of width x height pixels decoded from `rawSamples`
// sensor samples: the same side and pixel caps, and the peak memory above.
[[nodiscard]] bool WithinRawImageLimit(std::uint64_t rawSamples, std::uint64_t width,
                                       std::uint64_t height);

// Whether a buffer of `bufferBytes` holds width x height pixels of `bytesPerPixel`
// bytes (false when the product overflows).
[[nodiscard]] bool BufferHoldsPixels(std::uint64_t bufferBytes, std::uint64_t width,
                                     std::uint64_t height, std::uint64_t bytesPerPixel);

// The memory the system can give without swapping, in bytes (MemAvailable of
// /proc/meminfo, looked up at most every quarter second).
[[nodiscard]] std::uint64_t AvailableMemory();
// Replaces the system's figure (tests); 0 returns to it.
void SetAvailableMemoryForTesting(std::uint64_t bytes);
