#pragma once
// V2000 molblocks and SDF records: reading (atoms, bonds, charges, isotopes,
// radicals, declared hydrogens, coordinates, wedge and "either" marks, data
// items) and writing. Nothing is perceived or sanitised here.
#include <cmath>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "core/builder.hpp"
#include "io/wedge.hpp"

namespace quorix::io {

struct ParsedMolblock {
    std::string title;  // line 0 as written
    core::MolBuilder mol;
    std::vector<Coord> coords;
    std::vector<Wedge> wedge_marks;   // one per bond; apex = the bond line's first atom
    std::vector<std::uint8_t> either;  // one per bond: stereo column 3 or 4
    bool is_3d = false;
};

using DataItem = std::pair<std::string, std::string>;

struct SdfEntry {
    ParsedMolblock molblock;
    std::vector<DataItem> data;  // file order, duplicate names kept
};

namespace molblock_error {
struct Truncated { std::string_view what; bool operator==(const Truncated&) const = default; };
struct BadCountsLine { bool operator==(const BadCountsLine&) const = default; };
struct V3000 { bool operator==(const V3000&) const = default; };
struct BadLine { std::string_view what; std::size_t line; bool operator==(const BadLine&) const = default; };
struct UnknownElement { std::string symbol; std::size_t line; bool operator==(const UnknownElement&) const = default; };
struct BadBondType { std::size_t line; std::int32_t code; bool operator==(const BadBondType&) const = default; };
struct DataHeaderWithoutName { std::size_t line; bool operator==(const DataHeaderWithoutName&) const = default; };
// An atom or bond line below the blocks the counts line announced: read as a
// property line it would be skipped, and the molecule would lose it silently.
struct UncountedLine {
    std::size_t counts_line;
    std::size_t line;
    std::string_view what;  // "原子行" or "键行"
    bool operator==(const UncountedLine&) const = default;
};
}  // namespace molblock_error

// Line numbers count from 0 (the title is line 0, the counts line line 3).
struct MolblockReadError {
    std::variant<molblock_error::Truncated, molblock_error::BadCountsLine, molblock_error::V3000,
                 molblock_error::BadLine, molblock_error::UnknownElement, molblock_error::BadBondType,
                 molblock_error::DataHeaderWithoutName, molblock_error::UncountedLine>
        error;
    std::string to_string() const;
    bool operator==(const MolblockReadError&) const = default;
};

std::expected<ParsedMolblock, MolblockReadError> read_molblock(std::string_view text);

struct SdfSplit {
    std::string_view before;  // up to the separator line's start
    std::string_view after;   // after the separator line and its line feed
};
// Cuts at the first "$$$$" line (trailing blanks allowed, leading not).
std::optional<SdfSplit> split_sdf(std::string_view text);

// The next record text of an SDF text, skipping blank chunks between separator
// lines; `rest` advances past it. None at the end.
std::optional<std::string_view> next_sdf_chunk(std::string_view& rest, bool& exhausted);

std::expected<SdfEntry, MolblockReadError> parse_sdf_record(std::string_view record);

// Empty, or white space only (in the Unicode sense).
bool is_blank(std::string_view text);

// ---------------------------------------------------------------------------
// Writing.

struct MolblockWriteRequest {
    std::string_view title;
    std::span<const Coord> coords;             // an atom beyond the end is written at the origin
    std::span<const Wedge> wedges;             // empty, or one per bond
    std::span<const core::BondOrder> kekule_orders;  // empty, or one per bond
    std::span<const std::uint8_t> either;      // per bond; entries past the end count as 0
};

inline constexpr std::uint32_t V2000_MAX_COUNT = 999;

// Whether a coordinate fits the ten-column, four-decimal field (-9999.9999 to
// 99999.9999 once rounded): what the writer can write and the reader accepts.
// Well inside the field nothing needs formatting; near its edges (and for nan)
// the rounded text decides.
bool v2000_coordinate_text_fits(double v);
inline bool v2000_coordinate_fits(double v) { return std::fabs(v) < 9999.0 || v2000_coordinate_text_fits(v); }

namespace molblock_write_error {
struct TooManyForV2000 { std::uint64_t atoms, bonds; bool operator==(const TooManyForV2000&) const = default; };
struct BondArrayLength { std::uint64_t given, bonds; bool operator==(const BondArrayLength&) const = default; };
struct AromaticWithoutKekule { std::uint32_t bond; bool operator==(const AromaticWithoutKekule&) const = default; };
struct UnsupportedBondKind {
    std::uint32_t bond;
    core::BondOrder order;
    bool operator==(const UnsupportedBondKind&) const = default;
};
// The property block gives an isotope four columns.
struct IsotopeTooLarge { std::uint32_t atom; std::uint32_t isotope; bool operator==(const IsotopeTooLarge&) const = default; };
// A coordinate that is not finite or needs more than its ten columns.
struct CoordinateOutOfRange { std::uint32_t atom; double value; bool operator==(const CoordinateOutOfRange&) const = default; };
// The title is one line: a line break in it would shift every later line.
struct TitleLineBreak { bool operator==(const TitleLineBreak&) const = default; };
}  // namespace molblock_write_error

struct MolblockWriteError {
    std::variant<molblock_write_error::TooManyForV2000, molblock_write_error::BondArrayLength,
                 molblock_write_error::AromaticWithoutKekule, molblock_write_error::UnsupportedBondKind,
                 molblock_write_error::IsotopeTooLarge, molblock_write_error::CoordinateOutOfRange,
                 molblock_write_error::TitleLineBreak>
        error;
    std::string to_string() const;
    bool operator==(const MolblockWriteError&) const = default;
};

// The writer's first check, open to a caller that knows the counts before it
// builds what it writes.
std::expected<void, MolblockWriteError> check_v2000_counts(std::uint64_t atoms, std::uint64_t bonds);

std::expected<std::string, MolblockWriteError> write_molblock(const core::MolBuilder& mol,
                                                              const MolblockWriteRequest& request);

}  // namespace quorix::io
