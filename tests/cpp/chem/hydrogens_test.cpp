#include <gtest/gtest.h>

#include "chem/explicit_hs.hpp"
#include "chem/remove_hs.hpp"
#include "core/error.hpp"
#include "core/polyhedron.hpp"
#include "io/smiles/read.hpp"
#include "support.hpp"

using namespace quorix;
using namespace quorix::core;

namespace {

MolBuilder smiles(const char* text) { return test::read_or_fail(text); }
std::vector<std::uint32_t> identity_ranks(const MolBuilder& m) { return test::identity(m.num_atoms()); }
using test::neighbour_atoms;

}  // namespace

TEST(AddExplicitHs, HeavyAtomsServedByRankThenIndex) {
    MolBuilder m = smiles("CO[NH2]");
    m.atoms[0].num_implicit_hs = 3;
    m.atoms[1].num_implicit_hs = 1;
    // The oxygen ranks first, so its hydrogen takes the first new index; the
    // carbon and nitrogen tie and go by index.
    const std::vector<std::uint32_t> ranks{7, 2, 7};
    EXPECT_EQ(chem::add_explicit_hs(m, ranks), 6u);
    EXPECT_EQ(neighbour_atoms(m, 1), (std::vector<std::uint32_t>{0, 2, 3}));
    EXPECT_EQ(neighbour_atoms(m, 0), (std::vector<std::uint32_t>{1, 4, 5, 6}));
    EXPECT_EQ(neighbour_atoms(m, 2), (std::vector<std::uint32_t>{1, 7, 8}));
    EXPECT_TRUE(m.atoms[2].flags & FIXED_HS);  // left as it was
}

TEST(AddExplicitHs, TetrahedralTagStaysAndRankLengthIsChecked) {
    MolBuilder m = smiles("N[C@@H](O)C");
    m.atoms[1].num_implicit_hs = 0;
    chem::add_explicit_hs(m, identity_ranks(m));
    EXPECT_EQ(m.atoms[1].chiral_tag, ChiralTag::Cw);
    std::vector<std::uint32_t> short_ranks(m.num_atoms() - 1, 0);
    EXPECT_THROW(chem::add_explicit_hs(m, short_ranks), InternalError);
}

TEST(RemoveHs, KeepsEveryHydrogenThatCarriesInformation) {
    const char* keep[] = {
        "[2H]C", "[H]", "[H:3]C", "[H][H]", "*[H]", "[H-]C", "[H]/C=C/F", "C1[H]C1", "[HH]C",
    };
    for (const char* s : keep) {
        MolBuilder m = smiles(s);
        const MolBuilder before = m;
        EXPECT_EQ(chem::remove_hs(m), 0u) << s;
        EXPECT_EQ(m, before) << s;
    }
}

TEST(RemoveHs, KeepsStereoReferenceHydrogen) {
    MolBuilder m = smiles("[H]C(F)=CF");
    m.bonds[2].stereo = BondStereo::Cis;  // C=C
    m.bonds[2].stereo_atoms = {0, 4};
    EXPECT_FALSE(chem::is_removable_h(m, 0));
    EXPECT_EQ(chem::remove_hs(m), 0u);
}

TEST(RemoveHs, FoldsIntoTheRightCountAndRenumbers) {
    MolBuilder m = smiles("[H]C([H])([H])[NH]([H])C(F)=CF");
    ASSERT_EQ(m.atoms[4].flags & FIXED_HS, FIXED_HS);
    m.bonds[7].stereo = BondStereo::Trans;  // C=C, its references after the hydrogens
    m.bonds[7].stereo_atoms = {7, 9};
    EXPECT_EQ(chem::remove_hs(m), 4u);
    ASSERT_EQ(m.num_atoms(), 6u);
    EXPECT_EQ(m.atoms[0].num_implicit_hs, 3u);  // organic-subset carbon
    EXPECT_EQ(m.atoms[0].num_explicit_hs, 0u);
    EXPECT_EQ(m.atoms[1].num_explicit_hs, 2u);  // bracket nitrogen
    EXPECT_EQ(m.atoms[1].num_implicit_hs, 0u);
    EXPECT_EQ(m.num_bonds(), 5u);
    EXPECT_EQ(m.bonds[3].order, BondOrder::Double);
    EXPECT_EQ(m.bonds[3].stereo_atoms, (std::array<std::uint32_t, 2>{3, 5}));
    EXPECT_EQ(neighbour_atoms(m, 2), (std::vector<std::uint32_t>{1, 3, 4}));
}

