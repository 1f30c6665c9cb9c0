#pragma once
// One deterministic 3-D conformer of a molecule: preparation (sanitise,
// cis/trans from directional bonds, explicit hydrogens in canonical order,
// chiral centres), then bounds, smoothing, embedding, the mirror vote and
// refinement with up to four deterministic retries; all of it once more
// with fewer holds when they leave a fault, and from fresh embeddings when
// the fold itself is wrong.
#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "chem/sanitize.hpp"
#include "conf/bounds.hpp"
#include "conf/chiral.hpp"
#include "conf/embed.hpp"
#include "conf/field.hpp"
#include "conf/holds.hpp"
#include "core/builder.hpp"

namespace quorix::conf {

struct ConformerResult {
    std::vector<Coord> coords;  // one per atom of the prepared molecule
    double energy_before = 0.0;
    double energy = 0.0;
    std::size_t iterations = 0;
    double grad_norm = 0.0;
    std::size_t spread = 0;
    std::size_t chiral_total = 0;
    std::size_t chiral_ok = 0;
    bool converged = false;
    bool mirrored = false;
};

// Beyond this many atoms (hydrogens included) the cubic steps would run for
// minutes and the dense matrices would take gigabytes; such a molecule is
// refused up front instead.
inline constexpr std::size_t MAX_CONFORMER_ATOMS = 1000;

namespace conformer_error {
struct InconsistentBounds { std::size_t i, j; bool operator==(const InconsistentBounds&) const = default; };
struct TooManyAtoms { std::size_t atoms, limit; bool operator==(const TooManyAtoms&) const = default; };
// Centres a ring system is too small to carry: a pair of bridgeheads one of
// which points into bridges too short to hold its substituent
// (`inward_bridgeheads`, found before any geometry).
struct ImpossibleStereo { std::vector<std::uint32_t> centres; bool operator==(const ImpossibleStereo&) const = default; };
// Double bonds whose stored cis/trans no embedding and no level of holds
// could build (a trans bond in a ring too small for it): each as its begin
// and end atom, in bond order. Refused rather than delivered as the other
// isomer.
struct ImpossibleDoubleBonds {
    std::vector<std::array<std::uint32_t, 2>> bonds;
    bool operator==(const ImpossibleDoubleBonds&) const = default;
};
}  // namespace conformer_error

struct ConformerError {
    std::variant<conformer_error::InconsistentBounds, EmbedError, chem::SanitizeError, conformer_error::TooManyAtoms,
                 conformer_error::ImpossibleStereo, conformer_error::ImpossibleDoubleBonds>
        kind;
    std::string to_string() const;
};

// Sanitises the molecule, perceives cis/trans, adds every hydrogen as an atom
// and lists the tetrahedral centres. On failure the molecule keeps whatever
// sanitisation changed.
std::expected<std::vector<ChiralConstraint>, chem::SanitizeError> prepare_for_conformer(core::MolBuilder& mol);

// How the delivered conformer was made: from which embedding (0 the upper
// bounds', k the k-th fresh one), with or without the holds, and the faults
// it kept. Benchmarks count it; nothing else reads it.
struct ConformerTrace {
    std::uint64_t embedding = 0;
    Holds holds = Holds::All;
    std::size_t chiral_wrong = 0, flipped = 0, violations = 0, angle_faults = 0;
};

std::expected<ConformerResult, ConformerError> generate_conformer(const core::MolBuilder& mol,
                                                                  std::span<const ChiralConstraint> constraints,
                                                                  ConformerTrace* trace = nullptr);

// A conformer is first made with every hold (see `ConformerHolds`). When
// that conformer has a fault (a centre wrong, a stored cis/trans the other
// way, a bond outside its bounds, a bond angle far outside them), one is made
// with the shapes alone, then one with neither, each kept over the one
// before only when it has fewer faults, counted in that order; a faultless
// one made so is then refined again at each level above it that left a
// fault, highest first, without retries, and the first faultless result
// replaces it. When the one
// kept still has a stereo or angle fault, the same is done again from up to
// REEMBEDDINGS fresh embeddings (`sampled_distance_matrix`), and one with
// fewer faults replaces it. One whose `energy` exceeds STRAINED is made again
// from up to STRAIN_REEMBEDDINGS of them too (up to STRAIN_REEMBEDDING_ATOMS
// atoms), and so is a large cycloalkane from up to REEMBEDDINGS (see
// `ConformerHolds::large_carbocycle`); one with as few faults at
// the same level of holds (`ConformerTrace::holds`) replaces it when the
// function it was refined on, holds included, ends lower. A run without a
// fault is refined once more, briefly, towards the middle of its windows,
// and kept unless that leaves a fault; its `iterations` and `converged` stay
// those of the refinement, its `energy` is measured after it (the bounds may
// be missed by a little), and STRAINED is judged before it.
inline constexpr std::size_t REEMBEDDINGS = 4;
inline constexpr std::size_t STRAIN_REEMBEDDINGS = 2;
// A molecule of more atoms than this is made again only for a fault: its
// strain is spread over many small misses rather than one wrong fold, which
// a fresh embedding, at the cost of a cubic eigen-decomposition and a whole
// refinement, rarely lowers (none of a cyclosporin's two did).
inline constexpr std::size_t STRAIN_REEMBEDDING_ATOMS = 100;
inline constexpr double STRAINED = 0.03;
// One of more atoms whose `energy` exceeds LARGE_STRAINED is made again, with
// the same choice, from the embeddings of target distances BETWEEN_FRACTIONS
// of the way from each pair's lower bound to its upper one
// (`between_distance_matrix`), in turn while it stays above it. Their
// embedding numbers (`ConformerTrace::embedding`) start at
// BETWEEN_EMBEDDINGS. Over 101 atom orders of paclitaxel, the energy's 90th
// percentile went from 0.110 to 0.069 (the largest from 0.150 to 0.083), and
// the shortest sp3 C-C bond from 1.455 A to 1.479.
inline constexpr double LARGE_STRAINED = 0.06;
inline constexpr std::array<double, 2> BETWEEN_FRACTIONS{0.5, 0.8};
inline constexpr std::uint64_t BETWEEN_EMBEDDINGS = 1000;
// A conformer whose atoms all lie within FLAT_TOLERANCE (Å) of one plane is
// turned about its centroid into a plane of constant z, and every z is then
// set to exactly 0, so that a reader that calls a block with every z zero a
// drawing sees a flat molecule as flat. The refinement leaves flat aromatics
// within some 1e-3 Å of their plane (82 of the real data's conformers lie
// within 0.01 Å); pressed into it, no atom moves further than the
// tolerance, which changes no bond length by 1e-4 Å nor a torsion by a
// degree. Beyond it lie molecules puckered within their planar tolerances
// (p-benzoquinone by 0.04 Å): what the refinement chose, left as it is.
inline constexpr double FLAT_TOLERANCE = 0.01;

// The error function the refinement minimises: the smoothed bounds, the
// chiral constraints and the terms of the holds (see `ConformerHolds`), for
// a refinement from `start`. The first refinement of an embedding runs on the
// bounds and chiral constraints alone, and the holds' function is made from
// its result.
ErrorFunction conformer_field(const ConformerHolds& held, const DistanceBounds& bounds,
                              std::span<const ChiralConstraint> constraints, Holds holds,
                              std::span<const double> start);

// Preparation then generation on the caller's molecule (changed in place).
std::expected<ConformerResult, ConformerError> conformer_for(core::MolBuilder& mol);

// Bonds whose length misses its smoothed bounds by more than 0.1 A.
std::size_t count_bond_violations(std::span<const double> flat, const core::MolBuilder& mol,
                                  const DistanceBounds& bounds);
// Atoms with a pair of neighbours further outside their smoothed bounds than
// ANGLE_FAULT_TOLERANCE (or at a lost coordinate): a bond angle well beyond
// its window (for C-C-C some 13 degrees; wider angles and shorter bonds need
// more), such as a bridgehead pressed flat because the embedding put it
// inside out. No refinement undoes that fold.
inline constexpr double ANGLE_FAULT_TOLERANCE = 0.2;
std::size_t count_angle_faults(std::span<const double> flat, const core::MolBuilder& mol,
                               const DistanceBounds& bounds);
// Double bonds with a stored cis/trans some pair of whose substituents lies
// the other way, or within DOUBLE_BOND_MARGIN degrees of square across: a
// reader taking those two as reference atoms would read the other
// configuration, or a double bond twisted so far that its pi bond is mostly
// broken: a strained ring pressed to 91 degrees reads as trans, yet a force
// field lets it fall either way: ten-ring trienes built at 103 degrees all
// fell to cis under MMFF94 minimisation, where the eight-rings' trans bonds,
// held at some 125, stayed trans.
inline constexpr double DOUBLE_BOND_MARGIN = 20.0;
std::size_t count_flipped_double_bonds(std::span<const double> flat, const core::MolBuilder& mol);
// Those bonds, by index, ascending.
std::vector<std::uint32_t> flipped_double_bonds(std::span<const double> flat, const core::MolBuilder& mol);
// Constraints whose signed volume is nonzero with the target's sign.
std::size_t count_chiral_ok(std::span<const double> flat, std::span<const ChiralConstraint> constraints);

// The perturbation of flat coordinate i in retry k, in [-0.1k, 0.1k).
double retry_offset(std::uint64_t k, std::uint64_t i);

// Target distances for the k-th fresh embedding (k >= 1) of a conformer
// whose first one folded wrongly: every pair of one piece at a point of its
// smoothed bounds fixed by the retry hash of (k, i*n + j); pairs whose upper
// bound is still UNBOUNDED keep it, as in `full_distance_matrix`.
std::vector<double> sampled_distance_matrix(const DistanceBounds& bounds, std::uint64_t k);
// Target distances `fraction` of the way from every pair's smoothed lower
// bound to its upper one, the same for every pair of one piece; pairs whose
// upper bound is still UNBOUNDED keep it.
std::vector<double> between_distance_matrix(const DistanceBounds& bounds, double fraction);
// The target distances of embedding number `embedding`: the upper bounds
// (0), a sampled matrix (1 to REEMBEDDINGS), or a matrix between the bounds
// (from BETWEEN_EMBEDDINGS on).
std::vector<double> target_distances(const DistanceBounds& bounds, std::uint64_t embedding);

}  // namespace quorix::conf
