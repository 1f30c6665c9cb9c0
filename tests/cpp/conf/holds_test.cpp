// Which groups the conformer holds: the group lists and the windows the
// holds give the bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "conf/bounds.hpp"
#include "conf/hold_kinds.hpp"
#include "conf/holds.hpp"
#include "conf/stats.hpp"
#include "shapes.hpp"
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
    const ConformerHolds plain_holds(m);
    const BoundsPreferences& plain = plain_holds.bounds(Holds::None);
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
    EXPECT_EQ(planar_double_bonds(MoleculeContext(test::prepared("C1=CCCCC1"))).size(), 0u);
    EXPECT_EQ(planar_double_bonds(MoleculeContext(test::prepared("CC(C)=O"))).size(), 0u);
    EXPECT_EQ(planar_double_bonds(MoleculeContext(test::prepared("CC=C=CC"))).size(), 0u);  // an allene's ends are linear
    // An ylide's phosphorus is tetrahedral: no plane holds its other three.
    EXPECT_EQ(planar_double_bonds(MoleculeContext(test::prepared("CC=P(C)(C)C"))).size(), 0u);
    // Ethene: each hydrogen on one end is cis to one hydrogen on the other.
    const auto ethene = planar_double_bonds(MoleculeContext(test::prepared("C=C")));
    ASSERT_EQ(ethene.size(), 4u);
    EXPECT_NE(ethene[0].cis, ethene[1].cis);
    EXPECT_NE(ethene[0].cis, ethene[2].cis);
    EXPECT_EQ(ethene[0].cis, ethene[3].cis);
    // Propene: a=C(methyl) or H on one end, the two hydrogens on the other.
    const auto groups = planar_double_bonds(MoleculeContext(test::prepared("CC=C")));
    ASSERT_EQ(groups.size(), 4u);
    EXPECT_EQ(groups[0].atoms[1], 1u);
    EXPECT_EQ(groups[0].atoms[2], 2u);
    // A stated configuration is followed: the two methyls (atoms 0 and 3)
    // trans, then cis; each hydrogen opposite the methyl on its own end.
    for (const auto& [smiles, methyls_cis] : {std::pair{"C/C=C/C", false}, std::pair{"C/C=C\\C", true}}) {
        const auto stated = planar_double_bonds(MoleculeContext(test::prepared(smiles)));
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
        const auto paths = planar_aromatic_rings(MoleculeContext(m));
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
        const auto groups = planar_amides(MoleculeContext(m));
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
TEST(PlanarTrigonalCentres, TrigonalCarbonsOutsideAromaticRings) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"CC(C)=O", {"0-1-2-3"}}, {"CNC(C)=O", {"1-2-3-4"}}, {"CC(=O)OC", {"0-1-2-3"}}, {"CC(=S)N", {"0-1-2-3"}},
        {"CC=C", {"0-1-2-H", "1-2-H-H"}}, {"CC=NC", {"0-1-2-H"}}, {"O=Cc1ccccc1", {"0-1-2-H"}},
        {"O=C1CCCC=C1", {"0-1-2-6", "4-5-6-H", "5-6-1-H"}}, {"C=C=C", {"1-0-H-H", "1-2-H-H"}},
        {"C[CH+]C", {"0-1-2-H"}}, {"C[CH-]C", {}}, {"CC#N", {}}, {"CCC", {}},
        // Boranes and boronic acids have an empty p orbital; a borate has none.
        {"CB(C)C", {"0-1-2-3"}}, {"CB(O)O", {"0-1-2-3"}}, {"C[B-](C)(C)C", {}},
    };
    for (const auto& [smiles, groups] : cases) {
        const MolBuilder m = test::prepared(smiles);
        EXPECT_EQ(spelled(m, planar_trigonal_centres(MoleculeContext(m))), groups) << smiles;
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
        EXPECT_EQ(spelled(m, planar_lactams(MoleculeContext(m))), groups) << smiles;
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
        const auto groups = planar_ring_double_bonds(MoleculeContext(m));
        EXPECT_EQ(groups.size(), count) << smiles;
        for (const PlanarFour& p : groups) {
            EXPECT_TRUE(p.cis) << smiles;
            EXPECT_EQ(m.bonds[m.bond_between(p.atoms[1], p.atoms[2])].order, core::BondOrder::Double) << smiles;
            for (std::uint32_t a : p.atoms) EXPECT_TRUE(m.atoms[a].flags & core::IN_RING) << smiles;
        }
    }
    // A stated configuration in a large ring is followed.
    const auto e = planar_ring_double_bonds(MoleculeContext(test::prepared("C/1=C/CCCCCCCC1")));
    const auto z = planar_ring_double_bonds(MoleculeContext(test::prepared("C/1=C\\CCCCCCCC1")));
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
        const auto groups = aromatic_substituents(MoleculeContext(m));
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

namespace {

// Atoms k in [from, to) as text, hydrogens as H: "0-1-2-H".
template <std::size_t N>
std::string text_of(const MolBuilder& m, const std::array<std::uint32_t, N>& atoms, std::size_t from = 0,
                    std::size_t to = N) {
    std::string text;
    for (std::size_t k = from; k < to; ++k)
        text += (text.empty() ? "" : "-") +
                (m.atoms[atoms[k]].atomic_num == 1 ? std::string("H") : std::to_string(atoms[k]));
    return text;
}

// The central bonds of held torsions, each a bonded path round a single bond
// outside the rings.
std::vector<std::string> central_bonds(const MolBuilder& m, const std::vector<HeldTorsion>& held, TorsionWells wells) {
    std::vector<std::string> out;
    for (const HeldTorsion& t : held) {
        EXPECT_EQ(t.wells, wells);
        for (std::size_t k = 0; k < 3; ++k) EXPECT_NE(m.bond_between(t.atoms[k], t.atoms[k + 1]), NONE);
        const core::Bond& bond = m.bonds[m.bond_between(t.atoms[1], t.atoms[2])];
        EXPECT_EQ(bond.order, core::BondOrder::Single);
        EXPECT_FALSE(bond.flags & core::IN_RING);
        out.push_back(text_of(m, t.atoms, 1, 3));
    }
    return out;
}

using Texts = std::vector<std::string>;

// The torsions staggered_bonds holds in one kind of well.
std::vector<HeldTorsion> staggered_in(const MolBuilder& m, TorsionWells wells) {
    std::vector<HeldTorsion> out;
    for (const HeldTorsion& t : staggered_bonds(MoleculeContext(m)))
        if (t.wells == wells) out.push_back(t);
    return out;
}

}  // namespace

TEST(ConjugatedLinks, SingleBondsBetweenConjugatedAtomsAndDonorOxygens) {
    const std::pair<const char*, Texts> cases[] = {
        {"O=Cc1ccccc1", {"1-2"}}, {"COc1ccco1", {"1-2"}}, {"Oc1ccccc1", {"0-1"}}, {"O=[N+]([O-])c1ccccc1", {"1-3"}},
        {"C=CC=O", {"1-2"}}, {"C=COC", {"1-2"}}, {"NC(=O)c1ccccc1", {"1-3"}}, {"Cc1ccccc1C=O", {"6-7"}},
        {"O=Cc1ccc2ccccc2c1", {"1-2"}},
        // Biaryls twist, aryl and acyl oxygens give no lone pair to the ring;
        // both ortho positions taken, a peri hydrogen or a tertiary amide
        // push the group out of the plane.
        {"c1ccc(cc1)-c1ccccc1", {}}, {"c1ccc(cc1)Oc1ccccc1", {}}, {"CC(=O)Oc1ccccc1", {}},
        {"Cc1cccc(C)c1C=O", {}}, {"O=Cc1cccc2ccccc12", {}}, {"CN(C)C(=O)c1ccccc1", {}}, {"CCCC", {}},
        // An imine nitrogen's aryl turns out of the C=N plane.
        {"CC(C)=Nc1ccccc1", {}}};
    for (const auto& [smiles, bonds] : cases) {
        const MolBuilder m = test::prepared(smiles);
        EXPECT_EQ(central_bonds(m, conjugated_links(MoleculeContext(m)), TorsionWells::Planar), bonds) << smiles;
    }
}

