#include "io/error.hpp"

#include <gtest/gtest.h>

#include <string>

#include "core/error.hpp"

using namespace quorix::io;

namespace {

struct KindText {
    SmilesErrorKind kind;
    std::string text;
};

class ParseErrorKindTextTest : public ::testing::TestWithParam<KindText> {};

TEST_P(ParseErrorKindTextTest, ShowsExactText) { EXPECT_EQ(GetParam().kind.to_string(), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    EveryKind, ParseErrorKindTextTest,
    ::testing::Values(
        // Every text also reaches the readers' tables; here the numbers at their edges.
        KindText{SmilesErrorKind::ring(SmilesErrorTag::RingSelfLoop, 99999), "环闭合标号 99999 的两端是同一个原子"},
        KindText{SmilesErrorKind::ring(SmilesErrorTag::DuplicateRingBond, 0), "环闭合标号 0 在同一对原子间重复"},
        // The mark with its number, then the class again with its largest number.
        KindText{SmilesErrorKind::chiral_index("OH", 99, 30), "立体标记 @OH99 的序号超出范围,@OH 最大为 30"}));

struct Literal {
    char32_t c;
    std::string shown;
};

class ParseErrorCharLiteralTest : public ::testing::TestWithParam<Literal> {};

TEST_P(ParseErrorCharLiteralTest, QuotesAndEscapes) {
    EXPECT_EQ(char_literal(GetParam().c), GetParam().shown);
    EXPECT_EQ(SmilesErrorKind::unexpected_char(GetParam().c).to_string(), "意外的字符 " + GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, ParseErrorCharLiteralTest,
    ::testing::Values(
        Literal{U'\\', "'\\\\'"}, Literal{U'\'', "'\\''"}, Literal{U'\n', "'\\n'"}, Literal{U'\0', "'\\0'"},
        Literal{U'\x01', "'\\u{1}'"}, Literal{U'\x7f', "'\\u{7f}'"},
        Literal{U'\u0301', "'\\u{301}'"},
        Literal{U'é', "'é'"}, Literal{U'\U0001F600', "'\U0001F600'"}));

ParseError error_at(std::string_view input, std::size_t pos, SmilesErrorKind kind = SmilesErrorKind::simple(
                                                                  SmilesErrorTag::UnexpectedEnd)) {
    return ParseError::make(std::move(kind), pos, input);
}

TEST(ParseErrorCaretView, PositionInsideACharacterIsABrokenInvariant) {
    ParseError e;
    e.input = "碳C";
    e.kind = SmilesErrorKind::simple(SmilesErrorTag::UnexpectedEnd);
    e.pos = 1;
    EXPECT_THROW((void)e.caret_view(), quorix::InternalError);
}

TEST(ParseErrorMalformedInput, ReplacedAndPositionFollowsTheCharacter) {
    // Byte 0xFF is not UTF-8: it becomes U+FFFD (three bytes) and the fault after
    // it moves along.
    const std::string bytes = std::string("C") + '\xff' + "(";
    const ParseError e = error_at(bytes, 2, SmilesErrorKind::simple(SmilesErrorTag::UnbalancedParens));
    EXPECT_EQ(e.input, "C\xEF\xBF\xBD(");
    EXPECT_EQ(e.pos, 4u);
    EXPECT_EQ(e.caret_view(), "C\uFFFD(\n  ^ 括号不匹配");
    // A position at the malformed byte itself stays at its replacement.
    EXPECT_EQ(error_at(bytes, 1).pos, 1u);
    EXPECT_EQ(error_at(bytes, 3).pos, 5u);
    // A truncated sequence at the end is replaced byte by byte.
    EXPECT_EQ(error_at(std::string("C\xE7\xA2"), 3).input, "C\uFFFD\uFFFD");
}

TEST(ParseErrorCharAt, DecodesOneCharacter) {
    EXPECT_EQ(char_at("a碳", 1), U'碳');
    EXPECT_EQ(char_at("a", 0), U'a');
    EXPECT_EQ(char_at(std::string("\xC3"), 0), U'\uFFFD');
    EXPECT_EQ(char_at(std::string("\xC0\x80"), 0), U'\uFFFD');  // overlong
    EXPECT_EQ(char_at(std::string("\xED\xA0\x80"), 0), U'\uFFFD');  // surrogate
}

TEST(ParseErrorRebasing, MovesTheCaretIntoTheWholeText) {
    const std::string whole = "[$(CC=)]C";
    const ParseError inner = error_at("CC=", 2, SmilesErrorKind::simple(SmilesErrorTag::BondWithoutAtom));
    const ParseError outer = inner.rebased(whole, 3);
    EXPECT_EQ(outer.input, whole);
    EXPECT_EQ(outer.kind, inner.kind);
    EXPECT_EQ(outer.pos, 5u);
    EXPECT_EQ(outer.caret_view(), whole + "\n     ^ 键符号后面缺少原子");
}

TEST(ParseErrorRebasing, MalformedBytesInTheSubTextCountAsOneByteOfTheWhole) {
    const std::string whole = std::string("[$(C") + '\xff' + "=)]";
    const std::string sub = std::string("C") + '\xff' + "=";
    const ParseError inner = error_at(sub, 2, SmilesErrorKind::simple(SmilesErrorTag::BondWithoutAtom));
    EXPECT_EQ(inner.pos, 4u);  // after the three-byte replacement
    const ParseError outer = inner.rebased(whole, 3);
    EXPECT_EQ(outer.input, "[$(C\uFFFD=)]");
    EXPECT_EQ(outer.pos, 7u);
    EXPECT_EQ(outer.caret_view(), outer.input + "\n     ^ 键符号后面缺少原子");
}

}  // namespace
