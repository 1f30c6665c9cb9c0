#pragma once
// The error function the refinement minimises: flat-bottomed penalties on every
// pair distance outside its bounds and on every chiral volume outside its
// window. Zero exactly when every bound and window holds.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "conf/bounds.hpp"
#include "conf/chiral.hpp"

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

struct ErrorFunction {
    std::vector<double> lower;  // n * n; entry i*n + j for i < j, the rest 0 and unread
    std::vector<double> upper;
    std::vector<ChiralConstraint> constraints;
    std::size_t n = 0;
    double chiral_weight = 1.0;
    // Four-atom groups held at their torsion (see `add_planarity_terms`).
    std::vector<PlanarFour> planar;
    // Four-atom groups held coplanar by their volume (see `add_flatness_terms`).
    std::vector<PlanarFour> flat;
    // Ring paths across ring double bonds, held flat more loosely (see
    // `add_ring_double_bond_terms`).
    std::vector<PlanarFour> ring_double_bonds;
    // Aromatic substituents held in their ring's plane (see `add_substituent_terms`).
    std::vector<RingSubstituent> substituents;

    // x: x0, y0, z0, x1, ... (at least 3n); the gradient is overwritten.
    double value_and_gradient(std::span<const double> x, std::span<double> gradient) const;
};

// The bounds are read, not kept. A constraint naming an atom outside the
// bounds is an internal error.
ErrorFunction build_chiral_terms(const DistanceBounds& bounds, std::span<const ChiralConstraint> constraints);

// Holds each group's torsion within PLANAR_TOLERANCE (radians, 4 degrees) of
// its 0 or 180 degrees; beyond it the penalty is the square of the excess. A
// refinement stops a little past the edge of the window, so 4 degrees keeps
// double bonds within 5. A group naming an atom outside the function is an
// internal error.
inline constexpr double PLANAR_TOLERANCE = 4.0 * 0.017453292519943295;
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

// Non-finite coordinates give NaN for the value and every gradient entry.
double field_energy(const ErrorFunction& f, std::span<const double> x, std::span<double> gradient);

// Penalty of the volume a0 . (a1 x a2) outside [lower, upper] (or its negation
// for a negative target); its gradient goes to the atoms the vectors point to
// and, negated, to the apex they start from.
double chiral_volume_term(const std::array<double, 3>& a0, const std::array<double, 3>& a1,
                          const std::array<double, 3>& a2, const std::array<std::uint32_t, 3>& indices,
                          std::uint32_t apex, std::span<double> gradient, double target, double lower_magnitude,
                          double upper_magnitude, double weight);

}  // namespace quorix::conf
