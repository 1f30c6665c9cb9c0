// Which groups the conformer holds: the group lists and the windows the
// holds give the bounds.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "conf/bounds.hpp"
#include "conf/holds.hpp"
#include "geometry.hpp"
#include "prepared.hpp"

using namespace quorix;
using namespace quorix::conf;
using core::MolBuilder;
using core::NONE;
using test::chain_distance;
using test::hydrogens_of;

TEST(HeldBounds, ChainDoubleBondWithoutConfigurationIsPlanar) {
    // Ethene: each hydrogen has one cis and one trans partner across the bond.
    const MolBuilder m = test::prepared("C=C");
    const HeldBounds plain(m, Holds::None);
    const DistanceBounds b = build_bounds(m, &plain);
    const double cis = chain_distance(1.094, 1.342, 1.094, 120.8, 120.8, 0);
    const double trans = chain_distance(1.094, 1.342, 1.094, 120.8, 120.8, 180);
    for (std::uint32_t h : hydrogens_of(m, 0)) {
        int cis_partners = 0, trans_partners = 0;
        for (std::uint32_t k : hydrogens_of(m, 1)) {
            if (std::abs(b.lower(h, k) - (cis - 0.06)) < 1e-9 && std::abs(b.upper(h, k) - (cis + 0.06)) < 1e-9)
                ++cis_partners;
            if (std::abs(b.lower(h, k) - (trans - 0.06)) < 1e-9 && std::abs(b.upper(h, k) - (trans + 0.06)) < 1e-9)
                ++trans_partners;
        }
        EXPECT_EQ(cis_partners, 1);
        EXPECT_EQ(trans_partners, 1);
    }
    // Nothing is recorded on the molecule.
    EXPECT_EQ(m.bonds[0].stereo, core::BondStereo::None);
}

TEST(PlanarDoubleBonds, ChainBondsWithNonLinearEnds) {
    EXPECT_EQ(planar_double_bonds(test::prepared("C1=CCCCC1")).size(), 0u);
    EXPECT_EQ(planar_double_bonds(test::prepared("CC(C)=O")).size(), 0u);
    EXPECT_EQ(planar_double_bonds(test::prepared("CC=C=CC")).size(), 0u);  // an allene's ends are linear
    // Ethene: each hydrogen on one end is cis to one hydrogen on the other.
    const auto ethene = planar_double_bonds(test::prepared("C=C"));
    ASSERT_EQ(ethene.size(), 4u);
    EXPECT_NE(ethene[0].cis, ethene[1].cis);
    EXPECT_NE(ethene[0].cis, ethene[2].cis);
    EXPECT_EQ(ethene[0].cis, ethene[3].cis);
    // Propene: a=C(methyl) or H on one end, the two hydrogens on the other.
    const auto groups = planar_double_bonds(test::prepared("CC=C"));
    ASSERT_EQ(groups.size(), 4u);
    EXPECT_EQ(groups[0].atoms[1], 1u);
    EXPECT_EQ(groups[0].atoms[2], 2u);
    // A stated configuration is followed: the two methyls (atoms 0 and 3)
    // trans, then cis; each hydrogen opposite the methyl on its own end.
    for (const auto& [smiles, methyls_cis] : {std::pair{"C/C=C/C", false}, std::pair{"C/C=C\\C", true}}) {
        const auto stated = planar_double_bonds(test::prepared(smiles));
        ASSERT_EQ(stated.size(), 4u) << smiles;
        for (const PlanarFour& p : stated) {
            const bool methyls = p.atoms[0] == 0, methyl_d = p.atoms[3] == 3;
            EXPECT_EQ(p.cis, methyls == methyl_d ? methyls_cis : !methyls_cis) << smiles;
        }
    }
}

// Ring paths only, one per ring bond, all cis and all inside one aromatic ring.
TEST(PlanarAromaticRings, OnePathPerAromaticBond) {
    const struct {
        const char* smiles;
        std::size_t paths;
    } cases[] = {{"c1ccccc1", 6}, {"c1ccncc1", 6}, {"c1ccsc1", 5}, {"c1ccc2ccccc2c1", 11},
                 {"Cc1ccccc1C=O", 6}, {"C1CCCCC1", 0}, {"C1=CCC=CC1", 0}, {"c1ccccc1C1CC1", 6}};
    for (const auto& c : cases) {
        const MolBuilder m = test::prepared(c.smiles);
        const auto paths = planar_aromatic_rings(m);
        EXPECT_EQ(paths.size(), c.paths) << c.smiles;
        for (const PlanarFour& p : paths) {
            EXPECT_TRUE(p.cis) << c.smiles;
            for (std::uint32_t a : p.atoms) EXPECT_TRUE(m.atoms[a].flags & core::AROMATIC) << c.smiles;
            EXPECT_NE(m.bond_between(p.atoms[0], p.atoms[1]), NONE);
            EXPECT_NE(m.bond_between(p.atoms[2], p.atoms[3]), NONE);
        }
    }
}

