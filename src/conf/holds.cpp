#include "conf/holds.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <span>

#include "chem/sssr.hpp"
#include "conf/ring_context.hpp"
#include "conf/typical.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "io/smiles/canonical.hpp"

namespace quorix::conf {
namespace {

using core::BondOrder;
using core::NONE;

// A double bond whose ends both have a torsion: an end that carries a second
// double or a triple bond is linear (allenes, ketenes, cumulenes).
bool double_bond_with_torsion(const core::MolBuilder& mol, std::uint32_t bi) {
    const core::Bond& bond = mol.bonds[bi];
    if (bond.order != BondOrder::Double) return false;
    for (std::uint32_t end : {bond.begin, bond.end})
        for (core::Neighbor nb : mol.neighbors(end)) {
            const BondOrder order = mol.bonds[nb.bond].order;
            if (nb.bond != bi && (order == BondOrder::Double || order == BondOrder::Triple)) return false;
        }
    return true;
}

// A double bond outside every ring with no stated cis/trans: planar, but free
// to be given either arrangement.
bool unconfigured_chain_double_bond(const core::MolBuilder& mol, std::uint32_t bi, const RingContext& rings) {
    const core::Bond& bond = mol.bonds[bi];
    if (has_stored_configuration(bond) || !double_bond_with_torsion(mol, bi)) return false;
    return rings.smallest_holding(bond.begin, bond.end) == NONE;
}

// The substituent an unconfigured chain double bond keeps trans to the other
// side's: the lowest-ranked one (canonical rank, then index).
std::uint32_t lowest_ranked(std::span<const std::uint32_t> side, std::span<const std::uint32_t> ranks) {
    std::uint32_t best = side[0];
    for (std::uint32_t x : side)
        if (ranks[x] < ranks[best] || (ranks[x] == ranks[best] && x < best)) best = x;
    return best;
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


// The ring list, built on first use: most molecules need it for few groups
// or none.
class LazyRings {
public:
    explicit LazyRings(const core::MolBuilder& mol) : mol_(mol) {}
    const RingContext& operator*() {
        if (!ready_) {
            rings_.build(mol_);
            ready_ = true;
        }
        return rings_;
    }
    const RingContext* operator->() { return &**this; }

private:
    const core::MolBuilder& mol_;
    RingContext rings_;
    bool ready_ = false;
};

bool aromatic(const core::MolBuilder& mol, std::uint32_t a) { return mol.atoms[a].flags & core::AROMATIC; }

bool element_in(const core::MolBuilder& mol, std::uint32_t a, std::initializer_list<std::uint8_t> elements) {
    return std::find(elements.begin(), elements.end(), mol.atoms[a].atomic_num) != elements.end();
}

bool sp3(const core::MolBuilder& mol, std::uint32_t a) {
    return mol.atoms[a].hybridization == core::Hybridization::Sp3 && !aromatic(mol, a);
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
    if (aromatic(mol, a)) return true;
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
    if (mol.atoms[o].atomic_num != core::Element::O || mol.degree[o] != 2 || aromatic(mol, o)) return false;
    const std::uint32_t far = other_neighbour(mol, o, pi);
    return mol.atoms[far].atomic_num == core::Element::H ||
           (mol.atoms[far].atomic_num == core::Element::C && sp3(mol, far));
}

// An aromatic atom pushed out of plane with whatever it carries: both ring
// neighbours carry a heavy atom outside the ring path (substituents or fused
// rings), or one is the fusion atom of two six-membered rings (the peri
// position of a naphthalene, whose hydrogen across the bay sits some 2.5 A
// from a planar substituent).
bool crowded(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t a) {
    if (!aromatic(mol, a)) return false;
    std::size_t crowded_sides = 0;
    for (core::Neighbor nb : mol.neighbors(a)) {
        if (mol.bonds[nb.bond].order != BondOrder::Aromatic) continue;
        const std::uint32_t own = rings.smallest_holding(a, nb.atom);
        std::size_t heavy = 0;
        for (core::Neighbor far : mol.neighbors(nb.atom)) {
            if (far.atom == a) continue;
            heavy += mol.atoms[far.atom].atomic_num != core::Element::H;
            const bool fused_away = mol.bonds[far.bond].order == BondOrder::Aromatic && own != NONE &&
                                    !rings.contains(own, far.atom);
            if (fused_away && rings.ring_size(own) == 6 && rings.smallest_size(nb.atom, far.atom) == 6) return true;
        }
        crowded_sides += heavy > 1;
    }
    return crowded_sides >= 2;
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

// The nitro nitrogen `n`'s single-bonded oxygen, NONE when `n` is no nitro
// nitrogen.
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

// A nitrogen on a sulfonyl sulfur: near flat, as amides are, though its
// hybridisation may read sp3.
bool sulfonamide_nitrogen(const core::MolBuilder& mol, std::uint32_t n) {
    for (core::Neighbor nb : mol.neighbors(n)) {
        if (mol.atoms[nb.atom].atomic_num != core::Element::S) continue;
        std::size_t oxo = 0;
        for (core::Neighbor far : mol.neighbors(nb.atom))
            oxo += mol.bonds[far.bond].order == BondOrder::Double && mol.atoms[far.atom].atomic_num == core::Element::O;
        if (oxo == 2) return true;
    }
    return false;
}

bool amine_nitrogen(const core::MolBuilder& mol, std::uint32_t n) {
    const core::Atom& atom = mol.atoms[n];
    if (atom.atomic_num != core::Element::N || atom.formal_charge != 0 || aromatic(mol, n) || mol.degree[n] != 3)
        return false;
    for (core::Neighbor nb : mol.neighbors(n)) {
        if (mol.bonds[nb.bond].order != BondOrder::Single) return false;
        const std::uint8_t z = mol.atoms[nb.atom].atomic_num;
        if (z != core::Element::H && !(z == core::Element::C && sp3(mol, nb.atom))) return false;
    }
    return true;
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
std::vector<HeldTorsion> chair_terms(const std::vector<std::array<std::uint32_t, 6>>& chairs,
                                     const std::vector<std::vector<ChairSubstituent>>& substituents,
                                     std::span<const double> start) {
    constexpr double MIDDLE = (CHAIR_TORSION_LOW + CHAIR_TORSION_HIGH) / 2;
    constexpr double FUSION_SLACK = 40.0 * 0.017453292519943295;
    constexpr double TWO_PI = 6.283185307179586;
    constexpr std::size_t MAX_JOINT = 10;  // rings decided together, at most 2^10 forms
    const std::size_t n = chairs.size();
    std::vector<std::array<double, 6>> phi(n);
    std::vector<double> agreement(n, 0.0);  // with the form whose first torsion is positive
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t k = 0; k < 6; ++k) {
            phi[r][k] = torsion_angle(ring_path(chairs[r], k), start);
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
        for (const ChairSubstituent& sub : substituents[r]) {
            const auto& ring = chairs[r];
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
                    const auto p = ring_path(chairs[r], k), o = ring_path(chairs[q], j);
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
            out.push_back({ring_path(chairs[r], k), TorsionWells::Chair, target(k, form[r] > 0) < 0});
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

}  // namespace

std::vector<PlanarFour> planar_double_bonds(const core::MolBuilder& mol) {
    std::vector<PlanarFour> out;
    bool any = false;
    for (const core::Bond& bond : mol.bonds) any = any || bond.order == BondOrder::Double;
    if (!any) return out;
    RingContext rings;
    rings.build(mol);
    std::vector<std::uint32_t> ranks, side_b, side_c;
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi) {
        const core::Bond& bond = mol.bonds[bi];
        if (!double_bond_with_torsion(mol, bi) || rings.smallest_holding(bond.begin, bond.end) != NONE) continue;
        const bool stored = has_stored_configuration(bond);
        side_b.clear();
        side_c.clear();
        for (core::Neighbor nb : mol.neighbors(bond.begin))
            if (nb.atom != bond.end) side_b.push_back(nb.atom);
        for (core::Neighbor nb : mol.neighbors(bond.end))
            if (nb.atom != bond.begin) side_c.push_back(nb.atom);
        if (side_b.empty() || side_c.empty()) continue;
        if (!stored && ranks.empty()) ranks = io::canonical_ranks(mol);
        for (std::uint32_t a : side_b)
            for (std::uint32_t d : side_c) {
                if (a == d) continue;
                const bool cis = stored ? stored_cis(bond, a, d) : chosen_cis(side_b, side_c, a, d, ranks);
                out.push_back({{a, bond.begin, bond.end, d}, cis});
            }
    }
    return out;
}

std::vector<PlanarFour> planar_aromatic_rings(const core::MolBuilder& mol) {
    std::vector<PlanarFour> out;
    const std::vector<chem::Ring> rings = chem::sssr(mol);
    // Per bond the first aromatic ring that has it as an edge, with its atoms
    // sorted; the ring list runs from small to large.
    std::vector<std::uint32_t> ring_of(mol.num_bonds(), NONE);
    std::vector<std::vector<std::uint32_t>> sorted(rings.size());
    for (std::uint32_t r = 0; r < rings.size(); ++r) {
        bool aromatic = true;
        for (std::uint32_t a : rings[r].atoms) aromatic = aromatic && (at(mol.atoms, a).flags & core::AROMATIC);
        if (!aromatic) continue;
        sorted[r] = rings[r].atoms;
        std::sort(sorted[r].begin(), sorted[r].end());
        for (std::uint32_t bi : rings[r].bonds)
            if (at(ring_of, bi) == NONE) ring_of[bi] = r;
    }
    // Only the ring's own path: a substituent may belong to a fused ring that
    // cannot share this plane (helicenes, strained bridges).
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi) {
        if (ring_of[bi] == NONE) continue;
        const std::vector<std::uint32_t>& ring = sorted[ring_of[bi]];
        const auto in_ring = [&](std::uint32_t a) { return std::binary_search(ring.begin(), ring.end(), a); };
        const std::uint32_t b = mol.bonds[bi].begin, c = mol.bonds[bi].end;
        for (core::Neighbor na : mol.neighbors(b)) {
            if (na.atom == c || !in_ring(na.atom)) continue;
            for (core::Neighbor nd : mol.neighbors(c))
                if (nd.atom != b && nd.atom != na.atom && in_ring(nd.atom))
                    out.push_back({{na.atom, b, c, nd.atom}, true});
        }
    }
    return out;
}

namespace {

// The groups X=C-N-Y of every amide bond in rings (lactams) or outside them.
std::vector<PlanarFour> amide_groups(const core::MolBuilder& mol, bool lactams) {
    std::vector<PlanarFour> out;
    LazyRings rings(mol);
    for (const core::Bond& bond : mol.bonds) {
        if (bond.order != BondOrder::Single) continue;
        if (carbonyl_partner(mol, bond.begin) == NONE && carbonyl_partner(mol, bond.end) == NONE) continue;
        const auto amide = amide_bond(mol, bond, *rings);
        if (!amide || amide->in_ring != lactams) continue;
        for (core::Neighbor nb : mol.neighbors(amide->nitrogen))
            if (nb.atom != amide->carbon)
                out.push_back({{amide->partner, amide->carbon, amide->nitrogen, nb.atom}, nb.atom == amide->heavy});
    }
    return out;
}

}  // namespace

std::vector<PlanarFour> planar_amides(const core::MolBuilder& mol) { return amide_groups(mol, false); }

std::vector<PlanarFour> planar_lactams(const core::MolBuilder& mol) { return amide_groups(mol, true); }

std::vector<PlanarFour> planar_ring_double_bonds(const core::MolBuilder& mol) {
    std::vector<PlanarFour> out;
    LazyRings rings(mol);
    const auto c_or_n = [&](std::uint32_t a) {
        const std::uint8_t z = mol.atoms[a].atomic_num;
        return z == core::Element::C || z == core::Element::N;
    };
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi) {
        const core::Bond& bond = mol.bonds[bi];
        if (!c_or_n(bond.begin) || !c_or_n(bond.end) || !double_bond_with_torsion(mol, bi)) continue;
        const std::uint32_t ring = rings->smallest_holding(bond.begin, bond.end);
        if (ring == NONE) continue;
        const bool stored = has_stored_configuration(bond);
        for (core::Neighbor na : mol.neighbors(bond.begin)) {
            if (na.atom == bond.end || !rings->contains(ring, na.atom)) continue;
            for (core::Neighbor nd : mol.neighbors(bond.end))
                if (nd.atom != bond.begin && nd.atom != na.atom && rings->contains(ring, nd.atom))
                    out.push_back({{na.atom, bond.begin, bond.end, nd.atom},
                                   stored ? stored_cis(bond, na.atom, nd.atom) : true});
        }
    }
    return out;
}

std::vector<PlanarFour> planar_sp2_carbons(const core::MolBuilder& mol) {
    std::vector<PlanarFour> out;
    for (std::uint32_t c = 0; c < mol.num_atoms(); ++c) {
        const core::Atom& atom = mol.atoms[c];
        if (atom.atomic_num != core::Element::C || mol.degree[c] != 3 || (atom.flags & core::AROMATIC) ||
            atom.hybridization != core::Hybridization::Sp2)
            continue;
        out.push_back(trigonal(mol, c));
    }
    return out;
}

std::vector<RingSubstituent> aromatic_substituents(const core::MolBuilder& mol) {
    std::vector<RingSubstituent> out;
    LazyRings rings(mol);
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        if (!(mol.atoms[a].flags & core::AROMATIC)) continue;
        std::array<std::uint32_t, 3> ring_nbrs{NONE, NONE, NONE};
        std::size_t count = 0;
        for (core::Neighbor nb : mol.neighbors(a))
            if (mol.bonds[nb.bond].order == BondOrder::Aromatic && count < 3) ring_nbrs[count++] = nb.atom;
        if (count != 2 || mol.degree[a] <= 2) continue;
        for (core::Neighbor nb : mol.neighbors(a)) {
            if (mol.bonds[nb.bond].order == BondOrder::Aromatic) continue;
            out.push_back({{nb.atom, a, ring_nbrs[0], ring_nbrs[1]}, rings->smallest_holding(a, nb.atom) != NONE});
        }
    }
    return out;
}

std::vector<PlanarFour> planar_esters(const core::MolBuilder& mol) {
    std::vector<PlanarFour> out;
    LazyRings rings(mol);
    for (const core::Bond& bond : mol.bonds) {
        if (bond.order != BondOrder::Single) continue;
        std::uint32_t c = bond.begin, o = bond.end;
        if (mol.atoms[c].atomic_num == core::Element::O) std::swap(c, o);
        const std::uint32_t x = carbonyl_partner(mol, c);
        if (x == NONE || mol.atoms[o].atomic_num != core::Element::O || mol.degree[o] != 2) continue;
        const std::uint32_t y = other_neighbour(mol, o, c);
        // An anhydride cannot put both oxygens cis to their far sides.
        if (carbonyl_partner(mol, y) != NONE) continue;
        if (rings->smallest_holding(c, o) == NONE) out.push_back({{x, c, o, y}, true});
    }
    return out;
}

std::vector<PlanarFour> planar_fusion_atoms(const core::MolBuilder& mol) {
    std::vector<PlanarFour> out;
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        if (!aromatic(mol, a) || mol.degree[a] != 3) continue;
        bool fused = true;
        for (core::Neighbor nb : mol.neighbors(a)) fused = fused && mol.bonds[nb.bond].order == BondOrder::Aromatic;
        if (fused) out.push_back(trigonal(mol, a));
    }
    return out;
}

std::vector<PlanarFour> planar_nitro_groups(const core::MolBuilder& mol) {
    std::vector<PlanarFour> out;
    for (std::uint32_t n = 0; n < mol.num_atoms(); ++n)
        if (nitro_oxide(mol, n) != NONE) out.push_back(trigonal(mol, n));
    return out;
}

std::vector<HeldTorsion> conjugated_links(const core::MolBuilder& mol) {
    std::vector<HeldTorsion> out;
    LazyRings rings(mol);
    for (const core::Bond& bond : mol.bonds) {
        const std::uint32_t b = bond.begin, c = bond.end;
        if (bond.order != BondOrder::Single || mol.degree[b] < 2 || mol.degree[c] < 2) continue;
        const bool pi_b = pi_atom(mol, b), pi_c = pi_atom(mol, c);
        bool link = false;
        if (pi_b && pi_c) link = !(aromatic(mol, b) && aromatic(mol, c));
        else if (pi_b) link = carbonyl_partner(mol, b) == NONE && donor_oxygen(mol, c, b);
        else if (pi_c) link = carbonyl_partner(mol, c) == NONE && donor_oxygen(mol, b, c);
        if (!link || tertiary_amide_carbon(mol, b) || tertiary_amide_carbon(mol, c)) continue;
        if (crowded(mol, *rings, b) || crowded(mol, *rings, c)) continue;
        const std::uint32_t a = other_neighbour(mol, b, c), d = other_neighbour(mol, c, b);
        if (rings->smallest_holding(b, c) == NONE && a != NONE && d != NONE && a != d)
            out.push_back({{a, b, c, d}, TorsionWells::Planar});
    }
    return out;
}

std::vector<HeldTorsion> staggered_bonds(const core::MolBuilder& mol) {
    std::vector<HeldTorsion> out;
    RingContext rings;
    rings.build(mol);
    // An atom of a three-membered ring has no staggered arrangement: its
    // ring bonds stand 60 degrees apart.
    const auto tetrahedral = [&](std::uint32_t a) {
        return sp3(mol, a) && mol.degree[a] >= 2 && rings.smallest[a] != 3 &&
               element_in(mol, a, {core::Element::C, core::Element::N, core::Element::O});
    };
    // An ester's or aryl ether's oxygen is trigonal, but its one other
    // neighbour still sits staggered between a tetrahedral neighbour's bonds.
    const auto two_connected_oxygen = [&](std::uint32_t a) {
        return mol.atoms[a].atomic_num == core::Element::O && mol.degree[a] == 2 && !aromatic(mol, a);
    };
    for (const core::Bond& bond : mol.bonds) {
        const std::uint32_t b = bond.begin, c = bond.end;
        if (bond.order != BondOrder::Single || !(tetrahedral(b) || tetrahedral(c)) ||
            !(tetrahedral(b) || two_connected_oxygen(b)) || !(tetrahedral(c) || two_connected_oxygen(c)))
            continue;
        const std::uint32_t a = other_neighbour(mol, b, c), d = other_neighbour(mol, c, b);
        if (rings.smallest_holding(b, c) == NONE && a != NONE && d != NONE && a != d)
            out.push_back({{a, b, c, d}, TorsionWells::Staggered});
    }
    return out;
}

std::vector<std::uint32_t> chair_rings(const core::MolBuilder& mol) {
    RingContext rings;
    rings.build(mol);
    return chair_rings_of(rings);
}

std::vector<std::array<std::uint32_t, 6>> chair_paths(const core::MolBuilder& mol) {
    std::vector<std::array<std::uint32_t, 6>> out;
    const std::vector<std::uint32_t> chairs = chair_rings(mol);
    if (chairs.empty()) return out;
    const std::vector<chem::Ring> rings = chem::sssr(mol);
    for (std::uint32_t r : chairs) {
        std::array<std::uint32_t, 6> path{};
        std::copy(rings[r].atoms.begin(), rings[r].atoms.end(), path.begin());
        out.push_back(path);
    }
    return out;
}

std::vector<StraightAngle> straight_centres(const core::MolBuilder& mol) {
    std::vector<StraightAngle> out;
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        if (mol.degree[a] != 2 || mol.atoms[a].hybridization != core::Hybridization::Sp) continue;
        const std::uint32_t first = other_neighbour(mol, a, NONE), second = other_neighbour(mol, a, first);
        if (second != NONE) out.push_back({{first, a, second}});
    }
    return out;
}

