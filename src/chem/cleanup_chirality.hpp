#pragma once
// Removal of chirality marks that an atom's geometry cannot carry.
#include <cstdint>

#include "core/builder.hpp"

namespace quorix::chem {

// Drops tetrahedral marks on atoms that are not sp3 and polyhedral marks whose
// ligand count or permutation number is impossible. Reads `hybridization`, so it
// runs after `assign_hybridization`. Returns the number of atoms changed.
std::uint32_t cleanup_chirality(core::MolBuilder& mol);

}  // namespace quorix::chem
