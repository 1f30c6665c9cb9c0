#include "depict/components.hpp"

#include <algorithm>
#include <cmath>
#include <map>

#include "core/scratch.hpp"
#include "depict/chains.hpp"
#include "depict/orient.hpp"
#include "depict/refine.hpp"
#include "depict/spring.hpp"

namespace quorix::depict {

namespace {
constexpr double DEG_TO_RAD = 0.017453292519943295;

struct TrialScore {
    double overlap;
    std::uint64_t crossings;
};

TrialScore score_trial(const core::MolBuilder& mol, const PositionMap& trial, const PlacementContext& ctx,
                       std::span<const std::pair<Point, Point>> segments) {
    std::vector<double> overlaps;
    for (const auto& [a, pa] : trial) {
        if (ctx.coords.contains(a)) continue;
        const double ra = at(ctx.radii, a);
        for (const auto& [b, pb] : ctx.coords) {
            if (ctx.bonded.contains(a, b)) continue;
            const double r = ra + at(ctx.radii, b);
            const Point v = pa - pb;
            if (!(std::fabs(v.x) < r && std::fabs(v.y) < r)) continue;  // never closer than a component
            const double d = length(v);
            if (d < r) overlaps.push_back((r - d) * (r - d));
        }
    }
    std::sort(overlaps.begin(), overlaps.end());
    double overlap = -0.0;
    for (double v : overlaps) overlap += v;
    std::uint64_t crossings = 0;
    for (const core::Bond& b : mol.bonds) {
        if (ctx.coords.contains(b.begin) && ctx.coords.contains(b.end)) continue;
        const auto pb = trial.find(b.begin), pe = trial.find(b.end);
        if (pb == trial.end() || pe == trial.end()) continue;
        for (const auto& [s, t] : segments)
            crossings += boxes_meet(s, t, pb->second, pe->second) && segments_cross(s, t, pb->second, pe->second);
    }
    return {overlap, crossings};
}

// The lists a component layout works in, kept warm from call to call.
struct GrowthLists {
    std::vector<std::uint32_t> systems_start, systems_list, fill, queue, unplaced_buffer;
    std::vector<std::uint8_t> placed_system, ring_atoms, drawn, taken, in_component;
    std::vector<Point> points;
    std::vector<PlacedPoint> placed;
    std::vector<BondSegment> segments;
    std::vector<std::vector<Point>> ring_polygons;
    std::vector<PlacementRecord> records;
    SideSigns sides;
};

// The working state of one component layout: its ring systems and which are
// placed, the growing coordinates (with flat mirrors for the chain steps), the
// side signs and the work queue. Nothing outlives the call.
struct Growth {
    Growth(const core::MolBuilder& m, std::span<const RingSystemRecord> s, std::span<const std::uint32_t> r,
           const Style2d& style, const RingTemplate* x, std::span<const double> label_radii, GrowthLists& w)
        : mol(m), systems(s), ranks(r), extra(x), chain_angle(style.chain_angle * DEG_TO_RAD),
          radii(label_radii), bonded(m), systems_start(w.systems_start),
          systems_list(w.systems_list), fill(w.fill), placed_system(w.placed_system), ring_atoms(w.ring_atoms),
          sides(w.sides), queue(w.queue), drawn(w.drawn), points(w.points), placed(w.placed), segments(w.segments),
          unplaced_buffer(w.unplaced_buffer), taken(w.taken), ring_polygons(w.ring_polygons), records(w.records) {
        placed_system.assign(s.size(), 0);
        ring_atoms.assign(m.atoms.size(), 0);
        drawn.assign(m.atoms.size(), 0);
        points.assign(m.atoms.size(), Point{});
        taken.assign(s.size(), 0);
        sides.reset(m.atoms.size());
        queue.clear();
        placed.clear();
        segments.clear();
        records.clear();
    }

