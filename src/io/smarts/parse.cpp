#include "io/smarts/parse.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/elements.hpp"
#include "core/error.hpp"
#include "core/permutation.hpp"
#include "io/lexer.hpp"
#include "io/ring_pairs.hpp"

namespace quorix::io {
namespace {

using core::NONE;
using Tag = SmilesErrorTag;

constexpr std::string_view EXPR_END = "表达式意外结束";
constexpr std::string_view HASH_NO_NUMBER = "`#` 后缺少原子序数";
constexpr std::string_view UNKNOWN_PRIMITIVE = "无法识别的查询基元";
constexpr std::string_view DOLLAR_NO_PAREN = "`$` 后缺少 `(`";
constexpr std::string_view RECURSIVE_UNCLOSED = "递归 SMARTS 的 `(` 未闭合";
constexpr std::string_view BRACKET_RESIDUE = "方括号里有无法解析的残余";
constexpr std::string_view TWO_MAP_NUMBERS = "一个原子上写了两个不同的映射号";
constexpr std::string_view BOND_END = "键表达式意外结束";
constexpr std::string_view BOND_RESIDUE = "键表达式里有无法解析的残余";
// Keep the number in step with MAX_QUERY_NESTING.
constexpr std::string_view TOO_DEEP = "`!` 与 `$(` 的嵌套超过 64 层";
static_assert(MAX_QUERY_NESTING == 64);

constexpr std::uint32_t MAX_MAP_NUMBER = 65535;
constexpr std::uint32_t MAX_ISOTOPE = 65535;
constexpr std::uint32_t MAX_ATOMIC_NUMBER = 255;
constexpr std::uint32_t MAX_CHARGE = 2147483647;

// A fault with an offset into the whole text; turned into a ParseError once, at
// the top, so nested readers never copy the input.
struct Fail {
    SmilesErrorKind kind;
    std::size_t pos;
};
template <class T>
using Res = std::expected<T, Fail>;

std::unexpected<Fail> fail(SmilesErrorKind kind, std::size_t pos) { return std::unexpected(Fail{std::move(kind), pos}); }
std::unexpected<Fail> fail(Tag tag, std::size_t pos) { return fail(SmilesErrorKind::simple(tag), pos); }
std::unexpected<Fail> bad(std::string_view detail, std::size_t pos) {
    return fail(SmilesErrorKind::bad_bracket_atom(detail), pos);
}

using lex::is_alpha;
using lex::is_digit;
using lex::is_lower;
using lex::is_upper;

std::string utf8(char32_t c) {
    std::string out;
    append_utf8(out, c);
    return out;
}

std::unexpected<Fail> unexpected_char(std::string_view t, std::size_t p) {
    return fail(SmilesErrorKind::unexpected_char(char_at(t, p)), p);
}

using lex::Digits;

Digits read_digits(std::string_view t, std::size_t p, std::size_t e) {
    return lex::read_digits(t, p, std::string_view::npos, e);
}

Res<Query> read_range(std::string_view t, std::size_t b, std::size_t e, unsigned level);

// The `!` run at `p`, moving `p` past it; each one nests a level deeper.
Res<unsigned> count_nots(std::string_view t, std::size_t& p, std::size_t e, unsigned level) {
    unsigned nots = 0;
    while (p < e && t[p] == '!') {
        if (level + nots + 1 > MAX_QUERY_NESTING) return bad(TOO_DEEP, p);
        ++nots;
        ++p;
    }
    return nots;
}

std::uint32_t one_or_list(ExprTree<AtomPrimitive>& tree, ExprKind kind, const std::vector<std::uint32_t>& units) {
    return units.size() == 1 ? units.front() : tree.add_list(kind, units);
}
std::uint32_t one_or_list(ExprTree<BondPrimitive>& tree, ExprKind kind, const std::vector<std::uint32_t>& units) {
    return units.size() == 1 ? units.front() : tree.add_list(kind, units);
}

// ---- bracket atoms ----------------------------------------------------------

// [H], [2H], [H+], [H:1] and the like: the hydrogen atom itself, not the
// hydrogen-count primitive. Anything else returns none and is read generally.
std::optional<AtomExpr> hydrogen_form(std::string_view t, std::size_t b, std::size_t e) {
    std::size_t p = b;
    const Digits iso = read_digits(t, p, e);
    if (iso.any && iso.value > MAX_ISOTOPE) return std::nullopt;
    p = iso.end;
    if (p >= e || t[p] != 'H') return std::nullopt;
    ++p;
    std::optional<std::int32_t> charge;
    if (p < e && (t[p] == '+' || t[p] == '-')) {
        const char sign = t[p];
        std::uint64_t n;
        if (p + 1 < e && t[p + 1] == sign) {
            std::size_t q = p;
            while (q < e && t[q] == sign) ++q;
            n = std::min<std::uint64_t>(q - p, MAX_CHARGE);
            p = q;
        } else {
            const Digits d = read_digits(t, p + 1, e);
            if (d.any && d.value > MAX_CHARGE) return std::nullopt;
            n = d.any ? d.value : 1;
            p = d.end;
        }
        charge = static_cast<std::int32_t>(sign == '-' ? -static_cast<std::int64_t>(n) : static_cast<std::int64_t>(n));
    }
    std::optional<std::uint32_t> map;
    if (p < e && t[p] == ':') {
        const Digits d = read_digits(t, p + 1, e);
        if (!d.any || d.value > MAX_MAP_NUMBER) return std::nullopt;
        map = d.value;
        p = d.end;
    }
    if (p != e) return std::nullopt;

    AtomExpr expr;
    std::vector<std::uint32_t> members;
    if (iso.any) members.push_back(expr.add_primitive(AtomPrimitive::number(AtomPrimitive::Isotope, iso.value)));
    members.push_back(expr.add_primitive(AtomPrimitive::element(1, AtomPrimitive::EITHER)));
    if (charge) members.push_back(expr.add_primitive(AtomPrimitive::formal_charge(*charge)));
    if (map) members.push_back(expr.add_primitive(AtomPrimitive::number(AtomPrimitive::MapNumber, *map)));
    expr.set_root(one_or_list(expr, ExprKind::And, members));
    return expr;
}

bool starts_atom_unit(char c) {
    switch (c) {
        case '!': case '#': case '$': case '*': case '+': case '-': case ':': case '@': return true;
        default: return is_digit(c) || is_alpha(c);
    }
}

// The general bracket grammar: `;` (loosest), `,`, then `&` or juxtaposition,
// then `!`. Positions are offsets into the whole text.
class AtomParser {
public:
    AtomParser(std::string_view t, std::size_t b, std::size_t e, unsigned level)
        : t_(t), b_(b), p_(b), e_(e), level_(level) {}

