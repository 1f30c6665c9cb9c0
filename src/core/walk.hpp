#pragma once
// Neighbour walk for inner loops: MolBuilder::neighbors checks the atom index
// out of line on every call; here the caller vouches for it.
#include <cstdint>

#include "core/builder.hpp"

namespace quorix::core {

inline NeighborRange unchecked_neighbors(const MolBuilder& mol, std::uint32_t atom) {
    return NeighborRange(&mol, mol.first_half_edge[atom]);
}

}  // namespace quorix::core
