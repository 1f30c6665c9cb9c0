// Triangle smoothing against a slow reference (the same pivot order written
// over the unordered pair accessors, with no gathering or re-layout), the
// fixed three-atom cases, and the embedding of exact distances.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "conf/embed.hpp"
#include "conf/smooth.hpp"
#include "conf/spread.hpp"

namespace quorix::conf {
namespace {

struct Ref {
    std::vector<double>& b;
    std::size_t n;
    double& u(std::size_t i, std::size_t j) { return i < j ? b[i * n + j] : b[j * n + i]; }
    double& l(std::size_t i, std::size_t j) { return i < j ? b[j * n + i] : b[i * n + j]; }
};

std::optional<std::pair<std::size_t, std::size_t>> reference_smooth(std::vector<double>& b, std::size_t n) {
    Ref r{b, n};
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t i = 0; i < n; ++i) {
            if (i == k) continue;
            for (std::size_t j = i + 1; j < n; ++j) {
                if (j == k) continue;
                if (r.u(i, j) > r.u(i, k) + r.u(k, j)) r.u(i, j) = r.u(i, k) + r.u(k, j);
                const double c = std::max(r.l(i, k) - r.u(k, j), r.l(k, j) - r.u(i, k));
                if (r.l(i, j) < c) r.l(i, j) = c;
                if (r.l(i, j) > r.u(i, j)) return std::pair{i, j};
            }
        }
    return std::nullopt;
}

std::vector<double> random_bounds(std::size_t n, std::mt19937& rng, double max_lower) {
    std::uniform_real_distribution<double> up(1.0, 10.0), frac(0.0, max_lower);
    std::vector<double> b(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            b[i * n + j] = up(rng);
            b[j * n + i] = b[i * n + j] * frac(rng);
        }
    return b;
}

TEST(TriangleSmooth, AgreesBitForBitWithTheReferenceOnRandomBounds) {
    std::mt19937 rng(20261207);
    int crossed = 0, clean = 0;
    for (int round = 0; round < 300; ++round) {
        const std::size_t n = 2 + rng() % 24;
        std::vector<double> fast = random_bounds(n, rng, round % 2 ? 0.9 : 0.4);
        std::vector<double> slow = fast;
        const auto got = triangle_smooth(fast, n);
        const auto want = reference_smooth(slow, n);
        ASSERT_EQ(got, want) << "round " << round;
        ASSERT_EQ(fast, slow) << "round " << round;
        (got ? crossed : clean)++;
    }
    EXPECT_GT(crossed, 20);  // both outcomes are exercised
    EXPECT_GT(clean, 20);
}

TEST(TriangleSmooth, ThreeAtomCases) {
    // u(0,1) = 1, u(1,2) = 1, u(0,2) = 5: pivot 1 brings u(0,2) down to 2.
    std::vector<double> b{0, 1, 5, 0, 0, 1, 0, 0, 0};
    EXPECT_FALSE(triangle_smooth(b, 3));
    EXPECT_EQ(b[2], 2.0);
    EXPECT_EQ(b[1], 1.0);
    // With l(0,2) = 3 the first contradiction is (1,2) at pivot 0.
    std::vector<double> c{0, 1, 5, 0, 0, 1, 3, 0, 0};
    EXPECT_EQ(triangle_smooth(c, 3), (std::pair<std::size_t, std::size_t>{1, 2}));
    // Bounds that already satisfy every triangle inequality stay as they are.
    std::vector<double> ok{0, 1.5, 2.5, 1.4, 0, 1.5, 2.4, 1.4, 0};
    const std::vector<double> before = ok;
    EXPECT_FALSE(triangle_smooth(ok, 3));
    EXPECT_EQ(ok, before);
}

TEST(Embed, ExactDistancesOfATetrahedronComeBack) {
    const std::vector<Coord> pts{{0, 0, 0}, {1.5, 0, 0}, {0, 2, 0}, {0.3, 0.4, 1.2}, {-1, 1, 1}};
    const std::size_t n = pts.size();
    std::vector<double> d(n * n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j)
            d[i * n + j] = std::hypot(pts[i][0] - pts[j][0], pts[i][1] - pts[j][1], pts[i][2] - pts[j][2]);
    auto got = embed_coordinates(d, n);
    ASSERT_TRUE(got);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const auto& a = (*got)[i];
            const auto& b = (*got)[j];
            EXPECT_NEAR(std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]), d[i * n + j], 1e-9);
        }
}

TEST(Embed, ShapesAndDegenerateSizes) {
    EXPECT_EQ(embed_coordinates(std::vector<double>(5), 2).error().debug(), "BadShape");
    EXPECT_TRUE(embed_coordinates(std::vector<double>{}, 0)->empty());
    auto one = embed_coordinates(std::vector<double>{0.0}, 1);
    ASSERT_TRUE(one);
    EXPECT_EQ((*one)[0], (Coord{0, 0, 0}));
    // A NaN distance of (1, 0) spoils the metric matrix from its entry (0, 1) on.
    std::vector<double> bad{0, 1, std::nan(""), 0};
    EXPECT_EQ(embed_coordinates(bad, 2).error().debug(), "Eigen(NotFinite { index: 1 })");
}

TEST(Spread, CoincidentAtomsMoveByTheirHaltonOffsets) {
    std::vector<Coord> c{{1, 1, 1}, {1, 1, 1}, {5, 5, 5}, {5, 5, 5 + 5e-7}};
    EXPECT_EQ(spread_coincident(c), 4u);
    EXPECT_DOUBLE_EQ(c[0][0], 1.0);
    EXPECT_DOUBLE_EQ(c[0][1], 1.0 + 0.1 * (1.0 / 3.0 - 0.5));
    EXPECT_DOUBLE_EQ(c[0][2], 1.0 + 0.1 * (0.2 - 0.5));
    EXPECT_DOUBLE_EQ(c[1][0], 1.0 + 0.1 * (0.25 - 0.5));  // h = 2: H2 = 1/4
    std::vector<Coord> apart{{0, 0, 0}, {0, 0, 2e-6}};
    EXPECT_EQ(spread_coincident(apart), 0u);
    EXPECT_DOUBLE_EQ(radical_inverse(6, 2), 0.375);
}

}  // namespace
}  // namespace quorix::conf
