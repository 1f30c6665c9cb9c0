#include "chem/aromaticity.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <tuple>
#include <vector>

#include "chem/kekulize.hpp"
#include "chem/rings.hpp"
#include "core/elements.hpp"
#include "core/error.hpp"
#include "core/scratch.hpp"
#include "core/valence.hpp"

namespace quorix::chem {

namespace E = core::Element;

using core::Atom;
using core::Bond;
using core::BondOrder;
using core::MolBuilder;
using core::Neighbor;

namespace {

constexpr std::uint32_t MAX_COMBINED_RINGS = 6;
// Rings with more bonds are judged alone, never fused with others.
constexpr std::size_t MAX_FUSED_RING_BONDS = 24;

int first_valence(const core::ElementInfo* el) {
    return (el && !el->valences.empty()) ? el->valences[0] : -1;
}

int valence_electrons_of(std::uint32_t atomic_num) {
    const core::ElementInfo* el = core::element(atomic_num);
    return el ? el->valence_electrons : 0;
}

bool is_multiple(BondOrder order) {
    return order == BondOrder::Double || order == BondOrder::Triple || order == BondOrder::Quadruple;
}

std::int32_t lenient_valence(const MolBuilder& mol, std::uint32_t atom) {
    return core::lenient_explicit_valence(mol, atom);
}

// What classification reads of an atom's bonds, gathered in one walk.
struct BondSummary {
    std::int32_t sigma = 0;             // as sigma_bond_count
    std::int32_t multiples = 0;         // double and triple bonds
    bool ring_multiple = false;         // a multiple bond in a ring
    std::uint32_t exo_partner = core::NONE;  // far end of the first multiple bond outside rings
};

BondSummary summarize_bonds(const MolBuilder& mol, std::uint32_t atom) {
    BondSummary s;
    s.sigma = std::int32_t(mol.degree[atom]);
    for (std::uint32_t h = mol.first_half_edge[atom]; h != core::NONE; h = mol.next_half_edge[h]) {
        const Bond& b = mol.bonds[h >> 1];
        const BondOrder o = b.order;
        if (o == BondOrder::Unspecified || (o == BondOrder::Dative && b.begin == atom)) --s.sigma;
        if (o == BondOrder::Double || o == BondOrder::Triple) ++s.multiples;
        if (is_multiple(o)) {
            if (b.flags & core::IN_RING) s.ring_multiple = true;
            else if (s.exo_partner == core::NONE) s.exo_partner = (h & 1u) ? b.begin : b.end;
        }
    }
    return s;
}

// The spare-electron rule with the atom's sigma count known. `valence` gives the
// atom's lenient explicit valence; it is asked only when the rule needs it.
template <class Valence>
std::optional<std::int32_t> spare_electrons_given(const MolBuilder& mol, std::uint32_t atom, Valence&& valence,
                                                  std::int32_t sigma_bonds) {
    const Atom& a = mol.atoms[atom];
    const core::ElementInfo* el = core::element(a.atomic_num);
    const int default_valence = first_valence(el);
    if (!el || default_valence < 2) return std::nullopt;
    const std::int32_t sigma = sigma_bonds + std::int32_t(a.total_hs());
    if (sigma > 3) return std::nullopt;
    const std::int32_t electrons = el->valence_electrons;
    std::int32_t e = default_valence - a.num_radical_electrons - sigma +
                     std::max(electrons - (default_valence + a.formal_charge), 0);
    // A double bond plus more, a triple bond or two double bonds: one electron.
    if (e >= 2 && valence() - std::int32_t(mol.degree[atom]) >= 2) e = 1;
    return e;
}

PiContribution by_parity(std::int32_t e) {
    return e % 2 == 0 ? PiContribution::Two : PiContribution::One;
}

// `valence` gives the atom's lenient explicit valence, asked only when needed:
// most ring atoms that take no part are settled without it.
template <class Valence>
PiContribution classify(const MolBuilder& mol, std::uint32_t atom, Valence&& valence, const BondSummary& bonds) {
    const Atom& a = mol.atoms[atom];
    if (a.atomic_num == E::Wildcard) return bonds.ring_multiple ? PiContribution::One : PiContribution::OneOrTwo;
    const auto spare = spare_electrons_given(mol, atom, valence, bonds.sigma);
    if (!spare || *spare < 0) return PiContribution::Excluded;
    const std::int32_t e = *spare;
    // The exocyclic partner pulls the pi electrons when it is the more
    // electronegative end by valence electrons, then by the lower atomic number.
    const bool exo = bonds.exo_partner != core::NONE;
    bool pulls = false;
    if (exo) {
        const std::uint32_t self_z = a.atomic_num;
        const std::uint32_t partner_z = mol.atoms[bonds.exo_partner].atomic_num;
        const int self_e = valence_electrons_of(self_z);
        const int partner_e = valence_electrons_of(partner_z);
        pulls = partner_e > self_e || (partner_e == self_e && partner_z < self_z);
    }
    if (e == 0) {
        if (exo) return PiContribution::Zero;
        return bonds.ring_multiple ? PiContribution::One : PiContribution::Excluded;
    }
    if (e == 1) {
        if (exo) return pulls ? PiContribution::Zero : PiContribution::One;
        const std::int32_t declared_sigma = bonds.sigma + a.num_explicit_hs;
        if (valence() != declared_sigma) return PiContribution::One;
        return a.formal_charge == 1 ? PiContribution::Zero : PiContribution::Excluded;
    }
    if (exo && pulls) return by_parity(e + 1);
    return by_parity(e);
}

bool is_eligible(const MolBuilder& mol, std::uint32_t atom, PiContribution pi, std::int32_t v,
                 const BondSummary& bonds) {
    if (pi == PiContribution::Excluded) return false;
    const Atom& a = mol.atoms[atom];
    const std::uint32_t z = a.atomic_num;
    if (!(z <= E::Ar || z == E::Se || z == E::Te)) return false;
    if (first_valence(core::element(z)) > 0) {
        const int t = std::clamp(int(z) - int(a.formal_charge), 0, 118);
        if (v - a.num_explicit_hs + std::int32_t(a.total_hs()) > first_valence(core::element(t))) return false;
    }
    if (a.num_radical_electrons != 0 && !(z == E::C && a.formal_charge == 0)) return false;
    if (v - std::int32_t(mol.degree[atom]) >= 2 && bonds.multiples > 1) return false;
    return true;
}

// A connected set of at most six rings, as ascending local indices.
using Combination = std::array<std::uint32_t, MAX_COMBINED_RINGS>;

struct Interval {
    std::int32_t min = 0;
    std::int32_t max = 0;
};

bool huckel(Interval count) {
    if (count.max <= 5) return count.max == 2;
    for (std::int32_t n = count.min; n <= count.max; ++n)
        if (n % 4 == 2) return true;
    return false;
}

constexpr std::uint8_t UNSEEN = 2;

// The ring list as Perception reads it; a Ring's two lists may differ in length,
// so atoms and bonds have offsets of their own.
struct RingView {
    std::span<const std::uint32_t> atom_offsets, atoms, bond_offsets, bonds;

