#include "conf/context.hpp"

#include <array>
#include <cmath>

#include "conf/bounds.hpp"
#include "core/elements.hpp"
#include "io/smiles/canonical.hpp"

namespace quorix::conf {

using core::BondOrder;
using core::NONE;

bool is_aromatic(const core::MolBuilder& mol, std::uint32_t a) { return mol.atoms[a].flags & core::AROMATIC; }

bool is_sp3(const core::MolBuilder& mol, std::uint32_t a) {
    return mol.atoms[a].hybridization == core::Hybridization::Sp3 && !is_aromatic(mol, a);
}

std::uint32_t carbonyl_partner(const core::MolBuilder& mol, std::uint32_t c) {
    if (mol.atoms[c].atomic_num != core::Element::C) return NONE;
    for (core::Neighbor nb : mol.neighbors(c)) {
        const std::uint8_t z = mol.atoms[nb.atom].atomic_num;
        if (mol.bonds[nb.bond].order == BondOrder::Double && (z == core::Element::O || z == core::Element::S))
            return nb.atom;
    }
    return NONE;
}

std::uint32_t nitro_oxide(const core::MolBuilder& mol, std::uint32_t n) {
    const core::Atom& atom = mol.atoms[n];
    if (atom.atomic_num != core::Element::N || atom.formal_charge != 1 || mol.degree[n] != 3) return NONE;
    std::uint32_t oxide = NONE, doubled = NONE;
    for (core::Neighbor nb : mol.neighbors(n)) {
        const core::Atom& o = mol.atoms[nb.atom];
        if (o.atomic_num != core::Element::O || mol.degree[nb.atom] != 1) continue;
        const BondOrder order = mol.bonds[nb.bond].order;
        if (order == BondOrder::Double && o.formal_charge == 0) doubled = nb.atom;
        if (order == BondOrder::Single && o.formal_charge == -1) oxide = nb.atom;
    }
    return doubled == NONE ? NONE : oxide;
}

bool sulfonyl_sulfur(const core::MolBuilder& mol, std::uint32_t s) {
    if (mol.atoms[s].atomic_num != core::Element::S || mol.degree[s] != 4) return false;
    std::size_t oxo = 0;
    for (core::Neighbor nb : mol.neighbors(s))
        oxo += mol.bonds[nb.bond].order == BondOrder::Double && mol.atoms[nb.atom].atomic_num == core::Element::O;
    return oxo == 2;
}

bool sulfonamide_nitrogen(const core::MolBuilder& mol, std::uint32_t n) {
    if (mol.atoms[n].atomic_num != core::Element::N) return false;
    for (core::Neighbor nb : mol.neighbors(n))
        if (sulfonyl_sulfur(mol, nb.atom)) return true;
    return false;
}

namespace {

// A nitrogen or oxygen whose lone pairs stay its own: neutral, outside
// aromatic rings, with single bonds only.
bool saturated_heteroatom(const core::MolBuilder& mol, std::uint32_t a) {
    const core::Atom& atom = mol.atoms[a];
    if ((atom.atomic_num != core::Element::N && atom.atomic_num != core::Element::O) || atom.formal_charge != 0 ||
        is_aromatic(mol, a))
        return false;
    for (core::Neighbor nb : mol.neighbors(a))
        if (mol.bonds[nb.bond].order != BondOrder::Single) return false;
    return true;
}

}  // namespace

bool amine_nitrogen(const core::MolBuilder& mol, std::uint32_t n) {
    const core::Atom& atom = mol.atoms[n];
    if (atom.atomic_num != core::Element::N || atom.formal_charge != 0 || is_aromatic(mol, n) || mol.degree[n] != 3)
        return false;
    for (core::Neighbor nb : mol.neighbors(n)) {
        if (mol.bonds[nb.bond].order != BondOrder::Single) return false;
        const std::uint8_t z = mol.atoms[nb.atom].atomic_num;
        if (z != core::Element::H && !(z == core::Element::C && is_sp3(mol, nb.atom)) &&
            !saturated_heteroatom(mol, nb.atom))
            return false;
    }
    return true;
}

std::uint32_t aniline_ring_atom(const core::MolBuilder& mol, std::uint32_t n) {
    const core::Atom& atom = mol.atoms[n];
    if (atom.atomic_num != core::Element::N || atom.formal_charge != 0 || is_aromatic(mol, n) || mol.degree[n] != 3)
        return NONE;
    std::uint32_t ring_atom = NONE;
    for (core::Neighbor nb : mol.neighbors(n)) {
        if (mol.bonds[nb.bond].order != BondOrder::Single) return NONE;
        const std::uint8_t z = mol.atoms[nb.atom].atomic_num;
        if (is_aromatic(mol, nb.atom)) {
            if (ring_atom != NONE) return NONE;
            ring_atom = nb.atom;
        } else if (z != core::Element::H && !(z == core::Element::C && is_sp3(mol, nb.atom))) {
            return NONE;
        }
    }
    return ring_atom;
}

bool fusion_atom(const core::MolBuilder& mol, std::uint32_t a) {
    if (!is_aromatic(mol, a) || mol.degree[a] != 3) return false;
    for (core::Neighbor nb : mol.neighbors(a))
        if (mol.bonds[nb.bond].order != BondOrder::Aromatic) return false;
    return true;
}

bool can_lie_flat(const MoleculeContext& context, std::uint32_t a) {
    std::array<std::uint32_t, 3> nbrs{};
    std::size_t count = 0;
    for (core::Neighbor nb : context.mol.neighbors(a))
        if (count < 3) nbrs[count++] = nb.atom;
    if (count < 3) return true;
    double sum = 0.0;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t ring = context.rings.smallest_size(a, nbrs[i], nbrs[(i + 1) % 3]);
        if (ring == 0) return true;
        sum += 180.0 - 360.0 / static_cast<double>(ring);
    }
    return std::abs(sum - 360.0) < 1.0;
}

