// For profiling the typical drawing rather than the few huge ones that dominate
// a whole-set profile: keeps the molecules whose depiction_report time lies
// between the 30th and 70th percentile and draws them over and over.
// With "molblock" after the rounds it runs to_molblock_2d's road instead.
//   perf record ./depict_2d_profile [rounds] [molblock]
#include <cstdio>
#include <numeric>
#include <string_view>
#include <vector>

#include "common.hpp"
#include "python/depiction.hpp"

using namespace quorix;

namespace {

// One pass over the band, kept out of line so that a profiler can collect it
// alone (valgrind --toggle-collect=*band_round*).
[[gnu::noinline]] std::size_t band_round(const std::vector<const core::MolBuilder*>& band, bool molblock) {
    std::size_t sink = 0;
    for (const core::MolBuilder* m : band) {
        if (molblock) {
            auto text = python::molblock_2d(*m, "");
            sink += text ? text->size() : 0;
            continue;
        }
        core::MolBuilder copy = *m;
        auto r = python::depict_copy(copy);
        sink += r ? r->coords.size() : 0;
    }
    return sink;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = bench::count_arg(argc, argv, 20);
    const bool molblock = argc > 2 && std::string_view(argv[2]) == "molblock";
    std::vector<core::MolBuilder> mols;
    for (core::MolBuilder& m : bench::data_molecules()) {
        core::MolBuilder copy = m;
        if (chem::sanitize(copy)) mols.push_back(std::move(m));
    }
    std::size_t sink = 0;
    const auto draw = [&](const core::MolBuilder& m) {
        core::MolBuilder copy = m;
        auto r = python::depict_copy(copy);
        sink += r ? r->coords.size() : 0;
    };
    std::vector<double> per(mols.size());
    for (std::size_t i = 0; i < mols.size(); ++i) per[i] = bench::time_us([&] { draw(mols[i]); });
    std::vector<double> sorted = per;
    std::sort(sorted.begin(), sorted.end());
    const double lo = bench::quantile(sorted, 0.3), hi = bench::quantile(sorted, 0.7);
    std::vector<const core::MolBuilder*> band;
    for (std::size_t i = 0; i < mols.size(); ++i)
        if (per[i] >= lo && per[i] <= hi) band.push_back(&mols[i]);
    std::printf("%zu molecules between %.1f and %.1f us\n", band.size(), lo, hi);
    const double t0 = bench::thread_ms();
    for (int r = 0; r < rounds; ++r) sink += band_round(band, molblock);
    std::printf("%.2f us each (%zu)\n", 1e3 * (bench::thread_ms() - t0) / double(rounds * band.size()), sink);
}
