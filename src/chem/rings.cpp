#include "chem/rings.hpp"

#include <algorithm>

#include "core/error.hpp"

namespace quorix::chem {

using core::MolBuilder;
using core::NONE;

namespace {

// One level of the explicit depth-first stack; `cursor` indexes the atom's row.
struct Frame {
    std::uint32_t atom;
    std::uint32_t parent_bond;
    std::uint32_t cursor;
};

struct EdgeTriple {
    std::uint32_t from;
    std::uint32_t to;
    std::uint32_t bond;
};

// Depth-first scratch, kept per thread so repeated calls do not allocate.
struct BlockScratch {
    std::vector<std::uint32_t> disc, low, block;
    std::vector<Frame> frames;
    std::vector<EdgeTriple> edges;
};

BlockScratch& block_scratch() {
    thread_local BlockScratch scratch;
    return scratch;
}

// The non-dative neighbour table, built straight from the bond orders.
void fill_ring_table(const MolBuilder& mol, CsrAdjacency& t) {
    t.num_atoms = mol.num_atoms();
    t.num_bonds = mol.num_bonds();
    t.offsets.resize(std::size_t(t.num_atoms) + 1);
    t.entries.clear();
    for (std::uint32_t a = 0; a < t.num_atoms; ++a) {
        t.offsets[a] = static_cast<std::uint32_t>(t.entries.size());
        for (core::Neighbor nb : mol.neighbors(a))
            if (mol.bonds[nb.bond].order != core::BondOrder::Dative) t.entries.push_back({nb.atom, nb.bond});
    }
    t.offsets[t.num_atoms] = static_cast<std::uint32_t>(t.entries.size());
}

// Atoms of each block, ascending, systems ordered stably by their smallest atom.
void systems_of_blocks(std::span<const core::Bond> bonds, const FlatLists& blocks, FlatLists& out) {
    thread_local FlatLists unordered;
    thread_local std::vector<std::uint32_t> order;
    unordered.clear();
    for (std::span<const std::uint32_t> block : blocks) {
        const std::size_t first = unordered.items.size();
        for (std::uint32_t b : block) {
            const core::Bond& bond = at(bonds, b);
            unordered.items.push_back(bond.begin);
            unordered.items.push_back(bond.end);
        }
        const auto from = unordered.items.begin() + std::ptrdiff_t(first);
        std::sort(from, unordered.items.end());
        unordered.items.erase(std::unique(from, unordered.items.end()), unordered.items.end());
        unordered.close_list();
    }
    order.resize(unordered.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
        return unordered[x].front() < unordered[y].front();
    });
    out.clear();
    for (std::uint32_t i : order) {
        const std::span<const std::uint32_t> atoms = unordered[i];
        out.items.insert(out.items.end(), atoms.begin(), atoms.end());
        out.close_list();
    }
}

}  // namespace

std::vector<std::uint8_t> ring_perception_mask(const MolBuilder& mol) {
    std::vector<std::uint8_t> mask(mol.num_bonds());
    for (std::uint32_t b = 0; b < mol.num_bonds(); ++b)
        mask[b] = mol.bonds[b].order == core::BondOrder::Dative ? 0 : 1;
    return mask;
}

CsrAdjacency csr_adjacency(const MolBuilder& mol, std::span<const std::uint8_t> mask) {
    CsrAdjacency t;
    t.num_atoms = mol.num_atoms();
    t.num_bonds = mol.num_bonds();
    t.offsets.assign(std::size_t(t.num_atoms) + 1, 0);
    for (std::uint32_t a = 0; a < t.num_atoms; ++a) {
        std::uint32_t count = 0;
        for (core::Neighbor nb : mol.neighbors(a)) count += at(mask, nb.bond);
        t.offsets[a + 1] = count;
    }
    for (std::uint32_t a = 0; a < t.num_atoms; ++a) t.offsets[a + 1] += t.offsets[a];
    t.entries.reserve(t.offsets.back());
    for (std::uint32_t a = 0; a < t.num_atoms; ++a)
        for (core::Neighbor nb : mol.neighbors(a))
            if (mask[nb.bond] == 1) t.entries.push_back({nb.atom, nb.bond});
    return t;
}

void ring_bond_components(const CsrAdjacency& t, FlatLists& out) {
    const std::uint32_t n = t.num_atoms;
    BlockScratch& s = block_scratch();
    out.clear();
    s.disc.assign(n, NONE);
    s.low.assign(n, NONE);
    s.frames.clear();
    s.edges.clear();
    std::uint32_t time = 0;
    for (std::uint32_t root = 0; root < n; ++root) {
        if (s.disc[root] != NONE) continue;
        s.disc[root] = s.low[root] = time++;
        s.frames.push_back({root, NONE, 0});
        while (!s.frames.empty()) {
            Frame& f = s.frames.back();
            const std::uint32_t u = f.atom;
            const std::uint32_t end = t.offsets[u + 1] - t.offsets[u];
            if (f.cursor < end) {
                const CsrEntry e = t.entries[t.offsets[u] + f.cursor++];
                if (e.bond == f.parent_bond) continue;
                const std::uint32_t w = e.neighbor;
                if (s.disc[w] == NONE) {
                    s.edges.push_back({u, w, e.bond});
                    s.disc[w] = s.low[w] = time++;
                    s.frames.push_back({w, e.bond, 0});
                } else if (s.disc[w] < s.disc[u]) {
                    s.edges.push_back({u, w, e.bond});
                    s.low[u] = std::min(s.low[u], s.disc[w]);
                }
                continue;
            }
            s.frames.pop_back();
            if (s.frames.empty()) break;
            const std::uint32_t p = s.frames.back().atom;
            s.low[p] = std::min(s.low[p], s.low[u]);
            if (s.disc[p] > s.low[u]) continue;
            // Everything stacked after the tree edge p-u lies below u; the tree
            // edge itself is then on top.
            const std::size_t first = out.items.size();
            while (!s.edges.empty() && s.disc[s.edges.back().from] >= s.disc[u]) {
                out.items.push_back(s.edges.back().bond);
                s.edges.pop_back();
            }
            if (s.edges.empty() || s.edges.back().from != p || s.edges.back().to != u)
                internal_error("块的树边必在边栈顶");
            out.items.push_back(s.edges.back().bond);
            s.edges.pop_back();
            if (out.items.size() - first < 2) {
                out.items.resize(first);
                continue;
            }
            const auto from = out.items.begin() + std::ptrdiff_t(first);
            std::sort(from, out.items.end());
            out.items.erase(std::unique(from, out.items.end()), out.items.end());
            out.close_list();
        }
    }
}

