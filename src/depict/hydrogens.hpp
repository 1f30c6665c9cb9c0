#pragma once
// Hydrogens that carry wedges: the plan's records applied to a copy of the
// molecule, so that layout, wedges and the written molblock share one numbering.
#include <cstdint>
#include <utility>
#include <vector>

#include "core/builder.hpp"

namespace quorix::depict {

struct WedgeHydrogens {
    std::vector<std::pair<std::uint32_t, core::Atom>> replaced_atoms;
    std::vector<core::Atom> added_atoms;
    std::vector<core::Bond> added_bonds;
    bool operator==(const WedgeHydrogens&) const = default;
};

// The drawn molecule: replacements first (out-of-range indices skipped), then
// the added atoms, then the added bonds, each new bond last at both its ends.
core::MolBuilder add_wedge_hydrogens(const WedgeHydrogens& plan, const core::MolBuilder& mol);

}  // namespace quorix::depict
