#pragma once
// SMILES text from a molecule, visiting atoms in the order of a priority per atom.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/builder.hpp"
#include "core/scratch.hpp"

namespace quorix::io {

struct SmilesOutput {
    std::string text;
    std::vector<std::uint32_t> atom_order;  // every atom once, in the order written

    bool operator==(const SmilesOutput&) const = default;
};

enum class SmilesMode : std::uint8_t {
    // Every declared hydrogen count stays in brackets; marks are written as stored.
    Storage = 0,
    // Declared counts the valence rules give back are dropped, stored cis/trans is
    // restated against the preferred references, and the first mark of every group
    // reads "/".
    Canonical = 1,
};

// Lower priorities are visited first; `priorities` holds one entry per atom.
SmilesOutput write_smiles(const core::MolBuilder& mol, std::span<const std::uint32_t> priorities,
                          SmilesMode mode);

// Same, for callers that write one molecule many times: `effective_marks` holds its
// effective_direction_marks, computed once (they depend on neither the priorities
// nor the stored cis/trans values).
SmilesOutput write_smiles(const core::MolBuilder& mol, std::span<const std::uint32_t> priorities,
                          SmilesMode mode, std::span<const std::uint8_t> effective_marks);

// Storage-order SMILES: each atom's own index is its priority.
SmilesOutput write_smiles(const core::MolBuilder& mol);

bool needs_brackets(const core::MolBuilder& mol, std::uint32_t atom, SmilesMode mode);

// Writes one molecule under many priority orders: what no order changes (each
// atom's text, which cis/trans values the canonical form restates) is worked out
// once. The molecule and the marks must outlive the writer and stay unchanged.
class SmilesWriter {
public:
    SmilesWriter(const core::MolBuilder& mol, SmilesMode mode, std::span<const std::uint8_t> effective_marks = {});
    ~SmilesWriter();
    SmilesWriter(const SmilesWriter&) = delete;
    SmilesWriter& operator=(const SmilesWriter&) = delete;

    // As write_smiles, into `out`, reusing its storage.
    void write(std::span<const std::uint32_t> priorities, SmilesOutput& out);

    // The atom order `write` gives, without the text: the order follows the walk
    // over the bonds alone, so nothing the text adds can change it.
    void write_order(std::span<const std::uint32_t> priorities, std::vector<std::uint32_t>& atom_order);

    // Whether two atoms are written with the same text apart from their chirality.
    bool same_atom_text(std::uint32_t a, std::uint32_t b) const;

    struct Cache;

private:
    const core::MolBuilder& mol_;
    SmilesMode mode_;
    std::span<const std::uint8_t> effective_;
    core::Scratch<Cache>::Lease cache_;
};

}  // namespace quorix::io
