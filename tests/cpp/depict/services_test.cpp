// Layout scoring services, orientation of drawn fragments, the placement score
// and the drawn reading of cis/trans bonds.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <compare>
#include <limits>
#include <numbers>
#include <random>

#include "core/numeric.hpp"
#include "depict/chains.hpp"
#include "depict/orient.hpp"
#include "depict/stereo.hpp"
#include "depict_support.hpp"

namespace quorix {
namespace {

using depict::Point;
using depict::PositionMap;

TEST(CrowdingScore, EmptyInputsAndDirectHits) {
    const PositionMap one{{0, {1, 0}}};
    const std::vector<double> east{0.0}, none;
    EXPECT_EQ(depict::crowding_score({}, east, {0, 0}), 0);
    EXPECT_EQ(depict::crowding_score(one, none, {0, 0}), 0);
    EXPECT_EQ(depict::crowding_score(one, east, {0, 0}), 1000000000000);
    // Two atoms at distance 1 and 2 from the candidate point.
    const PositionMap two{{3, {2, 0}}, {5, {3, 0}}};
    EXPECT_EQ(depict::crowding_score(two, east, {0, 0}), std::llround((1 / 1.000001 + 1 / 4.000001) * 1e6));
}

// The quick comparison against the two full scores: random drawings, half of
// them mirror images about the line the two angle lists are mirrored in (equal
// scores up to the last bits, where the quick sums cannot tell), huge scales,
// points that are not finite, and tight crowds around the proposed ends, whose
// scores are so large that their last bits reach the rounding.
TEST(CrowdingScore, QuickComparisonAgreesWithTheScores) {
    std::mt19937_64 rng(20261207);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double odd[] = {std::nan(""), std::numeric_limits<double>::infinity(), 1e160, -1e200};
    int ties = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        const double axis = 3.2 * unit(rng), scale = std::array{1.0, 3.0, 1e-3, 3e-4, 1e9}[trial % 5];
        const Point origin{unit(rng), unit(rng)};
        // Crowds sit one bond out along the axis, where the ends are proposed.
        const bool crowd = scale < 0.1;
        const Point centre = crowd ? origin + Point{std::cos(axis), std::sin(axis)} : origin;
        const bool mirrored = trial % 2 == 0;
        PositionMap placed;
        const int count = 1 + static_cast<int>(rng() % 30);
        for (int i = 0; i < count; ++i) {
            const Point v{3 * scale * unit(rng), 3 * scale * unit(rng)};
            placed.emplace(static_cast<std::uint32_t>(2 * i), centre + v);
            // The reflection of v in the axis.
            const double c = std::cos(2 * axis), s = std::sin(2 * axis);
            if (mirrored)
                placed.emplace(static_cast<std::uint32_t>(2 * i + 1), centre + Point{c * v.x + s * v.y, s * v.x - c * v.y});
        }
        if (trial % 97 == 0) placed[7].x = odd[(trial / 97) % 4];
        std::vector<double> first, second;
        for (std::size_t k = 0, n = 1 + rng() % 3; k < n; ++k) {
            const double turn = crowd ? scale : 2.0;
            first.push_back(axis + turn * unit(rng));
            second.push_back(mirrored ? 2 * axis - first.back() : axis + turn * unit(rng));
        }
        const std::int64_t a = depict::crowding_score(placed, first, origin);
        const std::int64_t b = depict::crowding_score(placed, second, origin);
        ties += a == b;
        std::vector<Point> first_ends(first.size()), second_ends(second.size());
        ASSERT_EQ(depict::crowding_less(placed, first, second, origin, first_ends, second_ends), a < b) << trial;
        ASSERT_EQ(depict::crowding_less(placed, second, first, origin), b < a) << trial;
        for (std::size_t k = 0; k < first.size(); ++k) {
            ASSERT_EQ(first_ends[k], (Point{origin.x + std::cos(first[k]), origin.y + std::sin(first[k])}));
            ASSERT_EQ(second_ends[k], (Point{origin.x + std::cos(second[k]), origin.y + std::sin(second[k])}));
        }
    }
    EXPECT_GT(ties, 5000);  // the mirror images did tie
}

TEST(PlacementClearance, SmallestGapIgnoringTheAnchors) {
    const PositionMap placed{{0, {0, 0}}, {1, {1, 0}}, {2, {5, 5}}};
    const std::vector<Point> one{{0.5, 0.1}}, two{{0.5, 0.1}, {0.5, 0.4}};
    EXPECT_EQ(depict::placement_clearance({}, 0, 1, one), depict::LARGEST);
    EXPECT_EQ(depict::placement_clearance(PositionMap{{0, {0, 0}}, {1, {1, 0}}}, 0, 1, one), depict::LARGEST);
    EXPECT_EQ(depict::placement_clearance(placed, 0, 1, {}), depict::LARGEST);
    EXPECT_NEAR(depict::placement_clearance(placed, 0, 1, two), 0.3, 1e-12);
    EXPECT_NEAR(depict::placement_clearance(placed, 0, 2, one), std::hypot(0.5, 0.1), 1e-12);
}

TEST(Orderings, PrefixFirstAndSizeFirst) {
    using V = std::vector<std::uint32_t>;
    EXPECT_LT((V{1, 4}), (V{1, 4, 7}));
    EXPECT_TRUE(depict::size_then_rank_less(V{1, 4, 7}, V{2, 9}));
    EXPECT_FALSE(depict::size_then_rank_less(V{2, 9}, V{1, 4, 7}));
    EXPECT_EQ(depict::lowest_rank(V{9, 2}, V{}), core::NONE);
}

// The integer key orders doubles exactly as the standard library's IEEE total
// order: signed zeros, infinities, NaNs of either sign and payload, subnormals,
// and random bit patterns.
TEST(Orderings, TotalOrderKeyIsTheIeeeTotalOrder) {
    using L = std::numeric_limits<double>;
    std::vector<double> v{0.0, -0.0, 1.0, -1.0, L::infinity(), -L::infinity(), L::denorm_min(), -L::denorm_min(),
                          L::min(), -L::max(), L::max(), std::bit_cast<double>(0x7ff0000000000001ull),
                          std::bit_cast<double>(0xfff8000000000000ull), L::quiet_NaN(), -L::quiet_NaN()};
    std::mt19937_64 rng(3);
    for (int k = 0; k < 400; ++k) v.push_back(std::bit_cast<double>(rng()));
    for (double a : v)
        for (double b : v)
            ASSERT_EQ(depict::total_order_key(a) < depict::total_order_key(b), std::strong_order(a, b) < 0)
                << std::bit_cast<std::uint64_t>(a) << " " << std::bit_cast<std::uint64_t>(b);
}

// x, then y, then z by the total order (so -0 before +0 and NaN last), then the
// key, then the index.
TEST(Orderings, PointsInThreeDimensions) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::array<double, 3>> pts{{0.0, 1, 1}, {-0.0, 5, 5}, {0.0, 1, 1}, {nan, 0, 0},
                                                 {0.0, 1, 1}, {0.0, 1, -1}, {-1, 9, 9}};
    const std::vector<std::uint32_t> keys{4, 0, 2, 0, 2, 9, 0};
    std::vector<std::uint32_t> order;
    depict::sort_points_3d(pts, keys, order);
    EXPECT_EQ(order, (std::vector<std::uint32_t>{6, 1, 5, 2, 4, 0, 3}));
    depict::sort_points_3d(pts, {}, order);
    EXPECT_EQ(order, (std::vector<std::uint32_t>{6, 1, 5, 0, 2, 4, 3}));
}

