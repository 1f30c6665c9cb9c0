#include "io/error.hpp"

#include <algorithm>
#include <cstdio>

#include "core/error.hpp"

namespace quorix::io {

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

namespace {

// Decodes one UTF-8 sequence at `pos`; `len` receives the bytes consumed
// (1 for a malformed byte, which decodes as U+FFFD).
char32_t decode(std::string_view s, std::size_t pos, std::size_t& len) {
    const auto b0 = static_cast<unsigned char>(s[pos]);
    len = 1;
    if (b0 < 0x80) return b0;
    std::size_t need;
    char32_t c, min;
    if (b0 >= 0xC2 && b0 <= 0xDF) { need = 1; c = b0 & 0x1F; min = 0x80; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) { need = 2; c = b0 & 0x0F; min = 0x800; }
    else if (b0 >= 0xF0 && b0 <= 0xF4) { need = 3; c = b0 & 0x07; min = 0x10000; }
    else return 0xFFFD;
    if (pos + need >= s.size()) return 0xFFFD;
    for (std::size_t k = 1; k <= need; ++k) {
        const auto b = static_cast<unsigned char>(s[pos + k]);
        if ((b & 0xC0) != 0x80) return 0xFFFD;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
    len = need + 1;
    return c;
}

// Copies `bytes`, replacing each malformed byte by U+FFFD. `pos` is a byte offset
// into `bytes`; it is moved along with the text so that it keeps pointing at the
// same character of the copy.
std::string to_valid_utf8(std::string_view bytes, std::size_t& pos) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t mapped = 0;
    bool moved = false;
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t len;
        const char32_t c = decode(bytes, i, len);
        if (!moved && pos >= i && pos < i + len) {
            mapped = out.size() + (pos - i);
            moved = true;
        }
        if (c == 0xFFFD && len == 1) append_utf8(out, 0xFFFD);
        else out.append(bytes.substr(i, len));
        i += len;
    }
    if (!moved) mapped = out.size() + (pos - bytes.size());  // at or past the end
    pos = mapped;
    return out;
}

bool is_printable(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;
    // Separators other than the plain blank, format characters, private use and
    // non-characters are shown as escapes.
    switch (c) {
        case 0xA0: case 0xAD: case 0x61C: case 0x6DD: case 0x70F: case 0x1680: case 0x180E:
        case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000: case 0xFEFF:
            return false;
        default: break;
    }
    if (c >= 0x300 && c <= 0x36F) return false;  // combining marks
    if (c >= 0x600 && c <= 0x605) return false;
    if (c >= 0x2000 && c <= 0x200F) return false;
    if (c >= 0x202A && c <= 0x202E) return false;
    if (c >= 0x2060 && c <= 0x206F) return false;
    if (c >= 0xE000 && c <= 0xF8FF) return false;
    if (c >= 0xFDD0 && c <= 0xFDEF) return false;
    if (c >= 0xFFF9 && c <= 0xFFFB) return false;
    if ((c & 0xFFFE) == 0xFFFE) return false;
    if (c >= 0xE0000) return false;
    return true;
}

}  // namespace

char32_t char_at(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return 0xFFFD;
    std::size_t len;
    return decode(text, pos, len);
}

std::string char_literal(char32_t c) {
    std::string out = "'";
    switch (c) {
        case U'\\': out += "\\\\"; break;
        case U'\'': out += "\\'"; break;
        case U'\t': out += "\\t"; break;
        case U'\r': out += "\\r"; break;
        case U'\n': out += "\\n"; break;
        case U'\0': out += "\\0"; break;
        default:
            if (is_printable(c)) {
                append_utf8(out, c);
            } else {
                char buf[16];
                std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
                out += buf;
            }
    }
    out += '\'';
    return out;
}

namespace {

// Marks that extend the character before them; shown escaped so that a title
// beginning with one cannot fuse with the opening quote.
bool extends_grapheme(char32_t c) {
    return (c >= 0x483 && c <= 0x489) || (c >= 0x591 && c <= 0x5BD) || (c >= 0x610 && c <= 0x61A) ||
           (c >= 0x64B && c <= 0x65F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x1DC0 && c <= 0x1DFF) ||
           (c >= 0x20D0 && c <= 0x20FF) || (c >= 0x3099 && c <= 0x309A) || (c >= 0xFE00 && c <= 0xFE0F) ||
           (c >= 0xFE20 && c <= 0xFE2F);
}

}  // namespace

std::string string_literal(std::string_view text) {
    std::string out = "\"";
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t len;
        const char32_t c = decode(text, i, len);
        switch (c) {
            case U'\\': out += "\\\\"; break;
            case U'"': out += "\\\""; break;
            case U'\t': out += "\\t"; break;
            case U'\r': out += "\\r"; break;
            case U'\n': out += "\\n"; break;
            case U'\0': out += "\\0"; break;
            default:
                if (is_printable(c) && !extends_grapheme(c)) {
                    append_utf8(out, c);
                } else {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
                    out += buf;
                }
        }
        i += len;
    }
    out += '"';
    return out;
}

