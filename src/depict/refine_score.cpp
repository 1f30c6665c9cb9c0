// Label radii, clash pairs, crossing pairs and the layout score.
#include <algorithm>
#include <cmath>

#include "core/scratch.hpp"

#include "depict/label.hpp"
#include "depict/double_bonds.hpp"
#include "depict/refine.hpp"
#include "depict/chains.hpp"
#include "depict/spring.hpp"

namespace quorix::depict {

namespace {
constexpr double MIN_RADIUS = 0.25;
constexpr double COINCIDENT = 0.05;

bool unlabelled_carbon(const core::MolBuilder& mol, std::uint32_t i) {
    const core::Atom& a = mol.atoms[i];
    return a.atomic_num == 6 && a.formal_charge == 0 && a.isotope == 0 && a.num_radical_electrons == 0 &&
           mol.degree[i] != 0;
}

// Calls f(a, b, d) for every unbonded drawn pair closer than its radii sum, in (a, b) order.
template <class F>
void for_each_clash(const core::MolBuilder& mol, const PositionMap& positions, std::span<const double> radii,
                    const BondedPairs& bonded, F&& f) {
    std::vector<std::uint32_t> drawn;
    std::vector<Point> pts;
    std::vector<double> r;
    drawn.reserve(positions.size());
    pts.reserve(positions.size());
    r.reserve(positions.size());
    for (const auto& [a, p] : positions) {
        drawn.push_back(a);
        pts.push_back(p);
        r.push_back(at(radii, a));
    }
    (void)mol;
    for (std::size_t i = 0; i < drawn.size(); ++i)
        for (std::size_t j = i + 1; j < drawn.size(); ++j) {
            // The distance is never below either component: far pairs skip hypot.
            const Point v = pts[i] - pts[j];
            const double reach = r[i] + r[j];
            if (!(std::fabs(v.x) < reach && std::fabs(v.y) < reach)) continue;
            const double d = length(v);
            if (d < reach && !bonded.contains(drawn[i], drawn[j])) f(drawn[i], drawn[j], d, reach);
        }
}

struct DrawnSegment {
    std::uint32_t bond;
    Point a, b;
};

std::vector<DrawnSegment> drawn_segments(const core::MolBuilder& mol, const PositionMap& positions) {
    std::vector<DrawnSegment> out;
    for (std::uint32_t b : drawn_bonds(mol, positions)) {
        const core::Bond& bond = mol.bonds[b];
        out.push_back({b, point_of(positions, bond.begin), point_of(positions, bond.end)});
    }
    return out;
}

// Calls f(i, j), i < j positions in `segs`, for every crossing pair, in no
// particular order: a sweep along x tests only segments whose x ranges meet
// (segments_cross refuses every other pair).
template <class F>
void for_each_crossing(const std::vector<DrawnSegment>& segs, F&& f) {
    const std::size_t n = segs.size();
    if (n < 2) return;
    auto lease = core::Scratch<std::vector<std::pair<double, std::uint32_t>>>::borrow(n);
    std::vector<std::pair<double, std::uint32_t>>& by_x = *lease;
    by_x.clear();
    for (std::uint32_t i = 0; i < n; ++i) by_x.emplace_back(std::min(segs[i].a.x, segs[i].b.x), i);
    // NaN coordinates would break the sweep's order: test every pair then.
    const bool finite = std::all_of(by_x.begin(), by_x.end(), [](const auto& e) { return e.first == e.first; });
    if (!finite) {
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j)
                if (segments_cross(segs[i].a, segs[i].b, segs[j].a, segs[j].b)) f(i, j);
        return;
    }
    std::sort(by_x.begin(), by_x.end());
    for (std::size_t k = 0; k < n; ++k) {
        const DrawnSegment& s = segs[by_x[k].second];
        const double right = std::max(s.a.x, s.b.x) + 1e-8;
        for (std::size_t m = k + 1; m < n && by_x[m].first <= right; ++m) {
            const std::uint32_t i = std::min(by_x[k].second, by_x[m].second);
            const std::uint32_t j = std::max(by_x[k].second, by_x[m].second);
            if (segments_cross(segs[i].a, segs[i].b, segs[j].a, segs[j].b)) f(i, j);
        }
    }
}
}  // namespace

const Point& point_of(const PositionMap& positions, std::uint32_t atom) {
    const auto it = positions.find(atom);
    if (it == positions.end()) internal_error("no entry found for key");
    return it->second;
}

std::vector<double> label_radii(const core::MolBuilder& mol, double bond_length, double font_size) {
    if (mol.atoms.size() > 0xFFFFFFFFull) internal_error("原子数超出 u32");
    const auto n = static_cast<std::uint32_t>(mol.atoms.size());
    std::vector<double> out(n, MIN_RADIUS);
    for (std::uint32_t i = 0; i < n; ++i) {
        if (unlabelled_carbon(mol, i)) continue;
        for (bool hydrogens_first : {false, true}) {
            const AtomLabel label = atom_label(mol.atoms, i, hydrogens_first, bond_length, font_size);
            out[i] = std::max(out[i], std::hypot(label.half_width, label.half_height));
        }
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
    const std::vector<DrawnSegment> segs = drawn_segments(mol, positions);
    std::vector<BondPair> out;
    for_each_crossing(segs, [&](std::size_t i, std::size_t j) { out.emplace_back(segs[i].bond, segs[j].bond); });
    std::sort(out.begin(), out.end());  // segments are in ascending bond order
    return out;
}

Clashes find_clashes(const core::MolBuilder& mol, const PositionMap& positions, std::span<const double> radii) {
    Clashes out;
    const BondedPairs bonded(mol);
    for_each_clash(mol, positions, radii, bonded,
                   [&](std::uint32_t a, std::uint32_t b, double, double) { out.atoms.emplace_back(a, b); });
    out.crossings = find_crossings(mol, positions);
    return out;
}

LayoutScore layout_score(const core::MolBuilder& mol, const PositionMap& positions, std::span<const double> radii) {
    LayoutScore s;
    const BondedPairs bonded(mol);
    for_each_clash(mol, positions, radii, bonded, [&](std::uint32_t, std::uint32_t, double d, double reach) {
        if (d < COINCIDENT) ++s.coincident;
        const double over = std::max(0.0, reach - d);
        s.penalty += over * over;
    });
    for_each_crossing(drawn_segments(mol, positions), [&](std::size_t, std::size_t) { ++s.crossings; });
    return s;
}

}  // namespace quorix::depict
