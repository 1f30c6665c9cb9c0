#include "conf/field.hpp"

#include <cmath>
#include <string>
#include <limits>
#include <utility>
#include <optional>

#include "core/error.hpp"

namespace quorix::conf {
namespace {

using Vec = std::array<double, 3>;

Vec cross(const Vec& u, const Vec& v) {
    return {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - v[2] * u[0], v[1] * u[0] - u[1] * v[0]};
}

Vec point(std::span<const double> x, std::uint32_t atom) {
    const std::size_t k = std::size_t(atom) * 3;
    if (k + 2 >= x.size()) internal_error("下标越界");
    return {x[k], x[k + 1], x[k + 2]};
}

Vec minus(const Vec& p, const Vec& q) { return {p[0] - q[0], p[1] - q[1], p[2] - q[2]}; }

void add_gradient(std::span<double> g, std::uint32_t atom, std::size_t axis, double v) {
    const std::size_t k = std::size_t(atom) * 3 + axis;
    if (k >= g.size()) internal_error("下标越界");
    g[k] += v;
}

// The penalty of a pair at squared distance d2 outside its squared bounds
// l2 and u2, with the factor its gradient takes along the pair's difference;
// false within them.
[[gnu::always_inline]] inline bool pair_penalty(double d2, double l2, double u2, double& term, double& factor) {
    if (d2 > u2 && u2 > 0) {
        const double t = d2 / u2 - 1;
        term = t * t;
        factor = (4 * t) / u2;
        return true;
    }
    if (d2 < l2) {
        const double s = l2 + d2;
        const double t = (l2 + l2) / s - 1;
        term = t * t;
        factor = (l2 * (-8 * t)) / (s * s);
        return true;
    }
    return false;
}

[[gnu::always_inline]] inline void add_pair_gradient(std::span<double> g, std::size_t i, std::size_t j, double dx,
                                                    double dy, double dz, double factor) {
    g[3 * i] += factor * dx;
    g[3 * i + 1] += factor * dy;
    g[3 * i + 2] += factor * dz;
    g[3 * j] -= factor * dx;
    g[3 * j + 1] -= factor * dy;
    g[3 * j + 2] -= factor * dz;
}

double distance_terms(const ErrorFunction& f, std::span<const double> x, std::span<double> g) {
    const std::size_t n = f.n;
    double sum = 0.0;
    double term, factor;
    const auto pair_term = [&](std::size_t p, double l2, double u2, double weight) {
        const std::size_t i = p / n, j = p % n;
        const double dx = x[3 * i] - x[3 * j], dy = x[3 * i + 1] - x[3 * j + 1], dz = x[3 * i + 2] - x[3 * j + 2];
        if (!pair_penalty(dx * dx + dy * dy + dz * dz, l2, u2, term, factor)) return;
        add_pair_gradient(g, i, j, dx, dy, dz, weight * factor);
        sum += weight * term;
    };
    // The walls' lower bounds on top of the plain terms.
    const auto walls = [&] {
        for (std::uint32_t p : f.walls) pair_term(p, f.lower_sq[p], 0.0, CONTACT_WALL_WEIGHT - 1.0);
        return sum;
    };
    if (!f.pairs.empty()) {
        for (std::uint32_t p : f.pairs) {
            const std::size_t i = p / n, j = p % n;
            const double dx = x[3 * i] - x[3 * j], dy = x[3 * i + 1] - x[3 * j + 1], dz = x[3 * i + 2] - x[3 * j + 2];
            if (!pair_penalty(dx * dx + dy * dy + dz * dz, f.lower_sq[p], f.upper_sq[p], term, factor)) continue;
            add_pair_gradient(g, i, j, dx, dy, dz, factor);
            sum += term;
        }
        return walls();
    }
    for (std::size_t i = 0; i < n; ++i) {
        const double xi = x[3 * i], yi = x[3 * i + 1], zi = x[3 * i + 2];
        const double* lower_row = f.lower_sq.data() + i * n;
        const double* upper_row = f.upper_sq.data() + i * n;
        for (std::size_t j = i + 1; j < n; ++j) {
            const double dx = xi - x[3 * j], dy = yi - x[3 * j + 1], dz = zi - x[3 * j + 2];
            if (!pair_penalty(dx * dx + dy * dy + dz * dz, lower_row[j], upper_row[j], term, factor)) continue;
            add_pair_gradient(g, i, j, dx, dy, dz, factor);
            sum += term;
        }
    }
    return walls();
}

// Penalty of a0 . (a1 x a2) outside [lo, hi], its gradient added as
// `chiral_volume_term` describes.
double volume_window_term(const Vec& a0, const Vec& a1, const Vec& a2, const std::array<std::uint32_t, 3>& indices,
                          std::uint32_t apex, std::span<double> gradient, double lo, double hi, double weight) {
    const Vec c12 = cross(a1, a2);
    const double v = c12[0] * a0[0] + c12[1] * a0[1] + c12[2] * a0[2];
    if (std::isnan(v) || (v >= lo && v <= hi)) return 0.0;
    const double dev = v - (v < lo ? lo : hi);
    const double k = (weight + weight) * dev;
    const Vec c20 = cross(a2, a0), c01 = cross(a0, a1);
    for (std::size_t axis = 0; axis < 3; ++axis) {
        add_gradient(gradient, indices[0], axis, c12[axis] * k);
        add_gradient(gradient, indices[1], axis, c20[axis] * k);
        add_gradient(gradient, indices[2], axis, c01[axis] * k);
        add_gradient(gradient, apex, axis, -((c01[axis] + (c12[axis] + c20[axis])) * k));
    }
    return dev * (weight * dev);
}

double dot(const Vec& u, const Vec& v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; }

// The torsion a-b-c-d with what its gradient needs (F = a - b, G = b - c,
// H = d - c, A = F x G, B = H x G); none when collinear atoms leave it
// undefined.
struct Torsion {
    Vec f, gv, h, av, bv;
    double a2, b2, glen, phi;
};

std::optional<Torsion> torsion_at(const std::array<std::uint32_t, 4>& atoms, std::span<const double> x) {
    const auto [a, b, c, d] = atoms;
    Torsion t;
    const Vec pb = point(x, b), pc = point(x, c);
    t.f = minus(point(x, a), pb);
    t.gv = minus(pb, pc);
    t.h = minus(point(x, d), pc);
    t.av = cross(t.f, t.gv);
    t.bv = cross(t.h, t.gv);
    t.a2 = dot(t.av, t.av);
    t.b2 = dot(t.bv, t.bv);
    t.glen = std::sqrt(dot(t.gv, t.gv));
    if (!(t.a2 > 1e-12) || !(t.b2 > 1e-12) || !(t.glen > 1e-9)) return std::nullopt;
    t.phi = std::atan2(dot(cross(t.bv, t.av), t.gv) / t.glen, dot(t.av, t.bv));
    return t;
}

// Adds k times the gradient of the torsion's angle.
void add_torsion_gradient(const Torsion& t, const std::array<std::uint32_t, 4>& atoms, std::span<double> g,
                          double k) {
    const auto [a, b, c, d] = atoms;
    const double ka = t.glen / t.a2, kb = t.glen / t.b2, fa = dot(t.f, t.gv) / (t.a2 * t.glen),
                 hb = dot(t.h, t.gv) / (t.b2 * t.glen);
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const double da = -ka * t.av[axis], dd = kb * t.bv[axis];
        const double db = -da + fa * t.av[axis] - hb * t.bv[axis];
        add_gradient(g, a, axis, da * k);
        add_gradient(g, b, axis, db * k);
        add_gradient(g, c, axis, -(da + db + dd) * k);
        add_gradient(g, d, axis, dd * k);
    }
}

constexpr double PI = 3.141592653589793;

// Penalty of a torsion whose magnitude lies further than `tolerance` from
// `well` (radians, in [0, pi]), with its gradient.
double well_term(const Torsion& t, const std::array<std::uint32_t, 4>& atoms, double well, double tolerance,
                 double weight, std::span<double> g) {
    const double psi = std::abs(t.phi);
    const double off = std::abs(psi - well);
    if (!(off > tolerance)) return 0.0;
    const double dev = off - tolerance;
    const double slope = (psi < well ? -1.0 : 1.0) * (t.phi < 0 ? -1.0 : 1.0);
    add_torsion_gradient(t, atoms, g, (weight + weight) * dev * slope);
    return dev * (weight * dev);
}

// Penalty of the torsion a-b-c-d outside PLANAR_TOLERANCE of 0 (cis) or pi
// (trans).
double planar_torsion_term(const PlanarFour& p, std::span<const double> x, std::span<double> g, double tolerance) {
    const auto t = torsion_at(p.atoms, x);
    return t ? well_term(*t, p.atoms, p.cis ? 0.0 : PI, tolerance, 1.0, g) : 0.0;
}

double held_torsion_terms(const ErrorFunction& f, std::span<const double> x, std::span<double> g) {
    const double link = f.tolerance_scale * PLANAR_LINK_TOLERANCE, stagger = f.tolerance_scale * STAGGER_TOLERANCE,
                 ring_stagger = f.tolerance_scale * RING_STAGGER_TOLERANCE;
    double sum = 0.0;
    for (const HeldTorsion& h : f.torsions) {
        const auto t = torsion_at(h.atoms, x);
        if (!t) continue;
        const double psi = std::abs(t->phi);
        switch (h.wells) {
            case TorsionWells::Planar:
                sum += well_term(*t, h.atoms, psi < PI / 2 ? 0.0 : PI, link, LINK_WEIGHT, g);
                break;
            case TorsionWells::Cis: sum += well_term(*t, h.atoms, 0.0, link, LINK_WEIGHT, g); break;
            case TorsionWells::Syn: sum += well_term(*t, h.atoms, 0.0, SYN_TOLERANCE, STAGGER_WEIGHT, g); break;
            case TorsionWells::Staggered:
                sum += well_term(*t, h.atoms, psi < 2 * PI / 3 ? PI / 3 : PI, stagger, STAGGER_WEIGHT, g);
                break;
            case TorsionWells::RingStaggered:
                sum += well_term(*t, h.atoms, psi < 2 * PI / 3 ? PI / 3 : PI, ring_stagger, STAGGER_WEIGHT, g);
                break;
            case TorsionWells::Anti: sum += well_term(*t, h.atoms, PI, stagger, STAGGER_WEIGHT, g); break;
            case TorsionWells::Twisted:
                sum += well_term(*t, h.atoms, psi < PI / 2 ? h.twist : PI - h.twist, TWIST_TOLERANCE, LINK_WEIGHT, g);
                break;
            case TorsionWells::TransTwisted:
                sum += well_term(*t, h.atoms, PI - h.twist, TWIST_TOLERANCE, CHAIR_WEIGHT, g);
                break;
            case TorsionWells::NearCis:
                sum += well_term(*t, h.atoms, h.twist, NEAR_CIS_TOLERANCE, LINK_WEIGHT, g);
                break;
            case TorsionWells::Crowded:
                sum += well_term(*t, h.atoms, PI / 2, PI / 2 - TWIST_LOW, LINK_WEIGHT, g);
                break;
            case TorsionWells::Chair: {
                const double sign = h.negative ? -1.0 : 1.0, signed_phi = sign * t->phi;
                const double dev = signed_phi < CHAIR_TORSION_LOW    ? signed_phi - CHAIR_TORSION_LOW
                                   : signed_phi > CHAIR_TORSION_HIGH ? signed_phi - CHAIR_TORSION_HIGH
                                                                     : 0.0;
                if (dev == 0.0) break;
                add_torsion_gradient(*t, h.atoms, g, (CHAIR_WEIGHT + CHAIR_WEIGHT) * dev * sign);
                sum += dev * (CHAIR_WEIGHT * dev);
                break;
            }
        }
    }
    return sum;
}

// The arms of the angle a-b-c at x, with what its value and gradient need;
// none when an arm vanishes or the three atoms fall in line, where the
// angle's gradient is undefined.
struct AngleArms {
    Vec u, v;
    double uu, vv, uv, sine;  // sine: |u| |v| sin(angle)
};
std::optional<AngleArms> angle_arms(const std::array<std::uint32_t, 3>& atoms, std::span<const double> x) {
    const auto [a, b, c] = atoms;
    const Vec pb = point(x, b), u = minus(point(x, a), pb), v = minus(point(x, c), pb);
    const double uu = dot(u, u), vv = dot(v, v), uv = dot(u, v);
    const Vec w = cross(u, v);
    const double sine = std::sqrt(dot(w, w));
    if (!(uu > 1e-12) || !(vv > 1e-12) || !(sine > 1e-12)) return std::nullopt;
    return AngleArms{u, v, uu, vv, uv, sine};
}

// Adds k sine times the gradient of pi minus the angle: d(angle)/da is
// -(v - (uv/uu) u) / sine, and likewise for c.
void add_angle_gradient(const std::array<std::uint32_t, 3>& atoms, const AngleArms& arms, double k,
                        std::span<double> g) {
    const auto [a, b, c] = atoms;
    const auto& [u, v, uu, vv, uv, sine] = arms;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const double ga = k * (v[axis] - (uv / uu) * u[axis]), gc = k * (u[axis] - (uv / vv) * v[axis]);
        add_gradient(g, a, axis, ga);
        add_gradient(g, c, axis, gc);
        add_gradient(g, b, axis, -(ga + gc));
    }
}

