#pragma once
// Explicit valence and implicit hydrogens from bonds and the element table.
#include <cstdint>
#include <expected>
#include <span>
#include <string>

#include "core/builder.hpp"

namespace quorix::core {

enum class ValenceErrorKind : std::uint8_t {
    ExplicitValenceOutOfRange = 0,
    AromaticValenceNotAllowed = 1,
    UnreasonableCharge = 2,
};

struct ValenceError {
    std::string symbol;
    std::uint32_t atom = 0;
    std::int32_t explicit_valence = 0;
    ValenceErrorKind kind = ValenceErrorKind::ExplicitValenceOutOfRange;

    // "原子 #{}({}):{},显式价 = {}"
    std::string to_string() const;
    bool operator==(const ValenceError&) const = default;
};

std::string_view kind_text(ValenceErrorKind kind);

// What one bond adds to an atom's valence: its order, 1.5 for aromatic, and for a
// dative bond 1 at its acceptor (`end`) and nothing at its donor.
constexpr float bond_valence(BondOrder order, bool atom_is_end) {
    switch (order) {
        case BondOrder::Single: return 1.0f;
        case BondOrder::Double: return 2.0f;
        case BondOrder::Triple: return 3.0f;
        case BondOrder::Quadruple: return 4.0f;
        case BondOrder::Aromatic: return 1.5f;
        case BondOrder::Dative: return atom_is_end ? 1.0f : 0.0f;
        default: return 0.0f;
    }
}
// The atom's bond valences summed in neighbour order.
float bond_valence_sum(const MolBuilder& mol, std::uint32_t atom);

bool is_aromatic_atom(const MolBuilder& mol, std::uint32_t atom);

// True when no atom that takes its hydrogens from the valence rules holds an
// implicit count: the counts were never computed (an unsanitised molecule), and
// such an atom's hydrogens are whatever the rules give.
bool implicit_hs_uncounted(const MolBuilder& mol);
std::expected<std::int32_t, ValenceError> explicit_valence(const MolBuilder& mol, std::uint32_t atom,
                                                           bool strict, float extra_hs);
std::expected<std::uint8_t, ValenceError> implicit_hs(const MolBuilder& mol, std::uint32_t atom,
                                                      std::int32_t valence, bool strict);

// Both numbers of one atom from a single walk of its bonds: the explicit valence
// with its declared hydrogens counted, and its implicit hydrogens (0 for FIXED_HS).
struct AtomValence {
    std::int32_t explicit_valence = 0;
    std::int32_t implicit_hs = 0;
    bool aromatic = false;  // is_aromatic_atom, found on the same walk
    std::int32_t total() const { return explicit_valence + implicit_hs; }
};

// What the lenient explicit_valence(mol, atom, false, num_explicit_hs) and, unless
// FIXED_HS, implicit_hs(mol, atom, that, false) give; lenient checks never fail.
// Filled through a reference: a returned struct of mixed-width fields makes gcc
// assemble it through the stack, and the reads then stall.
void lenient_valence_hs(const MolBuilder& mol, std::uint32_t atom, AtomValence& out);
inline AtomValence lenient_valence_hs(const MolBuilder& mol, std::uint32_t atom) {
    AtomValence out;
    lenient_valence_hs(mol, atom, out);
    return out;
}
// The explicit valence of lenient_valence_hs alone.
std::int32_t lenient_explicit_valence(const MolBuilder& mol, std::uint32_t atom);
// lenient_valence_hs of each listed atom into the matching entry of `out`.
void lenient_valences(const MolBuilder& mol, std::span<const std::uint32_t> atoms, std::span<AtomValence> out);
// The strict counterpart: the explicit valence check first, then (unless FIXED_HS)
// the implicit hydrogen check, failing with the error the first failing check gives.
std::expected<AtomValence, ValenceError> strict_valence_hs(const MolBuilder& mol, std::uint32_t atom);
// The strict check of every atom in index order, writing each one's numbers;
// stops at the first failure with its error. Both spans hold one entry per atom.
std::expected<void, ValenceError> strict_valences(const MolBuilder& mol, std::span<std::int32_t> explicit_valences,
                                                  std::span<std::uint8_t> implicit_hs);

}  // namespace quorix::core
