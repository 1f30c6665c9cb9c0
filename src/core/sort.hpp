#pragma once
// The one sort for short lists: insertion sort below a threshold, where it beats
// the library's sorts and needs no buffer, the library's stable sort above it.
// Both are stable, so the result never depends on which one ran.
#include <algorithm>
#include <cstddef>
#include <iterator>
#include <utility>

namespace quorix::core {

template <class It, class Less>
void stable_small_sort(It first, It last, Less less, std::size_t threshold = 16) {
    const auto n = static_cast<std::size_t>(std::distance(first, last));
    if (n > threshold) {
        std::stable_sort(first, last, less);
        return;
    }
    for (It i = first; i != last; ++i) {
        auto v = std::move(*i);
        It j = i;
        for (; j != first && less(v, *std::prev(j)); --j) *j = std::move(*std::prev(j));
        *j = std::move(v);
    }
}

}  // namespace quorix::core
