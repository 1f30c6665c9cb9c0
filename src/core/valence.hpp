#pragma once
// Explicit valence and implicit hydrogens from bonds and the element table.
#include <cstdint>
#include <expected>
#include <string>

#include "core/builder.hpp"

namespace quorix::core {

enum class ValenceErrorKind : std::uint8_t {
    ExplicitValenceOutOfRange = 0,
    AromaticValenceNotAllowed = 1,
    UnreasonableCharge = 2,
};

struct ValenceError {
    std::string symbol;
    std::uint32_t atom = 0;
    std::int32_t explicit_valence = 0;
    ValenceErrorKind kind = ValenceErrorKind::ExplicitValenceOutOfRange;

    // "原子 #{}({}):{},显式价 = {}"
    std::string to_string() const;
    bool operator==(const ValenceError&) const = default;
};

std::string_view kind_text(ValenceErrorKind kind);

bool is_aromatic_atom(const MolBuilder& mol, std::uint32_t atom);
std::expected<std::int32_t, ValenceError> explicit_valence(const MolBuilder& mol, std::uint32_t atom,
                                                           bool strict, float extra_hs);
std::expected<std::uint8_t, ValenceError> implicit_hs(const MolBuilder& mol, std::uint32_t atom,
                                                      std::int32_t valence, bool strict);

}  // namespace quorix::core
