#pragma once
// Stereo read from geometry: tetrahedral tags from 2-D wedge drawings or 3-D
// signed volumes, cis/trans from 2-D sides or 3-D reference directions, and the
// double bonds that could carry cis/trans but hold none.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/builder.hpp"

namespace quorix::io {

// One atom position in ångström.
using Coord = std::array<double, 3>;

enum class WedgeKind : std::uint32_t { None = 0, Solid = 1, Hashed = 2 };

// One bond's wedge mark; any kind other than None and Solid reads as hashed.
struct Wedge {
    WedgeKind kind = WedgeKind::None;
    std::uint32_t apex = core::NONE;  // the atom at the narrow end
    bool operator==(const Wedge&) const = default;
};

// Some |z| above 1e-9 (an empty list is 2-D).
bool is_3d(std::span<const Coord> coords);

// The tag the wedges give `atom` (Cw or Ccw), or none. A wedge counts only at
// its narrow end. Needs a position for the atom and its neighbours and a wedge
// per bond of the atom when the atom can be a centre.
std::optional<core::ChiralTag> stereo_from_wedges(const core::MolBuilder& mol, std::span<const Coord> coords,
                                                  std::span<const Wedge> wedges, std::uint32_t atom);

// Tags from 2-D wedges (stereo_from_wedges of every atom), written into the
// molecule, except on atoms whose ties rule them out as centres
// (ties_rule_out_centre); 3-D coordinates change nothing. Needs what
// stereo_from_wedges needs for every atom. Returns how many atoms it tagged.
std::uint32_t chirality_from_wedges(core::MolBuilder& mol, std::span<const Coord> coords,
                                    std::span<const Wedge> wedges);

// Tags from 3-D signed volumes; 2-D coordinates change nothing. Returns how many
// atoms it tagged.
std::uint32_t chirality_from_3d(core::MolBuilder& mol, std::span<const Coord> coords);

// The reference atoms (at begin, at end) of a double bond that coordinates may
// decide, or none.
std::optional<std::pair<std::uint32_t, std::uint32_t>> coordinate_stereo_candidate(
    const core::MolBuilder& mol, std::span<const std::uint8_t> either, std::uint32_t bond,
    std::span<const std::uint32_t> classes);

// Cis/trans from coordinates of one dimension (the other changes nothing);
// flagged bonds are neither decided nor used as references. Return how many
// double bonds they gave a value.
std::uint32_t double_bond_stereo_from_2d(core::MolBuilder& mol, std::span<const Coord> coords,
                                         std::span<const std::uint8_t> either);
std::uint32_t double_bond_stereo_from_3d(core::MolBuilder& mol, std::span<const Coord> coords,
                                         std::span<const std::uint8_t> either);

// Per bond 1 for a double bond that could carry cis/trans but holds none; a
// bond with an end bearing neither a substituent nor a hydrogen never can.
std::vector<std::uint8_t> either_double_bonds(const core::MolBuilder& mol);

}  // namespace quorix::io
