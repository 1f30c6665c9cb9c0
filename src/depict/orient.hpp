#pragma once
// Orderings of points that must not depend on how the atoms are listed.
#include <array>
#include <bit>
#include <cstdint>
#include <span>
#include <vector>

namespace quorix::depict {

// IEEE-754 totalOrder as a signed integer: -NaN < -inf < ... < -0 < +0 < ... < inf < NaN.
inline std::int64_t total_order_key(double x) {
    const auto bits = std::bit_cast<std::int64_t>(x);
    return bits < 0 ? bits ^ INT64_MAX : bits;
}

// Three-dimensional point ordering: x, then y, then z by totalOrder, then `keys`,
// then the index. Fills `order` with the indices 0..n-1 in that order; `keys`
// may be empty, when it counts as all equal.
void sort_points_3d(std::span<const std::array<double, 3>> points, std::span<const std::uint32_t> keys,
                    std::vector<std::uint32_t>& order);

}  // namespace quorix::depict
