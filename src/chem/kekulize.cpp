#include "chem/kekulize.hpp"

#include <algorithm>
#include <cstdlib>
#include <span>

#include "chem/rings.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "core/scratch.hpp"
#include "core/sort.hpp"
#include "core/valence.hpp"
#include "core/walk.hpp"

namespace quorix::chem {

namespace E = core::Element;

using core::BondOrder;
using core::NONE;

namespace {

constexpr std::int8_t UNRESTRICTED[] = {-1};

// Elements whose formal charge counts against their valence.
bool charge_lowers_valence(std::uint32_t z) {
    return (z >= 3 && z <= 5) || (z >= 11 && z <= 13) || (z >= 19 && z <= 22) || (z >= 30 && z <= 32) ||
           (z >= 37 && z <= 41) || (z >= 48 && z <= 51) || (z >= 55 && z <= 61) || z == 72 || z == 73 ||
           (z >= 80 && z <= 83) || (z >= 87 && z <= 93) || (z >= 104 && z <= 118);
}

bool aromatic_bond(const core::Bond& b) {
    return (b.flags & core::AROMATIC) || b.order == BondOrder::Aromatic;
}

// Lenient total valence: declared hydrogens in, implicit ones unless fixed.
void total_valence(const core::MolBuilder& mol, std::uint32_t a, core::AtomValence& out) {
    core::lenient_valence_hs(mol, a, out);
}

std::span<const std::int8_t> allowed_valences(std::uint32_t z) {
    const core::ElementInfo* info = core::element(z);
    return info ? info->valences : std::span<const std::int8_t>(UNRESTRICTED);
}

}  // namespace

KekuleBondSum kekule_bond_sum(const core::MolBuilder& mol, std::uint32_t a, std::vector<std::uint32_t>* system_bonds) {
    KekuleBondSum out;
    for (core::Neighbor nb : core::unchecked_neighbors(mol, a)) {
        const core::Bond& b = mol.bonds[nb.bond];
        const bool flagged = (b.flags & core::AROMATIC) != 0;
        if (flagged && (b.order == BondOrder::Single || b.order == BondOrder::Double || b.order == BondOrder::Aromatic)) {
            if (system_bonds) system_bonds->push_back(nb.bond);
            out.sum += 1;
            continue;
        }
        switch (b.order) {
            case BondOrder::Unspecified: ++out.uncounted; break;
            case BondOrder::Single: out.sum += 1; break;
            case BondOrder::Double: out.sum += 2; break;
            case BondOrder::Triple: out.sum += 3; break;
            case BondOrder::Quadruple: out.sum += 4; break;
            case BondOrder::Aromatic: out.sum += 2; break;
            case BondOrder::Dative:
                if (b.end == a) out.sum += 1;
                else ++out.uncounted;
                break;
        }
    }
    return out;
}

bool needs_double_bond(const core::MolBuilder& mol, std::uint32_t a, const core::AtomValence& tv, KekuleBondSum bonds) {
    const core::Atom& atom = mol.atoms[a];
    const std::int64_t s = bonds.sum;
    const std::int64_t v = tv.total();
    const std::int64_t i = tv.implicit_hs;
    const std::int64_t h = atom.num_explicit_hs + i;
    const std::int64_t r = atom.num_radical_electrons;
    const std::int64_t q = atom.formal_charge;
    const std::uint32_t z = atom.atomic_num;
    const std::int64_t c = z == E::C ? -std::abs(q) : charge_lowers_valence(z) ? -q : q;
    const std::span<const std::int8_t> list = allowed_valences(z);
    std::int64_t t = c + list[0];
    if (list.size() >= 2 && v > t) {
        for (std::size_t k = 1; k < list.size() && list[k] >= 1; ++k) {
            t = c + list[k];
            if (v <= t) break;
        }
    }
    const std::int64_t sigma = std::int64_t(mol.degree[a]) - bonds.uncounted + i;
    if (v == 5 && s + h == 4 && t == 3 && r == 0 && sigma == 3 && c == 0 && h == 0 && (z == E::N || z == E::P || z == E::As))
        t = 5;
    const bool fixed = (atom.flags & core::FIXED_HS) != 0;
    return sigma + r < t && (t == s + h + r + 1 || (r == 0 && fixed && t == s + h + 2));
}

namespace {

// Built out of line: gcc 12 misreads the inactive vector alternative of an
// aggregate-initialised variant as uninitialised.
template <class Kind>
[[gnu::noinline]] std::unexpected<KekulizeError> fail(Kind kind) {
    KekulizeError e;
    e.kind.emplace<Kind>(std::move(kind));
    return std::unexpected<KekulizeError>(std::move(e));
}

// Double-ended queue of atoms on one reused ring buffer.
class AtomDeque {
public:
    bool empty() const { return count_ == 0; }
    void clear() { head_ = count_ = 0; }
    void push_back(std::uint32_t x) {
        if (count_ == buf_.size()) grow();
        buf_[(head_ + count_) & (buf_.size() - 1)] = x;
        ++count_;
    }
    void push_front(std::uint32_t x) {
        if (count_ == buf_.size()) grow();
        head_ = (head_ + buf_.size() - 1) & (buf_.size() - 1);
        buf_[head_] = x;
        ++count_;
    }
    std::uint32_t pop_front() {
        const std::uint32_t x = buf_[head_];
        head_ = (head_ + 1) & (buf_.size() - 1);
        --count_;
        return x;
    }

private:
    void grow() {
        std::vector<std::uint32_t> bigger(buf_.empty() ? 64 : 2 * buf_.size());
        for (std::size_t k = 0; k < count_; ++k) bigger[k] = buf_[(head_ + k) & (buf_.size() - 1)];
        buf_.swap(bigger);
        head_ = 0;
    }
    std::vector<std::uint32_t> buf_;  // size 0 or a power of two
    std::size_t head_ = 0, count_ = 0;
};

// A neighbour the search may pair an atom with, and the bond to it.
struct Option {
    std::uint32_t atom;
    std::uint32_t bond;
};

// An unvisited system neighbour met on a walk; `seq` is its place in the walk.
struct Met {
    std::uint32_t atom, seq, bond;
};

// By atom, then walk position: a total order, so any sort gives the same list.
void sort_met(std::vector<Met>& met) {
    core::stable_small_sort(met.begin(), met.end(),
                            [](const Met& x, const Met& y) { return x.atom != y.atom ? x.atom < y.atom : x.seq < y.seq; });
}

// Per-call working state, kept between calls; the per-system parts are reset
// only at the atoms and bonds of the finished system.
struct Work {
    std::vector<std::uint8_t> needs, in_system, touches, known_total;
    std::vector<std::uint32_t> visited, queued, chosen;  // chosen: the double bond an atom picked
    std::vector<std::uint8_t> double_ever;
    std::vector<core::AtomValence> total;  // valid where known_total
    std::vector<std::uint32_t> visit_order, choice_stack, collected, ever_list;
    std::vector<Met> met;
    std::vector<Option> options;
    AtomDeque queue;
    // The untried options of a choice atom: pool[rest_begin[a], rest_end[a]) while
    // has_rest[a]; each system atom owns a pool slice of its degree.
    std::vector<std::uint8_t> has_rest;
    std::vector<std::uint32_t> rest_begin, rest_end, slice;
    std::vector<Option> pool;
    std::vector<std::int32_t> before;  // total valence at the start, where touches
    std::vector<std::uint32_t> touching;   // the atoms that touch, ascending
    std::vector<core::AtomValence> totals;  // per touching atom
    // What the current system's bonds held before it wrote them, so a system
    // without a Kekulé form can be put back: all Single would be read as a
    // saturated ring by the next sanitisation.
    struct Saved {
        std::uint32_t bond;
        BondOrder order;
        core::BondDirection direction;
    };
    std::vector<Saved> saved;
    std::vector<std::uint8_t> logged;  // per bond: has an entry in `saved`
};

// An order written to a bond stales the cached totals of both its ends.
void set_order(core::MolBuilder& mol, Work& w, std::uint32_t bond, BondOrder order) {
    core::Bond& b = mol.bonds[bond];
    if (!w.logged[bond]) {
        w.logged[bond] = 1;
        w.saved.push_back({bond, b.order, b.direction});
    }
    b.order = order;
    w.known_total[b.begin] = w.known_total[b.end] = 0;
}

// Puts the current system's bonds back as they were before it was searched.
void restore_system(core::MolBuilder& mol, Work& w) {
    for (const Work::Saved& s : w.saved) {
        core::Bond& b = mol.bonds[s.bond];
        b.order = s.order;
        b.direction = s.direction;
        w.known_total[b.begin] = w.known_total[b.end] = 0;
    }
}

// The double-bond search over one system: atoms visited breadth-first, each
// atom that needs a double bond taking its first option, and chronological
// backtracking to the last atom that had other options left.
class SystemSearch {
public:
    SystemSearch(core::MolBuilder& mol, std::span<const std::uint32_t> sys, Work& w)
        : mol_(mol), sys_(sys), w_(w), budget_(10000 + 1000 * std::uint64_t(sys.size())) {}

