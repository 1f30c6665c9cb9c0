#include "core/permutation.hpp"

#include <algorithm>
#include <vector>

namespace quorix::core {

std::uint8_t permutation_parity(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b) {
    if (a.size() != b.size()) return 2;
    // Ligand lists are short; longer ones (never seen at one atom) take the heap.
    constexpr std::size_t INLINE = 16;
    std::uint32_t inline_buf[INLINE];
    std::vector<std::uint32_t> heap_buf;
    std::span<std::uint32_t> w;
    if (a.size() <= INLINE) {
        w = std::span<std::uint32_t>(inline_buf, a.size());
    } else {
        heap_buf.resize(a.size());
        w = heap_buf;
    }
    std::copy(a.begin(), a.end(), w.begin());

    // Selection by swaps: each match is taken at its first later position, so
    // repeated values are accepted as long as both lists hold the same multiset.
    std::size_t swaps = 0;
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (w[i] == b[i]) continue;
        std::size_t j = i + 1;
        while (j < w.size() && w[j] != b[i]) ++j;
        if (j == w.size()) return 2;
        std::swap(w[i], w[j]);
        ++swaps;
    }
    return static_cast<std::uint8_t>(swaps % 2);
}

}  // namespace quorix::core