std::vector<std::uint32_t> pyramidal_amines(const core::MolBuilder& mol) {
    std::vector<std::uint32_t> out;
    for (std::uint32_t n = 0; n < mol.num_atoms(); ++n)
        if (amine_nitrogen(mol, n)) out.push_back(n);
    return out;
}

HeldBounds::HeldBounds(const core::MolBuilder& mol, Holds holds)
    : mol_(mol), rules_(mol.num_bonds()), centres_(mol.num_atoms(), Centre::None) {
    rings_.build(mol);
    std::vector<std::uint32_t> ranks, side_b, side_c;
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi) {
        const core::Bond& bond = mol.bonds[bi];
        if (unconfigured_chain_double_bond(mol, bi, rings_)) {
            side_b.clear();
            side_c.clear();
            for (core::Neighbor nb : mol.neighbors(bond.begin))
                if (nb.atom != bond.end) side_b.push_back(nb.atom);
            for (core::Neighbor nb : mol.neighbors(bond.end))
                if (nb.atom != bond.begin) side_c.push_back(nb.atom);
            if (side_b.empty() || side_c.empty()) continue;  // no torsion across it
            if (ranks.empty()) ranks = io::canonical_ranks(mol);
            rules_[bi] = {Rule::DoubleBond, lowest_ranked(side_b, ranks), lowest_ranked(side_c, ranks)};
        } else if (holds != Holds::None) {
            const auto amide = amide_bond(mol, bond, rings_);
            if (!amide || amide->in_ring || amide->heavy == NONE) continue;
            rules_[bi] = bond.begin == amide->carbon ? ChainRule{Rule::CisAcross, amide->partner, amide->heavy}
                                                     : ChainRule{Rule::CisAcross, amide->heavy, amide->partner};
        }
    }
    if (holds == Holds::None) return;
    for (const PlanarFour& e : planar_esters(mol)) {
        const auto [x, c, o, y] = e.atoms;
        const std::uint32_t bi = mol.bond_between(c, o);
        rules_[bi] = mol.bonds[bi].begin == c ? ChainRule{Rule::CisAcross, x, y} : ChainRule{Rule::CisAcross, y, x};
    }
    for (std::uint32_t n : pyramidal_amines(mol)) centres_[n] = Centre::Amine;
    for (std::uint32_t n = 0; n < mol.num_atoms(); ++n) {
        const core::Atom& atom = mol.atoms[n];
        if (atom.atomic_num == core::Element::N && mol.degree[n] == 3 && !aromatic(mol, n) &&
            (atom.hybridization == core::Hybridization::Sp2 || sulfonamide_nitrogen(mol, n)) &&
            rings_.smallest[n] != 0)
            centres_[n] = Centre::PlanarRingNitrogen;
    }
    for (const StraightAngle& s : straight_centres(mol)) centres_[s.atoms[1]] = Centre::Straight;
    lengths_.assign(mol.num_bonds(), std::numeric_limits<double>::quiet_NaN());
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi)
        if (const auto length = typical_bond_length(mol, bi, rings_.smallest_size(mol.bonds[bi].begin, mol.bonds[bi].end)))
            lengths_[bi] = *length;
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        if (centres_[a] != Centre::None || rings_.smallest[a] != 0) continue;
        bool typical = false;
        for (core::Neighbor na : mol.neighbors(a))
            for (core::Neighbor nc : mol.neighbors(a))
                typical = typical || (na.atom < nc.atom && typical_angle(mol, a, na.atom, nc.atom));
        if (typical) centres_[a] = Centre::Typical;
    }
    chairs_.assign(rings_.ring_count(), 0);
    if (holds == Holds::All)
        for (std::uint32_t r : chair_rings_of(rings_)) chairs_[r] = 1;
    for (std::uint32_t n = 0; n < mol.num_atoms(); ++n) {
        const std::uint32_t oxide = nitro_oxide(mol, n);
        if (oxide == NONE) continue;
        centres_[n] = Centre::Nitro;
        rules_[mol.bond_between(n, oxide)].rule = Rule::NitroBond;
        // Both N-O bonds are the double bond's length.
        nitro_length_ = estimate_bond_length(core::Element::N, core::Element::O, BondOrder::Double, 0).length;
    }
}

