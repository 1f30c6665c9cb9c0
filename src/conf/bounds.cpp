#include "conf/bounds.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <string>

#include "conf/geometry.hpp"
#include "conf/ring_context.hpp"
#include "conf/stats.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "core/scratch.hpp"

namespace quorix::conf {
namespace {

using core::BondOrder;
using core::NONE;

// Atomic numbers beyond the element table get these radii.
constexpr double UNKNOWN_COVALENT_RADIUS = 0.76;
constexpr double UNKNOWN_VDW_RADIUS = 1.7;
constexpr std::uint8_t LAST_ELEMENT = 118;

double bond_order_length_factor(BondOrder order) {
    switch (order) {
        case BondOrder::Double: return 0.8699;
        case BondOrder::Triple: return 0.7833;
        case BondOrder::Quadruple: return 0.7833;
        case BondOrder::Aromatic: return 0.9206;
        default: return 1.0;
    }
}

// The order column of the bond-length table; other orders are never looked up.
std::string_view bond_order_text(BondOrder order) {
    switch (order) {
        case BondOrder::Single: return "1";
        case BondOrder::Double: return "2";
        case BondOrder::Triple: return "3";
        case BondOrder::Aromatic: return "ar";
        default: return {};
    }
}

// Largest torsion (degrees) around a bond of a small ring, by ring size.
double small_ring_torsion_limit(std::size_t ring_size) {
    if (ring_size <= 4) return 0.0;
    if (ring_size == 5) return 40.0;
    if (ring_size == 6) return 60.0;
    return 90.0;
}

double default_angle(std::size_t degree) {
    if (degree < 3) return 180.0;
    if (degree == 3) return 120.0;
    return 109.471;
}

double covalent_radius(std::uint8_t z) {
    return z > LAST_ELEMENT ? UNKNOWN_COVALENT_RADIUS : static_cast<double>(core::ELEMENTS[z].covalent_radius);
}

double vdw_radius(std::uint8_t z) {
    return z > LAST_ELEMENT ? UNKNOWN_VDW_RADIUS : static_cast<double>(core::ELEMENTS[z].vdw_radius);
}

// A fallback angle window in radians. No angle exceeds 180 degrees, so a window
// reaching past it is cut there, as the statistics window is: 195 and 165
// degrees give the same distance, and an uncut window around a linear centre
// would aim its neighbours at the bent distance.
AngleEstimate fallback_angle(double angle, double half_width) {
    return {angle * DEG_TO_RAD, (angle - half_width) * DEG_TO_RAD, std::min(angle + half_width, 180.0) * DEG_TO_RAD,
            false};
}

enum PairKind : std::uint8_t { NonBonded = 0, OneTwo = 1, OneThree = 2, OneFour = 3 };

struct BoundsWorkspace {
    std::vector<std::uint8_t> kind;            // n * n PairKind bytes
    std::vector<std::uint32_t> nbr_offsets;    // per atom, its half-edge list
    std::vector<std::uint32_t> nbr_atoms;
    std::vector<std::uint8_t> hops;            // breadth-first distances from one atom
    std::vector<std::uint32_t> queue;
    std::vector<double> vdw;
    std::vector<std::uint8_t> element;
    RingContext rings;
};

class BoundsBuilder {
public:
    BoundsBuilder(const core::MolBuilder& mol, BoundsWorkspace& ws, const BoundsPreferences* preferences)
        : mol_(mol), ws_(ws), preferences_(preferences), n_(mol.num_atoms()),
          bounds_(smooth_matrix_init(n_, 0.0, UNBOUNDED)) {}

    DistanceBounds run() {
        setup();
        bonded_pass();
        angle_pass();
        torsion_pass();
        nonbonded_pass();
        return std::move(bounds_);
    }

private:
    const core::MolBuilder& mol_;
    BoundsWorkspace& ws_;
    const BoundsPreferences* preferences_;
    const RingContext* rings_ = nullptr;  // the caller's or the workspace's
    std::uint32_t n_;
    DistanceBounds bounds_;

    std::uint8_t& kind(std::uint32_t a, std::uint32_t b) { return ws_.kind[std::size_t(a) * n_ + b]; }
    void mark(std::uint32_t a, std::uint32_t b, PairKind k) { kind(a, b) = kind(b, a) = k; }
    double midpoint(std::uint32_t a, std::uint32_t b) const {
        return (bounds_.lower(a, b) + bounds_.upper(a, b)) / 2;
    }
    std::span<const std::uint32_t> neighbours(std::uint32_t a) const {
        return {ws_.nbr_atoms.data() + ws_.nbr_offsets[a], ws_.nbr_atoms.data() + ws_.nbr_offsets[a + 1]};
    }

