#include "depict/chains.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>

#include "core/numeric.hpp"
#include "core/scratch.hpp"
#include "depict/orient.hpp"
#include "depict/refine.hpp"
#include "depict/spring.hpp"

namespace quorix::depict {

bool BondedPairs::contains(std::uint32_t a, std::uint32_t b) const { return mol_->bond_between(a, b) != core::NONE; }

namespace {
template <class Proposal>
PlacementScore score_proposal(const BondedPairs& bonded, std::span<const double> radii, const Proposal& proposal,
                              std::span<const PlacedPoint> placed, std::span<const PlacedPoint> more) {
    if (proposal.empty() || (placed.empty() && more.empty())) return {0, 0};
    std::uint64_t near = 0;
    // Scored for every candidate direction of every chain atom, and mostly with
    // no or few overlaps: those stay on the stack, more go to a warm list.
    constexpr std::size_t FEW = 16;
    double few[FEW];
    std::size_t count = 0;
    std::optional<core::Scratch<std::vector<double>>::Lease> lease;
    const auto add_overlap = [&](double o) {
        if (count < FEW) {
            few[count++] = o;
            return;
        }
        if (!lease) {
            lease.emplace(core::Scratch<std::vector<double>>::borrow(placed.size() + more.size()));
            (*lease)->assign(few, few + FEW);
        }
        (*lease)->push_back(o);
    };
    // A drawn point farther from the proposal's box than the largest limit it
    // can have with any proposed atom is past every pair test below (the
    // differences only grow beyond the box's edge); such points are passed over
    // whole. A point or radius that is not finite leaves the box unused.
    constexpr double INF = std::numeric_limits<double>::infinity();
    double lox = INF, hix = -INF, loy = INF, hiy = -INF, widest = 0.0;
    bool boxed = std::size(proposal) > 1;
    if (boxed)
        for (const auto& [c, pc] : proposal) {
            const double rc = at(radii, c);
            boxed = boxed && std::isfinite(pc.x) && std::isfinite(pc.y) && std::isfinite(rc);
            lox = std::min(lox, pc.x);
            hix = std::max(hix, pc.x);
            loy = std::min(loy, pc.y);
            hiy = std::max(hiy, pc.y);
            widest = std::max(widest, rc);
        }
    const auto measure = [&](std::uint32_t c, Point pc, double rc, const PlacedPoint& q, double rq) {
        // A pair whose x or y distance alone reaches both limits counts for
        // nothing; most pairs end here without a square root.
        const double reach = rc + rq, limit = std::max(reach, 0.05);
        const double dx = pc.x - q.x, dy = pc.y - q.y;
        if (std::abs(dx) >= limit || std::abs(dy) >= limit) return;
        if (q.atom == c || bonded.contains(c, q.atom)) return;
        const double d = std::hypot(dx, dy);
        if (d < 0.05) ++near;
        if (d < reach) add_overlap((reach - d) * (reach - d));
    };
    if (!boxed) {
        for (const auto& [c, pc] : proposal) {
            const double rc = at(radii, c);
            for (const std::span<const PlacedPoint> part : {placed, more})
                for (const PlacedPoint& q : part) measure(c, pc, rc, q, at(radii, q.atom));
        }
    } else {
        for (const std::span<const PlacedPoint> part : {placed, more})
            for (const PlacedPoint& q : part) {
                const double rq = at(radii, q.atom), most = std::max(widest + rq, 0.05);
                if (q.x - hix >= most || lox - q.x >= most || q.y - hiy >= most || loy - q.y >= most) continue;
                for (const auto& [c, pc] : proposal) measure(c, pc, at(radii, c), q, rq);
            }
    }
    // Ascending summation makes the penalty independent of storage order.
    const std::span<double> overlaps = lease ? std::span<double>(**lease) : std::span<double>(few, count);
    std::sort(overlaps.begin(), overlaps.end());
    double sum = 0.0;
    for (double o : overlaps) sum += o;
    return {near, core::round_saturating<std::int64_t>(sum * 1e9)};
}
}  // namespace

PlacementScore placement_score(const BondedPairs& bonded, std::span<const double> radii,
                               const PositionMap& proposal, std::span<const PlacedPoint> placed,
                               std::span<const PlacedPoint> more) {
    return score_proposal(bonded, radii, proposal, placed, more);
}

PlacementScore placement_score(const BondedPairs& bonded, std::span<const double> radii,
                               std::span<const std::pair<std::uint32_t, Point>> proposal,
                               std::span<const PlacedPoint> placed, std::span<const PlacedPoint> more) {
    return score_proposal(bonded, radii, proposal, placed, more);
}

PlacementScore placement_score(const BondedPairs& bonded, std::span<const double> radii, std::uint32_t atom, Point p,
                               std::span<const PlacedPoint> placed, std::span<const PlacedPoint> more) {
    const std::pair<std::uint32_t, Point> lone[1] = {{atom, p}};
    return score_proposal(bonded, radii, std::span(lone), placed, more);
}

std::vector<Point> placed_neighbour_directions(const core::MolBuilder& mol, std::uint32_t a, Point from,
                                               const PositionMap& positions) {
    std::vector<Point> out;
    placed_neighbour_directions(mol, a, from, positions, out);
    return out;
}

void placed_neighbour_directions(const core::MolBuilder& mol, std::uint32_t a, Point from,
                                 const PositionMap& positions, std::vector<Point>& out) {
    out.clear();
    for (const core::Neighbor n : mol.neighbors(a)) {
        const auto it = positions.find(n.atom);
        if (it != positions.end()) out.push_back(normalised(it->second - from));
    }
}

namespace {
constexpr double PI = std::numbers::pi;
constexpr double TWO_PI = 2.0 * std::numbers::pi;
// 89 degrees in micro-radians: a new bond closer than this to another counts as crowded.
constexpr std::int64_t CROWDED_CLEARANCE = 1553343;
// pi in micro-radians, less one for rounding: a bond this far from another runs
// straight on from it.
constexpr std::int64_t STRAIGHT_CLEARANCE = 3141592;

std::int64_t nano(double x) { return core::round_saturating<std::int64_t>(x * 1e9); }
std::int64_t micro(double x) { return core::round_saturating<std::int64_t>(x * 1e6); }

double wrap(double a) {
    // fmod gives a itself, sign of zero included, whenever |a| is below the
    // divisor: the library call is needed only beyond one turn (or for NaN).
    double r = std::abs(a) < TWO_PI ? a : std::fmod(a, TWO_PI);
    if (r < 0) r += TWO_PI;
    return r;
}

struct ChainCandidate {
    std::int64_t key;
    std::uint32_t level;
    double angle;
    std::int64_t room;  // micro(clearance(angle)) once measured, else -1
};

// Score of one proposal; compared field by field, smaller better.
struct ProposalScore {
    std::uint64_t near;
    bool crowded;
    bool crossing;
    std::int64_t penalty;
    // The new bond would run straight on from a cis/trans double bond, or the
    // double bond straight on from it, with the atom its value refers to on the
    // bond's axis, where it shows no side: the drawing would lose the value.
    // Taken only when nothing clean remains.
    bool on_axis;
    auto operator<=>(const ProposalScore&) const = default;
};

using Segment = BondSegment;

// Step angle at u: straight through triple bonds and cumulated double bonds,
// evenly spread at four or more bonds, the chain angle otherwise.
double step_angle(const core::MolBuilder& mol, std::uint32_t u, double chain_angle) {
    if (runs_straight(mol, u)) return PI;
    const std::uint32_t deg = at(mol.degree, u);
    if (deg >= 4) return TWO_PI / deg;
    return chain_angle;
}

// The target direction of each unplaced neighbour, into `t`; `spare` is scratch.
// Where the choice measured them, the first n of `ends` receive the points one
// bond from P along the targets (P + (cos, sin)) and `ends_known` says so.
void target_angles(const ChainStep& st, std::uint32_t u, Point P, std::span<const double> placed, double step,
                   std::vector<double>& t, std::vector<double>& spare, std::vector<Point>& ends,
                   std::vector<Point>& spare_ends, bool& ends_known) {
    const std::size_t n = st.unplaced.size(), m = placed.size();
    t.assign(n, 0.0);
    ends_known = false;
    if (m == 0) {
        for (std::size_t k = 0; k < n; ++k) t[k] = PI / 6 + double(k) * step;
        return;
    }
    if (m == 1) {
        const double s = side_of(st.sides, u) < 0 ? -1.0 : 1.0;
        const double a0 = placed[0];
        for (std::size_t k = 0; k < n; ++k) {
            const double turn = double(k / 2 + 1) * step * s;
            t[k] = k % 2 == 0 ? a0 + turn : a0 - turn;
        }
        std::vector<double>& mirrored = spare;
        mirrored.assign(n, 0.0);
        for (std::size_t k = 0; k < n; ++k) mirrored[k] = 2 * a0 - t[k];
        if (ends.size() < n) {
            ends.resize(n);
            spare_ends.resize(n);
        }
        if (crowding_less(st.positions, mirrored, t, P, std::span(spare_ends).first(n), std::span(ends).first(n))) {
            t.swap(mirrored);
            ends.swap(spare_ends);
        }
        ends_known = true;
        return;
    }
    struct Gap {
        double start, width;
        std::int64_t width_key, start_key;
    };
    const auto gap = [&](std::size_t i) {
        const Gap g = i == 0 ? Gap{placed[m - 1], placed[0] + TWO_PI - placed[m - 1], 0, 0}
                             : Gap{placed[i - 1], placed[i] - placed[i - 1], 0, 0};
        return Gap{g.start, g.width, nano(g.width), nano(g.start)};
    };
    const auto spread = [&](const Gap& g, std::vector<double>& out) {
        out.assign(n, 0.0);
        for (std::size_t k = 0; k < n; ++k) out[k] = g.start + g.width * double(k + 1) / double(n + 1);
    };
    Gap best = gap(0);
    std::size_t best_index = 0;
    for (std::size_t i = 1; i < m; ++i) {
        const Gap g = gap(i);
        if (g.width_key > best.width_key || (g.width_key == best.width_key && g.start_key < best.start_key)) {
            best = g;
            best_index = i;
        }
    }
    // At a ring atom whose drawn bonds split the turn evenly (the fusion atom of
    // two six-membered rings: three gaps of 120 degrees), two of the gaps lie
    // inside rings, and the smaller start angle alone (or the last bits of the
    // ring's coordinates) would put the substituent on a ring's centre, where
    // nothing else objects to it. There, gaps within a micro-radian of the widest
    // count as equal and the least crowded of them wins, then the smaller start.
    // The crowding of the widest is measured only once a rival appears.
    if (u < st.ring_atoms.size() && st.ring_atoms[u]) {
        constexpr std::int64_t SAME_WIDTH = 1000;  // nano-radians
        const std::int64_t widest = best.width_key;
        bool measured = false;
        std::int64_t best_crowding = 0;
        for (std::size_t i = 0; i < m; ++i) {
            const Gap g = gap(i);
            if (i == best_index || widest - g.width_key > SAME_WIDTH) continue;
            if (!measured) {
                spread(best, spare);
                best_crowding = crowding_score(st.positions, spare, P);
                measured = true;
            }
            spread(g, spare);
            const std::int64_t c = crowding_score(st.positions, spare, P);
            if (c < best_crowding || (c == best_crowding && g.start_key < best.start_key)) {
                best = g;
                best_index = i;
                best_crowding = c;
            }
        }
    }
    spread(best, t);
}

// The candidates of turn level j (j x 30 degrees off the target t; level 0 is t
// itself) in the order they are tried: by level, then key (the roomier first),
// then + before -. Each level is made only when the search reaches it, so the
// clearances of levels never tried are never measured.
std::size_t level_candidates(double t, std::uint32_t j, std::span<const double> occupied, ChainCandidate (&out)[2]) {
    if (j == 0) {
        out[0] = {0, 0, t, -1};
        return 1;
    }
    std::size_t i = 0;
    for (double sign : {1.0, -1.0}) {
        const double phi = t + sign * double(j) * PI / 6;
        const std::int64_t room = occupied.empty() ? -1 : micro(clearance(phi, occupied));
        out[i++] = {occupied.empty() ? -3141593 : -room, j, phi, room};
    }
    if (out[1].key < out[0].key) std::swap(out[0], out[1]);
    return 2;
}

// The chosen direction, the new points and the new bonds join what later
// neighbours of the same step are measured against.
void record_choice(const core::MolBuilder& mol, std::uint32_t v, Point P, Point p, double phi,
                   const std::optional<PositionMap>& fragment, std::vector<double>& occupied,
                   std::vector<PlacedPoint>& placed, std::vector<Segment>& segments) {
    occupied.push_back(phi);
    placed.push_back({v, p.x, p.y});
    segments.push_back({P, p});
    if (!fragment) return;
    for (const auto& [a, q] : *fragment)
        if (a != v) placed.push_back({a, q.x, q.y});
    // Each bond once, from its first atom, drawn from first to last as stored.
    for (const auto& [a, q] : *fragment)
        for (const core::Neighbor nb : mol.neighbors(a)) {
            const core::Bond& b = mol.bonds[nb.bond];
            if (b.begin != a || nb.atom != b.end) continue;
            const auto pe = fragment->find(b.end);
            if (pe != fragment->end()) segments.push_back({q, pe->second});
        }
}

// `shared_is_end`: P is finite, so a segment with an end at exactly P shares
// that end with P-p, and segments sharing an end never cross.
bool crosses_any(std::span<const Segment> segs, Point P, Point p, bool shared_is_end) {
    // boxes_meet(s.a, s.b, P, p), each side's part of it worked out once.
    const Segment c(P, p);
    for (const Segment& s : segs)
        if (s.lo_x <= c.hi_x && c.lo_x <= s.hi_x && s.lo_y <= c.hi_y && c.lo_y <= s.hi_y &&
            !(shared_is_end && (s.a == P || s.b == P)) && segments_cross(s.a, s.b, P, p))
            return true;
    return false;
}
}  // namespace

bool inside_polygon(Point p, std::span<const Point> polygon) {
    bool inside = false;
    for (std::size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const Point a = polygon[i], b = polygon[j];
        if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x) inside = !inside;
    }
    return inside;
}