bool HeldBounds::adds_anything() const {
    return std::any_of(rules_.begin(), rules_.end(),
                       [](const ChainRule& r) { return r.rule != Rule::None && r.rule != Rule::DoubleBond; }) ||
           std::any_of(centres_.begin(), centres_.end(), [](Centre c) { return c != Centre::None; }) ||
           std::any_of(lengths_.begin(), lengths_.end(), [](double l) { return !std::isnan(l); }) ||
           std::any_of(chairs_.begin(), chairs_.end(), [](std::uint8_t c) { return c != 0; });
}

std::optional<std::pair<double, double>> HeldBounds::bond_range(std::uint32_t bond) const {
    // The same half-width as a length from the statistics.
    if (at(rules_, bond).rule == Rule::NitroBond) return std::pair{nitro_length_ - 0.01, nitro_length_ + 0.01};
    if (lengths_.empty() || std::isnan(at(lengths_, bond))) return std::nullopt;
    return std::pair{lengths_[bond] - 0.01, lengths_[bond] + 0.01};
}

namespace {

// Amine angles (degrees) as crystal structures give them: 110-111 in open
// chains (trimethylamine 110.9) and six-membered rings, 106 between two
// hydrogens; in smaller rings the ring closes its own angle (pyrrolidine 105,
// azetidine 90) and opens the others, up to some 116 beside an aziridine.
double amine_angle(std::size_t angle_ring, std::size_t centre_ring, bool two_hydrogens) {
    switch (angle_ring) {
        case 4: return 90.0;
        case 5: return 105.0;
        case 6: return 111.0;
        case 0: break;
        default: return 113.0;
    }
    if (two_hydrogens) return 106.5;
    if (centre_ring == 3 || centre_ring == 4) return 116.0;
    if (centre_ring == 5) return 112.0;
    return 110.5;
}

// A flat nitrogen's angles in a ring of that size: close to the ring
// polygon's in small rings, nearer the trigonal 120 in larger ones; outside
// the ring, what is left of 360 shared by its two other angles.
double flat_ring_angle(std::size_t angle_ring, std::size_t centre_ring) {
    const auto inside = [](std::size_t ring) {
        const double polygon = 180.0 - 360.0 / static_cast<double>(ring);
        if (ring <= 4) return ring == 3 ? polygon - 0.5 : polygon;
        if (ring <= 6) return 0.85 * polygon + 0.15 * 120.0;
        if (ring <= 10) return 0.6 * polygon + 0.4 * 120.0;
        return 121.5;
    };
    return angle_ring != 0 ? inside(angle_ring) : (360.0 - inside(centre_ring)) / 2.0;
}

}  // namespace

