#include "io/smiles/read.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/elements.hpp"
#include "core/error.hpp"
#include "core/flat_set.hpp"
#include "core/permutation.hpp"
#include "core/polyhedron.hpp"
#include "core/scratch.hpp"
#include "core/valence.hpp"
#include "io/lexer.hpp"
#include "io/ring_pairs.hpp"

namespace quorix::io {
namespace {

using core::Atom;
using core::Bond;
using core::BondDirection;
using core::BondOrder;
using core::ChiralTag;
using core::MolBuilder;
using core::NONE;

constexpr std::string_view PERCENT_PAREN_NO_DIGIT = "`%(` 后缺少数字";
constexpr std::string_view PERCENT_PAREN_UNCLOSED = "`%(` 未闭合";
constexpr std::string_view MISSING_SYMBOL = "缺少元素符号";
constexpr std::string_view BRACKET_UNCLOSED = "方括号未正确闭合";

constexpr std::uint32_t MAX_LABEL = 99999;
constexpr std::uint32_t SMALL_LABELS = 100;
// Ligand identifiers for hydrogens in allene listings; bond indices stay below 2^31.
constexpr std::uint32_t HYDROGEN_LIGAND = 0x80000000u;

using lex::is_digit;
using lex::is_lower;
using lex::is_upper;
using lex::to_upper;

// A bond symbol read and not yet used. A default value stands for "no symbol".
struct BondSymbol {
    std::size_t pos = 0;
    BondOrder order = BondOrder::Unspecified;  // meaningful when `explicit_order`
    BondDirection direction = BondDirection::None;
    bool explicit_order = false;
    bool reversed = false;  // `<-`
};

struct RingOpening {
    BondSymbol symbol;
    std::size_t pos;      // offset of the label
    std::uint32_t atom;
    std::uint32_t label;
    std::uint32_t bond;   // the ring bond's index once bonds are added
    bool open;
};

struct RingBond {
    std::uint32_t label;
    std::uint32_t close_seq;
    std::uint32_t serial;
    std::uint32_t begin;
    std::uint32_t end;
    BondOrder order;
    BondDirection direction;
};

// A ring-closure label written at an atom (opening or closing), in text order.
// `atoms_before` is the atom count when the label was read: a label written after
// a branch stands, in the text, after that branch's atoms.
struct RingMark {
    std::uint32_t atom;
    std::uint32_t serial;
    std::uint32_t atoms_before;
};

enum class MarkKind : std::uint8_t { Plain, Th, Al, Polyhedral };

struct ChiralEntry {
    std::uint32_t atom;
    std::uint8_t declared_hs;
    MarkKind kind;
    bool had_previous;
};

struct ClassInfo {
    std::string_view name;
    std::uint32_t max;
    ChiralTag tag;
};

// TH stands for the tetrahedral pair: its number picks cw or ccw.
constexpr std::array<ClassInfo, 5> CHIRAL_CLASSES{{
    {"TH", 2, ChiralTag::Ccw},
    {"AL", 2, ChiralTag::Allene},
    {"SP", 3, ChiralTag::SquarePlanar},
    {"TB", 20, ChiralTag::TrigonalBipyramidal},
    {"OH", 30, ChiralTag::Octahedral},
}};


// Scratch lists of one read. They live per thread so that reading many molecules
// does not allocate them anew each time; a huge text's growth is given back.
struct Workspace {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> branches;
    std::vector<RingOpening> openings;
    std::vector<RingMark> marks;
    std::vector<RingBond> ring_bonds;
    std::vector<ChiralEntry> chiral;
    std::vector<std::uint32_t> written, stored, terminal;

    void clear() {
        branches.clear();
        openings.clear();
        marks.clear();
        ring_bonds.clear();
        chiral.clear();
        written.clear();
        stored.clear();
        terminal.clear();
    }
};

class Reader {
public:
    Reader(std::string_view text, Workspace& w)
        : s_(text), n_(text.size()), branches_(w.branches), openings_(w.openings), marks_(w.marks),
          ring_bonds_(w.ring_bonds), chiral_(w.chiral), written_(w.written), stored_(w.stored),
          terminal_(w.terminal) {}

