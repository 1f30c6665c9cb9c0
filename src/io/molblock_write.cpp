// V2000 writing. Everything V2000 cannot hold is refused before a line is
// written: a fixed column that overflows would shift every later field.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "core/elements.hpp"
#include "core/error.hpp"
#include "core/valence.hpp"
#include "io/molblock.hpp"

namespace quorix::io {

using core::BondOrder;
using core::MolBuilder;
namespace werr = molblock_write_error;

namespace {

constexpr std::uint32_t MAX_ISOTOPE = 9999;   // four columns in the property block
constexpr std::size_t COORD_WIDTH = 10;

// One output line composed in place and appended at once.
struct Line {
    char buf[160];
    std::size_t len = 0;
    void text(std::string_view s) {
        std::memcpy(buf + len, s.data(), s.size());
        len += s.size();
    }
    void spaces(std::size_t k) {
        std::memset(buf + len, ' ', k);
        len += k;
    }
    void right(std::int64_t v, std::size_t width) {
        char digits[24];
        auto [end, ec] = std::to_chars(digits, digits + sizeof digits, v);
        (void)ec;
        const auto k = static_cast<std::size_t>(end - digits);
        if (k < width) spaces(width - k);
        text({digits, k});
    }
    void end_in(std::string& out) {
        buf[len++] = '\n';
        out.append(buf, len);
    }
};

// "%.4f" of the value; the caller checks its width. Below 10^4 (every drawing)
// the exact binary value is scaled in 128-bit integers and rounded to four
// decimals, ties to even, as the general formatter does, at a fraction of its cost.
std::size_t fixed4(double v, char (&buf)[64]) {
    if (std::fabs(v) < 1e4) {
        // |v| = mantissa * 2^-shift, read off the bits (subnormals have no hidden bit).
        const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
        const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
        const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
        const std::uint64_t mantissa = biased == 0 ? fraction : fraction | (std::uint64_t{1} << 52);
        const int shift = biased == 0 ? 1074 : 1075 - biased;  // above 38 below 10^4
        const unsigned __int128 scaled = static_cast<unsigned __int128>(mantissa) * 10000u;
        std::uint64_t q = 0;
        if (shift < 128) {
            q = static_cast<std::uint64_t>(scaled >> shift);
            const unsigned __int128 rest = scaled - (static_cast<unsigned __int128>(q) << shift);
            const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
            if (rest > half || (rest == half && (q & 1) != 0)) ++q;
        }
        char tmp[24];
        std::size_t k = 0;
        for (int i = 0; i < 4; ++i, q /= 10) tmp[k++] = char('0' + q % 10);
        tmp[k++] = '.';
        do {
            tmp[k++] = char('0' + q % 10);
            q /= 10;
        } while (q != 0);
        std::size_t len = 0;
        if (std::signbit(v)) buf[len++] = '-';
        while (k > 0) buf[len++] = tmp[--k];
        return len;
    }
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 4);
    if (ec != std::errc()) return sizeof buf;
    return static_cast<std::size_t>(end - buf);
}

const char* order_name(BondOrder o) {
    switch (o) {
        case BondOrder::Unspecified: return "Unspecified";
        case BondOrder::Single: return "Single";
        case BondOrder::Double: return "Double";
        case BondOrder::Triple: return "Triple";
        case BondOrder::Quadruple: return "Quadruple";
        case BondOrder::Aromatic: return "Aromatic";
        case BondOrder::Dative: return "Dative";
    }
    return "?";
}

// The valence column: 0 unless the hydrogen count is fixed or the atom is a
// radical. A radical's implicit hydrogens are counted in, so that reading the
// column back declares the same hydrogens.
std::int32_t valence_column(const MolBuilder& mol, std::uint32_t a) {
    const core::Atom& atom = mol.atoms[a];
    if (!(atom.flags & core::FIXED_HS) && atom.num_radical_electrons == 0) return 0;
    std::int32_t v = core::explicit_valence(mol, a, false, float(atom.num_explicit_hs)).value_or(0);
    if (!(atom.flags & core::FIXED_HS)) v += atom.num_implicit_hs;
    if (v <= 0) return 15;
    return v > 13 ? 14 : v;
}

std::expected<void, MolblockWriteError> check(const MolBuilder& mol, const MolblockWriteRequest& r) {
    const std::uint64_t n = mol.atoms.size(), m = mol.bonds.size();
    if (auto ok = check_v2000_counts(n, m); !ok) return ok;
    if (!r.wedges.empty() && r.wedges.size() != m)
        return std::unexpected(MolblockWriteError{werr::BondArrayLength{r.wedges.size(), m}});
    if (!r.kekule_orders.empty() && r.kekule_orders.size() != m)
        return std::unexpected(MolblockWriteError{werr::BondArrayLength{r.kekule_orders.size(), m}});
    for (std::uint32_t b = 0; b < m; ++b) {
        const BondOrder o = r.kekule_orders.empty() ? mol.bonds[b].order : r.kekule_orders[b];
        if (o == BondOrder::Aromatic) return std::unexpected(MolblockWriteError{werr::AromaticWithoutKekule{b}});
    }
    for (std::uint32_t a = 0; a < n; ++a) {
        if (mol.atoms[a].isotope > MAX_ISOTOPE)
            return std::unexpected(MolblockWriteError{werr::IsotopeTooLarge{a, mol.atoms[a].isotope}});
        if (a >= r.coords.size()) continue;
        for (double v : r.coords[a])
            if (!v2000_coordinate_fits(v)) return std::unexpected(MolblockWriteError{werr::CoordinateOutOfRange{a, v}});
    }
    if (r.title.find_first_of("\r\n") != std::string_view::npos)
        return std::unexpected(MolblockWriteError{werr::TitleLineBreak{}});
    return {};
}

void atom_line(std::string& out, const MolBuilder& mol, const MolblockWriteRequest& r, std::uint32_t a) {
    static constexpr Coord ORIGIN{0.0, 0.0, 0.0};
    const Coord& c = a < r.coords.size() ? r.coords[a] : ORIGIN;
    Line line;
    for (double v : c) {
        char buf[64];
        const std::size_t len = fixed4(v, buf);
        line.spaces(COORD_WIDTH - len);
        line.text({buf, len});
    }
    line.spaces(1);
    const core::ElementInfo* e = core::element(mol.atoms[a].atomic_num);
    const std::string_view symbol = e && e->atomic_num != 0 ? e->symbol : std::string_view("*");
    line.text(symbol);
    line.spaces(3 - std::min<std::size_t>(3, symbol.size()));
    line.text(" 0  0  0  0  0");
    line.right(valence_column(mol, a), 3);
    line.text("  0  0  0  0  0  0");
    line.end_in(out);
}

std::expected<void, MolblockWriteError> bond_line(std::string& out, const MolBuilder& mol,
                                                  const MolblockWriteRequest& r, std::uint32_t i) {
    const core::Bond& b = mol.bonds[i];
    const BondOrder o = r.kekule_orders.empty() ? b.order : r.kekule_orders[i];
    std::int32_t type;
    switch (o) {
        case BondOrder::Single: type = 1; break;
        case BondOrder::Double: type = 2; break;
        case BondOrder::Triple: type = 3; break;
        case BondOrder::Dative: type = 9; break;
        default: return std::unexpected(MolblockWriteError{werr::UnsupportedBondKind{i, o}});
    }
    std::uint32_t first = b.begin, second = b.end;
    std::int32_t stereo = 0;
    if (!r.wedges.empty() && r.wedges[i].kind != WedgeKind::None) {
        const Wedge& w = r.wedges[i];
        if (w.apex != b.begin && w.apex != b.end) internal_error("楔形的窄端不在它的键上");
        first = w.apex;
        second = w.apex == b.begin ? b.end : b.begin;
        stereo = w.kind == WedgeKind::Solid ? 1 : 6;
    }
    if (o == BondOrder::Double && i < r.either.size() && r.either[i] != 0) stereo = 3;
    Line line;
    line.right(std::int64_t(first) + 1, 3);
    line.right(std::int64_t(second) + 1, 3);
    line.right(type, 3);
    line.right(stereo, 3);
    line.text("  0  0  0");
    line.end_in(out);
    return {};
}

void property_line(std::string& out, const char* head, std::uint32_t atom, std::int64_t value) {
    Line line;
    line.text(head);
    line.right(std::int64_t(atom) + 1, 4);
    line.right(value, 4);
    line.end_in(out);
}

}  // namespace

