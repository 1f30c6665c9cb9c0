#include "chem/sssr.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "chem/rings.hpp"
#include "graphs.hpp"
#include "io/smiles/read.hpp"
#include "support.hpp"

using namespace quorix;
using namespace quorix::chem;
using quorix::test::cycle_edges;
using quorix::test::skeleton;
using quorix::test::Edges;
using quorix::test::operator+;
using U32s = std::vector<std::uint32_t>;

namespace {

// Every ring must be a closed walk over its listed bonds, without repeated atoms.
void expect_walkable(const core::MolBuilder& m, const Ring& r) {
    ASSERT_EQ(r.atoms.size(), r.bonds.size());
    U32s sorted = r.atoms;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    for (std::size_t k = 0; k < r.atoms.size(); ++k) {
        const core::Bond& b = m.bonds.at(r.bonds[k]);
        const std::uint32_t x = r.atoms[k], y = r.atoms[(k + 1) % r.atoms.size()];
        EXPECT_TRUE((b.begin == x && b.end == y) || (b.begin == y && b.end == x))
            << "bond " << r.bonds[k] << " does not join " << x << " and " << y;
    }
}

std::vector<U32s> atom_sets(const std::vector<Ring>& rings) {
    std::vector<U32s> out;
    for (const Ring& r : rings) {
        U32s s = r.atoms;
        std::sort(s.begin(), s.end());
        out.push_back(s);
    }
    return out;
}

struct SssrCase {
    std::string name;
    std::uint32_t atoms;
    Edges edges;
    std::vector<U32s> sets;  // expected ring atom sets, in list order
};

class SssrSets : public ::testing::TestWithParam<SssrCase> {};

TEST_P(SssrSets, RingsAndOrder) {
    const SssrCase& c = GetParam();
    core::MolBuilder m = skeleton(c.atoms, c.edges);
    std::vector<Ring> rings = sssr(m);
    EXPECT_EQ(atom_sets(rings), c.sets);
    for (const Ring& r : rings) expect_walkable(m, r);
}

// Cube: top 0-1-2-3, bottom 4-5-6-7, verticals i to i+4.
Edges cube() {
    return cycle_edges(0, 4) + cycle_edges(4, 4) + Edges{{0, 4}, {1, 5}, {2, 6}, {3, 7}};
}
// Adamantane: bridgeheads 0..3, one CH2 (4..9) between each pair.
Edges adamantane() {
    return {{0, 4}, {4, 1}, {0, 5}, {5, 2}, {0, 6}, {6, 3}, {1, 7}, {7, 2}, {1, 8}, {8, 3}, {2, 9}, {9, 3}};
}

INSTANTIATE_TEST_SUITE_P(
    Rings, SssrSets,
    ::testing::Values(
        SssrCase{"cubane_all_six_faces", 8, cube(),
                 {{0, 1, 2, 3}, {0, 1, 4, 5}, {0, 3, 4, 7}, {1, 2, 5, 6}, {2, 3, 6, 7}, {4, 5, 6, 7}}},
        SssrCase{"adamantane_four_chairs", 10, adamantane(),
                 {{0, 1, 2, 4, 5, 7}, {0, 1, 3, 4, 6, 8}, {0, 2, 3, 5, 6, 9}, {1, 2, 3, 7, 8, 9}}},
        // A triangle with higher indices sorts before the 6-ring.
        SssrCase{"size_before_index", 10, cycle_edges(0, 6) + cycle_edges(7, 3),
                 {{7, 8, 9}, {0, 1, 2, 3, 4, 5}}},
        // Two 6-rings sharing atom 0, both smallest atom 0: ordered by largest atom.
        SssrCase{"largest_atom_breaks_tie", 11,
                 Edges{{0, 6}, {6, 7}, {7, 8}, {8, 9}, {9, 10}, {10, 0}} + cycle_edges(0, 6),
                 {{0, 1, 2, 3, 4, 5}, {0, 6, 7, 8, 9, 10}}},
        SssrCase{"double_edge_no_ring", 3, {{0, 1}, {0, 1}, {1, 2}}, {}},
        // Two 10-rings sharing bond 0-9: needs the second attempt with a larger limit.
        SssrCase{"two_fused_ten_rings", 18, cycle_edges(0, 10) + Edges{{9, 10}, {10, 11}, {11, 12}, {12, 13}, {13, 14}, {14, 15}, {15, 16}, {16, 17}, {17, 0}},
                 {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 9, 10, 11, 12, 13, 14, 15, 16, 17}}},
        // Cyclophane-like: two triangles joined by two 6-atom chains (a 12-ring needed).
        SssrCase{"big_ring_between_small", 12,
                 Edges{{0, 1}, {1, 2}, {2, 0}, {6, 7}, {7, 8}, {8, 6}, {2, 3}, {3, 4}, {4, 5}, {5, 6}, {8, 9}, {9, 10}, {10, 11}, {11, 0}},
                 {{0, 1, 2}, {6, 7, 8}, {0, 2, 3, 4, 5, 6, 8, 9, 10, 11}}}),
    [](const auto& info) { return info.param.name; });

