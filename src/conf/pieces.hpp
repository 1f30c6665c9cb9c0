#pragma once
// The pieces of a salt or hydrate set side by side. Atoms of different pieces
// share no bound but van der Waals lower ones under an upper bound of 1000 Å,
// so the embedding leaves the pieces that far apart and nothing in the error
// function brings them closer. They are moved afterwards, each by one
// translation: a translation keeps every distance, chiral volume and torsion
// within a piece, so chirality and cis/trans stay as refined.
#include <span>

#include "core/builder.hpp"

namespace quorix::conf {

// Each piece after the first comes to rest with its nearest atom this far from
// the pieces placed before it; every other pair across pieces is farther.
inline constexpr double PIECE_GAP = 3.0;

// `flat` holds x0, y0, z0, x1, ... for the atoms of `mol`. The pieces (atoms
// joined by any bond, dative ones included) are placed largest first, then by
// lowest atom; the assembly is centred on the origin. A molecule of fewer than
// two pieces is left untouched, bit for bit.
void place_pieces(const core::MolBuilder& mol, std::span<double> flat);

}  // namespace quorix::conf
