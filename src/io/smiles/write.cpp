#include "io/smiles/write.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <cmath>
#include <optional>
#include <string>

#include "core/elements.hpp"
#include "core/error.hpp"
#include "core/permutation.hpp"
#include "core/polyhedron.hpp"
#include "core/sort.hpp"
#include "core/valence.hpp"
#include "io/smiles/marks.hpp"

namespace quorix::io {

namespace E = core::Element;

using core::Atom;
using core::Bond;
using core::BondOrder;
using core::ChiralTag;
using core::MolBuilder;
using core::NONE;

namespace {

struct Entry {
    std::uint32_t bond;
    std::uint32_t atom;  // the far atom
};

// One atom on the path of the writing walk: its next entry to look at, its last
// child's entry (NONE for a leaf) and whether it opened a branch.
struct Frame {
    std::uint32_t atom;
    std::uint32_t next;
    std::uint32_t last;
    bool branch;
};

// Everything one call needs, kept between calls so that a warm writer allocates
// nothing per atom.
struct WriterScratch {
    std::vector<std::uint32_t> nb_start;  // per atom, its slice of `nbs`
    std::vector<Entry> nbs;               // neighbour lists in visiting order
    std::vector<std::uint8_t> tree;       // per entry of `nbs`: the traversal left by it
    std::vector<std::uint8_t> atom_seen, bond_seen;
    std::vector<std::uint64_t> roots_by_priority;
    std::vector<std::uint32_t> roots;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> dfs;  // (atom, next entry)
    std::vector<std::pair<std::uint32_t, std::uint32_t>> ring_found;  // (atom, bond), found order
    std::vector<std::uint32_t> ring_start, ring_list;
    std::vector<std::uint32_t> prev_bond;
    std::vector<std::uint32_t> bond_label;
    std::vector<std::uint8_t> label_in_use;
    std::vector<Frame> frames;
    std::vector<std::uint32_t> cursor;  // per atom, where its list is filled next
    std::string text;  // the text as it is written
    std::vector<std::int8_t> group_flip;
    StereoMarks marks;
    std::vector<std::uint32_t> written, stored, written2, stored2;
};

// Writes into room the caller has sized beforehand.
struct Sink {
    char* at;

    void put(char c) { *at++ = c; }
    void put(std::string_view text) {
        // Atom texts and symbols are a few bytes: a loop beats a call.
        if (text.size() <= 8) {
            for (char c : text) *at++ = c;
        } else {
            std::memcpy(at, text.data(), text.size());
            at += text.size();
        }
    }
    void number(std::uint64_t value) { at = std::to_chars(at, at + 20, value).ptr; }
};

bool is_aromatic(const Atom& a) { return (a.flags & core::AROMATIC) != 0; }

bool in_organic_subset(std::uint8_t z) {
    switch (z) {
        case E::Wildcard: case E::B: case E::C: case E::N: case E::O: case E::F: case E::P: case E::S:
        case E::Cl: case E::Br: case E::I:
            return true;
        default:
            return false;
    }
}

bool aromatic_writable(std::uint8_t z) {
    switch (z) {
        case E::B: case E::C: case E::N: case E::O: case E::P: case E::S: case E::As: case E::Se: case E::Te:
            return true;
        default:
            return false;
    }
}

unsigned total_hs(const Atom& a) { return std::min(a.total_hs(), 255u); }

// Element symbols as written, plain and aromatic (lower case), per atomic number;
// "*" for 0 and for numbers without an element.
struct SymbolTable {
    struct Text {
        char text[8];
        std::uint8_t size;
    };
    Text plain[256];
    Text aromatic[256];

    SymbolTable() {
        for (unsigned z = 0; z < 256; ++z) {
            const core::ElementInfo* info = core::element(z);
            std::string_view symbol = "*";
            if (z != 0 && info != nullptr) symbol = info->symbol;
            if (symbol.size() > sizeof plain[z].text) internal_error("元素符号过长");
            Text& p = plain[z];
            Text& a = aromatic[z];
            p.size = a.size = static_cast<std::uint8_t>(symbol.size());
            for (std::size_t i = 0; i < symbol.size(); ++i) {
                p.text[i] = symbol[i];
                a.text[i] = symbol[i] >= 'A' && symbol[i] <= 'Z' ? char(symbol[i] - 'A' + 'a') : symbol[i];
            }
        }
    }
};

const SymbolTable& symbols() {
    static const SymbolTable table;
    return table;
}

void append_symbol(Sink& out, const SymbolTable& table, const Atom& a) {
    const SymbolTable::Text& t = is_aromatic(a) ? table.aromatic[a.atomic_num] : table.plain[a.atomic_num];
    out.put(std::string_view(t.text, t.size));
}

}  // namespace

// Each atom's text without its chirality, which alone depends on the order of
// writing: atom a is text[SLOT * a, SLOT * a + size[a]) with its chirality, if it
// is in brackets, inserted at offset chiral_at[a]. Texts are made when first
// asked for: an order alone needs none, an automorphism check a few.
struct AtomTexts {
    // No atom text is longer than this: "[", isotope (5), symbol (up to 8), "H"
    // and count (4), charge (4), ":" and map (6), "]" make 29.
    static constexpr std::uint32_t SLOT = 32;

