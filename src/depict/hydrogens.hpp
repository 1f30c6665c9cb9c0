#pragma once
// Hydrogens that carry wedges: which stereocentres need an explicit hydrogen to
// put a wedge on, and the plan's records applied to a copy of the molecule, so
// that layout, wedges and the written molblock share one numbering.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/builder.hpp"

namespace quorix::depict {

// Entry k of each list belongs to the k-th chosen centre; its hydrogen is atom
// n + k of the drawn molecule.
struct WedgeHydrogens {
    std::vector<std::pair<std::uint32_t, core::Atom>> updated_atoms;  // centre, one hydrogen fewer
    std::vector<core::Atom> hydrogens;
    std::vector<core::Bond> bonds;  // centre -> its new hydrogen
    bool operator==(const WedgeHydrogens&) const = default;
};

// An upper bound on the hydrogens planned, without perceiving the centres.
std::size_t wedge_hydrogens_at_most(const core::MolBuilder& mol);
// How many hydrogens are planned, without the canonical ranks that order them:
// those take minutes on many copies of one stereo piece.
std::size_t wedge_hydrogen_count(const core::MolBuilder& mol);

// Confirmed @/@@ centres with a hydrogen and either fewer than three neighbours
// or no acyclic single bond, in (canonical rank, index) order; none when no atom
// needs one.
std::optional<WedgeHydrogens> plan_wedge_hydrogens(const core::MolBuilder& mol);
// The same with the molecule's confirmed centres (io::chiral_centres) already at hand.
std::optional<WedgeHydrogens> plan_wedge_hydrogens(const core::MolBuilder& mol, std::span<const std::uint8_t> confirmed);

// The drawn molecule: replacements first (out-of-range indices skipped), then
// the added atoms, then the added bonds, each new bond last at both its ends.
core::MolBuilder add_wedge_hydrogens(const WedgeHydrogens& plan, const core::MolBuilder& mol);

}  // namespace quorix::depict
