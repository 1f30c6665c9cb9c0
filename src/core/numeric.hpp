#pragma once
// Float-to-integer conversions that never hit undefined behaviour: values beyond
// the target range clamp to its ends and NaN gives 0. Every engine converts
// through here, so a degenerate coordinate or an absurd count cannot turn into an
// out-of-range cast.
#include <cmath>
#include <concepts>
#include <limits>

namespace quorix::core {

// Truncates toward zero, then clamps.
template <std::integral I>
constexpr I saturating_cast(double x) noexcept {
    if (std::isnan(x)) return 0;
    constexpr double lo = static_cast<double>(std::numeric_limits<I>::min());
    // 2^bits as a double is exact; anything at or above it clamps.
    constexpr double hi = static_cast<double>(std::numeric_limits<I>::max()) + 1.0;
    if (x <= lo) return std::numeric_limits<I>::min();
    if (x >= hi) return std::numeric_limits<I>::max();
    return static_cast<I>(x);
}

// Nearest integer, halves away from zero, then clamps.
template <std::integral I>
I round_saturating(double x) noexcept {
    return saturating_cast<I>(std::round(x));
}

}  // namespace quorix::core
