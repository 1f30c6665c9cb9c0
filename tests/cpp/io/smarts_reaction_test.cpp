#include "io/smarts/reaction.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.hpp"

using namespace quorix::io;
using Tag = SmilesErrorTag;

namespace {

std::vector<std::string> shapes(const std::vector<Query>& list) {
    std::vector<std::string> out;
    for (const Query& q : list) out.push_back(q.to_string());
    return out;
}

using Shapes = std::vector<std::string>;

struct SplitCase {
    std::string reaction;
    Shapes reactants, agents, products;
};

std::ostream& operator<<(std::ostream& os, const SplitCase& c) { return os << c.reaction; }

class ReactionSplit : public testing::TestWithParam<SplitCase> {};

TEST_P(ReactionSplit, Templates) {
    const SplitCase& c = GetParam();
    auto r = read_reaction_smarts(c.reaction);
    ASSERT_TRUE(r) << r.error().caret_view();
    EXPECT_EQ(shapes(r->reactants), c.reactants);
    EXPECT_EQ(shapes(r->agents), c.agents);
    EXPECT_EQ(shapes(r->products), c.products);
}

const std::string CC = "C C | 0-1:Or(-,:)";
const std::string CO = "C O | 0-1:Or(-,:)";

INSTANTIATE_TEST_SUITE_P(
    Reader, ReactionSplit,
    testing::Values(
        SplitCase{"CC>>CO", {CC}, {}, {CO}}, SplitCase{"CC>O>CO", {CC}, {"O"}, {CO}},
        SplitCase{"C.N>[Pd].[Cu]>CN", {"C", "N"}, {"Pd", "Cu"}, {"C N | 0-1:Or(-,:)"}},
        SplitCase{">>C", {}, {}, {"C"}}, SplitCase{">>", {}, {}, {}},
        // The dative arrow and anything inside brackets never split.
        SplitCase{"C->[Fe]>>C", {"C Fe | 0-1:->"}, {}, {"C"}},
        // A template wrapped whole in parentheses is one template with components.
        SplitCase{"(C.C)>>CC", {"C C"}, {}, {CC}}, SplitCase{"C..C>>CC", {"C", "C"}, {}, {CC}},
        SplitCase{".C.>>.", {"C"}, {}, {}},
        SplitCase{"([C:1].[O:2])>>[C:1][O:2]", {"And(C,:1) And(O,:2)"}, {}, {"And(C,:1) And(O,:2) | 0-1:Or(-,:)"}},
        SplitCase{"(C[N+](C)C)>>C", {"C And(N,+1) C C | 0-1:Or(-,:) 1-2:Or(-,:) 1-3:Or(-,:)"}, {}, {"C"}},
        SplitCase{"[$(C(=O)O)]>>C", {"$(C O O | 0-1:= 0-2:Or(-,:))"}, {}, {"C"}},
        // A map number may label several reactant-template atoms, in one
        // template or across two; every atom keeps it.
        SplitCase{"[C:1][O:1]>>[C:1][O:1]", {"And(C,:1) And(O,:1) | 0-1:Or(-,:)"}, {},
                  {"And(C,:1) And(O,:1) | 0-1:Or(-,:)"}},
        SplitCase{"[C:7].[N:3]C[N;!O:7]>>[C:7][N:3]",
                  {"And(C,:7)", "And(N,:3) C And(And(N,!O),:7) | 0-1:Or(-,:) 1-2:Or(-,:)"}, {},
                  {"And(C,:7) And(N,:3) | 0-1:Or(-,:)"}}));

struct ErrorCase {
    std::string reaction;
    Tag tag;
    std::size_t pos;
    std::string message;
};

std::ostream& operator<<(std::ostream& os, const ErrorCase& c) { return os << c.reaction; }

class ReactionErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(ReactionErrors, KindOffsetAndWholeInput) {
    const ErrorCase& c = GetParam();
    auto r = read_reaction_smarts(c.reaction);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind.tag, c.tag);
    EXPECT_EQ(r.error().pos, c.pos);
    EXPECT_EQ(r.error().input, c.reaction);
    EXPECT_EQ(r.error().kind.to_string(), c.message);
    EXPECT_EQ(r.error().caret_view(), quorix::test::expected_caret_view(c.reaction, c.pos, c.message));
}

