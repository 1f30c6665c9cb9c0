#pragma once
// The `/` and `\` marks the SMILES writer puts on single and aromatic bonds so that
// reading the text back gives the same cis/trans relations, grouped so that each
// independent set of marks can be flipped as a whole.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/builder.hpp"

namespace quorix::io {

struct StereoMarks {
    // Per bond, a BondDirection read from the bond's begin to its end (0 = no mark).
    std::vector<std::uint8_t> directions;
    // Per bond, its group number, or core::NONE. A bond has a group exactly when it
    // has a mark; flipping every mark of one group changes no cis/trans relation.
    std::vector<std::uint32_t> groups;
};

// Among the neighbours of `atom` other than `excluded`, the one with the smallest
// (is hydrogen, priority); earlier in half-edge order on ties; NONE when there is none.
std::uint32_t preferred_reference_neighbour(const core::MolBuilder& mol, std::uint32_t atom,
                                            std::uint32_t excluded,
                                            std::span<const std::uint32_t> priorities);

// A copy whose stored cis/trans values are restated against the preferred reference
// neighbours, or nothing when no bond holds a valid value (or the priorities do not
// hold one entry per atom).
std::optional<core::MolBuilder> rereference_double_bond_stereo(const core::MolBuilder& mol,
                                                               std::span<const std::uint32_t> priorities);

// A bond's stored cis/trans with its reference atoms.
struct StoredStereo {
    core::BondStereo stereo = core::BondStereo::None;
    std::array<std::uint32_t, 2> atoms{core::NONE, core::NONE};
};

// Per bond, the preferred references of `rereference_double_bond_stereo` (for
// bonds it restates; the rest as stored) into `out`; false, leaving `out` alone,
// when it would restate nothing. `restated` lists the bonds it may restate, as
// `restatable_bonds` gives them.
bool rereferenced_stereo(const core::MolBuilder& mol, std::span<const std::uint32_t> priorities,
                         std::span<const std::uint32_t> restated, std::vector<StoredStereo>& out);
// The bonds `rereference_double_bond_stereo` may restate, ascending.
void restatable_bonds(const core::MolBuilder& mol, std::vector<std::uint32_t>& out);

StereoMarks smiles_stereo_marks(const core::MolBuilder& mol);
// Same, reusing the vectors of `out`. `effective` may hold the molecule's
// effective_direction_marks when the caller already has them (empty otherwise).
void smiles_stereo_marks(const core::MolBuilder& mol, StereoMarks& out,
                         std::span<const std::uint8_t> effective = {});
// Same, as if each bond's stored cis/trans were `stored[b]` (one entry per bond).
void smiles_stereo_marks(const core::MolBuilder& mol, StereoMarks& out, std::span<const std::uint8_t> effective,
                         std::span<const StoredStereo> stored);

}  // namespace quorix::io
