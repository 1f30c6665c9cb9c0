#pragma once
// Conjugated bonds and atom hybridisation of a perceived molecule.
#include "chem/valence.hpp"
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

// Same, taking each atom's valence and hydrogens from what assign_valences has
// just returned for the molecule as it stands (nothing the valences depend on
// changed since), instead of computing them again.
void perceive_conjugation_and_hybridization(core::MolBuilder& mol, const ValenceLists& valences);

}  // namespace quorix::chem
