#pragma once
#include <expected>
#include <string_view>
#include <vector>

#include "io/error.hpp"
#include "io/smarts/mol.hpp"

namespace quorix::io {

// How deep `!` chains and `$(` groups may nest, counted together. Deeper input is
// a ParseError, so neither reading nor tearing down a query can exhaust the stack.
inline constexpr unsigned MAX_QUERY_NESTING = 64;

// SMARTS text to a query. Error offsets are byte offsets into `text`, also for
// faults inside bracket atoms, bond texts and recursive groups.
std::expected<Query, ParseError> read_smarts(std::string_view text);
// The same, also giving the byte offset in `text` at which each query atom is
// written, in atom order, for faults that only a later check can see.
std::expected<Query, ParseError> read_smarts(std::string_view text, std::vector<std::size_t>& atom_offsets);

}  // namespace quorix::io
