#pragma once
// Coordinates from target distances: the metric matrix about the centroid and
// its three largest eigenpairs.
#include <array>
#include <cstddef>
#include <expected>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "conf/linalg.hpp"
#include "io/wedge.hpp"

namespace quorix::conf {

using Coord = io::Coord;

namespace embed_error {
struct BadShape { bool operator==(const BadShape&) const = default; };
}  // namespace embed_error

struct EmbedError {
    std::variant<embed_error::BadShape, EigenError> kind;
    // "BadShape" or "Eigen(NoConverge { sweeps: 60 })".
    std::string debug() const;
    bool operator==(const EmbedError&) const = default;
};

// Gram matrix of the points about their centroid; a distance table that is
// not n x n is an internal error.
std::vector<double> metric_matrix(std::span<const double> distances, std::size_t n);

// One point per atom; an empty table gives no points.
std::expected<std::vector<Coord>, EmbedError> embed_coordinates(std::span<const double> distances, std::size_t n);

}  // namespace quorix::conf
