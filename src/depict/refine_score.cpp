// Label radii, clash pairs, crossing pairs and the layout score.
#include <algorithm>
#include <cmath>

#include "core/lanes.hpp"
#include "core/scratch.hpp"
#include "depict/label.hpp"
#include "depict/refine.hpp"
#include "depict/spring.hpp"
#include "depict/stereo.hpp"

namespace quorix::depict {

namespace {
constexpr double MIN_RADIUS = 0.25;
constexpr double COINCIDENT = 0.05;

bool unlabelled_carbon(const core::MolBuilder& mol, std::uint32_t i) {
    const core::Atom& a = mol.atoms[i];
    return a.atomic_num == 6 && a.formal_charge == 0 && a.isotope == 0 && a.num_radical_electrons == 0 &&
           mol.degree[i] != 0;
}

// Above this many items the pair loops sweep along x instead of testing every
// pair, when every point is finite (the sweeps sort by coordinate).
constexpr std::size_t SWEEP_FROM = 64;

// Calls visit(i, j), i < j, for every pair of items whose x ranges [lo, hi]
// come within `gap` of each other (and possibly others), by a sweep along x.
// The visiting order is not fixed.
template <class V>
void swept_pairs(std::span<const double> lo, std::span<const double> hi, double gap, std::vector<std::uint32_t>& order,
                 V&& visit) {
    const std::size_t n = lo.size();
    order.resize(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::uint32_t>(i);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return lo[a] < lo[b] || (lo[a] == lo[b] && a < b); });
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint32_t i = order[k];
        for (std::size_t l = k + 1; l < n && lo[order[l]] <= hi[i] + gap; ++l) {
            const std::uint32_t j = order[l];
            visit(std::min(i, j), std::max(i, j));
        }
    }
}

// One layout's drawn atoms and drawn bonds as flat arrays, in borrowed memory
// that keeps its capacity from molecule to molecule.
struct Drawn {
    std::vector<std::uint32_t> atoms;  // ascending
    std::vector<double> x, y, r;
    std::vector<std::uint32_t> slot;  // atom -> its index in `atoms`, NONE when undrawn
    std::vector<DrawnSegment> segs;   // ascending bond
    std::vector<std::uint32_t> ends;  // the two atoms of each segment
    // Segment boxes; the upper ends carry boxes_meet's margin.
    std::vector<double> box_lx, box_hx, box_ly, box_hy;
    std::vector<double> atom_a, atom_b;  // `ends` as doubles, for the row pass
    std::vector<std::pair<std::uint32_t, std::uint32_t>> hits;
    std::vector<std::uint32_t> order, place;
    std::vector<std::uint8_t> flag, seg_flag;
    // Every point finite: the sweeps sort by coordinate only then.
    bool finite = true;
};

using DrawnLease = core::Scratch<Drawn>::Lease;

DrawnLease borrow_drawn(const core::MolBuilder& mol) { return core::Scratch<Drawn>::borrow(mol.atoms.size()); }

void load_atoms(const core::MolBuilder& mol, const PositionMap& positions, Drawn& d) {
    const std::size_t n = positions.size();
    d.atoms.resize(n);
    d.x.resize(n);
    d.y.resize(n);
    d.slot.assign(mol.atoms.size(), core::NONE);
    std::size_t k = 0;
    bool finite = true;
    for (const auto& [a, p] : positions) {
        d.atoms[k] = a;
        d.x[k] = p.x;
        d.y[k] = p.y;
        finite &= std::isfinite(p.x) & std::isfinite(p.y);
        if (a < d.slot.size()) d.slot[a] = static_cast<std::uint32_t>(k);
        ++k;
    }
    d.finite = finite;
}

