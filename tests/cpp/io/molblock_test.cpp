#include "io/molblock.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numeric>
#include <random>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "chem/kekulize.hpp"
#include "chem/sanitize.hpp"
#include "io/stereo.hpp"
#include "io/smiles/canonical.hpp"
#include "python/finish.hpp"
#include "support.hpp"

using namespace quorix;
using namespace quorix::core;
using namespace quorix::io;

namespace {

std::string atom(double x, double y, double z, const char* symbol, int mass = 0, int charge = 0, int valence = 0) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%10.4f%10.4f%10.4f %-3s%2d%3d  0  0  0%3d  0  0  0  0  0  0\n", x, y, z, symbol,
                  mass, charge, valence);
    return buf;
}

std::string bond(int a, int b, int type, int stereo = 0) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%3d%3d%3d%3d  0  0  0\n", a, b, type, stereo);
    return buf;
}

std::string counts(int atoms, int bonds) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%3d%3d  0  0  0  0  0  0  0  0999 V2000\n", atoms, bonds);
    return buf;
}

const std::string HEAD = "title\n  prog\n\n";
// Two carbons with one bond line to be filled in.
std::string two_carbons(const std::string& bond_line) {
    return HEAD + counts(2, 1) + atom(0, 0, 0, "C") + atom(1.5, 0, 0, "C") + bond_line + "M  END\n";
}

// Three carbons, `bonds` counted on the counts line, then the bond lines.
std::string three_carbons(int bonds, const std::string& bond_lines) {
    return HEAD + counts(3, bonds) + atom(0, 0, 0, "C") + atom(1.5, 0, 0, "C") + atom(0.75, 1.3, 0, "C") +
           bond_lines + "M  END\n";
}

std::string chain_of_carbons(const std::string& counts_line, int atoms) {
    std::string text = HEAD + counts_line + "\n";
    for (int i = 0; i < atoms; ++i) text += atom(1.5 * i, 0, 0, "C");
    for (int i = 1; i < atoms; ++i) text += bond(i, i + 1, 1);
    return text + "M  END\n";
}

std::string read_error(const std::string& text) {
    auto r = read_molblock(text);
    return r ? std::string("(read)") : r.error().to_string();
}

std::string sdf_error(const std::string& text) {
    auto r = parse_sdf_record(text);
    return r ? std::string("(read)") : r.error().to_string();
}

