#pragma once
// A large carbon skeleton generated from geometry: a brick-wall (hexagonal) sheet.
#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace quorix::test {

using EdgeList = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

struct Skeleton {
    std::uint32_t num_atoms = 0;
    EdgeList edges;
};

// `rows` x `cols` hexagons; row j is shifted by j % 2 so every row is a line of
// edge-sharing rings (a rectangular, zigzag-edged sheet).
inline Skeleton hex_sheet(std::uint32_t rows, std::uint32_t cols) {
    std::map<std::pair<int, int>, std::uint32_t> index;
    auto vertex = [&](int x, int y) {
        auto [it, fresh] = index.try_emplace({y, x}, std::uint32_t(index.size()));
        return it->second;
    };
    std::vector<std::pair<std::pair<int, int>, std::pair<int, int>>> raw;
    for (std::uint32_t j = 0; j < rows; ++j)
        for (std::uint32_t k = 0; k < cols; ++k) {
            const int x0 = int(2 * k + j % 2), y = int(j);
            raw.push_back({{x0, y}, {x0 + 1, y}});
            raw.push_back({{x0 + 1, y}, {x0 + 2, y}});
            raw.push_back({{x0, y + 1}, {x0 + 1, y + 1}});
            raw.push_back({{x0 + 1, y + 1}, {x0 + 2, y + 1}});
            raw.push_back({{x0, y}, {x0, y + 1}});
            raw.push_back({{x0 + 2, y}, {x0 + 2, y + 1}});
        }
    // Number vertices row by row, left to right, so indices follow the sheet.
    std::vector<std::pair<int, int>> points;
    for (auto& [p, q] : raw) {
        points.push_back({p.second, p.first});
        points.push_back({q.second, q.first});
    }
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    for (auto [y, x] : points) vertex(x, y);
    EdgeList edges;
    for (auto& [p, q] : raw) {
        std::uint32_t a = vertex(p.first, p.second), b = vertex(q.first, q.second);
        edges.push_back({std::min(a, b), std::max(a, b)});
    }
    std::sort(edges.begin(), edges.end());
    edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
    return {std::uint32_t(index.size()), edges};
}

}  // namespace quorix::test
