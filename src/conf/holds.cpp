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

namespace quorix::conf {
namespace {

using core::BondOrder;
using core::NONE;

// The substituent an unconfigured chain double bond keeps trans to the other
// side's: the lowest-ranked one (canonical rank, then index).
std::uint32_t lowest_ranked(std::span<const std::uint32_t> side, std::span<const std::uint32_t> ranks) {
    std::uint32_t best = side[0];
    for (std::uint32_t x : side)
        if (ranks[x] < ranks[best] || (ranks[x] == ranks[best] && x < best)) best = x;
    return best;
}

// The substituents on each end of a double bond; whether both ends have one
// (else no torsion runs across it).
bool double_bond_sides(const core::MolBuilder& mol, const core::Bond& bond, std::vector<std::uint32_t>& side_b,
                       std::vector<std::uint32_t>& side_c) {
    side_b.clear();
    side_c.clear();
    for (core::Neighbor nb : mol.neighbors(bond.begin))
        if (nb.atom != bond.end) side_b.push_back(nb.atom);
    for (core::Neighbor nb : mol.neighbors(bond.end))
        if (nb.atom != bond.begin) side_c.push_back(nb.atom);
    return !side_b.empty() && !side_c.empty();
}

// Whether substituents a and d of an unconfigured chain double bond lie cis
// in its arrangement.
bool chosen_cis(std::span<const std::uint32_t> side_b, std::span<const std::uint32_t> side_c, std::uint32_t a,
                std::uint32_t d, std::span<const std::uint32_t> ranks) {
    return (a != lowest_ranked(side_b, ranks)) != (d != lowest_ranked(side_c, ranks));
}

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

bool element_in(const core::MolBuilder& mol, std::uint32_t a, std::initializer_list<std::uint8_t> elements) {
    return std::find(elements.begin(), elements.end(), mol.atoms[a].atomic_num) != elements.end();
}

// The first neighbour of `a` other than `not_this`, NONE without one.
std::uint32_t other_neighbour(const core::MolBuilder& mol, std::uint32_t a, std::uint32_t not_this) {
    for (core::Neighbor nb : mol.neighbors(a))
        if (nb.atom != not_this) return nb.atom;
    return NONE;
}

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

// The chair rings of a ring list (see `chair_rings`).
std::vector<std::uint32_t> chair_rings_of(const RingContext& rings) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t r = 0; r < rings.ring_count(); ++r) {
        if (rings.ring_size(r) != 6 || !rings.all_sp3[r]) continue;
        bool free = true;
        for (std::uint32_t k = 0; k < rings.ring_count() && free; ++k) {
            if (k == r) continue;
            std::size_t shared = 0;
            for (std::uint32_t i = rings.ring_offsets[r]; i < rings.ring_offsets[r + 1]; ++i)
                shared += rings.contains(k, rings.ring_atoms[i]);
            free = shared < 2 || (shared == 2 && rings.ring_size(k) >= 5);
        }
        if (free) out.push_back(r);
    }
    return out;
}

// The ring path of a six-membered ring round the bond between its atoms
// k + 1 and k + 2.
std::array<std::uint32_t, 4> ring_path(const std::array<std::uint32_t, 6>& ring, std::size_t k) {
    return {ring[k], ring[(k + 1) % 6], ring[(k + 2) % 6], ring[(k + 3) % 6]};
}

// Two chairs fused at a bond: their paths round it and how far the second's
// torsion there lies from the first's (some 0 or 120 degrees, as the fusion's
// configuration sets it; a refinement keeps it).
struct Fusion {
    std::size_t first, first_path, second, second_path;
    double offset;
};

