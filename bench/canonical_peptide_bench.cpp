// Canonical SMILES of long molecules with many stereocentres: peptides of a
// repeating five-residue unit (Phe Ala Gly Ser Leu, four of them chiral), with and
// without their @/@@ marks and with a cis/trans crotonyl cap, next to parsing and
// sanitising them. Thread CPU time of one call (median of a few), per length; the
// work counters (of the marked peptide) show how the search grows with the length.
//
//   canonical_peptide_bench [RESIDUES...]   (default 200 400 800 1600)
//   canonical_peptide_bench --smiles N      prints the N-residue peptide
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "common.hpp"
#include "io/smiles/canonical.hpp"
#include "io/smiles/canonical_testing.hpp"
#include "io/smiles/read.hpp"
#include "io/stereo.hpp"

using namespace quorix;

namespace {

using bench::median_ms;

// N-terminal amine to C-terminal acid, residues in a fixed cycle.
std::string peptide(int residues) {
    static const char* const unit[] = {"N[C@@H](Cc1ccccc1)C(=O)", "N[C@@H](C)C(=O)", "NCC(=O)",
                                       "N[C@@H](CO)C(=O)", "N[C@@H](CC(C)C)C(=O)"};
    std::string out;
    for (int k = 0; k < residues; ++k) out += unit[k % 5];
    return out + "O";
}

std::string without_stereo(std::string s) {
    std::erase(s, '@');
    return s;
}

core::MolBuilder sanitised(const std::string& smiles) {
    auto mol = io::read_smiles(smiles);
    if (!mol || !chem::sanitize(*mol)) {
        std::fprintf(stderr, "cannot read the peptide\n");
        std::exit(1);
    }
    return std::move(*mol);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--smiles") == 0) {
        std::printf("%s\n", peptide(std::max(1, std::atoi(argv[2]))).c_str());
        return 0;
    }
    std::vector<int> lengths;
    for (int i = 1; i < argc; ++i) lengths.push_back(std::max(1, std::atoi(argv[i])));
    if (lengths.empty()) lengths = {200, 400, 800, 1600};

    std::printf("%8s %7s %9s %9s %12s %12s %12s %6s %11s %7s %9s\n", "residues", "atoms", "parse", "sanitize",
                "canon+stereo", "canon-flat", "canon-capped", "ratio", "refinements", "leaves", "@-visits");
    std::size_t sink = 0;
    for (int r : lengths) {
        const std::string text = peptide(r);
        const core::MolBuilder mol = sanitised(text);
        const core::MolBuilder flat = sanitised(without_stereo(text));
        core::MolBuilder capped = sanitised("C/C=C/C(=O)" + text);
        io::double_bond_stereo(capped);
        const double parse = median_ms([&] { sink += io::read_smiles(text)->num_atoms(); });
        const core::MolBuilder raw = *io::read_smiles(text);
        const double sanitise = median_ms([&] {
            core::MolBuilder m = raw;
            sink += chem::sanitize(m).has_value();
        });
        const double with = median_ms([&] { sink += io::to_canonical_smiles(mol).size(); });
        const double without = median_ms([&] { sink += io::to_canonical_smiles(flat).size(); });
        const double cap = median_ms([&] { sink += io::to_canonical_smiles(capped).size(); });
        io::CanonicalWork work;
        sink += io::canonical_smiles_counted(mol, work).text.size();
        std::printf("%8d %7u %7.2fms %7.2fms %10.2fms %10.2fms %10.2fms %6.1f %11llu %7llu %9llu\n", r,
                    mol.num_atoms(), parse, sanitise, with, without, cap, with / without,
                    static_cast<unsigned long long>(work.refinements), static_cast<unsigned long long>(work.leaves),
                    static_cast<unsigned long long>(work.chirality_visits));
    }
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
