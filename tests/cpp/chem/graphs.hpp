#pragma once
// Skeletons built bond by bond, so ring tests fix the exact atom and bond numbering.
#include <cstdint>
#include <utility>
#include <vector>

#include "core/builder.hpp"

namespace quorix::test {

using Edges = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

inline Edges operator+(Edges a, const Edges& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline core::MolBuilder skeleton(std::uint32_t num_atoms,
                                 const std::vector<std::pair<std::uint32_t, std::uint32_t>>& edges,
                                 std::uint8_t element = 6) {
    core::MolBuilder m = core::MolBuilder::with_capacity(num_atoms, edges.size());
    for (std::uint32_t i = 0; i < num_atoms; ++i) {
        core::Atom a;
        a.atomic_num = element;
        m.add_atom(a);
    }
    for (auto [x, y] : edges) {
        core::Bond b;
        b.begin = x;
        b.end = y;
        b.order = core::BondOrder::Single;
        m.push_bond(b);
    }
    return m;
}

// Atoms 0..n-1 bonded in a cycle, bond i joining i and i+1.
inline std::vector<std::pair<std::uint32_t, std::uint32_t>> cycle_edges(std::uint32_t first, std::uint32_t n) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> e;
    for (std::uint32_t i = 0; i < n; ++i) e.push_back({first + i, first + (i + 1) % n});
    return e;
}

// 2 * (rings + 1) atoms: rung k joins 2k and 2k+1, rails join 2k-2k+2 and 2k+1-2k+3.
inline Edges ladder_edges(std::uint32_t rings) {
    Edges e;
    for (std::uint32_t k = 0; k <= rings; ++k) {
        e.push_back({2 * k, 2 * k + 1});
        if (k < rings) {
            e.push_back({2 * k, 2 * k + 2});
            e.push_back({2 * k + 1, 2 * k + 3});
        }
    }
    return e;
}

inline core::MolBuilder ladder(std::uint32_t rings) { return skeleton(2 * (rings + 1), ladder_edges(rings)); }

}  // namespace quorix::test
