#include "io/stereo.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "core/error.hpp"
#include "io/canon.hpp"
#include "io/smiles/read.hpp"
#include "support.hpp"

using namespace quorix::core;
using namespace quorix::io;

namespace {

MolBuilder parse(const std::string& smiles) { return quorix::test::read_or_fail(smiles); }

struct Stored {
    std::uint32_t bond;
    BondStereo stereo;
    std::uint32_t ref0, ref1;
};

std::vector<Stored> stored_values(const MolBuilder& m) {
    std::vector<Stored> out;
    for (std::uint32_t b = 0; b < m.num_bonds(); ++b)
        if (m.bonds[b].stereo != BondStereo::None)
            out.push_back({b, m.bonds[b].stereo, m.bonds[b].stereo_atoms[0], m.bonds[b].stereo_atoms[1]});
    return out;
}

std::string show(const std::vector<Stored>& v) {
    std::string s;
    for (const Stored& x : v)
        s += "bond " + std::to_string(x.bond) + ": " + std::to_string(int(x.stereo)) + " (" + std::to_string(x.ref0) +
             ", " + std::to_string(x.ref1) + ") ";
    return s;
}

}  // namespace

// ---------------------------------------------------------------- cis/trans from marks

struct MarkCase {
    const char* name;
    const char* smiles;
    std::vector<Stored> expected;
};

class DoubleBondStereo : public ::testing::TestWithParam<MarkCase> {};

TEST_P(DoubleBondStereo, StoresWhatTheMarksSay) {
    MolBuilder m = parse(GetParam().smiles);
    const std::uint32_t written = double_bond_stereo(m);
    auto got = stored_values(m);
    EXPECT_EQ(show(got), show(GetParam().expected)) << GetParam().smiles;
    EXPECT_EQ(written, GetParam().expected.size());
    // A second run keeps every value and writes nothing.
    MolBuilder again = m;
    EXPECT_EQ(double_bond_stereo(again), 0u);
    EXPECT_EQ(again, m);
}

constexpr auto Cis = BondStereo::Cis;
constexpr auto Trans = BondStereo::Trans;

