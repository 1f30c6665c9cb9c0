#include "chem/sssr.hpp"

#include <algorithm>
#include <bit>

#include "chem/sssr_search.hpp"
#include "core/error.hpp"
#include "core/flat_set.hpp"
#include "core/scratch.hpp"

namespace quorix::chem {

using core::NONE;

namespace {

using ring_search::emit;
using ring_search::LocalEntry;
using ring_search::LocalGraph;

// Local index of each atom of a system (its position in the ascending list),
// through a table indexed by molecule atom that is all NONE between uses.
struct LocalIndexTable {
    std::vector<std::uint32_t> local;
};

class LocalIndex {
public:
    explicit LocalIndex(std::span<const std::uint32_t> atoms)
        : atoms_(atoms), table_(core::Scratch<LocalIndexTable>::borrow(atoms.empty() ? 0 : atoms.back())) {
        std::vector<std::uint32_t>& t = table_->local;
        if (!atoms.empty() && t.size() <= atoms.back()) t.resize(std::size_t(atoms.back()) + 1, NONE);
        for (std::uint32_t i = 0; i < atoms.size(); ++i) t[atoms[i]] = i;
    }
    ~LocalIndex() {
        std::vector<std::uint32_t>& t = table_->local;
        for (std::uint32_t a : atoms_) t[a] = NONE;
    }
    LocalIndex(const LocalIndex&) = delete;
    LocalIndex& operator=(const LocalIndex&) = delete;

