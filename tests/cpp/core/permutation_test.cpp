#include "core/permutation.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

using namespace quorix::core;

namespace {

using List = std::vector<std::uint32_t>;

struct ParityCase {
    List a, b;
    std::uint8_t expected;
};

class Parity : public ::testing::TestWithParam<ParityCase> {};

TEST_P(Parity, Cases) {
    const auto& c = GetParam();
    EXPECT_EQ(permutation_parity(c.a, c.b), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, Parity,
    ::testing::Values(ParityCase{{1, 2, 3}, {1, 2}, 2}, ParityCase{{1, 2, 3}, {1, 2, 4}, 2},
                      // Repeated values: matched at the first later position.
                      ParityCase{{1, 1, 2}, {1, 2, 1}, 1}, ParityCase{{1, 1, 2}, {1, 2, 2}, 2},
                      ParityCase{{2, 1, 1}, {1, 2, 1}, 1}, ParityCase{{0xFFFFFFFFu, 0}, {0, 0xFFFFFFFFu}, 1}));

int inversion_parity(const List& perm) {
    int inv = 0;
    for (std::size_t i = 0; i < perm.size(); ++i)
        for (std::size_t j = i + 1; j < perm.size(); ++j) inv += perm[i] > perm[j];
    return inv % 2;
}

TEST(Parity, AgreesWithInversionCountOnEveryPermutation) {
    for (std::size_t n = 0; n <= 6; ++n) {
        List a(n);
        std::iota(a.begin(), a.end(), 10u);
        List b = a;
        do {
            EXPECT_EQ(permutation_parity(a, b), inversion_parity(b));
            // Symmetric: b from a and a from b are the same rearrangement's inverse.
            EXPECT_EQ(permutation_parity(b, a), inversion_parity(b));
        } while (std::next_permutation(b.begin(), b.end()));
    }
}

TEST(Parity, LongListsBeyondTheInlineBuffer) {
    List a(40);
    std::iota(a.begin(), a.end(), 0u);
    List b = a;
    std::reverse(b.begin(), b.end());  // 20 disjoint swaps: even
    EXPECT_EQ(permutation_parity(a, b), 0);
    std::swap(b[0], b[1]);
    EXPECT_EQ(permutation_parity(a, b), 1);
    b[5] = 1000;
    EXPECT_EQ(permutation_parity(a, b), 2);
    List c(a.begin(), a.end() - 1);
    EXPECT_EQ(permutation_parity(a, c), 2);
    // Shuffled long lists against the inversion count; a repeat in b is no rearrangement.
    std::mt19937 rng(3);
    for (std::size_t n : {17u, 50u, 300u}) {
        List x(n), y(n);
        std::iota(x.begin(), x.end(), 0u);
        std::shuffle(x.begin(), x.end(), rng);
        List perm(n);
        std::iota(perm.begin(), perm.end(), 0u);
        std::shuffle(perm.begin(), perm.end(), rng);
        for (std::size_t i = 0; i < n; ++i) y[i] = x[perm[i]];
        EXPECT_EQ(permutation_parity(x, y), inversion_parity(perm)) << n;
        List repeated_b = y;
        repeated_b[1] = repeated_b[0];
        EXPECT_EQ(permutation_parity(x, repeated_b), 2) << n;
    }
}

}  // namespace