SmilesErrorKind SmilesErrorKind::unexpected_char(char32_t c) {
    SmilesErrorKind k;
    k.tag = SmilesErrorTag::UnexpectedChar;
    k.ch = c;
    return k;
}
SmilesErrorKind SmilesErrorKind::unknown_element(std::string_view letters) {
    SmilesErrorKind k;
    k.tag = SmilesErrorTag::UnknownElement;
    k.symbol = std::string(letters);
    return k;
}
SmilesErrorKind SmilesErrorKind::bad_bracket_atom(std::string_view constant_detail) {
    SmilesErrorKind k;
    k.tag = SmilesErrorTag::BadBracketAtom;
    k.detail = constant_detail;
    return k;
}
SmilesErrorKind SmilesErrorKind::ring(SmilesErrorTag tag, std::uint32_t label) {
    SmilesErrorKind k;
    k.tag = tag;
    k.label = label;
    return k;
}
SmilesErrorKind SmilesErrorKind::chiral_index(std::string_view cls, std::uint32_t index, std::uint32_t max) {
    SmilesErrorKind k;
    k.tag = SmilesErrorTag::ChiralIndexOutOfRange;
    k.chiral_class = cls;
    k.index = index;
    k.max = max;
    return k;
}

std::string SmilesErrorKind::to_string() const {
    const std::string l = std::to_string(label);
    switch (tag) {
        case SmilesErrorTag::EmptySmiles: return "空的 SMILES";
        case SmilesErrorTag::UnexpectedChar: return "意外的字符 " + char_literal(ch);
        case SmilesErrorTag::UnexpectedEnd: return "输入意外结束";
        case SmilesErrorTag::UnknownElement: return "无法识别的元素符号 " + symbol;
        case SmilesErrorTag::BadBracketAtom: return "方括号原子语法错误:" + std::string(detail);
        case SmilesErrorTag::UnbalancedParens: return "括号不匹配";
        case SmilesErrorTag::EmptyBranch: return "空的分支";
        case SmilesErrorTag::UnclosedRing: return "环闭合标号 " + l + " 未配对";
        case SmilesErrorTag::RingSelfLoop: return "环闭合标号 " + l + " 的两端是同一个原子";
        case SmilesErrorTag::DuplicateRingBond: return "环闭合标号 " + l + " 在同一对原子间重复";
        case SmilesErrorTag::ConflictingRingBond: return "环闭合标号 " + l + " 的两端指定了冲突的键级";
        case SmilesErrorTag::BondWithoutAtom: return "键符号后面缺少原子";
        case SmilesErrorTag::NumberOutOfRange: return "数值超出范围";
        case SmilesErrorTag::ChiralIndexOutOfRange: {
            const std::string cls(chiral_class);
            return "立体标记 @" + cls + std::to_string(index) + " 的序号超出范围,@" + cls + " 最大为 " +
                   std::to_string(max);
        }
    }
    return {};
}

ParseError ParseError::make(SmilesErrorKind kind, std::size_t pos, std::string_view input_bytes) {
    std::string input = to_valid_utf8(input_bytes, pos);
    return ParseError{std::move(input), std::move(kind), pos};
}

std::string ParseError::caret_view() const {
    const std::size_t p = pos < input.size() ? pos : input.size();
    if (p < input.size() && (static_cast<unsigned char>(input[p]) & 0xC0) == 0x80)
        internal_error("错误位置落在多字节字符内部");
    std::size_t columns = 0;
    for (std::size_t i = 0; i < p; ++i) {
        const auto b = static_cast<unsigned char>(input[i]);
        if (b < 0x80 || b > 0xBF) ++columns;
    }
    std::string out = input;
    out += '\n';
    out.append(columns, ' ');
    out += "^ ";
    out += kind.to_string();
    return out;
}

ParseError ParseError::rebased(std::string_view whole, std::size_t offset) const {
    // `pos` counts bytes of the cleaned sub-text; walk the same characters of
    // `whole` so that a replaced malformed byte still counts as one byte there.
    std::size_t i = std::min(offset, whole.size());
    std::size_t cleaned = 0;
    while (cleaned < pos && i < whole.size()) {
        std::size_t len;
        const char32_t c = decode(whole, i, len);
        cleaned += (c == 0xFFFD && len == 1) ? 3 : len;
        i += len;
    }
    if (cleaned < pos) i += pos - cleaned;
    return ParseError::make(kind, i, whole);
}

}  // namespace quorix::io
