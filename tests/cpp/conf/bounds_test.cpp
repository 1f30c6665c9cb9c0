#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "conf/bounds.hpp"
#include "conf/field.hpp"
#include "conf/stats.hpp"
#include "core/elements.hpp"
#include "shapes.hpp"
#include "prepared.hpp"

using namespace quorix;
using namespace quorix::conf;
using core::MolBuilder;
using test::across;
using test::chain_distance;
using test::hydrogens_of;
using test::RAD;

namespace {

double covalent(std::uint8_t z) { return double(core::ELEMENTS[z].covalent_radius); }
double vdw(std::uint8_t z) { return double(core::ELEMENTS[z].vdw_radius); }

void expect_range(const DistanceBounds& b, std::uint32_t i, std::uint32_t j, double lo, double hi) {
    EXPECT_NEAR(b.lower(i, j), lo, 1e-9) << "pair " << i << "-" << j;
    EXPECT_NEAR(b.upper(i, j), hi, 1e-9) << "pair " << i << "-" << j;
}

}  // namespace

TEST(BuildBounds, EmptyAndSingleAtom) {
    EXPECT_EQ(build_bounds(MolBuilder{}).n, 0u);
    const DistanceBounds one = build_bounds(test::prepared("[He]"));
    EXPECT_EQ(one.n, 1u);
    EXPECT_EQ(one.values, std::vector<double>{0.0});
    const DistanceBounds init = smooth_matrix_init(3, 0.5, 9.0);
    EXPECT_EQ(init.values, (std::vector<double>{0, 9, 9, 0.5, 0, 9, 0.5, 0.5, 0}));
}

TEST(BuildBounds, Estimators) {
    EXPECT_EQ(estimate_bond_length(6, 1, core::BondOrder::Single, 0).length, 1.094);
    EXPECT_TRUE(estimate_bond_length(1, 6, core::BondOrder::Single, 0).from_statistics);
    // "C Cl 1 6" is missing: the ring-0 row answers.
    EXPECT_EQ(estimate_bond_length(17, 6, core::BondOrder::Single, 6).length,
              find_bond_length({"C", "Cl", "1", 0})->median);
    const auto quad = estimate_bond_length(6, 6, core::BondOrder::Quadruple, 0);
    EXPECT_FALSE(quad.from_statistics);
    EXPECT_EQ(quad.length, (covalent(6) + covalent(6)) * 0.7833);
    EXPECT_EQ(estimate_bond_length(200, 6, core::BondOrder::Single, 0).length, 0.76 + covalent(6));
    EXPECT_EQ(estimate_bond_length(34, 6, core::BondOrder::Double, 0).length, (covalent(34) + covalent(6)) * 0.8699);

    const AngleEstimate sp3 = estimate_bond_angle(6, 4, 0, 12, 0);  // no ring row: (0, 0) answers
    EXPECT_TRUE(sp3.from_statistics);
    EXPECT_NEAR(sp3.angle / RAD, 109.4, 1e-12);
    // No "C 4 0 3 12" nor "C 4 0 12 12" row: the polygon rule, capped by the default.
    EXPECT_NEAR(estimate_bond_angle(6, 4, 0, 3, 12).angle / RAD, 109.471, 1e-9);
    EXPECT_NEAR(estimate_bond_angle(5, 3, 0, 5, 5).upper / RAD, 118.0, 1e-9);
    // A linear fallback centre's window stops at 180 degrees.
    for (std::uint8_t z : {std::uint8_t(34), std::uint8_t(200)}) {
        EXPECT_NEAR(estimate_bond_angle(z, 2, 0, 0, 0).lower / RAD, 165.0, 1e-9);
        EXPECT_NEAR(estimate_bond_angle(z, 2, 0, 0, 0).upper / RAD, 180.0, 1e-9);
    }
    EXPECT_EQ(stats_lookup(6, true, false), (std::pair{0.2, 0.2}));
    EXPECT_EQ(stats_lookup(6, false, true), (std::pair{19.0, 64.4}));
    EXPECT_EQ(stats_lookup(11, false, false), (std::pair{0.0, 180.0}));
}

TEST(BuildBounds, Ethane) {
    const MolBuilder m = test::prepared("CC");
    const DistanceBounds b = build_bounds(m);
    expect_range(b, 0, 1, 1.513, 1.533);
    const auto h0 = hydrogens_of(m, 0), h1 = hydrogens_of(m, 1);
    ASSERT_EQ(h0.size(), 3u);
    expect_range(b, 0, h0[0], 1.084, 1.104);
    const double gem = across(1.094, 1.094, 109.4);
    expect_range(b, h0[0], h0[1], gem - 0.04, gem + 0.04);
    const double hcc = across(1.094, 1.523, 109.4);
    expect_range(b, h0[2], 1, hcc - 0.04, hcc + 0.04);
    // A free single bond: anything from eclipsed to anti.
    expect_range(b, h0[0], h1[2], chain_distance(1.094, 1.523, 1.094, 109.4, 109.4, 0) - 0.06,
                 chain_distance(1.094, 1.523, 1.094, 109.4, 109.4, 180) + 0.06);
}