// The drawn bonds with their end points, ascending, and their boxes; the atoms
// must be loaded.
void load_segments(const core::MolBuilder& mol, Drawn& d) {
    const std::uint32_t nb = bond_count_u32(mol);
    d.segs.clear();
    d.ends.clear();
    for (std::uint32_t b = 0; b < nb; ++b) {
        const core::Bond& bond = mol.bonds[b];
        const std::uint32_t i = bond.begin < d.slot.size() ? d.slot[bond.begin] : core::NONE;
        const std::uint32_t j = bond.end < d.slot.size() ? d.slot[bond.end] : core::NONE;
        if (i == core::NONE || j == core::NONE) continue;
        d.segs.push_back({b, Point{d.x[i], d.y[i]}, Point{d.x[j], d.y[j]}});
        d.ends.push_back(bond.begin);
        d.ends.push_back(bond.end);
    }
    const std::size_t m = d.segs.size();
    d.box_lx.resize(m);
    d.box_hx.resize(m);
    d.box_ly.resize(m);
    d.box_hy.resize(m);
    d.atom_a.resize(m);
    d.atom_b.resize(m);
    for (std::size_t i = 0; i < m; ++i) {
        d.atom_a[i] = d.ends[2 * i];
        d.atom_b[i] = d.ends[2 * i + 1];
    }
    constexpr double MARGIN = 1e-8;  // as in boxes_meet
    for (std::size_t i = 0; i < m; ++i) {
        const DrawnSegment& g = d.segs[i];
        d.box_lx[i] = std::min(g.a.x, g.b.x);
        d.box_hx[i] = std::max(g.a.x, g.b.x) + MARGIN;
        d.box_ly[i] = std::min(g.a.y, g.b.y);
        d.box_hy[i] = std::max(g.a.y, g.b.y) + MARGIN;
    }
}

// The radii of the loaded atoms; the widest of them.
double load_radii(std::span<const double> radii, Drawn& d) {
    const std::size_t n = d.atoms.size();
    d.r.resize(n);
    double widest = 0.0;
    for (std::size_t k = 0; k < n; ++k) {
        d.r[k] = at(radii, d.atoms[k]);
        widest = std::max(widest, d.r[k]);
    }
    return widest;
}

// The loaded atoms with their radii, held apart from the vectors so that the
// pair loops keep them in registers.
struct AtomView {
    std::span<const std::uint32_t> atoms;
    std::span<const double> x, y, r;
    explicit AtomView(const Drawn& d) : atoms(d.atoms), x(d.x), y(d.y), r(d.r) {}
};

// The close test of loaded atoms i < j, measured as pts[i] - pts[j]: calls
// hit(i, j, d, reach) when they are unbonded and closer than their radii sum.
// A pair whose x or y distance alone reaches the sum is settled without a root.
template <class H>
void test_pair(const core::MolBuilder& mol, const AtomView& v, std::size_t i, std::size_t j, H&& hit) {
    const double reach = v.r[i] + v.r[j];
    const Point diff{v.x[i] - v.x[j], v.y[i] - v.y[j]};
    if (std::abs(diff.x) >= reach || std::abs(diff.y) >= reach) return;
    const double d = length(diff);
    if (d < reach && mol.bond_between(v.atoms[i], v.atoms[j]) == core::NONE) hit(i, j, d, reach);
}

// Whether the close test of an (i, j) atom pair can pass: neither distance
// alone reaches the radii sum. The same comparisons as the test itself.
inline bool within_reach(double dx, double dy, double reach) {
    return !(std::abs(dx) >= reach) & !(std::abs(dy) >= reach);
}

// The branch-free row passes take two pairs at a time (core/lanes.hpp): each
// pair gets the very comparisons the one-at-a-time pass made.
using core::abs2;
using core::load2;
using core::V2d;
using core::V2l;