    std::expected<MolBuilder, ParseError> run() {
        if (n_ == 0) {
            fail(SmilesErrorTag::EmptySmiles, 0);
            return std::unexpected(std::move(*error_));
        }
        // Every atom and bond takes at least one byte; huge texts grow as they go.
        const std::size_t guess = std::min<std::size_t>(n_, 1u << 16);
        mol_ = MolBuilder::with_capacity(guess, guess);
        if (!parse() || !finish()) return std::unexpected(std::move(*error_));
        add_ring_bonds();
        fix_chirality();
        return std::move(mol_);
    }

private:
    // ---- errors -------------------------------------------------------------
    bool fail(SmilesErrorKind kind, std::size_t pos) {
        error_.emplace(ParseError::make(std::move(kind), pos, s_));
        return false;
    }
    bool fail(SmilesErrorTag tag, std::size_t pos) { return fail(SmilesErrorKind::simple(tag), pos); }
    bool fail_char(std::size_t pos) { return fail(SmilesErrorKind::unexpected_char(char_at(s_, pos)), pos); }
    bool fail_detail(std::string_view detail, std::size_t pos) {
        return fail(SmilesErrorKind::bad_bracket_atom(detail), pos);
    }

    // ---- main loop ----------------------------------------------------------
    // Each step reads what starts at the cursor: a bond symbol, a branch or
    // fragment mark, a ring-closure label, or an atom.
    bool parse() {
        while (i_ < n_) {
            const char c = s_[i_];
            bool ok;
            if (bond_step(c, ok) || structure_step(c, ok) || atom_step(c, ok)) {
                if (!ok) return false;
                continue;
            }
            if (!is_digit(c) || previous_ == NONE) return fail_char(i_);
            const std::size_t p = i_++;
            if (!ring_closure(static_cast<std::uint32_t>(c - '0'), p)) return false;
        }
        return true;
    }

    // Bond symbols; false when `c` starts none.
    [[gnu::always_inline]] bool bond_step(char c, bool& ok) {
        switch (c) {
            case '-':
                ok = i_ + 1 < n_ && s_[i_ + 1] == '>' ? bond_symbol(BondOrder::Dative, BondDirection::None, true, false, 2)
                                                     : bond_symbol(BondOrder::Single, BondDirection::None, true, false, 1);
                return true;
            case '<':
                if (has_pending_) ok = fail(SmilesErrorTag::BondWithoutAtom, i_);
                else if (i_ + 1 >= n_ || s_[i_ + 1] != '-') ok = fail_char(i_);
                else ok = bond_symbol(BondOrder::Dative, BondDirection::None, true, true, 2);
                return true;
            case '=': ok = bond_symbol(BondOrder::Double, BondDirection::None, true, false, 1); return true;
            case '#': ok = bond_symbol(BondOrder::Triple, BondDirection::None, true, false, 1); return true;
            case '$': ok = bond_symbol(BondOrder::Quadruple, BondDirection::None, true, false, 1); return true;
            case ':': ok = bond_symbol(BondOrder::Aromatic, BondDirection::None, true, false, 1); return true;
            case '/': ok = bond_symbol(BondOrder::Unspecified, BondDirection::Slash, false, false, 1); return true;
            case '\\': {
                const std::size_t len = (i_ + 1 < n_ && s_[i_ + 1] == '\\') ? 2 : 1;
                ok = bond_symbol(BondOrder::Unspecified, BondDirection::Backslash, false, false, len);
                return true;
            }
            default: return false;
        }
    }

