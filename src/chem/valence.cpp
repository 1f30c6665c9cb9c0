#include "chem/valence.hpp"

namespace quorix::chem {

std::expected<ValenceLists, core::ValenceError> assign_valences(core::MolBuilder& mol) {
    const std::uint32_t n = mol.num_atoms();
    ValenceLists out;
    out.explicit_valence.resize(n);
    out.implicit_hs.resize(n);
    for (std::uint32_t a = 0; a < n; ++a) {
        const core::Atom& atom = mol.atoms[a];
        auto v = core::explicit_valence(mol, a, true, static_cast<float>(atom.num_explicit_hs));
        if (!v) return std::unexpected(v.error());
        std::uint8_t h = 0;
        if (!(atom.flags & core::FIXED_HS)) {
            auto ih = core::implicit_hs(mol, a, *v, true);
            if (!ih) return std::unexpected(ih.error());
            h = *ih;
        }
        out.explicit_valence[a] = *v;
        out.implicit_hs[a] = h;
    }
    for (std::uint32_t a = 0; a < n; ++a) mol.atoms[a].num_implicit_hs = out.implicit_hs[a];
    return out;
}

}  // namespace quorix::chem
