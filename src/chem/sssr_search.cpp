#include "chem/sssr_search.hpp"

#include <algorithm>
#include <bit>
#include <iterator>
#include <optional>
#include <unordered_map>

#include "core/error.hpp"

namespace quorix::chem::ring_search {

using core::NONE;

namespace {

// ---------------------------------------------------------------------------
// Any system size: sorted index vectors.

struct Candidate {
    std::vector<std::uint32_t> atoms;     // ring order, local indices
    std::vector<std::uint32_t> edges;     // ring order, local edge indices
    std::vector<std::uint32_t> key;       // ascending local atoms
    std::vector<std::uint32_t> edge_set;  // ascending local edges: the GF(2) vector
    // Weighted search only: whether some of its atoms are bonded across the
    // cycle, and the root and closing edge of the version kept.
    bool chorded = false;
    std::uint32_t root = NONE, closing = NONE;
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
    // The vector whose highest edge is `e`, or null.
    const std::vector<std::uint32_t>* with_high(std::uint32_t e) const {
        return by_high_[e] == NONE ? nullptr : &vectors_[by_high_[e]];
    }

private:
    std::vector<std::uint32_t> by_high_;
    std::vector<std::vector<std::uint32_t>> vectors_;
    std::vector<std::uint32_t> scratch_;
};

// Ascending order of distinct indices: a byte-wise radix sort for the long
// lists of large cycles, where it beats comparison sorts several times over.
void sort_indices(std::vector<std::uint32_t>& v, std::vector<std::uint32_t>& buffer) {
    if (v.size() < 256) {
        std::sort(v.begin(), v.end());
        return;
    }
    const std::uint32_t top = *std::max_element(v.begin(), v.end());
    buffer.resize(v.size());
    for (std::uint32_t shift = 0; shift < 32 && (top >> shift) != 0; shift += 8) {
        std::uint32_t count[257] = {};
        for (std::uint32_t x : v) ++count[((x >> shift) & 0xFF) + 1];
        for (std::uint32_t d = 0; d < 256; ++d) count[d + 1] += count[d];
        for (std::uint32_t x : v) buffer[count[(x >> shift) & 0xFF]++] = x;
        v.swap(buffer);
    }
}

// The candidates kept in one attempt, found again by their atom sets. A set is
// looked up by an order-free hash of its atoms and confirmed atom by atom, so a
// cycle met again from another root costs one walk of its paths, not a sort.
class CandidateSets {
public:
    explicit CandidateSets(std::uint32_t num_atoms) : stamp_(num_atoms, 0) {}

