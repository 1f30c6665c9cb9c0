#include "depict/orient.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

namespace quorix::depict {
namespace {

// (x, y) by the IEEE total order: sums over points run in this order.
bool total_less(const Point& a, const Point& b) {
    const std::int64_t ax = total_order_key(a.x), bx = total_order_key(b.x);
    if (ax != bx) return ax < bx;
    return total_order_key(a.y) < total_order_key(b.y);
}

Point sum_in_total_order(std::vector<Point> points) {
    std::sort(points.begin(), points.end(), total_less);
    Point s{};
    for (const Point& p : points) s = s + p;
    return s;
}

// From the attachment atom into the fragment.
Point reference_direction(const core::MolBuilder& mol, const PositionMap& fragment, std::uint32_t a, Point p) {
    std::vector<Point> towards = placed_neighbour_directions(mol, a, p, fragment);
    if (towards.size() == 2) return sum_in_total_order(std::move(towards));
    std::vector<Point> all;
    all.reserve(fragment.size());
    for (const auto& [atom, q] : fragment) all.push_back(q);
    const Point s = sum_in_total_order(std::move(all));
    const double count = static_cast<double>(fragment.size());
    return Point{s.x / count, s.y / count} - p;
}

}  // namespace

std::pair<PositionMap, PositionMap> orient_fragment(const core::MolBuilder& mol, const PositionMap& fragment,
                                                    std::uint32_t a, Point target, Point direction) {
    const auto found = fragment.find(a);
    if (found == fragment.end()) internal_error("no entry found for key");
    const Point p = found->second;
    const Point s = reference_direction(mol, fragment, a, p);
    const Point d = normalised(direction);
    const double phi = length(s) >= 1e-9 ? std::atan2(d.y, d.x) - std::atan2(s.y, s.x) : 0.0;
    PositionMap turned, mirrored;
    for (const auto& [atom, q] : fragment) {
        const Point q1 = target + rotated(q - p, phi);
        turned.emplace_hint(turned.end(), atom, q1);
        const Point r = q1 - target;
        mirrored.emplace_hint(mirrored.end(), atom, target + (2.0 * dot(r, d)) * d - r);
    }
    return {std::move(turned), std::move(mirrored)};
}

OrientedPlacement best_oriented_placement(const core::MolBuilder& mol, const BondedPairs& bonded,
                                          std::span<const double> radii, std::uint32_t atom,
                                          const PositionMap* fragment, std::span<const PlacedPoint> placed,
                                          Point from, Point to, std::span<const PlacedPoint> more) {
    if (fragment == nullptr) {
        const PositionMap lone{{atom, to}};
        return {placement_score(bonded, radii, lone, placed, more), std::nullopt};
    }
    auto [first, second] = orient_fragment(mol, *fragment, atom, to, normalised(to - from));
    const PlacementScore s1 = placement_score(bonded, radii, first, placed, more);
    const PlacementScore s2 = placement_score(bonded, radii, second, placed, more);
    if (s2 < s1) return {s2, std::move(second)};
    return {s1, std::move(first)};
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