    const core::MolBuilder& mol;
    std::span<const RingSystemRecord> systems;
    std::span<const std::uint32_t> ranks;
    const RingTemplate* extra;
    double chain_angle;
    std::span<const double> radii;
    BondedPairs bonded;
    // Ring systems by atom, flat: atom a's list is systems_list[systems_start[a] .. systems_start[a + 1]).
    std::vector<std::uint32_t>& systems_start;
    std::vector<std::uint32_t>& systems_list;
    std::vector<std::uint32_t>& fill;
    std::vector<std::uint8_t>& placed_system;
    std::vector<std::uint8_t>& ring_atoms;
    SideSigns& sides;
    // First in, first out: atoms are taken from queue_head on.
    std::vector<std::uint32_t>& queue;
    std::size_t queue_head = 0;
    ComponentLayout out;
    // Mirrors of `out.coords` kept in step with it: a drawn flag per atom, the
    // drawn atoms with their points, and the bonds with both ends drawn.
    std::vector<std::uint8_t>& drawn;
    std::vector<Point>& points;
    std::vector<PlacedPoint>& placed;
    std::vector<BondSegment>& segments;
    // Per-step scratch: the unplaced neighbours, the ring systems pre-laid in
    // this step (all clear between steps), the rings through the step's atom (the
    // first ring_count polygons) and the step's records.
    std::vector<std::uint32_t>& unplaced_buffer;
    std::vector<std::uint8_t>& taken;
    std::vector<std::vector<Point>>& ring_polygons;
    std::size_t ring_count = 0;
    std::vector<PlacementRecord>& records;

    bool is_drawn(std::uint32_t a) const { return a < drawn.size() && drawn[a]; }
    const Point& drawn_point(std::uint32_t a) const {
        if (!is_drawn(a)) internal_error("no entry found for key");
        return points[a];
    }
    // Sets the point of an atom that has none yet.
    void place(std::uint32_t a, Point p) {
        if (!out.coords.emplace(a, p).second) return;
        note_drawn(a, p);
    }
    void note_drawn(std::uint32_t a, Point p) {
        at(drawn, a) = 1;
        points[a] = p;
        placed.push_back({a, p.x, p.y});
        for (core::Neighbor nb : mol.neighbors(a))
            if (nb.atom != a && is_drawn(nb.atom)) segments.push_back({p, points[nb.atom]});
    }