    // Branches, fragments and `%` labels; false when `c` starts none.
    [[gnu::always_inline]] bool structure_step(char c, bool& ok) {
        switch (c) {
            case '(':
                if (previous_ == NONE) {
                    ok = fail(SmilesErrorTag::UnbalancedParens, i_);
                    return true;
                }
                branches_.push_back({previous_, mol_.num_atoms()});
                ++i_;
                ok = true;
                return true;
            case ')': {
                if (branches_.empty()) {
                    ok = fail(SmilesErrorTag::UnbalancedParens, i_);
                    return true;
                }
                const auto [back_to, count] = branches_.back();
                branches_.pop_back();
                if (mol_.num_atoms() == count) ok = fail(SmilesErrorTag::EmptyBranch, i_);
                else if (has_pending_) ok = fail(SmilesErrorTag::BondWithoutAtom, pending_.pos);
                else previous_ = back_to, ++i_, ok = true;
                return true;
            }
            case '.':
                if (has_pending_) {
                    ok = fail(SmilesErrorTag::BondWithoutAtom, pending_.pos);
                } else {
                    previous_ = NONE;
                    ++i_;
                    ok = true;
                }
                return true;
            case '%': ok = percent_label(); return true;
            default: return false;
        }
    }

    // Bracket and organic-subset atoms; false when `c` starts none.
    [[gnu::always_inline]] bool atom_step(char c, bool& ok) {
        namespace E = core::Element;
        const bool two = i_ + 1 < n_;
        switch (c) {
            case '[': ok = bracket_atom(); return true;
            case 'B': ok = two && s_[i_ + 1] == 'r' ? organic(E::Br, false, 2) : organic(E::B, false, 1); return true;
            case 'C': ok = two && s_[i_ + 1] == 'l' ? organic(E::Cl, false, 2) : organic(E::C, false, 1); return true;
            case 'N': ok = organic(E::N, false, 1); return true;
            case 'O': ok = organic(E::O, false, 1); return true;
            case 'P': ok = organic(E::P, false, 1); return true;
            case 'S': ok = organic(E::S, false, 1); return true;
            case 'F': ok = organic(E::F, false, 1); return true;
            case 'I': ok = organic(E::I, false, 1); return true;
            case '*': ok = organic(E::Wildcard, false, 1); return true;
            default: break;
        }
        if (const std::uint8_t z = lex::aromatic_letter(c); z != 0) {
            ok = organic(z, true, 1);
            return true;
        }
        return false;
    }

    bool finish() {
        if (has_pending_) return fail(SmilesErrorTag::BondWithoutAtom, pending_.pos);
        if (!branches_.empty()) return fail(SmilesErrorTag::UnbalancedParens, n_);
        if (open_rings_ > 0) {
            const RingOpening* first = nullptr;
            for (const RingOpening& r : openings_)
                if (r.open && (first == nullptr || r.pos < first->pos)) first = &r;
            return fail(SmilesErrorKind::ring(SmilesErrorTag::UnclosedRing, first->label), first->pos);
        }
        if (mol_.num_atoms() == 0) return fail(SmilesErrorTag::EmptySmiles, 0);
        return true;
    }

    bool bond_symbol(BondOrder order, BondDirection dir, bool explicit_order, bool reversed, std::size_t len) {
        if (has_pending_) return fail(SmilesErrorTag::BondWithoutAtom, i_);
        pending_ = BondSymbol{i_, order, dir, explicit_order, reversed};
        has_pending_ = true;
        i_ += len;
        return true;
    }

    BondSymbol take_pending() {
        BondSymbol b = has_pending_ ? pending_ : BondSymbol{};
        has_pending_ = false;
        return b;
    }

    // ---- building -----------------------------------------------------------
    // ---- atoms --------------------------------------------------------------
    bool organic(std::uint8_t atomic_num, bool aromatic, std::size_t len) {
        Atom a;
        a.atomic_num = atomic_num;
        a.flags = aromatic ? core::AROMATIC : 0u;
        i_ += len;
        return add_atom(a);
    }

    bool add_atom(const Atom& atom) {
        const std::uint32_t idx = mol_.add_atom(atom);
        if (previous_ == NONE) {
            if (has_pending_) return fail(SmilesErrorTag::BondWithoutAtom, pending_.pos);
        } else {
            const BondSymbol sym = take_pending();
            Bond b;
            b.begin = previous_;
            b.end = idx;
            b.order = sym.explicit_order ? sym.order : implicit_order(previous_, idx);
            b.flags = b.order == BondOrder::Aromatic ? core::AROMATIC : 0u;
            b.direction = sym.direction;
            if (sym.reversed) std::swap(b.begin, b.end);
            mol_.push_bond(b);
        }
        has_pending_ = false;
        previous_ = idx;
        return true;
    }

