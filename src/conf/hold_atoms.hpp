#pragma once
// Small questions about atoms that the finders of several kinds of hold and
// their bounds ask alike.
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "core/builder.hpp"

namespace quorix::conf {

// The substituent an unconfigured chain double bond keeps trans to the other
// side's: the lowest-ranked one (canonical rank, then index).
inline std::uint32_t lowest_ranked(std::span<const std::uint32_t> side, std::span<const std::uint32_t> ranks) {
    std::uint32_t best = side[0];
    for (std::uint32_t x : side)
        if (ranks[x] < ranks[best] || (ranks[x] == ranks[best] && x < best)) best = x;
    return best;
}

// Whether substituents a and d of an unconfigured chain double bond lie cis
// in its arrangement.
inline bool chosen_cis(std::span<const std::uint32_t> side_b, std::span<const std::uint32_t> side_c, std::uint32_t a,
                       std::uint32_t d, std::span<const std::uint32_t> ranks) {
    return (a != lowest_ranked(side_b, ranks)) != (d != lowest_ranked(side_c, ranks));
}

// The substituents on each end of a double bond; whether both ends have one
// (else no torsion runs across it).
inline bool double_bond_sides(const core::MolBuilder& mol, const core::Bond& bond, std::vector<std::uint32_t>& side_b,
                              std::vector<std::uint32_t>& side_c) {
    side_b.clear();
    side_c.clear();
    for (core::Neighbor nb : mol.neighbors(bond.begin))
        if (nb.atom != bond.end) side_b.push_back(nb.atom);
    for (core::Neighbor nb : mol.neighbors(bond.end))
        if (nb.atom != bond.begin) side_c.push_back(nb.atom);
    return !side_b.empty() && !side_c.empty();
}

inline bool element_in(const core::MolBuilder& mol, std::uint32_t a, std::initializer_list<std::uint8_t> elements) {
    return std::find(elements.begin(), elements.end(), mol.atoms[a].atomic_num) != elements.end();
}

// The first neighbour of `a` other than `not_this`, NONE without one.
inline std::uint32_t other_neighbour(const core::MolBuilder& mol, std::uint32_t a, std::uint32_t not_this) {
    for (core::Neighbor nb : mol.neighbors(a))
        if (nb.atom != not_this) return nb.atom;
    return core::NONE;
}

}  // namespace quorix::conf
