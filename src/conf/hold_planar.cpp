// The groups held flat or straight, and the pyramidal amines.
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

namespace quorix::conf {
namespace {

using core::BondOrder;
using core::NONE;

// An amide C-N bond: the carbon, its oxygen or sulfur, the nitrogen (three
// neighbours), whether the bond lies in a ring (a lactam) and, for a
// secondary amide outside the rings, the nitrogen's heavy neighbour (NONE
// otherwise).
struct AmideBond {
    std::uint32_t carbon = NONE, partner = NONE, nitrogen = NONE, heavy = NONE;
    bool in_ring = false;
};

std::optional<AmideBond> amide_bond(const core::MolBuilder& mol, const core::Bond& bond, const RingContext& rings) {
    if (bond.order != BondOrder::Single) return std::nullopt;
    std::uint32_t c = bond.begin, n = bond.end;
    if (mol.atoms[c].atomic_num == core::Element::N) std::swap(c, n);
    if (mol.atoms[n].atomic_num != core::Element::N || mol.degree[n] != 3) return std::nullopt;
    const std::uint32_t x = carbonyl_partner(mol, c);
    if (x == NONE) return std::nullopt;
    // A lactam's ring tells cis from trans.
    if (rings.smallest_holding(c, n) != NONE) return AmideBond{c, x, n, NONE, true};
    std::uint32_t hydrogens = 0, heavy = NONE;
    for (core::Neighbor nb : mol.neighbors(n)) {
        if (nb.atom == c) continue;
        if (mol.atoms[nb.atom].atomic_num == core::Element::H) ++hydrogens;
        else heavy = nb.atom;
    }
    // An imide nitrogen cannot put both carbonyls' far sides cis to their
    // oxygens without the oxygens meeting: it is no secondary amide.
    const bool secondary = hydrogens == 1 && heavy != NONE && carbonyl_partner(mol, heavy) == NONE;
    return AmideBond{c, x, n, secondary ? heavy : NONE, false};
}

// Each atom with its three neighbours, {n0, a, n1, n2}.
PlanarFour trigonal(const core::MolBuilder& mol, std::uint32_t a) {
    std::array<std::uint32_t, 3> nbrs{};
    std::size_t count = 0;
    for (core::Neighbor nb : mol.neighbors(a)) nbrs[count++] = nb.atom;
    return {{nbrs[0], a, nbrs[1], nbrs[2]}, false};
}

// The groups X=C-N-Y of every amide bond in rings (lactams) or outside them.
std::vector<PlanarFour> amide_groups(const MoleculeContext& context, bool lactams) {
    const core::MolBuilder& mol = context.mol;
    std::vector<PlanarFour> out;
    for (const core::Bond& bond : mol.bonds) {
        if (bond.order != BondOrder::Single) continue;
        if (carbonyl_partner(mol, bond.begin) == NONE && carbonyl_partner(mol, bond.end) == NONE) continue;
        const auto amide = amide_bond(mol, bond, context.rings);
        // A nitrogen its rings hold pyramidal takes the amide out of its plane.
        if (!amide || amide->in_ring != lactams || pyramidal_amide_nitrogen(mol, context.rings, amide->nitrogen))
            continue;
        for (core::Neighbor nb : mol.neighbors(amide->nitrogen))
            if (nb.atom != amide->carbon)
                out.push_back({{amide->partner, amide->carbon, amide->nitrogen, nb.atom}, nb.atom == amide->heavy});
    }
    return out;
}

}  // namespace

std::vector<PlanarFour> planar_double_bonds(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<PlanarFour> out;
    std::vector<std::uint32_t> side_b, side_c;
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi) {
        const core::Bond& bond = mol.bonds[bi];
        if (!double_bond_with_torsion(mol, bi) || context.rings.smallest_holding(bond.begin, bond.end) != NONE)
            continue;
        const bool stored = has_stored_configuration(bond);
        if (!double_bond_sides(mol, bond, side_b, side_c)) continue;
        for (std::uint32_t a : side_b)
            for (std::uint32_t d : side_c) {
                if (a == d) continue;
                const bool cis = stored ? stored_cis(bond, a, d) : chosen_cis(side_b, side_c, a, d, context.ranks);
                out.push_back({{a, bond.begin, bond.end, d}, cis});
            }
    }
    return out;
}

