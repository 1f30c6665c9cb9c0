#include "core/elements.hpp"
#include "core/scratch.hpp"
#include "io/smiles/marks.hpp"

#include <algorithm>

#include "core/error.hpp"
#include "io/stereo.hpp"

namespace quorix::io {

using core::Bond;
using core::BondDirection;
using core::BondOrder;
using core::BondStereo;
using core::MolBuilder;
using core::NONE;

namespace {

constexpr std::uint8_t SLASH = static_cast<std::uint8_t>(BondDirection::Slash);

std::uint8_t swapped(std::uint8_t d) { return d == 1 ? 2 : d == 2 ? 1 : d; }

// The first bond of `atom`'s list that leads to `target`, NONE when none does.
std::uint32_t bond_to(const MolBuilder& mol, std::uint32_t atom, std::uint32_t target) {
    for (core::Neighbor nb : mol.neighbors(atom))
        if (nb.atom == target) return nb.bond;
    return NONE;
}

bool takes_mark(BondOrder order) {
    return order == BondOrder::Single || order == BondOrder::Unspecified || order == BondOrder::Aromatic;
}

// A dative bond is written as an arrow, which takes no `/` or `\`. When double-bond
// atom `x` has a dative substituent and its reference bond `r` takes no mark, the
// mark goes to `x`'s other substituent, on the other side (so `same` flips). False
// when that substituent is missing, or takes no mark either, or `x` has more than two.
bool markable_reference(const MolBuilder& mol, std::uint32_t d, std::uint32_t x, std::uint32_t& r, bool& same) {
    if (takes_mark(mol.bonds[r].order)) return true;
    std::uint32_t other = NONE, count = 0;
    for (core::Neighbor nb : mol.neighbors(x)) {
        if (nb.bond == d) continue;
        ++count;
        if (nb.bond != r) other = nb.bond;
    }
    const bool dative = mol.bonds[r].order == BondOrder::Dative ||
                        (other != NONE && mol.bonds[other].order == BondOrder::Dative);
    if (!dative) return true;
    if (count != 2 || other == NONE || !takes_mark(mol.bonds[other].order)) return false;
    r = other;
    same = !same;
    return true;
}

struct Constraint {
    std::uint32_t bond;        // the reference bond whose list holds the entry
    std::uint32_t atom;        // its double-bond atom
    std::uint32_t other_bond;
    std::uint32_t other_atom;
    bool same_side;
};

}  // namespace

std::uint32_t preferred_reference_neighbour(const MolBuilder& mol, std::uint32_t atom, std::uint32_t excluded,
                                            std::span<const std::uint32_t> priorities) {
    if (atom >= mol.num_atoms()) return NONE;
    std::uint32_t best = NONE;
    bool best_h = false;
    std::uint32_t best_priority = 0;
    for (core::Neighbor nb : mol.neighbors(atom)) {
        if (nb.atom == excluded) continue;
        const bool h = mol.atoms[nb.atom].atomic_num == core::Element::H;
        const std::uint32_t p = at(priorities, nb.atom);
        if (best == NONE || (h != best_h ? !h : p < best_priority)) {
            best = nb.atom;
            best_h = h;
            best_priority = p;
        }
    }
    return best;
}

std::optional<MolBuilder> rereference_double_bond_stereo(const MolBuilder& mol,
                                                         std::span<const std::uint32_t> priorities) {
    bool any = false;
    for (std::uint32_t b = 0; b < mol.num_bonds() && !any; ++b)
        any = has_double_bond_stereo(mol, b) && static_cast<std::uint8_t>(mol.bonds[b].stereo) > 2;
    if (!any) return std::nullopt;
    if (priorities.size() != mol.atoms.size()) return std::nullopt;
    MolBuilder copy = mol;
    for (std::uint32_t b = 0; b < mol.num_bonds(); ++b) {
        if (!has_double_bond_stereo(mol, b) || static_cast<std::uint8_t>(mol.bonds[b].stereo) <= 2) continue;
        const Bond& bond = mol.bonds[b];
        const std::uint32_t n0 = preferred_reference_neighbour(mol, bond.begin, bond.end, priorities);
        const std::uint32_t n1 = preferred_reference_neighbour(mol, bond.end, bond.begin, priorities);
        if (n0 == NONE || n1 == NONE) continue;
        Bond& out = copy.bonds[b];
        // An end has at most two substituents, so trading the reference for the other
        // one flips the relation.
        if ((n0 != bond.stereo_atoms[0]) != (n1 != bond.stereo_atoms[1]))
            out.stereo = bond.stereo == BondStereo::Cis ? BondStereo::Trans : BondStereo::Cis;
        out.stereo_atoms = {n0, n1};
    }
    return copy;
}

void restatable_bonds(const MolBuilder& mol, std::vector<std::uint32_t>& out) {
    out.clear();
    for (std::uint32_t b = 0; b < mol.num_bonds(); ++b)
        if (static_cast<std::uint8_t>(mol.bonds[b].stereo) > 2 && has_double_bond_stereo(mol, b)) out.push_back(b);
}

bool rereferenced_stereo(const MolBuilder& mol, std::span<const std::uint32_t> priorities,
                         std::span<const std::uint32_t> restated, std::vector<StoredStereo>& out) {
    if (restated.empty() || priorities.size() != mol.atoms.size()) return false;
    out.resize(mol.num_bonds());
    for (std::uint32_t b = 0; b < mol.num_bonds(); ++b) out[b] = {mol.bonds[b].stereo, mol.bonds[b].stereo_atoms};
    for (std::uint32_t b : restated) {
        const Bond& bond = mol.bonds[b];
        const std::uint32_t n0 = preferred_reference_neighbour(mol, bond.begin, bond.end, priorities);
        const std::uint32_t n1 = preferred_reference_neighbour(mol, bond.end, bond.begin, priorities);
        if (n0 == NONE || n1 == NONE) continue;
        if ((n0 != bond.stereo_atoms[0]) != (n1 != bond.stereo_atoms[1]))
            out[b].stereo = bond.stereo == BondStereo::Cis ? BondStereo::Trans : BondStereo::Cis;
        out[b].atoms = {n0, n1};
    }
    return true;
}

StereoMarks smiles_stereo_marks(const MolBuilder& mol) {
    StereoMarks marks;
    smiles_stereo_marks(mol, marks);
    return marks;
}

namespace {

// Buffers of one call, kept per thread.
struct MarksScratch {
    std::vector<std::uint8_t> computed;
    std::vector<Constraint> constraints;
    std::vector<std::uint32_t> stored;
    std::vector<std::uint8_t> is_reference;
    std::vector<std::uint32_t> side;
    std::vector<std::uint32_t> list_start;
    std::vector<std::uint8_t> assigned;
    std::vector<std::uint32_t> stack;
};

// Stored values become constraints between their two reference bonds, and the
// marks around those double bonds are cleared for the constraints to fill in.
template <class StereoOf>
void stored_constraints(const MolBuilder& mol, StereoMarks& out, MarksScratch& w, StereoOf stereo_of) {
    // has_double_bond_stereo, read through stereo_of.
    auto has_stored = [&](std::uint32_t d) {
        const StoredStereo st = stereo_of(d);
        return stored_stereo_fits(mol, d, st.stereo, st.atoms);
    };
    for (std::uint32_t d = 0; d < mol.num_bonds(); ++d) {
        if (!has_stored(d)) continue;
        const Bond& bond = mol.bonds[d];
        const StoredStereo st = stereo_of(d);
        std::uint32_t r0 = bond_to(mol, bond.begin, st.atoms[0]);
        std::uint32_t r1 = bond_to(mol, bond.end, st.atoms[1]);
        if (r0 == NONE || r1 == NONE) internal_error("顺反参考原子必为双键端点的邻居");
        bool same = st.stereo == BondStereo::Cis;
        for (std::uint32_t x : {bond.begin, bond.end})
            for (core::Neighbor nb : mol.neighbors(x))
                if (nb.bond != d) out.directions[nb.bond] = 0;
        // A value that no bond can carry is left unwritten rather than half written:
        // a mark at one end only would read back as nothing anyway.
        if (!markable_reference(mol, d, bond.begin, r0, same) || !markable_reference(mol, d, bond.end, r1, same))
            continue;
        w.stored.push_back(d);
        w.constraints.push_back({r0, bond.begin, r1, bond.end, same});
        w.constraints.push_back({r1, bond.end, r0, bond.begin, same});
    }
}

// Marks for the stored values' reference bonds: the constraints, and two
// substituents of one double-bond atom always on opposite sides, propagated
// from the first bond of each connected group. Returns the next group number.
std::uint32_t constrained_marks(const MolBuilder& mol, StereoMarks& out, MarksScratch& w) {
    const std::uint32_t m = mol.num_bonds();
    std::vector<Constraint>& constraints = w.constraints;
    std::vector<std::uint8_t>& is_reference = w.is_reference;
    is_reference.assign(m, 0);
    for (const Constraint& c : constraints) is_reference[c.bond] = 1;
    std::vector<std::uint32_t>& side = w.side;
    for (std::uint32_t d : w.stored) {
        for (std::uint32_t x : {mol.bonds[d].begin, mol.bonds[d].end}) {
            side.clear();
            for (core::Neighbor nb : mol.neighbors(x))
                if (nb.bond != d && is_reference[nb.bond]) side.push_back(nb.bond);
            for (std::size_t i = 0; i < side.size(); ++i)
                for (std::size_t j = i + 1; j < side.size(); ++j) {
                    constraints.push_back({side[i], x, side[j], x, false});
                    constraints.push_back({side[j], x, side[i], x, false});
                }
        }
    }
    // Per reference bond, its entries in insertion order.
    std::stable_sort(constraints.begin(), constraints.end(),
                     [](const Constraint& a, const Constraint& b) { return a.bond < b.bond; });
    std::vector<std::uint32_t>& list_start = w.list_start;
    list_start.assign(std::size_t{m} + 1, 0);
    for (const Constraint& c : constraints) ++list_start[c.bond + 1];
    for (std::uint32_t b = 0; b < m; ++b) list_start[b + 1] += list_start[b];

    std::vector<std::uint8_t>& assigned = w.assigned;
    assigned.assign(m, 0);
    std::vector<std::uint32_t>& stack = w.stack;
    std::uint32_t group = 0;
    for (std::uint32_t k = 0; k < m; ++k) {
        if (!is_reference[k] || assigned[k]) continue;
        assigned[k] = SLASH;
        out.groups[k] = group;
        stack.assign(1, k);
        while (!stack.empty()) {
            const std::uint32_t t = stack.back();
            stack.pop_back();
            const std::uint8_t d = assigned[t];
            for (std::uint32_t e = list_start[t]; e < list_start[t + 1]; ++e) {
                const Constraint& c = constraints[e];
                if (assigned[c.other_bond]) continue;
                std::uint8_t v = d;
                if (mol.bonds[t].begin != c.atom) v = swapped(v);
                if (!c.same_side) v = swapped(v);
                if (mol.bonds[c.other_bond].begin != c.other_atom) v = swapped(v);
                assigned[c.other_bond] = v;
                out.groups[c.other_bond] = group;
                stack.push_back(c.other_bond);
            }
        }
        ++group;
    }
    for (std::uint32_t b = 0; b < m; ++b)
        if (assigned[b]) out.directions[b] = assigned[b];
    return group;
}

// Marks that belong to no stored value: those linked through a double bond, or
// a conjugated chain of them, share a group.
void group_free_marks(const MolBuilder& mol, StereoMarks& out, MarksScratch& w, std::uint32_t group) {
    std::vector<std::uint32_t>& stack = w.stack;
    for (std::uint32_t i = 0; i < mol.num_bonds(); ++i) {
        if (out.directions[i] == 0 || out.groups[i] != NONE) continue;
        out.groups[i] = group;
        stack.assign(1, i);
        while (!stack.empty()) {
            const std::uint32_t x = stack.back();
            stack.pop_back();
            for (std::uint32_t a : {mol.bonds[x].begin, mol.bonds[x].end}) {
                for (core::Neighbor y : mol.neighbors(a)) {
                    if (y.bond == x || mol.bonds[y.bond].order != BondOrder::Double) continue;
                    for (core::Neighbor z : mol.neighbors(y.atom)) {
                        if (z.bond == y.bond || out.directions[z.bond] == 0 || out.groups[z.bond] != NONE)
                            continue;
                        out.groups[z.bond] = group;
                        stack.push_back(z.bond);
                    }
                }
            }
        }
        ++group;
    }
}

// `stereo_of(b)` gives bond b's stored cis/trans and reference atoms.
template <class StereoOf>
void stereo_marks(const MolBuilder& mol, StereoMarks& out, std::span<const std::uint8_t> effective,
                  StereoOf stereo_of) {
    const std::uint32_t m = mol.num_bonds();
    out.directions.assign(m, 0);
    out.groups.assign(m, NONE);
    bool any_direction = false, any_stored = false;
    for (std::uint32_t b = 0; b < m; ++b) {
        any_direction |= mol.bonds[b].direction != BondDirection::None;
        any_stored |= stereo_of(b).stereo != BondStereo::None;
    }
    if (!any_direction && !any_stored) return;

    const auto lease = core::Scratch<MarksScratch>::borrow(mol.num_atoms());
    MarksScratch& w = *lease;
    if (any_direction) {
        if (effective.size() != m) {
            w.computed = effective_direction_marks(mol);
            effective = w.computed;
        }
        for (std::uint32_t b = 0; b < m; ++b)
            if (at(effective, b)) out.directions[b] = static_cast<std::uint8_t>(mol.bonds[b].direction);
    }
    w.constraints.clear();
    w.stored.clear();
    if (any_stored) stored_constraints(mol, out, w, stereo_of);
    const std::uint32_t group = w.stored.empty() ? 0 : constrained_marks(mol, out, w);
    group_free_marks(mol, out, w, group);
}

}  // namespace

void smiles_stereo_marks(const MolBuilder& mol, StereoMarks& out, std::span<const std::uint8_t> effective) {
    stereo_marks(mol, out, effective,
                 [&](std::uint32_t b) { return StoredStereo{mol.bonds[b].stereo, mol.bonds[b].stereo_atoms}; });
}

void smiles_stereo_marks(const MolBuilder& mol, StereoMarks& out, std::span<const std::uint8_t> effective,
                         std::span<const StoredStereo> stored) {
    if (stored.size() != mol.bonds.size()) internal_error("顺反表长度与键数不符");
    stereo_marks(mol, out, effective, [&](std::uint32_t b) { return stored[b]; });
}

}  // namespace quorix::io
