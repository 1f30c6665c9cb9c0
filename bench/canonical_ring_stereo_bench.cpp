// Canonical SMILES of many dot-joined copies of pieces whose stereo lies on a
// ring (trans-decalin, trans-1,4-dimethylcyclohexane), alone, mixed half and half,
// and with a counter-ion, read as parse_smiles reads them, with and without their
// @/@@ marks. Thread CPU time of one call (median of
// a few), per number of copies, and the work counters of the marked input.
//
//   canonical_ring_stereo_bench [COPIES...]   (default 10 20 40 100 200 400)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common.hpp"
#include "io/smiles/canonical.hpp"
#include "io/smiles/canonical_testing.hpp"
#include "io/smiles/read.hpp"

using namespace quorix;

namespace {

using bench::median_ms;

const std::string DECALIN = "[H][C@@]12CCCC[C@]1([H])CCCC2";
const std::string DIMETHYL = "C[C@H]1CC[C@H](C)CC1";

// `copies` pieces in all: copies of `piece`, or when `other` is given, half of
// each; then `extra`, if any.
std::string joined(const std::string& piece, const std::string& other, const std::string& extra, int copies) {
    std::string out;
    for (int k = 0; k < copies; ++k) out += (k ? "." : "") + (other.empty() || k < copies / 2 ? piece : other);
    return extra.empty() ? out : out + "." + extra;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::max(1, std::atoi(argv[i])));
    if (sizes.empty()) sizes = {10, 20, 40, 100, 200, 400};
    struct Input {
        const char* name;
        std::string piece, other, extra;
    };
    const Input inputs[] = {
        {"trans-decalin", DECALIN, "", ""},
        {"trans-1,4-dimethylcyclohexane", DIMETHYL, "", ""},
        {"decalin + [Na+]", DECALIN, "", "[Na+]"},
        {"dimethylcyclohexane + [Na+]", DIMETHYL, "", "[Na+]"},
        {"half decalin, half dimethyl", DECALIN, DIMETHYL, ""},
    };

    std::printf("%-30s %6s %6s %11s %11s %6s %11s %7s %9s\n", "piece", "copies", "atoms", "stereo", "no-stereo",
                "ratio", "refinements", "leaves", "@-visits");
    std::size_t sink = 0;
    for (const Input& input : inputs) {
        const char* name = input.name;
        for (int copies : sizes) {
            const auto read = io::read_smiles(joined(input.piece, input.other, input.extra, copies));
            if (!read) {
                std::printf("%-30s unreadable\n", name);
                return 1;
            }
            const core::MolBuilder& mol = *read;
            core::MolBuilder flat = mol;
            for (core::Atom& a : flat.atoms) a.chiral_tag = core::ChiralTag::Unspecified;
            const double with = median_ms([&] { sink += io::to_canonical_smiles(mol).size(); });
            const double without = median_ms([&] { sink += io::to_canonical_smiles(flat).size(); });
            io::CanonicalWork work;
            sink += io::canonical_smiles_counted(mol, work).text.size();
            std::printf("%-30s %6d %6u %9.2fms %9.2fms %6.1f %11llu %7llu %9llu\n", name, copies, mol.num_atoms(), with,
                        without, with / std::max(without, 1e-3), static_cast<unsigned long long>(work.refinements),
                        static_cast<unsigned long long>(work.leaves),
                        static_cast<unsigned long long>(work.chirality_visits));
        }
    }
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