// A nitro group with one heavy ortho neighbour is held out of the plane;
// with none, in it.
TEST(ConjugatedLinks, NitroGroupCrowdedFromOneSideIsHeldTwisted) {
    const std::pair<const char*, Texts> cases[] = {
        {"Cc1ccccc1[N+](=O)[O-]", {"6-7"}}, {"Clc1ccccc1[N+](=O)[O-]", {"6-7"}},
        {"O=[N+]([O-])c1ccccc1[N+](=O)[O-]", {"1-3", "8-9"}}, {"O=[N+]([O-])c1cccc2ccccc12", {"1-3"}}};
    for (const auto& [smiles, bonds] : cases) {
        const MolBuilder m = test::prepared(smiles);
        EXPECT_EQ(central_bonds(m, conjugated_links(MoleculeContext(m)), TorsionWells::Crowded), bonds) << smiles;
    }
    // A crowded aldehyde needs both sides taken.
    const MolBuilder aldehyde = test::prepared("Cc1ccccc1C=O");
    EXPECT_EQ(central_bonds(aldehyde, conjugated_links(MoleculeContext(aldehyde)), TorsionWells::Planar), Texts{"6-7"});
}

// Links that cannot lie flat for what stands beside them are held twisted:
// two cis acyls on neighbouring atoms (a phthalate's, a maleate's, a
// cyclohexene's; a fumarate's lie trans, a cyclopentene's spread apart, one
// ortho methyl leaves room), a beta-ionone ring's
// chain, a biguanide's two halves.
TEST(ConjugatedLinks, CrowdedNeighboursHoldTheLinkTwisted) {
    const std::pair<const char*, Texts> cases[] = {
        {"COC(=O)c1ccccc1C(=O)OC", {"2-4", "9-10"}}, {"COC(=O)/C=C\\C(=O)OC", {"2-4", "5-6"}},
        {"COC(=O)/C=C/C(=O)OC", {}}, {"COC(=O)c1ccccc1C", {}}, {"CC(=O)/C=C/C1=C(C)CCCC1(C)C", {"4-5"}},
        {"CC(=O)/C=C/C1=CCCCC1(C)C", {}}, {"CN(C)C(=N)N=C(N)N", {"3-5"}}, {"CN(C)C(=N)N", {}},
        {"COC(=O)C1=C(CCCC1)C(=O)OC", {"2-4", "5-10"}}, {"COC(=O)C1=C(CCC1)C(=O)OC", {}}};
    for (const auto& [smiles, bonds] : cases) {
        const MolBuilder m = test::prepared(smiles);
        Texts twisted;
        for (const HeldTorsion& t : conjugated_links(MoleculeContext(m)))
            if (t.wells == TorsionWells::Crowded || t.wells == TorsionWells::Twisted)
                twisted.push_back(text_of(m, t.atoms, 1, 3));
        EXPECT_EQ(twisted, bonds) << smiles;
    }
}

// An aryl ether with one crowded ortho side is held with its alkyl cis to
// the free side's ring atom, and the bounds start it there; one on a
// six-ring with both sides free takes one of them (a ring nitrogen's, where
// there is one); a phenol may lie either way; one crowded on both sides, a
// tertiary alkyl, or a secondary one beside a crowded side, is not held.
TEST(ConjugatedLinks, ArylEtherTurnsToItsFreeSide) {
    const std::pair<const char*, Texts> cases[] = {
        {"COc1ccccc1OC", {"1-2", "7-8"}}, {"COc1ccccc1C", {"1-2"}}, {"Cc1ccccc1OC", {"6-7"}},
        {"COc1ccccc1", {"1-2"}}, {"COc1ccccn1", {"1-2"}}, {"Oc1ccccc1C", {}}, {"COc1c(C)cccc1C", {}},
        {"CC(C)(C)Oc1ccccc1", {}}, {"CC(C)Oc1ccccc1C", {}}, {"CC(C)Oc1ccccc1", {"3-4"}}};
    for (const auto& [smiles, bonds] : cases) {
        const MolBuilder m = test::prepared(smiles);
        std::vector<HeldTorsion> turned;
        for (const HeldTorsion& t : conjugated_links(MoleculeContext(m)))
            if (t.wells == TorsionWells::Cis) turned.push_back(t);
        EXPECT_EQ(central_bonds(m, turned, TorsionWells::Cis), bonds) << smiles;
        const ConformerHolds holds(m);
        for (const HeldTorsion& t : turned) {
            // The ring end's reference atom carries only a hydrogen off the ring.
            const std::uint32_t ring_side = m.atoms[t.atoms[0]].flags & core::AROMATIC ? t.atoms[0] : t.atoms[3];
            std::size_t heavy = 0;
            for (core::Neighbor nb : m.neighbors(ring_side)) heavy += m.atoms[nb.atom].atomic_num != core::Element::H;
            EXPECT_EQ(heavy, 2u) << smiles;
            if (std::string_view(smiles) == "COc1ccccn1") {
                EXPECT_EQ(m.atoms[ring_side].atomic_num, core::Element::N);
            }
            const std::uint32_t bond = m.bond_between(t.atoms[1], t.atoms[2]);
            const auto cis = holds.bounds(Holds::Shapes).chain_torsion(bond, t.atoms[0], t.atoms[3]);
            ASSERT_TRUE(cis) << smiles;
            EXPECT_EQ(*cis, (std::pair{0.0, 0.0})) << smiles;
            // The crowded side's ring atom lies trans to the alkyl.
            const bool ring_first = ring_side == t.atoms[0];
            const std::uint32_t ring_atom = ring_first ? t.atoms[1] : t.atoms[2];
            for (core::Neighbor nb : m.neighbors(ring_atom)) {
                if (nb.atom == ring_side || nb.atom == (ring_first ? t.atoms[2] : t.atoms[1])) continue;
                const auto trans = ring_first ? holds.bounds(Holds::Shapes).chain_torsion(bond, nb.atom, t.atoms[3])
                                              : holds.bounds(Holds::Shapes).chain_torsion(bond, t.atoms[0], nb.atom);
                ASSERT_TRUE(trans) << smiles;
                EXPECT_EQ(*trans, (std::pair{180.0, 180.0})) << smiles;
            }
        }
    }
}

// Each aniline nitrogen outside the rings with its ring atom, that atom's
// ring neighbours and its own two others; not amides, diarylamines, ring
// links (indoline) or a heavy substituent beside an ortho one.
TEST(ConjugatedAnilines, NitrogensOnARingWithHydrogensOrSp3Carbons) {
    const std::pair<const char*, std::size_t> cases[] = {
        {"Nc1ccccc1", 1},           {"CN(C)c1ccccc1", 1}, {"COc1ccc(N)cc1", 1}, {"Cc1ccccc1N", 1},
        {"C1CCN(CC1)c1ccccc1", 1}, {"Nc1ccc(N)cc1", 2},  {"CNc1ccccc1C", 1},   {"CN(C)c1ccccc1C", 0},
        {"CNc1c(C)cccc1C", 0},
        {"CC(=O)Nc1ccccc1", 0},     {"c1ccc(cc1)Nc1ccccc1", 0}, {"c1ccc2c(c1)CCN2", 0}, {"C=CNc1ccccc1", 0}};
    for (const auto& [smiles, count] : cases) {
        const MolBuilder m = test::prepared(smiles);
        const auto groups = conjugated_anilines(MoleculeContext(m));
        EXPECT_EQ(groups.size(), count) << smiles;
        for (const ConjugatedNitrogen& g : groups) {
            const auto [c, r1, r2, y1, y2] = g.atoms;
            std::uint32_t n = NONE;
            for (core::Neighbor nb : m.neighbors(y1))
                if (m.bond_between(nb.atom, c) != NONE) n = nb.atom;
            ASSERT_NE(n, NONE) << smiles;
            EXPECT_EQ(m.atoms[n].atomic_num, 7) << smiles;
            for (std::uint32_t r : {r1, r2}) EXPECT_EQ(m.bonds[m.bond_between(c, r)].order, core::BondOrder::Aromatic);
            EXPECT_NE(m.bond_between(n, y2), NONE) << smiles;
            EXPECT_NE(y1, c);
            EXPECT_NE(y2, c);
        }
    }
}

