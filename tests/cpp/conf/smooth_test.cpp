// Triangle smoothing against a slow reference written over the unordered pair
// accessors, its fixed cases, the embedding of exact distances and the spread.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "conf/embed.hpp"
#include "conf/smooth.hpp"
#include "conf/spread.hpp"

namespace quorix::conf {
namespace {

using Crossed = std::optional<std::pair<std::size_t, std::size_t>>;

Crossed reference_smooth(std::vector<double>& b, std::size_t n) {
    auto u = [&](std::size_t i, std::size_t j) -> double& { return b[std::min(i, j) * n + std::max(i, j)]; };
    auto l = [&](std::size_t i, std::size_t j) -> double& { return b[std::max(i, j) * n + std::min(i, j)]; };
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j) {
                if (i == k || j == k) continue;
                u(i, j) = std::min(u(i, j), u(i, k) + u(k, j));
                l(i, j) = std::max(l(i, j), std::max(l(i, k) - u(k, j), l(k, j) - u(i, k)));
                if (l(i, j) > u(i, j)) return std::pair{i, j};
            }
    return std::nullopt;
}

TEST(TriangleSmooth, AgreesWithTheReferenceOnRandomBounds) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> up(1.0, 10.0), frac(0.0, 1.0);
    int crossed = 0;
    for (int round = 0; round < 300; ++round) {
        const std::size_t n = 2 + rng() % 24;
        std::vector<double> fast(n * n, 0.0);
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j) {
                fast[i * n + j] = up(rng);
                fast[j * n + i] = fast[i * n + j] * frac(rng) * (round % 2 ? 0.9 : 0.4);
            }
        std::vector<double> slow = fast;
        const Crossed got = triangle_smooth(fast, n);
        ASSERT_EQ(got, reference_smooth(slow, n));
        ASSERT_EQ(fast, slow);
        crossed += got.has_value();
    }
    EXPECT_GT(crossed, 20);
    EXPECT_LT(crossed, 280);
}

TEST(TriangleSmooth, ThreeAtoms) {
    std::vector<double> b{0, 1, 5, 0, 0, 1, 0, 0, 0};  // u01 = u12 = 1, u02 = 5
    EXPECT_FALSE(triangle_smooth(b, 3));
    EXPECT_EQ(b[2], 2.0);
    std::vector<double> c{0, 1, 5, 0, 0, 1, 3, 0, 0};  // and l02 = 3: (1,2) crosses at pivot 0
    EXPECT_EQ(triangle_smooth(c, 3), Crossed(std::pair<std::size_t, std::size_t>{1, 2}));
}

TEST(Embed, ExactDistancesComeBackAndDegenerateShapes) {
    const std::vector<Coord> pts{{0, 0, 0}, {1.5, 0, 0}, {0, 2, 0}, {0.3, 0.4, 1.2}, {-1, 1, 1}};
    const std::size_t n = pts.size();
    auto dist = [](const Coord& a, const Coord& b) { return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]); };
    std::vector<double> d(n * n);
    for (std::size_t i = 0; i < n * n; ++i) d[i] = dist(pts[i / n], pts[i % n]);
    const auto got = embed_coordinates(d, n);
    for (std::size_t i = 0; i < n * n; ++i) EXPECT_NEAR(dist((*got)[i / n], (*got)[i % n]), d[i], 1e-9);
    EXPECT_EQ(embed_coordinates(std::vector<double>(5), 2).error().debug(), "BadShape");
    EXPECT_TRUE(embed_coordinates(std::vector<double>{}, 0)->empty());
    EXPECT_EQ((*embed_coordinates(std::vector<double>{0.0}, 1))[0], (Coord{0, 0, 0}));
    // A NaN distance of (1, 0) spoils the metric matrix from its entry (0, 1) on.
    EXPECT_EQ(embed_coordinates(std::vector<double>{0, 1, std::nan(""), 0}, 2).error().debug(),
              "Eigen(NotFinite { index: 1 })");
}

TEST(Spread, CoincidentAtomsMoveByTheirHaltonOffsets) {
    std::vector<Coord> c{{1, 1, 1}, {1, 1, 1}, {5, 5, 5}, {5, 5, 5 + 5e-7}, {0, 0, 0}};
    EXPECT_EQ(spread_coincident(c), 4u);
    EXPECT_EQ(c[0], (Coord{1.0, 1.0 + 0.1 * (1.0 / 3.0 - 0.5), 1.0 + 0.1 * (0.2 - 0.5)}));
    EXPECT_EQ(c[1][0], 1.0 + 0.1 * (0.25 - 0.5));
    EXPECT_EQ(c[4], (Coord{0, 0, 0}));
    EXPECT_EQ(radical_inverse(6, 2), 0.375);
}

}  // namespace
}  // namespace quorix::conf
