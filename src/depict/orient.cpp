#include "depict/orient.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "core/scratch.hpp"

namespace quorix::depict {
namespace {

// (x, y) by the IEEE total order: sums over points run in this order.
bool total_less(const Point& a, const Point& b) {
    const std::int64_t ax = total_order_key(a.x), bx = total_order_key(b.x);
    if (ax != bx) return ax < bx;
    return total_order_key(a.y) < total_order_key(b.y);
}

Point sum_in_total_order(std::span<Point> points) {
    std::sort(points.begin(), points.end(), total_less);
    Point s{};
    for (const Point& p : points) s = s + p;
    return s;
}

// From the attachment atom into the fragment.
Point reference_direction(const core::MolBuilder& mol, const PositionMap& fragment, std::uint32_t a, Point p) {
    auto lease = core::Scratch<std::vector<Point>>::borrow(fragment.size());
    std::vector<Point>& points = *lease;
    placed_neighbour_directions(mol, a, p, fragment, points);
    if (points.size() == 2) return sum_in_total_order(points);
    points.clear();
    for (const auto& [atom, q] : fragment) points.push_back(q);
    const Point s = sum_in_total_order(points);
    const double count = static_cast<double>(fragment.size());
    return Point{s.x / count, s.y / count} - p;
}

}  // namespace

HangingFragment::HangingFragment(const core::MolBuilder& mol, const PositionMap& fragment, std::uint32_t a)
    : fragment_(fragment) {
    const auto found = fragment.find(a);
    if (found == fragment.end()) internal_error("no entry found for key");
    p_ = found->second;
    const Point s = reference_direction(mol, fragment, a, p_);
    turns_ = length(s) >= 1e-9;
    reference_angle_ = turns_ ? std::atan2(s.y, s.x) : 0.0;
}

void HangingFragment::place(Point target, Point direction, bool mirror,
                            std::vector<std::pair<std::uint32_t, Point>>& out) const {
    place(target, direction, mirror ? nullptr : &out, mirror ? &out : nullptr);
}

void HangingFragment::place(Point target, Point direction, std::vector<std::pair<std::uint32_t, Point>>* plain,
                            std::vector<std::pair<std::uint32_t, Point>>* mirrored) const {
    const Point d = normalised(direction);
    const double phi = turns_ ? std::atan2(d.y, d.x) - reference_angle_ : 0.0;
    // rotated(v, phi), its cosine and sine taken once.
    const double c = std::cos(phi), s = std::sin(phi);
    for (auto* out : {plain, mirrored})
        if (out) {
            out->clear();
            out->reserve(fragment_.size());
        }
    for (const auto& [atom, q] : fragment_) {
        const Point v = q - p_;
        const Point q1 = target + Point{v.x * c - v.y * s, v.x * s + v.y * c};
        if (plain) plain->emplace_back(atom, q1);
        if (mirrored) {
            const Point r = q1 - target;
            mirrored->emplace_back(atom, target + (2.0 * dot(r, d)) * d - r);
        }
    }
}

PositionMap HangingFragment::placed(Point target, Point direction, bool mirror) const {
    auto lease = core::Scratch<std::vector<std::pair<std::uint32_t, Point>>>::borrow(fragment_.size());
    place(target, direction, mirror, *lease);
    PositionMap out;
    out.reserve(lease->size());
    for (const auto& [atom, q] : *lease) out.emplace(atom, q);
    return out;
}

std::pair<PositionMap, PositionMap> orient_fragment(const core::MolBuilder& mol, const PositionMap& fragment,
                                                    std::uint32_t a, Point target, Point direction) {
    const HangingFragment hanging(mol, fragment, a);
    return {hanging.placed(target, direction, false), hanging.placed(target, direction, true)};
}

OrientedScore best_orientation_score(const BondedPairs& bonded, std::span<const double> radii,
                                     const HangingFragment& fragment, std::span<const PlacedPoint> placed, Point from,
                                     Point to, std::span<const PlacedPoint> more) {
    using Points = std::vector<std::pair<std::uint32_t, Point>>;
    auto plain = core::Scratch<Points>::borrow(0), mirrored = core::Scratch<Points>::borrow(0);
    fragment.place(to, normalised(to - from), &*plain, &*mirrored);
    const PlacementScore s1 = placement_score(bonded, radii, *plain, placed, more);
    const PlacementScore s2 = placement_score(bonded, radii, *mirrored, placed, more);
    plain.set_size(plain->size());
    mirrored.set_size(mirrored->size());
    if (s2 < s1) return {s2, true};
    return {s1, false};
}

OrientedPlacement best_oriented_placement(const core::MolBuilder& mol, const BondedPairs& bonded,
                                          std::span<const double> radii, std::uint32_t atom,
                                          const PositionMap* fragment, std::span<const PlacedPoint> placed,
                                          Point from, Point to, std::span<const PlacedPoint> more) {
    if (fragment == nullptr) return {placement_score(bonded, radii, atom, to, placed, more), std::nullopt};
    const HangingFragment hanging(mol, *fragment, atom);
    const OrientedScore best = best_orientation_score(bonded, radii, hanging, placed, from, to, more);
    return {best.score, hanging.placed(to, normalised(to - from), best.mirror)};
}

void sort_points_3d(std::span<const std::array<double, 3>> points, std::span<const std::uint32_t> keys,
                    std::vector<std::uint32_t>& order) {
    order.resize(points.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        for (int k = 0; k < 3; ++k) {
            const std::int64_t ka = total_order_key(points[a][k]), kb = total_order_key(points[b][k]);
            if (ka != kb) return ka < kb;
        }
        if (!keys.empty() && keys[a] != keys[b]) return keys[a] < keys[b];
        return a < b;
    });
}

}  // namespace quorix::depict
