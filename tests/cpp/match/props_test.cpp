// Per-atom and per-bond facts that SMARTS primitives read.
#include <gtest/gtest.h>

#include "helpers.hpp"
#include "match/props.hpp"

namespace quorix::test {
namespace {

using match::compute_query_props;

struct AtomCase {
    const char* smiles;
    std::uint32_t atom;
    int degree, total_h, implicit_h, valence, ring_count, smallest_ring, ring_bonds;
};

class AtomFacts : public ::testing::TestWithParam<AtomCase> {};

TEST_P(AtomFacts, RecordHoldsTheAtomsFacts) {
    const AtomCase& c = GetParam();
    const core::MolBuilder mol = mol_of(c.smiles);
    const auto props = compute_query_props(mol);
    ASSERT_EQ(props.atoms.size(), mol.num_atoms());
    ASSERT_EQ(props.bonds.size(), mol.num_bonds());
    const auto& a = props.atoms.at(c.atom);
    EXPECT_EQ(a.degree, c.degree);
    EXPECT_EQ(a.total_h, c.total_h);
    EXPECT_EQ(a.implicit_h, c.implicit_h);
    EXPECT_EQ(a.valence, c.valence);
    EXPECT_EQ(a.ring_count, c.ring_count);
    EXPECT_EQ(a.smallest_ring, c.smallest_ring);
    EXPECT_EQ(a.ring_bonds, c.ring_bonds);
}

// Molecules are read but never sanitised here: stored implicit counts are 0,
// while the valence still adds the hydrogens the valence rules give.
INSTANTIATE_TEST_SUITE_P(
    Cases, AtomFacts,
    ::testing::Values(
        // no bonds at all
        AtomCase{"C.O", 0, 0, 0, 0, 4, 0, 0, 0},
        // explicit hydrogen atoms are neighbours and hydrogens at once
        AtomCase{"[H]C([H])([H])[H]", 1, 4, 4, 0, 4, 0, 0, 0},
        // declared hydrogens of a bracket atom are fixed: no implicit ones added
        AtomCase{"[CH2]", 0, 0, 2, 0, 2, 0, 0, 0},
        // naphthalene: fusion atoms 3 and 8
        AtomCase{"c1ccc2ccccc2c1", 3, 3, 0, 0, 4, 2, 6, 3},
        // indane: the fusion atoms' smallest ring is the five-membered one
        AtomCase{"C1CCc2ccccc21", 3, 3, 0, 0, 4, 2, 5, 3},
        // a chain atom beside a ring has no ring bonds
        AtomCase{"C1CC1C", 2, 3, 0, 0, 4, 1, 3, 2},
        // an over-valent carbon keeps its explicit valence, no hydrogens added
        AtomCase{"CC(C)(C)(C)C", 1, 5, 0, 0, 5, 0, 0, 0},
        // charged nitrogen: valence 4 with its declared hydrogens
        AtomCase{"C[NH3+]", 1, 1, 3, 0, 4, 0, 0, 0}));

TEST(QueryProps, ConnectionCountSeesEachHydrogenOnce) {
    // Methane written with hydrogen atoms: four connections, not eight.
    const core::MolBuilder methane = mol_of("[H]C([H])([H])[H]");
    EXPECT_EQ(run("[CX4]", methane).size(), 1u);
    EXPECT_TRUE(run("[CX8]", methane).empty());
    // Two hydrogen atoms and two declared hydrogens on one carbon.
    const core::MolBuilder mixed = mol_of("[H][CH2][H]");
    EXPECT_EQ(run("[CX4]", mixed).size(), 1u);
    EXPECT_EQ(run("[CH4]", mixed).size(), 1u);
    EXPECT_EQ(run("[CD2]", mixed).size(), 1u);
}

}  // namespace
}  // namespace quorix::test

namespace quorix::test {
namespace {

// A query matched with only the facts it says it reads finds exactly what it
// finds with every fact computed: each ring, ring-size and valence primitive,
// recursive groups included, must ask for what it reads.
TEST(QueryProps, QueriesNeedWhatTheyRead) {
    std::vector<std::string> smarts = data_queries();
    for (const char* s : {"[R2]", "[r6]", "[r]", "[r0]", "[x2]", "[v4]", "*@*", "[$(*@*)]", "[$([R1])]C", "[!R]"})
        smarts.push_back(s);
    std::vector<core::MolBuilder> mols;
    for (const char* s : {"C1CC2CCC1CC2O", "c1ccc2ccccc2c1CC(=O)O", "C1CCCCCCCCCCCCCCCCCCCCC1N", "[Fe]12CC1C2"})
        mols.push_back(mol_of(s));
    const auto& records = data_records();
    for (std::size_t i = 0; i < records.size(); i += 701) mols.push_back(mol_of(records[i].smiles));
    std::size_t lean_queries = 0;
    for (const std::string& text : smarts) {
        auto q = io::read_smarts(text);
        if (!q) continue;
        const match::PropNeeds needs = match::query_needs(*q);
        lean_queries += !needs.ring_list && !needs.ring_membership && !needs.valence;
        for (const core::MolBuilder& mol : mols) {
            const auto all = match::find_matches(*q, mol, compute_query_props(mol), {});
            const auto lean = match::find_matches(*q, mol, compute_query_props(mol, needs), {});
            ASSERT_EQ(all, lean) << text;
        }
    }
    EXPECT_GT(lean_queries, 100u);
}

}  // namespace
}  // namespace quorix::test
