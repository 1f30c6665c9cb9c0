// How the conformers of the real molecules were made: for every record of
// molecules.smi, one line with the record, the embedding kept (0: the upper
// bounds', k: the k-th fresh one), the level of holds kept (all; shapes, the
// free torsions given up; none) and the faults kept (centres wrong,
// cis/trans flipped, bonds and angles outside their bounds); then, per kind
// of hold, how many groups the kept conformers hold and how many were given
// up with their level.
//
//   conformer_trace [--quiet]
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "common.hpp"
#include "conf/pipeline.hpp"
#include "io/molblock.hpp"
#include "io/smiles/read.hpp"

using namespace quorix;

int main(int argc, char** argv) {
    const bool quiet = argc > 1 && std::strcmp(argv[1], "--quiet") == 0;
    std::vector<std::pair<std::string, core::MolBuilder>> mols;
    std::size_t k = 0;
    for (const std::string& line : bench::data_lines("molecules.smi")) {
        const std::string smiles = line.substr(0, line.find_first_of(" \t"));
        if (auto m = io::read_smiles(smiles)) mols.emplace_back("smi " + std::to_string(k), std::move(*m));
        ++k;
    }
    std::size_t levels[4] = {0, 0, 0, 0}, fresh = 0, failed = 0;
    std::vector<std::pair<std::string_view, std::size_t>> held_groups, released_groups;
    for (auto& [name, mol] : mols) {
        auto constraints = conf::prepare_for_conformer(mol);
        if (!constraints) { ++failed; continue; }
        conf::ConformerTrace trace;
        auto result = conf::generate_conformer(mol, *constraints, &trace);
        if (!result) { ++failed; continue; }
        const auto census = conf::ConformerHolds(mol).census();
        if (held_groups.empty())
            for (const auto& [kind, level, count] : census) {
                held_groups.emplace_back(kind, 0);
                released_groups.emplace_back(kind, 0);
            }
        // A kind is given up when the kept conformer's level lies below its own.
        for (std::size_t i = 0; i < census.size(); ++i) {
            const auto& [kind, level, count] = census[i];
            (trace.holds < level ? released_groups : held_groups)[i].second += count;
        }
        ++levels[static_cast<int>(trace.holds)];
        fresh += trace.embedding != 0;
        static const char* const names[] = {"none", "lengths", "shapes", "all"};
        if (!quiet)
            std::printf("%s %s embedding %llu faults %zu %zu %zu %zu\n", name.c_str(), names[static_cast<int>(trace.holds)],
                        static_cast<unsigned long long>(trace.embedding), trace.chiral_wrong, trace.flipped,
                        trace.violations, trace.angle_faults);
    }
    std::printf("molecules %zu, refused %zu; kept with every hold %zu, with the shapes only %zu, with the typical "
                "lengths only %zu, with none %zu; from a fresh embedding %zu\n",
                mols.size(), failed, levels[3], levels[2], levels[1], levels[0], fresh);
    for (std::size_t i = 0; i < held_groups.size(); ++i)
        std::printf("  %-22s held %7zu, given up %5zu\n",
                    std::string(held_groups[i].first).c_str(), held_groups[i].second, released_groups[i].second);
}