// Whether some atom j in [from, n) passes within_reach against atom i.
inline bool row_within_reach(std::span<const double> x, std::span<const double> y, std::span<const double> r,
                             std::size_t i, std::size_t from) {
    const std::size_t n = x.size();
    const double xi = x[i], yi = y[i], ri = r[i];
    const V2d vx = {xi, xi}, vy = {yi, yi}, vr = {ri, ri};
    std::size_t j = from;
    for (; j + 2 <= n; j += 2) {
        const V2d reach = vr + load2(&r[j]);
        // Settled in a lane when either distance alone reaches the sum.
        const V2l settled = (abs2(vx - load2(&x[j])) >= reach) | (abs2(vy - load2(&y[j])) >= reach);
        if ((settled[0] & settled[1]) == 0) return true;
    }
    return j < n && within_reach(xi - x[j], yi - y[j], ri + r[j]);
}

// Whether some segment j in [from, m) has a box meeting segment i's and shares
// no atom with it. The atoms come as doubles too (`atom_a`, `atom_b`, exact for
// every index) so that the whole test stays in one kind of lane.
inline bool row_meets_apart(const Drawn& d, std::size_t i, std::size_t from) {
    const std::span<const double> lx = d.box_lx, hx = d.box_hx, ly = d.box_ly, hy = d.box_hy;
    const std::span<const double> ea = d.atom_a, eb = d.atom_b;
    const std::size_t m = lx.size();
    const double lxi = lx[i], hxi = hx[i], lyi = ly[i], hyi = hy[i], a = ea[i], b = eb[i];
    const V2d vlx = {lxi, lxi}, vhx = {hxi, hxi}, vly = {lyi, lyi}, vhy = {hyi, hyi}, va = {a, a}, vb = {b, b};
    std::size_t j = from;
    for (; j + 2 <= m; j += 2) {
        const V2d c = load2(&ea[j]), e = load2(&eb[j]);
        const V2l hit = (vlx <= load2(&hx[j])) & (load2(&lx[j]) <= vhx) & (vly <= load2(&hy[j])) &
                        (load2(&ly[j]) <= vhy) & (va != c) & (va != e) & (vb != c) & (vb != e);
        if (hit[0] | hit[1]) return true;
    }
    bool out = false;
    if (j < m) {
        const double c = ea[j], e = eb[j];
        const bool overlap = (lxi <= hx[j]) & (lx[j] <= hxi) & (lyi <= hy[j]) & (ly[j] <= hyi);
        out |= overlap & !((a == c) | (a == e) | (b == c) | (b == e));
    }
    return out;
}

// boxes_meet of segments i and j, on their kept boxes.
inline bool boxes_overlap(const Drawn& d, std::size_t i, std::size_t j) {
    return (d.box_lx[i] <= d.box_hx[j]) & (d.box_lx[j] <= d.box_hx[i]) & (d.box_ly[i] <= d.box_hy[j]) &
           (d.box_ly[j] <= d.box_hy[i]);
}

// Calls f(a, b, d, reach) for every unbonded drawn pair closer than its radii
// sum, in (a, b) order.
template <class F>
void for_each_clash(const core::MolBuilder& mol, const PositionMap& positions, std::span<const double> radii, Drawn& dr,
                    F&& f) {
    load_atoms(mol, positions, dr);
    const double widest = load_radii(radii, dr);
    const std::size_t n = dr.atoms.size();
    const AtomView v(dr);
    const std::span<const double> x = v.x, y = v.y, r = v.r;
    const auto test = [&](std::size_t i, std::size_t j, auto&& hit) { test_pair(mol, v, i, j, hit); };
    if (n <= SWEEP_FROM || !dr.finite) {
        // Rows in (i, j) order; a row is searched only once a branch-free pass
        // over it finds a pair within reach.
        for (std::size_t i = 0; i < n; ++i) {
            if (!row_within_reach(x, y, r, i, i + 1)) continue;
            for (std::size_t j = i + 1; j < n; ++j)
                test(i, j, [&](std::size_t a, std::size_t b, double d, double reach) {
                    f(v.atoms[a], v.atoms[b], d, reach);
                });
        }
        return;
    }
    struct Hit {
        std::uint32_t i, j;
        double d, reach;
    };
    std::vector<Hit> hits;
    swept_pairs(x, x, 2 * widest, dr.order, [&](std::size_t i, std::size_t j) {
        test(i, j, [&](std::size_t a, std::size_t b, double d, double reach) {
            hits.push_back({static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(b), d, reach});
        });
    });
    // Drawn atoms are ascending, so (i, j) order is (a, b) order.
    std::sort(hits.begin(), hits.end(), [](const Hit& p, const Hit& q) { return p.i != q.i ? p.i < q.i : p.j < q.j; });
    for (const Hit& h : hits) f(v.atoms[h.i], v.atoms[h.j], h.d, h.reach);
}

