#include "chem/aromaticity.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "chem/cleanup.hpp"
#include "chem/kekulize.hpp"
#include "chem/organometallics.hpp"
#include "chem/radicals.hpp"
#include "chem/rings.hpp"
#include "chem/sssr.hpp"
#include "chem/valence.hpp"
#include "core/error.hpp"
#include "atoms.hpp"
#include "perception_support.hpp"
#include "support.hpp"

using namespace quorix;
using core::BondOrder;
using core::MolBuilder;
using chem::PiContribution;
using test::aromatic_atoms;
using test::AtomSpec;
using test::BondSpec;
using test::bonds_with;
using test::kekule;
using test::range;

namespace {

struct RingCase {
    std::string name;
    std::string smiles;  // Kekulé form
    std::uint32_t rings_accepted;
    std::vector<std::uint32_t> atoms;          // flagged aromatic afterwards
    std::vector<std::uint32_t> flagged_bonds;  // carrying the bond AROMATIC flag afterwards
};

void PrintTo(const RingCase& c, std::ostream* os) { *os << c.name; }

class RingPerception : public ::testing::TestWithParam<RingCase> {};

TEST_P(RingPerception, MarksExactlyTheAromaticRings) {
    const RingCase& c = GetParam();
    MolBuilder mol = kekule(c.smiles);
    const MolBuilder before = mol;
    EXPECT_EQ(chem::perceive_aromaticity(mol), c.rings_accepted);
    EXPECT_EQ(aromatic_atoms(mol), c.atoms);
    EXPECT_EQ(bonds_with(mol, core::AROMATIC), c.flagged_bonds);
    for (std::uint32_t b = 0; b < mol.num_bonds(); ++b) {
        const BondOrder was = before.bonds[b].order;
        const bool flagged = mol.bonds[b].flags & core::AROMATIC;
        if (flagged && (was == BondOrder::Single || was == BondOrder::Double))
            EXPECT_EQ(mol.bonds[b].order, BondOrder::Aromatic) << "bond " << b;
        else
            EXPECT_EQ(mol.bonds[b].order, was) << "bond " << b << " must keep its order";
    }
    // Only the aromatic marks change.
    for (std::uint32_t i = 0; i < mol.num_atoms(); ++i) {
        core::Atom a = mol.atoms[i];
        a.flags &= ~core::AROMATIC;
        EXPECT_EQ(a, before.atoms[i]) << "atom " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Chemistry, RingPerception,
    ::testing::Values(
        RingCase{"benzene", "C1=CC=CC=C1", 1, range(0, 6), range(0, 6)},
        // Each ring alone has six electrons; the fusion bond is marked too.
        RingCase{"naphthalene", "C1=CC=C2C=CC=CC2=C1", 2, range(0, 10), range(0, 11)},
        // Five and seven electrons alone, ten together: only the perimeter is
        // marked and the shared bond 10 keeps its Kekulé order.
        RingCase{"azulene", "C1=CC2=CC=CC=CC2=C1", 2, range(0, 10), range(0, 10)},
        RingCase{"biphenyl", "C1=CC=C(C=C1)C1=CC=CC=C1", 2, range(0, 12),
                 (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12})},
        RingCase{"cyclopentadienyl anion", "[CH-]1C=CC=C1", 1, range(0, 5), range(0, 5)},
        // Exocyclic C=O: the oxygen pulls, the carbon counts no electron.
        RingCase{"2-pyridone", "O=C1C=CC=CN1", 1, range(1, 7), range(1, 7)},
        RingCase{"p-benzoquinone", "O=C1C=CC(=O)C=C1", 0, {}, {}},
        // An exocyclic C=C does not pull: five electrons.
        RingCase{"fulvene", "C=C1C=CC=C1", 0, {}, {}},
        RingCase{"cyclooctatetraene", "C1=CC=CC=CC=C1", 0, {}, {}},
        // The sulfur's valence sum exceeds its first valence: not eligible.
        RingCase{"thiophene S-oxide", "O=S1C=CC=C1", 0, {}, {}},
        // A ring system holding a wildcard keeps its Kekulé form, which is the
        // only one the Kekulé step takes back; a wildcard off the ring is no bar.
        RingCase{"wildcard in benzene", "*1=CC=CC=C1", 0, {}, {}},
        RingCase{"wildcard in five-ring", "*1C=CC=C1", 0, {}, {}},
        RingCase{"three-ring with wildcard", "*1=C[CH+]1", 0, {}, {}},
        RingCase{"wildcard beside benzene", "C1=CC=C2C(=C1)*CC2", 0, {}, {}},
        RingCase{"wildcard off benzene", "*C1=CC=CC=C1", 1, range(1, 7), range(1, 7)},
        // Six electrons each, but read back aromatic the Kekulé step would give
        // the charged atom no double bond (its target valence is not the
        // valence it has), or the element has no aromatic symbol: the ring keeps
        // its Kekulé form, and a benzene fused to it is aromatic alone.
        RingCase{"N2+ pyridine", "C1=CC=[N+2]C=C1", 0, {}, {}},
        RingCase{"B2- benzene", "[B-2]1=CC=CC=C1", 0, {}, {}},
        RingCase{"Al3- five-ring", "C1=CC=C[Al-3]1", 0, {}, {}},
        RingCase{"N2+ isoquinoline", "C1=CC=C2C=[N+2]C=CC2=C1", 1,
                 (std::vector<std::uint32_t>{0, 1, 2, 3, 8, 9}), (std::vector<std::uint32_t>{0, 1, 2, 8, 9, 10})}),
    [](const auto& info) {
        std::string n = info.param.name;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

struct SpareCase {
    std::string smiles;
    std::uint32_t atom;
    std::optional<std::int32_t> spare;
};

class SpareElectrons : public ::testing::TestWithParam<SpareCase> {};

TEST_P(SpareElectrons, CountsOfferedElectrons) {
    const SpareCase& c = GetParam();
    const MolBuilder mol = kekule(c.smiles);
    EXPECT_EQ(chem::spare_electrons(mol, c.atom), c.spare) << c.smiles << " atom " << c.atom;
}

INSTANTIATE_TEST_SUITE_P(
    Atoms, SpareElectrons,
    ::testing::Values(SpareCase{"C1=CC=NC=C1", 3, 3},      // pyridine-type nitrogen
                      SpareCase{"C1=COC=C1", 2, 4},        // furan-type oxygen
                      SpareCase{"[CH-]1C=CC=C1", 0, 2},    // ring carbanion
                      SpareCase{"C#N", 1, 1},              // triple bond: at most one
                      SpareCase{"CCl", 1, std::nullopt},   // univalent element
                      SpareCase{"[Fe]", 0, std::nullopt}));  // unrestricted element

TEST(SpareElectrons, DonatedDativeBondIsNoSigmaConnection) {
    MolBuilder mol = kekule("N[Cu]");
    mol.bonds[0].order = BondOrder::Dative;
    mol.bonds[0].begin = 0;
    mol.bonds[0].end = 1;
    // Three hydrogens and no counted bond: like ammonia's two spare electrons.
    mol.atoms[0].num_implicit_hs = 3;
    EXPECT_EQ(chem::sigma_bond_count(mol, 0), 0);
    EXPECT_EQ(chem::spare_electrons(mol, 0), 2);
    EXPECT_EQ(chem::sigma_bond_count(mol, 1), 1);
}

// A ladder of `squares` fused four-membered rings: rung atoms 2k (top) and
// 2k + 1 (bottom). The end rungs are C(=CH2) and [CH+] (one electron together),
// the inner rungs are two N (four electrons). A run of squares counts 4m + 1
// electrons unless it spans both ends, where it counts 4m + 2.
MolBuilder pi_ladder(std::uint32_t squares) {
    std::vector<AtomSpec> atoms;
    std::vector<BondSpec> bonds;
    for (std::uint32_t k = 0; k <= squares; ++k) {
        const bool end = k == 0 || k == squares;
        atoms.push_back({std::uint8_t(end ? 6 : 7)});
        atoms.push_back(end ? AtomSpec{6, 1, 1, true} : AtomSpec{7});
        bonds.push_back({2 * k, 2 * k + 1});
        if (k > 0) {
            bonds.push_back({2 * (k - 1), 2 * k});
            bonds.push_back({2 * (k - 1) + 1, 2 * k + 1});
        }
    }
    for (std::uint32_t k : {0u, squares}) {
        bonds.push_back({2 * k, std::uint32_t(atoms.size()), BondOrder::Double});
        atoms.push_back({6});  // the methylene
    }
    MolBuilder mol = test::build(atoms, bonds);
    test::fill_hydrogens_and_rings(mol);
    return mol;
}

TEST(FusedCombinations, SixRingsAreCombinedButNeverSeven) {
    MolBuilder six = pi_ladder(6);
    ASSERT_EQ(chem::sssr(six).size(), 6u);
    EXPECT_EQ(chem::perceive_aromaticity(six), 6u);
    // Inner rungs lie in two rings of the combination and stay unmarked.
    for (std::uint32_t b = 0; b < six.num_bonds(); ++b) {
        const auto& bond = six.bonds[b];
        const bool rung = bond.end == bond.begin + 1 && bond.begin % 2 == 0 && bond.end < 14u;
        const bool inner_rung = rung && bond.begin != 0 && bond.begin != 12;
        const bool ring_bond = bond.flags & core::IN_RING;
        EXPECT_EQ(bool(bond.flags & core::AROMATIC), ring_bond && !inner_rung) << "bond " << b;
    }

    MolBuilder seven = pi_ladder(7);
    ASSERT_EQ(chem::sssr(seven).size(), 7u);
    EXPECT_EQ(chem::perceive_aromaticity(seven), 0u);
    EXPECT_TRUE(aromatic_atoms(seven).empty());
}

// Triphenylene skeleton: a central ring fused to three outer rings that are
// not fused to each other. Central ring 9 electrons, outer rings 7, 7 and 4,
// any central-plus-outer set 12 or 15; only all four rings together count 18.
// The accepted set is a star, not a chain of rings.
TEST(FusedCombinations, BranchedCombinationOfFourRings) {
    std::vector<AtomSpec> atoms;
    std::vector<BondSpec> bonds;
    auto atom = [&](std::uint8_t z, std::int8_t charge = 0, std::int16_t fixed_hs = -1) {
        atoms.push_back({z, charge, std::uint8_t(fixed_hs < 0 ? 0 : fixed_hs), fixed_hs >= 0});
        return std::uint32_t(atoms.size() - 1);
    };
    auto bond = [&](std::uint32_t x, std::uint32_t y, BondOrder o = BondOrder::Single) {
        bonds.push_back({x, y, o});
        return std::uint32_t(bonds.size() - 1);
    };
    // Central ring: four N (two electrons each), a C with a ring double bond
    // (one) and a carbocation (none).
    const std::uint32_t c[6] = {atom(7), atom(7), atom(7), atom(7), atom(6), atom(6, 1, 0)};
    std::vector<std::uint32_t> fusion;
    for (int k = 0; k < 6; ++k) {
        const std::uint32_t b = bond(c[k], c[(k + 1) % 6]);
        if (k % 2 == 0) fusion.push_back(b);
    }
    // Outer rings A and B: [CH+], C=C, C(=CH2): three electrons each.
    std::vector<std::uint32_t> exocyclic;
    for (int pair : {0, 2}) {
        const std::uint32_t o1 = atom(6, 1, 1), o2 = atom(6), o3 = atom(6), o4 = atom(6), exo = atom(6);
        bond(c[pair], o1);
        bond(o1, o2);
        bond(o2, o3, BondOrder::Double);
        bond(o3, o4);
        bond(o4, c[pair + 1]);
        exocyclic.push_back(bond(o4, exo, BondOrder::Double));
    }
    // Outer ring C: =CH, CH=CH, [CH+]: three electrons.
    const std::uint32_t o1 = atom(6), o2 = atom(6), o3 = atom(6), o4 = atom(6, 1, 1);
    bond(c[4], o1, BondOrder::Double);
    bond(o1, o2);
    bond(o2, o3, BondOrder::Double);
    bond(o3, o4);
    bond(o4, c[5]);
    MolBuilder mol = test::build(atoms, bonds);
    test::fill_hydrogens_and_rings(mol);
    ASSERT_EQ(chem::sssr(mol).size(), 4u);

    EXPECT_EQ(chem::perceive_aromaticity(mol), 4u);
    std::vector<std::uint32_t> expected;
    for (std::uint32_t b = 0; b < mol.num_bonds(); ++b)
        if (std::find(fusion.begin(), fusion.end(), b) == fusion.end() &&
            std::find(exocyclic.begin(), exocyclic.end(), b) == exocyclic.end())
            expected.push_back(b);
    EXPECT_EQ(bonds_with(mol, core::AROMATIC), expected);
    for (std::uint32_t b : fusion) EXPECT_EQ(mol.bonds[b].order, BondOrder::Single) << b;
    EXPECT_EQ(aromatic_atoms(mol).size(), 18u);
}

// A honeycomb sheet of carbocations: hundreds of fused candidate rings, none
// aromatic alone or in any combination (every atom counts zero), so every
// connected set of up to six rings is judged. It must finish and mark nothing.
TEST(FusedCombinations, LargeSheetWithoutAromaticCombinations) {
    constexpr int W = 24, H = 24;
    auto id = [&](int i, int j) { return std::uint32_t(j * W + i); };
    std::vector<BondSpec> bonds;
    for (int j = 0; j < H; ++j)
        for (int i = 0; i < W; ++i) {
            if (i + 1 < W) bonds.push_back({id(i, j), id(i + 1, j)});
            if (j + 1 < H && (i + j) % 2 == 0) bonds.push_back({id(i, j), id(i, j + 1)});
        }
    MolBuilder mol = test::build(std::vector<AtomSpec>(W * H, AtomSpec{6, 1, 0, true}), bonds);
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a)
        mol.atoms[a].num_explicit_hs = static_cast<std::uint8_t>(3 - mol.degree[a]);
    test::fill_hydrogens_and_rings(mol);
    std::vector<PiContribution> pi(mol.num_atoms());
    chem::pi_contributions(mol, pi);
    for (PiContribution c : pi) ASSERT_EQ(c, PiContribution::Zero);
    EXPECT_GT(chem::sssr(mol).size(), 250u);
    EXPECT_EQ(chem::perceive_aromaticity(mol), 0u);
    EXPECT_TRUE(aromatic_atoms(mol).empty());
}

TEST(FusedCombinations, BondAlreadyAromaticKeepsOrderAndFlagsNoAtom) {
    // Benzene with one ring bond already of order Aromatic but unflagged.
    MolBuilder mol = kekule("C1=CC=CC=C1");
    mol.bonds[5].order = BondOrder::Aromatic;  // 5-0
    test::fill_hydrogens_and_rings(mol);
    // The two carbons at that bond still count one electron each.
    EXPECT_EQ(chem::perceive_aromaticity(mol), 1u);
    EXPECT_EQ(mol.bonds[5].order, BondOrder::Aromatic);
    EXPECT_TRUE(mol.bonds[5].flags & core::AROMATIC);
    EXPECT_EQ(aromatic_atoms(mol), range(0, 6));
}

TEST(FusedCombinations, MarksOnlyGrowOnARepeatedRun) {
    MolBuilder mol = kekule("C1=CC2=CC=CC=CC2=C1");
    chem::perceive_aromaticity(mol);
    const MolBuilder once = mol;
    // On the aromatic form the classes change, but nothing is ever withdrawn.
    chem::perceive_aromaticity(mol);
    for (std::uint32_t b = 0; b < mol.num_bonds(); ++b)
        if (once.bonds[b].flags & core::AROMATIC) {
            EXPECT_TRUE(mol.bonds[b].flags & core::AROMATIC);
        }
    for (std::uint32_t i = 0; i < mol.num_atoms(); ++i)
        if (once.atoms[i].flags & core::AROMATIC) {
            EXPECT_TRUE(mol.atoms[i].flags & core::AROMATIC);
        }
}

TEST(FusedCombinations, AtomOrRingOutOfRangeIsAnInternalError) {
    MolBuilder mol = kekule("C1=CC=CC=C1");
    EXPECT_THROW(chem::spare_electrons(mol, 6), InternalError);
    std::vector<chem::Ring> rings = chem::sssr(mol);
    rings[0].atoms[2] = 99;
    EXPECT_THROW(chem::perceive_aromaticity(mol, rings), InternalError);
}

// The entries that skip systems with fewer than three eligible atoms must agree
// with the full ring list; working storage is reused across molecules.
TEST(RealData, SkippingIneligibleSystemsChangesNothing) {
    std::size_t compared = 0, aromatic = 0;
    for (const auto& [smiles, id] : test::data_records()) {
        auto parsed = io::read_smiles(smiles);
        if (!parsed) continue;
        MolBuilder mol = std::move(*parsed);
        chem::cleanup(mol);
        chem::organometallics(mol);
        if (!chem::assign_valences(mol)) continue;
        chem::ring_membership(mol);
        if (!chem::kekulize(mol)) continue;
        chem::assign_radicals(mol);
        MolBuilder full = mol, by_blocks = mol;
        const std::uint32_t count = chem::perceive_aromaticity(mol);
        EXPECT_EQ(count, chem::perceive_aromaticity(full, chem::sssr(full))) << id;
        EXPECT_EQ(mol, full) << id << " " << smiles;
        chem::RingBlocks blocks;
        chem::find_ring_blocks(by_blocks, blocks);
        EXPECT_EQ(chem::perceive_aromaticity(by_blocks, blocks), count) << id;
        EXPECT_EQ(by_blocks, mol) << id;
        ++compared;
        if (count > 0) ++aromatic;
    }
    EXPECT_GT(compared, 6900u);
    EXPECT_GT(aromatic, 5000u);
}

}  // namespace

namespace {

// Real molecules brought to the state sanitisation hands to aromaticity.
std::vector<MolBuilder> kekule_data_molecules() {
    std::vector<MolBuilder> out;
    for (MolBuilder mol : test::data_molecules_as_read()) {
        chem::cleanup(mol);
        chem::organometallics(mol);
        if (!chem::assign_valences(mol)) continue;
        chem::RingBlocks blocks;
        chem::find_ring_blocks(mol, blocks);
        chem::set_ring_flags(mol, blocks);
        if (!chem::kekulize(mol, blocks.systems)) continue;
        chem::assign_radicals(mol);
        out.push_back(std::move(mol));
    }
    return out;
}

}  // namespace

// The memo road filters the whole ring list instead of searching the eligible
// blocks alone: the marks, the count and the ring list it leaves must be those
// of the block road and of a fresh search.
TEST(RingPerceptionMemo, AgreesWithTheBlockRoadOnRealMolecules) {
    const std::vector<MolBuilder> mols = kekule_data_molecules();
    ASSERT_GT(mols.size(), 6900u);
    std::size_t mixed = 0;
    for (std::size_t k = 0; k < mols.size(); ++k) {
        const MolBuilder& mol = mols[k];
        MolBuilder by_blocks = mol, by_memo = mol;
        chem::RingBlocks blocks;
        chem::find_ring_blocks(mol, blocks);
        chem::RingBlocksMemo memo;
        const std::uint32_t expected = chem::perceive_aromaticity(by_blocks, blocks);
        ASSERT_EQ(chem::perceive_aromaticity(by_memo, memo), expected) << "molecule " << k;
        ASSERT_TRUE(by_memo == by_blocks) << "molecule " << k;
        if (memo.rings_known) {
            const std::vector<chem::Ring> fresh = chem::sssr(mol);
            ASSERT_EQ(memo.rings.size(), fresh.size());
            for (std::uint32_t i = 0; i < fresh.size(); ++i) {
                ASSERT_TRUE(std::ranges::equal(memo.rings.ring_atoms(i), fresh[i].atoms));
                ASSERT_TRUE(std::ranges::equal(memo.rings.ring_bonds(i), fresh[i].bonds));
            }
            mixed += expected > 0 && fresh.size() > expected;
        }
    }
    EXPECT_GT(mixed, 1000u);  // aromatic and other rings in one molecule: the filtered case
}