    std::uint32_t operator()(std::uint32_t atom) const {
        const std::vector<std::uint32_t>& t = table_->local;
        const std::uint32_t i = atom < t.size() ? t[atom] : NONE;
        if (i == NONE) internal_error("端点必在分量内");
        return i;
    }

private:
    std::span<const std::uint32_t> atoms_;
    core::Scratch<LocalIndexTable>::Lease table_;
};

// Local atoms are the system's atoms in ascending order (`atoms`); each atom's
// row lists its edges in ascending edge order.
void build_local(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system,
                 std::span<const std::uint32_t> atoms, LocalGraph& g) {
    g.atoms.assign(atoms.begin(), atoms.end());
    const std::uint32_t n = g.num_atoms();
    if (n == 0) return;
    LocalIndex local(atoms);
    g.offsets.assign(std::size_t(n) + 1, 0);
    g.edge_begin.clear();
    g.edge_end.clear();
    for (std::uint32_t b : system) {
        const core::Bond& bond = at(bonds, b);
        const std::uint32_t x = local(bond.begin), y = local(bond.end);
        g.edge_begin.push_back(x);
        g.edge_end.push_back(y);
        ++g.offsets[x + 1];
        ++g.offsets[y + 1];
    }
    for (std::uint32_t a = 0; a < n; ++a) g.offsets[a + 1] += g.offsets[a];
    g.entries.resize(g.offsets.back());
    g.fill.assign(g.offsets.begin(), g.offsets.end() - 1);
    for (std::uint32_t e = 0; e < g.num_edges(); ++e) {
        g.entries[g.fill[g.edge_begin[e]]++] = {g.edge_end[e], e};
        g.entries[g.fill[g.edge_end[e]]++] = {g.edge_begin[e], e};
    }
}

// lower-numbered bond, from each atom's two bonds alone. False (nothing appended) when
// some atom has other than two of the bonds or the walk does not close.
bool quick_single_ring(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system,
                       std::span<const std::uint32_t> atoms, RingList& out) {
    struct Pair {
        std::uint32_t count = 0;
        std::uint32_t neighbor[2];
        std::uint32_t edge[2];  // ascending, as the atom's row
    };
    const auto n = static_cast<std::uint32_t>(atoms.size());
    const auto pairs_lease = core::Scratch<std::vector<Pair>>::borrow(n);
    std::vector<Pair>& pairs = *pairs_lease;
    pairs.assign(n, Pair{});
    {
        LocalIndex local(atoms);
        for (std::uint32_t e = 0; e < system.size(); ++e) {
            const core::Bond& bond = at(bonds, system[e]);
            const std::uint32_t x = local(bond.begin), y = local(bond.end);
            for (auto [p, q] : {std::pair{x, y}, std::pair{y, x}}) {
                Pair& slot = pairs[p];
                if (slot.count < 2) {
                    slot.neighbor[slot.count] = q;
                    slot.edge[slot.count] = e;
                }
                ++slot.count;
            }
        }
    }
    for (const Pair& p : pairs)
        if (p.count != 2) return false;
    const std::size_t first = out.atoms.size();
    std::uint32_t prev = NONE, cur = 0, steps = 0;
    bool closed = true;
    while (steps < system.size()) {
        if (steps != 0 && cur == 0) {
            closed = false;
            break;
        }
        const Pair& p = pairs[cur];
        const std::uint32_t k = p.neighbor[0] != prev ? 0 : p.neighbor[1] != prev ? 1 : 2;
        if (k == 2) internal_error("度数为 2 的顶点必有一个非来路的邻居");
        out.atoms.push_back(atoms[cur]);
        out.bonds.push_back(system[p.edge[k]]);
        ++steps;
        prev = cur;
        cur = p.neighbor[k];
    }
    if (!closed || cur != 0 || steps != n) {
        out.atoms.resize(first);
        out.bonds.resize(first);
        return false;
    }
    out.close_ring();
    return true;
}

// ---------------------------------------------------------------------------
// Systems of at most 64 atoms and 64 bonds: atom sets and edge sets are u64.
// The breadth-first search is the general one step for step, so the same rings
// are found first, in the same order and orientation.

constexpr std::uint8_t NO8 = 0xFF;


struct SmallScratch {
    std::vector<std::uint64_t> keys;       // atom set per candidate
    std::vector<std::uint64_t> edge_sets;  // edge set per candidate
    std::vector<std::uint32_t> starts;     // candidate's ring in `path_atoms` / `path_edges`
    std::vector<std::uint8_t> path_atoms, path_edges;
    std::vector<std::uint32_t> order;
    core::FlatU64Set seen;  // atom sets met
};

std::uint64_t reduce(std::uint64_t v, const std::uint64_t* basis, std::uint64_t present) {
    while (v != 0) {
        const int high = 63 - std::countl_zero(v);
        if (!((present >> high) & 1u)) break;
        v ^= basis[high];
    }
    return v;
}

// A system of at most 64 atoms and 64 edges, with atom and edge sets as bit masks.
class SmallSystem {
public:
    SmallSystem(const LocalGraph& g, SmallScratch& s) : g_(g), s_(s), n_(g.num_atoms()) {
        for (std::uint32_t a = 0; a <= n_; ++a) row_start_[a] = std::uint8_t(g.offsets[a]);
        for (std::uint32_t a = 0; a < n_; ++a) {
            adjacent_[a] = 0;
            for (std::uint32_t k = g.offsets[a + 1]; k-- > g.offsets[a];) {
                const LocalEntry& en = g.entries[k];
                rows_[k] = {std::uint8_t(en.neighbor), std::uint8_t(en.edge), g.edge_begin[en.edge] == a};
                adjacent_[a] |= std::uint64_t(1) << en.neighbor;
                first_edge_[64 * a + en.neighbor] = std::uint8_t(en.edge);
            }
        }
    }

    // The candidates of one attempt with size limit `lp`, into the scratch.
    void collect(std::uint32_t lp) {
        clear_candidates();
        for (std::uint32_t r = 0; r < n_; ++r) search_from(r, lp);
    }
    // The same when every candidate is met first from one of `roots`
    // (ascending) and no other root meets a candidate those do not.
    void collect_from(std::span<const std::uint32_t> roots, std::uint32_t lp) {
        clear_candidates();
        for (std::uint32_t r : roots) search_from(r, lp);
    }

