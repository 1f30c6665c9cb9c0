#pragma once
// Connected pieces of a molecule: the salt's ions, a hydrate's waters. Reaction
// products and conformers both need them, so they live once, here.
#include <cstdint>
#include <vector>

#include "core/builder.hpp"

namespace quorix::core {

// Per atom a component id, numbered in order of each component's lowest atom;
// every bond joins, dative ones included.
std::vector<std::uint32_t> connected_components(const MolBuilder& mol);

}  // namespace quorix::core
