// Reference model: the point turn one point at a time with one running extent,
// against the two-lane turn, on random drawings of every size up to 40 with
// zeros of both signs, repeated values and coordinates that are not numbers.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "depict/turns.hpp"

using namespace quorix;

namespace {

depict::Extent model_turn(bool mirror, const std::vector<double>& xs, const std::vector<double>& ys, double c,
                          double s, std::vector<double>& tx, std::vector<double>& ty) {
    depict::Extent e{INFINITY, -INFINITY, INFINITY, -INFINITY};
    for (std::size_t a = 0; a < xs.size(); ++a) {
        tx[a] = mirror ? xs[a] * c + ys[a] * s : xs[a] * c - ys[a] * s;
        ty[a] = mirror ? xs[a] * s - ys[a] * c : xs[a] * s + ys[a] * c;
        e.xlo = std::min(e.xlo, tx[a]), e.xhi = std::max(e.xhi, tx[a]);
        e.ylo = std::min(e.ylo, ty[a]), e.yhi = std::max(e.yhi, ty[a]);
    }
    return e;
}

// What the orientation reads of an extent: its width floored and its height.
std::pair<double, double> shape(const depict::Extent& e) {
    return {std::max(e.xhi - e.xlo, 1e-9), e.yhi - e.ylo};
}

class TurnModel : public testing::TestWithParam<bool> {};

TEST_P(TurnModel, SamePointsAndShapeAsOneAtATime) {
    const bool mirror = GetParam();
    std::mt19937 rng(mirror ? 17 : 3);
    std::uniform_real_distribution<double> coord(-3.0, 3.0);
    const double odd[] = {0.0, -0.0, 1.5, NAN, INFINITY};
    for (std::size_t n = 0; n <= 40; ++n)
        for (int round = 0; round < 12; ++round) {
            std::vector<double> xs(n), ys(n);
            for (std::size_t a = 0; a < n; ++a) {
                // Mostly plain points; some rounds pick from a few awkward values.
                xs[a] = round % 3 ? coord(rng) : odd[rng() % (round % 4 ? 3 : 5)];
                ys[a] = round % 2 ? coord(rng) : odd[rng() % 3];
            }
            const double theta = round * 0.5235987755982989;
            const double c = std::cos(theta), s = std::sin(theta);
            std::vector<double> want_x(n), want_y(n), got_x(n), got_y(n);
            const depict::Extent want = model_turn(mirror, xs, ys, c, s, want_x, want_y);
            const depict::Extent got = mirror ? depict::turn_points<true>(xs, ys, c, s, got_x, got_y)
                                              : depict::turn_points<false>(xs, ys, c, s, got_x, got_y);
            for (std::size_t a = 0; a < n; ++a) {
                ASSERT_EQ(std::bit_cast<std::uint64_t>(got_x[a]), std::bit_cast<std::uint64_t>(want_x[a])) << n;
                ASSERT_EQ(std::bit_cast<std::uint64_t>(got_y[a]), std::bit_cast<std::uint64_t>(want_y[a])) << n;
            }
            const auto [gw, gh] = shape(got);
            const auto [ww, wh] = shape(want);
            // Equal as numbers (a zero's sign aside), or both not numbers.
            EXPECT_TRUE(gw == ww || (std::isnan(gw) && std::isnan(ww))) << n << " round " << round;
            EXPECT_TRUE(gh == wh || (std::isnan(gh) && std::isnan(wh))) << n << " round " << round;
        }
}

INSTANTIATE_TEST_SUITE_P(Mirror, TurnModel, testing::Bool());

}  // namespace