// Penalty of the angle a-b-c bent further than STRAIGHT_TOLERANCE from 180
// degrees, with its gradient; an angle folded back on itself is undefined
// and free.
double straight_terms(const ErrorFunction& f, std::span<const double> x, std::span<double> g) {
    double sum = 0.0;
    for (const StraightAngle& s : f.straight) {
        const auto arms = angle_arms(s.atoms, x);
        if (!arms) continue;
        const double off = std::atan2(arms->sine, -arms->uv);  // pi minus the angle
        if (!(off > STRAIGHT_TOLERANCE)) continue;
        const double dev = off - STRAIGHT_TOLERANCE;
        add_angle_gradient(s.atoms, *arms, (STRAIGHT_WEIGHT + STRAIGHT_WEIGHT) * dev / arms->sine, g);
        sum += dev * (STRAIGHT_WEIGHT * dev);
    }
    return sum;
}

double window_angle_terms(const ErrorFunction& f, std::span<const double> x, std::span<double> g) {
    double sum = 0.0;
    for (const WindowAngle& s : f.angles) {
        const auto arms = angle_arms(s.atoms, x);
        if (!arms) continue;
        const double angle = std::atan2(arms->sine, arms->uv);
        double dev, slope;
        if (angle > s.upper) {
            dev = angle - s.upper;
            slope = -1.0;
        } else if (angle < s.lower) {
            dev = s.lower - angle;
            slope = 1.0;
        } else {
            continue;
        }
        add_angle_gradient(s.atoms, *arms, slope * (ANGLE_WALL_WEIGHT + ANGLE_WALL_WEIGHT) * dev / arms->sine, g);
        sum += dev * (ANGLE_WALL_WEIGHT * dev);
    }
    return sum;
}

