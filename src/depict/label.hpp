#pragma once
// What an atom's label would show and how far it reaches, measured with built-in
// Helvetica advance widths; nothing is drawn and no font is read.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/builder.hpp"

namespace quorix::depict {

enum class RunKind : std::uint8_t { Normal = 0, Subscript = 1, Superscript = 2 };

struct LabelRun {
    RunKind kind = RunKind::Normal;
    std::string text;
    bool operator==(const LabelRun&) const = default;
};

struct AtomLabel {
    std::vector<LabelRun> runs;
    double half_width = 0.0;   // bond lengths
    double half_height = 0.0;  // bond lengths
};

// Advance widths in thousandths of an em for "*" (42) to "z" (122).
extern const std::uint16_t HELVETICA_WIDTHS[81];

// The label of atom `index`; `bond_length` and `font_size` set the scale
// font_size / bond_length from ems to bond lengths.
AtomLabel atom_label(std::span<const core::Atom> atoms, std::uint32_t index, bool hydrogens_first,
                     double bond_length, double font_size);

// The half extents atom_label measures, in bond lengths at `scale` (font_size /
// bond_length), without composing the runs as strings.
struct LabelExtent {
    double half_width = 0.0;
    double half_height = 0.0;
};
LabelExtent label_extent(const core::Atom& atom, bool hydrogens_first, double scale);

// Width of the runs in ems of the full size.
double label_width(std::span<const LabelRun> runs);

// "H" and, from two on, a subscript count.
void push_hydrogen_runs(std::uint8_t count, std::vector<LabelRun>& runs);

}  // namespace quorix::depict
