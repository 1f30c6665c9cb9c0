#include "chem/adjust_hs.hpp"

#include <algorithm>

#include "core/error.hpp"
#include "core/valence.hpp"

namespace quorix::chem {

namespace {

// `now_of(a)` is asked only for atoms that had hydrogens; an atom's count never
// depends on another atom's hydrogens, so the edits below do not disturb it.
template <class Now>
std::uint32_t give_back(core::MolBuilder& mol, std::span<const std::uint8_t> saved, Now&& now_of) {
    if (saved.size() != mol.num_atoms()) internal_error("芳香化前的隐式氢数组长度与原子数不符");
    std::uint32_t changed = 0;
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        if (saved[a] == 0) continue;  // nothing to give back
        const std::uint8_t now = now_of(a);
        if (saved[a] <= now) continue;
        core::Atom& atom = mol.atoms[a];
        atom.num_explicit_hs = static_cast<std::uint8_t>(std::min(255u, unsigned(atom.num_explicit_hs) + (saved[a] - now)));
        atom.num_implicit_hs = now;
        ++changed;
    }
    return changed;
}

}  // namespace

std::uint32_t adjust_hs(core::MolBuilder& mol, std::span<const std::uint8_t> saved) {
    return give_back(mol, saved, [&](std::uint32_t a) {
        core::AtomValence v;
        core::lenient_valence_hs(mol, a, v);
        return static_cast<std::uint8_t>(v.implicit_hs);
    });
}

std::uint32_t adjust_hs(core::MolBuilder& mol, std::span<const std::uint8_t> saved, std::span<const std::uint8_t> now) {
    if (now.size() != mol.num_atoms()) internal_error("当前隐式氢数组长度与原子数不符");
    return give_back(mol, saved, [&](std::uint32_t a) { return now[a]; });
}

}  // namespace quorix::chem
