#pragma once
// Whether every tie of a refined partition is the symmetry of interchangeable arms,
// so that breaking the ties in any order gives the same text. Canonical SMILES
// uses it to write one order instead of searching.
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "core/builder.hpp"
#include "io/canon.hpp"

namespace quorix::io {

// Storage of one check, reused between calls.
struct ArmScratch {
    std::vector<std::uint32_t> family_of;  // per atom, the family of its arm
    std::vector<std::uint32_t> arm_of;     // per atom, its arm within the family
    std::vector<std::uint32_t> image;      // per atom, its image under the swap being built
    std::vector<std::uint8_t> side;        // per atom, which of the two swapped arms holds it
    std::vector<std::uint32_t> moved, seen;
    struct Family {
        std::uint32_t arms;
        std::uint32_t arm_size;
    };
    std::vector<Family> families;
};

// `automorphic(image, moved)`: whether the map sending every atom x of `moved` to
// image[x], every other atom to itself, keeps everything the text shows.
using SwapCheck = std::function<bool(std::span<const std::uint32_t>, std::span<const std::uint32_t>)>;

// Whether the tied cells of the refined `root` fall into families of arms: within
// a family, any two arms can be swapped atom for atom, all else fixed, and each
// tied cell of the family holds one atom of every arm. Then every order that the
// tie-break can reach is the image of every other under such swaps.
bool tied_cells_are_arms(const core::MolBuilder& mol, const Partition& root, ArmScratch& s,
                         const SwapCheck& automorphic);

}  // namespace quorix::io
