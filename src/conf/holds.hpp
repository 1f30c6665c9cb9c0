#pragma once
// What a chemist expects of a conformer beyond what the distance bounds ask:
// which groups the conformer holds, and why. The bounds leave every free
// torsion anywhere in [0, 180] and hold angles and planes only through
// distance windows, which barely change near 0 and 180 degrees, so planar
// groups twist within them. The holds name those groups; the bounds take a
// few of them as windows (`ConformerHolds::bounds`) and the error function
// holds the rest as terms (`ConformerHolds::add_terms`).
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include "conf/bounds.hpp"
#include "conf/field.hpp"
#include "conf/context.hpp"
#include "conf/ring_context.hpp"
#include "conf/typical.hpp"
#include "core/builder.hpp"

namespace quorix::conf {

// None: only what every conformer holds (chain double bonds planar in one
// arrangement, aromatic rings flat, large rings' single bonds as free as a
// chain's), otherwise on the bounds' own rules. Lengths:
// besides, the typical lengths and angles of common groups in the bounds,
// which mend rows of the statistics that serve several groups. Shapes:
// besides, the shapes of groups (amides, esters, lactams, ring double bonds,
// sp2 and fused aromatic atoms, aromatic substituents, nitro groups, sp
// centres, amine nitrogens). All: besides, the free torsions (conjugated
// links, anilines, staggered bonds, biaryls, chairs) and the walls that keep
// large rings' angles and bonds from giving way to them. Each level holds less than
// the one after it, so a conformer the holds leave with a fault gives the
// torsions up first.
enum class Holds : std::uint8_t { None, Lengths, Shapes, All };

// Every substituent pair across a chain double bond whose ends are not linear,
// with the stated cis/trans or, without one, the arrangement the bounds are
// given (the lowest-ranked substituent on each side, canonical rank then
// index, trans to the other). In bond order, then neighbour order. Nothing is
// recorded on the molecule.
std::vector<PlanarFour> planar_double_bonds(const MoleculeContext& context);

// The ring path around every bond of an aromatic ring (a-b-c-d all in the
// first aromatic ring of the ring list that has b-c as an edge), all cis. In
// bond order, then neighbour order.
std::vector<PlanarFour> planar_aromatic_rings(const MoleculeContext& context);

// Around every amide C-N bond outside the rings (a carbon double-bonded to
// oxygen or sulfur X, single-bonded to a nitrogen with three neighbours:
// amides, thioamides, carbamates, ureas): the group X=C-N-Y for each other
// neighbour Y of the nitrogen. `cis` tells the arrangement the bounds give a
// secondary amide (one hydrogen, one heavy neighbour that is not itself such
// a carbon: an imide cannot put both carbonyls trans without their oxygens
// meeting); every other amide may lie either way and has `cis` false. In bond
// order, then neighbour order. None at a nitrogen its rings hold pyramidal
// (see `pyramidal_amide_nitrogen`), here or in `planar_lactams`.
std::vector<PlanarFour> planar_amides(const MoleculeContext& context);

// Around every amide C-N bond of a ring (a lactam), the groups X=C-N-Y as
// `planar_amides` makes them, all with `cis` false: the ring tells cis from
// trans. In bond order, then neighbour order.
std::vector<PlanarFour> planar_lactams(const MoleculeContext& context);

// The ring path a-b=c-d around every C=C and C=N double bond of a ring whose
// ends are not linear (a and d in the smallest ring holding b and c): cis, or
// as stated when the bond carries a configuration. In bond order, then
// neighbour order; after them, the five-ring paths C=C-N-x across the link
// of a flat ring nitrogen to its ring's C=C, cis.
std::vector<PlanarFour> planar_ring_double_bonds(const MoleculeContext& context);

// The ring path a-b=c-d around every double bond its ring twists (see
// `twisted_by_ring`), held at TWISTED_TRANS_TORSION (`TorsionWells::TransTwisted`).
// In bond order.
std::vector<HeldTorsion> twisted_ring_double_bonds(const MoleculeContext& context);

// Every carbon with three neighbours, sp2 and not aromatic (carbonyl and
// thiocarbonyl carbons, the carbons of C=C and C=N bonds), and every neutral
// boron with three (boranes, boronic acids and esters: an empty p orbital,
// no lone pair to make a pyramid), with its neighbours: atoms {n0, c, n1, n2}, neighbours in neighbour order, so that
// the volume about c (see `add_flatness_terms`) is zero when the four lie in
// one plane. In atom order.
std::vector<PlanarFour> planar_trigonal_centres(const MoleculeContext& context);

// Every substituent of an aromatic atom with exactly two aromatic bonds, in
// atom order of the aromatic atom, then neighbour order.
std::vector<RingSubstituent> aromatic_substituents(const MoleculeContext& context);

// Around every ester or acid C-O bond outside the rings or in a ring of
// LARGE_RING atoms or more that holds no amide (a macrolide's; a carbon
// double-bonded to oxygen or sulfur X, single-bonded to an oxygen with one
// other neighbour Y that is not itself such a carbon): the group X=C-O-Y,
// held flat; the bounds hold it Z (X cis to Y), as esters and acids are
// found: the E form of an ester lies some 30 kJ/mol higher, and an acid's
// hydrogen lies syn to its carbonyl oxygen. In bond order.
std::vector<PlanarFour> planar_esters(const MoleculeContext& context);

// Every aromatic atom where rings fuse (three neighbours, all by aromatic
// bonds), with its neighbours as `planar_trigonal_centres` gives them: each ring's
// own paths are flat, but nothing else keeps two fused rings from folding
// along their shared bond. Not those of a curved sheet (see
// `MoleculeContext::curved`), which cannot lie flat. In atom order.
std::vector<PlanarFour> planar_fusion_atoms(const MoleculeContext& context);

// Every nitro nitrogen (charge +1, one double-bonded and one single-bonded
// oxygen of charge -1, three neighbours), with its neighbours: the two N-O
// bonds are one bond and a half each, the group planar. In atom order.
std::vector<PlanarFour> planar_nitro_groups(const MoleculeContext& context);

// Every single bond outside the rings between two conjugated atoms that
// prefers the plane of both (the torsion near 0 or 180 degrees): a link
// between two atoms each aromatic or carrying a non-linear double bond
// (carbonyls, alkenes, imines, nitro groups on a ring or a chain; two aromatic
// atoms excepted, since biaryls twist), and the link from such an atom to an
// ether or hydroxyl oxygen whose other neighbour is a hydrogen or an sp3
// carbon (anisoles, phenols, enol ethers; an ester's oxygen is held by
// `planar_esters`), and an aromatic atom's link to a secondary anilide's
// nitrogen (see `anilide_acyl`), turned some ANILIDE_TWIST degrees out of
// the amide's plane (`TorsionWells::NearCis` from the ring atom
// `anilide_side` gives to the acyl carbon; `TorsionWells::Twisted` either
// way where it gives none). An aromatic atom with heavy substituents at both
// ortho positions is crowded out of the plane and not held; a nitro group
// crowded so from one side is held twisted instead. One torsion per bond,
// each end's first other neighbour; but an aryl ether's alkyl is held cis to
// the ring atom `aryl_ether_side` gives (`TorsionWells::Cis`), and a
// perfluoroalkyl one perpendicular to its ring (see
// `aryl_ether_perpendicular`). In bond order.
std::vector<HeldTorsion> conjugated_links(const MoleculeContext& context);

// The acyl carbon of a secondary anilide's nitrogen `n` on aromatic atom
// `ring_atom` (one hydrogen, a C=O or C=S carbon beside the ring: acetanilides,
// aryl ureas and carbamates), NONE for another atom. Its lone pair is shared
// by the carbonyl and the ring, which lie near one plane; the amide holds
// keep the amide flat.
std::uint32_t anilide_acyl(const core::MolBuilder& mol, std::uint32_t n, std::uint32_t ring_atom);

// The ring neighbour of six-ring atom `ring_atom` on whose side anilide
// nitrogen `n` puts its acyl carbon, NONE where none is chosen (a five-ring,
// a link in a ring, both ortho sides crowded, two ring nitrogens beside
// it): the free side when one ortho side is crowded (the N-H turns towards
// the substituent), a carbon's rather than a ring nitrogen's, else the
// first. The ring's ortho
// hydrogen there meets the carbonyl oxygen some 2.3 A off and opens
// C(ortho)-C-N on that side (see `CentreAngles::Group`). The ring turns
// ANILIDE_TWIST degrees out of the amide's plane (within
// NEAR_CIS_TOLERANCE): the crystal structures of acetanilide and
// paracetamol turn it 17.6 and 20-23, where flat the ortho hydrogen would
// press C(=O)-N-C(aryl) open past its 127-128.
std::uint32_t anilide_side(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring_atom,
                           std::uint32_t n);
inline constexpr double ANILIDE_TWIST = 15.0;

// Whether the sp3 alkyl of ether oxygen `o` on aromatic atom `ring_atom`
// leaves the ring's plane: with both ortho sides crowded, as a tertiary
// alkyl, whose methyls meet the ortho hydrogens on either side (tert-butyl
// phenyl ether lies twisted), or as a secondary one with one ortho side
// crowded (its one free side takes the hydrogen, and MMFF94 and crystal
// structures alike turn such a cyclopentyl or isopropyl out of the plane).
// Whether aromatic atom `ring_atom` carries heavy atoms at both ortho sides.
bool crowded_on_both_sides(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring_atom);

bool aryl_ether_off_plane(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring_atom,
                          std::uint32_t o);

// Whether the alkyl of ether oxygen `o` on aromatic atom `ring_atom` is a
// perfluoroalkyl (no hydrogen, two fluorines or more), which stands
// perpendicular to the ring's plane: the oxygen's lone pairs turn to the
// C-F bonds rather than to the ring (trifluoromethoxybenzene's gas-phase
// structure, and crystal structures of aryl trifluoromethyl ethers, C-C-O-C
// near 90). Held ARYL_ETHER_PERPENDICULAR degrees off the plane.
bool aryl_ether_perpendicular(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring_atom,
                              std::uint32_t o);
inline constexpr double ARYL_ETHER_PERPENDICULAR = 90.0;

// The ring neighbour of aromatic atom `ring_atom` that the alkyl of its
// ether oxygen `o` lies cis to, in the ring's plane; NONE where the link is
// not held to one side. The alkyl turns from a crowded ortho side to the
// free one: towards the substituent it meets it some 2.5 A off and opens
// C-O-C past 130 degrees (veratrole's methyls lie anti to each other). On a
// six-membered ring with neither side crowded it takes one side all the
// same, so that the ipso angles can open towards it (see `CentreAngles`).
std::uint32_t aryl_ether_side(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t ring_atom,
                              std::uint32_t o);

// Every aniline nitrogen (see `aniline_ring_atom`) whose bond to its ring
// lies outside the rings, conjugated with the ring: its lone pair along the
// ring's p orbitals, the plane of its neighbours held near the ring's (see
// `add_conjugated_terms`), loosely enough to keep the nitrogen pyramidal.
// Not when a heavy substituent of the nitrogen meets an ortho heavy atom it
// cannot turn away from (two heavy substituents and one crowded side, or
// one and both sides crowded): such an aniline twists rather than squeeze
// its angles. In atom order.
std::vector<ConjugatedNitrogen> conjugated_anilines(const MoleculeContext& context);

// Every single bond outside the rings between two sp3 carbons, nitrogens or
// oxygens (or between such an atom and an ester's or ether's two-connected
// oxygen), held staggered, one torsion per bond (each end's first other
// neighbour): eclipsed costs some 12 kJ/mol in ethane, more with larger
// groups. A bond of an unbranched carbon chain (each end's only other heavy
// neighbour a carbon) is held anti over those carbons instead, and a bond
// between two tetrahedral atoms of a ring of MACROCYCLE or more atoms is held
// staggered over its ring neighbours. A bond from an aromatic atom to a CH2
// outside its rings whose other heavy neighbour is an sp3 carbon is held
// with that carbon BENZYL_TWIST degrees out of the ring's plane (over the
// aromatic atom's first ring neighbour): in the plane it meets the ortho
// atom, or an azole's N2 from N1, and opens the exocyclic angle; ethylbenzene
// stands perpendicular in the gas phase and crystal benzyl groups cluster
// there. In bond order.
inline constexpr std::size_t MACROCYCLE = 12;
inline constexpr double BENZYL_TWIST = 90.0;
std::vector<HeldTorsion> staggered_bonds(const MoleculeContext& context);

// Every single bond outside the rings between two aromatic atoms (biaryls)
// with at most one heavy atom on their ortho atoms off the ring path (a
// substituent or a fused ring): held twisted by BIARYL_TWIST degrees when
// four ortho hydrogens meet, by BIARYL_TWIST_OPEN with fewer (a ring
// nitrogen, a five-ring), by BIARYL_TWIST_CROWDED with one heavy ortho
// neighbour. With more, the rings twist as far as their bounds leave them.
// One torsion per bond (each end's first other neighbour). In bond order.
inline constexpr double BIARYL_TWIST = 40.0;
inline constexpr double BIARYL_TWIST_OPEN = 20.0;
inline constexpr double BIARYL_TWIST_CROWDED = 60.0;
std::vector<HeldTorsion> biaryl_links(const MoleculeContext& context);

// The rings held as chairs: six-membered, every atom sp3, sharing with any
// other ring at most one bond, or two bonds about a one-atom bridge (the
// piperidine of a morphinan, a tropane's six-ring, a bicyclo[3.3.1]nonane's
// two: chairs in their crystals), and none with a ring smaller than five
// (which would force its shared torsions flat), and no cyclosiloxane (see
// `siloxane_ring`).
// By index in the ring list.
std::vector<std::uint32_t> chair_rings(const MoleculeContext& context);


// Where a chair's substituent is best placed: most equatorial; beside a
// near-flat sulfonyl nitrogen, axial; the nitrogen's own, wherever the
// ring puts it.
enum class ChairPlace : std::uint8_t { Equatorial, Axial, Either };

// A heavy atom on a chair's ring atom `position` (0 to 5) that is not in
// that ring: the chair form that puts more of them where they are best
// placed is held.
struct ChairSubstituent {
    std::size_t position = 0;
    std::uint32_t atom = core::NONE;
    ChairPlace place = ChairPlace::Equatorial;
};

// A chair ring: its index in the ring list, its atoms in ring order, its
// heavy substituents, and per ring path k (round the bond between atoms
// k + 1 and k + 2) whether that bond is one of two a bridged ring shares
// with it: the bridge sets the sign of those torsions, so they choose the
// form (a morphinan's piperidine can only flip its ethylamine bridge).
struct HeldChair {
    std::uint32_t ring = core::NONE;
    std::array<std::uint32_t, 6> atoms{};
    std::vector<ChairSubstituent> substituents;
    std::array<bool, 6> bridged{};
};

// Every chair ring, in the order of `chair_rings`.
std::vector<HeldChair> held_chairs(const MoleculeContext& context);

// Every sp centre with two neighbours (nitrile and alkyne carbons, allene and
// cumulene centres, azide and diazo nitrogens), held straight. In atom order.
std::vector<StraightAngle> straight_centres(const MoleculeContext& context);

// Every amine nitrogen (`amine_nitrogen`: each neighbour a hydrogen, an sp3
// carbon or a saturated N or O): pyramidal, with angles near 110 degrees that
// the bounds' angle statistics, drawn from amides and anilines as much as
// from amines, would leave flat. In atom order, each with its neighbours.
std::vector<PyramidalCentre> pyramidal_amines(const MoleculeContext& context);

// The kinds of hold, in the order their terms join the error function; the
// kinds after `TertiaryAmineAngles` add no term and only shape the bounds.
enum class HoldKind : std::uint8_t {
    DoubleBonds,
    AromaticRings,
    Amides,
    RingDoubleBonds,
    Substituents,
    TrigonalCentres,
    Lactams,
    Esters,
    FusionAtoms,
    NitroGroups,
    SpCentres,
    Amines,
    ConjugatedLinks,
    Anilines,
    StaggeredBonds,
    BiarylLinks,
    Chairs,
    LargeRingAngles,
    LargeRingLengths,
    AmmoniumLengths,
    FiveRingExocyclicAngles,
    TertiaryAmineAngles,
    PlanarRingNitrogens,
    PyramidalAmides,
    BowlRims,
    GroupAngles,
    RingSpCentres,
    ElementAngles,
    TypicalLengths,
    LargeRingBonds,
    SiloxaneRings,
    TwistedDoubleBonds,
};
inline constexpr std::size_t HOLD_KIND_COUNT = static_cast<std::size_t>(HoldKind::TwistedDoubleBonds) + 1;

// A bond's typical length (see `typical_bond_length`).
struct HeldLength {
    std::uint32_t bond = core::NONE;
    TypicalLength typical;
};

// The groups one kind holds; atoms alone for a kind that only gives centres
// their angles.
using HeldGroups = std::variant<std::vector<PlanarFour>, std::vector<RingSubstituent>, std::vector<HeldTorsion>,
                                std::vector<StraightAngle>, std::vector<PyramidalCentre>, std::vector<HeldChair>,
                                std::vector<ConjugatedNitrogen>, std::vector<std::uint32_t>, std::vector<HeldLength>,
                                std::vector<WindowAngle>, std::vector<WindowLength>>;

// What the kinds of hold give the bounds, per bond, atom and ring (see
// `HeldBounds`).
struct BoundsRules {
    // Per bond: for a chain double bond the lowest-ranked substituent on each
    // side; for a secondary amide, an ester or an acid the carbon's oxygen or
    // sulfur and the heavy or far neighbour of the nitrogen or oxygen (cis to
    // it); for an aryl ether turned to its free side, that side's ring atom
    // and the alkyl (cis), `first` on the bond's begin side.
    // `Free`: a single bond of a ring of LARGE_RING atoms or more, whose
    // ring paths turn as freely as a chain's (see `large_ring_bonds`).
    // `NearCis`: an anilide's ring atom and acyl carbon (see `anilide_side`),
    // within 45 degrees of cis.
    enum class Rule : std::uint8_t { None, DoubleBond, CisAcross, NearCis, Free };
    struct ChainRule {
        Rule rule = Rule::None;
        std::uint32_t first = core::NONE, second = core::NONE;
        bool operator==(const ChainRule&) const = default;
    };
    std::vector<ChainRule> rules;           // per bond
    std::vector<CentreAngles> centres;      // per atom
    // Per ring of the ring list: a chair, an aromatic ring of LARGE_RING
    // atoms or more, flat (a porphyrin's inner ring), or a ring whose
    // torsions the statistics would set against its angles, open (see
    // `siloxane_ring`).
    enum class RingShape : std::uint8_t { Free, Chair, Flat, Open };
    std::vector<RingShape> rings;
    std::vector<TypicalLength> lengths;     // per bond; a zero half-width for none
    bool operator==(const BoundsRules&) const = default;
};

class ConformerHolds;

// What the holds give the bounds. At every level, the single bonds of large
// rings free (`large_ring_bonds`), and a chain double bond
// without a stated cis/trans in its one arrangement (left as a free [0, 180]
// torsion, the embedding would aim every 1-4 pair across it at its trans
// distance and twist the bond). With the typical lengths, besides:
// - the typical lengths of common groups and nitro groups' N-O bonds
//   (`typical_bond_length`);
// - the typical angles of groups in no ring (`group_angle_centre`) and of
//   nitro groups, whose single N-O bond the statistics would take for a
//   hydroxylamine's;
// - an sp centre of a ring bent no further than RING_SP_LOWER degrees;
// - the angles of the fusion atoms at the rim of a bowl (fusion atoms of a
//   curved sheet that have room to lie flat).
// With the shapes, besides:
// - each secondary amide trans and each ester and acid Z (the error function
//   holds them flat by volumes, which do not tell cis from trans), and each
//   aryl ether with one crowded ortho side turned to the other;
// - the angles of conjugated aniline nitrogens (`conjugated_anilines`),
//   which the statistics let fold the nitrogen's neighbours together once
//   the ring's torsions hold them;
// - the angles of amine nitrogens (`pyramidal_amines`) and of the
//   conjugated and sulfonyl nitrogens of rings (lactams, N-acyl, N-aryl and
//   N-sulfonyl rings), flat as the ring statistics, which mix them with
//   amines, no longer say;
// - sp centres straight, where the angle statistics know only bent
//   two-connected nitrogens.
// At every level, too, the paths round the bonds of an aromatic ring of
// LARGE_RING atoms or more, flat, the ring's own paths cis as the holds'
// aromatic rings are: the statistics have one median for such a ring's
// torsions, 178 degrees, and would buckle a porphyrin. With every hold,
// besides, the ring paths of chairs (`chair_rings`), from CHAIR_TORSION_LOW
// to the ring statistics' upper end, 64.4 degrees.
class HeldBounds final : public BoundsPreferences {
public:
    HeldBounds(const ConformerHolds& holds, Holds level);
    const RingContext* rings() const override { return &context_.rings; }
    std::optional<std::pair<double, double>> bond_range(std::uint32_t bond) const override;
    std::optional<std::pair<double, double>> angle_window(std::uint32_t centre, std::uint32_t a,
                                                          std::uint32_t c) const override;
    std::optional<std::pair<double, double>> ring_torsion(std::uint32_t ring, std::uint32_t a,
                                                          std::uint32_t d) const override;
    std::optional<std::pair<double, double>> chain_torsion(std::uint32_t bond, std::uint32_t a,
                                                           std::uint32_t d) const override;
    // Whether these bounds differ from another level's anywhere.
    bool differs_from(const HeldBounds& other) const { return !(rules_ == other.rules_); }

private:
    const MoleculeContext& context_;
    BoundsRules rules_;
};

// Every group of every hold, found once per molecule: the conformer is made
// from several embeddings, with and without the holds.
class ConformerHolds {
public:
    explicit ConformerHolds(const core::MolBuilder& mol);
    ConformerHolds(const ConformerHolds&) = delete;
    ConformerHolds& operator=(const ConformerHolds&) = delete;

