// 2-D layout throughput: every component laid out, components side by side, the
// cis/trans repair and the refinement, per real molecule (sanitised, stereo
// perceived and ranked beforehand, as the depiction does before its layout).
// Then the large inputs whose time must stay bounded (skipped with a second
// argument "real").
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "chem/rings.hpp"
#include "chem/sanitize.hpp"
#include "chem/sssr.hpp"
#include "common.hpp"
#include "depict/components.hpp"
#include "depict/lib.hpp"
#include "depict/stereo.hpp"
#include "depict/refine.hpp"
#include "io/smiles/canonical.hpp"
#include "io/stereo.hpp"

using namespace quorix;

namespace {

struct Prepared {
    core::MolBuilder mol;
    std::vector<std::uint32_t> ranks;
};

Prepared prepare(core::MolBuilder mol) {
    core::MolBuilder copy = mol;
    if (chem::sanitize(copy)) {
        io::double_bond_stereo(copy);
        mol = std::move(copy);
    }
    std::vector<std::uint32_t> ranks = io::canonical_ranks(mol);
    return {std::move(mol), std::move(ranks)};
}

// The layout stages in the depiction's order; returns the unresolved pair count.
std::size_t lay_out(const Prepared& p) {
    const core::MolBuilder& m = p.mol;
    const std::vector<chem::Ring> rings = chem::sssr(m);
    const std::vector<depict::RingSystemRecord> records = depict::ring_records(m, rings, p.ranks);
    // Components side by side along x.
    depict::PositionMap positions;
    double right = 0.0;
    for (const std::vector<std::uint32_t>& atoms : depict::components_of(m)) {
        const depict::ComponentLayout c =
            depict::layout_components(m, atoms, records, p.ranks, depict::STYLE_2D, nullptr);
        double lo = 1e300, hi = -1e300;
        for (const auto& [a, q] : c.coords) lo = std::min(lo, q.x), hi = std::max(hi, q.x);
        const double shift = positions.empty() ? -lo : right + 2.0 - lo;
        for (const auto& [a, q] : c.coords) positions[a] = depict::Point{q.x + shift, q.y};
        right = hi + shift;
    }
    std::vector<depict::Point> coords(m.num_atoms());
    for (const auto& [a, q] : positions) coords[a] = q;
    depict::repair_double_bonds(m, coords, p.ranks);
    for (auto& [a, q] : positions) q = coords[a];
    return depict::refine_layout(m, positions, p.ranks, depict::STYLE_2D.bond_length, depict::STYLE_2D.font_size)
        .unresolved.size();
}

std::string dendrimer(int generation) {
    if (generation == 0) return "CN";
    const std::string branch = dendrimer(generation - 1);
    return "CCN(CC(=O)NC" + branch + ")CC(=O)NC" + branch;
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = bench::count_arg(argc, argv, 3);
    std::vector<Prepared> mols;
    for (core::MolBuilder& m : bench::data_molecules()) mols.push_back(prepare(std::move(m)));
    std::vector<double> per_molecule;
    std::size_t unresolved = 0;
    for (const Prepared& p : mols) {
        std::size_t u = 0;
        per_molecule.push_back(bench::best_us(repeats, [&] { u = lay_out(p); }));
        unresolved += u != 0;
    }
    const double med = bench::median(per_molecule);
    std::printf("2-D layout, %zu real molecules: ", mols.size());
    bench::print_spread(per_molecule);
    std::printf("\n  %.0f layouts per second at the median; %zu molecules keep unresolved clashes\n", 1e6 / med,
                unresolved);

    if (argc > 2 && std::string(argv[2]) == "real") return 0;
    std::string chain(2000, 'C'), salts;
    for (int i = 0; i < 200; ++i) salts += std::string(i ? "." : "") + (i % 2 ? "CC(=O)[O-]" : "[NH4+]");
    const std::pair<const char*, std::string> large[] = {
        {"2000-atom chain", chain}, {"200-component salt mixture", salts}, {"dendrimer, generation 4", dendrimer(4)},
        {"dendrimer, generation 5", dendrimer(5)}};
    for (const auto& [name, smiles] : large) {
        const Prepared p = prepare(*io::read_smiles(smiles));
        std::size_t u = 0;
        const double us = bench::best_us(1, [&] { u = lay_out(p); });
        std::printf("%s (%u atoms): %.1f ms, %zu unresolved pairs\n", name, p.mol.num_atoms(), us / 1000, u);
    }
}
