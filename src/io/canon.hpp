#pragma once
// Symmetry classes and canonical order. Atoms live in an ordered partition of
// cells; refinement splits cells by neighbour cells, bond orders and @/@@ parity
// until stable, and the tie-break individualises atoms until every cell is one
// atom. Only atom indices, atom fields, bond orders and half-edge order reach a
// result.
#include <compare>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/builder.hpp"

namespace quorix::io {

// Per-atom record of the initial partition, compared field by field in
// declaration order.
struct CanonInvariant {
    std::uint8_t atomic_num = 0;
    std::uint8_t degree = 0;           // low 8 bits of the degree
    std::uint32_t bond_order_sum = 0;  // doubled order weights of the incident bonds
    std::int8_t formal_charge = 0;
    std::uint8_t total_hs = 0;         // declared + implicit, capped at 255
    std::uint16_t isotope = 0;
    std::uint8_t aromatic = 0;

    auto operator<=>(const CanonInvariant&) const = default;
};

CanonInvariant canon_invariant(const core::MolBuilder& mol, std::uint32_t atom);

// Doubled weight of one bond order in `bond_order_sum` (aromatic 3, dative 2).
std::uint32_t doubled_order_weight(core::BondOrder order);

// An ordered partition of the atoms 0..n-1. A cell is the run of positions
// [cell_start, cell_end); cell numbers are handed out in creation order and never
// reused. The splitter queue holds (start, cell) pairs; starts are unique among
// live cells and a queued cell keeps its start, so the queue is one bit per
// start position, taken lowest first.
struct Partition {
    std::vector<std::uint32_t> order;       // atom at each position
    std::vector<std::uint32_t> position;    // position of each atom
    std::vector<std::uint32_t> cell_of;     // cell number of each atom
    std::vector<std::uint32_t> cell_start;  // per cell number
    std::vector<std::uint32_t> cell_end;    // per cell number, one past the last position
    std::vector<std::uint64_t> queue_bits;  // bit s: the cell starting at position s waits
    std::uint32_t queue_low_word = 0;       // no bit is set in the words below this one
    // Per cell number, 1 once refinement saw every neighbour of the cell's atoms
    // alone in its cell: such a cell splits nothing as a splitter, and stays so
    // as cells only split (parts inherit the mark). Refinement keeps it; a size
    // other than the cell count means unknown.
    std::vector<std::uint8_t> quiet;
    // @/@@ bookkeeping of refinement. A tagged atom keys 0 while two of its
    // neighbours share a cell and a fixed byte from then on (cells only split, so
    // their order never changes), and after each chirality round every cell's keys
    // agree: only atoms that have just left 0 can split a cell. An atom keys 0
    // again as long as none of its neighbours has changed cell number (the two
    // that shared a cell still share it), so a round looks only at the waiting
    // atoms next to `chiral_moved`, the atoms given a new cell number since the
    // last round (recorded while some atom waits); the first round looks at all.
    // `chiral_waiting` flags the tagged atoms still at 0 in a tied cell (as far
    // as a round has looked), `chiral_byte` holds the byte of every other one.
    // Unset (`chiral_ready` false) until the first refinement, which reads the
    // tags of the molecule it is given; later refinements of the partition and its
    // copies must be given a molecule with the same tags.
    std::vector<std::uint8_t> chiral_waiting;
    std::uint32_t chiral_waiting_count = 0;
    std::vector<std::uint32_t> chiral_moved;
    bool chiral_first_round = false;
    std::vector<std::uint8_t> chiral_byte;
    bool chiral_ready = false;

    // A trial (`begin_trial`): refinement from here on logs what it changes, so
    // that `take_back_trial` restores the partition at the cost of what moved
    // rather than of its size. Cells created since name the cell they split from;
    // quiet marks set and tagged atoms whose wait ended are listed.
    bool trial = false;
    std::uint32_t trial_cells = 0;  // the cell count when the trial began
    std::vector<std::uint32_t> trial_parent;    // per cell from trial_cells on
    std::vector<std::uint32_t> trial_quiet;     // cells whose quiet mark was set
    std::vector<std::uint32_t> trial_resolved;  // atoms that left chiral_waiting
    std::vector<std::uint32_t> trial_moved;     // chiral_moved as it was
    std::uint32_t trial_low_word = 0, trial_waiting_count = 0;
    bool trial_first_round = false;

    // Notes that `atom` was given a new cell number.
    void note_moved(std::uint32_t atom) {
        if (chiral_waiting_count != 0) chiral_moved.push_back(atom);
    }
    // Notes that a new cell split from `cell`.
    void note_new_cell(std::uint32_t cell) {
        if (trial) trial_parent.push_back(cell);
    }

    std::uint32_t num_atoms() const { return static_cast<std::uint32_t>(order.size()); }
    std::uint32_t num_cells() const { return static_cast<std::uint32_t>(cell_start.size()); }
    std::uint32_t cell_size(std::uint32_t cell) const { return cell_end[cell] - cell_start[cell]; }
    bool is_discrete() const { return num_cells() == num_atoms(); }

