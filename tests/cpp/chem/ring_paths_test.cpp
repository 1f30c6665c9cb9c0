// The bitset ring search for small systems against the general search, and the
// reusable ring structures against the functions that build fresh ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "chem/rings.hpp"
#include "chem/sssr.hpp"
#include "graphs.hpp"
#include "smiles.hpp"

using namespace quorix;
using namespace quorix::chem;
using quorix::test::skeleton;
using quorix::test::Edges;
using quorix::test::ladder_edges;

namespace {

struct Graph {
    std::string name;
    std::uint32_t atoms;
    Edges edges;
};

Edges prism(std::uint32_t k) {
    Edges e;
    for (std::uint32_t i = 0; i < k; ++i) {
        e.push_back({i, (i + 1) % k});
        e.push_back({k + i, k + (i + 1) % k});
        e.push_back({i, k + i});
    }
    return e;
}

// A random connected graph: a random tree plus `extra` chords, bonds shuffled
// and ends swapped at random so rows and edge numbers carry no pattern.
Graph random_graph(std::mt19937& rng, std::uint32_t n, std::uint32_t extra, int index) {
    Edges e;
    for (std::uint32_t v = 1; v < n; ++v) e.push_back({std::uniform_int_distribution<std::uint32_t>(0, v - 1)(rng), v});
    std::uniform_int_distribution<std::uint32_t> pick(0, n - 1);
    for (std::uint32_t k = 0; k < extra; ++k) {
        const std::uint32_t x = pick(rng), y = pick(rng);
        if (x != y) e.push_back({x, y});  // repeats make parallel bonds, kept on purpose
    }
    std::shuffle(e.begin(), e.end(), rng);
    for (auto& [x, y] : e)
        if (rng() & 1u) std::swap(x, y);
    return {"random_" + std::to_string(index), n, e};
}

std::vector<Graph> search_graphs() {
    std::vector<Graph> g{
        {"prism_21", 42, prism(21)},  // 63 bonds
        {"ladder_21_at_64_bonds", 44, ladder_edges(21)},
    };
    // 64 atoms in one cycle with one chord (65 bonds: general), and 63 atoms
    // with one chord (64 bonds: the bitset search at its last bit).
    for (std::uint32_t n : {63u, 64u}) {
        Edges e = test::cycle_edges(0, n);
        e.push_back({0, n / 2});
        g.push_back({"cycle_" + std::to_string(n) + "_chord", n, e});
    }
    // A two-atom double link inside a ring, and two rings joined by parallel bonds.
    g.push_back({"parallel_bond", 6, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 0}, {1, 2}}});
    g.push_back({"parallel_pair", 2, {{0, 1}, {1, 0}}});
    std::mt19937 rng(20261207);
    for (int i = 0; i < 300; ++i) {
        const std::uint32_t n = std::uniform_int_distribution<std::uint32_t>(3, 40)(rng);
        const std::uint32_t extra = std::uniform_int_distribution<std::uint32_t>(1, std::min(24u, 64u - (n - 1)))(rng);
        g.push_back(random_graph(rng, n, extra, i));
    }
    return g;
}

class SmallSystemSearch : public ::testing::TestWithParam<Graph> {};

TEST_P(SmallSystemSearch, AgreesWithGeneralSearch) {
    const Graph& graph = GetParam();
    const core::MolBuilder m = skeleton(graph.atoms, graph.edges);
    RingBlocks blocks;
    find_ring_blocks(m, blocks);
    std::size_t compared = 0;
    for (std::span<const std::uint32_t> block : blocks.blocks) {
        RingList fast, general;
        append_ring_system_rings(m.bonds, block, fast);
        append_ring_system_rings_general(m.bonds, block, general);
        EXPECT_EQ(fast.offsets, general.offsets);
        EXPECT_EQ(fast.atoms, general.atoms);
        EXPECT_EQ(fast.bonds, general.bonds);
        compared += fast.size();
    }
    // A random graph's chords may all be parallel bonds; every named one has rings.
    if (graph.name != "parallel_pair" && !graph.name.starts_with("random_")) {
        EXPECT_GT(compared, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Graphs, SmallSystemSearch, ::testing::ValuesIn(search_graphs()),
                         [](const auto& info) { return info.param.name; });

// A caller's system need not be one block: two triangles given together have
// as many bonds as atoms, all of degree two, yet are no single cycle.
TEST(SystemRings, DisjointCyclesGivenAsOneSystemAreNotOneRing) {
    const core::MolBuilder m = skeleton(6, {{0, 1}, {1, 2}, {2, 0}, {3, 4}, {4, 5}, {5, 3}});
    const std::vector<std::uint32_t> system{0, 1, 2, 3, 4, 5};
    const std::vector<Ring> rings = sssr_of_ring_system(m.bonds, system);
    ASSERT_EQ(rings.size(), 2u);
    std::vector<std::uint32_t> covered;
    for (const Ring& r : rings) {
        EXPECT_EQ(r.atoms.size(), 3u);
        EXPECT_EQ(r.bonds.size(), 3u);
        covered.insert(covered.end(), r.atoms.begin(), r.atoms.end());
    }
    std::ranges::sort(covered);
    EXPECT_EQ(covered, (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}));
}

// Ring blocks reused across molecules of falling size must never show what an
// earlier molecule left behind.
TEST(RingBlocksReuse, MatchFreshResultsAcrossMolecules) {
    std::vector<core::MolBuilder> mols;
    mols.push_back(skeleton(44, ladder_edges(21)));
    mols.push_back(test::smiles("C1CC2CCC1C2.C1CC1CC1CC1"));
    mols.push_back(test::smiles("CCCCO"));
    mols.push_back(test::smiles("c1ccc2ccccc2c1"));
    core::MolBuilder dative = test::smiles("C1CCN2CCCC3CCCC1[Cu]23");
    mols.push_back(dative);
    for (auto& b : dative.bonds)
        if (dative.atoms[b.begin].atomic_num == 29 || dative.atoms[b.end].atomic_num == 29)
            b.order = core::BondOrder::Dative;
    mols.push_back(dative);
    RingBlocks blocks;
    for (core::MolBuilder& m : mols) {
        find_ring_blocks(m, blocks);
        const CsrAdjacency table = csr_adjacency(m, ring_perception_mask(m));
        const auto components = ring_bond_components(table);
        ASSERT_EQ(blocks.blocks.size(), components.size());
        for (std::uint32_t i = 0; i < components.size(); ++i) {
            EXPECT_TRUE(std::ranges::equal(blocks.blocks[i], components[i]));
            std::vector<std::uint32_t> atoms;
            for (std::uint32_t b : components[i]) {
                atoms.push_back(m.bonds[b].begin);
                atoms.push_back(m.bonds[b].end);
            }
            std::ranges::sort(atoms);
            atoms.erase(std::unique(atoms.begin(), atoms.end()), atoms.end());
            EXPECT_TRUE(std::ranges::equal(blocks.block_atoms[i], atoms));
        }
        const auto systems = ring_systems(m);
        ASSERT_EQ(blocks.systems.size(), systems.size());
        for (std::uint32_t i = 0; i < systems.size(); ++i) {
            EXPECT_TRUE(std::ranges::equal(blocks.systems[i], systems[i]));
        }

        core::MolBuilder flagged = m, reference = m;
        for (auto& a : flagged.atoms) a.flags |= core::IN_RING;  // stale bits must go
        for (auto& b : flagged.bonds) b.flags |= core::IN_RING;
        set_ring_flags(flagged, blocks);
        ring_membership(reference);
        EXPECT_EQ(flagged, reference);
    }
}

}  // namespace
