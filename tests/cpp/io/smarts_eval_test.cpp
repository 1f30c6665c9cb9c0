#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "io/smarts/mol.hpp"
#include "io/smarts/parse.hpp"

using namespace quorix::io;
using quorix::core::BondOrder;

namespace {

// Hand-built atom records for the molecules the cases talk about: element,
// hydrogens (implicit unless made graph atoms), degree and valence.
AtomProps atom(std::uint8_t z, int h = 0, int degree = 0, int valence = 0) {
    AtomProps a;
    a.atomic_num = z;
    a.total_h = h;
    a.implicit_h = h;
    a.degree = degree;
    a.valence = valence;
    return a;
}
AtomProps hydrogen_atoms(AtomProps a) {
    a.h_neighbors = a.total_h;
    a.implicit_h = 0;
    return a;
}
AtomProps aromatic_in_rings(AtomProps a, int rings, int smallest, int ring_bonds) {
    a.aromatic = 1;
    a.ring_count = rings;
    a.smallest_ring = smallest;
    a.ring_bonds = ring_bonds;
    return a;
}
AtomProps with(AtomProps a, int charge, std::uint16_t isotope = 0) {
    a.formal_charge = charge;
    a.isotope = isotope;
    return a;
}

const AtomProps METHANE = atom(6, 4, 0, 4);  // implicit hydrogens only
const AtomProps METHANE_EXPLICIT_H = hydrogen_atoms(atom(6, 4, 4, 4));
const AtomProps WATER_O_TWO_H_ATOMS = hydrogen_atoms(atom(8, 2, 2, 2));  // [H]O[H]
const AtomProps ETHANE_C = atom(6, 3, 1, 4);                              // CH3 of ethane
const AtomProps BENZENE_C = aromatic_in_rings(atom(6, 1, 2, 4), 1, 6, 2);
const AtomProps PYRIDINE_N = aromatic_in_rings(atom(7, 0, 2, 3), 1, 6, 2);
// Shared by a five- and a six-membered ring.
const AtomProps INDOLE_FUSION_C = aromatic_in_rings(atom(6, 0, 3, 4), 2, 5, 3);
const AtomProps AMMONIUM_N = with(atom(7, 4, 0, 4), 1);
const AtomProps C13_METHYL = with(ETHANE_C, 0, 13);
const AtomProps CARBONYL_O = atom(8, 0, 1, 2);

AtomExpr bracket(const std::string& text) {
    auto q = read_smarts(text);
    EXPECT_TRUE(q) << (q ? "" : q.error().caret_view());
    if (!q || q->atom_exprs.empty()) return AtomExpr::of(AtomPrimitive::of(AtomPrimitive::Any));
    return q->atom_exprs[0];
}

bool never_called(const Query&) {
    ADD_FAILURE() << "recursive callback called";
    return false;
}

// ---- atom primitives and operators --------------------------------------------

struct AtomCase {
    std::string pattern;
    const AtomProps* atom;
    const char* atom_name;
    bool expected;
};

std::ostream& operator<<(std::ostream& os, const AtomCase& c) {
    return os << c.pattern << " on " << c.atom_name;
}

class AtomEval : public testing::TestWithParam<AtomCase> {};

TEST_P(AtomEval, Holds) {
    const AtomCase& c = GetParam();
    EXPECT_EQ(bracket(c.pattern).matches(*c.atom, never_called), c.expected);
}

#define ON(a) &a, #a

INSTANTIATE_TEST_SUITE_P(
    Elements, AtomEval,
    testing::Values(
        AtomCase{"[C]", ON(BENZENE_C), false}, AtomCase{"[c]", ON(BENZENE_C), true},
        AtomCase{"[H]", ON(ETHANE_C), false}));

INSTANTIATE_TEST_SUITE_P(
    Counts, AtomEval,
    testing::Values(
        // Each hydrogen counts once in the connection count, whether it is an
        // atom of the graph or only a count on its heavy atom.
        AtomCase{"[CX4]", ON(METHANE_EXPLICIT_H), true}, AtomCase{"[OX2]", ON(WATER_O_TWO_H_ATOMS), true},
        // Degree counts graph neighbours only; H counts every hydrogen.
        AtomCase{"[D4]", ON(METHANE_EXPLICIT_H), true},
        AtomCase{"[h0]", ON(METHANE_EXPLICIT_H), true},
        AtomCase{"[h4]", ON(METHANE), true}, AtomCase{"[v3]", ON(PYRIDINE_N), true},
        AtomCase{"[v]", ON(PYRIDINE_N), false}));

INSTANTIATE_TEST_SUITE_P(
    Rings, AtomEval,
    testing::Values(
        AtomCase{"[r5]", ON(INDOLE_FUSION_C), true},
        // Only the smallest ring counts.
        AtomCase{"[r6]", ON(INDOLE_FUSION_C), false},
        AtomCase{"[x3]", ON(INDOLE_FUSION_C), true}));

INSTANTIATE_TEST_SUITE_P(
    ChargeIsotopeMap, AtomEval,
    testing::Values(
        AtomCase{"[13C]", ON(ETHANE_C), false}, AtomCase{"[0C]", ON(ETHANE_C), true},
        // Map numbers and chirality never restrict the atom test.
        AtomCase{"[C,:1]", ON(CARBONYL_O), true},
        AtomCase{"[C@@]", ON(ETHANE_C), true}, AtomCase{"[!:1]", ON(ETHANE_C), false}));

// ---- boolean edge shapes ---------------------------------------------------------

TEST(AtomEvalShapes, EmptyListsAndNotChains) {
    AtomExpr empty_and;
    empty_and.set_root(empty_and.add_list(ExprKind::And, {}));
    EXPECT_TRUE(empty_and.matches(ETHANE_C, never_called));

    AtomExpr empty_or;
    empty_or.set_root(empty_or.add_list(ExprKind::Or, {}));
    EXPECT_FALSE(empty_or.matches(ETHANE_C, never_called));

    AtomExpr not_empty_and;
    not_empty_and.set_root(not_empty_and.add_not(not_empty_and.add_list(ExprKind::And, {})));
    EXPECT_FALSE(not_empty_and.matches(ETHANE_C, never_called));

    // A long Not chain over a list: parity decides, no stack needed.
    AtomExpr chain;
    std::uint32_t kids[2] = {chain.add_primitive(AtomPrimitive::element(7, AtomPrimitive::EITHER)),
                             chain.add_primitive(AtomPrimitive::number(AtomPrimitive::TotalH, 3))};
    std::uint32_t n = chain.add_list(ExprKind::Or, kids);
    for (int i = 0; i < 100001; ++i) n = chain.add_not(n);
    chain.set_root(n);
    EXPECT_FALSE(chain.matches(ETHANE_C, never_called));  // Or holds, odd chain
    EXPECT_TRUE(chain.matches(CARBONYL_O, never_called));
}

// Random trees, evaluated by the link-walking evaluator and by the plain
// recursive definition: value, and which recursive groups get asked.
struct RandomTrees {
    std::mt19937 rng{20261206};
    unsigned pick(unsigned n) { return static_cast<unsigned>(rng() % n); }

