#pragma once
// Ring templates: fixed drawings of polycyclic skeletons, found by the canonical
// SMILES of the system's all-carbon, all-single-bond skeleton. Systems without a
// usable template go to the arc placement, and from there to the spring layout.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chem/sssr.hpp"
#include "core/builder.hpp"
#include "depict/layout.hpp"

namespace quorix::depict {

// A template handed in by the caller; absent `smiles` means no template.
struct RingTemplate {
    std::optional<std::string> smiles;
    std::vector<Point> coords;  // entry k: the skeleton atom numbered k
    std::uint64_t atom_count = 0;
};

// One record of the built-in table.
struct BuiltinTemplate {
    std::string_view smiles;
    std::span<const Point> coords;
    std::uint64_t atom_count;
};

std::span<const BuiltinTemplate> ring_templates();

// The skeleton: one carbon per system atom in (rank, index) order, one single
// bond per molecule bond inside the system; nothing when two ends coincide.
std::optional<core::MolBuilder> ring_skeleton(const core::MolBuilder& mol, std::span<const std::uint32_t> atoms,
                                              std::span<const std::uint32_t> ranks);

struct TemplateResult {
    PositionMap positions;
    TemplateLookup lookup = TemplateLookup::NoFingerprint;
};

TemplateResult place_ring_template(const core::MolBuilder& mol, std::span<const std::uint32_t> atoms,
                                   std::span<const std::uint32_t> ranks, std::span<const chem::Ring* const> rings,
                                   const RingTemplate* extra);

}  // namespace quorix::depict