    std::expected<void, KekulizeError> run() {
        prepare();
        std::expected<void, KekulizeError> result{};
        while (w_.visit_order.size() < sys_.size() || !w_.queue.empty()) {
            const std::uint32_t a = next_atom();
            if (a == NONE) break;
            w_.visit_order.push_back(a);
            ++w_.visited[a];
            const bool from_rest = w_.has_rest[a] != 0;
            const std::span<const Option> options = from_rest ? rest_of(a) : fresh_options(a);
            if (!w_.needs[a]) continue;
            if (!options.empty()) {
                take(a, options, from_rest);
                continue;
            }
            if (mol_.atoms[a].atomic_num == E::Wildcard) continue;
            if (current_ == NONE) {
                std::vector<std::uint32_t> open;
                for (std::uint32_t x : sys_)
                    if (w_.needs[x]) open.push_back(x);
                result = fail(KekulizeError::Unbalanced{std::move(open)});
                break;
            }
            if (backtracks_ >= budget_) {
                result = fail(KekulizeError::SearchCapReached{backtracks_, sys_.size()});
                break;
            }
            backtrack();
        }
        return result;
    }

private:
    core::MolBuilder& mol_;
    std::span<const std::uint32_t> sys_;
    Work& w_;
    const std::uint64_t budget_;
    std::uint64_t backtracks_ = 0;
    std::uint32_t current_ = NONE;  // the last choice atom with options left
    std::size_t cursor_ = 0;        // no system atom before it is unvisited while the queue is empty

