#include "chem/sanitize.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "chem/aromaticity.hpp"
#include "perception_support.hpp"
#include "support.hpp"

using namespace quorix;
using core::BondOrder;
using core::ChiralTag;
using core::Hybridization;
using core::MolBuilder;
using test::aromatic_atoms;
using test::range;
using test::read;

namespace {

MolBuilder sanitized(const std::string& smiles) {
    MolBuilder mol = read(smiles);
    auto done = chem::sanitize(mol);
    EXPECT_TRUE(done) << smiles << ": " << (done ? "" : done.error().to_string());
    return mol;
}

TEST(Sanitize, EmptyMoleculeSucceeds) {
    MolBuilder mol;
    EXPECT_TRUE(chem::sanitize(mol));
    EXPECT_EQ(mol, MolBuilder{});
}

TEST(Sanitize, PentavalentCarbonStopsAtTheValenceStepKeepingEarlierEdits) {
    // Atoms: C0 N1 O2 O3 . C4 C5 C6 C7 C8 C9
    MolBuilder mol = read("CN(=O)=O.C(C)(C)(C)(C)C");
    mol.bonds[0].flags |= core::IN_RING;  // stale: the ring step would clear it
    const auto result = chem::sanitize(mol);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_valence());
    EXPECT_EQ(result.error().to_string(), "价键计算失败:原子 #4(C):显式价超出允许范围,显式价 = 5");
    // Step 1 normalised the nitro group and stays applied.
    EXPECT_EQ(mol.atoms[1].formal_charge, 1);
    EXPECT_EQ(mol.atoms[2].formal_charge, -1);
    EXPECT_EQ(mol.bonds[1].order, BondOrder::Single);
    EXPECT_EQ(mol.bonds[2].order, BondOrder::Double);
    // Nothing after the failing step ran: no hydrogens written, no ring pass.
    for (const auto& a : mol.atoms) EXPECT_EQ(a.num_implicit_hs, 0);
    EXPECT_TRUE(mol.bonds[0].flags & core::IN_RING);
}

// The ring stays aromatic, so sanitising again fails again instead of
// accepting cyclopentane.
TEST(Sanitize, UnkekulizableRingStopsKeepingRingFlagsAndValences) {
    MolBuilder mol = read("c1cccc1");
    const std::string text = "kekulize 失败:该芳香体系不存在合法 Kekulé 结构,未配平的原子:[3]";
    const auto result = chem::sanitize(mol);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().is_kekulize());
    EXPECT_EQ(result.error().to_string(), text);
    for (const auto& a : mol.atoms) {
        EXPECT_TRUE(a.flags & core::IN_RING);
        EXPECT_EQ(a.num_implicit_hs, 1);
        EXPECT_EQ(a.hybridization, Hybridization::Unspecified);
    }
    for (const auto& b : mol.bonds) {
        EXPECT_TRUE(b.flags & core::IN_RING);
        EXPECT_TRUE(b.flags & core::AROMATIC);
        EXPECT_EQ(b.order, BondOrder::Aromatic);
        EXPECT_FALSE(b.flags & core::CONJUGATED);
    }
    const MolBuilder failed = mol;
    const auto again = chem::sanitize(mol);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().to_string(), text);
    EXPECT_EQ(mol, failed);
}

TEST(Sanitize, AromaticAndKekuleInputsMeetInOnePerceivedForm) {
    for (const char* smiles : {"c1ccccc1", "C1=CC=CC=C1"}) {
        const MolBuilder mol = sanitized(smiles);
        EXPECT_EQ(aromatic_atoms(mol), range(0, 6)) << smiles;
        for (const auto& b : mol.bonds) {
            EXPECT_EQ(b.order, BondOrder::Aromatic) << smiles;
            EXPECT_EQ(b.flags, core::AROMATIC | core::IN_RING | core::CONJUGATED) << smiles;
        }
        for (const auto& a : mol.atoms) {
            EXPECT_EQ(a.num_implicit_hs + a.num_explicit_hs, 1) << smiles;
            EXPECT_EQ(a.hybridization, Hybridization::Sp2) << smiles;
        }
    }
}

