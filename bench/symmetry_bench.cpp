// Symmetry classes, greedy canonical numbering and graph stereo perception on
// the real drug-like SMILES file: each molecule is read once; the per-molecule
// time is the best of several runs, and the median over molecules is the figure
// to watch.
#include <cstdio>
#include <vector>

#include "common.hpp"
#include "io/canon.hpp"
#include "io/stereo.hpp"

namespace {

using quorix::core::MolBuilder;

template <class F>
void measure(const char* name, const std::vector<MolBuilder>& mols, int repeats, F&& run) {
    std::vector<double> per_mol;
    std::size_t sink = 0;
    for (const MolBuilder& m : mols) per_mol.push_back(quorix::bench::best_us(repeats, [&] { sink += run(m); }));
    std::printf("%-22s ", name);
    quorix::bench::print_spread(per_mol);
    std::printf(" (%zu)\n", sink % 10);
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = quorix::bench::count_arg(argc, argv, 15);
    const std::vector<MolBuilder> mols = quorix::bench::data_molecules();
    std::printf("%zu molecules, best of %d runs each\n", mols.size(), repeats);
    measure("symmetry_classes", mols, repeats, [](const MolBuilder& m) { return quorix::io::symmetry_classes(m).size(); });
    measure("canonical_numbering", mols, repeats,
            [](const MolBuilder& m) { return quorix::io::canonical_numbering(m).size(); });
    measure("chiral_centres", mols, repeats, [](const MolBuilder& m) { return quorix::io::chiral_centres(m).size(); });
    measure("double_bond_stereo", mols, repeats, [](const MolBuilder& m) {
        MolBuilder copy = m;
        return std::size_t{quorix::io::double_bond_stereo(copy)};
    });
    return 0;
}