// 2-butene with its two methyls as stereo references.
core::MolBuilder butene(core::BondStereo stereo) {
    core::MolBuilder m = test::read_or_fail("CC=CC");
    m.bonds[1].stereo = stereo;
    m.bonds[1].stereo_atoms = {0, 3};
    return m;
}

TEST(DrawnDoubleBond, CisTransAndUndecided) {
    const std::vector<Point> cis{{0, 1}, {0, 0}, {1, 0}, {1, 1}}, trans{{0, 1}, {0, 0}, {1, 0}, {1, -1}},
        on_axis{{-1, 0}, {0, 0}, {1, 0}, {1, 1}};
    const core::MolBuilder m = butene(core::BondStereo::Cis);
    EXPECT_EQ(depict::drawn_double_bond_config(m, cis, 1), 3);
    EXPECT_EQ(depict::drawn_double_bond_config(m, trans, 1), 4);
    EXPECT_EQ(depict::drawn_double_bond_config(m, on_axis, 1), depict::UNDECIDED_CONFIG);
    core::MolBuilder missing = m;
    missing.bonds[1].stereo_atoms[1] = core::NONE;
    EXPECT_EQ(depict::drawn_double_bond_config(missing, cis, 1), depict::UNDECIDED_CONFIG);
    EXPECT_THROW(depict::drawn_double_bond_config(m, cis, 3), InternalError);

    const auto map = [](const std::vector<Point>& v) {
        PositionMap p;
        for (std::uint32_t i = 0; i < v.size(); ++i) p[i] = v[i];
        return p;
    };
    EXPECT_TRUE(depict::stereo_drawn_intact(m, map(cis)));
    EXPECT_FALSE(depict::stereo_drawn_intact(m, map(trans)));
    EXPECT_FALSE(depict::stereo_drawn_intact(m, map(on_axis)));
    EXPECT_TRUE(depict::stereo_drawn_intact(butene(core::BondStereo::None), map(on_axis)));
}