std::string data_file(const char* name) {
    std::ifstream in(std::string(QUORIX_TEST_DATA) + "/" + name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

// ---------------------------------------------------------------- refusals

struct RefusalCase {
    const char* name;
    std::string text;
    const char* message;
};

class MolblockRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(MolblockRefusal, GivesItsText) { EXPECT_EQ(read_error(GetParam().text), GetParam().message); }

INSTANTIATE_TEST_SUITE_P(
    Reader, MolblockRefusal,
    ::testing::Values(
        RefusalCase{"three_lines", "t\np\nc\n", "molblock 截断了:缺头四行"},
        RefusalCase{"short_blocks", HEAD + counts(2, 1) + atom(0, 0, 0, "C"), "molblock 截断了:缺原子块或键块"},
        // Too few lines is reported before a bad one.
        RefusalCase{"short_and_bad", HEAD + counts(2, 0) + "garbage\n", "molblock 截断了:缺原子块或键块"},
        RefusalCase{"v3000", HEAD + "  0  0  0     0  0            999 V3000\n", "这是 V3000,本模块只读 V2000"},
        RefusalCase{"counts_abc", HEAD + "abc  0\n", "计数行读不出原子数与键数"},
        RefusalCase{"counts_negative", HEAD + " -1  0\n", "计数行读不出原子数与键数"},
        RefusalCase{"x_blank", HEAD + counts(1, 0) + "          " + atom(0, 0, 0, "C").substr(10), "第 4 行x 读不出来"},
        RefusalCase{"y_letters", HEAD + counts(1, 0) + "    0.0000    0.0a00" + atom(0, 0, 0, "C").substr(20),
                    "第 4 行y 读不出来"},
        RefusalCase{"x_two_signs", HEAD + counts(1, 0) + "      +-1." + atom(0, 0, 0, "C").substr(10), "第 4 行x 读不出来"},
        RefusalCase{"z_nan", HEAD + counts(1, 0) + "    0.0000    0.0000       nan" + atom(0, 0, 0, "C").substr(30),
                    "第 4 行z 不是有限数"},
        RefusalCase{"y_overflow", HEAD + counts(1, 0) + "    0.0000    1e9999" + atom(0, 0, 0, "C").substr(20),
                    "第 4 行y 不是有限数"},
        RefusalCase{"unknown_element", HEAD + counts(1, 0) + atom(0, 0, 0, "Xx"), "第 4 行:不认识的元素符号 `Xx`"},
        RefusalCase{"empty_symbol", HEAD + counts(1, 0) + atom(0, 0, 0, ""), "第 4 行:不认识的元素符号 ``"},
        RefusalCase{"bond_type_8", two_carbons(bond(1, 2, 8)), "第 6 行:键类型 8 不在 1..=4(5..=8 是查询用的)"},
        RefusalCase{"self_bond", two_carbons(bond(1, 1, 1)), "第 6 行这根键建不起来"},
        RefusalCase{"atom_zero", two_carbons(bond(0, 2, 1)), "第 6 行原子号越界"},
        RefusalCase{"first_unreadable", two_carbons("  x  2  1  0\n"), "第 6 行第一个原子号读不出来"},
        RefusalCase{"second_unreadable", two_carbons("  1     1  0\n"), "第 6 行第二个原子号读不出来"},
        RefusalCase{"type_unreadable", two_carbons("  1  2  +\n"), "第 6 行键类型读不出来"},
        RefusalCase{"x_too_wide", HEAD + counts(1, 0) + "    1e300 " + atom(0, 0, 0, "C").substr(10),
                    "第 4 行x 超出 V2000 十位坐标栏的范围"},
        RefusalCase{"y_too_wide", HEAD + counts(1, 0) + "    0.0000100000.000" + atom(0, 0, 0, "C").substr(20),
                    "第 4 行y 超出 V2000 十位坐标栏的范围"},
        RefusalCase{"z_too_wide", HEAD + counts(1, 0) + atom(0, 0, -10000, "C"), "第 4 行z 超出 V2000 十位坐标栏的范围"},
        RefusalCase{"repeated_bond", three_carbons(3, bond(1, 2, 1) + bond(2, 3, 1) + bond(1, 2, 1)),
                    "第 9 行这两个原子之间已经有一根键"},
        RefusalCase{"reversed_bond", three_carbons(2, bond(1, 2, 1) + bond(2, 1, 2)), "第 8 行这两个原子之间已经有一根键"},
        // Lines the counts line left out fall below the blocks.
        RefusalCase{"uncounted_bond", three_carbons(2, bond(1, 2, 1) + bond(2, 3, 1) + bond(3, 1, 1)),
                    "第 3 行的计数行少算了:第 9 行是它没算上的键行"},
        // Counts written free-format above 999 read as 100 atoms and 0 bonds.
        RefusalCase{"uncounted_atom", chain_of_carbons("10000 9999", 101), "第 3 行的计数行少算了:第 104 行是它没算上的原子行"},
        // A boundary inside a multi-byte character empties the field.
        RefusalCase{"split_character", HEAD + counts(1, 0) + "    0.0000    0.0000    0.000\xC3\xA9 C\n",
                    "第 4 行z 读不出来"}),
    [](const auto& info) { return std::string(info.param.name); });

// What the refusals above must not take: free text below the blocks that
// looks like a bond line, and coordinates at the edges of their field.
class MolblockAccepts : public ::testing::TestWithParam<std::string> {};

TEST_P(MolblockAccepts, Reads) { EXPECT_EQ(read_error(GetParam()), "(read)"); }

INSTANTIATE_TEST_SUITE_P(
    Reader, MolblockAccepts,
    ::testing::Values(three_carbons(2, bond(1, 2, 1) + bond(2, 3, 1) + "A    1\n" + bond(3, 1, 1) + "G    2  3\n" +
                                           bond(3, 1, 1) + "S  SKP  2\n" + bond(3, 1, 1) + bond(3, 1, 1) + "\n"),
                      HEAD + counts(2, 0) + atom(99999.9999, -9999.9999, 0, "C") + atom(-9999.9999, 0, 99999.9999, "C")));

TEST(SdfRecord, RefusesWhatTheBlockAllows) {
    // Without "M  END" a molblock reads but a record does not.
    const std::string block = HEAD + counts(1, 0) + atom(0, 0, 0, "C");
    EXPECT_EQ(read_error(block), "(read)");
    EXPECT_EQ(sdf_error(block), "molblock 截断了:缺M  END");
    EXPECT_EQ(sdf_error(block + "M  END\n> no name\nvalue\n"), "第 6 行:数据字段头里没有 `<名字>`");
    EXPECT_EQ(sdf_error(block + "M  END\n> <open\n"), "第 6 行:数据字段头里没有 `<名字>`");
}

// ---------------------------------------------------------------- values

TEST(MolblockRead, AtomColumnsAndProperties) {
    // Charge codes 3 (+1), 4 (nothing), 5 (-1); mass difference +1 on carbon;
    // valence 15 and 4 on carbons with two bonds.
    const std::string text = HEAD + counts(6, 4) + atom(0, 0, 0, "N", 0, 3) + atom(1, 0, 0, "C", 1, 4) +
                             atom(2, 0, 0, "O", 0, 5) + atom(3, 0, 0, "C", 0, 0, 15) + atom(4, 0, 0, "C", 0, 0, 4) +
                             atom(5, 0, 0, "*") + bond(1, 2, 1) + bond(3, 4, 1) + bond(4, 5, 1) + bond(5, 6, 1) +
                             "M  END\n";
    auto r = read_molblock(text);
    ASSERT_TRUE(r) << r.error().to_string();
    const MolBuilder& m = r->mol;
    EXPECT_EQ(r->title, "title");
    EXPECT_EQ(m.atoms[0].formal_charge, 1);
    EXPECT_EQ(m.atoms[1].formal_charge, 0);
    EXPECT_EQ(m.atoms[1].num_radical_electrons, 0);
    EXPECT_EQ(m.atoms[1].isotope, 13);
    EXPECT_EQ(m.atoms[2].formal_charge, -1);
    EXPECT_EQ(m.atoms[3].num_explicit_hs, 0);
    EXPECT_TRUE(m.atoms[3].flags & FIXED_HS);
    EXPECT_EQ(m.atoms[4].num_explicit_hs, 2);
    EXPECT_TRUE(m.atoms[4].flags & FIXED_HS);
    EXPECT_FALSE(m.atoms[1].flags & FIXED_HS);
    EXPECT_EQ(m.atoms[5].atomic_num, 0);
    EXPECT_EQ(r->coords[2], (Coord{2, 0, 0}));
    EXPECT_FALSE(r->is_3d);
}

TEST(MolblockRead, PropertyLinesReplaceTheAtomBlock) {
    const std::string atoms = atom(0, 0, 0, "C", 0, 3) + atom(1, 0, 0, "C", 1) + atom(2, 0, 0, "C");
    const std::string base = HEAD + counts(3, 2) + atoms + bond(1, 2, 1) + bond(2, 3, 1);
    // One CHG entry for atom 2 drops the code of atom 1; the entry for a missing
    // atom 9 is skipped; the line's second entry is missing.
    auto r = read_molblock(base + "M  CHG  2   2  -1\nM  RAD  1   3   2\nM  CHG  1   9   1\nM  END\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->mol.atoms[0].formal_charge, 0);
    EXPECT_EQ(r->mol.atoms[1].formal_charge, -1);
    EXPECT_EQ(r->mol.atoms[1].isotope, 13);  // no ISO line: mass differences stand
    EXPECT_EQ(r->mol.atoms[2].num_radical_electrons, 1);
    // ISO replaces every mass difference; a later entry wins; out-of-range values give 0.
    r = read_molblock(base + "M  ISO  2   3  14   3  15\nM  CHG  1   1 200\nM  END\nM  CHG  1   2   1\n");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->mol.atoms[1].isotope, 0);
    EXPECT_EQ(r->mol.atoms[2].isotope, 15);
    EXPECT_EQ(r->mol.atoms[0].formal_charge, 0);
    EXPECT_EQ(r->mol.atoms[1].formal_charge, 0);  // after M  END: not read
}

TEST(MolblockRead, BondMarks) {
    const std::string text = HEAD + counts(4, 3) + atom(0, 0, 0, "C") + atom(1, 0, 0, "C") + atom(2, 0, 0.001, "C") +
                             atom(3, 0, 0, "N") + bond(2, 1, 1, 1) + bond(2, 3, 2, 3) + bond(3, 4, 9, 6) + "M  END\n";
    auto r = read_molblock(text);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->wedge_marks, (std::vector<Wedge>{{WedgeKind::Solid, 1}, {WedgeKind::None, 1}, {WedgeKind::Hashed, 2}}));
    EXPECT_EQ(r->either, (std::vector<std::uint8_t>{0, 1, 0}));
    EXPECT_EQ(r->mol.bonds[2].order, BondOrder::Dative);
    EXPECT_EQ(r->mol.bonds[2].begin, 2u);
    EXPECT_TRUE(r->is_3d);
}

TEST(MolblockRead, AromaticBondsFlagTheirAtoms) {
    std::string text = HEAD + counts(6, 6);
    for (int i = 0; i < 6; ++i) text += atom(std::cos(i * 1.0472), std::sin(i * 1.0472), 0, "C");
    for (int i = 1; i <= 6; ++i) text += bond(i, i % 6 + 1, 4);
    auto r = read_molblock(text + "M  END\n");
    ASSERT_TRUE(r);
    for (const Atom& a : r->mol.atoms) EXPECT_TRUE(a.flags & AROMATIC);
    auto block = python::finish_molblock(std::move(*r));
    ASSERT_TRUE(block) << block.error();
    EXPECT_EQ(canonical_smiles(block->mol).text, "c1ccccc1");
}

TEST(SdfRecord, DataItems) {
    const std::string block = HEAD + counts(1, 0) + atom(0, 0, 0, "C") + "M  END\n";
    auto r = parse_sdf_record(block + "junk\n> 25 <MW> (X)\n180.2\n\n>  <MW>\n181\n  \nmore\n\n> <empty>\n");
    ASSERT_TRUE(r) << r.error().to_string();
    EXPECT_EQ(r->data, (std::vector<DataItem>{{"MW", "180.2"}, {"MW", "181\n  \nmore"}, {"empty", ""}}));
    // Carriage returns before line feeds go; others stay; a line of only one ends the value.
    r = parse_sdf_record(block + "> <a>\r\nx\r\ny\rz\r\n\r\n> <b>\r\nw\r");
    ASSERT_TRUE(r) << r.error().to_string();
    EXPECT_EQ(r->data, (std::vector<DataItem>{{"a", "x\ny\rz"}, {"b", "w\r"}}));
}

TEST(SdfSplit, SeparatorLines) {
    EXPECT_FALSE(split_sdf("a\nb\n  $$$$\n"));
    auto s = split_sdf("a\r\n$$$$  \r\nb\n$$$$\n");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->before, "a\r\n");
    EXPECT_EQ(s->after, "b\n$$$$\n");
    // Blank chunks between separators make no record; a last record needs no separator.
    std::string_view rest = "\n$$$$\n \n$$$$\nA\n$$$$\n$$$$\nB";
    bool done = false;
    std::vector<std::string_view> chunks;
    while (auto c = next_sdf_chunk(rest, done)) chunks.push_back(*c);
    EXPECT_EQ(chunks, (std::vector<std::string_view>{"A\n", "B"}));
}

