#pragma once
// A small deterministic push that separates atoms the embedding put on top of
// each other, so the refinement has a direction to move them apart.
#include <cstddef>
#include <span>

#include "conf/embed.hpp"

namespace quorix::conf {

// Moves every atom that lies within 1e-6 A of another one (judged on the
// coordinates as given) by a Halton offset of at most 0.05 A per axis.
// Returns how many atoms moved.
std::size_t spread_coincident(std::span<Coord> coords);

// Radical inverse of h in base b (one coordinate of the Halton sequence).
double radical_inverse(std::size_t h, std::size_t base);

}  // namespace quorix::conf