    void prepare() {
        w_.queue.clear();
        w_.choice_stack.clear();
        w_.ever_list.clear();
        std::size_t slices = 0;
        for (std::uint32_t a : sys_) {
            w_.slice[a] = static_cast<std::uint32_t>(slices);
            slices += mol_.degree[a];
        }
        if (w_.pool.size() < slices) w_.pool.resize(slices);
    }

    // The queue's front, else the first unvisited system atom; NONE when all are.
    std::uint32_t next_atom() {
        if (!w_.queue.empty()) {
            const std::uint32_t a = w_.queue.pop_front();
            --w_.queued[a];
            return a;
        }
        while (cursor_ < sys_.size() && w_.visited[sys_[cursor_]] != 0) ++cursor_;
        return cursor_ == sys_.size() ? NONE : sys_[cursor_];
    }

    std::span<const Option> rest_of(std::uint32_t a) const {
        return {w_.pool.data() + w_.rest_begin[a], w_.pool.data() + w_.rest_end[a]};
    }

    // Distinct unvisited system neighbours in ascending order, each with the first
    // bond to it on this atom's walk; those that also need a double bond over an
    // aromatic bond are the options. The neighbours join the queue.
    std::span<const Option> fresh_options(std::uint32_t a) {
        w_.met.clear();
        std::uint32_t seq = 0;
        for (core::Neighbor nb : core::unchecked_neighbors(mol_, a))
            if (w_.in_system[nb.atom] && w_.visited[nb.atom] == 0) w_.met.push_back({nb.atom, seq++, nb.bond});
        sort_met(w_.met);
        w_.options.clear();
        const bool pairing = w_.needs[a] != 0;
        std::size_t kept = 0;
        for (std::size_t k = 0; k < w_.met.size(); ++k) {
            Met m = w_.met[k];
            if (kept > 0 && w_.met[kept - 1].atom == m.atom) {
                // Parallel bonds: the bond is whichever one the pair lookup finds.
                w_.met[kept - 1].bond = mol_.bond_between(a, m.atom);
                continue;
            }
            w_.met[kept++] = m;
        }
        w_.met.resize(kept);
        for (const Met& m : w_.met) {
            if (!(pairing && w_.needs[m.atom])) continue;
            if (m.bond == NONE) internal_error("邻居必有键");
            if (mol_.bonds[m.bond].flags & core::AROMATIC) w_.options.push_back({m.atom, m.bond});
        }
        for (const Met& m : w_.met) {
            if (w_.queued[m.atom] != 0) continue;
            w_.queue.push_back(m.atom);
            ++w_.queued[m.atom];
        }
        return w_.options;
    }

