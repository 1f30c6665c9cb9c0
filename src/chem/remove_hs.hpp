#pragma once
#include <cstdint>

#include "core/builder.hpp"

namespace quorix::chem {

// True for a plain terminal hydrogen that can be folded into its neighbour.
bool is_removable_h(const core::MolBuilder& mol, std::uint32_t atom);

// Folds removable hydrogen atoms into their neighbours' counts and rebuilds the
// graph without them (every index may change). Returns how many were removed.
std::uint32_t remove_hs(core::MolBuilder& mol);

}  // namespace quorix::chem