    static std::uint64_t atom_hash(std::uint32_t a) {
        std::uint64_t z = a + 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Whether a kept candidate has exactly the atoms of the two paths (the root
    // ends the first; the second stops short of it).
    bool contains(const std::vector<Candidate>& cands, std::uint64_t hash, std::span<const std::uint32_t> path_a,
                  std::span<const std::uint32_t> path_b) {
        if (slots_.empty()) return false;
        const std::size_t size = path_a.size() + path_b.size();
        for (std::size_t i = hash & (slots_.size() - 1); slots_[i].index != NONE; i = (i + 1) & (slots_.size() - 1)) {
            if (slots_[i].hash != hash || cands[slots_[i].index].key.size() != size) continue;
            if (++round_ == 0) {
                std::fill(stamp_.begin(), stamp_.end(), 0);
                round_ = 1;
            }
            for (std::uint32_t x : cands[slots_[i].index].key) stamp_[x] = round_;
            bool same = true;
            for (std::uint32_t x : path_a) same = same && stamp_[x] == round_;
            for (std::uint32_t x : path_b) same = same && stamp_[x] == round_;
            if (same) return true;
        }
        return false;
    }

    // The kept candidate of `size` atoms under `hash` that passes `same`, or NONE.
    template <class Same>
    std::uint32_t find_if(const std::vector<Candidate>& cands, std::uint64_t hash, std::size_t size, Same same) const {
        if (slots_.empty()) return NONE;
        for (std::size_t i = hash & (slots_.size() - 1); slots_[i].index != NONE; i = (i + 1) & (slots_.size() - 1))
            if (slots_[i].hash == hash && cands[slots_[i].index].atoms.size() == size && same(slots_[i].index))
                return slots_[i].index;
        return NONE;
    }

    void insert(std::uint64_t hash, std::uint32_t index) {
        if ((count_ + 1) * 2 > slots_.size()) {
            std::vector<Slot> old = std::move(slots_);
            slots_.assign(std::max<std::size_t>(64, old.size() * 2), Slot{});
            for (const Slot& x : old)
                if (x.index != NONE) place(x);
        }
        place({hash, index});
        ++count_;
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t index = NONE;
    };
    std::vector<Slot> slots_;
    std::size_t count_ = 0;
    std::vector<std::uint32_t> stamp_;
    std::uint32_t round_ = 0;

    void place(const Slot& x) {
        std::size_t i = x.hash & (slots_.size() - 1);
        while (slots_[i].index != NONE) i = (i + 1) & (slots_.size() - 1);
        slots_[i] = x;
    }
};

// The candidate cycles of one attempt: from every root, a breadth-first tree,
// and for each edge closing two tree paths of nearly equal length that meet only
// at the root, the cycle they form, once per atom set.
class CandidateSearch {
public:
    CandidateSearch(const LocalGraph& g, RingSearchStats& stats)
        : g_(g), stats_(stats), dist_(g.num_atoms(), NONE), parent_(g.num_atoms(), NONE),
          parent_edge_(g.num_atoms(), NONE), branch_(g.num_atoms(), NONE), taken_(g.num_edges(), 0),
          on_path_(g.num_atoms(), 0), weight_path_(g.num_atoms(), 0), hash_path_(g.num_atoms(), 0),
          stamp_(g.num_atoms(), 0), near_(g.num_atoms(), 0) {}

    // Candidates with more than `settled` and at most `limit` atoms.
    std::vector<Candidate> run(std::uint32_t limit, std::uint64_t settled) {
        std::vector<Candidate> cands;
        CandidateSets seen(g_.num_atoms());
        for (std::uint32_t r = 0; r < g_.num_atoms(); ++r) {
            grow_tree(r, limit - limit / 2);
            close_cycles(r, limit, settled, cands, seen);
            clear_tree();
        }
        return cands;
    }

    // The same search, keeping only candidates of nonzero weight (see
    // witness_weights), each with its weight. A cycle of zero weight lies in the
    // span of the smaller rings, so it is neither a ring nor a basis vector and
    // need not be built; only its atom set could matter, as the first version of
    // that set. Versions of one atom set differ only when some of its atoms are
    // bonded across the cycle; such candidates are marked.
    void run_weighted(std::uint32_t limit, std::uint64_t settled, std::span<const std::uint64_t> w,
                      std::vector<Candidate>& cands, std::vector<std::uint64_t>& weights) {
        CandidateSets seen(0);
        if (!chains_found_) find_chains();
        if (shadowed_.empty()) find_shadowed();
        for (std::uint32_t r = 0; r < g_.num_atoms(); ++r) {
            if (chain_of_[r] != NONE) continue;
            grow_tree(r, limit - limit / 2);
            weight_path_[r] = 0;
            hash_path_[r] = CandidateSets::atom_hash(r);
            for (std::size_t i = 1; i < queue_.size(); ++i) {
                const std::uint32_t u = queue_[i];
                weight_path_[u] = weight_path_[parent_[u]] ^ w[parent_edge_[u]];
                hash_path_[u] = hash_path_[parent_[u]] + CandidateSets::atom_hash(u);
            }
            close_weighted(r, limit, settled, w, cands, weights, seen);
            clear_tree();
        }
        for (std::uint32_t id = 0; id < chains_.size(); ++id) close_chain(id, limit, settled, w, cands, weights, seen);
    }

private:
    const LocalGraph& g_;
    RingSearchStats& stats_;
    std::vector<std::uint32_t> dist_, parent_, parent_edge_, branch_;
    std::vector<std::uint8_t> taken_, on_path_;
    std::vector<std::uint32_t> queue_, touched_edges_, path_a_, path_b_;
    std::vector<std::uint64_t> weight_path_, hash_path_;  // along the tree path from the root
    std::vector<std::uint32_t> stamp_, radix_buffer_, edges_a_, edges_b_, near_;
    std::uint32_t round_ = 0, edge_round_ = 0, near_round_ = 0;

    void clear_tree() {
        for (std::uint32_t x : queue_) dist_[x] = parent_[x] = parent_edge_[x] = branch_[x] = NONE;
        for (std::uint32_t e : touched_edges_) taken_[e] = 0;
    }

    std::uint32_t next_round() {
        if (++round_ == 0) {
            std::fill(stamp_.begin(), stamp_.end(), 0);
            round_ = 1;
        }
        return round_;
    }

    // Every edge met from the search queue once, marked taken; `close` gets those
    // that close a cycle through the root of a size in (settled, limit] from two
    // different branches: its ends and size.
    template <class Close>
    void for_each_closing_edge(std::uint32_t limit, std::uint64_t settled, Close&& close) {
        touched_edges_.clear();
        for (std::uint32_t u : queue_) {
            for (std::uint32_t k = g_.offsets[u]; k < g_.offsets[u + 1]; ++k) {
                const std::uint32_t e = g_.entries[k].edge;
                if (taken_[e]) continue;
                taken_[e] = 1;
                touched_edges_.push_back(e);
                const std::uint32_t a = g_.edge_begin[e], b = g_.edge_end[e];
                const std::uint32_t da = dist_[a], db = dist_[b];
                if (da == NONE || db == NONE) continue;
                const std::uint64_t size = std::uint64_t(da) + db + 1;
                if (size < 3 || size <= settled || size > limit || (da > db ? da - db : db - da) > 1) continue;
                if (branch_[a] == branch_[b]) continue;
                close(a, b, e, size);
            }
        }
    }

    void close_weighted(std::uint32_t r, std::uint32_t limit, std::uint64_t settled, std::span<const std::uint64_t> w,
                        std::vector<Candidate>& cands, std::vector<std::uint64_t>& weights, CandidateSets& seen) {
        for_each_closing_edge(limit, settled, [&](std::uint32_t a, std::uint32_t b, std::uint32_t e, std::uint64_t size) {
            if (shadowed_[e]) return;
            const std::uint64_t weight = weight_path_[a] ^ weight_path_[b] ^ w[e];
            if (weight == 0) return;
            // Paths of different branches share only the root.
            const std::uint64_t hash = hash_path_[a] + hash_path_[b] - CandidateSets::atom_hash(r);
            const auto same = [&](std::uint32_t index) {
                const std::uint32_t mark = next_round();
                for (std::uint32_t x : cands[index].atoms) stamp_[x] = mark;
                stats_.steps += size;
                for (std::uint32_t x = a; x != NONE; x = parent_[x])
                    if (stamp_[x] != mark) return false;
                for (std::uint32_t x = b; x != r; x = parent_[x])
                    if (stamp_[x] != mark) return false;
                return true;
            };
            const std::uint32_t found = seen.find_if(cands, hash, size, same);
            if (found != NONE && !earlier(r, e, cands[found])) return;
            path_a_.clear();
            path_b_.clear();
            for (std::uint32_t x = a; x != NONE; x = parent_[x]) path_a_.push_back(x);
            for (std::uint32_t x = b; x != r; x = parent_[x]) path_b_.push_back(x);
            Candidate c = build_candidate(e, false);
            c.root = r;
            c.closing = e;
            keep(std::move(c), weight, found, hash, cands, weights, seen);
        });
    }

    // Whether root r closing e comes before the version kept: the search from
    // the smaller root meets its cycles first, and from one root only bonds
    // parallel to each other close the same atoms, met in edge order.
    static bool earlier(std::uint32_t r, std::uint32_t e, const Candidate& kept) {
        return r < kept.root || (r == kept.root && e < kept.closing);
    }

    // Keeps a new atom set, or a version of a kept one (`found`) that comes first.
    void keep(Candidate c, std::uint64_t weight, std::uint32_t found, std::uint64_t hash, std::vector<Candidate>& cands,
              std::vector<std::uint64_t>& weights, CandidateSets& seen) {
        if (found != NONE) {
            c.chorded = cands[found].chorded;
            cands[found] = std::move(c);
            weights[found] = weight;
            return;
        }
        c.chorded = !induces_only_itself(c);
        cands.push_back(std::move(c));
        weights.push_back(weight);
        seen.insert(hash, static_cast<std::uint32_t>(cands.size() - 1));
    }

    // -----------------------------------------------------------------------
    // Roots inside chains. A chain is a path of atoms with two bonds each,
    // c_1..c_m, between two different atoms c_0 and c_{m+1} with more bonds.
    // The search from c_i has two branches, through c_{i-1} and c_{i+1}; level
    // by level all atoms of the first branch (the one of c_i's lower bond) come
    // before those of the second. So an atom off the chain hangs in the branch
    // towards c_0 when i + d0 < (m + 1 - i) + d1, or on equality when that
    // branch is the first (d0, d1: its distances from c_0 and c_{m+1} avoiding
    // the chain), and below the chain end its tree path is the one of the
    // breadth-first tree from that end avoiding the chain: an atom's parent is
    // its first queued neighbour one level up, which lies in its own branch
    // and there comes first by the same order as in that tree. The chain's own
    // atoms are reached straight along it or around through the other end.
    // Hence two trees per chain give the trees of all its roots, and a bond off
    // the chain closes a cycle only for the one or two roots where it joins
    // atoms of the two branches at nearly equal distances.

    struct Chain {
        std::vector<std::uint32_t> atoms;  // c_0 .. c_{m+1}
        std::vector<std::uint32_t> edges;  // edges[j] joins c_j and c_{j+1}
    };
    // A breadth-first tree from a chain end that avoids the chain.
    struct EndTree {
        std::vector<std::uint32_t> dist, parent, parent_edge, queue;
        std::vector<std::uint64_t> weight, hash;  // along the tree path from the end
    };
    // Where the search from a chain root puts an atom.
    struct Spot {
        std::uint64_t dist;  // INF when not reached within the depth
        bool first_end;      // hangs in the branch towards c_0
    };
    static constexpr std::uint64_t INF = ~std::uint64_t(0);
    static constexpr std::uint32_t MIN_CHAIN = 2;

    std::vector<Chain> chains_;
    std::vector<std::uint32_t> chain_of_;  // chain of an inner atom of a long chain, else NONE
    bool chains_found_ = false;
    EndTree from_first_, from_last_;
    std::vector<std::uint64_t> chain_weight_;  // chain_weight_[j]: weight of c_0..c_j along the chain
    std::vector<std::pair<std::uint32_t, std::uint32_t>> closings_;  // (root position, edge)
    // The crossings of one cycle through the chain: the bond where the two
    // branches meet moves along the same path around as the root moves.
    struct Crossing {
        std::uint32_t first, last, edge;  // the bond's ends in the branch towards c_0 and the other
    };
    struct Group {
        Crossing latest;
        std::uint32_t root = NONE, position = 0, edge = NONE;  // the version to keep
    };
    std::vector<Group> groups_;
    std::unordered_map<std::uint64_t, std::uint32_t> group_of_;  // path hash -> latest group with it
    std::vector<std::uint32_t> edge_mark_, segment_;

    bool inner(std::uint32_t x) const {
        const std::uint32_t o = g_.offsets[x];
        return g_.offsets[x + 1] - o == 2 && g_.entries[o].neighbor != g_.entries[o + 1].neighbor;
    }

    void find_chains() {
        chains_found_ = true;
        const std::uint32_t n = g_.num_atoms();
        chain_of_.assign(n, NONE);
        std::vector<std::uint8_t> seen(n, 0);
        std::vector<std::uint32_t> atoms0, edges0, atoms1, edges1;
        // Walks from `from` out along its row entry k while atoms have two bonds;
        // returns the atom reached that has other than two.
        const auto walk = [&](std::uint32_t from, std::uint32_t k, std::vector<std::uint32_t>& atoms,
                              std::vector<std::uint32_t>& edges) {
            atoms.clear();
            edges.clear();
            std::uint32_t e = g_.entries[k].edge, cur = g_.entries[k].neighbor;
            edges.push_back(e);
            while (cur != from && inner(cur)) {
                atoms.push_back(cur);
                const std::uint32_t o = g_.offsets[cur];
                const LocalEntry& next = g_.entries[o].edge == e ? g_.entries[o + 1] : g_.entries[o];
                e = next.edge;
                cur = next.neighbor;
                edges.push_back(e);
            }
            return cur;
        };
        for (std::uint32_t x = 0; x < n; ++x) {
            if (seen[x] || !inner(x)) continue;
            seen[x] = 1;
            const std::uint32_t end0 = walk(x, g_.offsets[x], atoms0, edges0);
            if (end0 == x) {
                for (std::uint32_t y : atoms0) seen[y] = 1;
                continue;
            }
            const std::uint32_t end1 = walk(x, g_.offsets[x] + 1, atoms1, edges1);
            for (std::uint32_t y : atoms0) seen[y] = 1;
            for (std::uint32_t y : atoms1) seen[y] = 1;
            if (end0 == end1 || 1 + atoms0.size() + atoms1.size() < MIN_CHAIN) continue;
            Chain ch;
            ch.atoms.push_back(end0);
            ch.atoms.insert(ch.atoms.end(), atoms0.rbegin(), atoms0.rend());
            ch.atoms.push_back(x);
            ch.atoms.insert(ch.atoms.end(), atoms1.begin(), atoms1.end());
            ch.atoms.push_back(end1);
            ch.edges.assign(edges0.rbegin(), edges0.rend());
            ch.edges.insert(ch.edges.end(), edges1.begin(), edges1.end());
            for (std::size_t j = 1; j + 1 < ch.atoms.size(); ++j)
                chain_of_[ch.atoms[j]] = static_cast<std::uint32_t>(chains_.size());
            chains_.push_back(std::move(ch));
        }
        for (EndTree* t : {&from_first_, &from_last_}) {
            t->dist.assign(n, NONE);
            t->parent.assign(n, NONE);
            t->parent_edge.assign(n, NONE);
            t->weight.assign(n, 0);
            t->hash.assign(n, 0);
        }
        edge_mark_.assign(g_.num_edges(), 0);
    }

    // Breadth-first from `start` in row order, off the inner atoms of chain
    // `id`, expanding atoms nearer than `radius`.
    void grow_end_tree(EndTree& t, std::uint32_t start, std::uint32_t radius, std::uint32_t id,
                       std::span<const std::uint64_t> w) {
        t.queue.assign(1, start);
        t.dist[start] = 0;
        t.weight[start] = 0;
        t.hash[start] = 0;
        for (std::size_t head = 0; head < t.queue.size(); ++head) {
            const std::uint32_t u = t.queue[head];
            if (t.dist[u] >= radius) continue;
            for (std::uint32_t k = g_.offsets[u]; k < g_.offsets[u + 1]; ++k) {
                const LocalEntry& en = g_.entries[k];
                if (t.dist[en.neighbor] != NONE || chain_of_[en.neighbor] == id) continue;
                t.dist[en.neighbor] = t.dist[u] + 1;
                t.parent[en.neighbor] = u;
                t.parent_edge[en.neighbor] = en.edge;
                t.weight[en.neighbor] = t.weight[u] ^ w[en.edge];
                t.hash[en.neighbor] = t.hash[u] + CandidateSets::atom_hash(NONE - en.edge);
                t.queue.push_back(en.neighbor);
            }
        }
        stats_.steps += t.queue.size();
    }

    static void clear_end_tree(EndTree& t) {
        for (std::uint32_t x : t.queue) t.dist[x] = t.parent[x] = t.parent_edge[x] = NONE;
        t.queue.clear();
    }

    static Spot choose(std::uint64_t via_first, std::uint64_t via_last, bool first_is_first, std::uint64_t depth) {
        const bool first = via_first < via_last || (via_first == via_last && first_is_first);
        const std::uint64_t d = first ? via_first : via_last;
        return {d <= depth ? d : INF, first};
    }

    // Chain position j (0 and m + 1 are the ends) or, with j = NONE, atom x off
    // the chain, as seen from the root at position i.
    Spot spot(const Chain& ch, std::uint32_t i, std::uint32_t j, std::uint32_t x, bool first_is_first,
              std::uint64_t depth) const {
        const std::uint64_t m = ch.atoms.size() - 2;
        const auto far = [](std::uint32_t d, std::uint64_t add) { return d == NONE ? INF : d + add; };
        if (j == 0 || j == m + 1) x = ch.atoms[j], j = NONE;
        if (j == NONE) return choose(far(from_first_.dist[x], i), far(from_last_.dist[x], m + 1 - i), first_is_first, depth);
        if (j < i) return choose(i - j, far(from_last_.dist[ch.atoms[0]], m + 1 - i + j), first_is_first, depth);
        return choose(far(from_first_.dist[ch.atoms[m + 1]], i + m + 1 - j), j - i, first_is_first, depth);
    }

    // Weight of the tree path from a spot to the root at position i.
    std::uint64_t spot_weight(const Chain& ch, std::uint32_t i, std::uint32_t j, std::uint32_t x, bool first) const {
        const std::uint32_t m1 = static_cast<std::uint32_t>(ch.atoms.size() - 1);
        const std::vector<std::uint64_t>& cw = chain_weight_;
        if (j == 0 || j == m1) x = ch.atoms[j], j = NONE;
        if (j == NONE) return first ? from_first_.weight[x] ^ cw[i] : from_last_.weight[x] ^ cw[m1] ^ cw[i];
        if (first == (j < i)) return cw[j] ^ cw[i];
        if (first) return cw[j] ^ cw[m1] ^ from_first_.weight[ch.atoms[m1]] ^ cw[i];
        return cw[j] ^ from_last_.weight[ch.atoms[0]] ^ cw[m1] ^ cw[i];
    }

    // Appends the tree path from a spot up to the root at position i (without
    // the root): atoms, and for each the edge to the next.
    void spot_path(const Chain& ch, std::uint32_t i, std::uint32_t j, std::uint32_t x, bool first,
                   std::vector<std::uint32_t>& atoms, std::vector<std::uint32_t>& edges) const {
        const std::uint32_t m1 = static_cast<std::uint32_t>(ch.atoms.size() - 1);
        const auto up = [&](const EndTree& t, std::uint32_t y) {
            for (; t.parent[y] != NONE; y = t.parent[y]) {
                atoms.push_back(y);
                edges.push_back(t.parent_edge[y]);
            }
        };
        const auto along = [&](std::uint32_t from, std::uint32_t to) {
            for (std::uint32_t k = from; k < to; ++k) atoms.push_back(ch.atoms[k]), edges.push_back(ch.edges[k]);
            for (std::uint32_t k = from; k > to; --k) atoms.push_back(ch.atoms[k]), edges.push_back(ch.edges[k - 1]);
        };
        if (j == 0 || j == m1) x = ch.atoms[j], j = NONE;
        if (j == NONE) {
            up(first ? from_first_ : from_last_, x);
            along(first ? 0 : m1, i);
        } else if (first == (j < i)) {
            along(j, i);
        } else if (first) {
            along(j, m1);
            up(from_first_, ch.atoms[m1]);
            along(0, i);
        } else {
            along(j, 0);
            up(from_last_, ch.atoms[0]);
            along(m1, i);
        }
    }

    // Whether two crossings close the same path from c_0 to c_{m+1}: the tree
    // path from c_0 to the first end, the bond, and the other tree path back.
    // The pieces between the two bonds are compared atom by atom, so checking
    // crossings in root order costs what the crossing moves.
    bool same_path(Crossing x, Crossing y) {
        const EndTree& t0 = from_first_;
        const EndTree& t1 = from_last_;
        if (t0.dist[x.first] > t0.dist[y.first]) std::swap(x, y);
        if (t0.dist[x.first] == t0.dist[y.first]) return x.first == y.first && x.edge == y.edge;
        // y's path towards c_0 passes x.last right after x's bond ...
        const std::uint32_t steps = t0.dist[y.first] - t0.dist[x.first] - 1;
        segment_.clear();
        std::uint32_t z = y.first;
        for (std::uint32_t k = 0; k < steps; ++k) segment_.push_back(z), z = t0.parent[z];
        if (z != x.last || t0.parent[z] != x.first || t0.parent_edge[z] != x.edge) return false;
        // ... and x's path towards c_{m+1} runs the same atoms and bonds to y's bond.
        for (std::uint32_t k = steps; k-- > 0;) {
            const std::uint32_t next = t1.parent[z];
            if (next != segment_[k] || t1.parent_edge[z] != t0.parent_edge[segment_[k]]) return false;
            z = next;
        }
        stats_.steps += steps;
        return z == y.first && t1.parent[z] == y.last && t1.parent_edge[z] == y.edge;
    }

    void close_chain(std::uint32_t id, std::uint32_t limit, std::uint64_t settled, std::span<const std::uint64_t> w,
                     std::vector<Candidate>& cands, std::vector<std::uint64_t>& weights, CandidateSets& seen) {
        const Chain& ch = chains_[id];
        const std::uint32_t m = static_cast<std::uint32_t>(ch.atoms.size() - 2);
        const std::uint64_t depth = limit - limit / 2;
        stats_.chain_roots += m;
        grow_end_tree(from_first_, ch.atoms[0], static_cast<std::uint32_t>(depth - 1), id, w);
        grow_end_tree(from_last_, ch.atoms[m + 1], static_cast<std::uint32_t>(depth - 1), id, w);
        chain_weight_.assign(m + 2, 0);
        for (std::uint32_t j = 0; j <= m; ++j) chain_weight_[j + 1] = chain_weight_[j] ^ w[ch.edges[j]];

        // Bonds off the chain, each under the roots where its ends can lie in
        // different branches at distances differing by at most one.
        closings_.clear();
        if (++edge_round_ == 0) {
            std::fill(edge_mark_.begin(), edge_mark_.end(), 0);
            edge_round_ = 1;
        }
        const std::uint32_t mark = edge_round_;
        const auto add = [&](std::uint32_t e, std::uint32_t da, std::uint32_t db, bool a_first) {
            // a in the first-end branch, b in the other: |2i - (m + 1) + da - db| <= 1
            // (a_first), else |(m + 1) - 2i + da - db| <= 1.
            if (da == NONE || db == NONE) return;
            const std::int64_t c = a_first ? std::int64_t(m) - da + db : std::int64_t(m) + da - db;
            for (std::int64_t twice = c; twice <= c + 2; ++twice)
                if (twice % 2 == 0 && twice / 2 >= 1 && twice / 2 <= m)
                    closings_.push_back({static_cast<std::uint32_t>(twice / 2), e});
        };
        for (std::uint32_t y : from_first_.queue) {
            for (std::uint32_t k = g_.offsets[y]; k < g_.offsets[y + 1]; ++k) {
                const std::uint32_t e = g_.entries[k].edge;
                if (edge_mark_[e] == mark || chain_of_[g_.entries[k].neighbor] == id) continue;
                edge_mark_[e] = mark;
                const std::uint32_t a = g_.edge_begin[e], b = g_.edge_end[e];
                add(e, from_first_.dist[a], from_last_.dist[b], true);
                add(e, from_last_.dist[a], from_first_.dist[b], false);
            }
        }
        std::sort(closings_.begin(), closings_.end());
        closings_.erase(std::unique(closings_.begin(), closings_.end()), closings_.end());
        stats_.steps += closings_.size();

        groups_.clear();
        group_of_.clear();
        // The two cycles of the chain and a tree path between its ends, met
        // where the atoms reached around meet those reached straight.
        groups_.resize(2);
        const auto offer = [&](std::uint32_t i, std::uint32_t e, std::uint32_t ja, std::uint32_t xa, std::uint32_t jb,
                               std::uint32_t xb, std::uint32_t around, bool first_is_first) {
            const Spot sa = spot(ch, i, ja, xa, first_is_first, depth), sb = spot(ch, i, jb, xb, first_is_first, depth);
            if (sa.dist == INF || sb.dist == INF || sa.first_end == sb.first_end) return;
            const std::uint64_t size = sa.dist + sb.dist + 1;
            if (size < 3 || size <= settled || size > limit || (sa.dist > sb.dist ? sa.dist - sb.dist : sb.dist - sa.dist) > 1)
                return;
            Group* group = nullptr;
            if (around != NONE) {
                group = &groups_[around];
            } else {
                const Crossing x = sa.first_end ? Crossing{xa, xb, e} : Crossing{xb, xa, e};
                const std::uint64_t hash = from_first_.hash[x.first] + from_last_.hash[x.last] +
                                           CandidateSets::atom_hash(NONE - e);
                const auto it = group_of_.find(hash);
                if (it != group_of_.end() && same_path(groups_[it->second].latest, x)) {
                    group = &groups_[it->second];
                } else {
                    group_of_[hash] = static_cast<std::uint32_t>(groups_.size());
                    group = &groups_.emplace_back();
                }
                group->latest = x;
            }
            const std::uint32_t r = ch.atoms[i];
            if (group->root == NONE || r < group->root || (r == group->root && e < group->edge))
                group->root = r, group->position = i, group->edge = e;
        };
        const auto offer_chain_edge = [&](std::uint32_t i, std::uint32_t j, std::uint32_t around, bool first_is_first) {
            // The chain bond between positions j and j + 1.
            const std::uint32_t e = ch.edges[j];
            const bool forward = g_.edge_begin[e] == ch.atoms[j];
            offer(i, e, forward ? j : j + 1, NONE, forward ? j + 1 : j, NONE, around, first_is_first);
        };
        std::size_t next = 0;
        for (std::uint32_t i = 1; i <= m; ++i) {
            const bool first_is_first = ch.edges[i - 1] < ch.edges[i];
            for (; next < closings_.size() && closings_[next].first == i; ++next) {
                const std::uint32_t e = closings_[next].second;
                if (!shadowed_[e]) offer(i, e, NONE, g_.edge_begin[e], NONE, g_.edge_end[e], NONE, first_is_first);
            }
            // Along the chain, the atoms reached around through the far end
            // meet those reached straight at most once on each side of the root.
            if (const std::uint32_t d = from_last_.dist[ch.atoms[0]]; d != NONE) {
                // Position j < i is reached straight when 2j > 2i - m - 1 - d.
                const std::int64_t t = 2 * std::int64_t(i) - m - 1 - d;
                const std::int64_t j = t < 0 ? 0 : t / 2;
                for (std::int64_t k = j - 2; k <= j + 1; ++k)
                    if (k >= 0 && k + 2 <= i) offer_chain_edge(i, static_cast<std::uint32_t>(k), 0, first_is_first);
            }
            if (const std::uint32_t d = from_first_.dist[ch.atoms[m + 1]]; d != NONE) {
                // Position j > i is reached straight when 2j < 2i + d + m + 1.
                const std::int64_t j = (2 * std::int64_t(i) + d + m + 1) / 2;
                for (std::int64_t k = j - 2; k <= j + 1; ++k)
                    if (k >= i + 1 && k <= m) offer_chain_edge(i, static_cast<std::uint32_t>(k), 1, first_is_first);
            }
        }
        stats_.steps += 4 * std::uint64_t(m);

        for (std::uint32_t k = 0; k < groups_.size(); ++k) {
            const Group& best = groups_[k];
            if (best.root == NONE) continue;
            const std::uint32_t i = best.position, e = best.edge;
            const bool first_is_first = ch.edges[i - 1] < ch.edges[i];
            // The ends of e as spots: chain positions for chain bonds.
            std::uint32_t ja = NONE, jb = NONE;
            if (k < 2) {
                for (std::uint32_t j = 0; j <= m; ++j)
                    if (ch.edges[j] == e) {
                        const bool forward = g_.edge_begin[e] == ch.atoms[j];
                        ja = forward ? j : j + 1;
                        jb = forward ? j + 1 : j;
                        break;
                    }
            }
            const std::uint32_t a = g_.edge_begin[e], b = g_.edge_end[e];
            const Spot sa = spot(ch, i, ja, a, first_is_first, depth), sb = spot(ch, i, jb, b, first_is_first, depth);
            const std::uint64_t weight =
                spot_weight(ch, i, ja, a, sa.first_end) ^ spot_weight(ch, i, jb, b, sb.first_end) ^ w[e];
            if (weight == 0) continue;
            path_a_.clear();
            edges_a_.clear();
            path_b_.clear();
            edges_b_.clear();
            spot_path(ch, i, ja, a, sa.first_end, path_a_, edges_a_);
            spot_path(ch, i, jb, b, sb.first_end, path_b_, edges_b_);
            Candidate c;
            c.atoms = path_a_;
            c.atoms.push_back(ch.atoms[i]);
            c.atoms.insert(c.atoms.end(), path_b_.rbegin(), path_b_.rend());
            c.edges = edges_a_;
            c.edges.insert(c.edges.end(), edges_b_.rbegin(), edges_b_.rend());
            c.edges.push_back(e);
            c.root = ch.atoms[i];
            c.closing = e;
            stats_.steps += c.atoms.size();
            std::uint64_t hash = 0;
            for (std::uint32_t y : c.atoms) hash += CandidateSets::atom_hash(y);
            const auto same = [&](std::uint32_t index) {
                const std::uint32_t round = next_round();
                for (std::uint32_t y : cands[index].atoms) stamp_[y] = round;
                stats_.steps += c.atoms.size();
                for (std::uint32_t y : c.atoms)
                    if (stamp_[y] != round) return false;
                return true;
            };
            const std::uint32_t found = seen.find_if(cands, hash, c.atoms.size(), same);
            if (found != NONE && !earlier(c.root, e, cands[found])) continue;
            c.key = c.atoms;
            sort_indices(c.key, radix_buffer_);
            keep(std::move(c), weight, found, hash, cands, weights, seen);
        }
        clear_end_tree(from_first_);
        clear_end_tree(from_last_);
    }

    // Bonds with a lower-numbered bond between the same atoms. From any root a
    // cycle closed by such a bond was met first closed by the lower one, which
    // makes it a second version of that atom set; its weight may differ, so it
    // is left out before weights are looked at.
    std::vector<std::uint8_t> shadowed_;
    void find_shadowed() {
        std::vector<std::uint32_t> order(g_.num_edges());
        for (std::uint32_t e = 0; e < order.size(); ++e) order[e] = e;
        const auto ends = [&](std::uint32_t e) {
            return std::pair{std::min(g_.edge_begin[e], g_.edge_end[e]), std::max(g_.edge_begin[e], g_.edge_end[e])};
        };
        std::sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
            return std::pair{ends(x), x} < std::pair{ends(y), y};
        });
        shadowed_.assign(g_.num_edges(), 0);
        for (std::size_t k = 1; k < order.size(); ++k) shadowed_[order[k]] = ends(order[k]) == ends(order[k - 1]);
    }