    Res<AtomExpr> parse() {
        auto root = bracket_level();
        if (!root) return std::unexpected(std::move(root.error()));
        if (p_ < e_) return bad(BRACKET_RESIDUE, p_);
        expr_.set_root(*root);
        if (auto map = expr_.extract_map_number()) {
            if (expr_.contains_map_number()) return bad(TWO_MAP_NUMBERS, b_);
            const std::uint32_t rest = expr_.take_root();
            const std::uint32_t m = expr_.add_primitive(AtomPrimitive::number(AtomPrimitive::MapNumber, *map));
            const auto& r = expr_.node(rest);
            if (r.kind == ExprKind::And && r.num_children == 0) {
                expr_.set_root(m);
            } else {
                const std::uint32_t both[2] = {rest, m};
                expr_.set_root(expr_.add_list(ExprKind::And, both));
            }
        }
        return std::move(expr_);
    }

private:
    // Members of the next tighter level joined by `separator` into one `kind` list.
    template <class Next>
    Res<std::uint32_t> separated_level(char separator, ExprKind kind, Next next) {
        std::vector<std::uint32_t> units;
        for (;;) {
            auto u = (this->*next)();
            if (!u) return u;
            units.push_back(*u);
            if (p_ < e_ && t_[p_] == separator) {
                ++p_;
                continue;
            }
            return one_or_list(expr_, kind, units);
        }
    }

    Res<std::uint32_t> bracket_level() { return separated_level(';', ExprKind::And, &AtomParser::or_level); }
    Res<std::uint32_t> or_level() { return separated_level(',', ExprKind::Or, &AtomParser::and_level); }

