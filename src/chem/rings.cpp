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

// Marks the bonds that are bridges of the table's graph. The parent is skipped
// by bond index, so a second bond between the same two atoms is a back edge.
std::vector<std::uint8_t> find_bridges(const CsrAdjacency& t) {
    const std::uint32_t n = t.num_atoms;
    std::vector<std::uint8_t> bridge(t.num_bonds, 0);
    std::vector<std::uint32_t> disc(n, NONE), low(n, NONE);
    std::vector<Frame> frames;
    std::uint32_t time = 0;
    for (std::uint32_t root = 0; root < n; ++root) {
        if (disc[root] != NONE) continue;
        disc[root] = low[root] = time++;
        frames.push_back({root, NONE, 0});
        while (!frames.empty()) {
            Frame& f = frames.back();
            const std::uint32_t u = f.atom;
            const std::uint32_t end = t.offsets[u + 1] - t.offsets[u];
            if (f.cursor < end) {
                const CsrEntry e = t.entries[t.offsets[u] + f.cursor++];
                if (e.bond == f.parent_bond) continue;
                const std::uint32_t w = e.neighbor;
                if (disc[w] == NONE) {
                    disc[w] = low[w] = time++;
                    frames.push_back({w, e.bond, 0});
                } else {
                    low[u] = std::min(low[u], disc[w]);
                }
                continue;
            }
            const std::uint32_t parent_bond = f.parent_bond;
            frames.pop_back();
            if (frames.empty()) break;
            const std::uint32_t p = frames.back().atom;
            low[p] = std::min(low[p], low[u]);
            if (disc[p] < low[u]) at(bridge, parent_bond) = 1;
        }
    }
    return bridge;
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

std::vector<std::vector<std::uint32_t>> ring_bond_components(const CsrAdjacency& t) {
    const std::uint32_t n = t.num_atoms;
    std::vector<std::vector<std::uint32_t>> result;
    std::vector<std::uint32_t> disc(n, NONE), low(n, NONE);
    std::vector<Frame> frames;
    std::vector<EdgeTriple> edges;
    std::vector<std::uint32_t> block;
    std::uint32_t time = 0;
    for (std::uint32_t root = 0; root < n; ++root) {
        if (disc[root] != NONE) continue;
        disc[root] = low[root] = time++;
        frames.push_back({root, NONE, 0});
        while (!frames.empty()) {
            Frame& f = frames.back();
            const std::uint32_t u = f.atom;
            const std::uint32_t end = t.offsets[u + 1] - t.offsets[u];
            if (f.cursor < end) {
                const CsrEntry e = t.entries[t.offsets[u] + f.cursor++];
                if (e.bond == f.parent_bond) continue;
                const std::uint32_t w = e.neighbor;
                if (disc[w] == NONE) {
                    edges.push_back({u, w, e.bond});
                    disc[w] = low[w] = time++;
                    frames.push_back({w, e.bond, 0});
                } else if (disc[w] < disc[u]) {
                    edges.push_back({u, w, e.bond});
                    low[u] = std::min(low[u], disc[w]);
                }
                continue;
            }
            frames.pop_back();
            if (frames.empty()) break;
            const std::uint32_t p = frames.back().atom;
            low[p] = std::min(low[p], low[u]);
            if (disc[p] > low[u]) continue;
            block.clear();
            while (!edges.empty() && disc[edges.back().from] >= disc[u]) {
                block.push_back(edges.back().bond);
                edges.pop_back();
            }
            std::size_t i = edges.size();
            while (i > 0 && !(edges[i - 1].from == p && edges[i - 1].to == u)) --i;
            if (i == 0) internal_error("块的树边必在边栈中");
            block.push_back(edges[i - 1].bond);
            edges.erase(edges.begin() + std::ptrdiff_t(i - 1));
            if (block.size() < 2) continue;
            std::sort(block.begin(), block.end());
            block.erase(std::unique(block.begin(), block.end()), block.end());
            result.push_back(block);
        }
    }
    return result;
}

std::vector<std::vector<std::uint32_t>> ring_systems(const MolBuilder& mol) {
    const std::vector<std::uint8_t> mask = ring_perception_mask(mol);
    const CsrAdjacency table = csr_adjacency(mol, mask);
    std::vector<std::vector<std::uint32_t>> systems = ring_bond_components(table);
    for (auto& system : systems) {
        std::vector<std::uint32_t> atoms;
        atoms.reserve(system.size() * 2);
        for (std::uint32_t b : system) {
            const core::Bond& bond = at(mol.bonds, b);
            atoms.push_back(bond.begin);
            atoms.push_back(bond.end);
        }
        std::sort(atoms.begin(), atoms.end());
        atoms.erase(std::unique(atoms.begin(), atoms.end()), atoms.end());
        system = std::move(atoms);
    }
    std::stable_sort(systems.begin(), systems.end(), [](const auto& x, const auto& y) {
        return (x.empty() ? NONE : x.front()) < (y.empty() ? NONE : y.front());
    });
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
    const std::vector<std::uint8_t> mask = ring_perception_mask(mol);
    const CsrAdjacency table = csr_adjacency(mol, mask);
    const std::vector<std::uint8_t> bridge = find_bridges(table);
    const std::uint32_t n = mol.num_atoms();
    RingMembership m;
    m.smallest_ring.assign(n, 0);
    m.atom_in_ring.assign(n, 0);
    m.bond_in_ring.assign(mol.num_bonds(), 0);
    for (std::uint32_t b = 0; b < mol.num_bonds(); ++b) {
        if (mask[b] != 1 || bridge[b] != 0) continue;
        m.bond_in_ring[b] = 1;
        at(m.atom_in_ring, mol.bonds[b].begin) = 1;
        at(m.atom_in_ring, mol.bonds[b].end) = 1;
    }
    std::vector<std::uint32_t> dist(n, NONE);
    std::vector<std::uint32_t> queue;
    for (std::uint32_t a = 0; a < n; ++a) {
        if (m.atom_in_ring[a] == 0) continue;
        std::uint32_t r = smallest_ring_size(table, a, m.bond_in_ring, 20, dist, queue);
        if (r == 0) r = smallest_ring_size(table, a, m.bond_in_ring, 255, dist, queue);
        m.smallest_ring[a] = static_cast<std::uint8_t>(r);
    }
    for (std::uint32_t a = 0; a < n; ++a)
        mol.atoms[a].flags = (mol.atoms[a].flags & ~core::IN_RING) | (m.atom_in_ring[a] ? core::IN_RING : 0u);
    for (std::uint32_t b = 0; b < mol.num_bonds(); ++b)
        mol.bonds[b].flags = (mol.bonds[b].flags & ~core::IN_RING) | (m.bond_in_ring[b] ? core::IN_RING : 0u);
    return m;
}

}  // namespace quorix::chem