INSTANTIATE_TEST_SUITE_P(
    Smiles, DoubleBondStereo,
    ::testing::Values(
        MarkCase{"cis", "F/C=C\\F", {{1, Cis, 0, 3}}},
        MarkCase{"two_methyls_on_one_end", "C/C(C)=C/F", {}},
        // Both substituents marked as one side: the first in half-edge order wins.
        MarkCase{"contradictory_marks_first_wins", "F/C(\\Cl)=C/F", {{2, Trans, 0, 4}}},
        MarkCase{"mark_written_after_branch", "FC(/Cl)=C/F", {{2, Cis, 2, 4}}},
        MarkCase{"seven_ring_never", "F/C1=C/CCCCC1", {}},
        MarkCase{"eight_ring_counts", "F/C1=C/CCCCCC1", {{1, Trans, 0, 3}}},
        // Ring-closure marks read from the atom they are written at.
        MarkCase{"ring_closure_mark", "F/C=C/1.C1", {{1, Trans, 0, 3}}},
        // Two separate stereo bonds in one molecule.
        MarkCase{"two_independent", "F/C=C/CC/C=C\\Cl", {{1, Trans, 0, 3}, {5, Cis, 4, 7}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DoubleBondStereoEdges, AromaticFlaggedBondGetsNothing) {
    MolBuilder m = parse("F/C=C/F");
    m.bonds[1].flags |= AROMATIC;
    EXPECT_EQ(double_bond_stereo(m), 0u);
    EXPECT_EQ(m.bonds[1].stereo, BondStereo::None);
}

TEST(DoubleBondStereoEdges, ValidStoredValueIsKeptInvalidOneRedone) {
    MolBuilder m = parse("F/C=C/F");
    m.bonds[1].stereo = BondStereo::Cis;
    m.bonds[1].stereo_atoms = {0, 3};
    EXPECT_EQ(double_bond_stereo(m), 0u);
    EXPECT_EQ(m.bonds[1].stereo, BondStereo::Cis);

    // References that are not neighbours of the right ends are decided afresh.
    m.bonds[1].stereo_atoms = {3, 0};
    EXPECT_FALSE(has_double_bond_stereo(m, 1));
    EXPECT_EQ(double_bond_stereo(m), 1u);
    EXPECT_EQ(m.bonds[1].stereo, BondStereo::Trans);
    EXPECT_EQ(m.bonds[1].stereo_atoms, (std::array<std::uint32_t, 2>{0, 3}));
    // Directions stay on the bonds.
    EXPECT_EQ(m.bonds[0].direction, BondDirection::Slash);
    EXPECT_EQ(m.bonds[2].direction, BondDirection::Slash);
}

struct ConfigCase {
    const char* name;
    const char* smiles;
    std::uint32_t bond;
    bool aromatic_flag;
    std::optional<DoubleBondConfig> expected;
};

class ConfigFromDirections : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(ConfigFromDirections, QueryTwinIgnoresClassesAndAromaticity) {
    MolBuilder m = parse(GetParam().smiles);
    if (GetParam().aromatic_flag) m.bonds[GetParam().bond].flags |= AROMATIC;
    MolBuilder before = m;
    EXPECT_EQ(double_bond_config_from_directions(m, GetParam().bond), GetParam().expected);
    EXPECT_EQ(m, before);
}

INSTANTIATE_TEST_SUITE_P(
    Smiles, ConfigFromDirections,
    ::testing::Values(
                      ConfigCase{"aromatic_flag_still_counts", "F/C=C/F", 1, true, DoubleBondConfig{Trans, 0, 3}},
                      ConfigCase{"symmetric_end_still_counts", "C/C(C)=C/F", 2, false, DoubleBondConfig{Trans, 0, 4}},
                      ConfigCase{"small_ring", "F/C1=C/CCCCC1", 1, false, std::nullopt},
                      ConfigCase{"out_of_range", "F/C=C/F", 3, false, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- tetrahedral centres

struct CentreCase {
    const char* name;
    const char* smiles;
    std::vector<std::uint8_t> flags;
};

class ChiralCentres : public ::testing::TestWithParam<CentreCase> {};

TEST_P(ChiralCentres, MeaningfulMarksOnly) {
    EXPECT_EQ(chiral_centres(parse(GetParam().smiles)), GetParam().flags) << GetParam().smiles;
}

INSTANTIATE_TEST_SUITE_P(
    Smiles, ChiralCentres,
    ::testing::Values(
                      // cis-1,4-dimethylcyclohexane: each centre's tied ring
                      // branches lead to the other marked centre.
                      CentreCase{"ring_pair", "C[C@H]1CC[C@@H](C)CC1", {0, 1, 0, 0, 1, 0, 0, 0}},
                      CentreCase{"ring_single_mark", "C[C@H]1CCC(C)CC1", {0, 0, 0, 0, 0, 0, 0, 0}},
                      // The tied methyls of one centre lead nowhere, even with a
                      // marked atom elsewhere in the molecule.
                      CentreCase{"mark_behind_centre", "C[C@H](C)[C@@H](O)F", {0, 0, 0, 1, 0, 0}},
                      CentreCase{"square_planar", "F[Pt@SP1](Cl)(Br)I", {0, 0, 0, 0, 0}},
                      CentreCase{"first_atom_centre", "[C@H](F)(Cl)Br", {1, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChiralCentresEdges, EmptyMolecule) { EXPECT_TRUE(chiral_centres(MolBuilder{}).empty()); }

// The pairwise scan (short lists) and the sorted scan (long lists) must agree.
class TiedNeighbourPairStar : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(TiedNeighbourPairStar, LexicographicallyFirstPair) {
    const std::uint32_t leaves = GetParam();
    MolBuilder m;
    m.add_atom(Atom{});
    for (std::uint32_t i = 0; i < leaves; ++i) {
        m.add_atom(Atom{});
        Bond b;
        b.begin = 0, b.end = i + 1, b.order = BondOrder::Single;
        m.push_bond(b);
    }
    // Leaf k has class 1000 + k except: leaves 3 and the last share one class,
    // leaves 5 and 6 another, leaves 4 and 7 a third. First pair: (3, last).
    std::vector<std::uint32_t> classes(leaves + 1);
    for (std::uint32_t k = 0; k <= leaves; ++k) classes[k] = 1000 + k;
    auto leaf = [](std::uint32_t k) { return k + 1; };
    classes[leaf(leaves - 1)] = classes[leaf(3)];
    classes[leaf(6)] = classes[leaf(5)];
    classes[leaf(7)] = classes[leaf(4)];
    EXPECT_EQ(tied_neighbour_pair(m, 0, classes),
              (std::pair<std::uint32_t, std::uint32_t>{leaf(3), leaf(leaves - 1)}));
    // Without the first pair, (4, 7) comes before (5, 6).
    classes[leaf(leaves - 1)] = 5000;
    EXPECT_EQ(tied_neighbour_pair(m, 0, classes), (std::pair<std::uint32_t, std::uint32_t>{leaf(4), leaf(7)}));
}

INSTANTIATE_TEST_SUITE_P(Sizes, TiedNeighbourPairStar, ::testing::Values(16u, 17u));

// ---------------------------------------------------------------- real molecules

namespace {

std::vector<MolBuilder> marked_molecules() {
    std::vector<MolBuilder> out;
    for (const auto& [smiles, id] : quorix::test::data_records()) {
        if (smiles.find_first_of("/\\") == std::string::npos) continue;
        if (auto m = read_smiles(smiles)) {
            for (Atom& a : m->atoms) a.chiral_tag = ChiralTag::Unspecified;
            out.push_back(std::move(*m));
        }
    }
    return out;
}

// Whether substituents p (at atom x) and q (at atom y) of double bond d lie on
// one side, from the stored value; nullopt when the bond has none.
std::optional<bool> same_side(const MolBuilder& m, std::uint32_t d, std::uint32_t x, std::uint32_t p, std::uint32_t q) {
    const Bond& b = m.bonds[d];
    if (b.stereo != BondStereo::Cis && b.stereo != BondStereo::Trans) return std::nullopt;
    const std::uint32_t rx = x == b.begin ? b.stereo_atoms[0] : b.stereo_atoms[1];
    const std::uint32_t ry = x == b.begin ? b.stereo_atoms[1] : b.stereo_atoms[0];
    bool cis = b.stereo == BondStereo::Cis;
    if (p != rx) cis = !cis;
    if (q != ry) cis = !cis;
    return cis;
}

std::uint32_t first_substituent(const MolBuilder& m, std::uint32_t atom, std::uint32_t partner, std::uint32_t& count) {
    std::uint32_t best = NONE;
    count = 0;
    for (Neighbor nb : m.neighbors(atom)) {
        if (nb.atom == partner) continue;
        ++count;
        best = std::min(best, nb.atom);
    }
    return best;
}

}  // namespace

TEST(StereoRealMolecules, CisTransFollowsTheMoleculeNotItsStorage) {
    const auto mols = marked_molecules();
    ASSERT_GT(mols.size(), 300u);
    std::mt19937 rng(99);
    std::size_t decided = 0, failures = 0;
    for (std::size_t i = 0; i < mols.size() && failures < 5; ++i) {
        MolBuilder a = mols[i];
        std::vector<std::uint32_t> perm(a.num_atoms());
        std::iota(perm.begin(), perm.end(), 0u);
        std::shuffle(perm.begin(), perm.end(), rng);
        std::vector<std::uint32_t> bond_of;
        MolBuilder b = quorix::test::scrambled(a, perm, &rng, &bond_of);
        double_bond_stereo(a);
        double_bond_stereo(b);
        for (std::uint32_t d = 0; d < a.num_bonds(); ++d) {
            const Bond& bd = a.bonds[d];
            std::uint32_t nx = 0, ny = 0;
            const std::uint32_t p = first_substituent(a, bd.begin, bd.end, nx);
            const std::uint32_t q = first_substituent(a, bd.end, bd.begin, ny);
            if (p == NONE || q == NONE) {
                EXPECT_EQ(a.bonds[d].stereo, BondStereo::None);
                continue;
            }
            auto in_a = same_side(a, d, bd.begin, p, q);
            auto in_b = same_side(b, bond_of[d], perm[bd.begin], perm[p], perm[q]);
            if (in_a.has_value() != in_b.has_value() || (in_a && (nx > 2 || ny > 2 || *in_a != *in_b))) {
                ADD_FAILURE() << "molecule " << i << " bond " << d;
                ++failures;
            }
            if (in_a) ++decided;
        }
    }
    EXPECT_GT(decided, 300u);
}