    void enqueue(std::uint32_t cell);
    // Takes out the queued cell with the smallest start.
    std::optional<std::uint32_t> pop_queue();
    bool queue_empty() const;
    // The queue as (start, cell) pairs in ascending order.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> queue_contents() const;
};

// One atom offered to `split_cell` with its key; keys compare bytewise, a
// proper prefix first. The bytes are borrowed from the caller.
struct KeyedAtom {
    std::uint32_t atom = 0;
    std::span<const std::uint8_t> key;
};

// One atom with its key packed into an integer whose order is the bytewise order
// of the key (see `code_key`).
struct CodedAtom {
    std::uint64_t key;  // left uninitialised so that scratch arrays cost nothing
    std::uint32_t atom;
};

// Packs a key of at most 8 bytes, each below 255, so that integer order and
// equality are those of the bytes (a proper prefix first). Longer keys cannot be
// packed: the caller keeps them as KeyedAtom.
inline std::uint64_t code_key(std::span<const std::uint8_t> key) {
    std::uint64_t code = 0;
    for (std::size_t i = 0; i < key.size(); ++i) code |= std::uint64_t(key[i] + 1u) << (56 - 8 * i);
    return code;
}

// Scratch space for refinement, reusable across calls on one molecule so that
// repeated refinements (tie-breaking, candidate searches) allocate nothing per
// call once grown. A fresh workspace (or one sized for another atom count)
// prepares itself on first use; call `prepare` explicitly when reusing it for
// another molecule of the same size.
struct RefineWorkspace {
    void prepare(const core::MolBuilder& mol);

    std::vector<std::uint32_t> entry_of;  // per atom, its entry under the current splitter
    std::vector<std::uint32_t> entry_atom;
    std::vector<std::uint32_t> entry_offset;  // key start in key_bytes
    std::vector<std::uint32_t> entry_count;   // then fill cursor
    std::vector<std::uint8_t> key_bytes;
    struct Touch {
        std::uint32_t entry;
        std::uint8_t byte;
    };
    std::vector<Touch> touches;  // (entry, bond order) per half-edge walked
    std::vector<std::uint32_t> group_of_cell;  // per cell number, its group under the splitter
    std::vector<std::uint32_t> group_cell;
    std::vector<std::uint32_t> group_offset;
    std::vector<KeyedAtom> keyed;
    std::vector<std::uint32_t> cells_to_split;
    std::vector<std::uint32_t> scratch_a;
    std::vector<std::uint32_t> scratch_b;
    std::vector<std::uint8_t> looked;  // per atom, 0 between chirality rounds
    std::vector<std::uint32_t> scratch_look;
    // Keys kept as bytes even when they fit an integer, and quiet splitters
    // walked all the same: the general form, which the fast one must match.
    bool bytes_only = false;
    std::vector<std::uint64_t> entry_bytes;  // per entry, up to 8 key bytes in arrival order
    std::vector<std::uint8_t> entry_length;
    std::vector<CodedAtom> coded;
    std::vector<CodedAtom> sort_scratch;  // large splits sort through it
    bool quiet = false;  // the last splitter keyed no atom
    std::uint64_t chirality_visits = 0;  // atoms looked at by chirality rounds (read by tests)
    std::uint64_t cells_made = 0;        // cells refinement split off (read by tests)
};

// Cells of equal invariants (stable in atom index), every cell queued.
Partition initial_partition(const core::MolBuilder& mol);
// Same, into `out`, reusing its storage.
void initial_partition(const core::MolBuilder& mol, Partition& out);

// Refines until stable; leaves the queue empty. Reads the molecule's current
// chiral tags.
void refine_partition(Partition& partition, const core::MolBuilder& mol);
void refine_partition(Partition& partition, const core::MolBuilder& mol, RefineWorkspace& work);

// Splits `cell` by the keys of some or all of its atoms; the keyed atoms move to
// the end of the cell in key order. Sorts `keyed` in place.
void split_cell(Partition& partition, std::uint32_t cell, std::span<KeyedAtom> keyed);
// Same with packed keys; splits exactly as the bytes would.
void split_cell_coded(Partition& partition, std::uint32_t cell, std::span<CodedAtom> keyed);

// Makes `atom`, a member of the tied cell `cell`, a cell of its own at the cell's
// start; queues both parts. Call it only on a refined partition.
void individualise(Partition& partition, std::uint32_t atom, std::uint32_t cell);

// Starts a trial on a refined partition (its queue empty); `take_back_trial`
// ends it. Cells come back as they were, though atoms inside a cell may be in
// another order.
void begin_trial(Partition& partition);
void take_back_trial(Partition& partition);

// The tied cell with the smallest start, or none when the partition is discrete.
// `from_position` lets a tie-break loop resume its scan: it must not exceed the
// start of the lowest tied cell (any earlier answer's start qualifies, because
// cells only ever split).
std::optional<std::uint32_t> next_tied_cell(const Partition& partition, std::uint32_t from_position = 0);

// A refined partition with the workspace that built it and room for the classes
// read off it: the scratch (core::Scratch) of callers that refine a molecule.
struct Refinement {
    Partition partition;
    RefineWorkspace work;
    std::vector<std::uint32_t> classes;
};

// Symmetry class of every atom: the start position of its cell after refinement.
std::vector<std::uint32_t> symmetry_classes(const core::MolBuilder& mol);
// The refined partition itself (empty for no atoms), built in `out` with `work`,
// which is prepared for the molecule here.
void refined_partition(const core::MolBuilder& mol, Partition& out, RefineWorkspace& work);
// Classes read off a refined partition.
void classes_of(const Partition& refined, std::vector<std::uint32_t>& classes);

// Canonical number of every atom: refinement, then repeatedly individualise the
// first atom of the lowest tied cell and refine, until discrete.
std::vector<std::uint32_t> canonical_numbering(const core::MolBuilder& mol);

}  // namespace quorix::io
