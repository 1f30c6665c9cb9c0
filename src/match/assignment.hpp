#pragma once
// Pairing templates with inputs one to one: the first complete pairing in a
// fixed order, found without walking pairings that cannot be completed.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorix::match {

// `possible` is n x n, row t holding whether template t can take input j. The
// result is the first complete one-to-one assignment (input per template) in
// depth-first order: template 0 on the lowest input it can take, then template 1
// on the lowest of those left, and so on, backing up when stuck. None when no
// complete assignment exists. Each partial assignment is extended only when the
// templates after it can still all be placed, so no branch is ever abandoned
// and the cost is polynomial in n. `steps` grows by the edges examined.
std::optional<std::vector<std::uint64_t>> first_assignment(std::span<const std::uint8_t> possible, std::size_t n,
                                                           std::uint64_t& steps);

}  // namespace quorix::match
