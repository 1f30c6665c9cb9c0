#pragma once
// Unpaired electrons of atoms whose hydrogen count was declared.
#include "core/builder.hpp"

namespace quorix::chem {

// Writes num_radical_electrons of every non-wildcard FIXED_HS atom; other atoms keep theirs.
void assign_radicals(core::MolBuilder& mol);

}  // namespace quorix::chem
