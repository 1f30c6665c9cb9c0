// V2000 reading and SDF records. Columns are byte offsets into a line; a column
// boundary inside a multi-byte character gives an empty field, never half a
// character.
#include "io/molblock.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/elements.hpp"
#include "core/valence.hpp"
#include "io/error.hpp"

namespace quorix::io {

using core::Atom;
using core::Bond;
using core::BondOrder;
using core::MolBuilder;
namespace err = molblock_error;

namespace {

bool is_unicode_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

std::string_view trim_start(std::string_view s) {
    while (!s.empty()) {
        const auto c0 = static_cast<unsigned char>(s[0]);
        if (c0 < 0x80) {
            if (!is_unicode_space(c0)) break;
            s.remove_prefix(1);
            continue;
        }
        const char32_t c = char_at(s, 0);
        if (!is_unicode_space(c)) break;
        std::size_t len = 1;
        while (len < s.size() && continuation(s[len])) ++len;
        s.remove_prefix(len);
    }
    return s;
}

std::string_view trim_end(std::string_view s) {
    while (!s.empty()) {
        const auto last = static_cast<unsigned char>(s.back());
        if (last < 0x80) {
            if (!is_unicode_space(last)) break;
            s.remove_suffix(1);
            continue;
        }
        std::size_t start = s.size() - 1;
        while (start > 0 && continuation(s[start]) && s.size() - start < 4) --start;
        if (!is_unicode_space(char_at(s, start))) break;
        s.remove_suffix(s.size() - start);
    }
    return s;
}

bool ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Fields are ASCII nearly always; the general trims run only on other bytes.
[[gnu::always_inline]] inline std::string_view trim(std::string_view s) {
    std::size_t a = 0, b = s.size();
    while (a < b && ascii_space(s[a])) ++a;
    while (b > a && ascii_space(s[b - 1])) --b;
    s = s.substr(a, b - a);
    if (!s.empty() && (static_cast<unsigned char>(s.front()) >= 0x80 || static_cast<unsigned char>(s.back()) >= 0x80))
        return trim_end(trim_start(s));
    return s;
}

// Lines end at a line feed; a carriage return right before it goes too; text
// after the last line feed is a line only when it is not empty.
class LineCursor {
public:
    explicit LineCursor(std::string_view text) : text_(text) {}
    std::optional<std::string_view> next() {
        if (pos_ >= text_.size()) return std::nullopt;
        const void* hit = std::memchr(text_.data() + pos_, '\n', text_.size() - pos_);
        std::size_t end = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data()) : text_.size();
        std::string_view line = text_.substr(pos_, end - pos_);
        if (hit && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = hit ? end + 1 : text_.size();
        ++number_;
        return line;
    }
    // Whether at least `count` more lines follow, without consuming them.
    bool has_lines(std::size_t count) const {
        std::size_t pos = pos_;
        for (std::size_t k = 0; k < count; ++k) {
            if (pos >= text_.size()) return false;
            const void* hit = std::memchr(text_.data() + pos, '\n', text_.size() - pos);
            pos = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data()) + 1 : text_.size();
        }
        return true;
    }
    // A cursor over `text` whose next line starts at byte `pos` and has number `number`.
    static LineCursor resume(std::string_view text, std::size_t pos, std::size_t number) {
        LineCursor c(text);
        c.pos_ = pos;
        c.number_ = number;
        return c;
    }
    // The number of the line the next call returns.
    std::size_t number() const { return number_; }
    std::size_t position() const { return pos_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t number_ = 0;
};

[[gnu::always_inline]] inline std::string_view raw_field(std::string_view line, std::size_t a, std::size_t b) {
    if (line.size() <= a) return {};
    const std::size_t end = std::min(b, line.size());
    if (continuation(line[a]) || (end < line.size() && continuation(line[end]))) return {};
    return line.substr(a, end - a);
}

[[gnu::always_inline]] inline std::string_view field(std::string_view line, std::size_t a, std::size_t b) {
    return trim(raw_field(line, a, b));
}

// A read integer or "not readable", in one 64-bit word: an optional returned
// through the stack stalls the loads that follow it.
class ReadInt {
public:
    static constexpr std::int64_t UNREADABLE = INT64_MIN;
    constexpr ReadInt(std::int64_t v = UNREADABLE) : v_(v) {}
    explicit operator bool() const { return v_ != UNREADABLE; }
    std::int32_t operator*() const { return static_cast<std::int32_t>(v_); }
    std::int32_t value_or(std::int32_t fallback) const { return v_ == UNREADABLE ? fallback : **this; }

private:
    std::int64_t v_;
};

// A signed 32-bit decimal: an optional sign and digits only.
ReadInt read_int(std::string_view s) {
    if (s.empty()) return {};
    bool negative = false;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    if (s.empty()) return {};
    std::int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return {};
        v = v * 10 + (c - '0');
        if (v > std::int64_t{2147483648}) return {};
    }
    if (negative) v = -v;
    if (v > 2147483647) return {};
    return v;
}

ReadInt int_field(std::string_view line, std::size_t a, std::size_t b) { return read_int(field(line, a, b)); }

enum class Real { Ok, Unreadable, NotFinite };

constexpr double POW10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                            1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// "[-]digits[.digits]" with at most 15 digits: the digits and the power of ten
// are exact doubles, so one division rounds exactly as the general parser does.
bool read_plain_decimal(std::string_view s, double& out) {
    std::size_t i = 0;
    const bool negative = s[0] == '-';
    if (negative) ++i;
    std::uint64_t m = 0;
    std::size_t digits = 0, scale = 0;
    bool point = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c >= '0' && c <= '9') {
            m = m * 10 + std::uint64_t(c - '0');
            ++digits;
            scale += point;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (digits == 0 || digits > 15) return false;
    const double v = double(m) / POW10[scale];
    out = negative ? -v : v;
    return true;
}

// Decimal notation; "nan", "inf" and overflowing exponents read as not finite.
// Inlined into the atom line: a call that returns through memory stalls it.
[[gnu::always_inline]] inline Real read_real(std::string_view s, double& out) {
    if (s.empty()) return Real::Unreadable;
    if (read_plain_decimal(s, out)) return Real::Ok;
    if (s[0] == '+') {
        s.remove_prefix(1);
        if (s.empty() || s[0] == '+' || s[0] == '-') return Real::Unreadable;
    }
    const char* end = s.data() + s.size();
    auto [ptr, ec] = std::from_chars(s.data(), end, out, std::chars_format::general);
    if (ptr != end) return Real::Unreadable;
    if (ec == std::errc::result_out_of_range) {
        // Overflow is not finite; underflow is zero for every purpose here.
        std::size_t e = s.find_first_of("eE");
        const bool huge = e != std::string_view::npos && e + 1 < s.size() && s[e + 1] != '-';
        if (huge) return Real::NotFinite;
        out = 0.0;
        return Real::Ok;
    }
    if (ec != std::errc()) return Real::Unreadable;
    return std::isfinite(out) ? Real::Ok : Real::NotFinite;
}

std::int8_t charge_from_code(ReadInt code) {
    if (!code) return 0;
    switch (*code) {
        case 1: return 3;
        case 2: return 2;
        case 3: return 1;
        case 5: return -1;
        case 6: return -2;
        case 7: return -3;
        default: return 0;
    }
}

std::uint16_t isotope_value(std::int32_t v) {
    if (v < 0 || v > 32767) return 0;
    return static_cast<std::uint16_t>(v);
}

std::uint8_t radical_electrons(std::int32_t v) {
    switch (v) {
        case 1: return 2;
        case 2: return 1;
        case 3: return 2;
        default: return 0;
    }
}

MolblockReadError fail(auto e) { return MolblockReadError{std::move(e)}; }

struct PropertyEntry {
    std::uint32_t atom;
    std::int32_t value;
};

enum class PropertyKind { Charge, Isotope, Radical };

struct AtomExtras {
    std::int8_t charge;
    std::uint16_t isotope;
    std::int32_t valence;  // 0: none; -1 stands for the column's 15
};

constexpr std::string_view X_WHAT[3] = {"x 读不出来", "y 读不出来", "z 读不出来"};
constexpr std::string_view X_NOT_FINITE[3] = {"x 不是有限数", "y 不是有限数", "z 不是有限数"};
constexpr std::string_view X_TOO_WIDE[3] = {"x 超出 V2000 十位坐标栏的范围", "y 超出 V2000 十位坐标栏的范围",
                                           "z 超出 V2000 十位坐标栏的范围"};

std::expected<void, MolblockReadError> read_atom_line(std::string_view line, std::size_t number, MolBuilder& mol,
                                                      std::vector<Coord>& coords, std::vector<AtomExtras>& extras) {
    Coord c{};
    for (std::size_t k = 0; k < 3; ++k) {
        switch (read_real(field(line, 10 * k, 10 * k + 10), c[k])) {
            case Real::Ok:
                // A finite value no field can hold overflows the products that
                // stereo perception takes of it.
                if (!v2000_coordinate_fits(c[k])) return std::unexpected(fail(err::BadLine{X_TOO_WIDE[k], number}));
                break;
            case Real::Unreadable: return std::unexpected(fail(err::BadLine{X_WHAT[k], number}));
            case Real::NotFinite: return std::unexpected(fail(err::BadLine{X_NOT_FINITE[k], number}));
        }
    }
    const std::string_view symbol = field(line, 31, 34);
    const auto z = core::Element::from_symbol(symbol);
    if (symbol.empty() || !z) return std::unexpected(fail(err::UnknownElement{std::string(symbol), number}));
    Atom atom;
    atom.atomic_num = *z;
    mol.add_atom(atom);
    coords.push_back(c);

    AtomExtras x{charge_from_code(int_field(line, 36, 39)), 0, 0};
    if (auto diff = int_field(line, 34, 36); diff && *diff != 0) {
        const std::int32_t sum = std::int32_t(core::element_at(*z).mass_number) + *diff;
        x.isotope = sum < -32768 || sum > 32767 ? 0 : isotope_value(sum);
    }
    if (auto v = int_field(line, 48, 51); v && *v != 0) x.valence = *v == 15 ? -1 : *v;
    extras.push_back(x);
    return {};
}

std::expected<void, MolblockReadError> read_bond_line(std::string_view line, std::size_t number, std::uint32_t atoms,
                                                      ParsedMolblock& out) {
    const auto first = int_field(line, 0, 3);
    if (!first) return std::unexpected(fail(err::BadLine{"第一个原子号读不出来", number}));
    const auto second = int_field(line, 3, 6);
    if (!second) return std::unexpected(fail(err::BadLine{"第二个原子号读不出来", number}));
    const auto type = int_field(line, 6, 9);
    if (!type) return std::unexpected(fail(err::BadLine{"键类型读不出来", number}));
    const std::int32_t stereo = int_field(line, 9, 12).value_or(0);
    const auto in_range = [&](std::int32_t a) { return a >= 1 && std::uint32_t(a) <= atoms; };
    if (!in_range(*first) || !in_range(*second)) return std::unexpected(fail(err::BadLine{"原子号越界", number}));
    BondOrder order;
    switch (*type) {
        case 1: order = BondOrder::Single; break;
        case 2: order = BondOrder::Double; break;
        case 3: order = BondOrder::Triple; break;
        case 4: order = BondOrder::Aromatic; break;
        case 9: order = BondOrder::Dative; break;
        default: return std::unexpected(fail(err::BadBondType{number, *type}));
    }
    Bond bond;
    bond.begin = std::uint32_t(*first) - 1;
    bond.end = std::uint32_t(*second) - 1;
    bond.order = order;
    // A repeated pair would make a second bond where every later reader and
    // writer expects at most one. An atom without bonds yet needs no search.
    if (out.mol.degree[bond.begin] != 0 && out.mol.degree[bond.end] != 0 &&
        out.mol.bond_between(bond.begin, bond.end) != core::NONE)
        return std::unexpected(fail(err::BadLine{"这两个原子之间已经有一根键", number}));
    // An aromatic bond makes its atoms aromatic too, as a lower-case SMILES
    // pair would: without the flags the ring is neither kekulized nor
    // perceived as aromatic.
    if (order == BondOrder::Aromatic) {
        bond.flags = core::AROMATIC;
        out.mol.atoms[bond.begin].flags |= core::AROMATIC;
        out.mol.atoms[bond.end].flags |= core::AROMATIC;
    }
    if (!out.mol.add_bond(bond)) return std::unexpected(fail(err::BadLine{"这根键建不起来", number}));
    Wedge w;
    if (stereo == 1) w = {WedgeKind::Solid, bond.begin};
    else if (stereo == 6) w = {WedgeKind::Hashed, bond.begin};
    else w = {WedgeKind::None, bond.begin};
    out.wedge_marks.push_back(w);
    out.either.push_back(stereo == 3 || stereo == 4 ? 1 : 0);
    return {};
}

void read_property_line(std::string_view line, std::uint32_t atoms, PropertyKind kind,
                        std::vector<std::pair<PropertyKind, PropertyEntry>>& entries) {
    const auto count = int_field(line, 6, 9);
    if (!count || *count < 1) return;
    for (std::int32_t k = 0; k < *count; ++k) {
        const std::size_t a = 9 + 8 * std::size_t(k);
        if (a >= line.size()) break;  // this entry and every later one are empty, so skipped
        const auto atom = int_field(line, a, a + 4);
        if (!atom || *atom < 1 || std::uint32_t(*atom) > atoms) continue;
        const std::int32_t value = int_field(line, a + 4, a + 8).value_or(0);
        entries.push_back({kind, PropertyEntry{std::uint32_t(*atom) - 1, value}});
    }
}

constexpr std::size_t COUNTS_LINE = 3;

// "原子行" or "键行" when a line has the shape of an atom line (three readable
// coordinate fields and a symbol) or of a bond line (three readable integer
// fields); empty otherwise. Property lines start with a letter, and a written
// x field has its point inside the second bond field, so neither shape takes
// the other's lines or a property line.
std::string_view block_line_kind(std::string_view line) {
    double v;
    bool coordinates = true;
    for (std::size_t k = 0; k < 3 && coordinates; ++k)
        coordinates = read_real(field(line, 10 * k, 10 * k + 10), v) != Real::Unreadable;
    if (coordinates && !field(line, 31, 34).empty()) return "原子行";
    if (int_field(line, 0, 3) && int_field(line, 3, 6) && int_field(line, 6, 9)) return "键行";
    return {};
}

// The properties block up to "M  END" (or the end), then the charges,
// isotopes and radicals it and the atom block give. An atom or bond line met
// here means the counts line undercounted; the lines of an alias, a group
// abbreviation or a skip are free text and never taken for one.
std::expected<void, MolblockReadError> apply_properties(LineCursor& lines, ParsedMolblock& out,
                                                        const std::vector<AtomExtras>& extras) {
    const std::uint32_t n = out.mol.num_atoms();
    std::vector<std::pair<PropertyKind, PropertyEntry>> entries;
    bool any_charge = false, any_isotope = false;
    std::int64_t free_text = 0;
    for (;;) {
        const std::size_t number = lines.number();
        const auto line = lines.next();
        if (!line) break;
        const std::string_view head = line->substr(0, 6);
        if (head == "M  END") break;
        const bool text_line = free_text > 0;
        if (text_line) --free_text;
        const std::size_t before = entries.size();
        if (head == "M  CHG") read_property_line(*line, n, PropertyKind::Charge, entries);
        else if (head == "M  ISO") read_property_line(*line, n, PropertyKind::Isotope, entries);
        else if (head == "M  RAD") read_property_line(*line, n, PropertyKind::Radical, entries);
        else if (text_line) continue;
        else if (line->starts_with("A  ") || line->starts_with("G  ")) free_text = 1;
        else if (head == "S  SKP") free_text = std::max(0, int_field(*line, 6, 9).value_or(0));
        else if (const std::string_view kind = block_line_kind(*line); !kind.empty())
            return std::unexpected(fail(err::UncountedLine{COUNTS_LINE, number, kind}));
        if (entries.size() > before) {
            any_charge |= entries.back().first == PropertyKind::Charge;
            any_isotope |= entries.back().first == PropertyKind::Isotope;
        }
    }
    for (std::uint32_t a = 0; a < n; ++a) {
        if (!any_charge) out.mol.atoms[a].formal_charge = extras[a].charge;
        if (!any_isotope) out.mol.atoms[a].isotope = extras[a].isotope;
    }
    for (const auto& [kind, e] : entries) {
        Atom& atom = out.mol.atoms[e.atom];
        switch (kind) {
            case PropertyKind::Charge:
                atom.formal_charge = e.value < -128 || e.value > 127 ? 0 : static_cast<std::int8_t>(e.value);
                break;
            case PropertyKind::Isotope: atom.isotope = isotope_value(e.value); break;
            case PropertyKind::Radical: atom.num_radical_electrons = radical_electrons(e.value); break;
        }
    }
    return {};
}

// A declared valence fixes the hydrogen count at what the bonds leave of it.
void apply_valences(MolBuilder& mol, const std::vector<AtomExtras>& extras) {
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        const std::int32_t declared = extras[a].valence;
        if (declared == 0) continue;
        const std::int32_t v = declared < 0 ? 0 : declared;
        const std::int32_t bonds = core::explicit_valence(mol, a, false, 0.0f).value_or(0);
        const std::int32_t hs = v - bonds;
        mol.atoms[a].num_explicit_hs = hs < 0 || hs > 255 ? 0 : static_cast<std::uint8_t>(hs);
        mol.atoms[a].flags |= core::FIXED_HS;
    }
}

}  // namespace