TEST(BuildBounds, BenzeneTorsionsFromTheAromaticRow) {
    const MolBuilder m = test::prepared("c1ccccc1");
    const DistanceBounds b = build_bounds(m);
    expect_range(b, 0, 1, 1.387, 1.407);
    const double meta = across(1.397, 1.397, 120.1);
    expect_range(b, 0, 2, meta - 0.04, meta + 0.04);
    const double para = chain_distance(1.397, 1.397, 1.397, 120.1, 120.1, 0.2);
    expect_range(b, 0, 3, para - 0.06, para + 0.06);
    const std::uint32_t h0 = hydrogens_of(m, 0)[0], h1 = hydrogens_of(m, 1)[0];
    const double hh = chain_distance(1.094, 1.397, 1.094, 120.0, 120.0, 0.2);
    expect_range(b, h0, h1, hh - 0.06, hh + 0.06);
    const double hc = chain_distance(1.094, 1.397, 1.397, 120.0, 120.1, 179.8);
    expect_range(b, h0, 2, hc - 0.06, hc + 0.06);
}

TEST(BuildBounds, CyclohexaneRingTorsionsAndFreeExocyclicOnes) {
    const MolBuilder m = test::prepared("C1CCCCC1");
    const DistanceBounds b = build_bounds(m);
    expect_range(b, 0, 1, 1.517, 1.537);
    const double ring_angle = find_bond_angle({"C", 4, 0, 6, 6})->median;
    expect_range(b, 0, 3, chain_distance(1.527, 1.527, 1.527, ring_angle, ring_angle, 19.0) - 0.06,
                 chain_distance(1.527, 1.527, 1.527, ring_angle, ring_angle, 64.4) + 0.06);
    const std::uint32_t h0 = hydrogens_of(m, 0)[0], h1 = hydrogens_of(m, 1)[0];
    expect_range(b, h0, h1, chain_distance(1.094, 1.527, 1.094, 109.1, 109.1, 0) - 0.06,
                 chain_distance(1.094, 1.527, 1.094, 109.1, 109.1, 180) + 0.06);
}

TEST(BuildBounds, SmallRings) {
    // Cyclopropane's 1-3 pairs are bonded and keep their bond bounds.
    const DistanceBounds three = build_bounds(test::prepared("C1CC1"));
    const double cc3 = find_bond_length({"C", "C", "1", 3})->median;
    expect_range(three, 0, 2, cc3 - 0.01, cc3 + 0.01);
    // Cyclopentane: non-neighbours are 1-3 and 1-4 at once and keep the angle bounds.
    const DistanceBounds five = build_bounds(test::prepared("C1CCCC1"));
    const double cc5 = find_bond_length({"C", "C", "1", 5})->median;
    const double d13 = across(cc5, cc5, 103.3);
    expect_range(five, 0, 2, d13 - 0.04, d13 + 0.04);
    expect_range(five, 0, 3, d13 - 0.04, d13 + 0.04);
}

TEST(BuildBounds, AmideBondIsAFreeTorsion) {
    // O=C(C)-N(H)-CH3: the carbonyl oxygen and the N-methyl carbon.
    const MolBuilder m = test::prepared("CC(=O)NC");
    const DistanceBounds b = build_bounds(m);
    expect_range(b, 1, 3, 1.412, 1.432);
    expect_range(b, 2, 4, chain_distance(1.224, 1.422, 1.422, 120.8, 115.6, 0) - 0.06,
                 chain_distance(1.224, 1.422, 1.422, 120.8, 115.6, 180) + 0.06);
}

TEST(BuildBounds, StoredCisTransAndRingDoubleBonds) {
    // F/C=C\F is cis: F-F eclipsed, F-H anti.
    for (const char* smiles : {"F/C=C\\F", "F/C=C/F"}) {
        const bool cis = std::string_view(smiles) == "F/C=C\\F";
        const MolBuilder m = test::prepared(smiles);
        const DistanceBounds b = build_bounds(m);
        const double a = find_bond_angle({"C", 3, 0, 0, 0})->median, cf = find_bond_length({"C", "F", "1", 0})->median;
        const double ff = chain_distance(cf, 1.342, cf, a, a, cis ? 0 : 180);
        expect_range(b, 0, 3, ff - 0.06, ff + 0.06);
        const double fh = chain_distance(cf, 1.342, 1.094, a, a, cis ? 180 : 0);
        expect_range(b, 0, hydrogens_of(m, 2)[0], fh - 0.06, fh + 0.06);
    }
    // Cyclohexene: endocyclic torsion 0, exocyclic to endocyclic 180.
    const MolBuilder m = test::prepared("C1=CCCCC1");
    const DistanceBounds b = build_bounds(m);
    const double cc2 = find_bond_length({"C", "C", "2", 6})->median, cc1 = find_bond_length({"C", "C", "1", 6})->median;
    const double in = find_bond_angle({"C", 3, 0, 6, 6})->median, out = find_bond_angle({"C", 3, 0, 6, 0})->median;
    const double endo = chain_distance(cc1, cc2, cc1, in, in, 0);
    expect_range(b, 5, 2, endo - 0.06, endo + 0.06);
    const double exo = chain_distance(1.094, cc2, cc1, out, in, 180);
    expect_range(b, hydrogens_of(m, 0)[0], 2, exo - 0.06, exo + 0.06);
}