    // Narrows the pair to the overlap of its range and [lo, hi]; ranges that
    // do not overlap are joined instead.
    void merge_bounds(std::uint32_t a, std::uint32_t b, double lo, double hi) {
        double& l = bounds_.lower(a, b);
        double& u = bounds_.upper(a, b);
        double nl = std::max(l, lo), nu = std::min(u, hi);
        if (nu < nl) {
            nl = std::min(l, lo);
            nu = std::max(u, hi);
        }
        l = nl;
        u = nu;
    }

    void setup() {
        for (const core::Bond& b : mol_.bonds)
            if (b.begin >= n_ || b.end >= n_) internal_error("键的端点原子下标越界");
        if (mol_.degree.size() != n_ || mol_.first_half_edge.size() != n_) internal_error("邻接表与原子数不符");
        ws_.kind.assign(std::size_t(n_) * n_, NonBonded);
        ws_.nbr_offsets.assign(std::size_t(n_) + 1, 0);
        ws_.nbr_atoms.clear();
        for (std::uint32_t a = 0; a < n_; ++a) {
            for (core::Neighbor nb : mol_.neighbors(a)) ws_.nbr_atoms.push_back(nb.atom);
            ws_.nbr_offsets[a + 1] = static_cast<std::uint32_t>(ws_.nbr_atoms.size());
        }
        rings_ = preferences_ ? preferences_->rings() : nullptr;
        if (!rings_) {
            ws_.rings.build(mol_);
            rings_ = &ws_.rings;
        }
    }

    void bonded_pass() {
        for (std::uint32_t bi = 0; bi < mol_.num_bonds(); ++bi) {
            const core::Bond& bond = mol_.bonds[bi];
            const std::uint32_t a = bond.begin, b = bond.end;
            const std::size_t ring = rings_->smallest_size(a, b);
            BondOrder order = bond.order;
            for (core::Neighbor nb : mol_.neighbors(a))
                if (nb.atom == b) {
                    order = mol_.bonds[nb.bond].order;
                    break;
                }
            const BondLengthEstimate e =
                estimate_bond_length(mol_.atoms[a].atomic_num, mol_.atoms[b].atomic_num, order, ring);
            const auto held = preferences_ ? preferences_->bond_range(bi) : std::nullopt;
            if (held) merge_bounds(a, b, held->first, held->second);
            else if (e.from_statistics) merge_bounds(a, b, e.length - LENGTH_HALF_WIDTH, e.length + LENGTH_HALF_WIDTH);
            else merge_bounds(a, b, e.length * 0.988, e.length * 1.012);
            mark(a, b, OneTwo);
        }
    }

    // The angle window (degrees) at centre i between neighbours a and c.
    std::pair<double, double> angle_window(std::uint32_t i, std::uint32_t a, std::uint32_t c, std::size_t degree) {
        if (degree == 5 || degree == 6) return {90.0, 180.0};
        if (degree == 7) return {72.0, 180.0};
        if (degree >= 8) return {70.0, 180.0};
        if (preferences_)
            if (const auto held = preferences_->angle_window(i, a, c)) return *held;
        const core::Atom& centre = mol_.atoms[i];
        const AngleEstimate e =
            estimate_bond_angle(centre.atomic_num, degree, (centre.flags & core::AROMATIC) ? 1 : 0,
                                rings_->smallest[i], rings_->smallest_size(i, a, c));
        if (!e.from_statistics) return {e.lower * RAD_TO_DEG, e.upper * RAD_TO_DEG};
        const double m = e.angle * RAD_TO_DEG;
        return {std::max(m - ANGLE_HALF_WIDTH, 1.0), std::min(m + ANGLE_HALF_WIDTH, 180.0)};
    }

    // An angle of a ring of up to TWISTED_RING_MAX atoms that a trans
    // double bond twists.
    bool opened_by_twist(std::uint32_t i, std::uint32_t a, std::uint32_t c) const {
        const std::uint32_t ring = rings_->smallest_holding(i, a, c);
        return ring != NONE && rings_->trans_double[ring] && rings_->ring_size(ring) <= TWISTED_RING_MAX;
    }