bool is_blank(std::string_view text) { return trim_start(text).empty(); }

std::expected<ParsedMolblock, MolblockReadError> read_molblock(std::string_view text) {
    LineCursor lines(text);
    if (!lines.has_lines(4)) return std::unexpected(fail(err::Truncated{"头四行"}));
    ParsedMolblock out;
    out.title = std::string(*lines.next());
    lines.next();
    lines.next();
    const std::string_view counts = *lines.next();
    if (counts.find("V3000") != std::string_view::npos) return std::unexpected(fail(err::V3000{}));
    const auto atoms = int_field(counts, 0, 3);
    const auto bonds = int_field(counts, 3, 6);
    if (!atoms || !bonds || *atoms < 0 || *bonds < 0) return std::unexpected(fail(err::BadCountsLine{}));
    const auto n = static_cast<std::uint32_t>(*atoms);
    const auto m = static_cast<std::uint32_t>(*bonds);
    // A short text is reported as truncated before any fault of its lines.
    const LineCursor block_start = lines;
    const auto refuse = [&](MolblockReadError&& e) {
        if (!block_start.has_lines(std::size_t(n) + m)) return fail(err::Truncated{"原子块或键块"});
        return std::move(e);
    };

    out.mol = MolBuilder::with_capacity(n, m);
    out.coords.reserve(n);
    out.wedge_marks.reserve(m);
    out.either.reserve(m);
    std::vector<AtomExtras> extras;
    extras.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::size_t number = lines.number();
        const auto line = lines.next();
        if (!line) return std::unexpected(fail(err::Truncated{"原子块或键块"}));
        if (auto r = read_atom_line(*line, number, out.mol, out.coords, extras); !r)
            return std::unexpected(refuse(std::move(r.error())));
    }
    for (std::uint32_t j = 0; j < m; ++j) {
        const std::size_t number = lines.number();
        const auto line = lines.next();
        if (!line) return std::unexpected(fail(err::Truncated{"原子块或键块"}));
        if (auto r = read_bond_line(*line, number, n, out); !r) return std::unexpected(refuse(std::move(r.error())));
    }
    if (auto r = apply_properties(lines, out, extras); !r) return std::unexpected(std::move(r.error()));
    apply_valences(out.mol, extras);
    out.is_3d = is_3d(out.coords);
    return out;
}