bool v2000_coordinate_text_fits(double v) {
    if (!std::isfinite(v)) return false;
    char buf[64];
    return fixed4(v, buf) <= COORD_WIDTH;
}

std::expected<void, MolblockWriteError> check_v2000_counts(std::uint64_t atoms, std::uint64_t bonds) {
    if (atoms > V2000_MAX_COUNT || bonds > V2000_MAX_COUNT)
        return std::unexpected(MolblockWriteError{werr::TooManyForV2000{atoms, bonds}});
    return {};
}

std::expected<std::string, MolblockWriteError> write_molblock(const MolBuilder& mol,
                                                              const MolblockWriteRequest& request) {
    if (auto ok = check(mol, request); !ok) return std::unexpected(std::move(ok.error()));
    const std::uint32_t n = mol.num_atoms(), m = mol.num_bonds();
    std::string out;
    out.reserve(22 * std::size_t(m) + 70 * std::size_t(n) + 64 + request.title.size());
    out.append(request.title);
    out += "\n  quorix\n\n";
    Line counts;
    counts.right(n, 3);
    counts.right(m, 3);
    counts.text("  0  0  0  0  0  0  0  0999 V2000");
    counts.end_in(out);
    for (std::uint32_t a = 0; a < n; ++a) atom_line(out, mol, request, a);
    for (std::uint32_t b = 0; b < m; ++b)
        if (auto ok = bond_line(out, mol, request, b); !ok) return std::unexpected(std::move(ok.error()));
    for (std::uint32_t a = 0; a < n; ++a) {
        const core::Atom& atom = mol.atoms[a];
        if (atom.formal_charge != 0) property_line(out, "M  CHG  1", a, atom.formal_charge);
        if (atom.isotope != 0) property_line(out, "M  ISO  1", a, atom.isotope);
        if (atom.num_radical_electrons != 0)
            property_line(out, "M  RAD  1", a, atom.num_radical_electrons % 2 == 1 ? 2 : 3);
    }
    out += "M  END\n";
    return out;
}

