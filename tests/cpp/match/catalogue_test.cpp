// Functional-group SMARTS counted by hand, and structural invariants of the real
// query set on real molecules.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "helpers.hpp"
#include "support.hpp"

namespace quorix::test {
namespace {

core::MolBuilder prepared(const std::string& smiles) {
    core::MolBuilder mol = mol_of(smiles);
    auto done = chem::sanitize(mol);
    if (!done) ADD_FAILURE() << smiles << ": " << done.error().to_string();
    return mol;
}

// Classic functional-group SMARTS on sanitised molecules, counted by hand.
struct HandCount {
    const char* group;
    const char* smarts;
    const char* molecule;
    const char* smiles;
    std::size_t count;
    const char* why;
};

std::ostream& operator<<(std::ostream& os, const HandCount& h) {
    return os << h.group << " in " << h.molecule << " (" << h.why << ")";
}

class HandCounted : public ::testing::TestWithParam<HandCount> {};

TEST_P(HandCounted, CountsUniqueMatches) {
    const HandCount& h = GetParam();
    EXPECT_EQ(run(h.smarts, prepared(h.smiles)).size(), h.count);
}

INSTANTIATE_TEST_SUITE_P(
    Sample, HandCounted,
    ::testing::Values(
        HandCount{"carboxylic_acid", "[CX3](=O)[OX2H1]", "aspirin", "CC(=O)Oc1ccccc1C(=O)O", 1,
                  "the ring's C(=O)OH; the ester oxygen carries no H"},
        HandCount{"amide", "[NX3][CX3](=[OX1])[#6]", "paracetamol", "CC(=O)Nc1ccc(O)cc1", 1,
                  "acetanilide N-C(=O)-CH3"},
        HandCount{"any_carbonyl", "[#6]=[OX1]", "caffeine", "Cn1cnc2c1c(=O)n(C)c(=O)n2C", 2,
                  "two exocyclic C=O whatever their ring's aromaticity"},
        HandCount{"tertiary_amine", "[NX3;H0;!$(NC=O)]([#6])([#6])[#6]", "nicotine", "CN1CCCC1c1cccnc1", 1,
                  "N-methylpyrrolidine nitrogen"},
        HandCount{"primary_amine", "[NX3;H2;!$(NC=O)]", "sulfanilamide", "Nc1ccc(cc1)S(N)(=O)=O", 2,
                  "aniline NH2 and sulfonamide NH2; neither is N-C=O"},
        HandCount{"nitro", "[$([NX3](=O)=O),$([NX3+](=O)[O-])][!#8]", "nitrobenzene", "[O-][N+](=O)c1ccccc1", 1,
                  "charge-separated N(+)(=O)O(-) on the ring"},
        HandCount{"ester", "[#6][CX3](=O)[OX2H0][#6]", "acetic_anhydride", "CC(=O)OC(C)=O", 2,
                  "each acyl half with the far carbonyl carbon as the [#6]"},
        HandCount{"imine", "[CX3]=[NX2]", "phenyl_isocyanate", "O=C=Nc1ccccc1", 0,
                  "the central carbon has two connections"},
        HandCount{"alkyl_halide", "[F,Cl,Br,I][CX4]", "acetyl_chloride", "CC(=O)Cl", 0,
                  "chlorine is on the sp2 carbon"},
        HandCount{"nitrile", "[NX1]#[CX2]", "methyl_isocyanide", "C[N+]#[C-]", 0,
                  "the nitrogen has two connections"}));

// Every index in a match is distinct, every query bond joins bonded molecule
// atoms, uniquify keeps one match per atom set, and a limit gives a prefix.
void check_invariants(const std::string& label, const io::Query& q, const core::MolBuilder& mol) {
    const auto props = match::compute_query_props(mol);
    const auto all = match::find_matches(q, mol, props, {0, false, true});
    const auto uniq = match::find_matches(q, mol, props, {0, true, true});
    const auto loose = match::find_matches(q, mol, props, {0, false, false});
    ASSERT_LE(uniq.size(), all.size()) << label;
    ASSERT_LE(all.size(), loose.size()) << label;
    std::set<std::vector<std::uint32_t>> sets;
    for (const auto& m : all) {
        ASSERT_EQ(m.size(), q.num_atoms()) << label;
        std::vector<std::uint32_t> s = m;
        std::sort(s.begin(), s.end());
        ASSERT_TRUE(std::adjacent_find(s.begin(), s.end()) == s.end()) << label;
        for (const core::Bond& b : q.graph.bonds)
            ASSERT_NE(mol.bond_between(m[b.begin], m[b.end]), core::NONE) << label;
        sets.insert(s);
    }
    // One unique match per atom set, each the first mapping found for it.
    ASSERT_EQ(uniq.size(), sets.size()) << label;
    std::set<std::vector<std::uint32_t>> seen;
    std::vector<match::Match> firsts;
    for (const auto& m : all) {
        std::vector<std::uint32_t> s = m;
        std::sort(s.begin(), s.end());
        if (seen.insert(s).second) firsts.push_back(m);
    }
    ASSERT_EQ(uniq, firsts) << label;
    if (!all.empty()) {
        const std::uint64_t k = (all.size() + 1) / 2;
        const auto some = match::find_matches(q, mol, props, {k, false, true});
        ASSERT_TRUE(std::equal(some.begin(), some.end(), all.begin())) << label;
        ASSERT_EQ(some.size(), k) << label;
    }
}

TEST(Catalogue, RealQueriesOnRealMolecules) {
    const auto& records = data_records();
    const auto smarts = data_queries();
    ASSERT_EQ(records.size(), 7000u);
    ASSERT_EQ(smarts.size(), 823u);
    std::vector<io::Query> queries;
    for (std::size_t i = 0; i < smarts.size(); i += 6) {
        auto q = io::read_smarts(smarts[i]);
        if (q) queries.push_back(std::move(*q));
    }
    std::size_t used = 0;
    for (std::size_t i = 0; i < records.size() && used < 60; i += 97) {
        auto mol = io::read_smiles(records[i].smiles);
        if (!mol) continue;
        if (!chem::sanitize(*mol)) continue;
        ++used;
        for (std::size_t k = 0; k < queries.size(); ++k)
            check_invariants(records[i].smiles + " query #" + std::to_string(k), queries[k], *mol);
    }
    EXPECT_GE(used, 40u);
}

}  // namespace
}  // namespace quorix::test
