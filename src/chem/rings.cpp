#include "chem/rings.hpp"

#include <algorithm>
#include <bit>

#include "core/error.hpp"
#include "core/scratch.hpp"
#include "core/sort.hpp"

namespace quorix::chem {

using core::MolBuilder;
using core::NONE;

namespace {

// One level of the explicit depth-first stack; `cursor` is the graph's own
// position in the atom's neighbour list.
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

// Depth-first scratch, borrowed per call so repeated calls do not allocate.
struct BlockScratch {
    std::vector<std::uint32_t> disc, low;
    std::vector<Frame> frames;
    std::vector<EdgeTriple> edges;
};

// Sorts v[first..] ascending and drops repeats. A block's bonds and atoms
// mostly lie within 64 consecutive indices, which a bit mask orders at once;
// a larger list whose range has no more 64-index words than it has items is
// ordered through a bit map of that range, in time linear in its length.
void sort_unique_tail(std::vector<std::uint32_t>& v, std::size_t first) {
    if (v.size() <= first) return;
    const auto [lo, hi] = std::minmax_element(v.begin() + std::ptrdiff_t(first), v.end());
    const std::uint32_t low = *lo;
    if (*hi - low < 64) {
        std::uint64_t mask = 0;
        for (std::size_t i = first; i < v.size(); ++i) mask |= std::uint64_t(1) << (v[i] - low);
        v.resize(first);
        for (; mask != 0; mask &= mask - 1) v.push_back(low + std::uint32_t(std::countr_zero(mask)));
        return;
    }
    const std::size_t count = v.size() - first;
    const std::size_t words = (std::size_t(*hi - low) >> 6) + 1;
    if (words <= count) {
        const auto lease = core::Scratch<std::vector<std::uint64_t>>::borrow(words);
        std::vector<std::uint64_t>& map = *lease;
        map.assign(words, 0);
        for (std::size_t i = first; i < v.size(); ++i) {
            const std::uint32_t d = v[i] - low;
            map[d >> 6] |= std::uint64_t(1) << (d & 63u);
        }
        v.resize(first);
        for (std::size_t w = 0; w < words; ++w)
            for (std::uint64_t bits = map[w]; bits != 0; bits &= bits - 1)
                v.push_back(low + std::uint32_t(64 * w) + std::uint32_t(std::countr_zero(bits)));
        return;
    }
    std::sort(v.begin() + std::ptrdiff_t(first), v.end());
    v.erase(std::unique(v.begin() + std::ptrdiff_t(first), v.end()), v.end());
}

// A table's rows as the depth-first search walks them.
struct TableWalk {
    const CsrAdjacency& t;
    std::uint32_t num_atoms() const { return t.num_atoms; }
    std::size_t num_half_edges() const { return t.entries.size(); }
    std::uint32_t first(std::uint32_t u) const { return t.offsets[u]; }
    bool next(std::uint32_t u, std::uint32_t& cursor, CsrEntry& e) const {
        if (cursor >= t.offsets[u + 1]) return false;
        e = t.entries[cursor++];
        return true;
    }
    // Reached over its only bond.
    bool leaf(std::uint32_t w) const { return t.offsets[w + 1] - t.offsets[w] == 1; }
};

// The molecule's half-edge lists less the dative bonds: the rows of the ring
// perception table, in the same order, without building it.
struct MoleculeWalk {
    const MolBuilder& mol;
    std::uint32_t num_atoms() const { return mol.num_atoms(); }
    std::size_t num_half_edges() const { return std::size_t(mol.num_bonds()) * 2; }
    std::uint32_t first(std::uint32_t u) const { return mol.first_half_edge[u]; }
    bool next(std::uint32_t, std::uint32_t& cursor, CsrEntry& e) const {
        while (cursor != NONE) {
            const std::uint32_t h = cursor;
            cursor = mol.next_half_edge[h];
            const core::Bond& b = mol.bonds[h >> 1];
            if (b.order == core::BondOrder::Dative) continue;
            e = {(h & 1u) ? b.begin : b.end, h >> 1};
            return true;
        }
        return false;
    }
    bool leaf(std::uint32_t w) const { return mol.degree[w] == 1; }
};

// Biconnected blocks of at least two bonds by one depth-first search, each an
// ascending bond list, in completion order.
template <class Walk>
void blocks_of(const Walk& g, FlatLists& out) {
    const std::uint32_t n = g.num_atoms();
    const auto lease = core::Scratch<BlockScratch>::borrow(n);
    BlockScratch& s = *lease;
    out.clear();
    s.disc.assign(n, NONE);
    s.low.resize(n);
    // Every atom is on the frame stack at most once and every half-edge stacks
    // at most one edge, so both stacks are sized up front and indexed directly.
    s.frames.resize(std::size_t(n) + 1);
    s.edges.resize(g.num_half_edges() + 1);
    Frame* const frames = s.frames.data();
    EdgeTriple* const edges = s.edges.data();
    std::uint32_t* const disc = s.disc.data();
    std::uint32_t* const low = s.low.data();
    std::uint32_t time = 0;
    for (std::uint32_t root = 0; root < n; ++root) {
        if (disc[root] != NONE) continue;
        disc[root] = low[root] = time++;
        std::size_t top = 0, stacked = 0;
        frames[top++] = {root, NONE, g.first(root)};
        while (top != 0) {
            Frame& f = frames[top - 1];
            const std::uint32_t u = f.atom;
            CsrEntry e;
            if (g.next(u, f.cursor, e)) {
                if (e.bond == f.parent_bond) continue;
                const std::uint32_t w = e.neighbor;
                if (disc[w] == NONE) {
                    // A leaf hangs from a bridge that closes nothing and lowers
                    // nothing: mark it seen and move on.
                    if (g.leaf(w)) {
                        disc[w] = time++;
                        continue;
                    }
                    edges[stacked++] = {u, w, e.bond};
                    disc[w] = low[w] = time++;
                    frames[top++] = {w, e.bond, g.first(w)};
                } else if (disc[w] < disc[u]) {
                    edges[stacked++] = {u, w, e.bond};
                    low[u] = std::min(low[u], disc[w]);
                }
                continue;
            }
            if (--top == 0) break;
            const std::uint32_t p = frames[top - 1].atom;
            low[p] = std::min(low[p], low[u]);
            if (disc[p] > low[u]) continue;
            // Everything stacked after the tree edge p-u lies below u; the tree
            // edge itself is then right under it.
            std::size_t below = stacked;
            while (below != 0 && disc[edges[below - 1].from] >= disc[u]) --below;
            if (below == 0 || edges[below - 1].from != p || edges[below - 1].to != u)
                internal_error("块的树边必在边栈顶");
            if (below == stacked) {  // the tree edge alone: a bridge
                stacked = below - 1;
                continue;
            }
            const std::size_t first = out.items.size();
            for (std::size_t i = stacked; i-- > below;) out.items.push_back(edges[i].bond);
            out.items.push_back(edges[below - 1].bond);
            stacked = below - 1;
            sort_unique_tail(out.items, first);
            out.close_list();
        }
    }
}

// Atoms of each block, ascending.
void atoms_of_blocks(std::span<const core::Bond> bonds, const FlatLists& blocks, FlatLists& out) {
    out.clear();
    for (std::span<const std::uint32_t> block : blocks) {
        const std::size_t first = out.items.size();
        for (std::uint32_t b : block) {
            const core::Bond& bond = at(bonds, b);
            out.items.push_back(bond.begin);
            out.items.push_back(bond.end);
        }
        sort_unique_tail(out.items, first);
        out.close_list();
    }
}

// Block atom lists ordered stably by their smallest atom.
void systems_of_blocks(const FlatLists& block_atoms, FlatLists& out) {
    const auto lease = core::Scratch<std::vector<std::uint32_t>>::borrow(block_atoms.size());
    std::vector<std::uint32_t>& order = *lease;
    order.resize(block_atoms.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto by_smallest_atom = [&](std::uint32_t x, std::uint32_t y) {
        return block_atoms[x].front() < block_atoms[y].front();
    };
    core::stable_small_sort(order.begin(), order.end(), by_smallest_atom, 32);
    out.clear();
    for (std::uint32_t i : order) {
        const std::span<const std::uint32_t> atoms = block_atoms[i];
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

void ring_bond_components(const CsrAdjacency& t, FlatLists& out) { blocks_of(TableWalk{t}, out); }

std::vector<std::vector<std::uint32_t>> ring_bond_components(const CsrAdjacency& t) {
    FlatLists flat;
    ring_bond_components(t, flat);
    std::vector<std::vector<std::uint32_t>> result;
    result.reserve(flat.size());
    for (std::span<const std::uint32_t> block : flat) result.emplace_back(block.begin(), block.end());
    return result;
}

namespace {

std::uint32_t dative_bit(const core::Bond& b) { return b.order == core::BondOrder::Dative ? 1u : 0u; }

bool same_graph(const RingBlocksMemo& memo, const MolBuilder& mol) {
    if (!memo.valid || memo.first_half_edge != mol.first_half_edge || memo.next_half_edge != mol.next_half_edge ||
        memo.degree != mol.degree || memo.bond_ends.size() != 3 * std::size_t(mol.num_bonds()))
        return false;
    const std::uint32_t* ends = memo.bond_ends.data();
    for (const core::Bond& b : mol.bonds) {
        if (ends[0] != b.begin || ends[1] != b.end || ends[2] != dative_bit(b)) return false;
        ends += 3;
    }
    return true;
}

void remember_graph(RingBlocksMemo& memo, const MolBuilder& mol) {
    memo.first_half_edge = mol.first_half_edge;
    memo.next_half_edge = mol.next_half_edge;
    memo.degree = mol.degree;
    memo.bond_ends.resize(3 * std::size_t(mol.num_bonds()));
    std::uint32_t* ends = memo.bond_ends.data();
    for (const core::Bond& b : mol.bonds) {
        ends[0] = b.begin;
        ends[1] = b.end;
        ends[2] = dative_bit(b);
        ends += 3;
    }
}

void copy_lists(const FlatLists& from, FlatLists& to) {
    to.offsets = from.offsets;
    to.items = from.items;
}

}  // namespace

const RingBlocks& remembered_ring_blocks(const MolBuilder& mol, RingBlocksMemo& memo) {
    if (same_graph(memo, mol)) return memo.blocks;
    memo.valid = false;
    memo.rings_known = false;
    blocks_of(MoleculeWalk{mol}, memo.blocks.blocks);
    atoms_of_blocks(mol.bonds, memo.blocks.blocks, memo.blocks.block_atoms);
    systems_of_blocks(memo.blocks.block_atoms, memo.blocks.systems);
    remember_graph(memo, mol);
    memo.valid = true;
    return memo.blocks;
}

void find_ring_blocks(const MolBuilder& mol, RingBlocks& out) {
    const auto memo = core::Scratch<RingBlocksMemo>::borrow(mol.num_atoms());
    const RingBlocks& found = remembered_ring_blocks(mol, *memo);
    copy_lists(found.blocks, out.blocks);
    copy_lists(found.block_atoms, out.block_atoms);
    copy_lists(found.systems, out.systems);
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
    const auto memo = core::Scratch<RingBlocksMemo>::borrow(mol.num_atoms());
    const RingBlocks& rb = remembered_ring_blocks(mol, *memo);
    std::vector<std::vector<std::uint32_t>> systems;
    systems.reserve(rb.systems.size());
    for (std::span<const std::uint32_t> atoms : rb.systems) systems.emplace_back(atoms.begin(), atoms.end());
    return systems;
}

void RingSearchScratch::fit(std::uint32_t num_atoms) {
    if (dist.size() < num_atoms) dist.resize(num_atoms, NONE);
    if (position.size() < num_atoms) position.resize(num_atoms, NONE);
}

std::uint32_t smallest_ring_size(const CsrAdjacency& t, std::uint32_t s, std::span<const std::uint8_t> mask,
                                 std::uint32_t limit, RingSearchScratch& scratch) {
    std::vector<std::uint32_t>& dist = scratch.dist;
    std::vector<std::uint32_t>& position = scratch.position;
    std::vector<std::uint32_t>& queue = scratch.queue;
    if (s >= t.num_atoms || dist.size() < t.num_atoms || position.size() < t.num_atoms || mask.size() < t.num_bonds)
        internal_error("最小环搜索的参数与分子不符");
    const std::span<const CsrEntry> row = t.row(s);
    // Each search from a neighbour looks for the neighbours listed after it. It
    // reaches atoms in order of distance, so the first such neighbour it meets
    // closes its smallest ring and the search stops there: a centre with
    // thousands of ring neighbours costs no more than the rings it closes.
    std::uint32_t last = NONE;
    for (std::size_t j = 0; j < row.size(); ++j) {
        if (mask[row[j].bond] != 1) continue;
        position[row[j].neighbor] = static_cast<std::uint32_t>(j);
        last = static_cast<std::uint32_t>(j);
    }
    std::uint32_t best = NONE;
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (mask[row[i].bond] != 1) continue;
        if (i == last) break;  // no neighbour after it
        const std::uint32_t x = row[i].neighbor;
        queue.clear();
        dist[x] = 0;
        queue.push_back(x);
        if (position[x] != NONE && position[x] > i) best = std::min<std::uint32_t>(best, 2);  // a second bond
        bool closed = best == 2;
        for (std::size_t head = 0; head < queue.size() && !closed; ++head) {
            const std::uint32_t u = queue[head];
            if (dist[u] + 2 >= limit || (best != NONE && dist[u] + 2 >= best)) continue;
            for (const CsrEntry& e : t.row(u)) {
                const std::uint32_t w = e.neighbor;
                if (mask[e.bond] != 1 || w == s || dist[w] != NONE) continue;
                dist[w] = dist[u] + 1;
                queue.push_back(w);
                if (position[w] != NONE && position[w] > i) {
                    best = std::min(best, dist[w] + 2);
                    closed = true;
                    break;
                }
            }
        }
        for (std::uint32_t q : queue) dist[q] = NONE;
    }
    for (const CsrEntry& e : row) position[e.neighbor] = NONE;
    return best != NONE && best <= limit ? best : 0;
}

RingMembership ring_membership(MolBuilder& mol) {
    RingMembership m = ring_membership_of(mol);
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a)
        mol.atoms[a].flags = (mol.atoms[a].flags & ~core::IN_RING) | (m.atom_in_ring[a] ? core::IN_RING : 0u);
    for (std::uint32_t b = 0; b < mol.num_bonds(); ++b)
        mol.bonds[b].flags = (mol.bonds[b].flags & ~core::IN_RING) | (m.bond_in_ring[b] ? core::IN_RING : 0u);
    return m;
}

RingMembership ring_membership_of(const MolBuilder& mol) {
    // The table serves both the blocks and the smallest-ring searches.
    const auto table_lease = core::Scratch<CsrAdjacency>::borrow(mol.num_atoms());
    const auto blocks_lease = core::Scratch<FlatLists>::borrow(mol.num_atoms());
    const auto search_lease = core::Scratch<RingSearchScratch>::borrow(mol.num_atoms());
    CsrAdjacency& table = *table_lease;
    FlatLists& blocks = *blocks_lease;
    RingSearchScratch& search = *search_lease;
    table.num_atoms = mol.num_atoms();
    table.num_bonds = mol.num_bonds();
    table.offsets.resize(std::size_t(table.num_atoms) + 1);
    table.entries.clear();
    for (std::uint32_t a = 0; a < table.num_atoms; ++a) {
        table.offsets[a] = static_cast<std::uint32_t>(table.entries.size());
        for (std::uint32_t h = mol.first_half_edge[a]; h != NONE; h = mol.next_half_edge[h]) {
            const core::Bond& b = mol.bonds[h >> 1];
            if (b.order != core::BondOrder::Dative) table.entries.push_back({(h & 1u) ? b.begin : b.end, h >> 1});
        }
    }
    table.offsets[table.num_atoms] = static_cast<std::uint32_t>(table.entries.size());
    blocks_of(TableWalk{table}, blocks);

    const std::uint32_t n = mol.num_atoms();
    RingMembership m;
    m.smallest_ring.assign(n, 0);
    m.atom_in_ring.assign(n, 0);
    m.bond_in_ring.assign(mol.num_bonds(), 0);
    for (std::uint32_t b : blocks.items) {
        m.bond_in_ring[b] = 1;
        at(m.atom_in_ring, mol.bonds[b].begin) = 1;
        at(m.atom_in_ring, mol.bonds[b].end) = 1;
    }
    search.fit(n);
    for (std::uint32_t a = 0; a < n; ++a) {
        if (m.atom_in_ring[a] == 0) continue;
        std::uint32_t r = smallest_ring_size(table, a, m.bond_in_ring, 20, search);
        if (r == 0) r = smallest_ring_size(table, a, m.bond_in_ring, 255, search);
        m.smallest_ring[a] = static_cast<std::uint8_t>(r);
    }
    return m;
}

}  // namespace quorix::chem
