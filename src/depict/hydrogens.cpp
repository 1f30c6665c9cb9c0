#include "depict/hydrogens.hpp"

#include <algorithm>
#include <string>

#include "chem/rings.hpp"
#include "core/scratch.hpp"
#include "depict/layout.hpp"
#include "depict/stereo.hpp"
#include "io/smiles/canonical.hpp"
#include "io/stereo.hpp"

namespace quorix::depict {
namespace {

[[noreturn]] void bad_planned_bond(const core::BuilderError& error) {
    internal_error("补出来的键端点越界: " + core::to_struct_text(error));
}


// Every bond of the atom that may carry a wedge lies on a ring of the list
// (vacuously true without such bonds; false with an empty list and any). The
// plan is made on the molecule to be written, less the hydrogens it adds, so
// its bonds are the written ones.
bool wedge_bonds_all_cyclic(const core::MolBuilder& mol, std::uint32_t atom, std::span<const std::uint8_t> ring_bond) {
    for (core::Neighbor nb : mol.neighbors(atom))
        if (carries_wedge(at(mol.bonds, nb.bond)) && !at(ring_bond, nb.bond)) return false;
    return true;
}

// What every chosen centre is, whatever its perception and bonds.
bool may_need_wedge_hydrogen(const core::Atom& a) {
    return core::is_tetrahedral(a.chiral_tag) && (a.num_explicit_hs != 0 || a.num_implicit_hs != 0);
}

bool needs_wedge_hydrogen(const core::MolBuilder& mol, std::uint32_t atom, std::span<const std::uint8_t> confirmed,
                          std::span<const std::uint8_t> ring_bond) {
    if (!at(confirmed, atom) || !may_need_wedge_hydrogen(at(mol.atoms, atom))) return false;
    const std::uint32_t degree = atom < mol.degree.size() ? mol.degree[atom] : 0;
    return degree < 3 || wedge_bonds_all_cyclic(mol, atom, ring_bond);
}

// The centres that get a hydrogen, in index order.
std::vector<std::uint32_t> chosen_centres(const core::MolBuilder& mol, std::span<const std::uint8_t> confirmed) {
    const std::uint32_t n = atom_count_u32(mol);
    std::vector<std::uint32_t> chosen;
    std::vector<std::uint8_t> ring_bond;
    for (std::uint32_t a = 0; a < n; ++a) {
        // The ring list is needed only once a marked centre turns up.
        if (!at(confirmed, a) || !core::is_tetrahedral(mol.atoms[a].chiral_tag)) continue;
        // A bond lies on a smallest-ring-set ring exactly when it lies in a ring
        // block: the set spans every cycle, so it covers every cyclic bond.
        if (ring_bond.empty()) {
            ring_bond.assign(mol.bonds.size(), 0);
            const auto blocks = core::Scratch<chem::RingBlocks>::borrow(n);
            chem::find_ring_blocks(mol, *blocks);
            for (std::span<const std::uint32_t> block : blocks->blocks)
                for (std::uint32_t b : block) at(ring_bond, b) = 1;
        }
        if (needs_wedge_hydrogen(mol, a, confirmed, ring_bond)) chosen.push_back(a);
    }
    return chosen;
}

}  // namespace

std::size_t wedge_hydrogens_at_most(const core::MolBuilder& mol) {
    return std::size_t(std::ranges::count_if(mol.atoms, may_need_wedge_hydrogen));
}

std::size_t wedge_hydrogen_count(const core::MolBuilder& mol) {
    atom_count_u32(mol);
    return chosen_centres(mol, io::chiral_centres(mol)).size();
}

std::optional<WedgeHydrogens> plan_wedge_hydrogens(const core::MolBuilder& mol) {
    atom_count_u32(mol);
    return plan_wedge_hydrogens(mol, io::chiral_centres(mol));
}

std::optional<WedgeHydrogens> plan_wedge_hydrogens(const core::MolBuilder& mol, std::span<const std::uint8_t> confirmed) {
    const std::uint32_t n = atom_count_u32(mol);
    std::vector<std::uint32_t> chosen = chosen_centres(mol, confirmed);
    if (chosen.empty()) return std::nullopt;
    // One centre has no order to settle: the ranks would be computed for nothing.
    if (chosen.size() > 1) {
        const std::vector<std::uint32_t> ranks = io::canonical_ranks(mol);
        std::sort(chosen.begin(), chosen.end(), [&](std::uint32_t x, std::uint32_t y) {
            return std::pair(at(ranks, x), x) < std::pair(at(ranks, y), y);
        });
    }
    WedgeHydrogens plan;
    for (std::uint32_t k = 0; k < chosen.size(); ++k) {
        const std::uint32_t c = chosen[k];
        core::Atom updated = mol.atoms[c];
        if (updated.num_explicit_hs > 0) --updated.num_explicit_hs;
        else --updated.num_implicit_hs;
        plan.updated_atoms.emplace_back(c, updated);
        core::Atom h;
        h.atomic_num = 1;
        plan.hydrogens.push_back(h);
        core::Bond bond;
        bond.begin = c;
        bond.end = n + k;
        bond.order = core::BondOrder::Single;
        plan.bonds.push_back(bond);
    }
    return plan;
}

core::MolBuilder add_wedge_hydrogens(const WedgeHydrogens& plan, const core::MolBuilder& mol) {
    core::MolBuilder out = mol;
    for (const auto& [index, atom] : plan.updated_atoms)
        if (index < out.atoms.size()) out.atoms[index] = atom;
    for (const core::Atom& atom : plan.hydrogens) out.add_atom(atom);
    const std::uint32_t n = out.num_atoms();
    for (const core::Bond& bond : plan.bonds) {
        if (bond.begin >= n || bond.end >= n)
            bad_planned_bond(core::AtomIndexOutOfRange{std::max(bond.begin, bond.end), n});
        if (bond.begin == bond.end) bad_planned_bond(core::SelfLoop{bond.begin});
        out.push_bond(bond);
    }
    return out;
}

}  // namespace quorix::depict
