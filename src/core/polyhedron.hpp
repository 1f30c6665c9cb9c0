#pragma once
// Square-planar, trigonal-bipyramidal and octahedral class numbers.
#include <cstdint>
#include <optional>
#include <span>

#include "core/builder.hpp"

namespace quorix::core {

// Number of class permutations of a polyhedral tag (3, 20, 30), 0 for other tags.
std::uint8_t polyhedron_class_count(ChiralTag tag);
// Vertex count (4, 5, 6), 0 for other tags.
std::uint8_t polyhedron_vertex_count(ChiralTag tag);

// A polyhedron arranges an atom's bonds only when its vertices are those bonds,
// or those bonds and one hydrogen the atom holds as a count.
constexpr bool polyhedron_fits_bonds(std::uint32_t vertices, std::uint32_t bonds) {
    return vertices == bonds || vertices == bonds + 1;
}

std::optional<std::uint8_t> renumber_polyhedral_permutation(ChiralTag tag, std::uint8_t permutation,
                                                            std::span<const std::uint32_t> stored_order,
                                                            std::span<const std::uint32_t> new_order);

}  // namespace quorix::core