bool double_bond_with_torsion(const core::MolBuilder& mol, std::uint32_t bi) {
    const core::Bond& bond = mol.bonds[bi];
    if (bond.order != BondOrder::Double) return false;
    for (std::uint32_t end : {bond.begin, bond.end}) {
        // An ylide's four-connected phosphorus or sulfur (P+-C-) is
        // tetrahedral: no plane holds its three other neighbours.
        if (mol.degree[end] > 3) return false;
        for (core::Neighbor nb : mol.neighbors(end)) {
            const BondOrder order = mol.bonds[nb.bond].order;
            if (nb.bond != bi && (order == BondOrder::Double || order == BondOrder::Triple)) return false;
        }
    }
    return true;
}

bool MoleculeContext::unconfigured_chain_double_bond(std::uint32_t bi) const {
    const core::Bond& bond = mol.bonds[bi];
    if (has_stored_configuration(bond) || !double_bond_with_torsion(mol, bi)) return false;
    return rings.smallest_holding(bond.begin, bond.end) == NONE;
}

MoleculeContext::MoleculeContext(const core::MolBuilder& m) : mol(m), ring_list(chem::sssr(m)) {
    rings.build(m, ring_list);
    curved.assign(mol.num_atoms(), 0);
    // A small ring closed in on every side cannot lie flat; one on the edge
    // of its system opens its angles instead (acenaphthylene, cyclazines).
    std::vector<std::uint32_t> bent;
    for (const chem::Ring& ring : ring_list) {
        if (ring.atoms.size() >= 6) continue;
        bool closed_in = true;
        for (std::uint32_t a : ring.atoms) closed_in = closed_in && fusion_atom(mol, a) && !can_lie_flat(*this, a);
        if (closed_in) bent.insert(bent.end(), ring.atoms.begin(), ring.atoms.end());
    }
    while (!bent.empty()) {
        const std::uint32_t a = bent.back();
        bent.pop_back();
        if (curved[a]) continue;
        curved[a] = 1;
        for (core::Neighbor nb : mol.neighbors(a))
            if (mol.bonds[nb.bond].order == BondOrder::Aromatic && !curved[nb.atom]) bent.push_back(nb.atom);
    }
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi) {
        // Only a bond with a substituent on each side has an arrangement.
        const core::Bond& bond = mol.bonds[bi];
        if (!unconfigured_chain_double_bond(bi) || mol.degree[bond.begin] < 2 || mol.degree[bond.end] < 2) continue;
        ranks = io::canonical_ranks(mol);
        break;
    }
}

}  // namespace quorix::conf
