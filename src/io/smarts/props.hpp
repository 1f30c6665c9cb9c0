#pragma once
// The per-molecule facts that query expressions test. The matcher computes them
// before every search; the evaluators here read one record at a time and never
// look at the molecule itself.
#include <cstdint>
#include <vector>

#include "core/builder.hpp"

namespace quorix::io {

struct AtomProps {
    std::int32_t formal_charge = 0;
    std::int32_t degree = 0;         // all neighbour atoms, hydrogen atoms included
    std::int32_t total_h = 0;        // declared + implicit + hydrogen neighbour atoms
    std::int32_t implicit_h = 0;
    std::int32_t valence = 0;        // 0 when it cannot be computed
    std::int32_t ring_count = 0;     // rings of the smallest set holding the atom
    std::int32_t smallest_ring = 0;  // 0 when in no ring
    std::int32_t ring_bonds = 0;
    // Neighbour atoms that are hydrogen. They sit in both `degree` and `total_h`;
    // the connection count subtracts them once so each hydrogen counts once.
    std::int32_t h_neighbors = 0;
    std::uint16_t isotope = 0;
    std::uint8_t atomic_num = 0;
    std::uint8_t aromatic = 0;
    // Carried for the matcher; the evaluators never read them.
    std::uint16_t map_number = 0;
    std::uint8_t chirality = 0;
};

struct BondProps {
    std::uint8_t in_ring = 0;
    // For a dative molecule bond: 1 when it runs from the image of the query
    // bond's `begin` to the image of its `end`. The matcher rewrites it per test.
    std::uint8_t dative_forward = 1;
    core::BondOrder order = core::BondOrder::Unspecified;
};

struct QueryProps {
    std::vector<AtomProps> atoms;  // by atom index
    std::vector<BondProps> bonds;  // by bond index
};

}  // namespace quorix::io
