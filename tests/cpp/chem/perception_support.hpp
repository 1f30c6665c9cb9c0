#pragma once
// Molecules for the perception tests: read from SMILES and brought to the state
// the pipeline hands to aromaticity perception (implicit hydrogens, ring flags).
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "chem/rings.hpp"
#include "core/builder.hpp"
#include "core/valence.hpp"
#include "io/smiles/read.hpp"
#include "support.hpp"

namespace quorix::test {

inline core::MolBuilder read(std::string_view smiles) { return read_or_fail(smiles); }

// Implicit hydrogens as the valence step stores them, and ring flags.
inline void fill_hydrogens_and_rings(core::MolBuilder& mol) {
    for (std::uint32_t i = 0; i < mol.num_atoms(); ++i) {
        core::Atom& a = mol.atoms[i];
        const auto v = core::explicit_valence(mol, i, false, float(a.num_explicit_hs)).value_or(0);
        a.num_implicit_hs =
            (a.flags & core::FIXED_HS) ? 0 : core::implicit_hs(mol, i, v, false).value_or(0);
    }
    chem::ring_membership(mol);
}

// A Kekulé-form SMILES ready for aromaticity perception.
inline core::MolBuilder kekule(std::string_view smiles) {
    core::MolBuilder mol = read(smiles);
    fill_hydrogens_and_rings(mol);
    return mol;
}

inline std::vector<std::uint32_t> aromatic_atoms(const core::MolBuilder& mol) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t i = 0; i < mol.num_atoms(); ++i)
        if (mol.atoms[i].flags & core::AROMATIC) out.push_back(i);
    return out;
}

inline std::vector<std::uint32_t> bonds_with(const core::MolBuilder& mol, std::uint32_t flag) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t b = 0; b < mol.num_bonds(); ++b)
        if (mol.bonds[b].flags & flag) out.push_back(b);
    return out;
}

inline std::vector<std::uint32_t> range(std::uint32_t first, std::uint32_t end) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t i = first; i < end; ++i) out.push_back(i);
    return out;
}

}  // namespace quorix::test
