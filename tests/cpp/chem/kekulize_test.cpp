#include "chem/kekulize.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "chem/rings.hpp"
#include "chem/sanitize.hpp"
#include "graphs.hpp"
#include "lattices.hpp"
#include "smiles.hpp"
#include "support.hpp"

using namespace quorix;
using core::BondOrder;
using quorix::test::before_kekule;
using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

namespace {

Pairs doubles(const core::MolBuilder& m) {
    Pairs out;
    for (const auto& b : m.bonds)
        if (b.order == BondOrder::Double) out.push_back({std::min(b.begin, b.end), std::max(b.begin, b.end)});
    std::sort(out.begin(), out.end());
    return out;
}

// What every successful assignment must leave: no aromatic flags or orders, and
// no atom with two double bonds.
void expect_kekule_form(const core::MolBuilder& m) {
    for (std::uint32_t a = 0; a < m.num_atoms(); ++a) {
        EXPECT_FALSE(m.atoms[a].flags & core::AROMATIC) << "atom " << a;
        unsigned d = 0;
        for (core::Neighbor nb : m.neighbors(a)) d += m.bonds[nb.bond].order == BondOrder::Double;
        EXPECT_LE(d, 1u) << "atom " << a;
    }
    for (const auto& b : m.bonds) {
        EXPECT_FALSE(b.flags & core::AROMATIC);
        EXPECT_NE(b.order, BondOrder::Aromatic);
    }
}

// A skeleton of aromatic carbons, as the reader leaves lower-case atoms.
core::MolBuilder aromatic_carbons(const test::Skeleton& s) {
    core::MolBuilder m = test::skeleton(s.num_atoms, s.edges);
    for (auto& a : m.atoms) a.flags |= core::AROMATIC;
    for (auto& b : m.bonds) b.order = BondOrder::Aromatic, b.flags |= core::AROMATIC;
    test::prepare_kekule(m);
    return m;
}

struct FormCase {
    std::string name;
    std::string smiles;
    Pairs doubles;
};

class KekuleForms : public ::testing::TestWithParam<FormCase> {};

TEST_P(KekuleForms, DoubleBonds) {
    core::MolBuilder m = before_kekule(GetParam().smiles);
    auto r = chem::kekulize(m);
    ASSERT_TRUE(r) << r.error().to_string();
    EXPECT_EQ(doubles(m), GetParam().doubles);
    expect_kekule_form(m);
}

INSTANTIATE_TEST_SUITE_P(
    Chem, KekuleForms,
    ::testing::Values(
        FormCase{"benzene", "c1ccccc1", {{0, 1}, {2, 3}, {4, 5}}},
        // The pyrrole nitrogen takes no double bond; the first choice 0=1 dead-ends at atom 4.
        FormCase{"pyrrole", "c1cc[nH]c1", {{0, 4}, {1, 2}}},
        FormCase{"azulene", "c1ccc2cccc2cc1", {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {8, 9}}},
        // Porphine: 22 of 24 ring atoms pair up; the two NH nitrogens (21, 23) do not.
        FormCase{"porphine", "c1cc2cc3ccc(cc4ccc(cc5ccc(cc1n2)[nH]5)n4)[nH]3",
                 {{0, 1}, {2, 20}, {3, 4}, {5, 6}, {7, 8}, {9, 22}, {10, 11}, {12, 13}, {14, 15}, {16, 17}, {18, 19}}},
        // Written with a neutral N=O; normalisation makes it N+-O- and the nitrogen takes a ring double bond.
        FormCase{"pyridine_n_oxide", "O=n1ccccc1", {{1, 2}, {3, 4}, {5, 6}}},
        // The aromatic bond between the rings lies in no ring system and stays single.
        FormCase{"biphenyl_aromatic_link", "c1ccccc1c1ccccc1", {{0, 1}, {2, 3}, {4, 5}, {6, 7}, {8, 9}, {10, 11}}},
        // A charge counts against boron's valence; a charged CH of an aromatic ion needs no double bond.
        FormCase{"boratabenzene", "[b-]1ccccc1", {{0, 1}, {2, 3}, {4, 5}}},
        FormCase{"tropylium", "[cH+]1cccccc1", {{1, 2}, {3, 4}, {5, 6}}}),
    [](const auto& info) { return info.param.name; });

// Aromatic N-oxides still written with a neutral N=O (no normalisation first): the
// nitrogen is pentavalent and must take one ring double bond besides its oxygen.
class PentavalentRingNitrogen : public ::testing::TestWithParam<FormCase> {};

TEST_P(PentavalentRingNitrogen, TakesARingDoubleBond) {
    core::MolBuilder m = test::smiles(GetParam().smiles);
    chem::ring_membership(m);
    auto r = chem::kekulize(m);
    ASSERT_TRUE(r) << r.error().to_string();
    EXPECT_EQ(doubles(m), GetParam().doubles);
    EXPECT_EQ(m.atoms[1].formal_charge, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Chem, PentavalentRingNitrogen,
    ::testing::Values(FormCase{"quinoline_n_oxide", "O=n1cccc2ccccc12", {{0, 1}, {1, 2}, {3, 4}, {5, 10}, {6, 7}, {8, 9}}}),
    [](const auto& info) { return info.param.name; });

TEST(Kekulize, PyrroleNitrogenHydrogenBecomesImplicit) {
    core::MolBuilder m = before_kekule("c1cc[nH]c1");
    ASSERT_TRUE(chem::kekulize(m));
    const core::Atom& n = m.atoms[3];
    EXPECT_EQ(n.num_explicit_hs, 0);
    EXPECT_EQ(n.num_implicit_hs, 1);
    EXPECT_FALSE(n.flags & core::FIXED_HS);
    for (std::uint32_t c : {0u, 1u, 2u, 4u}) EXPECT_EQ(m.atoms[c].num_implicit_hs, 1) << c;
}

TEST(Kekulize, ChargedNitrogenKeepsDeclaredHydrogen) {
    core::MolBuilder m = before_kekule("c1cc[nH+]cc1");
    ASSERT_TRUE(chem::kekulize(m));
    EXPECT_EQ(m.atoms[3].num_explicit_hs, 1);
    EXPECT_TRUE(m.atoms[3].flags & core::FIXED_HS);
    EXPECT_EQ(m.atoms[3].formal_charge, 1);
}

TEST(Kekulize, BondsMadeDoubleLoseTheirDirection) {
    core::MolBuilder m = before_kekule("c1cc/ccc1");
    ASSERT_EQ(m.bonds[2].direction, core::BondDirection::Slash);
    ASSERT_TRUE(chem::kekulize(m));
    EXPECT_EQ(m.bonds[2].order, BondOrder::Double);
    EXPECT_EQ(m.bonds[2].direction, core::BondDirection::None);
}

TEST(Kekulize, UnflaggedAromaticOrderIsNoSystemBond) {
    // As a molblock leaves it: order Aromatic without the flag on the closing bond 5-0.
    core::MolBuilder m = before_kekule("c1ccccc1");
    m.bonds[5].flags &= ~core::AROMATIC;
    ASSERT_TRUE(chem::kekulize(m));
    EXPECT_EQ(m.bonds[5].order, BondOrder::Aromatic);
    EXPECT_EQ(doubles(m), (Pairs{{1, 2}, {3, 4}}));
}

struct FailCase {
    std::string name;
    std::string smiles;
    bool check_valences;  // run the strict valence step first
    chem::KekulizeError error;
    std::string text;
    bool search_failed = false;  // the pairing itself failed: the system is put back
};

class KekuleFailures : public ::testing::TestWithParam<FailCase> {};

TEST_P(KekuleFailures, ErrorAndText) {
    const FailCase& c = GetParam();
    core::MolBuilder m;
    if (c.check_valences) {
        m = before_kekule(c.smiles);
    } else {
        m = test::smiles(c.smiles);
        chem::ring_membership(m);
    }
    const std::vector<core::Bond> before = m.bonds;
    auto r = chem::kekulize(m);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), c.error);
    EXPECT_EQ(r.error().to_string(), c.text);
    if (c.search_failed) {
        EXPECT_EQ(m.bonds, before);
    }
}

