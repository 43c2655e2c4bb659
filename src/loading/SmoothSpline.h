#pragma once

#include "loading/ETpSmoothSpline.h"
#include "loading/VekImageSettings.h"

#include <span>
#include <vector>

// A cubic spline through (or, with weights, near) a set of points.
//
// Boundary conditions: 1 prescribes the first derivative at both ends, 2 is the natural
// spline (second derivative zero at both ends), 3 is periodic (the value at the last
// knot is the value at the first, slope and curvature continue across).
//
// Weights are the standard deviations of the values: a zero weight makes the curve pass
// through its point, larger weights let it pass further away. The fit is Reinsch's: the
// curve minimises sum(((c_i - y_i) / w_i)^2) + integral(S''^2) under the boundary condition.
class TpSmoothSpline {
public:
    // The natural interpolating spline through points on the 0..255 scale, scaled to 0..1.
    // The points must be given in ascending x.
    explicit TpSmoothSpline(std::span<const TCurvePoint> points);
    // The general form; slope1 and slopeN are used by boundary condition 1 only.
    TpSmoothSpline(int count, double slope1, double slopeN, int boundary,
                   std::span<const double> knots, std::span<const double> values,
                   std::span<const double> weights);

    // The spline at t; t must lie within [First(), Last()].
    [[nodiscard]] double Value(double t) const;

    [[nodiscard]] int Count() const { return int(m_x.size()); }
    [[nodiscard]] double First() const { return m_x.front(); }
    [[nodiscard]] double Last() const { return m_x.back(); }
    [[nodiscard]] const std::vector<double>& Knots() const { return m_x; }
    [[nodiscard]] const std::vector<double>& Fitted() const { return m_c; }
    [[nodiscard]] const std::vector<double>& SecondDerivatives() const { return m_m; }

private:
    void Build(int count, double slope1, double slopeN, int boundary, std::span<const double> knots,
               std::span<const double> values, std::span<const double> weights);

    std::vector<double> m_x; // knots
    std::vector<double> m_c; // fitted values
    std::vector<double> m_m; // second derivatives
};