bool runs_straight(const core::MolBuilder& mol, std::uint32_t atom) {
    unsigned doubles = 0;
    for (core::Neighbor nb : mol.neighbors(atom)) {
        const core::BondOrder o = mol.bonds[nb.bond].order;
        if (o == core::BondOrder::Triple) return true;
        if (o == core::BondOrder::Double) ++doubles;
    }
    return doubles > 1;
}

double clearance(double phi, std::span<const double> occupied) {
    double c = PI;
    for (double a : occupied) {
        const double d = wrap(phi - a);
        c = std::min({c, d, TWO_PI - d});
    }
    return c;
}

namespace {
// The drawing's point for the atom, none when it has none.
struct DrawnLookup {
    const PositionMap& positions;
    std::span<const std::uint8_t> drawn;
    std::span<const Point> points;
    const Point* find(std::uint32_t a) const {
        if (!drawn.empty()) return a < drawn.size() && drawn[a] ? &points[a] : nullptr;
        const auto it = positions.find(a);
        return it == positions.end() ? nullptr : &it->second;
    }
};

void append_neighbour_angles(const core::MolBuilder& mol, std::uint32_t a, Point pa, const DrawnLookup& positions,
                             std::span<const std::uint32_t> ranks, std::vector<NeighbourAngle>& out) {
    for (core::Neighbor nb : mol.neighbors(a)) {
        const Point* found = positions.find(nb.atom);
        if (!found) continue;
        const Point q = *found;
        double angle = wrap(std::atan2(q.y - pa.y, q.x - pa.x));
        if (TWO_PI - angle < 1e-9) angle = 0.0;
        out.push_back({nano(angle), at(ranks, nb.atom), angle});
    }
}
}  // namespace

