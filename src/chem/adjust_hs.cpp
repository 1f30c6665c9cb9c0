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
        if (saved[a] == 0) continue;  // nothing to give back
        const auto now = static_cast<std::uint8_t>(core::lenient_valence_hs(mol, a).implicit_hs);
        if (saved[a] <= now) continue;
        atom.num_explicit_hs = static_cast<std::uint8_t>(std::min(255u, unsigned(atom.num_explicit_hs) + (saved[a] - now)));
        atom.num_implicit_hs = now;
        ++changed;
    }
    return changed;
}

}  // namespace quorix::chem
