// Sanitisation throughput on the real drug-like SMILES file: each molecule is
// read once, then sanitised on fresh copies; the per-molecule time is the best
// of several runs, and the median over molecules is the figure to watch.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
        if (auto m = quorix::io::read_smiles(smiles)) mols.push_back(std::move(*m));
    }
    if (mols.empty()) {
        std::fprintf(stderr, "no molecules read\n");
        return 1;
    }

    using clock = std::chrono::steady_clock;
    std::vector<double> per_mol;
    per_mol.reserve(mols.size());
    std::size_t failures = 0;
    double total_best = 0;
    for (const auto& source : mols) {
        double best = 1e300;
        for (int r = 0; r < repeats; ++r) {
            quorix::core::MolBuilder copy = source;
            const auto t0 = clock::now();
            const bool ok = quorix::chem::sanitize(copy).has_value();
            const auto t1 = clock::now();
            best = std::min(best, std::chrono::duration<double, std::micro>(t1 - t0).count());
            if (r == 0 && !ok) ++failures;
        }
        per_mol.push_back(best);
        total_best += best;
    }
    std::vector<double> sorted = per_mol;
    std::sort(sorted.begin(), sorted.end());
    auto pct = [&](double p) { return sorted[std::min(sorted.size() - 1, std::size_t(p * sorted.size()))]; };
    std::printf("sanitize: %zu molecules (%zu fail), best of %d runs each\n", mols.size(), failures, repeats);
    std::printf("  median %.2f us/molecule, p90 %.2f us, p99 %.2f us, max %.2f us, mean %.2f us\n", pct(0.5),
                pct(0.9), pct(0.99), sorted.back(), total_best / double(mols.size()));
    return 0;
}
