#pragma once
// Keeping polyhedral and allene configurations when a hydrogen changes between
// being counted on an atom and being a neighbour in the graph. Implicit hydrogens
// are counted first by polyhedral classes and allene ligand listings.
#include <cstdint>

#include "core/builder.hpp"

namespace quorix::chem {

// An allene-class centre with exactly two double bonds.
bool is_allene_centre(const core::MolBuilder& mol, std::uint32_t atom);

// Class number of a polyhedral centre after its implicit hydrogen (counted first)
// becomes its last neighbour; unchanged when the class does not count one.
std::uint8_t polyhedral_after_h_appended(core::ChiralTag tag, std::uint8_t permutation,
                                         std::uint32_t degree_before);

// Class number after the neighbour at `position` of `degree_before` neighbours
// (a hydrogen) becomes the implicit hydrogen counted first.
std::uint8_t polyhedral_after_h_folded(core::ChiralTag tag, std::uint8_t permutation,
                                       std::uint32_t degree_before, std::uint32_t position);

}  // namespace quorix::chem
