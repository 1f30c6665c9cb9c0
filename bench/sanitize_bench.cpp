// Sanitisation throughput on the real drug-like SMILES file: each molecule is
// read once, then sanitised on fresh copies; the per-molecule time is the best
// of several runs, and the median over molecules is the figure to watch.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "chem/sanitize.hpp"
#include "common.hpp"

using namespace quorix;

int main(int argc, char** argv) {
    const int repeats = bench::count_arg(argc, argv, 15);
    const std::vector<core::MolBuilder> mols = bench::data_molecules();
    std::vector<double> per_mol;
    std::size_t failures = 0;
    double total_best = 0;
    for (const auto& source : mols) {
        double best = 1e300;
        for (int r = 0; r < repeats; ++r) {
            core::MolBuilder copy = source;
            bool ok = true;
            best = std::min(best, bench::time_us([&] { ok = chem::sanitize(copy).has_value(); }));
            if (r == 0 && !ok) ++failures;
        }
        per_mol.push_back(best);
        total_best += best;
    }
    std::printf("sanitize: %zu molecules (%zu fail), best of %d runs each\n  ", mols.size(), failures, repeats);
    bench::print_spread(per_mol);
    std::printf(", mean %.2f us\n", total_best / double(mols.size()));

    // The same, with the runs taken over the whole set in turn: each call then
    // follows one on another molecule, as in a batch of depictions, and finds
    // nothing of its own left by the call before.
    std::vector<double> in_turn(mols.size(), 1e300);
    for (int r = 0; r < repeats; ++r)
        for (std::size_t i = 0; i < mols.size(); ++i) {
            core::MolBuilder copy = mols[i];
            in_turn[i] = std::min(in_turn[i], bench::time_us([&] { (void)chem::sanitize(copy); }));
        }
    double total_in_turn = 0;
    for (double t : in_turn) total_in_turn += t;
    std::printf("sanitize, molecules in turn:\n  ");
    bench::print_spread(in_turn);
    std::printf(", mean %.2f us\n", total_in_turn / double(mols.size()));
    return 0;
}
