#pragma once
// Aromaticity of rings and fused ring combinations by a Hückel count over
// per-atom pi-electron classes.
#include <cstdint>
#include <optional>
#include <span>

#include "chem/rings.hpp"
#include "chem/sssr.hpp"
#include "core/builder.hpp"

namespace quorix::chem {

// Pi-electron class of an atom within a ring.
enum class PiContribution : std::uint8_t { Excluded = 0, Zero = 1, One = 2, Two = 3, OneOrTwo = 4 };

// The atom's sigma connections over bonds: degree, less Unspecified bonds and
// dative bonds the atom donates (they count only at the acceptor). Hydrogens
// are not included.
std::int32_t sigma_bond_count(const core::MolBuilder& mol, std::uint32_t atom);

// Electrons the atom can offer to a pi system; nullopt when it cannot take part
// (univalent elements, unrestricted elements, more than three sigma connections).
std::optional<std::int32_t> spare_electrons(const core::MolBuilder& mol, std::uint32_t atom);
// Same, for a caller that already holds the atom's lenient explicit valence
// (declared hydrogens included).
std::optional<std::int32_t> spare_electrons(const core::MolBuilder& mol, std::uint32_t atom, std::int32_t valence);
// Same, with its sigma_bond_count known too.
std::optional<std::int32_t> spare_electrons(const core::MolBuilder& mol, std::uint32_t atom, std::int32_t valence,
                                            std::int32_t sigma_bonds);

// Pi class of every atom, in atom order; needs the IN_RING bond flags.
void pi_contributions(const core::MolBuilder& mol, std::span<PiContribution> out);

// Marks aromatic rings and fused ring combinations (at most six rings) of a
// molecule in Kekulé form with ring flags set; only ever adds marks. Returns the
// number of distinct rings that belong to an accepted combination.
std::uint32_t perceive_aromaticity(core::MolBuilder& mol);

// Same, with the molecule's ring blocks already found.
std::uint32_t perceive_aromaticity(core::MolBuilder& mol, const RingBlocks& blocks);

// Same, with the blocks and ring list held in `memo`: the ring list made here
// for the rings that may be aromatic is the whole list, kept for the caller's
// later ring steps on the same graph.
std::uint32_t perceive_aromaticity(core::MolBuilder& mol, RingBlocksMemo& memo);

// Same, over a ring list the caller already holds (the order of `sssr`).
std::uint32_t perceive_aromaticity(core::MolBuilder& mol, std::span<const Ring> rings);

}  // namespace quorix::chem