    bool by_rank(std::uint32_t a, std::uint32_t b) const {
        return std::pair(at(ranks, a), a) < std::pair(at(ranks, b), b);
    }
    std::vector<std::uint32_t> sorted_by_rank(std::span<const std::uint32_t> atoms) const {
        std::vector<std::uint32_t> v(atoms.begin(), atoms.end());
        std::sort(v.begin(), v.end(), [&](std::uint32_t a, std::uint32_t b) { return by_rank(a, b); });
        return v;
    }
    // Lays a ring system out in its own frame and records its atoms as ring atoms.
    RingSystemLayout lay_out(std::uint32_t r, bool commit_degradation) {
        RingSystemLayout l = layout_ring_system(mol, at(systems, r), ranks, extra);
        if (commit_degradation && l.degradation) out.degraded.push_back(*l.degradation);
        return l;
    }
    void mark_ring_atoms(std::uint32_t r) {
        for (std::uint32_t a : systems[r].atoms) at(ring_atoms, a) = 1;
    }
    // A placed ring system's atoms join the queue by rank; new ones take `side`.
    void enqueue_system(std::uint32_t r, std::int8_t side) {
        placed_system[r] = 1;
        enqueue_by_rank(systems[r].atoms);
        for (std::size_t i = queue.size() - systems[r].atoms.size(); i < queue.size(); ++i)
            if (!sides.contains(queue[i])) sides[queue[i]] = side;
    }
    // Appends the atoms to the queue, ordered by rank there.
    void enqueue_by_rank(std::span<const std::uint32_t> atoms) {
        const std::size_t old = queue.size();
        queue.insert(queue.end(), atoms.begin(), atoms.end());
        std::sort(queue.begin() + static_cast<std::ptrdiff_t>(old), queue.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return by_rank(a, b); });
    }
    void merge(const PositionMap& placement) {
        for (const auto& [a, p] : placement) place(a, p);
    }
    bool has_unplaced_neighbour(std::uint32_t u) const {
        for (core::Neighbor nb : mol.neighbors(u))
            if (!is_drawn(nb.atom)) return true;
        return false;
    }
    // By rank, each once; into a buffer reused from step to step.
    std::span<const std::uint32_t> unplaced_neighbours(std::uint32_t u) {
        std::vector<std::uint32_t>& v = unplaced_buffer;
        v.clear();
        for (core::Neighbor nb : mol.neighbors(u))
            if (!is_drawn(nb.atom)) v.push_back(nb.atom);
        if (v.size() < 2) return v;
        std::sort(v.begin(), v.end(), [&](std::uint32_t a, std::uint32_t b) { return by_rank(a, b); });
        v.erase(std::unique(v.begin(), v.end()), v.end());
        return v;
    }
    std::span<const std::uint32_t> systems_at(std::uint32_t a) const {
        const std::uint32_t lo = at(systems_start, a), hi = systems_start[std::size_t(a) + 1];
        return {systems_list.data() + lo, systems_list.data() + hi};
    }
    // Each list ascending, because the systems are visited in ascending order.
    void index_systems(std::span<const std::uint32_t> comp_systems) {
        systems_start.assign(mol.atoms.size() + 1, 0);
        for (std::uint32_t r : comp_systems)
            for (std::uint32_t a : systems[r].atoms) ++at(systems_start, std::size_t(a) + 1);
        for (std::size_t i = 1; i < systems_start.size(); ++i) systems_start[i] += systems_start[i - 1];
        systems_list.assign(systems_start.back(), 0);
        fill.assign(systems_start.begin(), systems_start.end() - 1);
        for (std::uint32_t r : comp_systems)
            for (std::uint32_t a : systems[r].atoms) systems_list[fill[a]++] = r;
    }
    PositionMap attach(const RingSystemLayout& l, std::uint32_t anchor_atom, Point anchor,
                       std::span<const Point> dirs) {
        return place_attached_ring_system(anchor, mol, l.positions, anchor_atom, dirs,
                                          PlacementContext{out.coords, radii, bonded});
    }

