#pragma once
// Layout of one connected component, grown breadth-first from one seed: ring
// systems are laid out whole and fixed in as rigid pieces (at a shared atom or at
// the far end of a bond), every other atom comes from chain growth.
#include <cstdint>
#include <span>
#include <vector>

#include "core/builder.hpp"
#include "depict/chains.hpp"
#include "depict/layout.hpp"
#include "depict/rings.hpp"
#include "depict/style.hpp"
#include "depict/templates.hpp"

namespace quorix::depict {

struct ComponentLayout {
    std::vector<Degradation> degraded;  // in the order the ring systems were committed
    PositionMap coords;                 // about the component's own origin
};

ComponentLayout layout_components(const core::MolBuilder& mol, std::span<const std::uint32_t> component,
                                  std::span<const RingSystemRecord> systems, std::span<const std::uint32_t> ranks,
                                  const Style2d& style, const RingTemplate* extra);
// The same with the molecule's label radii (label_radii at the style's sizes) given.
ComponentLayout layout_components(const core::MolBuilder& mol, std::span<const std::uint32_t> component,
                                  std::span<const RingSystemRecord> systems, std::span<const std::uint32_t> ranks,
                                  const Style2d& style, const RingTemplate* extra, std::span<const double> radii);

// What a ring-system placement is scored against.
struct PlacementContext {
    const PositionMap& coords;
    std::span<const double> radii;
    const BondedPairs& bonded;
};

// The best of the ring system turned along each direction, plain and mirrored:
// least label overlap with the drawing, then fewest crossings, earliest on ties.
PositionMap place_attached_ring_system(Point anchor, const core::MolBuilder& mol, const PositionMap& layout,
                                       std::uint32_t anchor_atom, std::span<const Point> directions,
                                       const PlacementContext& context);

}  // namespace quorix::depict