    // Selection over the collected candidates, as for any system size; returns
    // the rank reached.
    std::uint32_t select(std::span<const std::uint32_t> system, RingList& out) {
        // By size, then by the ascending atom lists: for two sets of one size the
        // lists first differ at the lowest atom in only one of them.
        const auto count = static_cast<std::uint32_t>(s_.keys.size());
        s_.order.resize(count);
        for (std::uint32_t i = 0; i < count; ++i) s_.order[i] = i;
        std::sort(s_.order.begin(), s_.order.end(), [&](std::uint32_t x, std::uint32_t y) {
            const std::uint64_t kx = s_.keys[x], ky = s_.keys[y];
            const int sx = std::popcount(kx), sy = std::popcount(ky);
            if (sx != sy) return sx < sy;
            const std::uint64_t d = kx ^ ky;
            return (d & (~d + 1) & kx) != 0;
        });
        std::uint64_t basis[64];
        std::uint64_t present = 0;
        std::uint32_t rank = 0;
        for (std::uint32_t lo = 0; lo < count;) {
            const int size = std::popcount(s_.keys[s_.order[lo]]);
            std::uint32_t hi = lo;
            while (hi < count && std::popcount(s_.keys[s_.order[hi]]) == size) ++hi;
            for (std::uint32_t i = lo; i < hi; ++i) {
                const std::uint32_t c = s_.order[i];
                if (reduce(s_.edge_sets[c], basis, present) == 0) continue;
                const std::uint8_t* atoms = s_.path_atoms.data() + s_.starts[c];
                const std::uint8_t* edges = s_.path_edges.data() + s_.starts[c];
                emit(g_, system, std::span(atoms, std::size_t(size)), std::span(edges, std::size_t(size)), out);
            }
            for (std::uint32_t i = lo; i < hi; ++i) {
                const std::uint64_t v = reduce(s_.edge_sets[s_.order[i]], basis, present);
                if (v == 0) continue;
                const int high = 63 - std::countl_zero(v);
                basis[high] = v;
                present |= std::uint64_t(1) << high;
                ++rank;
            }
            lo = hi;
        }
        return rank;
    }

private:
    void clear_candidates() {
        s_.keys.clear();
        s_.edge_sets.clear();
        s_.starts.clear();
        s_.path_atoms.clear();
        s_.path_edges.clear();
        s_.seen.clear();
    }

    struct Row {
        std::uint8_t neighbor, edge;
        bool at_begin;  // the row's atom is the edge's first end
    };
    const LocalGraph& g_;
    SmallScratch& s_;
    const std::uint32_t n_;
    Row rows_[128];
    std::uint8_t row_start_[65];
    std::uint64_t adjacent_[64];
    // first_edge_[64 * u + v]: the first edge of u's row to v; set for neighbours only.
    std::uint8_t first_edge_[64 * 64];
    // Per search: distance, tree parent and edge, the root's child the atom hangs
    // from, and the atoms and edges of its tree path; valid for reached atoms.
    std::uint8_t dist_[64], parent_[64], parent_edge_[64], branch_[64], queue_[64], path_b_[64];
    std::uint64_t path_atoms_[64], path_edges_[64];

    // One pass does both the search and the ring closures: when an atom leaves
    // the queue, every neighbour is either reached already, or becomes its child
    // now, or is never reached. So each edge between two reached atoms is met
    // first from the end that leaves the queue first, in queue and row order,
    // with both ends final; a tree edge (or a bond parallel to one) closes
    // nothing. Atoms at the depth limit come last and only close rings of
    // 2 * depth + 1 > lp atoms with each other, so the pass ends there.
    void search_from(std::uint32_t r, std::uint32_t lp) {
        const std::uint32_t depth = lp - lp / 2;
        parent_[r] = parent_edge_[r] = branch_[r] = NO8;
        dist_[r] = 0;
        path_atoms_[r] = std::uint64_t(1) << r;
        path_edges_[r] = 0;
        queue_[0] = std::uint8_t(r);
        std::uint32_t tail = 1;
        std::uint64_t reached = std::uint64_t(1) << r, dequeued = 0;
        for (std::uint32_t head = 0; head < tail && dist_[queue_[head]] < depth; ++head) {
            const std::uint32_t u = queue_[head];
            dequeued |= std::uint64_t(1) << u;
            const std::uint64_t children = adjacent_[u] & ~reached;
            if (children != 0) {
                reached |= children;
                adopt_children(r, u, children, tail);
            }
            const std::uint64_t closing = adjacent_[u] & reached & ~dequeued & ~children;
            if (closing != 0) close_rings(r, u, closing, lp);
        }
    }

