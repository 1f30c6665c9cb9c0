#pragma once
// Label radii, clashes, crossings and the clean-up of a finished layout by rigid
// mirror moves (and 30-degree turns while atoms still coincide).
#include <algorithm>
#include <compare>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/builder.hpp"
#include "depict/layout.hpp"

namespace quorix::depict {

using AtomPair = std::pair<std::uint32_t, std::uint32_t>;
using BondPair = std::pair<std::uint32_t, std::uint32_t>;

// Per atom, the radius of the disc that covers its drawn label, in bond lengths (>= 0.25).
std::vector<double> label_radii(const core::MolBuilder& mol, double bond_length, double font_size);

// Bonds whose two ends are drawn, ascending.
std::vector<std::uint32_t> drawn_bonds(const core::MolBuilder& mol, const PositionMap& positions);
// Pairs of drawn bonds whose segments cross, ascending.
std::vector<BondPair> find_crossings(const core::MolBuilder& mol, const PositionMap& positions);

struct Clashes {
    std::vector<AtomPair> atoms;     // unbonded drawn pairs closer than their radii sum
    std::vector<BondPair> crossings;
};
Clashes find_clashes(const core::MolBuilder& mol, const PositionMap& positions, std::span<const double> radii);

struct LayoutScore {
    std::uint64_t coincident = 0;
    std::uint64_t crossings = 0;
    double penalty = 0.0;
    bool operator==(const LayoutScore&) const = default;
};
LayoutScore layout_score(const core::MolBuilder& mol, const PositionMap& positions, std::span<const double> radii);

// A bond with both ends drawn, as a segment.
struct DrawnSegment {
    std::uint32_t bond;
    Point a, b;
};

// The layout score of one kept layout, rescored after a move of a few atoms: the
// clash and crossing pairs that touch no moved atom keep their terms, the rest are
// measured again, and the penalty is summed afresh in (a, b) order, so every score
// equals layout_score's for the same positions.
class ScoreKeeper {
public:
    LayoutScore reset(const core::MolBuilder& mol, const PositionMap& positions, std::span<const double> radii);
    // The score once `moved` (drawn atoms) have moved from the kept layout.
    LayoutScore trial(const core::MolBuilder& mol, const PositionMap& positions, std::span<const double> radii,
                      std::span<const std::uint32_t> moved);
    // The last trial's layout becomes the kept one.
    void accept();

    struct Term {
        std::uint32_t a, b;
        double d, reach;
    };

private:
    static LayoutScore total(std::span<const Term> terms, std::size_t crossings);

    std::vector<Term> terms_, trial_terms_;
    std::vector<BondPair> crossings_, trial_crossings_;
    std::vector<std::uint8_t> atom_moved_, bond_moved_;
};

// Acyclic bonds between two atoms of degree >= 2, both drawn, ascending.
std::vector<std::uint32_t> flippable_bonds(const core::MolBuilder& mol, const PositionMap& positions);
// The smaller drawn side of a bond (ties: the side with the lower rank); none on a drawn cycle.
std::optional<std::vector<std::uint32_t>> smaller_bond_side(const core::MolBuilder& mol, const PositionMap& positions,
                                                            std::uint32_t bond, std::span<const std::uint32_t> ranks);
// Drawn atoms reachable from `start` without entering `excluded`, ascending; none when start is undrawn.
std::optional<std::vector<std::uint32_t>> branch_atoms(const core::MolBuilder& mol, const PositionMap& positions,
                                                       std::uint32_t start, std::uint32_t excluded);
std::vector<std::uint32_t> rank_key(std::span<const std::uint32_t> atoms, std::span<const std::uint32_t> ranks);
// Smallest angle in degrees at `atom` between two drawn neighbours not bonded to each other; 180 without a pair.
double min_bond_angle(const core::MolBuilder& mol, const PositionMap& positions, std::uint32_t atom);

// False only when the bounding boxes of segments a-b and c-d lie clearly apart,
// which no crossing or touching (within 1e-9) of the two can survive: a cheap
// test ahead of segments_cross.
inline bool boxes_meet(Point a, Point b, Point c, Point d) {
    constexpr double MARGIN = 1e-8;
    return std::min(a.x, b.x) <= std::max(c.x, d.x) + MARGIN && std::min(c.x, d.x) <= std::max(a.x, b.x) + MARGIN &&
           std::min(a.y, b.y) <= std::max(c.y, d.y) + MARGIN && std::min(c.y, d.y) <= std::max(a.y, b.y) + MARGIN;
}

// The point of a drawn atom; a missing one is a broken invariant.
const Point& point_of(const PositionMap& positions, std::uint32_t atom);

struct RefineResult {
    std::vector<AtomPair> unresolved;
    std::vector<BondPair> crossings;
};
RefineResult refine_layout(const core::MolBuilder& mol, PositionMap& positions, std::span<const std::uint32_t> ranks,
                           double bond_length, double font_size);
// The same with the molecule's label radii at those sizes given.
RefineResult refine_layout(const core::MolBuilder& mol, PositionMap& positions, std::span<const std::uint32_t> ranks,
                           std::span<const double> radii);

}  // namespace quorix::depict
