#pragma once
// Bridgehead pairs whose stated configurations turn one bridgehead's outer
// substituent into a cage too small to hold it, read from the graph alone.
#include <cstdint>
#include <span>
#include <vector>

#include "chem/sssr.hpp"
#include "conf/chiral.hpp"
#include "core/builder.hpp"

namespace quorix::conf {

// Two stereocentres p and q joined by three bridges (a direct bond is a bridge
// of no atoms), found as two rings of the ring list sharing one path, each
// with a fourth ligand of its own outside the bridges. Read with its ligands
// as (fourth, first atom of each bridge), both in the same bridge order, a pair
// of opposite signs has both fourth ligands outside (a cis fusion); equal
// signs put one inside (a trans fusion). Such a pair is refused when the ring
// of its two longest bridges has fewer than INWARD_RING_BONDED atoms (p and q
// bonded) or INWARD_RING_APART atoms (p and q apart).
inline constexpr std::uint32_t INWARD_RING_BONDED = 7;
inline constexpr std::uint32_t INWARD_RING_APART = 9;

// The centres of every such pair, ascending, each once; `rings` is the
// molecule's ring list.
std::vector<std::uint32_t> inward_bridgeheads(const core::MolBuilder& mol, std::span<const chem::Ring> rings,
                                              std::span<const ChiralConstraint> constraints);

}  // namespace quorix::conf
