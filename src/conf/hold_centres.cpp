// The centres and bonds whose typical angles and lengths the holds give the bounds, and large rings' walls.
#include "conf/holds.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <span>

#include "conf/typical.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "io/smiles/canonical.hpp"
#include "conf/hold_atoms.hpp"
#include "conf/hold_kinds.hpp"

namespace quorix::conf {

using core::BondOrder;
using core::NONE;

std::vector<std::uint32_t> planar_ring_nitrogens(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<std::uint32_t> out;
    for (std::uint32_t n = 0; n < mol.num_atoms(); ++n) {
        const core::Atom& atom = mol.atoms[n];
        if (atom.atomic_num == core::Element::N && mol.degree[n] == 3 && !is_aromatic(mol, n) &&
            (atom.hybridization == core::Hybridization::Sp2 || sulfonamide_nitrogen(mol, n)) &&
            context.rings.smallest[n] != 0 && !pyramidal_amide_nitrogen(mol, context.rings, n))
            out.push_back(n);
    }
    return out;
}

std::vector<std::uint32_t> pyramidal_amide_nitrogens(const MoleculeContext& context) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t n = 0; n < context.mol.num_atoms(); ++n)
        if (pyramidal_amide_nitrogen(context.mol, context.rings, n)) out.push_back(n);
    return out;
}

bool carbocycle_ring(const MoleculeContext& context, std::uint32_t ring) {
    if (context.rings.ring_size(ring) < LARGE_RING || !context.rings.all_sp3[ring]) return false;
    for (const std::uint32_t a : context.ring_list[ring].atoms)
        if (context.mol.atoms[a].atomic_num != core::Element::C) return false;
    return true;
}

std::vector<WindowAngle> large_ring_angles(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    const RingContext& rings = context.rings;
    std::vector<WindowAngle> out;
    // A ring ketone's carbon too: erythromycin's C9, its ring folded by the
    // walls about it, opened C8-C9-C10 to 138 where nothing held it.
    const auto ketone = [&](std::uint32_t b) {
        if (mol.atoms[b].atomic_num != core::Element::C || mol.degree[b] != 3 || is_aromatic(mol, b) ||
            carbonyl_partner(mol, b) == NONE)
            return false;
        for (core::Neighbor nb : mol.neighbors(b))
            if (nb.atom != carbonyl_partner(mol, b) && mol.atoms[nb.atom].atomic_num != core::Element::C) return false;
        return true;
    };
    for (std::uint32_t b = 0; b < mol.num_atoms(); ++b) {
        if (rings.smallest[b] == 0 || rings.smallest[b] == 3 || rings.smallest[b] == 4) continue;
        if (!ketone(b) && (!is_sp3(mol, b) || !element_in(mol, b, {core::Element::C, core::Element::N, core::Element::O})))
            continue;
        for (core::Neighbor na : mol.neighbors(b))
            for (core::Neighbor nc : mol.neighbors(b))
                if (na.atom < nc.atom && rings.smallest_size(b, na.atom, nc.atom) >= LARGE_RING)
                    out.push_back({{na.atom, b, nc.atom}});
    }
    return out;
}

std::vector<WindowAngle> five_ring_exocyclic_angles(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    const RingContext& rings = context.rings;
    std::vector<WindowAngle> out;
    for (std::uint32_t b = 0; b < mol.num_atoms(); ++b) {
        if (mol.degree[b] != 3 || rings.smallest[b] != 5 || !is_aromatic(mol, b)) continue;
        for (core::Neighbor exo : mol.neighbors(b)) {
            if (mol.bonds[exo.bond].order == BondOrder::Aromatic || mol.atoms[exo.atom].atomic_num == core::Element::H ||
                rings.smallest_holding(b, exo.atom) != NONE)
                continue;
            for (core::Neighbor ring : mol.neighbors(b))
                if (ring.atom != exo.atom) out.push_back({{exo.atom, b, ring.atom}});
        }
    }
    return out;
}

std::vector<WindowAngle> tertiary_amine_angles(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<WindowAngle> out;
    for (std::uint32_t n = 0; n < mol.num_atoms(); ++n) {
        if (!amine_nitrogen(mol, n)) continue;
        bool carbons = true;
        for (core::Neighbor nb : mol.neighbors(n)) carbons = carbons && mol.atoms[nb.atom].atomic_num == core::Element::C;
        if (!carbons) continue;
        for (core::Neighbor na : mol.neighbors(n))
            for (core::Neighbor nc : mol.neighbors(n))
                if (na.atom < nc.atom && context.rings.smallest_size(n, na.atom, nc.atom) == 0)
                    out.push_back({{na.atom, n, nc.atom}});
    }
    return out;
}

namespace {

bool in_large_ring(const MoleculeContext& context, const core::Bond& bond) {
    return context.rings.smallest_size(bond.begin, bond.end) >= LARGE_RING;
}

}  // namespace

std::vector<WindowLength> large_ring_lengths(const MoleculeContext& context) {
    std::vector<WindowLength> out;
    for (const core::Bond& bond : context.mol.bonds)
        if (bond.order != BondOrder::Aromatic && in_large_ring(context, bond)) out.push_back({{bond.begin, bond.end}});
    return out;
}

std::vector<WindowLength> ammonium_lengths(const MoleculeContext& context) {
    std::vector<WindowLength> out;
    for (const core::Bond& bond : context.mol.bonds)
        if (ammonium_carbon_bond(context.mol, bond) && context.rings.smallest_size(bond.begin, bond.end) == 0)
            out.push_back({{bond.begin, bond.end}});
    return out;
}

std::vector<std::uint32_t> large_ring_bonds(const MoleculeContext& context) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t bi = 0; bi < context.mol.num_bonds(); ++bi)
        if (context.mol.bonds[bi].order == BondOrder::Single && in_large_ring(context, context.mol.bonds[bi]))
            out.push_back(bi);
    return out;
}

std::vector<std::uint32_t> bowl_rims(const MoleculeContext& context) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t a = 0; a < context.mol.num_atoms(); ++a)
        if (context.curved[a] && fusion_atom(context.mol, a) && can_lie_flat(context, a)) out.push_back(a);
    return out;
}

std::vector<std::uint32_t> group_angle_centres(const MoleculeContext& context) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t a = 0; a < context.mol.num_atoms(); ++a)
        if (group_angle_centre(context.mol, context.rings, a)) out.push_back(a);
    return out;
}

std::vector<std::uint32_t> element_angle_centres(const MoleculeContext& context) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t a = 0; a < context.mol.num_atoms(); ++a)
        if (element_angle_centre(context.mol, a)) out.push_back(a);
    return out;
}

std::vector<std::uint32_t> ring_sp_centres(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<std::uint32_t> out;
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a)
        if (context.rings.smallest[a] != 0 && mol.degree[a] == 2 &&
            mol.atoms[a].hybridization == core::Hybridization::Sp)
            out.push_back(a);
    return out;
}

std::vector<std::uint32_t> siloxane_rings(const MoleculeContext& context) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t r = 0; r < context.rings.ring_count(); ++r)
        if (siloxane_ring(context.mol, context.rings, r)) out.push_back(r);
    return out;
}

std::vector<HeldLength> typical_lengths(const MoleculeContext& context) {
    std::vector<HeldLength> out;
    for (std::uint32_t bi = 0; bi < context.mol.num_bonds(); ++bi)
        if (const auto typical = typical_bond_length(context.mol, context.rings, bi)) out.push_back({bi, *typical});
    return out;
}

}  // namespace quorix::conf
