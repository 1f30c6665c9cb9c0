// The two 2-D depiction methods as the module runs them, engine side: copy,
// sanitise, perceive, lay out, report (depiction_report) and also write the
// molblock (to_molblock_2d), on the real molecules; molecules per second over
// the set and the per-molecule spread, one core. Also the layout alone.
//   depict_2d_bench [repeats]
#include <cstdio>
#include <vector>

#include "common.hpp"
#include "python/depiction.hpp"

using namespace quorix;

namespace {

template <class F>
void run(const char* name, const std::vector<core::MolBuilder>& mols, int repeats, F&& f) {
    std::vector<double> per(mols.size(), 1e300);
    for (int r = 0; r < repeats; ++r)
        for (std::size_t i = 0; i < mols.size(); ++i) per[i] = std::min(per[i], bench::time_us([&] { f(mols[i]); }));
    double total = 0;
    for (double t : per) total += t;
    std::printf("%-18s %8.0f molecules/s (set), %8.0f/s at the median; ", name, 1e6 * double(mols.size()) / total,
                1e6 / bench::median(per));
    bench::print_spread(per);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = bench::count_arg(argc, argv, 3);
    std::vector<core::MolBuilder> mols;
    for (core::MolBuilder& m : bench::data_molecules()) {
        core::MolBuilder copy = m;
        if (chem::sanitize(copy)) mols.push_back(std::move(m));
    }
    std::printf("%zu molecules that sanitise\n", mols.size());
    std::size_t sink = 0;
    run("depiction_report", mols, repeats, [&](const core::MolBuilder& m) {
        core::MolBuilder copy = m;
        auto r = python::depict_copy(copy);
        sink += r ? r->coords.size() + r->unwedged.size() : 0;
    });
    run("to_molblock_2d", mols, repeats, [&](const core::MolBuilder& m) {
        auto text = python::molblock_2d(m, "");
        sink += text ? text->size() : 0;
    });
    std::vector<core::MolBuilder> ready;
    for (const core::MolBuilder& m : mols) {
        core::MolBuilder copy = m;
        (void)chem::sanitize(copy);
        io::double_bond_stereo(copy);
        ready.push_back(std::move(copy));
    }
    run("depict_2d alone", ready, repeats, [&](const core::MolBuilder& m) {
        sink += depict::depict_2d(m, depict::STYLE_2D, nullptr).coords.size();
    });
    std::printf("(%zu)\n", sink);
}