    BondOrder implicit_order(std::uint32_t a, std::uint32_t b) const {
        const bool both = (mol_.atoms[a].flags & mol_.atoms[b].flags & core::AROMATIC) != 0;
        return both ? BondOrder::Aromatic : BondOrder::Single;
    }

    // Reads up to `max_digits` digits at i_; returns how many were read.
    std::size_t digits(std::size_t max_digits, std::uint32_t& value) {
        const lex::Digits d = lex::read_digits(s_, i_, max_digits, n_);
        value = d.value;
        i_ = d.end;
        return d.count;
    }

    bool bracket_atom() {
        ++i_;  // '['
        Atom atom;
        atom.flags = core::FIXED_HS;

        std::uint32_t mass = 0;
        digits(5, mass);
        if (i_ >= n_) return fail(SmilesErrorTag::UnexpectedEnd, n_);
        atom.isotope = static_cast<std::uint16_t>(std::min<std::uint32_t>(mass, 65535));

        if (!element_symbol(atom)) return false;

        MarkKind kind = MarkKind::Plain;
        bool chiral = false;
        if (i_ < n_ && s_[i_] == '@') {
            chiral = true;
            if (!chirality(atom, kind)) return false;
        }

        if (i_ < n_ && s_[i_] == 'H') {
            ++i_;
            std::uint32_t hs = 0;
            atom.num_explicit_hs = static_cast<std::uint8_t>(digits(2, hs) == 0 ? 1 : hs);
        }

        if (i_ < n_ && (s_[i_] == '+' || s_[i_] == '-')) {
            const char sign = s_[i_];
            std::size_t run = 0;
            while (i_ + run < n_ && s_[i_ + run] == sign) ++run;
            std::size_t value;
            if (run > 1) {
                i_ += run;
                value = run;
            } else {
                ++i_;
                std::uint32_t v = 0;
                value = digits(2, v) == 0 ? 1 : v;
            }
            if (sign == '+' ? value > 127 : value > 128) return fail(SmilesErrorTag::NumberOutOfRange, i_);
            atom.formal_charge = static_cast<std::int8_t>(sign == '+' ? static_cast<int>(value)
                                                                      : -static_cast<int>(value));
        }

        if (i_ < n_ && s_[i_] == ':') {
            ++i_;
            std::uint32_t map = 0;
            if (digits(5, map) == 0) return fail_detail(lex::MAP_NO_DIGIT, i_);
            if (map > 65535) return fail(SmilesErrorTag::NumberOutOfRange, i_);
            atom.map_num = static_cast<std::uint16_t>(map);
        }

        if (i_ >= n_) return fail(SmilesErrorTag::UnexpectedEnd, n_);
        if (s_[i_] != ']') return fail_detail(BRACKET_UNCLOSED, i_);
        ++i_;

        const bool had_previous = previous_ != NONE;
        if (!add_atom(atom)) return false;
        if (chiral) chiral_.push_back({previous_, atom.num_explicit_hs, kind, had_previous});
        return true;
    }

    bool element_symbol(Atom& atom) {
        const std::size_t at = i_;
        const char c = s_[i_];
        const bool next_lower = i_ + 1 < n_ && is_lower(s_[i_ + 1]);
        if (c == '*') {
            atom.atomic_num = core::Element::Wildcard;
            ++i_;
            return true;
        }
        if (is_upper(c)) {
            if (next_lower) {
                if (auto z = core::Element::from_symbol(s_.substr(i_, 2))) {
                    atom.atomic_num = *z;
                    i_ += 2;
                    return true;
                }
            }
            if (auto z = core::Element::from_symbol(s_.substr(i_, 1))) {
                atom.atomic_num = *z;
                ++i_;
                return true;
            }
            return fail(SmilesErrorKind::unknown_element(s_.substr(at, next_lower ? 2 : 1)), at);
        }
        if (is_lower(c)) {
            if (next_lower) {
                if (const std::uint8_t z = lex::aromatic_pair(c, s_[i_ + 1]); z != 0) {
                    atom.atomic_num = z;
                    atom.flags |= core::AROMATIC;
                    i_ += 2;
                    return true;
                }
            }
            const std::uint8_t z = lex::aromatic_letter(c);
            if (z == 0) return fail(SmilesErrorKind::unknown_element(s_.substr(at, next_lower ? 2 : 1)), at);
            atom.atomic_num = z;
            atom.flags |= core::AROMATIC;
            ++i_;
            return true;
        }
        return fail_detail(MISSING_SYMBOL, at);
    }

