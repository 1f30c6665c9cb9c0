#include "chem/valence.hpp"

namespace quorix::chem {

std::expected<void, core::ValenceError> assign_valences(core::MolBuilder& mol, ValenceLists& out) {
    const std::uint32_t n = mol.num_atoms();
    out.explicit_valence.resize(n);
    out.implicit_hs.resize(n);
    if (auto checked = core::strict_valences(mol, out.explicit_valence, out.implicit_hs); !checked)
        return std::unexpected(std::move(checked.error()));
    for (std::uint32_t a = 0; a < n; ++a) mol.atoms[a].num_implicit_hs = out.implicit_hs[a];
    return {};
}

std::expected<ValenceLists, core::ValenceError> assign_valences(core::MolBuilder& mol) {
    ValenceLists out;
    if (auto checked = assign_valences(mol, out); !checked) return std::unexpected(std::move(checked.error()));
    return out;
}

}  // namespace quorix::chem
