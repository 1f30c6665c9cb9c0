#include "chem/adjust_hs.hpp"

#include <algorithm>

#include "core/error.hpp"
#include "core/valence.hpp"

namespace quorix::chem {

std::uint32_t adjust_hs(core::MolBuilder& mol, std::span<const std::uint8_t> saved) {
    if (saved.size() != mol.num_atoms()) internal_error("芳香化前的隐式氢数组长度与原子数不符");
    std::uint32_t changed = 0;
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        core::Atom& atom = mol.atoms[a];
        std::uint8_t now = 0;
        if (!(atom.flags & core::FIXED_HS)) {
            const auto v = core::explicit_valence(mol, a, false, static_cast<float>(atom.num_explicit_hs));
            now = core::implicit_hs(mol, a, v.value_or(0), false).value_or(0);
        }
        if (saved[a] <= now) continue;
        atom.num_explicit_hs = static_cast<std::uint8_t>(std::min(255u, unsigned(atom.num_explicit_hs) + (saved[a] - now)));
        atom.num_implicit_hs = now;
        ++changed;
    }
    return changed;
}

}  // namespace quorix::chem