// Whether segments i and j cross, as segments_cross decides it. Two bonds of
// one atom meet at its point, which segments_cross settles first: no crossing
// while that point is finite.
bool segments_meet(const Drawn& d, std::size_t i, std::size_t j) {
    const std::uint32_t a = d.ends[2 * i], b = d.ends[2 * i + 1], c = d.ends[2 * j], e = d.ends[2 * j + 1];
    const DrawnSegment &s = d.segs[i], &t = d.segs[j];
    const Point* shared = a == c || a == e ? &s.a : b == c || b == e ? &s.b : nullptr;
    if (shared && std::isfinite(shared->x) && std::isfinite(shared->y)) return false;
    return segments_cross(s.a, s.b, t.a, t.b);
}

// Calls f(bond, bond) for every crossing pair of the loaded segments, in ascending order.
template <class F>
void for_each_crossing(Drawn& d, F&& f) {
    const std::size_t m = d.segs.size();
    const auto meet = [&](std::size_t i, std::size_t j) { return boxes_overlap(d, i, j); };
    if (m <= SWEEP_FROM || !d.finite) {
        for (std::size_t i = 0; i < m; ++i) {
            // Bonds of a common atom never cross (segments_meet), so with every
            // point finite a row whose boxes meet only such bonds is settled by
            // one branch-free pass.
            if (d.finite && !row_meets_apart(d, i, i + 1)) continue;
            for (std::size_t j = i + 1; j < m; ++j)
                if (meet(i, j) && segments_meet(d, i, j)) f(d.segs[i].bond, d.segs[j].bond);
        }
        return;
    }
    d.hits.clear();
    // hx already holds the high end plus the margin the sweep allows.
    swept_pairs(d.box_lx, d.box_hx, 0.0, d.order, [&](std::size_t i, std::size_t j) {
        if (meet(i, j) && segments_meet(d, i, j))
            d.hits.emplace_back(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j));
    });
    std::sort(d.hits.begin(), d.hits.end());
    for (const auto& [i, j] : d.hits) f(d.segs[i].bond, d.segs[j].bond);
}

}  // namespace

const Point& point_of(const PositionMap& positions, std::uint32_t atom) {
    const auto it = positions.find(atom);
    if (it == positions.end()) internal_error("no entry found for key");
    return it->second;
}

std::vector<double> label_radii(const core::MolBuilder& mol, double bond_length, double font_size) {
    const std::uint32_t n = atom_count_u32(mol);
    const double scale = font_size / bond_length;
    std::vector<double> out(n, MIN_RADIUS);
    for (std::uint32_t i = 0; i < n; ++i) {
        if (unlabelled_carbon(mol, i)) continue;
        const LabelExtent plain = label_extent(mol.atoms[i], false, scale);
        out[i] = std::max(out[i], std::hypot(plain.half_width, plain.half_height));
        // Without hydrogens both orders are the same runs; otherwise they differ
        // at most in the rounding of the width sum.
        if (mol.atoms[i].total_hs() == 0) continue;
        const LabelExtent first = label_extent(mol.atoms[i], true, scale);
        if (first.half_width != plain.half_width || first.half_height != plain.half_height)
            out[i] = std::max(out[i], std::hypot(first.half_width, first.half_height));
    }
    return out;
}

