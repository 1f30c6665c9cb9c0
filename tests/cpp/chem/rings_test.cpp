#include "chem/rings.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "graphs.hpp"

using namespace quorix;
using namespace quorix::chem;
using quorix::test::cycle_edges;
using quorix::test::skeleton;
using quorix::test::Edges;
using quorix::test::operator+;
using U32s = std::vector<std::uint32_t>;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes in_ring_bits_of_atoms(const core::MolBuilder& m) {
    Bytes out;
    for (const auto& a : m.atoms) out.push_back((a.flags & core::IN_RING) ? 1 : 0);
    return out;
}
Bytes in_ring_bits_of_bonds(const core::MolBuilder& m) {
    Bytes out;
    for (const auto& b : m.bonds) out.push_back((b.flags & core::IN_RING) ? 1 : 0);
    return out;
}

struct MembershipCase {
    std::string name;
    std::uint32_t atoms;
    Edges edges;
    std::vector<std::uint32_t> dative;  // bonds made dative
    Bytes smallest_ring;
    Bytes bond_in_ring;
};

class Membership : public ::testing::TestWithParam<MembershipCase> {};

TEST_P(Membership, SmallestRingAndRingBonds) {
    const MembershipCase& c = GetParam();
    core::MolBuilder m = skeleton(c.atoms, c.edges);
    for (std::uint32_t b : c.dative) m.bonds[b].order = core::BondOrder::Dative;
    // Stale bits on input must not survive.
    for (auto& a : m.atoms) a.flags |= core::IN_RING | core::AROMATIC;
    for (auto& b : m.bonds) b.flags |= core::IN_RING;
    RingMembership r = ring_membership(m);
    EXPECT_EQ(r.smallest_ring, c.smallest_ring);
    EXPECT_EQ(r.bond_in_ring, c.bond_in_ring);
    Bytes atom_in_ring;
    for (auto s : c.smallest_ring) atom_in_ring.push_back(s != 0);
    // Rings above 255 atoms have no size but their atoms are still ring atoms.
    if (c.atoms < 256) {
        EXPECT_EQ(r.atom_in_ring, atom_in_ring);
    }
    EXPECT_EQ(in_ring_bits_of_atoms(m), r.atom_in_ring);
    EXPECT_EQ(in_ring_bits_of_bonds(m), r.bond_in_ring);
    for (const auto& a : m.atoms) EXPECT_TRUE(a.flags & core::AROMATIC) << "other bits must be kept";
}

Bytes repeat(std::size_t n, std::uint8_t v) { return Bytes(n, v); }

INSTANTIATE_TEST_SUITE_P(
    Rings, Membership,
    ::testing::Values(
        MembershipCase{"cyclopropane_with_tail", 4, {{0, 1}, {1, 2}, {2, 0}, {2, 3}}, {}, {3, 3, 3, 0}, {1, 1, 1, 0}},
        // Two triangles joined by a bridge bond 2-3.
        MembershipCase{"rings_joined_by_bridge", 6,
                       cycle_edges(0, 3) + Edges{{2, 3}} + cycle_edges(3, 3), {},
                       {3, 3, 3, 3, 3, 3}, {1, 1, 1, 0, 1, 1, 1}},
        MembershipCase{"ring_of_255", 255, cycle_edges(0, 255), {}, repeat(255, 255), repeat(255, 1)},
        MembershipCase{"ring_of_256", 256, cycle_edges(0, 256), {}, repeat(256, 0), repeat(256, 1)},
        MembershipCase{"double_edge", 3, {{0, 1}, {0, 1}, {1, 2}}, {}, {2, 2, 0}, {1, 1, 0}},
        // Closing bond 2-0 is dative: no ring at all.
        MembershipCase{"closed_by_dative", 3, {{0, 1}, {1, 2}, {2, 0}}, {2}, {0, 0, 0}, {0, 0, 0}},
        // Square with a dative diagonal: the square stays a 4-ring, the diagonal is no ring bond.
        MembershipCase{"dative_diagonal", 4, cycle_edges(0, 4) + Edges{{0, 2}}, {4}, {4, 4, 4, 4}, {1, 1, 1, 1, 0}}),
    [](const auto& info) { return info.param.name; });

TEST(SmallestRingSize, LimitAndScratchContract) {
    core::MolBuilder m = skeleton(9, cycle_edges(0, 9));
    Bytes mask = ring_perception_mask(m);
    CsrAdjacency t = csr_adjacency(m, mask);
    RingSearchScratch scratch;
    scratch.fit(9);
    EXPECT_EQ(smallest_ring_size(t, 4, mask, 20, scratch), 9u);
    EXPECT_EQ(smallest_ring_size(t, 4, mask, 9, scratch), 9u);
    EXPECT_EQ(smallest_ring_size(t, 4, mask, 8, scratch), 0u);
    EXPECT_EQ(scratch.dist, U32s(9, core::NONE)) << "scratch must be left all-ones";
    EXPECT_EQ(scratch.position, U32s(9, core::NONE)) << "scratch must be left all-ones";
    mask[3] = 0;  // cut the ring
    EXPECT_EQ(smallest_ring_size(t, 4, mask, 20, scratch), 0u);
}