    std::uint32_t grow(AtomExpr& e, int depth, std::uint32_t& groups) {
        const unsigned k = depth == 0 ? 0 : pick(5);
        if (k == 0 || k == 1) {
            switch (pick(6)) {
                case 0: return e.add_primitive(AtomPrimitive::element(static_cast<std::uint8_t>(6 + pick(3)), pick(3)));
                case 1: return e.add_primitive(AtomPrimitive::number(AtomPrimitive::TotalH, pick(4)));
                case 2: return e.add_primitive(AtomPrimitive::of(AtomPrimitive::Aromatic));
                case 3: return e.add_primitive(AtomPrimitive::ring(AtomPrimitive::RingCount, pick(2) == 1, pick(3)));
                case 4: return e.add_primitive(AtomPrimitive::formal_charge(static_cast<int>(pick(3)) - 1));
                default: {
                    ++groups;
                    return e.add_recursive(*read_smarts(std::string(groups, 'C')));
                }
            }
        }
        if (k == 2) return e.add_not(grow(e, depth - 1, groups));
        std::vector<std::uint32_t> kids(pick(4));
        for (auto& c : kids) c = grow(e, depth - 1, groups);
        return e.add_list(k == 3 ? ExprKind::And : ExprKind::Or, kids);
    }
};

bool reference(const AtomExpr& e, std::uint32_t n, const AtomProps& a, std::vector<std::size_t>& asked) {
    const auto& x = e.node(n);
    switch (x.kind) {
        case ExprKind::Not: return !reference(e, x.first_child, a, asked);
        case ExprKind::And:
            for (std::uint32_t c : e.children(n))
                if (!reference(e, c, a, asked)) return false;
            return true;
        case ExprKind::Or:
            for (std::uint32_t c : e.children(n))
                if (reference(e, c, a, asked)) return true;
            return false;
        case ExprKind::Primitive: break;
    }
    const AtomPrimitive& p = x.prim;
    switch (p.kind) {
        case AtomPrimitive::Element:
            return a.atomic_num == p.atomic_num && (p.aromaticity == 2 || a.aromatic == p.aromaticity);
        case AtomPrimitive::TotalH: return a.total_h == static_cast<int>(p.value);
        case AtomPrimitive::Aromatic: return a.aromatic == 1;
        case AtomPrimitive::RingCount: return p.has_value ? a.ring_count == static_cast<int>(p.value) : a.ring_count != 0;
        case AtomPrimitive::Charge: return a.formal_charge == p.charge;
        case AtomPrimitive::Recursive: {
            const std::size_t atoms = e.subquery(p).num_atoms();
            asked.push_back(atoms);
            return atoms % 2 == 1;  // the fake callback's answer
        }
        default: ADD_FAILURE() << "unexpected primitive"; return false;
    }
}

TEST(AtomEvalShapes, RandomTreesAgreeWithTheRecursiveDefinition) {
    RandomTrees gen;
    const AtomProps atoms[] = {ETHANE_C, BENZENE_C, PYRIDINE_N, INDOLE_FUSION_C, AMMONIUM_N, CARBONYL_O};
    int true_results = 0, false_results = 0;
    for (int t = 0; t < 3000; ++t) {
        AtomExpr e;
        std::uint32_t groups = 0;
        e.set_root(gen.grow(e, 1 + t % 6, groups));
        for (const AtomProps& a : atoms) {
            std::vector<std::size_t> want, got;
            const bool expected = reference(e, e.root(), a, want);
            const bool value = e.matches(a, [&](const Query& sub) {
                got.push_back(sub.num_atoms());
                return sub.num_atoms() % 2 == 1;
            });
            ASSERT_EQ(value, expected) << e.to_string();
            ASSERT_EQ(got, want) << e.to_string();
            (expected ? true_results : false_results)++;
        }
    }
    // Both outcomes occur often enough for the comparison to mean something.
    EXPECT_GT(true_results, 3000);
    EXPECT_GT(false_results, 3000);
}

// ---- recursive groups ------------------------------------------------------------

TEST(AtomEvalRecursive, CallbackMayEvaluateAgain) {
    // A callback that, like the matcher, evaluates the sub-query's first atom on
    // the same atom, recursing into nested groups through itself.
    auto q = read_smarts("[$([$([N,O]):1])]");
    ASSERT_TRUE(q);
    struct Nested {
        const AtomProps* atom;
        int depth = 0;
        bool operator()(const Query& sub) {
            ++depth;
            return sub.atom_exprs[0].matches(*atom, *this);
        }
    };
    Nested on_o{&CARBONYL_O};
    EXPECT_TRUE(q->atom_exprs[0].matches(CARBONYL_O, on_o));
    EXPECT_EQ(on_o.depth, 2);
    Nested on_c{&ETHANE_C};
    EXPECT_FALSE(q->atom_exprs[0].matches(ETHANE_C, on_c));
}

// ---- bonds -----------------------------------------------------------------------

BondProps bond(BondOrder order, bool ring = false, bool forward = true) {
    BondProps b;
    b.order = order;
    b.in_ring = ring ? 1 : 0;
    b.dative_forward = forward ? 1 : 0;
    return b;
}

struct BondCase {
    std::string pattern;  // two atoms and the bond under test
    BondProps bond;
    const char* bond_name;
    bool expected;
};

std::ostream& operator<<(std::ostream& os, const BondCase& c) { return os << c.pattern << " on " << c.bond_name; }

class BondEval : public testing::TestWithParam<BondCase> {};

TEST_P(BondEval, Holds) {
    auto q = read_smarts(GetParam().pattern);
    ASSERT_TRUE(q) << q.error().caret_view();
    ASSERT_EQ(q->bond_exprs.size(), 1u);
    EXPECT_EQ(q->bond_exprs[0].matches(GetParam().bond), GetParam().expected);
}

#define B(...) bond(__VA_ARGS__), #__VA_ARGS__
using enum BondOrder;

INSTANTIATE_TEST_SUITE_P(
    Orders, BondEval,
    testing::Values(
        BondCase{"CC", B(Single), true}, BondCase{"CC", B(Double), false}, BondCase{"C-C", B(Aromatic), false},
        BondCase{"c:c", B(Single), false}, BondCase{"C~C", B(Dative, false, false), true},
        BondCase{"C\\C", B(Aromatic), true}, BondCase{"C/C", B(Double), false}));

INSTANTIATE_TEST_SUITE_P(
    RingsAndOperators, BondEval,
    testing::Values(
        BondCase{"C@C", B(Single, true), true}, BondCase{"C!@C", B(Single, false), true},
        BondCase{"C-!@C", B(Single, true), false}, BondCase{"C-@C", B(Aromatic, true), false},
        BondCase{"C-,:;@C", B(Aromatic, true), true}, BondCase{"C-,=;!@C", B(Double, true), false},
        BondCase{"C!-!:C", B(Double), true}));

INSTANTIATE_TEST_SUITE_P(
    Dative, BondEval,
    testing::Values(
        BondCase{"N->[Cu]", B(Dative, false, true), true}, BondCase{"N->[Cu]", B(Dative, false, false), false},
        BondCase{"[Cu]<-N", B(Dative, false, false), true},
        BondCase{"N-[Cu]", B(Dative), false}));

// ---- walkers -----------------------------------------------------------------------

std::vector<std::uint8_t> elements(const std::string& pattern) { return bracket(pattern).possible_elements().list(); }
bool any_element(const std::string& pattern) { return bracket(pattern).possible_elements().any; }

TEST(AtomExprWalkers, PossibleElements) {
    using V = std::vector<std::uint8_t>;
    const std::pair<const char*, V> listed[] = {
        {"[C;!N]", {6}}, {"[C&N]", {}}, {"[#6,c,n]", {6, 7}}, {"[C,N,O;N,O,S;O,N]", {7, 8}}, {"[H]", {1}},
        {"[#200,#0]", {0, 200}}};
    for (const auto& [pattern, want] : listed) {
        EXPECT_FALSE(any_element(pattern)) << pattern;
        EXPECT_EQ(elements(pattern), want) << pattern;
    }
    for (const char* pattern : {"[!C]", "[C,a]", "[$(N)]"}) EXPECT_TRUE(any_element(pattern)) << pattern;
    AtomExpr empty_or;
    empty_or.set_root(empty_or.add_list(ExprKind::Or, {}));
    EXPECT_FALSE(empty_or.possible_elements().any);
    EXPECT_TRUE(empty_or.possible_elements().list().empty());
}

BondExpr bond_of(const std::string& text) {
    auto q = read_smarts("C" + text + "C");
    EXPECT_TRUE(q);
    return q ? q->bond_exprs.at(0) : BondExpr::default_bond();
}

TEST(BondExprWalkers, RequiresMultiple) {
    // The default bond is an Or: not entered.
    for (const char* yes : {"=", "#", "$", ":", "-;=", "@="}) EXPECT_TRUE(bond_of(yes).requires_multiple()) << yes;
    for (const char* no : {"", "-,=", "!=", "~", "-"}) EXPECT_FALSE(bond_of(no).requires_multiple()) << no;
}

TEST(BondExprWalkers, StructuralEquality) {
    EXPECT_TRUE(BondExpr::default_bond().eq(BondExpr::default_bond()));
    EXPECT_TRUE(bond_of("").eq(BondExpr::default_bond()));
    EXPECT_TRUE(bond_of("-,:").eq(BondExpr::default_bond()));
    EXPECT_FALSE(bond_of(":,-").eq(BondExpr::default_bond()));
    EXPECT_FALSE(bond_of("-").eq(BondExpr::default_bond()));
    // The last pair has the same shape with different leaves deep inside.
    const std::tuple<const char*, const char*, bool> pairs[] = {
        {"!@", "!!@", false}, {"-,=,#", "-,=", false}, {"-,=", "-,=,#", false}, {"-,=;@", "-,=;@", true},
        {"-,=;@", "-,=&@", false}, {"-,=;!@", "-,=;!:", false}};
    for (const auto& [a, b, equal] : pairs) EXPECT_EQ(bond_of(a).eq(bond_of(b)), equal) << a << " vs " << b;
}

TEST(QueryValue, CopiesAreDeepAndEqualInEffect) {
    auto q = read_smarts("[C;$(C=O)]N");
    ASSERT_TRUE(q);
    Query copy = *q;
    q.value() = Query{};
    ASSERT_EQ(copy.atom_exprs[0].subqueries().size(), 1u);
    EXPECT_EQ(copy.to_string(), "And(C,$(C O | 0-1:=)) N | 0-1:Or(-,:)");
    int calls = 0;
    EXPECT_TRUE(copy.atom_exprs[0].matches(ETHANE_C, [&](const Query& sub) {
        ++calls;
        return sub.num_atoms() == 2;
    }));
    EXPECT_EQ(calls, 1);
}

}  // namespace
