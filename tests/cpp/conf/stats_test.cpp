#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "conf/stats.hpp"

using namespace quorix::conf;

namespace {

std::size_t data_rows(std::string_view text) {
    std::size_t rows = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t nl = text.find('\n', at);
        if (text[at] != '#') ++rows;
        at = nl + 1;
    }
    return rows;
}

}  // namespace

TEST(StatsTables, CompiledTextsHoldTheMeasuredRowsVerbatim) {
    const std::string_view lengths = bond_length_text(), angles = bond_angle_text(), torsions = ring_torsion_text();
    EXPECT_TRUE(lengths.starts_with("#键\t计数\t中位键长\tp05\tp95\t均值\nC\tH\t1\t0\t96412\t1.094\t1.085\t1.098\t1.0925\n"));
    EXPECT_TRUE(angles.starts_with(
        "#键\t计数\t中位键角\tp05\tp95\t均值\nC\t4\t0\t0\t0\t133920\t109.4\t106.4\t112.9\t109.4383\n"));
    EXPECT_TRUE(torsions.starts_with("#环尺寸\t芳香\t全sp3\t计数\t中位\tp05\tp95\t均值\n3\t0\t0\t30\t0.0\t0.0\t0.0\t0.0000\n"));
    for (const char* row : {"\nC\tN\t1\t0\t9054\t1.422\t1.36\t1.486\t1.4266\n", "\nC\tN\t3\t0\t535\t1.16\t1.158\t1.163\t1.1605\n",
                            "\nC\tC\t3\t0\t31\t1.202\t1.201\t1.202\t1.2015\n", "\nC\tC\t2\t0\t670\t1.342\t1.338\t1.356\t1.3439\n"})
        EXPECT_NE(lengths.find(row), std::string_view::npos) << row;
    for (const char* row : {"\nC\t2\t0\t0\t0\t613\t178.9\t176.1\t179.9\t178.5909\n",
                            "\nC\t4\t0\t4\t4\t151\t87.2\t83.2\t90.7\t86.9172\n",
                            "\nN\t3\t0\t0\t0\t15246\t115.6\t107.3\t125.8\t115.7521\n"})
        EXPECT_NE(angles.find(row), std::string_view::npos) << row;
    EXPECT_TRUE(torsions.ends_with("\n16\t1\t0\t16\t178.3\t1.4\t179.8\t91.4703\n28\t0\t0\t28\t83.9\t0.7\t177.6\t97.3475\n"));
    // Every row parses, and no two share a key.
    EXPECT_EQ(data_rows(lengths), 134u);
    EXPECT_EQ(data_rows(angles), 173u);
    EXPECT_EQ(data_rows(torsions), 21u);
    EXPECT_EQ(bond_length_stats().size(), 134u);
    EXPECT_EQ(bond_angle_stats().size(), 173u);
    EXPECT_EQ(ring_torsion_stats().size(), 21u);
}

namespace {

struct TorsionParseCase {
    const char* name;
    std::string text;
    std::size_t rows;                  // rows kept
    std::optional<TorsionKey> key;     // looked up when given
    double p95 = 0.0;
};

class TorsionParse : public ::testing::TestWithParam<TorsionParseCase> {};

}  // namespace

TEST_P(TorsionParse, FollowsTheRowRules) {
    const TorsionParseCase& c = GetParam();
    const RingTorsionStats map = parse_ring_torsion_table(c.text);
    EXPECT_EQ(map.size(), c.rows);
    if (c.key) {
        const auto it = map.find(*c.key);
        ASSERT_NE(it, map.end());
        EXPECT_EQ(it->second.p95, c.p95);
    }
}

namespace {
const std::string ROW = "6\t1\t0\t5\t0.2\t0.0\t2.2";

}  // namespace