std::vector<NeighbourAngle> placed_neighbour_angles(const core::MolBuilder& mol, std::uint32_t a, Point pa,
                                                    const PositionMap& positions,
                                                    std::span<const std::uint32_t> ranks) {
    std::vector<NeighbourAngle> out;
    append_neighbour_angles(mol, a, pa, DrawnLookup{positions, {}, {}}, ranks, out);
    return out;
}

std::vector<std::uint32_t> rank_list(std::span<const std::uint32_t> atoms, std::span<const std::uint32_t> ranks) {
    std::vector<std::uint32_t> out;
    out.reserve(atoms.size());
    for (std::uint32_t a : atoms) out.push_back(at(ranks, a));
    return out;
}

namespace {
// The working lists of one step: directions taken at u, and the points and
// bonds drawn, each as the drawing the step was given (read in place) plus what
// the step itself added. Every reader of the two parts is an "any" or an
// order-free total, so the split does not reach a result.
struct StepLists {
    std::vector<NeighbourAngle> around;
    std::vector<double> targets, spare;
    std::vector<Point> target_ends, spare_ends;
    bool ends_known = false;
    std::vector<double> occupied;
    std::vector<PlacedPoint> placed;
    std::vector<Segment> segments;
};
struct StepView {
    const StepLists& added;
    std::span<const PlacedPoint> placed;
    std::span<const Segment> segments;
};

struct Choice {
    std::optional<PositionMap> placement;  // the ring system hung at the new atom
    double angle;
    Point point;  // one bond from the centre along `angle`
};

// When u ends a cis/trans double bond whose value refers to v at u's end (or
// v is the far end and the atom referred to at u is drawn), the direction from
// u of the other of the two: v must not be drawn straight across from it.
std::optional<double> stereo_axis(const core::MolBuilder& mol, std::uint32_t u, std::uint32_t v, Point P,
                                  const DrawnLookup& drawn, std::span<const PlacedPoint> added) {
    for (core::Neighbor nb : mol.neighbors(u)) {
        const core::Bond& b = mol.bonds[nb.bond];
        if (b.stereo != core::BondStereo::Cis && b.stereo != core::BondStereo::Trans) continue;
        const std::uint32_t far = nb.atom;
        std::uint32_t ref = core::NONE;
        for (std::uint32_t r : b.stereo_atoms)
            if (r != far && r != u && mol.bond_between(u, r) != core::NONE) ref = r;
        if (ref == core::NONE || (v != ref && v != far)) continue;
        const std::uint32_t other = v == ref ? far : ref;
        if (const Point* q = drawn.find(other)) return std::atan2(q->y - P.y, q->x - P.x);
        // Drawn earlier in this step, or not yet.
        for (const PlacedPoint& a : added)
            if (a.atom == other) return std::atan2(a.y - P.y, a.x - P.x);
    }
    return std::nullopt;
}

// The candidate search for neighbour v around target t: the best-scoring
// candidate that is not on top of a drawn atom, stopping at the first clean one.
Choice choose_direction(const ChainStep& st, std::uint32_t v, Point P, double t, const Point* t_end,
                        bool check_crowding, const double* axis, const StepView& lists) {
    // One bond from P along the angle; the target's own end may be known already.
    const auto end_at = [&](double angle, bool is_target) {
        return is_target && t_end ? *t_end : Point{P.x + std::cos(angle), P.y + std::sin(angle)};
    };
    const PositionMap* pending = nullptr;
    if (st.pending) {
        const auto it = st.pending->find(v);
        if (it != st.pending->end()) pending = &it->second;
    }
    // Candidates are only scored; the ring system is turned into place once, for the winner.
    std::optional<HangingFragment> hanging;
    if (pending) hanging.emplace(st.mol, *pending, v);
    const auto attach = [&](Point p) -> OrientedScore {
        if (!hanging) return {placement_score(st.bonded, st.radii, v, p, lists.placed, lists.added.placed), false};
        return best_orientation_score(st.bonded, st.radii, *hanging, lists.placed, P, p, lists.added.placed);
    };
    const std::span<const double> occupied = lists.added.occupied;
    const bool crowding_applies = check_crowding && !occupied.empty();
    const bool finite_centre = std::isfinite(P.x) && std::isfinite(P.y);
    bool have_best = false;
    ProposalScore best{};
    double chosen_angle = t;
    Point chosen_point{};
    bool chosen_mirror = false;
    // Scores the candidate; true once the best so far is clean.
    const auto consider = [&](const ChainCandidate& c) {
        const Point p = end_at(c.angle, c.level == 0);
        const auto on_top = [&](const PlacedPoint& q) {
            const double dx = q.x - p.x, dy = q.y - p.y;
            return std::abs(dx) < 0.1 && std::abs(dy) < 0.1 && std::hypot(dx, dy) < 0.1;
        };
        const bool blocked = std::any_of(lists.placed.begin(), lists.placed.end(), on_top) ||
                             std::any_of(lists.added.placed.begin(), lists.added.placed.end(), on_top);
        if (blocked) return false;
        const OrientedScore att = attach(p);
        const auto room = [&] { return c.room >= 0 ? c.room : micro(clearance(c.angle, occupied)); };
        const bool crowded = (crowding_applies && room() < CROWDED_CLEARANCE) ||
                             std::any_of(st.rings_at_u.begin(), st.rings_at_u.end(),
                                         [&](const std::vector<Point>& ring) { return inside_polygon(p, ring); });
        const bool crossing = crosses_any(lists.segments, P, p, finite_centre) ||
                              crosses_any(lists.added.segments, P, p, finite_centre);
        const bool on_axis = axis && micro(clearance(c.angle, std::span(axis, 1))) >= STRAIGHT_CLEARANCE;
        const ProposalScore score{att.score.first, crowded, crossing, att.score.second, on_axis};
        if (!have_best || score < best) {
            have_best = true;
            best = score;
            chosen_angle = c.angle;
            chosen_point = p;
            chosen_mirror = att.mirror;
        }
        return best.near == 0 && best.penalty == 0 && !best.crowded && !best.crossing && !best.on_axis;
    };
    bool clean = false;
    for (std::uint32_t j = 0; j <= 5 && !clean; ++j) {
        ChainCandidate level[2];
        const std::size_t n = level_candidates(t, j, occupied, level);
        for (std::size_t i = 0; i < n && !clean; ++i) clean = consider(level[i]);
    }
    // Every candidate sat on a drawn atom: the target itself is taken.
    if (!have_best) {
        chosen_point = end_at(t, true);
        chosen_mirror = attach(chosen_point).mirror;
    }
    Choice chosen{std::nullopt, chosen_angle, chosen_point};
    if (hanging) chosen.placement = hanging->placed(chosen_point, normalised(chosen_point - P), chosen_mirror);
    return chosen;
}
}  // namespace

