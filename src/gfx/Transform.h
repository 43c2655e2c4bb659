#pragma once

#include "gfx/Geometry.h"

// An affine map from source pixel coordinates to destination coordinates:
//     x' = A*x + B*y + C,   y' = D*x + E*y + F.
// Each operation is applied after the ones before it (Rotate, then Scale, then
// Translate maps a point through the rotation first).
class TAffineTransformation {
public:
    double A = 1, B = 0, C = 0;
    double D = 0, E = 1, F = 0;

    void Clear() { *this = TAffineTransformation(); }
    void Translate(double dx, double dy);
    void Scale(double sx, double sy);
    void Scale(double s) { Scale(s, s); }
    // Turns by `degrees` about (cx, cy); positive angles turn counter-clockwise on
    // screen (y grows downward). Multiples of 90 are exact.
    void Rotate(double cx, double cy, double degrees);

    void Transform(double x, double y, double& outX, double& outY) const {
        outX = A * x + B * y + C;
        outY = D * x + E * y + F;
    }
    // The bounds of a source rectangle after the map.
    [[nodiscard]] TFloatRect TransformRect(const TFloatRect& r) const;
    // Whether the map keeps axes on axes (only quarter turns, mirroring, scaling and
    // translation): either B and D are 0, or A and E are.
    [[nodiscard]] bool IsAxisAligned() const;
};
