#include "loading/ImageLimits.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<std::uint64_t> g_fakeAvailable{0};
std::atomic<std::uint64_t> g_cachedAvailable{0};
std::atomic<Clock::rep> g_cachedAt{0};

// MemAvailable, or (kernels before 3.14, no /proc) half the physical memory.
std::uint64_t ReadAvailableMemory() {
    if (std::FILE* f = std::fopen("/proc/meminfo", "re")) {
        char line[256];
        unsigned long long kib = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, f))
            found = std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1;
        std::fclose(f);
        if (found) return std::uint64_t(kib) * 1024;
    }
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return std::uint64_t(pages) * std::uint64_t(pageSize) / 2;
}

} // namespace

std::uint64_t AvailableMemory() {
    if (const std::uint64_t fake = g_fakeAvailable.load()) return fake;
    const Clock::rep now = Clock::now().time_since_epoch().count();
    const Clock::rep quarter =
        std::chrono::duration_cast<Clock::duration>(std::chrono::milliseconds(250)).count();
    const Clock::rep at = g_cachedAt.load();
    if (at != 0 && now - at < quarter) return g_cachedAvailable.load();
    const std::uint64_t available = ReadAvailableMemory();
    g_cachedAvailable.store(available);
    g_cachedAt.store(now);
    return available;
}

void SetAvailableMemoryForTesting(std::uint64_t bytes) {
    g_fakeAvailable.store(bytes);
}

namespace {

bool WithinSideAndPixelCaps(std::uint64_t width, std::uint64_t height) {
    return width <= kMaxImageSide && height <= kMaxImageSide && width * height <= kMaxImagePixels;
}

} // namespace

bool WithinMemoryShare(std::uint64_t bytes) {
    return bytes <= AvailableMemory() / 4 * 3;
}

bool WithinImageLimit(std::uint64_t width, std::uint64_t height) {
    return WithinSideAndPixelCaps(width, height) &&
           WithinMemoryShare(width * height * kImageBytesPerPixel);
}

bool WithinRawImageLimit(std::uint64_t rawSamples, std::uint64_t width, std::uint64_t height) {
    // Four samples a pixel at most; beyond that the sensor data alone breaks the cap.
    if (rawSamples > 4 * kMaxImagePixels || !WithinSideAndPixelCaps(width, height)) return false;
    return WithinMemoryShare(rawSamples * kRawBytesPerSample + width * height * kRawBytesPerPixel);
}

bool BufferHoldsPixels(std::uint64_t bufferBytes, std::uint64_t width, std::uint64_t height,
                       std::uint64_t bytesPerPixel) {
    if (width == 0 || height == 0 || bytesPerPixel == 0) return true;
    if (width > bufferBytes / bytesPerPixel / height) return false;
    return width * height * bytesPerPixel <= bufferBytes;
}