using E = chem::KekulizeError;

INSTANTIATE_TEST_SUITE_P(
    Chem, KekuleFailures,
    ::testing::Values(
        FailCase{"five_carbons", "c1cccc1", true, E{E::Unbalanced{{3}}},
                 "该芳香体系不存在合法 Kekulé 结构,未配平的原子:[3]", true},
        // Atom 3 sits between two CH2 groups; atom 1 loses its only partner to atom 5's pairing.
        FailCase{"two_left_over", "c1c[cH2]c[cH2]c1", true, E{E::Unbalanced{{1, 3}}},
                 "该芳香体系不存在合法 Kekulé 结构,未配平的原子:[1, 3]", true},
        FailCase{"wildcard", "c1cc*cc1", true, E{E::WildcardInAromatic{3}},
                 "原子 #3 是芳香体系中的通配原子;该路径尚未实现"},
        FailCase{"aromatic_outside_ring", "Cc1ccccc1c", true, E{E::AromaticNotInRing{7}},
                 "原子 #7 不在环中却被标记为芳香"},
        // A fusion nitrogen declared with a hydrogen: six before (no aromatic correction
        // for 5.5), three after the hydrogen is dropped.
        FailCase{"fusion_nitrogen_with_hydrogen", "c1cc[nH]2cccc2c1", false, E{E::ValenceChanged{3, 6, 3}},
                 "kekulize 改变了原子 #3 的总价:6 → 3"}),
    [](const auto& info) { return info.param.name; });

