#pragma once
// Keeps aromaticity perception from taking hydrogens away from an atom.
#include <cstdint>
#include <span>

#include "core/builder.hpp"

namespace quorix::chem {

// `saved` holds every atom's num_implicit_hs from before aromaticity perception.
// Where it exceeds the count the valence rules give now, the difference becomes
// declared hydrogens. Returns the number of atoms changed.
std::uint32_t adjust_hs(core::MolBuilder& mol, std::span<const std::uint8_t> saved);

// Same, with `now` holding every atom's implicit hydrogen count under the current
// valence rules (the implicit_hs list assign_valences has just returned for the
// molecule as it stands) instead of computing it again.
std::uint32_t adjust_hs(core::MolBuilder& mol, std::span<const std::uint8_t> saved,
                        std::span<const std::uint8_t> now);

}  // namespace quorix::chem