// ---------------------------------------------------------------- writer

TEST(MolblockWrite, EmptyMolecule) {
    auto t = write_molblock(MolBuilder{}, {});
    ASSERT_TRUE(t);
    EXPECT_EQ(*t, "\n  quorix\n\n  0  0  0  0  0  0  0  0  0  0999 V2000\nM  END\n");
}

TEST(MolblockWrite, LinesAndProperties) {
    // Atom 3 charged -1, atom 5 carbon-13, a radical each of one and two electrons;
    // the carbene's implicit hydrogen goes into its valence column.
    MolBuilder m = test::read_or_fail("C[CH2][O-]C[13C][CH]");
    m.atoms[1].num_radical_electrons = 1;
    m.atoms[5].num_radical_electrons = 2;
    m.atoms[5].flags &= ~FIXED_HS;
    m.atoms[5].num_explicit_hs = 0;
    m.atoms[5].num_implicit_hs = 1;  // as sanitising a carbene with one bond leaves it
    const std::vector<Coord> xyz = {{-1.25, 0, 0}, {0, 0, 0}, {1.5, 0, 0}};
    const std::vector<Wedge> wedges = {{WedgeKind::Hashed, 1}, {}, {}, {}, {}};
    auto t = write_molblock(m, {"t", xyz, wedges, {}, {}});
    ASSERT_TRUE(t);
    EXPECT_EQ(*t,
              "t\n  quorix\n\n  6  5  0  0  0  0  0  0  0  0999 V2000\n"
              "   -1.2500    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
              "    0.0000    0.0000    0.0000 C   0  0  0  0  0  4  0  0  0  0  0  0\n"
              "    1.5000    0.0000    0.0000 O   0  0  0  0  0  2  0  0  0  0  0  0\n"
              "    0.0000    0.0000    0.0000 C   0  0  0  0  0  0  0  0  0  0  0  0\n"
              "    0.0000    0.0000    0.0000 C   0  0  0  0  0  2  0  0  0  0  0  0\n"
              "    0.0000    0.0000    0.0000 C   0  0  0  0  0  2  0  0  0  0  0  0\n"
              "  2  1  1  6  0  0  0\n  2  3  1  0  0  0  0\n  3  4  1  0  0  0  0\n  4  5  1  0  0  0  0\n"
              "  5  6  1  0  0  0  0\n"
              "M  RAD  1   2   2\nM  CHG  1   3  -1\nM  ISO  1   5  13\nM  RAD  1   6   3\nM  END\n");
}

