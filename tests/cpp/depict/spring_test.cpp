// Seeded spring layout: the spring model's fixed points, the crossing test and
// the cyclic drawing order of a ring.
#include <cmath>
#include <map>
#include <numbers>
#include <optional>
#include <tuple>

#include "depict/spring.hpp"
#include "depict_support.hpp"

namespace quorix {
namespace {

using depict::Point;

double relaxed_distance(Point a, Point b, bool bonded) {
    std::vector<Point> p{a, b};
    std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
    if (bonded) edges.emplace_back(0, 1);
    const std::vector<std::uint32_t> atoms{7, 9};
    const auto out = depict::relax_layout(p, 2, edges, atoms);
    return depict::length(out.at(9) - out.at(7));
}

TEST(RelaxLayout, SpringsAndRepulsionSettle) {
    // A bonded pair settles where pull (L - 1) x 0.35 meets push (1.2 - L) x 0.25.
    EXPECT_NEAR(relaxed_distance({0, 0}, {3, 0}, true), 13.0 / 12.0, 1e-9);
    EXPECT_NEAR(relaxed_distance({0, 0}, {0.2, 0}, false), 1.2, 1e-6);
    EXPECT_EQ(relaxed_distance({1, 1}, {1, 1}, false), 0.0);  // coincident: no direction to push
    EXPECT_NEAR(relaxed_distance({0, 0}, {5, 0}, false), 5.0, 0.0);
}

struct CrossCase {
    Point p1, p2, p3, p4;
    bool crosses;
};

class SegmentsCross : public testing::TestWithParam<CrossCase> {};

TEST_P(SegmentsCross, BothOrders) {
    const CrossCase& c = GetParam();
    EXPECT_EQ(depict::segments_cross(c.p1, c.p2, c.p3, c.p4), c.crosses);
    EXPECT_EQ(depict::segments_cross(c.p3, c.p4, c.p1, c.p2), c.crosses);
    EXPECT_EQ(depict::segments_cross(c.p2, c.p1, c.p4, c.p3), c.crosses);
}

INSTANTIATE_TEST_SUITE_P(Geometry, SegmentsCross,
                         testing::Values(CrossCase{{0, 0}, {1, 1}, {0, 1}, {1, 0}, true},       // diagonals
                                         CrossCase{{0, 0}, {1, 0}, {1, 0}, {2, 1}, false},      // shared atom
                                         CrossCase{{0, 0}, {2, 0}, {1, 0}, {1, 1}, true},       // end on middle
                                         CrossCase{{0, 0}, {1, 0}, {0, 1}, {1, 1}, false},      // parallel
                                         CrossCase{{0, 0}, {1, 0}, {2, 0}, {3, 0}, false},      // collinear, apart
                                         CrossCase{{0, 0}, {2, 0}, {1, 0}, {3, 0}, true},       // collinear overlap
                                         CrossCase{{0, 0}, {1, 0}, {0.5, 1e-10}, {0.5, 1}, true},
                                         CrossCase{{0, 0}, {1, 0}, {0.5, 1e-6}, {0.5, 1}, false}));

TEST(CanonicalRingOrder, StartsLowAndReadsTheSmallerWay) {
    const std::vector<std::uint32_t> ranks = test::identity(6);
    const std::vector<std::uint32_t> expected{0, 1, 2, 3, 4, 5};
    EXPECT_EQ(depict::canonical_ring_order(std::vector<std::uint32_t>{0, 5, 4, 3, 2, 1}, ranks), expected);
    EXPECT_EQ(depict::canonical_ring_order(std::vector<std::uint32_t>{3, 4, 5, 0, 1, 2}, ranks), expected);
    const std::vector<std::uint32_t> odd_ranks{1, 0, 5, 2, 3, 4};  // atom 1 lowest, atom 0 next
    EXPECT_EQ(depict::canonical_ring_order(std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}, odd_ranks),
              (std::vector<std::uint32_t>{1, 0, 5, 4, 3, 2}));
    EXPECT_THROW(depict::canonical_ring_order({}, ranks), InternalError);
}

}  // namespace
}  // namespace quorix

namespace quorix {
namespace {

// The all-pairs model of one relaxation, written out plainly.
std::vector<depict::Point> reference_relax(std::vector<depict::Point> p,
                                           const std::vector<std::pair<std::uint32_t, std::uint32_t>>& edges) {
    for (int it = 0; it < depict::RELAX_ITERATIONS; ++it) {
        std::vector<depict::Point> shift(p.size());
        for (auto [a, b] : edges) {
            const depict::Point d = p[b] - p[a];
            const double l = depict::length(d);
            const depict::Point e = l >= depict::EPSILON ? depict::Point{d.x / l, d.y / l} : d;
            const double f = (std::max(l, 1e-6) - 1.0) * 0.35;
            shift[a] = shift[a] + f * e;
            shift[b] = shift[b] - f * e;
        }
        for (std::size_t i = 0; i < p.size(); ++i)
            for (std::size_t j = i + 1; j < p.size(); ++j) {
                const depict::Point d = p[j] - p[i];
                const double l = depict::length(d), l1 = std::max(l, 1e-6);
                if (l1 >= 1.2) continue;
                const depict::Point e = l >= depict::EPSILON ? depict::Point{d.x / l, d.y / l} : d;
                shift[i] = shift[i] - ((1.2 - l1) * 0.25) * e;
                shift[j] = shift[j] + ((1.2 - l1) * 0.25) * e;
            }
        for (std::size_t i = 0; i < p.size(); ++i) p[i] = p[i] + shift[i];
    }
    return p;
}

// Large systems take the grid; the result must equal the all-pairs loop bit
// for bit, including coincident starts.
TEST(RelaxLayout, GridMatchesAllPairsExactly) {
    std::mt19937 rng(3);
    for (std::uint32_t n : {65u, 150u}) {
        std::uniform_real_distribution<double> coordinate(0.0, std::sqrt(double(n)));
        std::vector<depict::Point> start(n);
        for (auto& q : start) q = {coordinate(rng), coordinate(rng)};
        start[7] = start[3];
        std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
        for (std::uint32_t i = 1; i < n; ++i) edges.emplace_back(i - 1 - (i > 2 && i % 3 == 0 ? 2 : 0), i);
        std::vector<depict::Point> work = start;
        const auto out = depict::relax_layout(work, n, edges, test::identity(n));
        const auto expected = reference_relax(start, edges);
        for (std::uint32_t i = 0; i < n; ++i) ASSERT_EQ(out.at(i), expected[i]) << n << " " << i;
    }
}

}  // namespace
}  // namespace quorix