TEST(StaggeredBonds, SingleBondsBetweenTetrahedralAtomsOutsideRings) {
    const std::pair<const char*, Texts> cases[] = {
        {"CCCC", {"0-1", "2-3"}}, {"CCOC(C)=O", {"0-1", "1-2"}}, {"CCO", {"0-1", "1-2"}},
        {"CN(C)C", {"0-1", "1-2", "1-3"}}, {"COc1ccccc1", {"0-1"}}, {"CCC1CCCCC1", {"0-1", "1-2"}},
        // Ring bonds, three-ring atoms, sp2 and sp atoms; an unbranched
        // carbon chain's inner bonds are held anti instead.
        {"C1CCCCC1", {}}, {"CC1CC1", {}}, {"CC=CC", {}}, {"CC#N", {}}, {"CC(=O)O", {}}, {"CCCCC", {"0-1", "3-4"}}};
    for (const auto& [smiles, bonds] : cases) {
        const MolBuilder m = test::prepared(smiles);
        EXPECT_EQ(central_bonds(m, staggered_in(m, TorsionWells::Staggered), TorsionWells::Staggered), bonds)
            << smiles;
    }
}

// An aryl ether's methine holds its hydrogen near cis to the aryl carbon,
// in the ring's plane or out of it; nothing else does.
TEST(StaggeredBonds, ArylEtherMethineTurnsItsHydrogenToTheRing) {
    const std::pair<const char*, Texts> cases[] = {
        {"CC(C)Oc1ccccc1", {"1-3"}}, {"COc1ccc(C)cc1OC1CCCC1", {"9-10"}}, {"CC(C)(C)Oc1ccccc1", {}},
        {"CCOc1ccccc1", {}}, {"CC(C)OC", {}}, {"CC(C)OC(C)=O", {}}};
    for (const auto& [smiles, bonds] : cases) {
        const MolBuilder m = test::prepared(smiles);
        const std::vector<HeldTorsion> syn = staggered_in(m, TorsionWells::Syn);
        for (const HeldTorsion& t : syn) {
            const bool aryl_first = m.atoms[t.atoms[0]].flags & core::AROMATIC;
            EXPECT_EQ(m.atoms[aryl_first ? t.atoms[3] : t.atoms[0]].atomic_num, core::Element::H) << smiles;
        }
        EXPECT_EQ(central_bonds(m, syn, TorsionWells::Syn), bonds) << smiles;
    }
}

// A methine turns its hydrogen cis to the far carbon of a vinyl or =CH-
// alkenyl it carries (quinine's vinyl); not an isopropenyl's, a methylene's,
// a ring bond's or a quaternary carbon's.
TEST(StaggeredBonds, AllylicMethineTurnsItsHydrogenToTheAlkene) {
    const std::pair<const char*, Texts> cases[] = {
        {"C=CC(C)C", {"1-2"}}, {"C/C=C\\C(C)CC", {"2-3"}}, {"C=CC1CN2CCC1CC2", {"1-2"}},
        {"C=C(C)C(C)C", {}}, {"C=CCC", {}}, {"C=CC(C)(C)C", {}}, {"CC1CC=CCC1", {}}};
    for (const auto& [smiles, bonds] : cases) {
        const MolBuilder m = test::prepared(smiles);
        const std::vector<HeldTorsion> syn = staggered_in(m, TorsionWells::Syn);
        for (const HeldTorsion& t : syn) {
            const bool h_first = m.atoms[t.atoms[0]].atomic_num == core::Element::H;
            const std::uint32_t far = h_first ? t.atoms[3] : t.atoms[0], alkene = h_first ? t.atoms[2] : t.atoms[1];
            EXPECT_EQ(m.atoms[h_first ? t.atoms[0] : t.atoms[3]].atomic_num, core::Element::H) << smiles;
            EXPECT_EQ(m.bonds[m.bond_between(far, alkene)].order, core::BondOrder::Double) << smiles;
        }
        EXPECT_EQ(central_bonds(m, syn, TorsionWells::Syn), bonds) << smiles;
    }
}

// Inner bonds of unbranched carbon chains anti over their carbons (a branch
// or a heteroatom keeps the bond staggered); a macrocycle's sp3 ring bonds
// staggered over their ring neighbours, a smaller ring's free.
TEST(StaggeredBonds, ChainsAntiAndMacrocyclesStaggered) {
    const std::pair<const char*, Texts> cases[] = {
        {"CCCC", {"0-1-2-3"}}, {"CCCCCC", {"0-1-2-3", "1-2-3-4", "2-3-4-5"}}, {"CC(C)CC", {}},
        {"CCOCC", {}}, {"c1ccccc1CCC", {"5-6-7-8"}}};
    for (const auto& [smiles, paths] : cases) {
        const MolBuilder m = test::prepared(smiles);
        Texts anti;
        for (const HeldTorsion& t : staggered_bonds(MoleculeContext(m))) {
            if (t.wells != TorsionWells::Anti) continue;
            for (std::uint32_t a : t.atoms) EXPECT_EQ(m.atoms[a].atomic_num, 6) << smiles;
            anti.push_back(text_of(m, t.atoms, 0, 4));
        }
        EXPECT_EQ(anti, paths) << smiles;
    }
    for (const auto& [smiles, ring_bonds] : {std::pair{"C1CCCCCCCCCCC1", 12u}, {"C1CCCCCCCCCC1", 0u}}) {
        const MolBuilder m = test::prepared(smiles);
        std::size_t held = 0;
        for (const HeldTorsion& t : staggered_bonds(MoleculeContext(m))) {
            held += t.wells == TorsionWells::RingStaggered;
            for (std::size_t k = 0; k < 3; ++k) EXPECT_NE(m.bond_between(t.atoms[k], t.atoms[k + 1]), NONE);
        }
        EXPECT_EQ(held, ring_bonds) << smiles;
    }
}

// A trialkylammonium's chains stand anti each to the next carbon round the
// nitrogen, a propeller; a secondary amine's carboxymethyl and
// phosphonomethyl anti to its other carbon. Nothing else of these is anti.
TEST(StaggeredBonds, AmmoniumPropellerAndExtendedAminoAcids) {
    const std::pair<const char*, Texts> cases[] = {
        {"CC[NH+](CC)CC", {"0-1-2-3", "4-3-2-5", "6-5-2-1"}}, {"CC[NH+](C)C", {"0-1-2-3"}},
        {"OC(=O)CNCP(=O)(O)O", {"1-3-4-5", "6-5-4-3"}}, {"CNCC(=O)O", {"3-2-1-0"}},
        {"CC[N+](C)(C)C", {}}, {"CCN(CC)CC", {}}, {"CN(C)CC(=O)O", {}}};
    for (const auto& [smiles, paths] : cases) {
        const MolBuilder m = test::prepared(smiles);
        Texts anti;
        for (const HeldTorsion& t : staggered_in(m, TorsionWells::Anti)) anti.push_back(text_of(m, t.atoms, 0, 4));
        EXPECT_EQ(anti, paths) << smiles;
    }
}

