#pragma once
// Drawn cis/trans: a double bond with a stored cis or trans value must look that
// way in the 2-D drawing, because a molblock reader takes it from the coordinates.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/builder.hpp"
#include "depict/layout.hpp"

namespace quorix::depict {

// The bond count as u32, which every bond walk of the depiction assumes.
inline std::uint32_t bond_count_u32(const core::MolBuilder& mol) {
    if (mol.bonds.size() > 0xFFFFFFFFull) internal_error("键数超出 u32");
    return static_cast<std::uint32_t>(mol.bonds.size());
}

// Atoms reachable from `atom` (an end of `bond`) without walking `bond`, ascending;
// absent when the other end is reachable that way (the bond lies on a ring).
std::optional<std::vector<std::uint32_t>> bond_side_atoms(const core::MolBuilder& mol, std::uint32_t bond,
                                                          std::uint32_t atom);

// Mirrors one side of each acyclic cis/trans bond that is drawn the other way;
// returns the bonds it mended.
std::vector<std::uint32_t> repair_double_bonds(const core::MolBuilder& mol, std::span<Point> coords,
                                               std::span<const std::uint32_t> ranks);

// Cis/trans bonds drawn against their stored value, ascending.
std::vector<std::uint32_t> find_misdrawn_double_bonds(const core::MolBuilder& mol, std::span<const Point> coords);

}  // namespace quorix::depict
