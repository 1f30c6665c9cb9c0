#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "conf/bounds.hpp"
#include "conf/chiral.hpp"
#include "conf/field.hpp"
#include "conf/holds.hpp"
#include "core/error.hpp"
#include "prepared.hpp"

using namespace quorix;
using namespace quorix::conf;
using core::MolBuilder;
using core::NONE;
using Point = std::array<double, 3>;

namespace {

double triple(const Point& a, const Point& b, const Point& c) {
    return a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) + a[2] * (b[0] * c[1] - b[1] * c[0]);
}

Point at3(const std::vector<double>& x, std::uint32_t i) { return {x[3 * i], x[3 * i + 1], x[3 * i + 2]}; }
Point sub(const Point& p, const Point& q) { return {p[0] - q[0], p[1] - q[1], p[2] - q[2]}; }
constexpr double RAD = 3.14159265358979323846 / 180.0;

double dihedral(const std::vector<double>& x, std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    const Point b1 = sub(at3(x, b), at3(x, a)), b2 = sub(at3(x, c), at3(x, b)), b3 = sub(at3(x, d), at3(x, c));
    const auto cross = [](const Point& u, const Point& v) {
        return Point{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
    };
    const Point n1 = cross(b1, b2), n2 = cross(b2, b3);
    const double len = std::sqrt(b2[0] * b2[0] + b2[1] * b2[1] + b2[2] * b2[2]);
    const double y = len * (b1[0] * n2[0] + b1[1] * n2[1] + b1[2] * n2[2]);
    const double xx = n1[0] * n2[0] + n1[1] * n2[1] + n1[2] * n2[2];
    return std::atan2(y, xx) / RAD;
}

// The error function written out the slow way, from distances and volumes.
double reference_value(const ErrorFunction& f, const std::vector<double>& x) {
    double sum = 0;
    const double scale = f.tolerance_scale;
    for (std::size_t i = 0; i < f.n; ++i)
        for (std::size_t j = i + 1; j < f.n; ++j) {
            if (!f.pairs.empty() && std::find(f.pairs.begin(), f.pairs.end(), i * f.n + j) == f.pairs.end()) continue;
            const Point d = sub(at3(x, i), at3(x, j));
            const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            const double u = std::sqrt(f.upper_sq[i * f.n + j]), l = std::sqrt(f.lower_sq[i * f.n + j]);
            if (u > 0 && r > u) sum += std::pow(r * r / (u * u) - 1, 2);
            else if (r < l) sum += std::pow(2 * l * l / (l * l + r * r) - 1, 2);
        }
    const auto window = [](double v, double target, double lo, double hi) {
        if (target < 0) std::tie(lo, hi) = std::pair{-hi, -lo};
        return v < lo ? (v - lo) * (v - lo) : v > hi ? (v - hi) * (v - hi) : 0.0;
    };
    for (const ChiralConstraint& c : f.constraints) {
        const auto& l = c.ligands;
        const Point p0 = at3(x, l[0]), centre = at3(x, c.centre);
        if (l[3] != NONE)
            sum += window(triple(sub(at3(x, l[1]), p0), sub(at3(x, l[2]), p0), sub(at3(x, l[3]), p0)), -c.target, 5, 100);
        sum += window(triple(sub(p0, centre), sub(at3(x, l[1]), centre), sub(at3(x, l[2]), centre)), c.target, 0.3, 30);
    }
    const auto volume_excess = [&](const std::array<std::uint32_t, 4>& atoms, double tolerance) {
        const auto [a, b, c, d] = atoms;
        const Point pb = at3(x, b);
        return std::max(0.0, std::abs(triple(sub(at3(x, a), pb), sub(at3(x, c), pb), sub(at3(x, d), pb))) - tolerance);
    };
    for (const PlanarFour& p : f.flat)
        sum += FLAT_WEIGHT * std::pow(volume_excess(p.atoms, scale * FLAT_VOLUME_TOLERANCE), 2);
    for (const PlanarFour& p : f.ring_double_bonds)
        sum += FLAT_WEIGHT * std::pow(volume_excess(p.atoms, RING_DOUBLE_BOND_TOLERANCE), 2);
    for (const RingSubstituent& r : f.substituents) {
        // The apex is the aromatic atom, the second of the group.
        const auto [s, a, r1, r2] = r.atoms;
        const double weight = r.shares_ring ? SHARED_SUBSTITUENT_WEIGHT : FLAT_WEIGHT;
        sum += weight * std::pow(volume_excess({s, a, r1, r2}, scale * FLAT_VOLUME_TOLERANCE), 2);
    }
    for (const PlanarFour& p : f.planar) {
        const auto [a, b, c, d] = p.atoms;
        const double phi = std::abs(dihedral(x, a, b, c, d)) * RAD, off = p.cis ? phi : 3.141592653589793 - phi;
        if (off > scale * PLANAR_TOLERANCE) sum += (off - scale * PLANAR_TOLERANCE) * (off - scale * PLANAR_TOLERANCE);
    }
    const auto beyond = [](double off, double tolerance, double weight) {
        return off > tolerance ? weight * (off - tolerance) * (off - tolerance) : 0.0;
    };
    for (const HeldTorsion& t : f.torsions) {
        const auto [a, b, c, d] = t.atoms;
        const double phi = dihedral(x, a, b, c, d), mag = std::abs(phi);  // degrees
        switch (t.wells) {
            case TorsionWells::Planar:
                sum += beyond(std::min(mag, 180 - mag) * RAD, scale * PLANAR_LINK_TOLERANCE, LINK_WEIGHT);
                break;
            case TorsionWells::Cis: sum += beyond(mag * RAD, scale * PLANAR_LINK_TOLERANCE, LINK_WEIGHT); break;
            case TorsionWells::Syn: sum += beyond(mag * RAD, SYN_TOLERANCE, STAGGER_WEIGHT); break;
            case TorsionWells::Staggered: {
                const double turn = phi < 0 ? phi + 360 : phi;
                sum += beyond(std::min({std::abs(turn - 60), std::abs(turn - 180), std::abs(turn - 300)}) * RAD,
                              scale * STAGGER_TOLERANCE, STAGGER_WEIGHT);
                break;
            }
            case TorsionWells::RingStaggered: {
                const double turn = phi < 0 ? phi + 360 : phi;
                sum += beyond(std::min({std::abs(turn - 60), std::abs(turn - 180), std::abs(turn - 300)}) * RAD,
                              scale * RING_STAGGER_TOLERANCE, STAGGER_WEIGHT);
                break;
            }
            case TorsionWells::Anti: sum += beyond((180 - mag) * RAD, scale * STAGGER_TOLERANCE, STAGGER_WEIGHT); break;
            case TorsionWells::Twisted: {
                const double well = t.twist / RAD;
                sum += beyond(std::min(std::abs(mag - well), std::abs(mag - (180 - well))) * RAD, TWIST_TOLERANCE,
                              LINK_WEIGHT);
                break;
            }
            case TorsionWells::NearCis:
                sum += beyond(std::abs(mag - t.twist / RAD) * RAD, NEAR_CIS_TOLERANCE, LINK_WEIGHT);
                break;
            case TorsionWells::Crowded:
                sum += beyond(std::abs(90 - mag) * RAD, 3.141592653589793 / 2 - TWIST_LOW, LINK_WEIGHT);
                break;
            case TorsionWells::TransTwisted:
                sum += beyond(std::abs(mag - (180 - t.twist / RAD)) * RAD, TWIST_TOLERANCE, CHAIR_WEIGHT);
                break;
            case TorsionWells::Chair: {
                const double s = (t.negative ? -phi : phi) * RAD;
                sum += beyond(s < CHAIR_TORSION_LOW ? CHAIR_TORSION_LOW - s : s - CHAIR_TORSION_HIGH, 0.0, CHAIR_WEIGHT);
                break;
            }
        }
    }
    for (const StraightAngle& s : f.straight) {
        const Point u = sub(at3(x, s.atoms[0]), at3(x, s.atoms[1])), v = sub(at3(x, s.atoms[2]), at3(x, s.atoms[1]));
        const double cosine = (u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) /
                              std::sqrt((u[0] * u[0] + u[1] * u[1] + u[2] * u[2]) * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
        sum += beyond(3.141592653589793 - std::acos(cosine), STRAIGHT_TOLERANCE, STRAIGHT_WEIGHT);
    }
    for (const WindowAngle& w : f.angles) {
        const Point u = sub(at3(x, w.atoms[0]), at3(x, w.atoms[1])), v = sub(at3(x, w.atoms[2]), at3(x, w.atoms[1]));
        const double cosine = (u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) /
                              std::sqrt((u[0] * u[0] + u[1] * u[1] + u[2] * u[2]) * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
        const double angle = std::acos(cosine);
        sum += beyond(angle - w.upper, 0.0, ANGLE_WALL_WEIGHT) + beyond(w.lower - angle, 0.0, ANGLE_WALL_WEIGHT);
    }
    for (const WindowLength& w : f.lengths) {
        const Point d = sub(at3(x, w.atoms[0]), at3(x, w.atoms[1]));
        const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        sum += beyond(r - w.upper, 0.0, LENGTH_WALL_WEIGHT) + beyond(w.lower - r, 0.0, LENGTH_WALL_WEIGHT);
    }
    for (const DistanceSpring& s : f.springs) {
        const Point d = sub(at3(x, s.atoms[0]), at3(x, s.atoms[1]));
        const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        sum += s.weight * (r - s.target) * (r - s.target);
    }
    for (const PyramidalCentre& p : f.pyramids) {
        std::array<Point, 3> unit;
        for (std::size_t k = 0; k < 3; ++k) {
            const Point u = sub(at3(x, p.atoms[k + 1]), at3(x, p.atoms[0]));
            const double len = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
            unit[k] = {u[0] / len, u[1] / len, u[2] / len};
        }
        sum += beyond(PYRAMID_HEIGHT - std::abs(triple(unit[0], unit[1], unit[2])), 0.0, PYRAMID_WEIGHT);
    }
    for (const ConjugatedNitrogen& p : f.conjugated) {
        // The planes' normals from the angle between them.
        const auto normal = [&](std::uint32_t a, std::uint32_t b) {
            const Point u = sub(at3(x, a), at3(x, p.atoms[0])), v = sub(at3(x, b), at3(x, p.atoms[0]));
            return Point{u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
        };
        const Point w = normal(p.atoms[1], p.atoms[2]), v = normal(p.atoms[3], p.atoms[4]);
        const double length = std::sqrt((w[0] * w[0] + w[1] * w[1] + w[2] * w[2]) * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2]));
        const double between = std::acos(std::abs(w[0] * v[0] + w[1] * v[1] + w[2] * v[2]) / length);
        sum += beyond(std::cos(CONJUGATED_TWIST) - std::cos(between), 0.0, CONJUGATED_WEIGHT);
    }
    return sum;
}

double energy(const ErrorFunction& f, const std::vector<double>& x) {
    std::vector<double> g(x.size());
    return field_energy(f, x, g);
}

// The gradient against central differences of the value.
void expect_gradient_matches(const ErrorFunction& f, std::vector<double> x, const std::vector<double>& g, double value,
                             const std::string& label) {
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double h = 1e-5, keep = x[i];
        x[i] = keep + h;
        const double up = energy(f, x);
        x[i] = keep - h;
        const double down = energy(f, x);
        x[i] = keep;
        // Rounding of the two values limits the difference quotient.
        const double tolerance = 1e-5 * (1 + std::abs(g[i])) + 1e-15 * value / h;
        EXPECT_NEAR(g[i], (up - down) / (2 * h), tolerance) << label << " coordinate " << i;
    }
}

std::vector<double> random_coords(std::size_t n, std::mt19937& rng) {
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const double side = 1.6 * std::cbrt(double(n));
    std::vector<double> x(3 * n);
    for (double& v : x) v = side * u(rng);
    return x;
}

}  // namespace

