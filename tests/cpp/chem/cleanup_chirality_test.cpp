#include "chem/cleanup_chirality.hpp"

#include <gtest/gtest.h>

#include <string>

#include "atoms.hpp"

using namespace quorix;
using core::ChiralTag;
using core::Hybridization;
using core::MolBuilder;

namespace {

// A centre (atom 0) with `bonds` fluorine neighbours plus declared and implicit
// hydrogens.
MolBuilder centre(std::uint8_t tag, std::uint8_t permutation, std::uint32_t bonds, std::uint8_t explicit_hs,
                  std::uint8_t implicit_hs, Hybridization hyb) {
    MolBuilder mol = test::star(test::AtomSpec{78, 0, explicit_hs}, bonds, 9);
    core::Atom& c = mol.atoms[0];
    c.chiral_tag = static_cast<ChiralTag>(tag);
    c.chiral_permutation = permutation;
    c.num_implicit_hs = implicit_hs;
    c.hybridization = hyb;
    return mol;
}

struct Case {
    std::string name;
    std::uint8_t tag, permutation;
    std::uint32_t bonds;
    std::uint8_t explicit_hs, implicit_hs;
    Hybridization hyb;
    std::uint8_t tag_after, permutation_after;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ChiralityCleanup : public ::testing::TestWithParam<Case> {};

TEST_P(ChiralityCleanup, KeepsOnlyMarksTheAtomCanCarry) {
    const Case& c = GetParam();
    MolBuilder mol = centre(c.tag, c.permutation, c.bonds, c.explicit_hs, c.implicit_hs, c.hyb);
    const MolBuilder before = mol;
    const bool changes = c.tag_after != c.tag || c.permutation_after != c.permutation;
    EXPECT_EQ(chem::cleanup_chirality(mol), changes ? 1u : 0u);
    EXPECT_EQ(static_cast<std::uint8_t>(mol.atoms[0].chiral_tag), c.tag_after);
    EXPECT_EQ(mol.atoms[0].chiral_permutation, c.permutation_after);
    mol.atoms[0].chiral_tag = before.atoms[0].chiral_tag;
    mol.atoms[0].chiral_permutation = before.atoms[0].chiral_permutation;
    EXPECT_EQ(mol, before) << "only the two chirality fields may change";
}

constexpr std::uint8_t CW = 1, CCW = 2, ALLENE = 3, SP = 4, TB = 5, OH = 6;

INSTANTIATE_TEST_SUITE_P(
    Marks, ChiralityCleanup,
    ::testing::Values(
        Case{"tetrahedral_on_sp2", CCW, 0, 3, 0, 0, Hybridization::Sp2, 0, 0},
        Case{"allene_never_touched", ALLENE, 2, 0, 0, 0, Hybridization::Sp3, ALLENE, 2},
        Case{"square_planar_fits", SP, 2, 4, 0, 0, Hybridization::Sp2d, SP, 2},
        Case{"square_planar_hydrogens_count", SP, 3, 3, 1, 0, Hybridization::Sp2d, SP, 3},
        // Four vertices cannot arrange two bonds, whatever the hydrogens add.
        Case{"square_planar_two_bonds", SP, 3, 2, 1, 1, Hybridization::Sp2d, 0, 0},
        Case{"octahedron_three_bonds", OH, 1, 3, 1, 0, Hybridization::Sp3, 0, 0},
        Case{"square_planar_bad_number", SP, 4, 4, 0, 0, Hybridization::Sp2d, SP, 0},
        Case{"square_planar_no_number", SP, 0, 3, 0, 0, Hybridization::Sp2d, SP, 0},
        Case{"bipyramid_fits", TB, 20, 5, 0, 0, Hybridization::Sp3d, TB, 20},
        Case{"bipyramid_six_ligands", TB, 3, 6, 0, 0, Hybridization::Sp3d, 0, 0},
        Case{"octahedron_bare_atom", OH, 1, 0, 0, 0, Hybridization::Unspecified, 0, 0},
        Case{"unknown_tag_like_octahedron", 9, 31, 6, 0, 0, Hybridization::Sp3d2, 9, 0},
        Case{"no_tag", 0, 0, 3, 0, 0, Hybridization::Sp2, 0, 0}),
    [](const auto& info) { return info.param.name; });

TEST(ChiralityCleanup, CountsChangedAtomsOverTheMolecule) {
    MolBuilder mol = centre(CW, 0, 3, 0, 0, Hybridization::Sp2);  // centre loses its tag
    mol.atoms[1].chiral_tag = ChiralTag::Ccw;                     // fluorines: not sp3
    mol.atoms[2].chiral_tag = ChiralTag::Octahedral;              // one ligand
    mol.atoms[3].chiral_tag = ChiralTag::Allene;
    EXPECT_EQ(chem::cleanup_chirality(mol), 3u);
    EXPECT_EQ(mol.atoms[3].chiral_tag, ChiralTag::Allene);
    EXPECT_EQ(chem::cleanup_chirality(mol), 0u);
    MolBuilder empty;
    EXPECT_EQ(chem::cleanup_chirality(empty), 0u);
}

}  // namespace
