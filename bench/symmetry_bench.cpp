// Symmetry classes, greedy canonical numbering and graph stereo perception on
// the real drug-like SMILES file: each molecule is read once; the per-molecule
// time is the best of several runs, and the median over molecules is the figure
// to watch.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "io/canon.hpp"
#include "io/smiles/read.hpp"
#include "io/stereo.hpp"

namespace {

using quorix::core::MolBuilder;

template <class F>
void measure(const char* name, const std::vector<MolBuilder>& mols, int repeats, F&& run) {
    using clock = std::chrono::steady_clock;
    std::vector<double> per_mol;
    per_mol.reserve(mols.size());
    std::size_t sink = 0;
    for (const MolBuilder& m : mols) {
        double best = 1e300;
        for (int r = 0; r < repeats; ++r) {
            const auto t0 = clock::now();
            sink += run(m);
            const auto t1 = clock::now();
            best = std::min(best, std::chrono::duration<double, std::micro>(t1 - t0).count());
        }
        per_mol.push_back(best);
    }
    std::sort(per_mol.begin(), per_mol.end());
    auto pct = [&](double p) { return per_mol[std::min(per_mol.size() - 1, std::size_t(p * per_mol.size()))]; };
    std::printf("%-22s median %.2f us/molecule, p90 %.2f us, p99 %.2f us, max %.2f us (%zu)\n", name, pct(0.5),
                pct(0.9), pct(0.99), per_mol.back(), sink % 10);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = std::string(QUORIX_BENCH_DATA) + "/molecules.smi";
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    std::vector<MolBuilder> mols;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string smiles;
        fields >> smiles;
        if (auto m = quorix::io::read_smiles(smiles)) mols.push_back(std::move(*m));
    }
    if (mols.empty()) {
        std::fprintf(stderr, "no molecules read\n");
        return 1;
    }
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