    Res<std::uint32_t> and_level() {
        std::vector<std::uint32_t> units;
        for (;;) {
            auto u = unit();
            if (!u) return u;
            units.push_back(*u);
            if (p_ >= e_) break;
            if (t_[p_] == '&') {
                ++p_;
                continue;
            }
            if (!starts_atom_unit(t_[p_])) break;
        }
        return one_or_list(expr_, ExprKind::And, units);
    }

    Res<std::uint32_t> unit() {
        const auto counted_nots = count_nots(t_, p_, e_, level_);
        if (!counted_nots) return std::unexpected(counted_nots.error());
        const unsigned nots = *counted_nots;
        auto n = primitive(nots);
        if (!n) return n;
        std::uint32_t node = *n;
        for (unsigned k = 0; k < nots; ++k) node = expr_.add_not(node);
        return node;
    }

    std::uint32_t prim(const AtomPrimitive& p, std::size_t len) {
        p_ += len;
        return expr_.add_primitive(p);
    }

    Res<std::uint32_t> primitive(unsigned nots) {
        if (p_ >= e_) return bad(EXPR_END, e_);
        const std::size_t p = p_;
        const char c = t_[p];
        if (is_alpha(c) && p + 1 < e_) {
            const char d = t_[p + 1];
            if (const std::uint8_t z = lex::aromatic_pair(c, d); z != 0)
                return prim(AtomPrimitive::element(z, AtomPrimitive::AROMATIC_ONLY), 2);
            if (is_upper(c) && is_lower(d))
                if (auto z = core::Element::from_symbol(t_.substr(p, 2)))
                    return prim(AtomPrimitive::element(*z, AtomPrimitive::ALIPHATIC_ONLY), 2);
        }
        switch (c) {
            case '#': {
                const Digits d = read_digits(t_, p + 1, e_);
                if (!d.any) return bad(HASH_NO_NUMBER, p + 1);
                if (d.value > MAX_ATOMIC_NUMBER) return fail(Tag::NumberOutOfRange, d.end);
                return prim(AtomPrimitive::element(static_cast<std::uint8_t>(d.value), AtomPrimitive::EITHER),
                            d.end - p);
            }
            case '$': return recursive(nots);
            case '*': return prim(AtomPrimitive::of(AtomPrimitive::Any), 1);
            case 'a': return prim(AtomPrimitive::of(AtomPrimitive::Aromatic), 1);
            case 'A': return prim(AtomPrimitive::of(AtomPrimitive::Aliphatic), 1);
            case '+':
            case '-': {
                std::size_t q = p + 1;
                std::uint64_t n = 1;
                if (q < e_ && t_[q] == c) {
                    while (q < e_ && t_[q] == c) ++q;
                    n = std::min<std::uint64_t>(q - p, MAX_CHARGE);
                } else {
                    const Digits d = read_digits(t_, q, e_);
                    if (d.any) n = std::min<std::uint64_t>(d.value, MAX_CHARGE);
                    q = d.end;
                }
                const auto v = static_cast<std::int64_t>(n);
                return prim(AtomPrimitive::formal_charge(static_cast<std::int32_t>(c == '-' ? -v : v)), q - p);
            }
            case ':': {
                const Digits d = read_digits(t_, p + 1, e_);
                if (!d.any) return bad(lex::MAP_NO_DIGIT, p + 1);
                // A map number is never clamped: two distinct large numbers would
                // otherwise pair the wrong template atoms.
                if (d.value > MAX_MAP_NUMBER) return fail(Tag::NumberOutOfRange, d.end);
                return prim(AtomPrimitive::number(AtomPrimitive::MapNumber, d.value), d.end - p);
            }
            case '@':
                if (p + 1 < e_ && t_[p + 1] == '@') return prim(AtomPrimitive::chiral(1), 2);
                return prim(AtomPrimitive::chiral(2), 1);
            case 'D': return counted(AtomPrimitive::Degree);
            case 'H': return counted(AtomPrimitive::TotalH);
            case 'X': return counted(AtomPrimitive::Connectivity);
            case 'h': return counted(AtomPrimitive::ImplicitH);
            case 'v': return counted(AtomPrimitive::Valence);
            case 'R':
            case 'x': {
                const Digits d = read_digits(t_, p + 1, e_);
                const auto kind = c == 'R' ? AtomPrimitive::RingCount : AtomPrimitive::RingConnectivity;
                return prim(AtomPrimitive::ring(kind, d.any, d.value), d.end - p);
            }
            case 'r': {
                const Digits d = read_digits(t_, p + 1, e_);
                if (d.any) return prim(AtomPrimitive::ring(AtomPrimitive::RingSize, true, d.value), d.end - p);
                return prim(AtomPrimitive::ring(AtomPrimitive::RingCount, false, 0), 1);
            }
            default: break;
        }
        if (is_digit(c)) {
            const Digits d = read_digits(t_, p, e_);
            if (!d.any) internal_error("已 peek 到数字");
            return prim(AtomPrimitive::number(AtomPrimitive::Isotope, std::min(d.value, MAX_ISOTOPE)), d.end - p);
        }
        if (is_alpha(c)) {
            const char upper = lex::to_upper(c);
            const auto z = core::Element::from_symbol(std::string_view(&upper, 1));
            if (!z) return fail(SmilesErrorKind::unknown_element(t_.substr(p, 1)), p);
            return prim(AtomPrimitive::element(*z, is_lower(c) ? AtomPrimitive::AROMATIC_ONLY
                                                               : AtomPrimitive::ALIPHATIC_ONLY),
                        1);
        }
        return bad(UNKNOWN_PRIMITIVE, p);
    }