std::vector<PlanarFour> planar_aromatic_rings(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<PlanarFour> out;
    // Per bond the first aromatic ring that has it as an edge; the ring list
    // runs from small to large.
    std::vector<std::uint32_t> ring_of(mol.num_bonds(), NONE);
    for (std::uint32_t r = 0; r < context.ring_list.size(); ++r) {
        if (!context.rings.aromatic[r]) continue;
        for (std::uint32_t bi : context.ring_list[r].bonds)
            if (at(ring_of, bi) == NONE) ring_of[bi] = r;
    }
    // Only the ring's own path: a substituent may belong to a fused ring that
    // cannot share this plane (helicenes, strained bridges).
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi) {
        const std::uint32_t ring = ring_of[bi];
        if (ring == NONE) continue;
        const std::uint32_t b = mol.bonds[bi].begin, c = mol.bonds[bi].end;
        for (core::Neighbor na : mol.neighbors(b)) {
            if (na.atom == c || !context.rings.contains(ring, na.atom)) continue;
            for (core::Neighbor nd : mol.neighbors(c))
                if (nd.atom != b && nd.atom != na.atom && context.rings.contains(ring, nd.atom))
                    out.push_back({{na.atom, b, c, nd.atom}, true});
        }
    }
    return out;
}

std::vector<PlanarFour> planar_amides(const MoleculeContext& context) { return amide_groups(context, false); }

std::vector<PlanarFour> planar_lactams(const MoleculeContext& context) { return amide_groups(context, true); }

namespace {

// A five-ring's flat nitrogen beside its C=C (an N-acyl 2-pyrazoline's, a
// bicyclic pyrazolidinone's) shares that bond's pi system: the ring path
// across the link lies as flat as across the double bond, and the ring
// folds, if at all, at its sp3 atoms. Not a nitrogen its fused small ring
// makes pyramidal (a carbapenem's).
void ring_enamine_links(const MoleculeContext& context, std::vector<PlanarFour>& out) {
    const core::MolBuilder& mol = context.mol;
    const auto flat_nitrogen = [&](std::uint32_t x) {
        return mol.atoms[x].atomic_num == core::Element::N && mol.degree[x] == 3 && !is_aromatic(mol, x) &&
               mol.atoms[x].hybridization == core::Hybridization::Sp2 &&
               !pyramidal_amide_nitrogen(mol, context.rings, x);
    };
    for (const core::Bond& bond : mol.bonds) {
        if (bond.order != BondOrder::Single) continue;
        const std::uint32_t n = flat_nitrogen(bond.begin) ? bond.begin : flat_nitrogen(bond.end) ? bond.end : NONE;
        if (n == NONE) continue;
        const std::uint32_t c = n == bond.begin ? bond.end : bond.begin;
        const std::uint32_t ring = context.rings.smallest_holding(n, c);
        if (ring == NONE || context.rings.ring_size(ring) != 5 || context.rings.aromatic[ring]) continue;
        std::uint32_t partner = NONE;
        for (core::Neighbor nb : mol.neighbors(c))
            if (mol.bonds[nb.bond].order == BondOrder::Double && mol.atoms[nb.atom].atomic_num == core::Element::C &&
                context.rings.contains(ring, nb.atom))
                partner = nb.atom;
        if (partner == NONE) continue;
        for (core::Neighbor nd : mol.neighbors(n))
            if (nd.atom != c && context.rings.contains(ring, nd.atom)) out.push_back({{partner, c, n, nd.atom}, true});
    }
}

}  // namespace

std::vector<PlanarFour> planar_ring_double_bonds(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<PlanarFour> out;
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi) {
        const core::Bond& bond = mol.bonds[bi];
        if (!element_in(mol, bond.begin, {core::Element::C, core::Element::N}) ||
            !element_in(mol, bond.end, {core::Element::C, core::Element::N}) || !double_bond_with_torsion(mol, bi))
            continue;
        const std::uint32_t ring = context.rings.smallest_holding(bond.begin, bond.end);
        // A bond its ring twists keeps only its bounds' window.
        if (ring == NONE || twisted_by_ring(mol, context.rings, bi)) continue;
        const bool stored = has_stored_configuration(bond);
        for (core::Neighbor na : mol.neighbors(bond.begin)) {
            if (na.atom == bond.end || !context.rings.contains(ring, na.atom)) continue;
            for (core::Neighbor nd : mol.neighbors(bond.end))
                if (nd.atom != bond.begin && nd.atom != na.atom && context.rings.contains(ring, nd.atom))
                    out.push_back({{na.atom, bond.begin, bond.end, nd.atom},
                                   stored ? stored_cis(bond, na.atom, nd.atom) : true});
        }
    }
    ring_enamine_links(context, out);
    return out;
}

std::vector<HeldTorsion> twisted_ring_double_bonds(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<HeldTorsion> out;
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi)
        if (const auto path = twisted_ring_path(mol, context.rings, bi))
            out.push_back({*path, TorsionWells::TransTwisted, false, (180.0 - TWISTED_TRANS_TORSION) * DEG_TO_RAD});
    return out;
}

