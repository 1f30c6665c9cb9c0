#pragma once
#include <cstdint>
#include <span>

#include "core/builder.hpp"

namespace quorix::chem {

// Turns every atom's declared and implicit hydrogen counts into hydrogen atoms,
// serving heavy atoms by (rank, index) so new indices do not depend on the input
// order. Returns the number of hydrogens added.
std::uint32_t add_explicit_hs(core::MolBuilder& mol, std::span<const std::uint32_t> ranks);

}  // namespace quorix::chem