TEST(BuildBounds, LinearFallbackCentreReachesStraight) {
    // Selenium has no statistics: C-Se from radii, C-Se-C window [165, 180].
    const MolBuilder m = test::prepared("C[Se]C");
    const DistanceBounds b = build_bounds(m);
    const double cse = covalent(6) + covalent(34);
    expect_range(b, 0, 1, cse * 0.988, cse * 1.012);
    const double mid = (cse * 0.988 + cse * 1.012) / 2;
    expect_range(b, 0, 2, across(mid, mid, 165) - 0.04, across(mid, mid, 180) + 0.04);
}

TEST(BuildBounds, UnknownElementAndVanDerWaalsPairs) {
    MolBuilder m;
    core::Atom c;
    c.atomic_num = core::Element::C;
    core::Atom x;
    x.atomic_num = 200;
    for (const core::Atom& a : {c, x, c, c, c, c, c, c}) m.add_atom(a);
    for (std::uint32_t i = 0; i + 1 < 7; ++i) m.push_bond({.begin = i, .end = i + 1, .order = core::BondOrder::Single});
    const DistanceBounds b = build_bounds(m);  // atom 7 stands alone
    const double cx = covalent(6) + 0.76;
    expect_range(b, 0, 1, cx * 0.988, cx * 1.012);
    const double mid = (cx * 0.988 + cx * 1.012) / 2;
    expect_range(b, 0, 2, across(mid, mid, 165) - 0.04, across(mid, mid, 180) + 0.04);
    const double cc = 2 * vdw(6);
    expect_range(b, 0, 4, 0.7 * cc, 1000.0);
    expect_range(b, 1, 5, 0.7 * (1.7 + vdw(6)), 1000.0);
    expect_range(b, 1, 6, 0.85 * (1.7 + vdw(6)), 1000.0);
    expect_range(b, 0, 5, 0.85 * cc, 1000.0);
    expect_range(b, 0, 6, cc, 1000.0);
    expect_range(b, 3, 7, cc, 1000.0);
}

TEST(BuildBounds, FourBondsApartByKind) {
    // Ends of a five-atom chain: carbon with carbon 0.7 of the sum, with a
    // lone-pair atom 0.8, two lone-pair atoms 0.85, a fluorine with N or O
    // (no hydrogen bond between them) 0.95.
    const struct {
        const char* smiles;
        std::uint8_t a, b;
        double factor;
    } cases[] = {{"CCCCC", 6, 6, 0.7}, {"OCCCC", 8, 6, 0.8}, {"CCCCF", 6, 9, 0.8}, {"OCCCO", 8, 8, 0.85},
                 {"NCCCF", 7, 9, 0.95}, {"OCCCF", 8, 9, 0.95}, {"FCCCF", 9, 9, 0.85}, {"SCCCC", 16, 6, 0.7}};
    for (const auto& c : cases) {
        const DistanceBounds b = build_bounds(test::prepared(c.smiles, false));
        EXPECT_DOUBLE_EQ(b.lower(0, 4), c.factor * (vdw(c.a) + vdw(c.b))) << c.smiles;
    }
}

TEST(BuildBounds, RealMoleculesGiveOrderedFiniteBounds) {
    const auto& data = test::data_records();
    for (std::size_t k = 0; k < data.size(); k += 97) {
        const MolBuilder m = test::prepared(data[k].smiles, true, false);
        if (m.num_atoms() == 0) continue;
        const DistanceBounds b = build_bounds(m);
        for (std::uint32_t i = 0; i < b.n; ++i)
            for (std::uint32_t j = i + 1; j < b.n; ++j) {
                ASSERT_TRUE(std::isfinite(b.lower(i, j)) && std::isfinite(b.upper(i, j))) << data[k].smiles;
                ASSERT_LE(b.lower(i, j), b.upper(i, j)) << data[k].smiles << " " << i << "-" << j;
                ASSERT_GE(b.lower(i, j), 0.0);
            }
        EXPECT_EQ(build_bounds(m).values, b.values);
    }
}