namespace {

struct AmideCase {
    const char* smiles;
    std::size_t groups, cis;
};

}  // namespace

// Amide C-N bonds outside rings, each nitrogen neighbour once; a secondary
// amide's heavy neighbour marked cis to the oxygen or sulfur.
TEST(PlanarAmides, GroupsByKindOfNitrogen) {
    const AmideCase cases[] = {
        {"CNC(C)=O", 2, 1},       {"CC(=O)Nc1ccc(O)cc1", 2, 1}, {"CNC(=O)NC", 4, 2},  {"COC(=O)NC", 2, 1},
        {"CC(=S)NC", 2, 1},       {"CC(=O)NN", 2, 1},           {"CN(C)C=O", 2, 0},   {"CC(N)=O", 2, 0},
        {"CC(=O)n1cccc1", 2, 0},  {"CC(=O)NC(C)=O", 4, 0},  // an imide
        {"O=C1CCCN1", 0, 0},      {"CC(=O)OC", 0, 0},           {"CNC(C)=N", 0, 0},   {"CC(=O)[N+](C)(C)C", 0, 0},
    };
    for (const AmideCase& c : cases) {
        const MolBuilder m = test::prepared(c.smiles);
        const auto groups = planar_amides(m);
        std::size_t cis = 0;
        for (const PlanarFour& p : groups) {
            const auto [x, carbon, n, y] = p.atoms;
            EXPECT_EQ(m.atoms[carbon].atomic_num, 6) << c.smiles;
            EXPECT_EQ(m.atoms[n].atomic_num, 7) << c.smiles;
            EXPECT_TRUE(m.atoms[x].atomic_num == 8 || m.atoms[x].atomic_num == 16) << c.smiles;
            EXPECT_NE(m.bond_between(n, y), NONE) << c.smiles;
            cis += p.cis;
            if (p.cis) {
                EXPECT_NE(m.atoms[y].atomic_num, 1) << c.smiles;
            }
        }
        EXPECT_EQ(groups.size(), c.groups) << c.smiles;
        EXPECT_EQ(cis, c.cis) << c.smiles;
    }
}

namespace {

// Each group as text, hydrogens (numbered by canonical rank) as H: "0-1-2-H".
std::vector<std::string> spelled(const MolBuilder& m, const std::vector<PlanarFour>& groups) {
    std::vector<std::string> out;
    for (const PlanarFour& p : groups) {
        EXPECT_FALSE(p.cis);
        std::string text;
        for (std::uint32_t a : p.atoms)
            text += (text.empty() ? "" : "-") + (m.atoms[a].atomic_num == 1 ? std::string("H") : std::to_string(a));
        out.push_back(text);
    }
    return out;
}

}  // namespace

// {n0, c, n1, n2} with the neighbours in bond order (hydrogens, added last,
// come last); sp3 and aromatic carbons, other elements and two-connected
// carbons give none.
TEST(PlanarSp2Carbons, TrigonalCarbonsOutsideAromaticRings) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"CC(C)=O", {"0-1-2-3"}}, {"CNC(C)=O", {"1-2-3-4"}}, {"CC(=O)OC", {"0-1-2-3"}}, {"CC(=S)N", {"0-1-2-3"}},
        {"CC=C", {"0-1-2-H", "1-2-H-H"}}, {"CC=NC", {"0-1-2-H"}}, {"O=Cc1ccccc1", {"0-1-2-H"}},
        {"O=C1CCCC=C1", {"0-1-2-6", "4-5-6-H", "5-6-1-H"}}, {"C=C=C", {"1-0-H-H", "1-2-H-H"}},
        {"C[CH+]C", {"0-1-2-H"}}, {"C[CH-]C", {}}, {"CC#N", {}}, {"CCC", {}},
    };
    for (const auto& [smiles, groups] : cases) {
        const MolBuilder m = test::prepared(smiles);
        EXPECT_EQ(spelled(m, planar_sp2_carbons(m)), groups) << smiles;
    }
}

