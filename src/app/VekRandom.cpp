#include "app/VekRandom.h"

#include <chrono>

namespace {

// Spreads the bits of a seed over the whole state, so that nearby seeds (clock
// ticks, small test numbers) start far apart in the sequence.
std::uint64_t Mix(std::uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

std::uint64_t ClockSeed() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch();
    return Mix(std::uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()) ^
               (std::uint64_t(ticks.count()) << 17));
}

} // namespace

// Seeded when the program starts, before anything can draw a number.
std::uint64_t vekrandom_detail::State = ClockSeed();

void Randomize() {
    vekrandom_detail::State = ClockSeed();
}

void RandSeed(std::uint32_t seed) {
    vekrandom_detail::State = Mix(seed);
}