// The chairs' ring paths, each chair in one of its two forms (torsions of
// alternating sign round the ring). A lone chair takes the form whose signs
// agree more with `start`; fused chairs take the forms that agree most
// together among those their fusions allow (a trans fusion allows one pair,
// a cis fusion two); chairs whose fusions allow none are not held.
std::vector<HeldTorsion> chair_terms(std::span<const HeldChair> chairs, std::span<const double> start) {
    constexpr double MIDDLE = (CHAIR_TORSION_LOW + CHAIR_TORSION_HIGH) / 2;
    constexpr double FUSION_SLACK = 40.0 * DEG_TO_RAD;
    constexpr double TWO_PI = 6.283185307179586;
    constexpr std::size_t MAX_JOINT = 10;  // rings decided together, at most 2^10 forms
    const std::size_t n = chairs.size();
    std::vector<std::array<double, 6>> phi(n);
    std::vector<double> agreement(n, 0.0);  // with the form whose first torsion is positive
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t k = 0; k < 6; ++k) {
            phi[r][k] = torsion_angle(ring_path(chairs[r].atoms, k), start);
            if (!std::isnan(phi[r][k])) agreement[r] += k % 2 == 0 ? phi[r][k] : -phi[r][k];
        }
    const auto target = [&](std::size_t k, bool positive) { return (k % 2 == 0) == positive ? MIDDLE : -MIDDLE; };
    // Per ring, how many heavy substituents each form puts equatorial. A
    // substituent keeps its place about its ring atom's bond to the next
    // (some 120 degrees from the ring atom before, as the configuration
    // sets), so its torsion in a form is the ring path's target plus that
    // offset, and near 180 degrees it is equatorial.
    std::vector<std::array<int, 2>> equatorial(n, {0, 0});
    for (std::size_t r = 0; r < n; ++r)
        for (const ChairSubstituent& sub : chairs[r].substituents) {
            const auto& ring = chairs[r].atoms;
            const std::size_t i = sub.position, path = (i + 5) % 6;  // the path round ring[i]-ring[i+1]
            const double own = torsion_angle({sub.atom, ring[i], ring[(i + 1) % 6], ring[(i + 2) % 6]}, start);
            const double offset = std::remainder(own - phi[r][path], TWO_PI);
            if (std::isnan(offset)) continue;
            for (int form = 0; form < 2; ++form)
                equatorial[r][form] += std::abs(std::remainder(target(path, form == 0) + offset, TWO_PI)) > TWO_PI / 3;
        }
    std::vector<Fusion> fusions;
    std::vector<std::size_t> group(n);
    for (std::size_t r = 0; r < n; ++r) group[r] = r;
    const auto root = [&](std::size_t r) {
        while (group[r] != r) r = group[r];
        return r;
    };
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t q = r + 1; q < n; ++q)
            for (std::size_t k = 0; k < 6; ++k)
                for (std::size_t j = 0; j < 6; ++j) {
                    const auto p = ring_path(chairs[r].atoms, k), o = ring_path(chairs[q].atoms, j);
                    if (!((p[1] == o[1] && p[2] == o[2]) || (p[1] == o[2] && p[2] == o[1]))) continue;
                    fusions.push_back({r, k, q, j, std::remainder(phi[q][j] - phi[r][k], TWO_PI)});
                    group[root(q)] = root(r);
                }
    // Heavy substituents equatorial first, then agreement with the start.
    const auto score = [&](std::size_t r, bool positive) {
        return 1000.0 * equatorial[r][positive ? 0 : 1] + (positive ? agreement[r] : -agreement[r]);
    };
    std::vector<std::int8_t> form(n, 0);  // +1, -1, or 0 when not held
    for (std::size_t r = 0; r < n; ++r) {
        if (root(r) != r) continue;
        std::vector<std::size_t> members;
        for (std::size_t q = 0; q < n; ++q)
            if (root(q) == r) members.push_back(q);
        if (members.size() > MAX_JOINT) {
            for (std::size_t q : members) form[q] = score(q, false) > score(q, true) ? -1 : 1;
            continue;
        }
        double best = 0.0;
        bool found = false;
        std::size_t best_mask = 0;
        for (std::size_t mask = 0; mask < (std::size_t(1) << members.size()); ++mask) {
            const auto positive = [&](std::size_t ring) {
                const std::size_t at = std::find(members.begin(), members.end(), ring) - members.begin();
                return ((mask >> at) & 1) == 0;
            };
            bool allowed = true;
            for (const Fusion& f : fusions) {
                if (root(f.first) != r || std::isnan(f.offset)) continue;
                const double gap = std::remainder(target(f.second_path, positive(f.second)) -
                                                      target(f.first_path, positive(f.first)) - f.offset,
                                                  TWO_PI);
                allowed = allowed && std::abs(gap) < FUSION_SLACK;
            }
            if (!allowed) continue;
            double total = 0.0;
            for (std::size_t q : members) total += score(q, positive(q));
            if (!found || total > best) {
                found = true;
                best = total;
                best_mask = mask;
            }
        }
        if (!found) continue;
        for (std::size_t at = 0; at < members.size(); ++at) form[members[at]] = ((best_mask >> at) & 1) == 0 ? 1 : -1;
    }
    std::vector<HeldTorsion> out;
    for (std::size_t r = 0; r < n; ++r) {
        if (form[r] == 0) continue;
        for (std::size_t k = 0; k < 6; ++k)
            out.push_back({ring_path(chairs[r].atoms, k), TorsionWells::Chair, target(k, form[r] > 0) < 0});
    }
    return out;
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
        if (!amide || amide->in_ring != lactams) continue;
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