    std::string text;
    std::vector<std::uint8_t> size;  // 0 until made: every text has a symbol
    std::vector<std::uint8_t> chiral_at;
    std::vector<std::uint8_t> bracket;
    std::uint32_t total = 0;  // the sizes summed, once every text is made
    bool all_made = false;
    const MolBuilder* mol = nullptr;
    SmilesMode mode = SmilesMode::Storage;
    // Each atom's neighbours in half-edge order: adj[adj_start[a], adj_start[a + 1]),
    // made for writers that write texts (a search writes many); an order alone
    // reads the half-edge lists directly.
    std::vector<std::uint32_t> adj_start;
    std::vector<Entry> adj;
    bool adj_ready = false;

    void build(const MolBuilder& m, SmilesMode how) {
        mol = &m;
        mode = how;
        const std::uint32_t n = m.num_atoms();
        size.assign(n, 0);
        chiral_at.resize(n);
        bracket.resize(n);
        all_made = false;
        adj_ready = false;
        // The buffer only grows; texts are written in place and checked after.
        if (text.size() < std::size_t{n} * SLOT) text.resize(std::size_t{n} * SLOT);
    }

    void build_adjacency() {
        if (adj_ready) return;
        const MolBuilder& m = *mol;
        const std::uint32_t n = m.num_atoms();
        adj_start.resize(std::size_t{n} + 1);
        adj_start[0] = 0;
        for (std::uint32_t a = 0; a < n; ++a) adj_start[a + 1] = adj_start[a] + m.degree[a];
        adj.resize(adj_start[n]);
        const std::uint32_t* next = m.next_half_edge.data();
        for (std::uint32_t a = 0; a < n; ++a) {
            Entry* slice = adj.data() + adj_start[a];
            std::uint32_t k = 0;
            for (std::uint32_t h = m.first_half_edge[a]; h != NONE; h = next[h]) {
                if (k == m.degree[a]) internal_error("半边表长度与度数不符");
                const Bond& b = m.bonds[h >> 1];
                slice[k++] = {h >> 1, (h & 1u) ? b.begin : b.end};
            }
            if (k != m.degree[a]) internal_error("半边表长度与度数不符");
        }
        adj_ready = true;
    }

    void make_all() {
        if (all_made) return;
        const std::uint32_t n = mol->num_atoms();
        total = 0;
        for (std::uint32_t u = 0; u < n; ++u) {
            if (size[u] == 0) make(u);
            total += size[u];
        }
        all_made = true;
    }

    std::string_view of(std::uint32_t u) {
        if (size[u] == 0) make(u);
        return {text.data() + std::size_t{SLOT} * u, size[u]};
    }

    void make(std::uint32_t u) {
        const SymbolTable& table = symbols();
        char* const buf = text.data() + std::size_t{SLOT} * u;
        const Atom& a = mol->atoms[u];
        Sink out{buf};
        bracket[u] = needs_brackets(*mol, u, mode) ? 1 : 0;
        if (!bracket[u]) {
            append_symbol(out, table, a);
            chiral_at[u] = static_cast<std::uint8_t>(out.at - buf);
        } else {
            out.put('[');
            if (a.isotope != 0) out.number(a.isotope);
            append_symbol(out, table, a);
            chiral_at[u] = static_cast<std::uint8_t>(out.at - buf);
            const unsigned h = total_hs(a);
            if (h != 0) {
                out.put('H');
                if (h > 1) out.number(h);
            }
            if (a.formal_charge != 0) {
                out.put(a.formal_charge > 0 ? '+' : '-');
                const int magnitude = std::abs(int(a.formal_charge));
                if (magnitude > 1) out.number(unsigned(magnitude));
            }
            if (a.map_num != 0) {
                out.put(':');
                out.number(a.map_num);
            }
            out.put(']');
        }
        const auto length = static_cast<std::size_t>(out.at - buf);
        if (length == 0 || length > SLOT) internal_error("原子文本超出预留空间");
        size[u] = static_cast<std::uint8_t>(length);
    }
};

namespace {

class Writer {
public:
    // `stored` overrides the bonds' stored cis/trans when not empty.
    Writer(const MolBuilder& mol, std::span<const std::uint32_t> priorities, SmilesMode mode, WriterScratch& s,
           std::span<const std::uint8_t> effective, const AtomTexts& texts, std::span<const StoredStereo> stored,
           SmilesOutput& out)
        : mol_(mol), pri_(priorities), mode_(mode), s_(s), effective_(effective), texts_(texts), stored_(stored),
          out_(out) {}