TEST(ErrorFunction, MatchesSlowModelAndFiniteDifferencesOnRealMolecules) {
    const auto& data = test::data_records();
    std::mt19937 rng(20261207);
    std::size_t molecules = 0, constraints = 0, planar = 0, flat = 0, ring = 0, subs = 0, shared = 0;
    std::array<std::size_t, static_cast<std::size_t>(TorsionWells::NearCis) + 1> wells{};  // held torsions by kind
    std::size_t straight = 0, pyramids = 0, negative_chairs = 0, conjugated = 0, angles = 0, lengths = 0;
    // Every 211th record, then a ring double bond beside a fused aromatic
    // ring, a tertiary amide and the groups only the holds hold, which the
    // sample may lack.
    std::vector<std::pair<std::string, MolBuilder>> sample;
    for (std::size_t k = 0; k < data.size() && sample.size() < 25; k += 211) {
        MolBuilder m = test::prepared(data[k].smiles, true, false);
        if (m.num_atoms() > 0 && m.num_atoms() <= 70) sample.emplace_back(data[k].smiles, std::move(m));
    }
    for (const char* s : {"C1=Cc2ccccc2CC1", "CN(C)C(=O)c1ccccc1", "COc1ccc(C=O)cc1[N+](=O)[O-]",
                          "CC#CCOC(=O)CC#N", "CN(C)C1CCC2CCCCC2C1", "CCCCCC", "c1ccc(cc1)-c1ccccn1", "Nc1ccccc1C",
                          "Cc1ccccc1[N+](=O)[O-]", "C1CCCCCCCCCCC1", "COc1ccccc1OC", "C1COCCOCCOCCO1",
                          "C1=C/C=C/C=CC=C1",
                          "CC(=O)Nc1ccccc1C"})
        sample.emplace_back(s, test::prepared(s));
    for (const auto& [text, m] : sample) {
        const auto centres = collect_chiral_centres(m);
        ErrorFunction f = build_chiral_terms(build_bounds(m), centres);
        std::vector<double> x = random_coords(m.num_atoms(), rng), g(x.size());
        ConformerHolds(m).add_terms(f, Holds::All, x);
        planar += f.planar.size();
        flat += f.flat.size();
        ring += f.ring_double_bonds.size();
        subs += f.substituents.size();
        for (const RingSubstituent& r : f.substituents) shared += r.shares_ring;
        for (const HeldTorsion& t : f.torsions) {
            ++wells[static_cast<std::size_t>(t.wells)];
            negative_chairs += t.wells == TorsionWells::Chair && t.negative;
        }
        straight += f.straight.size();
        pyramids += f.pyramids.size();
        conjugated += f.conjugated.size();
        angles += f.angles.size();
        lengths += f.lengths.size();
        ++molecules;
        constraints += centres.size();
        const double value = field_energy(f, x, g);
        ASSERT_NEAR(value, reference_value(f, x), 1e-9 * (1 + value)) << text;
        expect_gradient_matches(f, x, g, value, text);
        // The last run's function: every well exact, springs on the bonds,
        // only the pairs near a bound.
        std::vector<DistanceSpring> springs;
        for (const auto& b : m.bonds) springs.push_back({{b.begin, b.end}, 1.4, 0.5});
        add_spring_terms(f, springs);
        f.tolerance_scale = 0.0;
        keep_near_pairs(f, x, 1.0);
        ASSERT_FALSE(f.pairs.empty()) << text;
        const double last = field_energy(f, x, g);
        ASSERT_NEAR(last, reference_value(f, x), 1e-9 * (1 + last)) << text;
        expect_gradient_matches(f, x, g, last, text);
    }
    EXPECT_EQ(molecules, 39u);
    EXPECT_GT(constraints, 5u);
    EXPECT_GT(planar, 3u);
    EXPECT_GT(flat, 50u);
    EXPECT_GE(ring, 2u);
    EXPECT_GT(subs, 50u);
    EXPECT_GE(shared, 2u);
    EXPECT_GE(wells[0], 3u);  // planar links
    EXPECT_GT(wells[1], 20u);  // staggered bonds
    EXPECT_GE(wells[2], 12u);  // two chair rings at least
    EXPECT_GE(wells[3], 3u);   // hexane's chain anti
    EXPECT_GE(wells[4], 1u);   // a biaryl twisted
    EXPECT_GE(wells[static_cast<std::size_t>(TorsionWells::NearCis)], 1u);       // an anilide near cis
    EXPECT_GT(negative_chairs, 0u);
    EXPECT_LT(negative_chairs, wells[2]);
    EXPECT_GE(straight, 3u);
    EXPECT_GE(pyramids, 2u);
    EXPECT_GE(wells[5], 1u);  // a crowded nitro group
    EXPECT_EQ(wells[6], 24u);  // the macrocycles' ring bonds
    EXPECT_GE(wells[7], 2u);   // veratrole's ethers, turned apart
    EXPECT_EQ(wells[static_cast<std::size_t>(TorsionWells::TransTwisted)], 1u);  // an eight-ring's trans bond
    EXPECT_GE(conjugated, 1u);
    EXPECT_EQ(angles, 40u);   // the macrocycles' ring angles, four five-rings' exocyclic ones, tertiary amines' C-N-C
    EXPECT_GE(lengths, 8u);   // the crown's C-O bonds at least
}