std::optional<SdfSplit> split_sdf(std::string_view text) {
    // A separator line starts with "$$$$" (leading blanks are not removed), so
    // only lines found by that text need a look.
    for (std::size_t at = text.find("$$$$"); at != std::string_view::npos; at = text.find("$$$$", at + 1)) {
        if (at != 0 && text[at - 1] != '\n') continue;
        const std::size_t feed = text.find('\n', at);
        std::string_view line = text.substr(at, feed == std::string_view::npos ? std::string_view::npos : feed - at);
        // Trailing white space, carriage returns included, may follow.
        if (trim_end(line) != "$$$$") continue;
        return SdfSplit{text.substr(0, at), feed == std::string_view::npos ? text.substr(text.size()) : text.substr(feed + 1)};
    }
    return std::nullopt;
}

std::optional<std::string_view> next_sdf_chunk(std::string_view& rest, bool& exhausted) {
    while (!exhausted) {
        if (auto split = split_sdf(rest)) {
            rest = split->after;
            if (!is_blank(split->before)) return split->before;
            continue;
        }
        exhausted = true;
        if (!is_blank(rest)) return rest;
    }
    return std::nullopt;
}

std::expected<SdfEntry, MolblockReadError> parse_sdf_record(std::string_view record) {
    // The first line that starts with "M  END" ends the molblock.
    std::size_t start = 0;
    for (;;) {
        start = record.find("M  END", start);
        if (start == std::string_view::npos) return std::unexpected(fail(err::Truncated{"M  END"}));
        if (start == 0 || record[start - 1] == '\n') break;
        ++start;
    }
    const std::size_t feed = record.find('\n', start);
    std::size_t end = feed == std::string_view::npos ? record.size() : feed;
    if (feed != std::string_view::npos && record[end - 1] == '\r') --end;
    auto block = read_molblock(record.substr(0, end));
    if (!block) return std::unexpected(std::move(block.error()));
    // Data lines are numbered from the one after "M  END"; the count of the
    // lines before it is needed only for an error.
    LineCursor lines = LineCursor::resume(record, feed == std::string_view::npos ? record.size() : feed + 1, 0);
    const auto line_number = [&](std::size_t data_line) {
        return static_cast<std::size_t>(std::count(record.begin(), record.begin() + start, '\n')) + 1 + data_line;
    };
    SdfEntry entry{std::move(*block), {}};
    entry.data.reserve(16);
    // Data items: a header line starting with '>' names the item between '<'
    // and '>'; its value runs to the first empty line.
    while (auto line = lines.next()) {
        if (line->empty() || line->front() != '>') continue;
        const std::size_t header = lines.number() - 1;
        const std::size_t open = line->find('<');
        const std::size_t close = open == std::string_view::npos ? open : line->find('>', open + 1);
        if (close == std::string_view::npos)
            return std::unexpected(fail(err::DataHeaderWithoutName{line_number(header)}));
        std::string name(line->substr(open + 1, close - open - 1));
        // The value's lines joined by line feeds: the text itself, unless a
        // carriage return was cut from a line end.
        const char* first = nullptr;
        const char* last = nullptr;
        bool cut = false;
        while (auto v = lines.next()) {
            if (v->empty()) break;
            if (!first) first = v->data();
            last = v->data() + v->size();
            cut |= last < record.data() + record.size() && *last == '\r';
        }
        std::string value;
        if (first && !cut) {
            value.assign(first, last);
        } else if (first) {
            LineCursor again(std::string_view(first, static_cast<std::size_t>(last - first)));
            while (auto v = again.next()) {
                if (!value.empty() || v->data() != first) value += '\n';
                value.append(*v);
            }
        }
        entry.data.emplace_back(std::move(name), std::move(value));
    }
    return entry;
}

