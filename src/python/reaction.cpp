// The Reaction class: one parsed reaction SMARTS (reactant, agent and product
// templates).
#include <string>

#include "io/smarts/reaction.hpp"
#include "python/classes.hpp"

namespace quorix::python {

namespace {

using io::ReactionTemplates;

Result num_reactant_templates(const ReactionTemplates& r) { return to_py_uint(r.reactants.size()); }

Result num_product_templates(const ReactionTemplates& r) { return to_py_uint(r.products.size()); }

// Agent templates are not shown.
Result repr(const ReactionTemplates& r) {
    return to_py_str("<quorix.Reaction " + std::to_string(r.reactants.size()) + " -> " +
                     std::to_string(r.products.size()) + ">");
}

// Member order: num_reactant_templates, num_product_templates, run,
// run_on_substrate; the two methods go in at their place with the reaction engine.
constexpr Member REACTION_MEMBERS[] = {
    property<&num_reactant_templates>("num_reactant_templates", "反应物模板的个数。调 `run` 时要给同样多的分子。"),
    property<&num_product_templates>("num_product_templates", "产物模板的个数。"),
};

constexpr ClassSpec REACTION_SPEC =
    class_spec<ReactionTemplates, &repr>("Reaction", "一条反应模板。", REACTION_MEMBERS);

constexpr const char* PARSE_REACTION_PARAMS[] = {"smarts"};
constexpr ParamSpec PARSE_REACTION_SPEC{"parse_reaction", nullptr, PARSE_REACTION_PARAMS, 1, {}};

Result parse_reaction(const Arguments& args) {
    QX_TRY(const std::string text, args.extract(0, extract_text));
    auto templates = io::read_reaction_smarts(text);
    if (!templates) return std::unexpected(lazy_value_error(templates.error().caret_view()));
    return new_object(std::move(*templates));
}

}  // namespace

ClassObject reaction_class{REACTION_SPEC};

PyMethodDef parse_reaction_def = function_def<&parse_reaction, PARSE_REACTION_SPEC>(
    "parse_reaction(smarts)\n--\n\n解析反应 SMARTS(`反应物>试剂>产物` 的三段式)。");

}  // namespace quorix::python
