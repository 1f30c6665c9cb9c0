#pragma once
// Typical bond lengths and angles of common groups, as crystal structures of
// organic molecules give them. The bounds' statistics key a single bond only
// by its elements, so one C-O row serves ethers (1.42), esters (1.34 to the
// carbonyl) and acids (1.31), and one sp2 carbon row serves ketones, amides
// and esters alike; these tell the groups apart. The conformer's holds give
// them to the bounds (see `HeldBounds`).
#include <cstdint>
#include <optional>

#include "conf/ring_context.hpp"
#include "core/builder.hpp"

namespace quorix::conf {

// The typical length (Å) of a single bond by what its atoms are (sp3,
// aromatic, alkene, carbonyl or sp carbon; amine, amide or amidine,
// ammonium or nitro nitrogen; ether, ester, hydroxyl, acid or carboxylate
// oxygen; sulfide or sulfonyl sulfur; an sp3 carbon's halogen; an imide's
// C-N apart from an amide's), in rings as in chains, so that every such bond
// of a ring has it and the bounds close the ring around them, a four-ring's
// stretched; and of a carboxylate's C=O, which shares its charge with the
// C-O. None for any other bond, and none for a ring bond from an sp3 carbon
// to an sp3 atom: the ring's own statistics fit those.
std::optional<double> typical_bond_length(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t bond);

// The typical angle (degrees) a-centre-c at a carbonyl carbon (ketone,
// aldehyde, amide, ester or acid, carboxylate), an ether or ester oxygen, a
// sulfonyl sulfur and an imine, oxime, diarylamine or aryl hydrazine
// nitrogen that lie in no ring; none for any other centre.
std::optional<double> typical_angle(const core::MolBuilder& mol, std::uint32_t centre, std::uint32_t a,
                                    std::uint32_t c);

}  // namespace quorix::conf
