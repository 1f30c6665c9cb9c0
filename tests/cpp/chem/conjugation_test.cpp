#include "chem/conjugation.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chem/aromaticity.hpp"
#include "chem/sanitize.hpp"
#include "chem/valence.hpp"
#include "perception_support.hpp"
#include "support.hpp"

using namespace quorix;
using core::Hybridization;
using core::MolBuilder;
using test::bonds_with;
using test::range;

namespace {

// Kekulé SMILES taken through aromaticity and the second hydrogen count, the
// state in which the pipeline perceives conjugation.
MolBuilder aromatised(const std::string& smiles) {
    MolBuilder mol = test::kekule(smiles);
    chem::perceive_aromaticity(mol);
    test::fill_hydrogens_and_rings(mol);
    return mol;
}

struct ConjugationCase {
    std::string smiles;
    std::vector<std::uint32_t> conjugated;
};

class Conjugation : public ::testing::TestWithParam<ConjugationCase> {};

TEST_P(Conjugation, MarksExactlyTheConjugatedBonds) {
    const ConjugationCase& c = GetParam();
    MolBuilder mol = aromatised(c.smiles);
    // A stale mark on a bond that is not conjugated must go.
    for (auto& b : mol.bonds) b.flags |= core::CONJUGATED;
    chem::perceive_conjugation(mol);
    EXPECT_EQ(bonds_with(mol, core::CONJUGATED), c.conjugated) << c.smiles;
}

INSTANTIATE_TEST_SUITE_P(
    Chemistry, Conjugation,
    ::testing::Values(
        ConjugationCase{"C=CC=C", {0, 1, 2}},         // butadiene
        ConjugationCase{"CC(=O)N", {1, 2}},           // amide; the methyl bond stays clear
        ConjugationCase{"C=COC", {0, 1}},             // enol ether: the O-methyl bond stays clear
        ConjugationCase{"C=C=C", {0, 1}},             // allene centre joins both
        ConjugationCase{"C=CP", {}},                  // phosphorus is never a candidate
        ConjugationCase{"CS(=O)C", {}},               // sulfoxide sulfur exceeds valence 2
        ConjugationCase{"CC(=S)N", {1, 2}},           // thione sulfur with one connection
        ConjugationCase{"NC1=CC=CC=C1", range(0, 7)}, // aniline: ring plus the C-N bond
        // Thiophene: aromatic bonds are conjugated although sulfur is no candidate.
        ConjugationCase{"C1=CSC=C1", range(0, 5)}));

TEST(Conjugation, KeepsTheOtherBondFlags) {
    MolBuilder mol = aromatised("CCC1=CC=CC=C1");
    chem::perceive_conjugation(mol);
    for (std::uint32_t b = 2; b < 8; ++b)
        EXPECT_EQ(mol.bonds[b].flags, core::AROMATIC | core::IN_RING | core::CONJUGATED) << b;
    // The ring carbon's bond to a four-connection carbon is not conjugated.
    EXPECT_EQ(mol.bonds[0].flags, 0u);
    EXPECT_EQ(mol.bonds[1].flags, 0u);
}

struct HybridCase {
    std::string smiles;
    std::uint32_t atom;
    Hybridization expected;
};

class Hybridisation : public ::testing::TestWithParam<HybridCase> {};

TEST_P(Hybridisation, FromGeometryOrStericNumber) {
    const HybridCase& c = GetParam();
    MolBuilder mol = aromatised(c.smiles);
    chem::perceive_conjugation(mol);
    chem::assign_hybridization(mol);
    EXPECT_EQ(int(mol.atoms.at(c.atom).hybridization), int(c.expected)) << c.smiles << " atom " << c.atom;
}

INSTANTIATE_TEST_SUITE_P(
    Chemistry, Hybridisation,
    ::testing::Values(HybridCase{"O=C=O", 1, Hybridization::Sp},         // carbon dioxide
                      HybridCase{"B", 0, Hybridization::Sp2},            // borane: below an octet
                      HybridCase{"CN(C)C", 1, Hybridization::Sp3},       // amine
                      HybridCase{"CC(=O)N", 3, Hybridization::Sp2},      // amide nitrogen
                      HybridCase{"NC1=CC=CC=C1", 0, Hybridization::Sp2}, // aniline nitrogen
                      HybridCase{"C1=COC=C1", 2, Hybridization::Sp2},    // furan oxygen
                      HybridCase{"[H][H]", 0, Hybridization::S},
                      HybridCase{"FS(F)(F)(F)(F)F", 1, Hybridization::Sp3d2},
                      HybridCase{"FS(F)(F)F", 1, Hybridization::Sp3d},   // lone pair: five
                      HybridCase{"FI(F)(F)(F)(F)(F)F", 1, Hybridization::Unspecified},
                      HybridCase{"*C", 0, Hybridization::Unspecified},
                      // A declared geometry overrides the steric number.
                      HybridCase{"F[S@](F)(F)F", 1, Hybridization::Sp3},
                      HybridCase{"F[Pt@SP1](F)(Cl)Cl", 1, Hybridization::Sp2d},
                      // A tetrahedral tag on three connections does not apply.
                      HybridCase{"C[C@](C)=C", 1, Hybridization::Sp2}));

TEST(Hybridisation, RadicalElectronsStayUnpairedBelowAnOctet) {
    MolBuilder mol = aromatised("[CH3]");
    mol.atoms[0].num_radical_electrons = 1;
    chem::assign_hybridization(mol);
    EXPECT_EQ(mol.atoms[0].hybridization, Hybridization::Sp3);
    mol.atoms[0].num_radical_electrons = 0;
    mol.atoms[0].formal_charge = 1;
    chem::assign_hybridization(mol);
    EXPECT_EQ(mol.atoms[0].hybridization, Hybridization::Sp2);
}

TEST(Hybridisation, StoredImplicitCountIsNotTrusted) {
    // The steric rule recomputes hydrogens from the bonds: a stale stored count
    // on a non-fixed atom changes the sigma count only.
    MolBuilder mol = aromatised("C");
    ASSERT_EQ(mol.atoms[0].num_implicit_hs, 4);
    chem::assign_hybridization(mol);
    EXPECT_EQ(mol.atoms[0].hybridization, Hybridization::Sp3);
    mol.atoms[0].num_implicit_hs = 2;  // sigma 2, lone term from four fresh hydrogens: 0
    chem::assign_hybridization(mol);
    EXPECT_EQ(mol.atoms[0].hybridization, Hybridization::Sp);
}

// The pipeline's form (valence lists handed over) against the one that works
// everything out itself, on sanitised real molecules with a few bonds then made
// dative or unspecified: such bonds are no sigma connection at their donor.
TEST(Hybridisation, ListsAgreeWithOwnCountsWhenBondsAreNotSigma) {
    const auto& records = test::data_records();
    std::size_t compared = 0;
    for (std::size_t i = 0; i < records.size(); i += 9) {
        auto read = io::read_smiles(records[i].smiles);
        if (!read || read->num_bonds() < 3 || !chem::sanitize(*read)) continue;
        MolBuilder mol = std::move(*read);
        const std::uint32_t m = mol.num_bonds();
        mol.bonds[i % m].order = i % 2 ? core::BondOrder::Dative : core::BondOrder::Unspecified;
        mol.bonds[(i / 3) % m].order = core::BondOrder::Unspecified;
        auto valences = chem::assign_valences(mol);
        if (!valences) continue;
        MolBuilder own = mol;
        chem::perceive_conjugation_and_hybridization(mol, *valences);
        chem::perceive_conjugation_and_hybridization(own);
        for (std::uint32_t a = 0; a < mol.num_atoms(); ++a)
            ASSERT_EQ(int(mol.atoms[a].hybridization), int(own.atoms[a].hybridization)) << records[i].smiles << " atom " << a;
        for (std::uint32_t b = 0; b < m; ++b)
            ASSERT_EQ(mol.bonds[b].flags, own.bonds[b].flags) << records[i].smiles << " bond " << b;
        ++compared;
    }
    EXPECT_GT(compared, 500u);
}

}  // namespace
