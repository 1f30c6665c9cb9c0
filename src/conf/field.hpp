#pragma once
// The error function the refinement minimises: flat-bottomed penalties on every
// pair distance outside its bounds and on every chiral volume outside its
// window, zero exactly when every bound and window holds; the holds add
// terms of their own, and the last run adds springs (see `add_spring_terms`).
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "conf/bounds.hpp"
#include "conf/chiral.hpp"
#include "conf/geometry.hpp"

namespace quorix::conf {

// Four atoms a-b-c-d held at torsion 0 (cis) or 180 by the error function.
struct PlanarFour {
    std::array<std::uint32_t, 4> atoms{};
    bool cis = false;
    bool operator==(const PlanarFour&) const = default;
};

// A substituent's first atom s on an aromatic atom a with exactly two
// aromatic bonds, to r1 and r2: atoms {s, a, r1, r2}. `shares_ring` when the
// bond a-s lies in a ring (a fused or bridged substituent).
struct RingSubstituent {
    std::array<std::uint32_t, 4> atoms{};
    bool shares_ring = false;
    bool operator==(const RingSubstituent&) const = default;
};

// Where a held torsion a-b-c-d may rest: at 0 or 180 degrees (a conjugated
// link, which may lie either way), at 60, 180 or 300 (staggered, a single
// bond between tetrahedral atoms), at 180 alone (anti, a chain's carbons),
// `twist` or 180 - `twist` off (a biaryl, whose rings' ortho hydrogens keep
// it from lying flat), at least TWIST_LOW from 0 and 180 (a conjugated link
// crowded out of its plane), near 60, 180 or 300 more closely (a
// macrocycle's ring bond, which its ring closes), between CHAIR_TORSION_LOW and
// CHAIR_TORSION_HIGH of the sign `negative` gives (a chair's ring path, whose
// signs alternate round the ring), at 0 alone (a conjugated link that
// must lie one way, as an aryl ether with a crowded ortho side), within
// SYN_TOLERANCE of 0 (a hydrogen turned towards a group it spares), at
// 180 - `twist` alone (a trans double bond its small ring twists), or
// `twist` off cis alone (an anilide's ring, turned from its carbonyl's
// side).
enum class TorsionWells : std::uint8_t {
    Planar,
    Staggered,
    Chair,
    Anti,
    Twisted,
    Crowded,
    RingStaggered,
    Cis,
    Syn,
    TransTwisted,
    NearCis
};

struct HeldTorsion {
    std::array<std::uint32_t, 4> atoms{};
    TorsionWells wells = TorsionWells::Planar;
    bool negative = false;
    double twist = 0.0;  // radians, for `Twisted`
    bool operator==(const HeldTorsion&) const = default;
};

// The angle a-b-c of an sp centre b, held straight.
struct StraightAngle {
    std::array<std::uint32_t, 3> atoms{};
    bool operator==(const StraightAngle&) const = default;
};

// The angle a-b-c held within [lower, upper] (radians).
struct WindowAngle {
    std::array<std::uint32_t, 3> atoms{};
    double lower = 0.0, upper = 0.0;
    bool operator==(const WindowAngle&) const = default;
};

// The distance of a and b held within [lower, upper] (Å).
struct WindowLength {
    std::array<std::uint32_t, 2> atoms{};
    double lower = 0.0, upper = 0.0;
    bool operator==(const WindowLength&) const = default;
};

// A distance drawn towards a target (Å) with a weight.
struct DistanceSpring {
    std::array<std::uint32_t, 2> atoms{};
    double target = 0.0;
    double weight = 0.0;
    bool operator==(const DistanceSpring&) const = default;
};

// An amine nitrogen and its three neighbours: {centre, n0, n1, n2}.
struct PyramidalCentre {
    std::array<std::uint32_t, 4> atoms{};
    bool operator==(const PyramidalCentre&) const = default;
};

// A nitrogen conjugated with a ring through ring atom c: atoms {c, r1, r2,
// y1, y2}, r1 and r2 c's ring neighbours, y1 and y2 the nitrogen's other
// neighbours. The plane of c, y1 and y2 (the nitrogen's neighbours) is held
// near the ring's plane at c, which leaves the nitrogen free to stay a
// little pyramidal.
struct ConjugatedNitrogen {
    std::array<std::uint32_t, 5> atoms{};
    bool operator==(const ConjugatedNitrogen&) const = default;
};

struct ErrorFunction {
    // The squares of the bounds, which the distance terms compare with
    // squared distances: n * n, entry i*n + j for i < j, the rest 0 and unread.
    std::vector<double> lower_sq;
    std::vector<double> upper_sq;
    std::vector<ChiralConstraint> constraints;
    std::size_t n = 0;
    // PLANAR_TOLERANCE, FLAT_VOLUME_TOLERANCE (flat groups and aromatic
    // substituents), PLANAR_LINK_TOLERANCE, STAGGER_TOLERANCE and
    // RING_STAGGER_TOLERANCE times this: 1 for a refinement, which stops at
    // their edges, 0 for a last run that draws each to its well. Ring double
    // bonds keep their tolerance, which lets a ring pucker as its angles ask;
    // windows (twisted, crowded, chair, straight) keep theirs.
    double tolerance_scale = 1.0;
    // When not empty, the distance terms read only these pairs (i * n + j,
    // i < j; see `keep_near_pairs`), every pair otherwise.
    std::vector<std::uint32_t> pairs;
    // Pairs (i * n + j, i < j) whose lower bound costs CONTACT_WALL_WEIGHT
    // times the plain penalty when missed.
    std::vector<std::uint32_t> walls;
    // Four-atom groups held at their torsion (see `add_planarity_terms`).
    std::vector<PlanarFour> planar;
    // Four-atom groups held coplanar by their volume (see `add_flatness_terms`).
    std::vector<PlanarFour> flat;
    // Ring paths across ring double bonds, held flat more loosely (see
    // `add_ring_double_bond_terms`).
    std::vector<PlanarFour> ring_double_bonds;
    // Aromatic substituents held in their ring's plane (see `add_substituent_terms`).
    std::vector<RingSubstituent> substituents;
    // Torsions held near a well (see `add_torsion_terms`).
    std::vector<HeldTorsion> torsions;
    // Angles held straight (see `add_straight_terms`).
    std::vector<StraightAngle> straight;
    // Centres held pyramidal (see `add_pyramid_terms`).
    std::vector<PyramidalCentre> pyramids;
    // Nitrogens held in their ring's plane (see `add_conjugated_terms`).
    std::vector<ConjugatedNitrogen> conjugated;
    // Angles held inside a window (see `add_window_angle_terms`).
    std::vector<WindowAngle> angles;
    // Bond lengths held inside a window (see `add_window_length_terms`).
    std::vector<WindowLength> lengths;
    // Distances drawn towards a target (see `add_spring_terms`).
    std::vector<DistanceSpring> springs;
};

// The bounds are read, not kept. A constraint naming an atom outside the
// bounds is an internal error.
ErrorFunction build_chiral_terms(const DistanceBounds& bounds, std::span<const ChiralConstraint> constraints);

// Holds each group's torsion within PLANAR_TOLERANCE (radians, 4 degrees) of
// its 0 or 180 degrees; beyond it the penalty is the square of the excess. A
// refinement stops a little past the edge of the window, so 4 degrees keeps
// double bonds within 5. A group naming an atom outside the function is an
// internal error.
inline constexpr double PLANAR_TOLERANCE = 4.0 * DEG_TO_RAD;
void add_planarity_terms(ErrorFunction& f, std::span<const PlanarFour> groups);

// Holds each group's volume (a - b) . ((c - b) x (d - b)) within
// FLAT_VOLUME_TOLERANCE (cubic ångström, some 1.5 degrees of ring torsion) of
// zero; beyond it the penalty is FLAT_WEIGHT times the square of the excess.
// Unlike a torsion, the volume has no singular gradient when three of the
// atoms fall in line, and in a ring the distance bounds tell cis from trans.
// A weight near that of the distance terms lets strained fused rings share
// their strain instead of trading bond lengths for flatness.
inline constexpr double FLAT_VOLUME_TOLERANCE = 0.05;
inline constexpr double FLAT_WEIGHT = 0.1;
void add_flatness_terms(ErrorFunction& f, std::span<const PlanarFour> groups);

// Holds ring paths across ring double bonds like `add_flatness_terms`, but
// only within RING_DOUBLE_BOND_TOLERANCE (cubic ångström, some 5 degrees of
// torsion): a ring whose angles ask for a little pucker keeps it instead of
// leaving its bounds.
inline constexpr double RING_DOUBLE_BOND_TOLERANCE = 0.2;
void add_ring_double_bond_terms(ErrorFunction& f, std::span<const PlanarFour> groups);

// Holds each substituent's volume (s - a) . ((r1 - a) x (r2 - a)) within
// FLAT_VOLUME_TOLERANCE of zero (some 1.5 degrees out of the plane of a, r1
// and r2), with FLAT_WEIGHT times the square of the excess, or
// SHARED_SUBSTITUENT_WEIGHT for one that shares a ring with its aromatic atom:
// there the other ring's bounds decide, and a bridge that cannot lie flat
// keeps its lengths and angles.
inline constexpr double SHARED_SUBSTITUENT_WEIGHT = 0.01;
void add_substituent_terms(ErrorFunction& f, std::span<const RingSubstituent> groups);

// Holds each torsion within its wells' tolerance of the nearest well:
// PLANAR_LINK_TOLERANCE (radians) of 0 or 180 degrees with LINK_WEIGHT, or
// STAGGER_TOLERANCE of 60, 180 or 300 (or of 180 alone, anti) with
// STAGGER_WEIGHT; beyond it the
// penalty is the weight times the square of the excess. Both weights lie well
// below the distance terms' stiffness, so a ring or a crowded neighbour that
// cannot take the well keeps its bounds. A chair's torsion is held inside its
// signed window with CHAIR_WEIGHT, strong enough to flip a boat through the
// ring's 1-4 windows. A torsion with collinear atoms is undefined and free.
inline constexpr double PLANAR_LINK_TOLERANCE = 5.0 * DEG_TO_RAD;
inline constexpr double LINK_WEIGHT = 0.05;
inline constexpr double STAGGER_TOLERANCE = 10.0 * DEG_TO_RAD;
inline constexpr double STAGGER_WEIGHT = 0.1;
// A refinement stops at the edge of a flat-bottomed well, so a macrocycle,
// whose ring bonds all reach their wells from the same side as the ring
// closes, comes out that far off every well: 18-crown-6's O-C-C-O at 45
// degrees with 15. Its ring still overrides a well it cannot take.
inline constexpr double RING_STAGGER_TOLERANCE = 7.5 * DEG_TO_RAD;
// A six-membered ring whose every torsion lies between 45 and 65 degrees is a
// chair; boats and twist-boats have torsions near 0 or 30.
inline constexpr double CHAIR_TORSION_LOW_DEGREES = 45.0;
inline constexpr double CHAIR_TORSION_LOW = CHAIR_TORSION_LOW_DEGREES * DEG_TO_RAD;
inline constexpr double CHAIR_TORSION_HIGH = 65.0 * DEG_TO_RAD;
inline constexpr double CHAIR_WEIGHT = 1.0;
// A twisted torsion is held within TWIST_TOLERANCE of its well with
// LINK_WEIGHT: a biaryl's well is shallow, some 8 kJ/mol to planar or
// perpendicular.
inline constexpr double TWIST_TOLERANCE = 10.0 * DEG_TO_RAD;
// A trans double bond its small ring twists (`TransTwisted`) is held within
// TWIST_TOLERANCE of pi less its twist, on the trans side whichever side it
// starts, with CHAIR_WEIGHT: strong enough to carry it through the 1-4
// windows, which map torsions to distances only loosely.
// A crowded link is held at least TWIST_LOW out of its plane with
// LINK_WEIGHT.
inline constexpr double TWIST_LOW = 35.0 * DEG_TO_RAD;
// A near-cis torsion is held within NEAR_CIS_TOLERANCE of its twist with
// LINK_WEIGHT: an anilide's ring turns some 15 to 25 degrees in crystal
// structures (see `anilide_side`).
inline constexpr double NEAR_CIS_TOLERANCE = 5.0 * DEG_TO_RAD;
// A syn torsion is held within SYN_TOLERANCE of 0 with STAGGER_WEIGHT: an
// aryl ether's methine hydrogen lies 0 to 40 degrees off its aryl carbon.
inline constexpr double SYN_TOLERANCE = 35.0 * DEG_TO_RAD;
void add_torsion_terms(ErrorFunction& f, std::span<const HeldTorsion> groups);

// Holds each angle within STRAIGHT_TOLERANCE (radians) of 180 degrees, with
// STRAIGHT_WEIGHT times the square of the excess: near 180 degrees the 1-3
// distance hardly changes, so its bounds let an sp centre bend by 15.
inline constexpr double STRAIGHT_TOLERANCE = 1.0 * DEG_TO_RAD;
inline constexpr double STRAIGHT_WEIGHT = 1.0;
void add_straight_terms(ErrorFunction& f, std::span<const StraightAngle> groups);

// Holds each angle inside its window, with ANGLE_WALL_WEIGHT times the
// square of the excess (radians): a wall, not a spring. The 1-3 bounds hold
// an angle only through a distance whose penalty grows slowly, and in a
// large ring the torsions and the transannular contacts outweigh it and
// open ring angles to 130 degrees; at this weight ten degrees past the wall
// cost as much as three or four ring torsions at the far side of their
// wells.
inline constexpr double ANGLE_WALL_WEIGHT = 10.0;
void add_window_angle_terms(ErrorFunction& f, std::span<const WindowAngle> groups);

// Holds each distance inside its window with LENGTH_WALL_WEIGHT times the
// square of the excess (Å): the distance terms, relative, barely resist a
// few hundredths of an ångström, and a large ring held against its angle
// walls and torsions pressed its C-O bonds to 1.37.
inline constexpr double LENGTH_WALL_WEIGHT = 30.0;
void add_window_length_terms(ErrorFunction& f, std::span<const WindowLength> groups);

// Restricts the distance terms to the pairs within `margin` (Å) of a bound
// at x, or outside one: for a run that moves no atom far, the rest add
// nothing. With no such pair the terms read every pair, as before.
void keep_near_pairs(ErrorFunction& f, std::span<const double> x, double margin);
// A wall's lower bound, missed, costs this many times the plain penalty (see
// `ErrorFunction::walls`).
inline constexpr double CONTACT_WALL_WEIGHT = 10.0;

// Draws each distance towards its target with its weight times the square
// of the deviation (Å). Bonds take BOND_SPRING_WEIGHT and the 1-3 distances
// of bond angles ANGLE_SPRING_WEIGHT (1e-5 to 2.5e-5 per square degree), a
// sixth of the distance terms' stiffness just past a bound: a stiffer angle
// spring twists conjugated links and ring amides out of their planes.
inline constexpr double BOND_SPRING_WEIGHT = 0.5;
inline constexpr double ANGLE_SPRING_WEIGHT = 0.1;
inline constexpr double LARGE_RING_SPRING_WEIGHT = 1.0;
void add_spring_terms(ErrorFunction& f, std::span<const DistanceSpring> springs);

// Holds each centre's pyramid: the triple product of its three unit bond
// vectors at least PYRAMID_HEIGHT in magnitude (0.72 is three angles of 111
// degrees; 0 is flat), with PYRAMID_WEIGHT times the square of the shortfall.
// Either side will do: an amine inverts freely.
inline constexpr double PYRAMID_HEIGHT = 0.72;
inline constexpr double PYRAMID_WEIGHT = 1.0;
void add_pyramid_terms(ErrorFunction& f, std::span<const PyramidalCentre> groups);

// Holds the angle between each group's two planes within CONJUGATED_TWIST
// (radians): below the cosine of that angle, the penalty is
// CONJUGATED_WEIGHT times the square of the shortfall. Either face will do.
// 15 degrees (a reference force field twists anilines by 10) lets a
// pyramidal nitrogen keep its angles; the weight, below the distance terms',
// lets an ortho neighbour twist it further.
inline constexpr double CONJUGATED_TWIST = 15.0 * DEG_TO_RAD;
inline constexpr double CONJUGATED_WEIGHT = 0.2;
void add_conjugated_terms(ErrorFunction& f, std::span<const ConjugatedNitrogen> groups);

// The torsion a-b-c-d (radians, in (-pi, pi]) at x; NaN where collinear atoms
// leave it undefined.
double torsion_angle(const std::array<std::uint32_t, 4>& atoms, std::span<const double> x);

// Non-finite coordinates give NaN for the value and every gradient entry.
double field_energy(const ErrorFunction& f, std::span<const double> x, std::span<double> gradient);

// Penalty of the volume a0 . (a1 x a2) outside [lower, upper] (or its negation
// for a negative target); its gradient goes to the atoms the vectors point to
// and, negated, to the apex they start from.
double chiral_volume_term(const std::array<double, 3>& a0, const std::array<double, 3>& a1,
                          const std::array<double, 3>& a2, const std::array<std::uint32_t, 3>& indices,
                          std::uint32_t apex, std::span<double> gradient, double target, double lower_magnitude,
                          double upper_magnitude);

}  // namespace quorix::conf
