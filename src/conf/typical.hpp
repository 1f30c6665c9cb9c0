#pragma once
// Typical bond lengths and angles of common groups, as crystal structures of
// organic molecules give them. The bounds' statistics key a single bond only
// by its elements, so one C-O row serves ethers (1.42), esters (1.34 to the
// carbonyl) and acids (1.31), and one sp2 carbon row serves ketones, amides
// and esters alike; these tell the groups apart. The conformer's holds give
// them to the bounds (see `HeldBounds`).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

#include "conf/ring_context.hpp"
#include "core/builder.hpp"

namespace quorix::conf {

// The typical length (Å) of a bond and the half-width of its window.
struct TypicalLength {
    double length = 0.0;
    double half_width = 0.0;
    bool operator==(const TypicalLength&) const = default;
};

// The typical length of a single bond by what its atoms are (sp3,
// aromatic, alkene, carbonyl or sp carbon; amine, amide or amidine,
// ammonium or nitro nitrogen; ether, ester, hydroxyl, acid or carboxylate
// oxygen; sulfide or sulfonyl sulfur; an sp3 carbon's halogen; an imide's
// C-N apart from an amide's), in rings as in chains, so that every such bond
// of a ring has it and the bounds close the ring around them, a four-ring's
// stretched; of a carboxylate's C=O, which shares its charge with the C-O;
// and of a nitro group's two N-O bonds, one and a half bonds each, which
// the statistics take for a hydroxylamine's and a nitroso group's; the
// bonds of an aromatic four-membered ring (squaric acid); H2's; the bonds
// of charged and lone-pair centres the statistics key by formal order: a
// phosphate anion's terminal P-O, a phosphite's P-O, a sulfoxide's S=O, a
// phosphonium's P-C, an amidinium's or guanidinium's C-N, an sp3 carbon's
// bond to a three-connected aromatic nitrogen outside rings, a sulfide's
// bond to a carbon with four heavy neighbours (in rings too).
// None for any other bond, and none for a bond of a ring smaller than
// LARGE_RING from an sp3 carbon to an sp3 atom: the ring's own statistics
// fit those.
std::optional<TypicalLength> typical_bond_length(const core::MolBuilder& mol, const RingContext& rings,
                                                 std::uint32_t bond);

// Where a centre's bond angles come from when not from the statistics:
// `Group`, a centre whose group has typical angles (in no ring: a carbonyl
// carbon, an imidate anion's or thioimidate's carbon, a methylene beside a
// quaternary carbon or a sulfur, an ether or ester oxygen, an imine, oxime,
// diarylamine, aryl hydrazine, hydroxamic, anilide or N-tert-alkyl amide
// nitrogen; in rings too:
// a sulfonyl sulfur's or
// phosphoryl phosphorus's angles to its oxygens, a cyclosiloxane's Si-O-Si,
// the fold between three-rings sharing a bond; outside small rings, a
// sulfonate anion's sulfur, a phosphite's phosphorus, a secondary or
// tertiary ammonium nitrogen; a benzodioxole's methylene), an atom of a
// five-membered aromatic ring with one exocyclic bond, a flat five-ring's
// enol or imino ether carbon, a five-ring imine's carbon or nitrogen, a
// 5-6 aromatic fusion atom, an atom of a pyranone's or coumarin's ring
// or the ipso atom of an aryl ether (see `group_angle_centre`); an amine, aniline, flat ring (a sulfonamide's in
// a five- or six-ring near flat only), pyramidal amide (see
// `pyramidal_amide_nitrogen`) or nitro nitrogen; an sp centre held straight,
// or one of a ring, bent a little; a fusion atom at the rim of a bowl.
// `Element`, any other centre outside the aromatic rings: in a large ring
// (see LARGE_RING) like the same centre in a chain, and where the statistics
// have no row for its element and neighbours, from its element, its
// neighbours and its lone pairs (see `element_angle_centre`).
enum class CentreAngles : std::uint8_t {
    None,
    Group,
    Element,
    Amine,
    Aniline,
    PlanarRingNitrogen,
    Nitro,
    Straight,
    BowlRim,
    RingSp,
    PyramidalAmide
};

// An sp centre of a ring bends no further than this (degrees): a
// cyclooctyne's is some 158, where the statistics' fallback would bend it to
// its polygon's 135.
inline constexpr double RING_SP_LOWER = 155.0;

// A ring of this many atoms or more is built of chain-like centres: each
// angle in it takes the value the same centre has in a chain, and each bond
// its typical length. The ring statistics, where they have a row for it at
// all, count too few such rings, and their fallback, the ring polygon's
// angle, would open a crown ether's C-O-C to 160 degrees.
inline constexpr std::size_t LARGE_RING = 9;

// Whether ring `ring` is a cyclosiloxane's whose Si-O-Si the typical angles
// open (see `CentreAngles::Group`): such a ring lies flat or nearly so, and
// the ring statistics' torsions, a cyclohexane's or cyclooctane's, would
// pucker it against those angles.
bool siloxane_ring(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring);

// Whether an amide nitrogen is held pyramidal by its rings: a three-ring's
// (an N-acyl aziridine's), or one shared by a four-membered ring and
// another whose angles would leave 150 degrees or more to the third angle
// were it flat (a fused beta-lactam's: 162 in a penam, 150 in a cephem).
// Its lone pair leaves the C=O: the amide's plane yields.
bool pyramidal_amide_nitrogen(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t n);

// Whether a bond joins an ammonium nitrogen to a branched sp3 carbon (three
// or more heavy neighbours). Crowded by the nitrogen's other substituents,
// the pair would give up its length to the angles about it (see
// `ammonium_lengths`).
bool ammonium_carbon_bond(const core::MolBuilder& mol, const core::Bond& bond);

// Whether the exocyclic angle a-centre-c at an atom of a five-membered
// aromatic or flat ring leans from the even split (see `group_angle`).
bool five_ring_exocyclic_lean(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t centre,
                              std::uint32_t a, std::uint32_t c);

// Whether some angle at a centre has its group's typical value, or some
// exocyclic angle at an atom of a five-membered aromatic or flat ring or at
// an aryl ether's ipso atom its lean, or a five-ring imine's or a 5-6
// aromatic fusion atom's angles their own (see `CentreAngles::Group`).
bool group_angle_centre(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t centre);

// Whether a centre's angles may come from its element (see
// `CentreAngles::Element`): not aromatic, two to four neighbours.
bool element_angle_centre(const core::MolBuilder& mol, std::uint32_t centre);

// The window (degrees) of the angle a-centre-c at a centre whose angles are
// of that kind; none leaves the statistics' window.
std::optional<std::pair<double, double>> typical_angle_window(CentreAngles kind, const core::MolBuilder& mol,
                                                              const RingContext& rings, std::uint32_t centre,
                                                              std::uint32_t a, std::uint32_t c);

}  // namespace quorix::conf
