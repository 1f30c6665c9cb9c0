#pragma once
// How a drawing reads a stored cis/trans double bond.
#include <cstdint>
#include <span>

#include "core/builder.hpp"
#include "depict/layout.hpp"

namespace quorix::depict {

// Undecided: a reference atom missing or on the bond's axis.
inline constexpr std::uint8_t UNDECIDED_CONFIG = 255;

// 3 (cis) when both stereo reference atoms lie on one side of the bond's axis,
// 4 (trans) otherwise, UNDECIDED_CONFIG when the drawing has no answer.
std::uint8_t drawn_double_bond_config(const core::MolBuilder& mol, std::span<const Point> coords,
                                      std::uint32_t bond);

}  // namespace quorix::depict
