#include "match/pieces.hpp"

#include <algorithm>

namespace quorix::match {

using core::NONE;

Pieces split_into_pieces(const core::MolBuilder& mol) {
    Pieces out;
    out.component = core::connected_components(mol);
    std::uint32_t count = 0;
    for (std::uint32_t c : out.component) count = std::max(count, c + 1);
    out.molecules.resize(count);
    out.local.resize(mol.num_atoms());
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a)
        out.local[a] = out.molecules[out.component[a]].add_atom(mol.atoms[a]);
    for (const core::Bond& b : mol.bonds) {
        core::Bond copy = b;
        copy.begin = out.local[b.begin];
        copy.end = out.local[b.end];
        for (std::uint32_t& s : copy.stereo_atoms)
            if (s != NONE) s = out.local[s];
        out.molecules[out.component[b.begin]].push_bond(copy);
    }
    return out;
}

}  // namespace quorix::match