std::string MolblockReadError::to_string() const {
    struct Visitor {
        std::string operator()(const err::Truncated& e) const { return "molblock 截断了:缺" + std::string(e.what); }
        std::string operator()(const err::BadCountsLine&) const { return "计数行读不出原子数与键数"; }
        std::string operator()(const err::V3000&) const { return "这是 V3000,本模块只读 V2000"; }
        std::string operator()(const err::BadLine& e) const {
            return "第 " + std::to_string(e.line) + " 行" + std::string(e.what);
        }
        std::string operator()(const err::UnknownElement& e) const {
            return "第 " + std::to_string(e.line) + " 行:不认识的元素符号 `" + e.symbol + "`";
        }
        std::string operator()(const err::BadBondType& e) const {
            return "第 " + std::to_string(e.line) + " 行:键类型 " + std::to_string(e.code) +
                   " 不在 1..=4(5..=8 是查询用的)";
        }
        std::string operator()(const err::DataHeaderWithoutName& e) const {
            return "第 " + std::to_string(e.line) + " 行:数据字段头里没有 `<名字>`";
        }
        std::string operator()(const err::UncountedLine& e) const {
            return "第 " + std::to_string(e.counts_line) + " 行的计数行少算了:第 " + std::to_string(e.line) +
                   " 行是它没算上的" + std::string(e.what);
        }
    };
    return std::visit(Visitor{}, error);
}

}  // namespace quorix::io