std::optional<std::pair<double, double>> HeldBounds::angle_window(std::uint32_t centre, std::uint32_t a,
                                                                  std::uint32_t c) const {
    double angle = 0.0;
    switch (at(centres_, centre)) {
        case Centre::None: return std::nullopt;
        case Centre::Amine:
            angle = amine_angle(rings_.smallest_size(centre, a, c), rings_.smallest[centre],
                                mol_.atoms[a].atomic_num == core::Element::H &&
                                    mol_.atoms[c].atomic_num == core::Element::H);
            break;
        case Centre::PlanarRingNitrogen:
            angle = flat_ring_angle(rings_.smallest_size(centre, a, c), rings_.smallest[centre]);
            break;
        case Centre::Straight: return std::pair{175.0, 180.0};
        case Centre::Typical: {
            const auto typical = typical_angle(mol_, centre, a, c);
            if (!typical) return std::nullopt;
            angle = *typical;
            break;
        }
        case Centre::Nitro:
            // O-N-O 124, each R-N-O 118: a flat nitrogen.
            angle = mol_.atoms[a].atomic_num == core::Element::O && mol_.atoms[c].atomic_num == core::Element::O &&
                            mol_.degree[a] == 1 && mol_.degree[c] == 1
                        ? 124.0
                        : 118.0;
            break;
    }
    // The same half-width as an angle from the statistics.
    return std::pair{angle - 2.5, angle + 2.5};
}

