#pragma once
// The smallest set of smallest rings as the conformer reads it: each ring's
// atoms sorted for bisection, its aromatic and all-sp3 flags, whether a
// stored trans double bond twists it, and per atom its rings in list order
// and the size of its smallest ring.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "chem/sssr.hpp"
#include "core/builder.hpp"

namespace quorix::conf {

struct RingContext {
    std::vector<std::uint32_t> ring_offsets, ring_atoms;  // sorted atoms per ring
    std::vector<std::uint8_t> aromatic, all_sp3;
    // A double bond of the ring whose stored cis/trans puts its two ring
    // neighbours trans: no such ring of eight atoms or fewer can lie flat.
    std::vector<std::uint8_t> trans_double;
    std::vector<std::uint32_t> atom_offsets, atom_rings;  // ascending ring indices per atom
    std::vector<std::uint32_t> smallest;                  // per atom, 0 = no ring

    void build(const core::MolBuilder& mol);
    // From a ring list already at hand, in its order.
    void build(const core::MolBuilder& mol, const std::vector<chem::Ring>& rings);

    std::uint32_t ring_count() const { return static_cast<std::uint32_t>(aromatic.size()); }
    std::uint32_t ring_size(std::uint32_t r) const { return ring_offsets[r + 1] - ring_offsets[r]; }
    bool contains(std::uint32_t r, std::uint32_t atom) const;
    // The smallest ring holding every given atom (the first of the list among
    // equals), NONE when there is none. Only the first atom's rings can qualify.
    template <class... Rest>
    std::uint32_t smallest_holding(std::uint32_t first, Rest... rest) const {
        std::uint32_t best = core::NONE;
        for (std::uint32_t k = atom_offsets[first]; k < atom_offsets[first + 1]; ++k) {
            const std::uint32_t r = atom_rings[k];
            if (ring_size(r) < 2 || (best != core::NONE && ring_size(r) >= ring_size(best))) continue;
            if ((contains(r, rest) && ...)) best = r;
        }
        return best;
    }
    template <class... Atoms>
    std::size_t smallest_size(Atoms... atoms) const {
        const std::uint32_t r = smallest_holding(atoms...);
        return r == core::NONE ? 0 : ring_size(r);
    }
};

}  // namespace quorix::conf
