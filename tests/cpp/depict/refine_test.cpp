// Label radii, clash and crossing lists, the layout score and the refinement's
// rigid moves.
#include <cmath>
#include <random>

#include "depict/stereo.hpp"
#include "depict/label.hpp"
#include "depict/layout.hpp"
#include "depict/refine.hpp"
#include "depict/spring.hpp"
#include "pipeline.hpp"

namespace quorix {
namespace {

using depict::Point;
using depict::PositionMap;

constexpr double BL = 14.4, FS = 10.0;

struct RadiusCase {
    const char* smiles;
    std::uint32_t atom;
    bool labelled;
};
class LabelRadius : public testing::TestWithParam<RadiusCase> {};

TEST_P(LabelRadius, UnlabelledCarbonsGetAQuarterAndLabelsTheirExtent) {
    const RadiusCase& k = GetParam();
    const core::MolBuilder m = test::prepared(k.smiles);
    const double r = depict::label_radii(m, BL, FS).at(k.atom);
    if (!k.labelled) {
        EXPECT_EQ(r, 0.25);
        return;
    }
    double expected = 0.25;
    for (bool first : {false, true}) {
        const depict::AtomLabel l = depict::atom_label(m.atoms, k.atom, first, BL, FS);
        expected = std::max(expected, std::hypot(l.half_width, l.half_height));
    }
    EXPECT_GT(r, 0.25);
    EXPECT_EQ(r, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, LabelRadius,
                         testing::Values(RadiusCase{"C", 0, true}, RadiusCase{"CC", 0, false},
                                         RadiusCase{"C[CH2+]", 1, true}, RadiusCase{"C[13CH3]", 1, true},
                                         RadiusCase{"C[CH2]", 1, true}, RadiusCase{"CO", 1, true},
                                         RadiusCase{"C[NH3+]", 1, true}));

// Reference model: the radii from the composed label runs, bit for bit, on the
// real molecules and on every mix of odd isotopes, charges, radicals, hydrogen
// counts and elements, at the standard and at awkward scales.
std::vector<double> composed_radii(const core::MolBuilder& m, double bl, double fs) {
    std::vector<double> out(m.num_atoms(), 0.25);
    for (std::uint32_t i = 0; i < m.num_atoms(); ++i) {
        const core::Atom& a = m.atoms[i];
        if (a.atomic_num == 6 && a.formal_charge == 0 && a.isotope == 0 && a.num_radical_electrons == 0 &&
            m.degree[i] != 0)
            continue;
        for (bool first : {false, true}) {
            const depict::AtomLabel l = depict::atom_label(m.atoms, i, first, bl, fs);
            out[i] = std::max(out[i], std::hypot(l.half_width, l.half_height));
        }
    }
    return out;
}

TEST(LabelRadius, EqualTheComposedLabelsOnRealAndOddAtoms) {
    core::MolBuilder odd;
    for (std::uint8_t z : {0, 1, 6, 7, 17, 53, 118, 119, 255})
        for (std::uint16_t iso : {0, 2, 13, 65535})
            for (std::int8_t q : {-128, -2, -1, 0, 1, 3, 127})
                for (std::uint8_t rad : {0, 1, 5})
                    for (std::uint8_t hs : {0, 1, 2, 10, 200}) {
                        core::Atom a;
                        a.atomic_num = z;
                        a.isotope = iso;
                        a.formal_charge = q;
                        a.num_radical_electrons = rad;
                        a.num_implicit_hs = hs;
                        a.num_explicit_hs = hs == 200 ? 100 : 0;  // past 255 the count saturates
                        const std::uint32_t k = odd.add_atom(a);
                        if (k % 3 == 1) {
                            ASSERT_TRUE(odd.add_bond({.begin = k - 1, .end = k}));
                        }
                    }
    for (const auto& [bl, fs] : {std::pair{BL, FS}, std::pair{7.0, 13.0}, std::pair{3.0, 1.0}})
        EXPECT_EQ(depict::label_radii(odd, bl, fs), composed_radii(odd, bl, fs)) << bl << " " << fs;
    for (const core::MolBuilder& m : test::data_molecules_as_read())
        ASSERT_EQ(depict::label_radii(m, BL, FS), composed_radii(m, BL, FS));
}

TEST(Clashes, StrictlyCloserThanTheRadiiSumAndNeverBonded) {
    const core::MolBuilder m = test::prepared("CC.C.C");
    const std::vector<double> radii{0.25, 0.25, 0.25, 0.25};
    // 0-1 bonded and coincident; 2 exactly 0.5 from 0; 3 just inside 0.5 of 2.
    const PositionMap p{{0, {0, 0}}, {1, {0, 0}}, {2, {0.5, 0}}, {3, {0.5, 0.4999}}};
    const depict::Clashes c = depict::find_clashes(m, p, radii);
    EXPECT_EQ(c.atoms, (std::vector<depict::AtomPair>{{2, 3}})) << "0-2 and 1-2 only touch";
    const depict::LayoutScore s = depict::layout_score(m, p, radii);
    EXPECT_EQ(s.coincident, 0u);
    EXPECT_NEAR(s.penalty, 0.0001 * 0.0001, 1e-15);
    const PositionMap same{{0, {0, 0}}, {1, {1, 0}}, {2, {0, 0}}, {3, {5, 5}}};
    EXPECT_EQ(depict::layout_score(m, same, radii).coincident, 1u);
}

std::string dendrimer(int generation) {
    if (generation == 0) return "CN";
    const std::string branch = dendrimer(generation - 1);
    return "CCN(CC(=O)NC" + branch + ")CC(=O)NC" + branch;
}

// Reference model: every pair tested the slow way, on crowded random drawings of
// small and large molecules (large ones take the sweep along x).
// Pair-by-pair model of the clash and crossing lists: every atom pair, every
// bond pair with all four ends drawn.
depict::Clashes pairwise_clashes(const core::MolBuilder& m, const PositionMap& p, std::span<const double> radii) {
    depict::Clashes out;
    for (const auto& [a, pa] : p)
        for (const auto& [b, pb] : p)
            if (a < b && m.bond_between(a, b) == core::NONE && std::hypot(pa.x - pb.x, pa.y - pb.y) < radii[a] + radii[b])
                out.atoms.emplace_back(a, b);
    for (std::uint32_t i = 0; i < m.num_bonds(); ++i)
        for (std::uint32_t j = i + 1; j < m.num_bonds(); ++j) {
            const core::Bond &x = m.bonds[i], &y = m.bonds[j];
            if (p.contains(x.begin) && p.contains(x.end) && p.contains(y.begin) && p.contains(y.end) &&
                depict::segments_cross(p.at(x.begin), p.at(x.end), p.at(y.begin), p.at(y.end)))
                out.crossings.emplace_back(i, j);
        }
    return out;
}

// A ring of eight with chords, one of them doubled, and the same with a bond
// from an atom to itself: bonds sharing both atoms, and a segment of one point.
core::MolBuilder chorded_ring(bool loop) {
    core::MolBuilder m;
    for (int i = 0; i < 8; ++i) m.add_atom(core::Atom{.atomic_num = 6});
    const auto bond = [&](std::uint32_t a, std::uint32_t b) {
        m.push_bond(core::Bond{.begin = a, .end = b, .order = core::BondOrder::Single});
    };
    for (std::uint32_t i = 0; i < 8; ++i) bond(i, (i + 1) % 8);
    bond(0, 4), bond(4, 0), bond(2, 6), bond(1, 5);
    if (loop) bond(3, 3);
    return m;
}

TEST(Clashes, ListsMatchAPairByPairModelOnRandomDrawings) {
    std::mt19937 rng(11);
    std::vector<core::MolBuilder> mols{chorded_ring(false), chorded_ring(true)};
    for (const std::string& smiles : {std::string("CC(C)C(=O)NCCO"), dendrimer(2), dendrimer(3) + ".[Na+].[Cl-]"})
        mols.push_back(test::prepared(smiles));
    for (const core::MolBuilder& m : mols) {
        const std::string smiles = std::to_string(m.num_bonds()) + " bonds";
        const auto radii = depict::label_radii(m, BL, FS);
        for (int round = 0; round < 20; ++round) {
            std::uniform_real_distribution<double> coord(0.0, round % 2 ? 4.0 : 20.0);
            PositionMap p;
            for (std::uint32_t a = 0; a < m.num_atoms(); ++a)
                if (rng() % 8) p[a] = Point{coord(rng), coord(rng)};
            const depict::Clashes want = pairwise_clashes(m, p, radii);
            const depict::Clashes got = depict::find_clashes(m, p, radii);
            EXPECT_EQ(got.atoms, want.atoms) << smiles;
            EXPECT_EQ(got.crossings, want.crossings) << smiles;
            EXPECT_EQ(depict::layout_score(m, p, radii).crossings, want.crossings.size());
        }
    }
}

// A point that is not finite leaves the large-drawing sweeps (which sort by
// coordinate) for the pair-by-pair scans; their lists stay those of the model.
TEST(Clashes, PointsThatAreNotFiniteAreScannedPairByPair) {
    const core::MolBuilder m = test::prepared(dendrimer(3));
    const auto radii = depict::label_radii(m, BL, FS);
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> coord(0.0, 6.0);
    for (double odd : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        PositionMap p;
        for (std::uint32_t a = 0; a < m.num_atoms(); ++a) p[a] = Point{coord(rng), coord(rng)};
        p[3].x = odd;
        p[40].y = odd;
        const depict::Clashes want = pairwise_clashes(m, p, radii);
        const depict::Clashes got = depict::find_clashes(m, p, radii);
        EXPECT_EQ(got.atoms, want.atoms) << odd;
        EXPECT_EQ(got.crossings, want.crossings) << odd;
    }
}

TEST(Crossings, BondsWithAnUndrawnEndAreNeverTested) {
    const core::MolBuilder m = test::prepared("CC.CC");
    EXPECT_TRUE(depict::find_crossings(m, PositionMap{{0, {0, 0}}, {1, {1, 1}}, {2, {0, 1}}}).empty());
    EXPECT_EQ(depict::drawn_bonds(m, PositionMap{{0, {0, 0}}, {1, {1, 1}}, {2, {0, 1}}}),
              (std::vector<std::uint32_t>{0}));
}

// Reference model: with every atom drawn, the smaller side of an acyclic bond is
// the smaller of the two sides the double-bond check walks (ties: lower rank).
TEST(Refine, SmallerSideAgreesWithTheBondSidesOnRealMolecules) {
    for (std::size_t i = 0; i < test::data_records().size(); i += 70) {
        const core::MolBuilder m = test::prepared(test::data_records()[i].smiles);
        const auto ranks = io::canonical_ranks(m);
        PositionMap all;
        for (std::uint32_t a = 0; a < m.num_atoms(); ++a) all[a] = Point{double(a), 0};
        for (std::uint32_t b = 0; b < m.num_bonds(); ++b) {
            const auto begin = depict::bond_side_atoms(m, b, m.bonds[b].begin);
            const auto end = depict::bond_side_atoms(m, b, m.bonds[b].end);
            const auto got = depict::smaller_bond_side(m, all, b, ranks);
            ASSERT_EQ(got.has_value(), begin.has_value());
            if (!got) continue;
            const auto low = [&](const std::vector<std::uint32_t>& s) {
                std::uint32_t r = core::NONE;
                for (std::uint32_t a : s) r = std::min(r, ranks[a]);
                return r;
            };
            const bool take_begin = begin->size() != end->size() ? begin->size() < end->size() : low(*begin) < low(*end);
            EXPECT_EQ(*got, take_begin ? *begin : *end) << test::data_records()[i].smiles << " bond " << b;
        }
    }
}

TEST(Refine, MinBondAngleSkipsPairsBondedToEachOther) {
    const core::MolBuilder m = test::prepared("C1CC1C");  // 0, 1, 2 a triangle, 3 on 2
    const PositionMap p{{0, {0, 0}}, {1, {1, 0}}, {2, {0.5, 0.8660254037844386}}, {3, {0.5, 1.8660254037844386}}};
    EXPECT_NEAR(depict::min_bond_angle(m, p, 0), 180.0, 1e-9);  // 1 and 2 are bonded to each other
    EXPECT_NEAR(depict::min_bond_angle(m, p, 2), 150.0, 1e-9);
    const core::MolBuilder chain = test::prepared("CC(C)C");
    const PositionMap q{{0, {-1, 0}}, {1, {0, 0}}, {2, {0, 1}}, {3, {1, 0}}};
    EXPECT_NEAR(depict::min_bond_angle(chain, q, 1), 90.0, 1e-9);
    EXPECT_EQ(depict::min_bond_angle(chain, PositionMap{{1, {0, 0}}, {2, {0, 1}}}, 1), 180.0);
}

// Hexane-like chain of seven drawn round a hexagon: the last atom sits on the first.
core::MolBuilder folded_chain(PositionMap& p) {
    for (std::uint32_t a = 0; a < 7; ++a) {
        const double phi = double(a % 6) * std::numbers::pi / 3;
        p[a] = Point{std::cos(phi), std::sin(phi)};
    }
    return test::prepared("CCCCCCC");
}

TEST(Refine, CleanDrawingIsLeftUntouched) {
    const core::MolBuilder m = test::prepared("CCCC");
    PositionMap p{{0, {0, 0}}, {1, {0.8660254037844386, 0.5}}, {2, {0.8660254037844386, 1.5}}, {3, {1.7, 2.0}}};
    const PositionMap before = p;
    const depict::RefineResult r = depict::refine_layout(m, p, io::canonical_ranks(m), BL, FS);
    EXPECT_EQ(p, before);
    EXPECT_TRUE(r.unresolved.empty() && r.crossings.empty());
}

TEST(Refine, FlipSeparatesCoincidentAtomsAndKeepsBondLengths) {
    PositionMap p;
    const core::MolBuilder m = folded_chain(p);
    const auto radii = depict::label_radii(m, BL, FS);
    ASSERT_EQ(depict::layout_score(m, p, radii).coincident, 1u);
    const depict::RefineResult r = depict::refine_layout(m, p, io::canonical_ranks(m), BL, FS);
    EXPECT_TRUE(r.unresolved.empty());
    EXPECT_TRUE(r.crossings.empty());
    for (const core::Bond& b : m.bonds) EXPECT_NEAR(depict::length(p.at(b.begin) - p.at(b.end)), 1.0, 1e-12);
}

TEST(Refine, NoMoveIsAcceptedWhileAStoredDoubleBondIsDrawnTheOtherWay) {
    // The folded chain plus, far away, trans-cyclooctene drawn as a regular
    // octagon (which reads cis): no move can mend the ring bond, so none passes.
    PositionMap p;
    folded_chain(p);
    const core::MolBuilder m = test::prepared("CCCCCCC.C1CCC/C=C/CC1");
    for (std::uint32_t a = 0; a < 8; ++a)
        p[7 + a] = Point{10 + std::cos(a * std::numbers::pi / 4), std::sin(a * std::numbers::pi / 4)};
    ASSERT_FALSE(depict::stereo_drawn_intact(m, p));
    const PositionMap before = p;
    const depict::RefineResult r = depict::refine_layout(m, p, io::canonical_ranks(m), BL, FS);
    EXPECT_EQ(p, before);
    EXPECT_EQ(r.unresolved, (std::vector<depict::AtomPair>{{0, 6}}));
}

TEST(Refine, FlipsThatWouldReverseAStoredDoubleBondAreUndone) {
    // 0-1=2-3 stored cis as drawn, the chain folded so that 6 lands on 0. Ranks
    // put the double bond first in the flip list, and flipping atom 0 across it
    // would part 0 and 6 but turn 1=2 trans: the clash must be mended otherwise.
    PositionMap p;
    core::MolBuilder m = folded_chain(p);
    const std::uint32_t b = m.bond_between(1, 2);
    m.bonds[b].order = core::BondOrder::Double;
    m.bonds[b].stereo_atoms = {0, 3};
    m.bonds[b].stereo = core::BondStereo::Cis;
    ASSERT_TRUE(depict::stereo_drawn_intact(m, p));
    const std::vector<std::uint32_t> ranks{2, 0, 1, 3, 4, 5, 6};
    const depict::RefineResult r = depict::refine_layout(m, p, ranks, BL, FS);
    EXPECT_TRUE(depict::stereo_drawn_intact(m, p));
    EXPECT_EQ(depict::layout_score(m, p, depict::label_radii(m, BL, FS)).coincident, 0u);
    EXPECT_TRUE(r.crossings.empty());
}

// Isobutane with two terminal atoms on one point: only terminal bonds, so no
// mirror move exists and the escape turns one of them. Both turns leave 30
// degrees at the centre, so the lower rank among the moved atoms decides, and
// then flag 0 (the turn away from atom 3), which ends at -30 degrees.
TEST(Refine, EscapeTurnsTheLowerRankedAtomAwayFromTheThirdNeighbour) {
    const core::MolBuilder m = test::prepared("CC(C)C");
    const struct {
        std::vector<std::uint32_t> ranks;
        std::uint32_t moved, kept;
    } rows[] = {{{0, 1, 2, 3}, 0, 2}, {{2, 1, 0, 3}, 2, 0}};
    for (const auto& row : rows) {
        PositionMap p{{0, {1, 0}}, {1, {0, 0}}, {2, {1, 0}}, {3, {0, 1}}};
        const depict::RefineResult r = depict::refine_layout(m, p, row.ranks, BL, FS);
        EXPECT_TRUE(r.unresolved.empty());
        EXPECT_NEAR(p.at(row.moved).x, std::cos(-std::numbers::pi / 6), 1e-12) << row.moved;
        EXPECT_NEAR(p.at(row.moved).y, std::sin(-std::numbers::pi / 6), 1e-12) << row.moved;
        EXPECT_EQ(p.at(row.kept), (Point{1, 0}));
        EXPECT_EQ(p.at(3), (Point{0, 1}));
    }
}

// Real molecules whose ylidene bond, once the repair has drawn it as stored,
// leaves two atoms on top of each other that no mirror move can part without
// reversing it: a 30-degree turn must.
TEST(Refine, TurnPartsCoincidentAtomsNoMirrorCan) {
    for (const char* smiles : {"Cc1cccc2c(=O)c(/C=C3\\C(=O)NC(NN)N(c4ccccc4)C3=O)c([O-])[nH]c12",
                               "COc1c(/C=C2/C(=O)NC(=O)N(Cc3ccc(F)cc3)C2=O)c(CCN(C)C(=O)c2ccccc2)cc2c1OCO2"}) {
        const core::MolBuilder m = test::prepared(smiles);
        const auto ranks = io::canonical_ranks(m);
        const std::vector<chem::Ring> rings = chem::sssr(m);
        const auto records = depict::ring_records(m, rings, ranks);
        PositionMap p = depict::layout_components(m, test::identity(m.num_atoms()), records, ranks, depict::STYLE_2D,
                                                  nullptr).coords;
        std::vector<Point> coords(m.num_atoms());
        for (const auto& [a, q] : p) coords[a] = q;
        ASSERT_EQ(depict::repair_double_bonds(m, coords, ranks).size(), 1u) << smiles;
        for (auto& [a, q] : p) q = coords[a];
        const auto radii = depict::label_radii(m, BL, FS);
        ASSERT_GT(depict::layout_score(m, p, radii).coincident, 0u) << smiles;
        const PositionMap before = p;
        depict::refine_layout(m, p, ranks, BL, FS);
        EXPECT_EQ(depict::layout_score(m, p, radii).coincident, 0u) << smiles;
        EXPECT_TRUE(depict::stereo_drawn_intact(m, p)) << smiles;
        for (const core::Bond& b : m.bonds)
            EXPECT_NEAR(depict::length(p.at(b.begin) - p.at(b.end)), depict::length(before.at(b.begin) - before.at(b.end)),
                        1e-9);
    }
}

}  // namespace
}  // namespace quorix

namespace quorix {
namespace {

// The kept score against a fresh whole-layout score, bit for bit, over random
// moves of random atom sets (some accepted) on real molecules and on a large one
// (which the rescoring sweeps along x).
class ScoreKeeperModel : public testing::TestWithParam<std::size_t> {};

TEST_P(ScoreKeeperModel, EqualsTheWholeLayoutScore) {
    const auto& records = test::data_records();
    std::vector<std::string> smiles{dendrimer(3) + ".[Na+].[Cl-]"};
    for (std::size_t i = GetParam(); i < records.size(); i += 97) smiles.push_back(records[i].smiles);
    std::mt19937 rng(static_cast<std::uint32_t>(GetParam()));
    for (const std::string& text : smiles) {
        test::Drawing d = test::draw(test::prepared(text));
        const std::vector<double> radii = depict::label_radii(d.mol, BL, FS);
        depict::ScoreKeeper keeper;
        ASSERT_EQ(keeper.reset(d.mol, d.positions, radii), depict::layout_score(d.mol, d.positions, radii));
        std::vector<std::uint32_t> atoms;
        for (const auto& [a, p] : d.positions) atoms.push_back(a);
        for (int step = 0; step < 6; ++step) {
            std::vector<std::uint32_t> moved;
            for (std::uint32_t a : atoms)
                if (rng() % 4 == 0) moved.push_back(a);
            if (!moved.empty()) moved.push_back(moved.front());  // a repeat must not count twice
            const PositionMap before = d.positions;
            const Point shift{double(rng() % 9) / 4 - 1, double(rng() % 9) / 4 - 1};
            for (std::uint32_t a : moved) d.positions[a] = before.at(a) + shift;
            EXPECT_EQ(keeper.trial(d.mol, d.positions, radii, moved), depict::layout_score(d.mol, d.positions, radii))
                << text << " step " << step;
            if (rng() % 2) keeper.accept();
            else d.positions = before;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Offsets, ScoreKeeperModel, testing::Values(0, 31, 64));

}  // namespace
}  // namespace quorix
