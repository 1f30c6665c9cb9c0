#include "io/smarts/reaction.hpp"

#include <cstdint>
#include <optional>
#include <span>

#include "core/elements.hpp"
#include "core/error.hpp"
#include "io/smarts/parse.hpp"

namespace quorix::io {
namespace {

constexpr std::string_view UNCLOSED_BRACKET = "方括号未闭合";
constexpr std::string_view TOO_MANY_PARTS = "反应的 `>` 分段超过三段";
constexpr std::string_view NO_ARROW = "反应缺少 `>>`";
constexpr std::string_view PRODUCT_ELEMENT = "产物模板的原子序数超过 118";
constexpr std::string_view PRODUCT_CHARGE = "产物模板的电荷超出 -128 到 127";
constexpr std::string_view PRODUCT_HYDROGENS = "产物模板的氢数超过 255";

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

// A template with the offset in the reaction text at which each of its atoms is
// written.
struct Read {
    Query query;
    std::vector<std::size_t> atom_offsets;
};

struct Fault {
    SmilesErrorKind kind;
    std::size_t pos;
};

// Values a product atom record cannot hold: written into it they would wrap.
std::optional<Fault> unstorable_product_value(std::span<const Read> products) {
    for (const Read& t : products)
        for (std::uint32_t i = 0; i < t.query.num_atoms(); ++i) {
            std::string_view detail;
            t.query.atom_exprs[i].for_each_in_and_lists([&](const AtomPrimitive& p) {
                if (!detail.empty()) return;
                if (p.kind == AtomPrimitive::Element && p.atomic_num >= core::NUM_ELEMENTS) detail = PRODUCT_ELEMENT;
                else if (p.kind == AtomPrimitive::Charge && (p.charge < -128 || p.charge > 127)) detail = PRODUCT_CHARGE;
                else if (p.kind == AtomPrimitive::TotalH && p.value > 255) detail = PRODUCT_HYDROGENS;
            });
            if (!detail.empty()) return Fault{SmilesErrorKind::bad_bracket_atom(detail), t.atom_offsets[i]};
        }
    return std::nullopt;
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

    std::vector<Read> read[3];
    std::vector<Read>* lists[3] = {&read[0], &read[1], &read[2]};
    if (parts.size() == 2) lists[1] = &read[2];
    for (std::size_t k = 0; k < parts.size(); ++k) {
        for (const Range& r : parts[k]) {
            Read t;
            auto q = read_smarts(text.substr(r.begin, r.end - r.begin), t.atom_offsets);
            if (!q) return std::unexpected(q.error().rebased(text, r.begin));
            t.query = std::move(*q);
            if (t.atom_offsets.size() != t.query.num_atoms()) internal_error("模板原子与其位置数不符");
            for (std::size_t& offset : t.atom_offsets) offset += r.begin;
            lists[k]->push_back(std::move(t));
        }
    }
    if (auto f = unstorable_product_value(read[2])) return error(std::move(f->kind), f->pos);

    ReactionTemplates out;
    std::vector<Query>* queries[3] = {&out.reactants, &out.agents, &out.products};
    for (std::size_t k = 0; k < 3; ++k)
        for (Read& t : read[k]) queries[k]->push_back(std::move(t.query));
    return out;
}

}  // namespace quorix::io
