#pragma once
// The parsed SMARTS query: a small graph whose atoms and bonds carry boolean
// expression trees instead of chemistry.
//
// Trees are stored flat: one node array per expression, children linked by index
// (first child, next sibling, parent). Children always have smaller indices than
// their parent, so bottom-up passes are plain index loops, and evaluation walks
// the links with no stack at all. Nothing here recurses on the size of a tree.
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "core/builder.hpp"
#include "io/smarts/props.hpp"

namespace quorix::io {

struct Query;

enum class ExprKind : std::uint8_t { Primitive = 0, Not = 1, And = 2, Or = 3 };

struct AtomPrimitive {
    enum Kind : std::uint8_t {
        Any = 0,
        Aromatic = 1,
        Aliphatic = 2,
        Element = 3,
        Degree = 4,
        Connectivity = 5,
        TotalH = 6,
        ImplicitH = 7,
        RingCount = 8,
        RingSize = 9,
        RingConnectivity = 10,
        Valence = 11,
        Charge = 12,
        Isotope = 13,
        MapNumber = 14,
        Chirality = 15,
        Recursive = 16,
    };
    // `aromaticity` of an Element primitive.
    static constexpr std::uint8_t ALIPHATIC_ONLY = 0;
    static constexpr std::uint8_t AROMATIC_ONLY = 1;
    static constexpr std::uint8_t EITHER = 2;

    Kind kind = Any;
    std::uint8_t atomic_num = 0;   // Element
    std::uint8_t aromaticity = 0;  // Element
    std::uint8_t chirality = 0;    // Chirality: 1 for `@@` (cw), 2 for `@` (ccw)
    std::uint32_t has_value = 0;   // RingCount, RingSize, RingConnectivity
    std::uint32_t value = 0;       // counts; Isotope and MapNumber within 16 bits
    std::int32_t charge = 0;       // Charge
    std::uint32_t subquery = core::NONE;  // Recursive: index into the owning AtomExpr's sub-queries

    static AtomPrimitive of(Kind kind);
    static AtomPrimitive element(std::uint8_t atomic_num, std::uint8_t aromaticity);
    // Degree, Connectivity, TotalH, ImplicitH, Valence, Isotope, MapNumber.
    static AtomPrimitive number(Kind kind, std::uint32_t value);
    // RingCount, RingSize, RingConnectivity.
    static AtomPrimitive ring(Kind kind, bool has_value, std::uint32_t value);
    static AtomPrimitive formal_charge(std::int32_t charge);
    static AtomPrimitive chiral(std::uint8_t tag);

    bool operator==(const AtomPrimitive&) const = default;
};

enum class BondPrimitive : std::uint8_t {
    Any = 0,
    Single = 1,
    Double = 2,
    Triple = 3,
    Quadruple = 4,
    Aromatic = 5,
    Ring = 6,
    Up = 7,
    Down = 8,
    Dative = 9,
    DativeReversed = 10,
};

template <class Prim>
struct ExprNode {
    Prim prim{};  // Primitive nodes only
    ExprKind kind = ExprKind::Primitive;
    std::uint32_t num_children = 0;
    std::uint32_t first_child = core::NONE;
    std::uint32_t next_sibling = core::NONE;
    std::uint32_t parent = core::NONE;
};

// Visits the subtree at `start` in preorder. `visit(node)` returns whether to
// descend into that node's children. Works on const and mutable node arrays.
template <class Nodes, class Visit>
void preorder(Nodes& nodes, std::uint32_t start, Visit&& visit) {
    if (start == core::NONE) return;
    std::uint32_t n = start;
    for (;;) {
        auto& x = nodes[n];
        if (visit(x) && x.num_children > 0) {
            n = x.first_child;
            continue;
        }
        while (n != start && nodes[n].next_sibling == core::NONE) n = nodes[n].parent;
        if (n == start) return;
        n = nodes[n].next_sibling;
    }
}

template <class Prim>
class ExprTree {
public:
    using Node = ExprNode<Prim>;

    // Building. Children must be existing nodes that have no parent yet; the
    // root is set last. Breaking these rules is an internal error.
    std::uint32_t add_primitive(const Prim& prim);
    std::uint32_t add_not(std::uint32_t child);
    std::uint32_t add_list(ExprKind kind, std::span<const std::uint32_t> children);
    void set_root(std::uint32_t node);
    void reserve(std::size_t nodes) { nodes_.reserve(nodes); }
    // Detaches the root so it can become a child of a new node.
    std::uint32_t take_root() {
        const std::uint32_t r = root_;
        root_ = core::NONE;
        return r;
    }

    bool empty() const { return root_ == core::NONE; }
    std::uint32_t root() const { return root_; }
    std::uint32_t num_nodes() const { return static_cast<std::uint32_t>(nodes_.size()); }
    const Node& node(std::uint32_t index) const;
    std::span<const Node> nodes() const { return nodes_; }
    std::vector<std::uint32_t> children(std::uint32_t index) const;

