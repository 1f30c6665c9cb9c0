// Atom descriptors (Gasteiger charges included) on sanitised real molecules: the
// per-molecule time is the best of several runs; the median over molecules is the
// figure to watch.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "chem/descriptors.hpp"
#include "chem/sanitize.hpp"
#include "io/smiles/read.hpp"

int main(int argc, char** argv) {
    const std::string path = std::string(QUORIX_BENCH_DATA) + "/molecules.smi";
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        return 1;
    }
    std::vector<quorix::core::MolBuilder> mols;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string smiles;
        fields >> smiles;
        auto m = quorix::io::read_smiles(smiles);
        if (m && quorix::chem::sanitize(*m)) mols.push_back(std::move(*m));
    }
    if (mols.empty()) {
        std::fprintf(stderr, "no molecules read\n");
        return 1;
    }
    using clock = std::chrono::steady_clock;
    std::vector<double> per_mol;
    per_mol.reserve(mols.size());
    std::size_t atoms = 0;
    for (const auto& mol : mols) {
        double best = 1e300;
        for (int r = 0; r < repeats; ++r) {
            const auto t0 = clock::now();
            const auto d = quorix::chem::atom_descriptors(mol);
            const auto t1 = clock::now();
            best = std::min(best, std::chrono::duration<double, std::micro>(t1 - t0).count());
            if (r == 0) atoms += d.size();
        }
        per_mol.push_back(best);
    }
    std::sort(per_mol.begin(), per_mol.end());
    auto pct = [&](double p) { return per_mol[std::min(per_mol.size() - 1, std::size_t(p * per_mol.size()))]; };
    std::printf("atom_descriptors: %zu sanitised molecules, %zu atoms, best of %d runs each\n", mols.size(), atoms,
                repeats);
    std::printf("  median %.2f us/molecule, p90 %.2f us, p99 %.2f us, max %.2f us\n", pct(0.5), pct(0.9), pct(0.99),
                per_mol.back());
    return 0;
}
