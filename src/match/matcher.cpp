#include "match/matcher.hpp"

#include <algorithm>
#include <array>
#include <memory>
#include <tuple>
#include <unordered_map>

#include "core/error.hpp"
#include "core/scratch.hpp"
#include "core/permutation.hpp"
#include "io/stereo.hpp"

namespace quorix::match {

using core::MolBuilder;
using core::NONE;
using io::AtomExpr;
using io::BondExpr;
using io::BondPrimitive;
using io::ExprKind;
using io::Query;

namespace {

std::uint32_t graph_degree(const MolBuilder& g, std::uint32_t atom) {
    return atom < g.degree.size() ? g.degree[atom] : 0;
}

// One query bond to test when a depth's atom is placed: the bond and its other
// end, which is already mapped by then.
struct BondCheck {
    std::uint32_t bond;
    std::uint32_t neighbour;
};

struct CisTransCheck {
    std::uint32_t x, y;    // the query double bond's begin and end
    std::uint32_t nx, ny;  // their directional neighbours
    std::uint8_t wanted;   // 3 cis, 4 trans
};

// A query prepared for one call: everything that depends only on the query and
// its placement order, looked up by depth during the search.
struct Plan {
    const Query* query = nullptr;
    std::uint32_t n = 0;
    std::vector<std::uint32_t> order;        // query atom by depth
    std::vector<std::uint32_t> anchor;       // by depth: placed neighbour whose image gives the candidates
    std::vector<std::uint32_t> check_start;  // by depth, n + 1 entries into `checks`
    std::vector<BondCheck> checks;
    std::vector<std::pair<std::uint32_t, std::uint8_t>> chiral_atoms;  // (query atom, 1 or 2), ascending
    std::vector<CisTransCheck> cis_trans;                                // by query bond, ascending
};

// Fills `plan` for the placement order already in `plan.order`; `pos` is scratch.
void make_plan(const Query& query, Plan& plan, std::vector<std::uint32_t>& pos) {
    const MolBuilder& g = query.graph;
    plan.query = &query;
    plan.n = static_cast<std::uint32_t>(plan.order.size());
    plan.checks.clear();
    plan.chiral_atoms.clear();
    plan.cis_trans.clear();
    pos.assign(plan.n, NONE);
    for (std::uint32_t d = 0; d < plan.n; ++d) at(pos, plan.order[d]) = d;
    plan.anchor.assign(plan.n, NONE);
    plan.check_start.assign(plan.n + 1, 0);
    for (std::uint32_t d = 0; d < plan.n; ++d) {
        plan.check_start[d] = static_cast<std::uint32_t>(plan.checks.size());
        const std::uint32_t q = plan.order[d];
        if (graph_degree(g, q) == 0) continue;
        for (core::Neighbor nb : g.neighbors(q)) {
            if (at(pos, nb.atom) >= d) continue;
            if (plan.anchor[d] == NONE) plan.anchor[d] = nb.atom;
            plan.checks.push_back({nb.bond, nb.atom});
        }
    }
    plan.check_start[plan.n] = static_cast<std::uint32_t>(plan.checks.size());

    for (std::uint32_t i = 0; i < plan.n; ++i) {
        const std::uint8_t v = query.atom_exprs[i].find_chirality();
        if (v == 1 || v == 2) plan.chiral_atoms.push_back({i, v});
    }
    for (std::uint32_t b = 0; b < g.num_bonds(); ++b) {
        if (!has_bond_kind(query.bond_exprs[b], BondPrimitive::Double)) continue;
        const std::uint32_t x = g.bonds[b].begin, y = g.bonds[b].end;
        const auto dx = directional_neighbour(query, x, y);
        const auto dy = directional_neighbour(query, y, x);
        if (!dx || !dy) continue;
        plan.cis_trans.push_back(
            {x, y, dx->neighbour, dy->neighbour, static_cast<std::uint8_t>(dx->direction == dy->direction ? 3 : 4)});
    }
}

// Scratch of one search level. Used flags are all clear whenever no search runs
// on the workspace; the mapping is sized per query.
struct Workspace {
    std::vector<std::uint8_t> used;
    std::vector<std::uint32_t> mapping;
    std::vector<std::uint32_t> cursor;   // by depth: next half-edge, or next atom index
    std::vector<std::uint32_t> current;  // by depth: the candidate mapped there

