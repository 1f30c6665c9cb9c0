#pragma once
// Carrying a stereocentre's tag over to a copy of it whose neighbours come in a
// different order, or are partly missing: products and byproducts both do it.
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/builder.hpp"

namespace quorix::match {

// Ligands in reactant order with gaps, set against the actual neighbour order:
// two equal-length lists whose permutation parity says whether a tetrahedral
// tag flips, or none when they cannot be lined up.
std::optional<std::pair<std::vector<std::uint32_t>, std::vector<std::uint32_t>>> ligand_correspondence(
    std::span<const std::optional<std::uint32_t>> ligands, std::span<const std::uint32_t> actual);
// Fills each gap with the next actual neighbour that is not a ligand.
std::optional<std::vector<std::uint32_t>> fill_unmapped_ligands(std::span<const std::optional<std::uint32_t>> ligands,
                                                                std::span<const std::uint32_t> actual);

// The tetrahedral tag of `atom` of `source`, re-expressed for the neighbour order
// of its copy `copy` in `target`; `to_target` gives each source atom's copy
// (NONE when it has none). Neighbours that cannot be lined up with the old ones
// give Unspecified: a kept tag would be invented stereo.
core::ChiralTag reexpress_tetrahedral(const core::MolBuilder& source, std::uint32_t atom,
                                      std::span<const std::uint32_t> to_target, const core::MolBuilder& target,
                                      std::uint32_t copy, core::ChiralTag tag);

}  // namespace quorix::match
