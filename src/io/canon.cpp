#include "io/canon.hpp"

#include <algorithm>
#include <bit>
#include <numeric>

#include "core/error.hpp"
#include "core/permutation.hpp"
#include "core/scratch.hpp"

namespace quorix::io {

using core::MolBuilder;
using core::NONE;

std::uint32_t doubled_order_weight(core::BondOrder order) {
    switch (order) {
        case core::BondOrder::Unspecified: return 0;
        case core::BondOrder::Single: return 2;
        case core::BondOrder::Double: return 4;
        case core::BondOrder::Triple: return 6;
        case core::BondOrder::Quadruple: return 8;
        case core::BondOrder::Aromatic: return 3;
        case core::BondOrder::Dative: return 2;
    }
    return 0;
}

CanonInvariant canon_invariant(const MolBuilder& mol, std::uint32_t atom) {
    const core::Atom& a = at(mol.atoms, atom);
    CanonInvariant inv;
    inv.atomic_num = a.atomic_num;
    inv.degree = static_cast<std::uint8_t>(mol.degree[atom] & 0xFFu);
    std::uint32_t sum = 0;  // wraps like the u32 it is stored in
    const std::uint32_t* next = mol.next_half_edge.data();
    for (std::uint32_t h = mol.first_half_edge[atom]; h != NONE; h = next[h])
        sum += doubled_order_weight(mol.bonds[h >> 1].order);
    inv.bond_order_sum = sum;
    inv.formal_charge = a.formal_charge;
    inv.total_hs = static_cast<std::uint8_t>(std::min(a.total_hs(), 255u));
    inv.isotope = a.isotope;
    inv.aromatic = (a.flags & core::AROMATIC) ? 1 : 0;
    return inv;
}

// ---------------------------------------------------------------- queue

void Partition::enqueue(std::uint32_t cell) {
    const std::uint32_t s = at(cell_start, cell);
    queue_bits[s >> 6] |= std::uint64_t{1} << (s & 63);
    queue_low_word = std::min(queue_low_word, s >> 6);
}

std::optional<std::uint32_t> Partition::pop_queue() {
    const auto words = static_cast<std::uint32_t>(queue_bits.size());
    for (std::uint32_t w = queue_low_word; w < words; ++w) {
        const std::uint64_t bits = queue_bits[w];
        if (bits == 0) continue;
        queue_low_word = w;
        const std::uint32_t s = (w << 6) + static_cast<std::uint32_t>(std::countr_zero(bits));
        queue_bits[w] = bits & (bits - 1);
        const std::uint32_t cell = cell_of[order[s]];
        if (cell_start[cell] != s) internal_error("队列中的格起点失效");
        return cell;
    }
    queue_low_word = words;
    return std::nullopt;
}

bool Partition::queue_empty() const {
    return std::all_of(queue_bits.begin(), queue_bits.end(), [](std::uint64_t w) { return w == 0; });
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> Partition::queue_contents() const {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
    for (std::uint32_t s = 0; s < order.size(); ++s)
        if ((queue_bits[s >> 6] >> (s & 63)) & 1u) out.emplace_back(s, cell_of[order[s]]);
    return out;
}

// ---------------------------------------------------------------- initial partition

namespace {

struct PackedInvariant {
    std::uint64_t hi;
    std::uint64_t lo;
    auto operator<=>(const PackedInvariant&) const = default;
};

// The seven fields packed so that integer order equals field-by-field order.
PackedInvariant pack(const CanonInvariant& v) {
    const std::uint64_t charge = static_cast<std::uint8_t>(static_cast<int>(v.formal_charge) + 128);
    return {(std::uint64_t{v.atomic_num} << 56) | (std::uint64_t{v.degree} << 48) |
                (std::uint64_t{v.bond_order_sum} << 16) | (charge << 8) | v.total_hs,
            (std::uint64_t{v.isotope} << 8) | v.aromatic};
}

bool key_less(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

bool key_equal(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

namespace {

// The cells of slots sorted by (invariant, atom), the atom index in the low
// `index_bits` bits of each slot; every cell queued.
template <class Slot>
void cells_from_sorted(const std::vector<Slot>& slots, unsigned index_bits, Partition& p) {
    const auto n = static_cast<std::uint32_t>(slots.size());
    const Slot index_mask = (Slot(1) << index_bits) - 1;
    p.order.resize(n);
    p.position.resize(n);
    p.cell_of.resize(n);
    p.queue_bits.assign((std::size_t{n} + 63) / 64, 0);
    p.queue_low_word = 0;
    p.cell_start.clear();
    p.cell_end.clear();
    p.cell_start.reserve(n);  // cells never outnumber atoms
    p.cell_end.reserve(n);
    for (std::uint32_t pos = 0; pos < n;) {
        const Slot key = slots[pos] >> index_bits;
        std::uint32_t end = pos + 1;
        while (end < n && (slots[end] >> index_bits) == key) ++end;
        const auto cell = static_cast<std::uint32_t>(p.cell_start.size());
        p.cell_start.push_back(pos);
        p.cell_end.push_back(end);
        for (std::uint32_t q = pos; q < end; ++q) {
            const auto atom = static_cast<std::uint32_t>(slots[q] & index_mask);
            p.order[q] = atom;
            p.position[atom] = q;
            p.cell_of[atom] = cell;
        }
        p.queue_bits[pos >> 6] |= std::uint64_t{1} << (pos & 63);
        pos = end;
    }
    p.quiet.assign(p.cell_start.size(), 0);
    p.chiral_ready = false;
    p.chiral_waiting.clear();
    p.chiral_waiting_count = 0;
    p.chiral_moved.clear();
    p.chiral_byte.clear();
}

}  // namespace

void initial_partition(const MolBuilder& mol, Partition& p) {
    const std::uint32_t n = mol.num_atoms();
    const auto sums_lease = core::Scratch<std::vector<std::uint32_t>>::borrow(n);
    std::vector<std::uint32_t>& order_sum = *sums_lease;
    // The bond order sums in one pass over the bonds (they wrap like the u32
    // they are, so the order of addition does not matter).
    order_sum.assign(n, 0);
    for (const core::Bond& b : mol.bonds) {
        const std::uint32_t w = doubled_order_weight(b.order);
        order_sum[b.begin] += w;
        order_sum[b.end] += w;
    }
    auto invariant = [&](std::uint32_t a) {
        const core::Atom& atom = mol.atoms[a];
        CanonInvariant inv;
        inv.atomic_num = atom.atomic_num;
        inv.degree = static_cast<std::uint8_t>(mol.degree[a] & 0xFFu);
        inv.bond_order_sum = order_sum[a];
        inv.formal_charge = atom.formal_charge;
        inv.total_hs = static_cast<std::uint8_t>(std::min(atom.total_hs(), 255u));
        inv.isotope = atom.isotope;
        inv.aromatic = (atom.flags & core::AROMATIC) ? 1 : 0;
        return inv;
    };
    // One integer per atom: the packed invariant above the atom index, so that a
    // plain sort orders by invariant and then by atom index. Almost always the
    // sums and isotopes fit a byte and the index 15 bits: the fields then pack,
    // in the same order, into 64 bits, which sort faster than 128.
    if (n <= (1u << 15)) {
        const auto slots_lease = core::Scratch<std::vector<std::uint64_t>>::borrow(n);
        std::vector<std::uint64_t>& slots = *slots_lease;
        slots.resize(n);
        std::uint32_t beyond_byte = 0;
        for (std::uint32_t a = 0; a < n; ++a) {
            const CanonInvariant v = invariant(a);
            beyond_byte |= (v.bond_order_sum | v.isotope) & ~0xFFu;
            const std::uint64_t charge = static_cast<std::uint8_t>(static_cast<int>(v.formal_charge) + 128);
            slots[a] = (std::uint64_t{v.atomic_num} << 56) | (std::uint64_t{v.degree} << 48) |
                       (std::uint64_t{v.bond_order_sum & 0xFFu} << 40) | (charge << 32) |
                       (std::uint64_t{v.total_hs} << 24) | (std::uint64_t{v.isotope & 0xFFu} << 16) |
                       (std::uint64_t{v.aromatic} << 15) | a;
        }
        if (beyond_byte == 0) {
            std::sort(slots.begin(), slots.end());
            cells_from_sorted(slots, 15, p);
            return;
        }
    }
    using Slot = unsigned __int128;
    const auto slots_lease = core::Scratch<std::vector<Slot>>::borrow(n);
    std::vector<Slot>& slots = *slots_lease;
    slots.resize(n);
    for (std::uint32_t a = 0; a < n; ++a) {
        const PackedInvariant k = pack(invariant(a));
        slots[a] = (Slot(k.hi) << 64) | (Slot(k.lo) << 32) | a;
    }
    std::sort(slots.begin(), slots.end());
    cells_from_sorted(slots, 32, p);
}

Partition initial_partition(const MolBuilder& mol) {
    Partition p;
    initial_partition(mol, p);
    return p;
}

// ---------------------------------------------------------------- splitting

namespace {

// The part of a split shared by both key forms: `keyed` (k atoms of `cell`) is
// already sorted by (key, atom); `same(i, j)` compares the keys of two entries.
template <class Entry, class Same>
void split_sorted(Partition& p, std::uint32_t cell, const Entry* keyed, std::size_t k, Same same) {
    const std::uint32_t e = p.cell_end[cell];
    const std::uint32_t s = p.cell_start[cell];
    // Exchanges first, then the sorted write: the unkeyed atoms end up in the
    // order these exchanges leave them, which later decides who leads the cell.
    std::uint32_t* order = p.order.data();
    std::uint32_t* position = p.position.data();
    for (std::size_t i = 0; i < k; ++i) {
        const std::uint32_t a = keyed[i].atom;
        const std::uint32_t from = position[a];
        const auto to = static_cast<std::uint32_t>(e - 1 - i);
        if (from > to) internal_error("键入原子重复");
        const std::uint32_t b = order[to];
        order[from] = b;
        position[b] = from;
        order[to] = a;
        position[a] = to;
    }
    const auto keyed_start = static_cast<std::uint32_t>(e - k);
    for (std::size_t i = 0; i < k; ++i) {
        const auto pos = static_cast<std::uint32_t>(keyed_start + i);
        order[pos] = keyed[i].atom;
        position[keyed[i].atom] = pos;
    }

    // Queue bits by start position; the cell number is known to be valid here.
    std::uint64_t* queue = p.queue_bits.data();
    const bool was_queued = (queue[s >> 6] >> (s & 63)) & 1u;
    queue[s >> 6] &= ~(std::uint64_t{1} << (s & 63));

    // Blocks in position order: the unkeyed run, then one per run of equal keys.
    const std::uint32_t base = p.num_cells();
    const bool track_quiet = p.quiet.size() == base;
    const std::uint8_t quiet = track_quiet ? p.quiet[cell] : 0;
    std::uint32_t blocks = 0;
    std::uint32_t largest = 0;
    std::uint32_t largest_size = 0;
    auto place_block = [&](std::uint32_t b_start, std::uint32_t b_end) {
        std::uint32_t number;
        if (blocks == 0) {
            number = cell;
            p.cell_end[cell] = b_end;
        } else {
            number = static_cast<std::uint32_t>(p.cell_start.size());
            p.cell_start.push_back(b_start);
            p.cell_end.push_back(b_end);
            if (track_quiet) p.quiet.push_back(quiet);
            p.note_new_cell(cell);
        }
        // The first block keeps the cell's number, so only later blocks relabel
        // their atoms; a split costs the keyed atoms, not the whole cell.
        if (blocks != 0)
            for (std::uint32_t q = b_start; q < b_end; ++q) {
                p.cell_of[order[q]] = number;
                p.note_moved(order[q]);
            }
        if (blocks == 0 || b_end - b_start >= largest_size) {
            largest = blocks;
            largest_size = b_end - b_start;
        }
        ++blocks;
    };
    if (keyed_start > s) place_block(s, keyed_start);
    for (std::size_t i = 0; i < k;) {
        std::size_t j = i + 1;
        while (j < k && same(j, i)) ++j;
        place_block(static_cast<std::uint32_t>(keyed_start + i), static_cast<std::uint32_t>(keyed_start + j));
        i = j;
    }
    if (blocks == 0) internal_error("至少一块");

    for (std::uint32_t b = 0; b < blocks; ++b) {
        if (b == largest && !was_queued) continue;
        const std::uint32_t start = p.cell_start[b == 0 ? cell : base + b - 1];
        queue[start >> 6] |= std::uint64_t{1} << (start & 63);
        p.queue_low_word = std::min(p.queue_low_word, start >> 6);
    }
}

// Checks that the keyed atoms lie in the cell; true when one key covers the whole
// cell, so there is nothing to split.
template <class Keyed, class Equal>
bool keys_leave_cell_whole(const Partition& p, std::uint32_t cell, std::span<Keyed> keyed, Equal equal) {
    if (cell >= p.num_cells()) internal_error("格编号越界");
    const std::size_t k = keyed.size();
    if (k > p.cell_end[cell] - p.cell_start[cell]) internal_error("键入原子多于格内原子");
    for (const Keyed& ka : keyed)
        if (ka.atom >= p.num_atoms() || p.cell_of[ka.atom] != cell) internal_error("键入原子不在格内");
    if (k == 0 || k != p.cell_size(cell)) return false;
    for (std::size_t i = 1; i < k; ++i)
        if (!equal(keyed[i].key, keyed[0].key)) return false;
    return true;
}

bool coded_less(const CodedAtom& x, const CodedAtom& y) {
    return x.key != y.key ? x.key < y.key : x.atom < y.atom;
}

}  // namespace

void split_cell(Partition& p, std::uint32_t cell, std::span<KeyedAtom> keyed) {
    if (keys_leave_cell_whole(p, cell, keyed, [](const auto& x, const auto& y) { return key_equal(x, y); })) return;
    const std::size_t k = keyed.size();

    std::sort(keyed.begin(), keyed.end(), [](const KeyedAtom& x, const KeyedAtom& y) {
        if (!key_equal(x.key, y.key)) return key_less(x.key, y.key);
        return x.atom < y.atom;
    });
    split_sorted(p, cell, keyed.data(), k, [&](std::size_t i, std::size_t j) { return key_equal(keyed[i].key, keyed[j].key); });
}

namespace {

// Sorts by (key, atom) as `coded_less` does, in a few linear passes: stable
// radix passes on the atom index, then a stable pass on the rank of the key among
// the few distinct keys. False, with nothing changed, when there are too many
// distinct keys for that.
[[gnu::noinline]] bool sort_coded_by_passes(CodedAtom* first, std::size_t k, std::uint32_t num_atoms, std::vector<CodedAtom>& scratch) {
    constexpr unsigned MAX_KEYS = 8;
    std::uint64_t keys[MAX_KEYS];
    unsigned distinct = 0;
    for (std::size_t i = 0; i < k; ++i) {
        unsigned j = 0;
        while (j < distinct && keys[j] != first[i].key) ++j;
        if (j == distinct) {
            if (distinct == MAX_KEYS) return false;
            keys[distinct++] = first[i].key;
        }
    }
    for (unsigned i = 1; i < distinct; ++i)
        for (unsigned j = i; j > 0 && keys[j - 1] > keys[j]; --j) std::swap(keys[j - 1], keys[j]);
    scratch.resize(k);
    CodedAtom* from = first;
    CodedAtom* to = scratch.data();
    constexpr unsigned BITS = 11;
    constexpr std::uint32_t RADIX = 1u << BITS;
    std::uint32_t count[RADIX];
    const unsigned width = static_cast<unsigned>(std::bit_width(std::max<std::uint32_t>(num_atoms, 1) - 1));
    for (unsigned shift = 0; shift < width; shift += BITS) {
        std::fill(count, count + RADIX, 0u);
        for (std::size_t i = 0; i < k; ++i) ++count[(from[i].atom >> shift) & (RADIX - 1)];
        std::uint32_t run = 0;
        for (std::uint32_t& c : count) {
            const std::uint32_t here = c;
            c = run;
            run += here;
        }
        for (std::size_t i = 0; i < k; ++i) to[count[(from[i].atom >> shift) & (RADIX - 1)]++] = from[i];
        std::swap(from, to);
    }
    std::uint32_t at_rank[MAX_KEYS + 1] = {};
    auto rank = [&](std::uint64_t key) {
        unsigned r = 0;
        while (keys[r] != key) ++r;
        return r;
    };
    for (std::size_t i = 0; i < k; ++i) ++at_rank[rank(from[i].key) + 1];
    for (unsigned r = 0; r < distinct; ++r) at_rank[r + 1] += at_rank[r];
    for (std::size_t i = 0; i < k; ++i) to[at_rank[rank(from[i].key)]++] = from[i];
    if (to != first) std::copy(to, to + k, first);
    return true;
}

// split_sorted for one keyed atom of a tied cell, the commonest split (a lone
// splitter's neighbour): the atom moves to the cell's end as a cell of its own,
// and the same cells are queued.
void split_off_one(Partition& p, std::uint32_t cell, std::uint32_t atom) {
    const std::uint32_t s = p.cell_start[cell];
    const std::uint32_t e = p.cell_end[cell];
    const std::uint32_t from = p.position[atom];
    const std::uint32_t to = e - 1;
    const std::uint32_t b = p.order[to];
    p.order[from] = b;
    p.position[b] = from;
    p.order[to] = atom;
    p.position[atom] = to;

    std::uint64_t* queue = p.queue_bits.data();
    const bool was_queued = (queue[s >> 6] >> (s & 63)) & 1u;
    const auto fresh = static_cast<std::uint32_t>(p.cell_start.size());
    if (p.quiet.size() == fresh) p.quiet.push_back(p.quiet[cell]);
    p.cell_end[cell] = to;
    p.cell_start.push_back(to);
    p.cell_end.push_back(e);
    p.note_new_cell(cell);
    p.cell_of[atom] = fresh;
    p.note_moved(atom);
    // Both parts wait if the cell did (its start stays queued); otherwise all but
    // the larger part, the later of two equal ones counting as larger.
    auto enqueue_at = [&](std::uint32_t start) {
        queue[start >> 6] |= std::uint64_t{1} << (start & 63);
        p.queue_low_word = std::min(p.queue_low_word, start >> 6);
    };
    enqueue_at(!was_queued && to - s == 1 ? s : to);
}

void split_cell_coded(Partition& p, std::uint32_t cell, std::span<CodedAtom> keyed, std::vector<CodedAtom>* scratch) {
    if (keys_leave_cell_whole(p, cell, keyed, [](const auto& x, const auto& y) { return x == y; })) return;
    const std::size_t k = keyed.size();
    if (k == 1) {
        split_off_one(p, cell, keyed[0].atom);
        return;
    }

    CodedAtom* first = keyed.data();
    if (k <= 16) {
        for (std::size_t i = 1; i < k; ++i) {
            const CodedAtom v = first[i];
            std::size_t j = i;
            for (; j > 0 && coded_less(v, first[j - 1]); --j) first[j] = first[j - 1];
            first[j] = v;
        }
    } else if (k < 512 || !scratch || !sort_coded_by_passes(first, k, p.num_atoms(), *scratch)) {
        std::sort(first, first + k, coded_less);
    }
    split_sorted(p, cell, first, k, [&](std::size_t i, std::size_t j) { return first[i].key == first[j].key; });
}

}  // namespace

void split_cell_coded(Partition& p, std::uint32_t cell, std::span<CodedAtom> keyed) {
    split_cell_coded(p, cell, keyed, nullptr);
}

void individualise(Partition& p, std::uint32_t atom, std::uint32_t cell) {
    if (cell >= p.num_cells() || atom >= p.num_atoms()) internal_error("格或原子编号越界");
    if (p.cell_of[atom] != cell) internal_error("原子不在所给的格内");
    if (p.cell_size(cell) < 2) internal_error("只能拆分并列的格");
    const std::uint32_t s = p.cell_start[cell];
    const std::uint32_t from = p.position[atom];
    const std::uint32_t other = p.order[s];
    p.order[from] = other;
    p.position[other] = from;
    p.order[s] = atom;
    p.position[atom] = s;

    const std::uint32_t fresh = p.num_cells();
    if (p.quiet.size() == fresh) p.quiet.push_back(p.quiet[cell]);
    p.cell_start.push_back(s);
    p.cell_end.push_back(s + 1);
    p.note_new_cell(cell);
    p.cell_of[atom] = fresh;
    p.note_moved(atom);
    p.cell_start[cell] = s + 1;
    p.enqueue(fresh);
    p.enqueue(cell);
}

void begin_trial(Partition& p) {
    if (p.trial || !p.queue_empty()) internal_error("试拆须始于细化完的划分");
    p.trial = true;
    p.trial_cells = p.num_cells();
    p.trial_parent.clear();
    p.trial_quiet.clear();
    p.trial_resolved.clear();
    p.trial_moved = p.chiral_moved;
    p.trial_low_word = p.queue_low_word;
    p.trial_waiting_count = p.chiral_waiting_count;
    p.trial_first_round = p.chiral_first_round;
}

void take_back_trial(Partition& p) {
    if (!p.trial) internal_error("没有进行中的试拆");
    const std::uint32_t base = p.trial_cells;
    // A parent is older than its parts, so the old cell each part came from is
    // known by the time the part is reached; the old cell's range was the union.
    std::vector<std::uint32_t>& root = p.trial_parent;
    for (std::uint32_t k = 0; k < root.size(); ++k) {
        if (root[k] >= base) root[k] = root[root[k] - base];
        const std::uint32_t r = root[k], cell = base + k;
        for (std::uint32_t pos = p.cell_start[cell]; pos < p.cell_end[cell]; ++pos) p.cell_of[p.order[pos]] = r;
        p.cell_start[r] = std::min(p.cell_start[r], p.cell_start[cell]);
        p.cell_end[r] = std::max(p.cell_end[r], p.cell_end[cell]);
    }
    p.cell_start.resize(base);
    p.cell_end.resize(base);
    if (p.quiet.size() > base) p.quiet.resize(base);
    for (std::uint32_t cell : p.trial_quiet)
        if (cell < base) p.quiet[cell] = 0;
    for (std::uint32_t atom : p.trial_resolved) {
        p.chiral_waiting[atom] = 1;
        p.chiral_byte[atom] = 0;
    }
    // Refinement leaves the queue empty, as it was.
    p.queue_low_word = p.trial_low_word;
    p.chiral_waiting_count = p.trial_waiting_count;
    p.chiral_first_round = p.trial_first_round;
    p.chiral_moved.swap(p.trial_moved);
    p.trial = false;
}

std::optional<std::uint32_t> next_tied_cell(const Partition& p, std::uint32_t from_position) {
    const std::uint32_t n = p.num_atoms();
    if (from_position > n) internal_error("起点越界");
    if (p.is_discrete()) return std::nullopt;
    // Walking cells by position finds the smallest tied start first.
    for (std::uint32_t pos = from_position; pos < n;) {
        const std::uint32_t cell = p.cell_of[p.order[pos]];
        if (p.cell_end[cell] - pos >= 2) {
            if (p.cell_start[cell] != pos) internal_error("起点不在格首");
            return cell;
        }
        pos = p.cell_end[cell];
    }
    return std::nullopt;
}

// ---------------------------------------------------------------- refinement

void RefineWorkspace::prepare(const MolBuilder& mol) {
    const std::uint32_t n = mol.num_atoms();
    entry_of.assign(n, NONE);
    // Room for the largest splitter up front, so refinement does not regrow. The
    // long-key buffers grow only when a long key turns up.
    entry_atom.reserve(n);
    entry_bytes.reserve(n);
    entry_length.reserve(n);
    coded.reserve(n);
    group_of_cell.assign(n, NONE);
    group_cell.reserve(n);
    group_offset.reserve(std::size_t{n} + 1);
    scratch_a.reserve(n);
}

namespace {

// Keys are short almost always; a long one (an atom with many bonds into one
// cell) must not cost quadratic time.
void sort_key(std::uint8_t* first, std::uint8_t* last) {
    if (last - first > 20) {
        std::stable_sort(first, last);
        return;
    }
    for (std::uint8_t* i = first + (first != last); i < last; ++i) {
        const std::uint8_t v = *i;
        std::uint8_t* j = i;
        for (; j > first && *(j - 1) > v; --j) *j = *(j - 1);
        *j = v;
    }
}

// Counts the entries of each cell their atoms lie in, cells numbered by first
// appearance: group_cell[g] is the cell, group_offset[g] its count.
std::uint32_t group_entries_by_cell(const Partition& p, std::uint32_t entries, RefineWorkspace& w) {
    if (w.group_of_cell.size() < p.num_cells()) w.group_of_cell.resize(p.num_cells(), NONE);
    w.group_cell.clear();
    w.group_offset.clear();
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint32_t cell = p.cell_of[w.entry_atom[i]];
        std::uint32_t& g = w.group_of_cell[cell];
        if (g == NONE) {
            g = static_cast<std::uint32_t>(w.group_cell.size());
            w.group_cell.push_back(cell);
            w.group_offset.push_back(0);
        }
        ++w.group_offset[g];
    }
    return static_cast<std::uint32_t>(w.group_cell.size());
}

// Turns the group counts into running offsets with a closing total.
void group_offsets_from_counts(std::uint32_t groups, RefineWorkspace& w) {
    std::uint32_t run = 0;
    for (std::uint32_t g = 0; g < groups; ++g) {
        const std::uint32_t count = w.group_offset[g];
        w.group_offset[g] = run;
        run += count;
    }
    w.group_offset.push_back(run);
}

// Phase 1 for one splitter: key every atom next to it by the sorted orders of its
// bonds into it, then split each touched cell by those keys. Atoms already alone
// in their cell cannot split and are not keyed. This form holds keys of any length.
void split_by_neighbours_long(Partition& p, const MolBuilder& mol, std::uint32_t splitter, RefineWorkspace& w) {
    w.entry_atom.clear();
    w.entry_count.clear();
    w.touches.clear();
    const std::uint32_t xs = p.cell_start[splitter];
    const std::uint32_t xe = p.cell_end[splitter];
    const std::uint32_t* next = mol.next_half_edge.data();
    const core::Bond* bonds = mol.bonds.data();
    for (std::uint32_t pos = xs; pos < xe; ++pos) {
        for (std::uint32_t h = mol.first_half_edge[p.order[pos]]; h != NONE; h = next[h]) {
            const core::Bond& bond = bonds[h >> 1];
            const std::uint32_t u = (h & 1u) ? bond.begin : bond.end;
            const std::uint32_t cell = p.cell_of[u];
            if (p.cell_end[cell] - p.cell_start[cell] < 2) continue;
            std::uint32_t& entry = w.entry_of[u];
            if (entry == NONE) {
                entry = static_cast<std::uint32_t>(w.entry_atom.size());
                w.entry_atom.push_back(u);
                w.entry_count.push_back(0);
            }
            ++w.entry_count[entry];
            w.touches.push_back({entry, static_cast<std::uint8_t>(bond.order)});
        }
    }
    const auto entries = static_cast<std::uint32_t>(w.entry_atom.size());
    if (entries == 0) {
        w.quiet = true;
        return;
    }
    w.entry_offset.resize(entries + 1);
    std::uint32_t total = 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        w.entry_offset[i] = total;
        total += w.entry_count[i];
        w.entry_count[i] = 0;  // reused as fill cursor
    }
    w.entry_offset[entries] = total;
    w.key_bytes.resize(total);
    for (const auto& t : w.touches) w.key_bytes[w.entry_offset[t.entry] + w.entry_count[t.entry]++] = t.byte;
    for (std::uint32_t i = 0; i < entries; ++i) {
        if (w.entry_count[i] > 1)
            sort_key(w.key_bytes.data() + w.entry_offset[i], w.key_bytes.data() + w.entry_offset[i + 1]);
        w.entry_of[w.entry_atom[i]] = NONE;
    }

    // Group by cell in order of first appearance, entries in entry order.
    const std::uint32_t groups = group_entries_by_cell(p, entries, w);
    group_offsets_from_counts(groups, w);
    w.keyed.resize(entries);
    w.scratch_a.assign(w.group_offset.begin(), w.group_offset.end() - 1);  // fill cursors
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint32_t g = w.group_of_cell[p.cell_of[w.entry_atom[i]]];
        w.keyed[w.scratch_a[g]++] = KeyedAtom{
            w.entry_atom[i],
            std::span<const std::uint8_t>(w.key_bytes.data() + w.entry_offset[i], w.entry_offset[i + 1] - w.entry_offset[i])};
    }
    for (std::uint32_t g = 0; g < groups; ++g) w.group_of_cell[w.group_cell[g]] = NONE;

    for (std::uint32_t g = 0; g < groups; ++g)
        split_cell(p, w.group_cell[g],
                   std::span<KeyedAtom>(w.keyed.data() + w.group_offset[g], w.group_offset[g + 1] - w.group_offset[g]));
}

// Phase 1 with every key packed into an integer, which is what almost every
// splitter gives; false (with nothing changed) when some atom has more than 8
// bonds into the splitter, for the long-key form to handle.
bool split_by_neighbours_packed(Partition& p, const MolBuilder& mol, std::uint32_t splitter, RefineWorkspace& w) {
    w.entry_atom.clear();
    w.entry_bytes.clear();
    w.entry_length.clear();
    const std::uint32_t xs = p.cell_start[splitter];
    const std::uint32_t xe = p.cell_end[splitter];
    const std::uint32_t* next = mol.next_half_edge.data();
    const std::uint32_t* first = mol.first_half_edge.data();
    const core::Bond* bonds = mol.bonds.data();
    const std::uint32_t* cell_of = p.cell_of.data();
    const std::uint32_t* cell_start = p.cell_start.data();
    const std::uint32_t* cell_end = p.cell_end.data();
    std::uint32_t* entry_of = w.entry_of.data();
    bool overflow = false;
    for (std::uint32_t pos = xs; pos < xe; ++pos) {
        for (std::uint32_t h = first[p.order[pos]]; h != NONE; h = next[h]) {
            const core::Bond& bond = bonds[h >> 1];
            const std::uint32_t u = (h & 1u) ? bond.begin : bond.end;
            const std::uint32_t cell = cell_of[u];
            if (cell_end[cell] - cell_start[cell] < 2) continue;
            std::uint32_t entry = entry_of[u];
            if (entry == NONE) {
                entry = static_cast<std::uint32_t>(w.entry_atom.size());
                entry_of[u] = entry;
                w.entry_atom.push_back(u);
                w.entry_bytes.push_back(0);
                w.entry_length.push_back(0);
            }
            std::uint8_t& length = w.entry_length[entry];
            if (length == 8) {
                overflow = true;
                continue;
            }
            w.entry_bytes[entry] |= std::uint64_t(static_cast<std::uint8_t>(bond.order)) << (8 * length);
            ++length;
        }
    }
    const auto entries = static_cast<std::uint32_t>(w.entry_atom.size());
    for (std::uint32_t i = 0; i < entries; ++i) entry_of[w.entry_atom[i]] = NONE;
    if (overflow) return false;
    if (entries == 0) {
        w.quiet = true;
        return true;
    }

    // Each key's bytes sorted, then packed; the bytes are stored in the low end,
    // in arrival order.
    for (std::uint32_t i = 0; i < entries; ++i) {
        const unsigned length = w.entry_length[i];
        std::uint64_t raw = w.entry_bytes[i];
        std::uint64_t code;
        if (length == 1) {
            code = (raw + 1) << 56;
        } else {
            std::uint8_t bytes[8];
            for (unsigned k = 0; k < length; ++k) {
                const auto v = static_cast<std::uint8_t>(raw >> (8 * k));
                unsigned j = k;
                for (; j > 0 && bytes[j - 1] > v; --j) bytes[j] = bytes[j - 1];
                bytes[j] = v;
            }
            code = 0;
            for (unsigned k = 0; k < length; ++k) code |= std::uint64_t(bytes[k] + 1u) << (56 - 8 * k);
        }
        w.entry_bytes[i] = code;
    }

    // Group by cell in order of first appearance.
    const std::uint32_t groups = group_entries_by_cell(p, entries, w);
    w.coded.resize(entries);
    if (groups == 1) {
        for (std::uint32_t i = 0; i < entries; ++i) w.coded[i] = CodedAtom{w.entry_bytes[i], w.entry_atom[i]};
        w.group_of_cell[w.group_cell[0]] = NONE;
        split_cell_coded(p, w.group_cell[0], std::span<CodedAtom>(w.coded.data(), entries), &w.sort_scratch);
        return true;
    }
    group_offsets_from_counts(groups, w);
    w.scratch_a.assign(w.group_offset.begin(), w.group_offset.end() - 1);  // fill cursors
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint32_t g = w.group_of_cell[cell_of[w.entry_atom[i]]];
        w.coded[w.scratch_a[g]++] = CodedAtom{w.entry_bytes[i], w.entry_atom[i]};
    }
    for (std::uint32_t g = 0; g < groups; ++g) w.group_of_cell[w.group_cell[g]] = NONE;

    for (std::uint32_t g = 0; g < groups; ++g)
        split_cell_coded(p, w.group_cell[g],
                         std::span<CodedAtom>(w.coded.data() + w.group_offset[g], w.group_offset[g + 1] - w.group_offset[g]),
                         &w.sort_scratch);
    return true;
}

// Phase 1 for a splitter with few bonds (a lone atom, mostly): the same steps on
// the stack, entries and groups found by linear search. False, with nothing
// changed, when the splitter has too many bonds or a key would not pack.
bool split_by_small_splitter(Partition& p, const MolBuilder& mol, std::uint32_t splitter, RefineWorkspace& w) {
    constexpr unsigned MAX = 16;
    std::uint32_t atom_of[MAX];
    std::uint64_t bytes[MAX];
    std::uint8_t length[MAX];
    unsigned entries = 0;
    const std::uint32_t* next = mol.next_half_edge.data();
    const std::uint32_t* first = mol.first_half_edge.data();
    const core::Bond* bonds = mol.bonds.data();
    const std::uint32_t* cell_of = p.cell_of.data();
    const std::uint32_t* cell_start = p.cell_start.data();
    const std::uint32_t* cell_end = p.cell_end.data();
    const std::uint32_t xs = cell_start[splitter], xe = cell_end[splitter];
    for (std::uint32_t pos = xs; pos < xe; ++pos) {
        for (std::uint32_t h = first[p.order[pos]]; h != NONE; h = next[h]) {
            const core::Bond& bond = bonds[h >> 1];
            const std::uint32_t u = (h & 1u) ? bond.begin : bond.end;
            const std::uint32_t cell = cell_of[u];
            if (cell_end[cell] - cell_start[cell] < 2) continue;
            unsigned e = 0;
            while (e < entries && atom_of[e] != u) ++e;
            if (e == entries) {
                if (entries == MAX) return false;
                atom_of[e] = u;
                bytes[e] = 0;
                length[e] = 0;
                ++entries;
            }
            if (length[e] == 8) return false;
            bytes[e] |= std::uint64_t(static_cast<std::uint8_t>(bond.order)) << (8 * length[e]);
            ++length[e];
        }
    }
    if (entries == 0) {
        w.quiet = true;
        return true;
    }
    // Groups by cell in order of first appearance, entries in entry order.
    std::uint32_t group_cell[MAX];
    std::uint8_t group_of[MAX];
    unsigned groups = 0;
    for (unsigned e = 0; e < entries; ++e) {
        const std::uint32_t cell = cell_of[atom_of[e]];
        unsigned g = 0;
        while (g < groups && group_cell[g] != cell) ++g;
        if (g == groups) group_cell[groups++] = cell;
        group_of[e] = static_cast<std::uint8_t>(g);
    }
    // Each atom alone in its group (neighbours in distinct cells, the usual
    // case): its key orders nothing, and it splits off.
    if (groups == entries) {
        for (unsigned e = 0; e < entries; ++e) split_off_one(p, group_cell[e], atom_of[e]);
        return true;
    }
    for (unsigned e = 0; e < entries; ++e) {
        if (length[e] == 1) {
            bytes[e] = (bytes[e] + 1) << 56;
            continue;
        }
        std::uint8_t sorted[8];
        for (unsigned k = 0; k < length[e]; ++k) {
            const auto v = static_cast<std::uint8_t>(bytes[e] >> (8 * k));
            unsigned j = k;
            for (; j > 0 && sorted[j - 1] > v; --j) sorted[j] = sorted[j - 1];
            sorted[j] = v;
        }
        std::uint64_t code = 0;
        for (unsigned k = 0; k < length[e]; ++k) code |= std::uint64_t(sorted[k] + 1u) << (56 - 8 * k);
        bytes[e] = code;
    }
    CodedAtom keyed[MAX];
    for (unsigned g = 0; g < groups; ++g) {
        unsigned k = 0;
        for (unsigned e = 0; e < entries; ++e)
            if (group_of[e] == g) keyed[k++] = CodedAtom{bytes[e], atom_of[e]};
        // One atom of a tied cell (the walk saw it tied, and the splits before
        // touched other cells) always splits off.
        if (k == 1)
            split_off_one(p, group_cell[g], keyed[0].atom);
        else
            split_cell_coded(p, group_cell[g], std::span<CodedAtom>(keyed, k), nullptr);
    }
    return true;
}

void split_by_neighbours(Partition& p, const MolBuilder& mol, std::uint32_t splitter, RefineWorkspace& w) {
    // A quiet splitter keys nothing: skipping it changes nothing, and spares the
    // walk over a large cell that ties break one atom at a time.
    if (p.quiet[splitter] && !w.bytes_only) return;
    w.quiet = false;
    if (w.bytes_only)
        split_by_neighbours_long(p, mol, splitter, w);
    else if (!split_by_small_splitter(p, mol, splitter, w) && !split_by_neighbours_packed(p, mol, splitter, w))
        split_by_neighbours_long(p, mol, splitter, w);
    // Nothing was keyed, so nothing split and the splitter keeps its number.
    if (w.quiet && !p.quiet[splitter]) {
        p.quiet[splitter] = 1;
        if (p.trial) p.trial_quiet.push_back(splitter);
    }
}

// The @/@@ byte of a tagged atom under the current classes: 0 when two
// neighbours tie, otherwise the tag as seen with neighbours in class order.
std::uint8_t chirality_byte(const Partition& p, const MolBuilder& mol, std::uint32_t atom, RefineWorkspace& w) {
    const auto tag = static_cast<std::uint8_t>(mol.atoms[atom].chiral_tag);
    // The pending list comes from the tags at the first refinement; a cleared mark keys 0.
    if (tag != 1 && tag != 2) return 0;
    w.scratch_a.clear();  // bonds in half-edge order
    w.scratch_b.clear();  // bonds in class order
    for (core::Neighbor nb : mol.neighbors(atom)) w.scratch_a.push_back(nb.bond);
    if (w.scratch_a.size() < 2) return tag;
    auto class_of_bond = [&](std::uint32_t bond) {
        const std::uint32_t far = mol.bonds[bond].other(atom);
        return p.cell_start[p.cell_of[far]];
    };
    w.scratch_b = w.scratch_a;
    std::sort(w.scratch_b.begin(), w.scratch_b.end(), [&](std::uint32_t x, std::uint32_t y) {
        const std::uint32_t cx = class_of_bond(x);
        const std::uint32_t cy = class_of_bond(y);
        if (cx != cy) return cx < cy;
        return x < y;
    });
    for (std::size_t i = 1; i < w.scratch_b.size(); ++i)
        if (class_of_bond(w.scratch_b[i]) == class_of_bond(w.scratch_b[i - 1])) return 0;
    if (core::permutation_parity(w.scratch_a, w.scratch_b) == 1) return tag == 1 ? 2 : 1;
    return tag;
}

// Phase 2: split tied cells by @/@@ seen against the classes at the phase's
// start. A cell can split only when one of its atoms has just taken a non-zero
// byte (see Partition), so only the waiting atoms whose neighbours moved are
// looked at, and only the cells of those that resolved are keyed: the cells that
// split are the same as when every cell is keyed.
void split_by_chirality(Partition& p, const MolBuilder& mol, RefineWorkspace& w) {
    w.cells_to_split.clear();
    std::vector<std::uint32_t>& look = w.scratch_look;
    look.clear();
    if (p.chiral_first_round) {
        p.chiral_first_round = false;
        for (std::uint32_t a = 0; a < p.num_atoms(); ++a)
            if (p.chiral_waiting[a]) look.push_back(a);
    } else {
        if (w.looked.size() != p.num_atoms()) w.looked.assign(p.num_atoms(), 0);
        for (std::uint32_t moved : p.chiral_moved)
            for (core::Neighbor nb : mol.neighbors(moved))
                if (p.chiral_waiting[nb.atom] && !w.looked[nb.atom]) {
                    w.looked[nb.atom] = 1;
                    look.push_back(nb.atom);
                }
        for (std::uint32_t a : look) w.looked[a] = 0;
    }
    // Splits below record their own moves for the next round.
    p.chiral_moved.clear();
    w.chirality_visits += look.size();
    for (std::uint32_t atom : look) {
        // Alone in its cell, the atom keys no split again.
        if (p.cell_size(p.cell_of[atom]) >= 2) {
            const std::uint8_t byte = chirality_byte(p, mol, atom, w);
            if (byte == 0) continue;
            p.chiral_byte[atom] = byte;
            w.cells_to_split.push_back(p.cell_of[atom]);
        }
        if (p.trial) p.trial_resolved.push_back(atom);
        p.chiral_waiting[atom] = 0;
        --p.chiral_waiting_count;
    }
    if (p.chiral_waiting_count == 0) p.chiral_moved.clear();
    std::sort(w.cells_to_split.begin(), w.cells_to_split.end());
    w.cells_to_split.erase(std::unique(w.cells_to_split.begin(), w.cells_to_split.end()), w.cells_to_split.end());
    for (std::uint32_t cell : w.cells_to_split) {
        const std::uint32_t s = p.cell_start[cell];
        const std::uint32_t e = p.cell_end[cell];
        w.coded.resize(e - s);
        for (std::uint32_t pos = s; pos < e; ++pos) {
            const std::uint32_t a = p.order[pos];
            w.coded[pos - s] = CodedAtom{std::uint64_t(p.chiral_byte[a] + 1u) << 56, a};
        }
        split_cell_coded(p, cell, std::span<CodedAtom>(w.coded));
    }
}

void start_chirality(Partition& p, const MolBuilder& mol) {
    p.chiral_ready = true;
    p.chiral_moved.clear();
    p.chiral_waiting_count = 0;
    p.chiral_waiting.assign(mol.num_atoms(), 0);
    for (std::uint32_t a = 0; a < mol.num_atoms(); ++a) {
        const auto tag = mol.atoms[a].chiral_tag;
        if (tag != core::ChiralTag::Cw && tag != core::ChiralTag::Ccw) continue;
        p.chiral_waiting[a] = 1;
        ++p.chiral_waiting_count;
    }
    p.chiral_first_round = true;
    if (p.chiral_waiting_count == 0)
        p.chiral_byte.clear();
    else
        p.chiral_byte.assign(mol.num_atoms(), 0);
}

}  // namespace

namespace {

void refine_until_stable(Partition& p, const MolBuilder& mol, RefineWorkspace& w) {
    for (;;) {
        while (auto splitter = p.pop_queue()) {
            split_by_neighbours(p, mol, *splitter, w);
            if (p.is_discrete()) {
                // Nothing can split any more, in either phase: what is still
                // queued would only be popped.
                std::fill(p.queue_bits.begin(), p.queue_bits.end(), 0);
                p.queue_low_word = static_cast<std::uint32_t>(p.queue_bits.size());
                return;
            }
        }
        if (p.chiral_waiting_count == 0) return;
        const std::uint32_t before = p.num_cells();
        split_by_chirality(p, mol, w);
        if (p.num_cells() == before) {
            // Phase 2 split nothing, so it queued nothing.
            return;
        }
    }
}

}  // namespace

void refine_partition(Partition& p, const MolBuilder& mol, RefineWorkspace& w) {
    const std::uint32_t n = mol.num_atoms();
    if (p.num_atoms() != n) internal_error("划分与分子的原子数不符");
    if (w.entry_of.size() != n) w.prepare(mol);
    if (p.quiet.size() != p.num_cells()) p.quiet.assign(p.num_cells(), 0);
    if (!p.chiral_ready) start_chirality(p, mol);
    const std::uint32_t cells = p.num_cells();
    refine_until_stable(p, mol, w);
    w.cells_made += p.num_cells() - cells;
}

void refine_partition(Partition& p, const MolBuilder& mol) {
    RefineWorkspace w;
    w.prepare(mol);
    refine_partition(p, mol, w);
}

void refined_partition(const MolBuilder& mol, Partition& out, RefineWorkspace& work) {
    initial_partition(mol, out);
    if (mol.num_atoms() == 0) return;
    work.prepare(mol);
    refine_partition(out, mol, work);
}

void classes_of(const Partition& p, std::vector<std::uint32_t>& classes) {
    const std::uint32_t n = p.num_atoms();
    classes.resize(n);
    for (std::uint32_t a = 0; a < n; ++a) classes[a] = p.cell_start[p.cell_of[a]];
}

std::vector<std::uint32_t> symmetry_classes(const MolBuilder& mol) {
    if (mol.num_atoms() == 0) return {};
    const auto lease = core::Scratch<Refinement>::borrow(mol.num_atoms());
    Refinement& s = *lease;
    refined_partition(mol, s.partition, s.work);
    std::vector<std::uint32_t> classes;
    classes_of(s.partition, classes);
    return classes;
}

std::vector<std::uint32_t> canonical_numbering(const MolBuilder& mol) {
    if (mol.num_atoms() == 0) return {};
    const auto lease = core::Scratch<Refinement>::borrow(mol.num_atoms());
    Refinement& s = *lease;
    Partition& p = s.partition;
    refined_partition(mol, p, s.work);
    std::uint32_t from = 0;
    while (auto cell = next_tied_cell(p, from)) {
        from = p.cell_start[*cell];
        individualise(p, p.order[from], *cell);
        refine_partition(p, mol, s.work);
    }
    return p.position;
}

}  // namespace quorix::io
