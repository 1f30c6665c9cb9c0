#include "chem/organometallics.hpp"

#include <algorithm>
#include <tuple>
#include <vector>

#include "core/elements.hpp"
#include "core/error.hpp"
#include "core/valence.hpp"

namespace quorix::chem {

namespace E = core::Element;

namespace {

std::int32_t valence(const core::MolBuilder& mol, std::uint32_t a) {
    return core::lenient_explicit_valence(mol, a);
}

using AtomKey = std::tuple<std::uint32_t, std::int32_t, std::uint32_t, std::int32_t>;

AtomKey atom_key(const core::MolBuilder& mol, std::uint32_t a) {
    const core::Atom& atom = mol.atoms[a];
    return {atom.atomic_num, atom.formal_charge, mol.degree[a], valence(mol, a)};
}

std::uint32_t dative_count(const core::MolBuilder& mol, std::uint32_t a) {
    std::uint32_t n = 0;
    for (core::Neighbor nb : mol.neighbors(a)) n += mol.bonds[nb.bond].order == core::BondOrder::Dative;
    return n;
}

}  // namespace

bool is_metal(std::uint32_t z) {
    switch (z) {
        case E::Wildcard: case E::H: case E::He: case E::B: case E::C: case E::N: case E::O: case E::F:
        case E::Ne: case E::Si: case E::P: case E::S: case E::Cl: case E::Ar: case E::As: case E::Se:
        case E::Br: case E::Kr: case E::Te: case E::I: case E::Xe: case E::At: case E::Rn:
            return false;
        default:
            return true;
    }
}

bool is_metal_single_bond(const core::MolBuilder& mol, std::uint32_t atom, std::uint32_t bond) {
    return at(mol.bonds, bond).order == core::BondOrder::Single && is_metal(at(mol.atoms, atom).atomic_num);
}

bool is_dative_candidate(const core::MolBuilder& mol, std::uint32_t a) {
    const core::Atom& atom = at(mol.atoms, a);
    const std::uint32_t z = atom.atomic_num;
    if (is_metal(z) || z == E::H || z == E::He || z == E::F || z == E::Ne) return false;
    const std::int32_t t = std::int32_t(z) - atom.formal_charge;
    if (t < 1 || t > 118) return false;
    const auto list = core::element_at(std::uint32_t(t)).valences;
    if (list.empty() || list.back() < 1) return false;
    // Both tests are pure; the cheap neighbour walk goes first.
    bool metal_neighbour = false;
    for (core::Neighbor nb : mol.neighbors(a))
        if (is_metal_single_bond(mol, nb.atom, nb.bond)) {
            metal_neighbour = true;
            break;
        }
    if (!metal_neighbour) return false;
    const std::int32_t m = list.back();
    const std::int32_t v = valence(mol, a);
    return v > m || ((atom.flags & core::AROMATIC) && v == m && atom.total_hs() + mol.degree[a] == 4);
}

std::uint32_t organometallics(core::MolBuilder& mol) {
    const std::uint32_t n = mol.num_atoms();
    // A donor needs a metal neighbour: without metals there is nothing to do.
    bool metal = false;
    for (std::uint32_t a = 0; a < n && !metal; ++a) metal = is_metal(mol.atoms[a].atomic_num);
    if (!metal) return 0;
    bool any = false;
    for (std::uint32_t a = 0; a < n && !any; ++a) any = is_dative_candidate(mol, a);
    if (!any) return 0;

    std::vector<AtomKey> keys(n);
    std::vector<std::uint32_t> order(n);
    for (std::uint32_t a = 0; a < n; ++a) {
        keys[a] = atom_key(mol, a);
        order[a] = a;
    }
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) { return keys[x] < keys[y]; });

    std::uint32_t count = 0;
    for (std::uint32_t d : order) {
        if (!is_dative_candidate(mol, d)) continue;
        std::uint32_t chosen = core::NONE;
        std::tuple<std::uint32_t, AtomKey> best{};
        for (core::Neighbor nb : mol.neighbors(d)) {
            if (!is_metal_single_bond(mol, nb.atom, nb.bond)) continue;
            std::tuple<std::uint32_t, AtomKey> key{dative_count(mol, nb.atom), atom_key(mol, nb.atom)};
            if (chosen == core::NONE || key < best) {
                chosen = nb.bond;
                best = key;
            }
        }
        if (chosen == core::NONE) internal_error("候选配体必有金属单键");
        mol.bonds[chosen].order = core::BondOrder::Dative;
        if (mol.bonds[chosen].begin != d && !mol.reverse_bond(chosen)) internal_error("键下标来自遍历");
        ++count;
    }
    return count;
}

}  // namespace quorix::chem
