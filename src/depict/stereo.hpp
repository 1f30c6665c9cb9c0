#pragma once
// Stereo in the drawing. Drawn cis/trans: how a drawing reads a stored cis/trans
// double bond, the repair that mirrors one side of a wrongly drawn acyclic one,
// and the list of those still drawn the other way (a molblock reader takes
// cis/trans from the coordinates). Wedges: the bonds and kinds that make a reader
// see every tetrahedral centre as stored.
#include <cstdint>
#include <optional>
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

// Atoms reachable from `atom` (an end of `bond`) without walking `bond`, ascending;
// absent when the other end is reachable that way (the bond lies on a ring).
std::optional<std::vector<std::uint32_t>> bond_side_atoms(const core::MolBuilder& mol, std::uint32_t bond,
                                                          std::uint32_t atom);

// Mirrors one side of each acyclic cis/trans bond that is drawn the other way;
// returns the bonds it mended.
std::vector<std::uint32_t> repair_double_bonds(const core::MolBuilder& mol, std::span<Point> coords,
                                               std::span<const std::uint32_t> ranks);

// Cis/trans bonds drawn against their stored value, ascending.
std::vector<std::uint32_t> find_misdrawn_double_bonds(const core::MolBuilder& mol, std::span<const Point> coords);

// Whether a bond of the molecule being written may carry a wedge: a plain single
// bond only. A wedge is written apex first, and a dative bond is written donor
// first, its direction being its meaning, so a wedge on one could turn it round.
// The wedge-hydrogen plan and the wedge assignment both ask this, so a centre
// the plan leaves without a hydrogen has an acyclic bond the assignment can take.
inline bool carries_wedge(const core::Bond& written) { return written.order == core::BondOrder::Single; }

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
// The same with the molecule's confirmed centres (io::chiral_centres) already at
// hand, and the bonds of the molecule to be written, bond for bond those of `mol`:
// they decide which bonds may carry a wedge (carries_wedge) when `mol` is a
// working copy whose dative bonds were made single.
WedgeAssignment choose_wedges(const core::MolBuilder& mol, std::span<const Point> coords,
                              std::span<const std::uint32_t> ranks, std::span<const std::uint8_t> confirmed,
                              std::span<const core::Bond> written);

}  // namespace quorix::depict
