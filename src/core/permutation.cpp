#include "core/permutation.hpp"

#include <algorithm>
#include <optional>
#include <vector>

namespace quorix::core {

namespace {

// For long lists of distinct values (only hostile input puts them at one atom):
// the parity counted by cycles after a sort, so that a huge centre costs
// n log n, not n^2. None when `a` repeats a value.
std::optional<std::uint8_t> parity_by_cycles(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b) {
    const std::size_t n = a.size();
    std::vector<std::uint64_t> by_value(n);
    for (std::size_t i = 0; i < n; ++i) by_value[i] = (std::uint64_t(a[i]) << 32) | i;
    std::sort(by_value.begin(), by_value.end());
    for (std::size_t i = 1; i < n; ++i)
        if ((by_value[i] >> 32) == (by_value[i - 1] >> 32)) return std::nullopt;
    // perm[i]: the position in a of b[i].
    std::vector<std::uint32_t> perm(n);
    std::vector<bool> seen(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        auto it = std::lower_bound(by_value.begin(), by_value.end(), std::uint64_t(b[i]) << 32);
        if (it == by_value.end() || (*it >> 32) != b[i]) return 2;
        perm[i] = static_cast<std::uint32_t>(*it & 0xFFFFFFFFu);
        if (seen[perm[i]]) return 2;  // b repeats a value
        seen[perm[i]] = true;
    }
    std::size_t swaps = 0;
    seen.assign(n, false);
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t len = 0;
        for (std::size_t k = i; !seen[k]; k = perm[k]) {
            seen[k] = true;
            ++len;
        }
        if (len > 0) swaps += len - 1;
    }
    return static_cast<std::uint8_t>(swaps & 1u);
}

}  // namespace

std::uint8_t permutation_parity(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b) {
    if (a.size() != b.size()) return 2;
    if (a.size() > 16)
        if (const auto p = parity_by_cycles(a, b)) return *p;
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