    void run() {
        out_.text.clear();
        out_.atom_order.clear();
        traverse();
        if (stored_.empty())
            smiles_stereo_marks(mol_, s_.marks, effective_);
        else
            smiles_stereo_marks(mol_, s_.marks, effective_, stored_);
        emit();
    }

    // The atoms in written order alone: the walk finds them in the order emit()
    // visits them (depth first, children in list order).
    void run_order() {
        out_.atom_order.clear();
        order_roots_and_neighbours();
        walk_order();
    }

private:
    const MolBuilder& mol_;
    std::span<const std::uint32_t> pri_;
    SmilesMode mode_;
    WriterScratch& s_;
    std::span<const std::uint8_t> effective_;
    const AtomTexts& texts_;
    std::span<const StoredStereo> stored_;
    SmilesOutput& out_;
    Sink text_{nullptr};  // where the text goes while emit() runs

    void traverse();
    void order_roots_and_neighbours();
    void order_neighbours_from_half_edges(bool permutation);
    bool order_roots();
    bool order_neighbours_by_handing_out();
    void sort_neighbour_lists();
    void walk();
    void walk_order();
    void list_ring_bonds();
    void emit();
    // The frame of `u` on the writing walk: its first entry and its last child.
    Frame frame(std::uint32_t u, bool branch) const {
        std::uint32_t last = NONE;
        for (std::uint32_t k = s_.nb_start[u + 1]; k-- > s_.nb_start[u];)
            if (s_.tree[k]) {
                last = k;
                break;
            }
        return Frame{u, s_.nb_start[u], last, branch};
    }
    void visit(std::uint32_t u, std::uint32_t via);
    void written_bond_order(std::uint32_t u, std::vector<std::uint32_t>& out) const;
    void append_bond(std::uint32_t b, std::uint32_t from);
    void append_atom(std::uint32_t u);
    void append_chirality(std::uint32_t u);
    bool allene_ligands(std::uint32_t centre, bool written, std::vector<std::uint32_t>& out,
                        std::vector<std::uint32_t>& tmp) const;