// Over groups of two atoms a and b at distance r: weight * dev^2 for the
// (dev, weight) that `deviation` gives a group at r, with its gradient; a
// dev of 0 adds nothing.
template <class Group, class Deviation>
double pair_terms(const std::vector<Group>& groups, std::span<const double> x, std::span<double> g,
                  Deviation deviation) {
    double sum = 0.0;
    for (const Group& s : groups) {
        const auto [a, b] = s.atoms;
        const Vec d = minus(point(x, a), point(x, b));
        const double r = std::sqrt(dot(d, d));
        if (!(r > 1e-6)) continue;
        const auto [dev, weight] = deviation(s, r);
        if (dev == 0.0) continue;
        const double k = (weight + weight) * dev / r;
        for (std::size_t axis = 0; axis < 3; ++axis) {
            add_gradient(g, a, axis, k * d[axis]);
            add_gradient(g, b, axis, -k * d[axis]);
        }
        sum += dev * (weight * dev);
    }
    return sum;
}

double window_length_terms(const ErrorFunction& f, std::span<const double> x, std::span<double> g) {
    return pair_terms(f.lengths, x, g, [](const WindowLength& s, double r) {
        return std::pair{r > s.upper ? r - s.upper : r < s.lower ? r - s.lower : 0.0, LENGTH_WALL_WEIGHT};
    });
}

