#include "chem/cleanup_chirality.hpp"

#include "core/polyhedron.hpp"

namespace quorix::chem {

using core::Atom;
using core::ChiralTag;
using core::Hybridization;

std::uint32_t cleanup_chirality(core::MolBuilder& mol) {
    std::uint32_t changed = 0;
    const std::uint32_t n_atoms = mol.num_atoms();
    for (std::uint32_t i = 0; i < n_atoms; ++i) {
        Atom& atom = mol.atoms[i];
        const auto tag = static_cast<std::uint8_t>(atom.chiral_tag);
        if (tag == 0 || tag == static_cast<std::uint8_t>(ChiralTag::Allene)) continue;
        const std::uint32_t ligands = mol.degree[i] + atom.num_explicit_hs + atom.num_implicit_hs;
        bool drop_tag = false;
        bool drop_permutation = false;
        if (core::is_tetrahedral(atom.chiral_tag)) {
            drop_tag = atom.hybridization != Hybridization::Sp3;
        } else {
            // Square planar, trigonal bipyramidal, and octahedral for every larger
            // (unknown) tag value: ligand range and highest permutation number.
            std::uint32_t max_ligands = 6;
            std::uint32_t max_permutation = 30;
            if (tag == static_cast<std::uint8_t>(ChiralTag::SquarePlanar)) {
                max_ligands = 4;
                max_permutation = 3;
            } else if (tag == static_cast<std::uint8_t>(ChiralTag::TrigonalBipyramidal)) {
                max_ligands = 5;
                max_permutation = 20;
            }
            // A class that cannot arrange the atom's bonds is never written;
            // kept, it would only put the atom in brackets.
            if (ligands < 2 || ligands > max_ligands || !core::polyhedron_fits_bonds(max_ligands, mol.degree[i])) {
                drop_tag = true;
            } else if (atom.chiral_permutation > max_permutation) {
                drop_permutation = true;
            }
        }
        if (drop_tag) {
            atom.chiral_tag = ChiralTag::Unspecified;
            atom.chiral_permutation = 0;
            ++changed;
        } else if (drop_permutation) {
            atom.chiral_permutation = 0;
            ++changed;
        }
    }
    return changed;
}

}  // namespace quorix::chem