std::optional<std::pair<double, double>> HeldBounds::ring_torsion(std::uint32_t ring, std::uint32_t /*a*/,
                                                                  std::uint32_t /*d*/) const {
    if (ring >= chairs_.size() || !chairs_[ring]) return std::nullopt;
    return std::pair{CHAIR_TORSION_LOWER, stats_lookup(6, false, true).second};
}

std::optional<std::pair<double, double>> HeldBounds::chain_torsion(std::uint32_t bond, std::uint32_t a,
                                                                   std::uint32_t d) const {
    const ChainRule& r = at(rules_, bond);
    if (r.rule == Rule::None || r.rule == Rule::NitroBond) return std::nullopt;
    // A double bond keeps its lowest-ranked substituents trans; an amide's
    // oxygen lies cis to its nitrogen's heavy neighbour, an ester's to its
    // oxygen's far neighbour.
    const bool cis = r.rule == Rule::DoubleBond ? (a != r.first) != (d != r.second)
                                                : (a == r.first) == (d == r.second);
    const double phi = cis ? 0.0 : 180.0;
    return std::pair{phi, phi};
}

ConformerHolds::ConformerHolds(const core::MolBuilder& mol)
    : plain_(mol, Holds::None),
      shapes_(mol, Holds::Shapes),
      held_(mol, Holds::All),
      double_bonds_(planar_double_bonds(mol)),
      aromatic_rings_(planar_aromatic_rings(mol)),
      amides_(planar_amides(mol)),
      ring_double_bonds_(planar_ring_double_bonds(mol)),
      sp2_carbons_(planar_sp2_carbons(mol)),
      lactams_(planar_lactams(mol)),
      esters_(planar_esters(mol)),
      fusion_atoms_(planar_fusion_atoms(mol)),
      nitro_groups_(planar_nitro_groups(mol)),
      substituents_(aromatic_substituents(mol)),
      links_(conjugated_links(mol)),
      staggered_(staggered_bonds(mol)),
      straight_(straight_centres(mol)),
      chairs_(chair_paths(mol)) {
    for (const auto& ring : chairs_) {
        std::vector<ChairSubstituent>& subs = chair_substituents_.emplace_back();
        for (std::size_t i = 0; i < 6; ++i)
            for (core::Neighbor nb : mol.neighbors(ring[i]))
                if (mol.atoms[nb.atom].atomic_num != core::Element::H &&
                    std::find(ring.begin(), ring.end(), nb.atom) == ring.end())
                    subs.push_back({i, nb.atom});
    }
    for (std::uint32_t n : pyramidal_amines(mol)) {
        const PlanarFour around = trigonal(mol, n);
        pyramids_.push_back({{n, around.atoms[0], around.atoms[2], around.atoms[3]}});
    }
}