TEST(ErrorFunction, EdgeCases) {
    DistanceBounds b = smooth_matrix_init(2, 0.5, 0.0);
    const ErrorFunction f = build_chiral_terms(b, {});
    // Upper bound 0: no upper term at any distance, only the lower one.
    EXPECT_EQ(energy(f, {0, 0, 0, 3, 0, 0}), 0.0);
    const double s = 0.25 + 0.0625;
    EXPECT_DOUBLE_EQ(energy(f, {0, 0, 0, 0.25, 0, 0}), std::pow(0.5 / s - 1, 2));
    // Any non-finite coordinate makes value and gradient NaN.
    std::vector<double> g(6, 1.0);
    EXPECT_TRUE(std::isnan(field_energy(f, std::vector<double>{0, 0, 0, 1, std::numeric_limits<double>::infinity(), 0}, g)));
    for (double v : g) EXPECT_TRUE(std::isnan(v));

    std::vector<double> grad(12, 0.0);
    const auto term = [&](double volume, double target) {
        return chiral_volume_term({volume, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 2, 3}, 0, grad, target, 0.3, 30.0);
    };
    EXPECT_NEAR(term(0.2, 1.0), 0.01, 1e-15);
    EXPECT_NEAR(term(-1.0, 1.0), 1.69, 1e-15);
    EXPECT_EQ(term(-1.0, -1.0), 0.0);
    EXPECT_NEAR(term(-40.0, -1.0), 100.0, 1e-12);
    EXPECT_EQ(term(std::nan(""), 1.0), 0.0);
}

