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
#include "depict/hydrogens.hpp"
#include "depict/lib.hpp"
#include "depict/render.hpp"
#include "io/molblock.hpp"
#include "io/stereo.hpp"
#include "io/wedge.hpp"

namespace quorix::python {

// Sanitises `copy` in place and perceives its cis/trans: what is drawn.
inline std::expected<void, std::string> prepare_copy(core::MolBuilder& copy) {
    if (auto done = chem::sanitize(copy); !done) return std::unexpected(done.error().to_string());
    io::double_bond_stereo(copy);
    return {};
}

// Sanitises `copy` in place, perceives its cis/trans and draws it.
inline std::expected<depict::DepictionResult, std::string> depict_copy(core::MolBuilder& copy) {
    if (auto ready = prepare_copy(copy); !ready) return std::unexpected(std::move(ready.error()));
    return depict::depict_2d(copy, depict::STYLE_2D, nullptr);
}

// The writer's count check on the drawn molecule, made before the layout,
// which takes minutes on molecules too large to write. The wedge hydrogens are
// counted only when the cheap bound on them would pass the limit.
inline std::expected<void, std::string> drawn_counts_fit_v2000(const core::MolBuilder& prepared) {
    const std::uint64_t atoms = prepared.atoms.size(), bonds = prepared.bonds.size();
    const std::uint64_t most = depict::wedge_hydrogens_at_most(prepared);
    if (io::check_v2000_counts(atoms + most, bonds + most)) return {};
    const std::uint64_t added = depict::wedge_hydrogen_count(prepared);
    if (auto fits = io::check_v2000_counts(atoms + added, bonds + added); !fits)
        return std::unexpected(fits.error().to_string());
    return {};
}

// The drawn molecule written flat with its wedges. A double bond the drawing
// shows against its stored cis/trans is written as "either", so the file never
// states a geometry that contradicts the molecule.
inline std::expected<std::string, std::string> molblock_2d(const core::MolBuilder& mol, std::string_view title) {
    core::MolBuilder copy(mol);
    if (auto ready = prepare_copy(copy); !ready) return std::unexpected(std::move(ready.error()));
    if (auto fits = drawn_counts_fit_v2000(copy); !fits) return std::unexpected(std::move(fits.error()));
    const depict::DepictionResult drawing = depict::depict_2d(copy, depict::STYLE_2D, nullptr);
    if (!drawing.hydrogens.hydrogens.empty()) copy = depict::add_wedge_hydrogens(drawing.hydrogens, copy);
    const std::vector<core::BondOrder> orders = depict::render_molblock_2d(copy, drawing.ranks);
    std::vector<io::Coord> coords(drawing.coords.size());
    for (std::size_t i = 0; i < coords.size(); ++i) coords[i] = {drawing.coords[i].x, drawing.coords[i].y, 0.0};
    std::vector<std::uint8_t> either = io::either_double_bonds(copy);
    for (std::uint32_t b : drawing.misdrawn_stereo) either.at(b) = 1;
    const io::MolblockWriteRequest request{title, coords, drawing.wedges, orders, either};
    auto text = io::write_molblock(copy, request);
    if (!text) return std::unexpected(text.error().to_string());
    return std::move(*text);
}

}  // namespace quorix::python