std::vector<PlanarFour> planar_ring_double_bonds(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<PlanarFour> out;
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi) {
        const core::Bond& bond = mol.bonds[bi];
        if (!element_in(mol, bond.begin, {core::Element::C, core::Element::N}) ||
            !element_in(mol, bond.end, {core::Element::C, core::Element::N}) || !double_bond_with_torsion(mol, bi))
            continue;
        const std::uint32_t ring = context.rings.smallest_holding(bond.begin, bond.end);
        if (ring == NONE) continue;
        const bool stored = has_stored_configuration(bond);
        for (core::Neighbor na : mol.neighbors(bond.begin)) {
            if (na.atom == bond.end || !context.rings.contains(ring, na.atom)) continue;
            for (core::Neighbor nd : mol.neighbors(bond.end))
                if (nd.atom != bond.begin && nd.atom != na.atom && context.rings.contains(ring, nd.atom))
                    out.push_back({{na.atom, bond.begin, bond.end, nd.atom},
                                   stored ? stored_cis(bond, na.atom, nd.atom) : true});
        }
    }
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

std::vector<HeldTorsion> conjugated_links(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<HeldTorsion> out;
    for (const core::Bond& bond : mol.bonds) {
        const std::uint32_t b = bond.begin, c = bond.end;
        if (bond.order != BondOrder::Single || mol.degree[b] < 2 || mol.degree[c] < 2) continue;
        const bool pi_b = pi_atom(mol, b), pi_c = pi_atom(mol, c);
        bool link = false;
        if (pi_b && pi_c) link = !(is_aromatic(mol, b) && is_aromatic(mol, c));
        else if (pi_b) link = carbonyl_partner(mol, b) == NONE && donor_oxygen(mol, c, b);
        else if (pi_c) link = carbonyl_partner(mol, c) == NONE && donor_oxygen(mol, b, c);
        if (!link || tertiary_amide_carbon(mol, b) || tertiary_amide_carbon(mol, c)) continue;
        const bool twisted = crowded(mol, context.rings, b, c) || crowded(mol, context.rings, c, b);
        // A crowded nitro group is held out of the plane, where nothing else
        // would move it: a flat start keeps its oxygen pressed to the ortho
        // atom and O-N-O squeezed.
        const bool nitro = nitro_oxide(mol, b) != NONE || nitro_oxide(mol, c) != NONE;
        if (twisted && !nitro) continue;
        if (aryl_on_imine_nitrogen(mol, b, c) || aryl_on_imine_nitrogen(mol, c, b)) continue;
        const std::uint32_t a = other_neighbour(mol, b, c), d = other_neighbour(mol, c, b);
        if (context.rings.smallest_holding(b, c) != NONE || a == NONE || d == NONE || a == d) continue;
        // An aryl ether's alkyl turns from a crowded ortho side to the free
        // one: towards the substituent it meets it some 2.5 A off and opens
        // C-O-C past 130 degrees (veratrole's methyls lie anti to each other).
        const auto free_side_of_ether = [&](std::uint32_t ring_atom, std::uint32_t o) {
            const bool ether = is_aromatic(mol, ring_atom) && !is_aromatic(mol, o) &&
                               mol.atoms[o].atomic_num == core::Element::O &&
                               mol.atoms[other_neighbour(mol, o, ring_atom)].atomic_num != core::Element::H;
            return ether ? free_ortho(mol, context.rings, ring_atom) : NONE;
        };
        if (const std::uint32_t side = free_side_of_ether(b, c); side != NONE)
            out.push_back({{side, b, c, d}, TorsionWells::Cis});
        else if (const std::uint32_t side = free_side_of_ether(c, b); side != NONE)
            out.push_back({{a, b, c, side}, TorsionWells::Cis});
        else
            out.push_back({{a, b, c, d}, twisted ? TorsionWells::Crowded : TorsionWells::Planar});
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
        // An unbranched carbon chain lies anti, the extended zig-zag: gauche
        // costs some 3.5 kJ/mol a bond.
        const std::uint32_t heavy_a = only_heavy_neighbour(mol, b, c), heavy_d = only_heavy_neighbour(mol, c, b);
        if (carbon(b) && carbon(c) && carbon(heavy_a) && carbon(heavy_d) && heavy_a != heavy_d) {
            out.push_back({{heavy_a, b, c, heavy_d}, TorsionWells::Anti});
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

std::vector<std::uint32_t> chair_rings(const MoleculeContext& context) { return chair_rings_of(context.rings); }

std::vector<HeldChair> held_chairs(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<HeldChair> out;
    for (std::uint32_t r : chair_rings(context)) {
        HeldChair& chair = out.emplace_back();
        chair.ring = r;
        std::copy(context.ring_list[r].atoms.begin(), context.ring_list[r].atoms.end(), chair.atoms.begin());
        for (std::size_t i = 0; i < 6; ++i)
            for (core::Neighbor nb : mol.neighbors(chair.atoms[i]))
                if (mol.atoms[nb.atom].atomic_num != core::Element::H && !context.rings.contains(r, nb.atom))
                    chair.substituents.push_back({i, nb.atom});
    }
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

namespace {

std::vector<std::uint32_t> planar_ring_nitrogens(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    std::vector<std::uint32_t> out;
    for (std::uint32_t n = 0; n < mol.num_atoms(); ++n) {
        const core::Atom& atom = mol.atoms[n];
        if (atom.atomic_num == core::Element::N && mol.degree[n] == 3 && !is_aromatic(mol, n) &&
            (atom.hybridization == core::Hybridization::Sp2 || sulfonamide_nitrogen(mol, n)) &&
            context.rings.smallest[n] != 0)
            out.push_back(n);
    }
    return out;
}

std::vector<WindowAngle> large_ring_angles(const MoleculeContext& context) {
    const core::MolBuilder& mol = context.mol;
    const RingContext& rings = context.rings;
    std::vector<WindowAngle> out;
    for (std::uint32_t b = 0; b < mol.num_atoms(); ++b) {
        if (!is_sp3(mol, b) || rings.smallest[b] == 0 || rings.smallest[b] == 3 || rings.smallest[b] == 4 ||
            !element_in(mol, b, {core::Element::C, core::Element::N, core::Element::O}))
            continue;
        for (core::Neighbor na : mol.neighbors(b))
            for (core::Neighbor nc : mol.neighbors(b))
                if (na.atom < nc.atom && rings.smallest_size(b, na.atom, nc.atom) >= LARGE_RING)
                    out.push_back({{na.atom, b, nc.atom}});
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

std::vector<HeldLength> typical_lengths(const MoleculeContext& context) {
    std::vector<HeldLength> out;
    for (std::uint32_t bi = 0; bi < context.mol.num_bonds(); ++bi)
        if (const auto typical = typical_bond_length(context.mol, context.rings, bi)) out.push_back({bi, *typical});
    return out;
}

// What each kind gives the bounds (see `HoldKindRow::bounds`).
namespace give {

template <class Group>
const std::vector<Group>& list(const HeldGroups& groups) {
    if (const auto* g = std::get_if<std::vector<Group>>(&groups)) return *g;
    internal_error("约束种类与其界的类型不符");
}

// A chain double bond without a stated cis/trans keeps its lowest-ranked
// substituents trans.
void double_bonds(const MoleculeContext& context, const HeldGroups&, BoundsRules& out) {
    const core::MolBuilder& mol = context.mol;
    std::vector<std::uint32_t> side_b, side_c;
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi) {
        const core::Bond& bond = mol.bonds[bi];
        if (!context.unconfigured_chain_double_bond(bi) || !double_bond_sides(mol, bond, side_b, side_c)) continue;
        out.rules[bi] = {BoundsRules::Rule::DoubleBond, lowest_ranked(side_b, context.ranks),
                         lowest_ranked(side_c, context.ranks)};
    }
}

// The path a-b-c-d held cis across bond b-c, `first` on the bond's begin side.
void set_cis(const core::MolBuilder& mol, const std::array<std::uint32_t, 4>& path, BoundsRules& out) {
    const auto [a, b, c, d] = path;
    const std::uint32_t bi = mol.bond_between(b, c);
    out.rules[bi] = mol.bonds[bi].begin == b ? BoundsRules::ChainRule{BoundsRules::Rule::CisAcross, a, d}
                                             : BoundsRules::ChainRule{BoundsRules::Rule::CisAcross, d, a};
}

// A secondary amide's oxygen cis to its nitrogen's heavy neighbour, an
// ester's to its oxygen's far neighbour.
void cis_across(const MoleculeContext& context, const HeldGroups& groups, BoundsRules& out) {
    for (const PlanarFour& group : list<PlanarFour>(groups))
        if (group.cis) set_cis(context.mol, group.atoms, out);
}

// A link that must lie one way (see `TorsionWells::Cis`) lies that way in
// the bounds too: the embedding then starts it on its side, where a hold
// alone would pull it through its crowded neighbour.
void cis_links(const MoleculeContext& context, const HeldGroups& groups, BoundsRules& out) {
    for (const HeldTorsion& link : list<HeldTorsion>(groups))
        if (link.wells == TorsionWells::Cis) set_cis(context.mol, link.atoms, out);
}

template <CentreAngles Kind>
void centres(const MoleculeContext&, const HeldGroups& groups, BoundsRules& out) {
    const auto set = [&](std::uint32_t a) {
        if constexpr (Kind == CentreAngles::Group || Kind == CentreAngles::RingSp || Kind == CentreAngles::Element) {
            if (out.centres[a] != CentreAngles::None) return;
        }
        out.centres[a] = Kind;
    };
    if (const auto* atoms = std::get_if<std::vector<std::uint32_t>>(&groups))
        for (std::uint32_t a : *atoms) set(a);
    else if (const auto* nitro = std::get_if<std::vector<PlanarFour>>(&groups))
        for (const PlanarFour& g : *nitro) set(g.atoms[1]);
    else if (const auto* straight = std::get_if<std::vector<StraightAngle>>(&groups))
        for (const StraightAngle& g : *straight) set(g.atoms[1]);
    else if (const auto* amines = std::get_if<std::vector<PyramidalCentre>>(&groups))
        for (const PyramidalCentre& g : *amines) set(g.atoms[0]);
    else
        internal_error("约束种类与其界的类型不符");
}

// The nitrogen of each conjugated aniline: a crowded one twists out of
// its ring's plane and is no longer near flat.
void aniline_centres(const MoleculeContext& context, const HeldGroups& groups, BoundsRules& out) {
    for (const ConjugatedNitrogen& group : list<ConjugatedNitrogen>(groups)) {
        const std::uint32_t c = group.atoms[0];
        for (core::Neighbor nb : context.mol.neighbors(c))
            if (aniline_ring_atom(context.mol, nb.atom) == c) out.centres[nb.atom] = CentreAngles::Aniline;
    }
}

void chairs(const MoleculeContext&, const HeldGroups& groups, BoundsRules& out) {
    for (const HeldChair& chair : list<HeldChair>(groups)) out.rings[chair.ring] = BoundsRules::RingShape::Chair;
}

void flat_macrocycles(const MoleculeContext& context, const HeldGroups&, BoundsRules& out) {
    for (std::uint32_t r = 0; r < context.rings.ring_count(); ++r)
        if (context.rings.aromatic[r] && context.rings.ring_size(r) >= LARGE_RING)
            out.rings[r] = BoundsRules::RingShape::Flat;
}

void lengths(const MoleculeContext&, const HeldGroups& groups, BoundsRules& out) {
    for (const HeldLength& held : list<HeldLength>(groups)) out.lengths[held.bond] = held.typical;
}

void free_bonds(const MoleculeContext&, const HeldGroups& groups, BoundsRules& out) {
    for (const std::uint32_t bond : list<std::uint32_t>(groups))
        if (out.rules[bond].rule == BoundsRules::Rule::None) out.rules[bond] = {BoundsRules::Rule::Free};
}

}  // namespace give

template <auto Finder>
HeldGroups found(const MoleculeContext& context) {
    return Finder(context);
}

constexpr std::array<HoldKindRow, HOLD_KIND_COUNT> hold_kind_rows() {
    using enum HoldKind;
    using T = HoldTerm;
    return {{
        // Near 0 and 180 degrees a torsion barely changes the 1-4 distance,
        // so the bounds alone let double bonds twist and aromatic rings
        // pucker: every level holds them.
        {DoubleBonds, "double bonds", Holds::None, T::Torsion, found<planar_double_bonds>, Holds::None,
         give::double_bonds},
        {AromaticRings, "aromatic rings", Holds::None, T::Flatness, found<planar_aromatic_rings>, Holds::None,
         give::flat_macrocycles},
        // For the same reason amides twist (the bounds tell only a secondary
        // amide's cis from trans), ring double bonds twist and substituents
        // leave their aromatic ring's plane. Volumes hold them as they hold
        // aromatic rings, and at the same weight: below the distance terms',
        // so that a strained ring keeps its bond lengths.
        {Amides, "amides", Holds::Shapes, T::Flatness, found<planar_amides>, Holds::Shapes, give::cis_across},
        {RingDoubleBonds, "ring double bonds", Holds::Shapes, T::RingDoubleBond, found<planar_ring_double_bonds>,
         Holds::Shapes, nullptr},
        {Substituents, "aromatic substituents", Holds::Shapes, T::Substituent, found<aromatic_substituents>,
         Holds::Shapes, nullptr},
        // The 1-3 bounds of a carbonyl or alkene carbon allow a pyramid,
        // which twists an amide through its carbon even when its nitrogen
        // lies flat. With that carbon flat a ring twists its amide bond
        // instead, so lactams are held too; their ring tells cis from trans.
        {TrigonalCentres, "trigonal centres", Holds::Shapes, T::Flatness, found<planar_trigonal_centres>, Holds::Shapes, nullptr},
        {Lactams, "lactams", Holds::Shapes, T::Flatness, found<planar_lactams>, Holds::Shapes, nullptr},
        // Esters and acids like amides; fused aromatic rings and nitro
        // groups flat through their trigonal atoms. A nitro group's angles
        // and lengths are typical geometry, given with the typical lengths.
        {Esters, "esters", Holds::Shapes, T::Flatness, found<planar_esters>, Holds::Shapes, give::cis_across},
        {FusionAtoms, "fusion atoms", Holds::Shapes, T::Flatness, found<planar_fusion_atoms>, Holds::Shapes, nullptr},
        {NitroGroups, "nitro groups", Holds::Shapes, T::Flatness, found<planar_nitro_groups>, Holds::Lengths,
         give::centres<CentreAngles::Nitro>},
        {SpCentres, "sp centres", Holds::Shapes, T::Straight, found<straight_centres>, Holds::Shapes,
         give::centres<CentreAngles::Straight>},
        // The bounds' amine angles still let the nitrogen flatten to some
        // 345 degrees; the pyramid term keeps it nearer 333.
        {Amines, "amines", Holds::Shapes, T::Pyramid, found<pyramidal_amines>, Holds::Shapes,
         give::centres<CentreAngles::Amine>},
        // Free torsions: a free single bond's 1-4 window spans 0 to 180
        // degrees, and the embedding, aiming at its upper end, starts such
        // torsions near 90, where nothing in the bounds moves them.
        {ConjugatedLinks, "conjugated links", Holds::All, T::Wells, found<conjugated_links>, Holds::Shapes,
         give::cis_links},
        {Anilines, "anilines", Holds::All, T::Conjugated, found<conjugated_anilines>, Holds::Shapes,
         give::aniline_centres},
        {StaggeredBonds, "staggered bonds", Holds::All, T::Wells, found<staggered_bonds>, Holds::All, nullptr},
        {BiarylLinks, "biaryl links", Holds::All, T::Wells, found<biaryl_links>, Holds::All, nullptr},
        {Chairs, "chairs", Holds::All, T::Chair, found<held_chairs>, Holds::All, give::chairs},
        // A large ring's angles and bonds against its torsions and
        // transannular contacts, which the 1-2 and 1-3 bounds give way to;
        // the windows are the bounds' own (see `ConformerHolds`).
        {LargeRingAngles, "large-ring angles", Holds::All, T::Window, found<large_ring_angles>, Holds::All,
         nullptr},
        {LargeRingLengths, "large-ring lengths", Holds::All, T::LengthWindow, found<large_ring_lengths>, Holds::All,
         nullptr},
        // Centres whose angles the statistics mix with other groups', and the
        // typical lengths: bounds only.
        {PlanarRingNitrogens, "flat ring nitrogens", Holds::Shapes, T::None, found<planar_ring_nitrogens>,
         Holds::Shapes, give::centres<CentreAngles::PlanarRingNitrogen>},
        {BowlRims, "bowl rims", Holds::Lengths, T::None, found<bowl_rims>, Holds::Lengths,
         give::centres<CentreAngles::BowlRim>},
        {GroupAngles, "group angles", Holds::Lengths, T::None, found<group_angle_centres>, Holds::Lengths,
         give::centres<CentreAngles::Group>},
        {RingSpCentres, "ring sp centres", Holds::Lengths, T::None, found<ring_sp_centres>, Holds::Lengths,
         give::centres<CentreAngles::RingSp>},
        {ElementAngles, "element angles", Holds::Lengths, T::None, found<element_angle_centres>, Holds::Lengths,
         give::centres<CentreAngles::Element>},
        {TypicalLengths, "typical lengths", Holds::Lengths, T::None, found<typical_lengths>, Holds::Lengths,
         give::lengths},
        {LargeRingBonds, "large-ring bonds", Holds::None, T::None, found<large_ring_bonds>, Holds::None,
         give::free_bonds},
    }};
}

constexpr bool rows_in_kind_order(const std::array<HoldKindRow, HOLD_KIND_COUNT>& rows) {
    for (std::size_t k = 0; k < rows.size(); ++k)
        if (static_cast<std::size_t>(rows[k].kind) != k) return false;
    return true;
}
static_assert(rows_in_kind_order(hold_kind_rows()));

std::size_t group_count(const HeldGroups& groups) {
    return std::visit([](const auto& list) { return list.size(); }, groups);
}

// The groups' terms; a kind whose groups are not of its term's type is an
// internal error.
void add_kind_terms(ErrorFunction& f, HoldTerm term, const HeldGroups& groups, std::span<const double> start) {
    const auto list = [&]<class Group>(std::type_identity<Group>) -> const std::vector<Group>& {
        if (const auto* g = std::get_if<std::vector<Group>>(&groups)) return *g;
        internal_error("约束种类与其项的类型不符");
    };
    switch (term) {
        case HoldTerm::None: break;
        case HoldTerm::Torsion: add_planarity_terms(f, list(std::type_identity<PlanarFour>{})); break;
        case HoldTerm::Flatness: add_flatness_terms(f, list(std::type_identity<PlanarFour>{})); break;
        case HoldTerm::RingDoubleBond: add_ring_double_bond_terms(f, list(std::type_identity<PlanarFour>{})); break;
        case HoldTerm::Substituent: add_substituent_terms(f, list(std::type_identity<RingSubstituent>{})); break;
        case HoldTerm::Wells: add_torsion_terms(f, list(std::type_identity<HeldTorsion>{})); break;
        case HoldTerm::Straight: add_straight_terms(f, list(std::type_identity<StraightAngle>{})); break;
        case HoldTerm::Pyramid: add_pyramid_terms(f, list(std::type_identity<PyramidalCentre>{})); break;
        case HoldTerm::Conjugated: add_conjugated_terms(f, list(std::type_identity<ConjugatedNitrogen>{})); break;
        case HoldTerm::Chair: add_torsion_terms(f, chair_terms(list(std::type_identity<HeldChair>{}), start)); break;
        case HoldTerm::Window: add_window_angle_terms(f, list(std::type_identity<WindowAngle>{})); break;
        case HoldTerm::LengthWindow: add_window_length_terms(f, list(std::type_identity<WindowLength>{})); break;
    }
}

}  // namespace

const std::array<HoldKindRow, HOLD_KIND_COUNT> HOLD_KINDS = hold_kind_rows();

HeldBounds::HeldBounds(const ConformerHolds& holds, Holds level) : context_(holds.context()) {
    const core::MolBuilder& mol = context_.mol;
    rules_.rules.assign(mol.num_bonds(), {});
    rules_.centres.assign(mol.num_atoms(), CentreAngles::None);
    rules_.rings.assign(context_.rings.ring_count(), BoundsRules::RingShape::Free);
    rules_.lengths.assign(mol.num_bonds(), {});
    for (const HoldKindRow& row : HOLD_KINDS)
        if (row.bounds && row.bounds_level <= level)
            row.bounds(context_, holds.found(row.kind), rules_);
}

std::optional<std::pair<double, double>> HeldBounds::bond_range(std::uint32_t bond) const {
    const TypicalLength& typical = at(rules_.lengths, bond);
    if (typical.half_width == 0.0) return std::nullopt;
    return std::pair{typical.length - typical.half_width, typical.length + typical.half_width};
}

std::optional<std::pair<double, double>> HeldBounds::angle_window(std::uint32_t centre, std::uint32_t a,
                                                                  std::uint32_t c) const {
    return typical_angle_window(at(rules_.centres, centre), context_.mol, context_.rings, centre, a, c);
}

std::optional<std::pair<double, double>> HeldBounds::ring_torsion(std::uint32_t ring, std::uint32_t a,
                                                                  std::uint32_t d) const {
    const bool a_in = context_.rings.contains(ring, a), d_in = context_.rings.contains(ring, d);
    switch (at(rules_.rings, ring)) {
        case BoundsRules::RingShape::Free: return std::nullopt;
        case BoundsRules::RingShape::Chair:
            if (!a_in || !d_in) return std::nullopt;
            return std::pair{CHAIR_TORSION_LOW_DEGREES, stats_lookup(6, false, true).second};
        case BoundsRules::RingShape::Flat: break;
    }
    const double phi = a_in == d_in ? 0.0 : 180.0;
    return std::pair{phi, phi};
}

std::optional<std::pair<double, double>> HeldBounds::chain_torsion(std::uint32_t bond, std::uint32_t a,
                                                                   std::uint32_t d) const {
    const BoundsRules::ChainRule& r = at(rules_.rules, bond);
    if (r.rule == BoundsRules::Rule::None) return std::nullopt;
    if (r.rule == BoundsRules::Rule::Free) return std::pair{0.0, 180.0};
    // A double bond keeps its lowest-ranked substituents trans; an amide's
    // oxygen lies cis to its nitrogen's heavy neighbour, an ester's to its
    // oxygen's far neighbour.
    const bool cis = r.rule == BoundsRules::Rule::DoubleBond ? (a != r.first) != (d != r.second)
                                                : (a == r.first) == (d == r.second);
    const double phi = cis ? 0.0 : 180.0;
    return std::pair{phi, phi};
}

namespace {

std::array<HeldGroups, HOLD_KIND_COUNT> find_all(const MoleculeContext& context) {
    std::array<HeldGroups, HOLD_KIND_COUNT> out;
    for (const HoldKindRow& row : HOLD_KINDS) out[static_cast<std::size_t>(row.kind)] = row.find(context);
    return out;
}

}  // namespace

ConformerHolds::ConformerHolds(const core::MolBuilder& mol)
    : context_(mol),
      groups_(find_all(context_)),
      plain_(*this, Holds::None),
      lengths_(*this, Holds::Lengths),
      shapes_(*this, Holds::Shapes),
      held_(*this, Holds::All) {
    // The walls stand ANGLE_WALL_MARGIN outside the windows the bounds give
    // at the level that holds them, so that angles move freely within them;
    // an angle the bounds leave to the statistics is not held.
    auto& angles = std::get<std::vector<WindowAngle>>(groups_[static_cast<std::size_t>(HoldKind::LargeRingAngles)]);
    std::erase_if(angles, [&](WindowAngle& w) {
        const auto window = held_.angle_window(w.atoms[1], w.atoms[0], w.atoms[2]);
        if (!window) return true;
        w.lower = (window->first - ANGLE_WALL_MARGIN) * DEG_TO_RAD;
        w.upper = (window->second + ANGLE_WALL_MARGIN) * DEG_TO_RAD;
        return false;
    });
    // A large ring's bonds meet theirs at the typical lengths' own windows:
    // a wall further out is where the ring would press them.
    auto& lengths = std::get<std::vector<WindowLength>>(groups_[static_cast<std::size_t>(HoldKind::LargeRingLengths)]);
    std::erase_if(lengths, [&](WindowLength& w) {
        const auto range = held_.bond_range(context_.mol.bond_between(w.atoms[0], w.atoms[1]));
        if (!range) return true;
        std::tie(w.lower, w.upper) = *range;
        return false;
    });
}

void ConformerHolds::add_terms(ErrorFunction& f, Holds holds, std::span<const double> start) const {
    for (const HoldKindRow& row : HOLD_KINDS)
        if (row.level <= holds) add_kind_terms(f, row.term, groups_[static_cast<std::size_t>(row.kind)], start);
}

std::vector<std::tuple<std::string_view, Holds, std::size_t>> ConformerHolds::census() const {
    std::vector<std::tuple<std::string_view, Holds, std::size_t>> out;
    for (const HoldKindRow& row : HOLD_KINDS)
        if (row.level != Holds::None)
            out.emplace_back(row.name, row.level, group_count(groups_[static_cast<std::size_t>(row.kind)]));
    return out;
}

bool ConformerHolds::anything_held(Holds holds) const {
    switch (holds) {
        case Holds::None: return false;
        case Holds::Lengths: return lengths_.differs_from(plain_);
        case Holds::Shapes:
        case Holds::All: break;
    }
    for (const HoldKindRow& row : HOLD_KINDS)
        if (row.term != HoldTerm::None && row.level == holds &&
            group_count(groups_[static_cast<std::size_t>(row.kind)]) != 0)
            return true;
    return holds == Holds::Shapes ? shapes_.differs_from(lengths_) : held_.differs_from(shapes_);
}

}  // namespace quorix::conf