// The walls on both sides: an angle of 150 degrees against [100, 120] and
// one of 80, a distance over and under its window, each with the square of
// its excess and a gradient that matches finite differences.
TEST(ErrorFunction, WallsPushBackFromBothSides) {
    const auto at_angle = [](double degrees) {
        const double t = degrees * RAD;
        return std::vector<double>{1.5, 0, 0, 0, 0, 0, 1.5 * std::cos(t), 1.5 * std::sin(t), 0.3};
    };
    for (const double degrees : {150.0, 80.0, 110.0}) {
        ErrorFunction f = build_chiral_terms(smooth_matrix_init(3, 0.0, UNBOUNDED), {});
        const std::array<WindowAngle, 1> wall{{{{0, 1, 2}, 100.0 * RAD, 120.0 * RAD}}};
        add_window_angle_terms(f, wall);
        const std::array<WindowLength, 1> bond{{{{0, 1}, 1.52, 1.54}}};
        add_window_length_terms(f, bond);
        std::vector<double> x = at_angle(degrees), g(x.size());
        // The third atom's z lifts the angle a little off the one asked for.
        const Point u = sub(at3(x, 0), at3(x, 1)), v = sub(at3(x, 2), at3(x, 1));
        const double angle = std::acos((u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) /
                                       std::sqrt((u[0] * u[0] + u[1] * u[1] + u[2] * u[2]) * (v[0] * v[0] + v[1] * v[1] + v[2] * v[2])));
        const double over = std::max({angle - 120.0 * RAD, 100.0 * RAD - angle, 0.0});
        const double value = field_energy(f, x, g);
        EXPECT_NEAR(value, ANGLE_WALL_WEIGHT * over * over + LENGTH_WALL_WEIGHT * 0.02 * 0.02, 1e-12) << degrees;
        expect_gradient_matches(f, x, g, value, std::to_string(degrees));
    }
    // Under its window the bond is pushed out as hard as over it in.
    ErrorFunction f = build_chiral_terms(smooth_matrix_init(2, 0.0, UNBOUNDED), {});
    const std::array<WindowLength, 1> bond{{{{0, 1}, 1.52, 1.54}}};
    add_window_length_terms(f, bond);
    std::vector<double> g(6);
    EXPECT_NEAR(field_energy(f, std::vector<double>{0, 0, 0, 1.50, 0, 0}, g), LENGTH_WALL_WEIGHT * 0.0004, 1e-12);
    EXPECT_LT(g[3], 0.0);
    EXPECT_NEAR(field_energy(f, std::vector<double>{0, 0, 0, 1.56, 0, 0}, g), LENGTH_WALL_WEIGHT * 0.0004, 1e-12);
    EXPECT_GT(g[3], 0.0);
}