    // Calls f(primitive) for each primitive reached from the root through And
    // nodes only (Not and Or are never entered), in written order.
    template <class F>
    void for_each_in_and_lists(F&& f) const {
        preorder(nodes_, root_, [&](const Node& x) {
            if (x.kind == ExprKind::Primitive) f(x.prim);
            return x.kind == ExprKind::And;
        });
    }

protected:
    std::vector<Node> nodes_;
    std::uint32_t root_ = core::NONE;
};

// The atomic numbers an atom can have and still match, or any element.
struct ElementSet {
    bool any = true;
    std::bitset<256> members;

    bool contains(std::uint8_t atomic_num) const { return any || members.test(atomic_num); }
    std::vector<std::uint8_t> list() const;  // ascending; empty when `any`
    bool operator==(const ElementSet&) const = default;
};

// A non-owning reference to the caller's recursive-query callback: called with
// the sub-query of a Recursive primitive, it answers whether that sub-query
// matches with its first atom on the molecule atom under test. It may keep state
// and may call AtomExpr::matches again. A few pointers; never allocates.
class RecursiveSmartsEval {
public:
    template <class F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, RecursiveSmartsEval> &&
                 !std::is_function_v<std::remove_reference_t<F>> &&
                 !std::is_pointer_v<std::remove_cvref_t<F>> &&
                 std::is_invocable_r_v<bool, F&, const Query&>)
    RecursiveSmartsEval(F&& f) noexcept  // NOLINT: implicit on purpose
        : obj_(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          call_([](void* obj, const Query& q) -> bool {
              return std::invoke(*static_cast<std::remove_reference_t<F>*>(obj), q);
          }) {}
    RecursiveSmartsEval(bool (*fn)(const Query&)) noexcept : plain_(fn) {}  // NOLINT

    bool operator()(const Query& q) const { return call_ ? call_(obj_, q) : plain_(q); }

private:
    void* obj_ = nullptr;
    bool (*call_)(void*, const Query&) = nullptr;
    bool (*plain_)(const Query&) = nullptr;
};

class AtomExpr : public ExprTree<AtomPrimitive> {
public:
    // A one-primitive expression (not for Recursive, which needs a sub-query).
    static AtomExpr of(const AtomPrimitive& prim);

    // Adds a Recursive primitive holding `sub`; returns its node.
    std::uint32_t add_recursive(Query sub);
    const Query& subquery(const AtomPrimitive& prim) const;
    std::span<const Query> subqueries() const;

    // Whether the expression holds for one molecule atom.
    bool matches(const AtomProps& atom, RecursiveSmartsEval recurse) const;

    // First Chirality value in the and-lists (1 or 2), 255 when none.
    std::uint8_t find_chirality() const;
    // First TotalH value in the and-lists.
    std::optional<std::uint32_t> find_h_count() const;
    // First Element atomic number in the and-lists.
    std::optional<std::uint8_t> find_element() const;
    // First MapNumber value in the and-lists.
    std::optional<std::uint16_t> find_map_number() const;
    // Same over several expressions, in order.
    static std::optional<std::uint16_t> find_map_number(std::span<const AtomExpr> exprs);
    // Exchanges 1 and 2 of every Chirality in the and-lists.
    void mirror_chirality();
    // A MapNumber anywhere, through Not, And and Or alike.
    bool contains_map_number() const;
    ElementSet possible_elements() const;

    // Removes the first map number found anywhere, and every later one with the
    // same value, each replaced by an empty And; And lists drop such members and
    // one-member lists collapse. Returns the value removed, if any. Map numbers
    // with other values stay in place.
    std::optional<std::uint16_t> extract_map_number();

    // A compact rendering for diagnostics and tests, e.g. "And(Or(C,N),H1)".
    std::string to_string() const;

private:
    std::vector<Query> subqueries_;
};

class BondExpr : public ExprTree<BondPrimitive> {
public:
    static BondExpr of(BondPrimitive prim);
    // What a bond written without a symbol means: Or(Single, Aromatic).
    static BondExpr default_bond();

    // Whether the expression holds for one molecule bond, as seen from the
    // query bond under test.
    bool matches(const BondProps& bond) const;
    // Some Double, Triple, Quadruple or Aromatic in the and-lists.
    bool requires_multiple() const;
    // The first Up or Down in the and-lists, read from `begin` towards `end`.
    core::BondDirection direction() const;
    // A DativeReversed in the and-lists: the bond's donor is its `end` atom.
    bool has_dative_reversed() const;
    // Structural equality: same shape, same primitives, same member order.
    bool eq(const BondExpr& other) const;
    bool operator==(const BondExpr& other) const { return eq(other); }

    std::string to_string() const;
};

struct Query {
    core::MolBuilder graph;             // adjacency only; records carry no query data
    std::vector<AtomExpr> atom_exprs;   // one per graph atom
    std::vector<BondExpr> bond_exprs;   // one per graph bond

    std::uint32_t num_atoms() const { return graph.num_atoms(); }
    std::uint32_t num_bonds() const { return graph.num_bonds(); }
    // Atom expressions separated by blanks, then " | " and each bond as
    // "begin-end:expression", e.g. "C O | 0-1:Or(-,:)".
    std::string to_string() const;
};

std::string to_string(const AtomPrimitive& prim);
std::string to_string(BondPrimitive prim);

}  // namespace quorix::io
