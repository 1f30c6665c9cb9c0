#include "chem/explicit_hs.hpp"

#include <algorithm>
#include <tuple>
#include <vector>

#include "chem/hs_stereo.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"

namespace quorix::chem {

namespace E = core::Element;

using namespace quorix::core;

std::uint32_t add_explicit_hs(MolBuilder& mol, std::span<const std::uint32_t> ranks) {
    if (ranks.size() != mol.atoms.size()) internal_error("秩与原子数必须一一对应");
    std::vector<std::pair<std::uint32_t, std::uint8_t>> todo;
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        const unsigned n = std::min(255u, mol.atoms[a].total_hs());
        if (n > 0) todo.emplace_back(a, static_cast<std::uint8_t>(n));
    }
    if (todo.empty()) return 0;
    std::sort(todo.begin(), todo.end(), [&](const auto& x, const auto& y) {
        return std::tie(ranks[x.first], x.first) < std::tie(ranks[y.first], y.first);
    });

    // An allene's number is stated with each terminal's implicit hydrogen listed
    // first; as a bond it is listed last, which swaps that terminal's pair.
    for (std::uint32_t c = 0; c < mol.num_atoms(); ++c) {
        if (!is_allene_centre(mol, c)) continue;
        Atom& centre = mol.atoms[c];
        if (!allene_configured(centre.chiral_permutation)) continue;
        for (Neighbor nb : mol.neighbors(c)) {
            const Atom& t = mol.atoms[nb.atom];
            if (t.total_hs() == 1 && mol.degree[nb.atom] == 2)
                centre.chiral_permutation = mirrored_allene(centre.chiral_permutation);
        }
    }

    std::uint32_t added = 0;
    Atom hydrogen;
    hydrogen.atomic_num = E::H;
    for (auto [a, n] : todo) {
        Atom& heavy = mol.atoms[a];
        if (n == 1) {
            heavy.chiral_permutation =
                polyhedral_after_h_appended(heavy.chiral_tag, heavy.chiral_permutation, mol.degree[a]);
        }
        for (unsigned i = 0; i < n; ++i) {
            const std::uint32_t h = mol.add_atom(hydrogen);
            Bond bond;
            bond.begin = a;
            bond.end = h;
            bond.order = BondOrder::Single;
            mol.push_bond(bond);
            ++added;
        }
        mol.atoms[a].num_explicit_hs = 0;
        mol.atoms[a].num_implicit_hs = 0;
    }
    return added;
}

}  // namespace quorix::chem
