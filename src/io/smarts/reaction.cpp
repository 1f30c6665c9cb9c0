#include "io/smarts/reaction.hpp"

#include <cstdint>

#include "io/smarts/parse.hpp"

namespace quorix::io {
namespace {

constexpr std::string_view UNCLOSED_BRACKET = "方括号未闭合";
constexpr std::string_view TOO_MANY_PARTS = "反应的 `>` 分段超过三段";
constexpr std::string_view NO_ARROW = "反应缺少 `>>`";

struct Range {
    std::size_t begin, end;
};

// A template wrapped whole in one pair of parentheses loses them, so (C.C) is
// one template with two components.
Range strip_parens(std::string_view t, Range r) {
    if (r.end - r.begin < 2 || t[r.begin] != '(' || t[r.end - 1] != ')') return r;
    std::int64_t brackets = 0, parens = 0;
    for (std::size_t i = r.begin; i < r.end; ++i) {
        const char c = t[i];
        if (c == '[') ++brackets;
        else if (c == ']') --brackets;
        else if (brackets == 0 && c == '(') ++parens;
        else if (brackets == 0 && c == ')' && --parens == 0) return i == r.end - 1 ? Range{r.begin + 1, r.end - 1} : r;
    }
    return r;
}

}  // namespace

std::expected<ReactionTemplates, ParseError> read_reaction_smarts(std::string_view text) {
    auto error = [&](SmilesErrorKind kind, std::size_t pos) {
        return std::unexpected(ParseError::make(std::move(kind), pos, text));
    };

    std::vector<std::vector<Range>> parts(1);
    std::int64_t brackets = 0, parens = 0;
    std::size_t start = 0;
    auto end_template = [&](std::size_t at) {
        if (at > start) parts.back().push_back(strip_parens(text, {start, at}));
        start = at + 1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '[') ++brackets;
        else if (c == ']') --brackets;
        else if (brackets == 0 && c == '(') ++parens;
        else if (brackets == 0 && c == ')') --parens;
        if (brackets != 0 || parens != 0) continue;
        if (c == '>' && (i == 0 || text[i - 1] != '-')) {
            end_template(i);
            parts.emplace_back();
        } else if (c == '.') {
            end_template(i);
        }
    }
    end_template(text.size());

    if (brackets != 0) return error(SmilesErrorKind::bad_bracket_atom(UNCLOSED_BRACKET), text.size());
    if (parens != 0) return error(SmilesErrorKind::simple(SmilesErrorTag::UnbalancedParens), text.size());
    if (parts.size() > 3) return error(SmilesErrorKind::bad_bracket_atom(TOO_MANY_PARTS), 0);
    if (parts.size() == 1) return error(SmilesErrorKind::bad_bracket_atom(NO_ARROW), 0);

    ReactionTemplates out;
    std::vector<Query>* lists[3] = {&out.reactants, &out.agents, &out.products};
    if (parts.size() == 2) lists[1] = &out.products;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        for (const Range& r : parts[k]) {
            auto q = read_smarts(text.substr(r.begin, r.end - r.begin));
            if (!q) return std::unexpected(q.error().rebased(text, r.begin));
            lists[k]->push_back(std::move(*q));
        }
    }
    return out;
}

}  // namespace quorix::io
