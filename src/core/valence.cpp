#include "core/valence.hpp"

#include <array>
#include <cmath>
#include <limits>

#include "core/elements.hpp"
#include "core/error.hpp"
#include "core/numeric.hpp"
#include "core/scratch.hpp"

namespace quorix::core {

namespace {

constexpr std::uint32_t Z_H = 1;
constexpr std::uint32_t Z_P = 15;
constexpr std::uint32_t Z_S = 16;
constexpr std::uint32_t Z_AS = 33;
constexpr std::uint32_t Z_SE = 34;
constexpr std::int32_t MAX_Z = 118;

// An element's allowed valences, ascending; a trailing -1 allows any higher
// one, and a lone -1 leaves the element unrestricted.
struct Valences {
    const std::int8_t* list;
    std::uint32_t size;
    std::int8_t first;
    std::int8_t last;
    bool unrestricted;

    const std::int8_t* begin() const { return list; }
    const std::int8_t* end() const { return list + size; }
};

// The element table's lists, compacted for the per-atom loops below.
[[gnu::always_inline]] inline const std::array<Valences, NUM_ELEMENTS>& valence_table() {
    static const std::array<Valences, NUM_ELEMENTS> table = [] {
        std::array<Valences, NUM_ELEMENTS> t{};
        for (std::uint32_t z = 0; z < NUM_ELEMENTS; ++z) {
            const std::span<const std::int8_t> list = ELEMENTS[z].valences;
            if (list.empty()) internal_error("元素的价态表为空");
            t[z] = {list.data(), static_cast<std::uint32_t>(list.size()), list.front(), list.back(),
                    list.size() == 1 && list[0] == -1};
        }
        return t;
    }();
    return table;
}

using Table = std::array<Valences, NUM_ELEMENTS>;

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

// bond_valence doubled, by order byte and by whether the atom is the bond's end.
constexpr std::array<std::array<std::uint8_t, 2>, 256> HALF_UNITS = [] {
    std::array<std::array<std::uint8_t, 2>, 256> t{};
    for (unsigned o = 0; o < 256; ++o)
        for (unsigned end = 0; end < 2; ++end)
            t[o][end] = static_cast<std::uint8_t>(2.0f * bond_valence(static_cast<BondOrder>(o), end == 1));
    return t;
}();

float sequential_sum(const MolBuilder& mol, std::uint32_t atom) {
    float sum = 0.0f;
    for (Neighbor nb : mol.neighbors(atom)) sum += bond_valence(mol.bonds[nb.bond].order, (nb.half_edge & 1u) != 0);
    return sum;
}

struct BondWalk {
    std::uint64_t twice;  // twice the bond valences
    bool aromatic_bond;   // some bond is aromatic by flag or by order
};

[[gnu::always_inline]] inline BondWalk walk_bonds(const MolBuilder& mol, std::uint32_t atom) {
    static_assert(AROMATIC == 1u, "the aromatic bit is collected in bit 0");
    std::uint64_t twice = 0;
    std::uint32_t marks = 0;  // bit 0: an aromatic flag or order
    const Bond* bonds = mol.bonds.data();
    const std::uint32_t* next = mol.next_half_edge.data();
    for (std::uint32_t h = at(mol.first_half_edge, atom); h != NONE; h = next[h]) {
        const Bond& b = bonds[h >> 1];
        const auto o = static_cast<std::uint8_t>(b.order);
        twice += HALF_UNITS[o][h & 1u];
        marks |= b.flags | (o == static_cast<std::uint8_t>(BondOrder::Aromatic));
    }
    return {twice, (marks & AROMATIC) != 0};
}

// The bond valences as a float summed bond by bond. Every partial sum is a
// multiple of one half no larger than the total, and such floats are exact up
// to 2^23: below that the order of summation cannot matter.
float bond_sum(const MolBuilder& mol, std::uint32_t atom, std::uint64_t twice) {
    if (twice <= (std::uint64_t(1) << 24)) return static_cast<float>(twice) * 0.5f;
    return sequential_sum(mol, atom);
}

// The lenient explicit valence from the total of bond valences and hydrogens.
std::int32_t explicit_from_total(const Table& table, const Atom& a, float total, bool aromatic) {
    const std::int32_t z = a.atomic_num;
    // Aromatic atoms whose bond orders overshoot an allowed valence by at most
    // one and a half (two aromatic bonds counted as three) snap down to it.
    float valence = total;
    if (z <= MAX_Z && !table[z].unrestricted) {
        const Valences& shifted = table[shifted_element(z, a.formal_charge)];
        if (shifted.first != -1 && total > static_cast<float>(shifted.first) && aromatic) {
            std::int32_t best = shifted.first;
            for (std::int8_t entry : shifted) {
                if (entry == -1 || static_cast<float>(entry) > total) break;
                best = entry;
            }
            if (total - static_cast<float>(best) <= 1.5f) valence = static_cast<float>(best);
        }
    }
    return round_saturating<std::int32_t>(valence + 0.1f);
}

// Up to this many half units every step of the float computation above is
// exact or rounds the same way, so the integer one below takes its place.
constexpr std::uint64_t MAX_EXACT_HALVES = std::uint64_t(1) << 20;

// explicit_from_total for a total of `halves` / 2 (at most MAX_EXACT_HALVES
// plus 510 halves), in integers: the comparisons are exact, and adding 0.1
// before rounding moves a whole number down to itself and a half up.
[[gnu::always_inline]] inline std::int32_t explicit_from_halves(const Table& table, const Atom& a,
                                                                std::int64_t halves, bool aromatic) {
    const std::int32_t z = a.atomic_num;
    std::int64_t valence = halves;
    if (aromatic && z <= MAX_Z && !table[z].unrestricted) {
        const Valences& shifted = table[shifted_element(z, a.formal_charge)];
        if (shifted.first != -1 && halves > 2 * std::int64_t(shifted.first)) {
            std::int64_t best = shifted.first;
            for (std::int8_t entry : shifted) {
                if (entry == -1 || 2 * std::int64_t(entry) > halves) break;
                best = entry;
            }
            if (halves - 2 * best <= 3) valence = 2 * best;
        }
    }
    return static_cast<std::int32_t>((valence + 1) / 2);
}

// The explicit valence with the declared hydrogens as the extra hydrogens.
[[gnu::always_inline]] inline std::int32_t declared_hs_valence(const Table& table, const MolBuilder& mol,
                                                               std::uint32_t atom, const Atom& a,
                                                               const BondWalk& walk, bool aromatic) {
    if (walk.twice <= MAX_EXACT_HALVES)
        return explicit_from_halves(table, a, std::int64_t(walk.twice) + 2 * std::int64_t(a.num_explicit_hs),
                                    aromatic);
    return explicit_from_total(table, a, static_cast<float>(a.num_explicit_hs) + bond_sum(mol, atom, walk.twice),
                               aromatic);
}

// The strict upper limit check of an element listed in the table.
[[gnu::always_inline]] inline bool over_strict_limit(const Table& table, const Atom& a, std::int32_t value) {
    const std::int32_t z = a.atomic_num;
    const std::int32_t q = a.formal_charge;
    const std::int32_t t = shifted_element(z, q);
    const Valences& own = table[z];
    std::int32_t limit;
    std::int32_t adjustment = 0;
    if ((z == Z_P || z == Z_S) && t > 16) {
        limit = own.last;
        adjustment = -q;
    } else if (z == Z_H && q == -1) {
        limit = 2;  // a bridging hydride
    } else if (z == Z_AS && t >= 35) {
        limit = own.last;
        adjustment = -q;
    } else if (z == Z_SE && t >= 35) {
        limit = 6;
        adjustment = -q;
    } else {
        limit = table[t].last;
    }
    return limit >= 0 && own.last != -1 && std::int64_t(value) + adjustment > limit;
}

struct HsResult {
    std::uint8_t hs = 0;
    bool failed = false;
    ValenceErrorKind kind = ValenceErrorKind::ExplicitValenceOutOfRange;
};

constexpr HsResult hs_failure(ValenceErrorKind kind) { return {0, true, kind}; }

// Implicit hydrogens for a given explicit valence; `is_aromatic` is asked only
// when the answer depends on it. A failure is reported only when strict.
template <class IsAromatic>
[[gnu::always_inline]] inline HsResult implicit_from(const Table& table, const Atom& a, std::int32_t valence,
                                                     bool strict, IsAromatic&& is_aromatic) {
    const std::int32_t z = a.atomic_num;
    const std::int32_t q = a.formal_charge;
    if (z == 0) return {};

    if (z == Z_H && valence == 0 && a.num_radical_electrons == 0) {
        if (q == 0) return {1};
        if (q == 1 || q == -1) return {};
        if (strict) return hs_failure(ValenceErrorKind::UnreasonableCharge);
        return {};
    }

    if (z > MAX_Z || table[z].unrestricted) return {};
    if (z - q <= 0) return {};
    const std::int32_t t = shifted_element(z, q);
    const Valences& shifted = table[t];
    if (shifted.first == -1) return {};

    std::int64_t v = std::int64_t(valence) + a.num_radical_electrons;
    const Valences* list = &shifted;
    if (((z == Z_P || z == Z_S) && t > 16) || ((z == Z_AS || z == Z_SE) && t >= 35)) {
        list = &table[z];
        v -= q;
    }

    // Hydrogen counts beyond the u8 field cannot be stored; such an atom gets none.
    auto fill = [](std::int64_t missing) -> HsResult {
        return {missing > 255 ? std::uint8_t(0) : std::uint8_t(missing)};
    };

    if (is_aromatic()) {
        // Aromatic atoms only ever fill up to their first allowed valence.
        if (v <= shifted.first) return fill(shifted.first - v);
        for (std::int8_t entry : *list) {
            if (entry == v) return {};
            if (entry < 1) break;
        }
        if (strict) return hs_failure(ValenceErrorKind::AromaticValenceNotAllowed);
        return {};
    }

    for (std::int8_t entry : *list) {
        if (entry < 0) break;
        if (entry >= v) return fill(entry - v);
    }
    if (!strict || list->last == -1 || table[z].last < 1) return {};
    return hs_failure(ValenceErrorKind::ExplicitValenceOutOfRange);
}

struct StrictFailure {
    ValenceErrorKind kind = ValenceErrorKind::ExplicitValenceOutOfRange;
    std::int32_t value = 0;
};

// The strict rules once the bonds are walked; they read only the atom's element,
// charge, radicals and FIXED_HS bit, the aromatic bit and the valence total.
[[gnu::always_inline]] inline bool strict_rules(const Table& table, const MolBuilder& mol, std::uint32_t atom,
                                                const Atom& a, const BondWalk& walk, bool aromatic, AtomValence& out,
                                                StrictFailure& failure) {
    const std::int32_t ev = declared_hs_valence(table, mol, atom, a, walk, aromatic);
    out.explicit_valence = ev;
    out.aromatic = aromatic;
    out.implicit_hs = 0;
    if (a.atomic_num <= MAX_Z && over_strict_limit(table, a, ev)) {
        failure = {ValenceErrorKind::ExplicitValenceOutOfRange, ev};
        return false;
    }
    if (!(a.flags & FIXED_HS)) {
        const HsResult r = implicit_from(table, a, ev, true, [aromatic] { return aromatic; });
        if (r.failed) {
            failure = {r.kind, ev};
            return false;
        }
        out.implicit_hs = r.hs;
    }
    return true;
}

[[gnu::always_inline]] inline bool strict_core(const MolBuilder& mol, std::uint32_t atom, AtomValence& out,
                                               StrictFailure& failure) {
    const Table& table = valence_table();
    const Atom& a = checked_atom(mol, atom);
    const BondWalk walk = walk_bonds(mol, atom);
    const bool aromatic = (a.flags & AROMATIC) || walk.aromatic_bond;
    return strict_rules(table, mol, atom, a, walk, aromatic, out, failure);
}

// Everything strict_rules reads, packed (for totals counted in integers); a
// molecule has few distinct atom kinds, so whole passes mostly repeat answers.
std::uint64_t rules_key(const Atom& a, std::uint64_t halves, bool aromatic) {
    return std::uint64_t(a.atomic_num) | std::uint64_t(static_cast<std::uint8_t>(a.formal_charge)) << 8 |
           std::uint64_t(a.num_radical_electrons) << 16 | std::uint64_t((a.flags & FIXED_HS) != 0) << 24 |
           std::uint64_t(aromatic) << 25 | halves << 26;
}

// Answers of the rules by rules_key: molecules have few distinct atom kinds,
// and the same few recur. A slot holds the latest kind that hashed to it.
struct KindMemo {
    struct Entry {
        std::uint64_t key = ~std::uint64_t(0);  // no real key has bit 63 set
        bool known = false;
        std::int32_t explicit_valence = 0;
        std::int32_t implicit_hs = 0;
        void remember(std::int32_t ev, std::int32_t hs) {
            known = true;
            explicit_valence = ev;
            implicit_hs = hs;
        }
    };
    std::array<Entry, 32> entries{};

