#pragma once
// Hanging a drawn ring system from a point: its turned placement and its mirror
// image, and the choice between them by the chain layout's score.
#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/builder.hpp"
#include "depict/chains.hpp"
#include "depict/layout.hpp"

namespace quorix::depict {

// The fragment turned so that atom `a` lands on `target` and the fragment points
// along `direction`, and that placement mirrored in the line through `target`
// along `direction`, in this order.
std::pair<PositionMap, PositionMap> orient_fragment(const core::MolBuilder& mol, const PositionMap& fragment,
                                                    std::uint32_t a, Point target, Point direction);

// A fragment to be hung from its atom `a`, with what orienting it needs that
// does not depend on where it goes (the atom's own point, the fragment's
// reference direction), measured once for any number of trial placements.
class HangingFragment {
public:
    HangingFragment(const core::MolBuilder& mol, const PositionMap& fragment, std::uint32_t a);
    // The placement turned onto `target` along `direction` (normalised here), or
    // its mirror image: orient_fragment's first or second.
    void place(Point target, Point direction, bool mirror, std::vector<std::pair<std::uint32_t, Point>>& out) const;
    // Both at once, into whichever of the two lists is given.
    void place(Point target, Point direction, std::vector<std::pair<std::uint32_t, Point>>* plain,
               std::vector<std::pair<std::uint32_t, Point>>* mirrored) const;
    PositionMap placed(Point target, Point direction, bool mirror) const;

private:
    const PositionMap& fragment_;
    Point p_;
    bool turns_;
    double reference_angle_;
};

struct OrientedPlacement {
    PlacementScore score;
    std::optional<PositionMap> placement;  // only when a fragment was placed
};

// Atom `atom` proposed at `to`, grown from `from`. Without a fragment the lone
// atom is scored; with one, both orientations are scored and the first is kept
// unless the second scores strictly lower. The drawing is `placed` and `more`
// together, as for placement_score.
OrientedPlacement best_oriented_placement(const core::MolBuilder& mol, const BondedPairs& bonded,
                                          std::span<const double> radii, std::uint32_t atom,
                                          const PositionMap* fragment, std::span<const PlacedPoint> placed,
                                          Point from, Point to, std::span<const PlacedPoint> more = {});

// IEEE-754 totalOrder as a signed integer: -NaN < -inf < ... < -0 < +0 < ... < inf < NaN.
inline std::int64_t total_order_key(double x) {
    const auto bits = std::bit_cast<std::int64_t>(x);
    return bits < 0 ? bits ^ INT64_MAX : bits;
}

// As best_oriented_placement for a fragment, without building the placement:
// its score and whether the mirror image won (then HangingFragment::placed
// rebuilds it, point for point).
struct OrientedScore {
    PlacementScore score;
    bool mirror;
};
OrientedScore best_orientation_score(const BondedPairs& bonded, std::span<const double> radii,
                                     const HangingFragment& fragment, std::span<const PlacedPoint> placed, Point from,
                                     Point to, std::span<const PlacedPoint> more = {});

// Three-dimensional point ordering: x, then y, then z by totalOrder, then `keys`,
// then the index. Fills `order` with the indices 0..n-1 in that order; `keys`
// may be empty, when it counts as all equal.
void sort_points_3d(std::span<const std::array<double, 3>> points, std::span<const std::uint32_t> keys,
                    std::vector<std::uint32_t>& order);

}  // namespace quorix::depict