double spring_terms(const ErrorFunction& f, std::span<const double> x, std::span<double> g) {
    return pair_terms(f.springs, x, g, [](const DistanceSpring& s, double r) { return std::pair{r - s.target, s.weight}; });
}

double planarity_terms(const ErrorFunction& f, std::span<const double> x, std::span<double> g) {
    double sum = 0.0;
    for (const PlanarFour& p : f.planar)
        sum += planar_torsion_term(p, x, g, f.tolerance_scale * PLANAR_TOLERANCE);
    return sum;
}

double flatness_terms(std::span<const PlanarFour> groups, double tolerance, std::span<const double> x,
                      std::span<double> g) {
    double sum = 0.0;
    for (const PlanarFour& p : groups) {
        const auto [a, b, c, d] = p.atoms;
        const Vec pb = point(x, b);
        sum += volume_window_term(minus(point(x, a), pb), minus(point(x, c), pb), minus(point(x, d), pb), {a, c, d}, b,
                                  g, -tolerance, tolerance, FLAT_WEIGHT);
    }
    return sum;
}

double substituent_terms(const ErrorFunction& f, std::span<const double> x, std::span<double> g) {
    double sum = 0.0;
    for (const RingSubstituent& r : f.substituents) {
        const auto [s, a, r1, r2] = r.atoms;
        const Vec pa = point(x, a);
        sum += volume_window_term(minus(point(x, s), pa), minus(point(x, r1), pa), minus(point(x, r2), pa),
                                  {s, r1, r2}, a, g, -f.tolerance_scale * FLAT_VOLUME_TOLERANCE,
                                  f.tolerance_scale * FLAT_VOLUME_TOLERANCE,
                                  r.shares_ring ? SHARED_SUBSTITUENT_WEIGHT : FLAT_WEIGHT);
    }
    return sum;
}