TEST(Sanitize, HydrogensLostToAromatisationBecomeDeclared) {
    // Kekulé pyrrole: the N-H is implicit before aromatisation, and the
    // aromatic N rule would take it away; it comes back as a declared hydrogen.
    for (const char* smiles : {"C1=CNC=C1", "c1cc[nH]c1"}) {
        const MolBuilder mol = sanitized(smiles);
        const std::uint32_t n = std::string(smiles) == "C1=CNC=C1" ? 2 : 3;
        EXPECT_EQ(aromatic_atoms(mol), range(0, 5)) << smiles;
        EXPECT_EQ(mol.atoms[n].num_explicit_hs, 1) << smiles;
        EXPECT_EQ(mol.atoms[n].num_implicit_hs, 0) << smiles;
        EXPECT_EQ(mol.atoms[n].hybridization, Hybridization::Sp2) << smiles;
    }
}

TEST(Sanitize, ChiralityIsCleanedAfterHybridisation) {
    // A tetrahedral mark survives on an sp3 carbon, not on an sp2 one.
    MolBuilder kept = sanitized("F[C@H](Cl)Br");
    EXPECT_EQ(kept.atoms[1].chiral_tag, ChiralTag::Ccw);
    MolBuilder dropped = sanitized("C[C@](F)=C");
    EXPECT_EQ(dropped.atoms[1].hybridization, Hybridization::Sp2);
    EXPECT_EQ(dropped.atoms[1].chiral_tag, ChiralTag::Unspecified);
}

// Every molecule of the real data set: the failures, checked by hand, are
// listed; everything else sanitises, keeps the pipeline's invariants and comes
// out the same from a second run.
TEST(SanitizeRealData, MoleculesFile) {
    std::map<std::string, std::string> failures;
    std::size_t read_count = 0;
    for (const auto& [smiles, id] : test::data_records()) {
        auto parsed = io::read_smiles(smiles);
        if (!parsed) continue;
        ++read_count;
        MolBuilder mol = std::move(*parsed);
        auto result = chem::sanitize(mol);
        if (!result) {
            failures[id] = result.error().to_string();
            continue;
        }
        for (std::uint32_t i = 0; i < mol.num_atoms(); ++i) {
            const auto& a = mol.atoms[i];
            if (a.flags & core::AROMATIC) {
                EXPECT_TRUE(a.flags & core::IN_RING) << id << " atom " << i;
            }
            if (a.chiral_tag == ChiralTag::Cw || a.chiral_tag == ChiralTag::Ccw) {
                EXPECT_EQ(a.hybridization, Hybridization::Sp3) << id << " atom " << i;
            }
        }
        for (std::uint32_t b = 0; b < mol.num_bonds(); ++b) {
            const auto& bond = mol.bonds[b];
            if (bond.flags & core::AROMATIC) {
                EXPECT_TRUE(bond.flags & core::CONJUGATED) << id << " bond " << b;
            }
            if (bond.order == BondOrder::Aromatic) {
                EXPECT_TRUE(bond.flags & core::AROMATIC) << id << " bond " << b;
            }
        }
        // A second run may only release declared hydrogens of Kekulé-written
        // aromatic N-H (the Kekulé step turns them into plain counts); a third
        // run changes nothing at all.
        MolBuilder again = mol;
        ASSERT_TRUE(chem::sanitize(again)) << id;
        MolBuilder third = again;
        ASSERT_TRUE(chem::sanitize(third)) << id;
        EXPECT_EQ(third, again) << id << " " << smiles << ": a third run changed the molecule";
        for (std::uint32_t i = 0; i < mol.num_atoms(); ++i) {
            again.atoms[i].flags &= ~core::FIXED_HS;
            mol.atoms[i].flags &= ~core::FIXED_HS;
        }
        EXPECT_EQ(again, mol) << id << " " << smiles << ": a second run changed the molecule";
    }
    EXPECT_GT(read_count, 6900u);
    // Both are written beyond their element's valence: tetraphenylborate without
    // its charge (neutral boron with four bonds) and a carborane cage carbon
    // with six bonds.
    const std::map<std::string, std::string> expected = {
        {"rtecs:143-66-8", "价键计算失败:原子 #0(B):显式价超出允许范围,显式价 = 4"},
        {"rtecs:19610-37-8", "价键计算失败:原子 #2(C):显式价超出允许范围,显式价 = 6"},
    };
    for (const auto& [id, text] : failures) std::cerr << "sanitize failure " << id << ": " << text << "\n";
    EXPECT_EQ(failures, expected);
}

}  // namespace