// Left all Single, the failed ring would read as a saturated one next time.
TEST(Kekulize, FailedSystemIsLeftAsFoundAndEarlierSystemsStay) {
    core::MolBuilder m = before_kekule("c1ccccc1.c1cccc1");
    // Directions too: the search clears them on every bond it doubles.
    const auto in_second = [&](std::uint32_t b) { return m.bonds[b].begin >= 6; };
    for (std::uint32_t b = 0; b < m.num_bonds(); ++b)
        if (in_second(b)) m.bonds[b].direction = core::BondDirection::Slash;
    const std::vector<core::Bond> before = m.bonds;
    auto r = chem::kekulize(m);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), (E{E::Unbalanced{{9}}}));
    EXPECT_EQ(doubles(m), (Pairs{{0, 1}, {2, 3}, {4, 5}}));
    for (std::uint32_t b = 0; b < m.num_bonds(); ++b) {
        EXPECT_TRUE(m.bonds[b].flags & core::AROMATIC) << b;
        if (in_second(b)) {
            EXPECT_EQ(m.bonds[b], before[b]) << b;
        }
    }
    for (const auto& a : m.atoms) EXPECT_TRUE(a.flags & core::AROMATIC);
}

TEST(KekulizeLarge, FortyRingSheet) {
    const test::Skeleton sheet = test::hex_sheet(5, 8);
    ASSERT_EQ(sheet.num_atoms, 106u);
    core::MolBuilder m = aromatic_carbons(sheet);
    auto r = chem::kekulize(m);
    ASSERT_TRUE(r) << r.error().to_string();
    EXPECT_EQ(doubles(m).size(), 53u);
    expect_kekule_form(m);
}

// The same sheet without one corner atom has an odd ring system (103 atoms; the
// two neighbours of the removed corner now hang outside it). No Kekulé structure
// exists and the search must stop at its budget of 10000 + 1000 x 103 backtracks.
TEST(KekulizeLarge, UnkekulisableSheetStopsAtBudget) {
    test::Skeleton sheet = test::hex_sheet(5, 8);
    test::Skeleton cut{sheet.num_atoms - 1, {}};
    for (auto [a, b] : sheet.edges)
        if (a != 0 && b != 0) cut.edges.push_back({a - 1, b - 1});
    core::MolBuilder m = aromatic_carbons(cut);
    auto systems = chem::ring_systems(m);
    ASSERT_EQ(systems.size(), 1u);
    ASSERT_EQ(systems[0].size(), 103u);
    const std::vector<core::Bond> before = m.bonds;
    auto r = chem::kekulize(m);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), (E{E::SearchCapReached{113000, 103}}));
    EXPECT_EQ(r.error().to_string(),
              "kekulize 搜索触到安全上限(113000 次回溯,体系 103 原子),结果未知 —— 这不等于无解");
    EXPECT_EQ(m.bonds, before);
    for (const auto& b : m.bonds) EXPECT_NE(b.order, BondOrder::Double);
}

// Every real molecule that passes its valence check gets a Kekulé form. Writers
// kekulize sanitised molecules too, whose aromatic flags come from perception
// rather than from the notation: every one of them must take a Kekulé form again.
TEST(KekulizeRealMolecules, AsReadAndAfterSanitising) {
    std::size_t aromatic = 0, valence_failures = 0, sanitised = 0;
    for (const auto& record : test::data_records()) {
        const std::string& smi = record.smiles;
        core::MolBuilder m = test::smiles(smi);
        core::MolBuilder full = m;
        chem::cleanup(m);
        chem::organometallics(m);
        if (!chem::assign_valences(m)) {
            ++valence_failures;
            continue;
        }
        chem::ring_membership(m);
        bool had_aromatic = false;
        for (const auto& a : m.atoms) had_aromatic |= (a.flags & core::AROMATIC) != 0;
        aromatic += had_aromatic;
        auto r = chem::kekulize(m);
        ASSERT_TRUE(r) << smi << ": " << r.error().to_string();
        for (const auto& a : m.atoms) ASSERT_FALSE(a.flags & core::AROMATIC) << smi;

        ASSERT_TRUE(chem::sanitize(full)) << smi;
        ++sanitised;
        std::vector<unsigned> hydrogens;
        for (const auto& a : full.atoms) hydrogens.push_back(a.total_hs());
        r = chem::kekulize(full);
        ASSERT_TRUE(r) << smi << ": " << r.error().to_string();
        for (std::uint32_t a = 0; a < full.num_atoms(); ++a)
            ASSERT_EQ(full.atoms[a].total_hs(), hydrogens[a]) << smi << " atom " << a;
    }
    // Tetraphenylborate written with a neutral boron and a carborane cage fail their valence check.
    EXPECT_EQ(valence_failures, 2u);
    EXPECT_EQ(sanitised, 6998u);
    EXPECT_GT(aromatic, 5000u);
}

}  // namespace
