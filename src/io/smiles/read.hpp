#pragma once
#include <expected>
#include <string_view>

#include "core/builder.hpp"
#include "io/error.hpp"

namespace quorix::io {

// SMILES text to an unsanitised molecule; positions in errors are byte offsets.
std::expected<core::MolBuilder, ParseError> read_smiles(std::string_view text);

}  // namespace quorix::io
