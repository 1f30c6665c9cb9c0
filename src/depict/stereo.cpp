#include "depict/stereo.hpp"

#include <algorithm>
#include <cmath>

namespace quorix::depict {

std::uint8_t drawn_double_bond_config(const core::MolBuilder& mol, std::span<const Point> coords,
                                      std::uint32_t bond) {
    const core::Bond& b = at(mol.bonds, bond);
    const std::uint32_t s0 = b.stereo_atoms[0], s1 = b.stereo_atoms[1];
    if (s0 == core::NONE || s1 == core::NONE) return UNDECIDED_CONFIG;
    const Point B = at(coords, b.begin);
    const Point u = at(coords, b.end) - B;
    const double c0 = cross(u, at(coords, s0) - B);
    const double c1 = cross(u, at(coords, s1) - B);
    if (std::min(std::fabs(c0), std::fabs(c1)) < 1e-9) return UNDECIDED_CONFIG;
    return c0 * c1 > 0 ? std::uint8_t(core::BondStereo::Cis) : std::uint8_t(core::BondStereo::Trans);
}

}  // namespace quorix::depict
