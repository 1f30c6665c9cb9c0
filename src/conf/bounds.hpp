#pragma once
// Distance bounds from chemistry alone: bonded pairs from bond lengths, pairs
// sharing a neighbour from bond angles, pairs three bonds apart from torsions,
// and every other pair from van der Waals radii.
#include <array>
#include <optional>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "conf/ring_context.hpp"
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

// The half-widths of a bond length's and an angle's window about their
// typical values (Å, degrees).
inline constexpr double LENGTH_HALF_WIDTH = 0.01;
inline constexpr double ANGLE_HALF_WIDTH = 2.5;

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

// N, O and F, atoms with lone pairs.
bool lone_pair_atom(std::uint8_t z);
// The share of the van der Waals sum that atoms of elements a and b four
// bonds apart keep as their lower bound: FOUR_BONDS_FACTOR for most pairs.
// Two lone-pair atoms keep 0.85, about a hydrogen bond's distance
// (salicylic acid's O...O 2.6 A): at 0.7 an OH met a fluorine at 2.1. A
// carbon and a lone-pair atom keep 0.8 (2.6 A for C...O): at 0.7 an amide's
// oxygen met the ipso carbon of the phenyl on its nitrogen's neighbour at
// 2.3, where crystal structures put such 1-5 pairs no closer than some 2.7
// (a peptide's O...C-beta).
inline constexpr double FOUR_BONDS_FACTOR = 0.7;
// A carbon's fluorine accepts next to no hydrogen bond: crystal structures
// put O-H and N-H donors no nearer a C-F fluorine than some 2.9-3.0 A
// (surveys of organofluorine contacts), where 0.85 let an ortho-fluoroaryl
// lie on a carbinol's hydroxyl at 2.55 and squeeze its angles.
inline constexpr double FLUORINE_LONE_PAIR_FACTOR = 0.95;
double four_bonds_factor(std::uint8_t a, std::uint8_t b);

// A double bond with a cis/trans value and both reference atoms.
bool has_stored_configuration(const core::Bond& bond);
// Whether substituents a (of the bond's begin) and d (of its end) are cis
// under the bond's stored configuration.
bool stored_cis(const core::Bond& bond, std::uint32_t a, std::uint32_t d);

// A trans double bond in a ring of up to TWISTED_RING_MAX atoms cannot lie
// flat: (E)-cyclooctene's C-C=C-C torsion is some 137 degrees in its
// computed and crystal structures, the pairs of its other substituents
// twisted alike, and more unsaturation in the ring twists it further. The
// bounds give its trans pairs TWISTED_TRANS_LOW to TWISTED_TRANS_HIGH
// degrees, its cis pairs 0 (its carbons may pyramidalise) to the
// supplement of the low end.
inline constexpr std::size_t TWISTED_RING_MAX = 8;
inline constexpr double TWISTED_TRANS_LOW = 120.0, TWISTED_TRANS_HIGH = 150.0;
// The ring path's torsion the holds keep it at.
inline constexpr double TWISTED_TRANS_TORSION = 137.0;
// Such a ring opens its angles beyond their typical windows to close round
// the twist: (E)-cyclooctene's C=C-C angles reach some 126 degrees and its
// C-C-C angles 117, a few degrees beyond those of unstrained rings. Each
// ring angle's upper end rises by this much.
inline constexpr double TWISTED_RING_ANGLE_OPENING = 5.0;
// Whether bond `bi` is a double bond with a stored cis/trans that puts its
// neighbours in its smallest ring, of at most TWISTED_RING_MAX atoms, trans;
// and that ring path a-b=c-d, b the bond's begin.
bool twisted_by_ring(const core::MolBuilder& mol, const RingContext& rings, std::uint32_t bi);
std::optional<std::array<std::uint32_t, 4>> twisted_ring_path(const core::MolBuilder& mol, const RingContext& rings,
                                                               std::uint32_t bi);

// What the conformer pipeline settles beyond the bounds' own rules (see
// conf/holds.hpp). A window given here replaces the rule's; none keeps it.
class BoundsPreferences {
public:
    virtual ~BoundsPreferences() = default;
    // The molecule's ring list when the caller has it already; none has the
    // bounds perceive it.
    virtual const RingContext* rings() const { return nullptr; }
    // The length range (Å) of a bond.
    virtual std::optional<std::pair<double, double>> bond_range(std::uint32_t /*bond*/) const { return std::nullopt; }
    // The angle window (degrees) at a centre with fewer than five neighbours
    // between two of them.
    virtual std::optional<std::pair<double, double>> angle_window(std::uint32_t /*centre*/, std::uint32_t /*a*/,
                                                                  std::uint32_t /*c*/) const {
        return std::nullopt;
    }
    // The torsion window (degrees) of a path a-b-c-d around a bond of
    // `ring` (the index in the ring list of the smallest ring holding b and
    // c), the ring aromatic, planar or all sp3; a and d in the ring or not.
    virtual std::optional<std::pair<double, double>> ring_torsion(std::uint32_t /*ring*/, std::uint32_t /*a*/,
                                                                  std::uint32_t /*d*/) const {
        return std::nullopt;
    }
    // The torsion window (degrees) of the path a-b-c-d across `bond` (b-c), a
    // bond that carries no stored cis/trans, in no ring or in one whose
    // statistics have no torsions for it (neither aromatic, nor planar, nor
    // all sp3).
    virtual std::optional<std::pair<double, double>> chain_torsion(std::uint32_t bond, std::uint32_t a,
                                                                   std::uint32_t d) const = 0;
};

// Never fails on a well-formed molecule; no atoms give an empty matrix.
DistanceBounds build_bounds(const core::MolBuilder& mol, const BoundsPreferences* preferences = nullptr);

}  // namespace quorix::conf
