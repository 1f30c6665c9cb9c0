// The free torsions the holds set: conjugated links, anilines, staggered bonds, biaryls.
#include "conf/holds.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <span>
#include <utility>

#include "conf/typical.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "io/smiles/canonical.hpp"
#include "conf/hold_atoms.hpp"

namespace quorix::conf {
namespace {

using core::BondOrder;
using core::NONE;

// An atom whose p orbital joins a conjugated link: aromatic, or a trigonal
// carbon or nitrogen with a double bond to carbon, nitrogen, oxygen or sulfur
// (sulfonyl and phosphoryl centres are tetrahedral, allene centres linear).
bool pi_atom(const core::MolBuilder& mol, std::uint32_t a) {
    if (is_aromatic(mol, a)) return true;
    const core::Atom& atom = mol.atoms[a];
    if (!element_in(mol, a, {core::Element::C, core::Element::N}) || mol.degree[a] > 3 ||
        atom.hybridization != core::Hybridization::Sp2)
        return false;
    for (core::Neighbor nb : mol.neighbors(a))
        if (mol.bonds[nb.bond].order == BondOrder::Double &&
            element_in(mol, nb.atom, {core::Element::C, core::Element::N, core::Element::O, core::Element::S}))
            return true;
    return false;
}

// An ether or hydroxyl oxygen on `pi` whose other neighbour is a hydrogen or
// an sp3 carbon: its lone pair joins the pi system and keeps that neighbour
// in the plane.
bool donor_oxygen(const core::MolBuilder& mol, std::uint32_t o, std::uint32_t pi) {
    if (mol.atoms[o].atomic_num != core::Element::O || mol.degree[o] != 2 || is_aromatic(mol, o)) return false;
    const std::uint32_t far = other_neighbour(mol, o, pi);
    return mol.atoms[far].atomic_num == core::Element::H ||
           (mol.atoms[far].atomic_num == core::Element::C && is_sp3(mol, far));
}

}  // namespace

std::uint32_t anilide_acyl(const core::MolBuilder& mol, std::uint32_t n, std::uint32_t ring_atom) {
    const core::Atom& atom = mol.atoms[n];
    if (!is_aromatic(mol, ring_atom) || atom.atomic_num != core::Element::N || atom.formal_charge != 0 ||
        is_aromatic(mol, n) || mol.degree[n] != 3 || mol.bond_between(n, ring_atom) == NONE)
        return NONE;
    std::size_t hydrogens = 0;
    std::uint32_t acyl = NONE;
    for (core::Neighbor nb : mol.neighbors(n)) {
        if (mol.bonds[nb.bond].order != BondOrder::Single) return NONE;
        if (nb.atom == ring_atom) continue;
        if (mol.atoms[nb.atom].atomic_num == core::Element::H) ++hydrogens;
        else if (!is_aromatic(mol, nb.atom) && carbonyl_partner(mol, nb.atom) != NONE) acyl = nb.atom;
    }
    return hydrogens == 1 ? acyl : NONE;
}

namespace {

// How many sides ring neighbour `nb` of aromatic atom `a` crowds: one with
// a heavy atom off the ring path, both as a peri fusion atom.
std::size_t sides_crowded_by(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t a,
                             std::uint32_t nb) {
    const std::uint32_t own = rings.smallest_holding(a, nb);
    std::size_t heavy = 0;
    for (core::Neighbor far : mol.neighbors(nb)) {
        if (far.atom == a) continue;
        heavy += mol.atoms[far.atom].atomic_num != core::Element::H;
        const bool fused_away = mol.bonds[far.bond].order == BondOrder::Aromatic && own != NONE &&
                                !rings.contains(own, far.atom);
        if (fused_away && rings.ring_size(own) == 6 && rings.smallest_size(nb, far.atom) == 6) return 2;
    }
    return heavy > 1 ? 1 : 0;
}

// How many sides of an aromatic atom crowd what it carries out of plane: a
// ring neighbour carrying a heavy atom outside the ring path (a substituent
// or a fused ring) crowds one side; a neighbour that is the fusion atom of
// two six-membered rings (the peri position of a naphthalene, whose hydrogen
// across the bay sits some 2.5 A from a planar substituent) crowds both.
std::size_t crowded_sides(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t a) {
    if (!is_aromatic(mol, a)) return 0;
    std::size_t sides = 0;
    for (core::Neighbor nb : mol.neighbors(a)) {
        if (mol.bonds[nb.bond].order != BondOrder::Aromatic) continue;
        const std::size_t by = sides_crowded_by(mol, rings, a, nb.atom);
        if (by == 2) return 2;
        sides += by;
    }
    return sides;
}

// The ring neighbour of aromatic atom `a` on its free side when exactly one
// side is crowded; NONE otherwise.
std::uint32_t free_ortho(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t a) {
    if (crowded_sides(mol, rings, a) != 1) return NONE;
    for (core::Neighbor nb : mol.neighbors(a))
        if (mol.bonds[nb.bond].order == BondOrder::Aromatic && sides_crowded_by(mol, rings, a, nb.atom) == 0)
            return nb.atom;
    return NONE;
}

// Whether the link from aromatic atom `a` to `b` is crowded out of plane:
// heavy atoms on both ortho sides, or on one for a nitro group, whose oxygens
// reach out on both sides and meet an ortho substituent some 2.6 A away when
// flat (2-nitrotoluene and 1,2-dinitrobenzene twist 40 to 70 degrees).
bool crowded(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t a, std::uint32_t b) {
    return crowded_sides(mol, rings, a) >= (nitro_oxide(mol, b) != NONE ? 1u : 2u);
}

// Whether the two ring neighbours of a ring atom outside the aromatic rings
// both carry a heavy atom off the ring (a quinone's methoxy carbon between
// a methyl and a carbonyl): an ether on it turns its alkyl out of the
// ring's plane, as on an aromatic atom crowded on both sides, its C-O-C
// some 115 (2-methoxy-3-methylbenzoquinone) where flat it opens to 134.
bool crowded_ring_atom(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t a) {
    if (is_aromatic(mol, a) || rings.smallest[a] == 0) return false;
    std::size_t ring_neighbours = 0, crowding = 0;
    for (core::Neighbor nb : mol.neighbors(a)) {
        if (rings.smallest_holding(a, nb.atom) == NONE) continue;
        ++ring_neighbours;
        for (core::Neighbor far : mol.neighbors(nb.atom))
            if (far.atom != a && mol.atoms[far.atom].atomic_num != core::Element::H &&
                rings.smallest_holding(nb.atom, far.atom) == NONE) {
                ++crowding;
                break;
            }
    }
    return ring_neighbours == 2 && crowding == 2;
}

// A carbonyl carbon on a tertiary amide nitrogen: on a ring, its far
// substituent meets the ortho hydrogen, and such amides lie twisted.
bool tertiary_amide_carbon(const core::MolBuilder& mol, std::uint32_t c) {
    if (carbonyl_partner(mol, c) == NONE) return false;
    for (core::Neighbor nb : mol.neighbors(c)) {
        if (mol.atoms[nb.atom].atomic_num != core::Element::N || mol.degree[nb.atom] != 3) continue;
        std::size_t heavy = 0;
        for (core::Neighbor far : mol.neighbors(nb.atom)) heavy += mol.atoms[far.atom].atomic_num != core::Element::H;
        if (heavy == 3) return true;
    }
    return false;
}

}  // namespace

namespace {

// The sp3 carbon of an ether oxygen `o` on aromatic atom `ring_atom`, the
// bond between them in no ring; NONE otherwise.
std::uint32_t aryl_ether_alkyl(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring_atom,
                               std::uint32_t o) {
    if (!is_aromatic(mol, ring_atom) || is_aromatic(mol, o) || mol.atoms[o].atomic_num != core::Element::O ||
        mol.degree[o] != 2 || rings.smallest_holding(ring_atom, o) != NONE)
        return NONE;
    const std::uint32_t far = other_neighbour(mol, o, ring_atom);
    return mol.atoms[far].atomic_num == core::Element::C && is_sp3(mol, far) ? far : NONE;
}

std::size_t hydrogens_on(const core::MolBuilder& mol, std::uint32_t a) {
    std::size_t count = 0;
    for (core::Neighbor nb : mol.neighbors(a)) count += mol.atoms[nb.atom].atomic_num == core::Element::H;
    return count;
}

}  // namespace

bool aryl_ether_off_plane(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring_atom,
                          std::uint32_t o) {
    const std::uint32_t alkyl = aryl_ether_alkyl(mol, rings, ring_atom, o);
    if (alkyl == NONE) return false;
    const std::size_t sides = crowded_sides(mol, rings, ring_atom), hydrogens = hydrogens_on(mol, alkyl);
    return sides >= 2 || hydrogens == 0 || (hydrogens == 1 && sides == 1);
}

bool crowded_on_both_sides(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring_atom) {
    return crowded_sides(mol, rings, ring_atom) >= 2;
}

bool aryl_ether_perpendicular(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring_atom,
                              std::uint32_t o) {
    const std::uint32_t alkyl = aryl_ether_alkyl(mol, rings, ring_atom, o);
    if (alkyl == NONE) return false;
    std::size_t fluorines = 0;
    for (core::Neighbor nb : mol.neighbors(alkyl)) {
        if (mol.atoms[nb.atom].atomic_num == core::Element::H) return false;
        fluorines += mol.atoms[nb.atom].atomic_num == core::Element::F;
    }
    return fluorines >= 2;
}

std::uint32_t aryl_ether_side(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring_atom,
                              std::uint32_t o) {
    if (aryl_ether_alkyl(mol, rings, ring_atom, o) == NONE || aryl_ether_off_plane(mol, rings, ring_atom, o))
        return NONE;
    if (crowded_sides(mol, rings, ring_atom) == 1) return free_ortho(mol, rings, ring_atom);
    // With neither side crowded, a ring nitrogen's side, where the alkyl
    // meets no hydrogen (2-methoxypyridine lies so, by some 10 kJ/mol), or
    // else a six-ring's first ring neighbour's, so that the ipso angles can
    // open towards it.
    if (rings.smallest[ring_atom] != 6) return NONE;
    std::uint32_t first = NONE;
    for (core::Neighbor nb : mol.neighbors(ring_atom)) {
        if (mol.bonds[nb.bond].order != BondOrder::Aromatic) continue;
        if (mol.atoms[nb.atom].atomic_num == core::Element::N && mol.degree[nb.atom] == 2) return nb.atom;
        if (first == NONE) first = nb.atom;
    }
    return first;
}

std::uint32_t anilide_side(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring_atom,
                           std::uint32_t n) {
    if (anilide_acyl(mol, n, ring_atom) == NONE || rings.smallest[ring_atom] != 6 ||
        rings.smallest_holding(ring_atom, n) != NONE)
        return NONE;
    const std::size_t sides = crowded_sides(mol, rings, ring_atom);
    if (sides == 1) return free_ortho(mol, rings, ring_atom);
    if (sides > 1) return NONE;
    // Away from a ring nitrogen, whose lone pair would meet the oxygen's.
    for (core::Neighbor nb : mol.neighbors(ring_atom))
        if (mol.bonds[nb.bond].order == BondOrder::Aromatic && mol.atoms[nb.atom].atomic_num == core::Element::C)
            return nb.atom;
    return NONE;
}

// An aryl group on a C=N nitrogen turns some 50 degrees out of the C=N
// plane: flat, its ortho hydrogen meets the imine carbon's cis substituent
// and the C=N-C angle opens to some 125 (the crystal's is 118-120).
bool aryl_on_imine_nitrogen(const core::MolBuilder& mol, std::uint32_t aryl, std::uint32_t n) {
    if (!is_aromatic(mol, aryl) || is_aromatic(mol, n) || mol.atoms[n].atomic_num != core::Element::N ||
        mol.degree[n] != 2)
        return false;
    for (core::Neighbor nb : mol.neighbors(n))
        if (mol.bonds[nb.bond].order == BondOrder::Double && mol.atoms[nb.atom].atomic_num == core::Element::C)
            return true;
    return false;
}

// ---- Conjugated links that cannot lie flat for what stands beside them,
// held twisted instead: flat, their groups meet and the angles between them
// give way by 10 degrees or more.
namespace {

// An acyl carbon outside the aromatic rings: a ketone's, ester's, acid's or
// amide's.
bool acyl_carbon(const core::MolBuilder& mol, std::uint32_t x) {
    return mol.atoms[x].atomic_num == core::Element::C && !is_aromatic(mol, x) && carbonyl_partner(mol, x) != NONE;
}

// Whether x and y, substituents on the two ends of double bond `bond`
// outside its ring, lie cis and close: in a six-ring (a five-ring's spread
// apart, their exocyclic angles some 126), as stored or as the bounds
// arrange it on a chain.
bool cis_across(const MoleculeContext& context, std::uint32_t bond, std::uint32_t x, std::uint32_t y) {
    const core::MolBuilder& mol = context.mol;
    const core::Bond& b = mol.bonds[bond];
    const std::uint32_t ring = context.rings.smallest_holding(b.begin, b.end);
    if (ring != NONE) return context.rings.ring_size(ring) == 6;
    if (!double_bond_with_torsion(mol, bond)) return false;
    const bool x_first = mol.bond_between(b.begin, x) != NONE;
    const std::uint32_t a = x_first ? x : y, d = x_first ? y : x;
    if (has_stored_configuration(b)) return stored_cis(b, a, d);
    std::vector<std::uint32_t> side_b, side_c;
    double_bond_sides(mol, b, side_b, side_c);
    return chosen_cis(side_b, side_c, a, d, context.ranks);
}

// Two acyl groups on neighbouring trigonal atoms of a chain or a six-ring,
// cis (a phthalate's, an aconitate's or maleate's esters): flat, their
// carbonyl and ester oxygens meet and open Ar-C=O to 135, closing O=C-O to
// 116 (diethyl phthalate).
// Crystal structures of phthalate and maleate esters turn one or both
// 40-90 degrees out of the plane; each is held ACYL_PAIR_TWIST out of it,
// where neither's oxygens reach the other's (within the looser
// `TorsionWells::Crowded` the two carbonyls still met, O...O 2.6 A, and
// an aconitate's O=C-O stayed at 120). Acyl `c` on pi atom `b`.
constexpr double ACYL_PAIR_TWIST = 70.0;

bool beside_cis_acyl(const MoleculeContext& context, std::uint32_t b, std::uint32_t c) {
    const core::MolBuilder& mol = context.mol;
    if (!acyl_carbon(mol, c) || mol.atoms[b].atomic_num != core::Element::C) return false;
    for (core::Neighbor nb : mol.neighbors(b)) {
        const BondOrder order = mol.bonds[nb.bond].order;
        const bool aromatic = order == BondOrder::Aromatic && is_aromatic(mol, b);
        if (nb.atom == c || (!aromatic && order != BondOrder::Double)) continue;
        for (core::Neighbor far : mol.neighbors(nb.atom)) {
            if (far.atom == b || mol.bonds[far.bond].order != BondOrder::Single || !acyl_carbon(mol, far.atom) ||
                context.rings.smallest_holding(nb.atom, far.atom) != NONE)
                continue;
            if (aromatic ? context.rings.smallest_size(b, nb.atom) == 6 : cis_across(context, nb.bond, c, far.atom))
                return true;
        }
    }
    return false;
}

// A ring alkene carbon `b` beside a quaternary carbon whose double-bond
// partner carries a carbon cis to the link (the beta-ionone ring of
// ionones, retinoids and carotenoids, beta-cyclocitral): the link's far
// atom meets either the gem-dimethyl or that substituent, and flat it
// opened the angle towards the quaternary carbon to 131. Their crystal and
// gas-phase structures twist the link 40-70 degrees (retinal's C5=C6-C7=C8
// some -40 to -60, the 6-s-cis form). An amino group there (a
// 2-amino-4H-pyran's) holds an ester flat by its hydrogen bond.
bool beside_ring_quaternary(const MoleculeContext& context, std::uint32_t b, std::uint32_t c) {
    const core::MolBuilder& mol = context.mol;
    if (is_aromatic(mol, b) || mol.atoms[b].atomic_num != core::Element::C || mol.degree[b] != 3 ||
        context.rings.smallest[b] == 0)
        return false;
    bool quaternary = false, crowded_partner = false;
    for (core::Neighbor nb : mol.neighbors(b)) {
        const std::uint32_t x = nb.atom;
        if (x == c) continue;
        if (mol.bonds[nb.bond].order == BondOrder::Single)
            quaternary |= mol.atoms[x].atomic_num == core::Element::C && is_sp3(mol, x) && hydrogens_on(mol, x) == 0;
        else if (mol.bonds[nb.bond].order == BondOrder::Double && context.rings.smallest_holding(b, x) != NONE)
            for (core::Neighbor far : mol.neighbors(x))
                crowded_partner |= far.atom != b && mol.atoms[far.atom].atomic_num == core::Element::C &&
                                   context.rings.smallest_holding(x, far.atom) == NONE;
    }
    return quaternary && crowded_partner;
}

// A guanidine's carbon: three nitrogens, outside the aromatic rings.
bool guanidine_carbon(const core::MolBuilder& mol, std::uint32_t x) {
    if (mol.atoms[x].atomic_num != core::Element::C || is_aromatic(mol, x) || mol.degree[x] != 3) return false;
    for (core::Neighbor nb : mol.neighbors(x))
        if (mol.atoms[nb.atom].atomic_num != core::Element::N) return false;
    return true;
}

// A biguanide's link from one guanidine carbon `b` to the other's imine
// nitrogen `c` (metformin, phenformin): flat, the amino groups of the two
// halves meet and opened N=C-N at `b` to 131. Crystal structures of
// biguanides and their salts twist the two halves some 40-60 degrees apart.
bool biguanide_link(const core::MolBuilder& mol, std::uint32_t b, std::uint32_t c) {
    if (!guanidine_carbon(mol, b) || mol.atoms[c].atomic_num != core::Element::N || mol.degree[c] != 2) return false;
    for (core::Neighbor nb : mol.neighbors(c))
        if (nb.atom != b && mol.bonds[nb.bond].order == BondOrder::Double && guanidine_carbon(mol, nb.atom))
            return true;
    return false;
}

// Whether the link b-c is one of the last two.
bool crowded_flat_link(const MoleculeContext& context, std::uint32_t b, std::uint32_t c) {
    for (const auto& [x, y] : {std::pair{b, c}, std::pair{c, b}})
        if (beside_ring_quaternary(context, x, y) || biguanide_link(context.mol, x, y)) return true;
    return false;
}

}  // namespace

std::vector<HeldTorsion> conjugated_links(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<HeldTorsion> out;
    for (const core::Bond& bond : mol.bonds) {
        const std::uint32_t b = bond.begin, c = bond.end;
        if (bond.order != BondOrder::Single || mol.degree[b] < 2 || mol.degree[c] < 2) continue;
        const bool pi_b = pi_atom(mol, b), pi_c = pi_atom(mol, c);
        bool link = false;
        if (pi_b && pi_c) link = !(is_aromatic(mol, b) && is_aromatic(mol, c));
        else if (pi_b) link = (carbonyl_partner(mol, b) == NONE && donor_oxygen(mol, c, b) &&
                               !crowded_ring_atom(mol, context.rings, b)) ||
                              anilide_acyl(mol, c, b) != NONE;
        else if (pi_c) link = (carbonyl_partner(mol, c) == NONE && donor_oxygen(mol, b, c) &&
                               !crowded_ring_atom(mol, context.rings, c)) ||
                              anilide_acyl(mol, b, c) != NONE;
        if (!link || tertiary_amide_carbon(mol, b) || tertiary_amide_carbon(mol, c)) continue;
        if (aryl_ether_perpendicular(mol, context.rings, b, c) || aryl_ether_perpendicular(mol, context.rings, c, b)) {
            const std::uint32_t a = other_neighbour(mol, b, c), d = other_neighbour(mol, c, b);
            out.push_back({{a, b, c, d}, TorsionWells::Twisted, false, ARYL_ETHER_PERPENDICULAR * DEG_TO_RAD});
            continue;
        }
        const bool twisted = crowded(mol, context.rings, b, c) || crowded(mol, context.rings, c, b) ||
                             aryl_ether_off_plane(mol, context.rings, b, c) ||
                             aryl_ether_off_plane(mol, context.rings, c, b);
        // A crowded nitro group is held out of the plane, where nothing else
        // would move it: a flat start keeps its oxygen pressed to the ortho
        // atom and O-N-O squeezed.
        const bool nitro = nitro_oxide(mol, b) != NONE || nitro_oxide(mol, c) != NONE;
        if (twisted && !nitro) continue;
        if (aryl_on_imine_nitrogen(mol, b, c) || aryl_on_imine_nitrogen(mol, c, b)) continue;
        const std::uint32_t a = other_neighbour(mol, b, c), d = other_neighbour(mol, c, b);
        if (context.rings.smallest_holding(b, c) != NONE || a == NONE || d == NONE || a == d) continue;
        if (const std::uint32_t side = aryl_ether_side(mol, context.rings, b, c); side != NONE)
            out.push_back({{side, b, c, d}, TorsionWells::Cis});
        else if (const std::uint32_t side = aryl_ether_side(mol, context.rings, c, b); side != NONE)
            out.push_back({{a, b, c, side}, TorsionWells::Cis});
        else if (beside_cis_acyl(context, b, c) || beside_cis_acyl(context, c, b))
            out.push_back({{a, b, c, d}, TorsionWells::Twisted, false, ACYL_PAIR_TWIST * DEG_TO_RAD});
        else if (const std::uint32_t side = anilide_side(mol, context.rings, b, c); side != NONE)
            out.push_back({{side, b, c, anilide_acyl(mol, c, b)}, TorsionWells::NearCis, false,
                           ANILIDE_TWIST * DEG_TO_RAD});
        else if (const std::uint32_t side = anilide_side(mol, context.rings, c, b); side != NONE)
            out.push_back({{anilide_acyl(mol, b, c), b, c, side}, TorsionWells::NearCis, false,
                           ANILIDE_TWIST * DEG_TO_RAD});
        else if (anilide_acyl(mol, c, b) != NONE || anilide_acyl(mol, b, c) != NONE)
            out.push_back({{a, b, c, d}, TorsionWells::Twisted, false, ANILIDE_TWIST * DEG_TO_RAD});
        else
            out.push_back({{a, b, c, d}, twisted || crowded_flat_link(context, b, c) ? TorsionWells::Crowded
                                                                                    : TorsionWells::Planar});
    }
    return out;
}

std::vector<ConjugatedNitrogen> conjugated_anilines(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<ConjugatedNitrogen> out;
    for (std::uint32_t n = 0; n < mol.num_atoms(); ++n) {
        const std::uint32_t c = aniline_ring_atom(mol, n);
        if (c == NONE || context.rings.smallest_holding(c, n) != NONE) continue;
        std::array<std::uint32_t, 2> ring{NONE, NONE}, others{NONE, NONE};
        std::size_t in_ring = 0, other = 0;
        std::size_t heavy = 0;
        for (core::Neighbor nb : mol.neighbors(c))
            if (mol.bonds[nb.bond].order == BondOrder::Aromatic && in_ring < 2) ring[in_ring++] = nb.atom;
        for (core::Neighbor nb : mol.neighbors(n)) {
            if (nb.atom == c) continue;
            others[other++] = nb.atom;
            heavy += mol.atoms[nb.atom].atomic_num != core::Element::H;
        }
        // A secondary aniline turns its hydrogen to a crowded side; a
        // tertiary one, or one crowded on both sides, has nowhere to turn.
        if (in_ring < 2 || (heavy > 0 && crowded_sides(mol, context.rings, c) >= (heavy == 2 ? 1u : 2u))) continue;
        out.push_back({{c, ring[0], ring[1], others[0], others[1]}});
    }
    return out;
}

namespace {

// The one heavy neighbour of `a` other than `not_this`, NONE with none or
// more than one.
std::uint32_t only_heavy_neighbour(const core::MolBuilder& mol, std::uint32_t a, std::uint32_t not_this) {
    std::uint32_t found = NONE;
    for (core::Neighbor nb : mol.neighbors(a)) {
        if (nb.atom == not_this || mol.atoms[nb.atom].atomic_num == core::Element::H) continue;
        if (found != NONE) return NONE;
        found = nb.atom;
    }
    return found;
}

// The neighbour of `a` other than `not_this` in ring `ring`, NONE without one.
std::uint32_t ring_neighbour(const MoleculeContext& context, std::uint32_t a, std::uint32_t not_this,
                             std::uint32_t ring) {
    for (core::Neighbor nb : context.mol.neighbors(a))
        if (nb.atom != not_this && context.rings.contains(ring, nb.atom)) return nb.atom;
    return NONE;
}

// A phosphoryl's or sulfonyl's four-connected centre: an ester's methine
// meets its oxygens as it would a branched carbon's branches (isopropyl
// phosphonates and sulfonates open C-O-P and C-O-S to 124 turned away).
bool acid_ester_centre(const core::MolBuilder& mol, std::uint32_t a) {
    const std::uint8_t z = mol.atoms[a].atomic_num;
    return (z == core::Element::P || z == core::Element::S) && mol.degree[a] == 4;
}

// The far carbon and hydrogen of an ether's methine (isopropyl,
// cyclopentyl) on oxygen `o`, carbon `c`, whose far carbon is an aryl's or
// a branched alkyl's: the hydrogen turns near cis to the far carbon, its
// two heavy neighbours astride the C-O-C plane (so in crystal structures
// of isopropoxy- and cyclopentyloxyarenes, and of glycosides, whose
// H-C-O-C lie within some 30 of cis on both sides of the link); turned
// away, they meet the ring's ortho atoms or the far carbon's own branches,
// as a syn-pentane, and open C-O-C to 125-130. None otherwise.
std::optional<std::pair<std::uint32_t, std::uint32_t>> ether_methine(const MoleculeContext& context,
                                                                     std::uint32_t o, std::uint32_t c) {
    const core::MolBuilder& mol = context.mol;
    if (mol.atoms[o].atomic_num != core::Element::O || mol.degree[o] != 2 ||
        mol.atoms[c].atomic_num != core::Element::C || mol.degree[c] != 4)
        return std::nullopt;
    std::uint32_t hydrogen = NONE;
    std::size_t hydrogens = 0;
    for (core::Neighbor nb : mol.neighbors(c))
        if (mol.atoms[nb.atom].atomic_num == core::Element::H) {
            hydrogen = nb.atom;
            ++hydrogens;
        }
    if (hydrogens != 1) return std::nullopt;
    const std::uint32_t far = other_neighbour(mol, o, c);
    if (aryl_ether_alkyl(mol, context.rings, far, o) == c) return std::pair{far, hydrogen};
    if (acid_ester_centre(mol, far)) return std::pair{far, hydrogen};
    if (mol.atoms[far].atomic_num != core::Element::C || mol.degree[far] != 4 || hydrogens_on(mol, far) > 1)
        return std::nullopt;
    return std::pair{far, hydrogen};
}

// The torsion that stands the carbon chain of an aromatic atom's CH2
// perpendicular to the ring (see `staggered_bonds`), none for another bond.
std::optional<HeldTorsion> benzylic_torsion(const MoleculeContext& context, const core::Bond& bond) {
    const core::MolBuilder& mol = context.mol;
    const bool begin_ring = is_aromatic(mol, bond.begin);
    const std::uint32_t ring_atom = begin_ring ? bond.begin : bond.end, ch2 = begin_ring ? bond.end : bond.begin;
    if (bond.order != BondOrder::Single || !is_aromatic(mol, ring_atom) || is_aromatic(mol, ch2) ||
        mol.atoms[ch2].atomic_num != core::Element::C || !is_sp3(mol, ch2) ||
        context.rings.smallest_holding(ring_atom, ch2) != NONE)
        return std::nullopt;
    const std::uint32_t chain = only_heavy_neighbour(mol, ch2, ring_atom);
    if (chain == NONE || mol.atoms[chain].atomic_num != core::Element::C || !is_sp3(mol, chain) ||
        mol.degree[ch2] != 4)
        return std::nullopt;
    for (core::Neighbor nb : mol.neighbors(ring_atom))
        if (mol.bonds[nb.bond].order == BondOrder::Aromatic)
            return HeldTorsion{
                {nb.atom, ring_atom, ch2, chain}, TorsionWells::Twisted, false, BENZYL_TWIST * DEG_TO_RAD};
    return std::nullopt;
}

// The torsion that turns an sp3 methine's hydrogen cis to the far carbon
// of the alkene it carries (a vinyl or =CH- alkenyl group on a CH with two
// heavy branches, as quinine's on its quinuclidine): the alkene eclipses the
// hydrogen and its branches stand astride it, some 1 kcal/mol below either
// branch eclipsed (the allylic-strain analyses of 3-methylbut-1-ene and its
// Z homologues); left free the embedding leaves the bond near 60 from
// either well, where a refinement opens the C-C=C or C-C-C angles instead.
// An isopropenyl's methyl would meet the branches there: none for it, for a
// bond in a ring or any other bond.
std::optional<HeldTorsion> allylic_methine_torsion(const MoleculeContext& context, const core::Bond& bond) {
    const core::MolBuilder& mol = context.mol;
    if (bond.order != BondOrder::Single || context.rings.smallest_holding(bond.begin, bond.end) != NONE)
        return std::nullopt;
    const auto alkene_far = [&](std::uint32_t c) {
        if (mol.atoms[c].atomic_num != core::Element::C || is_aromatic(mol, c) || mol.degree[c] != 3 ||
            hydrogens_on(mol, c) != 1)
            return NONE;
        for (core::Neighbor nb : mol.neighbors(c))
            if (mol.bonds[nb.bond].order == BondOrder::Double)
                return mol.atoms[nb.atom].atomic_num == core::Element::C ? nb.atom : NONE;
        return NONE;
    };
    const auto methine_hydrogen = [&](std::uint32_t c) {
        if (mol.atoms[c].atomic_num != core::Element::C || !is_sp3(mol, c) || mol.degree[c] != 4 ||
            context.rings.smallest[c] == 3 || hydrogens_on(mol, c) != 1)
            return NONE;
        for (core::Neighbor nb : mol.neighbors(c))
            if (mol.atoms[nb.atom].atomic_num == core::Element::H) return nb.atom;
        return NONE;
    };
    for (const auto& [m, e] : {std::pair{bond.begin, bond.end}, std::pair{bond.end, bond.begin}}) {
        const std::uint32_t h = methine_hydrogen(m), far = alkene_far(e);
        if (h == NONE || far == NONE) continue;
        if (m == bond.begin) return HeldTorsion{{h, m, e, far}, TorsionWells::Syn};
        return HeldTorsion{{far, e, m, h}, TorsionWells::Syn};
    }
    return std::nullopt;
}

// ---- Two chains on a ring's quaternary carbon (a 5,5-diethylbarbiturate's
// C5, a 9,9-dialkylfluorene's C9, a cyclohexane-1,1-diacetic acid's C1),
// each going on to a further atom: each chain's next atom stands anti to a
// ring bond, the two chains to different ones, so they point apart; between
// two trigonal ring atoms each stands anti to the other chain instead, over
// the flat ring's plane. Left to chance the two often stand anti to the
// same ring bond and meet as a syn-pentane's ends do (some 3-4 kcal/mol,
// as alkanes' conformational energies give), which opens the angle between
// the chains to 116-119, where crystal structures give 108-112 (barbital's
// Et-C5-Et 111-112). The lower-indexed chain takes the lower-indexed ring
// bond. None for any other bond.
std::optional<HeldTorsion> gem_chain_torsion(const MoleculeContext& context, const core::Bond& bond) {
    const core::MolBuilder& mol = context.mol;
    const auto from = [&](std::uint32_t q, std::uint32_t first) -> std::optional<HeldTorsion> {
        if (mol.atoms[q].atomic_num != core::Element::C || !is_sp3(mol, q) || mol.degree[q] != 4 ||
            context.rings.smallest[q] == 0)
            return std::nullopt;
        std::array<std::uint32_t, 2> ring{NONE, NONE}, chain{NONE, NONE};
        std::size_t in_ring = 0, in_chain = 0;
        for (core::Neighbor nb : mol.neighbors(q)) {
            if (context.rings.smallest_holding(q, nb.atom) != NONE) {
                if (in_ring == 2) return std::nullopt;
                ring[in_ring++] = nb.atom;
            } else {
                if (in_chain == 2 || mol.atoms[nb.atom].atomic_num != core::Element::C || !is_sp3(mol, nb.atom) ||
                    only_heavy_neighbour(mol, nb.atom, q) == NONE)
                    return std::nullopt;
                chain[in_chain++] = nb.atom;
            }
        }
        if (in_ring != 2 || in_chain != 2 || (first != chain[0] && first != chain[1])) return std::nullopt;
        const bool lower = first == std::min(chain[0], chain[1]);
        const std::uint32_t other = lower ? std::max(chain[0], chain[1]) : std::min(chain[0], chain[1]);
        const bool flat = !is_sp3(mol, ring[0]) && !is_sp3(mol, ring[1]);
        const std::uint32_t anti = flat ? other : lower ? std::min(ring[0], ring[1]) : std::max(ring[0], ring[1]);
        return HeldTorsion{{only_heavy_neighbour(mol, first, q), first, q, anti}, TorsionWells::Anti};
    };
    if (const auto held = from(bond.begin, bond.end)) return held;
    return from(bond.end, bond.begin);
}

// ---- The three chains of a tertiary ammonium ion outside the rings
// (triethyl- and tributylammonium, a protonated tertiary amine's chains):
// each chain's next atom stands anti to another of the nitrogen's carbons,
// each to the next one round (by index), a propeller in which no two
// chains meet. Left to chance two chains stood as a syn-pentane's ends
// and opened C-N+-C to 116-121.5, where crystal structures of
// trialkylammonium salts give 110-114. None for any other bond.
std::optional<HeldTorsion> ammonium_chain_torsion(const MoleculeContext& context, const core::Bond& bond) {
    const core::MolBuilder& mol = context.mol;
    const auto from = [&](std::uint32_t n, std::uint32_t chain) -> std::optional<HeldTorsion> {
        if (mol.atoms[n].atomic_num != core::Element::N || mol.atoms[n].formal_charge != 1 || mol.degree[n] != 4 ||
            context.rings.smallest[n] != 0 || hydrogens_on(mol, n) != 1)
            return std::nullopt;
        std::array<std::uint32_t, 3> carbons{};
        std::size_t count = 0;
        for (core::Neighbor nb : mol.neighbors(n)) {
            if (mol.atoms[nb.atom].atomic_num == core::Element::H) continue;
            if (mol.atoms[nb.atom].atomic_num != core::Element::C || !is_sp3(mol, nb.atom)) return std::nullopt;
            carbons[count++] = nb.atom;
        }
        const std::uint32_t next = only_heavy_neighbour(mol, chain, n);
        if (next == NONE || mol.degree[chain] != 4) return std::nullopt;
        std::sort(carbons.begin(), carbons.end());
        const std::size_t k = static_cast<std::size_t>(std::find(carbons.begin(), carbons.end(), chain) - carbons.begin());
        return HeldTorsion{{next, chain, n, carbons[(k + 1) % 3]}, TorsionWells::Anti};
    };
    if (bond.order != BondOrder::Single) return std::nullopt;
    if (const auto held = from(bond.begin, bond.end)) return held;
    return from(bond.end, bond.begin);
}

// ---- A secondary amine's carboxymethyl or phosphonomethyl (iminodiacetic
// acid, sarcosine, glyphosate): the acid group stands anti to the
// nitrogen's other carbon, the extended chain. Left to chance both links of
// glyphosate stood gauche, folding its carboxyl onto its phosphonate, and
// their oxygens, held a van der Waals distance apart, opened N-C-C and
// N-C-P to 119-120 (110-112 once extended, as MMFF94 and crystal
// structures of N-substituted glycines and aminomethylphosphonic acids
// give them). None for any other bond.
std::optional<HeldTorsion> amino_acid_chain_torsion(const MoleculeContext& context, const core::Bond& bond) {
    const core::MolBuilder& mol = context.mol;
    const auto from = [&](std::uint32_t n, std::uint32_t ch2) -> std::optional<HeldTorsion> {
        if (!amine_nitrogen(mol, n) || context.rings.smallest[n] != 0 || hydrogens_on(mol, n) != 1 ||
            mol.atoms[ch2].atomic_num != core::Element::C || hydrogens_on(mol, ch2) != 2)
            return std::nullopt;
        const std::uint32_t acid = only_heavy_neighbour(mol, ch2, n), other = only_heavy_neighbour(mol, n, ch2);
        if (acid == NONE || other == NONE || mol.atoms[other].atomic_num != core::Element::C) return std::nullopt;
        const bool phosphono = mol.atoms[acid].atomic_num == core::Element::P && mol.degree[acid] == 4;
        if (!phosphono && !acyl_carbon(mol, acid)) return std::nullopt;
        return HeldTorsion{{acid, ch2, n, other}, TorsionWells::Anti};
    };
    if (bond.order != BondOrder::Single) return std::nullopt;
    if (const auto held = from(bond.begin, bond.end)) return held;
    return from(bond.end, bond.begin);
}

}  // namespace


namespace {

using TorsionRule = std::optional<HeldTorsion> (*)(const MoleculeContext&, const core::Bond&);

// A bond's own torsion, the first row that takes it winning: a benzylic or
// allylic bond before anything else, ring bonds or not.
constexpr std::array<TorsionRule, 2> BOND_TORSION_RULES{benzylic_torsion, allylic_methine_torsion};
// Then, on an open-chain bond only: two chains on a quaternary ring carbon,
// an ammonium's propeller, a secondary amine's acid chain.
constexpr std::array<TorsionRule, 3> CHAIN_TORSION_RULES{gem_chain_torsion, ammonium_chain_torsion,
                                                         amino_acid_chain_torsion};

template <std::size_t N>
std::optional<HeldTorsion> first_rule(const std::array<TorsionRule, N>& rules, const MoleculeContext& context,
                                      const core::Bond& bond) {
    for (const TorsionRule rule : rules)
        if (auto held = rule(context, bond)) return held;
    return std::nullopt;
}

}  // namespace

std::vector<HeldTorsion> staggered_bonds(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    const RingContext& rings = context.rings;
    std::vector<HeldTorsion> out;
    // An atom of a three-membered ring has no staggered arrangement: its
    // ring bonds stand 60 degrees apart.
    const auto tetrahedral = [&](std::uint32_t a) {
        return is_sp3(mol, a) && mol.degree[a] >= 2 && rings.smallest[a] != 3 &&
               element_in(mol, a, {core::Element::C, core::Element::N, core::Element::O});
    };
    // An ester's or aryl ether's oxygen is trigonal, but its one other
    // neighbour still sits staggered between a tetrahedral neighbour's bonds.
    const auto two_connected_oxygen = [&](std::uint32_t a) {
        return mol.atoms[a].atomic_num == core::Element::O && mol.degree[a] == 2 && !is_aromatic(mol, a);
    };
    const auto carbon = [&](std::uint32_t a) { return a != NONE && mol.atoms[a].atomic_num == core::Element::C; };
    for (const core::Bond& bond : mol.bonds) {
        if (const auto own = first_rule(BOND_TORSION_RULES, context, bond)) {
            out.push_back(*own);
            continue;
        }
        const std::uint32_t b = bond.begin, c = bond.end;
        if (bond.order != BondOrder::Single || !(tetrahedral(b) || tetrahedral(c)) ||
            !(tetrahedral(b) || two_connected_oxygen(b)) || !(tetrahedral(c) || two_connected_oxygen(c)))
            continue;
        const std::uint32_t ring = rings.smallest_holding(b, c);
        if (ring != NONE) {
            // A macrocycle's bonds are free enough to stagger as a chain's do;
            // smaller rings take the torsions their closure leaves them.
            if (rings.ring_size(ring) < MACROCYCLE || !tetrahedral(b) || !tetrahedral(c)) continue;
            const std::uint32_t a = ring_neighbour(context, b, c, ring), d = ring_neighbour(context, c, b, ring);
            if (a != NONE && d != NONE) out.push_back({{a, b, c, d}, TorsionWells::RingStaggered});
            continue;
        }
        if (const auto own = first_rule(CHAIN_TORSION_RULES, context, bond)) {
            out.push_back(*own);
            continue;
        }
        // An unbranched carbon chain lies anti, the extended zig-zag: gauche
        // costs some 3.5 kJ/mol a bond.
        const std::uint32_t heavy_a = only_heavy_neighbour(mol, b, c), heavy_d = only_heavy_neighbour(mol, c, b);
        if (carbon(b) && carbon(c) && carbon(heavy_a) && carbon(heavy_d) && heavy_a != heavy_d) {
            out.push_back({{heavy_a, b, c, heavy_d}, TorsionWells::Anti});
            continue;
        }
        if (const auto methine = ether_methine(context, b, c)) {
            out.push_back({{methine->first, b, c, methine->second}, TorsionWells::Syn});
            continue;
        }
        if (const auto methine = ether_methine(context, c, b)) {
            out.push_back({{methine->second, b, c, methine->first}, TorsionWells::Syn});
            continue;
        }
        const std::uint32_t a = other_neighbour(mol, b, c), d = other_neighbour(mol, c, b);
        if (a != NONE && d != NONE && a != d) out.push_back({{a, b, c, d}, TorsionWells::Staggered});
    }
    return out;
}

std::vector<HeldTorsion> biaryl_links(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<HeldTorsion> out;
    // Per side, the ortho atoms: how many carry a hydrogen, and how many a
    // heavy atom off the ring path (a substituent or a fused ring).
    const auto ortho = [&](std::uint32_t b, std::uint32_t c, std::size_t& hydrogens, std::size_t& heavy) {
        for (core::Neighbor nb : mol.neighbors(b)) {
            if (nb.atom == c) continue;
            for (core::Neighbor far : mol.neighbors(nb.atom)) {
                if (far.atom == b) continue;
                if (mol.atoms[far.atom].atomic_num == core::Element::H) ++hydrogens;
                else if (mol.bonds[far.bond].order != BondOrder::Aromatic ||
                         context.rings.smallest_holding(b, nb.atom, far.atom) == NONE)
                    ++heavy;
            }
        }
    };
    for (const core::Bond& bond : mol.bonds) {
        const std::uint32_t b = bond.begin, c = bond.end;
        if (bond.order != BondOrder::Single || !is_aromatic(mol, b) || !is_aromatic(mol, c) ||
            context.rings.smallest_holding(b, c) != NONE)
            continue;
        std::size_t hydrogens = 0, heavy = 0;
        ortho(b, c, hydrogens, heavy);
        ortho(c, b, hydrogens, heavy);
        const std::uint32_t a = other_neighbour(mol, b, c), d = other_neighbour(mol, c, b);
        // Two heavy ortho neighbours or more twist the rings as far as their
        // bounds leave them.
        if (a == NONE || d == NONE || heavy > 1) continue;
        // Four ortho hydrogens meet near planar and keep the rings some 40
        // degrees apart (biphenyl 44 in the gas); with a ring nitrogen or a
        // five-ring's wider angles in their place the rings lie flatter, and
        // one heavy ortho neighbour turns them further.
        const double twist = heavy == 1 ? BIARYL_TWIST_CROWDED : hydrogens >= 4 ? BIARYL_TWIST : BIARYL_TWIST_OPEN;
        out.push_back({{a, b, c, d}, TorsionWells::Twisted, false, twist * DEG_TO_RAD});
    }
    return out;
}

}  // namespace quorix::conf