// A large ring's walls stand about its tetrahedral centres and its ketone
// carbons' ring angle; not about a lactone's carbonyl, nor in a six-ring.
TEST(LargeRingAngles, KetoneCarbonsOfLargeRingsAreWalled) {
    const std::pair<const char*, std::size_t> cases[] = {
        {"O=C1CCCCCCCCCCC1", 1}, {"O=C1OCCCCCCCCCC1", 0}, {"O=C1CCCCC1", 0}, {"C1CCCCCCCCCCC1", 0}};
    for (const auto& [smiles, ketones] : cases) {
        const MolBuilder m = test::prepared(smiles);
        std::size_t trigonal = 0;
        for (const WindowAngle& w : large_ring_angles(MoleculeContext(m)))
            if (m.atoms[w.atoms[1]].hybridization == core::Hybridization::Sp2) {
                ++trigonal;
                EXPECT_EQ(w.atoms[1], 1u) << smiles;
            }
        EXPECT_EQ(trigonal, ketones) << smiles;
    }
}

// Biaryls twisted, more with four ortho hydrogens than with a ring nitrogen
// in one's place, more again with one heavy ortho neighbour; free with two.
TEST(BiarylLinks, TwistByOrthoNeighbours) {
    const std::pair<const char*, double> cases[] = {
        {"c1ccc(cc1)-c1ccccc1", BIARYL_TWIST}, {"c1ccc(cc1)-c1ccncc1", BIARYL_TWIST},
        {"c1ccc(cc1)-c1ccccn1", BIARYL_TWIST_OPEN}, {"c1ccc(cc1)-c1cccs1", BIARYL_TWIST_OPEN},
        {"Cc1ccccc1-c1ccccc1", BIARYL_TWIST_CROWDED}, {"c1ccc(cc1)-c1cccc2ccccc12", BIARYL_TWIST_CROWDED},
        {"Cc1cccc(C)c1-c1ccccc1", 0.0}, {"Cc1ccccc1-c1ccccc1C", 0.0}, {"c1ccc2ccccc2c1", 0.0}};
    for (const auto& [smiles, twist] : cases) {
        const MolBuilder m = test::prepared(smiles);
        const auto held = biaryl_links(MoleculeContext(m));
        ASSERT_EQ(held.size(), twist == 0.0 ? 0u : 1u) << smiles;
        if (twist == 0.0) continue;
        EXPECT_EQ(held[0].wells, TorsionWells::Twisted);
        EXPECT_NEAR(held[0].twist, twist * DEG_TO_RAD, 1e-12) << smiles;
        EXPECT_TRUE(is_aromatic(m, held[0].atoms[1]) && is_aromatic(m, held[0].atoms[2])) << smiles;
    }
}

// Saturated six-rings sharing at most one bond, or two about a one-atom
// bridge, and those with rings of five or more; each path a closed ring of
// bonded atoms, the bridged paths those round the bridge's two bonds.
TEST(ChairRings, SaturatedSixRingsBridgedByOneAtomAtMost) {
    const std::pair<const char*, std::size_t> cases[] = {
        {"C1CCCCC1", 1}, {"C1CCNCC1", 1}, {"C1CCOCC1", 1}, {"C1CCC2CCCCC2C1", 2}, {"C1CCC2CCCC2C1", 1},
        {"C1CCC2(CC1)CCCCC2", 2}, {"C1=CCCCC1", 0}, {"O=C1CCCCC1", 0}, {"C1CC2CCC1C2", 0}, {"C1CC2CCC1CC2", 0},
        {"C1CCC2CC2C1", 0}, {"C1CCC2CCC2C1", 0}, {"C1CC2CCCC(C1)C2", 2}, {"CN1C2CCC1CC(O)C2", 1},
        {"C1C2CC3CC1CC(C2)C3", 4}, {"CC1(C)C2CCC(C)C1C2", 0}};
    for (const auto& [smiles, count] : cases) {
        const MolBuilder m = test::prepared(smiles);
        EXPECT_EQ(chair_rings(MoleculeContext(m)).size(), count) << smiles;
        const auto paths = held_chairs(MoleculeContext(m));
        EXPECT_EQ(paths.size(), count) << smiles;
        for (const HeldChair& chair : paths)
            for (std::size_t k = 0; k < 6; ++k) {
                const auto& path = chair.atoms;
                EXPECT_NE(m.bond_between(path[k], path[(k + 1) % 6]), NONE) << smiles;
                EXPECT_EQ(m.atoms[path[k]].hybridization, core::Hybridization::Sp3) << smiles;
            }
    }
    const MolBuilder nonane = test::prepared("C1CC2CCCC(C1)C2");
    const auto two = held_chairs(MoleculeContext(nonane));
    ASSERT_EQ(two.size(), 2u);
    for (std::size_t r = 0; r < 2; ++r) {
        const auto& other = two[1 - r].atoms;
        const auto in_other = [&](std::uint32_t a) { return std::find(other.begin(), other.end(), a) != other.end(); };
        EXPECT_EQ(std::count(two[r].bridged.begin(), two[r].bridged.end(), true), 2);
        for (std::size_t k = 0; k < 6; ++k) {
            const bool shared = in_other(two[r].atoms[(k + 1) % 6]) && in_other(two[r].atoms[(k + 2) % 6]);
            EXPECT_EQ(two[r].bridged[k], shared) << k;
        }
    }
}

// A secondary anilide on a six-ring is held near cis from the ring atom on
// its free side, or a carbon's rather than a ring nitrogen's, and the bounds
// keep it on that side; on a five-ring either way; crowded on both sides,
// not at all.
TEST(ConjugatedLinks, AnilideTurnsItsCarbonylToOneSide) {
    const std::pair<const char*, TorsionWells> cases[] = {
        {"CC(=O)Nc1ccccc1C", TorsionWells::NearCis}, {"CC(=O)Nc1ccccn1", TorsionWells::NearCis},
        {"NC(=O)Nc1ccccc1", TorsionWells::NearCis}, {"CC(=O)Nc1nccs1", TorsionWells::Twisted}};
    for (const auto& [smiles, wells] : cases) {
        const MolBuilder m = test::prepared(smiles);
        const ConformerHolds holds(m);
        std::vector<HeldTorsion> anilides;
        for (const HeldTorsion& t : conjugated_links(MoleculeContext(m)))
            if (m.atoms[t.atoms[1]].atomic_num == core::Element::N || m.atoms[t.atoms[2]].atomic_num == core::Element::N)
                anilides.push_back(t);
        ASSERT_EQ(anilides.size(), 1u) << smiles;
        const HeldTorsion& t = anilides[0];
        EXPECT_EQ(t.wells, wells) << smiles;
        if (wells != TorsionWells::NearCis) continue;
        const std::uint32_t side = m.atoms[t.atoms[0]].flags & core::AROMATIC ? t.atoms[0] : t.atoms[3];
        EXPECT_EQ(m.atoms[side].atomic_num, core::Element::C) << smiles;
        std::size_t heavy = 0;
        for (core::Neighbor nb : m.neighbors(side)) heavy += m.atoms[nb.atom].atomic_num != core::Element::H;
        EXPECT_EQ(heavy, 2u) << smiles;
        const auto window = holds.bounds(Holds::Shapes).chain_torsion(m.bond_between(t.atoms[1], t.atoms[2]),
                                                                      t.atoms[0], t.atoms[3]);
        ASSERT_TRUE(window) << smiles;
        EXPECT_EQ(*window, (std::pair{0.0, 45.0})) << smiles;
    }
    const MolBuilder lidocaine = test::prepared("CCN(CC)CC(=O)Nc1c(C)cccc1C");
    for (const HeldTorsion& t : conjugated_links(MoleculeContext(lidocaine)))
        EXPECT_TRUE(lidocaine.atoms[t.atoms[1]].atomic_num != core::Element::N &&
                    lidocaine.atoms[t.atoms[2]].atomic_num != core::Element::N);
}