    void angle_pass() {
        for (std::uint32_t i = 0; i < n_; ++i) {
            const auto nbrs = neighbours(i);
            if (nbrs.size() < 2) continue;
            const std::size_t degree = mol_.degree[i];
            for (std::size_t j = 0; j < nbrs.size(); ++j)
                for (std::size_t k = j + 1; k < nbrs.size(); ++k) {
                    const std::uint32_t a = nbrs[j], c = nbrs[k];
                    if (a == c) continue;
                    auto [lo, hi] = angle_window(i, a, c, degree);
                    if (opened_by_twist(i, a, c)) hi = std::min(hi + TWISTED_RING_ANGLE_OPENING, 180.0);
                    const double d1 = midpoint(i, a), d2 = midpoint(i, c);
                    const auto at_angle = [&](double theta) {
                        return std::sqrt(std::max(0.0, d1 * d1 + d2 * d2 - 2 * d1 * d2 * std::cos(theta * DEG_TO_RAD)));
                    };
                    double near, far;
                    if (hi - lo <= 5.000000001) near = far = at_angle((lo + hi) / 2);
                    else {
                        near = at_angle(lo);
                        far = at_angle(hi);
                    }
                    if (kind(a, c) == OneTwo) continue;  // a three-membered ring
                    merge_bounds(a, c, near - 0.04, far + 0.04);
                    if (kind(a, c) == NonBonded) mark(a, c, OneThree);
                }
        }
    }

    bool sp2(std::uint32_t a) const { return mol_.atoms[a].hybridization == core::Hybridization::Sp2; }

    // The torsion window (degrees) of the path a-b-c-d around bond `bi` (b, c).
    std::pair<double, double> torsion_window(std::uint32_t bi, std::uint32_t a, std::uint32_t d) {
        const core::Bond& bond = mol_.bonds[bi];
        const std::uint32_t b = bond.begin, c = bond.end;
        const RingContext& rings = *rings_;
        if (has_stored_configuration(bond)) {
            const bool cis = stored_cis(bond, a, d);
            if (twisted_by_ring(mol_, rings, bi)) {
                if (cis) return {0.0, 180.0 - TWISTED_TRANS_LOW};
                return {TWISTED_TRANS_LOW, TWISTED_TRANS_HIGH};
            }
            const double phi = cis ? 0.0 : 180.0;
            return {phi, phi};
        }
        const std::uint32_t ring = rings.smallest_holding(b, c);
        if (ring != NONE) {
            // A ring twisted by a trans double bond keeps its other double
            // bonds cis but not its links flat.
            const bool planar = rings.ring_size(ring) <= 8 && sp2(b) && sp2(c) &&
                                (!rings.trans_double[ring] || bond.order == BondOrder::Double);
            const bool a_in = rings.contains(ring, a), d_in = rings.contains(ring, d);
            if ((rings.aromatic[ring] || planar || rings.all_sp3[ring]) && (a_in || sp2(b)) && (d_in || sp2(c))) {
                if (preferences_)
                    if (const auto held = preferences_->ring_torsion(ring, a, d)) return *held;
                std::pair<double, double> w{0.0, 0.0};
                if (!(planar && !rings.aromatic[ring]))
                    w = stats_lookup(rings.ring_size(ring), rings.aromatic[ring], rings.all_sp3[ring]);
                if (a_in != d_in) w = {180.0 - w.second, 180.0 - w.first};
                return w;
            }
            if (preferences_)
                if (const auto held = preferences_->chain_torsion(bi, a, d)) return *held;
        } else if (preferences_) {
            if (const auto held = preferences_->chain_torsion(bi, a, d)) return *held;
        }
        const std::size_t r = rings.smallest_size(a, b, c, d);
        if (r == 0) return {0.0, 180.0};
        if (bond.order == BondOrder::Aromatic) return {0.0, 0.0};
        return {0.0, small_ring_torsion_limit(r)};
    }

    void torsion_pass() {
        for (std::uint32_t bi = 0; bi < mol_.num_bonds(); ++bi) {
            const std::uint32_t b = mol_.bonds[bi].begin, c = mol_.bonds[bi].end;
            for (std::uint32_t a : neighbours(b)) {
                if (a == c) continue;
                for (std::uint32_t d : neighbours(c))
                    if (d != b) torsion_pair(bi, b, c, a, d);
            }
        }
    }