    std::span<const Entry> neighbours(std::uint32_t u) const {
        return {s_.nbs.data() + s_.nb_start[u], s_.nb_start[u + 1] - s_.nb_start[u]};
    }
    std::span<const std::uint32_t> ring_bonds(std::uint32_t u) const {
        return {s_.ring_list.data() + s_.ring_start[u], s_.ring_start[u + 1] - s_.ring_start[u]};
    }
};

void Writer::traverse() {
    order_roots_and_neighbours();
    walk();
    list_ring_bonds();
}

void Writer::order_roots_and_neighbours() {
    const bool permutation = order_roots();
    if (!texts_.adj_ready) {
        order_neighbours_from_half_edges(permutation);
        return;
    }
    s_.nb_start.assign(texts_.adj_start.begin(), texts_.adj_start.end());
    s_.nbs.resize(texts_.adj.size());
    if (!permutation || !order_neighbours_by_handing_out()) sort_neighbour_lists();
}

// The same lists as the two steps below, read off the half-edge lists instead of
// the flat copy: the same entries in the same order, so the same outcome.
void Writer::order_neighbours_from_half_edges(bool permutation) {
    const std::uint32_t n = mol_.num_atoms();
    const std::uint32_t* next = mol_.next_half_edge.data();
    const std::uint32_t* first = mol_.first_half_edge.data();
    const core::Bond* bonds = mol_.bonds.data();
    s_.nb_start.resize(std::size_t{n} + 1);
    s_.nb_start[0] = 0;
    for (std::uint32_t a = 0; a < n; ++a) s_.nb_start[a + 1] = s_.nb_start[a] + mol_.degree[a];
    s_.nbs.resize(s_.nb_start[n]);
    if (permutation) {
        s_.cursor.assign(s_.nb_start.begin(), s_.nb_start.end() - 1);
        bool ordered = true;
        for (std::uint32_t p = 0; p < n && ordered; ++p) {
            const auto v = static_cast<std::uint32_t>(s_.roots_by_priority[p]);
            std::uint32_t k = 0;
            for (std::uint32_t h = first[v]; h != NONE; h = next[h], ++k) {
                const core::Bond& b = bonds[h >> 1];
                const Entry e{h >> 1, (h & 1u) ? b.begin : b.end};
                std::uint32_t& at = s_.cursor[e.atom];
                // A list longer than its degree would overrun its neighbour's slice.
                if (at == s_.nb_start[e.atom + 1]) internal_error("半边表长度与度数不符");
                if (at > s_.nb_start[e.atom] && s_.nbs[at - 1].atom == v && s_.nbs[at - 1].bond > e.bond) {
                    ordered = false;
                    break;
                }
                s_.nbs[at++] = Entry{e.bond, v};
            }
            if (ordered && k != mol_.degree[v]) internal_error("半边表长度与度数不符");
        }
        if (ordered) return;
    }
    const std::uint32_t* pri = pri_.data();
    for (std::uint32_t a = 0; a < n; ++a) {
        Entry* slice = s_.nbs.data() + s_.nb_start[a];
        std::uint32_t k = 0;
        for (std::uint32_t h = first[a]; h != NONE; h = next[h]) {
            if (k == mol_.degree[a]) internal_error("半边表长度与度数不符");
            const core::Bond& b = bonds[h >> 1];
            slice[k++] = {h >> 1, (h & 1u) ? b.begin : b.end};
        }
        if (k != mol_.degree[a]) internal_error("半边表长度与度数不符");
        core::stable_small_sort(slice, slice + k, [&](const Entry& x, const Entry& y) {
            const std::uint32_t px = pri[x.atom], py = pri[y.atom];
            return px != py ? px < py : x.bond < y.bond;
        });
    }
}

// Roots by (priority, atom index); a permutation of 0..n-1 needs no sort.
// Returns whether the priorities are one.
bool Writer::order_roots() {
    const std::uint32_t n = mol_.num_atoms();
    const std::uint32_t* pri = pri_.data();
    s_.roots_by_priority.assign(n, ~std::uint64_t(0));
    bool permutation = true;
    for (std::uint32_t a = 0; a < n && permutation; ++a) {
        const std::uint32_t p = pri[a];
        permutation = p < n && s_.roots_by_priority[p] == ~std::uint64_t(0);
        if (permutation) s_.roots_by_priority[p] = a;
    }
    if (!permutation) {
        for (std::uint32_t a = 0; a < n; ++a) s_.roots_by_priority[a] = (std::uint64_t(pri[a]) << 32) | a;
        std::sort(s_.roots_by_priority.begin(), s_.roots_by_priority.end());
    }
    return permutation;
}

// Neighbour lists sorted by (priority of the far atom, bond index), when the
// priorities are a permutation: visiting the atoms by rising priority and
// handing each to its neighbours' lists leaves every list in order, unless two
// bonds join the same pair of atoms in falling bond order. Returns false then.
bool Writer::order_neighbours_by_handing_out() {
    const std::uint32_t n = mol_.num_atoms();
    s_.cursor.assign(texts_.adj_start.begin(), texts_.adj_start.end() - 1);
    for (std::uint32_t p = 0; p < n; ++p) {
        const auto v = static_cast<std::uint32_t>(s_.roots_by_priority[p]);
        for (std::uint32_t k = texts_.adj_start[v]; k < texts_.adj_start[v + 1]; ++k) {
            const Entry e = texts_.adj[k];
            std::uint32_t& at = s_.cursor[e.atom];
            if (at > s_.nb_start[e.atom] && s_.nbs[at - 1].atom == v && s_.nbs[at - 1].bond > e.bond) return false;
            s_.nbs[at++] = Entry{e.bond, v};
        }
    }
    return true;
}

// The same order by sorting each list.
void Writer::sort_neighbour_lists() {
    const std::uint32_t n = mol_.num_atoms();
    const std::uint32_t* pri = pri_.data();
    for (std::uint32_t a = 0; a < n; ++a) {
        const std::uint32_t first = texts_.adj_start[a];
        const std::uint32_t k = texts_.adj_start[a + 1] - first;
        const Entry* from = texts_.adj.data() + first;
        Entry* slice = s_.nbs.data() + first;
        std::copy(from, from + k, slice);
        core::stable_small_sort(slice, slice + k, [&](const Entry& x, const Entry& y) {
            const std::uint32_t px = pri[x.atom], py = pri[y.atom];
            return px != py ? px < py : x.bond < y.bond;
        });
    }
}

// Depth-first from each root in root order: tree bonds, each atom's bond from
// its previous atom, and ring closures as they are found.
void Writer::walk() {
    const std::uint32_t n = mol_.num_atoms();
    s_.atom_seen.assign(n, 0);
    s_.bond_seen.assign(mol_.num_bonds(), 0);
    s_.tree.assign(s_.nbs.size(), 0);
    s_.prev_bond.assign(n, NONE);
    s_.roots.clear();
    s_.ring_found.clear();
    // The walk's stack holds each atom at most once: room for all of them.
    if (s_.dfs.size() < n) s_.dfs.resize(n);
    std::pair<std::uint32_t, std::uint32_t>* dfs = s_.dfs.data();
    std::uint8_t* atom_seen = s_.atom_seen.data();
    std::uint8_t* bond_seen = s_.bond_seen.data();
    const std::uint32_t* nb_start = s_.nb_start.data();
    const Entry* nbs = s_.nbs.data();
    for (std::uint64_t key : s_.roots_by_priority) {
        const auto root = static_cast<std::uint32_t>(key);
        if (atom_seen[root]) continue;
        atom_seen[root] = 1;
        s_.roots.push_back(root);
        std::size_t depth = 1;
        dfs[0] = {root, nb_start[root]};
        while (depth > 0) {
            auto& [u, i] = dfs[depth - 1];
            if (i == nb_start[u + 1]) {
                --depth;
                continue;
            }
            const std::uint32_t idx = i++;
            const Entry e = nbs[idx];
            if (bond_seen[e.bond]) continue;
            bond_seen[e.bond] = 1;
            if (!atom_seen[e.atom]) {
                atom_seen[e.atom] = 1;
                s_.tree[idx] = 1;
                const Bond& b = mol_.bonds[e.bond];
                if (b.begin != u && b.end != u) internal_error("遍历产生的键必以当前原子为端点");
                s_.prev_bond[e.atom] = e.bond;
                dfs[depth++] = {e.atom, nb_start[e.atom]};
            } else {
                s_.ring_found.push_back({u, e.bond});
                s_.ring_found.push_back({e.atom, e.bond});
            }
        }
    }
}

// The same walk for the atoms alone, in the order it reaches them, which is the
// order emit() writes them in (depth first, children in list order). A bond
// already seen leads to an atom already seen, so the atoms decide alone.
void Writer::walk_order() {
    const std::uint32_t n = mol_.num_atoms();
    s_.atom_seen.assign(n, 0);
    if (s_.dfs.size() < n) s_.dfs.resize(n);
    std::pair<std::uint32_t, std::uint32_t>* dfs = s_.dfs.data();
    std::uint8_t* atom_seen = s_.atom_seen.data();
    const std::uint32_t* nb_start = s_.nb_start.data();
    const Entry* nbs = s_.nbs.data();
    std::vector<std::uint32_t>& found = out_.atom_order;
    for (std::uint64_t key : s_.roots_by_priority) {
        const auto root = static_cast<std::uint32_t>(key);
        if (atom_seen[root]) continue;
        atom_seen[root] = 1;
        found.push_back(root);
        std::size_t depth = 1;
        dfs[0] = {root, nb_start[root]};
        while (depth > 0) {
            auto& [u, i] = dfs[depth - 1];
            if (i == nb_start[u + 1]) {
                --depth;
                continue;
            }
            const std::uint32_t v = nbs[i++].atom;
            if (atom_seen[v]) continue;
            atom_seen[v] = 1;
            found.push_back(v);
            dfs[depth++] = {v, nb_start[v]};
        }
    }
}

// Ring-closure bonds per atom, in the order they were found.
void Writer::list_ring_bonds() {
    const std::uint32_t n = mol_.num_atoms();
    s_.ring_start.assign(n + 1, 0);
    for (auto [a, b] : s_.ring_found) ++s_.ring_start[a + 1];
    for (std::uint32_t a = 0; a < n; ++a) s_.ring_start[a + 1] += s_.ring_start[a];
    s_.ring_list.resize(s_.ring_found.size());
    s_.written.assign(s_.ring_start.begin(), s_.ring_start.end() - 1);  // fill cursors
    for (auto [a, b] : s_.ring_found) s_.ring_list[s_.written[a]++] = b;
}

void Writer::written_bond_order(std::uint32_t u, std::vector<std::uint32_t>& out) const {
    out.clear();
    if (s_.prev_bond[u] != NONE) out.push_back(s_.prev_bond[u]);
    for (std::uint32_t r : ring_bonds(u)) out.push_back(r);
    for (std::uint32_t k = s_.nb_start[u]; k < s_.nb_start[u + 1]; ++k)
        if (s_.tree[k]) out.push_back(s_.nbs[k].bond);
}

void Writer::emit() {
    const std::uint32_t m = mol_.num_bonds();
    const std::uint32_t n = mol_.num_atoms();
    s_.bond_label.assign(m, NONE);
    s_.label_in_use.clear();
    s_.group_flip.assign(m, -1);
    out_.atom_order.reserve(n);

    // Room for the longest text these atoms and bonds can make: each atom's text
    // with at most 16 bytes of chirality, a bond symbol of at most 2 and a pair
    // of parentheses; each ring bond a symbol and two labels of at most 13. The
    // buffer only grows.
    const std::size_t room = texts_.total + std::size_t{n} * 20 + s_.ring_found.size() / 2 * 28 + s_.roots.size() + 8;
    if (s_.text.size() < room) s_.text.resize(room);
    text_ = Sink{s_.text.data()};

    // Depth-first over the tree the traversal left: every child but the last is a
    // branch in parentheses, the last continues the chain; one frame per atom on
    // the current path.
    if (s_.frames.size() < n) s_.frames.resize(n);
    Frame* frames = s_.frames.data();
    for (std::size_t r = 0; r < s_.roots.size(); ++r) {
        if (r != 0) text_.put('.');
        const std::uint32_t root = s_.roots[r];
        visit(root, NONE);
        std::size_t depth = 0;
        frames[depth++] = frame(root, false);
        while (depth > 0) {
            Frame& f = frames[depth - 1];
            std::uint32_t k = f.next;
            const std::uint32_t end = f.last == NONE ? k : f.last + 1;
            while (k < end && !s_.tree[k]) ++k;
            if (k == end) {
                if (f.branch) text_.put(')');
                --depth;
                continue;
            }
            f.next = k + 1;
            const Entry e = s_.nbs[k];
            const bool branch = k != f.last;
            if (branch) text_.put('(');
            visit(e.atom, e.bond);
            frames[depth++] = frame(e.atom, branch);
        }
    }
    const auto used = static_cast<std::size_t>(text_.at - s_.text.data());
    if (used > room) internal_error("SMILES 文本超出预留空间");
    out_.text.assign(s_.text.data(), used);
}

void Writer::visit(std::uint32_t u, std::uint32_t via) {
    if (via != NONE) append_bond(via, mol_.bonds[via].other(u));
    append_atom(u);
    out_.atom_order.push_back(u);

    for (std::uint32_t r : ring_bonds(u)) {
        std::uint32_t& label = s_.bond_label[r];
        if (label == NONE) {
            std::uint32_t slot = 0;
            while (slot < s_.label_in_use.size() && s_.label_in_use[slot]) ++slot;
            if (slot == s_.label_in_use.size()) s_.label_in_use.push_back(0);
            s_.label_in_use[slot] = 1;
            label = slot + 1;
            append_bond(r, u);
        } else {
            s_.label_in_use[label - 1] = 0;
        }
        // The label text: a digit, "%nn", or "%(n)".
        if (label < 10) {
            text_.put(char('0' + label));
        } else if (label < 100) {
            text_.put('%');
            text_.number(label);
        } else {
            text_.put("%(");
            text_.number(label);
            text_.put(')');
        }
    }
}

void Writer::append_bond(std::uint32_t b, std::uint32_t from) {
    const Bond& bond = mol_.bonds[b];
    std::uint8_t mark = s_.marks.directions[b];
    if (from == bond.end && mark != 0) mark = mark == 1 ? 2 : 1;
    const bool both_aromatic = is_aromatic(mol_.atoms[bond.begin]) && is_aromatic(mol_.atoms[bond.end]);
    switch (bond.order) {
        case BondOrder::Unspecified:
        case BondOrder::Single:
        case BondOrder::Aromatic:
            if (mark != 0) {
                const std::uint32_t g = s_.marks.groups[b];
                if (mode_ == SmilesMode::Canonical && g != NONE) {
                    // The first mark written in a group reads "/".
                    std::int8_t& flip = at(s_.group_flip, g);
                    if (flip < 0) flip = mark == 2 ? 1 : 0;
                    if (flip) mark = mark == 1 ? 2 : 1;
                }
                text_.put(mark == 1 ? '/' : '\\');
            } else if (bond.order == BondOrder::Aromatic) {
                if (!both_aromatic) text_.put(':');
            } else if (both_aromatic) {
                text_.put('-');
            }
            break;
        case BondOrder::Double: text_.put('='); break;
        case BondOrder::Triple: text_.put('#'); break;
        case BondOrder::Quadruple: text_.put('$'); break;
        case BondOrder::Dative: text_.put(from == bond.begin ? "->" : "<-"); break;
    }
}

void Writer::append_atom(std::uint32_t u) {
    const char* text = texts_.text.data() + std::size_t{AtomTexts::SLOT} * u;
    const std::uint32_t c = texts_.chiral_at[u], e = texts_.size[u];
    text_.put(std::string_view(text, c));
    if (texts_.bracket[u]) append_chirality(u);
    text_.put(std::string_view(text + c, e - c));
}

// Hydrogen count of an allene terminal atom: declared when fixed, otherwise what
// the valence rules give a plain atom; nothing for atoms the rules cannot judge.
std::optional<unsigned> terminal_hs(const MolBuilder& mol, std::uint32_t t) {
    const Atom& a = mol.atoms[t];
    if (a.flags & core::FIXED_HS) return a.num_explicit_hs;
    if (a.formal_charge != 0 || a.isotope != 0 || a.num_radical_electrons != 0) return std::nullopt;
    auto v = core::explicit_valence(mol, t, false, 0.0f);
    if (!v) return std::nullopt;
    auto h = core::implicit_hs(mol, t, *v, false);
    if (!h) return std::nullopt;
    return *h;
}

// Tags a terminal atom's hydrogen so that it cannot be taken for a bond index.
constexpr std::uint32_t HYDROGEN_LIGAND = 0x80000000u;

bool Writer::allene_ligands(std::uint32_t centre, bool written, std::vector<std::uint32_t>& out,
                            std::vector<std::uint32_t>& tmp) const {
    out.clear();
    std::uint32_t centre_bonds[2];
    std::uint32_t k = 0;
    if (written) {
        written_bond_order(centre, tmp);
        if (tmp.size() != 2) return false;
        centre_bonds[0] = tmp[0];
        centre_bonds[1] = tmp[1];
        k = 2;
    } else {
        for (core::Neighbor nb : mol_.neighbors(centre)) {
            if (k == 2) return false;
            centre_bonds[k++] = nb.bond;
        }
    }
    if (k != 2) return false;
    for (std::uint32_t cb : centre_bonds) {
        if (mol_.bonds[cb].order != BondOrder::Double) return false;
        const std::uint32_t t = mol_.bonds[cb].other(centre);
        tmp.clear();
        if (written) {
            written_bond_order(t, tmp);
        } else {
            for (core::Neighbor nb : mol_.neighbors(t)) tmp.push_back(nb.bond);
        }
        const std::optional<unsigned> h = terminal_hs(mol_, t);
        if (!h || *h > 1) return false;
        if (*h == 1) {
            const std::size_t slot = written ? (s_.prev_bond[t] != NONE ? 1 : 0) : 0;
            tmp.insert(tmp.begin() + std::ptrdiff_t(std::min(slot, tmp.size())), HYDROGEN_LIGAND | t);
        }
        std::size_t kept = 0;
        for (std::uint32_t x : tmp)
            if (x != cb) {
                out.push_back(x);
                ++kept;
            }
        if (kept != 2) return false;
    }
    return true;
}

void Writer::append_chirality(std::uint32_t u) {
    const Atom& a = mol_.atoms[u];
    std::vector<std::uint32_t>& written = s_.written;
    std::vector<std::uint32_t>& stored = s_.stored;
    switch (a.chiral_tag) {
        case ChiralTag::Cw:
        case ChiralTag::Ccw: {
            written_bond_order(u, written);
            stored.clear();
            for (core::Neighbor nb : mol_.neighbors(u)) stored.push_back(nb.bond);
            const std::uint8_t p = core::permutation_parity(written, stored);
            if (p == 2) return;
            bool invert = p == 1;
            if (stored.size() == 3) {
                const bool has_prev = s_.prev_bond[u] != NONE;
                bool multiple = false;
                for (std::uint32_t b : stored) {
                    const BondOrder o = mol_.bonds[b].order;
                    multiple |= o == BondOrder::Double || o == BondOrder::Triple || o == BondOrder::Quadruple ||
                                o == BondOrder::Aromatic;
                }
                bool invert_when_even;
                if (total_hs(a) == 1)
                    invert_when_even = !has_prev;
                else
                    invert_when_even = ring_bonds(u).size() == 1 && !multiple;
                invert = invert_when_even ? p == 0 : p == 1;
            }
            ChiralTag tag = a.chiral_tag;
            if (invert) tag = core::mirrored(tag);
            text_.put(tag == ChiralTag::Cw ? "@@" : "@");
            return;
        }
        case ChiralTag::SquarePlanar:
        case ChiralTag::TrigonalBipyramidal:
        case ChiralTag::Octahedral: {
            const std::uint32_t vertices = core::polyhedron_vertex_count(a.chiral_tag);
            const std::uint32_t deg = mol_.degree[u];
            if (!core::polyhedron_fits_bonds(vertices, deg)) return;
            stored.clear();
            if (vertices == deg + 1) stored.push_back(NONE);
            for (core::Neighbor nb : mol_.neighbors(u)) stored.push_back(nb.bond);
            written_bond_order(u, written);
            if (stored.size() == written.size() + 1)
                written.insert(written.begin() + (s_.prev_bond[u] != NONE ? 1 : 0), NONE);
            const auto number = core::renumber_polyhedral_permutation(a.chiral_tag, a.chiral_permutation, stored,
                                                                      written);
            if (!number) return;
            text_.put(a.chiral_tag == ChiralTag::SquarePlanar          ? "@SP"
                      : a.chiral_tag == ChiralTag::TrigonalBipyramidal ? "@TB"
                                                                       : "@OH");
            text_.number(*number);
            return;
        }
        case ChiralTag::Allene: {
            const std::uint8_t number = a.chiral_permutation;
            if (!core::allene_configured(number)) return;
            if (!allene_ligands(u, false, stored, s_.stored2)) return;
            if (!allene_ligands(u, true, written, s_.written2)) return;
            const std::uint8_t p = core::permutation_parity(written, stored);
            if (p == 2) return;
            text_.put("@AL");
            text_.number(p == 1 ? core::mirrored_allene(number) : number);
            return;
        }
        default:
            return;
    }
}

}  // namespace

bool needs_brackets(const MolBuilder& mol, std::uint32_t atom, SmilesMode mode) {
    const Atom& a = at(mol.atoms, atom);
    if (a.map_num != 0 || a.isotope != 0 || a.chiral_tag != ChiralTag::Unspecified ||
        a.num_radical_electrons != 0 || a.formal_charge != 0)
        return true;
    if (!in_organic_subset(a.atomic_num)) return true;
    if (is_aromatic(a) && !aromatic_writable(a.atomic_num)) return true;
    const bool declared = (a.flags & core::FIXED_HS) != 0 || a.num_explicit_hs != 0;
    if (mode == SmilesMode::Storage) return declared;
    if (!declared) return false;

    // A declared count is dropped only when the default valence rule gives it back.
    // The valence is taken as the reader will take it, aromatic correction
    // included, so that a bracketed and a plain aromatic atom write alike.
    const core::ElementInfo& info = core::element_at(a.atomic_num);
    if (info.valences.empty() || info.valences[0] == -1) return true;
    auto ev = core::explicit_valence(mol, atom, false, 0.0f);
    if (!ev || *ev > 127 || *ev < -128) return true;
    bool fits = false;
    for (std::int8_t v : info.valences) fits |= v >= *ev;
    if (!fits) return true;
    auto ih = core::implicit_hs(mol, atom, *ev, false);
    if (!ih) return true;
    return a.total_hs() != *ih;
}

struct SmilesWriter::Cache {
    AtomTexts texts;
    std::vector<std::uint32_t> restatable;
    bool restatable_ready = false;  // found when the first text is written
    std::vector<StoredStereo> stored;
};

SmilesWriter::SmilesWriter(const MolBuilder& mol, SmilesMode mode, std::span<const std::uint8_t> effective_marks)
    : mol_(mol), mode_(mode), effective_(effective_marks), cache_(core::Scratch<Cache>::borrow(mol.num_atoms())) {
    cache_->texts.build(mol, mode);
    cache_->restatable.clear();
    cache_->restatable_ready = false;
}

SmilesWriter::~SmilesWriter() = default;

void SmilesWriter::write(std::span<const std::uint32_t> priorities, SmilesOutput& out) {
    if (priorities.size() != mol_.atoms.size())
        internal_error("优先级数组长度 " + std::to_string(priorities.size()) + " 与原子数 " +
                       std::to_string(mol_.atoms.size()) + " 不符");
    if (mol_.atoms.empty()) {
        out.text.clear();
        out.atom_order.clear();
        return;
    }
    std::span<const StoredStereo> stored;
    if (!cache_->restatable_ready) {
        if (mode_ == SmilesMode::Canonical) restatable_bonds(mol_, cache_->restatable);
        cache_->restatable_ready = true;
    }
    if (rereferenced_stereo(mol_, priorities, cache_->restatable, cache_->stored)) stored = cache_->stored;
    cache_->texts.make_all();
    cache_->texts.build_adjacency();
    const auto scratch = core::Scratch<WriterScratch>::borrow(mol_.num_atoms());
    Writer(mol_, priorities, mode_, *scratch, effective_, cache_->texts, stored, out).run();
}

void SmilesWriter::write_order(std::span<const std::uint32_t> priorities, std::vector<std::uint32_t>& atom_order) {
    if (priorities.size() != mol_.atoms.size())
        internal_error("优先级数组长度 " + std::to_string(priorities.size()) + " 与原子数 " +
                       std::to_string(mol_.atoms.size()) + " 不符");
    SmilesOutput out;
    out.atom_order = std::move(atom_order);
    out.atom_order.clear();
    if (!mol_.atoms.empty()) {
        out.atom_order.reserve(mol_.atoms.size());
        const auto scratch = core::Scratch<WriterScratch>::borrow(mol_.num_atoms());
        Writer(mol_, priorities, mode_, *scratch, effective_, cache_->texts, {}, out).run_order();
    }
    atom_order = std::move(out.atom_order);
}

bool SmilesWriter::same_atom_text(std::uint32_t a, std::uint32_t b) const {
    AtomTexts& t = cache_->texts;
    const std::string_view x = t.of(a), y = t.of(b);
    return t.bracket[a] == t.bracket[b] && t.chiral_at[a] == t.chiral_at[b] && x == y;
}

SmilesOutput write_smiles(const MolBuilder& mol, std::span<const std::uint32_t> priorities, SmilesMode mode) {
    return write_smiles(mol, priorities, mode, {});
}

SmilesOutput write_smiles(const MolBuilder& mol, std::span<const std::uint32_t> priorities, SmilesMode mode,
                          std::span<const std::uint8_t> effective_marks) {
    if (priorities.size() != mol.atoms.size())
        internal_error("优先级数组长度 " + std::to_string(priorities.size()) + " 与原子数 " +
                       std::to_string(mol.atoms.size()) + " 不符");
    SmilesOutput out;
    if (mol.atoms.empty()) return out;
    SmilesWriter(mol, mode, effective_marks).write(priorities, out);
    return out;
}

SmilesOutput write_smiles(const MolBuilder& mol) {
    std::vector<std::uint32_t> priorities(mol.atoms.size());
    for (std::uint32_t a = 0; a < priorities.size(); ++a) priorities[a] = a;
    return write_smiles(mol, priorities, SmilesMode::Storage);
}

}  // namespace quorix::io
