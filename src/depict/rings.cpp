#include "depict/rings.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>

#include "core/scratch.hpp"
#include "depict/spring.hpp"

namespace quorix::depict {
namespace {

struct SortedRing {
    const chem::Ring* ring;
    std::span<const std::uint32_t> key;  // its ranks, ascending
    std::size_t index;                   // in the record's order
};

// The working lists of a fused layout, kept warm: the rings in drawing order,
// their keys end to end, and which are drawn.
struct FusionLists {
    std::vector<SortedRing> sorted;
    std::vector<std::uint32_t> keys;
    std::vector<std::uint8_t> placed;
};

RingSystemLayout by_template(const core::MolBuilder& mol, const RingSystemRecord& record,
                             std::span<const std::uint32_t> ranks, std::span<const chem::Ring* const> rings,
                             const RingTemplate* extra) {
    TemplateResult t = place_ring_template(mol, record.atoms, ranks, rings, extra);
    return {std::move(t.positions), bridged_degradation(record.atoms, t.lookup)};
}

// The corners of the regular unit n-gon from angle 0 counter-clockwise.
void polygon_corners(std::size_t size, std::vector<Point>& out) {
    const double n = static_cast<double>(size);
    const double radius = 1.0 / (2.0 * std::sin(std::numbers::pi / n));
    const double step = 2.0 * std::numbers::pi / n;
    out.clear();
    out.reserve(size);
    for (std::size_t k = 0; k < size; ++k) {
        const double angle = static_cast<double>(k) * step;
        out.push_back({radius * std::cos(angle), radius * std::sin(angle)});
    }
}

// The turns by k steps of a regular n-gon's centre angle, counter-clockwise or
// clockwise, as (cosine, sine) of k x (+-2 pi / n).
void polygon_turns(std::size_t size, bool clockwise, std::vector<Point>& out) {
    const double n = static_cast<double>(size);
    const double step = clockwise ? -2.0 * std::numbers::pi / n : 2.0 * std::numbers::pi / n;
    out.clear();
    out.reserve(size);
    for (std::size_t k = 0; k < size; ++k) {
        const double phi = static_cast<double>(k) * step;
        out.push_back({std::cos(phi), std::sin(phi)});
    }
}

// Corners and turns kept per ring size up to KEPT: pure functions of the size,
// so whatever an earlier call left here is right. Larger rings are rare; theirs
// go into the spare lists each time. `order` is a working list.
struct Polygons {
    static constexpr std::size_t KEPT = 64;
    using BySize = std::vector<std::vector<Point>>;
    BySize by_size = BySize(KEPT + 1);
    BySize turns_by_size[2] = {BySize(KEPT + 1), BySize(KEPT + 1)};
    std::vector<Point> spare, spare_turns[2];
    std::vector<std::uint32_t> order;
    std::span<const Point> corners(std::size_t size) {
        std::vector<Point>& out = size <= KEPT ? by_size[size] : spare;
        if (size > KEPT || out.empty()) polygon_corners(size, out);
        return out;
    }
    std::span<const Point> turns(std::size_t size, bool clockwise) {
        std::vector<Point>& out = size <= KEPT ? turns_by_size[clockwise][size] : spare_turns[clockwise];
        if (size > KEPT || out.empty()) polygon_turns(size, clockwise, out);
        return out;
    }
};

void draw_first_ring(std::span<const std::uint32_t> ring, std::span<const std::uint32_t> ranks,
                     PositionMap& positions) {
    auto polygons = core::Scratch<Polygons>::borrow(ring.size());
    std::vector<std::uint32_t>& order = polygons->order;
    canonical_ring_order(ring, ranks, order);
    const std::span<const Point> corners = polygons->corners(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) positions[order[k]] = corners[k];
}

struct Fusion {
    std::size_t ring;
    std::uint32_t u, v;
};

// The unplaced ring that shares exactly one drawn edge, smallest (rank key,
// smaller shared rank) first; nothing when no ring qualifies.
std::optional<Fusion> next_fusion(std::span<const SortedRing> sorted, std::span<const std::uint8_t> placed,
                                  const PositionMap& positions, std::span<const std::uint32_t> ranks) {
    std::optional<Fusion> best;
    std::uint32_t best_edge_rank = 0;
    for (std::size_t r = 0; r < sorted.size(); ++r) {
        if (placed[r]) continue;
        const std::vector<std::uint32_t>& atoms = sorted[r].ring->atoms;
        const std::size_t n = atoms.size();
        std::size_t count = 0, first = 0, second = 0;
        for (std::size_t i = 0; i < n && count <= 2; ++i)
            if (positions.contains(atoms[i])) (count++ == 0 ? first : second) = i;
        if (count != 2) continue;
        if (!(second == first + 1 || (first == 0 && second == n - 1))) continue;
        std::uint32_t u = atoms[first], v = atoms[second];
        if (std::pair{at(ranks, v), v} < std::pair{at(ranks, u), u}) std::swap(u, v);
        const std::uint32_t edge_rank = std::min(ranks[u], ranks[v]);
        const std::span<const std::uint32_t> key = sorted[r].key;
        const auto best_key = [&] { return sorted[best->ring].key; };
        if (!best || std::ranges::lexicographical_compare(key, best_key()) ||
            (std::ranges::equal(key, best_key()) && edge_rank < best_edge_rank)) {
            best = Fusion{r, u, v};
            best_edge_rank = edge_rank;
        }
    }
    return best;
}

// The mean of the drawn points, summed in (rank, atom) order.
Point drawn_centroid(const PositionMap& positions, std::span<const std::uint32_t> ranks) {
    struct Ranked {
        std::uint32_t rank, atom;
        Point p;
    };
    auto lease = core::Scratch<std::vector<Ranked>>::borrow(positions.size());
    std::vector<Ranked>& order = *lease;
    order.clear();
    for (const auto& [atom, p] : positions) order.push_back({at(ranks, atom), atom, p});
    std::sort(order.begin(), order.end(), [](const Ranked& a, const Ranked& b) {
        return a.rank != b.rank ? a.rank < b.rank : a.atom < b.atom;
    });
    Point sum{};
    for (const Ranked& r : order) sum = sum + r.p;
    if (order.empty()) return sum;
    const double count = static_cast<double>(order.size());
    return {sum.x / count, sum.y / count};
}

void fuse_ring(std::span<const std::uint32_t> ring, std::uint32_t u, std::uint32_t v,
               std::span<const std::uint32_t> ranks, PositionMap& positions) {
    const std::size_t n = ring.size();
    const auto found = std::find(ring.begin(), ring.end(), u);
    if (found == ring.end()) internal_error("u 在环上");
    const std::size_t iu = static_cast<std::size_t>(found - ring.begin());
    const bool forward = ring[(iu + 1) % n] == v;
    auto polygons = core::Scratch<Polygons>::borrow(n);
    std::vector<std::uint32_t>& order = polygons->order;
    order.resize(n);
    for (std::size_t k = 0; k < n; ++k) order[k] = forward ? ring[(iu + k) % n] : ring[(iu + n - k) % n];

    const Point pu = positions.at(u), pv = positions.at(v);
    Point d = pv - pu;
    if (length(d) >= EPSILON) d = normalised(d);
    const Point mid = 0.5 * (pu + pv);
    const double nd = static_cast<double>(n);
    const double h = 1.0 / (2.0 * std::tan(std::numbers::pi / nd));
    const Point normal{-d.y, d.x};
    const Point c = drawn_centroid(positions, ranks);
    const double side = d.x * (c.y - mid.y) - d.y * (c.x - mid.x);
    const Point centre = side > 1e-9 ? mid - h * normal : mid + h * normal;
    // Turning by k steps of 2 pi / n, counter-clockwise unless one step does
    // not carry u onto v.
    const std::span<const Point> counter = polygons->turns(n, false);
    const bool clockwise = length(centre + rotated(pu - centre, counter[1].x, counter[1].y) - pv) >= 1e-6;
    const std::span<const Point> turns = clockwise ? polygons->turns(n, true) : counter;
    for (std::size_t k = 2; k < n; ++k)
        positions[order[k]] = centre + rotated(pu - centre, turns[k].x, turns[k].y);
}

}  // namespace

Degradation bridged_degradation(std::span<const std::uint32_t> atoms, TemplateLookup lookup) {
    std::vector<std::uint32_t> sorted(atoms.begin(), atoms.end());
    std::sort(sorted.begin(), sorted.end());
    return BridgedRingSystem{std::move(sorted), lookup};
}

RingSystemLayout layout_ring_system(const core::MolBuilder& mol, const RingSystemRecord& record,
                                    std::span<const std::uint32_t> ranks, const RingTemplate* extra) {
    if (record.rings.empty()) return by_template(mol, record, ranks, {}, extra);
    PositionMap positions;
    positions.reserve(record.atoms.size());
    // A lone ring is its own first ring: no keys to order or fuse by.
    if (record.rings.size() == 1) {
        draw_first_ring(record.rings[0]->atoms, ranks, positions);
        return {std::move(positions), std::nullopt};
    }
    auto lease = core::Scratch<FusionLists>::borrow(record.atoms.size());
    FusionLists& lists = *lease;
    // Each ring's key (rank_sorted_atoms), all in one list.
    std::vector<std::uint32_t>& keys = lists.keys;
    keys.clear();
    for (const chem::Ring* r : record.rings) {
        const std::size_t from = keys.size();
        for (std::uint32_t a : r->atoms) keys.push_back(at(ranks, a));
        std::sort(keys.begin() + static_cast<std::ptrdiff_t>(from), keys.end());
    }
    std::vector<SortedRing>& sorted = lists.sorted;
    sorted.clear();
    for (std::size_t i = 0, from = 0; i < record.rings.size(); from += record.rings[i]->atoms.size(), ++i)
        sorted.push_back({record.rings[i], std::span(keys).subspan(from, record.rings[i]->atoms.size()), i});
    // Stable: equal keys keep the record's order.
    std::sort(sorted.begin(), sorted.end(), [](const SortedRing& a, const SortedRing& b) {
        if (size_then_rank_less(a.key, b.key)) return true;
        if (size_then_rank_less(b.key, a.key)) return false;
        return a.index < b.index;
    });

    draw_first_ring(sorted[0].ring->atoms, ranks, positions);
    std::vector<std::uint8_t>& placed = lists.placed;
    placed.assign(sorted.size(), 0);
    placed[0] = 1;
    for (std::size_t done = 1; done < sorted.size(); ++done) {
        const auto fusion = next_fusion(sorted, placed, positions, ranks);
        if (!fusion) return by_template(mol, record, ranks, record.rings, extra);
        fuse_ring(sorted[fusion->ring].ring->atoms, fusion->u, fusion->v, ranks, positions);
        placed[fusion->ring] = 1;
    }
    return {std::move(positions), std::nullopt};
}

}  // namespace quorix::depict
