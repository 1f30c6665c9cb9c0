#include "chem/organometallics.hpp"

#include <gtest/gtest.h>

#include <string>

#include "atoms.hpp"

using namespace quorix;
using core::BondOrder;
using quorix::test::AtomSpec;
using quorix::test::BondSpec;
using quorix::test::build;

namespace {

constexpr auto A = BondOrder::Aromatic;
constexpr std::uint8_t C = 6, N = 7, O = 8, F = 9, P = 15, FE = 26, PT = 78;

struct DativeCase {
    std::string name;
    std::vector<AtomSpec> atoms;
    std::vector<BondSpec> bonds;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> datives;  // expected (donor, metal), by bond index
};

class Datives : public ::testing::TestWithParam<DativeCase> {};

TEST_P(Datives, WhichBondsAndDirection) {
    const DativeCase& c = GetParam();
    core::MolBuilder m = build(c.atoms, c.bonds);
    const std::uint32_t count = chem::organometallics(m);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
    for (const auto& b : m.bonds)
        if (b.order == BondOrder::Dative) got.push_back({b.begin, b.end});
    EXPECT_EQ(got, c.datives);
    EXPECT_EQ(count, c.datives.size());
    // Every neighbour list is the bond-index order after any reversal, and
    // each half-edge still sits at the atom its bond end names.
    for (std::uint32_t a = 0; a < m.num_atoms(); ++a) {
        std::uint32_t last = 0;
        bool first = true;
        for (core::Neighbor nb : m.neighbors(a)) {
            EXPECT_TRUE(first || nb.half_edge > last) << "atom " << a;
            const core::Bond& b = m.bonds[nb.bond];
            EXPECT_EQ((nb.half_edge & 1u) ? b.end : b.begin, a);
            last = nb.half_edge;
            first = false;
        }
    }
}

AtomSpec charged(std::uint8_t z, std::int8_t q) { return AtomSpec{z, q}; }

INSTANTIATE_TEST_SUITE_P(
    Chem, Datives,
    ::testing::Values(
        // Amine with four bonds, one to platinum.
        DativeCase{"amine_platinum", {{N}, {C}, {C}, {C}, {PT}}, {{0, 1}, {0, 2}, {0, 3}, {0, 4}}, {{0, 4}}},
        // Written metal first: the bond is reversed so the donor begins it.
        DativeCase{"amine_platinum_reversed", {{PT}, {N}, {C}, {C}, {C}, {C}},
                   {{5, 1}, {0, 1}, {1, 2}, {1, 3}, {1, 4}}, {{1, 0}}},
        // Cisplatin with declared ammine hydrogens: two donors, one metal.
        DativeCase{"cisplatin", {AtomSpec{N, 0, 3, true}, {PT}, AtomSpec{N, 0, 3, true}, {17}, {17}},
                   {{0, 1}, {1, 2}, {1, 3}, {1, 4}}, {{0, 1}, {2, 1}}},
        DativeCase{"amine_not_overvalent", {{N}, {C}, {C}, {PT}}, {{0, 1}, {0, 2}, {0, 3}}, {}},
        DativeCase{"phosphine_stays", {{P}, {C}, {C}, {C}, {PT}}, {{0, 1}, {0, 2}, {0, 3}, {0, 4}}, {}},
        // Ammonium-like N+ with five bonds is tested against carbon's four.
        DativeCase{"charged_donor", {charged(N, 1), {C}, {C}, {C}, {C}, {FE}},
                   {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}}, {{0, 5}}},
        // Only single bonds to metals qualify.
        DativeCase{"double_bond_to_metal", {{N}, {C}, {C}, {C}, {PT}},
                   {{0, 1}, {0, 2}, {0, 3}, {0, 4, BondOrder::Double}}, {}},
        // Two metals: the lower atomic number wins; one dative per donor.
        DativeCase{"two_metals_lower_z", {{N}, {C}, {C}, {PT}, {FE}}, {{0, 1}, {0, 2}, {0, 3}, {0, 4}}, {{0, 4}}},
        // Equal metals: the earlier neighbour wins.
        DativeCase{"equal_metals_first_neighbour", {{N}, {C}, {C}, {PT}, {PT}},
                   {{0, 1}, {0, 2}, {0, 3}, {0, 4}}, {{0, 3}}},
        // Iron already holds a dative bond from the first amine, so the second takes platinum.
        DativeCase{"fewer_datives_first", {{N}, {C}, {C}, {C}, {FE}, {N}, {C}, {C}, {PT}},
                   {{0, 1}, {0, 2}, {0, 3}, {0, 4}, {5, 4}, {5, 6}, {5, 7}, {5, 8}}, {{0, 4}, {5, 8}}},
        // Donors are served by (atomic number, ...): nitrogen (index 4) before oxygen (index 0).
        DativeCase{"donor_order_by_element", {{O}, {C}, {FE}, {PT}, {N}, {C}, {C}},
                   {{0, 1}, {0, 2}, {0, 3}, {4, 5}, {4, 6}, {4, 2}, {4, 3}}, {{0, 3}, {4, 2}}},
        // Unknown element above the table counts as a metal.
        DativeCase{"unknown_element_is_metal", {{N}, {C}, {C}, {C}, {150}}, {{0, 1}, {0, 2}, {0, 3}, {0, 4}},
                   {{0, 4}}}),
    [](const auto& info) { return info.param.name; });