TEST(Sssr, SingleRingStartsAtSmallestAtomAlongLowerBond) {
    // Ring 4-2-0-3-1-4 with bonds listed out of ring order.
    core::MolBuilder m = skeleton(5, {{3, 1}, {0, 2}, {1, 4}, {2, 4}, {0, 3}});
    EXPECT_EQ(sssr(m), (std::vector<Ring>{{{0, 2, 4, 1, 3}, {1, 3, 2, 0, 4}}}));
}

TEST(Sssr, NaphthaleneRingOrder) {
    core::MolBuilder m = skeleton(10, cycle_edges(0, 6) + Edges{{5, 6}, {6, 7}, {7, 8}, {8, 9}, {9, 0}});
    std::vector<Ring> rings = sssr(m);
    ASSERT_EQ(rings.size(), 2u);
    EXPECT_EQ(rings[0].atoms, (U32s{3, 2, 1, 0, 5, 4}));
    EXPECT_EQ(rings[0].bonds, (U32s{2, 1, 0, 5, 4, 3}));
    EXPECT_EQ(rings[1].atoms, (U32s{7, 6, 5, 0, 9, 8}));
    EXPECT_EQ(rings[1].bonds, (U32s{7, 6, 5, 10, 9, 8}));
}

TEST(Sssr, DativeBondsExcluded) {
    // Benzene closed by a dative bond, plus a triangle with a dative spoke to an atom outside.
    core::MolBuilder m = skeleton(10, cycle_edges(0, 6) + cycle_edges(6, 3) + Edges{{9, 6}, {9, 7}});
    m.bonds[5].order = core::BondOrder::Dative;
    m.bonds[9].order = core::BondOrder::Dative;
    std::vector<Ring> rings = sssr(m);
    EXPECT_EQ(atom_sets(rings), (std::vector<U32s>{{6, 7, 8}}));
}

TEST(Sssr, SystemRingsTranslateToMoleculeIndices) {
    // A triangle made of bonds 3, 5, 7 among unrelated bonds.
    core::MolBuilder m = skeleton(8, {{0, 1}, {1, 2}, {2, 3}, {4, 5}, {3, 4}, {5, 6}, {6, 7}, {6, 4}});
    std::vector<Ring> r = sssr_of_ring_system(m.bonds, U32s{3, 5, 7});
    EXPECT_EQ(r, (std::vector<Ring>{{{4, 5, 6}, {3, 5, 7}}}));
}

TEST(SssrLarge, ChainMacrocycleAndLadder) {
    const std::uint32_t n = 10000;
    Edges chain;
    for (std::uint32_t i = 0; i + 1 < n; ++i) chain.push_back({i, i + 1});
    EXPECT_TRUE(sssr(skeleton(n, chain)).empty());

    std::vector<Ring> macro = sssr(skeleton(n, cycle_edges(0, n)));
    ASSERT_EQ(macro.size(), 1u);
    EXPECT_EQ(macro[0].atoms.size(), n);
    EXPECT_EQ(macro[0].atoms[1], 1u);
    EXPECT_EQ(macro[0].atoms.back(), n - 1);

    core::MolBuilder lad = quorix::test::ladder(2000);
    std::vector<Ring> rings = sssr(lad);
    ASSERT_EQ(rings.size(), 2000u);
    for (std::uint32_t k = 0; k < 2000; ++k) {
        U32s s = rings[k].atoms;
        std::sort(s.begin(), s.end());
        ASSERT_EQ(s, (U32s{2 * k, 2 * k + 1, 2 * k + 2, 2 * k + 3})) << "ring " << k;
        expect_walkable(lad, rings[k]);
    }
}

// The ring list and systems from scratch, by the table-driven block search and
// the general ring search: nothing a previous call left behind can reach them.
struct Fresh {
    std::vector<Ring> rings;
    std::vector<U32s> systems;
};
Fresh fresh_rings(const core::MolBuilder& m) {
    FlatLists blocks;
    ring_bond_components(csr_adjacency(m, ring_perception_mask(m)), blocks);
    RingList found, sorted;
    std::vector<U32s> systems;
    for (std::span<const std::uint32_t> block : blocks) {
        append_ring_system_rings_general(m.bonds, block, found);
        U32s atoms;
        for (std::uint32_t b : block) atoms.insert(atoms.end(), {m.bonds[b].begin, m.bonds[b].end});
        std::sort(atoms.begin(), atoms.end());
        atoms.erase(std::unique(atoms.begin(), atoms.end()), atoms.end());
        systems.push_back(atoms);
    }
    std::stable_sort(systems.begin(), systems.end(), [](const U32s& x, const U32s& y) { return x[0] < y[0]; });
    sort_ring_list(found, sorted);
    Fresh out{{}, systems};
    for (std::uint32_t i = 0; i < sorted.size(); ++i)
        out.rings.push_back({{sorted.ring_atoms(i).begin(), sorted.ring_atoms(i).end()},
                             {sorted.ring_bonds(i).begin(), sorted.ring_bonds(i).end()}});
    return out;
}

