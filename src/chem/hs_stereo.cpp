#include "chem/hs_stereo.hpp"

#include <array>

#include "core/polyhedron.hpp"

namespace quorix::chem {

using namespace quorix::core;

bool is_allene_centre(const MolBuilder& mol, std::uint32_t a) {
    if (mol.atoms[a].chiral_tag != ChiralTag::Allene || mol.degree[a] != 2) return false;
    for (Neighbor nb : mol.neighbors(a))
        if (mol.bonds[nb.bond].order != BondOrder::Double) return false;
    return true;
}


std::uint8_t polyhedral_after_h_appended(ChiralTag tag, std::uint8_t permutation, std::uint32_t degree_before) {
    const std::uint32_t n = core::polyhedron_vertex_count(tag);
    if (n == 0 || degree_before + 1 != n) return permutation;
    // Ligand ids: 0..d-1 the bonds, d the hydrogen.
    std::array<std::uint32_t, 6> stored{}, now{};
    stored[0] = degree_before;
    for (std::uint32_t i = 0; i < degree_before; ++i) {
        stored[i + 1] = i;
        now[i] = i;
    }
    now[degree_before] = degree_before;
    auto r = core::renumber_polyhedral_permutation(tag, permutation, std::span(stored.data(), n),
                                                   std::span(now.data(), n));
    return r ? *r : permutation;
}

std::uint8_t polyhedral_after_h_folded(ChiralTag tag, std::uint8_t permutation, std::uint32_t degree_before,
                                       std::uint32_t position) {
    const std::uint32_t n = core::polyhedron_vertex_count(tag);
    if (n == 0 || degree_before != n || position >= degree_before) return permutation;
    std::array<std::uint32_t, 6> stored{}, now{};
    now[0] = position;
    std::uint32_t k = 1;
    for (std::uint32_t i = 0; i < degree_before; ++i) {
        stored[i] = i;
        if (i != position) now[k++] = i;
    }
    auto r = core::renumber_polyhedral_permutation(tag, permutation, std::span(stored.data(), n),
                                                   std::span(now.data(), n));
    return r ? *r : permutation;
}

}  // namespace quorix::chem