    void seed(std::span<const std::uint32_t> component, std::span<const std::uint32_t> comp_systems);
    void spiro_step(std::uint32_t u, std::int8_t s);
    void grow_step(std::uint32_t u, std::span<const std::uint32_t> unplaced);
    void attach_at_bond(std::uint32_t u, std::uint32_t v);
};

void Growth::seed(std::span<const std::uint32_t> component, std::span<const std::uint32_t> comp_systems) {
    std::uint32_t start = 0;
    if (!comp_systems.empty()) {
        // The largest system, of equal ones the last with the least rank key;
        // keys are taken only for systems of the same size.
        std::uint32_t root = comp_systems[0];
        std::vector<std::uint32_t> root_key;
        bool root_keyed = false;
        for (std::uint32_t r : comp_systems.subspan(1)) {
            const std::size_t n = systems[r].atoms.size(), best_n = systems[root].atoms.size();
            if (n > best_n) {
                root = r;
                root_keyed = false;
                continue;
            }
            if (n < best_n) continue;
            if (!root_keyed) {
                root_key = rank_sorted_atoms(ranks, systems[root].atoms);
                root_keyed = true;
            }
            std::vector<std::uint32_t> key = rank_sorted_atoms(ranks, systems[r].atoms);
            if (key <= root_key) {
                root = r;
                root_key = std::move(key);
            }
        }
        if (systems[root].atoms.empty()) internal_error("环系统非空");
        const RingSystemLayout l = lay_out(root, true);
        mark_ring_atoms(root);
        for (const auto& [a, p] : l.positions) place(a, p);
        placed_system[root] = 1;
        const std::span<const std::uint32_t> root_atoms = systems[root].atoms;
        start = *std::min_element(root_atoms.begin(), root_atoms.end(),
                                  [&](std::uint32_t a, std::uint32_t b) { return by_rank(a, b); });
    } else {
        start = component[0];
        for (std::uint32_t a : component)
            if (at(ranks, a) < at(ranks, start)) start = a;
        place(start, Point{0.0, 0.0});
    }
    sides[start] = 1;
    const std::size_t old = queue.size();
    for (const auto& [a, p] : out.coords) queue.push_back(a);
    std::sort(queue.begin() + static_cast<std::ptrdiff_t>(old), queue.end(),
              [&](std::uint32_t a, std::uint32_t b) { return by_rank(a, b); });
}

void Growth::spiro_step(std::uint32_t u, std::int8_t s) {
    for (std::uint32_t r : systems_at(u)) {
        if (placed_system[r]) continue;
        const RingSystemLayout l = lay_out(r, true);
        mark_ring_atoms(r);
        const Point p = drawn_point(u);
        std::vector<std::uint32_t> atoms;
        for (const auto& [a, q] : out.coords) atoms.push_back(a);
        Point m{};
        for (std::uint32_t a : sorted_by_rank(atoms)) m = m + (points[a] - p);
        m = Point{m.x / double(atoms.size()), m.y / double(atoms.size())};
        const double len = length(m);
        const Point d = len >= 1e-9 ? Point{-m.x / len, -m.y / len} : Point{1.0, 0.0};
        static constexpr double TURNS[12] = {0, 30, -30, 60, -60, 90, -90, 120, -120, 150, -150, 180};
        Point dirs[12];
        for (int i = 0; i < 12; ++i) dirs[i] = rotated(d, TURNS[i] * DEG_TO_RAD);
        merge(attach(l, u, p, dirs));
        enqueue_system(r, static_cast<std::int8_t>(-s));
    }
}

void Growth::attach_at_bond(std::uint32_t u, std::uint32_t v) {
    for (std::uint32_t r : systems_at(v)) {
        if (placed_system[r]) continue;
        const RingSystemLayout l = lay_out(r, true);
        mark_ring_atoms(r);
        const Point pu = drawn_point(u), pv = drawn_point(v);
        const Point dir = normalised(pv - pu);
        merge(attach(l, v, pv, std::span(&dir, 1)));
        enqueue_system(r, side_of(sides, v));
    }
}

void Growth::grow_step(std::uint32_t u, std::span<const std::uint32_t> unplaced) {
    std::map<std::uint32_t, std::pair<std::uint32_t, RingSystemLayout>> pending;
    std::map<std::uint32_t, PositionMap> fragments;
    for (std::uint32_t v : unplaced)
        for (std::uint32_t r : systems_at(v)) {
            if (placed_system[r] || taken[r]) continue;
            taken[r] = 1;
            RingSystemLayout l = lay_out(r, false);
            // The pending entry is read later only for its system and degradation.
            fragments.emplace(v, std::move(l.positions));
            pending.emplace(v, std::pair(r, std::move(l)));
            break;
        }
    for (const auto& [v, entry] : pending) taken[entry.first] = 0;
    // A substituent of a ring atom must not be drawn into one of its rings.
    ring_count = 0;
    for (std::uint32_t r : systems_at(u)) {
        if (!placed_system[r]) continue;
        for (const chem::Ring* ring : systems[r].rings) {
            if (std::find(ring->atoms.begin(), ring->atoms.end(), u) == ring->atoms.end()) continue;
            if (ring_count == ring_polygons.size()) ring_polygons.emplace_back();
            std::vector<Point>& polygon = ring_polygons[ring_count++];
            polygon.clear();
            for (std::uint32_t a : ring->atoms) polygon.push_back(points[a]);
        }
    }
    const std::span<const std::vector<Point>> rings_at_u(ring_polygons.data(), ring_count);
    const ChainStep step{mol,      ranks,    out.coords, sides,      ring_atoms, bonded,   radii,  chain_angle,
                         unplaced, &fragments, rings_at_u, placed, segments,   drawn,  points};
    place_chain_neighbours(u, step, records);
    for (const PlacementRecord& rec : records) {
        const std::uint32_t v = rec.atom;
        if (is_drawn(v)) continue;
        commit_record(rec, out.coords, sides);
        note_drawn(v, rec.position);
        // commit_record gave an atom not drawn before its point in the fragment.
        for (const auto& [a, p] : rec.fragment)
            if (!is_drawn(a)) note_drawn(a, p);
        const auto it = pending.find(v);
        if (it != pending.end()) {
            if (rec.kind == 1) {
                const auto& [r, l] = it->second;
                if (l.degradation) out.degraded.push_back(*l.degradation);
                mark_ring_atoms(r);
                enqueue_system(r, side_of(sides, v));
            }
            pending.erase(it);
        }
        attach_at_bond(u, v);
        queue.push_back(v);
    }
}
}  // namespace

