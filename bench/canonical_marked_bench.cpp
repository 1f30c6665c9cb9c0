// Canonical SMILES of inputs whose marks sit on symmetric units: cis/trans marks,
// map numbers and polyhedral classes on dot-joined copies, and single molecules
// made of many ring-stereo units (a chain of rings, one large ring of centres),
// read as parse_smiles reads them, with and without their marks (@, /, \, map
// numbers). Thread CPU time of one call (median of a few) and the work counters
// of the marked input.
//
//   canonical_marked_bench [SCALE]   (default 1: the sizes below; 2 doubles them)
#include <cstdio>
#include <string>
#include <vector>

#include "common.hpp"
#include "io/smiles/canonical.hpp"
#include "io/smiles/canonical_testing.hpp"
#include "io/smiles/read.hpp"

using namespace quorix;

namespace {

std::string copies(const std::string& piece, int n) {
    std::string out;
    for (int k = 0; k < n; ++k) out += (k ? "." : "") + piece;
    return out;
}

std::string repeated(const std::string& unit, int n) {
    std::string out;
    for (int k = 0; k < n; ++k) out += unit;
    return out;
}

struct Row {
    std::string name, smiles;
};

std::vector<Row> rows(int scale) {
    std::vector<Row> out;
    auto add = [&](const std::string& what, const std::string& smiles) { out.push_back({what, smiles}); };
    for (int n : {400, 800}) add("C/C=C/C x" + std::to_string(n * scale), copies("C/C=C/C", n * scale));
    for (int n : {10, 20, 40})
        add("ring /C=C/C x" + std::to_string(n * scale), copies("C[C@H]1CC[C@@H](/C=C/C)CC1", n * scale));
    for (int n : {10, 20, 40})
        add("mapped ring x" + std::to_string(n * scale), copies("[CH3:1][C@H]1CC[C@@H](C)CC1", n * scale));
    for (int n : {40, 80, 160}) add("@OH1 x" + std::to_string(n * scale), copies("F[S@OH1](F)(F)(F)(F)F", n * scale));
    add("@TB1 x" + std::to_string(160 * scale), copies("F[P@TB1](F)(F)(F)F", 160 * scale));
    add("@SP1 x" + std::to_string(160 * scale), copies("Cl[Pt@SP1](Cl)(Cl)Cl", 160 * scale));
    for (int n : {80, 160})
        add("ring chain x" + std::to_string(n * scale), "C" + repeated("[C@H]1CC[C@@H](CC1)", n * scale) + "C");
    // The same with its ends told apart.
    add("O-ring chain x" + std::to_string(160 * scale), "O" + repeated("[C@H]1CC[C@@H](CC1)", 160 * scale) + "C");
    const int ring = 160 * scale;
    add("ring of " + std::to_string(ring), "[C@@H]1(C)" + repeated("[C@@H](C)", ring - 2) + "[C@@H]1C");
    // The same ring all cis: the first and last centres read their ligands in another order.
    add("cis ring of " + std::to_string(ring), "[C@H]1(C)" + repeated("[C@@H](C)", ring - 2) + "[C@H]1C");
    return out;
}

// The same graph without @/@@ and polyhedral classes, direction marks and map
// numbers.
core::MolBuilder unmarked(core::MolBuilder mol) {
    for (core::Atom& a : mol.atoms) {
        a.chiral_tag = core::ChiralTag::Unspecified;
        a.chiral_permutation = 0;
        a.map_num = 0;
    }
    for (core::Bond& b : mol.bonds) b.direction = core::BondDirection::None;
    return mol;
}

}  // namespace

int main(int argc, char** argv) {
    const int scale = bench::count_arg(argc, argv, 1);
    std::printf("%-20s %6s %11s %11s %6s %11s %7s %9s %11s %17s\n", "input", "atoms", "marked", "unmarked", "ratio",
                "refinements", "leaves", "@-visits", "cells made", "unmarked ref/lvs");
    std::size_t sink = 0;
    for (const Row& row : rows(scale)) {
        const auto read = io::read_smiles(row.smiles);
        if (!read) {
            std::printf("%-20s unreadable\n", row.name.c_str());
            return 1;
        }
        const core::MolBuilder& mol = *read;
        const core::MolBuilder flat = unmarked(mol);
        const double with = bench::median_ms([&] { sink += io::to_canonical_smiles(mol).size(); });
        const double without = bench::median_ms([&] { sink += io::to_canonical_smiles(flat).size(); });
        io::CanonicalWork work, flat_work;
        sink += io::canonical_smiles_counted(mol, work).text.size();
        sink += io::canonical_smiles_counted(flat, flat_work).text.size();
        std::printf("%-20s %6u %9.2fms %9.2fms %6.1f %11llu %7llu %9llu %11llu %10llu/%llu\n", row.name.c_str(),
                    mol.num_atoms(), with, without, with / std::max(without, 1e-3),
                    static_cast<unsigned long long>(work.refinements), static_cast<unsigned long long>(work.leaves),
                    static_cast<unsigned long long>(work.chirality_visits),
                    static_cast<unsigned long long>(work.cells_made),
                    static_cast<unsigned long long>(flat_work.refinements),
                    static_cast<unsigned long long>(flat_work.leaves));
        std::fflush(stdout);
    }
    std::printf("(checksum %zu)\n", sink);
    return 0;
}