namespace quorix {
namespace {

// The spring layout of a system given no rings, written out from its rules:
// four circle starts (seed 4 then starts like seed 0 and cannot win), each
// relaxed, the best kept by crossings, worst bond error and truncated
// coordinates in rank order, earlier seeds winning ties.
depict::PositionMap reference_spring(const core::MolBuilder& mol, std::vector<std::uint32_t> atoms,
                                     const std::vector<std::uint32_t>& ranks) {
    std::sort(atoms.begin(), atoms.end(), [&](auto a, auto b) { return std::pair{ranks[a], a} < std::pair{ranks[b], b}; });
    const std::uint32_t n = static_cast<std::uint32_t>(atoms.size());
    std::map<std::uint32_t, std::uint32_t> local;
    for (std::uint32_t l = 0; l < n; ++l) local[atoms[l]] = l;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
    std::vector<std::vector<std::uint32_t>> adjacent(n);
    for (const core::Bond& b : mol.bonds)
        if (local.contains(b.begin) && local.contains(b.end)) {
            edges.emplace_back(local[b.begin], local[b.end]);
            adjacent[local[b.begin]].push_back(local[b.end]);
            adjacent[local[b.end]].push_back(local[b.begin]);
        }
    std::vector<std::vector<std::uint32_t>> orders(4);
    for (std::uint32_t j = 0; j < n; ++j) orders[0].push_back(j), orders[1].insert(orders[1].begin(), j);
    for (std::uint32_t j = 0; j < n; j += 2) orders[3].push_back(j);
    for (std::uint32_t j = 1; j < n; j += 2) orders[3].push_back(j);
    std::vector<bool> seen(n);
    for (std::uint32_t s = 0; s < n; ++s) {
        if (seen[s]) continue;
        std::vector<std::uint32_t> queue{s};
        seen[s] = true;
        for (std::size_t q = 0; q < queue.size(); ++q) {
            orders[2].push_back(queue[q]);
            std::vector<std::uint32_t> next = adjacent[queue[q]];
            std::sort(next.begin(), next.end());
            for (std::uint32_t x : next)
                if (!seen[x]) seen[x] = true, queue.push_back(x);
        }
    }
    using Score = std::tuple<std::size_t, std::int64_t, std::vector<std::pair<std::int64_t, std::int64_t>>>;
    std::optional<std::pair<Score, depict::PositionMap>> best;
    for (const auto& order : orders) {
        std::vector<depict::Point> p(n);
        const double r = n / (2 * std::numbers::pi);
        for (std::uint32_t j = 0; j < n; ++j)
            p[order[j]] = {r * std::cos(2 * std::numbers::pi * j / n), r * std::sin(2 * std::numbers::pi * j / n)};
        const depict::PositionMap out = depict::relax_layout(p, n, edges, atoms);
        Score score{};
        for (std::size_t i = 0; i < edges.size(); ++i) {
            const Point a = p[edges[i].first], b = p[edges[i].second];
            for (std::size_t j = i + 1; j < edges.size(); ++j)
                std::get<0>(score) += depict::segments_cross(a, b, p[edges[j].first], p[edges[j].second]);
            std::get<1>(score) = std::max(std::get<1>(score), std::int64_t(std::fabs(depict::length(b - a) - 1) * 1e6));
        }
        for (std::uint32_t l = 0; l < n; ++l) std::get<2>(score).emplace_back(std::int64_t(p[l].x * 1e6), std::int64_t(p[l].y * 1e6));
        if (!best || score < best->first) best.emplace(score, out);
    }
    return best->second;
}

TEST(SeededSpringLayout, FollowsTheReferenceOnRealRingSystems) {
    const auto& all = test::data_molecules_as_read();
    std::size_t compared = 0;
    for (std::size_t i = 0; i < all.size(); i += 23) {
        const auto s = test::ring_systems_of(all[i]);
        for (const auto& record : s->records) {
            if (record.atoms.size() > 24) continue;
            const auto got = depict::seeded_spring_layout(s->mol, record.atoms, s->ranks, {});
            ASSERT_EQ(got, reference_spring(s->mol, record.atoms, s->ranks)) << test::data_records()[i].smiles;
            ++compared;
        }
    }
    EXPECT_GT(compared, 100u);
}

}  // namespace
}  // namespace quorix
