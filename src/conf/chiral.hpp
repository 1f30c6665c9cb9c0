#pragma once
// Tetrahedral centres as signed-volume constraints.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/builder.hpp"

namespace quorix::conf {

struct ChiralConstraint {
    // The centre's neighbours in neighbour order; with three neighbours the
    // fourth is NONE, standing for a lone pair.
    std::array<std::uint32_t, 4> ligands{core::NONE, core::NONE, core::NONE, core::NONE};
    double target = 0.0;  // sign of the signed volume: -1 for `@@`, +1 for `@`
    std::uint32_t centre = 0;
    bool operator==(const ChiralConstraint&) const = default;
};

// In atom order.
std::vector<ChiralConstraint> collect_chiral_centres(const core::MolBuilder& mol);

// A constraint naming an atom outside a molecule of `atoms` atoms is an
// internal error: every user indexes atom tables with it.
void check_constraints(std::span<const ChiralConstraint> constraints, std::size_t atoms);

// (p0 - c) . ((p1 - c) x (p2 - c)) for the centre c and the first three ligands.
double signed_volume(std::span<const std::array<double, 3>> coords, const ChiralConstraint& constraint);

}  // namespace quorix::conf
