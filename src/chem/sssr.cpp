#include "chem/sssr.hpp"

#include <algorithm>
#include <iterator>
#include <set>

#include "chem/rings.hpp"
#include "core/error.hpp"

namespace quorix::chem {

using core::NONE;

namespace {

struct LocalEntry {
    std::uint32_t neighbor;
    std::uint32_t edge;
};

struct Candidate {
    std::vector<std::uint32_t> atoms;     // ring order, local indices
    std::vector<std::uint32_t> edges;     // ring order, local edge indices
    std::vector<std::uint32_t> key;       // ascending local atoms
    std::vector<std::uint32_t> edge_set;  // ascending local edges: the GF(2) vector
};

// Orders candidate indices by their atom sets; transparent so a fresh key can be
// looked up without building a candidate first.
struct KeyLess {
    using is_transparent = void;
    const std::vector<Candidate>* cands;
    bool operator()(std::uint32_t x, std::uint32_t y) const { return (*cands)[x].key < (*cands)[y].key; }
    bool operator()(std::uint32_t x, const std::vector<std::uint32_t>& k) const { return (*cands)[x].key < k; }
    bool operator()(const std::vector<std::uint32_t>& k, std::uint32_t y) const { return k < (*cands)[y].key; }
};

// Sparse GF(2) elimination: vectors are ascending edge lists, the basis is keyed
// by each vector's highest edge.
class Basis {
public:
    explicit Basis(std::uint32_t num_edges) : by_high_(num_edges, NONE) {}

    void reduce(std::vector<std::uint32_t>& v) {
        while (!v.empty()) {
            const std::uint32_t slot = by_high_[v.back()];
            if (slot == NONE) return;
            const std::vector<std::uint32_t>& w = vectors_[slot];
            scratch_.clear();
            std::set_symmetric_difference(v.begin(), v.end(), w.begin(), w.end(), std::back_inserter(scratch_));
            v.swap(scratch_);
        }
    }
    void add(std::vector<std::uint32_t> v) {
        by_high_[v.back()] = static_cast<std::uint32_t>(vectors_.size());
        vectors_.push_back(std::move(v));
    }

private:
    std::vector<std::uint32_t> by_high_;
    std::vector<std::vector<std::uint32_t>> vectors_;
    std::vector<std::uint32_t> scratch_;
};

struct LocalGraph {
    std::vector<std::uint32_t> atoms;  // molecule atom of each local atom
    std::vector<std::uint32_t> edge_begin, edge_end;
    std::vector<std::uint32_t> offsets;
    std::vector<LocalEntry> entries;

