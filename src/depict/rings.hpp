#pragma once
// Ring-system layout: fused rings drawn one by one as regular unit polygons, each
// new ring on an edge already drawn and on the side away from the drawing;
// systems that fusion cannot finish go whole to the ring templates.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "chem/sssr.hpp"
#include "core/builder.hpp"
#include "depict/layout.hpp"
#include "depict/templates.hpp"

namespace quorix::depict {

struct RingSystemRecord {
    std::vector<std::uint32_t> atoms;
    std::vector<const chem::Ring*> rings;  // into the caller's ring list, in its order
};

struct RingSystemLayout {
    PositionMap positions;
    std::optional<Degradation> degradation;
};

RingSystemLayout layout_ring_system(const core::MolBuilder& mol, const RingSystemRecord& record,
                                    std::span<const std::uint32_t> ranks, const RingTemplate* extra);

Degradation bridged_degradation(std::span<const std::uint32_t> atoms, TemplateLookup lookup);

}  // namespace quorix::depict