// X=C-O-Y, Z (cis), outside rings; not when Y is itself acyl.
TEST(PlanarEsters, EstersAndAcidsButNotAnhydridesOrLactones) {
    const std::pair<const char*, Texts> cases[] = {
        {"CC(=O)OC", {"2-1-3-4"}}, {"CC(=O)O", {"2-1-3-H"}}, {"O=COC", {"0-1-2-3"}},
        {"COC(=O)OC", {"3-2-1-0", "3-2-4-5"}}, {"COC(N)=O", {"4-2-1-0"}}, {"CC(=S)OC", {"2-1-3-4"}},
        {"CC(=O)Oc1ccccc1", {"2-1-3-4"}}, {"CC(=O)OC(C)=O", {}}, {"O=C1CCCO1", {}}, {"CC(=O)[O-]", {}},
        {"CC(=O)SC", {}}, {"CCOCC", {}}};
    for (const auto& [smiles, groups] : cases) {
        const MolBuilder m = test::prepared(smiles);
        Texts found;
        for (const PlanarFour& p : planar_esters(MoleculeContext(m))) {
            EXPECT_TRUE(p.cis) << smiles;
            found.push_back(text_of(m, p.atoms));
        }
        EXPECT_EQ(found, groups) << smiles;
    }
}

namespace {

struct CentreCase {
    const char* smiles;
    std::size_t count;
};

// Each group's centre, its second atom, has `degree` neighbours, the group's
// other atoms.
template <class Group>
void expect_centres(const std::vector<Group>& groups, const MolBuilder& m, const CentreCase& c, std::size_t degree) {
    EXPECT_EQ(groups.size(), c.count) << c.smiles;
    for (const Group& g : groups) {
        EXPECT_EQ(m.degree[g.atoms[1]], degree) << c.smiles;
        for (std::size_t k = 0; k < g.atoms.size(); ++k) {
            if (k != 1) {
                EXPECT_NE(m.bond_between(g.atoms[1], g.atoms[k]), NONE) << c.smiles;
            }
        }
    }
}

}  // namespace

TEST(StraightCentres, TwoConnectedSpCentres) {
    for (const CentreCase& c : {CentreCase{"CC#N", 1}, {"CC#C", 2}, {"C=C=C", 1}, {"CN=[N+]=[N-]", 1},
                                {"O=C=O", 1}, {"CN=C", 0}, {"CC=O", 0}, {"CCC", 0}}) {
        const MolBuilder m = test::prepared(c.smiles);
        expect_centres(straight_centres(MoleculeContext(m)), m, c, 2);
    }
}

TEST(PyramidalAmines, NeutralNitrogensWithSingleBondsToHydrogenSp3CarbonNitrogenOrOxygen) {
    for (const CentreCase& c : {CentreCase{"CN(C)C", 1}, {"CN", 1}, {"N", 1}, {"C1CCNCC1", 1}, {"NCCN", 2},
                                {"C1CN1", 1}, {"CNC(C)=O", 0}, {"Nc1ccccc1", 0}, {"C[NH3+]", 0},
                                {"CN(C)C=C", 0}, {"c1cc[nH]c1", 0}, {"CN(C)C#N", 0},
                                // Hydrazines and hydroxylamines, in chains and rings; not
                                // an N-N or N-O on an acyl, an aryl, a double bond or a charge.
                                {"NN", 2}, {"NO", 1}, {"CN(C)O", 1}, {"CN(C)N", 2}, {"C1CNNC1", 2},
                                {"C1CONC1", 1}, {"CN1CCCCO1", 1}, {"NNC(C)=O", 1}, {"NNc1ccccc1", 1},
                                {"NN=C", 0}, {"CON=C", 0}, {"C[N+](=O)[O-]", 0}, {"C[N+](C)(C)[O-]", 0}}) {
        const MolBuilder m = test::prepared(c.smiles);
        const auto amines = pyramidal_amines(MoleculeContext(m));
        EXPECT_EQ(amines.size(), c.count) << c.smiles;
        for (const PyramidalCentre& n : amines) EXPECT_EQ(m.atoms[n.atoms[0]].atomic_num, 7) << c.smiles;
    }
}

TEST(PlanarFusionAtoms, AromaticAtomsWithThreeAromaticBonds) {
    for (const CentreCase& c : {CentreCase{"c1ccc2ccccc2c1", 2}, {"c1ccc2[nH]ccc2c1", 2},
                                {"c1ccc2cc3ccccc3cc2c1", 4}, {"c1cc2ccc3cccc4ccc(c1)c2c34", 6},
                                {"c1ccc(cc1)-c1ccccc1", 0}, {"c1ccc2c(c1)CCCC2", 0}, {"c1ccccc1", 0}}) {
        const MolBuilder m = test::prepared(c.smiles);
        const auto groups = planar_fusion_atoms(MoleculeContext(m));
        expect_centres(groups, m, c, 3);
        for (const PlanarFour& p : groups) EXPECT_TRUE(m.atoms[p.atoms[1]].flags & core::AROMATIC) << c.smiles;
    }
}

// A five-ring closed in by six-rings on every side curves its whole sheet,
// which no fusion atom of it then holds flat; one on the sheet's edge
// (acenaphthylene) opens its angles and lies flat.
TEST(PlanarFusionAtoms, NoneInACurvedSheet) {
    const std::pair<const char*, std::size_t> cases[] = {
        {"c1cc2ccc3ccc4ccc5ccc1c1c2c3c4c51", 0}, {"C1=Cc2cccc3cccc1c23", 2}, {"c1ccc2ccccc2c1", 2}};
    for (const auto& [smiles, held] : cases) {
        const MolBuilder m = test::prepared(smiles);
        const MoleculeContext context(m);
        EXPECT_EQ(planar_fusion_atoms(context).size(), held) << smiles;
        EXPECT_EQ(std::count(context.curved.begin(), context.curved.end(), 1), held == 0 ? 20 : 0) << smiles;
    }
}

TEST(PlanarNitroGroups, NitroNitrogensWithTheirThreeNeighbours) {
    for (const CentreCase& c : {CentreCase{"C[N+](=O)[O-]", 1}, {"O=[N+]([O-])c1cccc(c1)[N+](=O)[O-]", 2},
                                {"CO[N+](=O)[O-]", 1}, {"C=[N+](C)[O-]", 0}, {"CN=O", 0}, {"C[N+](C)(C)[O-]", 0}}) {
        const MolBuilder m = test::prepared(c.smiles);
        const auto groups = planar_nitro_groups(MoleculeContext(m));
        expect_centres(groups, m, c, 3);
        for (const PlanarFour& p : groups) EXPECT_EQ(m.atoms[p.atoms[1]].formal_charge, 1) << c.smiles;
    }
}

