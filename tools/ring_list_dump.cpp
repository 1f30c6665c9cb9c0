// Prints the ring list of many graphs, one ring per line, for before/after
// comparisons of ring perception (see compare_ring_lists.sh): every molecule of
// molecules.smi, then random graphs, ladders and fused systems large enough to
// take the general search, then the same shapes as SMILES and random graphs of
// long chains.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "chem/rings.hpp"
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

// The general search's rings of every system, however small.
void print_general(const char* label, std::size_t id, const core::MolBuilder& m) {
    chem::RingBlocks blocks;
    chem::find_ring_blocks(m, blocks);
    for (std::uint32_t i = 0; i < blocks.blocks.size(); ++i) {
        chem::RingList list;
        chem::append_ring_system_rings_general(m.bonds, blocks.blocks[i], list);
        for (std::uint32_t k = 0; k < list.size(); ++k) {
            std::printf("%s %zu general:", label, id);
            for (std::uint32_t a : list.ring_atoms(k)) std::printf(" %u", a);
            std::printf(" |");
            for (std::uint32_t b : list.ring_bonds(k)) std::printf(" %u", b);
            std::printf("\n");
        }
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

    // The same shapes as SMILES: a bicyclic of three k-atom bridges and a
    // ladder whose rails are joined end to start.
    for (std::uint32_t k : {1u, 2u, 3u, 10u, 57u, 300u, 1500u, 6000u}) {
        const std::string c(k, 'C');
        if (auto m = io::read_smiles("C1" + c + "C2" + c + "C1" + c + "2")) print("bicyclic", k, *m);
    }
    for (std::uint32_t k : {5u, 20u, 40u, 80u, 301u, 1000u}) {
        std::string smi;
        for (int twice = 0; twice < 2; ++twice)
            for (std::uint32_t i = 1; i <= k; ++i) smi += "C%(" + std::to_string(i) + ")";
        if (auto m = io::read_smiles(smi)) print("smiles-ladder", k, *m);
    }

    // Small random multigraphs with every edge drawn out into a chain of 0 to
    // `longest` atoms, under shuffled atom and bond numbers: long chains with
    // many equal distances, parallel chains and parallel bonds.
    for (std::size_t round = 0; round < 3000; ++round) {
        const std::uint32_t kernel = 3 + rng() % 10;
        const std::uint32_t kernel_edges = kernel + rng() % (round % 3 == 0 ? 60 : 12);
        const std::uint32_t longest = round % 5 == 0 ? 1 : round % 5 == 1 ? 40 : 8;
        const bool uniform = round % 7 == 0;
        const std::uint32_t drawn = rng() % (longest + 1);
        std::vector<std::pair<std::uint32_t, std::uint32_t>> e;
        std::uint32_t n = kernel;
        const auto draw = [&](std::uint32_t a, std::uint32_t b) {
            const std::uint32_t len = uniform ? drawn : rng() % (longest + 1);
            std::uint32_t prev = a;
            for (std::uint32_t i = 0; i < len; ++i) e.push_back({prev, n}), prev = n++;
            e.push_back({prev, b});
        };
        for (std::uint32_t i = 1; i < kernel; ++i) draw(rng() % i, i);
        for (std::uint32_t k = 0; k < kernel_edges; ++k) {
            const std::uint32_t a = rng() % kernel, b = rng() % kernel;
            if (a != b) draw(a, b);
        }
        std::vector<std::uint32_t> label(n);
        for (std::uint32_t i = 0; i < n; ++i) label[i] = i;
        std::shuffle(label.begin(), label.end(), rng);
        for (auto& [a, b] : e) {
            a = label[a];
            b = label[b];
            if (rng() % 2) std::swap(a, b);
        }
        std::shuffle(e.begin(), e.end(), rng);
        const core::MolBuilder m = graph(n, e);
        print("drawn", round, m);
        print_general("drawn", round, m);
    }
    return 0;
}