    bool chirality(Atom& atom, MarkKind& kind) {
        // s_[i_] == '@'
        if (i_ + 1 < n_ && s_[i_ + 1] == '@') {
            atom.chiral_tag = ChiralTag::Cw;
            i_ += 2;
            return true;
        }
        if (i_ + 2 < n_) {
            const char a = to_upper(s_[i_ + 1]);
            const char b = to_upper(s_[i_ + 2]);
            for (const ClassInfo& cls : CHIRAL_CLASSES) {
                if (cls.name[0] != a || cls.name[1] != b) continue;
                i_ += 3;
                const std::size_t digits_at = i_;
                std::uint32_t number = 0;
                const std::size_t written = digits(2, number);
                // A written 0 names no arrangement of any class.
                if (number > cls.max || (written > 0 && number == 0))
                    return fail(SmilesErrorKind::chiral_index(cls.name, number, cls.max), digits_at);
                if (cls.tag == ChiralTag::Ccw) {
                    atom.chiral_tag = number == 2 ? ChiralTag::Cw : ChiralTag::Ccw;
                    kind = MarkKind::Th;
                } else {
                    atom.chiral_tag = cls.tag;
                    atom.chiral_permutation = static_cast<std::uint8_t>(number);
                    kind = cls.tag == ChiralTag::Allene ? MarkKind::Al : MarkKind::Polyhedral;
                }
                return true;
            }
        }
        atom.chiral_tag = ChiralTag::Ccw;
        ++i_;
        return true;
    }

    // ---- ring closures ------------------------------------------------------
    bool percent_label() {
        if (previous_ == NONE) return fail_char(i_);
        const std::size_t p = i_;
        std::uint32_t label = 0;
        if (i_ + 1 < n_ && s_[i_ + 1] == '(') {
            i_ += 2;
            if (digits(5, label) == 0) return fail_detail(PERCENT_PAREN_NO_DIGIT, i_);
            if (i_ >= n_ || s_[i_] != ')') return fail_detail(PERCENT_PAREN_UNCLOSED, i_);
            ++i_;
        } else {
            if (!lex::two_digit_label(s_, i_, n_)) return fail_detail(lex::PERCENT_NEEDS_TWO_DIGITS, i_ + 1);
            label = lex::two_digit_value(s_, i_);
            i_ += 3;
        }
        return ring_closure(label, p);
    }

    std::uint32_t& label_slot(std::uint32_t label) {
        if (label < SMALL_LABELS) return small_labels_[label];
        if (big_labels_.empty()) big_labels_.assign(MAX_LABEL + 1, 0);
        return big_labels_[label];
    }

    // The chain bond between a and b, if any, is the parent bond of one of them,
    // which is that atom's first half-edge while ring bonds are still held back.
    bool chain_bonded(std::uint32_t a, std::uint32_t b) const {
        return first_neighbor(a) == b || first_neighbor(b) == a;
    }
    std::uint32_t first_neighbor(std::uint32_t atom) const {
        const std::uint32_t h = mol_.first_half_edge[atom];
        if (h == NONE) return NONE;
        const Bond& bond = mol_.bonds[h >> 1];
        return (h & 1u) ? bond.begin : bond.end;
    }

