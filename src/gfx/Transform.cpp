#include "gfx/Transform.h"

#include <algorithm>
#include <cmath>

void TAffineTransformation::Translate(double dx, double dy) {
    C += dx;
    F += dy;
}

void TAffineTransformation::Scale(double sx, double sy) {
    A *= sx;
    B *= sx;
    C *= sx;
    D *= sy;
    E *= sy;
    F *= sy;
}

void TAffineTransformation::Rotate(double cx, double cy, double degrees) {
    // Exact sines for quarter turns, so turned pictures land on whole pixels.
    double s, c;
    const double q = degrees / 90.0;
    if (q == std::floor(q)) {
        const long long k = ((static_cast<long long>(q) % 4) + 4) % 4;
        const double sines[4] = {0, 1, 0, -1};
        const double cosines[4] = {1, 0, -1, 0};
        s = sines[k];
        c = cosines[k];
    } else {
        const double rad = degrees * M_PI / 180.0;
        s = std::sin(rad);
        c = std::cos(rad);
    }
    Translate(-cx, -cy);
    // Counter-clockwise on a y-down screen: (x, y) -> (x c + y s, -x s + y c).
    const TAffineTransformation m = *this;
    A = c * m.A + s * m.D;
    B = c * m.B + s * m.E;
    C = c * m.C + s * m.F;
    D = -s * m.A + c * m.D;
    E = -s * m.B + c * m.E;
    F = -s * m.C + c * m.F;
    Translate(cx, cy);
}

TFloatRect TAffineTransformation::TransformRect(const TFloatRect& r) const {
    const double xs[4] = {r.Left, r.Right, r.Left, r.Right};
    const double ys[4] = {r.Top, r.Top, r.Bottom, r.Bottom};
    TFloatRect out{1e300, 1e300, -1e300, -1e300};
    for (int i = 0; i < 4; ++i) {
        double x, y;
        Transform(xs[i], ys[i], x, y);
        out.Left = std::min(out.Left, x);
        out.Top = std::min(out.Top, y);
        out.Right = std::max(out.Right, x);
        out.Bottom = std::max(out.Bottom, y);
    }
    return out;
}

bool TAffineTransformation::IsAxisAligned() const {
    return (B == 0 && D == 0 && A != 0 && E != 0) || (A == 0 && E == 0 && B != 0 && D != 0);
}
