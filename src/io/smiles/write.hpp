#pragma once
// SMILES text from a molecule, visiting atoms in the order of a priority per atom.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/builder.hpp"

namespace quorix::io {

struct SmilesOutput {
    std::string text;
    std::vector<std::uint32_t> atom_order;  // every atom once, in the order written

    bool operator==(const SmilesOutput&) const = default;
};

enum class SmilesMode : std::uint8_t {
    // Every declared hydrogen count stays in brackets; marks are written as stored.
    Storage = 0,
    // Declared counts the valence rules give back are dropped, stored cis/trans is
    // restated against the preferred references, and the first mark of every group
    // reads "/".
    Canonical = 1,
};

// Lower priorities are visited first; `priorities` holds one entry per atom.
SmilesOutput write_smiles(const core::MolBuilder& mol, std::span<const std::uint32_t> priorities,
                          SmilesMode mode);

// Same, for callers that write one molecule many times: `effective_marks` holds its
// effective_direction_marks, computed once (they depend on neither the priorities
// nor the stored cis/trans values).
SmilesOutput write_smiles(const core::MolBuilder& mol, std::span<const std::uint32_t> priorities,
                          SmilesMode mode, std::span<const std::uint8_t> effective_marks);

// Storage-order SMILES: each atom's own index is its priority.
SmilesOutput write_smiles(const core::MolBuilder& mol);

bool needs_brackets(const core::MolBuilder& mol, std::uint32_t atom, SmilesMode mode);

}  // namespace quorix::io
