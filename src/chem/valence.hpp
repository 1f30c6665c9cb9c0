#pragma once
// The strict valence check of sanitisation and the implicit hydrogen counts it stores.
#include <cstdint>
#include <expected>
#include <vector>

#include "core/builder.hpp"
#include "core/valence.hpp"

namespace quorix::chem {

struct ValenceLists {
    std::vector<std::int32_t> explicit_valence;  // per atom
    std::vector<std::uint8_t> implicit_hs;       // per atom
};

// Checks every atom strictly, in index order. Only when all pass is each atom's
// num_implicit_hs written (0 for FIXED_HS atoms); a failure writes nothing.
std::expected<ValenceLists, core::ValenceError> assign_valences(core::MolBuilder& mol);
// Same, into lists the caller keeps from call to call; on failure their
// contents are unspecified.
std::expected<void, core::ValenceError> assign_valences(core::MolBuilder& mol, ValenceLists& out);

}  // namespace quorix::chem
