#pragma once
// How a drawing reads a stored cis/trans double bond, and the wedges that make
// it read every tetrahedral centre as stored.
#include <cstdint>
#include <span>

#include <vector>

#include "core/builder.hpp"
#include "depict/layout.hpp"
#include "io/wedge.hpp"

namespace quorix::depict {

// Undecided: a reference atom missing or on the bond's axis.
inline constexpr std::uint8_t UNDECIDED_CONFIG = 255;

// 3 (cis) when both stereo reference atoms lie on one side of the bond's axis,
// 4 (trans) otherwise, UNDECIDED_CONFIG when the drawing has no answer.
std::uint8_t drawn_double_bond_config(const core::MolBuilder& mol, std::span<const Point> coords,
                                      std::uint32_t bond);

struct WedgeAssignment {
    std::vector<io::Wedge> wedges;        // one per bond
    std::vector<std::uint32_t> unwedged;  // ascending
};

// One single bond a centre could be wedged on; candidates sort by every field
// after `neighbour`'s rank in the order below.
struct WedgeCandidate {
    std::uint32_t neighbour_rank;
    std::uint32_t neighbour;
    std::uint8_t first_key;
    std::uint8_t second_key;
    std::uint8_t non_terminal;
    std::uint32_t bond;
};
bool operator<(const WedgeCandidate& a, const WedgeCandidate& b);

// One pass: centres by (rank, index), each wedged on its best candidate bond
// that reads back as its tag, then re-verified against later wedges. The first
// preference is a bond outside rings, or, with `stereo_neighbour_first`, a far
// atom that is no stereocentre.
WedgeAssignment assign_wedges(const core::MolBuilder& mol, std::span<const Point> coords,
                              std::span<const std::uint32_t> ranks, bool stereo_neighbour_first);

// The better of the two passes: fewer unwedged centres, then fewer wedged ring
// bonds; ties keep the ring-first pass.
WedgeAssignment choose_wedges(const core::MolBuilder& mol, std::span<const Point> coords,
                              std::span<const std::uint32_t> ranks);

}  // namespace quorix::depict
