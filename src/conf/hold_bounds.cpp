// What each kind of hold gives the bounds, and the bounds they make.
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
// alone would pull it through its crowded neighbour. So does an anilide's,
// within its twist (see `anilide_side`).
void cis_links(const MoleculeContext& context, const HeldGroups& groups, BoundsRules& out) {
    for (const HeldTorsion& link : list<HeldTorsion>(groups)) {
        if (link.wells == TorsionWells::Cis) set_cis(context.mol, link.atoms, out);
        if (link.wells != TorsionWells::NearCis) continue;
        set_cis(context.mol, link.atoms, out);
        out.rules[context.mol.bond_between(link.atoms[1], link.atoms[2])].rule = BoundsRules::Rule::NearCis;
    }
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

// A cyclosiloxane's ring paths turn as its angles let them.
void open_rings(const MoleculeContext&, const HeldGroups& groups, BoundsRules& out) {
    for (const std::uint32_t r : list<std::uint32_t>(groups)) out.rings[r] = BoundsRules::RingShape::Open;
}

}  // namespace give

template void give::centres<CentreAngles::Nitro>(const MoleculeContext&, const HeldGroups&, BoundsRules&);
template void give::centres<CentreAngles::Straight>(const MoleculeContext&, const HeldGroups&, BoundsRules&);
template void give::centres<CentreAngles::Amine>(const MoleculeContext&, const HeldGroups&, BoundsRules&);
template void give::centres<CentreAngles::PlanarRingNitrogen>(const MoleculeContext&, const HeldGroups&, BoundsRules&);
template void give::centres<CentreAngles::PyramidalAmide>(const MoleculeContext&, const HeldGroups&, BoundsRules&);
template void give::centres<CentreAngles::BowlRim>(const MoleculeContext&, const HeldGroups&, BoundsRules&);
template void give::centres<CentreAngles::Group>(const MoleculeContext&, const HeldGroups&, BoundsRules&);
template void give::centres<CentreAngles::RingSp>(const MoleculeContext&, const HeldGroups&, BoundsRules&);
template void give::centres<CentreAngles::Element>(const MoleculeContext&, const HeldGroups&, BoundsRules&);

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
        case BoundsRules::RingShape::Open:
            if (!a_in || !d_in) return std::nullopt;
            return std::pair{0.0, 180.0};
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
    // An anilide's side only: its twist is the hold's, against the ortho
    // hydrogen's contact with the oxygen.
    constexpr double SIDE = 45.0;
    if (r.rule == BoundsRules::Rule::NearCis) return cis ? std::pair{0.0, SIDE} : std::pair{180.0 - SIDE, 180.0};
    const double phi = cis ? 0.0 : 180.0;
    return std::pair{phi, phi};
}

}  // namespace quorix::conf