    std::uint32_t num_atoms() const { return static_cast<std::uint32_t>(atoms.size()); }
    std::uint32_t num_edges() const { return static_cast<std::uint32_t>(edge_begin.size()); }
};

LocalGraph build_local(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system) {
    LocalGraph g;
    g.atoms.reserve(system.size() * 2);
    for (std::uint32_t b : system) {
        const core::Bond& bond = at(bonds, b);
        g.atoms.push_back(bond.begin);
        g.atoms.push_back(bond.end);
    }
    std::sort(g.atoms.begin(), g.atoms.end());
    g.atoms.erase(std::unique(g.atoms.begin(), g.atoms.end()), g.atoms.end());
    auto local = [&](std::uint32_t a) {
        auto it = std::lower_bound(g.atoms.begin(), g.atoms.end(), a);
        if (it == g.atoms.end() || *it != a) internal_error("端点必在分量内");
        return static_cast<std::uint32_t>(it - g.atoms.begin());
    };
    const std::uint32_t n = g.num_atoms();
    g.offsets.assign(std::size_t(n) + 1, 0);
    for (std::uint32_t b : system) {
        const std::uint32_t x = local(bonds[b].begin), y = local(bonds[b].end);
        g.edge_begin.push_back(x);
        g.edge_end.push_back(y);
        ++g.offsets[x + 1];
        ++g.offsets[y + 1];
    }
    for (std::uint32_t a = 0; a < n; ++a) g.offsets[a + 1] += g.offsets[a];
    g.entries.resize(g.offsets.back());
    std::vector<std::uint32_t> fill(g.offsets.begin(), g.offsets.end() - 1);
    for (std::uint32_t e = 0; e < g.num_edges(); ++e) {
        g.entries[fill[g.edge_begin[e]]++] = {g.edge_end[e], e};
        g.entries[fill[g.edge_end[e]]++] = {g.edge_begin[e], e};
    }
    return g;
}

Ring to_molecule(const LocalGraph& g, std::span<const std::uint32_t> system, const Candidate& c) {
    Ring ring;
    ring.atoms.reserve(c.atoms.size());
    ring.bonds.reserve(c.edges.size());
    for (std::uint32_t a : c.atoms) ring.atoms.push_back(g.atoms[a]);
    for (std::uint32_t e : c.edges) ring.bonds.push_back(system[e]);
    return ring;
}

// A system that is one simple cycle: walked from its smallest atom along its
// lower-numbered bond. Empty when the walk does not close as one cycle.
std::vector<Ring> single_ring(const LocalGraph& g, std::span<const std::uint32_t> system) {
    const std::uint32_t n = g.num_atoms();
    Candidate c;
    std::uint32_t prev = NONE, cur = 0;
    while (c.atoms.size() < g.num_edges()) {
        if (!c.atoms.empty() && cur == 0) return {};
        const LocalEntry* next = nullptr;
        for (std::uint32_t k = g.offsets[cur]; k < g.offsets[cur + 1]; ++k)
            if (g.entries[k].neighbor != prev) {
                next = &g.entries[k];
                break;
            }
        if (next == nullptr) internal_error("度数为 2 的顶点必有一个非来路的邻居");
        c.atoms.push_back(cur);
        c.edges.push_back(next->edge);
        prev = cur;
        cur = next->neighbor;
    }
    if (cur != 0 || c.atoms.size() != n) return {};
    return {to_molecule(g, system, c)};
}

}  // namespace

std::vector<Ring> sssr_of_ring_system(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system) {
    const LocalGraph g = build_local(bonds, system);
    const std::uint32_t n = g.num_atoms();
    const std::uint32_t m = g.num_edges();
    if (n == 0) return {};

    bool all_degree_two = true;
    for (std::uint32_t a = 0; a < n; ++a) all_degree_two &= g.offsets[a + 1] - g.offsets[a] == 2;
    if (n > 2 && m == n && all_degree_two) {
        std::vector<Ring> one = single_ring(g, system);
        if (!one.empty()) return one;
    }

    const std::uint64_t cyclomatic = std::uint64_t(m) + 1 >= n ? std::uint64_t(m) + 1 - n : 0;
    std::vector<std::uint32_t> dist(n, NONE), parent(n, NONE), parent_edge(n, NONE), branch(n, NONE);
    std::vector<std::uint8_t> taken(m, 0), on_path(n, 0);
    std::vector<std::uint32_t> queue, touched_edges, path_a, path_b, key;

    for (std::uint64_t limit = 8;; limit *= 2) {
        const std::uint32_t lp = static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, n));
        const std::uint32_t depth = lp - lp / 2;
        std::vector<Candidate> cands;
        std::set<std::uint32_t, KeyLess> seen(KeyLess{&cands});

