// Conformer generation on large molecules (tests/data/large_molecules.smi:
// macrocycles, porphyrins, a spiro ladder, a bi-adamantane with a long
// chain): milliseconds per molecule, best of three, and the total. Their cost
// is cubic in the atoms and grows with every embedding a fault or strain
// asks, so a change that drug-like molecules never feel shows here first.
//
//   conformer_large_bench
#include <cstdio>
#include <string>

#include "common.hpp"
#include "conf/pipeline.hpp"
#include "io/smiles/read.hpp"

using namespace quorix;

int main() {
    double total = 0.0;
    for (const std::string& line : bench::data_lines("large_molecules.smi")) {
        const auto tab = line.find('\t');
        const std::string smiles = line.substr(0, tab), name = tab == std::string::npos ? "" : line.substr(tab + 1);
        auto mol = io::read_smiles(smiles);
        if (!mol) {
            std::printf("%-24s unreadable\n", name.c_str());
            continue;
        }
        bool ok = true;
        std::size_t atoms = 0;
        const double us = bench::best_us(3, [&] {
            core::MolBuilder copy = *mol;
            ok = conf::conformer_for(copy).has_value();
            atoms = copy.atoms.size();
        });
        total += us / 1000.0;
        std::printf("%-24s %4zu atoms %9.1f ms%s\n", name.c_str(), atoms, us / 1000.0, ok ? "" : "  failed");
    }
    std::printf("total %.1f ms\n", total);
}