    std::uint32_t counted(AtomPrimitive::Kind kind) {
        const Digits d = read_digits(t_, p_ + 1, e_);
        const std::size_t len = d.end - p_;
        return prim(AtomPrimitive::number(kind, d.any ? d.value : 1), len);
    }

    Res<std::uint32_t> recursive(unsigned nots) {
        const std::size_t p = p_;
        if (p + 1 >= e_ || t_[p + 1] != '(') return bad(DOLLAR_NO_PAREN, p + 1);
        const unsigned level = level_ + nots + 1;
        if (level > MAX_QUERY_NESTING) return bad(TOO_DEEP, p);
        std::size_t depth = 0, close = NONE;
        for (std::size_t q = p + 1; q < e_; ++q) {
            if (t_[q] == '(') {
                ++depth;
            } else if (t_[q] == ')' && --depth == 0) {
                close = q;
                break;
            }
        }
        if (close == NONE) return bad(RECURSIVE_UNCLOSED, p);
        auto sub = read_range(t_, p + 2, close, level);
        if (!sub) return std::unexpected(std::move(sub.error()));
        p_ = close + 1;
        return expr_.add_recursive(std::move(*sub));
    }

    std::string_view t_;
    std::size_t b_, p_, e_;
    unsigned level_;
    AtomExpr expr_;
};

// ---- bond texts -------------------------------------------------------------

bool starts_bond_unit(char c) {
    switch (c) {
        case '!': case '#': case '$': case '-': case '/': case ':': case '<': case '=': case '@': case '\\':
        case '~': return true;
        default: return false;
    }
}

bool in_bond_run(char c) { return starts_bond_unit(c) || c == '&' || c == ',' || c == ';'; }

class BondParser {
public:
    BondParser(std::string_view t, std::size_t b, std::size_t e, unsigned level) : t_(t), p_(b), e_(e), level_(level) {}

    Res<BondExpr> parse() {
        auto root = list(0);
        if (!root) return std::unexpected(std::move(root.error()));
        if (p_ < e_) return bad(BOND_RESIDUE, p_);
        expr_.set_root(*root);
        return std::move(expr_);
    }

private:
    // Level 0 joins by `;` into And, level 1 by `,` into Or, level 2 by `&` or
    // juxtaposition into And.
    Res<std::uint32_t> list(int lvl) {
        std::vector<std::uint32_t> units;
        for (;;) {
            auto u = lvl == 2 ? unit() : list(lvl + 1);
            if (!u) return u;
            units.push_back(*u);
            if (p_ >= e_) break;
            const char c = t_[p_];
            if (lvl == 0 && c == ';') {
                ++p_;
            } else if (lvl == 1 && c == ',') {
                ++p_;
            } else if (lvl == 2 && c == '&') {
                ++p_;
            } else if (!(lvl == 2 && starts_bond_unit(c))) {
                break;
            }
        }
        return one_or_list(expr_, lvl == 1 ? ExprKind::Or : ExprKind::And, units);
    }