TEST(PlacementScore, BondedPairsNeverClashAndOrderDoesNotMatter) {
    const core::MolBuilder m = test::read_or_fail("CC.C.C");
    const depict::BondedPairs bonded(m);
    const std::vector<double> radii{0.25, 0.25, 0.25, 0.5};
    const std::vector<depict::PlacedPoint> near_bonded{{1, 0.1, 0.0}};
    EXPECT_EQ(depict::placement_score(bonded, radii, PositionMap{{0, {0, 0}}}, near_bonded),
              (depict::PlacementScore{0, 0}));
    const std::vector<depict::PlacedPoint> a{{2, 0.01, 0}, {3, 0.3, 0}}, b{{3, 0.3, 0}, {2, 0.01, 0}};
    const auto sa = depict::placement_score(bonded, radii, PositionMap{{0, {0, 0}}}, a);
    EXPECT_EQ(sa, depict::placement_score(bonded, radii, PositionMap{{0, {0, 0}}}, b));
    EXPECT_EQ(sa.first, 1u);
    EXPECT_EQ(sa.second, std::llround((0.49 * 0.49 + 0.45 * 0.45) * 1e9));
}

// Every pair measured, the plain way, against the scorer that passes over drawn
// points far from a many-atom proposal: random fragments on a bonded chain with
// mixed label radii, some coordinates and radii not finite.
TEST(PlacementScore, AgreesWithEveryPairMeasured) {
    const core::MolBuilder m = test::read_or_fail("CCCCCCCCCCCCCCCCCCCCCCCC");
    const depict::BondedPairs bonded(m);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double odd[] = {std::nan(""), std::numeric_limits<double>::infinity(), -1e300};
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<double> radii(24);
        for (double& r : radii) r = rng() % 3 == 0 ? 0.0 : 0.6 * (unit(rng) + 1.0);
        const double spread = trial % 3 == 0 ? 1.0 : 4.0;
        PositionMap proposal;
        std::vector<depict::PlacedPoint> placed;
        for (std::uint32_t a = 0; a < 24; ++a) {
            const Point p{spread * unit(rng), spread * unit(rng)};
            if (rng() % 3 == 0)
                proposal.emplace(a, p);
            else
                placed.push_back({a, p.x, p.y});
        }
        if (trial % 50 == 1 && !proposal.empty()) proposal.begin()->second.y = odd[trial / 50 % 3];
        if (trial % 50 == 2) radii[trial / 50 % 24] = odd[trial / 50 % 3];
        std::uint64_t near = 0;
        std::vector<double> overlaps;
        for (const auto& [c, pc] : proposal)
            for (const depict::PlacedPoint& q : placed) {
                if (bonded.contains(c, q.atom)) continue;
                const double reach = radii[c] + radii[q.atom], d = std::hypot(pc.x - q.x, pc.y - q.y);
                near += d < 0.05;
                if (d < reach) overlaps.push_back((reach - d) * (reach - d));
            }
        std::sort(overlaps.begin(), overlaps.end());
        double sum = 0.0;
        for (double o : overlaps) sum += o;
        const depict::PlacementScore expected{near, core::round_saturating<std::int64_t>(sum * 1e9)};
        const std::span<const depict::PlacedPoint> all(placed), head = all.first(placed.size() / 2);
        ASSERT_EQ(depict::placement_score(bonded, radii, proposal, all), expected) << trial;
        ASSERT_EQ(depict::placement_score(bonded, radii, proposal, head, all.subspan(head.size())), expected) << trial;
    }
}