    const MoleculeContext& context() const { return context_; }
    // The groups of one kind, of whatever type.
    const HeldGroups& found(HoldKind kind) const { return groups_[static_cast<std::size_t>(kind)]; }
    // The groups of one kind; the type must be the kind's.
    template <class Group>
    const std::vector<Group>& groups(HoldKind kind) const {
        return std::get<std::vector<Group>>(groups_[static_cast<std::size_t>(kind)]);
    }
    const BoundsPreferences& bounds(Holds holds) const {
        switch (holds) {
            case Holds::All: return held_;
            case Holds::Shapes: return shapes_;
            case Holds::Lengths: return lengths_;
            case Holds::None: break;
        }
        return plain_;
    }
    // Adds the terms of every kind the level holds to a function of the
    // bounds and chiral volumes. A ring the embedding folded into a boat
    // stays one under its windows alone, so each chair is held in one of its
    // two forms (torsion signs alternating round the ring): the one that puts
    // more heavy substituents equatorial, as they mostly are, or on a tie the
    // one whose signs agree more with `start`, the coordinates the refinement
    // starts from. Fused chairs take the forms their fusions allow.
    void add_terms(ErrorFunction& f, Holds holds, std::span<const double> start) const;
    // Whether this level holds anything the level below it does not.
    bool anything_held(Holds holds) const;
    // Whether the molecule has a ring of LARGE_RING carbons or more, all sp3
    // (a large cycloalkane): its first embedding, a symmetric crown, closes
    // with every ring torsion gauche and every angle open, and only a fresh
    // embedding finds the staggered corners with anti sides that take
    // chain-like angles.
    bool large_carbocycle() const;
    // How many groups each kind of hold above the lowest level holds, by the
    // kind's name, in table order: what a benchmark counts as given up when
    // a conformer is kept without its holds.
    std::vector<std::tuple<std::string_view, Holds, std::size_t>> census() const;

private:
    MoleculeContext context_;
    std::array<HeldGroups, HOLD_KIND_COUNT> groups_;
    HeldBounds plain_, lengths_, shapes_, held_;
};


}  // namespace quorix::conf