    bool ring_closure(std::uint32_t label, std::size_t p) {
        const BondSymbol here = take_pending();
        std::uint32_t& slot = label_slot(label);
        if (slot == 0) {
            const auto serial = static_cast<std::uint32_t>(openings_.size());
            openings_.push_back({here, p, previous_, label, NONE, true});
            slot = serial + 1;
            ++open_rings_;
            marks_.push_back({previous_, serial, mol_.num_atoms()});
            return true;
        }
        const std::uint32_t serial = slot - 1;
        RingOpening& opening = openings_[serial];
        const std::uint32_t o = opening.atom;
        const std::uint32_t c = previous_;
        if (o == c) return fail(SmilesErrorKind::ring(SmilesErrorTag::RingSelfLoop, label), p);
        if (chain_bonded(o, c) || ring_pairs_.contains<RingBond>(ring_bonds_, o, c))
            return fail(SmilesErrorKind::ring(SmilesErrorTag::DuplicateRingBond, label), p);
        const BondSymbol& there = opening.symbol;
        if (there.explicit_order && here.explicit_order && there.order != here.order)
            return fail(SmilesErrorKind::ring(SmilesErrorTag::ConflictingRingBond, label), p);

        RingBond rb;
        rb.label = label;
        rb.close_seq = static_cast<std::uint32_t>(ring_bonds_.size());
        rb.serial = serial;
        rb.order = there.explicit_order ? there.order
                 : here.explicit_order  ? here.order
                                        : implicit_order(o, c);
        const BondSymbol& deciding = there.explicit_order ? there : here;
        rb.begin = there.explicit_order ? o : c;
        rb.end = there.explicit_order ? c : o;
        if (deciding.reversed) std::swap(rb.begin, rb.end);
        // A direction mark reads from the atom it is written at.
        if (here.direction != BondDirection::None) {
            rb.direction = rb.begin == c ? here.direction : core::reversed(here.direction);
        } else {
            rb.direction = rb.begin == o ? there.direction : core::reversed(there.direction);
        }
        ring_bonds_.push_back(rb);
        ring_pairs_.added<RingBond>(ring_bonds_);
        marks_.push_back({c, serial, mol_.num_atoms()});
        opening.open = false;
        --open_rings_;
        slot = 0;
        return true;
    }

    void add_ring_bonds() {
        num_chain_bonds_ = mol_.num_bonds();
        std::sort(ring_bonds_.begin(), ring_bonds_.end(), [](const RingBond& a, const RingBond& b) {
            return a.label != b.label ? a.label < b.label : a.close_seq < b.close_seq;
        });
        for (const RingBond& r : ring_bonds_) {
            Bond b;
            b.begin = r.begin;
            b.end = r.end;
            b.order = r.order;
            b.flags = r.order == BondOrder::Aromatic ? core::AROMATIC : 0u;
            b.direction = r.direction;
            openings_[r.serial].bond = mol_.push_bond(b);
        }
    }

    // ---- chirality fix-ups --------------------------------------------------
    std::span<const RingMark> ring_list(std::uint32_t atom) const {
        auto lo = std::lower_bound(marks_.begin(), marks_.end(), atom,
                                   [](const RingMark& m, std::uint32_t a) { return m.atom < a; });
        auto hi = lo;
        while (hi != marks_.end() && hi->atom == atom) ++hi;
        return {lo, hi};
    }

    // The atom's bonds in half-edge order.
    void stored_order(std::uint32_t atom, std::vector<std::uint32_t>& out) const {
        out.clear();
        for (core::Neighbor nb : mol_.neighbors(atom)) out.push_back(nb.bond);
    }

    // The atom's bonds in the order the text names them: the chain bond to the
    // atom it follows, its ring closures as written, then the chain bonds to
    // later atoms. A closure written after a branch follows that branch, so that
    // the text's own order decides the configuration. Returns the hydrogen slot:
    // just after the atom itself.
    std::size_t written_order(std::uint32_t atom, std::vector<std::uint32_t>& out) const {
        out.clear();
        std::size_t slot = 0;
        bool slot_found = false;
        const std::span<const RingMark> rings = ring_list(atom);
        std::size_t next_ring = 0;
        for (core::Neighbor nb : mol_.neighbors(atom)) {
            if (nb.bond >= num_chain_bonds_) break;  // ring bonds follow chain bonds
            if (!slot_found && nb.atom > atom) slot = out.size(), slot_found = true;
            while (next_ring < rings.size() && rings[next_ring].atoms_before <= nb.atom)
                out.push_back(openings_[rings[next_ring++].serial].bond);
            out.push_back(nb.bond);
        }
        if (!slot_found) slot = out.size();
        for (; next_ring < rings.size(); ++next_ring) out.push_back(openings_[rings[next_ring].serial].bond);
        return slot;
    }