// The last run reads only the pairs near a bound: those it drops are inside
// their bounds by more than the margin, and leave value and gradient as they
// were.
TEST(ErrorFunction, NearPairsAloneGiveTheSameFunction) {
    DistanceBounds b = smooth_matrix_init(5, 0.0, UNBOUNDED);  // far from every pair
    b.lower(0, 1) = 1.0, b.upper(0, 1) = 1.6;  // at 1.5: under its upper bound by less than the margin
    b.lower(0, 2) = 3.0;                       // at 3.3: over its lower bound by less
    b.lower(0, 3) = 3.0;                       // at 3.5: by the margin exactly
    b.lower(2, 4) = 6.0;                       // at 3.3: under it
    b.upper(1, 3) = 4.4;                       // at 3.81: by more than the margin
    ErrorFunction f = build_chiral_terms(b, {});
    const std::vector<double> x{0, 0, 0, 1.5, 0, 0, 0, 3.3, 0, 0, 0, 3.5, -3.3, 3.3, 0};
    std::vector<double> g(x.size()), kept(x.size());
    const double full = field_energy(f, x, g);
    keep_near_pairs(f, x, 0.5);
    EXPECT_EQ(f.pairs, (std::vector<std::uint32_t>{0 * 5 + 1, 0 * 5 + 2, 2 * 5 + 4}));
    EXPECT_EQ(field_energy(f, x, kept), full);
    EXPECT_EQ(kept, g);
}

