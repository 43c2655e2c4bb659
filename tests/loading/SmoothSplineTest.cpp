#include "loading/SmoothSpline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

using TVec = std::vector<double>;

TEST(SmoothSplineTest, NaturalSplineMatchesHandComputedCubic) {
    // Through (0,0), (1,1), (2,0) the natural spline is 1.5x - 0.5x^3 on [0,1]: m2 = -3.
    const TVec x{0, 1, 2}, y{0, 1, 0}, w{0, 0, 0};
    const TpSmoothSpline s(3, 0, 0, 2, x, y, w);
    EXPECT_NEAR(s.SecondDerivatives()[0], 0.0, 1e-12);
    EXPECT_NEAR(s.SecondDerivatives()[1], -3.0, 1e-12);
    EXPECT_NEAR(s.SecondDerivatives()[2], 0.0, 1e-12);
    for (double t : {0.0, 0.25, 0.5, 0.75, 1.0})
        EXPECT_NEAR(s.Value(t), 1.5 * t - 0.5 * t * t * t, 1e-12) << t;
    EXPECT_NEAR(s.Value(1.5), 0.6875, 1e-12);
    EXPECT_DOUBLE_EQ(s.Value(2.0), 0.0);
}

TEST(SmoothSplineTest, NaturalSplineOfFourPoints) {
    // (2/3)m1 + (1/6)m2 = -2, (1/6)m1 + (2/3)m2 = 2: m1 = -4, m2 = 4.
    const TVec x{0, 1, 2, 3}, y{0, 1, 0, 1}, w{0, 0, 0, 0};
    const TpSmoothSpline s(4, 0, 0, 2, x, y, w);
    EXPECT_NEAR(s.SecondDerivatives()[1], -4.0, 1e-12);
    EXPECT_NEAR(s.SecondDerivatives()[2], 4.0, 1e-12);
    EXPECT_NEAR(s.Value(0.5), 0.75, 1e-12);
    EXPECT_NEAR(s.Value(1.5), 0.5, 1e-12);
    EXPECT_NEAR(s.Value(2.5), 0.25, 1e-12);
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(s.Value(x[i]), y[i], 1e-12);
}

TEST(SmoothSplineTest, PrescribedSlopesReproduceACubic) {
    const TVec x{0, 1, 2, 3}, y{0, 1, 8, 27}, w{0, 0, 0, 0};
    const TpSmoothSpline s(4, 0.0, 27.0, 1, x, y, w);
    for (double t : {0.3, 1.5, 2.5, 2.9}) EXPECT_NEAR(s.Value(t), t * t * t, 1e-9) << t;
}

TEST(SmoothSplineTest, PeriodicSplineFollowsACosine) {
    const int n = 25;
    TVec x(n), y(n), w(n, 0.0);
    for (int i = 0; i < n; ++i) {
        x[i] = double(i) / (n - 1);
        y[i] = std::cos(2 * std::numbers::pi * x[i]);
    }
    const TpSmoothSpline s(n, 0, 0, 3, x, y, w);
    EXPECT_DOUBLE_EQ(s.SecondDerivatives().front(), s.SecondDerivatives().back());
    EXPECT_DOUBLE_EQ(s.Fitted().front(), s.Fitted().back());
    for (double t = 0; t <= 1.0; t += 0.01)
        EXPECT_NEAR(s.Value(t), std::cos(2 * std::numbers::pi * t), 2e-4) << t;
    // Unlike the natural spline, the curvature at the ends is not forced to zero.
    const TpSmoothSpline natural(n, 0, 0, 2, x, y, w);
    EXPECT_NEAR(s.Value(0.01), std::cos(2 * std::numbers::pi * 0.01), 1e-5);
    EXPECT_GT(std::fabs(natural.Value(0.01) - std::cos(2 * std::numbers::pi * 0.01)), 1e-5);
}