    void torsion_pair(std::uint32_t bi, std::uint32_t b, std::uint32_t c, std::uint32_t a, std::uint32_t d) {
        if (a == d || kind(a, d) != NonBonded) return;
        const double d_bc = midpoint(b, c), d_ab = midpoint(a, b), d_cd = midpoint(c, d);
        const double d_ac = midpoint(a, c), d_bd = midpoint(b, d);
        if (d_bc <= 1e-9) return;
        // b at the origin, c on the axis; a and d in their own half-planes.
        const double x_a = (d_bc * d_bc + d_ab * d_ab - d_ac * d_ac) / (2 * d_bc);
        const double h_a = std::sqrt(std::max(0.0, d_ab * d_ab - x_a * x_a));
        const double x_d = (d_bc * d_bc + d_cd * d_cd - d_bd * d_bd) / (2 * d_bc);
        const double h_d = std::sqrt(std::max(0.0, d_cd * d_cd - x_d * x_d));
        const double s = d_bc - x_a - x_d;
        const double d_cis = std::sqrt(std::max(0.0, s * s + (h_a - h_d) * (h_a - h_d)));
        const double d_trans = std::sqrt(std::max(0.0, s * s + (h_a + h_d) * (h_a + h_d)));
        if (!std::isfinite(d_cis) || !std::isfinite(d_trans)) return;
        const auto [phi_lo, phi_hi] = torsion_window(bi, a, d);
        const auto squared_at = [&](double phi) {
            const double t = d_cis * d_cis + (d_trans * d_trans - d_cis * d_cis) * (1 - std::cos(phi * DEG_TO_RAD)) / 2;
            return std::max(t, 0.0);
        };
        merge_bounds(a, d, std::sqrt(squared_at(phi_lo)) - 0.06, std::sqrt(squared_at(phi_hi)) + 0.06);
        mark(a, d, OneFour);
    }