struct SystemsCase {
    std::string name;
    std::uint32_t atoms;
    Edges edges;
    std::vector<U32s> systems;
};

class Systems : public ::testing::TestWithParam<SystemsCase> {};

TEST_P(Systems, AtomListsInOrder) {
    const SystemsCase& c = GetParam();
    EXPECT_EQ(ring_systems(skeleton(c.atoms, c.edges)), c.systems);
}

INSTANTIATE_TEST_SUITE_P(
    Rings, Systems,
    ::testing::Values(
        // Spiro[4.5]decane, 5-ring bonds first: it completes first.
        SystemsCase{"spiro_small_first", 10,
                    cycle_edges(0, 5) + Edges{{0, 5}, {5, 6}, {6, 7}, {7, 8}, {8, 9}, {9, 0}},
                    {{0, 1, 2, 3, 4}, {0, 5, 6, 7, 8, 9}}},
        // Same skeleton, 6-ring bonds first: same smallest atom, so completion order holds.
        SystemsCase{"spiro_completion_order", 10,
                    Edges{{0, 5}, {5, 6}, {6, 7}, {7, 8}, {8, 9}, {9, 0}} + cycle_edges(0, 5),
                    {{0, 5, 6, 7, 8, 9}, {0, 1, 2, 3, 4}}},
        // Systems sorted by smallest atom, not by discovery: the ring 3..5 hangs off atom 9.
        SystemsCase{"sorted_by_smallest_atom", 10,
                    Edges{{9, 3}} + cycle_edges(3, 3) + Edges{{0, 6}} + Edges{{6, 7}, {7, 8}, {8, 6}, {8, 9}},
                    {{3, 4, 5}, {6, 7, 8}}},
        SystemsCase{"double_edge_is_system", 2, {{0, 1}, {1, 0}}, {{0, 1}}}),
    [](const auto& info) { return info.param.name; });

TEST(Systems, DativeBondsNeverCloseASystem) {
    core::MolBuilder m = skeleton(4, cycle_edges(0, 4));
    m.bonds[3].order = core::BondOrder::Dative;
    EXPECT_TRUE(ring_systems(m).empty());
}

// Ten-thousand-atom inputs: an explicit stack must carry the search.
TEST(RingsLarge, ChainMacrocycleAndLadder) {
    const std::uint32_t n = 10000;
    Edges chain;
    for (std::uint32_t i = 0; i + 1 < n; ++i) chain.push_back({i, i + 1});
    core::MolBuilder c = skeleton(n, chain);
    EXPECT_EQ(ring_membership(c).bond_in_ring, repeat(n - 1, 0));
    EXPECT_TRUE(ring_systems(c).empty());

    core::MolBuilder ring = skeleton(n, cycle_edges(0, n));
    RingMembership r = ring_membership(ring);
    EXPECT_EQ(r.atom_in_ring, repeat(n, 1));
    EXPECT_EQ(r.smallest_ring, repeat(n, 0));
    ASSERT_EQ(ring_systems(ring).size(), 1u);

    core::MolBuilder lad = quorix::test::ladder(2000);
    RingMembership l = ring_membership(lad);
    EXPECT_EQ(l.smallest_ring, repeat(4002, 4));
    EXPECT_EQ(l.bond_in_ring, repeat(lad.num_bonds(), 1));
    auto sys = ring_systems(lad);
    ASSERT_EQ(sys.size(), 1u);
    EXPECT_EQ(sys[0].size(), 4002u);
}

}  // namespace