    RingView(const RingList& l) : atom_offsets(l.offsets), atoms(l.atoms), bond_offsets(l.offsets), bonds(l.bonds) {}
    RingView(const FlatLists& a, const FlatLists& b)
        : atom_offsets(a.offsets), atoms(a.items), bond_offsets(b.offsets), bonds(b.items) {}

    std::uint32_t size() const { return static_cast<std::uint32_t>(atom_offsets.size() - 1); }
    std::span<const std::uint32_t> ring_atoms(std::uint32_t i) const {
        return atoms.subspan(atom_offsets[i], atom_offsets[i + 1] - atom_offsets[i]);
    }
    std::span<const std::uint32_t> ring_bonds(std::uint32_t i) const {
        return bonds.subspan(bond_offsets[i], bond_offsets[i + 1] - bond_offsets[i]);
    }
};

// Per-atom marks of the read-back check.
constexpr std::uint8_t FLAGGED_HERE = 1;  // given the AROMATIC flag by this call
constexpr std::uint8_t CHECKED = 2;

// An atom's own fields and its bonds (order and flag before and after the marks,
// sorted): the whole input of the read-back check.
struct AtomKind {
    static constexpr std::uint32_t MAX_BONDS = 8;
    std::uint64_t atom = 0;   // element, charge, radicals, declared hydrogens, flags, degree
    std::uint64_t bonds = 0;  // one byte per bond, sorted
    bool operator==(const AtomKind&) const = default;
};

// Verdicts of the read-back check by atom kind: a few kinds make up most atoms.
// Direct-mapped; a verdict depends on the kind alone, so what the slots hold
// never changes an answer.
class KindVerdicts {
public:
    std::optional<bool> find(const AtomKind& kind) const {
        const Slot& s = slots_[slot_of(kind)];
        if (s.used && s.kind == kind) return s.ok;
        return std::nullopt;
    }
    void insert(const AtomKind& kind, bool ok) { slots_[slot_of(kind)] = {kind, ok, true}; }

private:
    struct Slot {
        AtomKind kind;
        bool ok = false;
        bool used = false;
    };
    static std::size_t slot_of(const AtomKind& kind) {
        const std::uint64_t h = (kind.atom * 0x9E3779B97F4A7C15ull) ^ (kind.bonds * 0xC2B2AE3D27D4EB4Full);
        return std::size_t(h >> 56);
    }
    std::array<Slot, 256> slots_{};
};

// Storage of one call, kept per thread so calls do not allocate once warm.
struct Workspace {
    std::vector<PiContribution> pi;
    std::vector<std::uint8_t> eligible;         // 0, 1, or UNSEEN until first asked
    std::vector<std::uint32_t> candidates;      // ring-list positions
    std::vector<std::uint32_t> nbr_offsets;     // fused neighbours, CSR over candidates
    std::vector<std::uint32_t> nbr_entries;
    std::vector<std::uint8_t> atom_count;       // rings of the combination holding the atom
    std::vector<std::uint8_t> bond_in_system;
    std::vector<std::uint8_t> bond_marked;      // marked aromatic while this system was handled
    std::vector<std::uint32_t> bond_scratch;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> by_bond, edges;
    std::vector<std::uint64_t> shared;
    std::vector<std::uint8_t> visited, accepted;
    std::vector<std::uint32_t> local_of, stack, members, local_offsets, local_entries;
    std::array<std::vector<std::uint32_t>, MAX_COMBINED_RINGS + 1> extensions;
    RingList found, sorted;
    FlatLists given_atoms, given_bonds;
    std::vector<std::uint32_t> union_parent;  // by atom; set for the block at hand
    std::vector<std::uint8_t> block_kept, bond_kept;  // blocks that may hold aromatic rings, and their bonds
    std::vector<std::uint8_t> wildcard_bond;  // bonds of ring systems holding a wildcard; empty when none
    // What the marks of this call changed, so that they can be taken back.
    struct MarkedBond {
        std::uint32_t bond;
        BondOrder order;   // before the mark
        bool was_flagged;  // AROMATIC before the mark
    };
    std::vector<MarkedBond> marked_bonds;
    std::vector<std::uint32_t> flagged_atoms;  // given the AROMATIC flag by a mark
    std::vector<std::uint32_t> bond_log;       // by bond: its place in marked_bonds, or NONE
    std::vector<std::uint8_t> atom_state;      // by atom: FLAGGED_HERE, CHECKED
    KindVerdicts verdicts;
};


// Working data of one call; sized once, reset only where it was touched.
struct Perception {
    MolBuilder& mol;
    Workspace& w;
    const RingView* rings = nullptr;
    std::uint32_t marked_count = 0;

