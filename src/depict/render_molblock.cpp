// Kekule orders for the written 2-D molblock.
#include <algorithm>
#include <utility>

#include "chem/kekulize.hpp"
#include "core/scratch.hpp"
#include "depict/layout.hpp"
#include "depict/render.hpp"
#include "io/smiles/canonical.hpp"

namespace quorix::depict {

namespace {

// The molecule in rank order and what building it needs, kept warm between calls.
struct RankCopy {
    core::MolBuilder mol;
    std::vector<std::uint32_t> order, new_index;
    std::vector<std::uint32_t> source;  // per copied bond, the bond it copies
    std::vector<std::pair<std::uint32_t, std::uint32_t>> row;  // (far end, bond) of one atom
    std::vector<std::pair<std::uint32_t, std::uint32_t>> fronts;  // (first atom, block)
    chem::FlatLists systems;
};

void reset(core::MolBuilder& m) {
    m.atoms.clear();
    m.bonds.clear();
    m.first_half_edge.clear();
    m.last_half_edge.clear();
    m.next_half_edge.clear();
    m.degree.clear();
}

// The ring systems of the copy, from the blocks of `mol`: a block is the same
// bond set whatever the numbering, listed by its atoms ascending, and the blocks
// go by their smallest atom. Blocks that share their smallest atom keep the
// order of the block search on the copy itself, so then there is no answer.
bool systems_in_copy(const chem::RingBlocks& rb, RankCopy& c) {
    const chem::FlatLists& atoms = rb.block_atoms;
    c.fronts.clear();
    for (std::uint32_t k = 0; k < atoms.size(); ++k) {
        std::uint32_t lowest = core::NONE;
        for (std::uint32_t a : atoms[k]) lowest = std::min(lowest, c.new_index[a]);
        c.fronts.emplace_back(lowest, k);
    }
    std::sort(c.fronts.begin(), c.fronts.end());
    for (std::size_t k = 1; k < c.fronts.size(); ++k)
        if (c.fronts[k].first == c.fronts[k - 1].first) return false;
    c.systems.clear();
    for (const auto& [lowest, k] : c.fronts) {
        const std::size_t first = c.systems.items.size();
        for (std::uint32_t a : atoms[k]) c.systems.items.push_back(c.new_index[a]);
        std::sort(c.systems.items.begin() + static_cast<std::ptrdiff_t>(first), c.systems.items.end());
        c.systems.close_list();
    }
    return true;
}

}  // namespace

std::vector<core::BondOrder> render_molblock_2d(const core::MolBuilder& mol) {
    if (mol.bonds.empty()) return {};
    return render_molblock_2d(mol, io::canonical_ranks(mol));
}

std::vector<core::BondOrder> render_molblock_2d(const core::MolBuilder& mol, std::span<const std::uint32_t> ranks) {
    std::vector<core::BondOrder> orders(mol.bonds.size());
    for (std::size_t b = 0; b < orders.size(); ++b) orders[b] = mol.bonds[b].order;
    if (orders.empty()) return orders;
    // Nothing aromatic: kekulizing would leave every order as it is.
    const bool aromatic = std::any_of(mol.atoms.begin(), mol.atoms.end(),
                                      [](const core::Atom& a) { return (a.flags & core::AROMATIC) != 0; }) ||
                          std::any_of(mol.bonds.begin(), mol.bonds.end(), [](const core::Bond& b) {
                              return (b.flags & core::AROMATIC) != 0 || b.order == core::BondOrder::Aromatic;
                          });
    if (!aromatic) return orders;
    const std::uint32_t n = atom_count_u32(mol);
    const auto lease = core::Scratch<RankCopy>::borrow(n);
    RankCopy& c = *lease;
    std::vector<std::uint32_t>& order = c.order;
    // Ranks that number the atoms 0..n-1 once each are their own order.
    order.assign(n, core::NONE);
    bool numbering = ranks.size() >= n;
    for (std::uint32_t a = 0; a < n && numbering; ++a) {
        const std::uint32_t r = ranks[a];
        numbering = r < n && order[r] == core::NONE;
        if (numbering) order[r] = a;
    }
    if (!numbering) {
        for (std::uint32_t a = 0; a < n; ++a) order[a] = a;
        std::sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
            return std::pair(at(ranks, x), x) < std::pair(at(ranks, y), y);
        });
    }
    std::vector<std::uint32_t>& new_index = c.new_index;
    new_index.resize(n);
    for (std::uint32_t k = 0; k < n; ++k) new_index[order[k]] = k;

    // A bond joining an atom to itself is refused: keep the molecule's own orders.
    for (const core::Bond& b : mol.bonds)
        if (b.begin == b.end) return orders;
    core::MolBuilder& copy = c.mol;
    reset(copy);
    for (std::uint32_t a : order) copy.add_atom(mol.atoms[a]);
    // Bonds by their lower then higher new end, then by bond: each atom in new
    // order lists its bonds to later atoms.
    c.source.clear();
    for (std::uint32_t lo = 0; lo < n; ++lo) {
        c.row.clear();
        for (const core::Neighbor nb : mol.neighbors(order[lo]))
            if (const std::uint32_t hi = new_index[nb.atom]; hi > lo) c.row.emplace_back(hi, nb.bond);
        std::sort(c.row.begin(), c.row.end());
        for (const auto& [hi, b] : c.row) {
            core::Bond bond = mol.bonds[b];
            for (std::uint32_t& s : bond.stereo_atoms)
                if (s != core::NONE) s = at(new_index, s);
            bond.begin = lo;
            bond.end = hi;
            copy.push_bond(bond);
            c.source.push_back(b);
        }
    }

    const auto memo = core::Scratch<chem::RingBlocksMemo>::borrow(n);
    const bool mapped = systems_in_copy(chem::remembered_ring_blocks(mol, *memo), c);
    const chem::FlatLists& systems = mapped ? c.systems : chem::remembered_ring_blocks(copy, *memo).systems;
    if (!chem::kekulize(copy, systems)) return orders;
    for (std::size_t k = 0; k < c.source.size(); ++k) at(orders, c.source[k]) = copy.bonds[k].order;
    return orders;
}

}  // namespace quorix::depict