    void prepare(std::uint32_t num_mol_atoms, std::uint32_t n) {
        if (used.size() != num_mol_atoms) used.assign(num_mol_atoms, 0);
        mapping.assign(n, NONE);
        cursor.assign(n, 0);
        current.assign(n, NONE);
    }
};

// A recursive group's plan and its memo: per molecule atom 0 unknown, 1 false
// (also while its own search runs), 2 true.
struct GroupSlot {
    Plan plan;
    bool impossible = false;  // no atoms, or more than the molecule
    std::vector<std::uint8_t> memo;
};

// The atom sets of the matches kept so far: each set stored once, as its sorted
// atoms end to end, and found through an open-addressing table of set numbers.
// One call holds a few growing arrays, not one allocation per match.
class SeenSets {
public:
    // Empties the set for sets of `set_size` atoms, keeping its storage.
    void reset(std::uint32_t set_size) {
        size_ = set_size;
        count_ = 0;
        keys_.clear();
        slots_.clear();
    }

    // Inserts the sorted set; false when it was already there.
    bool insert(std::span<const std::uint32_t> key) {
        if ((count_ + 1) * 2 > slots_.size()) grow();
        const std::uint64_t h = hash(key);
        for (std::size_t i = h & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            const std::uint32_t slot = slots_[i];
            if (slot == NONE) {
                slots_[i] = count_++;
                keys_.insert(keys_.end(), key.begin(), key.end());
                return true;
            }
            if (std::equal(key.begin(), key.end(), keys_.begin() + std::ptrdiff_t(slot) * size_)) return false;
        }
    }

private:
    std::uint32_t size_ = 0;
    std::uint32_t count_ = 0;
    std::vector<std::uint32_t> keys_;
    std::vector<std::uint32_t> slots_;

    static std::uint64_t hash(std::span<const std::uint32_t> key) {
        std::uint64_t h = 1469598103934665603ull;
        for (std::uint32_t x : key) {
            h ^= x;
            h *= 1099511628211ull;
        }
        return h ^ (h >> 29);
    }
    void grow() {
        slots_.assign(std::max<std::size_t>(16, slots_.size() * 2), NONE);
        for (std::uint32_t k = 0; k < count_; ++k) {
            const std::span<const std::uint32_t> key(keys_.data() + std::size_t(k) * size_, size_);
            std::size_t i = hash(key) & (slots_.size() - 1);
            while (slots_[i] != NONE) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = k;
        }
    }
};

// Where complete matches go: the result list (top level) or just a count.
struct Sink {
    std::vector<Match>* out = nullptr;
    std::uint64_t count = 0;
    std::uint64_t limit = 0;  // 0 = none
    SeenSets* seen = nullptr;
    bool pause = false;  // hand each match back as soon as it is found

    bool full() const { return limit > 0 && count >= limit; }
};

struct Context {
    const MolBuilder& mol;
    const QueryProps& props;
    // The top-level search works in `top`; nested group searches each take the
    // next workspace, and pointers keep every workspace and slot in place while
    // the vectors grow.
    Workspace& top;
    std::vector<std::unique_ptr<Workspace>> nested;
    std::uint32_t level = 0;
    // Keyed by the group's sub-query object: two equal texts are two groups.
    std::unordered_map<const Query*, std::uint32_t> slot_of;
    std::vector<std::unique_ptr<GroupSlot>> slots;
    std::vector<std::uint32_t> ligands_l, ligands_n, sorted_key;
    std::uint64_t steps = 0;

    Context(const MolBuilder& m, const QueryProps& p, Workspace& t) : mol(m), props(p), top(t) {}