    Res<std::uint32_t> unit() {
        const auto counted_nots = count_nots(t_, p_, e_, level_);
        if (!counted_nots) return std::unexpected(counted_nots.error());
        const unsigned nots = *counted_nots;
        auto n = primitive();
        if (!n) return n;
        std::uint32_t node = *n;
        for (unsigned k = 0; k < nots; ++k) node = expr_.add_not(node);
        return node;
    }

    Res<std::uint32_t> primitive() {
        if (p_ >= e_) return bad(BOND_END, e_);
        const std::size_t p = p_;
        const bool has_next = p + 1 < e_;
        BondPrimitive prim;
        std::size_t len = 1;
        switch (t_[p]) {
            case '-':
                if (has_next && t_[p + 1] == '>') {
                    prim = BondPrimitive::Dative;
                    len = 2;
                } else {
                    prim = BondPrimitive::Single;
                }
                break;
            case '<':
                if (!has_next || t_[p + 1] != '-') return unexpected_char(t_, p);
                prim = BondPrimitive::DativeReversed;
                len = 2;
                break;
            case '=': prim = BondPrimitive::Double; break;
            case '#': prim = BondPrimitive::Triple; break;
            case '$': prim = BondPrimitive::Quadruple; break;
            case ':': prim = BondPrimitive::Aromatic; break;
            case '@': prim = BondPrimitive::Ring; break;
            case '/': prim = BondPrimitive::Up; break;
            case '\\': prim = BondPrimitive::Down; break;
            case '~': prim = BondPrimitive::Any; break;
            default: return unexpected_char(t_, p);
        }
        p_ += len;
        return expr_.add_primitive(prim);
    }

    std::string_view t_;
    std::size_t p_, e_;
    unsigned level_;
    BondExpr expr_;
};

// ---- the graph --------------------------------------------------------------

struct OpenRing {
    bool open = false;
    std::uint32_t atom = NONE;
    std::optional<BondExpr> bond;
    std::size_t offset = 0;
    std::uint32_t serial = 0;
};

struct RingBond {
    BondExpr expr;
    std::uint32_t label, seq, begin, end, serial;
};

struct Pending {
    BondExpr expr;
    std::size_t offset;
};

struct RingMark {
    std::uint32_t atom, serial;
};

class Reader {
public:
    Reader(std::string_view t, std::size_t b, std::size_t e, unsigned level,
           std::vector<std::size_t>* atom_offsets = nullptr)
        : t_(t), b_(b), e_(e), level_(level), atom_offsets_(atom_offsets) {}

