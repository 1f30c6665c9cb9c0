#pragma once
// Symmetric eigen-decomposition by cyclic Jacobi rotations. The conformer
// embedding and the 3-D scene's principal axes both depend on its exact
// rotation schedule, so the results are reproducible bit for bit.
#include <cstddef>
#include <expected>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace quorix::conf {

struct EigenDecomposition {
    std::vector<double> values;   // descending
    std::vector<double> vectors;  // row k (k*n .. k*n+n-1) is the unit eigenvector of values[k]
    std::size_t sweeps = 0;
};

namespace eigen_error {
struct NotFinite { std::size_t index; bool operator==(const NotFinite&) const = default; };
struct NoConverge { std::size_t sweeps; bool operator==(const NoConverge&) const = default; };
struct Overflowed { bool operator==(const Overflowed&) const = default; };
}  // namespace eigen_error

struct EigenError {
    std::variant<eigen_error::NotFinite, eigen_error::NoConverge, eigen_error::Overflowed> kind;
    // "NotFinite { index: 7 }", "NoConverge { sweeps: 60 }", "Overflowed".
    std::string debug() const;
    bool operator==(const EigenError&) const = default;
};

inline constexpr std::size_t JACOBI_MAX_SWEEPS = 60;

// `matrix` is row-major n x n; only its diagonal and upper triangle steer the
// iteration, but every entry must be finite. A wrong length is an internal error.
std::expected<EigenDecomposition, EigenError> symmetric_eigen(std::span<const double> matrix, std::size_t n);

}  // namespace quorix::conf
