#include "io/wedge.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <cmath>

#include "chem/explicit_hs.hpp"
#include "chem/sanitize.hpp"
#include "io/canon.hpp"
#include "io/smiles/write.hpp"
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

// Read from a drawing, a centre keeps its tag unless twin leaves or three alike
// branches rule it out; two alike branches are left to whoever reads the tags.
TEST(ChiralityFromWedges, TiesRuleOutCentres) {
    const std::vector<Coord> arms = {{0, 1, 0}, {0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, -1, 0}, {0, -2, 0}, {-1, 0, 0},
                                     {-2, 0, 0}};
    const struct {
        const char* smiles;  // atom 1 is the centre, bond 0 joins it to atom 0
        std::vector<Coord> coords;
        std::uint32_t tagged;
    } cases[] = {
        {"FC(Cl)(Br)I", CROSS, 1},  {"FC(F)(Cl)Br", CROSS, 0},
        {"FC(CC)(CC)CC", arms, 0},  {"FC(CC)(CC)Cl", {arms.begin(), arms.begin() + 7}, 1},
    };
    for (const auto& c : cases) {
        MolBuilder m = sanitized(c.smiles);
        std::vector<Wedge> wedges(m.num_bonds(), NO);
        wedges[0] = SOLID_AT_CENTRE;
        ASSERT_TRUE(stereo_from_wedges(m, c.coords, wedges, 1)) << c.smiles;
        EXPECT_EQ(chirality_from_wedges(m, c.coords, wedges), c.tagged) << c.smiles;
        EXPECT_EQ(m.atoms[1].chiral_tag != ChiralTag::Unspecified, c.tagged == 1) << c.smiles;
    }
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
    if (c.stereo != BondStereo::None) {
        EXPECT_EQ(m.bonds[1].stereo_atoms, (std::array<std::uint32_t, 2>{0, 3}));
    }
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

// The one double bond of each molecule: an end holding neither a substituent
// nor a hydrogen leaves nothing to be cis or trans; any other end may.
TEST(EitherDoubleBonds, BareEndsAreNeverFlagged) {
    const std::pair<const char*, int> cases[] = {
        {"CCC(C)=O", 0},          // ketone
        {"CCC=O", 0},             // aldehyde: the O end
        {"CCS(C)=O", 0},          // sulfoxide
        {"CC[S@](=O)N", 0},       // sulfinamide, its centre on the bond
        {"CCN=O", 0},             // nitroso
        {"CCC(N)=S", 0},          // thioamide
        {"CC[N+]([O-])=O", 0},    // nitro
        {"[H]C(=O)C([H])([H])[H]", 0},
        {"C=CC", 1},              // propene as read from SMILES
        {"CCC(C)=N", 1},          // imine =N-H, implicit
        {"CCC(C)=[NH]", 1},       // and explicit
        {"[H]N=C(C)CC", 1},       // and as an atom
        {"CC=CC", 1},
        {"CCC(C)=NC", 1},
        {"C1=CCCCCCC1", 1},       // ring of eight
    };
    for (const auto& [smiles, flagged] : cases) {
        const MolBuilder m = sanitized(smiles);
        const std::vector<std::uint8_t> flags = either_double_bonds(m);
        for (std::uint32_t d = 0; d < m.num_bonds(); ++d) {
            if (m.bonds[d].order == BondOrder::Double) {
                EXPECT_EQ(flags[d], flagged) << smiles;
            }
        }
    }
}

// The flags against their definition on full symmetry classes, over the real
// molecules and inputs whose ends tie only after refinement or are twins.
TEST(EitherDoubleBonds, MatchesClassDefinition) {
    const auto reference = [](const MolBuilder& m) {
        const std::vector<std::uint32_t> classes = symmetry_classes(m);
        std::vector<std::uint8_t> out(m.num_bonds(), 0);
        for (std::uint32_t d = 0; d < m.num_bonds(); ++d) {
            const Bond& b = m.bonds[d];
            if (b.order != BondOrder::Double || (b.flags & AROMATIC) || in_small_ring(m, d) ||
                has_double_bond_stereo(m, d))
                continue;
            const auto bare = [&](std::uint32_t x) { return m.degree[x] == 1 && m.atoms[x].total_hs() == 0; };
            if (bare(b.begin) || bare(b.end)) continue;
            out[d] = end_is_distinguishable(m, b.begin, b.end, classes) &&
                     end_is_distinguishable(m, b.end, b.begin, classes);
        }
        return out;
    };
    std::vector<MolBuilder> mols;
    for (const char* s : {"CC(C)=CCC", "CCC(CC)=CC", "OC(O)=CC", "CC(CO)=C(CO)C", "C=C(C)C", "NC(=N)N",
                          "CCC(=CC)CCCl", "CCC(=CC)CC"})
        mols.push_back(sanitized(s));
    for (const MolBuilder& m : test::data_molecules_as_read()) {
        MolBuilder copy = m;
        if (chem::sanitize(copy)) mols.push_back(std::move(copy));
    }
    std::size_t flagged = 0;
    for (const MolBuilder& m : mols) {
        const std::vector<std::uint8_t> flags = either_double_bonds(m);
        ASSERT_EQ(flags, reference(m)) << write_smiles(m).text;
        flagged += std::count(flags.begin(), flags.end(), 1);
    }
    EXPECT_GT(flagged, 1000u);
}

// ---------------------------------------------------------------- reference model

namespace {

// Tags from 3-D exactly as the rule reads: volume of the first three neighbours,
// no centre with two tied leaves or three tied neighbours, then the pruning
// passes over centres with tied neighbours, on full classes.
std::vector<ChiralTag> reference_3d_tags(const MolBuilder& m, const std::vector<Coord>& xyz) {
    const std::uint32_t n = m.num_atoms();
    std::vector<ChiralTag> out(n, ChiralTag::Unspecified);
    std::vector<std::uint8_t> marks(n, 0);
    for (std::uint32_t x = 0; x < n; ++x) {
        const unsigned hs = m.atoms[x].total_hs();
        const std::uint32_t d = m.degree[x];
        const std::uint8_t z = m.atoms[x].atomic_num;
        const int q = m.atoms[x].formal_charge;
        const bool lone_pair = hs == 0 && (((z == 16 || z == 34 || z == 52) && q <= 1) || ((z == 15 || z == 33) && q <= 0));
        if (!((d == 4 && hs == 0) || (d == 3 && (hs == 1 || lone_pair)))) continue;
        std::vector<std::uint32_t> nb;
        for (Neighbor v : m.neighbors(x)) nb.push_back(v.atom);
        auto rel = [&](std::uint32_t a) {
            return Coord{xyz[a][0] - xyz[x][0], xyz[a][1] - xyz[x][1], xyz[a][2] - xyz[x][2]};
        };
        const Coord a = rel(nb[0]), b = rel(nb[1]), c = rel(nb[2]);
        const double v = a[0] * (b[1] * c[2] - b[2] * c[1]) + a[1] * (b[2] * c[0] - b[0] * c[2]) +
                         a[2] * (b[0] * c[1] - b[1] * c[0]);
        if (std::fabs(v) <= 0.1) continue;
        out[x] = v > 0 ? ChiralTag::Ccw : ChiralTag::Cw;
        marks[x] = 1;
    }
    const std::vector<std::uint32_t> classes = symmetry_classes(m);
    for (std::uint32_t x = 0; x < n; ++x) {
        std::map<std::uint32_t, std::pair<int, int>> tied;  // class: neighbours, leaves
        for (Neighbor v : m.neighbors(x)) {
            auto& [all, leaves] = tied[classes[v.atom]];
            ++all;
            leaves += m.degree[v.atom] == 1;
        }
        for (const auto& [cls, count] : tied)
            if (count.first >= 3 || count.second >= 2) marks[x] = 0, out[x] = ChiralTag::Unspecified;
    }
    for (bool removed = true; removed;) {
        removed = false;
        std::vector<std::uint32_t> noted;
        for (std::uint32_t x = 0; x < n; ++x) {
            if (!marks[x]) continue;
            auto pair = tied_neighbour_pair(m, x, classes);
            if (pair && !tied_branches_reach_marked(m, x, pair->first, pair->second, marks)) noted.push_back(x);
        }
        for (std::uint32_t x : noted) marks[x] = 0, out[x] = ChiralTag::Unspecified, removed = true;
    }
    return out;
}

// Deterministic heights and offsets, different for every atom.
std::vector<Coord> scattered(std::uint32_t n, std::uint32_t seed) {
    std::vector<Coord> out(n);
    std::uint64_t s = 0x9E3779B97F4A7C15ull * (seed + 1);
    auto next = [&] {
        s ^= s << 13, s ^= s >> 7, s ^= s << 17;
        return double(s % 20001) / 10000.0 - 1.0;
    };
    for (Coord& c : out) c = {3 * next(), 3 * next(), 3 * next()};
    return out;
}

}  // namespace

// The fast paths (ties settled by invariants) give what the full rule gives,
// on real molecules with and without explicit hydrogens at scattered positions.
TEST(ChiralityFrom3d, MatchesTheRuleOnRealMolecules) {
    const auto& all = test::data_molecules_as_read();
    std::size_t compared = 0, tagged = 0;
    for (std::size_t i = 0; i < all.size(); i += 7) {
        MolBuilder m = all[i];
        if (!chem::sanitize(m)) continue;
        for (MolBuilder form : {m, [&] {
                 MolBuilder h = m;
                 std::vector<std::uint32_t> ranks(h.num_atoms());
                 for (std::uint32_t a = 0; a < h.num_atoms(); ++a) ranks[a] = a;
                 chem::add_explicit_hs(h, ranks);
                 return h;
             }()}) {
            const std::vector<Coord> xyz = scattered(form.num_atoms(), std::uint32_t(i));
            const std::vector<ChiralTag> expected = reference_3d_tags(form, xyz);
            MolBuilder got = form;
            chirality_from_3d(got, xyz);
            for (std::uint32_t a = 0; a < got.num_atoms(); ++a) {
                ASSERT_EQ(got.atoms[a].chiral_tag, expected[a] == ChiralTag::Unspecified ? form.atoms[a].chiral_tag
                                                                                         : expected[a])
                    << "molecule " << i << " atom " << a;
                tagged += expected[a] != ChiralTag::Unspecified;
            }
            // Cis/trans: each decided bond is a candidate of the full rule, decided by its references.
            MolBuilder db = got;
            const std::vector<std::uint8_t> either(db.num_bonds(), 0);
            double_bond_stereo_from_3d(db, xyz, either);
            const std::vector<std::uint32_t> classes = symmetry_classes(got);
            for (std::uint32_t b = 0; b < db.num_bonds(); ++b) {
                const auto refs = coordinate_stereo_candidate(got, either, b, classes);
                if (!refs) {
                    ASSERT_EQ(db.bonds[b].stereo, got.bonds[b].stereo) << "molecule " << i << " bond " << b;
                } else if (db.bonds[b].stereo != got.bonds[b].stereo) {
                    ASSERT_EQ(db.bonds[b].stereo_atoms, (std::array<std::uint32_t, 2>{refs->first, refs->second}));
                }
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 1500u);
    EXPECT_GT(tagged, 3000u);
}