    Res<Query> read() {
        if (b_ == e_) return fail(Tag::EmptySmiles, b_);
        // Real queries spend about two characters per atom and per bond; the cap
        // keeps deeply nested groups from each reserving for the whole text.
        const std::size_t guess = std::min<std::size_t>((e_ - b_) / 2 + 1, 256);
        q_.graph = core::MolBuilder::with_capacity(guess, guess);
        q_.atom_exprs.reserve(guess);
        q_.bond_exprs.reserve(guess);
        starts_.reserve(guess);
        std::size_t p = b_;
        while (p < e_) {
            auto next = step(p);
            if (!next) return std::unexpected(std::move(next.error()));
            p = *next;
        }
        if (pending_) return fail(Tag::BondWithoutAtom, pending_->offset);
        if (!branches_.empty()) return fail(Tag::UnbalancedParens, e_);
        const OpenRing* earliest = nullptr;
        std::uint32_t earliest_label = 0;
        for (std::uint32_t label = 0; label < rings_.size(); ++label) {
            const OpenRing& r = rings_[label];
            if (r.open && (!earliest || r.offset < earliest->offset)) {
                earliest = &r;
                earliest_label = label;
            }
        }
        if (earliest) return fail(SmilesErrorKind::ring(Tag::UnclosedRing, earliest_label), earliest->offset);
        if (q_.num_atoms() == 0) return fail(Tag::EmptySmiles, b_);
        add_ring_bonds();
        normalise_chirality();
        return std::move(q_);
    }

private:
    // Reads one token at p; returns the offset after it.
    Res<std::size_t> step(std::size_t p) {
        const char c = t_[p];
        switch (c) {
            case '.':
                if (pending_) return fail(Tag::BondWithoutAtom, pending_->offset);
                current_ = NONE;
                return p + 1;
            case '(':
                if (current_ == NONE) return fail(Tag::UnbalancedParens, p);
                branches_.push_back({current_, q_.num_atoms()});
                return p + 1;
            case ')': {
                if (branches_.empty()) return fail(Tag::UnbalancedParens, p);
                const auto [atom, count] = branches_.back();
                branches_.pop_back();
                if (count == q_.num_atoms()) return fail(Tag::EmptyBranch, p);
                if (pending_) return fail(Tag::BondWithoutAtom, pending_->offset);
                current_ = atom;
                return p + 1;
            }
            case '[': return bracket_atom(p);
            case '%': {
                if (!lex::two_digit_label(t_, p, e_)) return bad(lex::PERCENT_NEEDS_TWO_DIGITS, p + 1);
                const auto label = lex::two_digit_value(t_, p);
                if (auto r = ring_closure(label, p); !r) return std::unexpected(std::move(r.error()));
                return p + 3;
            }
            default: break;
        }
        if (is_digit(c)) {
            if (auto r = ring_closure(static_cast<std::uint32_t>(c - '0'), p); !r)
                return std::unexpected(std::move(r.error()));
            return p + 1;
        }
        if (starts_bond_unit(c)) {
            if (pending_) return fail(Tag::BondWithoutAtom, p);
            std::size_t q = p;
            while (q < e_ && (in_bond_run(t_[q]) || (t_[q] == '>' && t_[q - 1] == '-'))) ++q;
            auto expr = BondParser(t_, p, q, level_).parse();
            if (!expr) return std::unexpected(std::move(expr.error()));
            pending_ = Pending{std::move(*expr), p};
            return q;
        }
        return plain_atom(p);
    }

    Res<std::size_t> plain_atom(std::size_t p) {
        const char c = t_[p];
        const char next = p + 1 < e_ ? t_[p + 1] : '\0';
        AtomPrimitive prim;
        std::size_t len = 1;
        auto aliphatic = [](std::uint8_t z) { return AtomPrimitive::element(z, AtomPrimitive::ALIPHATIC_ONLY); };
        auto aromatic = [](std::uint8_t z) { return AtomPrimitive::element(z, AtomPrimitive::AROMATIC_ONLY); };
        switch (c) {
            case '*': prim = AtomPrimitive::of(AtomPrimitive::Any); break;
            case 'A': prim = AtomPrimitive::of(AtomPrimitive::Aliphatic); break;
            case 'a': prim = AtomPrimitive::of(AtomPrimitive::Aromatic); break;
            case 'B':
                prim = aliphatic(next == 'r' ? 35 : 5);
                len = next == 'r' ? 2 : 1;
                break;
            case 'C':
                prim = aliphatic(next == 'l' ? 17 : 6);
                len = next == 'l' ? 2 : 1;
                break;
            case 'N': prim = aliphatic(7); break;
            case 'O': prim = aliphatic(8); break;
            case 'P': prim = aliphatic(15); break;
            case 'S': prim = aliphatic(16); break;
            case 'F': prim = aliphatic(9); break;
            case 'I': prim = aliphatic(53); break;
            case 'b': prim = aromatic(5); break;
            case 'c': prim = aromatic(6); break;
            case 'n': prim = aromatic(7); break;
            case 'o': prim = aromatic(8); break;
            case 'p': prim = aromatic(15); break;
            case 's': prim = aromatic(16); break;
            default: return fail(SmilesErrorKind::unknown_element(utf8(char_at(t_, p))), p);
        }
        if (auto r = add_atom(AtomExpr::of(prim), p); !r) return std::unexpected(std::move(r.error()));
        return p + len;
    }

