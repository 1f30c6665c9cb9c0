// The Jacobi eigen-solver against what an eigen-decomposition must be: V^T
// diag(values) V rebuilds the matrix, rows are orthonormal, values descend,
// plus the fixed cases (diagonal input, a non-finite entry, debug texts).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "conf/linalg.hpp"

namespace quorix::conf {
namespace {

std::vector<double> random_symmetric(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-5.0, 5.0);
    std::vector<double> a(n * n);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i; j < n; ++j) a[i * n + j] = a[j * n + i] = u(rng);
    return a;
}

class EigenSweep : public ::testing::TestWithParam<std::size_t> {};

TEST_P(EigenSweep, RebuildsTheMatrixWithOrthonormalDescendingRows) {
    const std::size_t n = GetParam();
    for (unsigned seed = 1; seed <= 5; ++seed) {
        const std::vector<double> a = random_symmetric(n, seed * 7919u + unsigned(n));
        auto e = symmetric_eigen(a, n);
        ASSERT_TRUE(e.has_value());
        ASSERT_EQ(e->values.size(), n);
        double scale = 0.0;
        for (double v : a) scale = std::max(scale, std::fabs(v));
        const double tol = 1e-11 * (scale + 1.0) * double(n);
        for (std::size_t k = 0; k + 1 < n; ++k) EXPECT_GE(e->values[k], e->values[k + 1]);
        const auto& v = e->vectors;
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < n; ++j) {
                double rebuilt = 0.0, gram = 0.0;
                for (std::size_t k = 0; k < n; ++k) {
                    rebuilt += v[k * n + i] * e->values[k] * v[k * n + j];
                    gram += v[i * n + k] * v[j * n + k];
                }
                EXPECT_NEAR(rebuilt, a[i * n + j], tol) << "n=" << n << " (" << i << "," << j << ")";
                EXPECT_NEAR(gram, i == j ? 1.0 : 0.0, 1e-12) << "n=" << n;
            }
        for (std::size_t k = 0; k < n; ++k) {  // largest component of each row is not negative
            std::size_t big = 0;
            for (std::size_t j = 1; j < n; ++j)
                if (std::fabs(v[k * n + j]) > std::fabs(v[k * n + big])) big = j;
            EXPECT_GE(v[k * n + big], 0.0);
        }
    }
}
INSTANTIATE_TEST_SUITE_P(Sizes, EigenSweep, ::testing::Values(2, 3, 4, 7, 16, 40));

TEST(Eigen, KnownMatrices) {
    // [[2,1],[1,2]]: eigenvalues 3 and 1, vectors (1,1)/sqrt2 and (1,-1)/sqrt2.
    auto e = symmetric_eigen(std::vector<double>{2, 1, 1, 2}, 2);
    ASSERT_TRUE(e);
    EXPECT_NEAR(e->values[0], 3.0, 1e-15);
    EXPECT_NEAR(e->values[1], 1.0, 1e-15);
    const double r = std::sqrt(0.5);
    EXPECT_NEAR(e->vectors[0], r, 1e-15);
    EXPECT_NEAR(e->vectors[1], r, 1e-15);
    EXPECT_NEAR(std::fabs(e->vectors[2]), r, 1e-15);
    EXPECT_NEAR(e->vectors[2] + e->vectors[3], 0.0, 1e-15);
    EXPECT_EQ(e->sweeps, 1u);
}

TEST(Eigen, DiagonalInputIsSortedWithoutSweepsAndTiesKeepTheirOrder) {
    auto e = symmetric_eigen(std::vector<double>{1, 0, 0, 0, 5, 0, 0, 0, 5}, 3);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->values, (std::vector<double>{5, 5, 1}));
    EXPECT_EQ(e->vectors, (std::vector<double>{0, 1, 0, 0, 0, 1, 1, 0, 0}));
    EXPECT_EQ(e->sweeps, 0u);
    auto empty = symmetric_eigen(std::vector<double>{}, 0);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->values.empty());
    EXPECT_EQ(empty->sweeps, 0u);
}

TEST(Eigen, NonFiniteEntryIsNamedByPosition) {
    std::vector<double> a(9, 0.0);
    a[7] = std::numeric_limits<double>::infinity();
    auto e = symmetric_eigen(a, 3);
    ASSERT_FALSE(e);
    EXPECT_EQ(e.error().debug(), "NotFinite { index: 7 }");
    a[7] = 0.0;
    a[2] = std::nan("");
    EXPECT_EQ(symmetric_eigen(a, 3).error().debug(), "NotFinite { index: 2 }");
    EXPECT_EQ((EigenError{eigen_error::NoConverge{60}}.debug()), "NoConverge { sweeps: 60 }");
    EXPECT_EQ((EigenError{eigen_error::Overflowed{}}.debug()), "Overflowed");
}

TEST(Eigen, EntriesNearTheTopOfTheRangeOverflow) {
    const double big = std::numeric_limits<double>::max();
    auto e = symmetric_eigen(std::vector<double>{big, big, big, big}, 2);
    ASSERT_FALSE(e);
    EXPECT_EQ(e.error().debug(), "Overflowed");
}

}  // namespace
}  // namespace quorix::conf
