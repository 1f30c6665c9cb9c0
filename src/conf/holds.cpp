// The table of kinds of hold, and the holds of one molecule found from it.
#include "conf/holds.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <numbers>
#include <span>

#include "conf/typical.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "io/smiles/canonical.hpp"
#include "conf/hold_kinds.hpp"

namespace quorix::conf {
namespace {

using core::BondOrder;
using core::NONE;

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
        // An ammonium's open-chain C-N+ bonds to branched carbons against
        // the angles of its crowded centre, which would open at the bonds'
        // cost (to 1.47 A); a ring's bonds meet its own angles instead. The
        // windows are the bounds' own.
        {AmmoniumLengths, "ammonium lengths", Holds::All, T::LengthWindow, found<ammonium_lengths>, Holds::All,
         nullptr},
        {FiveRingExocyclicAngles, "five-ring exocyclic angles", Holds::All, T::Window,
         found<five_ring_exocyclic_angles>, Holds::All, nullptr},
        {TertiaryAmineAngles, "tertiary amine angles", Holds::Shapes, T::Window, found<tertiary_amine_angles>,
         Holds::Shapes, nullptr},
        // Centres whose angles the statistics mix with other groups', and the
        // typical lengths: bounds only.
        {PlanarRingNitrogens, "flat ring nitrogens", Holds::Shapes, T::None, found<planar_ring_nitrogens>,
         Holds::Shapes, give::centres<CentreAngles::PlanarRingNitrogen>},
        {PyramidalAmides, "pyramidal amide nitrogens", Holds::Shapes, T::None, found<pyramidal_amide_nitrogens>,
         Holds::Shapes, give::centres<CentreAngles::PyramidalAmide>},
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
        {SiloxaneRings, "siloxane rings", Holds::Lengths, T::None, found<siloxane_rings>, Holds::Lengths,
         give::open_rings},
        // A stored trans double bond of a small ring: its twist, at every
        // level, as the mark itself asks.
        {TwistedDoubleBonds, "twisted double bonds", Holds::None, T::Wells, found<twisted_ring_double_bonds>,
         Holds::None, nullptr},
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
    // A large cycloalkane's walls stand closer: there an open angle is
    // what lets an all-gauche crown close (see `large_carbocycle`); so do a
    // ring ketone's, whose trigonal angle the sp3 angles about it would
    // otherwise open to its wall (erythromycin's C9 to 125).
    auto& angles = std::get<std::vector<WindowAngle>>(groups_[static_cast<std::size_t>(HoldKind::LargeRingAngles)]);
    std::erase_if(angles, [&](WindowAngle& w) {
        const auto window = held_.angle_window(w.atoms[1], w.atoms[0], w.atoms[2]);
        if (!window) return true;
        const std::uint32_t ring = context_.rings.smallest_holding(w.atoms[0], w.atoms[1]);
        const bool carbocycle = ring != core::NONE && carbocycle_ring(context_, ring) &&
                                context_.rings.contains(ring, w.atoms[2]);
        const bool trigonal = !is_sp3(context_.mol, w.atoms[1]);
        const double margin = carbocycle || trigonal ? CARBOCYCLE_WALL_MARGIN : ANGLE_WALL_MARGIN;
        w.lower = (window->first - margin) * DEG_TO_RAD;
        w.upper = (window->second + margin) * DEG_TO_RAD;
        return false;
    });
    // A five-ring's exocyclic angle meets its wall just outside the window;
    // one its group gives no lean is not held.
    auto& five = std::get<std::vector<WindowAngle>>(
        groups_[static_cast<std::size_t>(HoldKind::FiveRingExocyclicAngles)]);
    std::erase_if(five, [&](WindowAngle& w) {
        if (!five_ring_exocyclic_lean(context_.mol, context_.rings, w.atoms[1], w.atoms[0], w.atoms[2])) return true;
        const auto window = held_.angle_window(w.atoms[1], w.atoms[0], w.atoms[2]);
        if (!window) return true;
        w.lower = (window->first - FIVE_RING_WALL_MARGIN) * DEG_TO_RAD;
        w.upper = (window->second + FIVE_RING_WALL_MARGIN) * DEG_TO_RAD;
        return false;
    });
    // A tertiary amine's C-N-C meets its walls just outside its window.
    auto& amine = std::get<std::vector<WindowAngle>>(groups_[static_cast<std::size_t>(HoldKind::TertiaryAmineAngles)]);
    std::erase_if(amine, [&](WindowAngle& w) {
        const auto window = shapes_.angle_window(w.atoms[1], w.atoms[0], w.atoms[2]);
        if (!window) return true;
        w.lower = (window->first - AMINE_WALL_MARGIN) * DEG_TO_RAD;
        w.upper = (window->second + AMINE_WALL_MARGIN) * DEG_TO_RAD;
        return false;
    });
    // A large ring's bonds meet theirs at the typical lengths' own windows:
    // a wall further out is where the ring would press them.
    for (HoldKind kind : {HoldKind::LargeRingLengths, HoldKind::AmmoniumLengths}) {
        auto& lengths = std::get<std::vector<WindowLength>>(groups_[static_cast<std::size_t>(kind)]);
        std::erase_if(lengths, [&](WindowLength& w) {
            const auto range = held_.bond_range(context_.mol.bond_between(w.atoms[0], w.atoms[1]));
            if (!range) return true;
            std::tie(w.lower, w.upper) = *range;
            return false;
        });
    }
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

bool ConformerHolds::large_carbocycle() const {
    for (std::uint32_t r = 0; r < context_.rings.ring_count(); ++r)
        if (carbocycle_ring(context_, r)) return true;
    return false;
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
