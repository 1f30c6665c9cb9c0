#pragma once
// Conjugated bonds and atom hybridisation of a perceived molecule.
#include "core/builder.hpp"

namespace quorix::chem {

// Sets CONJUGATED on aromatic bonds and on the bonds joining a multiple bond to a
// further pi-capable neighbour; clears it everywhere else. Needs current aromatic
// flags and implicit hydrogen counts.
void perceive_conjugation(core::MolBuilder& mol);

// Writes every atom's `hybridization` from its declared geometry or its steric
// number; reads the CONJUGATED flags, so it runs after `perceive_conjugation`.
void assign_hybridization(core::MolBuilder& mol);

// Both of the above in that order, computing each atom's valence only once
// (conjugation changes nothing the valences depend on).
void perceive_conjugation_and_hybridization(core::MolBuilder& mol);

}  // namespace quorix::chem
