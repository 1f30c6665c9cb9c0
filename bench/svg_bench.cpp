// 3-D pictures per second, per style: real conformers (hydrogens included) of
// drug-like molecules from the SMILES file, each drawn from a scene built anew
// (scene plus SVG text, the work of one to_svg call), one core.
#include <cstdio>
#include <vector>

#include "common.hpp"
#include "conf/pipeline.hpp"
#include "depict/render.hpp"
#include "depict/three.hpp"

using namespace quorix;

namespace {

struct Drawn {
    core::MolBuilder mol;
    std::vector<depict::Point3> coords;
};

}  // namespace

int main(int argc, char** argv) {
    const int limit = bench::count_arg(argc, argv, 300);
    std::vector<Drawn> drawn;
    std::size_t atoms = 0;
    for (core::MolBuilder mol : bench::data_molecules()) {
        if (int(drawn.size()) >= limit) break;
        auto conformer = conf::conformer_for(mol);
        if (!conformer) continue;
        atoms += mol.num_atoms();
        drawn.push_back({std::move(mol), std::move(conformer->coords)});
    }
    std::printf("svg: %zu conformers, %.1f atoms on average (hydrogens included), one core\n", drawn.size(),
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
