#include "depict/chains.hpp"

#include <algorithm>
#include <cmath>

#include "core/numeric.hpp"
#include "core/scratch.hpp"

namespace quorix::depict {

BondedPairs::BondedPairs(const core::MolBuilder& mol) {
    pairs_.reserve(mol.bonds.size());
    for (const core::Bond& b : mol.bonds) pairs_.emplace_back(std::min(b.begin, b.end), std::max(b.begin, b.end));
    std::sort(pairs_.begin(), pairs_.end());
}

bool BondedPairs::contains(std::uint32_t a, std::uint32_t b) const {
    return std::binary_search(pairs_.begin(), pairs_.end(), std::pair{std::min(a, b), std::max(a, b)});
}

PlacementScore placement_score(const BondedPairs& bonded, std::span<const double> radii,
                               const PositionMap& proposal, std::span<const PlacedPoint> placed) {
    if (proposal.empty() || placed.empty()) return {0, 0};
    std::uint64_t near = 0;
    // Scored for every candidate direction of every chain atom: keep the buffer warm.
    auto lease = core::Scratch<std::vector<double>>::borrow(placed.size());
    std::vector<double>& overlaps = *lease;
    overlaps.clear();
    for (const auto& [c, pc] : proposal) {
        const double rc = at(radii, c);
        for (const PlacedPoint& q : placed) {
            // A pair whose x or y distance alone reaches both limits counts for
            // nothing; most pairs end here without a square root.
            const double reach = rc + at(radii, q.atom), limit = std::max(reach, 0.05);
            const double dx = pc.x - q.x, dy = pc.y - q.y;
            if (std::abs(dx) >= limit || std::abs(dy) >= limit) continue;
            if (q.atom == c || bonded.contains(c, q.atom)) continue;
            const double d = std::hypot(dx, dy);
            if (d < 0.05) ++near;
            if (d < reach) overlaps.push_back((reach - d) * (reach - d));
        }
    }
    // Ascending summation makes the penalty independent of storage order.
    std::sort(overlaps.begin(), overlaps.end());
    double sum = 0.0;
    for (double o : overlaps) sum += o;
    return {near, core::round_saturating<std::int64_t>(sum * 1e9)};
}

std::vector<Point> placed_neighbour_directions(const core::MolBuilder& mol, std::uint32_t a, Point from,
                                               const PositionMap& positions) {
    std::vector<Point> out;
    for (const core::Neighbor n : mol.neighbors(a)) {
        const auto it = positions.find(n.atom);
        if (it != positions.end()) out.push_back(normalised(it->second - from));
    }
    return out;
}

}  // namespace quorix::depict
