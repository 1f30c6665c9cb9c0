// Chain growth and component layout: the zig-zag, straight runs, spreads at
// crowded centres, ring systems fixed in whole, and the seed.
#include <cmath>
#include <numbers>

#include "depict/chains.hpp"
#include "depict/orient.hpp"
#include "depict/spring.hpp"
#include "pipeline.hpp"

namespace quorix {
namespace {

using depict::Point;
using depict::PositionMap;

constexpr double PI = std::numbers::pi;

PositionMap layout_with_ranks(const core::MolBuilder& m, const std::vector<std::uint32_t>& ranks) {
    const std::vector<chem::Ring> rings = chem::sssr(m);
    const auto records = depict::ring_records(m, rings, ranks);
    const auto comp = test::identity(m.num_atoms());
    return depict::layout_components(m, comp, records, ranks, depict::STYLE_2D, nullptr).coords;
}

// Angle at b between a and c, degrees.
double angle_at(const PositionMap& p, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    const Point u = p.at(a) - p.at(b), v = p.at(c) - p.at(b);
    return std::acos(std::clamp(depict::dot(u, v) / (depict::length(u) * depict::length(v)), -1.0, 1.0)) * 180 / PI;
}

TEST(ChainGrowth, ButaneZigZagsFromTheOrigin) {
    const PositionMap p = layout_with_ranks(test::prepared("CCCC"), {0, 1, 2, 3});
    const Point expected[] = {{0, 0}, {0.8660254037844386, 0.5}, {0.8660254037844386, 1.5}, {1.7320508075688772, 2.0}};
    for (std::uint32_t a = 0; a < 4; ++a) {
        EXPECT_NEAR(p.at(a).x, expected[a].x, 1e-12) << a;
        EXPECT_NEAR(p.at(a).y, expected[a].y, 1e-12) << a;
    }
}

TEST(ChainGrowth, StartAtomSendsItsBondsAt30And150Degrees) {
    const PositionMap p = layout_with_ranks(test::prepared("CCC"), {1, 0, 2});
    EXPECT_EQ(p.at(1), (Point{0, 0}));
    EXPECT_NEAR(std::atan2(p.at(0).y, p.at(0).x), PI / 6, 1e-12);
    EXPECT_NEAR(std::atan2(p.at(2).y, p.at(2).x), 5 * PI / 6, 1e-12);
}

struct AngleCase {
    const char* smiles;
    std::uint32_t a, centre, c;
    double degrees;
};
class CentreAngles : public testing::TestWithParam<AngleCase> {};

TEST_P(CentreAngles, BondAngleAtTheCentre) {
    const AngleCase& k = GetParam();
    const core::MolBuilder m = test::prepared(k.smiles);
    const PositionMap p = layout_with_ranks(m, test::identity(m.num_atoms()));
    EXPECT_NEAR(angle_at(p, k.a, k.centre, k.c), k.degrees, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Table, CentreAngles,
                         testing::Values(AngleCase{"CCC#CC", 1, 2, 3, 180}, AngleCase{"CCC#CC", 2, 3, 4, 180},
                                         AngleCase{"CC=C=CC", 1, 2, 3, 180}, AngleCase{"CCCCC", 1, 2, 3, 120},
                                         // four bonds: one placed, three at +-90 and 180
                                         AngleCase{"CC(C)(C)C", 0, 1, 2, 90}, AngleCase{"CC(C)(C)C", 0, 1, 3, 90},
                                         AngleCase{"CC(C)(C)C", 0, 1, 4, 180}));

// One chain step on a hand-made drawing (ranks = indices, radii 0.1, chain
// angle 120): the direction of each new bond, in degrees.
struct StepCase {
    const char* name;
    const char* smiles;
    std::vector<std::pair<std::uint32_t, Point>> drawn;
    std::int8_t side;
    std::uint32_t u;
    std::vector<std::uint32_t> unplaced;
    std::vector<double> degrees;
};
void PrintTo(const StepCase& k, std::ostream* os) { *os << k.name; }
class ChainStepDirections : public testing::TestWithParam<StepCase> {};

Point at_degrees(double r, double deg) { return {r * std::cos(deg * PI / 180), r * std::sin(deg * PI / 180)}; }

TEST_P(ChainStepDirections, NewBondsPointWhereTheRulesSay) {
    const StepCase& k = GetParam();
    const core::MolBuilder m = test::prepared(k.smiles);
    const std::vector<std::uint32_t> ranks = test::identity(m.num_atoms());
    const PositionMap positions(k.drawn.begin(), k.drawn.end());
    const depict::SideSigns sides{{k.u, k.side}};
    const depict::BondedPairs bonded(m);
    const std::vector<double> radii(m.num_atoms(), 0.1);
    std::vector<depict::PlacedPoint> placed;
    for (const auto& [a, p] : positions) placed.push_back({a, p.x, p.y});
    std::vector<depict::BondSegment> segments;
    for (const core::Bond& b : m.bonds)
        if (positions.contains(b.begin) && positions.contains(b.end))
            segments.push_back({positions.at(b.begin), positions.at(b.end)});
    const depict::ChainStep step{m,         ranks,      positions, sides, {}, bonded, radii, 120 * PI / 180,
                                 k.unplaced, nullptr,   {},        placed, segments};
    const auto records = depict::place_chain_neighbours(k.u, step);
    ASSERT_EQ(records.size(), k.degrees.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        const Point d = records[i].position - positions.at(k.u);
        const double off = std::remainder(std::atan2(d.y, d.x) * 180 / PI - k.degrees[i], 360.0);
        EXPECT_NEAR(off, 0.0, 1e-9) << k.name << " neighbour " << records[i].atom;
        EXPECT_EQ(records[i].side, -k.side);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChainStepDirections,
    testing::Values(
        // Four bonds, one placed at 180: a + 90, a - 90, a + 180 for side +1; the first two swap for -1.
        StepCase{"fourBondsSidePlus", "CC(C)(C)C", {{0, {-1, 0}}, {1, {0, 0}}}, 1, 1, {2, 3, 4}, {270, 90, 0}},
        StepCase{"fourBondsSideMinus", "CC(C)(C)C", {{0, {-1, 0}}, {1, {0, 0}}}, -1, 1, {2, 3, 4}, {90, 270, 0}},
        // Two gaps of 180: the one starting at the smaller angle.
        StepCase{"equalGapsSmallerStart", "CC(C)C", {{0, {1, 0}}, {1, {0, 0}}, {2, {-1, 0}}}, 1, 1, {3}, {90}},
        // Target 60 sits on a drawn atom (the mirror, 300, is more crowded): of
        // the +-30 pair the one with more clearance from 180 comes first.
        StepCase{"moreClearanceFirst",
                 "CCC.C.C",
                 {{0, {-1, 0}}, {1, {0, 0}}, {3, at_degrees(1.05, 60)}, {4, at_degrees(1.01, 300)}},
                 -1, 1, {2}, {30}},
        // Nothing drawn at the centre: every turn is as roomy as its mirror, and
        // of a tied pair the + turn is tried first (60 before 0).
        StepCase{"tiedTurnsTryPlusFirst", "CC.C", {{0, {0, 0}}, {2, at_degrees(1.05, 30)}}, 1, 0, {1}, {60}},
        // All eleven candidates sit on drawn atoms (210 is no candidate): the target itself.
        StepCase{"allBlockedTakesTheTarget",
                 "CC.C.C.C.C.C.C.C.C.C.C.C",
                 {{0, {0, 0}}, {2, at_degrees(1.05, 30)}, {3, at_degrees(1.05, 60)}, {4, at_degrees(1.05, 0)},
                  {5, at_degrees(1.05, 90)}, {6, at_degrees(1.05, -30)}, {7, at_degrees(1.05, 120)},
                  {8, at_degrees(1.05, -60)}, {9, at_degrees(1.05, 150)}, {10, at_degrees(1.05, -90)},
                  {11, at_degrees(1.05, 180)}, {12, at_degrees(1.05, -120)}},
                 1, 0, {1}, {30}}),
    [](const testing::TestParamInfo<StepCase>& info) { return std::string(info.param.name); });

TEST(ChainGrowth, AnAngleJustBelowAFullTurnCountsAsZero) {
    const core::MolBuilder m = test::prepared("CC");
    const PositionMap p{{0, {0, 0}}, {1, {1, -1e-12}}};
    const auto angles = depict::placed_neighbour_angles(m, 0, p.at(0), p, std::vector<std::uint32_t>{0, 1});
    ASSERT_EQ(angles.size(), 1u);
    EXPECT_EQ(angles[0].angle, 0.0);
    EXPECT_EQ(angles[0].key, 0);
}

// A substituent at the fusion atom of two six-membered rings (three equal gaps)
// must land outside both rings, not on a ring's centre.
TEST(ChainGrowth, SubstituentAtAnEvenlySplitFusionAtomStaysOutOfTheRings) {
    for (const char* smiles : {"[H][C@@]12CCCC[C@@]1([H])CCCC2", "CC12CCCCC1CCCC2",
                               "C[C@H](CCCC(C)C)[C@H]1CC[C@@]2([H])[C@@]1(C)CC[C@]1([H])[C@@]2([H])CC=C2C[C@@H](O)CC[C@]12C"}) {
        const test::Drawing d = test::draw(test::prepared(smiles));
        for (const chem::Ring& ring : chem::sssr(d.mol)) {
            Point centre{};
            for (std::uint32_t a : ring.atoms) centre = centre + d.positions.at(a);
            centre = (1.0 / double(ring.atoms.size())) * centre;
            for (const auto& [a, q] : d.positions)
                EXPECT_GT(depict::length(q - centre), 0.5) << smiles << " atom " << a;
        }
    }
}

TEST(ComponentLayout, BrokenInputsAreInternalErrors) {
    const core::MolBuilder m = test::prepared("CC");
    const std::vector<std::uint32_t> ranks{0, 1};
    const auto message = [](auto&& call) {
        try {
            call();
        } catch (const InternalError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(message([&] { depict::layout_components(m, {}, {}, ranks, depict::STYLE_2D, nullptr); }), "分量非空");
    // An atom beyond the rank list.
    EXPECT_NE(message([&] {
                  depict::layout_components(m, std::vector<std::uint32_t>{0, 1}, {}, std::vector<std::uint32_t>{0},
                                            depict::STYLE_2D, nullptr);
              }),
              "no error");
    // The anchor of a chain step must be drawn.
    const PositionMap none;
    const depict::SideSigns sides;
    const depict::BondedPairs bonded(m);
    const std::vector<double> radii{0.25, 0.25};
    const std::vector<std::uint32_t> unplaced{1};
    const depict::ChainStep step{m, ranks, none, sides, {}, bonded, radii, 2.0, unplaced};
    EXPECT_EQ(message([&] { depict::place_chain_neighbours(0, step); }), "no entry found for key");
}

TEST(ComponentLayout, OneAtomSitsAtTheOriginWithoutDegradation) {
    const core::MolBuilder m = test::prepared("[Na+].[Cl-]");
    const auto r = depict::layout_components(m, std::vector<std::uint32_t>{1}, {}, std::vector<std::uint32_t>{0, 1},
                                             depict::STYLE_2D, nullptr);
    EXPECT_TRUE(r.degraded.empty());
    EXPECT_EQ(r.coords, (PositionMap{{1, {0, 0}}}));
}

TEST(ComponentLayout, AcyclicComponentStartsAtItsLowestRankWhateverTheListOrder) {
    const core::MolBuilder m = test::prepared("CC(C)CO");
    const std::vector<std::uint32_t> ranks{3, 1, 4, 0, 2};
    const std::vector<std::uint32_t> forward{0, 1, 2, 3, 4}, backward{4, 3, 2, 1, 0};
    const auto a = depict::layout_components(m, forward, {}, ranks, depict::STYLE_2D, nullptr);
    const auto b = depict::layout_components(m, backward, {}, ranks, depict::STYLE_2D, nullptr);
    EXPECT_EQ(a.coords.at(3), (Point{0, 0}));
    EXPECT_EQ(a.coords, b.coords);
}

TEST(ComponentLayout, RootRingSystemKeepsItsOwnFrameAndTheOtherIsAttached) {
    for (const char* smiles : {"C1CCCCC1CC1CCCCC1", "C1CCC2(CC1)CCCCC2", "c1ccccc1Cc1ccccc1CCc1ccc2ccccc2c1"}) {
        const core::MolBuilder m = test::prepared(smiles);
        const auto ranks = io::canonical_ranks(m);
        const std::vector<chem::Ring> rings = chem::sssr(m);
        const auto records = depict::ring_records(m, rings, ranks);
        const auto r = depict::layout_components(m, test::identity(m.num_atoms()), records, ranks, depict::STYLE_2D, nullptr);
        // The root: most atoms, then the smallest rank list (records come sorted by it).
        std::size_t root = 0;
        for (std::size_t i = 1; i < records.size(); ++i)
            if (records[i].atoms.size() > records[root].atoms.size()) root = i;
        const auto own = depict::layout_ring_system(m, records[root], ranks, nullptr);
        for (const auto& [a, q] : own.positions) EXPECT_EQ(r.coords.at(a), q) << smiles << " atom " << a;
        ASSERT_EQ(r.coords.size(), m.num_atoms());
        for (const core::Bond& b : m.bonds)
            EXPECT_NEAR(depict::length(r.coords.at(b.begin) - r.coords.at(b.end)), 1.0, 1e-6) << smiles;
        EXPECT_EQ(r.coords, depict::layout_components(m, test::identity(m.num_atoms()), records, ranks,
                                                      depict::STYLE_2D, nullptr).coords);
    }
}

TEST(AttachedRingSystem, UncrowdedAnchorTakesThePlainPlacementAlongTheFirstDirection) {
    const core::MolBuilder m = test::prepared("C1CCCCC1");
    const auto ranks = io::canonical_ranks(m);
    const std::vector<chem::Ring> rings = chem::sssr(m);
    const auto records = depict::ring_records(m, rings, ranks);
    const PositionMap own = depict::layout_ring_system(m, records[0], ranks, nullptr).positions;
    const PositionMap drawn;  // nothing drawn yet
    const std::vector<double> radii(m.num_atoms(), 0.25);
    const depict::BondedPairs bonded(m);
    const Point dirs[] = {{0, 1}, {1, 0}};
    const PositionMap got =
        depict::place_attached_ring_system({5, 5}, m, own, 2, dirs, depict::PlacementContext{drawn, radii, bonded});
    EXPECT_EQ(got, depict::orient_fragment(m, own, 2, {5, 5}, dirs[0]).first);
}

// Naphthalene (with the given tail) laid out on its own, and hung from atom 0 at
// the origin along +x, plain and mirrored.
struct HungNaphthalene {
    core::MolBuilder m;
    PositionMap own, plain, mirrored;
};
HungNaphthalene hung_naphthalene(const char* smiles) {
    HungNaphthalene h{test::prepared(smiles), {}, {}, {}};
    const std::vector<std::uint32_t> ranks = test::identity(h.m.num_atoms());
    const std::vector<chem::Ring> rings = chem::sssr(h.m);
    const auto records = depict::ring_records(h.m, rings, ranks);
    h.own = depict::layout_ring_system(h.m, records[0], ranks, nullptr).positions;
    std::tie(h.plain, h.mirrored) = depict::orient_fragment(h.m, h.own, 0, {0, 0}, Point{1, 0});
    return h;
}

TEST(AttachedRingSystem, WithOneDirectionTheMirrorWinsWhenThePlainOneOverlaps) {
    // Naphthalene hung from an alpha atom is not symmetric about its direction: a
    // drawn atom on a point of the plain placement that the mirror leaves free
    // must send the ring system to the mirror image.
    const HungNaphthalene h = hung_naphthalene("c1ccc2ccccc2c1.C");
    const core::MolBuilder& m = h.m;
    const PositionMap &own = h.own, &plain = h.plain, &mirrored = h.mirrored;
    const Point dir{1, 0};
    std::optional<Point> blocker;
    for (const auto& [a, q] : plain) {
        bool free = true;
        for (const auto& [b, r] : mirrored) free &= depict::length(q - r) > 0.9;
        if (free) blocker = q;
    }
    ASSERT_TRUE(blocker);
    const PositionMap drawn{{0, {0, 0}}, {10, *blocker}};
    const std::vector<double> radii(m.num_atoms(), 0.25);
    const depict::BondedPairs bonded(m);
    const depict::PlacementContext ctx{drawn, radii, bonded};
    EXPECT_EQ(depict::place_attached_ring_system({0, 0}, m, own, 0, std::span(&dir, 1), ctx), mirrored);
    const PositionMap empty;
    EXPECT_EQ(depict::place_attached_ring_system({0, 0}, m, own, 0, std::span(&dir, 1), {empty, radii, bonded}), plain);
}

TEST(AttachedRingSystem, WithoutOverlapFewerCrossingsWin) {
    // A short drawn bond across a bond of the plain placement, clear of every
    // atom and of the mirror image: the mirror wins on crossings alone.
    const HungNaphthalene h = hung_naphthalene("c1ccc2ccccc2c1.CC");
    const core::MolBuilder& m = h.m;
    const PositionMap &own = h.own, &plain = h.plain, &mirrored = h.mirrored;
    const Point dir{1, 0};
    const auto crossings = [&](const PositionMap& placed, Point a, Point b) {
        int n = 0;
        for (const core::Bond& bond : m.bonds)
            if (placed.contains(bond.begin) && placed.contains(bond.end))
                n += depict::segments_cross(placed.at(bond.begin), placed.at(bond.end), a, b);
        return n;
    };
    std::optional<std::pair<Point, Point>> stick;
    for (const core::Bond& bond : m.bonds) {
        if (!plain.contains(bond.begin) || !plain.contains(bond.end) || stick) continue;
        const Point u = plain.at(bond.end) - plain.at(bond.begin);
        const Point mid = plain.at(bond.begin) + 0.5 * u, n{-u.y * 0.1, u.x * 0.1};
        const Point a = mid + n, b = mid - n;
        if (crossings(plain, a, b) == 1 && crossings(mirrored, a, b) == 0) stick = std::pair(a, b);
    }
    ASSERT_TRUE(stick);
    const std::vector<double> radii(m.num_atoms(), 0.01);
    const depict::BondedPairs bonded(m);
    const PositionMap drawn{{0, {0, 0}}, {10, stick->first}, {11, stick->second}};
    EXPECT_EQ(depict::place_attached_ring_system({0, 0}, m, own, 0, std::span(&dir, 1), {drawn, radii, bonded}),
              mirrored);
}

}  // namespace
}  // namespace quorix
