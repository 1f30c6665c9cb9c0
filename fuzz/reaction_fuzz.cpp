// Reads arbitrary bytes as reaction SMARTS; every template that reads is walked.
#include <cstdint>
#include <string_view>

#include "io/smarts/reaction.hpp"
#include "smarts_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto r = quorix::io::read_reaction_smarts(text);
    if (!r) {
        quorix::fuzz::require(r.error().pos <= r.error().input.size());
        (void)r.error().caret_view();
        return 0;
    }
    for (const auto* list : {&r->reactants, &r->agents, &r->products})
        for (const quorix::io::Query& q : *list) quorix::fuzz::exercise(q);
    return 0;
}