// A pyrrole-like aromatic nitrogen bound to platinum: valence 3 after the aromatic
// correction, so it is a donor only when its hydrogens plus degree make four.
core::MolBuilder aromatic_nitrogen_on_metal(std::uint8_t implicit_hs) {
    AtomSpec ar_n{N, 0, 0, false, true}, ar_c{C, 0, 0, false, true};
    core::MolBuilder m = build({ar_n, ar_c, ar_c, ar_c, ar_c, {PT}},
                               {{0, 1, A}, {1, 2, A}, {2, 3, A}, {3, 4, A}, {4, 0, A}, {0, 5}});
    m.atoms[0].num_implicit_hs = implicit_hs;
    return m;
}

TEST(Datives, AromaticNitrogenNeedsFourNeighboursAndHydrogens) {
    core::MolBuilder without = aromatic_nitrogen_on_metal(0);
    EXPECT_FALSE(chem::is_dative_candidate(without, 0));
    EXPECT_EQ(chem::organometallics(without), 0u);
    core::MolBuilder with = aromatic_nitrogen_on_metal(1);
    EXPECT_TRUE(chem::is_dative_candidate(with, 0));
    EXPECT_EQ(chem::organometallics(with), 1u);
    EXPECT_EQ(with.bonds[5].order, BondOrder::Dative);
}

// A sandwich: two cyclopentadienyl rings written with alternating double bonds and a
// bond from every carbon to iron. Carbons in double bonds have valence 5 and donate.
TEST(Datives, FerroceneStyleSandwich) {
    std::vector<AtomSpec> atoms{{FE}};
    std::vector<BondSpec> bonds;
    for (std::uint32_t ring = 0; ring < 2; ++ring) {
        const std::uint32_t base = 1 + 5 * ring;
        for (std::uint32_t i = 0; i < 5; ++i) atoms.push_back(AtomSpec{C, 0, 1, true});
        bonds.push_back({base + 0, base + 1, BondOrder::Double});
        bonds.push_back({base + 1, base + 2});
        bonds.push_back({base + 2, base + 3, BondOrder::Double});
        bonds.push_back({base + 3, base + 4});
        bonds.push_back({base + 4, base + 0});
        for (std::uint32_t i = 0; i < 5; ++i) bonds.push_back({0, base + i});
    }
    core::MolBuilder m = build(atoms, bonds);
    EXPECT_EQ(chem::organometallics(m), 8u);
    for (const auto& b : m.bonds) {
        if (b.order != BondOrder::Dative) continue;
        EXPECT_EQ(b.end, 0u);
        EXPECT_NE((b.begin - 1) % 5, 4u) << "the sp3 carbon is not over-valent";
    }
}

}  // namespace