    Perception(MolBuilder& m, Workspace& ws) : mol(m), w(ws) {
        w.pi.assign(m.num_atoms(), PiContribution::Excluded);
        w.eligible.assign(m.num_atoms(), UNSEEN);
        w.candidates.clear();
        w.wildcard_bond.clear();
        w.marked_bonds.clear();
        w.flagged_atoms.clear();
    }

    void exclude_wildcard_systems(const RingBlocks& blocks);

    // Classes and eligibility are worked out only for atoms that lie in some
    // ring, and always before any mark is made.
    bool is_eligible_atom(std::uint32_t a) {
        if (w.eligible[a] == UNSEEN) {
            const BondSummary bonds = summarize_bonds(mol, a);
            std::int32_t v = 0;
            bool known = false;
            const auto valence = [&] {
                if (!known) {
                    v = lenient_valence(mol, a);
                    known = true;
                }
                return v;
            };
            w.pi[a] = classify(mol, a, valence, bonds);
            w.eligible[a] = w.pi[a] != PiContribution::Excluded && is_eligible(mol, a, w.pi[a], valence(), bonds);
        }
        return w.eligible[a] == 1;
    }

    std::span<const std::uint32_t> ring_atoms(std::uint32_t c) const { return rings->ring_atoms(w.candidates[c]); }
    std::span<const std::uint32_t> ring_bonds(std::uint32_t c) const { return rings->ring_bonds(w.candidates[c]); }

