#include "chem/sanitize.hpp"

#include <cstdint>
#include <vector>

#include "chem/adjust_hs.hpp"
#include "chem/aromaticity.hpp"
#include "chem/cleanup.hpp"
#include "chem/cleanup_chirality.hpp"
#include "chem/conjugation.hpp"
#include "chem/organometallics.hpp"
#include "chem/radicals.hpp"
#include "chem/rings.hpp"
#include "chem/valence.hpp"
#include "core/scratch.hpp"

namespace quorix::chem {

std::string SanitizeError::to_string() const {
    if (const auto* v = std::get_if<core::ValenceError>(&error)) return "价键计算失败:" + v->to_string();
    return "kekulize 失败:" + std::get<KekulizeError>(error).to_string();
}

std::expected<void, SanitizeError> sanitize(core::MolBuilder& mol) {
    const auto rings_lease = core::Scratch<RingBlocksMemo>::borrow(mol.num_atoms());
    const auto saved_lease = core::Scratch<std::vector<std::uint8_t>>::borrow(mol.num_atoms());
    std::vector<std::uint8_t>& saved_implicit_hs = *saved_lease;
    // Both valence passes write into lists kept from call to call.
    const auto first_lease = core::Scratch<ValenceLists>::borrow(mol.num_atoms());
    const auto valences_lease = core::Scratch<ValenceLists>::borrow(mol.num_atoms());
    ValenceLists& first = *first_lease;
    ValenceLists& valences = *valences_lease;

    cleanup(mol);
    organometallics(mol);
    if (auto checked = assign_valences(mol, first); !checked)
        return std::unexpected(SanitizeError{std::move(checked.error())});
    // From here on no bond is added, removed or made dative, so the ring blocks
    // found now serve every ring step.
    const RingBlocks& rings = remembered_ring_blocks(mol, *rings_lease);
    set_ring_flags(mol, rings);
    // Ring flags do not enter the valence rules, so the first lists still hold.
    if (auto kekule = kekulize(mol, rings.systems, first); !kekule)
        return std::unexpected(SanitizeError{std::move(kekule.error())});
    assign_radicals(mol);
    perceive_aromaticity(mol, *rings_lease);

    // Hydrogens the atoms had before aromatisation; adjust_hs gives back any
    // that the aromatic valence rules would now take away.
    saved_implicit_hs.resize(mol.num_atoms());
    for (std::uint32_t i = 0; i < mol.num_atoms(); ++i) saved_implicit_hs[i] = mol.atoms[i].num_implicit_hs;

    if (auto checked = assign_valences(mol, valences); !checked)
        return std::unexpected(SanitizeError{std::move(checked.error())});
    // Nothing the valences depend on changes from here on, so the two steps
    // after them reuse the lists instead of computing them again.
    perceive_conjugation_and_hybridization(mol, valences);
    cleanup_chirality(mol);
    adjust_hs(mol, saved_implicit_hs, valences.implicit_hs);
    return {};
}

}  // namespace quorix::chem