TEST(RemoveHs, TetrahedralHydrogenCountsAsLastNeighbour) {
    // Neighbours (N, O, H, C): the hydrogen at position 2 of 4 is one swap from
    // the end, so the mark inverts.
    MolBuilder m = smiles("N[C@@](O)([H])C");
    ASSERT_EQ(m.atoms[1].chiral_tag, ChiralTag::Cw);
    EXPECT_EQ(chem::remove_hs(m), 1u);
    EXPECT_EQ(m.atoms[1].chiral_tag, ChiralTag::Ccw);
    // Neighbours (N, H, O, C): two swaps, the mark stays.
    MolBuilder k = smiles("N[C@@]([H])(O)C");
    ASSERT_EQ(k.atoms[1].chiral_tag, ChiralTag::Cw);
    chem::remove_hs(k);
    EXPECT_EQ(k.atoms[1].chiral_tag, ChiralTag::Cw);
}

TEST(RemoveHs, AromaticNitrogenKeepsItsHydrogenDeclared) {
    // The valence rules cannot give an aromatic nitrogen its hydrogen back, so it
    // is kept as a declared one instead of being lost.
    MolBuilder m = smiles("c1ccn([H])c1");
    EXPECT_EQ(chem::remove_hs(m), 1u);
    EXPECT_EQ(m.atoms[3].num_explicit_hs, 1u);
    EXPECT_EQ(m.atoms[3].num_implicit_hs, 0u);
    // Where the rules do give it back, it stays implicit.
    MolBuilder o = smiles("[H]OC");
    EXPECT_EQ(chem::remove_hs(o), 1u);
    EXPECT_EQ(o.atoms[0].num_implicit_hs, 1u);
    EXPECT_EQ(o.atoms[0].num_explicit_hs, 0u);
}

TEST(HydrogenRoundTrip, PolyhedralClassesSurviveAddThenRemove) {
    struct Case {
        const char* prefix;
        ChiralTag tag;
    };
    // One implicit hydrogen counted first, then the written ligands.
    const Case cases[] = {{"[Pt@SP%d]", ChiralTag::SquarePlanar},
                          {"[P@TB%d]", ChiralTag::TrigonalBipyramidal},
                          {"[Co@OH%d]", ChiralTag::Octahedral}};
    for (const Case& c : cases) {
        const std::uint32_t classes = polyhedron_class_count(c.tag);
        const std::uint32_t ligands = polyhedron_vertex_count(c.tag) - 1;
        for (std::uint32_t p = 1; p <= classes; ++p) {
            char head[32];
            std::snprintf(head, sizeof head, c.prefix, p);
            std::string text = head;
            text.insert(text.size() - 1, "H");
            const char* subs[] = {"(F)", "(Cl)", "(Br)", "(I)", "(N)"};
            for (std::uint32_t i = 0; i < ligands; ++i) text += subs[i];
            MolBuilder m = smiles(text.c_str());
            ASSERT_EQ(m.atoms[0].chiral_tag, c.tag) << text;
            const std::uint8_t before = m.atoms[0].chiral_permutation;
            ASSERT_EQ(chem::add_explicit_hs(m, identity_ranks(m)), 1u);
            ASSERT_EQ(chem::remove_hs(m), 1u);
            EXPECT_EQ(m.atoms[0].chiral_permutation, before) << text;
        }
    }
}

TEST(HydrogenRoundTrip, AlleneParityFollowsTheTerminalHydrogen) {
    for (const char* text : {"C[CH]=[C@]=[CH]C", "C[CH]=[C@@]=[CH]C", "F[CH]=[C@AL1]=C(Cl)Br"}) {
        MolBuilder m = smiles(text);
        const std::uint8_t before = m.atoms[2].chiral_permutation;
        ASSERT_EQ(m.atoms[2].chiral_tag, ChiralTag::Allene) << text;
        ASSERT_TRUE(before == 1 || before == 2) << text;
        const bool one_terminal_h = std::string(text).find("C(Cl)Br") != std::string::npos;
        chem::add_explicit_hs(m, identity_ranks(m));
        // Each terminal whose hydrogen moves from first to last swaps once.
        EXPECT_EQ(m.atoms[2].chiral_permutation, one_terminal_h ? 3 - before : before) << text;
        for (Atom& a : m.atoms) a.flags &= ~FIXED_HS;
        chem::remove_hs(m);
        EXPECT_EQ(m.atoms[2].chiral_permutation, before) << text;
    }
}
