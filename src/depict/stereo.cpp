#include "depict/stereo.hpp"

#include <algorithm>
#include <cmath>
#include <tuple>

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

std::optional<std::vector<std::uint32_t>> bond_side_atoms(const core::MolBuilder& mol, std::uint32_t bond,
                                                          std::uint32_t atom) {
    const core::Bond& b = at(mol.bonds, bond);
    const std::uint32_t far = atom == b.end ? b.begin : b.end;
    std::vector<std::uint8_t> seen(mol.atoms.size(), 0);
    std::vector<std::uint32_t> visited{atom}, stack{atom};
    at(seen, atom) = 1;
    while (!stack.empty()) {
        const std::uint32_t x = stack.back();
        stack.pop_back();
        for (core::Neighbor nb : mol.neighbors(x)) {
            if (nb.bond == bond) continue;
            if (nb.atom == far) return std::nullopt;
            if (seen[nb.atom]) continue;
            seen[nb.atom] = 1;
            visited.push_back(nb.atom);
            stack.push_back(nb.atom);
        }
    }
    std::sort(visited.begin(), visited.end());
    return visited;
}

namespace {
void mirror_side(std::span<Point> coords, std::span<const std::uint32_t> side, Point B, Point E) {
    const Point w = normalised(E - B);
    for (std::uint32_t a : side) {
        const Point d = coords[a] - B;
        coords[a] = B + (2.0 * dot(d, w)) * w - d;
    }
}

std::uint32_t min_rank(std::span<const std::uint32_t> atoms, std::span<const std::uint32_t> ranks) {
    std::uint32_t m = 0xFFFFFFFFu;
    for (std::uint32_t a : atoms) m = std::min(m, at(ranks, a));
    return m;
}
}  // namespace

std::vector<std::uint32_t> repair_double_bonds(const core::MolBuilder& mol, std::span<Point> coords,
                                               std::span<const std::uint32_t> ranks) {
    const std::uint32_t nb = bond_count_u32(mol);
    std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> order;
    for (std::uint32_t i = 0; i < nb; ++i) {
        const core::Bond& b = mol.bonds[i];
        if (static_cast<std::uint8_t>(b.stereo) < 3) continue;
        const std::uint32_t r0 = at(ranks, b.begin), r1 = at(ranks, b.end);
        order.emplace_back(std::min(r0, r1), std::max(r0, r1), i);
    }
    std::sort(order.begin(), order.end());
    std::vector<std::uint32_t> repaired;
    for (const auto& [lo, hi, i] : order) {
        const core::Bond& b = mol.bonds[i];
        const auto stored = static_cast<std::uint8_t>(b.stereo);
        if (drawn_double_bond_config(mol, coords, i) == stored) continue;
        const auto begin_side = bond_side_atoms(mol, i, b.begin);
        const auto end_side = bond_side_atoms(mol, i, b.end);
        if (!begin_side && !end_side) continue;
        const std::vector<std::uint32_t>* chosen = nullptr;
        if (!begin_side) chosen = &*end_side;
        else if (!end_side) chosen = &*begin_side;
        else {
            const std::uint32_t mb = min_rank(*begin_side, ranks), me = min_rank(*end_side, ranks);
            chosen = mb > me ? &*begin_side : &*end_side;
        }
        for (std::uint32_t a : *chosen) (void)at(coords, a);
        const Point B = coords[b.begin], E = coords[b.end];
        mirror_side(coords, *chosen, B, E);
        if (drawn_double_bond_config(mol, coords, i) == stored) repaired.push_back(i);
        else mirror_side(coords, *chosen, B, E);
    }
    return repaired;
}

std::vector<std::uint32_t> find_misdrawn_double_bonds(const core::MolBuilder& mol, std::span<const Point> coords) {
    const std::uint32_t nb = bond_count_u32(mol);
    std::vector<std::uint32_t> out;
    for (std::uint32_t i = 0; i < nb; ++i) {
        const auto stored = static_cast<std::uint8_t>(mol.bonds[i].stereo);
        if (stored > 2 && drawn_double_bond_config(mol, coords, i) != stored) out.push_back(i);
    }
    return out;
}

}  // namespace quorix::depict
