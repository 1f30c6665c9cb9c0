// A catalogue of classic functional-group SMARTS run on real molecules: counts
// checked by hand for a sample, and structural invariants for every pair and
// for the real query set against the real molecule set.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "helpers.hpp"
#include "support.hpp"

namespace quorix::test {
namespace {

struct Group {
    const char* name;
    const char* smarts;
};

const std::vector<Group>& catalogue() {
    static const std::vector<Group> groups = {
        {"carboxylic_acid", "[CX3](=O)[OX2H1]"}, {"carboxylate", "[CX3](=O)[O-]"},
        {"ester", "[#6][CX3](=O)[OX2H0][#6]"}, {"amide", "[NX3][CX3](=[OX1])[#6]"},
        {"primary_amine", "[NX3;H2;!$(NC=O)]"}, {"secondary_amine", "[NX3;H1;!$(NC=O)]([#6])[#6]"},
        {"tertiary_amine", "[NX3;H0;!$(NC=O)]([#6])([#6])[#6]"}, {"quaternary_ammonium", "[NX4+]"},
        {"aldehyde", "[CX3H1](=O)[#6]"}, {"ketone", "[#6][CX3](=O)[#6]"}, {"alcohol", "[OX2H][CX4]"},
        {"phenol", "[OX2H]c"}, {"ether", "[OD2]([#6])[#6]"}, {"aryl_ether", "c[OX2][#6]"}, {"nitrile", "[NX1]#[CX2]"},
        {"isonitrile", "[C-]#[N+]"}, {"nitro", "[$([NX3](=O)=O),$([NX3+](=O)[O-])][!#8]"}, {"halide", "[F,Cl,Br,I]"},
        {"aryl_halide", "[F,Cl,Br,I]c"}, {"alkyl_halide", "[F,Cl,Br,I][CX4]"},
        {"acyl_halide", "[CX3](=[OX1])[F,Cl,Br,I]"}, {"anhydride", "[CX3](=[OX1])[OX2][CX3](=[OX1])"},
        {"thiol", "[#16X2H]"}, {"thioether", "[#16X2H0]([#6])[#6]"}, {"disulfide", "[#16X2H0][#16X2H0]"},
        {"sulfone", "[$([#16X4](=[OX1])(=[OX1])([#6])[#6])]"}, {"sulfoxide", "[$([#16X3]=[OX1])]"},
        {"sulfonamide", "[$([#16X4]([NX3])(=[OX1])(=[OX1])[#6])]"},
        {"sulfonic_acid", "[$([#16X4](=[OX1])(=[OX1])([#6])[OX2H])]"},
        {"phosphate_triester", "[$(P(=[OX1])([OX2][#6])([OX2][#6])[OX2][#6])]"}, {"aromatic_atom", "a"},
        {"aromatic_nitrogen", "n"}, {"pyridine_nitrogen", "[nX2]"}, {"pyrrole_nh", "[nH]"},
        {"benzene_ring", "c1ccccc1"}, {"alkene", "[CX3]=[CX3]"}, {"alkyne", "[CX2]#[CX2]"}, {"imine", "[CX3]=[NX2]"},
        {"oxime", "[CX3]=[NX2][OX2H]"}, {"azo", "[#6][NX2]=[NX2][#6]"}, {"hydrazine", "[NX3][NX3]"},
        {"urea", "[NX3][CX3](=[OX1])[NX3]"}, {"isocyanate", "[NX2]=[CX2]=[OX1]"}, {"epoxide", "C1OC1"},
        {"lactone", "[#6;R][CX3;R](=O)[OX2;R][#6;R]"}, {"lactam", "[#6;R][CX3;R](=O)[NX3;R]"},
        {"acetal", "[CX4]([OX2][#6])([OX2][#6])"}, {"peroxide", "[OX2][OX2]"}, {"carbonyl", "[CX3]=[OX1]"},
        {"any_carbonyl", "[#6]=[OX1]"}, {"methyl", "[CH3]"}, {"sp3_carbon", "[CX4]"}, {"five_ring_atom", "[r5]"},
        {"fusion_atom", "[R2]"}, {"michael_acceptor", "[CX3]=[CX3][CX3]=[OX1]"}, {"enol_ether", "[CX3]=[CX3][OX2]"},
        {"alpha_amino_acid", "[NX3][CX4][CX3](=O)[OX2H]"}, {"heteroatom", "[!#6;!#1]"}, {"charged_atom", "[!+0]"},
        {"trifluoromethyl", "C(F)(F)F"}, {"tert_butyl", "[CH3]C([CH3])[CH3]"},
    };
    return groups;
}

struct Molecule {
    const char* name;
    const char* smiles;
};

const std::vector<Molecule>& molecules() {
    static const std::vector<Molecule> mols = {
        {"aspirin", "CC(=O)Oc1ccccc1C(=O)O"}, {"paracetamol", "CC(=O)Nc1ccc(O)cc1"},
        {"caffeine", "Cn1cnc2c1c(=O)n(C)c(=O)n2C"}, {"nicotine", "CN1CCCC1c1cccnc1"},
        {"sulfanilamide", "Nc1ccc(cc1)S(N)(=O)=O"}, {"nitrobenzene", "[O-][N+](=O)c1ccccc1"},
        {"acetic_anhydride", "CC(=O)OC(C)=O"}, {"phenyl_isocyanate", "O=C=Nc1ccccc1"},
        {"trimethyl_phosphate", "COP(=O)(OC)OC"}, {"dimethyl_disulfide", "CSSC"},
        {"butyrolactone", "O=C1CCCO1"}, {"acetyl_chloride", "CC(=O)Cl"}, {"tetramethylammonium", "C[N+](C)(C)C"},
        {"dmso", "CS(C)=O"}, {"imidazole", "c1cnc[nH]1"}, {"benzotrifluoride", "FC(F)(F)c1ccccc1"},
        {"methyl_isocyanide", "C[N+]#[C-]"},
    };
    return mols;
}

core::MolBuilder prepared(const std::string& smiles) {
    core::MolBuilder mol = mol_of(smiles);
    auto done = chem::sanitize(mol);
    if (!done) ADD_FAILURE() << smiles << ": " << done.error().to_string();
    return mol;
}

const Group& group(const std::string& name) {
    for (const Group& g : catalogue())
        if (name == g.name) return g;
    throw std::runtime_error("no group " + name);
}

const Molecule& molecule(const std::string& name) {
    for (const Molecule& m : molecules())
        if (name == m.name) return m;
    throw std::runtime_error("no molecule " + name);
}

struct HandCount {
    const char* group;
    const char* molecule;
    std::size_t count;
    const char* why;
};

std::ostream& operator<<(std::ostream& os, const HandCount& h) {
    return os << h.group << " in " << h.molecule << " (" << h.why << ")";
}

class HandCounted : public ::testing::TestWithParam<HandCount> {};

TEST_P(HandCounted, CountsUniqueMatches) {
    const HandCount& h = GetParam();
    const core::MolBuilder mol = prepared(molecule(h.molecule).smiles);
    EXPECT_EQ(run(group(h.group).smarts, mol).size(), h.count);
}

INSTANTIATE_TEST_SUITE_P(
    Sample, HandCounted,
    ::testing::Values(
        HandCount{"carboxylic_acid", "aspirin", 1, "the ring's C(=O)OH; the ester oxygen carries no H"},
        HandCount{"amide", "paracetamol", 1, "acetanilide N-C(=O)-CH3"},
        HandCount{"any_carbonyl", "caffeine", 2, "two exocyclic C=O whatever their ring's aromaticity"},
        HandCount{"tertiary_amine", "nicotine", 1, "N-methylpyrrolidine nitrogen"},
        HandCount{"primary_amine", "sulfanilamide", 2, "aniline NH2 and sulfonamide NH2; neither is N-C=O"},
        HandCount{"nitro", "nitrobenzene", 1, "charge-separated N(+)(=O)O(-) on the ring"},
        HandCount{"ester", "acetic_anhydride", 2, "each acyl half with the far carbonyl carbon as the [#6]"},
        HandCount{"imine", "phenyl_isocyanate", 0, "the central carbon has two connections"},
        HandCount{"alkyl_halide", "acetyl_chloride", 0, "chlorine is on the sp2 carbon"},
        HandCount{"nitrile", "methyl_isocyanide", 0, "the nitrogen has two connections"}));

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

TEST(Catalogue, InvariantsOnEveryGroupAndMolecule) {
    for (const Molecule& m : molecules()) {
        const core::MolBuilder mol = prepared(m.smiles);
        for (const Group& g : catalogue())
            check_invariants(std::string(g.name) + " in " + m.name, query_of(g.smarts), mol);
    }
}

TEST(Catalogue, RealQueriesOnRealMolecules) {
    const auto& records = data_records();
    const auto smarts = data_queries();
    ASSERT_EQ(records.size(), 7000u);
    ASSERT_EQ(smarts.size(), 823u);
    std::vector<io::Query> queries;
    for (std::size_t i = 0; i < smarts.size(); i += 9) {
        auto q = io::read_smarts(smarts[i]);
        if (q) queries.push_back(std::move(*q));
    }
    for (const Group& g : catalogue()) queries.push_back(query_of(g.smarts));
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
