#include "io/wedge.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "io/stereo.hpp"
#include "support.hpp"

using namespace quorix;
using namespace quorix::core;
using namespace quorix::io;

namespace {

MolBuilder sanitized(const char* smiles) {
    MolBuilder m = test::read_or_fail(smiles);
    EXPECT_TRUE(chem::sanitize(m));
    return m;
}

// Centre at the origin; the first neighbour straight up, the rest as listed.
const std::vector<Coord> CROSS = {{0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {0, -1, 0}, {-1, 0, 0}};
const std::vector<Coord> TRIGONAL = {{0, 1, 0}, {0, 0, 0}, {0.866, -0.5, 0}, {-0.866, -0.5, 0}};
const std::vector<Coord> T_SHAPE = {{0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {-1, 0, 0}};

constexpr Wedge NO{};
constexpr Wedge SOLID_AT_CENTRE{WedgeKind::Solid, 1};
constexpr Wedge HASHED_AT_CENTRE{WedgeKind::Hashed, 1};

}  // namespace

struct WedgeCase {
    const char* name;
    const char* smiles;  // atom 1 is the centre; bond 0 joins it to atom 0
    std::vector<Coord> coords;
    std::vector<Wedge> wedges;
    std::optional<ChiralTag> tag;
};

class StereoFromWedges : public ::testing::TestWithParam<WedgeCase> {};

// Tags checked by hand: F up and toward the viewer, then Cl, Br, I clockwise
// seen from the front is @@.
TEST_P(StereoFromWedges, Tag) {
    const WedgeCase& c = GetParam();
    const MolBuilder m = sanitized(c.smiles);
    EXPECT_EQ(stereo_from_wedges(m, c.coords, c.wedges, 1), c.tag);
}

INSTANTIATE_TEST_SUITE_P(
    Drawings, StereoFromWedges,
    ::testing::Values(
        WedgeCase{"solid_four", "FC(Cl)(Br)I", CROSS, {SOLID_AT_CENTRE, NO, NO, NO}, ChiralTag::Cw},
        WedgeCase{"hashed_four", "FC(Cl)(Br)I", CROSS, {HASHED_AT_CENTRE, NO, NO, NO}, ChiralTag::Ccw},
        // The wide end says nothing about the atom there.
        WedgeCase{"wide_end", "FC(Cl)(Br)I", CROSS, {{WedgeKind::Solid, 0}, NO, NO, NO}, std::nullopt},
        WedgeCase{"kind_7_is_hashed", "FC(Cl)(Br)I", CROSS, {{WedgeKind{7}, 1}, NO, NO, NO}, ChiralTag::Ccw},
        // Up and down on opposite bonds: F, C and Br in one line, no volume.
        WedgeCase{"opposite_up_and_down", "FC(Cl)(Br)I", CROSS, {SOLID_AT_CENTRE, NO, HASHED_AT_CENTRE, NO},
                  std::nullopt},
        // Up and down on neighbouring bonds: the usual drawing, decided.
        WedgeCase{"adjacent_up_and_down", "FC(Cl)(Br)I", CROSS, {SOLID_AT_CENTRE, HASHED_AT_CENTRE, NO, NO},
                  ChiralTag::Cw},
        WedgeCase{"cancelling_with_hydrogen", "FC(Cl)Br", TRIGONAL, {SOLID_AT_CENTRE, HASHED_AT_CENTRE, NO},
                  std::nullopt},
        WedgeCase{"unwedged", "FC(Cl)(Br)I", CROSS, {NO, NO, NO, NO}, std::nullopt},
        WedgeCase{"with_hydrogen", "FC(Cl)Br", TRIGONAL, {SOLID_AT_CENTRE, NO, NO}, ChiralTag::Cw},
        WedgeCase{"flat_determinant", "FC(Cl)Br", T_SHAPE, {SOLID_AT_CENTRE, NO, NO}, std::nullopt},
        WedgeCase{"phosphine", "CP(F)Cl", TRIGONAL, {SOLID_AT_CENTRE, NO, NO}, ChiralTag::Cw},
        WedgeCase{"sulfoxide", "CS(=O)CC", TRIGONAL, {SOLID_AT_CENTRE, NO, NO}, ChiralTag::Cw},
        WedgeCase{"phosphonium", "C[P+](F)Cl", TRIGONAL, {SOLID_AT_CENTRE, NO, NO}, std::nullopt},
        WedgeCase{"two_hydrogens", "FCCl", TRIGONAL, {SOLID_AT_CENTRE, NO}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ChiralityFrom3d, VolumeDecides) {
    MolBuilder m = sanitized("FC(Cl)Br");
    std::vector<Coord> xyz = TRIGONAL;
    EXPECT_EQ(chirality_from_3d(m, xyz), 0u);  // flat: 2-D, nothing changes
    xyz[0][2] = 0.01;  // 3-D, but a volume below 0.1
    EXPECT_EQ(chirality_from_3d(m, xyz), 0u);
    EXPECT_EQ(m.atoms[1].chiral_tag, ChiralTag::Unspecified);
    xyz[0][2] = 1.0;  // F lifted toward the viewer: the solid-wedge drawing above
    EXPECT_EQ(chirality_from_3d(m, xyz), 1u);
    EXPECT_EQ(m.atoms[1].chiral_tag, ChiralTag::Cw);
    xyz[0][2] = -1.0;
    m.atoms[1].chiral_tag = ChiralTag::Unspecified;
    EXPECT_EQ(chirality_from_3d(m, xyz), 1u);
    EXPECT_EQ(m.atoms[1].chiral_tag, ChiralTag::Ccw);
}

TEST(ChiralityFrom3d, TiedNeighboursNeedAnotherCentre) {
    // Both ring neighbours of C1 in 1-methylcyclohexane-like symmetry: no centre.
    MolBuilder m = sanitized("CC1CCCCC1");
    std::vector<Coord> xyz(m.num_atoms(), Coord{0, 0, 0});
    xyz[0] = {0, 1, 1};
    xyz[2] = {0.866, -0.5, 0};
    xyz[6] = {-0.866, -0.5, 0};
    EXPECT_EQ(chirality_from_3d(m, xyz), 0u);
}

struct DoubleBondCase {
    const char* name;
    std::vector<Coord> coords;  // of C0, C1, C2, C3 in CC=CC
    std::vector<std::uint8_t> either;
    BondStereo stereo;
};

class DoubleBondFromCoords : public ::testing::TestWithParam<DoubleBondCase> {};

TEST_P(DoubleBondFromCoords, Value) {
    const DoubleBondCase& c = GetParam();
    MolBuilder m = sanitized("CC=CC");
    double_bond_stereo_from_2d(m, c.coords, c.either);
    double_bond_stereo_from_3d(m, c.coords, c.either);
    EXPECT_EQ(m.bonds[1].stereo, c.stereo);
    if (c.stereo != BondStereo::None) EXPECT_EQ(m.bonds[1].stereo_atoms, (std::array<std::uint32_t, 2>{0, 3}));
}

INSTANTIATE_TEST_SUITE_P(
    Butene, DoubleBondFromCoords,
    ::testing::Values(
        DoubleBondCase{"trans_2d", {{-0.5, 0.866, 0}, {0, 0, 0}, {1, 0, 0}, {1.5, -0.866, 0}}, {0, 0, 0}, BondStereo::Trans},
        DoubleBondCase{"cis_2d", {{-0.5, 0.866, 0}, {0, 0, 0}, {1, 0, 0}, {1.5, 0.866, 0}}, {0, 0, 0}, BondStereo::Cis},
        DoubleBondCase{"either_bond", {{-0.5, 0.866, 0}, {0, 0, 0}, {1, 0, 0}, {1.5, 0.866, 0}}, {0, 1, 0}, BondStereo::None},
        DoubleBondCase{"either_reference", {{-0.5, 0.866, 0}, {0, 0, 0}, {1, 0, 0}, {1.5, 0.866, 0}}, {1, 0, 0},
                       BondStereo::None},
        DoubleBondCase{"no_flags", {{-0.5, 0.866, 0}, {0, 0, 0}, {1, 0, 0}, {1.5, 0.866, 0}}, {}, BondStereo::None},
        DoubleBondCase{"on_the_line", {{-1, 0, 0}, {0, 0, 0}, {1, 0, 0}, {1.5, 0.866, 0}}, {0, 0, 0}, BondStereo::None},
        DoubleBondCase{"cis_3d", {{-0.5, 0, 0.866}, {0, 0, 0}, {1, 0, 0}, {1.5, 0.1, 0.866}}, {0, 0, 0}, BondStereo::Cis},
        DoubleBondCase{"trans_3d", {{-0.5, 0, 0.866}, {0, 0, 0}, {1, 0, 0}, {1.5, 0, -0.866}}, {0, 0, 0}, BondStereo::Trans},
        DoubleBondCase{"right_angle_3d", {{-0.5, 0, 0.866}, {0, 0, 0}, {1, 0, 0}, {1.5, 0.866, 0}}, {0, 0, 0},
                       BondStereo::None}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EitherDoubleBonds, FlagsUndecidedBonds) {
    EXPECT_EQ(either_double_bonds(sanitized("C=CC")), (std::vector<std::uint8_t>{1, 0}));
    EXPECT_EQ(either_double_bonds(sanitized("[H]C([H])=C([H])C([H])([H])[H]"))[2], 0);
    MolBuilder stored = sanitized("C/C=C\\C");
    double_bond_stereo(stored);
    EXPECT_EQ(either_double_bonds(stored), (std::vector<std::uint8_t>{0, 0, 0}));
    EXPECT_EQ(either_double_bonds(sanitized("C1=CCCCC1"))[0], 0);  // small ring
}