std::vector<std::uint32_t> drawn_bonds(const core::MolBuilder& mol, const PositionMap& positions) {
    const std::uint32_t nb = bond_count_u32(mol);
    std::vector<std::uint32_t> out;
    for (std::uint32_t b = 0; b < nb; ++b)
        if (positions.contains(mol.bonds[b].begin) && positions.contains(mol.bonds[b].end)) out.push_back(b);
    return out;
}

std::vector<BondPair> find_crossings(const core::MolBuilder& mol, const PositionMap& positions) {
    const DrawnLease d = borrow_drawn(mol);
    load_atoms(mol, positions, *d);
    load_segments(mol, *d);
    std::vector<BondPair> out;
    for_each_crossing(*d, [&](std::uint32_t a, std::uint32_t b) { out.emplace_back(a, b); });
    return out;
}

Clashes find_clashes(const core::MolBuilder& mol, const PositionMap& positions, std::span<const double> radii) {
    const DrawnLease d = borrow_drawn(mol);
    Clashes out;
    for_each_clash(mol, positions, radii, *d,
                   [&](std::uint32_t a, std::uint32_t b, double, double) { out.atoms.emplace_back(a, b); });
    load_segments(mol, *d);
    for_each_crossing(*d, [&](std::uint32_t a, std::uint32_t b) { out.crossings.emplace_back(a, b); });
    return out;
}

namespace {
void add_clash(LayoutScore& s, double d, double reach) {
    if (d < COINCIDENT) ++s.coincident;
    const double over = std::max(0.0, reach - d);
    s.penalty += over * over;
}
}  // namespace

LayoutScore layout_score(const core::MolBuilder& mol, const PositionMap& positions, std::span<const double> radii) {
    const DrawnLease d = borrow_drawn(mol);
    LayoutScore s;
    for_each_clash(mol, positions, radii, *d,
                   [&](std::uint32_t, std::uint32_t, double dist, double reach) { add_clash(s, dist, reach); });
    load_segments(mol, *d);
    for_each_crossing(*d, [&](std::uint32_t, std::uint32_t) { ++s.crossings; });
    return s;
}

LayoutScore ScoreKeeper::total(std::span<const Term> terms, std::size_t crossings) {
    LayoutScore s;
    for (const Term& t : terms) add_clash(s, t.d, t.reach);
    s.crossings = crossings;
    return s;
}

LayoutScore ScoreKeeper::reset(const core::MolBuilder& mol, const PositionMap& positions,
                               std::span<const double> radii) {
    const DrawnLease drawn = borrow_drawn(mol);
    trial_terms_.clear();
    trial_crossings_.clear();
    for_each_clash(mol, positions, radii, *drawn, [&](std::uint32_t a, std::uint32_t b, double d, double reach) {
        trial_terms_.push_back({a, b, d, reach});
    });
    load_segments(mol, *drawn);
    for_each_crossing(*drawn, [&](std::uint32_t a, std::uint32_t b) { trial_crossings_.emplace_back(a, b); });
    accept();
    return total(terms_, crossings_.size());
}

void ScoreKeeper::accept() {
    std::swap(terms_, trial_terms_);
    std::swap(crossings_, trial_crossings_);
}

