#pragma once
// The ring search for ring systems of any size, shared by the ring list and its
// search for large systems: a system's local graph and how rings leave it.
#include <cstdint>
#include <span>
#include <vector>

#include "chem/sssr.hpp"

namespace quorix::chem::ring_search {

struct LocalEntry {
    std::uint32_t neighbor;
    std::uint32_t edge;
};

struct LocalGraph {
    std::vector<std::uint32_t> atoms;  // molecule atom of each local atom
    std::vector<std::uint32_t> edge_begin, edge_end;
    std::vector<std::uint32_t> offsets;
    std::vector<LocalEntry> entries;
    std::vector<std::uint32_t> fill;

    std::uint32_t num_atoms() const { return static_cast<std::uint32_t>(atoms.size()); }
    std::uint32_t num_edges() const { return static_cast<std::uint32_t>(edge_begin.size()); }
};


// Appends one ring, translating local atoms and edges to the molecule's.
template <class Atoms, class Edges>
void emit(const LocalGraph& g, std::span<const std::uint32_t> system, const Atoms& atoms, const Edges& edges,
          RingList& out) {
    for (auto a : atoms) out.atoms.push_back(g.atoms[a]);
    for (auto e : edges) out.bonds.push_back(system[e]);
    out.close_ring();
}


// The rings of a system of any size by the general search (see sssr.hpp), in
// the order of the list; `plain` turns its shortcuts off.
void general_system_rings(const LocalGraph& g, std::span<const std::uint32_t> system, RingList& out,
                          RingSearchStats& stats, bool plain);

}  // namespace quorix::chem::ring_search