    // The first option becomes a double bond; the others are kept for backtracking.
    void take(std::uint32_t a, std::span<const Option> options, bool from_rest) {
        const std::uint32_t b = options.front().atom;
        const std::uint32_t bond = options.front().bond;
        set_order(mol_, w_, bond, BondOrder::Double);
        mol_.bonds[bond].direction = core::BondDirection::None;
        w_.needs[a] = w_.needs[b] = 0;
        if (!w_.double_ever[bond]) w_.ever_list.push_back(bond);
        w_.chosen[a] = bond;
        w_.double_ever[bond] = 1;
        const bool rest = options.size() > 1;
        if (from_rest) {
            if (!rest) {
                w_.has_rest[a] = 0;
                w_.choice_stack.pop_back();
                current_ = w_.choice_stack.empty() ? NONE : w_.choice_stack.back();
            } else {
                ++w_.rest_begin[a];
            }
        } else if (rest) {
            if (options.size() - 1 > mol_.degree[a]) internal_error("选项数不超过度");
            std::copy(options.begin() + 1, options.end(), w_.pool.begin() + w_.slice[a]);
            w_.rest_begin[a] = w_.slice[a];
            w_.rest_end[a] = w_.slice[a] + static_cast<std::uint32_t>(options.size() - 1);
            w_.has_rest[a] = 1;
            w_.choice_stack.push_back(a);
            current_ = a;
        }
    }