    Workspace& workspace(std::uint32_t lvl) {
        if (lvl == 0) return top;
        while (nested.size() < lvl) nested.push_back(std::make_unique<Workspace>());
        return *nested[lvl - 1];
    }
};

const MatchOptions GROUP_OPTIONS{1, false, true};

bool recursive_smarts_memo(Context& ctx, const Query& sub, std::uint32_t atom);

bool atom_test(Context& ctx, const AtomExpr& expr, std::uint32_t atom) {
    auto recurse = [&ctx, atom](const Query& sub) { return recursive_smarts_memo(ctx, sub, atom); };
    return expr.matches(ctx.props.atoms[atom], recurse);
}

bool bonds_hold(Context& ctx, const Plan& plan, const Workspace& ws, std::uint32_t d, std::uint32_t c) {
    const Query& q = *plan.query;
    for (std::uint32_t k = plan.check_start[d]; k < plan.check_start[d + 1]; ++k) {
        const BondCheck& chk = plan.checks[k];
        const std::uint32_t other = ws.mapping[chk.neighbour];
        const std::uint32_t mb = ctx.mol.bond_between(c, other);
        if (mb == NONE) return false;
        BondProps bp = at(ctx.props.bonds, mb);
        const core::Bond& bond = ctx.mol.bonds[mb];
        if (bond.order == core::BondOrder::Dative)
            bp.dative_forward = bond.begin == ws.mapping[q.graph.bonds[chk.bond].begin] ? 1 : 0;
        if (!q.bond_exprs[chk.bond].matches(bp)) return false;
    }
    return true;
}

bool chirality_holds(Context& ctx, const Plan& plan, const Workspace& ws) {
    const MolBuilder& g = plan.query->graph;
    for (auto [i, want] : plan.chiral_atoms) {
        const std::uint32_t a = ws.mapping[i];
        const core::ChiralTag tag = ctx.mol.atoms[a].chiral_tag;
        if (!core::is_tetrahedral(tag)) return false;
        if (graph_degree(g, i) < 3) continue;
        auto& l = ctx.ligands_l;
        auto& n = ctx.ligands_n;
        l.clear();
        n.clear();
        for (core::Neighbor nb : g.neighbors(i)) l.push_back(ws.mapping[nb.atom]);
        const std::size_t k = l.size();
        if (graph_degree(ctx.mol, a) > 0) {
            for (core::Neighbor nb : ctx.mol.neighbors(a)) {
                n.push_back(nb.atom);
                if (std::find(l.begin(), l.begin() + static_cast<std::ptrdiff_t>(k), nb.atom) ==
                    l.begin() + static_cast<std::ptrdiff_t>(k))
                    l.push_back(nb.atom);
            }
        }
        const std::uint8_t parity = core::permutation_parity(l, n);
        if (parity == 2) continue;
        const core::ChiralTag have = parity == 1 ? core::mirrored(tag) : tag;
        if (static_cast<std::uint8_t>(have) != want) return false;
    }
    return true;
}

bool cis_trans_holds(const Context& ctx, const Plan& plan, const Workspace& ws) {
    const MolBuilder& mol = ctx.mol;
    for (const CisTransCheck& ct : plan.cis_trans) {
        const std::uint32_t ix = ws.mapping[ct.x], iy = ws.mapping[ct.y];
        std::uint32_t mb = NONE;
        if (graph_degree(mol, ix) > 0) {
            for (core::Neighbor nb : mol.neighbors(ix)) {
                if (nb.atom == iy) {
                    mb = nb.bond;
                    break;
                }
            }
        }
        if (mb == NONE) return false;
        const auto cfg = io::double_bond_config_from_directions(mol, mb);
        if (!cfg) return false;
        std::uint8_t have = static_cast<std::uint8_t>(cfg->stereo);
        const bool x_is_begin = mol.bonds[mb].begin == ix;
        const std::uint32_t ref_x = x_is_begin ? cfg->begin_ref : cfg->end_ref;
        const std::uint32_t ref_y = x_is_begin ? cfg->end_ref : cfg->begin_ref;
        const int differ = (ws.mapping[ct.nx] != ref_x ? 1 : 0) + (ws.mapping[ct.ny] != ref_y ? 1 : 0);
        if (differ == 1) have = static_cast<std::uint8_t>(have == 3 ? 4 : 3);
        if (have != ct.wanted) return false;
    }
    return true;
}

void complete(Context& ctx, const Plan& plan, const Workspace& ws, const MatchOptions& opt, Sink& sink) {
    if (opt.use_chirality) {
        if (!chirality_holds(ctx, plan, ws)) return;
        if (!cis_trans_holds(ctx, plan, ws)) return;
    }
    // Only a mapping that passed the stereo filters claims its atom set.
    if (sink.seen) {
        auto& key = ctx.sorted_key;
        key.assign(ws.mapping.begin(), ws.mapping.end());
        std::sort(key.begin(), key.end());
        if (!sink.seen->insert(key)) return;
    }
    if (sink.out) sink.out->push_back(ws.mapping);
    ++sink.count;
}

void begin_depth(const Context& ctx, const Plan& plan, Workspace& ws, std::uint32_t d) {
    const std::uint32_t anchor = plan.anchor[d];
    if (anchor == NONE) {
        ws.cursor[d] = 0;
    } else {
        const std::uint32_t m = ws.mapping[anchor];
        ws.cursor[d] = graph_degree(ctx.mol, m) > 0 ? ctx.mol.first_half_edge[m] : NONE;
    }
}

// The next candidate at depth d that passes the used flag, the atom test and the
// bond tests; it is left mapped. NONE when the candidates are exhausted.
std::uint32_t next_candidate(Context& ctx, const Plan& plan, Workspace& ws, std::uint32_t d) {
    const std::uint32_t q = plan.order[d];
    const AtomExpr& expr = plan.query->atom_exprs[q];
    const bool from_anchor = plan.anchor[d] != NONE;
    const std::uint32_t num_atoms = ctx.mol.num_atoms();
    for (;;) {
        std::uint32_t c;
        if (from_anchor) {
            const std::uint32_t h = ws.cursor[d];
            if (h == NONE) return NONE;
            ws.cursor[d] = ctx.mol.next_half_edge[h];
            const core::Bond& b = ctx.mol.bonds[h >> 1];
            c = (h & 1u) ? b.begin : b.end;
        } else {
            if (ws.cursor[d] >= num_atoms) return NONE;
            c = ws.cursor[d]++;
        }
        if (ws.used[c]) continue;
        ++ctx.steps;
        // The atom test may run nested group searches; they use other workspaces.
        if (!atom_test(ctx, expr, c)) continue;
        ws.mapping[q] = c;
        if (bonds_hold(ctx, plan, ws, d, c)) return c;
        ws.mapping[q] = NONE;
    }
}

// Where a search stands: not begun, paused at a depth after handing back a
// match (depths before it still mapped), or finished.
struct SearchCursor {
    std::uint32_t depth = 0;
    bool started = false;
    bool finished = false;
};

// Backtracking from depth `start` (earlier depths already mapped), on an explicit
// stack of per-depth cursors. Runs until the search is exhausted or the sink is
// full, leaving the mapping and used flags of depths at and after `start` as it
// found them; with `sink.pause` it also returns after each match, and a later
// call with the same cursor goes on from there.
void search(Context& ctx, const Plan& plan, std::uint32_t start, Workspace& ws, const MatchOptions& opt,
            Sink& sink, SearchCursor& cur) {
    const std::uint32_t n = plan.n;
    if (cur.finished) return;
    if (!cur.started) {
        cur.started = true;
        if (sink.full() || start == n) {
            if (!sink.full()) complete(ctx, plan, ws, opt, sink);
            cur.finished = true;
            return;
        }
        cur.depth = start;
        begin_depth(ctx, plan, ws, start);
    }
    std::uint32_t d = cur.depth;
    for (;;) {
        const std::uint32_t c = next_candidate(ctx, plan, ws, d);
        if (c != NONE) {
            ws.used[c] = 1;
            ws.current[d] = c;
            if (d + 1 < n) {
                ++d;
                begin_depth(ctx, plan, ws, d);
                continue;
            }
            const std::uint64_t before = sink.count;
            complete(ctx, plan, ws, opt, sink);
            ws.used[c] = 0;
            ws.mapping[plan.order[d]] = NONE;
            if (sink.full()) {
                while (d > start) {
                    --d;
                    ws.used[ws.current[d]] = 0;
                    ws.mapping[plan.order[d]] = NONE;
                }
                cur.finished = true;
                return;
            }
            if (sink.pause && sink.count != before) {
                cur.depth = d;
                return;
            }
            continue;
        }
        if (d == start) {
            cur.finished = true;
            return;
        }
        --d;
        ws.used[ws.current[d]] = 0;
        ws.mapping[plan.order[d]] = NONE;
    }
}

// Clears what a paused search still holds, so the workspace goes back clean.
void abandon(const Plan& plan, std::uint32_t start, Workspace& ws, const SearchCursor& cur) {
    if (!cur.started || cur.finished) return;
    for (std::uint32_t d = start; d < cur.depth; ++d) {
        ws.used[ws.current[d]] = 0;
        ws.mapping[plan.order[d]] = NONE;
    }
}

GroupSlot& group_slot(Context& ctx, const Query& sub) {
    auto [it, fresh] = ctx.slot_of.try_emplace(&sub, static_cast<std::uint32_t>(ctx.slots.size()));
    if (!fresh) return *ctx.slots[it->second];
    auto slot = std::make_unique<GroupSlot>();
    slot->memo.assign(ctx.mol.num_atoms(), 0);
    const std::size_t n = sub.atom_exprs.size();
    if (n == 0 || n > ctx.mol.num_atoms() || sub.graph.num_atoms() != n || sub.bond_exprs.size() != sub.graph.num_bonds()) {
        slot->impossible = true;
    } else {
        // Planned once per call: the plan depends only on the group and the
        // molecule's element histogram. The group is anchored at its first atom.
        const auto est = estimate_candidates(sub.atom_exprs, ctx.props.atoms);
        std::vector<std::uint32_t>& order = slot->plan.order;
        order = plan_search_order(sub.graph, est);
        auto zero = std::find(order.begin(), order.end(), 0u);
        std::rotate(order.begin(), zero, zero + 1);
        std::vector<std::uint32_t> pos;
        make_plan(sub, slot->plan, pos);
    }
    ctx.slots.push_back(std::move(slot));
    return *ctx.slots.back();
}

bool recursive_smarts_memo(Context& ctx, const Query& sub, std::uint32_t atom) {
    GroupSlot& slot = group_slot(ctx, sub);
    const std::uint8_t known = at(slot.memo, atom);
    if (known != 0) return known == 2;
    slot.memo[atom] = 1;
    bool result = false;
    if (!slot.impossible && atom_test(ctx, sub.atom_exprs[0], atom)) {
        const std::uint32_t lvl = ctx.level + 1;
        Workspace& ws = ctx.workspace(lvl);
        ws.prepare(ctx.mol.num_atoms(), slot.plan.n);
        ws.mapping[0] = atom;
        ws.current[0] = atom;
        ws.used[atom] = 1;
        Sink sink;
        sink.limit = GROUP_OPTIONS.max_matches;
        const std::uint32_t saved = ctx.level;
        ctx.level = lvl;
        SearchCursor cur;
        search(ctx, slot.plan, 1, ws, GROUP_OPTIONS, sink, cur);
        ctx.level = saved;
        ws.used[atom] = 0;
        result = sink.count > 0;
    }
    slot.memo[atom] = result ? 2 : 1;
    return result;
}

}  // namespace

namespace {

void estimate_into(std::span<const AtomExpr> atom_exprs, std::span<const AtomProps> atoms,
                   std::vector<std::uint64_t>& est) {
    std::array<std::uint64_t, 256> hist{};
    // The elements present, so that each query atom tests a handful, not 256.
    std::array<std::uint8_t, 256> present;
    std::size_t num_present = 0;
    for (const AtomProps& a : atoms)
        if (hist[a.atomic_num]++ == 0) present[num_present++] = a.atomic_num;
    est.assign(atom_exprs.size(), 0);
    for (std::size_t i = 0; i < atom_exprs.size(); ++i) {
        const io::ElementSet set = atom_exprs[i].possible_elements();
        if (set.any) {
            est[i] = atoms.size();
            continue;
        }
        for (std::size_t k = 0; k < num_present; ++k)
            if (set.members.test(present[k])) est[i] += hist[present[k]];
    }
}

struct OrderBuffers {
    std::vector<std::uint32_t> seeds, count;
    std::vector<std::uint8_t> placed;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> heap;  // (placed neighbours, atom)
};

void order_into(const MolBuilder& graph, std::span<const std::uint64_t> estimates, OrderBuffers& b,
                std::vector<std::uint32_t>& order) {
    const std::uint32_t n = static_cast<std::uint32_t>(estimates.size());
    if (graph.num_atoms() < n) internal_error("估计数多于查询原子");
    // Seeds in preference order: smaller estimate, larger degree, lower index.
    std::vector<std::uint32_t>& seeds = b.seeds;
    seeds.resize(n);
    for (std::uint32_t i = 0; i < n; ++i) seeds[i] = i;
    std::sort(seeds.begin(), seeds.end(), [&](std::uint32_t a, std::uint32_t b) {
        if (estimates[a] != estimates[b]) return estimates[a] < estimates[b];
        const std::uint32_t da = graph_degree(graph, a), db = graph_degree(graph, b);
        if (da != db) return da > db;
        return a < b;
    });
    // Growth candidates, best on top: more placed neighbours, then the seed keys.
    // Counts only rise, so an entry whose count is stale is skipped when popped.
    using Entry = std::pair<std::uint32_t, std::uint32_t>;  // (count, atom)
    auto worse = [&](const Entry& a, const Entry& b) {
        if (a.first != b.first) return a.first < b.first;
        if (estimates[a.second] != estimates[b.second]) return estimates[a.second] > estimates[b.second];
        const std::uint32_t da = graph_degree(graph, a.second), db = graph_degree(graph, b.second);
        if (da != db) return da < db;
        return a.second > b.second;
    };
    std::vector<Entry>& grow = b.heap;  // a max-heap under `worse`
    grow.clear();
    std::vector<std::uint8_t>& placed = b.placed;
    std::vector<std::uint32_t>& count = b.count;
    placed.assign(n, 0);
    count.assign(n, 0);
    order.clear();
    order.reserve(n);
    auto place = [&](std::uint32_t q) {
        placed[q] = 1;
        order.push_back(q);
        if (graph_degree(graph, q) == 0) return;
        for (core::Neighbor nb : graph.neighbors(q)) {
            if (nb.atom >= n || placed[nb.atom]) continue;
            grow.push_back({++count[nb.atom], nb.atom});
            std::push_heap(grow.begin(), grow.end(), worse);
        }
    };
    std::size_t next_seed = 0;
    while (order.size() < n) {
        while (next_seed < n && placed[seeds[next_seed]]) ++next_seed;
        if (next_seed == n) internal_error("还有未放置的原子");
        place(seeds[next_seed]);
        while (!grow.empty()) {
            std::pop_heap(grow.begin(), grow.end(), worse);
            const Entry top = grow.back();
            grow.pop_back();
            if (placed[top.second] || top.first != count[top.second]) continue;
            place(top.second);
        }
    }
}

}  // namespace

std::vector<std::uint64_t> estimate_candidates(std::span<const AtomExpr> atom_exprs, std::span<const AtomProps> atoms) {
    std::vector<std::uint64_t> est;
    estimate_into(atom_exprs, atoms, est);
    return est;
}

std::vector<std::uint32_t> plan_search_order(const MolBuilder& graph, std::span<const std::uint64_t> estimates) {
    OrderBuffers buffers;
    std::vector<std::uint32_t> order;
    order_into(graph, estimates, buffers, order);
    return order;
}

bool has_bond_kind(const BondExpr& expr, BondPrimitive kind) {
    bool found = false;
    expr.for_each_in_and_lists([&](BondPrimitive p) {
        if (p == kind) found = true;
    });
    return found;
}

std::optional<DirectionalNeighbour> directional_neighbour(const Query& query, std::uint32_t atom,
                                                          std::uint32_t excluded) {
    const MolBuilder& g = query.graph;
    if (graph_degree(g, atom) == 0) return std::nullopt;
    for (core::Neighbor nb : g.neighbors(atom)) {
        if (nb.atom == excluded) continue;
        const BondExpr& e = at(query.bond_exprs, nb.bond);
        if (e.empty()) continue;
        const auto& root = e.node(e.root());
        std::uint8_t dir = 0;
        if (root.kind == ExprKind::Primitive) {
            if (root.prim == BondPrimitive::Up) dir = 1;
            else if (root.prim == BondPrimitive::Down) dir = 2;
        } else if (root.kind == ExprKind::And) {
            if (has_bond_kind(e, BondPrimitive::Up)) dir = 1;
            else if (has_bond_kind(e, BondPrimitive::Down)) dir = 2;
        }
        if (dir == 0) continue;
        if (g.bonds[nb.bond].begin != atom) dir = static_cast<std::uint8_t>(3 - dir);
        return DirectionalNeighbour{nb.atom, dir};
    }
    return std::nullopt;
}

namespace detail {

// The storage of one top-level search, borrowed per call.
struct SearchStorage {
    Workspace top;
    Plan plan;
    std::vector<std::uint64_t> estimates;
    std::vector<std::uint32_t> positions;
    OrderBuffers order_buffers;
    SeenSets seen;
    // The search in progress; a paused one lives on here between resumptions.
    std::optional<Context> ctx;
    MatchOptions options;
    Sink sink;
    SearchCursor cursor;
    std::vector<Match> found;  // a stream's latest match
};

}  // namespace detail

using detail::SearchStorage;
using StorageLease = core::Scratch<SearchStorage>::Lease;

namespace {

bool can_match(const Query& query, const MolBuilder& mol, const QueryProps& props) {
    const std::size_t n = query.atom_exprs.size();
    if (n == 0 || n > mol.num_atoms()) return false;
    if (props.atoms.size() != mol.num_atoms() || props.bonds.size() != mol.num_bonds())
        internal_error("查询性质与分子大小不符");
    if (query.graph.num_atoms() != n || query.bond_exprs.size() != query.graph.num_bonds())
        internal_error("查询图与表达式个数不符");
    return true;
}

// Plans one top-level search in borrowed storage, ready to run; complete
// matches go to `out`, or to the storage's own slot when it is null.
StorageLease start_search(const Query& query, const MolBuilder& mol, const QueryProps& props,
                          const MatchOptions& opt, std::vector<Match>* out) {
    StorageLease lease = core::Scratch<SearchStorage>::borrow(mol.num_atoms());
    SearchStorage& st = *lease;
    Context& ctx = st.ctx.emplace(mol, props, st.top);
    st.options = opt;
    st.cursor = SearchCursor{};
    estimate_into(query.atom_exprs, props.atoms, st.estimates);
    order_into(query.graph, st.estimates, st.order_buffers, st.plan.order);
    make_plan(query, st.plan, st.positions);
    ctx.workspace(0).prepare(mol.num_atoms(), st.plan.n);
    st.seen.reset(st.plan.n);
    st.sink = Sink{};
    st.sink.out = out ? out : &st.found;
    st.sink.limit = opt.max_matches;
    st.sink.seen = opt.uniquify ? &st.seen : nullptr;
    return lease;
}

void run_search(SearchStorage& st) { search(*st.ctx, st.plan, 0, st.top, st.options, st.sink, st.cursor); }

// Leaves the storage as a finished search would, for the pool.
void end_search(SearchStorage& st) {
    abandon(st.plan, 0, st.top, st.cursor);
    st.ctx.reset();
    st.found.clear();
}

}  // namespace

MatchResult find_matches_counted(const Query& query, const MolBuilder& mol, const QueryProps& props,
                                 const MatchOptions& options) {
    MatchResult result;
    if (!can_match(query, mol, props)) return result;
    const StorageLease lease = start_search(query, mol, props, options, &result.matches);
    run_search(*lease);
    result.steps = lease->ctx->steps;
    end_search(*lease);
    return result;
}

MatchStream::MatchStream(const Query& query, const MolBuilder& mol, const QueryProps& props,
                         const MatchOptions& options) {
    if (!can_match(query, mol, props)) return;
    lease_.emplace(start_search(query, mol, props, options, nullptr));
    (*lease_)->sink.pause = true;
}

MatchStream::~MatchStream() { stop(); }

MatchStream::MatchStream(MatchStream&& other) noexcept : steps_(other.steps_) {
    if (other.lease_) lease_.emplace(std::move(*other.lease_));
    other.lease_.reset();
}

MatchStream& MatchStream::operator=(MatchStream&& other) noexcept {
    if (this == &other) return *this;
    stop();
    if (other.lease_) lease_.emplace(std::move(*other.lease_));
    other.lease_.reset();
    steps_ = other.steps_;
    return *this;
}

void MatchStream::stop() {
    if (!lease_) return;
    end_search(**lease_);
    lease_.reset();  // the storage goes back at once
}

Match* MatchStream::next() {
    if (!lease_) return nullptr;
    SearchStorage& st = **lease_;
    st.found.clear();
    run_search(st);
    steps_ = st.ctx->steps;
    if (st.found.empty()) {
        stop();
        return nullptr;
    }
    return &st.found.front();
}

std::vector<Match> find_matches(const Query& query, const MolBuilder& mol, const QueryProps& props,
                                const MatchOptions& options) {
    return find_matches_counted(query, mol, props, options).matches;
}

}  // namespace quorix::match
