#pragma once
// Ring membership, ring-bond blocks and ring systems. Every operation here sees
// the molecule without its dative bonds: a cycle closed only through a dative
// bond is no ring.
#include <cstdint>
#include <span>
#include <vector>

#include "core/builder.hpp"

namespace quorix::chem {

struct CsrEntry {
    std::uint32_t neighbor;
    std::uint32_t bond;
    bool operator==(const CsrEntry&) const = default;
};

// Compressed neighbour table restricted to the bonds a per-bond mask admits.
struct CsrAdjacency {
    std::vector<std::uint32_t> offsets;  // num_atoms + 1 running sums
    std::vector<CsrEntry> entries;       // per atom, in half-edge order
    std::uint32_t num_atoms = 0;
    std::uint32_t num_bonds = 0;

    std::span<const CsrEntry> row(std::uint32_t atom) const {
        return {entries.data() + offsets[atom], entries.data() + offsets[atom + 1]};
    }
};

struct RingMembership {
    std::vector<std::uint8_t> smallest_ring;  // per atom; 0 = none or above 255 atoms
    std::vector<std::uint8_t> atom_in_ring;   // per atom
    std::vector<std::uint8_t> bond_in_ring;   // per bond
};

// One byte per bond: 1 unless the bond is dative.
std::vector<std::uint8_t> ring_perception_mask(const core::MolBuilder& mol);

// A bond index at or beyond the mask's length is an internal error.
CsrAdjacency csr_adjacency(const core::MolBuilder& mol, std::span<const std::uint8_t> mask);

// Biconnected blocks of at least two bonds, each an ascending bond list, in the
// order the depth-first search completes them.
std::vector<std::vector<std::uint32_t>> ring_bond_components(const CsrAdjacency& table);

// Atoms of each ring system, ascending, systems ordered by their smallest atom
// (stable, so spiro systems sharing their smallest atom keep completion order).
std::vector<std::vector<std::uint32_t>> ring_systems(const core::MolBuilder& mol);

// Computes membership and rewrites the IN_RING bit of every atom and bond.
RingMembership ring_membership(core::MolBuilder& mol);

// Size in atoms of the smallest ring through `atom` over bonds whose mask byte
// is 1, or 0 when none has at most `limit` atoms. `dist` must hold one entry per
// atom, all 0xFFFFFFFF, and is left that way; `queue` is scratch.
std::uint32_t smallest_ring_size(const CsrAdjacency& table, std::uint32_t atom,
                                 std::span<const std::uint8_t> ring_bond_mask, std::uint32_t limit,
                                 std::vector<std::uint32_t>& dist, std::vector<std::uint32_t>& queue);

}  // namespace quorix::chem
