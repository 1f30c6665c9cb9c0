#include "chem/radicals.hpp"

#include <gtest/gtest.h>

#include <string>

#include "atoms.hpp"

using namespace quorix;
using quorix::test::AtomSpec;
using quorix::test::build;
using quorix::test::star;

namespace {

struct RadicalCase {
    std::string name;
    core::MolBuilder mol;
    unsigned expected;  // radicals of atom 0
};

class Radicals : public ::testing::TestWithParam<RadicalCase> {};

TEST_P(Radicals, OfFirstAtom) {
    core::MolBuilder m = GetParam().mol;
    chem::assign_radicals(m);
    EXPECT_EQ(m.atoms[0].num_radical_electrons, GetParam().expected);
}

AtomSpec bracket(std::uint8_t z, std::uint8_t hs = 0, std::int8_t charge = 0) {
    return AtomSpec{z, charge, hs, true};
}

INSTANTIATE_TEST_SUITE_P(
    Chem, Radicals,
    ::testing::Values(
        RadicalCase{"methyl", build({bracket(6, 3)}, {}), 1},
        RadicalCase{"oxygen_atom", build({bracket(8)}, {}), 2},
        RadicalCase{"ammonium", build({bracket(7, 4, 1)}, {}), 0},
        // Hexavalent sulfur: the shell gap is negative, the next allowed valence closes it.
        RadicalCase{"sulfur_six_bonds", star(bracket(16), 6, 9), 0},
        // Unrestricted elements: only a bare atom can carry an unpaired electron.
        RadicalCase{"copper_atom", build({bracket(29)}, {}), 1},
        RadicalCase{"copper_ion", build({bracket(29, 0, 1)}, {}), 0},
        RadicalCase{"copper_bonded", build({bracket(29), {6}}, {{0, 1}}), 0},
        RadicalCase{"iron_atom", build({bracket(26)}, {}), 0},
        // Atoms without FIXED_HS keep what they had; the wildcard is never touched.
        RadicalCase{"not_fixed_keeps", build({AtomSpec{6, 0, 0, false, false, 3}}, {}), 3},
        RadicalCase{"wildcard_keeps", build({AtomSpec{0, 0, 0, true, false, 2}}, {}), 2},
        // Beyond the element table: no electrons, unrestricted.
        RadicalCase{"unknown_element_anion", build({AtomSpec{200, -1, 0, true}}, {}), 1}),
    [](const auto& info) { return info.param.name; });

TEST(Radicals, DativeCountsOnlyAtTheAcceptor) {
    // [OH]->[CH3]: the hydroxyl keeps its unpaired electron, the methyl's is used up.
    core::MolBuilder m = build({bracket(8, 1), bracket(6, 3)}, {{0, 1, core::BondOrder::Dative}});
    chem::assign_radicals(m);
    EXPECT_EQ(m.atoms[0].num_radical_electrons, 1);
    EXPECT_EQ(m.atoms[1].num_radical_electrons, 0);
}

TEST(Radicals, AromaticBondsCountOneAndAHalfWithoutCorrection) {
    // A bracket aromatic carbon with two aromatic bonds: b = 3, one electron left.
    core::MolBuilder m = build({AtomSpec{6, 0, 0, true, true}, {6, 0, 0, false, true}, {6, 0, 0, false, true}},
                               {{0, 1, core::BondOrder::Aromatic}, {0, 2, core::BondOrder::Aromatic}});
    chem::assign_radicals(m);
    EXPECT_EQ(m.atoms[0].num_radical_electrons, 1);
}

}  // namespace
