// The chain step's measures against slow, obviously right versions of
// themselves: the angular clearance with a full remainder for every angle, and
// the placement score with the drawing given whole or split in two.
#include <bit>
#include <cmath>
#include <numbers>
#include <random>

#include "depict/chains.hpp"
#include "depict/orient.hpp"
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

}  // namespace
}  // namespace quorix
