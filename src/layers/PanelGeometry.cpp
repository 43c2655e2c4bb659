#include "layers/PanelGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

TPanelLocation Deflated(TPanelLocation r, float by) {
    r.Left += by;
    r.Top += by;
    r.Right -= by;
    r.Bottom -= by;
    return r;
}

bool Inside(const TPanelLocation& r, int x, int y) {
    return float(x) >= r.Left && float(x) < r.Right && float(y) >= r.Top && float(y) < r.Bottom;
}

// Fixed-point sums and differences are taken in 64 bits so that far-off panels
// cannot overflow; the results fit again once halved or divided.
std::int32_t Mid(std::int32_t a, std::int32_t b) {
    return std::int32_t((std::int64_t(a) + b) / 2);
}

TFixedPoint Mid(TFixedPoint a, TFixedPoint b) {
    return {Mid(a.X, b.X), Mid(a.Y, b.Y)};
}

std::int64_t Deviation(TFixedPoint a, TFixedPoint b, TFixedPoint c) {
    const auto d = [](std::int32_t u, std::int32_t v) { return std::llabs(std::int64_t(u) - v); };
    return d(a.X, b.X) + d(a.Y, b.Y) + d(b.X, c.X) + d(b.Y, c.Y);
}

std::int32_t TowardThird(std::int32_t v, std::int32_t other) {
    return std::int32_t(v - (std::int64_t(v) - other) / 3);
}

TFixedPolygon ToFixedPolygon(std::initializer_list<std::pair<double, double>> points) {
    TFixedPolygon result;
    result.reserve(points.size());
    for (const auto& [x, y] : points) result.push_back({ToFixed(x), ToFixed(y)});
    return result;
}

} // namespace

int RoundToInt(double v) {
    return ClampToInt(std::nearbyint(v));
}

TRect OutsideRect(const TPanelLocation& r) {
    return OutsideRect(TFloatRect{r.Left, r.Top, r.Right, r.Bottom});
}

TRect NearestRect(const TPanelLocation& r) {
    return {RoundToInt(r.Left), RoundToInt(r.Top), RoundToInt(r.Right), RoundToInt(r.Bottom)};
}

THitZone HitZone(const TPanelLocation& location, const TPanelFrame& frame, int x, int y) {
    const TRect outside = OutsideRect(location);
    if (!outside.Contains(x, y)) return THitZone::hzNone;
    TPanelLocation q = location;
    if (frame.ShowBorder) q = Deflated(q, float(frame.BorderWidth + 1));
    if (!Inside(q, x, y)) {
        // The border band: the corners take a few pixels along each edge, so that
        // a thin border is still easy to grab diagonally.
        const int g = frame.BorderWidth + 1;
        const bool nearLeft = std::abs(outside.Left - x) <= g;
        const bool nearRight = std::abs(outside.Right - 1 - x) <= g;
        const bool nearTop = std::abs(outside.Top - y) <= g;
        const bool nearBottom = std::abs(outside.Bottom - 1 - y) <= g;
        if (nearBottom && nearRight) return THitZone::hzBottomRight;
        if (nearBottom && nearLeft) return THitZone::hzBottomLeft;
        if (nearTop && nearRight) return THitZone::hzTopRight;
        if (nearTop && nearLeft) return THitZone::hzTopLeft;
        if (nearRight) return THitZone::hzRight;
        if (nearBottom) return THitZone::hzBottom;
        if (nearLeft) return THitZone::hzLeft;
        if (nearTop) return THitZone::hzTop;
        return THitZone::hzNone;
    }
    if (frame.ShowCaption) q.Top += float(frame.CaptionHeight + frame.BorderWidth);
    return Inside(q, x, y) ? THitZone::hzClient : THitZone::hzCaption;
}

TPanelLocation ClientArea(const TPanelLocation& location, const TPanelFrame& frame) {
    TPanelLocation r = location;
    if (frame.ShowBorder) r = Deflated(r, float(frame.BorderWidth));
    if (frame.ShowCaption) r.Top += float(frame.CaptionHeight + frame.BorderWidth);
    return r;
}

