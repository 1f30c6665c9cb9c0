#include "io/smarts/parse.hpp"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support.hpp"

using namespace quorix::io;
using Tag = SmilesErrorTag;

namespace {

// Short names for parameterised cases; some patterns are thousands of characters.
std::string label(const std::string& pattern) {
    return pattern.size() <= 24 ? pattern : pattern.substr(0, 20) + "…(" + std::to_string(pattern.size()) + ")";
}

std::string repeat(std::string_view s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// ---- every fault, with kind, offset and exact text ---------------------------

struct ErrorCase {
    std::string pattern;
    Tag tag;
    std::size_t pos;
    std::string message;
};

std::ostream& operator<<(std::ostream& os, const ErrorCase& c) { return os << label(c.pattern); }

class SmartsErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(SmartsErrors, KindOffsetAndCaretView) {
    const ErrorCase& c = GetParam();
    auto q = read_smarts(c.pattern);
    ASSERT_FALSE(q) << q->to_string();
    EXPECT_EQ(q.error().kind.tag, c.tag);
    EXPECT_EQ(q.error().pos, c.pos);
    EXPECT_EQ(q.error().input, c.pattern);
    EXPECT_EQ(q.error().kind.to_string(), c.message);
    EXPECT_EQ(q.error().caret_view(), quorix::test::expected_caret_view(c.pattern, c.pos, c.message));
}

const std::string BAD = "方括号原子语法错误:";
const std::string DEEP = BAD + "`!` 与 `$(` 的嵌套超过 64 层";

INSTANTIATE_TEST_SUITE_P(
    Reader, SmartsErrors,
    testing::Values(
        // Empty input and empty components.
        ErrorCase{"", Tag::EmptySmiles, 0, "空的 SMILES"}, ErrorCase{".", Tag::EmptySmiles, 0, "空的 SMILES"},
        ErrorCase{"[$()]", Tag::EmptySmiles, 3, "空的 SMILES"},
        // Characters that cannot stand where they are.
        ErrorCase{"C<C", Tag::UnexpectedChar, 1, "意外的字符 '<'"},
        ErrorCase{"C-;,C", Tag::UnexpectedChar, 3, "意外的字符 ','"}, ErrorCase{"1C", Tag::UnexpectedChar, 0, "意外的字符 '1'"},
        // End of input inside a bracket.
        ErrorCase{"[C", Tag::UnexpectedEnd, 2, "输入意外结束"}, ErrorCase{"[$(C[)]]", Tag::UnexpectedEnd, 5, "输入意外结束"},
        // The caret counts characters: é is two bytes, one column.
        ErrorCase{"[Cé", Tag::UnexpectedEnd, 4, "输入意外结束"},
        // Symbols that are no atom.
        ErrorCase{"CH", Tag::UnknownElement, 1, "无法识别的元素符号 H"},
        ErrorCase{"[C]]", Tag::UnknownElement, 3, "无法识别的元素符号 ]"},
        ErrorCase{"[Q]", Tag::UnknownElement, 1, "无法识别的元素符号 Q"},
        // Bracket-expression faults.
        ErrorCase{"[]", Tag::BadBracketAtom, 1, BAD + "表达式意外结束"},
        ErrorCase{"[#]", Tag::BadBracketAtom, 2, BAD + "`#` 后缺少原子序数"},
        ErrorCase{"C[é]", Tag::BadBracketAtom, 2, BAD + "无法识别的查询基元"},
        ErrorCase{"[$]", Tag::BadBracketAtom, 2, BAD + "`$` 后缺少 `(`"},
        ErrorCase{"[$(CO]", Tag::BadBracketAtom, 1, BAD + "递归 SMARTS 的 `(` 未闭合"},
        ErrorCase{"[C:]", Tag::BadBracketAtom, 3, BAD + "`:` 后缺少映射号"},
        ErrorCase{"[C[N]]", Tag::BadBracketAtom, 2, BAD + "方括号里有无法解析的残余"},
        ErrorCase{"[C:1:2]", Tag::BadBracketAtom, 1, BAD + "一个原子上写了两个不同的映射号"},
        ErrorCase{"[!:1;:2]", Tag::BadBracketAtom, 1, BAD + "一个原子上写了两个不同的映射号"},
        ErrorCase{"C-,C", Tag::BadBracketAtom, 3, BAD + "键表达式意外结束"},
        ErrorCase{"C<->C", Tag::BadBracketAtom, 3, BAD + "键表达式里有无法解析的残余"},
        ErrorCase{"C%1", Tag::BadBracketAtom, 2, BAD + "`%` 后需要两位数字"},
        // Branches.
        ErrorCase{"(C)", Tag::UnbalancedParens, 0, "括号不匹配"}, ErrorCase{"C(C", Tag::UnbalancedParens, 3, "括号不匹配"},
        ErrorCase{"C(=)C", Tag::EmptyBranch, 3, "空的分支"},
        // Ring closures.
        ErrorCase{"C1CC", Tag::UnclosedRing, 1, "环闭合标号 1 未配对"},
        ErrorCase{"C11", Tag::RingSelfLoop, 2, "环闭合标号 1 的两端是同一个原子"},
        // A ring closure may not repeat a bond, chain or ring, as in SMILES.
        ErrorCase{"C1C1", Tag::DuplicateRingBond, 3, "环闭合标号 1 在同一对原子间重复"},
        ErrorCase{"C12CC12", Tag::DuplicateRingBond, 6, "环闭合标号 2 在同一对原子间重复"},
        ErrorCase{"C1(C1)", Tag::DuplicateRingBond, 4, "环闭合标号 1 在同一对原子间重复"},
        ErrorCase{"[$(C1C1)]", Tag::DuplicateRingBond, 6, "环闭合标号 1 在同一对原子间重复"},
        ErrorCase{"C=1CC-1", Tag::ConflictingRingBond, 6, "环闭合标号 1 的两端指定了冲突的键级"},
        // Bonds that reach no atom.
        ErrorCase{"=C", Tag::BondWithoutAtom, 0, "键符号后面缺少原子"},
        // Numbers that do not fit their field; map numbers are never clamped.
        ErrorCase{"[#300]", Tag::NumberOutOfRange, 5, "数值超出范围"},
        ErrorCase{"[C:65536]", Tag::NumberOutOfRange, 8, "数值超出范围"},
        // Faults inside recursive groups point into the whole text.
        ErrorCase{"C[$(C=)]", Tag::BondWithoutAtom, 5, "键符号后面缺少原子"},
        ErrorCase{"C[N&$(C[$(O?)])]", Tag::UnknownElement, 11, "无法识别的元素符号 ?"},
        // Nesting limit: `!` chains and `$(` groups count together.
        ErrorCase{"[" + repeat("!", 65) + "C]", Tag::BadBracketAtom, 65, DEEP},
        ErrorCase{"C" + repeat("!", 65) + "-C", Tag::BadBracketAtom, 65, DEEP},
        ErrorCase{"[" + repeat("$([", 65) + "C" + repeat("])", 65) + "]", Tag::BadBracketAtom, 193, DEEP},
        ErrorCase{"[" + repeat("$([", 40) + repeat("!", 25) + "C" + repeat("])", 40) + "]", Tag::BadBracketAtom, 145, DEEP}));

// Thousands of levels are refused quickly and without exhausting the stack.
TEST(SmartsNesting, ThousandsDeepIsAnErrorNotACrash) {
    for (const std::string& text :
         {"[" + repeat("!", 100000) + "C]", "C" + repeat("!", 100000) + "=C",
          "[" + repeat("$([", 5000) + "C" + repeat("])", 5000) + "]",
          "[" + repeat("$([!", 5000) + "C" + repeat("])", 5000) + "]"}) {
        auto q = read_smarts(text);
        ASSERT_FALSE(q);
        EXPECT_EQ(q.error().kind.to_string(), DEEP);
    }
    // Branches and bracket counting do not recurse at all: deep but valid.
    auto branches = read_smarts(repeat("C(", 50000) + "C" + repeat(")", 50000));
    ASSERT_TRUE(branches);
    EXPECT_EQ(branches->num_atoms(), 50001u);
}

TEST(SmartsNesting, UpToTheLimitIsAccepted) {
    auto nots = read_smarts("[" + repeat("!", 64) + "C]");
    ASSERT_TRUE(nots);
    EXPECT_EQ(nots->atom_exprs[0].to_string(), repeat("!", 64) + "C");
    auto groups = read_smarts("[" + repeat("$([", 64) + "C" + repeat("])", 64) + "]");
    ASSERT_TRUE(groups) << groups.error().caret_view();
    auto mixed = read_smarts("[" + repeat("$([!", 32) + "C" + repeat("])", 32) + "]");
    ASSERT_TRUE(mixed) << mixed.error().caret_view();
}

// ---- what a pattern reads as -------------------------------------------------

struct ShapeCase {
    std::string pattern;
    std::string shape;
};

std::ostream& operator<<(std::ostream& os, const ShapeCase& c) { return os << label(c.pattern); }

class SmartsShapes : public testing::TestWithParam<ShapeCase> {};

TEST_P(SmartsShapes, ReadsAs) {
    auto q = read_smarts(GetParam().pattern);
    ASSERT_TRUE(q) << q.error().caret_view();
    EXPECT_EQ(q->to_string(), GetParam().shape);
    EXPECT_EQ(q->atom_exprs.size(), q->graph.num_atoms());
    EXPECT_EQ(q->bond_exprs.size(), q->graph.num_bonds());
}

INSTANTIATE_TEST_SUITE_P(
    Precedence, SmartsShapes,
    testing::Values(
        ShapeCase{"[C,N;H1]", "And(Or(C,N),H1)"}, ShapeCase{"[C,N&H1]", "Or(C,And(N,H1))"},
        ShapeCase{"[!C!N]", "And(!C,!N)"}, ShapeCase{"[!!C]", "!!C"},
        ShapeCase{"[C&H1,N&H2;R]", "And(Or(And(C,H1),And(N,H2)),R)"}, ShapeCase{"[N+H2,n]", "Or(And(N,+1,H2),n)"},
        ShapeCase{"[#6X3]", "And(#6,X3)"}));

INSTANTIATE_TEST_SUITE_P(
    Primitives, SmartsShapes,
    testing::Values(
        // Two-letter symbols first: these are elements, not primitive pairs.
        ShapeCase{"[Hg]", "Hg"}, ShapeCase{"[se]", "se"},
        ShapeCase{"[Ch]", "And(C,h1)"}, ShapeCase{"[cs]", "And(c,s)"},
        ShapeCase{"[#255]", "#255"}, ShapeCase{"[A]", "A"},
        // Counts with and without numbers.
        ShapeCase{"[D]", "D1"},
        ShapeCase{"[!H]", "!H1"}, ShapeCase{"[D99999999999]", "D4294967295"},
        // Charges: runs, numbers, and a run followed by digits.
        ShapeCase{"[+0]", "+0"}, ShapeCase{"[++2]", "And(+2,iso2)"}, ShapeCase{"[+-]", "And(+1,-1)"},
        ShapeCase{"[+99999999999]", "+2147483647"},
        // Isotopes are capped, atomic numbers are not.
        ShapeCase{"[70000C]", "And(iso65535,C)"},
        // Chirality marks.
        ShapeCase{"[C@@]", "And(C,@@)"}, ShapeCase{"[C,@]", "Or(C,@)"}));

INSTANTIATE_TEST_SUITE_P(
    Hydrogen, SmartsShapes,
    testing::Values(
        ShapeCase{"[H]", "#1"}, ShapeCase{"[2H]", "And(iso2,#1)"}, ShapeCase{"[H+]", "And(#1,+1)"},
        ShapeCase{"[H:1]", "And(#1,:1)"}, ShapeCase{"[2H-:7]", "And(iso2,#1,-1,:7)"},
        // Not the hydrogen form: read generally, H is the hydrogen count.
        ShapeCase{"[H+-]", "And(H1,+1,-1)"}, ShapeCase{"[70000H]", "And(iso65535,H1)"}, ShapeCase{"[2]", "iso2"}));

INSTANTIATE_TEST_SUITE_P(
    MapNumbers, SmartsShapes,
    testing::Values(
        ShapeCase{"[:1]", ":1"}, ShapeCase{"[C:5]", "And(C,:5)"}, ShapeCase{"[C,:1]", "And(Or(C,And()),:1)"},
        ShapeCase{"[C&:1&N]", "And(And(C,N),:1)"},
        ShapeCase{"[C@@H:5]", "And(And(C,@@,H1),:5)"}));

INSTANTIATE_TEST_SUITE_P(
    Bonds, SmartsShapes,
    testing::Values(
        ShapeCase{"CC", "C C | 0-1:Or(-,:)"},
        ShapeCase{"C->[Fe]", "C Fe | 0-1:->"}, ShapeCase{"C-,=C", "C C | 0-1:Or(-,=)"},
        ShapeCase{"C!@C", "C C | 0-1:!@"}, ShapeCase{"C-->C", "C C | 0-1:And(-,->)"},
        ShapeCase{"C=,#;@C", "C C | 0-1:And(Or(=,#),@)"},
        // A bond before a branch applies to the branch's first atom.
        ShapeCase{"C=(C)C", "C C C | 0-1:= 0-2:Or(-,:)"}));

INSTANTIATE_TEST_SUITE_P(
    Rings, SmartsShapes,
    testing::Values(
        // Without a symbol at the opening end the bond runs from the closing atom.
        ShapeCase{"C1CC1", "C C C | 0-1:Or(-,:) 1-2:Or(-,:) 2-0:Or(-,:)"},
        // Ring bonds follow the chain bonds, sorted by label, then closing order.
        ShapeCase{"C2CC1CCC2CC1", "C C C C C C C C | 0-1:Or(-,:) 1-2:Or(-,:) 2-3:Or(-,:) 3-4:Or(-,:) "
                                  "4-5:Or(-,:) 5-6:Or(-,:) 6-7:Or(-,:) 7-2:Or(-,:) 5-0:Or(-,:)"},
        ShapeCase{"C1CC=1C1CC1",
                  "C C C C C C | 0-1:Or(-,:) 1-2:Or(-,:) 2-3:Or(-,:) 3-4:Or(-,:) 4-5:Or(-,:) 2-0:= 5-3:Or(-,:)"}));

INSTANTIATE_TEST_SUITE_P(
    Recursive, SmartsShapes,
    testing::Values(
        ShapeCase{"[$(C=O),$(C#N)]", "Or($(C O | 0-1:=),$(C N | 0-1:#))"},
        ShapeCase{"[C&!$(C=O)]", "And(C,!$(C O | 0-1:=))"},
        ShapeCase{"[$(C(C)C)]C", "$(C C C | 0-1:Or(-,:) 0-2:Or(-,:)) C | 0-1:Or(-,:)"}));

// ---- chirality refers to the stored neighbour order ----------------------------

struct ChiralCase {
    std::string pattern;
    std::uint32_t atom;
    std::uint8_t chirality;
};

std::ostream& operator<<(std::ostream& os, const ChiralCase& c) { return os << label(c.pattern); }

class SmartsChirality : public testing::TestWithParam<ChiralCase> {};

TEST_P(SmartsChirality, Normalised) {
    auto q = read_smarts(GetParam().pattern);
    ASSERT_TRUE(q) << q.error().caret_view();
    EXPECT_EQ(q->atom_exprs.at(GetParam().atom).find_chirality(), GetParam().chirality);
}

INSTANTIATE_TEST_SUITE_P(
    Reader, SmartsChirality,
    testing::Values(
        // Written and stored orders agree.
        ChiralCase{"F[C@H](Cl)Br", 1, 2},
        // A leading hydrogen moves to the back: one swap.
        ChiralCase{"[C@H](F)(Cl)Br", 0, 1},
        // L-alanine written with the hydrogen second and first stores one mark.
        ChiralCase{"N[C@@H](C)C(=O)O", 1, 1}, ChiralCase{"[C@H](N)(C)C(=O)O", 0, 1},
        // The ring closure is written before the later chain neighbour but stored after it.
        ChiralCase{"C1CC[C@H]1F", 3, 1}, ChiralCase{"F[C@]1(Cl)CC1", 1, 2},
        // Ring bonds are stored by label, written by closure order: X, Y, F, C
        // written against F, C, Y, X stored is odd; with the labels in order, even.
        ChiralCase{"[C@]21(F)CC1C2", 0, 1}, ChiralCase{"[C@]12(F)CC1C2", 0, 2},
        // An atom after a dot opens its component just like the first atom.
        ChiralCase{"C.[C@H](F)(Cl)Br", 1, 1},
        // Marks that are not in the and-lists are left alone.
        ChiralCase{"[C,@](F)(Cl)Br", 0, 255}));

TEST(SmartsChirality, RecursiveGroupsAreNormalisedInTheirOwnGraph) {
    // The group's first atom opens its own text, so the leading hydrogen moves
    // to the back there too, whatever stands before the group.
    for (const char* text : {"[$([C@H](F)(Cl)Br)]", "C[$([C@H](F)(Cl)Br)]"}) {
        auto q = read_smarts(text);
        ASSERT_TRUE(q) << q.error().caret_view();
        const AtomExpr& outer = q->atom_exprs.back();
        ASSERT_EQ(outer.subqueries().size(), 1u) << text;
        EXPECT_EQ(outer.subqueries()[0].atom_exprs[0].find_chirality(), 1) << text;
    }
}

// ---- the graph -------------------------------------------------------------------

// Random bracket texts: whatever reads must have the shapes other code relies
// on (lists of two or more, the map number once and last), and whatever fails
// must point at a character of the text.
TEST(SmartsShapes, RandomBracketTextsKeepTheGuarantees) {
    static const char* const TOKENS[] = {"C", "n", "#7", "H", "H2", "!", "!", "&", ",", ";", ";", ":1", ":1",
                                         ":2", "R", "r5", "x", "+", "-", "13", "@", "@@", "$(CC)", "Cl", "*", "a"};
    std::mt19937 rng(8080);
    int read = 0, with_map = 0;
    for (int t = 0; t < 8000; ++t) {
        std::string text = "[";
        for (unsigned n = 1 + rng() % 7; n > 0; --n) text += TOKENS[rng() % std::size(TOKENS)];
        text += "]";
        auto q = read_smarts(text);
        if (!q) {
            ASSERT_LE(q.error().pos, text.size()) << text;
            ASSERT_EQ(q.error().input, text);
            continue;
        }
        ++read;
        const AtomExpr& e = q->atom_exprs.at(0);
        std::vector<std::uint32_t> maps;
        for (std::uint32_t i = 0; i < e.num_nodes(); ++i) {
            const auto& x = e.node(i);
            if (x.kind == ExprKind::And) {
                ASSERT_NE(x.num_children, 1u) << text << " " << e.to_string();
            } else if (x.kind == ExprKind::Or) {
                ASSERT_GE(x.num_children, 2u) << text << " " << e.to_string();
            }
            if (x.kind == ExprKind::Primitive && x.prim.kind == AtomPrimitive::MapNumber) maps.push_back(i);
        }
        // No primitive is left behind, unreachable, by the map-number rebuild.
        std::uint32_t reachable = 0, primitives = 0;
        const auto nodes = e.nodes();
        preorder(nodes, e.root(), [&](const auto& x) {
            reachable += x.kind == ExprKind::Primitive;
            return true;
        });
        for (const auto& x : nodes) primitives += x.kind == ExprKind::Primitive;
        ASSERT_EQ(reachable, primitives) << text;
        ASSERT_LE(maps.size(), 1u) << text << " " << e.to_string();
        if (maps.empty()) continue;
        ++with_map;
        const auto& root = e.node(e.root());
        if (e.root() != maps[0]) {
            ASSERT_EQ(root.kind, ExprKind::And) << text;
            ASSERT_EQ(e.children(e.root()).back(), maps[0]) << text;
        }
        ASSERT_EQ(e.find_map_number(), e.node(maps[0]).prim.value) << text;
    }
    EXPECT_GT(read, 4000);
    EXPECT_GT(with_map, 500);
}

// Every query of the real query set reads.
TEST(SmartsData, EveryRealQueryReads) {
    int count = 0;
    std::uint64_t atoms = 0;
    for (const std::string& line : quorix::test::data_queries()) {
        ++count;
        auto q = read_smarts(line);
        ASSERT_TRUE(q) << "line " << count << ": " << q.error().caret_view();
        ASSERT_EQ(q->atom_exprs.size(), q->graph.num_atoms());
        ASSERT_EQ(q->bond_exprs.size(), q->graph.num_bonds());
        atoms += q->num_atoms();
    }
    EXPECT_EQ(count, 823);
    EXPECT_GT(atoms, 823u * 5);
}

}  // namespace
