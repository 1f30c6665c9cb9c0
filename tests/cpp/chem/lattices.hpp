#pragma once
// Large aromatic carbon skeletons generated from geometry: a brick-wall
// (hexagonal) sheet.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
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

// Writes a skeleton as SMILES with every atom `symbol`: a depth-first spanning
// tree with branches, every other bond a ring closure with its own %nn label.
inline std::string to_smiles(const Skeleton& s, const std::string& symbol) {
    std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> adj(s.num_atoms);
    for (std::uint32_t e = 0; e < s.edges.size(); ++e) {
        adj[s.edges[e].first].push_back({s.edges[e].second, e});
        adj[s.edges[e].second].push_back({s.edges[e].first, e});
    }
    std::vector<int> order(s.num_atoms, -1);
    std::vector<std::uint32_t> parent_edge(s.num_atoms, 0xFFFFFFFFu);
    std::vector<std::vector<std::uint32_t>> children(s.num_atoms);
    std::vector<std::vector<int>> labels(s.num_atoms);
    std::vector<bool> tree(s.edges.size(), false);
    int counter = 0;
    std::vector<std::pair<std::uint32_t, std::size_t>> stack{{0, 0}};
    order[0] = counter++;
    while (!stack.empty()) {
        auto& [u, i] = stack.back();
        if (i == adj[u].size()) {
            stack.pop_back();
            continue;
        }
        auto [w, e] = adj[u][i++];
        if (order[w] >= 0) continue;
        order[w] = counter++;
        tree[e] = true;
        children[u].push_back(w);
        stack.push_back({w, 0});
    }
    int next_label = 10;
    for (std::uint32_t e = 0; e < s.edges.size(); ++e) {
        if (tree[e]) continue;
        labels[s.edges[e].first].push_back(next_label);
        labels[s.edges[e].second].push_back(next_label);
        ++next_label;
    }
    std::string out;
    std::vector<std::pair<std::uint32_t, int>> emit{{0, 0}};  // atom, 0 = open / 1 = close paren
    while (!emit.empty()) {
        auto [a, kind] = emit.back();
        emit.pop_back();
        if (kind == 1) {
            out += ')';
            continue;
        }
        if (kind == 2) {
            out += '(';
            emit.push_back({a, 0});
            continue;
        }
        out += symbol;
        for (int l : labels[a]) out += "%" + std::to_string(l);
        const auto& ch = children[a];
        // Last child continues the chain; earlier ones are branches, written in order.
        for (std::size_t k = ch.size(); k-- > 0;) {
            if (k + 1 == ch.size()) {
                emit.push_back({ch[k], 0});
            } else {
                emit.push_back({ch[k], 1});
                emit.push_back({ch[k], 2});
            }
        }
    }
    return out;
}

}  // namespace quorix::test