namespace {

// A regular tetrahedron of ligands 0-3 (bond 1.5 Å) around centre 4; seen from
// ligand 0, ligands 1, 2, 3 run counterclockwise.
std::vector<Point> tetrahedron() {
    std::vector<Point> p;
    p.push_back({0, 0, 1.5});
    for (int k = 0; k < 3; ++k) {
        const double a = k * 2.0943951023931953;
        p.push_back({1.5 * 0.9428090415820634 * std::cos(a), 1.5 * 0.9428090415820634 * std::sin(a), -0.5});
    }
    p.push_back({0, 0, 0});
    return p;
}

}  // namespace

TEST(ChiralConstraints, CounterclockwiseIsPositiveAndTheMirrorNegative) {
    const auto centres = collect_chiral_centres(test::read_or_fail("F[C@](Cl)(Br)I"));
    ASSERT_EQ(centres.size(), 1u);
    ChiralConstraint c = centres[0];
    EXPECT_EQ(c.target, 1.0);
    c.centre = 4;
    c.ligands = {0, 1, 2, 3};
    std::vector<Point> p = tetrahedron();
    EXPECT_GT(signed_volume(p, c), 0.3);
    // Energy 0 with every pair at its distance and both volumes in their windows.
    const std::size_t n = p.size();
    DistanceBounds b = smooth_matrix_init(n, 0, 0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            const Point d = sub(p[i], p[j]);
            const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            b.lower(i, j) = r - 0.01;
            b.upper(i, j) = r + 0.01;
        }
    const ErrorFunction f = build_chiral_terms(b, std::vector{c});
    std::vector<double> x, g(3 * n);
    for (const Point& q : p) x.insert(x.end(), q.begin(), q.end());
    EXPECT_EQ(field_energy(f, x, g), 0.0);
    for (double v : g) EXPECT_EQ(v, 0.0);
    // The mirror image keeps every distance but breaks both chiral terms.
    for (Point& q : p) q[0] = -q[0];
    for (std::size_t i = 0; i < n; ++i) x[3 * i] = -x[3 * i];
    EXPECT_LT(signed_volume(p, c), -0.3);
    EXPECT_GT(field_energy(f, x, g), 1.0);
    // Without its fourth ligand only the centre term remains.
    ChiralConstraint lone = c;
    lone.ligands[3] = NONE;
    EXPECT_NEAR(field_energy(build_chiral_terms(b, std::vector{lone}), x, g), std::pow(signed_volume(p, c) - 0.3, 2),
                1e-12);
    // A constraint naming an atom the bounds do not hold is our own fault.
    lone.centre = 9;
    EXPECT_THROW(build_chiral_terms(b, std::vector{lone}), InternalError);
}

namespace {

struct ChiralCentreCase {
    const char* smiles;
    std::size_t count;
    double target = 0;
    std::array<std::uint32_t, 4> ligands{};
};

class CollectCentres : public ::testing::TestWithParam<ChiralCentreCase> {};

}  // namespace