    // Whether the candidate's atoms are joined only along the cycle: each has
    // two neighbours among them. Bonds parallel to the cycle's own make no
    // other version, since every tree and every closing takes the lowest-
    // numbered of parallel bonds.
    bool induces_only_itself(const Candidate& c) {
        const std::uint32_t mark = next_round();
        for (std::uint32_t x : c.key) stamp_[x] = mark;
        for (std::uint32_t x : c.key) {
            if (++near_round_ == 0) {
                std::fill(near_.begin(), near_.end(), 0);
                near_round_ = 1;
            }
            std::uint32_t inside = 0;
            for (std::uint32_t k = g_.offsets[x]; k < g_.offsets[x + 1]; ++k) {
                const std::uint32_t y = g_.entries[k].neighbor;
                if (stamp_[y] != mark || near_[y] == near_round_) continue;
                near_[y] = near_round_;
                ++inside;
            }
            if (inside != 2) return false;
        }
        return true;
    }

    // The cycle of path_a_ (ending at the root), path_b_ (stopping short of it)
    // and `e`; the edge set only when asked for.
    Candidate build_candidate(std::uint32_t e, bool with_edge_set = true) {
        Candidate c;
        c.atoms.assign(path_a_.begin(), path_a_.end());
        c.atoms.insert(c.atoms.end(), path_b_.rbegin(), path_b_.rend());
        for (std::size_t i = 0; i + 1 < path_a_.size(); ++i) c.edges.push_back(parent_edge_[path_a_[i]]);
        for (std::size_t i = path_b_.size(); i-- > 0;) c.edges.push_back(parent_edge_[path_b_[i]]);
        c.edges.push_back(e);
        c.key = c.atoms;
        sort_indices(c.key, radix_buffer_);
        if (with_edge_set) {
            c.edge_set = c.edges;
            sort_indices(c.edge_set, radix_buffer_);
        }
        stats_.steps += c.atoms.size();
        return c;
    }

