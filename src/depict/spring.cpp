#include "depict/spring.hpp"

#include <algorithm>
#include <cmath>
#include <deque>
#include <numbers>
#include <tuple>

#include "core/numeric.hpp"

namespace quorix::depict {
namespace {

constexpr double TWO_PI = 2.0 * std::numbers::pi;
constexpr double REPULSION_RANGE = 1.2;
// Above this many atoms the repulsion looks only at nearby pairs through a grid.
constexpr std::size_t GRID_THRESHOLD = 64;

// Pairs that may lie closer than the repulsion range, found through a grid of
// cells one range wide. For each i the partners j > i come ascending, so the
// displacements add up in exactly the order of the all-pairs loop and the
// result is bit for bit the same; pairs left out are exactly those the loop
// would skip (a distance that is not finite never repels).
class NearPairs {
public:
    void build(std::span<const Point> p) {
        cells_.clear();
        for (std::uint32_t i = 0; i < p.size(); ++i) cells_.push_back({cell(p[i].x), cell(p[i].y), i});
        std::sort(cells_.begin(), cells_.end());
        points_ = p;
    }
    const std::vector<std::uint32_t>& partners(std::size_t i) {
        found_.clear();
        const std::int64_t cx = cell(points_[i].x), cy = cell(points_[i].y);
        for (std::int64_t dx = -1; dx <= 1; ++dx)
            for (std::int64_t dy = -1; dy <= 1; ++dy) {
                const Entry lo{cx + dx, cy + dy, 0}, hi{cx + dx, cy + dy, core::NONE};
                for (auto it = std::lower_bound(cells_.begin(), cells_.end(), lo);
                     it != cells_.end() && !(hi < *it); ++it)
                    if (it->index > i) found_.push_back(it->index);
            }
        std::sort(found_.begin(), found_.end());
        found_.erase(std::unique(found_.begin(), found_.end()), found_.end());
        return found_;
    }

private:
    struct Entry {
        std::int64_t x, y;
        std::uint32_t index;
        auto operator<=>(const Entry&) const = default;
    };
    // Clamped well inside the integer range so that the neighbouring cells of a
    // point that ran off to infinity can still be named.
    static std::int64_t cell(double v) {
        constexpr double limit = 4611686018427387904.0;  // 2^62
        return core::saturating_cast<std::int64_t>(std::clamp(std::floor(v / REPULSION_RANGE), -limit, limit));
    }
    std::vector<Entry> cells_;
    std::vector<std::uint32_t> found_;
    std::span<const Point> points_;
};

struct SeedScore {
    std::uint64_t crossings = 0;
    std::int64_t worst_bond_error = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> rounded;
    auto operator<=>(const SeedScore&) const = default;
};

std::int64_t truncated(double v) { return core::saturating_cast<std::int64_t>(v * RESOLUTION); }

// The local order: atoms ascending by (rank, index).
std::vector<std::uint32_t> local_order(std::span<const std::uint32_t> atoms, std::span<const std::uint32_t> ranks) {
    std::vector<std::uint32_t> order(atoms.begin(), atoms.end());
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return std::pair{at(ranks, a), a} < std::pair{at(ranks, b), b};
    });
    return order;
}

void place_on_circle(std::span<const std::uint32_t> order, std::vector<Point>& out) {
    const double n = static_cast<double>(order.size());
    const double r = n / TWO_PI;
    for (std::size_t j = 0; j < order.size(); ++j) {
        const double angle = TWO_PI * static_cast<double>(j) / n;
        out[order[j]] = {r * std::cos(angle), r * std::sin(angle)};
    }
}

std::vector<std::uint32_t> breadth_first_order(std::size_t n, std::span<const std::pair<std::uint32_t, std::uint32_t>> edges) {
    std::vector<std::vector<std::uint32_t>> adjacent(n);
    for (const auto& [a, b] : edges) {
        adjacent[a].push_back(b);
        adjacent[b].push_back(a);
    }
    for (auto& list : adjacent) std::sort(list.begin(), list.end());
    std::vector<std::uint8_t> seen(n, 0);
    std::vector<std::uint32_t> order;
    order.reserve(n);
    std::deque<std::uint32_t> queue;
    for (std::uint32_t start = 0; start < n; ++start) {
        if (seen[start]) continue;
        seen[start] = 1;
        queue.push_back(start);
        while (!queue.empty()) {
            const std::uint32_t a = queue.front();
            queue.pop_front();
            order.push_back(a);
            for (std::uint32_t b : adjacent[a])
                if (!seen[b]) {
                    seen[b] = 1;
                    queue.push_back(b);
                }
        }
    }
    return order;
}

