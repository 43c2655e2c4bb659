#pragma once

#include <cstddef>
#include <cstdint>

// The program's one random generator: a 64-bit linear congruential generator whose
// upper 32 bits are scaled to the wanted range. It is seeded from the clock when
// the program starts; tests seed it with RandSeed to replay a sequence.
//
// GUI thread only: the effects that use it run there, and keeping it lock-free
// matters because Wind draws a number for every pixel of a frame. A worker that
// needs random numbers must bring its own generator.

namespace vekrandom_detail {
inline constexpr std::uint64_t kMultiplier = 6364136223846793005ull;
inline constexpr std::uint64_t kIncrement = 1442695040888963407ull;
extern std::uint64_t State;
} // namespace vekrandom_detail

// A uniformly distributed integer 0 ... n - 1; 0 when n <= 0.
[[nodiscard]] inline int Random(int n) {
    using namespace vekrandom_detail;
    State = State * kMultiplier + kIncrement;
    if (n <= 0) return 0;
    return int((std::uint64_t(State >> 32) * std::uint64_t(n)) >> 32);
}

// Fills out[0 ... count) with what `count` calls of Random(n) would return, in the
// same order, and leaves the generator where those calls would have left it. It
// runs four steps of the sequence side by side, which is several times faster for
// the per-pixel numbers of a whole frame (inline, so that a constant n needs no
// multiplication).
inline void RandomFill(int* out, std::size_t count, int n) {
    using namespace vekrandom_detail;
    // Four steps at once: s[k + 4] = a^4 s[k] + c (a^3 + a^2 + a + 1), modulo 2^64.
    constexpr std::uint64_t a4 = kMultiplier * kMultiplier * kMultiplier * kMultiplier;
    constexpr std::uint64_t c4 = kIncrement * (kMultiplier * kMultiplier * kMultiplier +
                                               kMultiplier * kMultiplier + kMultiplier + 1);
    const std::uint64_t range = n > 0 ? std::uint64_t(n) : 0;
    const auto scale = [range](std::uint64_t state) { return int(((state >> 32) * range) >> 32); };
    std::uint64_t s = State;
    std::size_t i = 0;
    if (count >= 8) {
        std::uint64_t l0 = s * kMultiplier + kIncrement;
        std::uint64_t l1 = l0 * kMultiplier + kIncrement;
        std::uint64_t l2 = l1 * kMultiplier + kIncrement;
        std::uint64_t l3 = l2 * kMultiplier + kIncrement;
        for (; i + 4 <= count; i += 4) {
            out[i] = scale(l0);
            out[i + 1] = scale(l1);
            out[i + 2] = scale(l2);
            out[i + 3] = scale(l3);
            s = l3;
            l0 = l0 * a4 + c4;
            l1 = l1 * a4 + c4;
            l2 = l2 * a4 + c4;
            l3 = l3 * a4 + c4;
        }
    }
    for (; i < count; ++i) {
        s = s * kMultiplier + kIncrement;
        out[i] = scale(s);
    }
    State = s;
}

// Seeds the generator from the clock (done once at program start).
void Randomize();

// Seeds the generator with a fixed value, so that a sequence can be replayed.
void RandSeed(std::uint32_t seed);
