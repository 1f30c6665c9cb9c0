#pragma once
// The sanitisation pipeline: twelve perception steps run in place, in a fixed
// order, stopping at the first failure without undoing earlier steps.
#include <expected>
#include <string>
#include <variant>

#include "chem/kekulize.hpp"
#include "core/builder.hpp"
#include "core/valence.hpp"

namespace quorix::chem {

struct SanitizeError {
    // A valence check failed (steps 3 and 8) or no Kekulé form was found (step 5).
    std::variant<core::ValenceError, KekulizeError> error;

    bool is_valence() const { return std::holds_alternative<core::ValenceError>(error); }
    bool is_kekulize() const { return std::holds_alternative<KekulizeError>(error); }

    // "价键计算失败:{}" or "kekulize 失败:{}" around the inner error's text.
    std::string to_string() const;
    bool operator==(const SanitizeError&) const = default;
};

// Turns a freshly read molecule into a perceived one. On failure the molecule
// keeps what the steps before the failing one changed; callers that need
// all-or-nothing sanitise a copy. Double-bond cis/trans is not perceived here.
std::expected<void, SanitizeError> sanitize(core::MolBuilder& mol);

}  // namespace quorix::chem