    // Chronological backtracking: revisit the current choice atom and everything
    // visited after it.
    void backtrack() {
        std::size_t p = w_.visit_order.size();
        while (p > 0 && w_.visit_order[p - 1] != current_) --p;
        if (p == 0) internal_error("回溯的选择原子必已访问");
        --p;
        for (std::size_t k = w_.visit_order.size(); k-- > p;) {
            const std::uint32_t x = w_.visit_order[k];
            w_.queue.push_front(x);
            ++w_.queued[x];
            --w_.visited[x];
        }
        // A double bond whose two ends are both unvisited now was chosen by an
        // atom of the cut-off tail (a partner is always visited after its
        // chooser), so undoing the tail's choices undoes exactly those bonds.
        for (std::size_t k = p; k < w_.visit_order.size(); ++k) {
            const std::uint32_t x = w_.visit_order[k];
            const std::uint32_t bond = w_.chosen[x];
            if (bond == NONE) continue;
            w_.chosen[x] = NONE;
            set_order(mol_, w_, bond, BondOrder::Single);
            const core::Bond& b = mol_.bonds[bond];
            w_.needs[b.begin] = w_.needs[b.end] = 1;
        }
        w_.visit_order.resize(p);
        cursor_ = 0;
        ++backtracks_;
    }
};

// Clears the per-system marks at the system's atoms and at the bonds it doubled.
void reset_system(std::span<const std::uint32_t> sys, Work& w) {
    for (std::uint32_t a : sys) {
        w.needs[a] = w.in_system[a] = 0;
        w.visited[a] = w.queued[a] = 0;
        w.chosen[a] = NONE;
        w.has_rest[a] = 0;
    }
    for (std::uint32_t bond : w.ever_list) w.double_ever[bond] = 0;  // the only bonds marked
    w.ever_list.clear();
    for (const Work::Saved& s : w.saved) w.logged[s.bond] = 0;
    w.saved.clear();
}

std::expected<void, KekulizeError> kekulize_system(core::MolBuilder& mol, std::span<const std::uint32_t> sys,
                                                   Work& w) {
    // Wildcards are only allowed in systems without any aromatic description.
    std::uint32_t wildcard = NONE;
    bool aromatic = false;
    for (std::uint32_t a : sys) {
        if (mol.atoms[a].atomic_num == E::Wildcard && wildcard == NONE) wildcard = a;
        aromatic = aromatic || w.touches[a];
    }
    if (wildcard != NONE && aromatic) return fail(KekulizeError::WildcardInAromatic{wildcard});
    // Every atom would be visited at once and nothing written.
    if (wildcard == NONE && !aromatic) return {};

    // Atoms outside the aromatic description count as visited from the start.
    w.visit_order.clear();
    w.collected.clear();
    for (std::uint32_t a : sys) w.in_system[a] = 1;
    for (std::uint32_t a : sys) {
        if (mol.atoms[a].atomic_num != E::Wildcard && !w.touches[a]) {
            w.visit_order.push_back(a);
            w.visited[a] = 1;
            continue;
        }
        if (!w.known_total[a]) {
            total_valence(mol, a, w.total[a]);
            w.known_total[a] = 1;
        }
        w.needs[a] = needs_double_bond(mol, a, w.total[a], kekule_bond_sum(mol, a, &w.collected)) ? 1 : 0;
    }
    for (std::uint32_t b : w.collected) set_order(mol, w, b, BondOrder::Single);

    std::expected<void, KekulizeError> result{};
    if (w.visit_order.size() < sys.size()) result = SystemSearch(mol, sys, w).run();
    if (!result) restore_system(mol, w);
    reset_system(sys, w);
    return result;
}

}  // namespace

std::string KekulizeError::to_string() const {
    struct Visitor {
        std::string operator()(const Unbalanced& e) const {
            std::string list = "[";
            for (std::size_t i = 0; i < e.atoms.size(); ++i) {
                if (i) list += ", ";
                list += std::to_string(e.atoms[i]);
            }
            list += "]";
            return "该芳香体系不存在合法 Kekulé 结构,未配平的原子:" + list;
        }
        std::string operator()(const SearchCapReached& e) const {
            return "kekulize 搜索触到安全上限(" + std::to_string(e.backtracks) + " 次回溯,体系 " +
                   std::to_string(e.atoms) + " 原子),结果未知 —— 这不等于无解";
        }
        std::string operator()(const AromaticNotInRing& e) const {
            return "原子 #" + std::to_string(e.atom) + " 不在环中却被标记为芳香";
        }
        std::string operator()(const ValenceChanged& e) const {
            return "kekulize 改变了原子 #" + std::to_string(e.atom) + " 的总价:" + std::to_string(e.before) + " → " +
                   std::to_string(e.after);
        }
        std::string operator()(const WildcardInAromatic& e) const {
            return "原子 #" + std::to_string(e.atom) + " 是芳香体系中的通配原子;该路径尚未实现";
        }
    };
    return std::visit(Visitor{}, kind);
}

namespace {

// `valences`, when given, is what assign_valences returned for the molecule as
// it stands: its numbers are the lenient totals the check below starts from.
std::expected<void, KekulizeError> kekulize_with(core::MolBuilder& mol, const FlatLists& ring_systems,
                                                 const ValenceLists* valences) {
    const std::uint32_t n = mol.num_atoms();
    bool any = false;
    for (std::uint32_t a = 0; a < n && !any; ++a) any = (mol.atoms[a].flags & core::AROMATIC) != 0;
    for (std::uint32_t b = 0; b < mol.num_bonds() && !any; ++b) any = aromatic_bond(mol.bonds[b]);
    if (!any) return {};

    const auto lease = core::Scratch<Work>::borrow(n);
    Work& w = *lease;
    // Only atoms touching the aromatic description can change: every bond order
    // written below is on an aromatic-flagged bond, and only aromatic atoms and
    // aromatic flags are edited afterwards. The others keep their total valence.
    // An atom touches it when flagged itself or at either end of an aromatic
    // bond (core::is_aromatic_atom), found here in one pass over the bonds.
    w.touches.resize(n);
    w.known_total.resize(n);
    w.total.resize(n);
    w.touching.clear();
    for (std::uint32_t a = 0; a < n; ++a) w.touches[a] = (mol.atoms[a].flags & core::AROMATIC) ? 1 : 0;
    for (const core::Bond& b : mol.bonds)
        if (aromatic_bond(b)) at(w.touches, b.begin) = at(w.touches, b.end) = 1;
    for (std::uint32_t a = 0; a < n; ++a) {
        w.known_total[a] = w.touches[a];
        if (w.touches[a]) w.touching.push_back(a);
    }
    w.totals.resize(w.touching.size());
    if (valences) {
        for (std::size_t k = 0; k < w.touching.size(); ++k) {
            const std::uint32_t a = w.touching[k];
            w.totals[k] = {valences->explicit_valence[a], valences->implicit_hs[a], true};
        }
    } else {
        core::lenient_valences(mol, w.touching, w.totals);
    }
    std::vector<std::int32_t>& before = w.before;
    before.resize(n);
    for (std::size_t k = 0; k < w.touching.size(); ++k) {
        w.total[w.touching[k]] = w.totals[k];
        before[w.touching[k]] = w.totals[k].total();
    }

    w.needs.assign(n, 0);
    w.in_system.assign(n, 0);
    w.visited.assign(n, 0);
    w.queued.assign(n, 0);
    w.chosen.assign(n, NONE);
    w.has_rest.assign(n, 0);
    w.rest_begin.resize(n);
    w.rest_end.resize(n);
    w.slice.resize(n);
    w.double_ever.assign(mol.num_bonds(), 0);
    w.logged.assign(mol.num_bonds(), 0);
    w.saved.clear();
    for (std::span<const std::uint32_t> sys : ring_systems) {
        auto r = kekulize_system(mol, sys, w);
        if (!r) return r;
    }

    for (core::Bond& b : mol.bonds) b.flags &= ~core::AROMATIC;
    for (std::uint32_t a = 0; a < n; ++a) {
        core::Atom& atom = mol.atoms[a];
        if (!(atom.flags & core::AROMATIC)) continue;
        if (!(atom.flags & core::IN_RING)) return fail(KekulizeError::AromaticNotInRing{a});
        atom.flags &= ~core::AROMATIC;
        if ((atom.atomic_num == E::N || atom.atomic_num == E::P) && atom.formal_charge == 0 && atom.num_explicit_hs == 1) {
            atom.flags &= ~core::FIXED_HS;
            atom.num_explicit_hs = 0;
            mol.atoms[a].num_implicit_hs = static_cast<std::uint8_t>(core::lenient_valence_hs(mol, a).implicit_hs);
        }
    }
    core::lenient_valences(mol, w.touching, w.totals);
    for (std::size_t k = 0; k < w.touching.size(); ++k) {
        const std::uint32_t a = w.touching[k];
        const std::int32_t after = w.totals[k].total();
        if (after != before[a])
            return fail(KekulizeError::ValenceChanged{a, before[a], after});
    }
    return {};
}

}  // namespace

std::expected<void, KekulizeError> kekulize(core::MolBuilder& mol, const FlatLists& ring_systems) {
    return kekulize_with(mol, ring_systems, nullptr);
}

std::expected<void, KekulizeError> kekulize(core::MolBuilder& mol, const FlatLists& ring_systems,
                                            const ValenceLists& valences) {
    const std::uint32_t n = mol.num_atoms();
    if (valences.explicit_valence.size() != n || valences.implicit_hs.size() != n)
        internal_error("价态数组长度与原子数不符");
    return kekulize_with(mol, ring_systems, &valences);
}

}  // namespace quorix::chem
