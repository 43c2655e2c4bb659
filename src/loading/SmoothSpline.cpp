#include "loading/SmoothSpline.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace {

const char* const kBadArray = "Incorrect input array.";
const char* const kBadBoundary = "Incorrect boundary condition.";
const char* const kBadArgument = "Incorrect argument.";

// A dense square matrix, row-major.
struct TMatrix {
    explicit TMatrix(std::size_t n) : N(n), A(n * n, 0.0) {}
    double& operator()(std::size_t r, std::size_t c) { return A[r * N + c]; }
    double operator()(std::size_t r, std::size_t c) const { return A[r * N + c]; }
    std::size_t N;
    std::vector<double> A;
};

// Solves a x = b by Gaussian elimination with partial pivoting; false when singular.
bool Solve(TMatrix a, std::vector<double>& b) {
    const std::size_t n = a.N;
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t pivot = k;
        for (std::size_t r = k + 1; r < n; ++r)
            if (std::fabs(a(r, k)) > std::fabs(a(pivot, k))) pivot = r;
        if (!(std::fabs(a(pivot, k)) > 1e-300)) return false;
        if (pivot != k) {
            for (std::size_t c = k; c < n; ++c) std::swap(a(k, c), a(pivot, c));
            std::swap(b[k], b[pivot]);
        }
        for (std::size_t r = k + 1; r < n; ++r) {
            const double f = a(r, k) / a(k, k);
            if (f == 0.0) continue;
            for (std::size_t c = k; c < n; ++c) a(r, c) -= f * a(k, c);
            b[r] -= f * b[k];
        }
    }
    for (std::size_t k = n; k-- > 0;) {
        double s = b[k];
        for (std::size_t c = k + 1; c < n; ++c) s -= a(k, c) * b[c];
        b[k] = s / a(k, k);
    }
    return std::all_of(b.begin(), b.end(), [](double v) { return std::isfinite(v); });
}

} // namespace

TpSmoothSpline::TpSmoothSpline(std::span<const TCurvePoint> points) {
    std::vector<double> x, y;
    x.reserve(points.size());
    y.reserve(points.size());
    for (const TCurvePoint& p : points) {
        x.push_back(p.X / 255.0);
        y.push_back(p.Y / 255.0);
    }
    const std::vector<double> w(points.size(), 0.0);
    Build(int(points.size()), 0.0, 0.0, 2, x, y, w);
}

TpSmoothSpline::TpSmoothSpline(int count, double slope1, double slopeN, int boundary,
                               std::span<const double> knots, std::span<const double> values,
                               std::span<const double> weights) {
    Build(count, slope1, slopeN, boundary, knots, values, weights);
}

