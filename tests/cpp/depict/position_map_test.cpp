// The flat position map against an ordered tree on random operation sequences:
// the same entries in the same order, the same first-wins insertion.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <stdexcept>
#include <vector>

#include "depict/layout.hpp"

namespace quorix {
namespace {

using depict::Point;
using depict::PositionMap;
using Tree = std::map<std::uint32_t, Point>;

void expect_same(const PositionMap& flat, const Tree& tree) {
    ASSERT_EQ(flat.size(), tree.size());
    auto t = tree.begin();
    for (const auto& [a, p] : flat) {
        EXPECT_EQ(a, t->first);
        EXPECT_EQ(p, t->second);
        ++t;
    }
}

class PositionMapModel : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(PositionMapModel, AgreesWithAnOrderedTree) {
    std::mt19937 rng(GetParam());
    std::uniform_int_distribution<std::uint32_t> key(0, GetParam() % 2 ? 40 : 400), op(0, 4);
    PositionMap flat;
    Tree tree;
    for (int step = 0; step < 600; ++step) {
        const std::uint32_t a = key(rng);
        const Point p{double(step), -double(a)};
        switch (op(rng)) {
            case 0: EXPECT_EQ(flat.emplace(a, p).second, tree.emplace(a, p).second); break;
            case 1: flat[a] = p, tree[a] = p; break;
            case 2: flat.emplace_hint(flat.end(), a, p), tree.emplace_hint(tree.end(), a, p); break;
            case 3: EXPECT_EQ(flat.contains(a), tree.contains(a)); break;
            default:
                if (tree.contains(a)) EXPECT_EQ(flat.at(a), tree.at(a));
                else EXPECT_THROW((void)flat.at(a), std::out_of_range);
                EXPECT_EQ(flat.find(a) == flat.end(), tree.find(a) == tree.end());
        }
    }
    expect_same(flat, tree);
    const std::vector<std::pair<std::uint32_t, Point>> given{{7, {1, 1}}, {3, {2, 2}}, {7, {3, 3}}};
    expect_same(PositionMap(given.begin(), given.end()), Tree(given.begin(), given.end()));
}

INSTANTIATE_TEST_SUITE_P(Seeds, PositionMapModel, ::testing::Range(1u, 9u));

}  // namespace
}  // namespace quorix
