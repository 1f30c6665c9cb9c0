#pragma once
#include <cstdint>
#include <span>

namespace quorix::core {

// 0 when b is an even rearrangement of a, 1 when odd, 2 when it is not a rearrangement.
std::uint8_t permutation_parity(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b);

}  // namespace quorix::core
