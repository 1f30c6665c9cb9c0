// Canonical SMILES throughput on the real data set: per-molecule medians of
// to_canonical_smiles alone (unsanitised and sanitised molecules), of the canonical
// ranks the depiction and conformers ask for, of storage-order writing, and of the
// whole road from text through sanitisation to canonical text.
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "common.hpp"
#include "io/smiles/canonical.hpp"
#include "io/smiles/read.hpp"
#include "io/smiles/write.hpp"
#include "io/stereo.hpp"

using namespace quorix;

namespace {

constexpr int BATCHES = 5;
constexpr int CALLS = 4;

double thread_ns() { return bench::thread_ms() * 1e6; }

// Median over batches of the per-call time in a batch.
template <class F>
double median_ns(F&& f) {
    double runs[BATCHES];
    for (double& r : runs) {
        const double t0 = thread_ns();
        for (int k = 0; k < CALLS; ++k) f();
        r = (thread_ns() - t0) / CALLS;
    }
    std::sort(runs, runs + BATCHES);
    return runs[BATCHES / 2];
}

void report(const char* what, std::vector<double> per_molecule) {
    std::sort(per_molecule.begin(), per_molecule.end());
    const std::size_t n = per_molecule.size();
    double total = 0;
    for (double v : per_molecule) total += v;
    std::printf("%-34s median %8.2f us   p90 %8.2f us   mean %8.2f us   (%zu molecules)\n", what,
                per_molecule[n / 2] / 1000, per_molecule[n * 9 / 10] / 1000, total / double(n) / 1000, n);
}

}  // namespace

int main() {
    const std::vector<std::string> smiles = bench::data_smiles();

    std::vector<core::MolBuilder> mols, sanitised;
    std::vector<std::string> texts;
    for (const auto& s : smiles) {
        auto m = io::read_smiles(s);
        if (!m) continue;
        core::MolBuilder copy = *m;
        if (!chem::sanitize(copy)) continue;
        io::double_bond_stereo(copy);
        mols.push_back(std::move(*m));
        sanitised.push_back(std::move(copy));
        texts.push_back(s);
    }
    if (mols.empty()) {
        std::printf("no molecules read\n");
        return 1;
    }

    std::size_t sink = 0;
    std::vector<double> canonical, canonical_sanitised, ranks, storage, road;
    for (std::size_t i = 0; i < mols.size(); ++i) {
        canonical.push_back(median_ns([&] { sink += io::to_canonical_smiles(mols[i]).size(); }));
        canonical_sanitised.push_back(median_ns([&] { sink += io::to_canonical_smiles(sanitised[i]).size(); }));
        ranks.push_back(median_ns([&] { sink += io::canonical_ranks(sanitised[i]).size(); }));
        storage.push_back(median_ns([&] { sink += io::write_smiles(mols[i]).text.size(); }));
        road.push_back(median_ns([&] {
            auto m = io::read_smiles(texts[i]);
            if (!chem::sanitize(*m)) return;
            io::double_bond_stereo(*m);
            sink += io::to_canonical_smiles(*m).size();
        }));
    }
    report("to_canonical_smiles (as read)", canonical);
    report("to_canonical_smiles (sanitised)", canonical_sanitised);
    report("canonical_ranks (sanitised)", ranks);
    report("write_smiles (storage order)", storage);
    report("read -> sanitise -> canonical", road);
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
