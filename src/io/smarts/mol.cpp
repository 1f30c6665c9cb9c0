#include "io/smarts/mol.hpp"

#include <cctype>
#include <cstddef>
#include <memory>
#include <type_traits>

#include "core/elements.hpp"
#include "core/error.hpp"

namespace quorix::io {

using core::NONE;

// ---- primitives -------------------------------------------------------------

AtomPrimitive AtomPrimitive::of(Kind kind) {
    AtomPrimitive p;
    p.kind = kind;
    return p;
}

AtomPrimitive AtomPrimitive::element(std::uint8_t atomic_num, std::uint8_t aromaticity) {
    AtomPrimitive p;
    p.kind = Element;
    p.atomic_num = atomic_num;
    p.aromaticity = aromaticity;
    return p;
}

AtomPrimitive AtomPrimitive::number(Kind kind, std::uint32_t value) {
    AtomPrimitive p;
    p.kind = kind;
    p.value = value;
    return p;
}

AtomPrimitive AtomPrimitive::ring(Kind kind, bool has_value, std::uint32_t value) {
    AtomPrimitive p;
    p.kind = kind;
    p.has_value = has_value ? 1 : 0;
    p.value = value;
    return p;
}

AtomPrimitive AtomPrimitive::formal_charge(std::int32_t charge) {
    AtomPrimitive p;
    p.kind = Charge;
    p.charge = charge;
    return p;
}

AtomPrimitive AtomPrimitive::chiral(std::uint8_t tag) {
    AtomPrimitive p;
    p.kind = Chirality;
    p.chirality = tag;
    return p;
}

std::vector<std::uint8_t> ElementSet::list() const {
    std::vector<std::uint8_t> out;
    if (any) return out;
    for (unsigned z = 0; z < 256; ++z)
        if (members.test(z)) out.push_back(static_cast<std::uint8_t>(z));
    return out;
}

// ---- tree storage -----------------------------------------------------------

template <class Prim>
std::uint32_t ExprTree<Prim>::add_primitive(const Prim& prim) {
    const auto index = static_cast<std::uint32_t>(nodes_.size());
    Node n;
    n.prim = prim;
    nodes_.push_back(n);
    return index;
}

template <class Prim>
std::uint32_t ExprTree<Prim>::add_not(std::uint32_t child) {
    const auto index = static_cast<std::uint32_t>(nodes_.size());
    if (child >= index || nodes_[child].parent != NONE || child == root_) internal_error("表达式子节点无效");
    Node n;
    n.kind = ExprKind::Not;
    n.num_children = 1;
    n.first_child = child;
    nodes_.push_back(n);
    nodes_[child].parent = index;
    return index;
}

template <class Prim>
std::uint32_t ExprTree<Prim>::add_list(ExprKind kind, std::span<const std::uint32_t> children) {
    if (kind != ExprKind::And && kind != ExprKind::Or) internal_error("表达式列表类型无效");
    const auto index = static_cast<std::uint32_t>(nodes_.size());
    std::uint32_t prev = NONE;
    for (std::uint32_t c : children) {
        if (c >= index || nodes_[c].parent != NONE || c == root_) internal_error("表达式子节点无效");
        nodes_[c].parent = index;
        if (prev != NONE) nodes_[prev].next_sibling = c;
        prev = c;
    }
    Node n;
    n.kind = kind;
    n.num_children = static_cast<std::uint32_t>(children.size());
    n.first_child = children.empty() ? NONE : children.front();
    nodes_.push_back(n);
    return index;
}

template <class Prim>
void ExprTree<Prim>::set_root(std::uint32_t node) {
    if (node >= nodes_.size() || nodes_[node].parent != NONE) internal_error("表达式根节点无效");
    root_ = node;
}

template <class Prim>
const typename ExprTree<Prim>::Node& ExprTree<Prim>::node(std::uint32_t index) const {
    return at(nodes_, index);
}

template <class Prim>
std::vector<std::uint32_t> ExprTree<Prim>::children(std::uint32_t index) const {
    std::vector<std::uint32_t> out;
    for (std::uint32_t c = at(nodes_, index).first_child; c != NONE; c = nodes_[c].next_sibling) out.push_back(c);
    return out;
}

template class ExprTree<AtomPrimitive>;
template class ExprTree<BondPrimitive>;

namespace {

// Short-circuit evaluation by walking the links: descend to the leftmost leaf,
// then climb, moving to a sibling only while the parent is still undecided. A
// Not parent inverts on the way up, so Not chains cost no stack.
template <class Node, class Test>
bool evaluate(const std::vector<Node>& nodes, std::uint32_t root, Test&& test) {
    if (root == NONE) internal_error("空的查询表达式");
    std::uint32_t n = root;
    for (;;) {
        bool value;
        for (;;) {
            const Node& x = nodes[n];
            if (x.kind == ExprKind::Primitive) {
                value = test(x.prim);
                break;
            }
            if (x.num_children == 0) {
                value = x.kind == ExprKind::And;
                break;
            }
            n = x.first_child;
        }
        bool moved = false;
        while (n != root) {
            const Node& x = nodes[n];
            const ExprKind pk = nodes[x.parent].kind;
            if (pk == ExprKind::Not) {
                value = !value;
            } else if (x.next_sibling != NONE && value == (pk == ExprKind::And)) {
                n = x.next_sibling;
                moved = true;
                break;
            }
            n = x.parent;
        }
        if (!moved) return value;
    }
}

// Structural equality of two subtrees by walking both in preorder together.
template <class Node>
bool same_shape(const std::vector<Node>& a, std::uint32_t ra, const std::vector<Node>& b, std::uint32_t rb) {
    if (ra == NONE || rb == NONE) return ra == rb;
    std::uint32_t x = ra, y = rb;
    for (;;) {
        const Node& nx = a[x];
        const Node& ny = b[y];
        if (nx.kind != ny.kind || nx.num_children != ny.num_children) return false;
        if (nx.kind == ExprKind::Primitive && !(nx.prim == ny.prim)) return false;
        if (nx.num_children > 0) {
            x = nx.first_child;
            y = ny.first_child;
            continue;
        }
        // Same shape so far, so both walks climb in step.
        while (x != ra && a[x].next_sibling == NONE) {
            if (b[y].next_sibling != NONE) return false;
            x = a[x].parent;
            y = b[y].parent;
        }
        if (x == ra) return true;
        if (b[y].next_sibling == NONE) return false;
        x = a[x].next_sibling;
        y = b[y].next_sibling;
    }
}

template <class Node, class Print>
std::string render(const std::vector<Node>& nodes, std::uint32_t root, Print&& print) {
    if (root == NONE) return "<empty>";
    std::string out;
    std::uint32_t n = root;
    for (;;) {
        const Node& x = nodes[n];
        if (x.kind == ExprKind::Not) {
            out += '!';
            n = x.first_child;
            continue;
        }
        if (x.kind == ExprKind::Primitive) {
            out += print(x.prim);
        } else {
            out += x.kind == ExprKind::And ? "And(" : "Or(";
            if (x.num_children > 0) {
                n = x.first_child;
                continue;
            }
            out += ')';
        }
        for (;;) {
            if (n == root) return out;
            const Node& c = nodes[n];
            if (c.next_sibling != NONE) {
                out += ',';
                n = c.next_sibling;
                break;
            }
            n = c.parent;
            if (nodes[n].kind != ExprKind::Not) out += ')';
        }
    }
}

std::string element_text(std::uint8_t z, std::uint8_t aromaticity) {
    const core::ElementInfo* info = (z >= 1 && z <= 118) ? core::element(z) : nullptr;
    if (info && aromaticity != AtomPrimitive::EITHER) {
        std::string s(info->symbol);
        if (aromaticity == AtomPrimitive::AROMATIC_ONLY)
            for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    }
    std::string s = "#" + std::to_string(z);
    if (aromaticity == AtomPrimitive::ALIPHATIC_ONLY) s += 'A';
    if (aromaticity == AtomPrimitive::AROMATIC_ONLY) s += 'a';
    return s;
}

std::string counted(char letter, std::uint32_t value) { return letter + std::to_string(value); }
std::string maybe_counted(char letter, const AtomPrimitive& p) {
    return p.has_value ? counted(letter, p.value) : std::string(1, letter);
}

}  // namespace

std::string to_string(const AtomPrimitive& p) {
    switch (p.kind) {
        case AtomPrimitive::Any: return "*";
        case AtomPrimitive::Aromatic: return "a";
        case AtomPrimitive::Aliphatic: return "A";
        case AtomPrimitive::Element: return element_text(p.atomic_num, p.aromaticity);
        case AtomPrimitive::Degree: return counted('D', p.value);
        case AtomPrimitive::Connectivity: return counted('X', p.value);
        case AtomPrimitive::TotalH: return counted('H', p.value);
        case AtomPrimitive::ImplicitH: return counted('h', p.value);
        case AtomPrimitive::RingCount: return maybe_counted('R', p);
        case AtomPrimitive::RingSize: return maybe_counted('r', p);
        case AtomPrimitive::RingConnectivity: return maybe_counted('x', p);
        case AtomPrimitive::Valence: return counted('v', p.value);
        case AtomPrimitive::Charge: return (p.charge >= 0 ? "+" : "") + std::to_string(p.charge);
        case AtomPrimitive::Isotope: return "iso" + std::to_string(p.value);
        case AtomPrimitive::MapNumber: return ":" + std::to_string(p.value);
        case AtomPrimitive::Chirality:
            return p.chirality == 2 ? "@" : p.chirality == 1 ? "@@" : "@?" + std::to_string(p.chirality);
        case AtomPrimitive::Recursive: return "$(#" + std::to_string(p.subquery) + ")";
    }
    return "?";
}

std::string to_string(BondPrimitive p) {
    switch (p) {
        case BondPrimitive::Any: return "~";
        case BondPrimitive::Single: return "-";
        case BondPrimitive::Double: return "=";
        case BondPrimitive::Triple: return "#";
        case BondPrimitive::Quadruple: return "$";
        case BondPrimitive::Aromatic: return ":";
        case BondPrimitive::Ring: return "@";
        case BondPrimitive::Up: return "/";
        case BondPrimitive::Down: return "\\";
        case BondPrimitive::Dative: return "->";
        case BondPrimitive::DativeReversed: return "<-";
    }
    return "?";
}

// ---- atom expressions -------------------------------------------------------

AtomExpr AtomExpr::of(const AtomPrimitive& prim) {
    if (prim.kind == AtomPrimitive::Recursive) internal_error("递归基元需要子查询");
    AtomExpr e;
    e.set_root(e.add_primitive(prim));
    return e;
}

std::uint32_t AtomExpr::add_recursive(Query sub) {
    AtomPrimitive p = AtomPrimitive::of(AtomPrimitive::Recursive);
    p.subquery = static_cast<std::uint32_t>(subqueries_.size());
    subqueries_.push_back(std::move(sub));
    return add_primitive(p);
}

const Query& AtomExpr::subquery(const AtomPrimitive& prim) const { return at(subqueries_, prim.subquery); }

std::span<const Query> AtomExpr::subqueries() const { return subqueries_; }

bool AtomExpr::matches(const AtomProps& a, RecursiveSmartsEval recurse) const {
    return evaluate(nodes_, root_, [&](const AtomPrimitive& p) -> bool {
        switch (p.kind) {
            case AtomPrimitive::Any: return true;
            case AtomPrimitive::Aromatic: return a.aromatic == 1;
            case AtomPrimitive::Aliphatic: return a.aromatic == 0;
            case AtomPrimitive::Element:
                return a.atomic_num == p.atomic_num &&
                       (p.aromaticity == AtomPrimitive::EITHER || a.aromatic == p.aromaticity);
            case AtomPrimitive::Degree: return static_cast<std::uint32_t>(a.degree) == p.value;
            case AtomPrimitive::Connectivity:
                // Every neighbour plus the hydrogens that are not neighbour atoms.
                return static_cast<std::uint32_t>(a.degree) + static_cast<std::uint32_t>(a.total_h) -
                           static_cast<std::uint32_t>(a.h_neighbors) ==
                       p.value;
            case AtomPrimitive::TotalH: return static_cast<std::uint32_t>(a.total_h) == p.value;
            case AtomPrimitive::ImplicitH: return static_cast<std::uint32_t>(a.implicit_h) == p.value;
            case AtomPrimitive::RingCount:
                return p.has_value ? static_cast<std::uint32_t>(a.ring_count) == p.value : a.ring_count != 0;
            case AtomPrimitive::RingSize:
                if (!p.has_value) return a.ring_count != 0;
                if (p.value == 0) return a.ring_count == 0;
                return static_cast<std::uint32_t>(a.smallest_ring) == p.value;
            case AtomPrimitive::RingConnectivity:
                return p.has_value ? static_cast<std::uint32_t>(a.ring_bonds) == p.value : a.ring_bonds != 0;
            case AtomPrimitive::Valence: return static_cast<std::uint32_t>(a.valence) == p.value;
            case AtomPrimitive::Charge: return a.formal_charge == p.charge;
            case AtomPrimitive::Isotope: return a.isotope == p.value;
            case AtomPrimitive::MapNumber: return true;
            case AtomPrimitive::Chirality: return true;
            case AtomPrimitive::Recursive: return recurse(subquery(p));
        }
        return false;
    });
}

std::uint8_t AtomExpr::find_chirality() const {
    std::uint8_t found = 255;
    for_each_in_and_lists([&](const AtomPrimitive& p) {
        if (found == 255 && p.kind == AtomPrimitive::Chirality) found = p.chirality;
    });
    return found;
}

std::optional<std::uint32_t> AtomExpr::find_h_count() const {
    std::optional<std::uint32_t> found;
    for_each_in_and_lists([&](const AtomPrimitive& p) {
        if (!found && p.kind == AtomPrimitive::TotalH) found = p.value;
    });
    return found;
}

std::optional<std::uint8_t> AtomExpr::find_element() const {
    std::optional<std::uint8_t> found;
    for_each_in_and_lists([&](const AtomPrimitive& p) {
        if (!found && p.kind == AtomPrimitive::Element) found = p.atomic_num;
    });
    return found;
}

std::optional<std::uint16_t> AtomExpr::find_map_number() const {
    std::optional<std::uint16_t> found;
    for_each_in_and_lists([&](const AtomPrimitive& p) {
        if (!found && p.kind == AtomPrimitive::MapNumber) found = static_cast<std::uint16_t>(p.value);
    });
    return found;
}

std::optional<std::uint16_t> AtomExpr::find_map_number(std::span<const AtomExpr> exprs) {
    for (const AtomExpr& e : exprs)
        if (auto m = e.find_map_number()) return m;
    return std::nullopt;
}

void AtomExpr::mirror_chirality() {
    preorder(nodes_, root_, [](Node& x) {
        if (x.kind == ExprKind::Primitive && x.prim.kind == AtomPrimitive::Chirality) {
            if (x.prim.chirality == 1) x.prim.chirality = 2;
            else if (x.prim.chirality == 2) x.prim.chirality = 1;
        }
        return x.kind == ExprKind::And;
    });
}

bool AtomExpr::contains_map_number() const {
    bool found = false;
    preorder(nodes_, root_, [&](const Node& x) {
        if (x.kind == ExprKind::Primitive && x.prim.kind == AtomPrimitive::MapNumber) found = true;
        return !found;
    });
    return found;
}

ElementSet AtomExpr::possible_elements() const {
    if (root_ == NONE) return {};
    // Children precede parents, so one pass in index order is bottom-up. Most
    // expressions have a few nodes: their sets stay on the stack.
    constexpr std::size_t INLINE = 16;
    static_assert(std::is_trivially_destructible_v<ElementSet>);
    alignas(ElementSet) std::byte inline_sets[INLINE * sizeof(ElementSet)];
    std::vector<ElementSet> heap_sets;
    ElementSet* sets = reinterpret_cast<ElementSet*>(inline_sets);
    if (nodes_.size() > INLINE) {
        heap_sets.resize(nodes_.size());
        sets = heap_sets.data();
    }
    for (std::uint32_t i = 0; i < nodes_.size(); ++i) {
        const Node& x = nodes_[i];
        ElementSet& s = *std::construct_at(sets + i);
        switch (x.kind) {
            case ExprKind::Primitive:
                if (x.prim.kind == AtomPrimitive::Element) {
                    s.any = false;
                    s.members.set(x.prim.atomic_num);
                }
                break;
            case ExprKind::Not: break;
            case ExprKind::And:
                for (std::uint32_t c = x.first_child; c != NONE; c = nodes_[c].next_sibling) {
                    if (sets[c].any) continue;
                    if (s.any) {
                        s = sets[c];
                    } else {
                        s.members &= sets[c].members;
                    }
                }
                break;
            case ExprKind::Or:
                s.any = false;
                for (std::uint32_t c = x.first_child; c != NONE; c = nodes_[c].next_sibling) {
                    if (sets[c].any) {
                        s = ElementSet{};
                        break;
                    }
                    s.members |= sets[c].members;
                }
                break;
        }
    }
    return sets[root_];
}

std::optional<std::uint16_t> AtomExpr::extract_map_number() {
    std::optional<std::uint32_t> first;
    preorder(nodes_, root_, [&](const Node& x) {
        if (!first && x.kind == ExprKind::Primitive && x.prim.kind == AtomPrimitive::MapNumber) first = x.prim.value;
        return !first;
    });
    if (!first) return std::nullopt;

    // Rebuild bottom-up. EMPTY marks a node that became an empty And; it is
    // materialised only where something must hold it (a Not or an Or).
    constexpr std::uint32_t EMPTY = NONE - 1;
    AtomExpr out;
    std::vector<std::uint32_t> remap(nodes_.size(), NONE);
    std::vector<std::uint32_t> kids;
    auto hold = [&](std::uint32_t m) { return m == EMPTY ? out.add_list(ExprKind::And, {}) : m; };
    for (std::uint32_t i = 0; i < nodes_.size(); ++i) {
        const Node& x = nodes_[i];
        switch (x.kind) {
            case ExprKind::Primitive:
                remap[i] = (x.prim.kind == AtomPrimitive::MapNumber && x.prim.value == *first)
                               ? EMPTY
                               : out.add_primitive(x.prim);
                break;
            case ExprKind::Not: remap[i] = out.add_not(hold(remap[x.first_child])); break;
            case ExprKind::And:
            case ExprKind::Or:
                kids.clear();
                for (std::uint32_t c = x.first_child; c != NONE; c = nodes_[c].next_sibling) {
                    if (x.kind == ExprKind::And && remap[c] == EMPTY) continue;
                    kids.push_back(hold(remap[c]));
                }
                if (x.kind == ExprKind::And && kids.empty()) remap[i] = EMPTY;
                else if (kids.size() == 1) remap[i] = kids.front();
                else remap[i] = out.add_list(x.kind, kids);
                break;
        }
    }
    const std::uint32_t r = hold(remap[root_]);
    nodes_ = std::move(out.nodes_);
    root_ = NONE;
    set_root(r);
    return static_cast<std::uint16_t>(*first);
}

std::string AtomExpr::to_string() const {
    return render(nodes_, root_, [&](const AtomPrimitive& p) {
        if (p.kind == AtomPrimitive::Recursive && p.subquery < subqueries_.size())
            return "$(" + subqueries_[p.subquery].to_string() + ")";
        return io::to_string(p);
    });
}

// ---- bond expressions -------------------------------------------------------

BondExpr BondExpr::of(BondPrimitive prim) {
    BondExpr e;
    e.set_root(e.add_primitive(prim));
    return e;
}

BondExpr BondExpr::default_bond() {
    BondExpr e;
    e.reserve(3);
    const std::uint32_t kids[2] = {e.add_primitive(BondPrimitive::Single), e.add_primitive(BondPrimitive::Aromatic)};
    e.set_root(e.add_list(ExprKind::Or, kids));
    return e;
}

bool BondExpr::matches(const BondProps& b) const {
    using core::BondOrder;
    return evaluate(nodes_, root_, [&](BondPrimitive p) -> bool {
        switch (p) {
            case BondPrimitive::Any: return true;
            case BondPrimitive::Single: return b.order == BondOrder::Single;
            case BondPrimitive::Double: return b.order == BondOrder::Double;
            case BondPrimitive::Triple: return b.order == BondOrder::Triple;
            case BondPrimitive::Quadruple: return b.order == BondOrder::Quadruple;
            case BondPrimitive::Aromatic: return b.order == BondOrder::Aromatic;
            case BondPrimitive::Ring: return b.in_ring == 1;
            case BondPrimitive::Up:
            case BondPrimitive::Down: return b.order == BondOrder::Single || b.order == BondOrder::Aromatic;
            case BondPrimitive::Dative: return b.order == BondOrder::Dative && b.dative_forward == 1;
            case BondPrimitive::DativeReversed: return b.order == BondOrder::Dative && b.dative_forward == 0;
        }
        return false;
    });
}

bool BondExpr::requires_multiple() const {
    bool found = false;
    for_each_in_and_lists([&](BondPrimitive p) {
        found = found || p == BondPrimitive::Double || p == BondPrimitive::Triple ||
                p == BondPrimitive::Quadruple || p == BondPrimitive::Aromatic;
    });
    return found;
}

core::BondDirection BondExpr::direction() const {
    core::BondDirection found = core::BondDirection::None;
    for_each_in_and_lists([&](BondPrimitive p) {
        if (found != core::BondDirection::None) return;
        if (p == BondPrimitive::Up) found = core::BondDirection::Slash;
        else if (p == BondPrimitive::Down) found = core::BondDirection::Backslash;
    });
    return found;
}

bool BondExpr::has_dative_reversed() const {
    bool found = false;
    for_each_in_and_lists([&](BondPrimitive p) { found = found || p == BondPrimitive::DativeReversed; });
    return found;
}

bool BondExpr::eq(const BondExpr& other) const { return same_shape(nodes_, root_, other.nodes_, other.root_); }

std::string BondExpr::to_string() const {
    return render(nodes_, root_, [](BondPrimitive p) { return io::to_string(p); });
}

std::string Query::to_string() const {
    std::string out;
    for (std::size_t i = 0; i < atom_exprs.size(); ++i) {
        if (i) out += ' ';
        out += atom_exprs[i].to_string();
    }
    if (!bond_exprs.empty()) out += " |";
    for (std::size_t b = 0; b < bond_exprs.size() && b < graph.bonds.size(); ++b) {
        out += ' ';
        out += std::to_string(graph.bonds[b].begin) + '-' + std::to_string(graph.bonds[b].end) + ':';
        out += bond_exprs[b].to_string();
    }
    return out;
}

}  // namespace quorix::io