    void fix_chirality() {
        if (chiral_.empty()) return;
        std::stable_sort(marks_.begin(), marks_.end(),
                         [](const RingMark& a, const RingMark& b) { return a.atom < b.atom; });
        for (const ChiralEntry& e : chiral_) {
            const std::size_t slot = written_order(e.atom, written_);
            stored_order(e.atom, stored_);
            if (written_.size() != stored_.size()) continue;
            Atom& atom = mol_.atoms[e.atom];
            switch (e.kind) {
                case MarkKind::Plain:
                    if (is_allene_centre(e.atom)) {
                        const std::uint8_t number = atom.chiral_tag == ChiralTag::Ccw ? 1 : 2;
                        atom.chiral_tag = ChiralTag::Allene;
                        atom.chiral_permutation = allene_number(e.atom, number);
                    } else {
                        tetrahedral(e);
                    }
                    break;
                case MarkKind::Th:
                    tetrahedral(e);
                    break;
                case MarkKind::Al:
                    atom.chiral_permutation =
                        is_allene_centre(e.atom) ? allene_number(e.atom, atom.chiral_permutation) : 0;
                    break;
                case MarkKind::Polyhedral:
                    polyhedral(e.atom, slot);
                    break;
            }
        }
    }

    void tetrahedral(const ChiralEntry& e) {
        const std::uint8_t parity = core::permutation_parity(written_, stored_);
        bool invert;
        if (written_.size() == 3) {
            if (e.declared_hs == 1) {
                invert = e.had_previous ? parity == 1 : parity == 0;
            } else if (ring_list(e.atom).size() == 1 && !has_multiple_bond(e.atom)) {
                invert = parity == 0;
            } else {
                invert = parity == 1;
            }
        } else {
            invert = parity == 1;
        }
        if (!invert) return;
        Atom& atom = mol_.atoms[e.atom];
        atom.chiral_tag = core::mirrored(atom.chiral_tag);
    }

    bool has_multiple_bond(std::uint32_t atom) const {
        for (core::Neighbor nb : mol_.neighbors(atom)) {
            const BondOrder o = mol_.bonds[nb.bond].order;
            if (o == BondOrder::Double || o == BondOrder::Triple || o == BondOrder::Quadruple ||
                o == BondOrder::Aromatic)
                return true;
        }
        return false;
    }

    void polyhedral(std::uint32_t centre, std::size_t slot) {
        Atom& atom = mol_.atoms[centre];
        const std::size_t vertices = core::polyhedron_vertex_count(atom.chiral_tag);
        const std::size_t bonds = written_.size();
        if (!core::polyhedron_fits_bonds(static_cast<std::uint32_t>(vertices), static_cast<std::uint32_t>(bonds)))
            return;
        if (vertices == bonds + 1) {
            written_.insert(written_.begin() + static_cast<std::ptrdiff_t>(slot), NONE);
            stored_.insert(stored_.begin(), NONE);
        }
        if (auto p = core::renumber_polyhedral_permutation(atom.chiral_tag, atom.chiral_permutation, written_, stored_))
            atom.chiral_permutation = *p;
    }

    bool is_allene_centre(std::uint32_t atom) const {
        if (mol_.degree[atom] != 2) return false;
        for (core::Neighbor nb : mol_.neighbors(atom))
            if (mol_.bonds[nb.bond].order != BondOrder::Double) return false;
        return true;
    }