TEST(MolblockWrite, BondTypesAndMarks) {
    // Kekulé orders replace aromatic ones; an "either" double bond gets 3; a
    // dative bond is type 9 from donor to acceptor.
    MolBuilder m = test::read_or_fail("c1ccccc1C=CN->[Fe]");
    std::vector<BondOrder> orders;
    for (const Bond& b : m.bonds) orders.push_back(b.order == BondOrder::Aromatic ? BondOrder::Single : b.order);
    for (std::uint32_t b : {0u, 2u, 4u}) orders[b] = BondOrder::Double;
    std::vector<std::uint8_t> either(m.num_bonds(), 0);
    either[6] = 1;
    auto t = write_molblock(m, {"", {}, {}, orders, either});
    ASSERT_TRUE(t) << t.error().to_string();
    std::vector<std::string> bond_lines;
    std::istringstream in(*t);
    int k = 0;
    for (std::string line; std::getline(in, line); ++k)
        if (k >= 4 + int(m.num_atoms()) && k < 4 + int(m.num_atoms() + m.num_bonds())) bond_lines.push_back(line);
    EXPECT_EQ(bond_lines, (std::vector<std::string>{
                              "  1  2  2  0  0  0  0", "  2  3  1  0  0  0  0", "  3  4  2  0  0  0  0",
                              "  4  5  1  0  0  0  0", "  5  6  2  0  0  0  0", "  6  7  1  0  0  0  0",
                              "  7  8  2  3  0  0  0", "  8  9  1  0  0  0  0", "  9 10  9  0  0  0  0",
                              "  6  1  1  0  0  0  0"}));
}