// Methyl acetate: O=C-O-CH3 cis and CH3-C-O-CH3 trans once the shapes are
// held, at the group's typical lengths and angles; free without them.
TEST(HeldBounds, EsterIsHeldZWithItsTypicalGeometry) {
    const MolBuilder m = test::prepared("CC(=O)OC");
    const double carbonyl = find_bond_length({"C", "O", "2", 0})->median;
    const double cis = chain_distance(carbonyl, 1.336, 1.448, 123.0, 116.5, 0);
    const double trans = chain_distance(1.510, 1.336, 1.448, 112.0, 116.5, 180);
    for (Holds level : {Holds::Shapes, Holds::All}) {
        const ConformerHolds held_holds(m);
        const BoundsPreferences& held = held_holds.bounds(level);
        const DistanceBounds b = build_bounds(m, &held);
        EXPECT_NEAR(b.lower(2, 4), cis - 0.06, 1e-9);
        EXPECT_NEAR(b.upper(2, 4), cis + 0.06, 1e-9);
        EXPECT_NEAR(b.lower(0, 4), trans - 0.06, 1e-9);
        EXPECT_NEAR(b.upper(0, 4), trans + 0.06, 1e-9);
    }
    const ConformerHolds plain_holds(m);
    const BoundsPreferences& plain = plain_holds.bounds(Holds::None);
    const DistanceBounds b = build_bounds(m, &plain);
    EXPECT_GT(b.upper(2, 4) - b.lower(2, 4), 1.0);
    // An acid's hydrogen lies syn to its carbonyl oxygen.
    const MolBuilder acid = test::prepared("CC(=O)O");
    const ConformerHolds held_holds(acid);
    const BoundsPreferences& held = held_holds.bounds(Holds::Shapes);
    const std::uint32_t h = hydrogens_of(acid, 3)[0], bond = acid.bond_between(1, 3);
    EXPECT_EQ(held.chain_torsion(bond, 2, h), (std::pair{0.0, 0.0}));
    EXPECT_EQ(held.chain_torsion(bond, 0, h), (std::pair{180.0, 180.0}));
}

// Both N-O bonds of a nitro group take the double bond's length, within
// half the usual width, once the shapes are held.
TEST(HeldBounds, NitroSingleBondTakesTheDoubleBondLength) {
    const MolBuilder m = test::prepared("C[N+](=O)[O-]");
    const double doubled = find_bond_length({"N", "O", "2", 0})->median;
    const double single = find_bond_length({"N", "O", "1", 0})->median;
    for (const auto& [level, length] : {std::pair{Holds::None, single}, std::pair{Holds::Shapes, doubled},
                                        std::pair{Holds::All, doubled}}) {
        const ConformerHolds held_holds(m);
        const BoundsPreferences& held = held_holds.bounds(level);
        const DistanceBounds b = build_bounds(m, &held);
        const double width = level == Holds::None ? 0.01 : 0.005;
        EXPECT_NEAR(b.lower(1, 3), length - width, 1e-9) << int(level);
        EXPECT_NEAR(b.upper(1, 3), length + width, 1e-9) << int(level);
        EXPECT_NEAR(b.lower(1, 2), doubled - width, 1e-9) << int(level);
    }
}

namespace {

struct WindowCase {
    const char* smiles;
    Holds level;
    std::uint32_t centre, a, c;
    double angle;  // the window's middle, NaN for none
    double half = 2.5;
};

}  // namespace

// Angle windows of +-2.5 degrees, as the statistics give, +-3 along a large
// ring; a straight centre 175-180.
TEST(HeldBounds, AngleWindowsOfAminesNitroAndSpCentres) {
    const double none = std::nan("");
    const WindowCase cases[] = {
        {"CN(C)C", Holds::Shapes, 1, 0, 2, 110.5}, {"CN(C)C", Holds::All, 1, 2, 3, 110.5},
        {"CN(C)C", Holds::None, 1, 0, 2, none},    {"C1CCNCC1", Holds::Shapes, 3, 2, 4, 111.0},
        {"C1CCNC1", Holds::Shapes, 3, 2, 4, 105.0}, {"C[N+](=O)[O-]", Holds::Shapes, 1, 2, 3, 126.0},
        {"C[N+](=O)[O-]", Holds::Shapes, 1, 0, 3, 117.0}, {"CC(C)=O", Holds::Shapes, 1, 0, 3, 121.25},
        {"COC", Holds::Shapes, 1, 0, 2, 112.0},    {"C1CCOC1", Holds::Shapes, 3, 2, 4, none},
        {"CC#N", Holds::Shapes, 1, 0, 2, 177.5},
        // A lactam's flat ring nitrogen; a sulfonyl piperidine's and
        // pyrrolidine's near flat, by their own angles.
        {"O=C1CCCCN1", Holds::Shapes, 6, 1, 5, 120.0}, {"CS(=O)(=O)N1CCCCC1", Holds::Shapes, 4, 5, 9, 112.5},
        {"CS(=O)(=O)N1CCCC1", Holds::Shapes, 4, 1, 5, 119.5},
        // A sulfone's oxygens and carbons, and between them what a
        // four-connected centre leaves: cos = -cos(120.5 / 2) cos(104.5 / 2).
        {"CS(C)(=O)=O", Holds::Shapes, 1, 3, 4, 120.5}, {"CS(C)(=O)=O", Holds::Shapes, 1, 0, 2, 104.5},
        {"CS(C)(=O)=O", Holds::Shapes, 1, 0, 3, 107.6855},
        // Imine and oxime nitrogens bend about their lone pair; a nitrogen
        // between two aryl groups opens their angle, one between an aryl
        // and a nitrogen less.
        {"CC(C)=NO", Holds::Shapes, 3, 1, 4, 111.0}, {"CC(C)=Nc1ccccc1", Holds::Shapes, 3, 1, 4, 117.0},
        {"c1ccc(Nc2ccccc2)cc1", Holds::Shapes, 4, 3, 5, 127.0}, {"NNc1ccccc1", Holds::Shapes, 1, 0, 2, 118.0},
        // Hydroxylamines and hydrazines take the amine angles, in chains
        // and rings; anilines near flat, wider beside the ring and alkyls.
        {"CN(C)O", Holds::Shapes, 1, 0, 3, 110.5}, {"C1CNNC1", Holds::Shapes, 2, 1, 3, 105.0},
        {"CN(C)c1ccccc1", Holds::Shapes, 1, 0, 2, 118.0}, {"CN(C)c1ccccc1", Holds::Shapes, 1, 0, 3, 118.0},
        {"CN(C)c1ccccc1", Holds::None, 1, 0, 2, none},
        // A tertiary aniline crowded by an ortho methyl twists out of
        // conjugation, and its nitrogen keeps the statistics' angles.
        {"CN(C)c1ccccc1C", Holds::All, 1, 0, 2, none},
        // Elements and valences the statistics have no row for: by their
        // neighbours and lone pairs, closer the heavier the element; none
        // without the typical lengths, nor for a d-block centre.
        {"C[Se]C", Holds::Lengths, 1, 0, 2, 97.0}, {"C[Se]C", Holds::None, 1, 0, 2, none},
        {"C[Te]C", Holds::Lengths, 1, 0, 2, 94.0}, {"C[As](C)C", Holds::All, 1, 0, 3, 97.0},
        {"C[Sb](C)C", Holds::Lengths, 1, 0, 2, 94.0}, {"c1ccc(cc1)[I+]c1ccccc1", Holds::Lengths, 6, 3, 7, 94.0},
        {"CB(C)C", Holds::Lengths, 1, 0, 2, 120.0}, {"C[Hg]C", Holds::Lengths, 1, 0, 2, none},
        // Silyl ethers open their oxygen's angle.
        {"C[Si](C)(C)O[Si](C)(C)C", Holds::Lengths, 4, 1, 5, 148.0}, {"CO[Si](C)(C)C", Holds::Lengths, 1, 0, 2, 125.0},
        // A large ring's centres as in a chain: a crown ether's C-O-C as an
        // ether's, its C-C-O as the statistics' chain row, a cycloalkane's
        // C-C-C opened; a six-ring keeps its statistics.
        {"C1COCCOCCOCCOCCOCCO1", Holds::Lengths, 2, 1, 3, 112.0},
        {"C1COCCOCCOCCOCCOCCO1", Holds::Lengths, 1, 0, 2, 114.0, 3.0},
        {"C1CCCCCCCCCCCCC1", Holds::Lengths, 1, 0, 2, 114.0, 3.0}, {"C1CCCCCCCCCCCCC1", Holds::None, 1, 0, 2, none},
        {"C1CCCCC1", Holds::All, 1, 0, 2, none}};
    for (const WindowCase& c : cases) {
        const MolBuilder m = test::prepared(c.smiles);
        const auto window = ConformerHolds(m).bounds(c.level).angle_window(c.centre, c.a, c.c);
        ASSERT_EQ(window.has_value(), !std::isnan(c.angle)) << c.smiles << " level " << int(c.level);
        if (window) {
            EXPECT_NEAR(window->first, c.angle - c.half, 1e-4) << c.smiles;
            EXPECT_NEAR(window->second, c.angle + c.half, 1e-4) << c.smiles;
        }
    }
}