    Res<std::size_t> bracket_atom(std::size_t p) {
        std::size_t depth = 0, close = NONE;
        for (std::size_t q = p; q < e_; ++q) {
            if (t_[q] == '[') {
                ++depth;
            } else if (t_[q] == ']' && --depth == 0) {
                close = q;
                break;
            }
        }
        if (close == NONE) return fail(Tag::UnexpectedEnd, e_);
        std::optional<AtomExpr> expr = hydrogen_form(t_, p + 1, close);
        if (!expr) {
            auto general = AtomParser(t_, p + 1, close, level_).parse();
            if (!general) return std::unexpected(std::move(general.error()));
            expr = std::move(*general);
        }
        if (auto r = add_atom(std::move(*expr), p); !r) return std::unexpected(std::move(r.error()));
        return close + 1;
    }

    Res<void> add_atom(AtomExpr expr, std::size_t offset) {
        const std::uint32_t a = q_.graph.add_atom(core::Atom{});
        if (atom_offsets_) atom_offsets_->push_back(offset);
        q_.atom_exprs.push_back(std::move(expr));
        starts_.push_back(current_ == NONE);
        if (current_ != NONE) {
            core::Bond bond;
            bond.begin = current_;
            bond.end = a;
            q_.graph.push_bond(bond);
            q_.bond_exprs.push_back(pending_ ? std::move(pending_->expr) : BondExpr::default_bond());
        } else if (pending_) {
            return fail(Tag::BondWithoutAtom, pending_->offset);
        }
        pending_.reset();
        current_ = a;
        return {};
    }

    // The chain bond between a and b, if any, is the parent bond of one of them,
    // which is that atom's first half-edge while ring bonds are still held back.
    bool chain_bonded(std::uint32_t a, std::uint32_t b) const {
        return first_neighbor(a) == b || first_neighbor(b) == a;
    }
    std::uint32_t first_neighbor(std::uint32_t atom) const {
        const std::uint32_t h = q_.graph.first_half_edge[atom];
        if (h == NONE) return NONE;
        const core::Bond& bond = q_.graph.bonds[h >> 1];
        return (h & 1u) ? bond.begin : bond.end;
    }

    Res<void> ring_closure(std::uint32_t label, std::size_t p) {
        std::optional<BondExpr> taken;
        if (pending_) {
            taken = std::move(pending_->expr);
            pending_.reset();
        }
        if (current_ == NONE) return unexpected_char(t_, p);
        if (rings_.empty()) rings_.resize(100);  // most queries have no ring, most groups none
        OpenRing& r = rings_[label];
        if (!r.open) {
            r.open = true;
            r.atom = current_;
            r.bond = std::move(taken);
            r.offset = p;
            r.serial = serial_++;
            marks_.push_back({current_, r.serial});
            return {};
        }
        if (r.atom == current_) return fail(SmilesErrorKind::ring(Tag::RingSelfLoop, label), p);
        // A second bond between two atoms is refused as the SMILES reader refuses it:
        // a product built from it would be a text that reader cannot read.
        if (chain_bonded(r.atom, current_) || ring_pairs_.contains<RingBond>(ring_bonds_, r.atom, current_))
            return fail(SmilesErrorKind::ring(Tag::DuplicateRingBond, label), p);
        if (r.bond && taken && !r.bond->eq(*taken))
            return fail(SmilesErrorKind::ring(Tag::ConflictingRingBond, label), p);
        RingBond rb{BondExpr{}, label, static_cast<std::uint32_t>(ring_bonds_.size()), 0, 0, r.serial};
        if (r.bond) {
            rb.expr = std::move(*r.bond);
            rb.begin = r.atom;
            rb.end = current_;
        } else {
            rb.expr = taken ? std::move(*taken) : BondExpr::default_bond();
            rb.begin = current_;
            rb.end = r.atom;
        }
        ring_bonds_.push_back(std::move(rb));
        ring_pairs_.added<RingBond>(ring_bonds_);
        marks_.push_back({current_, r.serial});
        r.open = false;
        r.bond.reset();
        return {};
    }

    void add_ring_bonds() {
        std::stable_sort(ring_bonds_.begin(), ring_bonds_.end(),
                         [](const RingBond& x, const RingBond& y) { return x.label < y.label; });
        bond_of_serial_.assign(serial_, NONE);
        for (RingBond& rb : ring_bonds_) {
            core::Bond bond;
            bond.begin = rb.begin;
            bond.end = rb.end;
            at(bond_of_serial_, rb.serial) = q_.graph.push_bond(bond);
            q_.bond_exprs.push_back(std::move(rb.expr));
        }
    }