struct WriteRefusal {
    const char* name;
    const char* smiles;
    std::vector<Wedge> wedges;
    std::vector<BondOrder> kekule;
    Coord first;
    const char* message;
    const char* title = "";
};

constexpr const char* TITLE_BREAK = "标题里有换行符或回车符,而 V2000 的标题只占一行 —— 写进去会让后面每一行都错位";

class MolblockWriteRefusal : public ::testing::TestWithParam<WriteRefusal> {};

TEST_P(MolblockWriteRefusal, GivesItsText) {
    const WriteRefusal& c = GetParam();
    MolBuilder m = test::read_or_fail(c.smiles);
    const std::vector<Coord> xyz = {c.first};
    auto t = write_molblock(m, {c.title, xyz, c.wedges, c.kekule, {}});
    ASSERT_FALSE(t);
    EXPECT_EQ(t.error().to_string(), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Writer, MolblockWriteRefusal,
    ::testing::Values(
        WriteRefusal{"wedge_length", "c1ccccc1", {{}}, {}, {}, "逐键数组给了 1 项,而分子有 6 根键"},
        WriteRefusal{"aromatic", "c1ccccc1", {}, {}, {},
                     "第 0 根键是芳香键,而调用方没给凯库勒化之后的键级 —— 先跑 `quorix_chem::kekulize`"},
        WriteRefusal{"quadruple", "C$C", {}, {}, {}, "第 0 根键是 Quadruple,V2000 的键型里没有这一档 —— 按单键写会一声不响地改掉分子"},
        WriteRefusal{"isotope", "C[10000C]", {}, {}, {}, "第 1 个原子的同位素 10000 超出 V2000 属性块的四位栏(最大 9999)"},
        WriteRefusal{"wide_x", "CC", {}, {}, {99999.99996, 0, 0},
                     "第 0 个原子的坐标 99999.99996 写不进 V2000 的十位坐标栏(只收 -9999.9999 到 99999.9999 之间的有限数)"},
        WriteRefusal{"wide_negative", "CC", {}, {}, {0, -10000, 0},
                     "第 0 个原子的坐标 -10000 写不进 V2000 的十位坐标栏(只收 -9999.9999 到 99999.9999 之间的有限数)"},
        WriteRefusal{"nan", "CC", {}, {}, {0, 0, NAN},
                     "第 0 个原子的坐标 nan 写不进 V2000 的十位坐标栏(只收 -9999.9999 到 99999.9999 之间的有限数)"},
        // Read back, the rest of this title would be a molecule of its own.
        WriteRefusal{"title_line_feed", "CC", {}, {}, {}, TITLE_BREAK, "x\n\n\n  1  0\n"},
        WriteRefusal{"title_carriage_return", "CC", {}, {}, {}, TITLE_BREAK, "x\r"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MolblockWrite, AtomLimit) {
    MolBuilder m;
    for (int i = 0; i < 1000; ++i) m.add_atom(Atom{});
    auto t = write_molblock(m, {});
    ASSERT_FALSE(t);
    EXPECT_EQ(t.error().to_string(), "1000 个原子 / 0 根键,超过 V2000 的 999 上限");
    m.atoms.pop_back();
    m.first_half_edge.pop_back();
    m.last_half_edge.pop_back();
    m.degree.pop_back();
    EXPECT_TRUE(write_molblock(m, {}));
    EXPECT_TRUE(check_v2000_counts(999, 999));
    EXPECT_EQ(check_v2000_counts(999, 1000).error().to_string(), "999 个原子 / 1000 根键,超过 V2000 的 999 上限");
}

// ---------------------------------------------------------------- real data

// Writes `mol` with the given coordinates and wedges, its Kekulé orders and
// either flags, reads it back and finishes it; the canonical SMILES before and after.
static std::pair<std::string, std::string> write_and_read_back(const MolBuilder& mol, const std::string& title,
                                                               const std::vector<Coord>& coords,
                                                               const std::vector<Wedge>& wedges, bool is_3d) {
    MolBuilder kekule = mol;
    EXPECT_TRUE(chem::kekulize(kekule));
    std::vector<BondOrder> orders;
    for (const Bond& b : kekule.bonds) orders.push_back(b.order);
    auto written = write_molblock(mol, {title, coords, wedges, orders, either_double_bonds(mol)});
    if (!written) return {canonical_smiles(mol).text, written.error().to_string()};
    auto again = read_molblock(*written);
    if (!again || again->is_3d != is_3d) return {canonical_smiles(mol).text, "(not read back as written)"};
    auto finished = python::finish_molblock(std::move(*again));
    if (!finished) return {canonical_smiles(mol).text, finished.error()};
    return {canonical_smiles(mol).text, canonical_smiles(finished->mol).text};
}

// Every record of the PubChem file reads and finishes; written back with its own
// wedges, Kekulé orders and either flags and read again, it gives the same
// canonical SMILES, stereo included.
TEST(MolblockRealData, EveryRecordReadsAndRoundTrips) {
    const std::string text = data_file("pubchem-1000.sdf");
    const std::vector<python::PySdfRecord> records = python::read_sdf_records(text);
    ASSERT_EQ(records.size(), 1000u);
    std::string_view rest = text;
    bool done = false;
    std::size_t k = 0, stereo = 0;
    while (auto chunk = next_sdf_chunk(rest, done)) {
        const python::PySdfRecord& rec = records[k++];
        ASSERT_FALSE(rec.error) << "record " << k - 1 << ": " << *rec.error;
        ASSERT_FALSE(rec.data.empty());
        auto parsed = parse_sdf_record(*chunk);
        ASSERT_TRUE(parsed);
        const auto [before, after] = write_and_read_back(rec.block->mol, rec.block->title, rec.block->coords,
                                                         parsed->molblock.wedge_marks, false);
        EXPECT_EQ(after, before) << "record " << k - 1;
        stereo += before.find('@') != std::string::npos || before.find('/') != std::string::npos;
    }
    EXPECT_EQ(k, 1000u);
    EXPECT_GT(stereo, 100u);  // the round trip carried stereo, not only graphs
}

// Each real record with one bond line written twice, or with one bond fewer on
// its counts line, is refused at the line that breaks it, never read as another
// molecule.
TEST(MolblockRealData, RepeatedBondsAndUndercountedBondsAreRefused) {
    const std::string text = data_file("pubchem-1000.sdf");
    std::string_view rest = text;
    bool done = false;
    std::size_t k = 0;
    while (auto chunk = next_sdf_chunk(rest, done)) {
        std::vector<std::string> lines;
        std::istringstream in{std::string(*chunk)};
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        const int atoms = std::stoi(lines[3].substr(0, 3)), bonds = std::stoi(lines[3].substr(3, 3));
        ASSERT_GT(bonds, 0);
        const auto with_counts = [&](int b, std::vector<std::string> body) {
            body[3] = counts(atoms, b).substr(0, 6) + body[3].substr(6);
            std::string out;
            for (const std::string& line : body) out += line + "\n";
            return out;
        };
        const std::size_t j = 4 + atoms + k++ % std::size_t(bonds);  // a bond line
        std::vector<std::string> repeated = lines;
        repeated.insert(repeated.begin() + std::ptrdiff_t(j) + 1, lines[j]);
        EXPECT_EQ(sdf_error(with_counts(bonds + 1, repeated)),
                  "第 " + std::to_string(j + 1) + " 行这两个原子之间已经有一根键")
            << "record " << k - 1;
        EXPECT_EQ(sdf_error(with_counts(bonds - 1, lines)),
                  "第 3 行的计数行少算了:第 " + std::to_string(3 + atoms + bonds) + " 行是它没算上的键行")
            << "record " << k - 1;
    }
    EXPECT_EQ(k, 1000u);
}

// ---------------------------------------------------------------- 3-D stereo

// Molecules built by hand in 3-D, hydrogens implicit. Each centre sits at the
// origin with its hydrogen along -z and its other ligands above, placed by
// their CIP priorities (R: clockwise seen from +z, S: anticlockwise); double
// bonds are drawn planar. The SMILES are the same molecules, checked by hand:
// L-alanine is S, N[C@@H](C)C(=O)O; (R)-butan-2-ol is CC[C@@H](C)O;
// F[C@@](Cl)(Br)I is R; (R,E)-pent-3-en-2-ol is C[C@@H](O)/C=C/C.
namespace {

struct Built3d {
    const char* name;
    std::vector<std::pair<const char*, Coord>> atoms;
    std::vector<std::array<int, 3>> bonds;  // 1-based atoms, bond type
    const char* smiles;
};
void PrintTo(const Built3d& b, std::ostream* os) { *os << b.name; }

// A ligand of a centre at the origin: 1.5 Å long, `degrees` around z, above the centre.
Coord up(double degrees) {
    const double t = degrees * 3.14159265358979 / 180.0;
    return {1.414 * std::cos(t), 1.414 * std::sin(t), 0.5};
}

Coord plus(Coord a, Coord b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }

const Built3d BUILT_3D[] = {
    {"S_alanine",
     {{"C", {0, 0, 0}}, {"N", up(90)}, {"C", up(210)}, {"C", up(330)}, {"O", plus(up(210), {-1.2, 0.2, 0.6})},
      {"O", plus(up(210), {0.1, -1.3, 0.6})}},
     {{{1, 2, 1}}, {{1, 3, 1}}, {{1, 4, 1}}, {{3, 5, 2}}, {{3, 6, 1}}},
     "N[C@@H](C)C(=O)O"},
    {"R_butan_2_ol",
     {{"C", {0, 0, 0}}, {"O", up(90)}, {"C", up(330)}, {"C", up(210)}, {"C", plus(up(330), {1.3, 0.3, 0.6})}},
     {{{1, 2, 1}}, {{1, 3, 1}}, {{1, 4, 1}}, {{3, 5, 1}}},
     "CC[C@@H](C)O"},
    // Four heavy ligands: only the first three in stored order are measured.
    {"R_bromochlorofluoroiodomethane",
     {{"C", {0, 0, 0}}, {"F", {0, 0, -1.5}}, {"I", up(90)}, {"Br", up(330)}, {"Cl", up(210)}},
     {{{1, 2, 1}}, {{1, 3, 1}}, {{1, 4, 1}}, {{1, 5, 1}}},
     "F[C@@](Cl)(Br)I"},
    {"Z_but_2_ene",
     {{"C", {-0.75, 1.3, 0}}, {"C", {0, 0, 0}}, {"C", {1.34, 0, 0}}, {"C", {2.09, 1.3, 0}}},
     {{{1, 2, 1}}, {{2, 3, 2}}, {{3, 4, 1}}},
     "C/C=C\\C"},
    {"E_but_2_ene",
     {{"C", {-0.75, 1.3, 0}}, {"C", {0, 0, 0}}, {"C", {1.34, 0, 0}}, {"C", {2.09, -1.3, 0}}},
     {{{1, 2, 1}}, {{2, 3, 2}}, {{3, 4, 1}}},
     "C/C=C/C"},
    // C2 at the origin; C5 lies across the C3=C4 axis (along x) from C2.
    {"R_E_pent_3_en_2_ol",
     {{"C", up(210)}, {"C", {0, 0, 0}}, {"O", up(90)}, {"C", up(330)}, {"C", plus(up(330), {1.34, 0, 0})},
      {"C", plus(up(330), {2.09, -0.707, 0.5})}},
     {{{1, 2, 1}}, {{2, 3, 1}}, {{2, 4, 1}}, {{4, 5, 2}}, {{5, 6, 1}}},
     "C[C@@H](O)/C=C/C"},
};

std::string canonical_of(const std::string& smiles) {
    MolBuilder m = test::read_or_fail(smiles);
    EXPECT_TRUE(chem::sanitize(m));
    io::double_bond_stereo(m);
    return canonical_smiles(m).text;
}

// A random proper rotation (from a random unit quaternion) as rows.
std::array<Coord, 3> random_rotation(std::mt19937& rng) {
    std::normal_distribution<double> g;
    double w = g(rng), x = g(rng), y = g(rng), z = g(rng);
    const double n = std::sqrt(w * w + x * x + y * y + z * z);
    w /= n, x /= n, y /= n, z /= n;
    return {{{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
             {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
             {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}}};
}

}  // namespace

class Perceives3d : public ::testing::TestWithParam<Built3d> {};

// Turned, moved, renumbered and, every other time, mirrored, the geometry must
// still give the stereo it was built with (its mirror image when mirrored).
TEST_P(Perceives3d, TheBuiltStereoInAnyPoseAndAtomOrder) {
    const Built3d& c = GetParam();
    const std::string expected = canonical_of(c.smiles), mirrored = canonical_of(test::mirror_image(c.smiles));
    ASSERT_NE(expected.find_first_of("@/"), std::string::npos) << expected;
    std::mt19937 rng(2026);
    for (int trial = 0; trial < 24; ++trial) {
        const bool mirror = trial % 2 == 1;
        const auto r = random_rotation(rng);
        std::vector<int> order(c.atoms.size());  // file position -> built atom
        std::iota(order.begin(), order.end(), 0);
        if (trial > 1) std::shuffle(order.begin(), order.end(), rng);
        std::vector<int> position(order.size());
        for (std::size_t k = 0; k < order.size(); ++k) position[order[k]] = int(k);
        std::string text = HEAD + counts(int(c.atoms.size()), int(c.bonds.size()));
        for (int a : order) {
            Coord p = c.atoms[a].second;
            if (mirror) p[0] = -p[0];
            Coord q{};
            for (int i = 0; i < 3; ++i) q[i] = r[i][0] * p[0] + r[i][1] * p[1] + r[i][2] * p[2] + 3.0 * i - 2.0;
            text += atom(q[0], q[1], q[2], c.atoms[a].first);
        }
        for (const auto& [u, v, type] : c.bonds)
            text += trial % 3 == 0 ? bond(position[v - 1] + 1, position[u - 1] + 1, type)
                                   : bond(position[u - 1] + 1, position[v - 1] + 1, type);
        auto parsed = read_molblock(text + "M  END\n");
        ASSERT_TRUE(parsed) << parsed.error().to_string();
        ASSERT_TRUE(parsed->is_3d);
        auto block = python::finish_molblock(std::move(*parsed));
        ASSERT_TRUE(block) << block.error();
        EXPECT_EQ(canonical_smiles(block->mol).text, mirror ? mirrored : expected) << "trial " << trial << "\n" << text;
    }
}

INSTANTIATE_TEST_SUITE_P(HandBuilt, Perceives3d, ::testing::ValuesIn(BUILT_3D),
                         [](const auto& info) { return std::string(info.param.name); });

// Coordinates are formatted without the general formatter; every field must still
// be printf's "%.4f": random values, values a hair off four decimals, and exact
// binary ties (odd multiples of 1/32), which round to even.
TEST(MolblockWrite, CoordinatesAsPrintf) {
    std::mt19937_64 rng(7);
    std::vector<double> values = {0.0, -0.0, 1e-300, -1e-300, 5e-324, -4.9e-320, 2.2250738585072014e-308, 0.00005, -0.00005, 0.99995, 9998.99995, -9999.99994, -9999.99995 + 1e-3,
                                  9999.99995, 99999.9999, 99999.99994, -9999.9999, 1e4, std::nextafter(1e4, 0.0)};
    for (int j = -319990; j <= 320000; j += 7) values.push_back(j / 32.0);
    std::uniform_real_distribution<double> wide(-1e4, 1e4), narrow(-3.0, 3.0);
    for (int i = 0; i < 20000; ++i) {
        values.push_back(wide(rng));
        values.push_back(narrow(rng));
        const double grid = std::round(narrow(rng) * 1e4) / 1e4;
        values.push_back(std::nextafter(grid, 1e9));
        values.push_back(std::nextafter(grid, -1e9));
        values.push_back(grid + 0.00005);
    }
    std::size_t k = 0;
    while (k < values.size()) {
        const std::size_t n = std::min<std::size_t>(999, (values.size() - k + 2) / 3);
        MolBuilder m;
        std::vector<Coord> xyz(n);
        for (std::size_t a = 0; a < n; ++a) {
            Atom c;
            c.atomic_num = 6;
            m.add_atom(c);
            for (double& v : xyz[a]) v = k < values.size() ? values[k++] : 0.0;
        }
        auto t = write_molblock(m, {"", xyz, {}, {}, {}});
        ASSERT_TRUE(t);
        std::istringstream lines(*t);
        std::string line;
        for (int skip = 0; skip < 4; ++skip) std::getline(lines, line);
        for (std::size_t a = 0; a < n; ++a) {
            std::getline(lines, line);
            for (int c = 0; c < 3; ++c) {
                char want[64];
                std::snprintf(want, sizeof want, "%10.4f", xyz[a][c]);
                ASSERT_EQ(line.substr(10 * c, 10), want) << xyz[a][c];
            }
        }
    }
}
