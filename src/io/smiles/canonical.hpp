#pragma once
// Canonical SMILES: refine the atoms into cells, try every atom of the first tied
// cell as the one to split off (later ties broken greedily) and keep the smallest
// text. Canonical ranks order atoms by symmetry class, then by where they stand in
// that text.
#include <cstdint>
#include <string>
#include <vector>

#include "core/builder.hpp"
#include "io/smiles/write.hpp"

namespace quorix::io {

// The molecule is not changed.
SmilesOutput canonical_smiles(const core::MolBuilder& mol);

// The text alone.
std::string to_canonical_smiles(const core::MolBuilder& mol);

// One rank per atom, each of 0..n-1 once; empty for no atoms.
std::vector<std::uint32_t> canonical_ranks(const core::MolBuilder& mol);

}  // namespace quorix::io
