#pragma once
// The 2-D depiction: one molecule in, its drawing (coordinates, wedges) and an
// account of what the drawing fails to show out.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/builder.hpp"
#include "depict/hydrogens.hpp"
#include "depict/layout.hpp"
#include "depict/rings.hpp"
#include "depict/style.hpp"
#include "depict/templates.hpp"
#include "io/wedge.hpp"

namespace quorix::depict {

// Every index refers to the drawn molecule: the given one with the planned
// wedge hydrogens appended after its own atoms and bonds.
struct DepictionResult {
    std::vector<Point> coords;
    std::vector<Degradation> degraded;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> unresolved;  // atom pairs
    std::vector<std::pair<std::uint32_t, std::uint32_t>> crossings;   // bond pairs
    std::vector<io::Wedge> wedges;                                    // one per bond
    std::vector<std::uint32_t> unwedged;
    std::vector<std::uint32_t> misdrawn_stereo;
    WedgeHydrogens hydrogens;
    std::string_view style_name;
    std::uint64_t style_fingerprint = 0;
    std::vector<std::uint32_t> ranks;  // canonical ranks of the drawn molecule, kept for the writer
};

// Lays out a sanitised molecule (cis/trans perceived). Never fails: a
// preparation copy that does not sanitise is simply not used.
DepictionResult depict_2d(const core::MolBuilder& mol, const Style2d& style, const RingTemplate* extra);

// The copies the layout works on, each kept only when it sanitises and then
// used as built: the drawn molecule with dative bonds made single (the stereo
// molecule), and that with a metal bound to a whole ring keeping only its bond
// to the ring atom of lowest rank (the layout molecule).
struct PreparedLayout {
    std::optional<core::MolBuilder> dative_free;
    std::vector<Degradation> hapto;  // HaptoCoordination records, reported either way
    std::optional<core::MolBuilder> hapto_free;
};
PreparedLayout prepare_layout(const core::MolBuilder& drawn, std::span<const std::uint32_t> ranks);

// Atom lists of the connected components, each ascending, in order of their
// lowest atom.
std::vector<std::vector<std::uint32_t>> components_of(const core::MolBuilder& mol);

// The ring systems with the rings (of `rings`, which must outlive the records)
// lying wholly in each, ordered by their rank-sorted atom lists.
std::vector<RingSystemRecord> ring_records(const core::MolBuilder& mol, const std::vector<chem::Ring>& rings,
                                           std::span<const std::uint32_t> ranks);

// Metal atoms (anything outside the non-metal set) with three or more
// neighbours, ascending.
std::vector<std::uint32_t> metal_centres(const core::MolBuilder& mol);

// FNV-1a 64 over font_size / bond_length and chain_angle.
std::uint64_t style_fingerprint(const Style2d& style);

// "BridgedRingSystem { atoms: [0, 1], template: NotInTable }" and
// "HaptoCoordination { metal: 5, ring: [0, 1, 2] }".
std::string degradation_text(const Degradation& degradation);

}  // namespace quorix::depict
