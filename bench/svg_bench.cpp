// 3-D pictures per second, per style: drug-like molecules from the SMILES file,
// sanitised and given explicit hydrogens, each drawn from a scene built anew
// (scene plus SVG text, the work of one to_svg call). Coordinates come from a
// deterministic walk along the bonds with realistic bond lengths, so depth
// splitting and gradient counts are those of real conformers.
#include <cmath>
#include <cstdio>
#include <vector>

#include "chem/explicit_hs.hpp"
#include "chem/sanitize.hpp"
#include "common.hpp"
#include "depict/render.hpp"
#include "depict/three.hpp"
#include "io/smiles/canonical.hpp"

using namespace quorix;

namespace {

struct Drawn {
    core::MolBuilder mol;
    std::vector<depict::Point3> coords;
};

// Breadth-first from atom 0 (and each unvisited atom): every new atom 1.2–1.5 Å
// from its parent along a golden-angle direction.
std::vector<depict::Point3> walk_coords(const core::MolBuilder& mol) {
    const std::uint32_t n = mol.num_atoms();
    std::vector<depict::Point3> out(n, {0, 0, 0});
    std::vector<bool> placed(n, false);
    std::vector<std::uint32_t> queue;
    std::uint32_t step = 0;
    for (std::uint32_t root = 0; root < n; ++root) {
        if (placed[root]) continue;
        placed[root] = true;
        out[root] = {3.0 * root, 0, 0};
        queue.assign(1, root);
        for (std::size_t q = 0; q < queue.size(); ++q) {
            const std::uint32_t a = queue[q];
            for (const core::Neighbor nb : mol.neighbors(a)) {
                if (placed[nb.atom]) continue;
                placed[nb.atom] = true;
                ++step;
                const double z = 1.0 - 2.0 * std::fmod(step * 0.618033988749895, 1.0);
                const double r = std::sqrt(1 - z * z), phi = step * 2.399963229728653;
                const double len = mol.atoms[nb.atom].atomic_num == 1 ? 1.1 : 1.5;
                out[nb.atom] = {out[a][0] + len * r * std::cos(phi), out[a][1] + len * r * std::sin(phi),
                                out[a][2] + len * z};
                queue.push_back(nb.atom);
            }
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const int limit = bench::count_arg(argc, argv, 1000);
    std::vector<Drawn> drawn;
    std::size_t atoms = 0;
    for (core::MolBuilder mol : bench::data_molecules()) {
        if (int(drawn.size()) >= limit) break;
        if (!chem::sanitize(mol)) continue;
        chem::add_explicit_hs(mol, io::canonical_ranks(mol));
        atoms += mol.num_atoms();
        std::vector<depict::Point3> coords = walk_coords(mol);
        drawn.push_back({std::move(mol), std::move(coords)});
    }
    std::printf("svg: %zu molecules with hydrogens, %.1f atoms on average, one core\n", drawn.size(),
                double(atoms) / double(drawn.size()));
    for (const depict::Style3d& style : depict::STYLES_3D) {
        std::size_t bytes = 0;
        std::vector<double> per_mol;
        double best_total = 1e300;
        for (int round = 0; round < 5; ++round) {
            per_mol.clear();
            bytes = 0;
            double total = 0;
            for (const Drawn& d : drawn) {
                const double us = bench::time_us([&] {
                    const auto scene = depict::build_scene_3d(d.mol, d.coords, style);
                    bytes += depict::write_svg(*scene, depict::STYLE_2D).size();
                });
                per_mol.push_back(us);
                total += us;
            }
            best_total = std::min(best_total, total);
        }
        std::printf("  %-15s %8.0f SVGs/s, %6.1f kB each; ", std::string(style.name).c_str(),
                    1e6 * double(drawn.size()) / best_total, double(bytes) / double(drawn.size()) / 1000.0);
        bench::print_spread(per_mol);
        std::printf("\n");
    }
    return 0;
}
