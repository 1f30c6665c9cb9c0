#include "depict/arcs.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/numeric.hpp"
#include "depict/spring.hpp"

namespace quorix::depict {
namespace {

constexpr double TWO_PI = 2.0 * std::numbers::pi;

// The turning angle of m unit chords whose ends lie d apart.
std::optional<double> arc_step(std::size_t m, double d) {
    const double md = static_cast<double>(m);
    if (d < 1e-9) return TWO_PI / md;
    if (d >= md - 1e-12 || std::sin(md * 1e-12 / 2.0) / 5e-13 < d) return std::nullopt;
    double lo = 1e-12, hi = TWO_PI / md - 1e-12;
    for (int step = 0; step < 200; ++step) {
        const double mid = (lo + hi) / 2.0;
        if (std::sin(md * mid / 2.0) / std::sin(mid / 2.0) <= d) hi = mid;
        else lo = mid;
    }
    return (lo + hi) / 2.0;
}

struct ArcCandidate {
    std::vector<Point> points;
    double clearance = 0.0;
    std::int64_t clearance_key = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> point_key;
};

ArcCandidate arc_candidate(const PositionMap& placed, std::uint32_t a, std::uint32_t b, Point pa, Point pb,
                           Point centre, std::size_t k, double theta) {
    const double m = static_cast<double>(k + 1);
    const double sigma = length(centre + rotated(pa - centre, m * theta) - pb) >= 1e-6 ? -1.0 : 1.0;
    ArcCandidate c;
    for (std::size_t j = 1; j <= k; ++j)
        c.points.push_back(centre + rotated(pa - centre, static_cast<double>(j) * sigma * theta));
    c.clearance = placement_clearance(placed, a, b, c.points);
    c.clearance_key = core::saturating_cast<std::int64_t>(c.clearance * RESOLUTION);
    for (const Point& p : c.points)
        c.point_key.emplace_back(core::saturating_cast<std::int64_t>(p.x * RESOLUTION),
                                 core::saturating_cast<std::int64_t>(p.y * RESOLUTION));
    return c;
}

struct RingEntry {
    const chem::Ring* ring;
    std::vector<std::uint32_t> key;
    bool placed = false;
};

// Draws the undrawn runs of one ring's cyclic order; false when one fails. A
// run at position 0 reaches back across the end of the list first, and the
// scan ends with the first run that crosses the end.
bool place_ring_runs(std::span<const std::uint32_t> order, PositionMap& positions) {
    const std::size_t n = order.size();
    const auto placed = [&](std::size_t i) { return positions.contains(order[i % n]); };
    if (std::none_of(order.begin(), order.end(), [&](std::uint32_t x) { return positions.contains(x); }))
        return false;
    std::size_t i = 0;
    while (i < n) {
        if (placed(i)) {
            ++i;
            continue;
        }
        // Positions count from n upwards so that a run reaching back across the
        // end starts below n; a placed atom on the ring stops both extensions.
        std::size_t start = i + n;
        if (i == 0)
            while (!placed(start - 1)) --start;
        std::size_t end = i + n;
        while (!placed(end + 1)) ++end;
        const std::size_t run = end + 1 - start;
        const std::uint32_t a = order[(start - 1) % n], b = order[(end + 1) % n];
        auto points = place_arc(positions, a, b, run);
        if (!points) return false;
        for (std::size_t j = 0; j < run; ++j) positions[order[(start + j) % n]] = (*points)[j];
        const bool crossed_end = start < n || end >= 2 * n;
        if (crossed_end) break;
        i = end + 1 - n;
    }
    return true;
}

}  // namespace

std::optional<std::vector<Point>> place_arc(const PositionMap& placed, std::uint32_t a, std::uint32_t b,
                                            std::size_t run_length) {
    const Point pa = placed.at(a), pb = placed.at(b);
    const std::size_t m = run_length + 1;
    const double d = length(pb - pa);
    const auto theta = arc_step(m, d);
    if (!theta) return std::nullopt;
    const double md = static_cast<double>(m);
    const double radius = 1.0 / (2.0 * std::sin(*theta / 2.0));
    const double h = radius * std::cos(md * *theta / 2.0);
    const Point e = d > 1e-12 ? Point{(pb.x - pa.x) / d, (pb.y - pa.y) / d} : Point{1.0, 0.0};
    const Point mid = 0.5 * (pa + pb);
    const Point normal{-e.y, e.x};
    ArcCandidate first = arc_candidate(placed, a, b, pa, pb, mid + h * normal, run_length, *theta);
    ArcCandidate second = arc_candidate(placed, a, b, pa, pb, mid - h * normal, run_length, *theta);
    const bool second_wins = second.clearance_key > first.clearance_key ||
                             (second.clearance_key == first.clearance_key && second.point_key < first.point_key);
    ArcCandidate& won = second_wins ? second : first;
    if (won.clearance < 0.5) return std::nullopt;
    return std::move(won.points);
}

std::optional<PositionMap> arc_placement(std::span<const std::uint32_t> ranks,
                                         std::span<const chem::Ring* const> rings) {
    std::vector<RingEntry> sorted;
    for (const chem::Ring* r : rings) sorted.push_back({r, rank_sorted_atoms(ranks, r->atoms)});
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const RingEntry& x, const RingEntry& y) { return size_then_rank_less(x.key, y.key); });
    PositionMap positions;
    if (sorted.empty()) return positions;

    const std::vector<std::uint32_t> first = canonical_ring_order(sorted[0].ring->atoms, ranks);
    const double n = static_cast<double>(first.size());
    const double radius = 1.0 / (2.0 * std::sin(std::numbers::pi / n));
    for (std::size_t k = 0; k < first.size(); ++k) {
        const double angle = static_cast<double>(k) * TWO_PI / n;
        positions[first[k]] = {radius * std::cos(angle), radius * std::sin(angle)};
    }
    sorted[0].placed = true;

    for (std::size_t remaining = sorted.size() - 1; remaining > 0; --remaining) {
        RingEntry* chosen = nullptr;
        std::size_t chosen_placed = 0;
        for (RingEntry& entry : sorted) {
            if (entry.placed) continue;
            const std::size_t count = static_cast<std::size_t>(std::count_if(
                entry.ring->atoms.begin(), entry.ring->atoms.end(), [&](std::uint32_t x) { return positions.contains(x); }));
            const bool better = chosen == nullptr || count > chosen_placed ||
                                (count == chosen_placed && (entry.key.size() > chosen->key.size() ||
                                                            (entry.key.size() == chosen->key.size() && entry.key < chosen->key)));
            if (better) {
                chosen = &entry;
                chosen_placed = count;
            }
        }
        if (chosen_placed == 0) return std::nullopt;
        chosen->placed = true;
        if (!place_ring_runs(canonical_ring_order(chosen->ring->atoms, ranks), positions)) return std::nullopt;
    }
    for (const RingEntry& entry : sorted)
        for (std::uint32_t x : entry.ring->atoms)
            if (!positions.contains(x)) return std::nullopt;
    return positions;
}

}  // namespace quorix::depict