    std::uint32_t run(const RingView& ring_list);
    std::uint32_t mark_rings();
    bool logging = false;  // bond_log and atom_state sized for this call
    void log_bond(std::uint32_t b);
    bool kind_of(std::uint32_t a, AtomKind& kind) const;
    bool reads_back(std::uint32_t a);
    bool drop_unreadable_atoms();
    bool eligible_cycle(std::span<const std::uint32_t> block_bonds, std::span<const std::uint32_t> block_atoms);
    void find_candidates();
    void find_fused_neighbours();
    std::uint32_t handle_system(std::span<const std::uint32_t> members,
                                std::span<const std::uint32_t> local_offsets,
                                std::span<const std::uint32_t> local_entries);
    bool judge(const Combination& combo, std::uint32_t size, std::span<const std::uint32_t> members);
    void mark(const Combination& combo, std::uint32_t size, std::span<const std::uint32_t> members);
};

// Whether the block's bonds between eligible atoms (all already classified)
// close a cycle, by union-find over the block's atoms.
bool Perception::eligible_cycle(std::span<const std::uint32_t> block_bonds,
                                std::span<const std::uint32_t> block_atoms) {
    std::vector<std::uint32_t>& up = w.union_parent;
    if (up.size() < mol.num_atoms()) up.resize(mol.num_atoms());
    for (std::uint32_t a : block_atoms) up[a] = a;
    const auto root = [&](std::uint32_t x) {
        while (up[x] != x) {
            up[x] = up[up[x]];
            x = up[x];
        }
        return x;
    };
    for (std::uint32_t b : block_bonds) {
        const Bond& bond = mol.bonds[b];
        if (w.eligible[bond.begin] != 1 || w.eligible[bond.end] != 1) continue;
        const std::uint32_t x = root(bond.begin), y = root(bond.end);
        if (x == y) return true;
        up[x] = y;
    }
    return false;
}

// The Kekulé step refuses a ring system that holds a wildcard and anything
// aromatic, so the text of such a system would not read back if one of its rings
// were aromatic: those rings stay as they are written.
void Perception::exclude_wildcard_systems(const RingBlocks& blocks) {
    for (std::uint32_t s = 0; s < blocks.blocks.size(); ++s) {
        const auto atoms = blocks.block_atoms[s];
        if (std::none_of(atoms.begin(), atoms.end(),
                         [&](std::uint32_t a) { return at(mol.atoms, a).atomic_num == E::Wildcard; }))
            continue;
        if (w.wildcard_bond.empty()) w.wildcard_bond.assign(mol.num_bonds(), 0);
        for (std::uint32_t b : blocks.blocks[s]) at(w.wildcard_bond, b) = 1;
    }
}

void Perception::find_candidates() {
    for (std::uint32_t r = 0; r < rings->size(); ++r) {
        if (!w.wildcard_bond.empty()) {
            const auto bonds = rings->ring_bonds(r);
            if (std::any_of(bonds.begin(), bonds.end(), [&](std::uint32_t b) { return w.wildcard_bond[b] != 0; }))
                continue;
        }
        bool all_eligible = true;
        bool has_element = false;
        for (std::uint32_t a : rings->ring_atoms(r)) {
            if (!is_eligible_atom(a)) {
                all_eligible = false;
                break;
            }
            if (mol.atoms[a].atomic_num != E::Wildcard) has_element = true;
        }
        if (all_eligible && has_element) w.candidates.push_back(r);
    }
}

void Perception::find_fused_neighbours() {
    const auto n_cand = static_cast<std::uint32_t>(w.candidates.size());
    // (bond, candidate) in ascending candidate order; a stable sort by bond keeps
    // each bond's candidates ascending.
    auto& by_bond = w.by_bond;
    by_bond.clear();
    for (std::uint32_t c = 0; c < n_cand; ++c) {
        const auto bonds = ring_bonds(c);
        if (bonds.empty() || bonds.size() > MAX_FUSED_RING_BONDS) continue;
        for (std::uint32_t b : bonds) by_bond.emplace_back(b, c);
    }
    // Pairs are distinct, so sorting the pairs is the stable sort by bond.
    std::sort(by_bond.begin(), by_bond.end());
    auto& shared = w.shared;  // one entry per shared bond: (earlier << 32) | later
    shared.clear();
    for (std::size_t i = 0; i < by_bond.size();) {
        std::size_t j = i;
        while (j < by_bond.size() && by_bond[j].first == by_bond[i].first) ++j;
        for (std::size_t p = i; p < j; ++p)
            for (std::size_t q = p + 1; q < j; ++q)
                shared.push_back((std::uint64_t(by_bond[p].second) << 32) | by_bond[q].second);
        i = j;
    }
    std::sort(shared.begin(), shared.end());
    auto& edges = w.edges;
    edges.clear();
    for (std::size_t i = 0; i < shared.size();) {
        std::size_t j = i;
        while (j < shared.size() && shared[j] == shared[i]) ++j;
        if (j - i == 1) {
            const auto x = std::uint32_t(shared[i] >> 32);
            const auto y = std::uint32_t(shared[i]);
            if (x != y) {
                edges.emplace_back(x, y);
                edges.emplace_back(y, x);
            }
        }
        i = j;
    }
    std::sort(edges.begin(), edges.end());
    w.nbr_offsets.assign(n_cand + 1, 0);
    w.nbr_entries.clear();
    for (const auto& [x, y] : edges) {
        ++w.nbr_offsets[x + 1];
        w.nbr_entries.push_back(y);
    }
    for (std::uint32_t c = 0; c < n_cand; ++c) w.nbr_offsets[c + 1] += w.nbr_offsets[c];
}

bool Perception::judge(const Combination& combo, std::uint32_t size, std::span<const std::uint32_t> members) {
    for (std::uint32_t k = 0; k < size; ++k)
        for (std::uint32_t a : ring_atoms(members[combo[k]])) ++w.atom_count[a];
    Interval count;
    std::uint32_t wildcards = 0;
    // Each atom is taken once (its counter is cleared as it is read), which also
    // leaves the counters zero for the next combination.
    for (std::uint32_t k = 0; k < size; ++k) {
        for (std::uint32_t a : ring_atoms(members[combo[k]])) {
            const std::uint8_t in_rings = w.atom_count[a];
            if (in_rings == 0) continue;
            w.atom_count[a] = 0;
            if (in_rings > 2) continue;  // atoms inside three or more rings are left out
            switch (w.pi[a]) {
                case PiContribution::Excluded:
                case PiContribution::Zero: break;
                case PiContribution::One: count.min += 1; count.max += 1; break;
                case PiContribution::Two: count.min += 2; count.max += 2; break;
                case PiContribution::OneOrTwo:
                    ++wildcards;
                    count.min += 1;
                    count.max += 2;
                    break;
            }
        }
    }
    if (wildcards > 1) return false;
    return huckel(count);
}

void Perception::mark(const Combination& combo, std::uint32_t size, std::span<const std::uint32_t> members) {
    auto& bond_scratch = w.bond_scratch;
    bond_scratch.clear();
    for (std::uint32_t k = 0; k < size; ++k) {
        const auto bonds = ring_bonds(members[combo[k]]);
        bond_scratch.insert(bond_scratch.end(), bonds.begin(), bonds.end());
    }
    std::sort(bond_scratch.begin(), bond_scratch.end());
    for (std::size_t i = 0; i < bond_scratch.size();) {
        std::size_t j = i;
        while (j < bond_scratch.size() && bond_scratch[j] == bond_scratch[i]) ++j;
        if (j - i == 1) {  // a bond shared by two rings of the combination is left alone
            const std::uint32_t b = bond_scratch[i];
            log_bond(b);
            Bond& bond = mol.bonds[b];
            bond.flags |= core::AROMATIC;
            if (!w.bond_marked[b]) {
                w.bond_marked[b] = 1;
                ++marked_count;
            }
            if (bond.order == BondOrder::Single || bond.order == BondOrder::Double) {
                bond.order = BondOrder::Aromatic;
                for (const std::uint32_t a : {bond.begin, bond.end}) {
                    if (mol.atoms[a].flags & core::AROMATIC) continue;
                    mol.atoms[a].flags |= core::AROMATIC;
                    w.flagged_atoms.push_back(a);
                    w.atom_state[a] |= FLAGGED_HERE;
                }
            }
        }
        i = j;
    }
}

void Perception::log_bond(std::uint32_t b) {
    if (!logging) {
        w.bond_log.assign(mol.num_bonds(), core::NONE);
        w.atom_state.assign(mol.num_atoms(), 0);
        logging = true;
    }
    if (w.bond_log[b] != core::NONE) return;
    const Bond& bond = mol.bonds[b];
    w.bond_log[b] = static_cast<std::uint32_t>(w.marked_bonds.size());
    w.marked_bonds.push_back({b, bond.order, (bond.flags & core::AROMATIC) != 0});
}

// The atom's kind: everything its verdict depends on, its bonds before and after
// the marks included. False when the atom has too many bonds to be described.
bool Perception::kind_of(std::uint32_t a, AtomKind& kind) const {
    const Atom& atom = mol.atoms[a];
    const std::uint32_t degree = mol.degree[a];
    if (degree > AtomKind::MAX_BONDS) return false;
    const std::uint64_t flags = ((atom.flags & core::FIXED_HS) ? 1 : 0) | ((atom.flags & core::AROMATIC) ? 2 : 0) |
                                ((w.atom_state[a] & FLAGGED_HERE) ? 4 : 0);
    kind.atom = std::uint64_t(atom.atomic_num) | std::uint64_t(std::uint8_t(atom.formal_charge)) << 8 |
                std::uint64_t(atom.num_radical_electrons) << 16 | std::uint64_t(atom.num_explicit_hs) << 24 |
                flags << 32 | std::uint64_t(degree) << 40;
    std::array<std::uint8_t, AtomKind::MAX_BONDS> classes{};
    std::uint32_t n = 0;
    for (std::uint32_t h = mol.first_half_edge[a]; h != core::NONE; h = mol.next_half_edge[h]) {
        const std::uint32_t b = h >> 1;
        const Bond& bond = mol.bonds[b];
        const std::uint32_t log = w.bond_log[b];
        const BondOrder before = log == core::NONE ? bond.order : w.marked_bonds[log].order;
        const bool flagged_before = log == core::NONE ? (bond.flags & core::AROMATIC) != 0 : w.marked_bonds[log].was_flagged;
        // Orders take 0 to 6; 7 stands for a dative bond the atom donates, which
        // counts at its acceptor only. Marks never touch dative bonds.
        const bool donated = bond.order == BondOrder::Dative && bond.begin == a;
        const std::uint8_t now = donated ? 7 : std::uint8_t(bond.order);
        const std::uint8_t then = donated ? 7 : std::uint8_t(before);
        std::uint8_t c = static_cast<std::uint8_t>(now | (then << 3));
        if (bond.flags & core::AROMATIC) c |= 0x40;
        if (flagged_before) c |= 0x80;
        std::uint32_t k = n++;
        for (; k > 0 && classes[k - 1] > c; --k) classes[k] = classes[k - 1];
        classes[k] = c;
    }
    std::memcpy(&kind.bonds, classes.data(), sizeof kind.bonds);
    return true;
}

// Whether the atom's aromatic text reads back: whether its element has an
// aromatic symbol, and the Kekulé step, reading the atom as that text gives it (in
// brackets with its hydrogens, or plain where the reader gives them back), hands
// it its double bonds again and keeps its valence. It gives at most one double
// bond of the system to an atom, and only when the atom's target valence asks
// for it; the aromatic rules must not give the atom hydrogens either.
bool Perception::reads_back(std::uint32_t a) {
    Atom& atom = mol.atoms[a];
    if (!E::has_aromatic_symbol(atom.atomic_num)) return false;
    std::uint32_t doubles = 0;
    for (std::uint32_t h = mol.first_half_edge[a]; h != core::NONE; h = mol.next_half_edge[h]) {
        const std::uint32_t log = w.bond_log[h >> 1];
        if (log != core::NONE && (mol.bonds[h >> 1].flags & core::AROMATIC) &&
            w.marked_bonds[log].order == BondOrder::Double)
            ++doubles;
    }
    if (doubles > 1) return false;
    const bool wants_double = doubles == 1;
    const Atom kept = atom;
    // The atom in its Kekulé form: its bonds as they were before the marks.
    const auto swap_marked_bonds = [&] {
        for (std::uint32_t h = mol.first_half_edge[a]; h != core::NONE; h = mol.next_half_edge[h]) {
            const std::uint32_t log = w.bond_log[h >> 1];
            if (log == core::NONE) continue;
            Workspace::MarkedBond& m = w.marked_bonds[log];
            Bond& bond = mol.bonds[m.bond];
            const bool flagged = (bond.flags & core::AROMATIC) != 0;
            std::swap(bond.order, m.order);
            bond.flags = m.was_flagged ? (bond.flags | core::AROMATIC) : (bond.flags & ~core::AROMATIC);
            m.was_flagged = flagged;
        }
    };
    swap_marked_bonds();
    if (w.atom_state[a] & FLAGGED_HERE) atom.flags &= ~core::AROMATIC;
    const core::AtomValence kekule = core::lenient_valence_hs(mol, a);
    atom.num_explicit_hs = 0;
    atom.flags &= ~core::FIXED_HS;
    const core::AtomValence kekule_plain = core::lenient_valence_hs(mol, a);
    swap_marked_bonds();
    atom = kept;
    // An atom aromatic already before the marks (an aromatic bond order it was
    // given) had no Kekulé form for the marks to replace.
    if (kekule.aromatic) return true;

    const std::int32_t hs = std::int32_t(kept.num_explicit_hs) + kekule.implicit_hs;
    bool ok = (kept.flags & core::FIXED_HS) || core::lenient_valence_hs(mol, a).implicit_hs <= kekule.implicit_hs;
    const KekuleBondSum bonds = kekule_bond_sum(mol, a, nullptr);
    if (ok && hs <= 255) {
        atom.num_explicit_hs = static_cast<std::uint8_t>(hs);
        atom.flags |= core::FIXED_HS;
        const core::AtomValence tv = core::lenient_valence_hs(mol, a);
        ok = tv.total() == kekule_plain.explicit_valence + hs && needs_double_bond(mol, a, tv, bonds) == wants_double;
    }
    if (ok) {
        atom.num_explicit_hs = 0;
        atom.flags &= ~core::FIXED_HS;
        const core::AtomValence tv = core::lenient_valence_hs(mol, a);
        if (tv.implicit_hs == hs)
            ok = tv.total() == kekule_plain.total() && needs_double_bond(mol, a, tv, bonds) == wants_double;
    }
    atom = kept;
    return ok;
}

// Leaves out every marked atom whose aromatic text would not read back, taking
// back all marks of this call when there is one. Returns whether there was.
bool Perception::drop_unreadable_atoms() {
    if (w.marked_bonds.empty()) return false;
    bool dropped = false;
    AtomKind kind;
    for (const Workspace::MarkedBond& m : w.marked_bonds)
        for (const std::uint32_t a : {mol.bonds[m.bond].begin, mol.bonds[m.bond].end}) {
            if (w.atom_state[a] & CHECKED) continue;
            w.atom_state[a] |= CHECKED;
            const bool described = kind_of(a, kind);
            const std::optional<bool> known = described ? w.verdicts.find(kind) : std::nullopt;
            const bool ok = known ? *known : reads_back(a);
            if (described && !known) w.verdicts.insert(kind, ok);
            if (!ok) {
                w.eligible[a] = 0;
                dropped = true;
            }
        }
    for (const Workspace::MarkedBond& m : w.marked_bonds) {
        const Bond& bond = mol.bonds[m.bond];
        w.atom_state[bond.begin] &= ~CHECKED;
        w.atom_state[bond.end] &= ~CHECKED;
    }
    if (!dropped) return false;
    for (const Workspace::MarkedBond& m : w.marked_bonds) {
        Bond& bond = mol.bonds[m.bond];
        bond.order = m.order;
        if (!m.was_flagged) bond.flags &= ~core::AROMATIC;
        w.bond_log[m.bond] = core::NONE;
    }
    for (std::uint32_t a : w.flagged_atoms) {
        mol.atoms[a].flags &= ~core::AROMATIC;
        w.atom_state[a] = 0;
    }
    w.marked_bonds.clear();
    w.flagged_atoms.clear();
    return true;
}

// Every connected set of exactly `size` rings of one system, each set once:
// sets grow from their lowest member through exclusive neighbourhoods, so no set
// is reached twice and none has to be stored. The depth is at most six.
class ConnectedSets {
public:
    ConnectedSets(std::span<const std::uint32_t> offsets, std::span<const std::uint32_t> entries,
                  std::array<std::vector<std::uint32_t>, MAX_COMBINED_RINGS + 1>& extensions)
        : offsets_(offsets), entries_(entries), ext_(extensions) {}