    // Rewrites each `@`/`@@` from the order in which neighbours were written to
    // the stored (half-edge) order, an unwritten fourth neighbour counted last.
    void normalise_chirality() {
        // Ring closures grouped by atom, text order kept within each atom.
        const std::uint32_t n = q_.num_atoms();
        std::vector<std::uint32_t> start(n + 1, 0), ring_of(marks_.size());
        for (const RingMark& m : marks_) ++start[m.atom + 1];
        for (std::uint32_t a = 0; a < n; ++a) start[a + 1] += start[a];
        {
            std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
            for (const RingMark& m : marks_) ring_of[fill[m.atom]++] = at(bond_of_serial_, m.serial);
        }
        // Chain bonds come first, so a bond index tells which kind it is.
        const std::uint32_t num_chain = q_.num_bonds() - static_cast<std::uint32_t>(ring_bonds_.size());

        std::vector<std::uint32_t> stored, written;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> chain;  // (other atom, bond)
        for (std::uint32_t a = 0; a < n; ++a) {
            AtomExpr& expr = q_.atom_exprs[a];
            const std::uint8_t tag = expr.find_chirality();
            if (tag != 1 && tag != 2) continue;
            const std::span<const std::uint32_t> ring(ring_of.data() + start[a], start[a + 1] - start[a]);
            stored.clear();
            written.clear();
            chain.clear();
            for (core::Neighbor nb : q_.graph.neighbors(a)) {
                stored.push_back(nb.bond);
                if (nb.bond < num_chain) chain.push_back({nb.atom, nb.bond});
            }
            std::stable_sort(chain.begin(), chain.end(),
                             [](const auto& x, const auto& y) { return x.first < y.first; });
            for (const auto& [other, bond] : chain)
                if (other < a) written.push_back(bond);
            written.insert(written.end(), ring.begin(), ring.end());
            for (const auto& [other, bond] : chain)
                if (other > a) written.push_back(bond);
            if (written.size() != stored.size()) continue;
            const bool odd = core::permutation_parity(written, stored) == 1;
            bool mirror = odd;
            if (stored.size() == 3) {
                const auto h = expr.find_h_count();
                if (h == 1u) {
                    mirror = starts_[a] ? !odd : odd;
                } else {
                    const bool multiple = std::any_of(stored.begin(), stored.end(), [&](std::uint32_t b) {
                        return q_.bond_exprs[b].requires_multiple();
                    });
                    if (ring.size() == 1 && !multiple) mirror = !odd;
                }
            }
            if (mirror) expr.mirror_chirality();
        }
    }

    std::string_view t_;
    std::size_t b_, e_;
    unsigned level_;
    Query q_;
    std::uint32_t current_ = NONE;
    std::optional<Pending> pending_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> branches_;  // (atom at `(`, atom count then)
    std::vector<OpenRing> rings_;  // by label 0 to 99, made on first use
    std::uint32_t serial_ = 0;
    std::vector<RingMark> marks_;  // ring closures per atom, in text order
    std::vector<RingBond> ring_bonds_;
    RingPairs ring_pairs_;
    std::vector<std::uint32_t> bond_of_serial_;
    std::vector<bool> starts_;  // per atom: first atom of a component
    std::vector<std::size_t>* atom_offsets_;  // filled only when asked for
};

Res<Query> read_range(std::string_view t, std::size_t b, std::size_t e, unsigned level) {
    return Reader(t, b, e, level).read();
}

}  // namespace

std::expected<Query, ParseError> read_smarts(std::string_view text) {
    auto q = read_range(text, 0, text.size(), 0);
    if (!q) return std::unexpected(ParseError::make(std::move(q.error().kind), q.error().pos, text));
    return std::move(*q);
}

std::expected<Query, ParseError> read_smarts(std::string_view text, std::vector<std::size_t>& atom_offsets) {
    atom_offsets.clear();
    auto q = Reader(text, 0, text.size(), 0, &atom_offsets).read();
    if (!q) return std::unexpected(ParseError::make(std::move(q.error().kind), q.error().pos, text));
    return std::move(*q);
}

}  // namespace quorix::io
