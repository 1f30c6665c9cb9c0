#pragma once
// Arc placement of ring systems without a template: the largest ring as a
// regular polygon, then each ring's undrawn atoms on circular arcs of unit
// chords between two drawn atoms.
#include <cstdint>
#include <optional>
#include <span>

#include "chem/sssr.hpp"
#include "depict/layout.hpp"

namespace quorix::depict {

// The placed atoms A and B around one run of `run_length` undrawn atoms; the
// run's points, or nothing when the run cannot span the gap or lands closer
// than 0.5 to anything drawn.
std::optional<std::vector<Point>> place_arc(const PositionMap& placed, std::uint32_t a, std::uint32_t b,
                                            std::size_t run_length);

// Nothing when some ring cannot be drawn this way.
std::optional<PositionMap> arc_placement(std::span<const std::uint32_t> ranks,
                                         std::span<const chem::Ring* const> rings);

}  // namespace quorix::depict
