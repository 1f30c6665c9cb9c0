#pragma once
// Chain layout: the placement of an atom's unplaced neighbours around it (the
// zig-zag at the chain angle, straight runs through triple bonds and cumulated
// double bonds, the even spread at crowded centres, the avoidance of what is
// already drawn; a neighbour in an undrawn ring system carries all of it), the
// scoring of proposed placements, and the neighbour directions the ring-system
// orientation reads.
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "core/builder.hpp"
#include "depict/layout.hpp"

namespace quorix::depict {

// Whether two atoms are bonded; bonded pairs never clash. Asked of the
// molecule's own neighbour lists (it must outlive this): nothing to build.
class BondedPairs {
public:
    explicit BondedPairs(const core::MolBuilder& mol) : mol_(&mol) {}
    bool contains(std::uint32_t a, std::uint32_t b) const;

private:
    const core::MolBuilder* mol_;
};

struct PlacedPoint {
    std::uint32_t atom;
    double x, y;
};

// (near count, penalty), compared lexicographically, lower better.
using PlacementScore = std::pair<std::uint64_t, std::int64_t>;

// Near count: unbonded pairs closer than 0.05; penalty: round(1e9 x the sum,
// taken ascending, of squared label-radius overlaps). The drawing may come in
// two lists (`more` the points added since `placed` was taken); their order
// does not reach the score.
PlacementScore placement_score(const BondedPairs& bonded, std::span<const double> radii,
                               const PositionMap& proposal, std::span<const PlacedPoint> placed,
                               std::span<const PlacedPoint> more = {});
// The same for a proposal given as (atom, point) pairs, or a single atom at `p`.
PlacementScore placement_score(const BondedPairs& bonded, std::span<const double> radii,
                               std::span<const std::pair<std::uint32_t, Point>> proposal,
                               std::span<const PlacedPoint> placed, std::span<const PlacedPoint> more = {});
PlacementScore placement_score(const BondedPairs& bonded, std::span<const double> radii, std::uint32_t atom, Point p,
                               std::span<const PlacedPoint> placed, std::span<const PlacedPoint> more = {});

// Unit vectors from `a`'s point to each neighbour present in `positions`, in
// `a`'s neighbour order.
std::vector<Point> placed_neighbour_directions(const core::MolBuilder& mol, std::uint32_t a, Point from,
                                               const PositionMap& positions);
// The same into `out` (replacing what it held), for a caller that keeps the list.
void placed_neighbour_directions(const core::MolBuilder& mol, std::uint32_t a, Point from,
                                 const PositionMap& positions, std::vector<Point>& out);

struct PlacementRecord {
    std::uint8_t kind = 0;  // 0 single atom, 1 ring-system fragment
    PositionMap fragment;   // every atom of the ring system (kind 1)
    Point position;
    std::uint32_t atom = 0;
    std::int8_t side = 1;
};

// The turn sign that makes chains zig-zag; an atom without an entry counts as +1.
// One slot per atom index, grown on demand: set once per drawn atom, read often.
class SideSigns {
public:
    SideSigns() = default;
    SideSigns(std::initializer_list<std::pair<std::uint32_t, std::int8_t>> items) {
        for (const auto& [a, s] : items)
            if (!contains(a)) (*this)[a] = s;
    }
    bool contains(std::uint32_t atom) const { return atom < present_.size() && present_[atom]; }
    // No atom has an entry.
    void clear() {
        present_.clear();
        signs_.clear();
    }
    // No atom has an entry, with room for atoms below `atoms` made at once.
    void reset(std::size_t atoms) {
        present_.assign(atoms, 0);
        signs_.assign(atoms, 0);
    }
    std::int8_t& operator[](std::uint32_t atom) {
        if (atom >= present_.size()) {
            present_.resize(std::size_t{atom} + 1, 0);
            signs_.resize(std::size_t{atom} + 1, 0);
        }
        present_[atom] = 1;
        return signs_[atom];
    }
    // The stored sign; none when absent.
    const std::int8_t* find(std::uint32_t atom) const { return contains(atom) ? &signs_[atom] : nullptr; }

private:
    std::vector<std::uint8_t> present_;
    std::vector<std::int8_t> signs_;
};
std::int8_t side_of(const SideSigns& sides, std::uint32_t atom);

// A drawn bond, with its box as the box test takes it (boxes_meet: the lower
// corner, and the upper one plus its margin), worked out once rather than for
// every candidate it is tested against.
struct BondSegment {
    static constexpr double MARGIN = 1e-8;  // as in boxes_meet
    BondSegment(Point from, Point to)
        : a(from), b(to), lo_x(std::min(a.x, b.x)), lo_y(std::min(a.y, b.y)), hi_x(std::max(a.x, b.x) + MARGIN),
          hi_y(std::max(a.y, b.y) + MARGIN) {}
    Point a, b;
    double lo_x, lo_y, hi_x, hi_y;
};

struct ChainStep {
    const core::MolBuilder& mol;
    std::span<const std::uint32_t> ranks;
    const PositionMap& positions;
    const SideSigns& sides;
    std::span<const std::uint8_t> ring_atoms;  // 1 per atom of a ring system laid out so far
    const BondedPairs& bonded;
    std::span<const double> radii;
    double chain_angle = 0.0;                  // radians
    std::span<const std::uint32_t> unplaced;   // by (rank, index), each once
    // Pending ring systems: neighbour -> its ring system in its own frame.
    const std::map<std::uint32_t, PositionMap>* pending = nullptr;
    // The drawn rings through u, as polygons: a new bond into one counts as crowded.
    std::span<const std::vector<Point>> rings_at_u = {};
    // What the step measures against: every drawn atom with its point, and every
    // bond with both ends drawn (both as the positions give them; their order
    // does not reach the result).
    std::span<const PlacedPoint> placed = {};
    std::span<const BondSegment> segments = {};
    // Optionally `positions` again, flat by atom index (a drawn flag and the
    // point), for a caller that keeps it anyway: lookups without a search.
    std::span<const std::uint8_t> drawn = {};
    std::span<const Point> points = {};
};

// Strictly inside the polygon (even-odd rule).
bool inside_polygon(Point p, std::span<const Point> polygon);

// One record per unplaced neighbour, in their order; changes none of its inputs.
std::vector<PlacementRecord> place_chain_neighbours(std::uint32_t u, const ChainStep& step);
// The same into `records` (replacing what it held), for a caller that keeps the buffer.
void place_chain_neighbours(std::uint32_t u, const ChainStep& step, std::vector<PlacementRecord>& records);

// Writes the point and side sign the record brings (and, for a fragment, the
// points of its atoms that have none).
void commit_record(const PlacementRecord& record, PositionMap& positions, SideSigns& sides);

struct NeighbourAngle {
    std::int64_t key;  // angle in nano-radians
    std::uint32_t rank;
    double angle;      // [0, 2pi)
};
// a's drawn neighbours, in half-edge order.
std::vector<NeighbourAngle> placed_neighbour_angles(const core::MolBuilder& mol, std::uint32_t a, Point pa,
                                                    const PositionMap& positions,
                                                    std::span<const std::uint32_t> ranks);

std::vector<std::uint32_t> rank_list(std::span<const std::uint32_t> atoms, std::span<const std::uint32_t> ranks);

// A triple bond, or more than one double bond, at the atom: its bonds run
// straight through it (no zig-zag, and no turn about it).
bool runs_straight(const core::MolBuilder& mol, std::uint32_t atom);

// Angular room around direction phi: the smallest gap to an occupied direction, at most pi.
double clearance(double phi, std::span<const double> occupied);

}  // namespace quorix::depict
