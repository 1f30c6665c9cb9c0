// The Jacobi solver against what an eigen-decomposition must be (V^T diag V
// rebuilds the matrix, orthonormal rows, descending values, sign rule), and
// its fixed cases.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "conf/linalg.hpp"

namespace quorix::conf {
namespace {

class EigenSweep : public ::testing::TestWithParam<std::size_t> {};

TEST_P(EigenSweep, RebuildsRandomSymmetricMatrices) {
    const std::size_t n = GetParam();
    std::mt19937 rng{static_cast<unsigned>(n)};
    std::uniform_real_distribution<double> u(-5.0, 5.0);
    std::vector<double> a(n * n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i; j < n; ++j) a[i * n + j] = a[j * n + i] = u(rng);
    const auto e = symmetric_eigen(a, n);
    ASSERT_TRUE(e);
    const auto& v = e->vectors;
    for (std::size_t i = 0; i < n; ++i) {
        if (i + 1 < n) {
            EXPECT_GE(e->values[i], e->values[i + 1]);
        }
        std::size_t big = 0;
        for (std::size_t j = 0; j < n; ++j) {
            double rebuilt = 0.0, gram = 0.0;
            for (std::size_t k = 0; k < n; ++k) {
                rebuilt += v[k * n + i] * e->values[k] * v[k * n + j];
                gram += v[i * n + k] * v[j * n + k];
            }
            EXPECT_NEAR(rebuilt, a[i * n + j], 1e-11 * double(n));
            EXPECT_NEAR(gram, i == j ? 1.0 : 0.0, 1e-12);
            if (std::fabs(v[i * n + j]) > std::fabs(v[i * n + big])) big = j;
        }
        EXPECT_GE(v[i * n + big], 0.0);
    }
}
INSTANTIATE_TEST_SUITE_P(Sizes, EigenSweep, ::testing::Values(2, 3, 7, 16, 40));

TEST(Eigen, FixedCases) {
    auto e = symmetric_eigen(std::vector<double>{2, 1, 1, 2}, 2);  // 3 and 1, along (1,1) and (1,-1)
    EXPECT_NEAR(e->values[0], 3.0, 1e-15);
    EXPECT_NEAR(e->values[1], 1.0, 1e-15);
    EXPECT_NEAR(e->vectors[0], std::sqrt(0.5), 1e-15);
    EXPECT_NEAR(e->vectors[2] + e->vectors[3], 0.0, 1e-15);
    // Diagonal input: sorted, ties in diagonal order, no sweep.
    e = symmetric_eigen(std::vector<double>{1, 0, 0, 0, 5, 0, 0, 0, 5}, 3);
    EXPECT_EQ(e->values, (std::vector<double>{5, 5, 1}));
    EXPECT_EQ(e->vectors, (std::vector<double>{0, 1, 0, 0, 0, 1, 1, 0, 0}));
    EXPECT_EQ(e->sweeps, 0u);
    EXPECT_TRUE(symmetric_eigen(std::vector<double>{}, 0)->values.empty());
    std::vector<double> bad(9, 0.0);
    bad[7] = std::numeric_limits<double>::infinity();
    EXPECT_EQ(symmetric_eigen(bad, 3).error().debug(), "NotFinite { index: 7 }");
    const double big = std::numeric_limits<double>::max();
    EXPECT_EQ(symmetric_eigen(std::vector<double>{big, big, big, big}, 2).error().debug(), "Overflowed");
    EXPECT_EQ((EigenError{eigen_error::NoConverge{60}}.debug()), "NoConverge { sweeps: 60 }");
}

}  // namespace
}  // namespace quorix::conf
