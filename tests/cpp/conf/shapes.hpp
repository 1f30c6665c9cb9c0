#pragma once
// Hand geometry for checking bounds: distances of ideal chains and triangles.
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/builder.hpp"
#include "core/elements.hpp"

namespace quorix::test {

constexpr double RAD = 3.14159265358979323846 / 180.0;

// The a-d distance of a chain a-b-c-d built in space: bond lengths, the angles
// at b and at c (degrees), and the torsion (0 = a and d on the same side).
inline double chain_distance(double ab, double bc, double cd, double at_b, double at_c, double torsion) {
    const std::array<double, 3> a{ab * std::cos(at_b * RAD), ab * std::sin(at_b * RAD), 0.0};
    const std::array<double, 3> d{bc - cd * std::cos(at_c * RAD), cd * std::sin(at_c * RAD) * std::cos(torsion * RAD),
                                  cd * std::sin(at_c * RAD) * std::sin(torsion * RAD)};
    return std::hypot(a[0] - d[0], a[1] - d[1], a[2] - d[2]);
}

// Third side of a triangle with sides p, q around an angle (degrees).
inline double across(double p, double q, double angle) {
    return std::sqrt(p * p + q * q - 2 * p * q * std::cos(angle * RAD));
}

inline std::vector<std::uint32_t> hydrogens_of(const core::MolBuilder& m, std::uint32_t a) {
    std::vector<std::uint32_t> out;
    for (auto nb : m.neighbors(a))
        if (m.atoms[nb.atom].atomic_num == core::Element::H) out.push_back(nb.atom);
    return out;
}

}  // namespace quorix::test
