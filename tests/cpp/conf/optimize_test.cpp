// The minimiser on functions with known minima, its stopping rules, and a
// line search that meets an objective returning NaN past some radius.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "conf/optimize.hpp"

namespace quorix::conf {
namespace {

struct Rosenbrock final : Objective {
    double value_and_gradient(std::span<const double> x, std::span<double> g) override {
        double f = 0.0;
        std::fill(g.begin(), g.end(), 0.0);
        for (std::size_t i = 0; i + 1 < x.size(); ++i) {
            const double a = x[i + 1] - x[i] * x[i], b = 1.0 - x[i];
            f += 100.0 * a * a + b * b;
            g[i] += -400.0 * x[i] * a - 2.0 * b;
            g[i + 1] += 200.0 * a;
        }
        return f;
    }
};

// sum c_i (x_i - t_i)^2, NaN everywhere once |x_0| exceeds `wall`.
struct Bowl final : Objective {
    std::vector<double> c, t;
    double wall = std::numeric_limits<double>::infinity();
    double value_and_gradient(std::span<const double> x, std::span<double> g) override {
        if (std::fabs(x[0]) > wall) {
            std::fill(g.begin(), g.end(), std::nan(""));
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

TEST(Minimise, ReachesKnownMinima) {
    for (std::size_t n : {2u, 10u}) {
        Rosenbrock f;
        std::vector<double> x(n, -1.2);
        const MinimiserResult r = minimise(f, x, {2000, 1e-8, 8});
        EXPECT_TRUE(r.converged);
        for (double v : x) EXPECT_NEAR(v, 1.0, 1e-6);
    }
    // From 0 along -g the first trial step (a = 1) lands on the minimum of (x-3)^2/2.
    Bowl half;
    half.c = {0.5};
    half.t = {3};
    std::vector<double> y{0};
    EXPECT_EQ(minimise(half, y, {400, 1e-12, 8}).iterations, 1u);
    EXPECT_EQ(y[0], 3.0);
}

TEST(Minimise, StoppingRules) {
    Rosenbrock f;
    std::vector<double> at_min{1, 1}, x{-1.2, 1.0};
    MinimiserResult r = minimise(f, at_min, {400, 1e-6, 8});
    EXPECT_TRUE(r.converged && r.iterations == 0);
    r = minimise(f, x, {3, 1e-10, 8});
    EXPECT_TRUE(!r.converged && r.iterations == 3);
    x = {-1.2, 1.0};
    r = minimise(f, x, {0, 1e-10, 8});
    EXPECT_TRUE(!r.converged && r.iterations == 0 && x[0] == -1.2);
    std::vector<double> a{-1.2, 1.0}, b{-1.2, 1.0};  // memory 0 is memory 1
    minimise(f, a, {50, 1e-10, 0});
    minimise(f, b, {50, 1e-10, 1});
    EXPECT_EQ(a, b);
}

TEST(Minimise, LineSearchBacksOffFromNaNInsteadOfDoublingIntoIt) {
    // The first trial (x = 12) lies past the wall; doubling from there would
    // never come back, and the search would stop without moving.
    Bowl q;
    q.c = {1};
    q.t = {6};
    q.wall = 8;
    std::vector<double> x{0};
    EXPECT_TRUE(minimise(q, x, {400, 1e-8, 8}).converged);
    EXPECT_NEAR(x[0], 6.0, 1e-8);
    // A start already past the wall: NaN gradient, never converged.
    q.wall = 1;
    x = {5};
    EXPECT_TRUE(std::isnan(minimise(q, x, {10, 1e-6, 8}).grad_norm));
}

// A value of s * x with a gradient that claims the opposite slope, counting
// evaluations.
struct Lying final : Objective {
    double s = 1.0, claimed = -1.0;
    int calls = 0;
    double value_and_gradient(std::span<const double> x, std::span<double> g) override {
        ++calls;
        g[0] = claimed;
        return s * x[0];
    }
};

TEST(Minimise, LineSearchTrialBudget) {
    // Uphill along the search direction: one bracketing trial, then bisection
    // down to a bracket narrower than 1e-16 (54 halvings of [0, 1]), a fresh
    // value at each end of the zoom, and no step: iteration 1 fails.
    Lying up;
    std::vector<double> x{2.0};
    MinimiserResult r = minimise(up, x, {400, 1e-6, 8});
    EXPECT_EQ(std::tuple(r.iterations, r.converged, r.value, x[0], up.calls), std::tuple(1u, false, 2.0, 2.0, 1 + 1 + 1 + 54 + 1));
    // Downhill with a slope that never flattens: 34 doublings, then failure.
    Lying down;
    down.s = -1.0;
    down.claimed = -1.0;
    x = {0.0};
    r = minimise(down, x, {400, 1e-6, 8});
    EXPECT_EQ(std::tuple(r.iterations, x[0], down.calls), std::tuple(1u, 0.0, 1 + 34));
}

}  // namespace
}  // namespace quorix::conf
