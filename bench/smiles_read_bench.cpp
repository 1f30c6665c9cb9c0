// Throughput of the SMILES reader over the real molecule set: every molecule is
// read once per round; the median over rounds of the per-molecule time is shown.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "io/smiles/read.hpp"

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    std::ifstream in(QUORIX_BENCH_DATA "/molecules.smi");
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", QUORIX_BENCH_DATA "/molecules.smi");
        return 1;
    }
    std::vector<std::string> smiles;
    for (std::string line; std::getline(in, line);) {
        std::string s = line.substr(0, line.find_first_of(" \t"));
        if (!s.empty()) smiles.push_back(std::move(s));
    }
    std::size_t failures = 0, atoms = 0;
    for (const auto& s : smiles) {
        auto r = quorix::io::read_smiles(s);
        if (!r) ++failures;
        else atoms += r->num_atoms();
    }

    std::vector<double> per_molecule_us;
    std::size_t sink = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        for (const auto& s : smiles) {
            auto r = quorix::io::read_smiles(s);
            sink += r ? r->num_bonds() : 1;
        }
        const auto t1 = std::chrono::steady_clock::now();
        per_molecule_us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count() /
                                  static_cast<double>(smiles.size()));
    }
    std::sort(per_molecule_us.begin(), per_molecule_us.end());
    const double median = per_molecule_us[per_molecule_us.size() / 2];
    std::printf("smiles_read: %zu molecules (%zu atoms, %zu failed), %d rounds\n", smiles.size(), atoms, failures,
                rounds);
    std::printf("median %.3f us per molecule, best %.3f us, %.0f molecules/s (checksum %zu)\n", median,
                per_molecule_us.front(), 1e6 / median, sink);
    return failures == 0 ? 0 : 1;
}