std::string MolblockWriteError::to_string() const {
    struct Visitor {
        std::string operator()(const werr::TooManyForV2000& e) const {
            return std::to_string(e.atoms) + " 个原子 / " + std::to_string(e.bonds) + " 根键,超过 V2000 的 " +
                   std::to_string(V2000_MAX_COUNT) + " 上限";
        }
        std::string operator()(const werr::BondArrayLength& e) const {
            return "逐键数组给了 " + std::to_string(e.given) + " 项,而分子有 " + std::to_string(e.bonds) + " 根键";
        }
        std::string operator()(const werr::AromaticWithoutKekule& e) const {
            return "第 " + std::to_string(e.bond) +
                   " 根键是芳香键,而调用方没给凯库勒化之后的键级 —— 先跑 `quorix_chem::kekulize`";
        }
        std::string operator()(const werr::UnsupportedBondKind& e) const {
            return "第 " + std::to_string(e.bond) + " 根键是 " + order_name(e.order) +
                   ",V2000 的键型里没有这一档 —— 按单键写会一声不响地改掉分子";
        }
        std::string operator()(const werr::IsotopeTooLarge& e) const {
            return "第 " + std::to_string(e.atom) + " 个原子的同位素 " + std::to_string(e.isotope) +
                   " 超出 V2000 属性块的四位栏(最大 9999)";
        }
        std::string operator()(const werr::CoordinateOutOfRange& e) const {
            char buf[64];
            auto [end, ec] = std::to_chars(buf, buf + sizeof buf, e.value);
            const std::string shown = ec == std::errc() ? std::string(buf, end) : std::string("?");
            return "第 " + std::to_string(e.atom) + " 个原子的坐标 " + shown +
                   " 写不进 V2000 的十位坐标栏(只收 -9999.9999 到 99999.9999 之间的有限数)";
        }
        std::string operator()(const werr::TitleLineBreak&) const {
            // A carriage return counts too: many readers end a line there, and
            // ours drops one that ends the title.
            return "标题里有换行符或回车符,而 V2000 的标题只占一行 —— 写进去会让后面每一行都错位";
        }
    };
    return std::visit(Visitor{}, error);
}

}  // namespace quorix::io
