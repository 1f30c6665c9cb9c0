#pragma once
// The table of kinds of hold, and what the files that find the kinds' groups
// and give their bounds hand to it. Only the holds' own files include this.
#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "conf/holds.hpp"

namespace quorix::conf {

// Every single bond whose smallest ring has LARGE_RING atoms or more. The
// bounds' own rule caps a ring path's torsion at 90 degrees in any ring of
// seven atoms or more that is neither aromatic nor all sp3, which in a
// macrocycle forbids every anti torsion and folds the ring onto itself,
// squeezing its angles; these bonds turn as a chain's do. By bond index.
std::vector<std::uint32_t> large_ring_bonds(const MoleculeContext& context);

// Every angle between two neighbours of a tetrahedral C, N or O or of a
// ketone's carbon (in no three- or four-membered ring) whose smallest
// common ring has LARGE_RING atoms or more: atoms {a, centre, c}, windows
// unset (`ConformerHolds` sets them). By centre, then neighbour order.
std::vector<WindowAngle> large_ring_angles(const MoleculeContext& context);
// How far outside the bounds' window (degrees) a large ring's angle meets
// its wall: within it the ring is as free as its bounds leave it; a large
// cycloalkane's, CARBOCYCLE_WALL_MARGIN (see
// `ConformerHolds::large_carbocycle`).
inline constexpr double ANGLE_WALL_MARGIN = 5.0;
inline constexpr double CARBOCYCLE_WALL_MARGIN = 2.0;

// Every angle at an atom of a five-membered aromatic ring between its heavy
// exocyclic neighbour, bonded in no ring, and a ring neighbour: atoms {exo,
// centre, ring atom}, windows unset (`ConformerHolds` keeps those whose
// centre's group leans them and sets their walls FIVE_RING_WALL_MARGIN
// outside the window). The ring bends stiffly in its plane, yet its bounds'
// 1-3 distances are as soft as any contact's: an azolylmethyl between a
// branched carbon's neighbours (the fluconazole thioethers) opened C-N1-N2
// to 127-128, where the molecule turns its torsions and opens its chain's
// angles instead and keeps it near 120. Walls at the window's own edges
// pressed that crowding into the chain's S-C-C. By centre, then neighbour
// order.
std::vector<WindowAngle> five_ring_exocyclic_angles(const MoleculeContext& context);
inline constexpr double FIVE_RING_WALL_MARGIN = 1.5;

// Every open-chain C-N-C angle of a tertiary amine (`amine_nitrogen` with
// three sp3 carbons): its 1-3 bounds alone let a crowded fold squeeze one
// angle to 99 degrees while the other two open (chloroquine's
// diethylamino group), where crystal structures of trialkylamines give
// 109-112 (trimethylamine 110.9 in the gas). Walls AMINE_WALL_MARGIN
// outside the bounds' window stop it; a wall below alone let the fold open
// the third angle past 120 instead. By nitrogen, then neighbour order.
std::vector<WindowAngle> tertiary_amine_angles(const MoleculeContext& context);
inline constexpr double AMINE_WALL_MARGIN = 1.5;

// Whether a ring of the ring list has LARGE_RING atoms or more, all sp3
// carbons.
bool carbocycle_ring(const MoleculeContext& context, std::uint32_t ring);

// Every bond, not aromatic, whose smallest ring has LARGE_RING atoms or
// more: atoms {begin, end}, windows unset (`ConformerHolds` sets them to
// the bond's typical length's window). By bond index.
std::vector<WindowLength> large_ring_lengths(const MoleculeContext& context);
std::vector<WindowLength> ammonium_lengths(const MoleculeContext& context);

// The ring atoms of ring nitrogens held flat: three neighbours, not
// aromatic, sp2 or a sulfonamide's, and no pyramidal amide nitrogen. A
// sulfonamide's in a five- or six-ring is held near flat only, by its own
// angles (see `CentreAngles::PlanarRingNitrogen`). In atom order.
std::vector<std::uint32_t> planar_ring_nitrogens(const MoleculeContext& context);

// The amide nitrogens their rings hold pyramidal (see
// `pyramidal_amide_nitrogen`). In atom order.
std::vector<std::uint32_t> pyramidal_amide_nitrogens(const MoleculeContext& context);

// The fusion atoms of a curved sheet that have room to lie flat (a bowl's
// rim). In atom order.
std::vector<std::uint32_t> bowl_rims(const MoleculeContext& context);

// The centres whose group has typical angles (see `group_angle_centre`). In
// atom order.
std::vector<std::uint32_t> group_angle_centres(const MoleculeContext& context);

// The centres whose angles may come from their element (see
// `element_angle_centre`). In atom order.
std::vector<std::uint32_t> element_angle_centres(const MoleculeContext& context);

// The sp centres of rings with two neighbours. In atom order.
std::vector<std::uint32_t> ring_sp_centres(const MoleculeContext& context);

// The rings of the ring list that are cyclosiloxanes (see `siloxane_ring`).
// By index in the ring list.
std::vector<std::uint32_t> siloxane_rings(const MoleculeContext& context);

// Every bond with a typical length (see `typical_bond_length`). By bond index.
std::vector<HeldLength> typical_lengths(const MoleculeContext& context);

// The torsions that hold each chair in one of its two forms (see
// `ConformerHolds::add_terms`).
std::vector<HeldTorsion> chair_terms(std::span<const HeldChair> chairs, std::span<const double> start);

// What each kind gives the bounds (see `HoldKindRow::bounds`), each
// explained where it is defined.
namespace give {

void double_bonds(const MoleculeContext& context, const HeldGroups&, BoundsRules& out);
void cis_across(const MoleculeContext& context, const HeldGroups& groups, BoundsRules& out);
void cis_links(const MoleculeContext& context, const HeldGroups& groups, BoundsRules& out);
template <CentreAngles Kind>
void centres(const MoleculeContext&, const HeldGroups& groups, BoundsRules& out);
void aniline_centres(const MoleculeContext& context, const HeldGroups& groups, BoundsRules& out);
void chairs(const MoleculeContext&, const HeldGroups& groups, BoundsRules& out);
void flat_macrocycles(const MoleculeContext& context, const HeldGroups&, BoundsRules& out);
void lengths(const MoleculeContext&, const HeldGroups& groups, BoundsRules& out);
void free_bonds(const MoleculeContext&, const HeldGroups& groups, BoundsRules& out);
void open_rings(const MoleculeContext&, const HeldGroups& groups, BoundsRules& out);

}  // namespace give

// How the error function holds a kind's groups (see conf/field.hpp); None
// for a kind that only narrows the bounds.
enum class HoldTerm : std::uint8_t {
    None,
    Torsion,
    Flatness,
    RingDoubleBond,
    Substituent,
    Wells,
    Straight,
    Pyramid,
    Chair,
    Conjugated,
    Window,
    LengthWindow
};

// One row per kind: its name, the lowest level that holds its terms, how,
// its finder, and what it gives the bounds from which level on (none for
// `bounds` null). Finding, terms, census and levels read this table; the
// bounds too, but for what is decided outside it: large rings' wall windows
// (`ConformerHolds`), chain double bonds and large flat aromatic rings
// (`HeldBounds`), and which rows only fill (their `bounds`). A row's
// bounds are given in table order, each overriding the rows before it, but `GroupAngles`, `RingSpCentres` and `ElementAngles`, which
// only fill centres no other kind claims, and `LargeRingBonds`, which only
// fills bonds no other kind gives a rule.
struct HoldKindRow {
    HoldKind kind;
    std::string_view name;
    Holds level;
    HoldTerm term;
    HeldGroups (*find)(const MoleculeContext&);
    Holds bounds_level;
    void (*bounds)(const MoleculeContext&, const HeldGroups&, BoundsRules&);
};
extern const std::array<HoldKindRow, HOLD_KIND_COUNT> HOLD_KINDS;

}  // namespace quorix::conf
