#include "conf/holds.hpp"

#include <algorithm>
#include <array>
#include <span>

#include "chem/sssr.hpp"
#include "conf/ring_context.hpp"
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

// The oxygen or sulfur a carbon carries by a double bond, NONE without one.
std::uint32_t carbonyl_partner(const core::MolBuilder& mol, std::uint32_t c) {
    if (mol.atoms[c].atomic_num != core::Element::C) return NONE;
    for (core::Neighbor nb : mol.neighbors(c)) {
        const std::uint8_t z = mol.atoms[nb.atom].atomic_num;
        if (mol.bonds[nb.bond].order == BondOrder::Double && (z == core::Element::O || z == core::Element::S)) return nb.atom;
    }
    return NONE;
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
    RingContext rings;
    bool rings_ready = false;
    for (const core::Bond& bond : mol.bonds) {
        if (bond.order != BondOrder::Single) continue;
        if (carbonyl_partner(mol, bond.begin) == NONE && carbonyl_partner(mol, bond.end) == NONE) continue;
        if (!rings_ready) {
            rings.build(mol);
            rings_ready = true;
        }
        const auto amide = amide_bond(mol, bond, rings);
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
    RingContext rings;
    bool rings_ready = false;
    const auto c_or_n = [&](std::uint32_t a) {
        const std::uint8_t z = mol.atoms[a].atomic_num;
        return z == core::Element::C || z == core::Element::N;
    };
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi) {
        const core::Bond& bond = mol.bonds[bi];
        if (!c_or_n(bond.begin) || !c_or_n(bond.end) || !double_bond_with_torsion(mol, bi)) continue;
        if (!rings_ready) {
            rings.build(mol);
            rings_ready = true;
        }
        const std::uint32_t ring = rings.smallest_holding(bond.begin, bond.end);
        if (ring == NONE) continue;
        const bool stored = has_stored_configuration(bond);
        for (core::Neighbor na : mol.neighbors(bond.begin)) {
            if (na.atom == bond.end || !rings.contains(ring, na.atom)) continue;
            for (core::Neighbor nd : mol.neighbors(bond.end))
                if (nd.atom != bond.begin && nd.atom != na.atom && rings.contains(ring, nd.atom))
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
        std::array<std::uint32_t, 3> nbrs{};
        std::size_t count = 0;
        for (core::Neighbor nb : mol.neighbors(c)) nbrs[count++] = nb.atom;
        out.push_back({{nbrs[0], c, nbrs[1], nbrs[2]}, false});
    }
    return out;
}

std::vector<RingSubstituent> aromatic_substituents(const core::MolBuilder& mol) {
    std::vector<RingSubstituent> out;
    RingContext rings;
    bool rings_ready = false;
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        if (!(mol.atoms[a].flags & core::AROMATIC)) continue;
        std::array<std::uint32_t, 3> ring_nbrs{NONE, NONE, NONE};
        std::size_t count = 0;
        for (core::Neighbor nb : mol.neighbors(a))
            if (mol.bonds[nb.bond].order == BondOrder::Aromatic && count < 3) ring_nbrs[count++] = nb.atom;
        if (count != 2 || mol.degree[a] <= 2) continue;
        if (!rings_ready) {
            rings.build(mol);
            rings_ready = true;
        }
        for (core::Neighbor nb : mol.neighbors(a)) {
            if (mol.bonds[nb.bond].order == BondOrder::Aromatic) continue;
            out.push_back({{nb.atom, a, ring_nbrs[0], ring_nbrs[1]}, rings.smallest_holding(a, nb.atom) != NONE});
        }
    }
    return out;
}

HeldBounds::HeldBounds(const core::MolBuilder& mol, Holds holds) : rules_(mol.num_bonds()) {
    RingContext rings;
    rings.build(mol);
    std::vector<std::uint32_t> ranks, side_b, side_c;
    for (std::uint32_t bi = 0; bi < mol.num_bonds(); ++bi) {
        const core::Bond& bond = mol.bonds[bi];
        if (unconfigured_chain_double_bond(mol, bi, rings)) {
            side_b.clear();
            side_c.clear();
            for (core::Neighbor nb : mol.neighbors(bond.begin))
                if (nb.atom != bond.end) side_b.push_back(nb.atom);
            for (core::Neighbor nb : mol.neighbors(bond.end))
                if (nb.atom != bond.begin) side_c.push_back(nb.atom);
            if (side_b.empty() || side_c.empty()) continue;  // no torsion across it
            if (ranks.empty()) ranks = io::canonical_ranks(mol);
            rules_[bi] = {Rule::DoubleBond, lowest_ranked(side_b, ranks), lowest_ranked(side_c, ranks)};
        } else if (holds == Holds::All) {
            const auto amide = amide_bond(mol, bond, rings);
            if (!amide || amide->in_ring || amide->heavy == NONE) continue;
            rules_[bi] = bond.begin == amide->carbon ? ChainRule{Rule::TransAmide, amide->partner, amide->heavy}
                                                     : ChainRule{Rule::TransAmide, amide->heavy, amide->partner};
        }
    }
}

std::optional<std::pair<double, double>> HeldBounds::chain_torsion(std::uint32_t bond, std::uint32_t a,
                                                                   std::uint32_t d) const {
    const ChainRule& r = at(rules_, bond);
    if (r.rule == Rule::None) return std::nullopt;
    // A double bond keeps its lowest-ranked substituents trans; an amide's
    // oxygen lies cis to its nitrogen's heavy neighbour.
    const bool cis = r.rule == Rule::DoubleBond ? (a != r.first) != (d != r.second)
                                                : (a == r.first) == (d == r.second);
    const double phi = cis ? 0.0 : 180.0;
    return std::pair{phi, phi};
}

ConformerHolds::ConformerHolds(const core::MolBuilder& mol)
    : plain_(mol, Holds::None),
      held_(mol, Holds::All),
      double_bonds_(planar_double_bonds(mol)),
      aromatic_rings_(planar_aromatic_rings(mol)),
      amides_(planar_amides(mol)),
      ring_double_bonds_(planar_ring_double_bonds(mol)),
      sp2_carbons_(planar_sp2_carbons(mol)),
      lactams_(planar_lactams(mol)),
      substituents_(aromatic_substituents(mol)) {}

void ConformerHolds::add_terms(ErrorFunction& f, Holds holds) const {
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
}

bool ConformerHolds::anything_held() const {
    return !amides_.empty() || !ring_double_bonds_.empty() || !substituents_.empty() || !sp2_carbons_.empty() ||
           !lactams_.empty();
}

}  // namespace quorix::conf