TRect ClientRect(const TPanelLocation& location, const TPanelFrame& frame) {
    return NearestRect(ClientArea(location, frame));
}

std::optional<TPanelLocation> DragStep(const TPanelLocation& location, THitZone zone,
                                       const TDragRules& rules, int fromX, int fromY, int x,
                                       int y) {
    TPanelLocation r = location;
    if (rules.Movable && zone == THitZone::hzCaption) {
        const auto dx = float(x - fromX);
        const auto dy = float(y - fromY);
        r.Left += dx;
        r.Right += dx;
        r.Top += dy;
        r.Bottom += dy;
        if (r.Top < 0) {
            r.Bottom -= r.Top;
            r.Top = 0;
        }
        if (r.Left < 0) {
            r.Right -= r.Left;
            r.Left = 0;
        }
        return r;
    }
    if (!rules.Resizable || !IsSizingZone(zone)) return std::nullopt;

    const TRect old = OutsideRect(location);
    const auto fx = float(x);
    const auto fy = float(y);
    const float clampedX = std::max(fx, 0.0f);
    const float clampedY = std::max(fy, 0.0f);
    switch (zone) {
    case THitZone::hzTopLeft:
        r.Left = clampedX;
        r.Top = clampedY;
        break;
    case THitZone::hzTop:
        r.Top = clampedY;
        break;
    case THitZone::hzTopRight:
        r.Right = fx;
        r.Top = clampedY;
        break;
    case THitZone::hzRight:
        r.Right = fx;
        break;
    case THitZone::hzBottomRight:
        r.Right = fx;
        r.Bottom = fy;
        break;
    case THitZone::hzBottom:
        r.Bottom = fy;
        break;
    case THitZone::hzBottomLeft:
        r.Left = clampedX;
        r.Bottom = fy;
        break;
    case THitZone::hzLeft:
        r.Left = clampedX;
        break;
    default:
        break;
    }
    if (r.Right - r.Left < float(rules.MinWidth)) {
        r.Left = float(old.Left);
        r.Right = float(old.Left + rules.MinWidth);
    }
    if (r.Bottom - r.Top < float(rules.MinHeight)) {
        r.Top = float(old.Top);
        r.Bottom = float(old.Top + rules.MinHeight);
    }
    return r;
}

std::int32_t ToFixed(double v) {
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    const double f = std::nearbyint(v * kFixedOne);
    if (!(f > lo)) return std::numeric_limits<std::int32_t>::min(); // also NaN
    if (f > hi) return std::numeric_limits<std::int32_t>::max();
    return std::int32_t(f);
}

void FlattenQuadratic(TFixedPoint p0, TFixedPoint p1, TFixedPoint p2, std::int32_t tolerance,
                      TFixedPolygon& out) {
    if (p0 == p1 || p1 == p2) {
        out.push_back(p1);
        out.push_back(p2);
        return;
    }
    const TFixedPoint m01 = Mid(p0, p1);
    const TFixedPoint m12 = Mid(p1, p2);
    const TFixedPoint m = Mid(m01, m12);
    // Halving shrinks every deviation, so the recursion ends; the guard against
    // points that no longer move keeps degenerate input from looping.
    if (Deviation(p0, m01, m) > tolerance && !(m01 == p0 && m == p0)) {
        FlattenQuadratic(p0, m01, m, tolerance, out);
    } else {
        out.push_back(m01);
        out.push_back(m);
    }
    if (Deviation(m, m12, p2) > tolerance && !(m12 == p2 && m == p2)) {
        FlattenQuadratic(m, m12, p2, tolerance, out);
    } else {
        out.push_back(m12);
        out.push_back(p2);
    }
}