// X=C-N-Y around every ring amide bond, both carbonyls of a ring imide or urea.
TEST(PlanarLactams, AroundRingAmideBonds) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"O=C1CCCN1", {"0-1-5-4", "0-1-5-H"}}, {"CN1CCCCC1=O", {"7-6-1-0", "7-6-1-2"}},
        {"O=C1CCN1", {"0-1-4-3", "0-1-4-H"}},  {"S=C1CCCN1", {"0-1-5-4", "0-1-5-H"}},
        {"O=C1CCC(=O)N1", {"5-4-6-1", "5-4-6-H", "0-1-6-4", "0-1-6-H"}},
        {"O=C1NCCN1", {"0-1-2-3", "0-1-2-H", "0-1-5-4", "0-1-5-H"}},
        {"CC(=O)N1CCCC1", {}}, {"CNC(C)=O", {}}, {"O=C1CCCO1", {}}, {"O=c1cccc[nH]1", {}}, {"CN=C1CCCN1", {}},
    };
    for (const auto& [smiles, groups] : cases) {
        const MolBuilder m = test::prepared(smiles);
        EXPECT_EQ(spelled(m, planar_lactams(m)), groups) << smiles;
    }
}

// Ring paths across ring C=C and C=N bonds, cis unless stated otherwise.
TEST(PlanarRingDoubleBonds, RingPathsOfRingDoubleBonds) {
    const std::pair<const char*, std::size_t> cases[] = {
        {"C1=CCCCC1", 1}, {"C1=CC=CCC1", 2}, {"C1=NCCC1", 1}, {"C1=CC1", 0}, {"c1ccccc1", 0},
        {"CC=CC", 0},     {"O=C1CCCCC1", 0}, {"C=C1CCCCC1", 0}, {"C1=CCC=C=C1", 1},
    };
    for (const auto& [smiles, count] : cases) {
        const MolBuilder m = test::prepared(smiles);
        const auto groups = planar_ring_double_bonds(m);
        EXPECT_EQ(groups.size(), count) << smiles;
        for (const PlanarFour& p : groups) {
            EXPECT_TRUE(p.cis) << smiles;
            EXPECT_EQ(m.bonds[m.bond_between(p.atoms[1], p.atoms[2])].order, core::BondOrder::Double) << smiles;
            for (std::uint32_t a : p.atoms) EXPECT_TRUE(m.atoms[a].flags & core::IN_RING) << smiles;
        }
    }
    // A stated configuration in a large ring is followed.
    const auto e = planar_ring_double_bonds(test::prepared("C/1=C/CCCCCCCC1"));
    const auto z = planar_ring_double_bonds(test::prepared("C/1=C\\CCCCCCCC1"));
    ASSERT_EQ(e.size(), 1u);
    ASSERT_EQ(z.size(), 1u);
    EXPECT_NE(e[0].cis, z[0].cis);
}

// One group per non-aromatic bond of an aromatic atom with two aromatic bonds.
TEST(AromaticSubstituents, EveryFirstAtomOnceWithItsRingNeighbours) {
    const struct {
        const char* smiles;
        std::size_t count, shared;
    } cases[] = {{"Cc1ccccc1", 6, 0},        {"c1ccc2ccccc2c1", 8, 0}, {"c1ccc2c(c1)CCC2", 6, 2},
                 {"c1ccc(cc1)-c1ccccc1", 12, 0}, {"c1ccncc1", 5, 0},    {"c1cc[nH]c1", 5, 0},
                 {"C1CCCCC1", 0, 0},         {"O=c1cccc[nH]1", 6, 0}};
    for (const auto& c : cases) {
        const MolBuilder m = test::prepared(c.smiles);
        const auto groups = aromatic_substituents(m);
        std::size_t shared = 0;
        for (const RingSubstituent& r : groups) {
            const auto [s, a, r1, r2] = r.atoms;
            EXPECT_NE(m.bonds[m.bond_between(a, s)].order, core::BondOrder::Aromatic) << c.smiles;
            EXPECT_EQ(m.bonds[m.bond_between(a, r1)].order, core::BondOrder::Aromatic) << c.smiles;
            EXPECT_EQ(m.bonds[m.bond_between(a, r2)].order, core::BondOrder::Aromatic) << c.smiles;
            shared += r.shares_ring;
        }
        EXPECT_EQ(groups.size(), c.count) << c.smiles;
        EXPECT_EQ(shared, c.shared) << c.smiles;
    }
}
