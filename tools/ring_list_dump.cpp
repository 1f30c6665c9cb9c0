// Prints the ring list of many graphs, one ring per line, for before/after
// comparisons of ring perception (see compare_ring_lists.sh): every molecule of
// molecules.smi, then random graphs, ladders and fused systems large enough to
// take the general search.
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "chem/sssr.hpp"
#include "io/smiles/read.hpp"

using namespace quorix;

namespace {

void print(const char* label, std::size_t id, const core::MolBuilder& m) {
    for (const chem::Ring& r : chem::sssr(m)) {
        std::printf("%s %zu:", label, id);
        for (std::uint32_t a : r.atoms) std::printf(" %u", a);
        std::printf(" |");
        for (std::uint32_t b : r.bonds) std::printf(" %u", b);
        std::printf("\n");
    }
}

core::MolBuilder graph(std::uint32_t n, const std::vector<std::pair<std::uint32_t, std::uint32_t>>& edges) {
    core::MolBuilder m;
    for (std::uint32_t i = 0; i < n; ++i) {
        core::Atom a;
        a.atomic_num = 6;
        m.add_atom(a);
    }
    for (auto [x, y] : edges) {
        core::Bond b;
        b.begin = x;
        b.end = y;
        b.order = core::BondOrder::Single;
        m.push_bond(b);
    }
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ring_list_dump molecules.smi\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    std::size_t id = 0;
    for (std::string line; std::getline(in, line); ++id)
        if (auto m = io::read_smiles(line.substr(0, line.find_first_of(" \t")))) print("mol", id, *m);

    std::mt19937 rng(20261207);
    for (std::size_t round = 0; round < 3000; ++round) {
        // Sparse graphs of up to 200 atoms: systems both below and above 64 atoms.
        const std::uint32_t n = 3 + rng() % (round % 2 ? 200 : 40);
        const std::uint32_t extra = 1 + rng() % (n / 4 + 2);
        std::vector<std::pair<std::uint32_t, std::uint32_t>> e;
        for (std::uint32_t i = 1; i < n; ++i) e.push_back({rng() % i, i});  // a random tree
        for (std::uint32_t k = 0; k < extra; ++k) {
            const std::uint32_t a = rng() % n, b = rng() % n;
            if (a != b) e.push_back({a, b});
        }
        print("random", round, graph(n, e));
    }
    for (std::uint32_t k : {40u, 120u, 400u}) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> e;
        for (std::uint32_t i = 0; i + 1 < 2 * k; ++i) e.push_back({i, i + 1});  // a chain folded into a ladder
        for (std::uint32_t i = 0; i < k; ++i) e.push_back({i, k + i});
        print("ladder", k, graph(2 * k, e));
    }
    for (std::uint32_t k : {30u, 100u, 500u}) {
        // Three paths of k atoms between two bridgeheads.
        std::vector<std::pair<std::uint32_t, std::uint32_t>> e;
        const std::uint32_t n = 2 + 3 * k;
        for (std::uint32_t p = 0; p < 3; ++p) {
            std::uint32_t prev = 0;
            for (std::uint32_t i = 0; i < k; ++i) {
                const std::uint32_t a = 2 + p * k + i;
                e.push_back({prev, a});
                prev = a;
            }
            e.push_back({prev, 1});
        }
        print("theta", k, graph(n, e));
    }
    return 0;
}
