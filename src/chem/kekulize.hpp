#pragma once
// Replaces the aromatic description by one Kekulé structure, ring system by ring
// system, with a bounded backtracking search.
#include <cstdint>
#include <expected>
#include <string>
#include <variant>
#include <vector>

#include "chem/rings.hpp"
#include "chem/valence.hpp"
#include "core/builder.hpp"
#include "core/scratch.hpp"

namespace quorix::chem {

struct KekulizeError {
    struct Unbalanced {
        std::vector<std::uint32_t> atoms;  // still needing a double bond, ascending
        bool operator==(const Unbalanced&) const = default;
    };
    struct SearchCapReached {
        std::uint64_t backtracks = 0;
        std::uint64_t atoms = 0;  // size of the ring system
        bool operator==(const SearchCapReached&) const = default;
    };
    struct AromaticNotInRing {
        std::uint32_t atom = 0;
        bool operator==(const AromaticNotInRing&) const = default;
    };
    struct ValenceChanged {
        std::uint32_t atom = 0;
        std::int32_t before = 0;
        std::int32_t after = 0;
        bool operator==(const ValenceChanged&) const = default;
    };
    struct WildcardInAromatic {
        std::uint32_t atom = 0;
        bool operator==(const WildcardInAromatic&) const = default;
    };

    std::variant<Unbalanced, SearchCapReached, AromaticNotInRing, ValenceChanged, WildcardInAromatic> kind;

    std::string to_string() const;
    bool operator==(const KekulizeError&) const = default;
};

// How the Kekulé step counts an atom's bonds: each aromatic-flagged single,
// double or aromatic bond (a bond of the system) once, every other bond by its
// order; unspecified bonds and dative bonds the atom donates are uncounted. The
// system bonds are appended to `system_bonds` when it is given.
struct KekuleBondSum {
    std::int64_t sum = 0;
    std::int64_t uncounted = 0;
};
KekuleBondSum kekule_bond_sum(const core::MolBuilder& mol, std::uint32_t atom, std::vector<std::uint32_t>* system_bonds);

// Whether the Kekulé step gives the atom one double bond of its system, from its
// total valence `tv` (lenient, as it stands) and its bond counts. Aromaticity
// perception asks the same question of every atom it makes aromatic, so that
// what it marks reads back through this step.
bool needs_double_bond(const core::MolBuilder& mol, std::uint32_t atom, const core::AtomValence& tv,
                       KekuleBondSum bonds);

// Needs the atoms' IN_RING bits from ring perception. A ring system with no
// Kekulé form is left as it was found (orders, directions, flags); the systems
// before it stay kekulized with their flags still set, and the two checks after
// the search (AromaticNotInRing, ValenceChanged) fail with everything written.
// `ring_systems` is RingBlocks::systems of the molecule as it stands.
std::expected<void, KekulizeError> kekulize(core::MolBuilder& mol, const FlatLists& ring_systems);
// Same, with `valences` what assign_valences has just returned for the molecule
// as it stands (ring flags aside), so the valences are not computed again.
std::expected<void, KekulizeError> kekulize(core::MolBuilder& mol, const FlatLists& ring_systems,
                                            const ValenceLists& valences);

inline std::expected<void, KekulizeError> kekulize(core::MolBuilder& mol) {
    const auto memo = core::Scratch<RingBlocksMemo>::borrow(mol.num_atoms());
    return kekulize(mol, remembered_ring_blocks(mol, *memo).systems);
}

}  // namespace quorix::chem
