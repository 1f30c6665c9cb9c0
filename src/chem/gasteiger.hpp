#pragma once
#include <cstdint>
#include <vector>

#include "core/builder.hpp"

namespace quorix::chem {

// Gasteiger-Marsili partial charges, implicit hydrogens lumped onto their atom.
// Atoms outside the parameter table yield (and spread) non-finite charges.
std::vector<double> gasteiger_charges(const core::MolBuilder& mol, std::uint32_t iterations);

struct GasteigerResult {
    std::vector<double> charges;
    std::vector<double> hydrogen_charges;  // lumped charge of each atom's counted hydrogens
};
// The same computation, also returning the lumped hydrogen charges.
GasteigerResult gasteiger_with_hydrogens(const core::MolBuilder& mol, std::uint32_t iterations);

}  // namespace quorix::chem
