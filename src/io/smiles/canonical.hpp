#pragma once
// Canonical SMILES: refine the atoms into cells, try every atom of the first tied
// cell as the one to split off (later ties broken greedily) and keep the smallest
// text. Canonical ranks order atoms by symmetry class, then by where they stand in
// that text.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/builder.hpp"
#include "core/scratch.hpp"
#include "io/canon.hpp"
#include "io/smiles/write.hpp"

namespace quorix::io {

// The molecule is not changed.
SmilesOutput canonical_smiles(const core::MolBuilder& mol);

// The text alone.
std::string to_canonical_smiles(const core::MolBuilder& mol);

// One rank per atom, each of 0..n-1 once; empty for no atoms.
std::vector<std::uint32_t> canonical_ranks(const core::MolBuilder& mol);

// One refinement of a molecule serving its symmetry classes first and its
// canonical ranks later, for a caller that needs the classes before it knows
// whether it wants the ranks of this molecule. The molecule must stay unchanged
// while the object lives.
class CanonicalRefinement {
public:
    explicit CanonicalRefinement(const core::MolBuilder& mol);
    // What symmetry_classes gives; the span stays valid while the object lives.
    std::span<const std::uint32_t> classes();
    // What canonical_ranks gives. The search takes the refinement over, so this
    // is called at most once, and classes() not after it unless it was before.
    // `centres`, unless empty, must be chiral_centres(mol, classes()): a caller
    // that has them spares the search working them out again.
    std::vector<std::uint32_t> ranks(std::span<const std::uint8_t> centres = {});

private:
    const core::MolBuilder& mol_;
    core::Scratch<Refinement>::Lease refined_;
    bool classes_read_ = false;
    bool spent_ = false;
};

}  // namespace quorix::io
