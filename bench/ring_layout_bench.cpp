// Ring-system layout throughput on the ring systems of the real molecules:
// systems per second over the whole set, per-system spread, and the share and
// cost of the systems that leave the fused drawing (templates, arcs, springs).
//   ring_layout_bench [repeats]
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "chem/rings.hpp"
#include "chem/sanitize.hpp"
#include "chem/sssr.hpp"
#include "common.hpp"
#include "depict/rings.hpp"
#include "io/smiles/canonical.hpp"

using namespace quorix;

namespace {

struct Prepared {
    core::MolBuilder mol;
    std::vector<std::uint32_t> ranks;
    std::vector<chem::Ring> rings;
    std::vector<depict::RingSystemRecord> records;
};

std::vector<std::unique_ptr<Prepared>> prepare(std::vector<core::MolBuilder> mols) {
    std::vector<std::unique_ptr<Prepared>> out;
    for (core::MolBuilder& m : mols) {
        if (!chem::sanitize(m)) continue;
        auto p = std::make_unique<Prepared>();
        p->mol = std::move(m);
        p->ranks = io::canonical_ranks(p->mol);
        p->rings = chem::sssr(p->mol);
        for (const auto& atoms : chem::ring_systems(p->mol)) {
            depict::RingSystemRecord r{atoms, {}};
            for (const chem::Ring& ring : p->rings)
                if (std::all_of(ring.atoms.begin(), ring.atoms.end(), [&](std::uint32_t a) {
                        return std::binary_search(atoms.begin(), atoms.end(), a);
                    }))
                    r.rings.push_back(&ring);
            p->records.push_back(std::move(r));
        }
        if (!p->records.empty()) out.push_back(std::move(p));
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = bench::count_arg(argc, argv, 5);
    const auto prepared = prepare(bench::data_molecules());
    std::vector<double> fused_us, degraded_us;
    std::size_t systems = 0;
    double total_us = 0;
    for (const auto& p : prepared)
        for (const auto& record : p->records) {
            bool degraded = false;
            const double us = bench::best_us(repeats, [&] {
                degraded = depict::layout_ring_system(p->mol, record, p->ranks, nullptr).degradation.has_value();
            });
            (degraded ? degraded_us : fused_us).push_back(us);
            total_us += us;
            ++systems;
        }
    std::printf("ring systems: %zu in %zu molecules, %.0f systems/s overall\n", systems, prepared.size(),
                systems / (total_us * 1e-6));
    std::vector<double> all = fused_us;
    all.insert(all.end(), degraded_us.begin(), degraded_us.end());
    std::printf("all: ");
    bench::print_spread(all);
    std::printf("\nfused (%zu): median %.2f us/system\n", fused_us.size(), bench::median(fused_us));
    if (!degraded_us.empty()) {
        std::printf("template, arcs or springs (%zu): ", degraded_us.size());
        bench::print_spread(degraded_us);
        std::printf("\n");
    }
}