const std::string BAD = "方括号原子语法错误:";

INSTANTIATE_TEST_SUITE_P(
    Reader, ReactionErrors,
    testing::Values(
        ErrorCase{"CC", Tag::BadBracketAtom, 0, BAD + "反应缺少 `>>`"},
        ErrorCase{"C->C", Tag::BadBracketAtom, 0, BAD + "反应缺少 `>>`"},
        ErrorCase{"A>B>C>D", Tag::BadBracketAtom, 0, BAD + "反应的 `>` 分段超过三段"},
        ErrorCase{"[CH4>>C", Tag::BadBracketAtom, 7, BAD + "方括号未闭合"},
        ErrorCase{"(C>>C", Tag::UnbalancedParens, 5, "括号不匹配"},
        // The bracket check comes first.
        ErrorCase{"([C>>C", Tag::BadBracketAtom, 6, BAD + "方括号未闭合"},
        // Faults inside a template are the SMARTS reader's, rebased.
        ErrorCase{"()>>C", Tag::EmptySmiles, 1, "空的 SMILES"},
        ErrorCase{"(C)(C)>>C", Tag::UnbalancedParens, 0, "括号不匹配"},
        ErrorCase{"CC>>C=", Tag::BondWithoutAtom, 5, "键符号后面缺少原子"},
        ErrorCase{"[C:1]=[C:2]>>[C:1]1[C:2]1", Tag::DuplicateRingBond, 24, "环闭合标号 1 在同一对原子间重复"},
        ErrorCase{"[C;$(C>N)]>>C", Tag::UnknownElement, 6, "无法识别的元素符号 >"},
        ErrorCase{"([C(C)]C)>>C", Tag::BadBracketAtom, 3, BAD + "方括号里有无法解析的残余"},
        ErrorCase{"C.N>[Pd].[Cu:70000]>CN", Tag::NumberOutOfRange, 18, "数值超出范围"},
        ErrorCase{"C>>C.(N.[Q])", Tag::UnknownElement, 9, "无法识别的元素符号 Q"},
        // Reactants are read before agents, agents before products.
        ErrorCase{"C=>[?]>C#", Tag::BondWithoutAtom, 1, "键符号后面缺少原子"},
        ErrorCase{"C>[?]>C#", Tag::BadBracketAtom, 3, BAD + "无法识别的查询基元"},
        // Product values an atom cannot hold.
        ErrorCase{"[C:1]>>C[C+128:1]", Tag::BadBracketAtom, 8, BAD + "产物模板的电荷超出 -128 到 127"},
        ErrorCase{"[C:1]>>[C;-129:1]", Tag::BadBracketAtom, 7, BAD + "产物模板的电荷超出 -128 到 127"},
        ErrorCase{"[C:1]>>[CH256:1]", Tag::BadBracketAtom, 7, BAD + "产物模板的氢数超过 255"},
        ErrorCase{"[C:1]>>[C:1].[#119]", Tag::BadBracketAtom, 13, BAD + "产物模板的原子序数超过 118"}));

// What is refused above stays accepted where nothing wraps: values at their
// limits, values under Not or Or, which are never written into an atom, and map
// numbers repeated among products or agents.
TEST(ReactionAccepts, StorableValuesAndRepeatedMapNumbers) {
    for (const char* r : {"[C:1]>>[C:1].[C:1]", "[C:1]>[N:1].[N:1]>[C:1]", "[C:1]>>[C+127:1][C-128][#118][CH255]",
                          "[C:1]>>[C;!+200:1][#6,#200]", "[C+200:1][#200]>>[C:1]"})
        EXPECT_TRUE(read_reaction_smarts(r)) << r;
}

}  // namespace