TEST(SmoothSplineTest, WeightsSmoothTowardsTheLeastSquaresLine) {
    const TVec x{0, 1, 2, 3, 4}, y{0, 2, 0, 2, 0};
    const TpSmoothSpline exact(5, 0, 0, 2, x, y, TVec(5, 0.0));
    const TpSmoothSpline some(5, 0, 0, 2, x, y, TVec(5, 0.5));
    const TpSmoothSpline stiff(5, 0, 0, 2, x, y, TVec(5, 1e4));
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(exact.Fitted()[i], y[i], 1e-12);
    // Some smoothing pulls the values in, more leaves nearly the regression line y = 0.8.
    EXPECT_LT(some.Fitted()[1], 2.0);
    EXPECT_GT(some.Fitted()[2], 0.0);
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(stiff.Fitted()[i], 0.8, 1e-3) << i;
        EXPECT_NEAR(stiff.SecondDerivatives()[i], 0.0, 1e-3) << i;
    }
}

TEST(SmoothSplineTest, FromCurvePointsScalesToUnitSquare) {
    const std::vector<TCurvePoint> points{{0, 0}, {128, 200}, {255, 255}};
    const TpSmoothSpline s(points);
    EXPECT_EQ(s.Count(), 3);
    EXPECT_DOUBLE_EQ(s.First(), 0.0);
    EXPECT_DOUBLE_EQ(s.Last(), 1.0);
    EXPECT_NEAR(s.Value(128 / 255.0), 200 / 255.0, 1e-12);
    EXPECT_NEAR(s.Value(1.0), 1.0, 1e-12);
}

struct TErrorCase {
    std::string Name;
    int Count;
    int Boundary;
    TVec X, Y, W;
    std::string Message;
};

class SmoothSplineErrorTest : public ::testing::TestWithParam<TErrorCase> {};

TEST_P(SmoothSplineErrorTest, RaisesItsMessage) {
    const TErrorCase& c = GetParam();
    try {
        const TpSmoothSpline s(c.Count, 0, 0, c.Boundary, c.X, c.Y, c.W);
        FAIL() << "no error";
    } catch (const ETpSmoothSpline& e) {
        EXPECT_EQ(std::string(e.what()), c.Message);
    }
}

const std::string kArray = "Incorrect input array.";
const std::string kBoundary = "Incorrect boundary condition.";

INSTANTIATE_TEST_SUITE_P(
    Cases, SmoothSplineErrorTest,
    ::testing::Values(TErrorCase{"TwoPoints", 2, 2, {0, 1}, {0, 1}, {0, 0}, kArray},
                      TErrorCase{"ShortKnots", 3, 2, {0, 1}, {0, 1, 2}, {0, 0, 0}, kArray},
                      TErrorCase{"ShortValues", 3, 2, {0, 1, 2}, {0, 1}, {0, 0, 0}, kArray},
                      TErrorCase{"ShortWeights", 3, 2, {0, 1, 2}, {0, 1, 2}, {0}, kArray},
                      TErrorCase{"EqualKnots", 3, 2, {0, 1, 1}, {0, 1, 2}, {0, 0, 0}, kArray},
                      TErrorCase{"FallingKnots", 3, 2, {2, 1, 0}, {0, 1, 2}, {0, 0, 0}, kArray},
                      TErrorCase{"NotANumber", 3, 2, {0, NAN, 2}, {0, 1, 2}, {0, 0, 0}, kArray},
                      TErrorCase{"BoundaryZero", 3, 0, {0, 1, 2}, {0, 1, 2}, {0, 0, 0}, kBoundary},
                      TErrorCase{"BoundaryFour", 3, 4, {0, 1, 2}, {0, 1, 2}, {0, 0, 0}, kBoundary}),
    [](const auto& info) { return info.param.Name; });

class SmoothSplineArgumentTest : public ::testing::TestWithParam<double> {};

TEST_P(SmoothSplineArgumentTest, OutsideTheKnotsIsAnError) {
    const TVec x{0, 1, 2}, y{0, 1, 0}, w{0, 0, 0};
    const TpSmoothSpline s(3, 0, 0, 2, x, y, w);
    try {
        (void)s.Value(GetParam());
        FAIL() << "no error";
    } catch (const ETpSmoothSpline& e) {
        EXPECT_EQ(std::string(e.what()), "Incorrect argument.");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SmoothSplineArgumentTest,
                         ::testing::Values(-1e-9, -1.0, 2.0000001, 100.0, double(NAN)));

} // namespace
