// Substructure search throughput: classic functional-group SMARTS against the
// real molecule set, and pathological searches (all six-atom paths of C60, a
// ten-carbon chain along a thousand-carbon chain).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "chem/sanitize.hpp"
#include "common.hpp"
#include "io/smarts/parse.hpp"
#include "io/smiles/read.hpp"
#include "match/matcher.hpp"
#include "match/props.hpp"

using namespace quorix;
using Clock = std::chrono::steady_clock;

namespace {

const char* const SMARTS[] = {
    "[CX3](=O)[OX2H1]", "[CX3](=O)[O-]", "[#6][CX3](=O)[OX2H0][#6]", "[NX3][CX3](=[OX1])[#6]",
    "[NX3;H2;!$(NC=O)]", "[NX3;H1;!$(NC=O)]([#6])[#6]", "[NX3;H0;!$(NC=O)]([#6])([#6])[#6]", "[NX4+]",
    "[CX3H1](=O)[#6]", "[#6][CX3](=O)[#6]", "[OX2H][CX4]", "[OX2H]c", "[OD2]([#6])[#6]", "c[OX2][#6]",
    "[NX1]#[CX2]", "[C-]#[N+]", "[$([NX3](=O)=O),$([NX3+](=O)[O-])][!#8]", "[F,Cl,Br,I]", "[F,Cl,Br,I]c",
    "[F,Cl,Br,I][CX4]", "[CX3](=[OX1])[F,Cl,Br,I]", "[CX3](=[OX1])[OX2][CX3](=[OX1])", "[#16X2H]",
    "[#16X2H0]([#6])[#6]", "[#16X2H0][#16X2H0]", "[$([#16X4](=[OX1])(=[OX1])([#6])[#6])]", "[$([#16X3]=[OX1])]",
    "[$([#16X4]([NX3])(=[OX1])(=[OX1])[#6])]", "[$([#16X4](=[OX1])(=[OX1])([#6])[OX2H])]",
    "[$(P(=[OX1])([OX2][#6])([OX2][#6])[OX2][#6])]", "a", "n", "[nX2]", "[nH]", "c1ccccc1", "[CX3]=[CX3]",
    "[CX2]#[CX2]", "[CX3]=[NX2]", "[CX3]=[NX2][OX2H]", "[#6][NX2]=[NX2][#6]", "[NX3][NX3]",
    "[NX3][CX3](=[OX1])[NX3]", "[NX2]=[CX2]=[OX1]", "C1OC1", "[#6;R][CX3;R](=O)[OX2;R][#6;R]",
    "[#6;R][CX3;R](=O)[NX3;R]", "[CX4]([OX2][#6])([OX2][#6])", "[OX2][OX2]", "[CX3]=[OX1]", "[#6]=[OX1]",
    "[CH3]", "[CX4]", "[r5]", "[R2]", "[CX3]=[CX3][CX3]=[OX1]", "[CX3]=[CX3][OX2]", "[NX3][CX4][CX3](=O)[OX2H]",
    "[!#6;!#1]", "[!+0]", "C(F)(F)F", "[CH3]C([CH3])[CH3]", "c1ccc2ccccc2c1", "[#6]~[#6]~[#6]~[#6]~[#6]~[#6]",
    "[C@H]", "F/C=C/F",
};

using bench::median;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

void pathological(const char* label, const std::string& smarts, const std::string& smiles, bool uniquify) {
    auto q = io::read_smarts(smarts);
    auto mol = io::read_smiles(smiles);
    if (!q || !mol) {
        std::printf("%s: did not read\n", label);
        return;
    }
    const auto t0 = Clock::now();
    const int reps = 20;
    std::size_t found = 0;
    std::uint64_t steps = 0;
    for (int r = 0; r < reps; ++r) {
        const auto props = match::compute_query_props(*mol);
        const auto res = match::find_matches_counted(*q, *mol, props, {0, uniquify, true});
        found = res.matches.size();
        steps = res.steps;
    }
    const double per = seconds_since(t0) / reps;
    std::printf("%-44s uniquify=%d: %7zu matches, %9llu candidate tests, %8.3f ms per search, %.3g matches/s\n",
                label, uniquify ? 1 : 0, found, static_cast<unsigned long long>(steps), per * 1e3, found / per);
}

}  // namespace

int main() {
    std::vector<core::MolBuilder> mols;
    for (core::MolBuilder& mol : bench::data_molecules())
        if (chem::sanitize(mol)) mols.push_back(std::move(mol));
    std::vector<io::Query> queries;
    for (const char* s : SMARTS) {
        auto q = io::read_smarts(s);
        if (q) queries.push_back(std::move(*q));
        else std::printf("query did not read: %s\n", s);
    }
    std::printf("%zu molecules, %zu queries\n", mols.size(), queries.size());

    // Per molecule: properties once, then every query, as a caller matching a
    // panel of patterns would; and properties once per query, as Query.match does.
    std::vector<double> panel, props_only;
    std::uint64_t searches = 0, found = 0;
    const auto all0 = Clock::now();
    for (const auto& mol : mols) {
        const auto t0 = Clock::now();
        const auto props = match::compute_query_props(mol);
        props_only.push_back(seconds_since(t0));
        for (const auto& q : queries) {
            found += match::find_matches(q, mol, props, {0, true, true}).size();
            ++searches;
        }
        panel.push_back(seconds_since(t0));
    }
    const double total = seconds_since(all0);
    std::printf("properties: median %.2f us per molecule\n", median(props_only) * 1e6);
    std::printf("panel of %zu queries: median %.2f us per molecule (properties once)\n", queries.size(),
                median(panel) * 1e6);
    std::printf("%llu searches in %.3f s: %.0f searches/s, %.0f matches/s (%llu matches)\n",
                static_cast<unsigned long long>(searches), total, searches / total, found / total,
                static_cast<unsigned long long>(found));

    // As Query.match runs: properties recomputed for every search.
    std::vector<double> per_call;
    std::uint64_t calls = 0;
    const auto pc0 = Clock::now();
    for (const auto& mol : mols) {
        const auto t0 = Clock::now();
        for (const auto& q : queries) {
            const auto props = match::compute_query_props(mol);
            (void)match::find_matches(q, mol, props, {0, true, true});
            ++calls;
        }
        per_call.push_back(seconds_since(t0) / queries.size());
    }
    const double pc = seconds_since(pc0);
    std::printf("match calls with fresh properties: median %.2f us per (molecule, query), %.0f calls/s\n",
                median(per_call) * 1e6, calls / pc);

    const std::string c60 =
        "C12=C3C4=C5C6=C1C7=C8C9=C1C%10=C%11C(=C29)C3=C2C3=C4C4=C5C5=C9C6=C7C6=C7C8=C1C1=C8C%10=C%10C%11=C2C2=C3"
        "C3=C4C4=C5C5=C%11C%12=C(C6=C95)C7=C1C1=C%12C5=C%11C4=C3C3=C5C(=C81)C%10=C23";
    pathological("*~*~*~*~*~* on C60", "*~*~*~*~*~*", c60, true);
    pathological("*~*~*~*~*~* on C60", "*~*~*~*~*~*", c60, false);
    const std::string chain(1000, 'C');
    pathological("CCCCCCCCCC on a 1000-carbon chain", "CCCCCCCCCC", chain, true);
    pathological("CCCCCCCCCC on a 1000-carbon chain", "CCCCCCCCCC", chain, false);
    return 0;
}