void TpSmoothSpline::Build(int count, double slope1, double slopeN, int boundary,
                           std::span<const double> knots, std::span<const double> values,
                           std::span<const double> weights) {
    if (count < 3) throw ETpSmoothSpline(kBadArray);
    const auto n = std::size_t(count);
    if (knots.size() < n || values.size() < n || weights.size() < n)
        throw ETpSmoothSpline(kBadArray);
    if (boundary < 1 || boundary > 3) throw ETpSmoothSpline(kBadBoundary);
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(knots[i]) || !std::isfinite(values[i]) || !std::isfinite(weights[i]))
            throw ETpSmoothSpline(kBadArray);
        // Equal or falling knots leave an interval of no width: no spline exists.
        if (i > 0 && !(knots[i] > knots[i - 1])) throw ETpSmoothSpline(kBadArray);
    }
    if ((boundary == 1) && (!std::isfinite(slope1) || !std::isfinite(slopeN)))
        throw ETpSmoothSpline(kBadArgument);

    std::vector<double> h(n - 1);
    for (std::size_t i = 0; i + 1 < n; ++i) h[i] = knots[i + 1] - knots[i];

    // Unknowns: the second derivatives m (n of them, n - 1 when periodic, where the last
    // knot repeats the first). Conditions: A m = B c + r, with c the fitted values.
    const bool periodic = boundary == 3;
    const std::size_t k = periodic ? n - 1 : n;
    TMatrix a(k);
    TMatrix b(k); // k x k: the values taking part (the last is the first when periodic)
    std::vector<double> r(k, 0.0);
    auto slopeRow = [&](std::size_t row, std::size_t prev, double hp, std::size_t next, double hn) {
        // Continuity of the first derivative at knot `row`.
        a(row, prev) += hp / 6;
        a(row, row) += (hp + hn) / 3;
        a(row, next) += hn / 6;
        b(row, prev) += 1 / hp;
        b(row, row) -= 1 / hp + 1 / hn;
        b(row, next) += 1 / hn;
    };
    if (periodic) {
        for (std::size_t i = 0; i < k; ++i) {
            const std::size_t prev = (i + k - 1) % k;
            slopeRow(i, prev, h[prev], (i + 1) % k, h[i]);
        }
    } else {
        for (std::size_t i = 1; i + 1 < n; ++i) slopeRow(i, i - 1, h[i - 1], i + 1, h[i]);
        if (boundary == 2) {
            a(0, 0) = 1;
            a(n - 1, n - 1) = 1;
        } else {
            a(0, 0) = h[0] / 3;
            a(0, 1) = h[0] / 6;
            b(0, 0) = -1 / h[0];
            b(0, 1) = 1 / h[0];
            r[0] = -slope1;
            const double hl = h[n - 2];
            a(n - 1, n - 2) = hl / 6;
            a(n - 1, n - 1) = hl / 3;
            b(n - 1, n - 2) = 1 / hl;
            b(n - 1, n - 1) = -1 / hl;
            r[n - 1] = slopeN;
        }
    }

    // Reinsch: c = y - S B^T m with S = diag(w^2), so (A + B S B^T) m = B y + r.
    std::vector<double> y(values.begin(), values.begin() + std::ptrdiff_t(k));
    std::vector<double> s(k);
    for (std::size_t i = 0; i < k; ++i) s[i] = weights[i] * weights[i];
    TMatrix system = a;
    for (std::size_t i = 0; i < k; ++i)
        for (std::size_t j = 0; j < k; ++j) {
            double sum = 0;
            for (std::size_t l = 0; l < k; ++l) sum += b(i, l) * s[l] * b(j, l);
            system(i, j) += sum;
        }
    std::vector<double> m(k);
    for (std::size_t i = 0; i < k; ++i) {
        double sum = r[i];
        for (std::size_t l = 0; l < k; ++l) sum += b(i, l) * y[l];
        m[i] = sum;
    }
    if (!Solve(std::move(system), m)) throw ETpSmoothSpline(kBadArray);
    std::vector<double> c(k);
    for (std::size_t l = 0; l < k; ++l) {
        double sum = 0;
        for (std::size_t i = 0; i < k; ++i) sum += b(i, l) * m[i];
        c[l] = y[l] - s[l] * sum;
    }
    if (periodic) {
        m.push_back(m.front());
        c.push_back(c.front());
    }
    m_x.assign(knots.begin(), knots.begin() + std::ptrdiff_t(n));
    m_c = std::move(c);
    m_m = std::move(m);
}

double TpSmoothSpline::Value(double t) const {
    if (!(t >= m_x.front() && t <= m_x.back())) throw ETpSmoothSpline(kBadArgument);
    // The first knot from the second on that lies above t; the last one when t is the end.
    auto it = std::upper_bound(m_x.begin() + 1, m_x.end(), t);
    if (it == m_x.end()) --it;
    const auto i = std::size_t(it - m_x.begin());
    const double h = m_x[i] - m_x[i - 1];
    const double a = (t - m_x[i - 1]) / h;
    return (1 - a) * m_c[i - 1] + a * m_c[i] -
           a * (h * h / 6) * (1 - a) * ((2 - a) * m_m[i - 1] + (1 + a) * m_m[i]);
}