TFixedPolygon RoundCorners(const TFixedPolygon& contour, std::int32_t tolerance) {
    TFixedPolygon result;
    const std::size_t n = contour.size();
    for (std::size_t j = 0; j < n; ++j) {
        const TFixedPoint v = contour[j];
        const TFixedPoint p = contour[(j + n - 1) % n];
        const TFixedPoint next = contour[(j + 1) % n];
        const TFixedPoint a{TowardThird(v.X, p.X), TowardThird(v.Y, p.Y)};
        const TFixedPoint b{TowardThird(v.X, next.X), TowardThird(v.Y, next.Y)};
        FlattenQuadratic(a, v, b, tolerance, result);
    }
    return result;
}

TFixedPolygon WithoutCollinearPoints(const TFixedPolygon& contour) {
    TFixedPolygon result;
    result.reserve(contour.size());
    const std::size_t n = contour.size();
    for (std::size_t j = 0; j < n; ++j) {
        const TFixedPoint a = result.empty() ? contour[(j + n - 1) % n] : result.back();
        const TFixedPoint b = contour[j];
        const TFixedPoint c = contour[(j + 1) % n];
        const std::int64_t abx = std::int64_t(b.X) - a.X, aby = std::int64_t(b.Y) - a.Y;
        const std::int64_t bcx = std::int64_t(c.X) - b.X, bcy = std::int64_t(c.Y) - b.Y;
        // On the line and going on the same way (a point where the outline turns back
        // stays). Fixed-point differences take 33 bits, so their products 128.
        const bool onLine = __int128(abx) * bcy == __int128(aby) * bcx;
        const bool onward = __int128(abx) * bcx + __int128(aby) * bcy > 0 || (abx == 0 && aby == 0);
        if (onLine && onward && n - j + result.size() > 3) continue;
        result.push_back(b);
    }
    return result;
}

TFixedPolygon BodyOutline(const TPanelLocation& r, double scale) {
    const double l = r.Left, t = r.Top, rt = double(r.Right) - scale, b = double(r.Bottom) - scale,
                 leg = 13 * scale;
    return ToFixedPolygon({{l, t + leg},
                           {l, t},
                           {l + leg, t},
                           {rt - leg, t},
                           {rt, t},
                           {rt, t + leg},
                           {rt, b - leg},
                           {rt, b},
                           {rt - leg, b},
                           {l + leg, b},
                           {l, b},
                           {l, b - leg}});
}

int CaptionTop(const TPanelLocation& r, double scale) {
    return RoundToInt(double(r.Top) + 2 * scale);
}

TFixedPolygon CaptionOutline(const TPanelLocation& r, const TPanelFrame& frame, double scale) {
    const double cl = double(r.Left) + 2 * scale, ct = double(r.Top) + 2 * scale,
                 cr = double(r.Right) - 2 * scale - scale;
    const double cb = ct + (frame.CaptionHeight + frame.BorderWidth - 1) * scale;
    const double top = 13 * scale, bottom = 5 * scale;
    return ToFixedPolygon({{cl, ct + top},
                           {cl, ct},
                           {cl + top, ct},
                           {cr - top, ct},
                           {cr, ct},
                           {cr, ct + top},
                           {cr, cb - bottom},
                           {cr, cb},
                           {cr - bottom, cb},
                           {cl + bottom, cb},
                           {cl, cb},
                           {cl, cb - bottom}});
}

std::vector<std::uint8_t> CaptionGradientAlphas(const TPanelFrame& frame, int alpha, double scale) {
    const int logical = frame.CaptionHeight + frame.BorderWidth - 1;
    const int h = scale == 1.0 ? logical : RoundToInt(logical * scale);
    if (h <= 0) return {};
    std::vector<std::uint8_t> rows(std::size_t(h), 0);
    for (int k = 0; k < h; ++k) {
        const int a = RoundToInt(double(k) / h * alpha);
        rows[std::size_t(h - 1 - k)] = std::uint8_t(std::clamp(a, 0, 255));
    }
    return rows;
}
