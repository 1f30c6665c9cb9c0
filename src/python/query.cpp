// The Query class: one parsed SMARTS, matched against molecules.
#include <string>

#include "io/smarts/parse.hpp"
#include "match/matcher.hpp"
#include "match/props.hpp"
#include "python/classes.hpp"

namespace quorix::python {

namespace {

Result num_atoms(const io::Query& q) { return to_py_uint(q.atom_exprs.size()); }

constexpr const char* MATCH_POSITIONAL[] = {"mol"};
constexpr KeywordOnly MATCH_KEYWORDS[] = {{"uniquify", false}, {"max_matches", false}, {"use_chirality", false}};
constexpr ParamSpec MATCH_SPEC{"match", "Query", MATCH_POSITIONAL, 1, MATCH_KEYWORDS};

Result match(const io::Query& q, const Arguments& args) {
    // The molecule stays borrowed while the options convert: an in-place
    // operation reached from a conversion hook cannot run under the search.
    QX_TRY(auto mol, args.extract(0, borrow_shared<core::MolBuilder>));
    QX_TRY(const bool uniquify, args.extract_or(1, extract_flag, true));
    QX_TRY(const std::uint64_t max_matches, args.extract_or(2, extract_u64, std::uint64_t{0}));
    QX_TRY(const bool use_chirality, args.extract_or(3, extract_flag, true));
    // Recomputed on every call: the molecule may have changed in place since.
    const match::QueryProps props = match::compute_query_props(*mol, match::query_needs(q));
    const std::vector<match::Match> found =
        match::find_matches(q, *mol, props, match::MatchOptions{max_matches, uniquify, use_chirality});
    return list_from(found, [](const match::Match& m) { return indices_to_list(m); });
}

Result repr(const io::Query& q) { return to_py_str("<quorix.Query " + std::to_string(q.atom_exprs.size()) + " atoms>"); }

constexpr const char* MATCH_DOC =
    "match($self, mol, *, uniquify=True, max_matches=0, use_chirality=True)\n"
    "--\n"
    "\n"
    "找出这个查询在分子里的全部匹配。\n"
    "\n"
    "返回 `list[list[int]]`,每个内层列表按**查询原子顺序**给出对应的分子原子下标。\n"
    "\n"
    "每次调用都重新算一遍分子的查询性质(环成员数、最小环大小等)。**不缓存**:\n"
    "`sanitize()` 之类的操作会就地改分子,缓存一旦失效就会静默给出错答案,\n"
    "而那种错比多算一遍贵得多。要在同一个分子上匹配很多模式时,这一层\n"
    "目前还没有复用入口。";

// Not constexpr: a method with arguments goes in through a function-pointer cast.
const Member QUERY_MEMBERS[] = {
    property<&num_atoms>("num_atoms", "查询里的原子数。"),
    method<&match, MATCH_SPEC>(MATCH_DOC),
};

const ClassSpec QUERY_SPEC = class_spec<io::Query, &repr>("Query", "一个 SMARTS 查询。", QUERY_MEMBERS);

constexpr const char* PARSE_SMARTS_PARAMS[] = {"smarts"};
constexpr ParamSpec PARSE_SMARTS_SPEC{"parse_smarts", nullptr, PARSE_SMARTS_PARAMS, 1, {}};

Result parse_smarts(const Arguments& args) {
    QX_TRY(const std::string text, args.extract(0, extract_text));
    auto query = io::read_smarts(text);
    if (!query) return std::unexpected(lazy_value_error(query.error().caret_view()));
    return new_object(std::move(*query));
}

}  // namespace

ClassObject query_class{QUERY_SPEC};

PyMethodDef parse_smarts_def =
    function_def<&parse_smarts, PARSE_SMARTS_SPEC>("parse_smarts(smarts)\n--\n\n解析 SMARTS。");

}  // namespace quorix::python
