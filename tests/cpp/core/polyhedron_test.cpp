#include "core/polyhedron.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <set>
#include <vector>

using namespace quorix::core;

namespace {

using List = std::vector<std::uint32_t>;

List ligands(std::size_t n) {
    List out(n);
    std::iota(out.begin(), out.end(), 100u);
    return out;
}

class Polyhedra : public ::testing::TestWithParam<ChiralTag> {};

TEST_P(Polyhedra, SameOrderKeepsEveryClass) {
    const ChiralTag tag = GetParam();
    const std::uint8_t count = polyhedron_class_count(tag);
    const List order = ligands(polyhedron_vertex_count(tag));
    for (int p = 1; p <= count; ++p) {
        EXPECT_EQ(renumber_polyhedral_permutation(tag, p, order, order), std::optional<std::uint8_t>(p)) << p;
    }
    EXPECT_EQ(renumber_polyhedral_permutation(tag, count + 1, order, order), std::nullopt);
    EXPECT_EQ(renumber_polyhedral_permutation(tag, 0, order, order), std::nullopt);
}

TEST_P(Polyhedra, RenumberingComposes) {
    // Going A -> B -> C must agree with A -> C (C = A included: there and back
    // restores the class); a sample of B and C is enough.
    const ChiralTag tag = GetParam();
    const std::uint8_t count = polyhedron_class_count(tag);
    const List a = ligands(polyhedron_vertex_count(tag));
    std::vector<List> orders;
    List b = a;
    int k = 0;
    do {
        if (k++ % 7 == 0) orders.push_back(b);
    } while (std::next_permutation(b.begin(), b.end()));
    for (int p = 1; p <= count; ++p) {
        for (std::size_t i = 0; i < orders.size(); i += 3) {
            for (std::size_t j = 0; j < orders.size(); j += 5) {
                auto ab = renumber_polyhedral_permutation(tag, p, a, orders[i]);
                ASSERT_TRUE(ab);
                ASSERT_GE(*ab, 1);
                ASSERT_LE(*ab, count);
                EXPECT_EQ(renumber_polyhedral_permutation(tag, *ab, orders[i], orders[j]),
                          renumber_polyhedral_permutation(tag, p, a, orders[j]));
            }
        }
    }
}

TEST_P(Polyhedra, MalformedLigandLists) {
    const ChiralTag tag = GetParam();
    const std::size_t n = polyhedron_vertex_count(tag);
    const List order = ligands(n);
    List shorter(order.begin(), order.end() - 1);
    List longer = order;
    longer.push_back(999);
    EXPECT_EQ(renumber_polyhedral_permutation(tag, 1, shorter, shorter), std::nullopt);
    EXPECT_EQ(renumber_polyhedral_permutation(tag, 1, order, shorter), std::nullopt);
    EXPECT_EQ(renumber_polyhedral_permutation(tag, 1, longer, order), std::nullopt);
    // A ligand that the new order does not hold.
    List foreign = order;
    foreign[n - 1] = 999;
    EXPECT_EQ(renumber_polyhedral_permutation(tag, 1, order, foreign), std::nullopt);
    // Repeated ligand: the new order cannot place every vertex, whatever the class.
    List repeated = order;
    repeated[1] = repeated[0];
    for (int p = 1; p <= polyhedron_class_count(tag); ++p)
        EXPECT_EQ(renumber_polyhedral_permutation(tag, p, repeated, order), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Tags, Polyhedra,
                         ::testing::Values(ChiralTag::SquarePlanar, ChiralTag::TrigonalBipyramidal,
                                           ChiralTag::Octahedral));

TEST(Polyhedron, CountsAndOtherTags) {
    for (ChiralTag tag : {ChiralTag::Unspecified, ChiralTag::Allene, static_cast<ChiralTag>(200)}) {
        EXPECT_EQ(polyhedron_class_count(tag), 0);
        EXPECT_EQ(polyhedron_vertex_count(tag), 0);
        for (std::size_t n = 0; n <= 6; ++n) {
            const List order = ligands(n);
            EXPECT_EQ(renumber_polyhedral_permutation(tag, 1, order, order), std::nullopt);
        }
    }
    const List five = ligands(5);
    EXPECT_EQ(renumber_polyhedral_permutation(ChiralTag::Octahedral, 1, five, five), std::nullopt);
}

TEST(Polyhedron, SquarePlanarExamples) {
    const List stored = {10, 11, 12, 13};
    // A cyclic shift round the square keeps the class.
    EXPECT_EQ(renumber_polyhedral_permutation(ChiralTag::SquarePlanar, 1, stored, List{11, 12, 13, 10}), 1);
    EXPECT_EQ(renumber_polyhedral_permutation(ChiralTag::SquarePlanar, 1, stored, List{10, 12, 11, 13}), 2);
    EXPECT_EQ(renumber_polyhedral_permutation(ChiralTag::SquarePlanar, 1, stored, List{10, 11, 13, 12}), 3);
}

// Which ligands sit opposite each other is a property of the arrangement, not of
// the listing: it must survive any renumbering.
std::set<std::pair<std::uint32_t, std::uint32_t>> opposite_pairs(ChiralTag tag, std::uint8_t p, const List& order) {
    // Recover each vertex's ligand by renumbering into the class-1 listing order.
    // Class 1 is the identity, so in that listing ligand k sits at vertex k.
    static const std::vector<std::pair<int, int>> square = {{0, 2}, {1, 3}};
    static const std::vector<std::pair<int, int>> bipyramid = {{0, 4}};
    static const std::vector<std::pair<int, int>> octahedron = {{0, 5}, {1, 3}, {2, 4}};
    const auto& pairs = tag == ChiralTag::SquarePlanar ? square
                        : tag == ChiralTag::TrigonalBipyramidal ? bipyramid : octahedron;
    // Find the listing in which this arrangement is class 1.
    List listing = order;
    std::sort(listing.begin(), listing.end());
    do {
        if (renumber_polyhedral_permutation(tag, p, order, listing) == std::optional<std::uint8_t>(1)) break;
    } while (std::next_permutation(listing.begin(), listing.end()));
    std::set<std::pair<std::uint32_t, std::uint32_t>> out;
    for (auto [u, v] : pairs) out.insert(std::minmax(listing[u], listing[v]));
    return out;
}

TEST_P(Polyhedra, OppositeLigandsSurviveRenumbering) {
    const ChiralTag tag = GetParam();
    const List a = ligands(polyhedron_vertex_count(tag));
    List b = a;
    int k = 0;
    do {
        if (k++ % 5 != 0) continue;
        for (int p = 1; p <= polyhedron_class_count(tag); ++p) {
            auto q = renumber_polyhedral_permutation(tag, p, a, b);
            ASSERT_TRUE(q);
            EXPECT_EQ(opposite_pairs(tag, *q, b), opposite_pairs(tag, p, a)) << int(p);
        }
    } while (std::next_permutation(b.begin(), b.end()));
}

TEST(Polyhedron, OppositePairsOfTheClassTables) {
    using Pairs = std::set<std::pair<std::uint32_t, std::uint32_t>>;
    EXPECT_EQ(opposite_pairs(ChiralTag::SquarePlanar, 2, {0, 1, 2, 3}), (Pairs{{0, 1}, {2, 3}}));
    EXPECT_EQ(opposite_pairs(ChiralTag::SquarePlanar, 3, {0, 1, 2, 3}), (Pairs{{0, 3}, {1, 2}}));
    EXPECT_EQ(opposite_pairs(ChiralTag::TrigonalBipyramidal, 20, {0, 1, 2, 3, 4}), (Pairs{{2, 4}}));
    EXPECT_EQ(opposite_pairs(ChiralTag::TrigonalBipyramidal, 7, {0, 1, 2, 3, 4}), (Pairs{{0, 1}}));
    EXPECT_EQ(opposite_pairs(ChiralTag::Octahedral, 25, {0, 1, 2, 3, 4, 5}), (Pairs{{0, 1}, {2, 4}, {3, 5}}));
}

}  // namespace
