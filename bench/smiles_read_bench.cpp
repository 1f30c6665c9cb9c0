// Throughput of the SMILES reader over the real molecule set: every molecule is
// read once per round; the median over rounds of the per-molecule time is shown.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common.hpp"

int main(int argc, char** argv) {
    const int rounds = quorix::bench::count_arg(argc, argv, 20);
    const std::vector<std::string> smiles = quorix::bench::data_smiles();
    std::size_t failures = 0, atoms = 0;
    for (const auto& s : smiles) {
        auto r = quorix::io::read_smiles(s);
        if (!r) ++failures;
        else atoms += r->num_atoms();
    }

    std::vector<double> per_molecule_us;
    std::size_t sink = 0;
    for (int round = 0; round < rounds; ++round) {
        const double us = quorix::bench::time_us([&] {
            for (const auto& s : smiles) {
                auto r = quorix::io::read_smiles(s);
                sink += r ? r->num_bonds() : 1;
            }
        });
        per_molecule_us.push_back(us / static_cast<double>(smiles.size()));
    }
    const double median = quorix::bench::median(per_molecule_us);
    std::printf("smiles_read: %zu molecules (%zu atoms, %zu failed), %d rounds\n", smiles.size(), atoms, failures,
                rounds);
    std::printf("median %.3f us per molecule, best %.3f us, %.0f molecules/s (checksum %zu)\n", median,
                *std::min_element(per_molecule_us.begin(), per_molecule_us.end()), 1e6 / median, sink);
    return failures == 0 ? 0 : 1;
}
