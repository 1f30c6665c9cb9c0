#pragma once
// The ring list: per ring system, every ring of each size that is independent
// of all smaller rings, so symmetric cages list all their equivalent faces.
#include <cstdint>
#include <span>
#include <vector>

#include "core/builder.hpp"

namespace quorix::chem {

struct Ring {
    std::vector<std::uint32_t> atoms;  // ring order; each bonded to the next, last to first
    std::vector<std::uint32_t> bonds;  // bonds[k] joins atoms[k] and atoms[k + 1] (cyclically)
    bool operator==(const Ring&) const = default;
};

// All rings, ordered stably by (atom count, smallest atom, largest atom).
std::vector<Ring> sssr(const core::MolBuilder& mol);

// The rings of one ring system, given as an ascending bond list without repeats.
std::vector<Ring> sssr_of_ring_system(std::span<const core::Bond> bonds,
                                      std::span<const std::uint32_t> system_bonds);

}  // namespace quorix::chem
