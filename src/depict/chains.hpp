#pragma once
// Chain layout: the scoring of proposed placements against the atoms already
// drawn, and the neighbour directions the ring-system orientation reads.
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "core/builder.hpp"
#include "depict/layout.hpp"

namespace quorix::depict {

// Every bond as (smaller atom, larger atom), sorted; bonded pairs never clash.
class BondedPairs {
public:
    explicit BondedPairs(const core::MolBuilder& mol);
    bool contains(std::uint32_t a, std::uint32_t b) const;

private:
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs_;
};

struct PlacedPoint {
    std::uint32_t atom;
    double x, y;
};

// (near count, penalty), compared lexicographically, lower better.
using PlacementScore = std::pair<std::uint64_t, std::int64_t>;

// Near count: unbonded pairs closer than 0.05; penalty: round(1e9 x the sum,
// taken ascending, of squared label-radius overlaps).
PlacementScore placement_score(const BondedPairs& bonded, std::span<const double> radii,
                               const PositionMap& proposal, std::span<const PlacedPoint> placed);

// Unit vectors from `a`'s point to each neighbour present in `positions`, in
// `a`'s neighbour order.
std::vector<Point> placed_neighbour_directions(const core::MolBuilder& mol, std::uint32_t a, Point from,
                                               const PositionMap& positions);

}  // namespace quorix::depict