double chiral_terms(const ErrorFunction& f, std::span<const double> x, std::span<double> g) {
    double sum = 0.0;
    for (const ChiralConstraint& c : f.constraints) {
        const auto& l = c.ligands;
        const Vec centre = point(x, c.centre), p0 = point(x, l[0]), p1 = point(x, l[1]), p2 = point(x, l[2]);
        if (l[3] != core::NONE) {
            const Vec p3 = point(x, l[3]);
            sum += chiral_volume_term(minus(p1, p0), minus(p2, p0), minus(p3, p0), {l[1], l[2], l[3]}, l[0], g,
                                      -c.target, 5.0, 100.0);
        }
        sum += chiral_volume_term(minus(p0, centre), minus(p1, centre), minus(p2, centre), {l[0], l[1], l[2]},
                                  c.centre, g, c.target, 0.3, 30.0);
    }
    return sum;
}

// Penalty of a centre's unit triple product below PYRAMID_HEIGHT in
// magnitude, with its gradient; a centre with a lost bond is free.
double pyramid_terms(const ErrorFunction& f, std::span<const double> x, std::span<double> g) {
    double sum = 0.0;
    for (const PyramidalCentre& p : f.pyramids) {
        const auto [centre, n0, n1, n2] = p.atoms;
        const Vec pc = point(x, centre);
        const std::array<Vec, 3> u{minus(point(x, n0), pc), minus(point(x, n1), pc), minus(point(x, n2), pc)};
        std::array<Vec, 3> unit;
        std::array<double, 3> length;
        bool defined = true;
        for (std::size_t k = 0; k < 3; ++k) {
            length[k] = std::sqrt(dot(u[k], u[k]));
            defined = defined && length[k] > 1e-9;
            unit[k] = {u[k][0] / length[k], u[k][1] / length[k], u[k][2] / length[k]};
        }
        if (!defined) continue;
        const std::array<Vec, 3> across{cross(unit[1], unit[2]), cross(unit[2], unit[0]), cross(unit[0], unit[1])};
        const double t = dot(unit[0], across[0]);
        const double shortfall = PYRAMID_HEIGHT - std::abs(t);
        if (!(shortfall > 0)) continue;
        const double k = -(PYRAMID_WEIGHT + PYRAMID_WEIGHT) * shortfall * (t < 0 ? -1.0 : 1.0);
        const std::array<std::uint32_t, 3> ligands{n0, n1, n2};
        for (std::size_t axis = 0; axis < 3; ++axis) {
            double moved = 0.0;
            for (std::size_t i = 0; i < 3; ++i) {
                // The triple product's derivative along bond i: the part of
                // the other two's cross product across that bond.
                const double d = k * (across[i][axis] - t * unit[i][axis]) / length[i];
                add_gradient(g, ligands[i], axis, d);
                moved += d;
            }
            add_gradient(g, centre, axis, -moved);
        }
        sum += shortfall * (PYRAMID_WEIGHT * shortfall);
    }
    return sum;
}

