#pragma once
// What the conformer's holds and typical geometry read of a molecule, derived
// once per molecule: its ring list, its canonical ranks where a chain double
// bond needs them, and the one definition of each group they name.
#include <cstdint>
#include <vector>

#include "chem/sssr.hpp"
#include "conf/ring_context.hpp"
#include "core/builder.hpp"

namespace quorix::conf {

bool is_aromatic(const core::MolBuilder& mol, std::uint32_t a);
// Tetrahedral and outside every aromatic ring.
bool is_sp3(const core::MolBuilder& mol, std::uint32_t a);
// The oxygen or sulfur a carbon carries by a double bond, NONE without one.
std::uint32_t carbonyl_partner(const core::MolBuilder& mol, std::uint32_t c);
// The nitro nitrogen `n`'s single-bonded oxygen (charge +1 on the nitrogen,
// three neighbours, one double-bonded neutral and one single-bonded -1
// terminal oxygen), NONE when `n` is no nitro nitrogen.
std::uint32_t nitro_oxide(const core::MolBuilder& mol, std::uint32_t n);
// A sulfur with four neighbours, two of them oxygens by double bonds.
bool sulfonyl_sulfur(const core::MolBuilder& mol, std::uint32_t s);
// A nitrogen on a sulfonyl sulfur: near flat, as amides are, though its
// hybridisation may read sp3.
bool sulfonamide_nitrogen(const core::MolBuilder& mol, std::uint32_t n);
// A neutral nitrogen outside aromatic rings with three single bonds, each to
// a hydrogen, an sp3 carbon or a neutral nitrogen or oxygen outside aromatic
// rings with single bonds only (hydrazines, hydroxylamines: the lone pairs
// next door repel the nitrogen's own into a pyramid, as in amines).
bool amine_nitrogen(const core::MolBuilder& mol, std::uint32_t n);
// The aromatic atom an aniline nitrogen `n` carries (a neutral nitrogen
// outside aromatic rings with three single bonds: one to that atom, the
// others each to a hydrogen or an sp3 carbon), NONE when `n` is none.
std::uint32_t aniline_ring_atom(const core::MolBuilder& mol, std::uint32_t n);
// An aromatic atom where rings fuse: three neighbours, all by aromatic bonds.
bool fusion_atom(const core::MolBuilder& mol, std::uint32_t a);
// A double bond whose ends both have a torsion: an end that carries a second
// double or a triple bond is linear (allenes, ketenes, cumulenes), and one
// with four neighbours (an ylide's phosphorus or sulfur) tetrahedral.
bool double_bond_with_torsion(const core::MolBuilder& mol, std::uint32_t bond);

struct MoleculeContext;

// Whether the rings meeting at a fusion atom leave it room to lie flat: an
// atom closed in by three rings lies flat only when their polygon angles sum
// to 360 degrees (three six-rings); a five-ring among six-rings (fullerenes,
// corannulene's hub) bends it into a bowl.
bool can_lie_flat(const MoleculeContext& context, std::uint32_t a);

struct MoleculeContext {
    explicit MoleculeContext(const core::MolBuilder& mol);
    MoleculeContext(const MoleculeContext&) = delete;
    MoleculeContext& operator=(const MoleculeContext&) = delete;

    const core::MolBuilder& mol;
    std::vector<chem::Ring> ring_list;  // atoms in ring order
    RingContext rings;                  // the same rings, for look-ups
    // Canonical ranks, computed only when a chain double bond without a
    // stated cis/trans needs them to choose its arrangement; empty otherwise.
    std::vector<std::uint32_t> ranks;
    // Per atom, 1 for the atoms of a curved aromatic sheet: a fused system
    // with a ring of fewer than six atoms each of which cannot lie flat
    // (`can_lie_flat`), as in fullerenes and corannulene.
    std::vector<std::uint8_t> curved;

    // A double bond outside every ring with no stated cis/trans: planar, but
    // free to be given either arrangement.
    bool unconfigured_chain_double_bond(std::uint32_t bond) const;
};

}  // namespace quorix::conf