    // Atoms are expanded only while nearer than `depth`.
    void grow_tree(std::uint32_t r, std::uint32_t depth) {
        queue_.clear();
        dist_[r] = 0;
        queue_.push_back(r);
        for (std::size_t head = 0; head < queue_.size(); ++head) {
            const std::uint32_t u = queue_[head];
            if (dist_[u] >= depth) continue;
            for (std::uint32_t k = g_.offsets[u]; k < g_.offsets[u + 1]; ++k) {
                const LocalEntry& en = g_.entries[k];
                if (dist_[en.neighbor] != NONE) continue;
                dist_[en.neighbor] = dist_[u] + 1;
                parent_[en.neighbor] = u;
                parent_edge_[en.neighbor] = en.edge;
                branch_[en.neighbor] = u == r ? en.neighbor : branch_[u];
                queue_.push_back(en.neighbor);
            }
        }
        stats_.steps += queue_.size();
    }

    void close_cycles(std::uint32_t r, std::uint32_t limit, std::uint64_t settled, std::vector<Candidate>& cands,
                      CandidateSets& seen) {
        for_each_closing_edge(limit, settled, [&](std::uint32_t a, std::uint32_t b, std::uint32_t e, std::uint64_t) {
            add_candidate(r, a, b, e, cands, seen);
        });
    }