// The molecule with bond `b` rebuilt by `edit`; the other bonds keep order and ends.
template <class Edit>
core::MolBuilder with_bond(const core::MolBuilder& m, std::uint32_t b, Edit edit) {
    core::MolBuilder out;
    for (const core::Atom& a : m.atoms) out.add_atom(a);
    for (std::uint32_t i = 0; i < m.num_bonds(); ++i) {
        core::Bond bond = m.bonds[i];
        if (i == b) edit(bond);
        out.push_bond(bond);
    }
    return out;
}

// Ring perception remembers what it found for the molecule and systems met
// last. Each real molecule with a ring is followed by near copies that differ in
// one thing the rings depend on: a ring bond turned round (other ring
// orientations), made dative (other blocks), or moved to another atom; each must
// get its own rings, as a fresh computation finds them.
TEST(SssrRealMolecules, RepeatedCallsSeeEachMoleculeAfresh) {
    std::mt19937 rng(7);
    std::size_t checked = 0;
    for (const core::MolBuilder& m : test::data_molecules_as_read()) {
        U32s ring_bonds;
        for (const Ring& r : sssr(m)) ring_bonds.insert(ring_bonds.end(), r.bonds.begin(), r.bonds.end());
        if (ring_bonds.empty()) continue;
        const std::uint32_t b = ring_bonds[rng() % ring_bonds.size()];
        const std::uint32_t elsewhere = rng() % m.num_atoms();
        const core::MolBuilder variants[] = {
            m,
            with_bond(m, b, [](core::Bond& x) { std::swap(x.begin, x.end); }),
            with_bond(m, b, [](core::Bond& x) { x.order = core::BondOrder::Dative; }),
            with_bond(m, b, [&](core::Bond& x) { x.end = elsewhere != x.begin ? elsewhere : x.end; }),
            m,
        };
        for (const core::MolBuilder& v : variants) {
            const Fresh want = fresh_rings(v);
            EXPECT_EQ(sssr(v), want.rings) << checked;
            EXPECT_EQ(ring_systems(v), want.systems) << checked;
        }
        ++checked;
    }
    EXPECT_GT(checked, 5000u);
}

// On every real molecule the ring list and the membership pass must agree: a bond
// is a ring bond exactly when some listed ring uses it, and each atom's smallest
// ring is the smallest listed ring through it.
TEST(SssrRealMolecules, AgreesWithRingMembership) {
    std::size_t checked = 0, total_rings = 0;
    for (const auto& record : test::data_records()) {
        const std::string& smi = record.smiles;
        auto read = io::read_smiles(smi);
        ASSERT_TRUE(read) << smi;
        core::MolBuilder m = std::move(*read);
        const chem::RingMembership rm = chem::ring_membership(m);
        const std::vector<Ring> rings = sssr(m);
        total_rings += rings.size();
        std::vector<std::uint8_t> smallest(m.num_atoms(), 0), bond_used(m.num_bonds(), 0);
        for (const Ring& r : rings) {
            ASSERT_NO_FATAL_FAILURE(expect_walkable(m, r)) << smi;
            for (std::uint32_t a : r.atoms)
                if (smallest[a] == 0 || smallest[a] > r.atoms.size()) smallest[a] = std::uint8_t(r.atoms.size());
            for (std::uint32_t b : r.bonds) bond_used[b] = 1;
        }
        EXPECT_EQ(smallest, rm.smallest_ring) << smi;
        EXPECT_EQ(bond_used, rm.bond_in_ring) << smi;
        // Enough rings to span the cycle space of every system.
        std::size_t cyclomatic = 0;
        for (const auto& system : chem::ring_systems(m)) {
            std::size_t bonds = 0;
            for (std::uint32_t b = 0; b < m.num_bonds(); ++b)
                bonds += rm.bond_in_ring[b] && std::binary_search(system.begin(), system.end(), m.bonds[b].begin) &&
                         std::binary_search(system.begin(), system.end(), m.bonds[b].end);
            cyclomatic += bonds - system.size() + 1;
        }
        EXPECT_GE(rings.size(), cyclomatic) << smi;
        ++checked;
    }
    EXPECT_EQ(checked, 7000u);
    EXPECT_GT(total_rings, 7000u);
}

}  // namespace
