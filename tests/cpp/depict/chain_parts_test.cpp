// The chain step's measures against slow, obviously right versions of
// themselves: the angular clearance with a full remainder for every angle, the
// placement score with the drawing given whole or split in two, and whole steps
// on real half-drawn molecules with and without the flat per-atom points.
#include <bit>
#include <cmath>
#include <numbers>
#include <random>

#include "depict/chains.hpp"
#include "depict/orient.hpp"
#include "depict/refine.hpp"
#include "pipeline.hpp"

namespace quorix {
namespace {

using depict::Point;
using depict::PositionMap;

constexpr double TWO_PI = 2.0 * std::numbers::pi;

double slow_clearance(double phi, const std::vector<double>& occupied) {
    double c = std::numbers::pi;
    for (double a : occupied) {
        double d = std::fmod(phi - a, TWO_PI);
        if (d < 0) d += TWO_PI;
        c = std::min({c, d, TWO_PI - d});
    }
    return c;
}

TEST(ChainParts, ClearanceMatchesAFullRemainderBitForBit) {
    // Differences of exactly one turn, just inside and beyond it, signed zeros and NaN.
    const double below = std::nextafter(TWO_PI, 0.0);
    std::vector<std::pair<double, std::vector<double>>> cases{
        {TWO_PI, {0.0}},  {0.0, {TWO_PI}},        {below, {0.0}},     {0.0, {below}},  {-0.0, {0.0}},
        {0.0, {-0.0}},    {3 * TWO_PI, {0.5}},    {-7.0, {5.0, 1.0}}, {NAN, {1.0}},    {1.0, {INFINITY}},
        {1.0, {}},        {2 * TWO_PI, {TWO_PI}}, {-TWO_PI, {0.0}},   {0.0, {-TWO_PI}}};
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> angle(-3 * TWO_PI, 3 * TWO_PI);
    for (int i = 0; i < 20000; ++i) {
        std::vector<double> occupied(1 + i % 4);
        for (double& a : occupied) a = angle(rng);
        cases.emplace_back(angle(rng), std::move(occupied));
    }
    for (const auto& [phi, occupied] : cases)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(depict::clearance(phi, occupied)),
                  std::bit_cast<std::uint64_t>(slow_clearance(phi, occupied)))
            << phi << " against " << occupied.size() << " directions";
}

// A crowded random drawing of atoms 2.. scored whole, and split at every point:
// the same near count and penalty, for a map, a pair list and a lone atom.
TEST(ChainParts, PlacementScoreOfASplitDrawingIsTheScoreOfTheWhole) {
    const core::MolBuilder m = test::read_or_fail("CCCCCC.C.C.C.C.C.C.C.C.C.C.C.C");
    const depict::BondedPairs bonded(m);
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> coord(-0.6, 0.6), radius(0.0, 0.4);
    for (int round = 0; round < 200; ++round) {
        std::vector<double> radii(m.num_atoms());
        for (double& r : radii) r = radius(rng);
        std::vector<depict::PlacedPoint> drawn;
        for (std::uint32_t a = 2; a < m.num_atoms(); ++a) drawn.push_back({a, coord(rng), coord(rng)});
        const PositionMap proposal{{0, {coord(rng), coord(rng)}}, {1, {coord(rng), coord(rng)}}};
        const std::vector<std::pair<std::uint32_t, Point>> pairs(proposal.begin(), proposal.end());
        const auto whole = depict::placement_score(bonded, radii, proposal, drawn);
        const auto lone = depict::placement_score(bonded, radii, PositionMap{{0, proposal.at(0)}}, drawn);
        ASSERT_GT(whole.second, 0) << "the drawing is meant to be crowded";
        const std::span<const depict::PlacedPoint> all(drawn);
        for (std::size_t k = 0; k <= drawn.size(); ++k) {
            ASSERT_EQ(depict::placement_score(bonded, radii, proposal, all.first(k), all.subspan(k)), whole) << k;
            ASSERT_EQ(depict::placement_score(bonded, radii, pairs, all.subspan(k), all.first(k)), whole) << k;
            ASSERT_EQ(depict::placement_score(bonded, radii, 0, proposal.at(0), all.first(k), all.subspan(k)), lone);
        }
    }
}

// Every 35th real molecule, its atoms of the lower half of the index range
// drawn where the full layout put them: each step from a drawn atom gives the
// same records whether drawn atoms are found in the map or in flat arrays.
TEST(ChainParts, StepsOnRealMoleculesAgreeWithAndWithoutFlatPoints) {
    std::size_t steps = 0;
    for (std::size_t i = 0; i < test::data_records().size(); i += 35) {
        const test::Drawing d = test::draw(test::prepared(test::data_records()[i].smiles));
        const core::MolBuilder& m = d.mol;
        const std::uint32_t half = m.num_atoms() / 2;
        PositionMap positions;
        std::vector<std::uint8_t> drawn(m.num_atoms(), 0), ring_atoms(m.num_atoms(), 0);
        std::vector<Point> points(m.num_atoms());
        std::vector<depict::PlacedPoint> placed;
        depict::SideSigns sides;
        for (std::uint32_t a = 0; a < half; ++a) {
            positions[a] = points[a] = d.positions.at(a);
            drawn[a] = 1;
            placed.push_back({a, points[a].x, points[a].y});
            sides[a] = a % 3 == 0 ? -1 : 1;
        }
        for (const chem::Ring& ring : chem::sssr(m))
            for (std::uint32_t a : ring.atoms) ring_atoms[a] = 1;
        std::vector<depict::BondSegment> segments;
        for (const core::Bond& b : m.bonds)
            if (b.begin < half && b.end < half) segments.push_back({points[b.begin], points[b.end]});
        const depict::BondedPairs bonded(m);
        const std::vector<double> radii = depict::label_radii(m, depict::STYLE_2D.bond_length, depict::STYLE_2D.font_size);
        for (std::uint32_t u = 0; u < half; ++u) {
            std::vector<std::uint32_t> unplaced;
            for (const core::Neighbor nb : m.neighbors(u))
                if (nb.atom >= half) unplaced.push_back(nb.atom);
            if (unplaced.empty()) continue;
            std::sort(unplaced.begin(), unplaced.end(), [&](std::uint32_t a, std::uint32_t b) {
                return std::pair(d.ranks[a], a) < std::pair(d.ranks[b], b);
            });
            unplaced.erase(std::unique(unplaced.begin(), unplaced.end()), unplaced.end());
            depict::ChainStep step{m,       d.ranks, positions, sides,    ring_atoms, bonded, radii, 2.0,
                                   unplaced, nullptr, {},        placed,   segments};
            const auto slow = depict::place_chain_neighbours(u, step);
            step.drawn = drawn;
            step.points = points;
            const auto fast = depict::place_chain_neighbours(u, step);
            ASSERT_EQ(slow.size(), fast.size());
            for (std::size_t k = 0; k < slow.size(); ++k) {
                EXPECT_EQ(slow[k].atom, fast[k].atom);
                EXPECT_EQ(slow[k].position, fast[k].position) << test::data_records()[i].smiles << " at " << u;
                EXPECT_EQ(slow[k].side, fast[k].side);
            }
            ++steps;
        }
    }
    EXPECT_GT(steps, 300u);
}

}  // namespace
}  // namespace quorix
