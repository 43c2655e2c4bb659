#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

// Integer rectangle: Left and Top inclusive, Right and Bottom exclusive.
struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;

    constexpr TRect() = default;
    constexpr TRect(int l, int t, int r, int b) : Left(l), Top(t), Right(r), Bottom(b) {}

    [[nodiscard]] constexpr int Width() const { return Right - Left; }
    [[nodiscard]] constexpr int Height() const { return Bottom - Top; }
    [[nodiscard]] constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    [[nodiscard]] constexpr bool Contains(int x, int y) const {
        return x >= Left && x < Right && y >= Top && y < Bottom;
    }
    [[nodiscard]] constexpr TRect Offset(int dx, int dy) const {
        return {Left + dx, Top + dy, Right + dx, Bottom + dy};
    }
    constexpr bool operator==(const TRect&) const = default;
};

// The common part of two rectangles; an empty rectangle when they do not meet.
[[nodiscard]] constexpr TRect Intersect(const TRect& a, const TRect& b) {
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom)};
    if (r.IsEmpty()) return {};
    return r;
}

// The smallest rectangle holding both; an empty one does not count.
[[nodiscard]] constexpr TRect Union(const TRect& a, const TRect& b) {
    if (a.IsEmpty()) return b;
    if (b.IsEmpty()) return a;
    return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
            std::max(a.Bottom, b.Bottom)};
}

// Rectangle with floating-point edges (view coordinates of a scaled picture).
struct TFloatRect {
    double Left = 0, Top = 0, Right = 0, Bottom = 0;

    [[nodiscard]] constexpr double Width() const { return Right - Left; }
    [[nodiscard]] constexpr double Height() const { return Bottom - Top; }
    [[nodiscard]] constexpr bool IsEmpty() const { return !(Right > Left) || !(Bottom > Top); }
    constexpr bool operator==(const TFloatRect&) const = default;
};

// A coordinate as an int, held to a range far outside any bitmap so that absurd
// float geometry can never overflow.
[[nodiscard]] inline int ClampToInt(double v) {
    constexpr double limit = 1 << 30;
    if (!(v > -limit)) return -(1 << 30); // also catches NaN
    if (v > limit) return 1 << 30;
    return static_cast<int>(v);
}

// The pixels a float rectangle covers: floor of the near edges, ceil of the far ones.
[[nodiscard]] inline TRect OutsideRect(const TFloatRect& r) {
    return {ClampToInt(std::floor(r.Left)), ClampToInt(std::floor(r.Top)),
            ClampToInt(std::ceil(r.Right)), ClampToInt(std::ceil(r.Bottom))};
}

[[nodiscard]] constexpr TFloatRect ToFloatRect(const TRect& r) {
    return {double(r.Left), double(r.Top), double(r.Right), double(r.Bottom)};
}
