#include "core/builder.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "core/error.hpp"

using namespace quorix::core;

namespace {

MolBuilder atoms(unsigned n) {
    MolBuilder m;
    for (unsigned i = 0; i < n; ++i) m.add_atom(Atom{});
    return m;
}

Bond single(std::uint32_t a, std::uint32_t b) {
    Bond bond;
    bond.begin = a;
    bond.end = b;
    bond.order = BondOrder::Single;
    return bond;
}

std::vector<std::uint32_t> half_edges(const MolBuilder& m, std::uint32_t atom) {
    std::vector<std::uint32_t> out;
    for (Neighbor nb : m.neighbors(atom)) out.push_back(nb.half_edge);
    return out;
}

// Bonds 0 (0-1), 1 (1-2), 2 (1-3).
MolBuilder star() {
    MolBuilder m = atoms(4);
    EXPECT_EQ(*m.add_bond(single(0, 1)), 0u);
    EXPECT_EQ(*m.add_bond(single(1, 2)), 1u);
    EXPECT_EQ(*m.add_bond(single(1, 3)), 2u);
    return m;
}

}  // namespace

TEST(Builder, AddBondRangeCheckComesBeforeSelfLoop) {
    MolBuilder m = atoms(3);
    auto r = m.add_bond(single(0, 7));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), BuilderError(AtomIndexOutOfRange{7, 3}));
    r = m.add_bond(single(5, 5));
    EXPECT_EQ(r.error(), BuilderError(AtomIndexOutOfRange{5, 3}));
    r = m.add_bond(single(1, 1));
    EXPECT_EQ(r.error(), BuilderError(SelfLoop{1}));
    EXPECT_EQ(m.num_bonds(), 0u);
    EXPECT_TRUE(m.next_half_edge.empty());
}

TEST(Builder, ReverseBondRebuildsInBondIndexOrder) {
    MolBuilder m = star();
    ASSERT_TRUE(m.reverse_bond(0));
    EXPECT_EQ(m.bonds[0].begin, 1u);
    EXPECT_EQ(m.bonds[0].end, 0u);
    EXPECT_EQ(half_edges(m, 1), (std::vector<std::uint32_t>{0, 2, 4}));
    EXPECT_EQ(half_edges(m, 0), (std::vector<std::uint32_t>{1}));

    // A list built out of bond order comes back in bond-index order.
    MolBuilder n = atoms(3);
    n.push_bond(single(1, 2));
    n.push_bond(single(0, 1));
    Bond extra = single(2, 0);
    n.push_bond(extra);
    ASSERT_TRUE(n.reverse_bond(2));
    EXPECT_EQ(half_edges(n, 1), (std::vector<std::uint32_t>{0, 3}));
    EXPECT_EQ(half_edges(n, 0), (std::vector<std::uint32_t>{2, 4}));
    EXPECT_EQ(half_edges(n, 2), (std::vector<std::uint32_t>{1, 5}));
}

TEST(Builder, ReverseBondOutOfRangeChangesNothing) {
    MolBuilder m = star();
    const MolBuilder before = m;
    auto r = m.reverse_bond(3);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), BuilderError(BondIndexOutOfRange{3, 3}));
    EXPECT_EQ(m, before);
}

TEST(Builder, BondBetween) {
    MolBuilder m = star();
    EXPECT_EQ(m.bond_between(1, 3), 2u);
    EXPECT_EQ(m.bond_between(0, 2), NONE);
    EXPECT_EQ(m.bond_between(1, 1), NONE);
    EXPECT_EQ(m.bond_between(1, 99), NONE);
}

TEST(Builder, BrokenInvariantsRaiseInternalError) {
    MolBuilder m = atoms(1);
    EXPECT_THROW(m.link_half_edge(5, 0), quorix::InternalError);
    EXPECT_THROW((void)m.neighbors(3), quorix::InternalError);
}

TEST(Alloc, ExhaustionReportsSizeAndAborts) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer owns the allocator";
#else
    EXPECT_DEATH(
        {
            volatile std::size_t huge = std::size_t(1) << 62;
            void* p = ::operator new(huge);
            ::operator delete(p);
        },
        "memory allocation of 4611686018427387904 bytes failed");
#endif
}