// A ring's sp centre bends no further than a cyclooctyne's (some 158
// degrees) from the typical lengths on, straight with the shapes; a chain's
// is straight with the shapes alone.
TEST(HeldBounds, RingSpCentresBendLittle) {
    const MolBuilder ring = test::prepared("C1CCCC#CCC1");
    EXPECT_FALSE(ConformerHolds(ring).bounds(Holds::None).angle_window(4, 3, 5));
    EXPECT_EQ(ConformerHolds(ring).bounds(Holds::Lengths).angle_window(4, 3, 5), (std::pair{RING_SP_LOWER, 180.0}));
    EXPECT_EQ(ConformerHolds(ring).bounds(Holds::Shapes).angle_window(4, 3, 5), (std::pair{175.0, 180.0}));
    EXPECT_FALSE(ConformerHolds(test::prepared("CC#CC")).bounds(Holds::Lengths).angle_window(1, 0, 2));
}

TEST(HeldBounds, ChairRingPathsOnlyWithEveryHold) {
    const MolBuilder m = test::prepared("C1CCCCC1");
    EXPECT_EQ(ConformerHolds(m).bounds(Holds::All).ring_torsion(0, 0, 3), (std::pair{45.0, 64.4}));
    EXPECT_FALSE(ConformerHolds(m).bounds(Holds::Shapes).ring_torsion(0, 0, 3));
    EXPECT_FALSE(ConformerHolds(m).bounds(Holds::None).ring_torsion(0, 0, 3));
    const MolBuilder ene = test::prepared("C1=CCCCC1");
    EXPECT_FALSE(ConformerHolds(ene).bounds(Holds::All).ring_torsion(0, 1, 4));
}

// Round a bond of a porphyrin's inner ring that no five-ring shares, the
// ring's own path lies cis and a path leaving it trans, at every level: the
// statistics' one median for such rings, 178 degrees, would buckle it.
TEST(HeldBounds, AromaticMacrocyclesLieFlat) {
    const MolBuilder m = test::prepared("C1=CC2=NC1=CC3=CC=C(N3)C=C4C=CC(=N4)C=C5C=CC(=C2)N5");
    const ConformerHolds holds(m);
    const MoleculeContext& context = holds.context();
    std::uint32_t macro = NONE;
    for (std::uint32_t r = 0; r < context.rings.ring_count(); ++r)
        if (context.rings.ring_size(r) == 16) macro = r;
    ASSERT_NE(macro, NONE);
    std::size_t checked = 0;
    for (const core::Bond& bond : m.bonds) {
        if (context.rings.smallest_holding(bond.begin, bond.end) != macro) continue;
        for (core::Neighbor na : m.neighbors(bond.begin))
            for (core::Neighbor nd : m.neighbors(bond.end)) {
                if (na.atom == bond.end || nd.atom == bond.begin) continue;
                const bool same = context.rings.contains(macro, na.atom) == context.rings.contains(macro, nd.atom);
                const double phi = same ? 0.0 : 180.0;
                for (Holds level : {Holds::None, Holds::All})
                    EXPECT_EQ(holds.bounds(level).ring_torsion(macro, na.atom, nd.atom), (std::pair{phi, phi}));
                ++checked;
            }
    }
    EXPECT_EQ(checked, 8u * 4u);
}

// A large ring that is neither aromatic nor all sp3 lets its ring paths
// turn anti, at every level, where the bounds' own rule capped them at 90
// degrees and folded macrolides; an eight-ring keeps the cap, and a large
// ring's double bond keeps its own rule.
TEST(HeldBounds, LargeRingPathsTurnAsAChainsDo) {
    const auto upper_of_ring_paths = [](const char* smiles, Holds level) {
        const MolBuilder m = test::prepared(smiles);
        const ConformerHolds holds(m);
        const DistanceBounds b = build_bounds(m, &holds.bounds(level));
        const RingContext& rings = holds.context().rings;
        double lowest = 1e9;  // the tightest upper bound of a C-C-C-C ring path
        for (const core::Bond& bond : m.bonds) {
            const std::uint32_t ring = rings.smallest_holding(bond.begin, bond.end);
            if (ring == NONE || bond.order != core::BondOrder::Single) continue;
            for (core::Neighbor na : m.neighbors(bond.begin))
                for (core::Neighbor nd : m.neighbors(bond.end))
                    if (na.atom != bond.end && nd.atom != bond.begin && rings.contains(ring, na.atom) &&
                        rings.contains(ring, nd.atom) && m.atoms[na.atom].atomic_num == core::Element::C &&
                        m.atoms[nd.atom].atomic_num == core::Element::C &&
                        m.atoms[bond.begin].atomic_num == core::Element::C &&
                        m.atoms[bond.end].atomic_num == core::Element::C)
                        lowest = std::min(lowest, b.upper(na.atom, nd.atom));
        }
        return lowest;
    };
    for (Holds level : {Holds::None, Holds::All}) {
        EXPECT_GT(upper_of_ring_paths("O=C1CCCCCCCCCCCCO1", level), 3.8);  // anti C-C-C-C is 3.9 A
        EXPECT_LT(upper_of_ring_paths("O=C1CCCCCCC1", level), 3.5);
    }
    // A macrolide's ester keeps its Z, which the shapes give before the
    // large ring frees its other bonds.
    const MolBuilder lactone = test::prepared("O=C1CCCCCCCCCCCCO1");
    const ConformerHolds lactone_holds(lactone);
    const std::uint32_t ester = lactone.bond_between(1, 14);
    ASSERT_NE(ester, NONE);
    EXPECT_EQ(lactone_holds.bounds(Holds::Shapes).chain_torsion(ester, 0, 13), (std::pair{0.0, 0.0}));
    EXPECT_EQ(lactone_holds.bounds(Holds::None).chain_torsion(ester, 0, 13), (std::pair{0.0, 180.0}));
    const MolBuilder m = test::prepared("C1CCCCC/C=C\\CCCCC1");
    const ConformerHolds holds(m);
    std::size_t free = 0;
    for (std::uint32_t bi = 0; bi < m.num_bonds(); ++bi) {
        if (!(m.bonds[bi].flags & core::IN_RING)) continue;
        const auto window = holds.bounds(Holds::None).chain_torsion(bi, NONE, NONE);
        EXPECT_EQ(window.has_value(), m.bonds[bi].order == core::BondOrder::Single) << bi;
        free += window.has_value();
    }
    EXPECT_EQ(free, 12u);
}