    // Children in row order, each from its first edge.
    void adopt_children(std::uint32_t r, std::uint32_t u, std::uint64_t children, std::uint32_t& tail) {
        const auto adopt = [&](std::uint32_t v, std::uint32_t e) {
            dist_[v] = std::uint8_t(dist_[u] + 1);
            parent_[v] = std::uint8_t(u);
            parent_edge_[v] = std::uint8_t(e);
            branch_[v] = u == r ? std::uint8_t(v) : branch_[u];
            path_atoms_[v] = path_atoms_[u] | std::uint64_t(1) << v;
            path_edges_[v] = path_edges_[u] | std::uint64_t(1) << e;
            queue_[tail++] = std::uint8_t(v);
        };
        if ((children & (children - 1)) == 0) {
            const auto v = static_cast<std::uint32_t>(std::countr_zero(children));
            adopt(v, first_edge_[64 * u + v]);
            return;
        }
        std::uint64_t left = children;
        for (std::uint32_t k = row_start_[u]; left != 0; ++k) {
            const std::uint32_t v = rows_[k].neighbor;
            if (!((left >> v) & 1u)) continue;
            left &= ~(std::uint64_t(1) << v);
            adopt(v, rows_[k].edge);
        }
    }

    void close_rings(std::uint32_t r, std::uint32_t u, std::uint64_t closing, std::uint32_t lp) {
        for (std::uint32_t k = row_start_[u]; k < row_start_[u + 1]; ++k) {
            const std::uint32_t v = rows_[k].neighbor;
            if (!((closing >> v) & 1u)) continue;
            const std::uint32_t e = rows_[k].edge;
            const std::uint32_t a = rows_[k].at_begin ? u : v, b = rows_[k].at_begin ? v : u;
            const std::uint32_t da = dist_[a], db = dist_[b];
            const std::uint32_t size = da + db + 1;
            if (size < 3 || size > lp || (da > db ? da - db : db - da) > 1) continue;
            if (branch_[a] == branch_[b]) continue;
            if (path_atoms_[a] & path_atoms_[b] & ~(std::uint64_t(1) << r)) continue;
            const std::uint64_t key = path_atoms_[a] | path_atoms_[b];
            if (!s_.seen.insert(key)) continue;
            // Ring order: a up to the root, then down to b, closed by e.
            s_.starts.push_back(static_cast<std::uint32_t>(s_.path_atoms.size()));
            for (std::uint32_t x = a; x != r; x = parent_[x]) {
                s_.path_atoms.push_back(std::uint8_t(x));
                s_.path_edges.push_back(parent_edge_[x]);
            }
            s_.path_atoms.push_back(std::uint8_t(r));
            std::uint32_t len_b = 0;
            for (std::uint32_t x = b; x != r; x = parent_[x]) path_b_[len_b++] = std::uint8_t(x);
            for (std::uint32_t i = len_b; i-- > 0;) {
                s_.path_atoms.push_back(path_b_[i]);
                s_.path_edges.push_back(parent_edge_[path_b_[i]]);
            }
            s_.path_edges.push_back(std::uint8_t(e));
            s_.keys.push_back(key);
            s_.edge_sets.push_back(path_edges_[a] | path_edges_[b] | std::uint64_t(1) << e);
        }
    }
};

// Two rings of at most eight atoms fused at one bond, with more than eight atoms
// in all: the local atoms at which the candidates are first met, ascending, and
// how many (0 when the system is not of that shape).
//
// Its only cycles are the two rings and their outline, which has more than
// eight atoms and so is never a candidate of the first attempt. Each ring is met
// from every one of its atoms (going round the other ring is longer than the
// shared bond, so the breadth-first paths stay in the ring) and from no other,
// so first from its smallest atom; the attempt then reaches rank two and ends.
std::uint32_t fused_pair_roots(const LocalGraph& g, std::uint32_t (&roots)[2]) {
    const std::uint32_t n = g.num_atoms();
    if (n <= 8 || g.num_edges() != n + 1) return 0;
    std::uint32_t ends[2], found = 0;
    for (std::uint32_t a = 0; a < n; ++a) {
        const std::uint32_t degree = g.offsets[a + 1] - g.offsets[a];
        if (degree == 3) {
            if (found == 2) return 0;
            ends[found++] = a;
        } else if (degree != 2) {
            return 0;
        }
    }
    if (found != 2) return 0;
    const std::uint32_t u = ends[0], v = ends[1];
    // Exactly one bond joins the two; the other two leave u on paths to v.
    std::uint32_t direct = 0;
    for (std::uint32_t k = g.offsets[u]; k < g.offsets[u + 1]; ++k) direct += g.entries[k].neighbor == v;
    if (direct != 1) return 0;
    std::uint32_t low[2], path = 0, covered = 2;
    for (std::uint32_t k = g.offsets[u]; k < g.offsets[u + 1]; ++k) {
        if (g.entries[k].neighbor == v) continue;
        std::uint32_t prev = u, cur = g.entries[k].neighbor, smallest = std::min(u, v), size = 2;
        while (cur != v) {
            if (cur == u || ++size > 8) return 0;
            smallest = std::min(smallest, cur);
            const std::uint32_t row = g.offsets[cur];
            const std::uint32_t next = g.entries[row].neighbor != prev ? g.entries[row].neighbor
                                                                       : g.entries[row + 1].neighbor;
            prev = cur;
            cur = next;
        }
        low[path++] = smallest;
        covered += size - 2;
    }
    // Any atom off the two paths would lie on a cycle of its own.
    if (covered != n) return 0;
    if (low[0] == low[1]) {
        roots[0] = low[0];
        return 1;
    }
    roots[0] = std::min(low[0], low[1]);
    roots[1] = std::max(low[0], low[1]);
    return 2;
}

void small_system_rings(const LocalGraph& g, std::span<const std::uint32_t> system, RingList& out) {
    const auto lease = core::Scratch<SmallScratch>::borrow(g.num_atoms());
    const std::uint32_t n = g.num_atoms();
    const std::uint32_t m = g.num_edges();
    const std::uint32_t cyclomatic = m + 1 >= n ? m + 1 - n : 0;
    const std::uint32_t rings_before = out.size();
    SmallSystem small(g, *lease);
    std::uint32_t roots[2];
    if (const std::uint32_t count = fused_pair_roots(g, roots); count != 0) {
        small.collect_from(std::span(roots, count), 8);
        if (small.select(system, out) != 2) internal_error("两环稠合体系必有两个环");
        return;
    }
    for (std::uint32_t limit = 8;; limit *= 2) {
        small.collect(std::min(limit, n));
        const std::uint32_t rank = small.select(system, out);
        if (limit >= n || rank >= cyclomatic) return;
        out.truncate(rings_before);
    }
}


// The rings of small systems searched before, by the shape of their local
// graph. One depiction asks for the rings of its molecule several times over
// (aromaticity, then the ring list of the drawn molecule and of its layout copy),
// a batch meets the same fused systems again and again in other molecules, and
// a fused system costs far more to search than to recognise. The search reads
// nothing but the local graph: its atom count and each bond's local ends in the
// system's order. Those are the key, and the rings are kept in local indices.
struct SystemMemo {
    static constexpr std::uint32_t SLOTS = 128;
    struct Slot {
        std::vector<std::uint32_t> key;  // atom count, bond count, then per bond its local ends; empty when unused
        RingList rings;                  // local atoms and bonds
    };
    Slot slots[SLOTS];
    std::vector<std::uint32_t> key, identity;
    RingList found;
};

// `local` (local indices) appended to `out` in the molecule's indices.
void append_translated(const RingList& local, std::span<const std::uint32_t> atoms,
                       std::span<const std::uint32_t> system, RingList& out) {
    for (std::uint32_t a : local.atoms) out.atoms.push_back(atoms[a]);
    for (std::uint32_t e : local.bonds) out.bonds.push_back(system[e]);
    const std::uint32_t shift = static_cast<std::uint32_t>(out.atoms.size()) - local.offsets.back();
    for (std::uint32_t i = 1; i < local.offsets.size(); ++i) out.offsets.push_back(local.offsets[i] + shift);
}

void remembered_small_system_rings(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system,
                                   std::span<const std::uint32_t> atoms, RingList& out) {
    const auto lease = core::Scratch<SystemMemo>::borrow(atoms.size());
    SystemMemo& memo = *lease;
    std::vector<std::uint32_t>& key = memo.key;
    key.assign({static_cast<std::uint32_t>(atoms.size()), static_cast<std::uint32_t>(system.size())});
    {
        LocalIndex local(atoms);
        for (std::uint32_t b : system) {
            const core::Bond& bond = at(bonds, b);
            key.insert(key.end(), {local(bond.begin), local(bond.end)});
        }
    }
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (std::uint32_t v : key) hash = (hash ^ v) * 0x100000001B3ull;
    SystemMemo::Slot& slot = memo.slots[(hash ^ (hash >> 29)) % SystemMemo::SLOTS];
    if (slot.key != key) {
        // Searched with the local graph standing for the molecule, so the rings
        // come out in local indices.
        const auto graph_lease = core::Scratch<LocalGraph>::borrow(atoms.size());
        LocalGraph& g = *graph_lease;
        build_local(bonds, system, atoms, g);
        for (std::uint32_t a = 0; a < g.num_atoms(); ++a) g.atoms[a] = a;
        memo.identity.resize(system.size());
        for (std::uint32_t e = 0; e < system.size(); ++e) memo.identity[e] = e;
        memo.found.clear();
        small_system_rings(g, memo.identity, memo.found);
        slot.key.swap(key);
        std::swap(slot.rings, memo.found);
    }
    append_translated(slot.rings, atoms, system, out);
}

void system_rings(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system,
                  std::span<const std::uint32_t> atoms, RingList& out, bool allow_small, RingSearchStats& stats,
                  bool plain = false) {
    if (atoms.empty()) return;
    // One simple cycle, the commonest system: walked without the local graph.
    // When the walk fails, the full search below would fail it the same way.
    if (atoms.size() > 2 && system.size() == atoms.size() && quick_single_ring(bonds, system, atoms, out)) return;
    if (allow_small && atoms.size() <= 64 && system.size() <= 64) {
        remembered_small_system_rings(bonds, system, atoms, out);
        return;
    }
    const auto lease = core::Scratch<LocalGraph>::borrow(atoms.size());
    LocalGraph& g = *lease;
    build_local(bonds, system, atoms, g);
    ring_search::general_system_rings(g, system, out, stats, plain);
}

// The system's atoms, ascending.
void atoms_of(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system,
              std::vector<std::uint32_t>& atoms) {
    atoms.clear();
    for (std::uint32_t b : system) {
        const core::Bond& bond = at(bonds, b);
        atoms.push_back(bond.begin);
        atoms.push_back(bond.end);
    }
    std::sort(atoms.begin(), atoms.end());
    atoms.erase(std::unique(atoms.begin(), atoms.end()), atoms.end());
}

}  // namespace

void append_ring_system_rings(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system,
                              RingList& out) {
    const auto atoms = core::Scratch<std::vector<std::uint32_t>>::borrow(2 * system.size());
    atoms_of(bonds, system, *atoms);
    RingSearchStats stats;
    system_rings(bonds, system, *atoms, out, true, stats);
}

void append_ring_system_rings(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system,
                              std::span<const std::uint32_t> atoms, RingList& out) {
    RingSearchStats stats;
    system_rings(bonds, system, atoms, out, true, stats);
}

void append_ring_system_rings_general(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system,
                                      RingList& out) {
    RingSearchStats stats;
    append_ring_system_rings_general(bonds, system, out, stats);
}

void append_ring_system_rings_general(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system,
                                      RingList& out, RingSearchStats& stats, bool plain) {
    const auto atoms = core::Scratch<std::vector<std::uint32_t>>::borrow(2 * system.size());
    atoms_of(bonds, system, *atoms);
    system_rings(bonds, system, *atoms, out, false, stats, plain);
}

namespace {

std::vector<Ring> to_rings(const RingList& list) {
    std::vector<Ring> rings(list.size());
    for (std::uint32_t i = 0; i < list.size(); ++i) {
        const auto atoms = list.ring_atoms(i);
        const auto bonds = list.ring_bonds(i);
        rings[i].atoms.assign(atoms.begin(), atoms.end());
        rings[i].bonds.assign(bonds.begin(), bonds.end());
    }
    return rings;
}

}  // namespace

std::vector<Ring> sssr_of_ring_system(std::span<const core::Bond> bonds, std::span<const std::uint32_t> system) {
    RingList list;
    append_ring_system_rings(bonds, system, list);
    return to_rings(list);
}

void sort_ring_list(const RingList& in, RingList& out) {
    struct Key {
        std::uint32_t size, low, high, index;
    };
    const auto lease = core::Scratch<std::vector<Key>>::borrow(in.size());
    std::vector<Key>& keys = *lease;
    keys.clear();
    for (std::uint32_t i = 0; i < in.size(); ++i) {
        const auto atoms = in.ring_atoms(i);
        Key k{in.ring_size(i), NONE, NONE, i};
        if (!atoms.empty()) {
            const auto [lo, hi] = std::minmax_element(atoms.begin(), atoms.end());
            k.low = *lo;
            k.high = *hi;
        }
        keys.push_back(k);
    }
    // The index breaks ties, which makes the order the stable one.
    std::sort(keys.begin(), keys.end(), [](const Key& x, const Key& y) {
        if (x.size != y.size) return x.size < y.size;
        if (x.low != y.low) return x.low < y.low;
        if (x.high != y.high) return x.high < y.high;
        return x.index < y.index;
    });
    out.clear();
    for (const Key& k : keys) {
        const auto atoms = in.ring_atoms(k.index);
        const auto bonds = in.ring_bonds(k.index);
        out.atoms.insert(out.atoms.end(), atoms.begin(), atoms.end());
        out.bonds.insert(out.bonds.end(), bonds.begin(), bonds.end());
        out.close_ring();
    }
}

namespace {

// The molecule's rings in list order, appended to `found` and sorted into `sorted`.
void ring_list(const core::MolBuilder& mol, const RingBlocks& blocks, RingList& found, RingList& sorted,
               RingSearchStats& stats) {
    found.clear();
    for (std::uint32_t i = 0; i < blocks.blocks.size(); ++i)
        system_rings(mol.bonds, blocks.blocks[i], blocks.block_atoms[i], found, true, stats);
    sort_ring_list(found, sorted);
}

}  // namespace

void ring_list_of_blocks(const core::MolBuilder& mol, const RingBlocks& blocks, RingList& found, RingList& out) {
    RingSearchStats stats;
    ring_list(mol, blocks, found, out, stats);
}

const RingList& remembered_ring_list(const core::MolBuilder& mol, RingBlocksMemo& memo) {
    const RingBlocks& blocks = remembered_ring_blocks(mol, memo);
    if (!memo.rings_known) {
        const auto found = core::Scratch<RingList>::borrow(mol.num_atoms());
        RingSearchStats stats;
        ring_list(mol, blocks, *found, memo.rings, stats);
        memo.rings_known = true;
    }
    return memo.rings;
}

std::vector<Ring> sssr(const core::MolBuilder& mol) {
    const auto memo = core::Scratch<RingBlocksMemo>::borrow(mol.num_atoms());
    return to_rings(remembered_ring_list(mol, *memo));
}

std::vector<Ring> sssr(const core::MolBuilder& mol, RingSearchStats& stats) {
    const auto memo = core::Scratch<RingBlocksMemo>::borrow(mol.num_atoms());
    const auto found = core::Scratch<RingList>::borrow(mol.num_atoms());
    const auto sorted = core::Scratch<RingList>::borrow(mol.num_atoms());
    ring_list(mol, remembered_ring_blocks(mol, *memo), *found, *sorted, stats);
    return to_rings(*sorted);
}

}  // namespace quorix::chem