// The largest ring lying wholly in the system, smaller rank key on a tie.
const chem::Ring* seed_ring(std::span<const chem::Ring* const> rings, const std::map<std::uint32_t, std::uint32_t>& local,
                            std::span<const std::uint32_t> ranks) {
    const chem::Ring* best = nullptr;
    std::vector<std::uint32_t> best_key;
    for (const chem::Ring* ring : rings) {
        const bool inside = std::all_of(ring->atoms.begin(), ring->atoms.end(),
                                        [&](std::uint32_t a) { return local.contains(a); });
        if (!inside) continue;
        std::vector<std::uint32_t> key = rank_sorted_atoms(ranks, ring->atoms);
        if (best == nullptr || ring->atoms.size() > best->atoms.size() ||
            (ring->atoms.size() == best->atoms.size() && key < best_key)) {
            best = ring;
            best_key = std::move(key);
        }
    }
    return best;
}

// Seed 4: the seed ring as a polygon, then atoms grown outwards one bond from
// their anchors, away from the centroid of what is drawn.
void grow_from_ring(const core::MolBuilder& mol, const chem::Ring& ring, std::span<const std::uint32_t> order,
                    const std::map<std::uint32_t, std::uint32_t>& local, std::span<const std::uint32_t> ranks,
                    std::vector<Point>& out) {
    const std::size_t n = order.size();
    std::vector<std::uint8_t> placed(n, 0);
    const std::vector<std::uint32_t> cyclic = canonical_ring_order(ring.atoms, ranks);
    const double r_count = static_cast<double>(cyclic.size());
    const double radius = 1.0 / (2.0 * std::sin(std::numbers::pi / r_count));
    for (std::size_t k = 0; k < cyclic.size(); ++k) {
        const double angle = TWO_PI * static_cast<double>(k) / r_count;
        const std::uint32_t l = local.at(cyclic[k]);
        out[l] = {radius * std::cos(angle), radius * std::sin(angle)};
        placed[l] = 1;
    }
    for (;;) {
        std::uint32_t next = core::NONE, anchor = core::NONE;
        for (std::uint32_t l = 0; l < n && next == core::NONE; ++l) {
            if (placed[l]) continue;
            std::tuple<std::uint32_t, std::uint32_t, std::uint32_t> best{core::NONE, core::NONE, core::NONE};
            for (const core::Neighbor nb : mol.neighbors(order[l])) {
                const auto it = local.find(nb.atom);
                if (it == local.end() || !placed[it->second]) continue;
                best = std::min(best, std::tuple{at(ranks, nb.atom), nb.atom, it->second});
            }
            if (std::get<2>(best) != core::NONE) {
                next = l;
                anchor = std::get<2>(best);
            }
        }
        if (next == core::NONE) break;
        Point g{};
        std::size_t count = 0;
        for (std::uint32_t l = 0; l < n; ++l)
            if (placed[l]) {
                g = g + out[l];
                ++count;
            }
        const double divisor = static_cast<double>(std::max<std::size_t>(count, 1));
        const Point w = normalised(out[anchor] - Point{g.x / divisor, g.y / divisor});
        const double phi = length(w) >= 1e-9 ? std::atan2(w.y, w.x) : 0.0;
        out[next] = out[anchor] + Point{std::cos(phi), std::sin(phi)};
        placed[next] = 1;
    }
    const double nd = static_cast<double>(n);
    for (std::uint32_t l = 0; l < n; ++l)
        if (!placed[l]) {
            const double angle = TWO_PI * static_cast<double>(l) / nd;
            out[l] = {nd * std::cos(angle), nd * std::sin(angle)};
        }
}