    // The atom's slot, taken over (and emptied) when it held another kind; null
    // when the total is too large to key exactly.
    Entry* find(const Atom& a, const BondWalk& walk, bool aromatic) {
        if (walk.twice > MAX_EXACT_HALVES) return nullptr;
        const std::uint64_t key = rules_key(a, walk.twice + 2 * std::uint64_t(a.num_explicit_hs), aromatic);
        Entry& e = entries[(key * 0x9E3779B97F4A7C15ull) >> 59];
        if (e.key != key) {
            e.key = key;
            e.known = false;
        }
        return &e;
    }
};

// The answers depend on the key alone, so a thread keeps them from pass to
// pass and from molecule to molecule: the strict and the lenient rules apart.
struct StrictKindMemo : KindMemo {};
struct LenientKindMemo : KindMemo {};

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

float bond_valence_sum(const MolBuilder& mol, std::uint32_t atom) {
    checked_atom(mol, atom);
    return sequential_sum(mol, atom);
}

bool implicit_hs_uncounted(const MolBuilder& mol) {
    for (const Atom& a : mol.atoms)
        if ((a.flags & FIXED_HS) == 0 && a.num_implicit_hs != 0) return false;
    return true;
}

std::expected<std::int32_t, ValenceError> explicit_valence(const MolBuilder& mol, std::uint32_t atom, bool strict,
                                                           float extra_hs) {
    const Table& table = valence_table();
    const Atom& a = checked_atom(mol, atom);
    const BondWalk walk = walk_bonds(mol, atom);
    const bool aromatic = (a.flags & AROMATIC) || walk.aromatic_bond;
    const std::int32_t value = explicit_from_total(table, a, extra_hs + bond_sum(mol, atom, walk.twice), aromatic);
    if (!strict || a.atomic_num > MAX_Z) return value;
    if (over_strict_limit(table, a, value))
        return std::unexpected(make_error(a.atomic_num, atom, value, ValenceErrorKind::ExplicitValenceOutOfRange));
    return value;
}

std::expected<std::uint8_t, ValenceError> implicit_hs(const MolBuilder& mol, std::uint32_t atom, std::int32_t valence,
                                                      bool strict) {
    const Atom& a = checked_atom(mol, atom);
    const HsResult r =
        implicit_from(valence_table(), a, valence, strict, [&] { return is_aromatic_atom(mol, atom); });
    if (r.failed) return std::unexpected(make_error(a.atomic_num, atom, valence, r.kind));
    return r.hs;
}

void lenient_valence_hs(const MolBuilder& mol, std::uint32_t atom, AtomValence& out) {
    const Table& table = valence_table();
    const Atom& a = checked_atom(mol, atom);
    const BondWalk walk = walk_bonds(mol, atom);
    const bool aromatic = (a.flags & AROMATIC) || walk.aromatic_bond;
    const std::int32_t ev = declared_hs_valence(table, mol, atom, a, walk, aromatic);
    out.explicit_valence = ev;
    out.implicit_hs =
        (a.flags & FIXED_HS) ? 0 : implicit_from(table, a, ev, false, [aromatic] { return aromatic; }).hs;
    out.aromatic = aromatic;
}

void lenient_valences(const MolBuilder& mol, std::span<const std::uint32_t> atoms, std::span<AtomValence> out) {
    if (atoms.size() != out.size()) internal_error("价态数组长度与原子数不符");
    const Table& table = valence_table();
    // Lenient answers never fail, so every one is remembered.
    const auto lease = Scratch<LenientKindMemo>::borrow(0);
    KindMemo& memo = *lease;
    for (std::size_t k = 0; k < atoms.size(); ++k) {
        const std::uint32_t atom = atoms[k];
        const Atom& a = checked_atom(mol, atom);
        const BondWalk walk = walk_bonds(mol, atom);
        const bool aromatic = (a.flags & AROMATIC) || walk.aromatic_bond;
        AtomValence& v = out[k];
        v.aromatic = aromatic;
        KindMemo::Entry* slot = memo.find(a, walk, aromatic);
        if (slot && slot->known) {
            v.explicit_valence = slot->explicit_valence;
            v.implicit_hs = slot->implicit_hs;
            continue;
        }
        v.explicit_valence = declared_hs_valence(table, mol, atom, a, walk, aromatic);
        v.implicit_hs = (a.flags & FIXED_HS)
                            ? 0
                            : implicit_from(table, a, v.explicit_valence, false, [aromatic] { return aromatic; }).hs;
        if (slot) slot->remember(v.explicit_valence, v.implicit_hs);
    }
}

std::int32_t lenient_explicit_valence(const MolBuilder& mol, std::uint32_t atom) {
    const Table& table = valence_table();
    const Atom& a = checked_atom(mol, atom);
    const BondWalk walk = walk_bonds(mol, atom);
    const bool aromatic = (a.flags & AROMATIC) || walk.aromatic_bond;
    return declared_hs_valence(table, mol, atom, a, walk, aromatic);
}

std::expected<AtomValence, ValenceError> strict_valence_hs(const MolBuilder& mol, std::uint32_t atom) {
    AtomValence out;
    StrictFailure failure;
    if (!strict_core(mol, atom, out, failure))
        return std::unexpected(make_error(mol.atoms[atom].atomic_num, atom, failure.value, failure.kind));
    return out;
}

std::expected<void, ValenceError> strict_valences(const MolBuilder& mol, std::span<std::int32_t> explicit_valences,
                                                  std::span<std::uint8_t> implicit_hs) {
    const std::uint32_t n = mol.num_atoms();
    if (explicit_valences.size() != n || implicit_hs.size() != n) internal_error("价态数组长度与原子数不符");
    const Table& table = valence_table();
    // Only successes are remembered: a failure ends the pass.
    const auto lease = Scratch<StrictKindMemo>::borrow(0);
    KindMemo& memo = *lease;
    for (std::uint32_t i = 0; i < n; ++i) {
        const Atom& a = mol.atoms[i];
        const BondWalk walk = walk_bonds(mol, i);
        const bool aromatic = (a.flags & AROMATIC) || walk.aromatic_bond;
        KindMemo::Entry* slot = memo.find(a, walk, aromatic);
        if (slot && slot->known) {
            explicit_valences[i] = slot->explicit_valence;
            implicit_hs[i] = static_cast<std::uint8_t>(slot->implicit_hs);
            continue;
        }
        AtomValence out;
        StrictFailure failure;
        if (!strict_rules(table, mol, i, a, walk, aromatic, out, failure))
            return std::unexpected(make_error(a.atomic_num, i, failure.value, failure.kind));
        explicit_valences[i] = out.explicit_valence;
        implicit_hs[i] = static_cast<std::uint8_t>(out.implicit_hs);
        if (slot) slot->remember(out.explicit_valence, implicit_hs[i]);
    }
    return {};
}

}  // namespace quorix::core