void ConformerHolds::add_terms(ErrorFunction& f, Holds holds, std::span<const double> start) const {
    // Near 0 and 180 degrees a torsion barely changes the 1-4 distance, so the
    // bounds alone let double bonds twist and aromatic rings pucker; these
    // terms hold the torsions the bounds ask to be planar.
    add_planarity_terms(f, double_bonds_);
    add_flatness_terms(f, aromatic_rings_);
    if (holds == Holds::None) return;
    // For the same reason amides twist (the bounds tell only a secondary
    // amide's cis from trans), ring double bonds twist and substituents leave
    // their aromatic ring's plane. Volumes hold them as they hold aromatic
    // rings, and at the same weight: below the distance terms', so that a
    // strained ring keeps its bond lengths.
    add_flatness_terms(f, amides_);
    add_ring_double_bond_terms(f, ring_double_bonds_);
    add_substituent_terms(f, substituents_);
    // The 1-3 bounds of a carbonyl or alkene carbon allow a pyramid, which
    // twists an amide through its carbon even when its nitrogen lies flat.
    // With that carbon flat a ring twists its amide bond instead, so lactams
    // are held too; their ring tells cis from trans.
    add_flatness_terms(f, sp2_carbons_);
    add_flatness_terms(f, lactams_);
    // Esters and acids like amides; fused aromatic rings and nitro groups
    // flat through their trigonal atoms.
    add_flatness_terms(f, esters_);
    add_flatness_terms(f, fusion_atoms_);
    add_flatness_terms(f, nitro_groups_);
    add_straight_terms(f, straight_);
    // The bounds' amine angles still let the nitrogen flatten to some 345
    // degrees; the pyramid term keeps it nearer 333.
    add_pyramid_terms(f, pyramids_);
    if (holds == Holds::Shapes) return;
    // Free torsions: a free single bond's 1-4 window spans 0 to 180 degrees,
    // and the embedding, aiming at its upper end, starts such torsions near
    // 90, where nothing in the bounds moves them.
    add_torsion_terms(f, links_);
    add_torsion_terms(f, staggered_);
    add_torsion_terms(f, chair_terms(chairs_, chair_substituents_, start));
}

