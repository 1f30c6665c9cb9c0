#pragma once
// Stereo read from the graph alone: which double bonds can carry cis/trans,
// which @/@@ marks are meaningful, and the cis/trans that `/` and `\` marks on
// single bonds give each double bond. Coordinates are never read here.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/builder.hpp"

namespace quorix::io {

// True when the bond lies in a ring of at most 7 atoms (a path of at most 6
// bonds joins its ends without it). Out-of-range bonds answer false.
bool in_small_ring(const core::MolBuilder& mol, std::uint32_t bond);

// True when `atom`, the end of a double bond to `partner`, has substituents that
// can be told apart by `classes`: at most one substituent, or two of different
// classes. Three or more substituents answer false.
bool end_is_distinguishable(const core::MolBuilder& mol, std::uint32_t atom, std::uint32_t partner,
                            std::span<const std::uint32_t> classes);

struct SideNeighbour {
    std::uint32_t atom;
    std::uint32_t bond;
    bool operator==(const SideNeighbour&) const = default;
};

// The atom's neighbours in half-edge order, without the partner and without any
// neighbour joined by a double bond.
std::vector<SideNeighbour> side_neighbours(const core::MolBuilder& mol, std::uint32_t atom, std::uint32_t partner);

// True when the bond holds a stored cis/trans whose reference atoms are still
// neighbours of the right ends, and neither end is a cumulated centre (all its
// other bonds double), where no mark could express it. The bond's own order is
// not examined.
bool has_double_bond_stereo(const core::MolBuilder& mol, std::uint32_t bond);
// The same test for a value held apart from the bond: `stereo` against the
// reference atoms `atoms`.
bool stored_stereo_fits(const core::MolBuilder& mol, std::uint32_t bond, core::BondStereo stereo,
                        const std::array<std::uint32_t, 2>& atoms);

// The direction of a single bond as seen from `atom` (one of its ends).
core::BondDirection direction_from(const core::Bond& bond, std::uint32_t atom);

// Per bond 1 when its `/` or `\` mark counts: it sits beside a double bond that
// can carry cis/trans and that has marks on both sides.
std::vector<std::uint8_t> effective_direction_marks(const core::MolBuilder& mol);
// Same, with the molecule's symmetry classes already at hand.
std::vector<std::uint8_t> effective_direction_marks(const core::MolBuilder& mol,
                                                    std::span<const std::uint32_t> classes);

struct DirectionReference {
    std::uint32_t neighbour;
    core::BondDirection direction;  // seen from the double-bond atom
    bool operator==(const DirectionReference&) const = default;
};

// The first neighbour of `atom` (other than `partner`) whose bond is flagged.
std::optional<DirectionReference> double_bond_reference(const core::MolBuilder& mol, std::uint32_t atom,
                                                        std::uint32_t partner, std::span<const std::uint8_t> flags);

// Clears stored cis/trans on every bond that cannot hold it, then stores cis/trans
// (with its reference atoms) on every eligible double bond that the marks decide
// and that holds no valid value yet; returns how many it stored.
std::uint32_t double_bond_stereo(core::MolBuilder& mol);

struct DoubleBondConfig {
    core::BondStereo stereo;  // Cis or Trans
    std::uint32_t begin_ref;  // neighbour of the bond's begin
    std::uint32_t end_ref;    // neighbour of the bond's end
    bool operator==(const DoubleBondConfig&) const = default;
};

// Cis/trans that direction marks give one double bond, without flags, classes
// or the aromatic flag (for query graphs). Nothing is stored.
std::optional<DoubleBondConfig> double_bond_config_from_directions(const core::MolBuilder& mol, std::uint32_t bond);

// The first two neighbours of `atom` (half-edge order) that share a class.
std::optional<std::pair<std::uint32_t, std::uint32_t>> tied_neighbour_pair(const core::MolBuilder& mol,
                                                                          std::uint32_t atom,
                                                                          std::span<const std::uint32_t> classes);

// True when a marked atom is reachable from `a` or `b` without entering `centre`
// (`a` and `b` themselves count).
bool tied_branches_reach_marked(const core::MolBuilder& mol, std::uint32_t centre, std::uint32_t a, std::uint32_t b,
                                std::span<const std::uint8_t> marks);

// True when ties among the atom's neighbours keep it from being a centre
// whatever lies behind them: two neighbours of one class with no neighbours of
// their own (two hydrogens, two fluorines), or three or more of one class.
bool ties_rule_out_centre(const core::MolBuilder& mol, std::uint32_t atom, std::span<const std::uint32_t> classes);

// Per atom 1 when its @/@@ mark is meaningful: it has no two neighbours of one
// class, or such a pair leads to another @/@@ atom. Other classes never count.
std::vector<std::uint8_t> chiral_centres(const core::MolBuilder& mol);
// Same, with the molecule's symmetry classes already at hand.
std::vector<std::uint8_t> chiral_centres(const core::MolBuilder& mol, std::span<const std::uint32_t> classes);

}  // namespace quorix::io