    void add_candidate(std::uint32_t r, std::uint32_t a, std::uint32_t b, std::uint32_t e,
                       std::vector<Candidate>& cands, CandidateSets& seen) {
        path_a_.clear();
        path_b_.clear();
        std::uint64_t hash = 0;
        for (std::uint32_t x = a; x != NONE; x = parent_[x]) path_a_.push_back(x), hash += CandidateSets::atom_hash(x);
        for (std::uint32_t x = b; x != r; x = parent_[x]) path_b_.push_back(x), hash += CandidateSets::atom_hash(x);
        for (std::uint32_t x : path_a_) on_path_[x] = 1;
        bool shared = false;
        for (std::uint32_t x : path_b_) shared |= on_path_[x] != 0;
        for (std::uint32_t x : path_a_) on_path_[x] = 0;
        if (shared) return;
        // path_b_ stops short of the root, which path_a_ holds.
        stats_.steps += path_a_.size() + path_b_.size();
        if (seen.contains(cands, hash, path_a_, path_b_)) return;
        cands.push_back(build_candidate(e));
        seen.insert(hash, static_cast<std::uint32_t>(cands.size() - 1));
    }
};

// The candidates by size, then by their ascending atom lists.
std::vector<std::uint32_t> selection_order(const std::vector<Candidate>& cands) {
    std::vector<std::uint32_t> order(cands.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t x, std::uint32_t y) {
        if (cands[x].key.size() != cands[y].key.size()) return cands[x].key.size() < cands[y].key.size();
        return cands[x].key < cands[y].key;
    });
    return order;
}

// Size group by size group, in sorted order: a candidate outside the span of all
// smaller ones is a ring; then the group's independent candidates join the basis.
// Returns how many joined.
std::uint64_t select_rings(const LocalGraph& g, std::span<const std::uint32_t> system,
                           const std::vector<Candidate>& cands, Basis& basis, RingList& out) {
    const std::vector<std::uint32_t> order = selection_order(cands);
    std::uint64_t added = 0;
    std::vector<std::uint32_t> v;
    for (std::size_t lo = 0; lo < order.size();) {
        std::size_t hi = lo;
        while (hi < order.size() && cands[order[hi]].key.size() == cands[order[lo]].key.size()) ++hi;
        for (std::size_t i = lo; i < hi; ++i) {
            v = cands[order[i]].edge_set;
            basis.reduce(v);
            if (!v.empty()) emit(g, system, cands[order[i]].atoms, cands[order[i]].edges, out);
        }
        for (std::size_t i = lo; i < hi; ++i) {
            v = cands[order[i]].edge_set;
            basis.reduce(v);
            if (v.empty()) continue;
            basis.add(std::move(v));
            v = {};
            ++added;
        }
        lo = hi;
    }
    return added;
}

// Edge weights of at most 64 bits that tell which cycles the basis spans: a
// cycle lies in the span exactly when the XOR of its edges' weights is zero.
// Cycles are told apart by their edges off a spanning tree, and the tree is
// taken among the non-pivot edges (no cut consists of pivots alone, since the
// basis restricted to its pivots is the identity), so every pivot is off the
// tree: the weights are the coordinates left after eliminating the pivots.
// Tree edges weigh 0, each other non-pivot edge gets a bit of its own, and a
// pivot weighs what the rest of its basis vector weighs, so basis vectors weigh 0.
// False when the span misses none or more than 64 dimensions.
bool witness_weights(const LocalGraph& g, const Basis& basis, std::uint64_t missing, std::vector<std::uint64_t>& w) {
    if (missing == 0 || missing > 64) return false;
    const std::uint32_t n = g.num_atoms(), m = g.num_edges();
    std::vector<std::uint32_t> up(n);
    for (std::uint32_t a = 0; a < n; ++a) up[a] = a;
    const auto find = [&](std::uint32_t a) {
        while (up[a] != a) a = up[a] = up[up[a]];
        return a;
    };
    w.assign(m, 0);
    std::uint32_t bits = 0, components = n;
    for (std::uint32_t e = 0; e < m; ++e) {
        if (const std::vector<std::uint32_t>* v = basis.with_high(e)) {
            for (std::uint32_t q : *v)
                if (q != e) w[e] ^= w[q];
            continue;
        }
        const std::uint32_t x = find(g.edge_begin[e]), y = find(g.edge_end[e]);
        if (x != y) {
            up[x] = y;
            --components;
        } else {
            if (bits == 64) internal_error("见证位多于缺失的维数");
            w[e] = std::uint64_t(1) << bits++;
        }
    }
    if (components != 1 || bits != missing) internal_error("主元之外的边须连通全部原子");
    return true;
}

// The same cycle weights with fewer edges carrying them: XOR-ing onto every
// bond the weights of the breadth-first tree paths (from atom 0) to its two
// ends changes no cycle's weight, since around a cycle those cancel, and
// leaves the tree's bonds at zero; what remains sits on bonds across the tree,
// typically few when the missing cycles are long.
void thin_weights(const LocalGraph& g, std::vector<std::uint64_t>& w, RingSearchStats& stats) {
    const std::uint32_t n = g.num_atoms();
    std::vector<std::uint64_t> path(n, 0);
    std::vector<std::uint8_t> reached(n, 0);
    std::vector<std::uint32_t> queue{0};
    reached[0] = 1;
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::uint32_t u = queue[head];
        for (std::uint32_t k = g.offsets[u]; k < g.offsets[u + 1]; ++k) {
            const LocalEntry& en = g.entries[k];
            if (reached[en.neighbor]) continue;
            reached[en.neighbor] = 1;
            path[en.neighbor] = path[u] ^ w[en.edge];
            queue.push_back(en.neighbor);
        }
    }
    for (std::uint32_t e = 0; e < g.num_edges(); ++e) w[e] ^= path[g.edge_begin[e]] ^ path[g.edge_end[e]];
    stats.steps += n;
}

