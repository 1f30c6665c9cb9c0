// Ring perception throughput: per-molecule medians over the real molecule file,
// then the large synthetic skeletons (chain, macrocycle, ladder, sheet) that must
// stay linear or near-linear, and the Kekulé search on large aromatic sheets.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "chem/kekulize.hpp"
#include "chem/rings.hpp"
#include "chem/sssr.hpp"
#include "common.hpp"
#include "lattices.hpp"
#include "core/builder.hpp"
#include "io/smiles/read.hpp"

using namespace quorix;

namespace {

using bench::median;
using bench::time_us;

using Edges = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

core::MolBuilder skeleton(std::uint32_t n, const Edges& edges, bool aromatic = false) {
    core::MolBuilder m = core::MolBuilder::with_capacity(n, edges.size());
    for (std::uint32_t i = 0; i < n; ++i) {
        core::Atom a;
        a.atomic_num = 6;
        if (aromatic) a.flags = core::AROMATIC;
        m.add_atom(a);
    }
    for (auto [x, y] : edges) {
        core::Bond b;
        b.begin = x;
        b.end = y;
        b.order = aromatic ? core::BondOrder::Aromatic : core::BondOrder::Single;
        if (aromatic) b.flags = core::AROMATIC;
        m.push_bond(b);
    }
    return m;
}

// Brick-wall hexagonal sheet of rows x cols rings, aromatic, optionally without
// its first corner atom.
core::MolBuilder sheet(std::uint32_t rows, std::uint32_t cols, bool drop_first = false) {
    const test::Skeleton s = test::hex_sheet(rows, cols);
    if (!drop_first) return skeleton(s.num_atoms, s.edges, true);
    Edges kept;
    for (auto [a, b] : s.edges)
        if (a != 0 && b != 0) kept.push_back({a - 1, b - 1});
    return skeleton(s.num_atoms - 1, kept, true);
}

// Ring perception remembers the blocks and rings of the molecule and systems it
// met last. A call on this molecule first (eight separate fused systems and so
// all of the systems remembered) makes the timed call that follows do its work
// afresh, as it does for each new molecule of a batch.
void forget_rings() {
    static const core::MolBuilder other = [] {
        Edges e;
        for (std::uint32_t k = 0; k < 8; ++k) {
            const std::uint32_t a = 4 * k;
            for (auto [x, y] : {std::pair{0u, 1u}, {1u, 2u}, {2u, 3u}, {3u, 0u}, {0u, 2u}}) e.push_back({a + x, a + y});
        }
        return skeleton(32, e);
    }();
    (void)chem::sssr(other);
}

void report_large(const char* name, const core::MolBuilder& mol) {
    std::vector<double> member, rings;
    std::size_t count = 0;
    for (int rep = 0; rep < 5; ++rep) {
        core::MolBuilder m = mol;
        member.push_back(time_us([&] { chem::ring_membership(m); }));
        forget_rings();
        rings.push_back(time_us([&] { count = chem::sssr(m).size(); }));
    }
    std::printf("%-30s %6u atoms %6u bonds  ring_membership %10.1f us  sssr %10.1f us  (%zu rings)\n", name,
                mol.num_atoms(), mol.num_bonds(), median(member), median(rings), count);
}

void report_kekulize(const char* name, const core::MolBuilder& mol) {
    std::vector<double> t;
    std::string outcome;
    for (int rep = 0; rep < 3; ++rep) {
        core::MolBuilder m = mol;
        chem::ring_membership(m);
        forget_rings();
        t.push_back(time_us([&] {
            auto r = chem::kekulize(m);
            outcome = r ? "ok" : r.error().to_string();
        }));
    }
    if (outcome.size() > 90) outcome = outcome.substr(0, 90) + "...";
    std::printf("%-30s %6u atoms  kekulize %10.1f us  %s\n", name, mol.num_atoms(), median(t), outcome.c_str());
}

}  // namespace

int main() {
    const std::vector<core::MolBuilder> mols = bench::data_molecules();
    std::vector<double> member, systems, rings;
    std::size_t total_rings = 0;
    for (int pass = 0; pass < 3; ++pass)
        for (core::MolBuilder m : mols) {
            member.push_back(time_us([&] { chem::ring_membership(m); }));
            forget_rings();
            systems.push_back(time_us([&] { chem::ring_systems(m); }));
            forget_rings();
            rings.push_back(time_us([&] { total_rings += chem::sssr(m).size(); }));
        }
    std::printf("molecules.smi: %zu molecules read, %zu rings\n", mols.size(), total_rings / 3);
    std::printf("  per-molecule median: ring_membership %.2f us, ring_systems %.2f us, sssr %.2f us\n",
                median(member), median(systems), median(rings));

    const std::uint32_t n = 10000;
    Edges chain, cycle, ladder, theta;
    for (std::uint32_t i = 0; i + 1 < n; ++i) chain.push_back({i, i + 1});
    cycle = chain;
    cycle.push_back({n - 1, 0});
    for (std::uint32_t k = 0; k <= 2000; ++k) {
        ladder.push_back({2 * k, 2 * k + 1});
        if (k < 2000) {
            ladder.push_back({2 * k, 2 * k + 2});
            ladder.push_back({2 * k + 1, 2 * k + 3});
        }
    }
    // Two 500-atom rings sharing one bond: the size limit has to double up to 1024.
    for (std::uint32_t i = 0; i + 1 < 500; ++i) theta.push_back({i, i + 1});
    theta.push_back({499, 0});
    for (std::uint32_t i = 500; i + 1 < 998; ++i) theta.push_back({i, i + 1});
    theta.push_back({0, 500});
    theta.push_back({997, 499});
    report_large("chain 10000", skeleton(n, chain));
    report_large("macrocycle 10000", skeleton(n, cycle));
    report_large("ladder of 2000 rings", skeleton(4002, ladder));
    report_large("hexagonal sheet 50x50", sheet(50, 50));
    report_large("two fused 500-rings", skeleton(998, theta));
    // Three bridges of k atoms between two atoms, and two rails joined end to
    // start with rungs: the first has three rings of about 2k atoms, the second
    // n squares and n rings of n + 1 atoms (a list of about n * n entries).
    for (std::uint32_t k : {1500u, 6000u}) {
        const std::string c(k, 'C');
        if (auto m = io::read_smiles("C1" + c + "C2" + c + "C1" + c + "2"))
            report_large(("bicyclic k=" + std::to_string(k)).c_str(), *m);
    }
    for (std::uint32_t k : {1000u, 4000u}) {
        std::string smi;
        for (int rail = 0; rail < 2; ++rail)
            for (std::uint32_t i = 1; i <= k; ++i) smi += "C%(" + std::to_string(i) + ")";
        if (auto m = io::read_smiles(smi)) report_large(("joined ladder n=" + std::to_string(k)).c_str(), *m);
    }

    report_kekulize("sheet 5x8 (40 rings)", sheet(5, 8));
    report_kekulize("sheet 50x50 (2500 rings)", sheet(50, 50));
    report_kekulize("sheet 5x8 minus a corner", sheet(5, 8, true));
    report_kekulize("sheet 10x10 minus a corner", sheet(10, 10, true));
    report_kekulize("sheet 20x20 minus a corner", sheet(20, 20, true));
    return 0;
}
