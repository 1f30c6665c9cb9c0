#pragma once
// Typical bond lengths and angles of common groups, as crystal structures of
// organic molecules give them. The bounds' statistics key a single bond only
// by its elements, so one C-O row serves ethers (1.42), esters (1.34 to the
// carbonyl) and acids (1.31), and one sp2 carbon row serves ketones, amides
// and esters alike; these tell the groups apart. The conformer's holds give
// them to the bounds (see `HeldBounds`).
#include <cstdint>
#include <optional>

#include "core/builder.hpp"

namespace quorix::conf {

// The typical length (Å) of a single bond outside the rings by what its
// atoms are (sp3, aromatic, alkene, carbonyl or sp carbon; amine, amide or
// nitro nitrogen; ether, ester, hydroxyl, acid or carboxylate oxygen;
// sulfide or sulfonyl sulfur; an sp3 carbon's halogen), and of a
// carboxylate's C=O, which shares its charge with the C-O; none for any
// other bond. `ring_size` is the smallest ring holding the bond (0 for
// none): a ring's own statistics fit its angles, and a ring bond keeps them.
std::optional<double> typical_bond_length(const core::MolBuilder& mol, std::uint32_t bond, std::size_t ring_size);

// The typical angle (degrees) a-centre-c at a carbonyl carbon (ketone,
// aldehyde, amide, ester or acid, carboxylate), an ether or ester oxygen and
// a sulfonyl sulfur that lie in no ring; none for any other centre.
std::optional<double> typical_angle(const core::MolBuilder& mol, std::uint32_t centre, std::uint32_t a,
                                    std::uint32_t c);

}  // namespace quorix::conf
