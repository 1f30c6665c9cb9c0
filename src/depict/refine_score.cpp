// Label radii, clash pairs, crossing pairs and the layout score.
#include <algorithm>
#include <cmath>

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

// Above this many items the pair loops sweep along x instead of testing every pair.
constexpr std::size_t SWEEP_FROM = 64;

// Calls visit(i, j), i < j, for every pair of items whose x ranges [lo, hi]
// come within `gap` of each other (and possibly others): all pairs for small
// lists, a sweep along x for large ones. The visiting order is not fixed.
template <class V>
void candidate_pairs(std::span<const double> lo, std::span<const double> hi, double gap, V&& visit) {
    const std::size_t n = lo.size();
    if (n <= SWEEP_FROM) {
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j) visit(i, j);
        return;
    }
    std::vector<std::uint32_t> order(n);
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

// Calls f(a, b, d, reach) for every unbonded drawn pair closer than its radii
// sum, in (a, b) order. A pair whose x or y distance alone reaches the sum
// cannot clash, so most pairs are settled without a square root.
template <class F>
void for_each_clash(const core::MolBuilder& mol, const PositionMap& positions, std::span<const double> radii, F&& f) {
    std::vector<std::uint32_t> drawn;
    std::vector<Point> pts;
    std::vector<double> r, xs;
    drawn.reserve(positions.size());
    pts.reserve(positions.size());
    r.reserve(positions.size());
    double widest = 0.0;
    for (const auto& [a, p] : positions) {
        drawn.push_back(a);
        pts.push_back(p);
        xs.push_back(p.x);
        r.push_back(at(radii, a));
        widest = std::max(widest, r.back());
    }
    struct Hit {
        std::uint32_t i, j;
        double d, reach;
    };
    std::vector<Hit> hits;
    candidate_pairs(xs, xs, 2 * widest, [&](std::size_t i, std::size_t j) {
        const double reach = r[i] + r[j];
        const Point diff = pts[i] - pts[j];
        if (std::abs(diff.x) >= reach || std::abs(diff.y) >= reach) return;
        const double d = length(diff);
        if (d < reach && mol.bond_between(drawn[i], drawn[j]) == core::NONE)
            hits.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j), d, reach});
    });
    // Drawn atoms are ascending, so (i, j) order is (a, b) order.
    std::sort(hits.begin(), hits.end(), [](const Hit& x, const Hit& y) { return x.i != y.i ? x.i < y.i : x.j < y.j; });
    for (const Hit& h : hits) f(drawn[h.i], drawn[h.j], h.d, h.reach);
}

void drawn_segments(const core::MolBuilder& mol, const PositionMap& positions, std::vector<DrawnSegment>& out) {
    const std::uint32_t nb = bond_count_u32(mol);
    out.clear();
    out.reserve(nb);
    for (std::uint32_t b = 0; b < nb; ++b) {
        const auto pb = positions.find(mol.bonds[b].begin);
        if (pb == positions.end()) continue;
        const auto pe = positions.find(mol.bonds[b].end);
        if (pe != positions.end()) out.push_back({b, pb->second, pe->second});
    }
}

std::vector<DrawnSegment> drawn_segments(const core::MolBuilder& mol, const PositionMap& positions) {
    std::vector<DrawnSegment> out;
    drawn_segments(mol, positions, out);
    return out;
}

// Calls f(bond, bond) for every crossing pair, in ascending order.
template <class F>
void for_each_crossing(const std::vector<DrawnSegment>& segs, F&& f) {
    std::vector<double> lo(segs.size()), hi(segs.size());
    for (std::size_t i = 0; i < segs.size(); ++i) {
        lo[i] = std::min(segs[i].a.x, segs[i].b.x);
        hi[i] = std::max(segs[i].a.x, segs[i].b.x);
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> hits;
    candidate_pairs(lo, hi, 1e-8, [&](std::size_t i, std::size_t j) {
        if (boxes_meet(segs[i].a, segs[i].b, segs[j].a, segs[j].b) &&
            segments_cross(segs[i].a, segs[i].b, segs[j].a, segs[j].b))
            hits.emplace_back(static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j));
    });
    std::sort(hits.begin(), hits.end());
    for (const auto& [i, j] : hits) f(segs[i].bond, segs[j].bond);
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
        const LabelExtent first = label_extent(mol.atoms[i], true, scale);
        out[i] = std::max(out[i], std::hypot(plain.half_width, plain.half_height));
        // The two orders differ at most in the rounding of the width sum.
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
    std::vector<BondPair> out;
    for_each_crossing(drawn_segments(mol, positions), [&](std::uint32_t a, std::uint32_t b) { out.emplace_back(a, b); });
    return out;
}

