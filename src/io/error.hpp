#pragma once
// Syntax faults of the text readers (SMILES, SMARTS, reaction SMARTS) and their
// caret view.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorix::io {

enum class SmilesErrorTag : std::uint32_t {
    EmptySmiles = 0,
    UnexpectedChar = 1,
    UnexpectedEnd = 2,
    UnknownElement = 3,
    BadBracketAtom = 4,
    UnbalancedParens = 5,
    EmptyBranch = 6,
    UnclosedRing = 7,
    RingSelfLoop = 8,
    DuplicateRingBond = 9,
    ConflictingRingBond = 10,
    BondWithoutAtom = 11,
    NumberOutOfRange = 12,
    ChiralIndexOutOfRange = 13,
};

struct SmilesErrorKind {
    SmilesErrorTag tag = SmilesErrorTag::EmptySmiles;
    char32_t ch = 0;           // UnexpectedChar
    std::string symbol;        // UnknownElement: the letters as written
    std::string_view detail;   // BadBracketAtom: a constant text
    std::uint32_t label = 0;   // ring-closure kinds
    std::string_view chiral_class;  // ChiralIndexOutOfRange: "TH", "AL", "SP", "TB", "OH"
    std::uint32_t index = 0;   // ChiralIndexOutOfRange: the number written
    std::uint32_t max = 0;     // ChiralIndexOutOfRange: the class's largest number

    static SmilesErrorKind simple(SmilesErrorTag tag) {
        SmilesErrorKind k;
        k.tag = tag;
        return k;
    }
    static SmilesErrorKind unexpected_char(char32_t c);
    static SmilesErrorKind unknown_element(std::string_view letters);
    static SmilesErrorKind bad_bracket_atom(std::string_view constant_detail);
    static SmilesErrorKind ring(SmilesErrorTag tag, std::uint32_t label);
    static SmilesErrorKind chiral_index(std::string_view cls, std::uint32_t index, std::uint32_t max);

    std::string to_string() const;
    bool operator==(const SmilesErrorKind&) const = default;
};

// Appends the UTF-8 encoding of one character.
void append_utf8(std::string& out, char32_t c);

// A character shown as a character literal: quoted, with escapes for quotes,
// backslash, control and non-printable characters.
std::string char_literal(char32_t c);
// A text shown as a string literal: in double quotes, with escapes for the
// double quote, backslash, control, non-printable and combining characters.
std::string string_literal(std::string_view text);
// The character starting at byte `pos` (U+FFFD for a malformed sequence).
char32_t char_at(std::string_view text, std::size_t pos);

struct ParseError {
    std::string input;  // always valid UTF-8
    SmilesErrorKind kind;
    std::size_t pos = 0;

    static ParseError make(SmilesErrorKind kind, std::size_t pos, std::string_view input_bytes);
    // "{input}\n{blanks}^ {message}", the caret placed by characters, not bytes.
    std::string caret_view() const;
    // Re-expresses an error found inside a sub-text starting at `offset` of `whole`.
    ParseError rebased(std::string_view whole, std::size_t offset) const;
};

}  // namespace quorix::io