// A lower bound on the size of any candidate cycle of nonzero weight. Such a
// cycle holds an edge e of nonzero weight, and the rest of it is a path
// between e's ends, not by a bond parallel to e, whose weight differs from
// e's. With at most 4 weight bits such walks are searched breadth-first over
// (atom, weight so far); with more, any path between the ends bounds it. Only
// tried while few edges carry weight; otherwise 3.
std::uint32_t shortest_weighted_cycle(const LocalGraph& g, std::span<const std::uint64_t> w, std::uint64_t bits,
                                      RingSearchStats& stats) {
    constexpr std::uint32_t MAX_TRIED = 64;
    std::uint32_t tried = 0;
    for (std::uint64_t x : w) tried += x != 0;
    if (tried > MAX_TRIED) return 3;
    const std::uint32_t copies = bits <= 4 ? 1u << bits : 1;
    std::uint32_t best = NONE;
    std::vector<std::uint32_t> dist(std::size_t(g.num_atoms()) * copies, NONE), queue;
    for (std::uint32_t e = 0; e < g.num_edges(); ++e) {
        if (w[e] == 0) continue;
        const std::uint32_t from = g.edge_begin[e], to = g.edge_end[e];
        // A state is atom * copies + the weight of the walk so far (0 with one copy).
        const auto arrived = [&](std::uint32_t state) {
            return state / copies == to && (copies == 1 || state % copies != w[e]);
        };
        queue.assign(1, from * copies);
        dist[from * copies] = 0;
        std::uint32_t found = NONE;
        for (std::size_t head = 0; head < queue.size() && found == NONE; ++head) {
            const std::uint32_t state = queue[head], u = state / copies, y = state % copies;
            if (best != NONE && dist[state] + 2 >= best) break;
            for (std::uint32_t k = g.offsets[u]; k < g.offsets[u + 1] && found == NONE; ++k) {
                const LocalEntry& en = g.entries[k];
                if (u == from && en.neighbor == to) continue;
                const std::uint32_t next =
                    en.neighbor * copies + (copies == 1 ? 0 : y ^ static_cast<std::uint32_t>(w[en.edge]));
                if (dist[next] != NONE) continue;
                dist[next] = dist[state] + 1;
                queue.push_back(next);
                if (arrived(next)) found = dist[next];
            }
        }
        if (found != NONE) best = std::min(best, found + 1);
        stats.steps += queue.size();
        for (std::uint32_t x : queue) dist[x] = NONE;
    }
    return best == NONE ? 3 : std::max<std::uint32_t>(best, 3);
}