std::vector<std::vector<std::uint32_t>> ring_bond_components(const CsrAdjacency& t) {
    FlatLists flat;
    ring_bond_components(t, flat);
    std::vector<std::vector<std::uint32_t>> result;
    result.reserve(flat.size());
    for (std::span<const std::uint32_t> block : flat) result.emplace_back(block.begin(), block.end());
    return result;
}

void find_ring_blocks(const MolBuilder& mol, RingBlocks& out) {
    fill_ring_table(mol, out.table);
    ring_bond_components(out.table, out.blocks);
    systems_of_blocks(mol.bonds, out.blocks, out.systems);
}

void set_ring_flags(MolBuilder& mol, const RingBlocks& rb) {
    for (core::Atom& a : mol.atoms) a.flags &= ~core::IN_RING;
    for (core::Bond& b : mol.bonds) b.flags &= ~core::IN_RING;
    for (std::uint32_t b : rb.blocks.items) {
        core::Bond& bond = at(mol.bonds, b);
        bond.flags |= core::IN_RING;
        at(mol.atoms, bond.begin).flags |= core::IN_RING;
        at(mol.atoms, bond.end).flags |= core::IN_RING;
    }
}

std::vector<std::vector<std::uint32_t>> ring_systems(const MolBuilder& mol) {
    RingBlocks rb;
    find_ring_blocks(mol, rb);
    std::vector<std::vector<std::uint32_t>> systems;
    systems.reserve(rb.systems.size());
    for (std::span<const std::uint32_t> atoms : rb.systems) systems.emplace_back(atoms.begin(), atoms.end());
    return systems;
}

std::uint32_t smallest_ring_size(const CsrAdjacency& t, std::uint32_t s, std::span<const std::uint8_t> mask,
                                 std::uint32_t limit, std::vector<std::uint32_t>& dist,
                                 std::vector<std::uint32_t>& queue) {
    if (s >= t.num_atoms || dist.size() < t.num_atoms || mask.size() < t.num_bonds)
        internal_error("最小环搜索的参数与分子不符");
    const std::span<const CsrEntry> row = t.row(s);
    std::uint32_t best = NONE;
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (mask[row[i].bond] != 1) continue;
        const std::uint32_t x = row[i].neighbor;
        queue.clear();
        dist[x] = 0;
        queue.push_back(x);
        for (std::size_t head = 0; head < queue.size(); ++head) {
            const std::uint32_t u = queue[head];
            if (dist[u] + 2 >= limit || (best != NONE && dist[u] + 2 >= best)) continue;
            for (const CsrEntry& e : t.row(u)) {
                if (mask[e.bond] != 1 || e.neighbor == s || dist[e.neighbor] != NONE) continue;
                dist[e.neighbor] = dist[u] + 1;
                queue.push_back(e.neighbor);
            }
        }
        for (std::size_t j = i + 1; j < row.size(); ++j) {
            if (mask[row[j].bond] != 1) continue;
            const std::uint32_t d = dist[row[j].neighbor];
            if (d != NONE) best = std::min(best, d + 2);
        }
        for (std::uint32_t q : queue) dist[q] = NONE;
    }
    return best != NONE && best <= limit ? best : 0;
}

RingMembership ring_membership(MolBuilder& mol) {
    RingBlocks rb;
    find_ring_blocks(mol, rb);
    const std::uint32_t n = mol.num_atoms();
    RingMembership m;
    m.smallest_ring.assign(n, 0);
    m.atom_in_ring.assign(n, 0);
    m.bond_in_ring.assign(mol.num_bonds(), 0);
    for (std::uint32_t b : rb.blocks.items) {
        m.bond_in_ring[b] = 1;
        at(m.atom_in_ring, mol.bonds[b].begin) = 1;
        at(m.atom_in_ring, mol.bonds[b].end) = 1;
    }
    std::vector<std::uint32_t> dist(n, NONE);
    std::vector<std::uint32_t> queue;
    for (std::uint32_t a = 0; a < n; ++a) {
        if (m.atom_in_ring[a] == 0) continue;
        std::uint32_t r = smallest_ring_size(rb.table, a, m.bond_in_ring, 20, dist, queue);
        if (r == 0) r = smallest_ring_size(rb.table, a, m.bond_in_ring, 255, dist, queue);
        m.smallest_ring[a] = static_cast<std::uint8_t>(r);
    }
    set_ring_flags(mol, rb);
    return m;
}

}  // namespace quorix::chem