// Penalty of each conjugated nitrogen's two planes apart by more than
// CONJUGATED_TWIST, with its gradient; a plane lost to collinear atoms is
// free.
double conjugated_terms(const ErrorFunction& f, std::span<const double> x, std::span<double> g) {
    const double cosine = std::cos(CONJUGATED_TWIST);
    double sum = 0.0;
    for (const ConjugatedNitrogen& p : f.conjugated) {
        const auto [c, r1, r2, y1, y2] = p.atoms;
        const Vec pc = point(x, c);
        const Vec ra = minus(point(x, r1), pc), rb = minus(point(x, r2), pc);
        const Vec ya = minus(point(x, y1), pc), yb = minus(point(x, y2), pc);
        const Vec w = cross(ra, rb), v = cross(ya, yb);  // the ring's and the nitrogen's normals
        const double ww = dot(w, w), vv = dot(v, v);
        if (!(ww > 1e-12) || !(vv > 1e-12)) continue;
        const double norm = std::sqrt(ww * vv), u = dot(v, w) / norm;
        const double shortfall = cosine - std::abs(u);
        if (!(shortfall > 0)) continue;
        sum += shortfall * (CONJUGATED_WEIGHT * shortfall);
        const double k = -(CONJUGATED_WEIGHT + CONJUGATED_WEIGHT) * shortfall * (u < 0 ? -1.0 : 1.0);
        Vec gv, gw;  // the penalty's gradient by each normal
        for (std::size_t axis = 0; axis < 3; ++axis) {
            gv[axis] = k * (w[axis] / norm - u * v[axis] / vv);
            gw[axis] = k * (v[axis] / norm - u * w[axis] / ww);
        }
        // A normal n = a x b moves with a as b x dn, with b as dn x a.
        const std::array<std::pair<std::uint32_t, Vec>, 4> moves{
            {{y1, cross(yb, gv)}, {y2, cross(gv, ya)}, {r1, cross(rb, gw)}, {r2, cross(gw, ra)}}};
        for (const auto& [atom, d] : moves)
            for (std::size_t axis = 0; axis < 3; ++axis) {
                add_gradient(g, atom, axis, d[axis]);
                add_gradient(g, c, axis, -d[axis]);
            }
    }
    return sum;
}

}  // namespace

ErrorFunction build_chiral_terms(const DistanceBounds& bounds, std::span<const ChiralConstraint> constraints) {
    const std::size_t n = bounds.n;
    if (bounds.values.size() != n * n) internal_error("距离界不是 " + std::to_string(n) + "×" + std::to_string(n));
    check_constraints(constraints, n);
    ErrorFunction f;
    f.n = n;
    f.lower_sq.assign(n * n, 0.0);
    f.upper_sq.assign(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            const double lower = bounds.lower(i, j), upper = bounds.upper(i, j);
            f.lower_sq[i * n + j] = lower * lower;
            f.upper_sq[i * n + j] = upper * upper;
        }
    f.constraints.assign(constraints.begin(), constraints.end());
    return f;
}

double field_energy(const ErrorFunction& f, std::span<const double> x, std::span<double> gradient) {
    if (x.size() < 3 * f.n || gradient.size() != x.size()) internal_error("坐标或梯度的长度与原子数不符");
    for (double v : x)
        if (!std::isfinite(v)) {
            for (double& g : gradient) g = std::numeric_limits<double>::quiet_NaN();
            return std::numeric_limits<double>::quiet_NaN();
        }
    for (double& g : gradient) g = 0.0;
    const double distance = distance_terms(f, x, gradient) + spring_terms(f, x, gradient);
    const double chiral = chiral_terms(f, x, gradient);
    if (f.planar.empty() && f.flat.empty() && f.ring_double_bonds.empty() && f.substituents.empty() &&
        f.torsions.empty() && f.straight.empty() && f.pyramids.empty() && f.conjugated.empty() && f.angles.empty() &&
        f.lengths.empty())
        return distance + chiral;
    const double planar = planarity_terms(f, x, gradient);
    const double flat = flatness_terms(f.flat, f.tolerance_scale * FLAT_VOLUME_TOLERANCE, x, gradient);
    const double ring = flatness_terms(f.ring_double_bonds, RING_DOUBLE_BOND_TOLERANCE, x, gradient);
    const double held = distance + chiral + planar + flat + ring + substituent_terms(f, x, gradient);
    if (f.torsions.empty() && f.straight.empty() && f.pyramids.empty() && f.conjugated.empty() && f.angles.empty() &&
        f.lengths.empty())
        return held;
    const double torsions = held_torsion_terms(f, x, gradient);
    const double straight = straight_terms(f, x, gradient);
    const double pyramids = pyramid_terms(f, x, gradient);
    const double conjugated = conjugated_terms(f, x, gradient);
    if (f.angles.empty() && f.lengths.empty()) return held + torsions + straight + pyramids + conjugated;
    const double walls = window_angle_terms(f, x, gradient) + window_length_terms(f, x, gradient);
    return held + torsions + straight + pyramids + conjugated + walls;
}