    template <class Visit>
    void each(std::uint32_t size, Visit&& visit) {
        size_ = size;
        const auto n = static_cast<std::uint32_t>(offsets_.size() - 1);
        for (std::uint32_t root = 0; root < n; ++root) {
            set_[0] = root;
            ext_[1].clear();
            for (std::uint32_t u : neighbours(root))
                if (u > root) ext_[1].push_back(u);
            extend(1, root, visit);
        }
    }

private:
    std::span<const std::uint32_t> neighbours(std::uint32_t r) const {
        return entries_.subspan(offsets_[r], offsets_[r + 1] - offsets_[r]);
    }

    // In the set, or bonded to one of its members.
    bool touches_set(std::uint32_t u, std::uint32_t len) const {
        for (std::uint32_t k = 0; k < len; ++k) {
            if (set_[k] == u) return true;
            for (std::uint32_t v : neighbours(set_[k]))
                if (v == u) return true;
        }
        return false;
    }

    template <class Visit>
    void extend(std::uint32_t len, std::uint32_t root, Visit& visit) {
        if (len == size_) {
            visit(set_, len);
            return;
        }
        std::vector<std::uint32_t>& ext = ext_[len];
        while (!ext.empty()) {
            const std::uint32_t w = ext.back();
            ext.pop_back();
            std::vector<std::uint32_t>& next = ext_[len + 1];
            next.assign(ext.begin(), ext.end());
            for (std::uint32_t u : neighbours(w))
                if (u > root && !touches_set(u, len)) next.push_back(u);
            set_[len] = w;
            extend(len + 1, root, visit);
        }
    }

