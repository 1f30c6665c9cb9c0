// Cis/trans double bonds drawn as stored: the repair by mirroring one side, and
// the final list of bonds still drawn the other way.
#include "depict/stereo.hpp"
#include "pipeline.hpp"

namespace quorix {
namespace {

using depict::Point;

// 2-butene drawn cis: 0 and 3 on the same side of 1=2.
std::vector<Point> cis_butene() { return {{-0.5, 0.866}, {0, 0}, {1, 0}, {1.5, 0.866}}; }

TEST(DoubleBondRepair, TransDrawnCisMirrorsTheSideWithoutTheLowestRank) {
    const core::MolBuilder m = test::prepared("C/C=C/C");
    const std::uint32_t b = m.bond_between(1, 2);
    ASSERT_EQ(m.bonds[b].stereo, core::BondStereo::Trans);
    for (const std::vector<std::uint32_t>& ranks : {std::vector<std::uint32_t>{0, 2, 3, 1}, {1, 3, 2, 0}}) {
        std::vector<Point> c = cis_butene();
        const std::vector<std::uint32_t> repaired = depict::repair_double_bonds(m, c, ranks);
        EXPECT_EQ(repaired, (std::vector<std::uint32_t>{b}));
        EXPECT_EQ(depict::drawn_double_bond_config(m, c, b), 4);
        const std::uint32_t kept = ranks[0] == 0 ? 0 : 3, moved = 3 - kept;
        EXPECT_EQ(c[kept], cis_butene()[kept]);
        EXPECT_NEAR(c[moved].y, -0.866, 1e-12);
        EXPECT_TRUE(depict::find_misdrawn_double_bonds(m, c).empty());
    }
}

TEST(DoubleBondRepair, NothingMovesWithoutStoredCisTrans) {
    const core::MolBuilder m = test::prepared("CC=CC");
    std::vector<Point> c = cis_butene();
    EXPECT_TRUE(depict::repair_double_bonds(m, c, std::vector<std::uint32_t>{0, 1, 2, 3}).empty());
    EXPECT_EQ(c, cis_butene());
    EXPECT_TRUE(depict::find_misdrawn_double_bonds(m, c).empty());
}

TEST(DoubleBondRepair, RingBondIsNeverMirroredAndIsListed) {
    // trans-cyclooctene drawn as a regular octagon, which reads cis.
    const core::MolBuilder m = test::prepared("C1CCC/C=C/CC1");
    std::vector<Point> c(8);
    for (std::uint32_t a = 0; a < 8; ++a) c[a] = {std::cos(a * std::numbers::pi / 4), std::sin(a * std::numbers::pi / 4)};
    const std::uint32_t b = m.bond_between(4, 5);
    ASSERT_EQ(m.bonds[b].stereo, core::BondStereo::Trans);
    EXPECT_FALSE(depict::bond_side_atoms(m, b, 4).has_value());
    const std::vector<Point> before = c;
    EXPECT_TRUE(depict::repair_double_bonds(m, c, test::identity(8)).empty());
    EXPECT_EQ(c, before);
    EXPECT_EQ(depict::find_misdrawn_double_bonds(m, c), (std::vector<std::uint32_t>{b}));
}

TEST(DoubleBondRepair, ReferenceOnTheAxisIsUndecidedAndAFailedMirrorIsUndone) {
    const core::MolBuilder m = test::prepared("C/C=C/C");
    const std::uint32_t b = m.bond_between(1, 2);
    std::vector<Point> c{{-1, 0}, {0, 0}, {1, 0}, {1.5, 0.866}};  // atom 0 on the axis
    EXPECT_EQ(depict::drawn_double_bond_config(m, c, b), depict::UNDECIDED_CONFIG);
    const std::vector<Point> before = c;
    EXPECT_TRUE(depict::repair_double_bonds(m, c, std::vector<std::uint32_t>{0, 1, 2, 3}).empty());
    EXPECT_EQ(c, before);
    EXPECT_EQ(depict::find_misdrawn_double_bonds(m, c), (std::vector<std::uint32_t>{b}));
}

// Only a drawing that positively shows the stored value passes.
TEST(DoubleBondRepair, MissingReferencesAndNonNumbersAreListed) {
    core::MolBuilder m = test::prepared("C/C=C/C");
    const std::uint32_t b = m.bond_between(1, 2);
    std::vector<Point> c = cis_butene();
    c[3].y = -0.866;
    EXPECT_TRUE(depict::find_misdrawn_double_bonds(m, c).empty());
    std::vector<Point> nan = c;
    nan[3].y = std::nan("");
    EXPECT_EQ(depict::find_misdrawn_double_bonds(m, nan), (std::vector<std::uint32_t>{b}));
    m.bonds[b].stereo_atoms[1] = core::NONE;
    EXPECT_EQ(depict::find_misdrawn_double_bonds(m, c), (std::vector<std::uint32_t>{b}));
    EXPECT_EQ(depict::drawn_double_bond_config(m, c, b), depict::UNDECIDED_CONFIG);
}

}  // namespace
}  // namespace quorix