std::vector<std::pair<std::string_view, std::size_t>> ConformerHolds::census() const {
    return {{"amides", amides_.size()},
            {"lactams", lactams_.size()},
            {"esters", esters_.size()},
            {"ring double bonds", ring_double_bonds_.size()},
            {"aromatic substituents", substituents_.size()},
            {"sp2 carbons", sp2_carbons_.size()},
            {"fusion atoms", fusion_atoms_.size()},
            {"nitro groups", nitro_groups_.size()},
            {"sp centres", straight_.size()},
            {"amines", pyramids_.size()},
            {"conjugated links", links_.size()},
            {"staggered bonds", staggered_.size()},
            {"chairs", chairs_.size()}};
}

bool ConformerHolds::anything_held(Holds holds) const {
    switch (holds) {
        case Holds::None: return false;
        case Holds::Shapes:
            return !amides_.empty() || !ring_double_bonds_.empty() || !substituents_.empty() ||
                   !sp2_carbons_.empty() || !lactams_.empty() || !esters_.empty() || !fusion_atoms_.empty() ||
                   !nitro_groups_.empty() || !straight_.empty() || !pyramids_.empty() || shapes_.adds_anything();
        case Holds::All: return !links_.empty() || !staggered_.empty() || !chairs_.empty();
    }
    return false;
}

}  // namespace quorix::conf
