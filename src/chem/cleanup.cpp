#include "chem/cleanup.hpp"

#include <algorithm>
#include <vector>

#include "core/error.hpp"
#include "core/valence.hpp"

namespace quorix::chem {

using core::BondOrder;

namespace {

constexpr std::uint8_t H = 1, N = 7, O = 8, P = 15, C = 6, CL = 17, BR = 35, I = 53;

std::int32_t valence(const core::MolBuilder& mol, std::uint32_t a) {
    return core::lenient_explicit_valence(mol, a);
}

core::Atom& neighbor_atom(core::MolBuilder& mol, std::uint32_t a) {
    if (a >= mol.num_atoms()) internal_error("邻居下标合法");
    return mol.atoms[a];
}

core::Bond& walked_bond(core::MolBuilder& mol, std::uint32_t b) {
    if (b >= mol.num_bonds()) internal_error("下标来自遍历");
    return mol.bonds[b];
}

// Neighbours other than hydrogen atoms, so that a hydrogen counts the same
// whether it is an atom or a count on `a`.
std::uint32_t heavy_degree(const core::MolBuilder& mol, std::uint32_t a) {
    std::uint32_t count = 0;
    for (core::Neighbor nb : mol.neighbors(a)) count += quorix::at(mol.atoms, nb.atom).atomic_num != H;
    return count;
}

// The first neighbour of `a` with the given element and charge 0 over a bond of `order`.
std::uint32_t first_neutral_neighbor(const core::MolBuilder& mol, std::uint32_t a, std::uint8_t element,
                                     BondOrder order) {
    for (core::Neighbor nb : mol.neighbors(a)) {
        if (nb.atom >= mol.num_atoms()) internal_error("邻居下标合法");
        const core::Atom& w = mol.atoms[nb.atom];
        if (w.atomic_num == element && w.formal_charge == 0 && mol.bonds[nb.bond].order == order) return nb.bond;
    }
    return core::NONE;
}

// Lowers the bond to `order` and puts +1 on `a` and -1 on the atom across it.
void separate_charges(core::MolBuilder& mol, std::uint32_t a, std::uint32_t bond_index, BondOrder order) {
    core::Bond& bond = walked_bond(mol, bond_index);
    bond.order = order;
    mol.atoms[a].formal_charge = 1;
    neighbor_atom(mol, bond.other(a)).formal_charge = -1;
}

void nitrogen_oxygen(core::MolBuilder& mol, std::vector<std::uint32_t>& recorded) {
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        const core::Atom& atom = mol.atoms[a];
        if (atom.atomic_num != N || atom.formal_charge != 0 || valence(mol, a) != 5) continue;
        recorded.push_back(a);
        const std::uint32_t b = first_neutral_neighbor(mol, a, O, BondOrder::Double);
        if (b == core::NONE) continue;
        separate_charges(mol, a, b, BondOrder::Single);
    }
}

void azide(core::MolBuilder& mol, const std::vector<std::uint32_t>& recorded) {
    for (std::uint32_t a : recorded) {
        if (a >= mol.num_atoms()) internal_error("下标来自遍历");
        // A nitrogen the oxygen pass already made N+ (O=N#N) is charge-separated;
        // moving a second charge onto its neighbour would leave the molecule an anion.
        if (mol.atoms[a].formal_charge != 0) continue;
        const std::uint32_t b = first_neutral_neighbor(mol, a, N, BondOrder::Triple);
        if (b == core::NONE) continue;
        separate_charges(mol, a, b, BondOrder::Double);
    }
}

void phosphorus_ylide(core::MolBuilder& mol, std::uint32_t a) {
    std::uint32_t oxygen_bond = core::NONE;
    bool double_to_heavy = false;
    for (core::Neighbor nb : mol.neighbors(a)) {
        const core::Atom& w = neighbor_atom(mol, nb.atom);
        if (mol.bonds[nb.bond].order != BondOrder::Double) continue;
        if (w.atomic_num == O && w.formal_charge == 0) oxygen_bond = nb.bond;
        if ((w.atomic_num == C || w.atomic_num == N) && heavy_degree(mol, nb.atom) > 1) double_to_heavy = true;
    }
    if (oxygen_bond == core::NONE || !double_to_heavy) return;
    separate_charges(mol, a, oxygen_bond, BondOrder::Single);
}

void halogen_oxide(core::MolBuilder& mol, std::uint32_t a) {
    for (core::Neighbor nb : mol.neighbors(a)) {
        const std::uint8_t z = neighbor_atom(mol, nb.atom).atomic_num;
        if (z != O && z != H) return;
    }
    int changed = 0;
    for (core::Neighbor nb : mol.neighbors(a)) {
        core::Bond& bond = walked_bond(mol, nb.bond);
        if (bond.order != BondOrder::Double) continue;
        bond.order = BondOrder::Single;
        neighbor_atom(mol, nb.atom).formal_charge = -1;
        ++changed;
    }
    mol.atoms[a].formal_charge = static_cast<std::int8_t>(std::min(changed, 127));
}

}  // namespace

void cleanup(core::MolBuilder& mol) {
    std::vector<std::uint32_t> recorded;
    nitrogen_oxygen(mol, recorded);
    azide(mol, recorded);
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        const core::Atom& atom = mol.atoms[a];
        if (atom.formal_charge != 0) continue;
        if (atom.atomic_num == P) {
            if (heavy_degree(mol, a) == 3 && valence(mol, a) == 5) phosphorus_ylide(mol, a);
        } else if (atom.atomic_num == CL || atom.atomic_num == BR || atom.atomic_num == I) {
            const std::int32_t v = valence(mol, a);
            if (v == 3 || v == 5 || v == 7) halogen_oxide(mol, a);
        }
    }
}

}  // namespace quorix::chem