// Bond ranges of +-0.01 around the typical lengths, in rings as outside
// them, save ring bonds from an sp3 carbon to an sp3 atom (C1CCOC1).
TEST(HeldBounds, TypicalBondLengthsOfCommonGroups) {
    const struct {
        const char* smiles;
        std::uint32_t a, b;
        Holds level;
        double length;  // NaN for none
    } cases[] = {{"CC(N)=O", 1, 2, Holds::Shapes, 1.35},   {"CC(N)=O", 1, 2, Holds::None, std::nan("")},
                 {"CC(=O)[O-]", 1, 2, Holds::Shapes, 1.255}, {"CC(=O)[O-]", 1, 3, Holds::Shapes, 1.255},
                 {"COC", 0, 1, Holds::All, 1.42},           {"C1CCOC1", 2, 3, Holds::Shapes, std::nan("")},
                 {"CC(=O)C", 1, 2, Holds::Shapes, std::nan("")},
                 // Lactam, lactone, ring enone, diene, aryl ketone and enamide
                 // bonds, every bond of those kinds in the ring.
                 {"O=C1CCCN1", 1, 5, Holds::Shapes, 1.35},    {"O=C1CCCN1", 4, 5, Holds::Shapes, 1.455},
                 {"O=C1CCCN1", 1, 2, Holds::Shapes, 1.51},
                 {"O=C1CCCO1", 1, 5, Holds::Shapes, 1.336},   {"O=C1CCCC=C1", 1, 6, Holds::Shapes, 1.465},
                 {"C1CC=CC=C1", 3, 4, Holds::Shapes, 1.455},  {"O=C1CCc2ccccc21", 1, 9, Holds::Shapes, 1.488},
                 {"O=C1CCC=CN1", 5, 6, Holds::Shapes, 1.37},
                 // A fused beta-lactam's pyramidal nitrogen, stretched as
                 // every four-ring bond is; an imide.
                 {"O=C1CC2N1CCS2", 1, 4, Holds::Shapes, 1.415}, {"O=C1CCC1", 1, 2, Holds::Shapes, 1.54},
                 {"O=C1CCC(=O)N1", 1, 6, Holds::Shapes, 1.385}, {"CC(=O)NC(C)=O", 1, 3, Holds::Shapes, 1.385},
                 // Ammonium, amidine, thiocyanate; hydrazine, hydroxylamine
                 // and hydrazide.
                 {"C[N+](C)(C)C", 0, 1, Holds::Shapes, 1.504}, {"CC(=N)N", 1, 3, Holds::Shapes, 1.37},
                 {"CSC#N", 1, 2, Holds::Shapes, 1.69},         {"CNNC", 1, 2, Holds::Shapes, 1.454},
                 {"CNOC", 1, 2, Holds::Shapes, 1.453},         {"CC(=O)NN", 3, 4, Holds::Shapes, 1.415},
                 // A large ring's ether bonds, a squaric ring's, H2.
                 {"C1COCCOCCOCCOCCOCCO1", 1, 2, Holds::Lengths, 1.42}, {"OC1=C(O)C(=O)C1=O", 1, 2, Holds::Lengths, 1.46},
                 {"[H][H]", 0, 1, Holds::Lengths, 0.741}, {"[H][H]", 0, 1, Holds::None, std::nan("")},
                 // A benzocyclobutene's fusion bond is its benzene's; a
                 // phosphoramide's N-CH3 is as long as an amine's.
                 {"C1Cc2ccccc21", 2, 7, Holds::Lengths, std::nan("")}, {"CNP(C)(C)=O", 0, 1, Holds::Lengths, 1.469}};
    for (const auto& c : cases) {
        const MolBuilder m = test::prepared(c.smiles);
        const auto range = ConformerHolds(m).bounds(c.level).bond_range(m.bond_between(c.a, c.b));
        ASSERT_EQ(range.has_value(), !std::isnan(c.length)) << c.smiles << " " << c.a << "-" << c.b;
        if (range) {
            EXPECT_NEAR(range->first, c.length - 0.01, 1e-12) << c.smiles;
            EXPECT_NEAR(range->second, c.length + 0.01, 1e-12) << c.smiles;
        }
    }
}

// Each level adds its own terms on top of the level below.
TEST(ConformerHolds, LevelsAddTheirTermsInTurn) {
    const MolBuilder m = test::prepared("CN(C)C1CCC(CC1)OC(=O)C#Cc1ccc(OC)cc1");
    const ConformerHolds holds(m);
    std::vector<double> start(3 * m.num_atoms());
    for (std::size_t i = 0; i < start.size(); ++i) start[i] = std::sin(1.7 * double(i));
    std::array<ErrorFunction, 3> f;
    const std::array levels{Holds::None, Holds::Shapes, Holds::All};
    for (std::size_t k = 0; k < 3; ++k) {
        f[k] = build_chiral_terms(build_bounds(m), {});
        holds.add_terms(f[k], levels[k], start);
    }
    EXPECT_EQ(f[0].flat.size(), planar_aromatic_rings(MoleculeContext(m)).size());
    EXPECT_TRUE(f[0].straight.empty() && f[0].pyramids.empty() && f[0].torsions.empty());
    EXPECT_EQ(f[1].straight.size(), 2u);
    EXPECT_EQ(f[1].pyramids.size(), 1u);
    EXPECT_GT(f[1].flat.size(), f[0].flat.size());
    EXPECT_TRUE(f[1].torsions.empty());
    std::array<std::size_t, 9> wells{};
    for (const HeldTorsion& t : f[2].torsions) ++wells[static_cast<std::size_t>(t.wells)];
    // The anisole link, turned to one side (the ester's oxygen is held as an
    // ester); every staggered bond; one chair of six ring paths.
    EXPECT_EQ(wells, (std::array<std::size_t, 9>{0, 5, 6, 0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(f[2].flat.size(), f[1].flat.size());
    // Whether a level holds more than the one below it.
    EXPECT_FALSE(ConformerHolds(test::prepared("CC")).anything_held(Holds::Shapes));
    EXPECT_TRUE(ConformerHolds(test::prepared("CC")).anything_held(Holds::All));
    EXPECT_TRUE(ConformerHolds(test::prepared("CN")).anything_held(Holds::Shapes));
    EXPECT_FALSE(ConformerHolds(test::prepared("c1ccccc1")).anything_held(Holds::All));
    EXPECT_TRUE(ConformerHolds(test::prepared("C1CCCCC1")).anything_held(Holds::All));
    // Holding no group, but a sulfonyl's angles and a thioether's lengths.
    EXPECT_TRUE(ConformerHolds(test::prepared("CS(C)(=O)=O")).anything_held(Holds::Lengths));
    EXPECT_TRUE(ConformerHolds(test::prepared("CSC")).anything_held(Holds::Lengths));
    EXPECT_FALSE(ConformerHolds(test::prepared("CSC")).anything_held(Holds::Shapes));
    EXPECT_FALSE(ConformerHolds(test::prepared("[Ar]")).anything_held(Holds::Lengths));
}

// A chair is held in the form it starts in, whichever of the mirror images.
TEST(ConformerHolds, ChairKeepsTheFormItStartsIn) {
    const MolBuilder m = test::prepared("C1CCCCC1");
    const ConformerHolds holds(m);
    for (double z : {0.25, -0.25}) {
        // Ring torsions of 58.9 degrees, alternating in sign; the hydrogens
        // take part in no chair term.
        std::vector<double> start(3 * m.num_atoms(), 0.0), g(start.size());
        for (std::size_t k = 0; k < 6; ++k) {
            start[3 * k] = 1.45 * std::cos(double(k) * 60 * test::RAD);
            start[3 * k + 1] = 1.45 * std::sin(double(k) * 60 * test::RAD);
            start[3 * k + 2] = k % 2 ? -z : z;
        }
        ErrorFunction f = build_chiral_terms(smooth_matrix_init(m.num_atoms(), 0.0, 0.0), {});
        holds.add_terms(f, Holds::All, start);
        ASSERT_EQ(f.torsions.size(), 6u);
        for (const HeldTorsion& t : f.torsions) EXPECT_EQ(t.wells, TorsionWells::Chair);
        EXPECT_EQ(field_energy(f, start, g), 0.0) << z;
    }
}
