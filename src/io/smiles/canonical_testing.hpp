#pragma once
// For tests only: the work one canonical SMILES call does, so that a test can put
// a bound on it that holds on any machine.
#include <cstdint>

#include "core/builder.hpp"
#include "io/smiles/write.hpp"

namespace quorix::io {

struct CanonicalWork {
    std::uint64_t refinements = 0;  // refinements run, the root's included
    std::uint64_t leaves = 0;       // completed orders compared
    std::uint64_t chirality_visits = 0;  // atoms looked at by the @/@@ rounds of refinement
};

// canonical_smiles, adding its work to `work`.
SmilesOutput canonical_smiles_counted(const core::MolBuilder& mol, CanonicalWork& work);

}  // namespace quorix::io