        for (std::uint32_t r = 0; r < n; ++r) {
            queue.clear();
            dist[r] = 0;
            queue.push_back(r);
            for (std::size_t head = 0; head < queue.size(); ++head) {
                const std::uint32_t u = queue[head];
                if (dist[u] >= depth) continue;
                for (std::uint32_t k = g.offsets[u]; k < g.offsets[u + 1]; ++k) {
                    const LocalEntry& en = g.entries[k];
                    if (dist[en.neighbor] != NONE) continue;
                    dist[en.neighbor] = dist[u] + 1;
                    parent[en.neighbor] = u;
                    parent_edge[en.neighbor] = en.edge;
                    branch[en.neighbor] = u == r ? en.neighbor : branch[u];
                    queue.push_back(en.neighbor);
                }
            }
            touched_edges.clear();
            for (std::uint32_t u : queue) {
                for (std::uint32_t k = g.offsets[u]; k < g.offsets[u + 1]; ++k) {
                    const std::uint32_t e = g.entries[k].edge;
                    if (taken[e]) continue;
                    taken[e] = 1;
                    touched_edges.push_back(e);
                    const std::uint32_t a = g.edge_begin[e], b = g.edge_end[e];
                    const std::uint32_t da = dist[a], db = dist[b];
                    if (da == NONE || db == NONE) continue;
                    const std::uint64_t size = std::uint64_t(da) + db + 1;
                    if (size < 3 || size > lp || (da > db ? da - db : db - da) > 1) continue;
                    if (branch[a] == branch[b]) continue;
                    path_a.clear();
                    path_b.clear();
                    for (std::uint32_t x = a; x != NONE; x = parent[x]) path_a.push_back(x);
                    for (std::uint32_t x = b; x != NONE; x = parent[x]) path_b.push_back(x);
                    for (std::uint32_t x : path_a) on_path[x] = 1;
                    bool shared = false;
                    for (std::uint32_t x : path_b) shared |= x != r && on_path[x];
                    for (std::uint32_t x : path_a) on_path[x] = 0;
                    if (shared) continue;
                    key.assign(path_a.begin(), path_a.end());
                    key.insert(key.end(), path_b.begin(), path_b.end() - 1);
                    std::sort(key.begin(), key.end());
                    if (seen.find(key) != seen.end()) continue;
                    Candidate c;
                    c.atoms.assign(path_a.begin(), path_a.end());
                    c.atoms.insert(c.atoms.end(), path_b.rbegin() + 1, path_b.rend());
                    for (std::size_t i = 0; i + 1 < path_a.size(); ++i) c.edges.push_back(parent_edge[path_a[i]]);
                    for (std::size_t i = path_b.size() - 1; i-- > 0;) c.edges.push_back(parent_edge[path_b[i]]);
                    c.edges.push_back(e);
                    c.key = key;
                    c.edge_set = c.edges;
                    std::sort(c.edge_set.begin(), c.edge_set.end());
                    cands.push_back(std::move(c));
                    seen.insert(static_cast<std::uint32_t>(cands.size() - 1));
                }
            }
            for (std::uint32_t x : queue) dist[x] = parent[x] = parent_edge[x] = branch[x] = NONE;
            for (std::uint32_t e : touched_edges) taken[e] = 0;
        }

        std::vector<std::uint32_t> order(cands.size());
        for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
            if (cands[x].key.size() != cands[y].key.size()) return cands[x].key.size() < cands[y].key.size();
            return cands[x].key < cands[y].key;
        });

        std::vector<Ring> rings;
        Basis basis(m);
        std::uint64_t rank = 0;
        std::vector<std::uint32_t> v;
        for (std::size_t lo = 0; lo < order.size();) {
            std::size_t hi = lo;
            while (hi < order.size() && cands[order[hi]].key.size() == cands[order[lo]].key.size()) ++hi;
            for (std::size_t i = lo; i < hi; ++i) {
                v = cands[order[i]].edge_set;
                basis.reduce(v);
                if (!v.empty()) rings.push_back(to_molecule(g, system, cands[order[i]]));
            }
            for (std::size_t i = lo; i < hi; ++i) {
                v = cands[order[i]].edge_set;
                basis.reduce(v);
                if (v.empty()) continue;
                basis.add(std::move(v));
                v = {};
                ++rank;
            }
            lo = hi;
        }
        if (limit >= n || rank >= cyclomatic) return rings;
    }
}

std::vector<Ring> sssr(const core::MolBuilder& mol) {
    const std::vector<std::uint8_t> mask = ring_perception_mask(mol);
    const CsrAdjacency table = csr_adjacency(mol, mask);
    std::vector<Ring> rings;
    for (const auto& system : ring_bond_components(table)) {
        std::vector<Ring> part = sssr_of_ring_system(mol.bonds, system);
        for (Ring& r : part) rings.push_back(std::move(r));
    }
    auto low_high = [](const Ring& r) {
        if (r.atoms.empty()) return std::pair{NONE, NONE};
        auto [lo, hi] = std::minmax_element(r.atoms.begin(), r.atoms.end());
        return std::pair{*lo, *hi};
    };
    std::vector<std::pair<std::uint32_t, std::uint32_t>> keys;
    std::vector<std::uint32_t> order(rings.size());
    keys.reserve(rings.size());
    for (std::uint32_t i = 0; i < rings.size(); ++i) {
        order[i] = i;
        keys.push_back(low_high(rings[i]));
    }
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
        const std::size_t sx = rings[x].atoms.size(), sy = rings[y].atoms.size();
        if (sx != sy) return sx < sy;
        return keys[x] < keys[y];
    });
    std::vector<Ring> sorted;
    sorted.reserve(rings.size());
    for (std::uint32_t i : order) sorted.push_back(std::move(rings[i]));
    return sorted;
}

}  // namespace quorix::chem
