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

// Index lists stored end to end: list i is items[offsets[i], offsets[i + 1]).
struct FlatLists {
    std::vector<std::uint32_t> offsets{0};
    std::vector<std::uint32_t> items;

    std::uint32_t size() const { return static_cast<std::uint32_t>(offsets.size() - 1); }
    bool empty() const { return offsets.size() <= 1; }
    std::span<const std::uint32_t> operator[](std::uint32_t i) const {
        return {items.data() + offsets[i], items.data() + offsets[i + 1]};
    }
    void clear() {
        offsets.assign(1, 0);
        items.clear();
    }
    // Ends the list whose items were appended since the last call.
    void close_list() { offsets.push_back(static_cast<std::uint32_t>(items.size())); }

    class iterator {
    public:
        iterator(const FlatLists* l, std::uint32_t i) : lists_(l), i_(i) {}
        std::span<const std::uint32_t> operator*() const { return (*lists_)[i_]; }
        iterator& operator++() {
            ++i_;
            return *this;
        }
        bool operator==(const iterator& o) const { return i_ == o.i_; }

    private:
        const FlatLists* lists_;
        std::uint32_t i_;
    };
    iterator begin() const { return {this, 0}; }
    iterator end() const { return {this, size()}; }
};

// Rings stored end to end: ring i has atoms[offsets[i], offsets[i + 1]) and the
// bonds of the same range, with the meaning of Ring (sssr.hpp).
struct RingList {
    std::vector<std::uint32_t> offsets{0};
    std::vector<std::uint32_t> atoms;
    std::vector<std::uint32_t> bonds;

    std::uint32_t size() const { return static_cast<std::uint32_t>(offsets.size() - 1); }
    std::uint32_t ring_size(std::uint32_t i) const { return offsets[i + 1] - offsets[i]; }
    std::span<const std::uint32_t> ring_atoms(std::uint32_t i) const {
        return {atoms.data() + offsets[i], atoms.data() + offsets[i + 1]};
    }
    std::span<const std::uint32_t> ring_bonds(std::uint32_t i) const {
        return {bonds.data() + offsets[i], bonds.data() + offsets[i + 1]};
    }
    void clear() {
        offsets.assign(1, 0);
        atoms.clear();
        bonds.clear();
    }
    // Keeps the first `count` rings.
    void truncate(std::uint32_t count) {
        offsets.resize(std::size_t(count) + 1);
        atoms.resize(offsets.back());
        bonds.resize(offsets.back());
    }
    // Ends the ring whose atoms and bonds were appended since the last call.
    void close_ring() { offsets.push_back(static_cast<std::uint32_t>(atoms.size())); }
};

// The ring structure of a molecule's graph without its dative bonds. It stays
// valid while no bond is added, removed, or made or unmade dative, so one
// sanitisation computes it once for all of its ring steps.
struct RingBlocks {
    FlatLists blocks;       // as ring_bond_components gives them
    FlatLists block_atoms;  // atoms of each block, ascending
    FlatLists systems;      // as ring_systems gives them
};

// Fills `out`, reusing its storage.
void find_ring_blocks(const core::MolBuilder& mol, RingBlocks& out);

// Ring blocks kept with the graph they were found in: its neighbour lists and
// which bonds are dative, all the block search reads.
struct RingBlocksMemo {
    bool valid = false;
    std::vector<std::uint32_t> first_half_edge, next_half_edge, degree;
    std::vector<std::uint32_t> bond_ends;  // per bond: begin, end, and 1 if dative
    RingBlocks blocks;
    // The ring list of the same graph, once sssr has made it: it reads nothing
    // else of the molecule either.
    bool rings_known = false;
    RingList rings;
};

// The blocks of `mol`, as find_ring_blocks gives them, held in `memo`: searched
// for only when the memo does not already hold those of the same graph. A
// caller borrows the memo from core::Scratch, so that the next call on the same
// molecule (sanitisation, ring list, ring systems) finds them there.
const RingBlocks& remembered_ring_blocks(const core::MolBuilder& mol, RingBlocksMemo& memo);

// Rewrites the IN_RING bit of every atom and bond from the blocks.
void set_ring_flags(core::MolBuilder& mol, const RingBlocks& blocks);

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
// Same, into flat storage reused from call to call.
void ring_bond_components(const CsrAdjacency& table, FlatLists& out);

// Atoms of each ring system, ascending, systems ordered by their smallest atom
// (stable, so spiro systems sharing their smallest atom keep completion order).
std::vector<std::vector<std::uint32_t>> ring_systems(const core::MolBuilder& mol);

// Computes membership and rewrites the IN_RING bit of every atom and bond.
RingMembership ring_membership(core::MolBuilder& mol);
// The same facts without touching the molecule's flags.
RingMembership ring_membership_of(const core::MolBuilder& mol);

// Scratch of smallest_ring_size, reused across atoms. Between calls every entry
// of `dist` and `position` is 0xFFFFFFFF; `fit` sizes a fresh one.
struct RingSearchScratch {
    std::vector<std::uint32_t> dist;      // per atom
    std::vector<std::uint32_t> position;  // per atom: last place in the centre's row
    std::vector<std::uint32_t> queue;
    void fit(std::uint32_t num_atoms);
};

// Size in atoms of the smallest ring through `atom` over bonds whose mask byte
// is 1, or 0 when none has at most `limit` atoms.
std::uint32_t smallest_ring_size(const CsrAdjacency& table, std::uint32_t atom,
                                 std::span<const std::uint8_t> ring_bond_mask, std::uint32_t limit,
                                 RingSearchScratch& scratch);

}  // namespace quorix::chem
