#pragma once
// Triangle smoothing of distance bounds and the target distances read from
// them. Bounds are an n x n array: the upper bound of a pair i < j at i*n + j,
// its lower bound at j*n + i.
#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "conf/bounds.hpp"

namespace quorix::conf {

// Tightens the bounds in place by the triangle inequality, one pass over the
// pivots. On the first pair whose lower bound rises above its upper bound the
// pass stops and returns it (i < j); the bounds stay as far as smoothed.
std::optional<std::pair<std::size_t, std::size_t>> triangle_smooth(std::span<double> bounds, std::size_t n);

// Every pair's upper bound as its target distance, symmetric, zero diagonal.
std::vector<double> full_distance_matrix(std::span<const double> bounds, std::size_t n);

inline std::optional<std::pair<std::size_t, std::size_t>> triangle_smooth(DistanceBounds& bounds) {
    return triangle_smooth(bounds.values, bounds.n);
}
inline std::vector<double> full_distance_matrix(const DistanceBounds& bounds) {
    return full_distance_matrix(bounds.values, bounds.n);
}

}  // namespace quorix::conf
