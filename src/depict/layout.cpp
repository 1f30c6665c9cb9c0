#include "depict/layout.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "core/numeric.hpp"
#include "depict/stereo.hpp"

namespace quorix::depict {

double length(Point a) { return std::hypot(a.x, a.y); }

const Point& PositionMap::at(std::uint32_t atom) const {
    const std::size_t i = slot(atom);
    // The tree's own failure, which callers may already rely on.
    if (i == items_.size()) throw std::out_of_range("map::at");
    return items_[i].second;
}

Point rotated(Point v, double phi) { return rotated(v, std::cos(phi), std::sin(phi)); }

Point normalised(Point v) {
    const double l = length(v);
    return l >= EPSILON ? Point{v.x / l, v.y / l} : v;
}

std::vector<std::uint32_t> rank_sorted_atoms(std::span<const std::uint32_t> ranks,
                                             std::span<const std::uint32_t> atoms) {
    std::vector<std::uint32_t> out;
    out.reserve(atoms.size());
    for (std::uint32_t a : atoms) out.push_back(at(ranks, a));
    std::sort(out.begin(), out.end());
    return out;
}

std::tuple<std::uint32_t, std::uint32_t, std::uint32_t> bond_rank_key(const core::MolBuilder& mol,
                                                                      std::span<const std::uint32_t> ranks,
                                                                      std::uint32_t bond) {
    const core::Bond& b = at(mol.bonds, bond);
    const std::uint32_t r1 = at(ranks, b.begin), r2 = at(ranks, b.end);
    return {std::min(r1, r2), std::max(r1, r2), bond};
}

std::uint32_t lowest_rank(std::span<const std::uint32_t> ranks, std::span<const std::uint32_t> atoms) {
    std::uint32_t best = core::NONE;
    for (std::uint32_t a : atoms) best = std::min(best, at(ranks, a));
    return best;
}

std::int64_t crowding_score(const PositionMap& placed, std::span<const double> angles, Point origin) {
    if (angles.empty() || placed.empty()) return 0;
    double sum = 0.0;
    for (double theta : angles) {
        const Point c{origin.x + std::cos(theta), origin.y + std::sin(theta)};
        for (const auto& [atom, q] : placed) {
            const double d = length(c - q);
            sum += 1.0 / (d * d + 0.000001);
        }
    }
    return core::round_saturating<std::int64_t>(sum * RESOLUTION);
}

bool crowding_less(const PositionMap& placed, std::span<const double> first, std::span<const double> second,
                   Point origin, std::span<Point> first_ends, std::span<Point> second_ends) {
    const auto end_of = [&](double theta) { return Point{origin.x + std::cos(theta), origin.y + std::sin(theta)}; };
    const bool ends = first_ends.size() == first.size() && second_ends.size() == second.size();
    if (ends) {
        for (std::size_t k = 0; k < first.size(); ++k) first_ends[k] = end_of(first[k]);
        for (std::size_t k = 0; k < second.size(); ++k) second_ends[k] = end_of(second[k]);
    }
    const auto exact = [&] { return crowding_score(placed, first, origin) < crowding_score(placed, second, origin); };
    const std::size_t n = first.size();
    if (placed.empty() || n == 0 || n != second.size()) return exact();
    // Rough sums first: each distance squared as dx*dx + dy*dy rather than
    // through hypot, both lists side by side in one pass (the order of a rough
    // sum does not matter).
    double sum[2] = {0.0, 0.0};
    for (std::size_t k = 0; k < n; ++k) {
        const Point a = ends ? first_ends[k] : end_of(first[k]), b = ends ? second_ends[k] : end_of(second[k]);
        const double cx[2] = {a.x, b.x}, cy[2] = {a.y, b.y};
        for (const auto& [atom, q] : placed)
            for (int j = 0; j < 2; ++j) {
                const double dx = cx[j] - q.x, dy = cy[j] - q.y;
                sum[j] += 1.0 / (dx * dx + dy * dy + 0.000001);
            }
    }
    // Both ways take the same differences; per term they part only in the
    // squared distance (hypot is within an ulp, then squared: a few ulps, the
    // rough square two), so each term is within 8 units of roundoff (u = 2^-53)
    // of the true value and each sum of m positive terms within (m + 8) u of the
    // true sum. An exact sum and its rough one are then within about 2 (m + 8) u;
    // 1e-15 (m + 16), about 4.5 times that with room for the roundoff of the
    // bounds themselves, bounds it. A square that overflows or underflows errs
    // by less than 1e-300 absolute, nothing beside a sum of at least 1e-100.
    // Rounding is monotone, so each score lies between the rounded ends of its
    // interval; mostly those ends agree and the score is known.
    const double a = sum[0], b = sum[1];
    if (std::isfinite(a) && std::isfinite(b) && a >= 1e-100 && b >= 1e-100) {
        const double bound = 1e-15 * (static_cast<double>(n) * static_cast<double>(placed.size()) + 16.0);
        const auto score = [](double x) { return core::round_saturating<std::int64_t>(x * RESOLUTION); };
        const std::int64_t a_lo = score(a * (1.0 - bound)), a_hi = score(a * (1.0 + bound));
        const std::int64_t b_lo = score(b * (1.0 - bound)), b_hi = score(b * (1.0 + bound));
        if (a_hi < b_lo) return true;
        if (a_lo >= b_hi) return false;
    }
    return exact();
}

double placement_clearance(const PositionMap& placed, std::uint32_t ignore_a, std::uint32_t ignore_b,
                           std::span<const Point> candidates) {
    double best = LARGEST;
    auto consider = [&best](double d) {
        if (!std::isnan(d)) best = std::min(best, d);
    };
    for (std::size_t i = 0; i < candidates.size(); ++i)
        for (std::size_t j = i + 1; j < candidates.size(); ++j) consider(length(candidates[i] - candidates[j]));
    for (const Point& c : candidates)
        for (const auto& [atom, q] : placed)
            if (atom != ignore_a && atom != ignore_b) consider(length(c - q));
    return best;
}

bool stereo_drawn_intact(const core::MolBuilder& mol, const PositionMap& positions) {
    std::vector<Point> coords(mol.atoms.size());
    for (const auto& [atom, p] : positions) at(coords, atom) = p;
    const std::uint32_t nb = bond_count_u32(mol);
    for (std::uint32_t b = 0; b < nb; ++b) {
        const core::BondStereo s = mol.bonds[b].stereo;
        if (s != core::BondStereo::Cis && s != core::BondStereo::Trans) continue;
        if (drawn_double_bond_config(mol, coords, b) != static_cast<std::uint8_t>(s)) return false;
    }
    return true;
}

}  // namespace quorix::depict