double chiral_volume_term(const Vec& a0, const Vec& a1, const Vec& a2, const std::array<std::uint32_t, 3>& indices,
                          std::uint32_t apex, std::span<double> gradient, double target, double lower_magnitude,
                          double upper_magnitude) {
    const double lo = target >= 0 ? lower_magnitude : -upper_magnitude;
    const double hi = target >= 0 ? upper_magnitude : -lower_magnitude;
    return volume_window_term(a0, a1, a2, indices, apex, gradient, lo, hi, 1.0);
}

namespace {

// Every atom of every group must be a variable of the function.
template <class Group>
void append_groups(const ErrorFunction& f, std::vector<Group>& into, std::span<const Group> groups) {
    for (const Group& g : groups)
        for (std::uint32_t a : g.atoms)
            if (a >= f.n) internal_error("平面约束的原子下标 " + std::to_string(a) + " 越界(原子数 " + std::to_string(f.n) + ")");
    into.insert(into.end(), groups.begin(), groups.end());
}

}  // namespace

void add_planarity_terms(ErrorFunction& f, std::span<const PlanarFour> groups) { append_groups(f, f.planar, groups); }

void add_flatness_terms(ErrorFunction& f, std::span<const PlanarFour> groups) { append_groups(f, f.flat, groups); }

void add_ring_double_bond_terms(ErrorFunction& f, std::span<const PlanarFour> groups) {
    append_groups(f, f.ring_double_bonds, groups);
}

void add_substituent_terms(ErrorFunction& f, std::span<const RingSubstituent> groups) {
    append_groups(f, f.substituents, groups);
}

void add_torsion_terms(ErrorFunction& f, std::span<const HeldTorsion> groups) { append_groups(f, f.torsions, groups); }

double torsion_angle(const std::array<std::uint32_t, 4>& atoms, std::span<const double> x) {
    const auto t = torsion_at(atoms, x);
    return t ? t->phi : std::numeric_limits<double>::quiet_NaN();
}

void add_straight_terms(ErrorFunction& f, std::span<const StraightAngle> groups) {
    append_groups(f, f.straight, groups);
}

void add_window_angle_terms(ErrorFunction& f, std::span<const WindowAngle> groups) {
    append_groups(f, f.angles, groups);
}

void add_window_length_terms(ErrorFunction& f, std::span<const WindowLength> groups) {
    append_groups(f, f.lengths, groups);
}

void keep_near_pairs(ErrorFunction& f, std::span<const double> x, double margin) {
    const std::size_t n = f.n;
    if (n * n > std::numeric_limits<std::uint32_t>::max()) internal_error("原子数太多,原子对的编号超出 32 位");
    f.pairs.clear();
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            const std::size_t p = i * n + j;
            const Vec d = minus(point(x, static_cast<std::uint32_t>(i)), point(x, static_cast<std::uint32_t>(j)));
            const double r = std::sqrt(dot(d, d));
            const double lower = std::sqrt(f.lower_sq[p]), upper = std::sqrt(f.upper_sq[p]);
            if (r < lower + margin || (upper > 0 && r > upper - margin))
                f.pairs.push_back(static_cast<std::uint32_t>(p));
        }
}

void add_spring_terms(ErrorFunction& f, std::span<const DistanceSpring> springs) {
    append_groups(f, f.springs, springs);
}

void add_pyramid_terms(ErrorFunction& f, std::span<const PyramidalCentre> groups) {
    append_groups(f, f.pyramids, groups);
}

void add_conjugated_terms(ErrorFunction& f, std::span<const ConjugatedNitrogen> groups) {
    append_groups(f, f.conjugated, groups);
}

}  // namespace quorix::conf