Clashes find_clashes(const core::MolBuilder& mol, const PositionMap& positions, std::span<const double> radii) {
    Clashes out;
    for_each_clash(mol, positions, radii,
                   [&](std::uint32_t a, std::uint32_t b, double, double) { out.atoms.emplace_back(a, b); });
    out.crossings = find_crossings(mol, positions);
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
    LayoutScore s;
    for_each_clash(mol, positions, radii,
                   [&](std::uint32_t, std::uint32_t, double d, double reach) { add_clash(s, d, reach); });
    for_each_crossing(drawn_segments(mol, positions), [&](std::uint32_t, std::uint32_t) { ++s.crossings; });
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
    trial_terms_.clear();
    trial_crossings_.clear();
    for_each_clash(mol, positions, radii, [&](std::uint32_t a, std::uint32_t b, double d, double reach) {
        trial_terms_.push_back({a, b, d, reach});
    });
    for_each_crossing(drawn_segments(mol, positions),
                      [&](std::uint32_t a, std::uint32_t b) { trial_crossings_.emplace_back(a, b); });
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

    trial_terms_.clear();
    for (const Term& t : terms_)
        if (still(t.a) && still(t.b)) trial_terms_.push_back(t);
    // A pair of two moved atoms is measured once, from its lower atom.
    for (const auto& [a, pa] : positions) {
        if (still(a)) continue;
        for (const auto& [b, pb] : positions) {
            if (b == a || (!still(b) && b < a)) continue;
            const auto [lo, hi] = std::minmax(a, b);
            const Point diff = a < b ? pa - pb : pb - pa;
            const double reach = at(radii, lo) + at(radii, hi);
            if (std::abs(diff.x) >= reach || std::abs(diff.y) >= reach) continue;
            const double d = length(diff);
            if (d < reach && mol.bond_between(lo, hi) == core::NONE) trial_terms_.push_back({lo, hi, d, reach});
        }
    }
    std::sort(trial_terms_.begin(), trial_terms_.end(),
              [](const Term& x, const Term& y) { return x.a != y.a ? x.a < y.a : x.b < y.b; });

    std::vector<DrawnSegment>& segs = segments_;
    drawn_segments(mol, positions, segs);
    for (const DrawnSegment& g : segs)
        bond_moved_[g.bond] = !still(mol.bonds[g.bond].begin) || !still(mol.bonds[g.bond].end);
    trial_crossings_.clear();
    for (const BondPair& c : crossings_)
        if (!bond_moved_[c.first] && !bond_moved_[c.second]) trial_crossings_.push_back(c);
    // Segments run in ascending bond order: (i, j), i < j, is the pair's own order.
    for (std::size_t k = 0; k < segs.size(); ++k) {
        if (!bond_moved_[segs[k].bond]) continue;
        for (std::size_t l = 0; l < segs.size(); ++l) {
            if (l == k || (bond_moved_[segs[l].bond] && l < k)) continue;
            const DrawnSegment &x = segs[std::min(k, l)], &y = segs[std::max(k, l)];
            if (boxes_meet(x.a, x.b, y.a, y.b) && segments_cross(x.a, x.b, y.a, y.b))
                trial_crossings_.emplace_back(x.bond, y.bond);
        }
    }
    for (std::uint32_t a : moved) atom_moved_[a] = 0;
    for (const DrawnSegment& g : segs) bond_moved_[g.bond] = 0;
    return total(trial_terms_, trial_crossings_.size());
}

}  // namespace quorix::depict