PositionMap place_attached_ring_system(Point anchor, const core::MolBuilder& mol, const PositionMap& layout,
                                       std::uint32_t anchor_atom, std::span<const Point> directions,
                                       const PlacementContext& ctx) {
    std::vector<std::pair<Point, Point>> segments;
    for (const core::Bond& b : mol.bonds) {
        const auto pb = ctx.coords.find(b.begin), pe = ctx.coords.find(b.end);
        if (pb != ctx.coords.end() && pe != ctx.coords.end()) segments.emplace_back(pb->second, pe->second);
    }
    PositionMap best;
    TrialScore best_score{};
    bool have = false;
    for (Point d : directions) {
        auto [plain, mirrored] = orient_fragment(mol, layout, anchor_atom, anchor, d);
        for (PositionMap* trial : {&plain, &mirrored}) {
            const TrialScore s = score_trial(mol, *trial, ctx, segments);
            if (!have || s.overlap < best_score.overlap - 1e-9 ||
                (s.overlap <= best_score.overlap + 1e-9 && s.crossings < best_score.crossings)) {
                have = true;
                best = std::move(*trial);
                best_score = s;
            }
            if (best_score.overlap == 0.0 && best_score.crossings == 0) return best;
        }
    }
    return best;
}

ComponentLayout layout_components(const core::MolBuilder& mol, std::span<const std::uint32_t> component,
                                  std::span<const RingSystemRecord> systems, std::span<const std::uint32_t> ranks,
                                  const Style2d& style, const RingTemplate* extra) {
    const std::vector<double> radii = label_radii(mol, style.bond_length, style.font_size);
    return layout_components(mol, component, systems, ranks, style, extra, radii);
}

ComponentLayout layout_components(const core::MolBuilder& mol, std::span<const std::uint32_t> component,
                                  std::span<const RingSystemRecord> systems, std::span<const std::uint32_t> ranks,
                                  const Style2d& style, const RingTemplate* extra, std::span<const double> radii) {
    if (component.empty()) internal_error("分量非空");
    if (radii.size() != mol.atoms.size()) internal_error("标签半径与原子数不符");
    auto lists = core::Scratch<GrowthLists>::borrow(mol.atoms.size());
    Growth g(mol, systems, ranks, style, extra, radii, *lists);
    std::vector<std::uint8_t>& in_component = lists->in_component;
    in_component.assign(mol.atoms.size(), 0);
    for (std::uint32_t a : component) at(in_component, a) = 1;
    std::vector<std::uint32_t> comp_systems;
    for (std::uint32_t r = 0; r < systems.size(); ++r)
        if (!systems[r].atoms.empty() && at(in_component, systems[r].atoms[0])) comp_systems.push_back(r);
    g.index_systems(comp_systems);
    g.out.coords.reserve(component.size());
    g.placed.reserve(component.size());
    g.segments.reserve(mol.bonds.size());

    g.seed(component, comp_systems);
    while (g.queue_head < g.queue.size()) {
        const std::uint32_t u = g.queue[g.queue_head++];
        if (!g.has_unplaced_neighbour(u)) continue;
        g.spiro_step(u, side_of(g.sides, u));
        const std::span<const std::uint32_t> unplaced = g.unplaced_neighbours(u);
        if (unplaced.empty()) continue;
        g.grow_step(u, unplaced);
    }
    return std::move(g.out);
}

}  // namespace quorix::depict
