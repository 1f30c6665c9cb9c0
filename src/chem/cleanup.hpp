#pragma once
// Rewrites expanded-valence nitro, N-oxide, azide, phosphorus-ylide and halogen
// oxide groups into their charge-separated form. Changes only bond orders and
// formal charges; never fails.
#include "core/builder.hpp"

namespace quorix::chem {

void cleanup(core::MolBuilder& mol);

}  // namespace quorix::chem