std::vector<Point> starting_positions(int seed, const core::MolBuilder& mol, std::span<const std::uint32_t> order,
                                      const std::map<std::uint32_t, std::uint32_t>& local,
                                      std::span<const std::pair<std::uint32_t, std::uint32_t>> edges,
                                      std::span<const std::uint32_t> ranks, const chem::Ring* ring) {
    const std::size_t n = order.size();
    std::vector<Point> out(n);
    std::vector<std::uint32_t> sequence(n);
    for (std::uint32_t j = 0; j < n; ++j) sequence[j] = j;
    switch (seed) {
        case 1: std::reverse(sequence.begin(), sequence.end()); break;
        case 2: sequence = breadth_first_order(n, edges); break;
        case 3:
            std::stable_partition(sequence.begin(), sequence.end(), [](std::uint32_t j) { return j % 2 == 0; });
            break;
        case 4:
            if (ring != nullptr) {
                grow_from_ring(mol, *ring, order, local, ranks, out);
                return out;
            }
            break;
        default: break;
    }
    place_on_circle(sequence, out);
    return out;
}

SeedScore score_layout(const core::MolBuilder& mol, const PositionMap& layout, std::span<const std::uint32_t> ranks) {
    std::vector<std::pair<Point, Point>> segments;
    for (const core::Bond& b : mol.bonds) {
        const auto p = layout.find(b.begin), q = layout.find(b.end);
        if (p != layout.end() && q != layout.end()) segments.emplace_back(p->second, q->second);
    }
    SeedScore score;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        for (std::size_t j = i + 1; j < segments.size(); ++j)
            if (segments_cross(segments[i].first, segments[i].second, segments[j].first, segments[j].second))
                ++score.crossings;
        score.worst_bond_error = std::max(
            score.worst_bond_error, truncated(std::fabs(length(segments[i].second - segments[i].first) - 1.0)));
    }
    std::vector<std::pair<std::uint32_t, Point>> by_rank;
    by_rank.reserve(layout.size());
    for (const auto& [atom, p] : layout) by_rank.emplace_back(at(ranks, atom), p);
    std::sort(by_rank.begin(), by_rank.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [rank, p] : by_rank) score.rounded.emplace_back(truncated(p.x), truncated(p.y));
    return score;
}

}  // namespace

std::vector<std::uint32_t> canonical_ring_order(std::span<const std::uint32_t> ring,
                                                std::span<const std::uint32_t> ranks) {
    std::vector<std::uint32_t> out;
    canonical_ring_order(ring, ranks, out);
    return out;
}

void canonical_ring_order(std::span<const std::uint32_t> ring, std::span<const std::uint32_t> ranks,
                          std::vector<std::uint32_t>& out) {
    if (ring.empty()) internal_error("环非空");
    const std::size_t n = ring.size();
    std::size_t start = 0;
    for (std::size_t i = 1; i < n; ++i)
        if (std::pair{at(ranks, ring[i]), ring[i]} < std::pair{at(ranks, ring[start]), ring[start]}) start = i;
    // The way round whose ranks are smaller at the first place the two differ
    // (forward on a tie); only that one is written out.
    const auto forward_at = [&](std::size_t k) { return ring[(start + k) % n]; };
    const auto backward_at = [&](std::size_t k) { return ring[(start + n - k) % n]; };
    bool backward = false;
    for (std::size_t k = 1; k < n; ++k) {
        const std::uint32_t f = ranks[forward_at(k)], b = ranks[backward_at(k)];
        if (b != f) {
            backward = b < f;
            break;
        }
    }
    out.resize(n);
    for (std::size_t k = 0; k < n; ++k) out[k] = backward ? backward_at(k) : forward_at(k);
}

bool segments_cross(Point p1, Point p2, Point p3, Point p4) {
    constexpr double eps = 1e-9;
    // hypot is never below the larger component: only near pairs need it.
    const auto near = [](Point d) { return std::fabs(d.x) < eps && std::fabs(d.y) < eps && length(d) < eps; };
    if (near(p1 - p3) || near(p1 - p4) || near(p2 - p3) || near(p2 - p4)) return false;
    const double d1 = cross(p4 - p3, p1 - p3), d2 = cross(p4 - p3, p2 - p3);
    const double d3 = cross(p2 - p1, p3 - p1), d4 = cross(p2 - p1, p4 - p1);
    const auto opposite = [](double a, double b) { return (a > eps && b < -eps) || (a < -eps && b > eps); };
    if (opposite(d1, d2) && opposite(d3, d4)) return true;
    const auto in_box = [](Point p, Point a, Point b) {
        return p.x >= std::min(a.x, b.x) - eps && p.x <= std::max(a.x, b.x) + eps &&
               p.y >= std::min(a.y, b.y) - eps && p.y <= std::max(a.y, b.y) + eps;
    };
    return (std::fabs(d1) < eps && in_box(p1, p3, p4)) || (std::fabs(d2) < eps && in_box(p2, p3, p4)) ||
           (std::fabs(d3) < eps && in_box(p3, p1, p2)) || (std::fabs(d4) < eps && in_box(p4, p1, p2));
}