    // Hydrogens on an allene terminal: declared for bracket atoms, else inferred
    // from the valence; -1 when they cannot be known.
    int terminal_hs(std::uint32_t t) const {
        const Atom& a = mol_.atoms[t];
        if (a.flags & core::FIXED_HS) return a.num_explicit_hs;
        if (a.formal_charge != 0 || a.isotope != 0 || a.num_radical_electrons != 0) return -1;
        const auto valence = core::explicit_valence(mol_, t, false, static_cast<float>(a.num_explicit_hs));
        if (!valence) return -1;
        const auto hs = core::implicit_hs(mol_, t, *valence, false);
        return hs ? *hs : -1;
    }

    // Appends the two far ligands of one allene terminal; false when they are not
    // exactly two distinct things.
    bool terminal_ligands(std::uint32_t centre, std::uint32_t centre_bond, bool written,
                          std::array<std::uint32_t, 4>& out, std::size_t& filled) {
        const Bond& b = mol_.bonds[centre_bond];
        const std::uint32_t t = b.begin == centre ? b.end : b.begin;
        // Two ligands besides the centre leave room for at most three bonds; a
        // busier terminal fails before its lists are walked.
        if (mol_.degree[t] > 3) return false;
        const int hs = terminal_hs(t);
        if (hs < 0 || hs > 1) return false;
        std::size_t slot = 0;
        if (written) slot = written_order(t, terminal_);
        else stored_order(t, terminal_);
        if (hs == 1) {
            const std::uint32_t h = HYDROGEN_LIGAND | t;
            terminal_.insert(terminal_.begin() + static_cast<std::ptrdiff_t>(written ? slot : 0), h);
        }
        std::size_t kept = 0;
        for (std::uint32_t lig : terminal_) {
            if (lig == centre_bond) continue;
            if (kept == 2) return false;
            out[filled + kept] = lig;
            ++kept;
        }
        if (kept != 2) return false;
        filled += 2;
        return true;
    }

    // The allene number re-expressed for stored orders, or 0 when it cannot be.
    std::uint8_t allene_number(std::uint32_t centre, std::uint8_t number) {
        if (!core::allene_configured(number)) return 0;
        std::array<std::uint32_t, 4> from_text{}, from_storage{};
        std::size_t a = 0, b = 0;
        // written_ and stored_ hold the centre's two bonds.
        const std::array<std::uint32_t, 2> text_bonds{written_[0], written_[1]};
        const std::array<std::uint32_t, 2> stored_bonds{stored_[0], stored_[1]};
        for (std::uint32_t bond : text_bonds)
            if (!terminal_ligands(centre, bond, true, from_text, a)) return 0;
        for (std::uint32_t bond : stored_bonds)
            if (!terminal_ligands(centre, bond, false, from_storage, b)) return 0;
        const std::uint8_t parity = core::permutation_parity(from_text, from_storage);
        if (parity == 2) return 0;
        return parity == 0 ? number : core::mirrored_allene(number);
    }

    std::string_view s_;
    std::size_t n_;
    std::size_t i_ = 0;
    MolBuilder mol_;
    std::optional<ParseError> error_;

    std::uint32_t previous_ = NONE;
    BondSymbol pending_;
    bool has_pending_ = false;
    std::vector<std::pair<std::uint32_t, std::uint32_t>>& branches_;

    std::array<std::uint32_t, SMALL_LABELS> small_labels_{};  // serial + 1; 0 = not open
    std::vector<std::uint32_t> big_labels_;
    std::vector<RingOpening>& openings_;  // by serial
    std::uint32_t open_rings_ = 0;
    std::vector<RingMark>& marks_;
    std::vector<RingBond>& ring_bonds_;
    RingPairs ring_pairs_;
    std::uint32_t num_chain_bonds_ = 0;

    std::vector<ChiralEntry>& chiral_;
    std::vector<std::uint32_t>& written_;
    std::vector<std::uint32_t>& stored_;
    std::vector<std::uint32_t>& terminal_;
};

}  // namespace

std::expected<core::MolBuilder, ParseError> read_smiles(std::string_view text) {
    const auto workspace = core::Scratch<Workspace>::borrow(text.size());
    workspace->clear();
    return Reader(text, *workspace).run();
}

}  // namespace quorix::io
