#pragma once
// Character classes, digit runs and aromatic symbols shared by the text readers
// (SMILES, SMARTS, reaction SMARTS), so that each rule is written once.
#include <algorithm>
#include <cstdint>
#include <string_view>

#include "core/elements.hpp"

namespace quorix::io::lex {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_upper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
constexpr bool is_alpha(char c) { return is_upper(c) || is_lower(c); }
constexpr char to_upper(char c) { return is_lower(c) ? static_cast<char>(c - 'a' + 'A') : c; }

// Messages both SMILES and SMARTS readers give.
inline constexpr std::string_view PERCENT_NEEDS_TWO_DIGITS = "`%` 后需要两位数字";
inline constexpr std::string_view MAP_NO_DIGIT = "`:` 后缺少映射号";

// Whether `%` at `pos` is followed by the two digits of a label.
constexpr bool two_digit_label(std::string_view text, std::size_t pos, std::size_t end = std::string_view::npos) {
    end = std::min(end, text.size());
    return pos + 2 < end && is_digit(text[pos + 1]) && is_digit(text[pos + 2]);
}
constexpr std::uint32_t two_digit_value(std::string_view text, std::size_t pos) {
    return static_cast<std::uint32_t>((text[pos + 1] - '0') * 10 + (text[pos + 2] - '0'));
}

// The element that a two-letter aromatic symbol names (se, as, te, si), or none (0).
constexpr std::uint8_t aromatic_pair(char first, char second) {
    namespace E = core::Element;
    if (first == 's' && second == 'e') return E::Se;
    if (first == 'a' && second == 's') return E::As;
    if (first == 't' && second == 'e') return E::Te;
    if (first == 's' && second == 'i') return E::Si;
    return 0;
}

// The element that a one-letter aromatic symbol names (b, c, n, o, p, s), or none (0).
constexpr std::uint8_t aromatic_letter(char c) {
    namespace E = core::Element;
    switch (c) {
        case 'b': return E::B;
        case 'c': return E::C;
        case 'n': return E::N;
        case 'o': return E::O;
        case 'p': return E::P;
        case 's': return E::S;
        default: return 0;
    }
}

static_assert([] {
    const char letters[] = {'b', 'c', 'n', 'o', 'p', 's'};
    const char pairs[][2] = {{'s', 'e'}, {'a', 's'}, {'t', 'e'}, {'s', 'i'}};
    for (char c : letters)
        if (!core::Element::has_aromatic_symbol(aromatic_letter(c))) return false;
    for (const auto& p : pairs)
        if (!core::Element::has_aromatic_symbol(aromatic_pair(p[0], p[1]))) return false;
    return true;
}(), "the aromatic symbols read are the ones core names");

// A run of decimal digits: its value (saturating at 4294967295) and the offset
// just past it.
struct Digits {
    std::uint32_t value = 0;
    std::size_t end = 0;
    std::size_t count = 0;
    bool any = false;
};

// Reads digits of `text` from `pos`, stopping at `end` or after `max_digits`.
constexpr Digits read_digits(std::string_view text, std::size_t pos, std::size_t max_digits = std::string_view::npos,
                             std::size_t end = std::string_view::npos) {
    Digits d;
    end = std::min(end, text.size());
    std::uint64_t v = 0;
    d.end = pos;
    while (d.end < end && d.count < max_digits && is_digit(text[d.end])) {
        v = std::min<std::uint64_t>(v * 10 + static_cast<std::uint64_t>(text[d.end] - '0'), 0xFFFFFFFFull);
        ++d.end;
        ++d.count;
    }
    d.value = static_cast<std::uint32_t>(v);
    d.any = d.count > 0;
    return d;
}

}  // namespace quorix::io::lex