std::vector<PlanarFour> planar_trigonal_centres(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<PlanarFour> out;
    for (std::uint32_t c = 0; c < mol.num_atoms(); ++c) {
        const core::Atom& atom = mol.atoms[c];
        if (mol.degree[c] != 3 || is_aromatic(mol, c)) continue;
        const bool carbon = atom.atomic_num == core::Element::C && atom.hybridization == core::Hybridization::Sp2;
        const bool boron = atom.atomic_num == core::Element::B && atom.formal_charge == 0;
        if (carbon || boron) out.push_back(trigonal(mol, c));
    }
    return out;
}

std::vector<RingSubstituent> aromatic_substituents(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<RingSubstituent> out;
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        if (!is_aromatic(mol, a)) continue;
        std::array<std::uint32_t, 3> ring_nbrs{NONE, NONE, NONE};
        std::size_t count = 0;
        for (core::Neighbor nb : mol.neighbors(a))
            if (mol.bonds[nb.bond].order == BondOrder::Aromatic && count < 3) ring_nbrs[count++] = nb.atom;
        if (count != 2 || mol.degree[a] <= 2) continue;
        for (core::Neighbor nb : mol.neighbors(a)) {
            if (mol.bonds[nb.bond].order == BondOrder::Aromatic) continue;
            out.push_back(
                {{nb.atom, a, ring_nbrs[0], ring_nbrs[1]}, context.rings.smallest_holding(a, nb.atom) != NONE});
        }
    }
    return out;
}

namespace {

// Whether a ring holds an amide bond (a carbonyl carbon and its nitrogen).
bool ring_with_amide(const MoleculeContext& context, std::uint32_t ring) {
    for (const std::uint32_t bi : context.ring_list[ring].bonds) {
        const core::Bond& bond = context.mol.bonds[bi];
        const auto amide = amide_bond(context.mol, bond, context.rings);
        if (amide && amide->in_ring) return true;
    }
    return false;
}

}  // namespace

std::vector<PlanarFour> planar_esters(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<PlanarFour> out;
    for (const core::Bond& bond : mol.bonds) {
        if (bond.order != BondOrder::Single) continue;
        std::uint32_t c = bond.begin, o = bond.end;
        if (mol.atoms[c].atomic_num == core::Element::O) std::swap(c, o);
        const std::uint32_t x = carbonyl_partner(mol, c);
        if (x == NONE || mol.atoms[o].atomic_num != core::Element::O || mol.degree[o] != 2) continue;
        const std::uint32_t y = other_neighbour(mol, o, c);
        // An anhydride cannot put both oxygens cis to their far sides.
        if (carbonyl_partner(mol, y) != NONE) continue;
        // A macrolide's ester is as free as an open one's and lies Z as it
        // does; a smaller ring sets its own, and so does a ring whose amides
        // compete with it for the ring's turns (a cyclic depsipeptide's).
        const std::uint32_t ring = context.rings.smallest_holding(c, o);
        if (ring == NONE || (context.rings.ring_size(ring) >= LARGE_RING && !ring_with_amide(context, ring)))
            out.push_back({{x, c, o, y}, true});
    }
    return out;
}

std::vector<PlanarFour> planar_fusion_atoms(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<PlanarFour> out;
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a)
        if (fusion_atom(mol, a) && !context.curved[a]) out.push_back(trigonal(mol, a));
    return out;
}

std::vector<PlanarFour> planar_nitro_groups(const MoleculeContext& context) {
    std::vector<PlanarFour> out;
    for (std::uint32_t n = 0; n < context.mol.num_atoms(); ++n)
        if (nitro_oxide(context.mol, n) != NONE) out.push_back(trigonal(context.mol, n));
    return out;
}

std::vector<StraightAngle> straight_centres(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<StraightAngle> out;
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        if (mol.degree[a] != 2 || mol.atoms[a].hybridization != core::Hybridization::Sp) continue;
        const std::uint32_t first = other_neighbour(mol, a, NONE), second = other_neighbour(mol, a, first);
        if (second != NONE) out.push_back({{first, a, second}});
    }
    return out;
}

std::vector<PyramidalCentre> pyramidal_amines(const MoleculeContext& context) {
    std::vector<PyramidalCentre> out;
    for (std::uint32_t n = 0; n < context.mol.num_atoms(); ++n) {
        if (!amine_nitrogen(context.mol, n)) continue;
        const PlanarFour around = trigonal(context.mol, n);
        out.push_back({{n, around.atoms[0], around.atoms[2], around.atoms[3]}});
    }
    return out;
}

}  // namespace quorix::conf
