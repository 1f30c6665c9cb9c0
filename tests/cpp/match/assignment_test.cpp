// The first one-to-one pairing of templates with inputs: the same pairing as a
// plain depth-first search, without its factorial walks.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <vector>

#include "match/assignment.hpp"

namespace quorix::test {
namespace {

using Table = std::vector<std::uint8_t>;

// The plain search: template t on each free input it can take, in ascending
// order, backing up when stuck; the first complete pairing wins.
bool depth_first(const Table& possible, std::size_t n, std::size_t t, std::vector<std::uint64_t>& a,
                 std::vector<bool>& taken) {
    if (t == n) return true;
    for (std::size_t j = 0; j < n; ++j) {
        if (taken[j] || !possible[t * n + j]) continue;
        taken[j] = true;
        a[t] = j;
        if (depth_first(possible, n, t + 1, a, taken)) return true;
        taken[j] = false;
    }
    return false;
}

std::optional<std::vector<std::uint64_t>> reference(const Table& possible, std::size_t n) {
    std::vector<std::uint64_t> a(n, 0);
    std::vector<bool> taken(n, false);
    if (!depth_first(possible, n, 0, a, taken)) return std::nullopt;
    return a;
}

TEST(FirstAssignment, SameAsThePlainDepthFirstSearch) {
    std::mt19937 rng(7);
    int complete = 0;
    for (int trial = 0; trial < 6000; ++trial) {
        const std::size_t n = trial % 8;
        const unsigned density = 20 + (trial / 8) % 70;  // percent
        Table possible(n * n);
        for (auto& p : possible) p = rng() % 100 < density;
        std::uint64_t steps = 0;
        const auto got = match::first_assignment(possible, n, steps);
        const auto want = reference(possible, n);
        ASSERT_EQ(got, want) << "trial " << trial;
        complete += want.has_value();
    }
    // Both kinds of answer are well represented.
    EXPECT_GT(complete, 1500);
    EXPECT_LT(complete, 4500);
}

// Templates 0..n-3 can take any of the first n-1 inputs, the last two only the
// last input: no pairing, and the plain search tries (n-1)!/1 partial ones.
TEST(FirstAssignment, HallViolationCostsPolynomialWork) {
    for (std::size_t n : {13u, 60u}) {
        Table possible(n * n, 0);
        for (std::size_t t = 0; t + 2 < n; ++t)
            for (std::size_t j = 0; j + 1 < n; ++j) possible[t * n + j] = 1;
        possible[(n - 2) * n + n - 1] = possible[(n - 1) * n + n - 1] = 1;
        std::uint64_t steps = 0;
        EXPECT_EQ(match::first_assignment(possible, n, steps), std::nullopt);
        EXPECT_LT(steps, 4 * n * n * n) << n;
    }
}

TEST(FirstAssignment, ReversedOrderIsFoundWithoutSearching) {
    const std::size_t n = 200;
    Table possible(n * n, 0);
    for (std::size_t t = 0; t < n; ++t) possible[t * n + (n - 1 - t)] = 1;
    for (std::size_t j = 0; j < n; ++j) possible[j] = 1;  // template 0 could take anything
    std::uint64_t steps = 0;
    const auto got = match::first_assignment(possible, n, steps);
    ASSERT_TRUE(got);
    EXPECT_EQ((*got)[0], n - 1);
    EXPECT_EQ((*got)[n - 1], 0u);
    EXPECT_LT(steps, 8 * n * n);
}

}  // namespace
}  // namespace quorix::test