    void nonbonded_pass() {
        // Six bonds or more, or none at all, give the same factor, so the
        // search stops discovering at five.
        constexpr std::uint8_t FAR = 6, LAST_LAYER = 5, UNSEEN = 255;
        ws_.vdw.resize(n_);
        ws_.element.resize(n_);
        for (std::uint32_t a = 0; a < n_; ++a) {
            const std::uint8_t z = mol_.atoms[a].atomic_num;
            ws_.vdw[a] = vdw_radius(z);
            ws_.element[a] = z;
        }
        ws_.hops.assign(n_, UNSEEN);
        // From each atom j to the atoms before it: the lower bounds of those
        // pairs lie side by side in row j.
        for (std::uint32_t j = 0; j < n_; ++j) {
            ws_.queue.assign(1, j);
            ws_.hops[j] = 0;
            for (std::size_t q = 0; q < ws_.queue.size(); ++q) {
                const std::uint32_t u = ws_.queue[q];
                if (ws_.hops[u] >= LAST_LAYER) continue;
                for (std::uint32_t v : neighbours(u))
                    if (ws_.hops[v] == UNSEEN) {
                        ws_.hops[v] = static_cast<std::uint8_t>(ws_.hops[u] + 1);
                        ws_.queue.push_back(v);
                    }
            }
            const std::uint8_t* kinds = ws_.kind.data() + std::size_t(j) * n_;
            double* lowers = bounds_.values.data() + std::size_t(j) * n_;
            for (std::uint32_t i = 0; i < j; ++i) {
                if (kinds[i] != NonBonded) continue;
                const std::uint8_t hops = std::min(ws_.hops[i], FAR);
                const double f = hops < 4    ? FOUR_BONDS_FACTOR
                                 : hops == 4 ? four_bonds_factor(ws_.element[i], ws_.element[j])
                                 : hops == 5 ? 0.85
                                             : 1.0;
                const double lower = f * (ws_.vdw[i] + ws_.vdw[j]);
                if (lower > lowers[i]) lowers[i] = lower;
            }
            for (std::uint32_t v : ws_.queue) ws_.hops[v] = UNSEEN;
        }
    }
};

}  // namespace

bool lone_pair_atom(std::uint8_t z) {
    return z == core::Element::N || z == core::Element::O || z == core::Element::F;
}

double four_bonds_factor(std::uint8_t a, std::uint8_t b) {
    if ((a == core::Element::F) != (b == core::Element::F) && lone_pair_atom(a) && lone_pair_atom(b))
        return FLUORINE_LONE_PAIR_FACTOR;
    if (lone_pair_atom(a) && lone_pair_atom(b)) return 0.85;
    if ((lone_pair_atom(a) && b == core::Element::C) || (a == core::Element::C && lone_pair_atom(b))) return 0.8;
    return FOUR_BONDS_FACTOR;
}

std::optional<std::array<std::uint32_t, 4>> twisted_ring_path(const core::MolBuilder& mol, const RingContext& rings,
                                                               std::uint32_t bi) {
    const core::Bond& bond = mol.bonds[bi];
    if (bond.order != BondOrder::Double || !has_stored_configuration(bond)) return std::nullopt;
    const std::uint32_t ring = rings.smallest_holding(bond.begin, bond.end);
    if (ring == NONE || rings.ring_size(ring) > TWISTED_RING_MAX) return std::nullopt;
    const auto ring_neighbour = [&](std::uint32_t end, std::uint32_t other) {
        for (core::Neighbor nb : mol.neighbors(end))
            if (nb.atom != other && rings.contains(ring, nb.atom)) return nb.atom;
        return NONE;
    };
    const std::uint32_t a = ring_neighbour(bond.begin, bond.end), d = ring_neighbour(bond.end, bond.begin);
    if (a == NONE || d == NONE || stored_cis(bond, a, d)) return std::nullopt;
    return std::array{a, bond.begin, bond.end, d};
}

bool twisted_by_ring(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t bi) {
    return twisted_ring_path(mol, rings, bi).has_value();
}

bool has_stored_configuration(const core::Bond& bond) {
    return bond.stereo != core::BondStereo::None && bond.stereo_atoms[0] != NONE && bond.stereo_atoms[1] != NONE;
}

bool stored_cis(const core::Bond& bond, std::uint32_t a, std::uint32_t d) {
    const bool same = bond.stereo == core::BondStereo::Z || bond.stereo == core::BondStereo::Cis;
    const bool flip = (a != bond.stereo_atoms[0]) != (d != bond.stereo_atoms[1]);
    return same != flip;
}

DistanceBounds smooth_matrix_init(std::size_t n, double lower, double upper) {
    DistanceBounds m{n, std::vector<double>(n * n, upper)};
    for (std::size_t i = 0; i < n; ++i) {
        std::fill_n(m.values.begin() + static_cast<std::ptrdiff_t>(i * n), i, lower);
        m.values[i * n + i] = 0.0;
    }
    return m;
}

BondLengthEstimate estimate_bond_length(std::uint8_t za, std::uint8_t zb, BondOrder order, std::size_t ring_size) {
    const std::string_view text = bond_order_text(order);
    if (za <= LAST_ELEMENT && zb <= LAST_ELEMENT && !text.empty()) {
        std::string_view sa = core::ELEMENTS[za].symbol, sb = core::ELEMENTS[zb].symbol;
        if (sb < sa) std::swap(sa, sb);
        BondLengthKey key{std::string(sa), std::string(sb), std::string(text), ring_size};
        auto row = find_bond_length(key);
        if (!row && ring_size != 0) {
            key.ring = 0;
            row = find_bond_length(key);
        }
        if (row) return {row->median, true};
    }
    return {(covalent_radius(za) + covalent_radius(zb)) * bond_order_length_factor(order), false};
}

AngleEstimate estimate_bond_angle(std::uint8_t z, std::size_t degree, std::uint8_t aromatic, std::size_t centre_ring,
                                  std::size_t angle_ring) {
    const double ideal = default_angle(degree);
    if (z > LAST_ELEMENT) return fallback_angle(ideal, 15.0);
    AngleKey key{std::string(core::ELEMENTS[z].symbol), degree, aromatic, centre_ring, angle_ring};
    auto row = find_bond_angle(key);
    if (!row && (angle_ring != 0 || centre_ring != 0)) {
        key.centre_ring = angle_ring != 0 ? angle_ring : 0;
        key.angle_ring = angle_ring;
        row = find_bond_angle(key);
    }
    if (row) {
        const double angle = row->median * DEG_TO_RAD;
        return {angle, angle, angle, true};
    }
    if (angle_ring == 0) return fallback_angle(ideal, 15.0);
    const double polygon = 180.0 - 360.0 / static_cast<double>(std::max<std::size_t>(angle_ring, 3));
    return fallback_angle(std::min(polygon, ideal), 10.0);
}

std::pair<double, double> stats_lookup(std::size_t ring_size, bool aromatic, bool all_sp3) {
    const auto row = find_ring_torsion(TorsionKey{ring_size, aromatic, all_sp3});
    if (!row) return {0.0, 180.0};
    if (aromatic) return {row->median, row->median};
    return {row->p05, row->p95};
}

DistanceBounds build_bounds(const core::MolBuilder& mol, const BoundsPreferences* preferences) {
    if (mol.num_atoms() == 0) return smooth_matrix_init(0, 0.0, UNBOUNDED);
    auto ws = core::Scratch<BoundsWorkspace>::borrow(mol.num_atoms());
    return BoundsBuilder(mol, *ws, preferences).run();
}

}  // namespace quorix::conf