LayoutScore ScoreKeeper::trial(const core::MolBuilder& mol, const PositionMap& positions,
                               std::span<const double> radii, std::span<const std::uint32_t> moved) {
    atom_moved_.resize(mol.atoms.size());
    bond_moved_.resize(mol.bonds.size());
    for (std::uint32_t a : moved) at(atom_moved_, a) = 1;
    const auto still = [&](std::uint32_t a) { return atom_moved_[a] == 0; };

    const DrawnLease drawn = borrow_drawn(mol);
    Drawn& dr = *drawn;
    load_atoms(mol, positions, dr);
    const double widest = load_radii(radii, dr);
    const std::size_t n = dr.atoms.size();
    const AtomView v(dr);
    const std::span<const double> x = v.x;
    std::vector<std::uint8_t>& flag = dr.flag;  // moved, by drawn index
    flag.resize(n);
    for (std::size_t k = 0; k < n; ++k) flag[k] = !still(dr.atoms[k]);

    trial_terms_.clear();
    for (const Term& t : terms_)
        if (still(t.a) && still(t.b)) trial_terms_.push_back(t);
    // Moved atom k and atom l. Drawn atoms are ascending, so index order is atom order.
    const auto measure = [&](std::size_t k, std::size_t l) {
        test_pair(mol, v, std::min(k, l), std::max(k, l), [&](std::size_t i, std::size_t j, double d, double reach) {
            trial_terms_.push_back({v.atoms[i], v.atoms[j], d, reach});
        });
    };
    // A pair of two moved atoms is measured once, from its lower atom.
    if (n <= SWEEP_FROM || !dr.finite) {
        for (std::size_t k = 0; k < n; ++k) {
            if (!flag[k]) continue;
            for (std::size_t l = 0; l < k; ++l)
                if (!flag[l]) measure(k, l);
            for (std::size_t l = k + 1; l < n; ++l) measure(k, l);
        }
    } else {
        // Along x from each moved atom: once the x distance, rounded as the test
        // rounds it, reaches twice the widest radius, no farther atom is in reach.
        const double gap = 2 * widest;
        std::vector<std::uint32_t>& order = dr.order;
        std::vector<std::uint32_t>& place = dr.place;
        order.resize(n);
        place.resize(n);
        for (std::size_t k = 0; k < n; ++k) order[k] = static_cast<std::uint32_t>(k);
        std::sort(order.begin(), order.end(),
                  [&](std::uint32_t p, std::uint32_t q) { return x[p] < x[q] || (x[p] == x[q] && p < q); });
        for (std::size_t q = 0; q < n; ++q) place[order[q]] = static_cast<std::uint32_t>(q);
        for (std::size_t k = 0; k < n; ++k) {
            if (!flag[k]) continue;
            for (std::size_t q = place[k]; q-- > 0 && !(x[k] - x[order[q]] >= gap);)
                if (order[q] > k || !flag[order[q]]) measure(k, order[q]);
            for (std::size_t q = place[k] + 1; q < n && !(x[order[q]] - x[k] >= gap); ++q)
                if (order[q] > k || !flag[order[q]]) measure(k, order[q]);
        }
    }
    std::sort(trial_terms_.begin(), trial_terms_.end(),
              [](const Term& p, const Term& q) { return p.a != q.a ? p.a < q.a : p.b < q.b; });

    load_segments(mol, dr);
    const std::vector<DrawnSegment>& segs = dr.segs;
    const std::size_t m = segs.size();
    std::vector<std::uint8_t>& seg_flag = dr.seg_flag;  // moved, by segment
    seg_flag.resize(m);
    for (std::size_t k = 0; k < m; ++k) {
        const std::uint32_t b = segs[k].bond;
        seg_flag[k] = !still(mol.bonds[b].begin) || !still(mol.bonds[b].end);
        bond_moved_[b] = seg_flag[k];
    }
    trial_crossings_.clear();
    for (const BondPair& c : crossings_)
        if (!bond_moved_[c.first] && !bond_moved_[c.second]) trial_crossings_.push_back(c);
    // Segments run in ascending bond order: (i, j), i < j, is the pair's own order.
    const auto cross = [&](std::size_t i, std::size_t j) {
        if (boxes_overlap(dr, i, j) && segments_meet(dr, i, j)) trial_crossings_.emplace_back(segs[i].bond, segs[j].bond);
    };
    for (std::size_t k = 0; k < m; ++k) {
        if (!seg_flag[k]) continue;
        for (std::size_t l = 0; l < k; ++l)
            if (!seg_flag[l]) cross(l, k);
        for (std::size_t l = k + 1; l < m; ++l) cross(k, l);
    }
    for (std::uint32_t a : moved) atom_moved_[a] = 0;
    for (const DrawnSegment& g : segs) bond_moved_[g.bond] = 0;
    return total(trial_terms_, trial_crossings_.size());
}

}  // namespace quorix::depict