// Selection as in select_rings, for candidates given with their weights: the
// span of the smaller rings is the basis the weights were made for plus the
// weights added since, kept reduced on their highest bits. A marked candidate
// that lies outside that span may owe its place to an earlier version of its
// atom set that was never built: then nothing is changed and the result is
// empty, for the caller to run the full search instead.
std::optional<std::uint64_t> select_weighted_rings(const LocalGraph& g, std::span<const std::uint32_t> system,
                                                   const std::vector<Candidate>& cands,
                                                   std::span<const std::uint64_t> weights, Basis& basis,
                                                   RingList& out) {
    const std::vector<std::uint32_t> order = selection_order(cands);
    std::uint64_t reducer[64];
    std::uint64_t pivots = 0;
    const auto reduce = [&](std::uint64_t x) {
        while (x & pivots) x ^= reducer[63 - std::countl_zero(x & pivots)];
        return x;
    };
    std::vector<std::uint32_t> rings, joined;
    for (std::size_t lo = 0; lo < order.size();) {
        std::size_t hi = lo;
        while (hi < order.size() && cands[order[hi]].key.size() == cands[order[lo]].key.size()) ++hi;
        for (std::size_t i = lo; i < hi; ++i) {
            if (reduce(weights[order[i]]) == 0) continue;
            if (cands[order[i]].chorded) return std::nullopt;
            rings.push_back(order[i]);
        }
        for (std::size_t i = lo; i < hi; ++i) {
            const std::uint64_t x = reduce(weights[order[i]]);
            if (x == 0) continue;
            const int high = 63 - std::countl_zero(x);
            reducer[high] = x;
            pivots |= std::uint64_t(1) << high;
            joined.push_back(order[i]);
        }
        lo = hi;
    }
    for (std::uint32_t c : rings) emit(g, system, cands[c].atoms, cands[c].edges, out);
    // The basis proper grows too, for the weights of the next attempt.
    std::vector<std::uint32_t> v;
    for (std::uint32_t c : joined) {
        v = cands[c].edges;
        std::sort(v.begin(), v.end());
        basis.reduce(v);
        if (v.empty()) internal_error("权重非零的环必在基外");
        basis.add(std::move(v));
        v = {};
    }
    return joined.size();
}

}  // namespace