    std::span<const std::uint32_t> offsets_;
    std::span<const std::uint32_t> entries_;
    std::uint32_t size_ = 0;
    Combination set_{};
    std::array<std::vector<std::uint32_t>, MAX_COMBINED_RINGS + 1>& ext_;
};

std::uint32_t Perception::handle_system(std::span<const std::uint32_t> members,
                                        std::span<const std::uint32_t> local_offsets,
                                        std::span<const std::uint32_t> local_entries) {
    std::uint32_t distinct_bonds = 0;
    for (std::uint32_t c : members)
        for (std::uint32_t b : ring_bonds(c))
            if (!w.bond_in_system[b]) {
                w.bond_in_system[b] = 1;
                ++distinct_bonds;
            }
    marked_count = 0;
    auto& accepted = w.accepted;
    accepted.assign(members.size(), 0);
    if (distinct_bonds > 0) {
        // Level n holds exactly the connected sets of n rings, and verdicts and
        // marks do not depend on the order within a level, so each level is
        // walked as it is enumerated. A level past the system's size is empty.
        ConnectedSets sets(local_offsets, local_entries, w.extensions);
        const auto levels = static_cast<std::uint32_t>(std::min<std::size_t>(members.size(), MAX_COMBINED_RINGS));
        for (std::uint32_t size = 1; size <= levels; ++size) {
            sets.each(size, [&](const Combination& combo, std::uint32_t len) {
                if (!judge(combo, len, members)) return;
                mark(combo, len, members);
                for (std::uint32_t k = 0; k < len; ++k) accepted[combo[k]] = 1;
            });
            if (marked_count >= distinct_bonds) break;
        }
    }
    for (std::uint32_t c : members)
        for (std::uint32_t b : ring_bonds(c)) {
            w.bond_in_system[b] = 0;
            w.bond_marked[b] = 0;
        }
    return static_cast<std::uint32_t>(std::count(accepted.begin(), accepted.end(), std::uint8_t{1}));
}

}  // namespace

std::int32_t sigma_bond_count(const MolBuilder& mol, std::uint32_t atom) {
    std::int32_t count = std::int32_t(quorix::at(mol.degree, atom));
    for (std::uint32_t h = mol.first_half_edge[atom]; h != core::NONE; h = mol.next_half_edge[h]) {
        const Bond& b = mol.bonds[h >> 1];
        if (b.order == BondOrder::Unspecified || (b.order == BondOrder::Dative && b.begin == atom)) --count;
    }
    return count;
}

std::optional<std::int32_t> spare_electrons(const MolBuilder& mol, std::uint32_t atom) {
    quorix::at(mol.atoms, atom);
    return spare_electrons_given(mol, atom, [&] { return lenient_valence(mol, atom); }, sigma_bond_count(mol, atom));
}

std::optional<std::int32_t> spare_electrons(const MolBuilder& mol, std::uint32_t atom, std::int32_t valence) {
    quorix::at(mol.atoms, atom);
    return spare_electrons_given(mol, atom, [valence] { return valence; }, sigma_bond_count(mol, atom));
}

std::optional<std::int32_t> spare_electrons(const MolBuilder& mol, std::uint32_t atom, std::int32_t valence,
                                            std::int32_t sigma_bonds) {
    quorix::at(mol.atoms, atom);
    return spare_electrons_given(mol, atom, [valence] { return valence; }, sigma_bonds);
}

void pi_contributions(const MolBuilder& mol, std::span<PiContribution> out) {
    if (out.size() != mol.atoms.size()) internal_error("π 类数组长度与原子数不符");
    for (std::uint32_t i = 0; i < mol.num_atoms(); ++i)
        out[i] = classify(mol, i, [&] { return lenient_valence(mol, i); }, summarize_bonds(mol, i));
}

std::uint32_t perceive_aromaticity(MolBuilder& mol) {
    const auto memo = core::Scratch<RingBlocksMemo>::borrow(mol.num_atoms());
    return perceive_aromaticity(mol, remembered_ring_blocks(mol, *memo));
}

std::uint32_t perceive_aromaticity(MolBuilder& mol, const RingBlocks& blocks) {
    // The ring list of `sssr`, less the rings of ring systems whose eligible
    // atoms are fewer than three or close no cycle among themselves: those rings
    // can never be candidates, and dropping whole systems keeps the relative
    // order of the rings that remain.
    if (blocks.blocks.empty()) return 0;
    const auto lease = core::Scratch<Workspace>::borrow(mol.num_atoms());
    Workspace& w = *lease;
    Perception p(mol, w);
    p.exclude_wildcard_systems(blocks);
    w.found.clear();
    for (std::uint32_t s = 0; s < blocks.blocks.size(); ++s) {
        std::uint32_t eligible_atoms = 0;
        for (std::uint32_t a : blocks.block_atoms[s]) {
            if (a >= mol.num_atoms()) internal_error("环块的原子下标越界");
            if (p.is_eligible_atom(a)) ++eligible_atoms;
        }
        if (eligible_atoms >= 3 && p.eligible_cycle(blocks.blocks[s], blocks.block_atoms[s]))
            append_ring_system_rings(mol.bonds, blocks.blocks[s], blocks.block_atoms[s], w.found);
    }
    sort_ring_list(w.found, w.sorted);
    return p.run(RingView(w.sorted));
}

std::uint32_t perceive_aromaticity(MolBuilder& mol, RingBlocksMemo& memo) {
    // The same rings as the overload above: its list holds the rings of the
    // eligible blocks, appended block by block and sorted by a key that ends in
    // the place of appending, so it is the whole sorted list with the rings of
    // the other blocks left out, in the same order.
    const RingBlocks& blocks = remembered_ring_blocks(mol, memo);
    if (blocks.blocks.empty()) return 0;
    const auto lease = core::Scratch<Workspace>::borrow(mol.num_atoms());
    Workspace& w = *lease;
    Perception p(mol, w);
    p.exclude_wildcard_systems(blocks);
    std::uint32_t kept = 0;
    w.block_kept.assign(blocks.blocks.size(), 0);
    for (std::uint32_t s = 0; s < blocks.blocks.size(); ++s) {
        std::uint32_t eligible_atoms = 0;
        for (std::uint32_t a : blocks.block_atoms[s]) {
            if (a >= mol.num_atoms()) internal_error("环块的原子下标越界");
            if (p.is_eligible_atom(a)) ++eligible_atoms;
        }
        if (eligible_atoms >= 3 && p.eligible_cycle(blocks.blocks[s], blocks.block_atoms[s])) {
            w.block_kept[s] = 1;
            ++kept;
        }
    }
    if (kept == 0) return 0;
    // The blocks were checked against the graph above.
    if (!memo.rings_known) {
        ring_list_of_blocks(mol, blocks, w.found, memo.rings);
        memo.rings_known = true;
    }
    const RingList& all = memo.rings;
    if (kept == blocks.blocks.size()) return p.run(RingView(all));
    // A ring's bonds lie in one block: its first bond tells which.
    w.bond_kept.assign(mol.num_bonds(), 0);
    for (std::uint32_t s = 0; s < blocks.blocks.size(); ++s)
        if (w.block_kept[s])
            for (std::uint32_t b : blocks.blocks[s]) w.bond_kept[b] = 1;
    w.sorted.clear();
    for (std::uint32_t i = 0; i < all.size(); ++i) {
        const auto bonds = all.ring_bonds(i);
        if (bonds.empty()) internal_error("环没有键");
        if (!w.bond_kept[bonds.front()]) continue;
        const auto atoms = all.ring_atoms(i);
        w.sorted.atoms.insert(w.sorted.atoms.end(), atoms.begin(), atoms.end());
        w.sorted.bonds.insert(w.sorted.bonds.end(), bonds.begin(), bonds.end());
        w.sorted.close_ring();
    }
    return p.run(RingView(w.sorted));
}

std::uint32_t perceive_aromaticity(MolBuilder& mol, std::span<const Ring> rings) {
    const std::uint32_t n_atoms = mol.num_atoms();
    const std::uint32_t n_bonds = mol.num_bonds();
    for (const Ring& ring : rings) {
        for (std::uint32_t a : ring.atoms)
            if (a >= n_atoms) internal_error("环的原子下标越界");
        for (std::uint32_t b : ring.bonds)
            if (b >= n_bonds) internal_error("环的键下标越界");
    }
    const auto lease = core::Scratch<Workspace>::borrow(n_atoms);
    Workspace& w = *lease;
    Perception p(mol, w);
    if (std::any_of(mol.atoms.begin(), mol.atoms.end(), [](const Atom& a) { return a.atomic_num == E::Wildcard; })) {
        const auto memo = core::Scratch<RingBlocksMemo>::borrow(n_atoms);
        p.exclude_wildcard_systems(remembered_ring_blocks(mol, *memo));
    }
    w.given_atoms.clear();
    w.given_bonds.clear();
    for (const Ring& ring : rings) {
        w.given_atoms.items.insert(w.given_atoms.items.end(), ring.atoms.begin(), ring.atoms.end());
        w.given_atoms.close_list();
        w.given_bonds.items.insert(w.given_bonds.items.end(), ring.bonds.begin(), ring.bonds.end());
        w.given_bonds.close_list();
    }
    return p.run(RingView(w.given_atoms, w.given_bonds));
}

std::uint32_t Perception::run(const RingView& ring_list) {
    rings = &ring_list;
    if (rings->size() == 0) return 0;
    // Each round that finds an unreadable atom takes all marks back and leaves
    // that atom out, so the rounds end.
    for (;;) {
        const std::uint32_t total = mark_rings();
        if (!drop_unreadable_atoms()) return total;
    }
}

std::uint32_t Perception::mark_rings() {
    const std::uint32_t n_atoms = mol.num_atoms();
    const std::uint32_t n_bonds = mol.num_bonds();
    w.candidates.clear();
    find_candidates();
    if (w.candidates.empty()) return 0;
    find_fused_neighbours();
    w.atom_count.assign(n_atoms, 0);
    w.bond_in_system.assign(n_bonds, 0);
    w.bond_marked.assign(n_bonds, 0);

    // Ring systems: connected components of the fused-neighbour graph, taken from
    // the lowest unvisited candidate, members ascending.
    const auto n_cand = static_cast<std::uint32_t>(w.candidates.size());
    w.visited.assign(n_cand, 0);
    w.local_of.assign(n_cand, core::NONE);
    auto& stack = w.stack;
    auto& members = w.members;
    auto& local_offsets = w.local_offsets;
    auto& local_entries = w.local_entries;
    std::uint32_t total = 0;
    for (std::uint32_t start = 0; start < n_cand; ++start) {
        if (w.visited[start]) continue;
        members.clear();
        stack.assign(1, start);
        w.visited[start] = 1;
        while (!stack.empty()) {
            const std::uint32_t c = stack.back();
            stack.pop_back();
            members.push_back(c);
            for (std::uint32_t e = w.nbr_offsets[c]; e < w.nbr_offsets[c + 1]; ++e) {
                const std::uint32_t m = w.nbr_entries[e];
                if (!w.visited[m]) {
                    w.visited[m] = 1;
                    stack.push_back(m);
                }
            }
        }
        std::sort(members.begin(), members.end());
        for (std::uint32_t i = 0; i < members.size(); ++i) w.local_of[members[i]] = i;
        // Global neighbour lists are ascending and the local numbering keeps
        // order, so the local lists come out ascending too.
        local_offsets.assign(members.size() + 1, 0);
        local_entries.clear();
        for (std::uint32_t i = 0; i < members.size(); ++i) {
            const std::uint32_t c = members[i];
            for (std::uint32_t e = w.nbr_offsets[c]; e < w.nbr_offsets[c + 1]; ++e)
                local_entries.push_back(w.local_of[w.nbr_entries[e]]);
            local_offsets[i + 1] = static_cast<std::uint32_t>(local_entries.size());
        }
        total += handle_system(members, local_offsets, local_entries);
        for (std::uint32_t c : members) w.local_of[c] = core::NONE;
    }
    return total;
}

}  // namespace quorix::chem
