#pragma once
// The ring list: per ring system, every ring of each size that is independent
// of all smaller rings, so symmetric cages list all their equivalent faces.
#include <cstdint>
#include <span>
#include <vector>

#include "chem/rings.hpp"
#include "core/builder.hpp"

namespace quorix::chem {

struct Ring {
    std::vector<std::uint32_t> atoms;  // ring order; each bonded to the next, last to first
    std::vector<std::uint32_t> bonds;  // bonds[k] joins atoms[k] and atoms[k + 1] (cyclically)
    bool operator==(const Ring&) const = default;
};

// All rings, ordered stably by (atom count, smallest atom, largest atom).
std::vector<Ring> sssr(const core::MolBuilder& mol);

// Work done by the search for systems too large for the bitset one: atoms
// queued by its breadth-first trees plus atoms walked along candidate cycles.
struct RingSearchStats {
    std::uint64_t steps = 0;
    std::uint64_t chain_roots = 0;       // roots served by the trees of a chain's ends
    std::uint64_t skipped_attempts = 0;  // size limits passed over: no cycle outside the span fits
    std::uint64_t full_reruns = 0;       // attempts redone in full (a ring candidate bonded across itself)
};
// Same list; adds the search's work to `stats`.
std::vector<Ring> sssr(const core::MolBuilder& mol, RingSearchStats& stats);

// The rings of one ring system, given as an ascending bond list without repeats.
std::vector<Ring> sssr_of_ring_system(std::span<const core::Bond> bonds,
                                      std::span<const std::uint32_t> system_bonds);

// Appends what sssr_of_ring_system gives, in the same order.
void append_ring_system_rings(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system_bonds,
                              RingList& out);
// Same, for a caller that holds the system's atoms: exactly the ends of its
// bonds, ascending (RingBlocks::block_atoms).
void append_ring_system_rings(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system_bonds,
                              std::span<const std::uint32_t> system_atoms, RingList& out);
// Same, always by the search for systems of any size; systems of at most 64
// atoms and 64 bonds normally take a bitset search that must agree with it.
void append_ring_system_rings_general(std::span<const core::Bond> bonds,
                                      std::span<const std::uint32_t> system_bonds, RingList& out);
// With `plain`, every attempt builds every candidate cycle and roots inside
// chains get searches of their own: slow, and the same rings.
void append_ring_system_rings_general(std::span<const core::Bond> bonds,
                                      std::span<const std::uint32_t> system_bonds, RingList& out,
                                      RingSearchStats& stats, bool plain = false);

// `in` reordered stably by (atom count, smallest atom, largest atom) into `out`.
void sort_ring_list(const RingList& in, RingList& out);

// The ring list `sssr` gives, from the molecule's blocks; `found` is scratch.
void ring_list_of_blocks(const core::MolBuilder& mol, const RingBlocks& blocks, RingList& found, RingList& out);

// The ring list `sssr` gives, held in `memo` beside the blocks of the same graph
// and searched for only when the memo does not hold it yet.
const RingList& remembered_ring_list(const core::MolBuilder& mol, RingBlocksMemo& memo);

}  // namespace quorix::chem
