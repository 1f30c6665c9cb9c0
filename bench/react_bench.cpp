// Reaction throughput of the engines: every one-reactant transform of
// transforms.rxn against the real molecule set, counted in (template, molecule)
// pairs, with the per-call work Reaction.run does below Python (two copies of
// the molecule and its query properties); then esterification with capping.
// The Python-call figures come from react_bench.py.
#include <cstdio>
#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "common.hpp"
#include "io/smarts/reaction.hpp"
#include "match/byproduct.hpp"
#include "match/react.hpp"

using namespace quorix;

namespace {

std::vector<io::ReactionTemplates> transforms() {
    std::vector<io::ReactionTemplates> out;
    for (const std::string& line : bench::data_lines("transforms.rxn")) {
        if (line[0] == '#') continue;
        auto r = io::read_reaction_smarts(line.substr(line.find('\t') + 1));
        if (r) out.push_back(std::move(*r));
        else std::printf("reaction did not read: %s\n", line.c_str());
    }
    return out;
}

// What one Reaction.run call does between argument conversion and the result list.
std::size_t apply(const io::ReactionTemplates& r, std::span<const core::MolBuilder> mols, bool byproducts) {
    std::vector<core::MolBuilder> kept;
    if (byproducts) kept.assign(mols.begin(), mols.end());
    std::vector<match::ReactionInput> inputs;
    const match::PropNeeds needs = match::query_needs(r.reactants);
    for (const core::MolBuilder& m : mols) {
        inputs.push_back({&m, match::compute_query_props(m, needs)});
    }
    const auto outcomes = match::run(r, inputs, 0, false);
    std::size_t verdicts = 0;
    if (byproducts) {
        match::CapReactants reactants(kept);
        for (const auto& o : outcomes)
            verdicts += match::cap_byproducts(reactants, o).verdict == match::CapVerdict::Capped;
    }
    return outcomes.size() + verdicts;
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = bench::count_arg(argc, argv, 3);
    std::vector<core::MolBuilder> mols;
    for (core::MolBuilder& m : bench::data_molecules())
        if (chem::sanitize(m)) mols.push_back(std::move(m));
    const std::vector<io::ReactionTemplates> rxns = transforms();
    std::printf("%zu molecules, %zu one-reactant transforms, %zu pairs\n", mols.size(), rxns.size(),
                mols.size() * rxns.size());

    std::size_t outcomes = 0;
    const double sweep = bench::best_us(repeats, [&] {
        outcomes = 0;
        for (const auto& r : rxns)
            for (const auto& m : mols) outcomes += apply(r, std::span(&m, 1), false);
    });
    const double pairs = double(mols.size() * rxns.size());
    std::printf("engine sweep: %zu outcomes, %.3f us per pair, %.0f pairs/s\n", outcomes, sweep / pairs,
                pairs / (sweep * 1e-6));

    auto ester = io::read_reaction_smarts("[C:1](=[O:2])[OH1:3].[OH1:4][C:5]>>[C:1](=[O:2])[O:4][C:5]");
    std::vector<core::MolBuilder> pair;
    for (const char* s : {"CC(=O)O", "OCC"}) {
        auto m = io::read_smiles(s);
        if (!m || !chem::sanitize(*m)) return 1;
        pair.push_back(std::move(*m));
    }
    const int calls = 20000;
    std::vector<double> with, without;
    for (int r = 0; r < repeats; ++r) {
        with.push_back(bench::time_us([&] {
            for (int i = 0; i < calls; ++i) outcomes += apply(*ester, pair, true);
        }) / calls);
        without.push_back(bench::time_us([&] {
            for (int i = 0; i < calls; ++i) outcomes += apply(*ester, pair, false);
        }) / calls);
    }
    std::printf("esterification: %.2f us per call with capping, %.2f us without\n", bench::median(with),
                bench::median(without));
    return outcomes == 0;
}
