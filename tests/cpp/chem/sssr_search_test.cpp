// The general ring search against its plain form and the bitset search on
// random graphs of long chains, and bounds on its work where cycles are long.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>

#include "chem/rings.hpp"
#include "chem/sssr.hpp"
#include "graphs.hpp"
#include "io/smiles/read.hpp"

using namespace quorix;

namespace {

// The skeleton with atoms renumbered at random, bonds shuffled and some turned round.
core::MolBuilder shuffled_skeleton(std::uint32_t n, test::Edges e, std::mt19937& rng) {
    std::vector<std::uint32_t> label(n);
    for (std::uint32_t i = 0; i < n; ++i) label[i] = i;
    std::shuffle(label.begin(), label.end(), rng);
    for (auto& [a, b] : e) {
        a = label[a];
        b = label[b];
        if (rng() % 2) std::swap(a, b);
    }
    std::shuffle(e.begin(), e.end(), rng);
    return test::skeleton(n, e);
}

// A random multigraph on `kernel` atoms whose bonds are drawn out into chains
// of up to `longest` atoms (all of one length when `uniform`), under shuffled
// atom and bond numbers.
core::MolBuilder drawn(std::mt19937& rng, std::uint32_t kernel, std::uint32_t extra, std::uint32_t longest,
                       bool uniform) {
    test::Edges e;
    std::uint32_t n = kernel;
    const std::uint32_t fixed = rng() % (longest + 1);
    const auto draw = [&](std::uint32_t a, std::uint32_t b) {
        const std::uint32_t len = uniform ? fixed : rng() % (longest + 1);
        std::uint32_t prev = a;
        for (std::uint32_t i = 0; i < len; ++i) e.push_back({prev, n}), prev = n++;
        e.push_back({prev, b});
    };
    for (std::uint32_t i = 1; i < kernel; ++i) draw(rng() % i, i);
    for (std::uint32_t k = 0; k < extra; ++k)
        if (const std::uint32_t a = rng() % kernel, b = rng() % kernel; a != b) draw(a, b);
    return shuffled_skeleton(n, e, rng);
}

TEST(RingSearch, AgreesWithPlainSearchOnDrawnGraphs) {
    std::mt19937 rng(20261207);
    chem::RingSearchStats fast, plain;
    chem::RingBlocks blocks;
    std::size_t small_systems = 0;
    for (int round = 0; round < 1200; ++round) {
        const std::uint32_t longest = round % 4 == 0 ? 1 : round % 4 == 1 ? 30 : 6;
        const core::MolBuilder m = drawn(rng, 3 + rng() % 8, rng() % (round % 3 ? 10 : 40), longest, round % 5 == 0);
        chem::find_ring_blocks(m, blocks);
        for (std::uint32_t i = 0; i < blocks.blocks.size(); ++i) {
            chem::RingList a, b;
            chem::append_ring_system_rings_general(m.bonds, blocks.blocks[i], a, fast);
            chem::append_ring_system_rings_general(m.bonds, blocks.blocks[i], b, plain, true);
            ASSERT_EQ(a.offsets, b.offsets) << "round " << round;
            ASSERT_EQ(a.atoms, b.atoms) << "round " << round;
            ASSERT_EQ(a.bonds, b.bonds) << "round " << round;
            // Small systems also go through the separate bitset search.
            if (blocks.blocks[i].size() <= 64 && blocks.block_atoms[i].size() <= 64) {
                chem::RingList small;
                chem::append_ring_system_rings(m.bonds, blocks.blocks[i], small);
                ASSERT_EQ(a.atoms, small.atoms) << "round " << round;
                ASSERT_EQ(a.bonds, small.bonds) << "round " << round;
                ++small_systems;
            }
        }
    }
    EXPECT_GT(small_systems, 300u);
    // The fast search's shortcuts were taken, the plain one took none, and
    // parallel bonds (many here) never forced an attempt to be redone in full.
    EXPECT_GT(fast.chain_roots, 0u);
    EXPECT_GT(fast.skipped_attempts, 0u);
    EXPECT_EQ(fast.full_reruns, 0u);
    EXPECT_EQ(plain.chain_roots + plain.skipped_attempts + plain.full_reruns, 0u);
    EXPECT_LT(fast.steps, plain.steps);
}

// Two rings fused at one bond (and, now and then, a third bond between the
// paths, or one path made the shared bond's double): the bitset search takes a
// short way for the plain fused pair, which must give the general search's rings.
TEST(RingSearch, FusedPairsAgreeWithGeneralSearch) {
    std::mt19937 rng(7120612);
    for (int round = 0; round < 3000; ++round) {
        const std::uint32_t p = 3 + rng() % 7, q = 3 + rng() % 7;  // ring sizes 3..9
        const std::uint32_t n = p + q - 2;
        test::Edges e{{0, 1}};
        const auto path = [&](std::uint32_t first, std::uint32_t inner) {
            std::uint32_t prev = 0;
            for (std::uint32_t i = 0; i < inner; ++i) e.push_back({prev, first + i}), prev = first + i;
            e.push_back({prev, 1});
        };
        path(2, p - 2);
        path(p, q - 2);
        if (round % 7 == 0 && p > 3) e.push_back({2, n - 1});
        if (round % 11 == 0) e.push_back({0, 1});
        const core::MolBuilder m = shuffled_skeleton(n, e, rng);
        std::vector<std::uint32_t> all(m.num_bonds());
        for (std::uint32_t b = 0; b < m.num_bonds(); ++b) all[b] = b;
        chem::RingList general, small;
        chem::append_ring_system_rings_general(m.bonds, all, general);
        chem::append_ring_system_rings(m.bonds, all, small);
        ASSERT_EQ(general.offsets, small.offsets) << "round " << round;
        ASSERT_EQ(general.atoms, small.atoms) << "round " << round;
        ASSERT_EQ(general.bonds, small.bonds) << "round " << round;
    }
}

// A system's rings are remembered by the shape of its local graph: the same
// graph again under other atom and bond numbers (spread out, in the same
// relative order) must give its rings in the new numbers.
TEST(RingSearch, RenumberedSystemsGiveTheirOwnRings) {
    std::mt19937 rng(3141);
    chem::RingBlocks blocks;
    for (int round = 0; round < 400; ++round) {
        const core::MolBuilder m = drawn(rng, 3 + rng() % 6, rng() % 8, round % 2 ? 1 : 4, false);
        const std::uint32_t gap = 1 + rng() % 3, pad = rng() % 5;
        test::Edges moved;
        for (std::uint32_t k = 0; k < pad; ++k) moved.push_back({k, k + 1});  // bonds numbered before
        for (const core::Bond& b : m.bonds) moved.push_back({pad + 1 + gap * b.begin, pad + 1 + gap * b.end});
        const core::MolBuilder far = test::skeleton(pad + 1 + gap * m.num_atoms(), moved);
        chem::find_ring_blocks(far, blocks);
        for (std::uint32_t i = 0; i < blocks.blocks.size(); ++i) {
            chem::RingList remembered, general;
            chem::append_ring_system_rings(far.bonds, blocks.blocks[i], remembered);
            chem::append_ring_system_rings(far.bonds, blocks.blocks[i], remembered);
            chem::append_ring_system_rings_general(far.bonds, blocks.blocks[i], general);
            chem::append_ring_system_rings_general(far.bonds, blocks.blocks[i], general);
            ASSERT_EQ(general.offsets, remembered.offsets) << "round " << round;
            ASSERT_EQ(general.atoms, remembered.atoms) << "round " << round;
            ASSERT_EQ(general.bonds, remembered.bonds) << "round " << round;
        }
        // The original numbering, searched first or met again.
        chem::find_ring_blocks(m, blocks);
        for (std::uint32_t i = 0; i < blocks.blocks.size(); ++i) {
            chem::RingList remembered, general;
            chem::append_ring_system_rings(m.bonds, blocks.blocks[i], remembered);
            chem::append_ring_system_rings_general(m.bonds, blocks.blocks[i], general);
            ASSERT_EQ(general.atoms, remembered.atoms) << "round " << round;
            ASSERT_EQ(general.bonds, remembered.bonds) << "round " << round;
        }
    }
}

// Kernel bonds drawn out into chains of the given lengths (atoms added in
// bond order), without shuffling: the numbering follows the drawing.
core::MolBuilder drawn_kernel(std::uint32_t kernel, const test::Edges& bonds, const std::vector<std::uint32_t>& lengths) {
    test::Edges e;
    std::uint32_t n = kernel;
    for (std::size_t k = 0; k < bonds.size(); ++k) {
        std::uint32_t prev = bonds[k].first;
        for (std::uint32_t i = 0; i < lengths[k % lengths.size()]; ++i) e.push_back({prev, n}), prev = n++;
        e.push_back({prev, bonds[k].second});
    }
    return test::skeleton(n, e);
}

struct DrawnShape {
    std::string name;
    core::MolBuilder mol;
    friend void PrintTo(const DrawnShape& s, std::ostream* os) { *os << s.name; }
};

class RingSearchShapes : public ::testing::TestWithParam<DrawnShape> {};

// Shapes with many equal distances (ties broken by numbering), parallel
// chains and bonds, and more missing dimensions than weights can carry.
TEST_P(RingSearchShapes, AgreesWithPlainSearch) {
    const core::MolBuilder& m = GetParam().mol;
    chem::RingBlocks blocks;
    chem::find_ring_blocks(m, blocks);
    ASSERT_EQ(blocks.blocks.size(), 1u);
    chem::RingList fast, plain;
    chem::RingSearchStats fast_stats, plain_stats;
    chem::append_ring_system_rings_general(m.bonds, blocks.blocks[0], fast, fast_stats);
    chem::append_ring_system_rings_general(m.bonds, blocks.blocks[0], plain, plain_stats, true);
    EXPECT_GT(fast.size(), 1u);
    EXPECT_EQ(fast.offsets, plain.offsets);
    EXPECT_EQ(fast.atoms, plain.atoms);
    EXPECT_EQ(fast.bonds, plain.bonds);
    EXPECT_LT(fast_stats.steps, plain_stats.steps);
}

test::Edges grid(std::uint32_t side) {
    test::Edges e;
    for (std::uint32_t r = 0; r < side; ++r)
        for (std::uint32_t c = 0; c < side; ++c) {
            if (c + 1 < side) e.push_back({r * side + c, r * side + c + 1});
            if (r + 1 < side) e.push_back({r * side + c, (r + 1) * side + c});
        }
    return e;
}

const test::Edges k4{{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};
const test::Edges cube{{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6}, {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};

INSTANTIATE_TEST_SUITE_P(
    Drawn, RingSearchShapes,
    ::testing::Values(DrawnShape{"k4_even", drawn_kernel(4, k4, {6})},
                      DrawnShape{"k4_uneven", drawn_kernel(4, k4, {5, 6, 7, 6, 5, 9})},
                      DrawnShape{"cube_even", drawn_kernel(8, cube, {5})},
                      DrawnShape{"parallel_chains", drawn_kernel(2, {{0, 1}, {0, 1}, {1, 0}, {0, 1}, {1, 0}, {0, 1}},
                                                                 {30, 30, 31, 0, 30, 0})},
                      DrawnShape{"grid_10x10", drawn_kernel(100, grid(10), {1, 2, 1, 14, 1})}),
    [](const auto& info) { return info.param.name; });

std::string bicyclic(std::uint32_t k) {
    const std::string c(k, 'C');
    return "C1" + c + "C2" + c + "C1" + c + "2";
}

// Rails of n atoms each, the first rail's end bonded to the second's start,
// rung i joining atom i to atom n + i.
std::string joined_ladder(std::uint32_t n) {
    std::string s;
    for (int rail = 0; rail < 2; ++rail)
        for (std::uint32_t i = 1; i <= n; ++i) s += "C%(" + std::to_string(i) + ")";
    return s;
}

core::MolBuilder from_smiles(const std::string& smiles) {
    auto m = io::read_smiles(smiles);
    if (!m) ADD_FAILURE() << smiles;
    return m ? std::move(*m) : core::MolBuilder{};
}

// A ring of 2h + 1 atoms with two bonds joining atoms 0 and h.
core::MolBuilder doubled_chord(std::uint32_t h) {
    test::Edges e = test::cycle_edges(0, 2 * h + 1);
    e.insert(e.end(), {{0, h}, {h, 0}});
    return test::skeleton(2 * h + 1, e);
}

struct LongShape {
    std::string name;
    core::MolBuilder mol;
    std::vector<std::uint32_t> sizes;  // ring sizes in list order, run-length: (size, count) pairs
    std::uint64_t max_steps;
    friend void PrintTo(const LongShape& s, std::ostream* os) { *os << s.name; }
};

class RingSearchWork : public ::testing::TestWithParam<LongShape> {};

// Bounds on the work, not the time: a search from every atom to half the
// ring size would take millions of steps here.
TEST_P(RingSearchWork, StaysWithinSteps) {
    const LongShape& c = GetParam();
    chem::RingSearchStats stats;
    const std::vector<chem::Ring> rings = chem::sssr(c.mol, stats);
    std::vector<std::uint32_t> sizes;
    for (const chem::Ring& r : rings) {
        if (sizes.empty() || sizes[sizes.size() - 2] != r.atoms.size()) sizes.insert(sizes.end(), {0, 0});
        sizes[sizes.size() - 2] = static_cast<std::uint32_t>(r.atoms.size());
        ++sizes.back();
    }
    EXPECT_EQ(sizes, c.sizes);
    EXPECT_LE(stats.steps, c.max_steps);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, RingSearchWork,
    ::testing::Values(
        // Three bridges of k atoms: rings of 2k + 2 and twice 2k + 3 atoms.
        LongShape{"bicyclic1500", from_smiles(bicyclic(1500)), {3002, 1, 3003, 2}, 60 * 4503},
        LongShape{"bicyclic6000", from_smiles(bicyclic(6000)), {12002, 1, 12003, 2}, 60 * 18003},
        LongShape{"doubled_chord", doubled_chord(3000), {3001, 1, 3002, 1}, 60 * 6001},
        // n - 1 squares, then the n cycles of n + 1 atoms through the joining
        // bond: the list itself has 4 (n - 1) + n (n + 1) entries.
        LongShape{"ladder300", from_smiles(joined_ladder(300)), {4, 299, 301, 300}, 12 * (4 * 299 + 300 * 301)}),
    [](const auto& info) { return info.param.name; });

TEST(RingSearchLadder, ListsEveryCycleThroughTheJoin) {
    for (std::uint32_t n : {20u, 40u, 80u}) {
        auto m = io::read_smiles(joined_ladder(n));
        ASSERT_TRUE(m);
        std::size_t entries = 0;
        for (const chem::Ring& r : chem::sssr(*m)) entries += r.atoms.size();
        EXPECT_EQ(entries, 4 * (n - 1) + n * (n + 1)) << n;
    }
}

}  // namespace