TEST_P(CollectCentres, KeepsTetrahedralCentresWithFourLigandsOrALonePair) {
    const ChiralCentreCase& c = GetParam();
    const auto centres = collect_chiral_centres(test::read_or_fail(c.smiles));
    ASSERT_EQ(centres.size(), c.count);
    if (c.count == 0) return;
    EXPECT_EQ(centres[0].target, c.target);
    EXPECT_EQ(centres[0].ligands, c.ligands);
    EXPECT_EQ(centres[0].centre, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    ChiralTags, CollectCentres,
    ::testing::Values(ChiralCentreCase{"F[C@](Cl)(Br)I", 1, 1.0, {0, 2, 3, 4}},
                      ChiralCentreCase{"F[C@@](Cl)(Br)I", 1, -1.0, {0, 2, 3, 4}},
                      ChiralCentreCase{"N[C@@H](C)O", 0},  // the hydrogen is no atom yet
                      ChiralCentreCase{"C[S@](=O)CC", 1, 1.0, {0, 2, 3, NONE}},
                      ChiralCentreCase{"C[S@@+](C)CC", 1, -1.0, {0, 2, 3, NONE}},
                      ChiralCentreCase{"C[S@+2](C)CC", 0}, ChiralCentreCase{"C[Se@](=O)C", 1, 1.0, {0, 2, 3, NONE}},
                      ChiralCentreCase{"C[P@](CC)c1ccccc1", 1, 1.0, {0, 2, 4, NONE}},
                      ChiralCentreCase{"C[P@+](CC)C", 0}, ChiralCentreCase{"C[As@@](CC)C", 1, -1.0, {0, 2, 4, NONE}},
                      ChiralCentreCase{"F[C@SP1](Cl)(Br)I", 0}, ChiralCentreCase{"F[C@TB1](Cl)(Br)(I)C", 0},
                      ChiralCentreCase{"C[C@](F)(Cl)(Br)I", 0}, ChiralCentreCase{"F[C@]Cl", 0}));

namespace {

// Plain gradient descent with a step that grows on success and halves on
// failure; enough for a handful of atoms.
double descend(const ErrorFunction& f, std::vector<double>& x) {
    std::vector<double> g(x.size()), trial(x.size()), tg(x.size());
    double value = field_energy(f, x, g), step = 1e-3;
    for (int it = 0; it < 20000 && value > 1e-12; ++it) {
        for (std::size_t i = 0; i < x.size(); ++i) trial[i] = x[i] - step * g[i];
        const double t = field_energy(f, trial, tg);
        if (t < value) {
            x.swap(trial);
            g.swap(tg);
            value = t;
            step *= 1.3;
        } else {
            step *= 0.5;
        }
    }
    return value;
}


}  // namespace

namespace {
class ChainDoubleBond : public ::testing::TestWithParam<const char*> {};
}  // namespace

// From random starts, every clean geometry keeps the bond flat: a free torsion
// would let it settle anywhere, and the 1-4 windows alone allow some 40 degrees.
TEST_P(ChainDoubleBond, ComesOutPlanar) {
    const MolBuilder m = test::prepared(GetParam());
    const ConformerHolds plain_holds(m);
    const BoundsPreferences& plain = plain_holds.bounds(Holds::None);
    ErrorFunction f = build_chiral_terms(build_bounds(m, &plain), {});
    add_planarity_terms(f, planar_double_bonds(MoleculeContext(m)));
    std::mt19937 rng(7);
    int clean = 0;
    for (int start = 0; start < 12; ++start) {
        std::vector<double> x = random_coords(m.num_atoms(), rng);
        if (descend(f, x) > 1e-8) continue;  // a local minimum
        ++clean;
        for (const core::Bond& bond : m.bonds) {
            if (bond.order != core::BondOrder::Double) continue;
            for (auto na : m.neighbors(bond.begin))
                for (auto nd : m.neighbors(bond.end)) {
                    if (na.atom == bond.end || nd.atom == bond.begin) continue;
                    const double phi = std::abs(dihedral(x, na.atom, bond.begin, bond.end, nd.atom));
                    EXPECT_TRUE(phi < 5.0 || phi > 175.0) << GetParam() << " torsion " << phi;
                }
        }
    }
    EXPECT_GE(clean, 2);
}

INSTANTIATE_TEST_SUITE_P(Chain, ChainDoubleBond,
                         ::testing::Values("C=C", "CC=C", "CC=CC", "OC=CC#N", "C/C=C/C", "C/C=C\\C"));