PositionMap relax_layout(std::vector<Point>& p, std::size_t n,
                         std::span<const std::pair<std::uint32_t, std::uint32_t>> edges,
                         std::span<const std::uint32_t> local_to_atom) {
    if (p.size() < n) internal_error("下标越界");
    std::vector<Point> shift(n);
    NearPairs near;
    for (int iteration = 0; iteration < RELAX_ITERATIONS; ++iteration) {
        std::fill(shift.begin(), shift.end(), Point{});
        for (const auto& [a, b] : edges) {
            const Point delta = at(p, b) - at(p, a);
            const double l = length(delta);
            const Point e = l >= EPSILON ? Point{delta.x / l, delta.y / l} : delta;
            const double f = (std::max(l, 1e-6) - 1.0) * 0.35;
            shift[a] = shift[a] + f * e;
            shift[b] = shift[b] - f * e;
        }
        const auto push_apart = [&](std::size_t i, std::size_t j) {
            const Point delta = p[j] - p[i];
            // Never closer than either component: far pairs skip hypot.
            if (!(std::fabs(delta.x) < REPULSION_RANGE && std::fabs(delta.y) < REPULSION_RANGE)) return;
            const double l = length(delta);
            const double l1 = std::max(l, 1e-6);
            if (!(l1 < REPULSION_RANGE)) return;
            const Point e = l >= EPSILON ? Point{delta.x / l, delta.y / l} : delta;
            const double g = (REPULSION_RANGE - l1) * 0.25;
            shift[i] = shift[i] - g * e;
            shift[j] = shift[j] + g * e;
        };
        if (n <= GRID_THRESHOLD) {
            for (std::size_t i = 0; i < n; ++i)
                for (std::size_t j = i + 1; j < n; ++j) push_apart(i, j);
        } else {
            near.build(std::span<const Point>(p.data(), n));
            for (std::size_t i = 0; i < n; ++i)
                for (std::uint32_t j : near.partners(i)) push_apart(i, j);
        }
        for (std::size_t i = 0; i < n; ++i) p[i] = p[i] + shift[i];
    }
    PositionMap out;
    for (std::size_t i = 0; i < n && i < local_to_atom.size(); ++i) out[local_to_atom[i]] = p[i];
    return out;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> system_edges(const core::MolBuilder& mol,
                                                                  const std::map<std::uint32_t, std::uint32_t>& local) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
    for (const core::Bond& b : mol.bonds) {
        const auto p = local.find(b.begin), q = local.find(b.end);
        if (p != local.end() && q != local.end()) edges.emplace_back(p->second, q->second);
    }
    return edges;
}

PositionMap seeded_spring_layout(const core::MolBuilder& mol, std::span<const std::uint32_t> atoms,
                                 std::span<const std::uint32_t> ranks,
                                 std::span<const chem::Ring* const> rings) {
    const std::vector<std::uint32_t> order = local_order(atoms, ranks);
    std::map<std::uint32_t, std::uint32_t> local;
    for (std::uint32_t l = 0; l < order.size(); ++l) local.emplace(order[l], l);
    const auto edges = system_edges(mol, local);
    const chem::Ring* ring = seed_ring(rings, local, ranks);

    std::optional<std::pair<SeedScore, PositionMap>> kept;
    for (int seed = 0; seed < SEEDS; ++seed) {
        std::vector<Point> start = starting_positions(seed, mol, order, local, edges, ranks, ring);
        PositionMap relaxed = relax_layout(start, order.size(), edges, order);
        SeedScore score = score_layout(mol, relaxed, ranks);
        if (!kept || score < kept->first) kept.emplace(std::move(score), std::move(relaxed));
    }
    if (!kept) internal_error("SEEDS 至少为 1");
    return std::move(kept->second);
}

}  // namespace quorix::depict
