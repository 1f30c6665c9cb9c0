#pragma once
// A built molecule cut into its connected pieces: products and byproducts are
// both assembled in one graph and split once at the end.
#include <cstdint>
#include <vector>

#include "core/builder.hpp"
#include "core/components.hpp"

namespace quorix::match {

struct Pieces {
    std::vector<core::MolBuilder> molecules;  // one per component, in component order
    std::vector<std::uint32_t> component;     // per atom of the whole: its piece
    std::vector<std::uint32_t> local;         // per atom of the whole: its index in its piece
};

// Atoms keep their order within a piece; each bond goes to the piece of its
// begin atom, in bond order, with its ends and stereo atoms renumbered.
Pieces split_into_pieces(const core::MolBuilder& mol);

}  // namespace quorix::match