// Attempts with a growing size limit. An attempt with a larger limit meets every
// smaller candidate again, from the same roots and edges in the same order, and
// so repeats the smaller attempt's rings and basis exactly: each attempt keeps
// what the last one built and adds only the sizes above the last limit.
// Once the basis misses at most 64 dimensions, only cycles outside its span are
// built (their weights tell them), and attempts whose sizes cannot reach any
// such cycle are skipped: their candidates would all lie in the span.
void general_system_rings(const LocalGraph& g, std::span<const std::uint32_t> system, RingList& out,
                          RingSearchStats& stats, bool plain) {
    const std::uint32_t n = g.num_atoms();
    const std::uint32_t m = g.num_edges();
    const std::uint64_t cyclomatic = std::uint64_t(m) + 1 >= n ? std::uint64_t(m) + 1 - n : 0;
    CandidateSearch search(g, stats);
    Basis basis(m);
    std::uint64_t rank = 0;
    std::uint64_t settled = 2;  // sizes up to this were handled by earlier attempts
    std::vector<std::uint64_t> weights, cand_weights;
    std::vector<Candidate> cands;
    std::uint64_t weighted_rank = ~std::uint64_t(0);
    bool has_weights = false;
    std::uint32_t shortest = 3;
    for (std::uint64_t limit = 8;; limit *= 2) {
        const std::uint32_t lp = static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, n));
        bool done = false;
        // Weights and bound depend on the basis alone: made again only when it grew.
        if (weighted_rank != rank) {
            weighted_rank = rank;
            has_weights = !plain && rank < cyclomatic && witness_weights(g, basis, cyclomatic - rank, weights);
            if (has_weights) thin_weights(g, weights, stats);
            shortest = has_weights ? shortest_weighted_cycle(g, weights, cyclomatic - rank, stats) : 3;
        }
        if (has_weights) {
            if (limit < n && lp < shortest) {
                ++stats.skipped_attempts;
                settled = lp;
                continue;
            }
            cands.clear();
            cand_weights.clear();
            search.run_weighted(lp, settled, weights, cands, cand_weights);
            if (const auto joined = select_weighted_rings(g, system, cands, cand_weights, basis, out)) {
                rank += *joined;
                done = true;
            } else {
                ++stats.full_reruns;
            }
        }
        if (!done) rank += select_rings(g, system, search.run(lp, settled), basis, out);
        if (limit >= n || rank >= cyclomatic) return;
        settled = lp;
    }
}

}  // namespace quorix::chem::ring_search
