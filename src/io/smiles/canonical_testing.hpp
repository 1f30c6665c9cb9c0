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
    // Cells refinements split off: a refinement costs about what it splits, so
    // this grows as the square of a symmetric chain when each mark's check
    // refines the whole chain.
    std::uint64_t cells_made = 0;
    // Off: the check of a chain's marks by splits near each is skipped, and the
    // checks over the whole molecule decide, as they would without it.
    bool local_mark_checks = true;
};

// canonical_smiles, adding its work to `work`.
SmilesOutput canonical_smiles_counted(const core::MolBuilder& mol, CanonicalWork& work);

}  // namespace quorix::io
