#pragma once
// The layout stages run in the depiction's order on one molecule: each component
// laid out, components set side by side, cis/trans repair, refinement. Shared by
// the layout tests and the picture tool.
#include <algorithm>
#include <numeric>
#include <string_view>
#include <vector>

#include "chem/rings.hpp"
#include "chem/sanitize.hpp"
#include "chem/sssr.hpp"
#include "core/builder.hpp"
#include "depict/components.hpp"
#include "depict/lib.hpp"
#include "depict/stereo.hpp"
#include "depict/layout.hpp"
#include "depict/refine.hpp"
#include "depict/style.hpp"
#include "io/smiles/canonical.hpp"
#include "io/smiles/read.hpp"
#include "io/stereo.hpp"
#include "support.hpp"

namespace quorix::test {

struct Drawing {
    core::MolBuilder mol;
    std::vector<std::uint32_t> ranks;
    depict::PositionMap positions;
    std::vector<depict::Degradation> degraded;
    depict::RefineResult refined;
    std::vector<std::uint32_t> repaired;
};

// Atom lists of the connected components, each ascending, ordered by lowest rank.
inline std::vector<std::vector<std::uint32_t>> components_of(const core::MolBuilder& mol,
                                                             std::span<const std::uint32_t> ranks) {
    std::vector<std::vector<std::uint32_t>> out = depict::components_of(mol);
    const auto low = [&](const std::vector<std::uint32_t>& c) {
        std::uint32_t m = core::NONE;
        for (std::uint32_t a : c) m = std::min(m, ranks[a]);
        return m;
    };
    std::stable_sort(out.begin(), out.end(), [&](const auto& a, const auto& b) { return low(a) < low(b); });
    return out;
}

// Lays out a sanitised molecule (stereo perceived); components side by side.
inline Drawing draw(core::MolBuilder mol) {
    Drawing d;
    d.ranks = io::canonical_ranks(mol);
    const std::vector<chem::Ring> rings = chem::sssr(mol);
    const std::vector<depict::RingSystemRecord> records = depict::ring_records(mol, rings, d.ranks);
    const depict::Style2d& style = depict::STYLE_2D;
    double right = 0.0;
    bool first = true;
    for (const std::vector<std::uint32_t>& comp : components_of(mol, d.ranks)) {
        depict::ComponentLayout c = depict::layout_components(mol, comp, records, d.ranks, style, nullptr);
        double lo = 1e300, hi = -1e300;
        for (const auto& [a, p] : c.coords) lo = std::min(lo, p.x), hi = std::max(hi, p.x);
        const double shift = first ? 0.0 : right + 2.0 - lo;
        for (const auto& [a, p] : c.coords) d.positions[a] = depict::Point{p.x + shift, p.y};
        right = first ? hi : hi + shift;
        first = false;
        for (auto& g : c.degraded) d.degraded.push_back(std::move(g));
    }
    std::vector<depict::Point> coords(mol.num_atoms());
    for (const auto& [a, p] : d.positions) coords[a] = p;
    d.repaired = depict::repair_double_bonds(mol, coords, d.ranks);
    for (auto& [a, p] : d.positions) p = coords[a];
    d.refined = depict::refine_layout(mol, d.positions, d.ranks, style.bond_length, style.font_size);
    d.mol = std::move(mol);
    return d;
}

// Sanitised (the unsanitised molecule when that fails) with its cis/trans perceived.
inline core::MolBuilder prepared(const core::MolBuilder& mol) {
    core::MolBuilder copy = mol;
    if (chem::sanitize(copy)) {
        io::double_bond_stereo(copy);
        return copy;
    }
    return mol;
}
inline core::MolBuilder prepared(std::string_view smiles) { return prepared(read_or_fail(smiles)); }

}  // namespace quorix::test
