#pragma once
#include <expected>
#include <string_view>
#include <vector>

#include "io/error.hpp"
#include "io/smarts/mol.hpp"

namespace quorix::io {

// A reaction read from reactant, agent and product parts separated by `>`.
struct ReactionTemplates {
    std::vector<Query> reactants;
    std::vector<Query> agents;  // empty when the text has only two parts
    std::vector<Query> products;
};

// Error offsets point into the whole reaction text, also for faults found
// inside one template.
std::expected<ReactionTemplates, ParseError> read_reaction_smarts(std::string_view text);

}  // namespace quorix::io
