#pragma once
// Distance bounds from chemistry alone: bonded pairs from bond lengths, pairs
// sharing a neighbour from bond angles, pairs three bonds apart from torsions,
// and every other pair from van der Waals radii.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/builder.hpp"

namespace quorix::conf {

// n x n: the upper bound of a pair i < j at i*n + j, its lower bound at j*n + i.
struct DistanceBounds {
    std::size_t n = 0;
    std::vector<double> values;

    // Either order names the same pair.
    double upper(std::size_t i, std::size_t j) const { return values[i < j ? i * n + j : j * n + i]; }
    double lower(std::size_t i, std::size_t j) const { return values[i < j ? j * n + i : i * n + j]; }
    double& upper(std::size_t i, std::size_t j) { return values[i < j ? i * n + j : j * n + i]; }
    double& lower(std::size_t i, std::size_t j) { return values[i < j ? j * n + i : i * n + j]; }
};

// Every entry above the diagonal `upper`, below it `lower`, the diagonal 0.
DistanceBounds smooth_matrix_init(std::size_t n, double lower, double upper);

// The upper bound of a pair no rule reaches. Smoothing never raises an upper
// bound, so a smoothed pair still at it joins two pieces.
inline constexpr double UNBOUNDED = 1000.0;

struct BondLengthEstimate {
    double length = 0.0;  // Å
    bool from_statistics = false;
};

struct AngleEstimate {
    double angle = 0.0;  // radians
    double lower = 0.0;  // fallback window, radians
    double upper = 0.0;
    bool from_statistics = false;
};

BondLengthEstimate estimate_bond_length(std::uint8_t atomic_num_a, std::uint8_t atomic_num_b, core::BondOrder order,
                                        std::size_t ring_size);
AngleEstimate estimate_bond_angle(std::uint8_t centre_atomic_num, std::size_t degree, std::uint8_t aromatic,
                                  std::size_t centre_ring, std::size_t angle_ring);
// The torsion window (degrees) around a bond of a ring of this kind.
std::pair<double, double> stats_lookup(std::size_t ring_size, bool aromatic, bool all_sp3);

// A double bond with a cis/trans value and both reference atoms.
bool has_stored_configuration(const core::Bond& bond);
// Whether substituents a (of the bond's begin) and d (of its end) are cis
// under the bond's stored configuration.
bool stored_cis(const core::Bond& bond, std::uint32_t a, std::uint32_t d);

// Preferences the conformer pipeline adds to the bounds' own rules.
struct BoundsOptions {
    // Every secondary amide (see `planar_amides`) trans: across its C-N bond
    // the nitrogen's heavy neighbour cis to the oxygen or sulfur, its
    // hydrogen cis to the carbon's other neighbour, as if the bond were a
    // configured double bond. Left out, those torsions run from 0 to 180.
    bool trans_amides = false;
};

// Never fails on a well-formed molecule; no atoms give an empty matrix.
DistanceBounds build_bounds(const core::MolBuilder& mol, BoundsOptions options = {});

// Four atoms a-b-c-d held at torsion 0 (cis) or 180 by the error function.
struct PlanarFour {
    std::array<std::uint32_t, 4> atoms{};
    bool cis = false;
    bool operator==(const PlanarFour&) const = default;
};

// Every substituent pair across a chain double bond whose ends are not linear,
// with the stated cis/trans or, without one, the arrangement `build_bounds`
// chooses. In bond order, then neighbour order. Nothing is recorded on the
// molecule.
std::vector<PlanarFour> planar_double_bonds(const core::MolBuilder& mol);

// The ring path around every bond of an aromatic ring (a-b-c-d all in the
// first aromatic ring of the ring list that has b-c as an edge), all cis. In
// bond order, then neighbour order.
std::vector<PlanarFour> planar_aromatic_rings(const core::MolBuilder& mol);

// Around every amide C-N bond outside the rings (a carbon double-bonded to
// oxygen or sulfur X, single-bonded to a nitrogen with three neighbours:
// amides, thioamides, carbamates, ureas): the group X=C-N-Y for each other
// neighbour Y of the nitrogen. `cis` tells the arrangement the bounds give a
// secondary amide (one hydrogen, one heavy neighbour that is not itself such
// a carbon: an imide cannot put both carbonyls trans without their oxygens
// meeting); every other amide may lie either way and has `cis` false. In bond
// order, then neighbour order.
std::vector<PlanarFour> planar_amides(const core::MolBuilder& mol);

// Around every amide C-N bond of a ring (a lactam), the groups X=C-N-Y as
// `planar_amides` makes them, all with `cis` false: the ring tells cis from
// trans. In bond order, then neighbour order.
std::vector<PlanarFour> planar_lactams(const core::MolBuilder& mol);

// The ring path a-b=c-d around every C=C and C=N double bond of a ring whose
// ends are not linear (a and d in the smallest ring holding b and c): cis, or
// as stated when the bond carries a configuration. In bond order, then
// neighbour order.
std::vector<PlanarFour> planar_ring_double_bonds(const core::MolBuilder& mol);

// Every carbon with three neighbours, sp2 and not aromatic (carbonyl and
// thiocarbonyl carbons, the carbons of C=C and C=N bonds), with its
// neighbours: atoms {n0, c, n1, n2}, neighbours in neighbour order, so that
// the volume about c (see `add_flatness_terms`) is zero when the four lie in
// one plane. In atom order.
std::vector<PlanarFour> planar_sp2_carbons(const core::MolBuilder& mol);

// A substituent's first atom s on an aromatic atom a with exactly two
// aromatic bonds, to r1 and r2: atoms {s, a, r1, r2}. `shares_ring` when the
// bond a-s lies in a ring (a fused or bridged substituent).
struct RingSubstituent {
    std::array<std::uint32_t, 4> atoms{};
    bool shares_ring = false;
    bool operator==(const RingSubstituent&) const = default;
};

// Every such substituent, in atom order of a, then neighbour order.
std::vector<RingSubstituent> aromatic_substituents(const core::MolBuilder& mol);

}  // namespace quorix::conf
