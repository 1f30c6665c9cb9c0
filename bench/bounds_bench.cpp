// Distance bounds and error-function throughput on the real data set: every
// molecule of molecules.smi that sanitises, with its hydrogens made explicit as
// the conformer sees it. Per-molecule figures of build_bounds (the best of a few
// runs) and of one error-function evaluation at deterministic coordinates.
//
//   bounds_bench [MOLECULES]   (default: all)
#include <cmath>
#include <cstdio>
#include <vector>

#include "chem/explicit_hs.hpp"
#include "chem/sanitize.hpp"
#include "common.hpp"
#include "conf/bounds.hpp"
#include "conf/chiral.hpp"
#include "conf/field.hpp"
#include "io/smiles/canonical.hpp"
#include "io/stereo.hpp"

using namespace quorix;

int main(int argc, char** argv) {
    std::vector<core::MolBuilder> mols = bench::data_molecules();
    const std::size_t limit = argc > 1 ? std::size_t(bench::count_arg(argc, argv, 1)) : mols.size();
    std::vector<double> bounds_us, field_us;
    std::size_t atoms = 0;
    for (std::size_t k = 0; k < mols.size() && bounds_us.size() < limit; ++k) {
        core::MolBuilder& m = mols[k];
        if (!chem::sanitize(m)) continue;
        io::double_bond_stereo(m);
        chem::add_explicit_hs(m, io::canonical_ranks(m));
        atoms += m.num_atoms();
        conf::DistanceBounds b;
        bounds_us.push_back(bench::best_us(3, [&] { b = conf::build_bounds(m); }));
        const conf::ErrorFunction f = conf::build_chiral_terms(b, conf::collect_chiral_centres(m));
        std::vector<double> x(3 * m.num_atoms()), g(x.size());
        for (std::size_t i = 0; i < x.size(); ++i) x[i] = 3.0 * std::sin(0.7 * double(i) + 0.3);
        volatile double sink = 0;
        field_us.push_back(bench::best_us(3, [&] { sink = conf::field_energy(f, x, g); }));
    }
    std::printf("%zu molecules, %.1f atoms on average with hydrogens\n", bounds_us.size(),
                double(atoms) / double(bounds_us.size()));
    std::printf("build_bounds   ");
    bench::print_spread(bounds_us);
    std::printf("\nfield_energy   ");
    bench::print_spread(field_us);
    std::printf("\n");
}
