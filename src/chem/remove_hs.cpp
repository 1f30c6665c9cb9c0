#include "chem/remove_hs.hpp"

#include <algorithm>
#include <vector>

#include "chem/hs_stereo.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "core/valence.hpp"

namespace quorix::chem {

namespace E = core::Element;

using namespace quorix::core;

namespace {

// Every condition of removability except "no double bond names it as a reference".
bool plain_terminal_h(const MolBuilder& mol, std::uint32_t atom) {
    const Atom& h = mol.atoms[atom];
    if (h.atomic_num != E::H) return false;
    if ((h.flags & AROMATIC) || h.isotope != 0 || h.map_num != 0 || h.num_explicit_hs != 0 ||
        h.formal_charge != 0 || h.num_radical_electrons != 0)
        return false;
    if (mol.degree[atom] != 1) return false;
    const Neighbor nb = *mol.neighbors(atom).begin();
    const Bond& bond = mol.bonds[nb.bond];
    if (bond.order != BondOrder::Single || bond.direction != BondDirection::None) return false;
    return at(mol.atoms, nb.atom).atomic_num > E::H;  // neither hydrogen nor a wildcard
}

bool named_by_stereo(const Bond& b, std::uint32_t atom) {
    return b.stereo_atoms[0] == atom || b.stereo_atoms[1] == atom;
}

// One pass over the bonds for the reference test instead of one per hydrogen.
std::vector<std::uint8_t> removable_flags(const MolBuilder& mol) {
    std::vector<std::uint8_t> removable(mol.num_atoms(), 0);
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) removable[a] = plain_terminal_h(mol, a);
    for (const Bond& b : mol.bonds)
        for (std::uint32_t s : b.stereo_atoms)
            if (s < removable.size()) removable[s] = 0;
    return removable;
}

std::uint8_t add_capped(std::uint8_t count, std::uint32_t k) {
    return static_cast<std::uint8_t>(std::min<std::uint32_t>(255u, count + std::min<std::uint32_t>(k, 255u)));
}

}  // namespace

bool is_removable_h(const MolBuilder& mol, std::uint32_t atom) {
    if (atom >= mol.num_atoms() || !plain_terminal_h(mol, atom)) return false;
    return std::none_of(mol.bonds.begin(), mol.bonds.end(), [&](const Bond& b) { return named_by_stereo(b, atom); });
}

std::uint32_t remove_hs(MolBuilder& mol) {
    const std::vector<std::uint8_t> removable = removable_flags(mol);
    const auto removed = static_cast<std::uint32_t>(std::count(removable.begin(), removable.end(), 1));
    if (removed == 0) return 0;

    const std::uint32_t n = mol.num_atoms();
    std::vector<std::uint32_t> new_index(n, NONE);
    std::vector<std::uint32_t> folded(n, 0);  // hydrogens folded into each kept atom
    MolBuilder out = MolBuilder::with_capacity(n - removed, mol.num_bonds());

    for (std::uint32_t a = 0; a < n; ++a) {
        if (removable[a]) continue;
        Atom atom = mol.atoms[a];
        std::uint32_t k = 0, d = 0, position = 0;
        for (Neighbor nb : mol.neighbors(a)) {
            if (removable[nb.atom]) {
                position = d;
                ++k;
            }
            ++d;
        }
        if (k > 0) {
            if (atom.flags & FIXED_HS) atom.num_explicit_hs = add_capped(atom.num_explicit_hs, k);
            else atom.num_implicit_hs = add_capped(atom.num_implicit_hs, k);
        }
        if (k == 1) {
            if (is_tetrahedral(atom.chiral_tag)) {
                // The removed hydrogen now counts as the last neighbour.
                if ((d - 1 - position) % 2 == 1)
                    atom.chiral_tag = mirrored(atom.chiral_tag);
            } else {
                atom.chiral_permutation =
                    polyhedral_after_h_folded(atom.chiral_tag, atom.chiral_permutation, d, position);
            }
        }
        folded[a] = k;
        new_index[a] = out.add_atom(atom);
    }

    // An allene's terminal hydrogen is listed first once it is implicit: when it
    // was the second of the terminal's two ligands, the pair swaps.
    for (std::uint32_t c = 0; c < n; ++c) {
        if (removable[c] || !is_allene_centre(mol, c)) continue;
        Atom& centre = out.atoms[new_index[c]];
        if (!allene_configured(centre.chiral_permutation)) continue;
        for (Neighbor cn : mol.neighbors(c)) {
            const std::uint32_t t = cn.atom;
            if (folded[t] != 1 || mol.degree[t] != 3 || mol.atoms[t].total_hs() != 0) continue;
            std::uint32_t slot = 0, h_slot = 0;
            for (Neighbor tn : mol.neighbors(t)) {
                if (tn.atom == c) continue;
                if (removable[tn.atom]) h_slot = slot;
                ++slot;
            }
            if (h_slot == 1) centre.chiral_permutation = mirrored_allene(centre.chiral_permutation);
        }
    }

    for (const Bond& old : mol.bonds) {
        const std::uint32_t b = at(new_index, old.begin), e = at(new_index, old.end);
        if (b == NONE || e == NONE) continue;
        Bond bond = old;
        bond.begin = b;
        bond.end = e;
        for (std::uint32_t& s : bond.stereo_atoms) s = s == NONE ? NONE : at(new_index, s);
        out.push_bond(bond);
    }

    // A hydrogen folded into the implicit count is lost when the valence rules
    // would not give that count back (an aromatic [nH], say): keep it declared.
    // Where the counts were never computed, the atom's hydrogens before removal
    // are what the rules gave it then.
    const bool uncounted = implicit_hs_uncounted(mol);
    for (std::uint32_t a = 0; a < n; ++a) {
        if (folded[a] == 0 || (mol.atoms[a].flags & FIXED_HS)) continue;
        const std::uint32_t na = new_index[a];
        Atom& atom = out.atoms[na];
        const std::uint8_t had = uncounted ? add_capped(static_cast<std::uint8_t>(lenient_valence_hs(mol, a).implicit_hs),
                                                        folded[a])
                                           : atom.num_implicit_hs;
        if (lenient_valence_hs(out, na).implicit_hs != had) {
            atom.num_implicit_hs = mol.atoms[a].num_implicit_hs;
            atom.num_explicit_hs = add_capped(atom.num_explicit_hs, folded[a]);
        }
    }

    mol = std::move(out);
    return removed;
}

}  // namespace quorix::chem
