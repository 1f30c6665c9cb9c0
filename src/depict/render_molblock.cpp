// Kekule orders for the written 2-D molblock.
#include <algorithm>
#include <numeric>
#include <tuple>

#include "chem/kekulize.hpp"
#include "depict/layout.hpp"
#include "depict/render.hpp"
#include "io/smiles/canonical.hpp"

namespace quorix::depict {

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
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
        return std::pair(at(ranks, x), x) < std::pair(at(ranks, y), y);
    });
    std::vector<std::uint32_t> new_index(n);
    for (std::uint32_t k = 0; k < n; ++k) new_index[order[k]] = k;

    core::MolBuilder copy = core::MolBuilder::with_capacity(n, mol.bonds.size());
    for (std::uint32_t a : order) copy.add_atom(mol.atoms[a]);
    std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> records;
    records.reserve(mol.bonds.size());
    for (std::uint32_t b = 0; b < mol.bonds.size(); ++b) {
        const std::uint32_t x = at(new_index, mol.bonds[b].begin), y = at(new_index, mol.bonds[b].end);
        records.emplace_back(std::min(x, y), std::max(x, y), b);
    }
    std::sort(records.begin(), records.end());
    for (const auto& [lo, hi, b] : records) {
        if (lo == hi) return orders;  // refused: keep the molecule's own orders
        core::Bond bond = mol.bonds[b];
        for (std::uint32_t& s : bond.stereo_atoms)
            if (s != core::NONE) s = at(new_index, s);
        bond.begin = lo;
        bond.end = hi;
        copy.push_bond(bond);
    }
    if (!chem::kekulize(copy)) return orders;
    for (std::size_t k = 0; k < records.size(); ++k) at(orders, std::get<2>(records[k])) = copy.bonds[k].order;
    return orders;
}

}  // namespace quorix::depict