std::vector<PlacementRecord> place_chain_neighbours(std::uint32_t u, const ChainStep& st) {
    std::vector<PlacementRecord> records;
    place_chain_neighbours(u, st, records);
    return records;
}

void place_chain_neighbours(std::uint32_t u, const ChainStep& st, std::vector<PlacementRecord>& records) {
    if (!st.drawn.empty() && st.points.size() < st.drawn.size()) internal_error("下标越界");
    const DrawnLookup drawn{st.positions, st.drawn, st.points};
    const Point* found = drawn.find(u);
    if (!found) internal_error("no entry found for key");
    const Point P = *found;

    auto lease = core::Scratch<StepLists>::borrow(st.placed.size());
    StepLists& lists = *lease;
    lists.around.clear();
    lists.occupied.clear();
    lists.placed.clear();
    lists.segments.clear();
    std::vector<NeighbourAngle>& around = lists.around;
    append_neighbour_angles(st.mol, u, P, drawn, st.ranks, around);
    std::sort(around.begin(), around.end(), [](const NeighbourAngle& a, const NeighbourAngle& b) {
        return a.key != b.key ? a.key < b.key : a.rank < b.rank;
    });
    for (const NeighbourAngle& na : around) lists.occupied.push_back(na.angle);
    const StepView view{lists, st.placed, st.segments};

    target_angles(st, u, P, lists.occupied, step_angle(st.mol, u, st.chain_angle), lists.targets, lists.spare,
                  lists.target_ends, lists.spare_ends, lists.ends_known);
    const std::vector<double>& targets = lists.targets;
    const bool check_crowding = (u >= st.mol.degree.size() || st.mol.degree[u] <= 3) &&
                                !(u < st.ring_atoms.size() && st.ring_atoms[u]);
    const std::int8_t side = static_cast<std::int8_t>(-side_of(st.sides, u));
    records.clear();
    records.reserve(st.unplaced.size());
    for (std::size_t k = 0; k < st.unplaced.size(); ++k) {
        const std::uint32_t v = st.unplaced[k];
        const Point* t_end = lists.ends_known ? &lists.target_ends[k] : nullptr;
        const std::optional<double> axis = stereo_axis(st.mol, u, v, P, drawn, lists.placed);
        Choice c = choose_direction(st, v, P, targets[k], t_end, check_crowding, axis ? &*axis : nullptr, view);
        const Point p = c.point;
        record_choice(st.mol, v, P, p, c.angle, c.placement, lists.occupied, lists.placed,
                      lists.segments);
        PlacementRecord rec;
        rec.kind = c.placement ? 1 : 0;
        if (c.placement) rec.fragment = std::move(*c.placement);
        rec.position = p;
        rec.atom = v;
        rec.side = side;
        records.push_back(std::move(rec));
    }
}

void commit_record(const PlacementRecord& record, PositionMap& positions, SideSigns& sides) {
    positions[record.atom] = record.position;
    sides[record.atom] = record.side;
    if (record.kind == 1)
        for (const auto& [a, q] : record.fragment) positions.emplace(a, q);
}

std::int8_t side_of(const SideSigns& sides, std::uint32_t atom) {
    const std::int8_t* s = sides.find(atom);
    return s && *s < 0 ? std::int8_t(-1) : std::int8_t(1);
}

}  // namespace quorix::depict
