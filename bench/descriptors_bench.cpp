// Atom descriptors (Gasteiger charges included) on sanitised real molecules: the
// per-molecule time is the best of several runs; the median over molecules is the
// figure to watch.
#include <cstdio>
#include <vector>

#include "chem/descriptors.hpp"
#include "chem/sanitize.hpp"
#include "common.hpp"

using namespace quorix;

int main(int argc, char** argv) {
    const int repeats = bench::count_arg(argc, argv, 15);
    std::vector<core::MolBuilder> mols;
    for (core::MolBuilder& m : bench::data_molecules())
        if (chem::sanitize(m)) mols.push_back(std::move(m));
    std::vector<double> per_mol;
    std::size_t atoms = 0;
    for (const auto& mol : mols) {
        per_mol.push_back(bench::best_us(repeats, [&] { atoms += chem::atom_descriptors(mol).size(); }));
    }
    std::printf("atom_descriptors: %zu sanitised molecules, %zu atoms, best of %d runs each\n  ", mols.size(),
                atoms / std::size_t(repeats), repeats);
    bench::print_spread(per_mol);
    std::printf("\n");
    return 0;
}
