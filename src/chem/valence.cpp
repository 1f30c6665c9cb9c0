#include "chem/valence.hpp"

namespace quorix::chem {

std::expected<ValenceLists, core::ValenceError> assign_valences(core::MolBuilder& mol) {
    const std::uint32_t n = mol.num_atoms();
    ValenceLists out;
    out.explicit_valence.resize(n);
    out.implicit_hs.resize(n);
    for (std::uint32_t a = 0; a < n; ++a) {
        core::AtomValence v;
        if (!core::try_strict_valence_hs(mol, a, v)) return std::unexpected(core::strict_valence_hs(mol, a).error());
        out.explicit_valence[a] = v.explicit_valence;
        out.implicit_hs[a] = static_cast<std::uint8_t>(v.implicit_hs);
    }
    for (std::uint32_t a = 0; a < n; ++a) mol.atoms[a].num_implicit_hs = out.implicit_hs[a];
    return out;
}

}  // namespace quorix::chem