INSTANTIATE_TEST_SUITE_P(
    TableRows, TorsionParse,
    ::testing::Values(
        TorsionParseCase{"Plain", "#c\n" + ROW + "\n", 1, TorsionKey{6, true, false}, 2.2},
        TorsionParseCase{"CarriageReturnBeforeNewline", ROW + "\r\n", 1, TorsionKey{6, true, false}, 2.2},
        TorsionParseCase{"FinalLineWithoutNewline", "#c\n" + ROW, 1, TorsionKey{6, true, false}, 2.2},
        TorsionParseCase{"CarriageReturnWithoutNewlineStays", ROW + "\r", 0, {}},
        TorsionParseCase{"ShortRow", "6\t1\t0\t5\t0.2\t0.0\n", 0, {}},
        TorsionParseCase{"ExtraFieldsIgnored", ROW + "\tx\ty\tz\n", 1, TorsionKey{6, true, false}, 2.2},
        TorsionParseCase{"MeanNotRead", ROW + "\tnot-a-number\n", 1, TorsionKey{6, true, false}, 2.2},
        TorsionParseCase{"PlusSign", "+6\t+1\t0\t5\t0.2\t0.0\t2.2\n", 1, TorsionKey{6, true, false}, 2.2},
        TorsionParseCase{"MinusSign", "-6\t1\t0\t5\t0.2\t0.0\t2.2\n", 0, {}},
        TorsionParseCase{"LonePlus", "+\t1\t0\t5\t0.2\t0.0\t2.2\n", 0, {}},
        TorsionParseCase{"EmptyInteger", "\t1\t0\t5\t0.2\t0.0\t2.2\n", 0, {}},
        TorsionParseCase{"TrailingLetter", "6x\t1\t0\t5\t0.2\t0.0\t2.2\n", 0, {}},
        TorsionParseCase{"ByteOverflow", "6\t256\t0\t5\t0.2\t0.0\t2.2\n", 0, {}},
        TorsionParseCase{"SizeOverflow", "99999999999999999999999\t1\t0\t5\t0.2\t0.0\t2.2\n", 0, {}},
        TorsionParseCase{"AromaticTwoIsNotAromatic", "6\t2\t0\t5\t0.2\t0.0\t2.2\n", 1, TorsionKey{6, false, false}, 2.2},
        TorsionParseCase{"BadReal", "6\t1\t0\t5\t0.2\t0.0\t2.2.1\n", 0, {}},
        TorsionParseCase{"SpaceBeforeHashIsNoComment", " #6\t1\t0\t5\t0.2\t0.0\t2.2\n", 0, {}},
        TorsionParseCase{"HashFirstIsComment", "#6\t1\t0\t5\t0.2\t0.0\t2.2\n", 0, {}},
        TorsionParseCase{"EmptyFieldBetweenTabs", "6\t1\t\t5\t0.2\t0.0\t2.2\n", 0, {}},
        TorsionParseCase{"LaterDuplicateWins", ROW + "\n6\t1\t0\t5\t0.2\t0.0\t9.5\n", 1, TorsionKey{6, true, false}, 9.5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StatsParse, LengthAndAngleRowsNeedTheirMean) {
    EXPECT_EQ(parse_bond_length_table("C\tH\t1\t0\t9\t1.0\t0.9\t1.1\t1.0\n").size(), 1u);
    EXPECT_EQ(parse_bond_length_table("C\tH\t1\t0\t9\t1.0\t0.9\t1.1\tx\n").size(), 0u);
    EXPECT_EQ(parse_bond_length_table("C\tH\t1\t-0\t9\t1.0\t0.9\t1.1\t1.0\n").size(), 0u);
    EXPECT_EQ(parse_bond_length_table("C\tH\t1\t0\t9\t1.0\t0.9\t1.1\n").size(), 0u);
    EXPECT_EQ(parse_bond_angle_table("C\t4\t0\t0\t0\t9\t109\t105\t112\t109\n").size(), 1u);
    EXPECT_EQ(parse_bond_angle_table("C\t4\t0\t0\t0\t9\t109\t105\t112\t\n").size(), 0u);
    EXPECT_EQ(parse_bond_angle_table("C\t4\t0\t0\t0\t9\t109\t105\t112\n").size(), 0u);
    // The count column is never read.
    EXPECT_EQ(parse_bond_angle_table("C\t4\t0\t0\t0\tmany\t109\t105\t112\t109\n").size(), 1u);
}

TEST(StatsLookup, KeysMatchExactlyAndMissesInsertNothing) {
    const std::size_t before = bond_length_stats().size();
    ASSERT_TRUE(find_bond_length({"C", "Cl", "1", 0}));
    EXPECT_FALSE(find_bond_length({"Cl", "C", "1", 0}));
    EXPECT_FALSE(find_bond_length({"C", "H", "1", 6}));
    EXPECT_EQ(bond_length_stats().size(), before);
    EXPECT_EQ(find_bond_length({"C", "H", "1", 0})->median, 1.094);
    EXPECT_EQ(find_bond_angle({"C", 3, 1, 6, 6})->median, 120.1);
    EXPECT_FALSE(find_bond_angle({"C", 3, 2, 6, 6}));
    EXPECT_EQ(find_ring_torsion({6, false, true})->p05, 19.0);
    EXPECT_FALSE(find_ring_torsion({11, false, false}));
}
