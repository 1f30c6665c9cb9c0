#include "core/valence.hpp"

#include <cmath>
#include <limits>
#include <span>

#include "core/elements.hpp"
#include "core/error.hpp"

namespace quorix::core {

namespace {

constexpr std::uint32_t Z_H = 1;
constexpr std::uint32_t Z_P = 15;
constexpr std::uint32_t Z_S = 16;
constexpr std::uint32_t Z_AS = 33;
constexpr std::uint32_t Z_SE = 34;
constexpr std::int32_t MAX_Z = 118;

using Valences = std::span<const std::int8_t>;

Valences valences_of(std::int32_t z) { return ELEMENTS[static_cast<std::size_t>(z)].valences; }
bool unrestricted(Valences list) { return list.size() == 1 && list[0] == -1; }

// Charged atoms take the valences of the element with their electron count
// (N+ gets carbon's list, O- fluorine's).
std::int32_t shifted_element(std::int32_t z, std::int32_t charge) {
    std::int32_t t = z - charge;
    if (t < 0) return 0;
    if (t > MAX_Z) return MAX_Z;
    return t;
}

const Atom& checked_atom(const MolBuilder& mol, std::uint32_t atom) {
    if (atom >= mol.atoms.size()) internal_error("原子下标超出范围");
    return mol.atoms[atom];
}

ValenceError make_error(std::uint32_t z, std::uint32_t atom, std::int32_t valence, ValenceErrorKind kind) {
    const ElementInfo* e = element(z);
    return ValenceError{e ? std::string(e->symbol) : std::string("?"), atom, valence, kind};
}

// Nearest integer, halves away from zero, saturated to the i32 range (NaN gives 0)
// so that absurd extra hydrogens cannot turn into undefined conversions.
std::int32_t round_saturated(float x) {
    if (std::isnan(x)) return 0;
    const float r = std::round(x);
    if (r >= 2147483648.0f) return std::numeric_limits<std::int32_t>::max();
    if (r < -2147483648.0f) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(r);
}

float bond_valence(const Bond& bond, bool atom_is_end) {
    switch (bond.order) {
    case BondOrder::Single: return 1.0f;
    case BondOrder::Double: return 2.0f;
    case BondOrder::Triple: return 3.0f;
    case BondOrder::Quadruple: return 4.0f;
    case BondOrder::Aromatic: return 1.5f;
    // The acceptor gains a valence; the donor gives a lone pair and gains none.
    case BondOrder::Dative: return atom_is_end ? 1.0f : 0.0f;
    default: return 0.0f;
    }
}

}  // namespace

std::string_view kind_text(ValenceErrorKind kind) {
    switch (kind) {
    case ValenceErrorKind::ExplicitValenceOutOfRange: return "显式价超出允许范围";
    case ValenceErrorKind::AromaticValenceNotAllowed: return "芳香原子的显式价不在允许的价态中";
    case ValenceErrorKind::UnreasonableCharge: return "形式电荷不合理";
    }
    internal_error("未知的价态错误类型");
}

std::string ValenceError::to_string() const {
    std::string out = "原子 #";
    out += std::to_string(atom);
    out += '(';
    out += symbol;
    out += "):";
    out += kind_text(kind);
    out += ",显式价 = ";
    out += std::to_string(explicit_valence);
    return out;
}

bool is_aromatic_atom(const MolBuilder& mol, std::uint32_t atom) {
    if (checked_atom(mol, atom).flags & AROMATIC) return true;
    for (Neighbor nb : mol.neighbors(atom)) {
        const Bond& bond = mol.bonds[nb.bond];
        if ((bond.flags & AROMATIC) || bond.order == BondOrder::Aromatic) return true;
    }
    return false;
}

std::expected<std::int32_t, ValenceError> explicit_valence(const MolBuilder& mol, std::uint32_t atom, bool strict,
                                                           float extra_hs) {
    const Atom& a = checked_atom(mol, atom);
    float sum = 0.0f;
    for (Neighbor nb : mol.neighbors(atom)) sum += bond_valence(mol.bonds[nb.bond], (nb.half_edge & 1u) != 0);
    const float total = extra_hs + sum;

    const std::int32_t z = a.atomic_num;
    const std::int32_t q = a.formal_charge;
    const bool known = z <= MAX_Z;
    const std::int32_t t = shifted_element(z, q);

    // Aromatic atoms whose bond orders overshoot an allowed valence by at most
    // one and a half (two aromatic bonds counted as three) snap down to it.
    float valence = total;
    if (known && !unrestricted(valences_of(z))) {
        const Valences shifted = valences_of(t);
        if (shifted[0] != -1 && total > static_cast<float>(shifted[0]) && is_aromatic_atom(mol, atom)) {
            std::int32_t best = shifted[0];
            for (std::int8_t entry : shifted) {
                if (entry == -1 || static_cast<float>(entry) > total) break;
                best = entry;
            }
            if (total - static_cast<float>(best) <= 1.5f) valence = static_cast<float>(best);
        }
    }

    const std::int32_t value = round_saturated(valence + 0.1f);
    if (!strict || !known) return value;

    const Valences own = valences_of(z);
    std::int32_t limit;
    std::int32_t adjustment = 0;
    if ((z == Z_P || z == Z_S) && t > 16) {
        limit = own.back();
        adjustment = -q;
    } else if (z == Z_H && q == -1) {
        limit = 2;  // a bridging hydride
    } else if (z == Z_AS && t >= 35) {
        limit = own.back();
        adjustment = -q;
    } else if (z == Z_SE && t >= 35) {
        limit = 6;
        adjustment = -q;
    } else {
        limit = valences_of(t).back();
    }
    if (limit >= 0 && own.back() != -1 && std::int64_t(value) + adjustment > limit)
        return std::unexpected(make_error(z, atom, value, ValenceErrorKind::ExplicitValenceOutOfRange));
    return value;
}

std::expected<std::uint8_t, ValenceError> implicit_hs(const MolBuilder& mol, std::uint32_t atom, std::int32_t valence,
                                                      bool strict) {
    const Atom& a = checked_atom(mol, atom);
    const std::int32_t z = a.atomic_num;
    const std::int32_t q = a.formal_charge;
    if (z == 0) return 0;

    if (z == Z_H && valence == 0 && a.num_radical_electrons == 0) {
        if (q == 0) return 1;
        if (q == 1 || q == -1) return 0;
        if (strict) return std::unexpected(make_error(z, atom, 0, ValenceErrorKind::UnreasonableCharge));
        return 0;
    }

    if (z > MAX_Z || unrestricted(valences_of(z))) return 0;
    if (z - q <= 0) return 0;
    const std::int32_t t = shifted_element(z, q);
    const Valences shifted = valences_of(t);
    if (shifted[0] == -1) return 0;

    std::int64_t v = std::int64_t(valence) + a.num_radical_electrons;
    Valences list = shifted;
    if (((z == Z_P || z == Z_S) && t > 16) || ((z == Z_AS || z == Z_SE) && t >= 35)) {
        list = valences_of(z);
        v -= q;
    }

    // Hydrogen counts beyond the u8 field cannot be stored; such an atom gets none.
    auto fill = [](std::int64_t missing) -> std::uint8_t { return missing > 255 ? 0 : std::uint8_t(missing); };

    if (is_aromatic_atom(mol, atom)) {
        // Aromatic atoms only ever fill up to their first allowed valence.
        if (v <= shifted[0]) return fill(shifted[0] - v);
        for (std::int8_t entry : list) {
            if (entry == v) return 0;
            if (entry < 1) break;
        }
        if (strict) return std::unexpected(make_error(z, atom, valence, ValenceErrorKind::AromaticValenceNotAllowed));
        return 0;
    }

    for (std::int8_t entry : list) {
        if (entry < 0) break;
        if (entry >= v) return fill(entry - v);
    }
    if (!strict || list.back() == -1 || valences_of(z).back() < 1) return 0;
    return std::unexpected(make_error(z, atom, valence, ValenceErrorKind::ExplicitValenceOutOfRange));
}

}  // namespace quorix::core