TEST(OrientFragment, TurnsOntoTheTargetAndMirrors) {
    const auto s = test::ring_systems_of("C1CCCCC1");
    const auto ring = depict::layout_ring_system(s->mol, s->records[0], s->ranks, nullptr).positions;
    const Point target{5, 5};
    const auto [turned, mirrored] = depict::orient_fragment(s->mol, ring, 0, target, {0, 2});
    EXPECT_EQ(turned.at(0), target);
    // The ring hangs from atom 0 along +y: its centre lies straight above.
    Point c{};
    for (const auto& [a, p] : turned) c = c + p;
    EXPECT_NEAR(c.x / 6, 5.0, 1e-9);
    EXPECT_NEAR(c.y / 6, 6.0, 1e-9);
    for (const auto& [a, p] : turned) EXPECT_NEAR(mirrored.at(a).x, 10.0 - p.x, 1e-9);
    // No direction: the mirror is the point reflection through the target.
    const auto [t2, m2] = depict::orient_fragment(s->mol, ring, 0, target, {0, 0});
    for (const auto& [a, p] : t2) EXPECT_NEAR(depict::length(m2.at(a) + p - 2.0 * target), 0.0, 1e-9);
    EXPECT_THROW(depict::orient_fragment(s->mol, ring, 17, target, {1, 0}), InternalError);
}

// Without exactly two drawn neighbours the fragment points along its mean
// position: the sum divided by the count (5/3 is not 5 x (1/3) in doubles).
TEST(OrientFragment, MeanDirectionDividesByTheCount) {
    const core::MolBuilder m = test::read_or_fail("C.C.C");
    const PositionMap fragment{{0, {0, 0}}, {1, {2, 0}}, {2, {3, 1}}};
    const auto [turned, mirrored] = depict::orient_fragment(m, fragment, 0, {1, 1}, {1, 0});
    const double phi = std::atan2(0.0, 1.0) - std::atan2(1.0 / 3.0, 5.0 / 3.0);
    for (const auto& [a, q] : fragment) EXPECT_EQ(turned.at(a), (Point{1, 1} + depict::rotated(q, phi))) << a;
    // A fragment centred on its attachment atom has no direction: it is only moved.
    const PositionMap balanced{{0, {0, 0}}, {1, {1, 0}}, {2, {-1, 0}}};
    const auto moved = depict::orient_fragment(m, balanced, 0, {1, 1}, {0, 1}).first;
    EXPECT_EQ(moved, (PositionMap{{0, {1, 1}}, {1, {2, 1}}, {2, {0, 1}}}));
}

TEST(BestOrientedPlacement, KeepsTheFirstUnlessTheMirrorScoresLower) {
    const core::MolBuilder m = test::read_or_fail("CCC.C");
    const depict::BondedPairs bonded(m);
    const PositionMap bent{{0, {0, 0}}, {1, {1, 0}}, {2, {1.5, 0.8}}};  // not its own mirror image
    const auto [first, mirror] = depict::orient_fragment(m, bent, 0, {0, 1}, {0, 1});
    const std::vector<double> radii(4, 0.25);
    const auto free = depict::best_oriented_placement(m, bonded, radii, 0, &bent, {}, {0, 0}, {0, 1});
    ASSERT_TRUE(free.placement);
    EXPECT_EQ(*free.placement, first);
    // Something where the first orientation puts atom 2: the mirror wins.
    const std::vector<depict::PlacedPoint> blocker{{3, first.at(2).x, first.at(2).y}};
    const auto other = depict::best_oriented_placement(m, bonded, radii, 0, &bent, blocker, {0, 0}, {0, 1});
    EXPECT_EQ(*other.placement, mirror);
    EXPECT_EQ(other.score, (depict::PlacementScore{0, 0}));
    const Point on_blocker{blocker[0].x, blocker[0].y};
    const auto lone = depict::best_oriented_placement(m, bonded, radii, 0, nullptr, blocker, {0, 0}, on_blocker);
    EXPECT_FALSE(lone.placement);
    EXPECT_EQ(lone.score.first, 1u);
}

}  // namespace
}  // namespace quorix
