#pragma once
// The last resort for ring systems no template or arc can draw: five starting
// layouts relaxed by a small spring model, the best kept by crossings, worst bond
// error and rounded coordinates. Also the cyclic drawing order of a ring and the
// segment-crossing test that the whole layout shares.
#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

#include "chem/sssr.hpp"
#include "core/builder.hpp"
#include "depict/layout.hpp"

namespace quorix::depict {

inline constexpr int SEEDS = 5;
inline constexpr int RELAX_ITERATIONS = 400;

// The ring rotated to start at its lowest (rank, index) atom, forward or
// backward, whichever rank sequence is smaller (forward on a tie).
std::vector<std::uint32_t> canonical_ring_order(std::span<const std::uint32_t> ring,
                                                std::span<const std::uint32_t> ranks);
// The same into `out` (replacing what it held), for a caller that keeps the list.
void canonical_ring_order(std::span<const std::uint32_t> ring, std::span<const std::uint32_t> ranks,
                          std::vector<std::uint32_t>& out);

// Segments p1-p2 and p3-p4 cross or touch; segments sharing an end never do.
bool segments_cross(Point p1, Point p2, Point p3, Point p4);

// 400 simultaneous steps of unit springs on the edges and short-range
// repulsion between all pairs; local index i belongs to local_to_atom[i].
PositionMap relax_layout(std::vector<Point>& positions, std::size_t n,
                         std::span<const std::pair<std::uint32_t, std::uint32_t>> edges,
                         std::span<const std::uint32_t> local_to_atom);

std::vector<std::pair<std::uint32_t, std::uint32_t>> system_edges(const core::MolBuilder& mol,
                                                                  const std::map<std::uint32_t, std::uint32_t>& local);

PositionMap seeded_spring_layout(const core::MolBuilder& mol, std::span<const std::uint32_t> atoms,
                                 std::span<const std::uint32_t> ranks,
                                 std::span<const chem::Ring* const> rings);

}  // namespace quorix::depict
