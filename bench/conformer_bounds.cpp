// How far given conformer coordinates stray outside the smoothed distance
// bounds of their molecule (the bounds' own rules with what the holds of
// shapes make of them: trans amides and Z esters, amine, nitro and sp
// angles, nitro bonds; the free torsions' chair windows left out). The
// coordinates come from outside (tools/conf_geometry.py sends what a module
// made), so one build of this program judges the conformers of any build
// against the same bounds.
//
// Reads lines from standard input, one molecule each:
//   smi SMILES N  z x y z  z x y z ...
//   sdf RECORD N  z x y z ...          (record index in pubchem-1000.sdf)
// with N atoms of the prepared molecule (hydrogens included, atom order of
// the conformer), each as its atomic number and coordinates. Writes one line
// per molecule:
//   ok BOND PAIR BONDS_OVER PAIRS_OVER ANGLES
// BOND is the largest amount (Å) by which a bonded pair misses its bounds,
// PAIR the same over every pair of atoms in one piece (1-2, 1-3, 1-4 and the
// van der Waals lower bounds), the counts those over 0.1 Å; 0 when inside.
// ANGLES counts the atoms with a bond angle far outside these bounds, by the
// pipeline's own count (whose 1-3 bounds the trans amide windows leave alone).
// A molecule that does not prepare, or whose atoms differ from the prepared
// molecule's, gives "error TEXT".
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "common.hpp"
#include "conf/pipeline.hpp"
#include "conf/smooth.hpp"
#include "python/finish.hpp"

using namespace quorix;

namespace {

std::string read_file(const char* name) {
    const std::string path = std::string(QUORIX_BENCH_DATA) + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::fprintf(stderr, "cannot open %s\n", path.c_str());
        std::exit(1);
    }
    std::string text;
    char buf[65536];
    for (std::size_t got; (got = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, got);
    std::fclose(f);
    return text;
}

// Piece number per atom, by a walk over the bonds.
std::vector<std::uint32_t> pieces(const core::MolBuilder& mol) {
    std::vector<std::uint32_t> piece(mol.num_atoms(), core::NONE), stack;
    std::uint32_t next = 0;
    for (std::uint32_t s = 0; s < mol.num_atoms(); ++s) {
        if (piece[s] != core::NONE) continue;
        piece[s] = next;
        stack.assign(1, s);
        while (!stack.empty()) {
            const std::uint32_t a = stack.back();
            stack.pop_back();
            for (core::Neighbor nb : mol.neighbors(a))
                if (piece[nb.atom] == core::NONE) {
                    piece[nb.atom] = next;
                    stack.push_back(nb.atom);
                }
        }
        ++next;
    }
    return piece;
}

std::string judge(core::MolBuilder mol, std::istringstream& in) {
    if (!conf::prepare_for_conformer(mol)) return "error does not prepare";
    std::size_t n = 0;
    in >> n;
    if (n != mol.num_atoms()) return "error atom count " + std::to_string(n) + " against " + std::to_string(mol.num_atoms());
    std::vector<double> x(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        int z = -1;
        in >> z >> x[3 * i] >> x[3 * i + 1] >> x[3 * i + 2];
        if (!in || z != mol.atoms[i].atomic_num) return "error atom " + std::to_string(i) + " differs";
    }
    const conf::ConformerHolds holds(mol);
    const conf::BoundsPreferences& plain = holds.bounds(conf::Holds::Shapes);
    conf::DistanceBounds b = conf::build_bounds(mol, &plain);
    if (conf::triangle_smooth(b)) return "error bounds contradict";
    const auto miss = [&](std::size_t i, std::size_t j) {
        const double d = std::hypot(x[3 * i] - x[3 * j], x[3 * i + 1] - x[3 * j + 1], x[3 * i + 2] - x[3 * j + 2]);
        return std::max({0.0, b.lower(i, j) - d, d - b.upper(i, j)});
    };
    double bond = 0, pair = 0;
    std::size_t bonds_over = 0, pairs_over = 0;
    for (const core::Bond& e : mol.bonds) {
        const double m = miss(e.begin, e.end);
        bond = std::max(bond, m);
        bonds_over += m > 0.1;
    }
    const std::vector<std::uint32_t> piece = pieces(mol);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            if (piece[i] != piece[j]) continue;
            const double m = miss(i, j);
            pair = std::max(pair, m);
            pairs_over += m > 0.1;
        }
    char line[128];
    std::snprintf(line, sizeof line, "ok %.4f %.4f %zu %zu %zu", bond, pair, bonds_over, pairs_over,
                  conf::count_angle_faults(x, mol, b));
    return line;
}

}  // namespace

int main() {
    std::vector<python::PySdfRecord> sdf;
    bool sdf_read = false;
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream in(line);
        std::string source, name;
        in >> source >> name;
        std::string verdict;
        if (source == "smi") {
            auto mol = io::read_smiles(name);
            verdict = mol ? judge(std::move(*mol), in) : "error does not read";
        } else if (source == "sdf") {
            if (!sdf_read) {
                sdf = python::read_sdf_records(read_file("pubchem-1000.sdf"));
                sdf_read = true;
            }
            const std::size_t k = std::strtoul(name.c_str(), nullptr, 10);
            verdict = k < sdf.size() && sdf[k].block ? judge(sdf[k].block->mol, in) : "error no such record";
        } else {
            verdict = "error unknown source";
        }
        std::printf("%s\n", verdict.c_str());
        std::fflush(stdout);
    }
}
