#include "chem/adjust_hs.hpp"

#include <gtest/gtest.h>

#include "atoms.hpp"
#include "core/error.hpp"

using namespace quorix;
using quorix::test::AtomSpec;
using quorix::test::build;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Five aromatic ring atoms, atom 3 a nitrogen, as aromaticity perception leaves a pyrrole
// whose nitrogen hydrogen was implicit.
core::MolBuilder aromatic_pyrrole() {
    std::vector<AtomSpec> atoms{{6, 0, 0, false, true}, {6, 0, 0, false, true}, {6, 0, 0, false, true},
                                {7, 0, 0, false, true}, {6, 0, 0, false, true}};
    std::vector<quorix::test::BondSpec> bonds;
    for (std::uint32_t i = 0; i < 5; ++i) bonds.push_back({i, (i + 1) % 5, core::BondOrder::Aromatic});
    return build(atoms, bonds);
}

TEST(AdjustHs, SavedNotLargerLeavesAtomAlone) {
    core::MolBuilder m = aromatic_pyrrole();
    m.atoms[0].num_implicit_hs = 5;
    // Carbons now compute 1; a saved 0 is smaller, and the stored count is not touched either.
    EXPECT_EQ(chem::adjust_hs(m, Bytes{0, 1, 1, 0, 1}), 0u);
    EXPECT_EQ(m.atoms[0].num_implicit_hs, 5);
    EXPECT_EQ(m.atoms[0].num_explicit_hs, 0);
}

TEST(AdjustHs, FixedAtomsCountZeroNowAndDeclaredCountIsCapped) {
    core::MolBuilder m = build({AtomSpec{6, 0, 250, true}, AtomSpec{8, 0, 0, true}}, {});
    EXPECT_EQ(chem::adjust_hs(m, Bytes{9, 2}), 2u);
    EXPECT_EQ(m.atoms[0].num_explicit_hs, 255);
    EXPECT_EQ(m.atoms[1].num_explicit_hs, 2);
    EXPECT_TRUE(m.atoms[1].flags & core::FIXED_HS);
}

}  // namespace