namespace {

// The smallest ring through each atom by plain breadth-first searches, without
// any pruning: the shortest path between two of its ring neighbours that avoids
// the atom, plus two.
Bytes reference_smallest_rings(const core::MolBuilder& m, const RingMembership& r) {
    const std::uint32_t n = m.num_atoms();
    Bytes out(n, 0);
    for (std::uint32_t s = 0; s < n; ++s) {
        std::vector<std::uint32_t> ends;  // ring neighbours, a neighbour twice per bond
        for (core::Neighbor nb : m.neighbors(s))
            if (r.bond_in_ring[nb.bond]) ends.push_back(nb.atom);
        std::uint32_t best = core::NONE;
        for (std::size_t i = 0; i < ends.size(); ++i) {
            U32s dist(n, core::NONE), queue{ends[i]};
            dist[ends[i]] = 0;
            for (std::size_t h = 0; h < queue.size(); ++h)
                for (core::Neighbor nb : m.neighbors(queue[h]))
                    if (r.bond_in_ring[nb.bond] && nb.atom != s && dist[nb.atom] == core::NONE) {
                        dist[nb.atom] = dist[queue[h]] + 1;
                        queue.push_back(nb.atom);
                    }
            for (std::size_t j = i + 1; j < ends.size(); ++j)
                if (dist[ends[j]] != core::NONE) best = std::min(best, dist[ends[j]] + 2);
        }
        out[s] = best <= 255 ? static_cast<std::uint8_t>(best) : 0;
    }
    return out;
}

// Ring bonds by plain reachability: a bond is in a ring when its ends stay
// connected without it (dative bonds never count).
Bytes reference_ring_bonds(const core::MolBuilder& m) {
    Bytes out(m.num_bonds(), 0);
    for (std::uint32_t b = 0; b < m.num_bonds(); ++b) {
        if (m.bonds[b].order == core::BondOrder::Dative) continue;
        Bytes seen(m.num_atoms(), 0);
        U32s stack{m.bonds[b].begin};
        seen[m.bonds[b].begin] = 1;
        while (!stack.empty()) {
            const std::uint32_t u = stack.back();
            stack.pop_back();
            for (core::Neighbor nb : m.neighbors(u))
                if (nb.bond != b && m.bonds[nb.bond].order != core::BondOrder::Dative && !seen[nb.atom]) {
                    seen[nb.atom] = 1;
                    stack.push_back(nb.atom);
                }
        }
        out[b] = seen[m.bonds[b].end];
    }
    return out;
}

// Blocks of up to hundreds of bonds under shuffled numbers, so their bond and
// atom lists span wide index ranges: each list comes out strictly ascending,
// the lists hold exactly the ring bonds, and each block's atoms are its ends.
TEST(RingBlocks, ListsHoldTheRingBondsInOrder) {
    std::mt19937 rng(11);
    RingBlocks found;
    for (int round = 0; round < 200; ++round) {
        const std::uint32_t n = 4 + rng() % (round % 2 ? 40 : 600);
        Edges edges;
        const std::uint32_t extra = 1 + rng() % (round % 3 ? 4 : n / 2 + 1);
        for (std::uint32_t k = 1; k < n; ++k) edges.push_back({rng() % k, k});
        for (std::uint32_t k = 0; k < extra; ++k) edges.push_back({rng() % n, rng() % n});
        U32s label(n);
        for (std::uint32_t i = 0; i < n; ++i) label[i] = i;
        std::shuffle(label.begin(), label.end(), rng);
        Edges kept;
        for (auto [a, b] : edges)
            if (a != b) kept.push_back({label[a], label[b]});
        std::shuffle(kept.begin(), kept.end(), rng);
        const core::MolBuilder g = skeleton(n, kept);
        find_ring_blocks(g, found);
        Bytes in_blocks(g.num_bonds(), 0);
        for (std::uint32_t i = 0; i < found.blocks.size(); ++i) {
            const auto block = found.blocks[i];
            const auto atoms = found.block_atoms[i];
            ASSERT_TRUE(std::adjacent_find(block.begin(), block.end(), std::greater_equal<>()) == block.end());
            ASSERT_TRUE(std::adjacent_find(atoms.begin(), atoms.end(), std::greater_equal<>()) == atoms.end());
            U32s ends;
            for (std::uint32_t b : block) {
                in_blocks[b] += 1;
                ends.push_back(g.bonds[b].begin);
                ends.push_back(g.bonds[b].end);
            }
            std::sort(ends.begin(), ends.end());
            ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
            ASSERT_EQ(U32s(atoms.begin(), atoms.end()), ends) << "round " << round;
        }
        ASSERT_EQ(in_blocks, reference_ring_bonds(g)) << "round " << round;
    }
}

TEST(SmallestRingSize, AgreesWithUnprunedSearchesOnRandomGraphs) {
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        const std::uint32_t n = 3 + rng() % 30;
        Edges edges;
        const std::uint32_t m = n + rng() % (2 * n);
        for (std::uint32_t k = 0; k < m; ++k) {
            const std::uint32_t a = rng() % n, b = rng() % n;
            if (a != b) edges.push_back({a, b});
        }
        core::MolBuilder g = skeleton(n, edges);
        if (round % 3 == 0 && g.num_bonds() > 0) g.bonds[rng() % g.num_bonds()].order = core::BondOrder::Dative;
        const RingMembership r = ring_membership_of(g);
        EXPECT_EQ(r.smallest_ring, reference_smallest_rings(g, r)) << "round " << round;
    }
    // A centre with thousands of ring neighbours: a fan of triangles.
    Edges fan;
    for (std::uint32_t k = 1; k <= 3000; ++k) {
        fan.push_back({0, k});
        if (k > 1) fan.push_back({k - 1, k});
    }
    const core::MolBuilder g = skeleton(3001, fan);
    EXPECT_EQ(ring_membership_of(g).smallest_ring, Bytes(3001, 3));
}

}  // namespace
