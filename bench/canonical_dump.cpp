// Writes, for every molecule of a SMILES file, the canonical texts quorix gives
// it: as read, its canonical ranks, after sanitising, and for a number of random
// atom orders (the molecule written in a shuffled order and read back). Two
// builds' outputs compared line by line show every text a change altered; see
// tools/canonical_compare.sh.
//
//   canonical_dump FILE [ORDERS]   (default 5 random orders per molecule)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "io/smiles/canonical.hpp"
#include "io/smiles/read.hpp"
#include "io/smiles/write.hpp"
#include "io/stereo.hpp"

using namespace quorix;

namespace {

std::string ranks_text(const core::MolBuilder& mol) {
    std::string out;
    for (std::uint32_t r : io::canonical_ranks(mol)) out += std::to_string(r) + ',';
    return out;
}

// The molecule written with `priorities` and read back: the same molecule with its
// atoms and bonds stored in another order.
std::optional<core::MolBuilder> reordered(const core::MolBuilder& mol, std::mt19937& rng) {
    std::vector<std::uint32_t> priorities(mol.num_atoms());
    std::iota(priorities.begin(), priorities.end(), 0u);
    std::shuffle(priorities.begin(), priorities.end(), rng);
    const std::string text = io::write_smiles(mol, priorities, io::SmilesMode::Storage).text;
    auto back = io::read_smiles(text);
    if (!back) return std::nullopt;
    return std::move(*back);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: canonical_dump FILE [ORDERS]\n");
        return 2;
    }
    const int orders = argc > 2 ? std::max(0, std::atoi(argv[2])) : 5;
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 2;
    }
    std::mt19937 rng(20261207);
    std::size_t line_no = 0;
    for (std::string line; std::getline(in, line);) {
        ++line_no;
        const std::string smiles = line.substr(0, line.find_first_of(" \t"));
        if (smiles.empty()) continue;
        std::string out = std::to_string(line_no) + '\t' + smiles;
        auto mol = io::read_smiles(smiles);
        if (!mol) {
            std::printf("%s\tparse error\n", out.c_str());
            continue;
        }
        out += '\t' + io::to_canonical_smiles(*mol) + '\t' + ranks_text(*mol);
        for (int k = 0; k < orders; ++k) {
            auto other = reordered(*mol, rng);
            out += '\t' + (other ? io::to_canonical_smiles(*other) : std::string("reread error"));
        }
        core::MolBuilder sanitised = *mol;
        if (chem::sanitize(sanitised)) {
            io::double_bond_stereo(sanitised);
            out += '\t' + io::to_canonical_smiles(sanitised) + '\t' + ranks_text(sanitised);
            for (int k = 0; k < orders; ++k) {
                auto other = reordered(sanitised, rng);
                out += '\t' + (other ? io::to_canonical_smiles(*other) : std::string("reread error"));
            }
        } else {
            out += "\tsanitize error";
        }
        std::printf("%s\n", out.c_str());
    }
    return 0;
}
