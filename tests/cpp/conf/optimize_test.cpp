// The minimiser on functions whose minima are known, its stopping rules, and a
// line search that meets an objective that breaks down (NaN) past some radius.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "conf/optimize.hpp"

namespace quorix::conf {
namespace {

struct Rosenbrock final : Objective {
    int calls = 0;
    double value_and_gradient(std::span<const double> x, std::span<double> g) override {
        ++calls;
        double f = 0.0;
        for (double& v : g) v = 0.0;
        for (std::size_t i = 0; i + 1 < x.size(); ++i) {
            const double a = x[i + 1] - x[i] * x[i], b = 1.0 - x[i];
            f += 100.0 * a * a + b * b;
            g[i] += -400.0 * x[i] * a - 2.0 * b;
            g[i + 1] += 200.0 * a;
        }
        return f;
    }
};

// sum c_i (x_i - t_i)^2; NaN everywhere once |x_0| exceeds `wall`.
struct Quadratic final : Objective {
    std::vector<double> c, t;
    double wall = std::numeric_limits<double>::infinity();
    double value_and_gradient(std::span<const double> x, std::span<double> g) override {
        if (std::fabs(x[0]) > wall) {
            for (double& v : g) v = std::nan("");
            return std::nan("");
        }
        double f = 0.0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            f += c[i] * (x[i] - t[i]) * (x[i] - t[i]);
            g[i] = 2.0 * c[i] * (x[i] - t[i]);
        }
        return f;
    }
};

TEST(Minimise, RosenbrockReachesItsMinimum) {
    for (std::size_t n : {2u, 5u, 10u}) {
        Rosenbrock f;
        std::vector<double> x(n, -1.2);
        const MinimiserResult r = minimise(f, x, {2000, 1e-8, 8});
        EXPECT_TRUE(r.converged) << n;
        for (double v : x) EXPECT_NEAR(v, 1.0, 1e-6) << n;
        EXPECT_LT(r.value, 1e-12);
        EXPECT_LE(r.grad_norm, 1e-8);
    }
}

TEST(Minimise, IllConditionedQuadraticAndRepeatability) {
    Quadratic q;
    q.c = {1, 10, 100, 1000, 0.5};
    q.t = {3, -2, 1, 0.5, 7};
    std::vector<double> x(5, 0.0), again(5, 0.0);
    const MinimiserResult r = minimise(q, x, {400, 1e-9, 4});
    EXPECT_TRUE(r.converged);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_NEAR(x[i], q.t[i], 1e-9);
    const MinimiserResult r2 = minimise(q, again, {400, 1e-9, 4});
    EXPECT_EQ(x, again);
    EXPECT_EQ(r.iterations, r2.iterations);
}

TEST(Minimise, StoppingRules) {
    Quadratic q;
    q.c = {1, 1};
    q.t = {0, 0};
    std::vector<double> at_min{0, 0};
    MinimiserResult r = minimise(q, at_min, {400, 1e-6, 8});
    EXPECT_EQ(r.iterations, 0u);
    EXPECT_TRUE(r.converged);

    Rosenbrock f;
    std::vector<double> x{-1.2, 1.0};
    r = minimise(f, x, {3, 1e-10, 8});
    EXPECT_EQ(r.iterations, 3u);
    EXPECT_FALSE(r.converged);
    x = {-1.2, 1.0};
    r = minimise(f, x, {0, 1e-10, 8});
    EXPECT_EQ(r.iterations, 0u);
    EXPECT_FALSE(r.converged);
    EXPECT_EQ(x, (std::vector<double>{-1.2, 1.0}));

    // memory 0 is memory 1
    std::vector<double> a{-1.2, 1.0}, b{-1.2, 1.0};
    Rosenbrock f0, f1;
    const MinimiserResult r0 = minimise(f0, a, {50, 1e-10, 0});
    const MinimiserResult r1 = minimise(f1, b, {50, 1e-10, 1});
    EXPECT_EQ(a, b);
    EXPECT_EQ(r0.iterations, r1.iterations);
    EXPECT_EQ(f0.calls, f1.calls);
}

TEST(Minimise, FirstStepOfOneOnAQuadraticBowlLandsOnTheMinimum) {
    // f = (x-3)^2/2 + ...: from 0 along -g with a = 1 the first trial hits 3.
    Quadratic q;
    q.c = {0.5};
    q.t = {3};
    std::vector<double> x{0};
    const MinimiserResult r = minimise(q, x, {400, 1e-12, 8});
    EXPECT_EQ(r.iterations, 1u);
    EXPECT_EQ(x[0], 3.0);
}

TEST(Minimise, LineSearchBacksOffFromANaNInsteadOfDoublingIntoIt) {
    // The first trial (x = 12) lies past the wall; a search that doubled on
    // NaN would never come back and would stop without moving.
    Quadratic q;
    q.c = {1};
    q.t = {6};
    q.wall = 8;
    std::vector<double> x{0};
    const MinimiserResult r = minimise(q, x, {400, 1e-8, 8});
    EXPECT_TRUE(r.converged);
    EXPECT_NEAR(x[0], 6.0, 1e-8);
    EXPECT_TRUE(std::isfinite(r.value));
}

TEST(Minimise, NaNGradientIsNotConvergence) {
    Quadratic q;
    q.c = {1};
    q.t = {0};
    q.wall = 1;
    std::vector<double> x{5};
    const MinimiserResult r = minimise(q, x, {10, 1e-6, 8});
    EXPECT_FALSE(r.converged);
    EXPECT_TRUE(std::isnan(r.grad_norm));
}

}  // namespace
}  // namespace quorix::conf
