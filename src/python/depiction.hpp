#pragma once
// The 2-D drawing behind Mol.to_molblock_2d and Mol.depiction_report, engine
// code only (no Python.h), so that the benchmarks time exactly what the two
// methods run.
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "chem/sanitize.hpp"
#include "core/builder.hpp"
#include "depict/lib.hpp"
#include "depict/render.hpp"
#include "io/molblock.hpp"
#include "io/stereo.hpp"
#include "io/wedge.hpp"

namespace quorix::python {

// Sanitises `copy` in place, perceives its cis/trans and draws it.
inline std::expected<depict::DepictionResult, std::string> depict_copy(core::MolBuilder& copy) {
    if (auto done = chem::sanitize(copy); !done) return std::unexpected(done.error().to_string());
    io::double_bond_stereo(copy);
    return depict::depict_2d(copy, depict::STYLE_2D, nullptr);
}

// The drawn molecule written flat with its wedges. A double bond the drawing
// shows against its stored cis/trans is written as "either", so the file never
// states a geometry that contradicts the molecule.
inline std::expected<std::string, std::string> molblock_2d(const core::MolBuilder& mol, std::string_view title) {
    core::MolBuilder copy(mol);
    auto drawing = depict_copy(copy);
    if (!drawing) return std::unexpected(std::move(drawing.error()));
    if (!drawing->hydrogens.hydrogens.empty()) copy = depict::add_wedge_hydrogens(drawing->hydrogens, copy);
    const std::vector<core::BondOrder> orders = depict::render_molblock_2d(copy, drawing->ranks);
    std::vector<io::Coord> coords(drawing->coords.size());
    for (std::size_t i = 0; i < coords.size(); ++i) coords[i] = {drawing->coords[i].x, drawing->coords[i].y, 0.0};
    std::vector<std::uint8_t> either = io::either_double_bonds(copy);
    for (std::uint32_t b : drawing->misdrawn_stereo) either.at(b) = 1;
    const io::MolblockWriteRequest request{title, coords, drawing->wedges, orders, either};
    auto text = io::write_molblock(copy, request);
    if (!text) return std::unexpected(text.error().to_string());
    return std::move(*text);
}

}  // namespace quorix::python
